#include "platform/clock.h"

#include <windows.h>

namespace platform {
namespace {

// Days from 1601-01-01 (the FILETIME epoch) to 1899-12-30.
constexpr double kFileTimeEpochDays = 109205.0;
constexpr double kFileTimeUnitsPerDay = 864000000000.0;

}  // namespace

double NowLocal() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  // The local calendar time read as a FILETIME count: exact day arithmetic without our own calendar.
  FILETIME count;
  SystemTimeToFileTime(&local, &count);
  const uint64_t units = (static_cast<uint64_t>(count.dwHighDateTime) << 32) | count.dwLowDateTime;
  return static_cast<double>(units) / kFileTimeUnitsPerDay - kFileTimeEpochDays;
}

std::optional<int> TimeZoneBiasMinutes() {
  TIME_ZONE_INFORMATION zone;
  switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_DAYLIGHT: return static_cast<int>(zone.Bias + zone.DaylightBias);
    case TIME_ZONE_ID_STANDARD: return static_cast<int>(zone.Bias + zone.StandardBias);
    case TIME_ZONE_ID_UNKNOWN: return static_cast<int>(zone.Bias);
    default: return std::nullopt;
  }
}

int64_t MonotonicMilliseconds() {
  // The performance counter exists on every Windows since XP and, unlike GetTickCount, never wraps.
  static const int64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<int64_t>(value.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const int64_t ticks = counter.QuadPart;
  // Split, so that ticks * 1000 cannot overflow after a long uptime.
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

}  // namespace platform
