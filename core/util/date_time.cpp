#include "core/util/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace qvl {
namespace {

// Days from 0000-03-01 style civil algorithm (proleptic Gregorian), relative to 1970-01-01.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(y + (month <= 2));
}

const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  return double(DaysFromCivil(year, unsigned(month), unsigned(day))) + kUnixEpochDays;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  return EncodeDate(p.year, p.month, p.day) + EncodeTime(p.hour, p.minute, p.second, p.millisecond);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  TDateTimeParts p;
  // Whole milliseconds since 1899-12-30, rounded so that 0.999999 of a millisecond is not lost.
  double totalMs = std::round(value * kMsPerDay);
  int64_t days = int64_t(std::floor(totalMs / kMsPerDay));
  int64_t msOfDay = int64_t(totalMs - double(days) * kMsPerDay);
  CivilFromDays(days - int64_t(kUnixEpochDays), p.year, p.month, p.day);
  p.hour = int(msOfDay / 3600000);
  p.minute = int(msOfDay / 60000 % 60);
  p.second = int(msOfDay / 1000 % 60);
  p.millisecond = int(msOfDay % 1000);
  return p;
}

int DayOfWeek(TDateTime value) {
  int64_t days = int64_t(std::floor(value));
  // 1899-12-30 was a Saturday.
  int64_t w = ((days % 7) + 7 + 6) % 7;  // 0 = Sunday
  return int(w) + 1;
}

TDateTime FromUnixTime(int64_t unixSeconds) {
  std::time_t t = std::time_t(unixSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return EncodeDateTime(
      {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0});
}

int64_t ToUnixTime(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  return int64_t(std::mktime(&tm));
}

TDateTime Now() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t t = std::time_t(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec, int(ms % 1000)});
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  std::string out;
  char buf[32];
  bool lastWasHour = false;
  size_t i = 0;
  auto count = [&](char c) {
    size_t n = 0;
    while (i + n < format.size() && (format[i + n] | 0x20) == c) ++n;
    return n;
  };
  while (i < format.size()) {
    char c = format[i];
    char lc = char(c | 0x20);
    if (c == '"' || c == '\'') {
      size_t end = format.find(c, i + 1);
      if (end == std::string::npos) end = format.size();
      out.append(format, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (lc == 'y') {
      size_t n = count('y');
      if (n <= 2)
        std::snprintf(buf, sizeof buf, "%02d", p.year % 100);
      else
        std::snprintf(buf, sizeof buf, "%04d", p.year);
      out += buf;
      i += n;
      lastWasHour = false;
    } else if (lc == 'm') {
      size_t n = count('m');
      if (lastWasHour && n <= 2) {
        std::snprintf(buf, sizeof buf, n == 1 ? "%d" : "%02d", p.minute);
        out += buf;
      } else if (n == 1) {
        out += std::to_string(p.month);
      } else if (n == 2) {
        std::snprintf(buf, sizeof buf, "%02d", p.month);
        out += buf;
      } else if (n == 3) {
        out += kShortMonths[p.month - 1];
      } else {
        out += kLongMonths[p.month - 1];
      }
      i += n;
      lastWasHour = false;
    } else if (lc == 'd') {
      size_t n = count('d');
      if (n == 1) {
        out += std::to_string(p.day);
      } else if (n == 2) {
        std::snprintf(buf, sizeof buf, "%02d", p.day);
        out += buf;
      } else if (n == 3) {
        out += kShortDays[DayOfWeek(value) - 1];
      } else {
        out += kLongDays[DayOfWeek(value) - 1];
      }
      i += n;
      lastWasHour = false;
    } else if (lc == 'h' || lc == 'n' || lc == 's') {
      size_t n = count(lc);
      int v = lc == 'h' ? p.hour : lc == 'n' ? p.minute : p.second;
      std::snprintf(buf, sizeof buf, n >= 2 ? "%02d" : "%d", v);
      out += buf;
      i += n;
      lastWasHour = lc == 'h';
    } else if (lc == 'z') {
      size_t n = count('z');
      std::snprintf(buf, sizeof buf, n >= 3 ? "%03d" : "%d", p.millisecond);
      out += buf;
      i += n;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace qvl
