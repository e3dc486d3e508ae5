#pragma once
// Windows only: another process that holds a file, as the application being updated holds its own files.
// It is a copy of the running test program, started with an argument that makes it hold the file instead of
// running the tests.
#ifdef _WIN32
#include <string>

namespace testsupport {

// The running test program's file.
std::string OwnProgramPath();

// A process that opens path without sharing it ("-" opens nothing: then its own program file, the program,
// is what it holds), writes readyMarker, and lets go after the given milliseconds or once the test ends
// (released, then waited for).
class FileHolder {
 public:
  FileHolder(const std::string& program, const std::string& path, int milliseconds, const std::string& readyMarker);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // True once the holder holds its file (a Wine process takes a second or more to start).
  bool WaitUntilHolding() const;
  // The holder's exit code once it has ended, or -1.
  int WaitForExit() const;

 private:
  std::string m_readyMarker;
  void* m_process = nullptr;  // the process handle
};

}  // namespace testsupport
#endif
