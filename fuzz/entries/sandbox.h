#pragma once
// One private directory per process for the entries that write files: the extract directory "out", and
// beside it only the files an entry puts there. Removed at exit.
#include <filesystem>
#include <set>
#include <string>

class TSandbox {
 public:
  TSandbox();
  ~TSandbox();
  TSandbox(const TSandbox&) = delete;
  TSandbox& operator=(const TSandbox&) = delete;

  // Empties the sandbox: "out" exists and is empty, nothing lies beside it.
  void Reset();
  // Writes a file beside "out"; its path.
  std::string WriteBeside(const std::string& name, const std::string& bytes);
  // Writes a file below "out", making its directories.
  void WriteInside(const std::string& name, const std::string& bytes) const;
  // The extract directory as the updater passes it, with a trailing separator.
  std::string OutText() const { return (m_out / "").string(); }

  // Walks the whole sandbox: only the files written beside "out" and what lies below it may exist, and no
  // symbolic link.
  void CheckContained() const;
  bool OutEmpty() const;
  // True when the target path, resolved lexically, lies below the extract directory.
  bool Inside(const std::string& target) const;

 private:
  std::filesystem::path m_root;
  std::filesystem::path m_out;
  std::set<std::string> m_beside;
};

TSandbox& Sandbox();
