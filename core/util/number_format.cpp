#include "core/util/number_format.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qvl {
namespace {

char gDecimalSeparator = '.';

std::string LocalizeSeparator(std::string s) {
  if (gDecimalSeparator != '.')
    for (char& c : s)
      if (c == '.') c = gDecimalSeparator;
  return s;
}

}  // namespace

char DecimalSeparator() {
  return gDecimalSeparator;
}
void SetDecimalSeparator(char separator) {
  gDecimalSeparator = separator;
}

std::string FormatFixed(double value, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  precision = std::clamp(precision, 1, 18);
  digits = std::clamp(digits, 0, 18);
  // The value's decimal digits: 0.d1d2...d17 x 10^exponent.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.16e", std::fabs(value));
  std::string mantissa;
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa += *p;
  int exponent = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  if (value == 0) exponent = 1;
  if (exponent > precision) {
    std::snprintf(buf, sizeof buf, "%.*E", precision - 1, value);
    return LocalizeSeparator(buf);
  }
  // Round once, half away from zero, at whichever limit comes first: the significant digits or
  // the decimals shown.
  int keep = std::min(precision, exponent + digits);
  std::string kept;
  if (keep >= 0) {
    kept = mantissa.substr(0, size_t(keep));
    bool up = size_t(keep) < mantissa.size() && mantissa[size_t(keep)] >= '5';
    if (up) {
      int i = int(kept.size()) - 1;
      while (i >= 0 && kept[size_t(i)] == '9') kept[size_t(i--)] = '0';
      if (i >= 0) {
        ++kept[size_t(i)];
      } else {
        kept.insert(kept.begin(), '1');
        ++exponent;
      }
    }
  }
  // Lay the kept digits out around the decimal point, zeros where nothing is kept.
  std::string integer, fraction;
  for (int pos = 0; pos < std::max(exponent, 0); ++pos)
    integer += pos < int(kept.size()) ? kept[size_t(pos)] : '0';
  if (integer.empty()) integer = "0";
  for (int d = 0; d < digits; ++d) {
    int pos = exponent + d;
    fraction += pos >= 0 && pos < int(kept.size()) ? kept[size_t(pos)] : '0';
  }
  bool zero = integer.find_first_not_of('0') == std::string::npos &&
              fraction.find_first_not_of('0') == std::string::npos;
  size_t lead = integer.find_first_not_of('0');
  integer = lead == std::string::npos ? "0" : integer.substr(lead);
  // A value that rounds to zero shows no minus sign.
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += integer;
  if (digits > 0) out += gDecimalSeparator + fraction;
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(size_t(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), size_t(n));
  }
  va_end(args);
  return out;
}

bool TryParseDouble(const std::string& text, double& value) {
  std::string s = text;
  for (char& c : s)
    if (c == gDecimalSeparator) c = '.';
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  s = s.substr(b, e - b + 1);
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

bool TryParseInt(const std::string& text, long long& value) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string s = text.substr(b, e - b + 1);
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

}  // namespace qvl
