#include "viewer/chart_time.h"

#include <cmath>

#include "core/util/number_format.h"

namespace qvl {

std::string FormatChartTime(double seconds, int decimals) {
  if (!std::isfinite(seconds)) return "";
  if (seconds < 0) {
    std::string magnitude = FormatChartTime(-seconds, decimals);
    if (magnitude.find_first_of("123456789") == std::string::npos) return magnitude;
    return "-" + magnitude;
  }
  long long h = (long long)std::trunc(seconds / 3600);
  double minutes = (seconds - 3600.0 * double(h)) / 60;
  if (minutes > 59.9) {
    minutes = 0;
    ++h;
  }
  long long m = (long long)std::trunc(minutes);
  double sec = seconds - 3600.0 * double(h) - 60.0 * double(m);
  if (sec < 0) sec = 0;
  if (sec > 59.9) {
    sec = 0;
    if (++m >= 60) {
      m = 0;
      ++h;
    }
  }
  std::string text;
  if (h > 0) text += std::to_string(h) + "h";
  if (m > 0 || decimals >= -1) {
    if (h > 0 && m < 10) text += "0";
    text += std::to_string(m) + "m";
  }
  if (decimals >= 0) {
    if (sec < 9.95 && (m > 0 || decimals >= -1)) text += "0";
    text += FormatFixed(sec, 15, decimals) + "s";
  }
  return text;
}

}  // namespace qvl
