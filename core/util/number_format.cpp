#include "core/util/number_format.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
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
  if (precision < 1) precision = 1;
  if (precision > 18) precision = 18;
  if (digits < 0) digits = 0;
  if (digits > 18) digits = 18;
  char buf[96];
  if (value == 0) value = 0;  // no "-0"
  // Round to `precision` significant digits first, as the digits beyond it are not shown.
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
  double rounded = std::strtod(buf, nullptr);
  int exponent = 0;
  if (rounded != 0) exponent = int(std::floor(std::log10(std::fabs(rounded)))) + 1;
  if (exponent > precision) {
    std::snprintf(buf, sizeof buf, "%.*E", precision - 1, rounded);
    return LocalizeSeparator(buf);
  }
  // Digits behind the decimal point that carry significance; beyond them, zeros.
  int significantDecimals = precision - exponent;
  if (significantDecimals < 0) significantDecimals = 0;
  int shown = std::min(digits, significantDecimals);
  std::snprintf(buf, sizeof buf, "%.*f", shown, rounded);
  std::string s = buf;
  if (digits > shown) {
    if (shown == 0) s += '.';
    s.append(size_t(digits - shown), '0');
  }
  // "-0.00" for a tiny negative value reads as a real value below zero; show it as zero.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return LocalizeSeparator(s);
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
