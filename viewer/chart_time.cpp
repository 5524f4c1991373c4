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
  long long h, m;
  double sec = 0;
  bool leadingZero = false;
  if (decimals >= 0) {
    // Rounded to the decimals shown first, then split: a time just below a full minute reads as
    // that minute ("1m00.00s"), never as "0m60.00s", and 59.93 s keeps its own minute.
    const double scale = std::pow(10.0, decimals);
    const long long units = std::llround(seconds * scale);
    const long long perMinute = 60 * (long long)scale;
    const long long minutes = units / perMinute;
    const long long secUnits = units % perMinute;
    h = minutes / 60;
    m = minutes % 60;
    sec = double(secUnits) / scale;
    leadingZero = secUnits < 10 * (long long)scale;
  } else {
    h = (long long)std::trunc(seconds / 3600);
    double minutes = (seconds - 3600.0 * double(h)) / 60;
    if (minutes > 59.9) {
      minutes = 0;
      ++h;
    }
    m = (long long)std::trunc(minutes);
  }
  std::string text;
  if (h > 0) text += std::to_string(h) + "h";
  if (m > 0 || decimals >= -1) {
    if (h > 0 && m < 10) text += "0";
    text += std::to_string(m) + "m";
  }
  if (decimals >= 0) {
    if (leadingZero) text += "0";
    text += FormatFixed(sec, 15, decimals) + "s";
  }
  return text;
}

}  // namespace qvl
