#include "zip/extract_paths.h"

#include "platform/files.h"

bool PathExists(const std::string& path) { return platform::FileExists(path) || platform::DirectoryExists(path); }

std::string AbsoluteDirectory(const std::string& directory) {
  if (directory.empty()) return directory;
  std::string full = platform::FullPathName(directory);
  if (full.back() != platform::kPathSeparator) full += platform::kPathSeparator;
  return full;
}

std::vector<std::string> MissingDirectoryLevels(const std::string& path) {
  std::vector<std::string> missing;
  std::string full = platform::FullPathName(path);
  if (full.empty() || full.back() != platform::kPathSeparator) full += platform::kPathSeparator;
  for (size_t i = 1; i < full.size(); ++i) {
    if (full[i] == platform::kPathSeparator && full[i - 1] != platform::kPathSeparator) {
      const std::string prefix = full.substr(0, i);
      if (!platform::DirectoryExists(prefix)) missing.push_back(prefix);
    }
  }
  return missing;
}
