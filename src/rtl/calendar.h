#pragma once
// The civil calendar (proleptic Gregorian) as day numbers: what HTTP dates, DOS date-times and the date-time
// values (days since 1899-12-30, the time of day as the fraction) are converted through.
#include <cstdint>

struct TCivilDate {
  int64_t Year = 1970;
  int Month = 1;  // 1 to 12
  int Day = 1;    // 1 to 31
};

// Days from 1970-01-01 to 1899-12-30, the day a date-time value counts from.
inline constexpr int64_t kDaysFrom1899To1970 = 25569;

// Days from 1970-01-01 to the date (negative before it), and the date a day count stands for.
int64_t DaysFromCivil(int64_t year, int month, int day);
TCivilDate CivilFromDays(int64_t days);
