#include "sandbox.h"

#include <fstream>
#include <random>
#include <system_error>

#include "fuzz_entries.h"

namespace fs = std::filesystem;

TSandbox::TSandbox() {
  std::random_device random;
  for (;;) {
    m_root = fs::temp_directory_path() / ("updater-fuzz-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(m_root, error)) break;
  }
  m_out = m_root / "out";
}

TSandbox::~TSandbox() {
  std::error_code error;
  fs::remove_all(m_root, error);
}

void TSandbox::Reset() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(m_root, error)) fs::remove_all(entry.path(), error);
  fs::create_directory(m_out, error);
  m_beside.clear();
}

std::string TSandbox::WriteBeside(const std::string& name, const std::string& bytes) {
  const fs::path path = m_root / name;
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  m_beside.insert(name);
  return path.string();
}

void TSandbox::WriteInside(const std::string& name, const std::string& bytes) const {
  const fs::path path = m_out / name;
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TSandbox::CheckContained() const {
  std::error_code error;
  for (fs::recursive_directory_iterator it(m_root, error), end; !error && it != end; it.increment(error)) {
    FuzzCheck(!it->is_symlink(), "a symbolic link was created: " + it->path().string());
    const fs::path relative = it->path().lexically_relative(m_root);
    const std::string first = relative.begin()->string();
    FuzzCheck(first == "out" || m_beside.count(first) != 0, "something was written outside the extract directory: " +
                                                                 it->path().string());
  }
}

bool TSandbox::OutEmpty() const {
  std::error_code error;
  return fs::is_empty(m_out, error) || !fs::exists(m_out, error);
}

bool TSandbox::Inside(const std::string& target) const {
  const fs::path normal = fs::path(target).lexically_normal();
  const fs::path relative = normal.lexically_relative(m_out);
  return !relative.empty() && relative.begin()->string() != "..";
}

TSandbox& Sandbox() {
  static TSandbox sandbox;
  return sandbox;
}
