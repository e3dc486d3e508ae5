#include "http/http_date.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kOneSecond = 1.0 / kSecondsPerDay;

double At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  double date = 0;
  EXPECT_TRUE(EncodeDate(year, month, day, date));
  return date + (hour * 3600 + minute * 60 + second) / kSecondsPerDay;
}

}  // namespace

TEST(ParseHttpDateTest, ReadsTheThreeFormsAndTheirVariations) {
  const double expected = At(1994, 11, 6, 8, 49, 37);
  const char* const forms[] = {
      "Sun, 06 Nov 1994 08:49:37 GMT",    "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
      "Sun,06 Nov 1994 08:49:37 GMT",     "sun, 06 nov 1994 08:49:37 gmt",  "  06 Nov 1994 08:49:37 GMT  ",
      "Sun, 06-Nov-1994 08:49:37 GMT",
  };
  for (const char* form : forms) EXPECT_NEAR(ParseHttpDate(form, 0), expected, kOneSecond / 10) << form;
}

TEST(ParseHttpDateTest, CompletesTwoDigitYears) {
  EXPECT_NEAR(ParseHttpDate("06-Nov-79 00:00:00 GMT", 0), At(2079, 11, 6), kOneSecond);
  EXPECT_NEAR(ParseHttpDate("06-Nov-80 00:00:00 GMT", 0), At(1980, 11, 6), kOneSecond);
  EXPECT_NEAR(ParseHttpDate("06-Nov-99 00:00:00 GMT", 0), At(1999, 11, 6), kOneSecond);
  EXPECT_NEAR(ParseHttpDate("06 Nov 0 00:00:00 GMT", 0), At(2000, 11, 6), kOneSecond);
}

TEST(ParseHttpDateTest, MovesNumericZonesToUniversalAndThenToLocalTime) {
  const double utc = At(1994, 11, 6, 8, 49, 37);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 09:49:37 +0100", 0), utc, kOneSecond / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 03:19:37 -0530", 0), utc, kOneSecond / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 EST", 0), utc, kOneSecond / 10);
  // Bias -480 is a system eight hours east of Greenwich.
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT", -480), utc + 8.0 / 24, kOneSecond / 10);
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT", 300), utc - 5.0 / 24, kOneSecond / 10);
}

TEST(ParseHttpDateTest, UnreadableDatesEndAsTheLocalOffset) {
  EXPECT_EQ(ParseHttpDate("", -480), 0);
  EXPECT_EQ(ParseHttpDate("   ", -480), 0);
  const char* const unreadable[] = {"-1", "garbage", "Sun, 31 Feb 1994 00:00:00 GMT", "06 Xyz 1994",
                                    "Sun, 06 Nov 1994 25:00:00 GMT", "Sun Nov  6 08:49:37 1994 GMT"};
  for (const char* text : unreadable) {
    EXPECT_NEAR(ParseHttpDate(text, -480), 8.0 / 24, kOneSecond / 10) << text;
    EXPECT_NEAR(ParseHttpDate(text, 300), -5.0 / 24, kOneSecond / 10) << text;
  }
}

TEST(FormatHttpDateTest, WritesBothFormatsAsHeld) {
  const double value = At(1994, 11, 6, 8, 49, 37);
  EXPECT_EQ(FormatHttpDateGMT(value), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDateWithZone(value, -480), "Sun, 6 Nov 1994 08:49:37 +0800");
  EXPECT_EQ(FormatHttpDateWithZone(value, 330), "Sun, 6 Nov 1994 08:49:37 -0530");
  EXPECT_EQ(FormatHttpDateWithZone(At(2024, 2, 29, 23, 59, 59), 0), "Thu, 29 Feb 2024 23:59:59 +0000");
}

TEST(FormatHttpDateTest, DatesBeyondTheCalendarAreHeldAtItsEnds) {
  const struct {
    double Value;
    const char* Text;
  } rows[] = {
      {At(9999, 12, 31, 23, 59, 59), "Fri, 31 Dec 9999 23:59:59 GMT"},
      {At(9999, 12, 31, 23, 59, 59) + 1, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {9223372036854775807.0 / kSecondsPerDay, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {1e300, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {At(1, 1, 1), "Mon, 01 Jan 0001 00:00:00 GMT"},
      {-1e300, "Mon, 01 Jan 0001 00:00:00 GMT"},
      {std::nan(""), "Mon, 01 Jan 0001 00:00:00 GMT"},
  };
  for (const auto& row : rows) EXPECT_EQ(FormatHttpDateGMT(row.Value), row.Text) << row.Value;
}

TEST(FormatHttpDateTest, TheZoneFormReadsBackToTheSameLocalTime) {
  const double value = At(2031, 7, 15, 23, 30, 5);
  for (int bias : {-480, -330, 0, 60, 300}) {
    EXPECT_NEAR(ParseHttpDate(FormatHttpDateWithZone(value, bias), bias), value, kOneSecond / 10) << bias;
  }
}
