#pragma once
// The run's log, DownloadPath/updater.log: what the run did and why it failed, one event a line in UTF-8 with
// its local time, written as the run goes. The message boxes keep their fixed texts; this is where a user or
// the publisher's support learns the cause behind them. The previous run's log is kept as updater.log.1, and
// neither grows past kMaxLogBytes. The log never stands in the update's way: a place that cannot take it
// leaves the run without one.
#include <cstdint>
#include <string>

#include "platform/files.h"

class TRunLog {
 public:
  static constexpr const char* kFileName = "updater.log";
  static constexpr const char* kPreviousSuffix = ".1";
  static constexpr int64_t kMaxLogBytes = 1 << 20;

  // Starts the log in directory, which is made when missing; the log found there becomes the previous one.
  // Without a usable place every later line is dropped.
  void Open(const std::string& directory);
  bool IsOpen() const { return m_file.IsOpen(); }
  // One event (UTF-8); the time stamp and the line end are added, and the event is made one printable line
  // (PrintableLine).
  void Write(const std::string& event);

 private:
  platform::File m_file;
  int64_t m_size = 0;
};
