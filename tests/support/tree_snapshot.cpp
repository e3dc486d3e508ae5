#include "support/tree_snapshot.h"

#include <functional>

#include "support/temp_dir.h"

namespace testsupport {

std::map<std::string, std::string> TreeSnapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(root)) return tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = std::filesystem::relative(entry.path(), root).generic_string();
    // A link or a special file is taken as it is, never followed or read.
    const std::filesystem::file_status status = entry.symlink_status();
    if (std::filesystem::is_symlink(status)) {
      tree[name] = "link to " + std::filesystem::read_symlink(entry.path()).string();
      continue;
    }
    if (std::filesystem::is_directory(status)) {
      tree[name] = "directory";
      continue;
    }
    if (!std::filesystem::is_regular_file(status)) {
      tree[name] = "special";
      continue;
    }
    const auto mode = static_cast<unsigned>(entry.status().permissions());
    const auto time = entry.last_write_time().time_since_epoch().count();
    // The bytes as their size and hash: a failed comparison stays readable.
    const std::string bytes = ReadFile(entry.path());
    tree[name] = "mode " + std::to_string(mode) + " time " + std::to_string(time) + " size " +
                 std::to_string(bytes.size()) + " hash " + std::to_string(std::hash<std::string>{}(bytes));
  }
  return tree;
}

}  // namespace testsupport
