#include "rtl/calendar.h"

// The year is counted from March, so that the leap day ends it: a year's day number then follows from the month
// by one linear rule, and 400 years (an era) always hold 146097 days.
namespace {

constexpr int64_t kDaysPerEra = 146097;
// Days from 0000-03-01, the start of era 0, to 1970-01-01.
constexpr int64_t kDaysFromEraStartTo1970 = 719468;

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * kDaysPerEra + dayOfEra - kDaysFromEraStartTo1970;
}

TCivilDate CivilFromDays(int64_t days) {
  days += kDaysFromEraStartTo1970;
  const int64_t era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
  const int64_t dayOfEra = days - era * kDaysPerEra;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
  TCivilDate date;
  date.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  date.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  date.Year = yearOfEra + era * 400 + (date.Month <= 2 ? 1 : 0);
  return date;
}
