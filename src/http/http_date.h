#pragma once
// HTTP dates: the parser used for response dates and cookie expiry, and the two formats used when writing.
// A date-time is days since 1899-12-30 00:00 as a double with the time of day as the fraction (0 = none).
#include <cstdint>
#include <string>

#include "net/exceptions.h"

class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
 public:
  EIdFailedToRetreiveTimeZoneInfo() : EIdException("Failed attempting to retrieve time zone information.") {}
};

// Reads "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994" (and
// their variations) and returns local time. An empty text gives 0. A text that cannot be read never fails:
// its date-time counts as 0 before the zone steps, so it ends as the local offset. A numeric zone
// ("+0800") is honoured; any other zone word counts as universal time. Raises
// EIdFailedToRetreiveTimeZoneInfo when the system cannot report its time-zone bias.
double ParseHttpDate(const std::string& text);
// The same with a given bias: minutes to add to local time to get universal time (positive west).
double ParseHttpDate(const std::string& text, int biasMinutes);

// "Sun, 06 Nov 1994 08:49:37 GMT": two-digit day, four-digit year. The value is written as held.
std::string FormatHttpDateGMT(double dateTime);
// "Sun, 6 Nov 1994 08:49:37 +0800": unpadded day and year, and the local zone. The value is written as held.
// Raises EIdFailedToRetreiveTimeZoneInfo when the system cannot report its time-zone bias.
std::string FormatHttpDateWithZone(double dateTime);
std::string FormatHttpDateWithZone(double dateTime, int biasMinutes);

// Calendar helpers over the same day count. EncodeDate returns false for a date that does not exist.
bool EncodeDate(int year, int month, int day, double& dateTime);
// A date-time before 0001-01-01 00:00:00 (or NaN) decodes as that moment, one after 9999-12-31 23:59:59 as
// that one.
void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute, int& second);
// The current time-zone bias from the system; raises EIdFailedToRetreiveTimeZoneInfo when it cannot tell.
int CurrentTimeZoneBias();

constexpr double kSecondsPerDay = 86400.0;
