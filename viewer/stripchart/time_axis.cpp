#include "viewer/stripchart/time_axis.h"

#include <cmath>

#include "core/util/number_format.h"

namespace qvl {
namespace {

// The smallest of 1, 2, 5 x 10^k (k rising from one and a half decades below s) not below s.
double NiceStepNotBelow(double s) {
  double decade = std::pow(10.0, std::trunc(std::log10(s) - 1.5));
  for (int guard = 0; guard < 64; ++guard) {
    for (double f : {1.0, 2.0, 5.0})
      if (f * decade >= s) return f * decade;
    decade *= 10;
  }
  return s;
}

}  // namespace

int TimeLabelDecimals(double step) {
  if (step < 0.00999) return 3;
  if (step < 0.0999) return 2;
  if (step < 0.999) return 1;
  if (step >= 3590) return -2;
  if (step >= 599) return -1;
  return 0;
}

TTimeAxisStep TimeAxisStep(double pixelsPerUnit) {
  TTimeAxisStep result;
  double s = 100.0 / pixelsPerUnit;  // seconds spanned by 100 pixels
  if (!std::isfinite(s) || s <= 0) {
    result.Step = 1;
  } else if (s >= 20 && s <= 3600) {
    double unit = 1;
    int m;
    if (s > 60) {
      unit = 60;
      m = int(std::trunc(s / 60 + 0.1));
    } else {
      m = int(std::trunc(s + 0.1));
    }
    int step;
    if (m <= 0)
      step = 1;
    else if (m < 2)
      step = 2;
    else if (m < 5)
      step = 5;
    else if (m < 10)
      step = 10;
    else if (m < 20)
      step = 20;
    else if (m < 30)
      step = 30;
    else
      step = 60;
    result.Step = step * unit;
  } else if (s < 20) {
    result.Step = NiceStepNotBelow(s);
  } else {
    result.Step = NiceStepNotBelow(s / 3600) * 3600;
  }
  result.Decimals = TimeLabelDecimals(result.Step);
  return result;
}

std::string FormatTimeLabel(double seconds, int decimals) {
  if (!std::isfinite(seconds)) return "";
  if (seconds < 0) {
    std::string magnitude = FormatTimeLabel(-seconds, decimals);
    // A time that rounds to zero carries no sign.
    if (magnitude.find_first_of("123456789") == std::string::npos) return magnitude;
    return "-" + magnitude;
  }
  long long h;
  int m;
  double sec;
  if (decimals >= 0) {
    // Round to the shown resolution first and split afterwards, so that a time just below a
    // full minute or hour reads as that minute ("1m00s", not "0m60s").
    double scale = std::pow(10.0, decimals);
    double units = std::round(seconds * scale);
    double perMinute = 60 * scale;
    double wholeMinutes = std::floor(units / perMinute);
    sec = (units - wholeMinutes * perMinute) / scale;
    h = (long long)(wholeMinutes / 60);
    m = int(wholeMinutes - double(h) * 60);
  } else {
    h = (long long)std::trunc(seconds / 3600);
    double minutes = (seconds - 3600.0 * double(h)) / 60;
    if (minutes > 59.9) {
      minutes = 0;
      ++h;
    }
    m = int(std::trunc(minutes));
    sec = 0;
  }
  std::string text;
  if (h > 0) text += std::to_string(h) + "h";
  if (m > 0 || decimals >= -1) {
    if (h > 0 && m < 10) text += "0";
    text += std::to_string(m) + "m";
  }
  if (decimals >= 0) {
    std::string secText = FormatFixed(sec, 7, decimals);
    if (sec < 10 - 0.5 * std::pow(10.0, -decimals)) text += "0";
    text += secText + "s";
  }
  return text;
}

}  // namespace qvl
