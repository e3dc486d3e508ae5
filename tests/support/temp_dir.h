#pragma once
// Temporary directories and whole-file helpers for tests.
#include <filesystem>
#include <map>
#include <string>

namespace testsupport {

// A fresh directory below the system's temporary directory, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  // The path as the extractor takes it, with a trailing separator.
  std::string Text() const;
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

std::string ReadFile(const std::filesystem::path& path);
// Removes a tree, read-only files included (attribute tests and damaged archives leave some).
void RemoveTree(const std::filesystem::path& root);
// Regular files below root, relative path (generic form) to content; none when root does not exist.
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root);

}  // namespace testsupport
