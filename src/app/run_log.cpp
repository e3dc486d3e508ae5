#include "app/run_log.h"

#include <algorithm>
#include <cmath>

#include "app/path_helpers.h"
#include "app/printable_line.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "rtl/sysutils.h"

namespace {

// Written once, instead of the line that would have passed the limit, so that a cut log says so.
constexpr const char* kLogFull = "log full: later events are not written";

std::string TimeStamp() {
  const double now = platform::NowLocal();
  const double day = std::floor(now);
  int year = 0, month = 0, dayOfMonth = 0, hour = 0, minute = 0, second = 0;
  DecodeDateTime(day, year, month, dayOfMonth, hour, minute, second);
  // The time of day from the fraction in whole milliseconds, so that seconds and milliseconds agree.
  const int64_t ms = std::min<int64_t>(static_cast<int64_t>((now - day) * kSecondsPerDay * 1000.0), 86399999);
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, dayOfMonth, static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

}  // namespace

void TRunLog::Open(const std::string& directory) {
  if (!CreateDirChain(directory)) return;
  const std::string path = JoinPath(directory, kFileName, /*slash=*/false);
  if (platform::FileExists(path)) platform::ReplaceFile(path, path + kPreviousSuffix);
  m_file = platform::File::Create(path);
  m_size = 0;
}

void TRunLog::Write(const std::string& event) {
  if (!IsOpen()) return;
  const std::string stamp = TimeStamp() + " ";
  const std::string line = stamp + PrintableLine(event) + '\n';
  const std::string fullLine = stamp + kLogFull + "\n";
  if (m_size + static_cast<int64_t>(line.size() + fullLine.size()) > kMaxLogBytes) {
    // The last line that fits says why the rest is missing; nothing is written after it.
    m_file.Write(fullLine.data(), static_cast<int64_t>(fullLine.size()));
    m_file.Close();
    return;
  }
  // One write a line, so that what a killed run leaves ends with a whole line; a failed write (a full disk)
  // ends the log, not the run.
  if (m_file.Write(line.data(), static_cast<int64_t>(line.size())) != static_cast<int64_t>(line.size())) {
    m_file.Close();
    return;
  }
  m_size += static_cast<int64_t>(line.size());
}
