#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace testsupport {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  m_path = std::filesystem::temp_directory_path() /
           ("updater_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() { RemoveTree(m_path); }

void RemoveTree(const std::filesystem::path& root) {
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
  }
  std::filesystem::remove_all(root, ignored);
}

std::string TempDir::Text() const {
  std::string text = m_path.string();
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (text.back() != separator) text += separator;
  return text;
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = m_path / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string ReadFile(const std::filesystem::path& path) {
  // Through the stream buffer in one go: a character at a time, a debug build with sanitizers took seconds
  // for the tens of megabytes some tests plant.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(root)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), root).generic_string()] = ReadFile(entry.path());
    }
  }
  return files;
}

}  // namespace testsupport
