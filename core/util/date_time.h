// TDateTime: days since 1899-12-30 as a double, the fraction being the time of day, in local
// time. Configuration timestamps, log file dates and session times are kept this way.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace qvl {

using TDateTime = double;

// Days between 1899-12-30 and 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kMsPerDay = 86400000.0;

struct TDateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The current local date and time.
TDateTime Now();
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);
// Day of the week, 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// Local calendar time <-> seconds since the Unix epoch (through the C library's time zone).
TDateTime FromUnixTime(int64_t unixSeconds);
int64_t ToUnixTime(TDateTime value);

// Formats with the tokens yyyy, yy, mmmm, mmm, mm, m, dddd, ddd, dd, d, hh, h, nn, n, ss, s, zzz;
// text in double or single quotes is copied; "mm" right after an hour token means minutes.
std::string FormatDateTime(const std::string& format, TDateTime value);

}  // namespace qvl
