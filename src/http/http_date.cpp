#include "http/http_date.h"

#include <cmath>

#include "http/text_search.h"
#include "platform/clock.h"
#include "rtl/calendar.h"
#include "rtl/sysutils.h"

namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// 1..12 for a three-letter month name in any case, 0 otherwise.
int MonthNumber(const std::string& token) {
  const std::string upper = UpperCase(token);
  for (int i = 0; i < 12; ++i) {
    if (upper == UpperCase(kMonths[i])) return i + 1;
  }
  return 0;
}

bool StartsWithWeekday(const std::string& text) {
  const std::string upper = UpperCase(text.substr(0, 3));
  for (const char* weekday : kWeekdays) {
    if (upper == UpperCase(weekday)) return true;
  }
  return false;
}

// Reads the date and time without the zone; false when some part cannot be converted. rest is left holding
// the zone text.
bool ReadDateAndTime(std::string& rest, double& dateTime) {
  if (StartsWithWeekday(rest)) {
    // "Sun,06 Nov 1994" is read like "Sun, 06 Nov 1994".
    if (rest.size() > 3 && rest[3] == ',' && (rest.size() < 5 || rest[4] != ' ')) rest.insert(4, " ");
    SplitAt(rest, " ");
    rest = TrimLeft(rest);
  }

  // "06-Nov-94 ..." separates its date by "-" (a "-" after the first character, before the first blank).
  const int dash = FindText("-", rest);
  const int blank = FindText(" ", rest);
  const std::string separator = (dash > 1 && (blank == 0 || dash < blank)) ? "-" : " ";

  int month = 0;
  int day = 1;
  std::string probe = rest;
  if (MonthNumber(SplitAt(probe, separator)) != 0) {
    month = MonthNumber(SplitAt(rest, separator));
    rest = TrimLeft(rest);
    day = StrToIntDef(SplitAt(rest, separator), 1);
    rest = TrimLeft(rest);
  } else {
    day = StrToIntDef(SplitAt(rest, separator), 1);
    rest = TrimLeft(rest);
    month = MonthNumber(SplitAt(rest, separator));
    rest = TrimLeft(rest);
  }

  // 1900 marks "the next token is no year": then it was the clock time of "Sun Nov  6 08:49:37 1994" and
  // the year is what follows it.
  std::string token = SplitAt(rest, " ");
  int year = StrToIntDef(token, 1900);
  if (year == 1900) {
    if (!TryStrToInt(Trim(rest), year)) return false;
    rest = token;
  }
  if (year < 80) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  if (!EncodeDate(year, month, day, dateTime)) return false;

  if (FindText(":", rest) > 0) {
    std::string clock = SplitAt(rest, " ");
    const int hours = StrToIntDef(SplitAt(clock, ":"), 0);
    const int minutes = StrToIntDef(SplitAt(clock, ":"), 0);
    const int seconds = StrToIntDef(clock, 0);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) return false;
    dateTime += (hours * 3600 + minutes * 60 + seconds) / kSecondsPerDay;
  }
  return true;
}

}  // namespace

bool EncodeDate(int year, int month, int day, double& dateTime) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  dateTime = static_cast<double>(DaysFromCivil(year, month, day) + kDaysFrom1899To1970);
  return true;
}

void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute, int& second) {
  // A date-time beyond the calendar (a cookie's max-age of 2^63 - 1 seconds) is held at its nearest end:
  // converting it to whole seconds as it is would overflow.
  double first = 0;
  double last = 0;
  EncodeDate(1, 1, 1, first);
  EncodeDate(9999, 12, 31, last);
  last += 86399 / kSecondsPerDay;
  if (!(dateTime >= first)) dateTime = first;  // also NaN
  if (dateTime > last) dateTime = last;
  // Round to whole seconds first so that 08:49:37 held as a binary fraction does not read as 08:49:36.
  const int64_t totalSeconds = static_cast<int64_t>(std::floor(dateTime * kSecondsPerDay + 0.5));
  int64_t days = totalSeconds / 86400;
  int64_t secondsOfDay = totalSeconds % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  const TCivilDate date = CivilFromDays(days - kDaysFrom1899To1970);
  year = static_cast<int>(date.Year);
  month = date.Month;
  day = date.Day;
  hour = static_cast<int>(secondsOfDay / 3600);
  minute = static_cast<int>(secondsOfDay / 60 % 60);
  second = static_cast<int>(secondsOfDay % 60);
}

int CurrentTimeZoneBias() {
  const std::optional<int> bias = platform::TimeZoneBiasMinutes();
  if (!bias) throw EIdFailedToRetreiveTimeZoneInfo();
  return *bias;
}

double ParseHttpDate(const std::string& text) {
  if (Trim(text).empty()) return 0;
  return ParseHttpDate(text, CurrentTimeZoneBias());
}

double ParseHttpDate(const std::string& text, int biasMinutes) {
  std::string rest = Trim(text);
  if (rest.empty()) return 0;
  double dateTime = 0;
  if (!ReadDateAndTime(rest, dateTime)) dateTime = 0;

  const std::string zone = TrimLeft(rest);
  if (zone.size() > 4 && (zone[0] == '+' || zone[0] == '-')) {
    const int hours = StrToIntDef(zone.substr(1, 2), 0);
    const int minutes = StrToIntDef(zone.substr(3, 2), 0);
    const double offset = (hours * 60 + minutes) / 1440.0;
    dateTime += zone[0] == '+' ? -offset : offset;
  }
  return dateTime - biasMinutes / 1440.0;
}

namespace {

// 0 = Sunday; 1970-01-01 was a Thursday.
int Weekday(int year, int month, int day) {
  return static_cast<int>(((DaysFromCivil(year, month, day) + 4) % 7 + 7) % 7);
}

}  // namespace

std::string FormatHttpDateGMT(double dateTime) {
  int year, month, day, hour, minute, second;
  DecodeDateTime(dateTime, year, month, day, hour, minute, second);
  return Format("%s, %.2d %s %.4d %s %s", kWeekdays[Weekday(year, month, day)], day, kMonths[month - 1], year,
                Format("%.2d:%.2d:%.2d", hour, minute, second).c_str(), "GMT");
}

std::string FormatHttpDateWithZone(double dateTime) { return FormatHttpDateWithZone(dateTime, CurrentTimeZoneBias()); }

std::string FormatHttpDateWithZone(double dateTime, int biasMinutes) {
  int year, month, day, hour, minute, second;
  DecodeDateTime(dateTime, year, month, day, hour, minute, second);
  const int offset = -biasMinutes;  // minutes east of universal time
  const int magnitude = offset < 0 ? -offset : offset;
  const std::string zone = Format("%c%.2d%.2d", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return Format("%s, %d %s %d %s %s", kWeekdays[Weekday(year, month, day)], day, kMonths[month - 1], year,
                Format("%.2d:%.2d:%.2d", hour, minute, second).c_str(), zone.c_str());
}
