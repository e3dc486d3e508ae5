#include "platform/clock.h"

#include <sys/time.h>

#include <chrono>
#include <ctime>

namespace platform {

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

double NowLocal() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  const double localSeconds = static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff) +
                              static_cast<double>(now.tv_usec) / 1e6;
  return kUnixEpochDays + localSeconds / 86400.0;
}

std::optional<int> TimeZoneBiasMinutes() {
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  return static_cast<int>(-local.tm_gmtoff / 60);
}

int64_t MonotonicMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace platform
