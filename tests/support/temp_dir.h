#pragma once
// A fresh directory for one test, removed with everything in it when the test ends.
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing separator.
  const std::string& Path() const { return m_path; }
  // Path() + separator + relative (relative uses '/' and is converted to the native separator).
  std::string operator/(const std::string& relative) const;

 private:
  std::string m_path;
};

// Whole-file helpers for tests.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
