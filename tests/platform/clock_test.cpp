#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "platform/threads.h"
#include "rtl/calendar.h"

namespace {

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
double DaysSince1899(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) + kDaysFrom1899To1970);
}

double CLibraryNowLocal() {
  const time_t now = time(nullptr);
  const tm local = *localtime(&now);
  return DaysSince1899(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}

TEST(ClockTest, NowLocalAgreesWithTheCLibrary) {
  const double expected = CLibraryNowLocal();
  const double now = platform::NowLocal();
  EXPECT_LT(std::fabs(now - expected) * 86400.0, 2.0) << "now " << now << " expected " << expected;
}

TEST(ClockTest, TimeZoneBiasIsUniversalMinusLocal) {
  const std::optional<int> bias = platform::TimeZoneBiasMinutes();
  ASSERT_TRUE(bias.has_value());
  const time_t now = time(nullptr);
  const tm local = *localtime(&now);
  const tm universal = *gmtime(&now);
  const double localDays = DaysSince1899(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 1440.0 +
                           local.tm_hour * 60 + local.tm_min;
  const double universalDays = DaysSince1899(universal.tm_year + 1900, universal.tm_mon + 1, universal.tm_mday) *
                                   1440.0 +
                               universal.tm_hour * 60 + universal.tm_min;
  EXPECT_EQ(*bias, static_cast<int>(universalDays - localDays));
}

TEST(ClockTest, MonotonicClockAdvancesWithSleep) {
  const int64_t start = platform::MonotonicMilliseconds();
  platform::SleepMilliseconds(50);
  const int64_t end = platform::MonotonicMilliseconds();
  EXPECT_GE(end - start, 40);
  EXPECT_LT(end - start, 5000);
  EXPECT_GE(platform::MonotonicMilliseconds(), end);
}

TEST(ClockTest, CivilDateHelperMatchesKnownDays) {
  EXPECT_EQ(DaysSince1899(1899, 12, 30), 0.0);
  EXPECT_EQ(DaysSince1899(1970, 1, 1), 25569.0);
  EXPECT_EQ(DaysSince1899(2000, 3, 1), 36586.0);
}

}  // namespace
