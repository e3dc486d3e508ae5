#pragma once
// Time: local wall-clock time as days since 1899-12-30, the time-zone bias, and a monotonic clock.
#include <cstdint>
#include <optional>

namespace platform {

// Now, local time, as days since 1899-12-30 00:00 with the time of day as the fraction.
double NowLocal();

// Minutes to add to local time to get universal time, with the daylight or standard bias in force included
// (the Windows convention: positive west of Greenwich). None when the system cannot tell.
std::optional<int> TimeZoneBiasMinutes();

// Milliseconds from an arbitrary start, never going backwards.
int64_t MonotonicMilliseconds();

}  // namespace platform
