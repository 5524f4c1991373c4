#include "viewer/histogram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/logdata/data_log_store.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "viewer/stripchart/time_axis.h"

namespace qvl {
namespace {

// Bins beyond this many mean a bin size far too small for the data.
constexpr double kMaxBins = 1e6;

// General format with n significant digits: fixed notation without trailing zeros, or a
// mantissa and exponent ("1.2E4", "1E-7") when the value has more integer digits than n or is
// below 1e-5.
std::string FormatGeneral(double value, int n) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", std::max(n - 1, 0), value);
  std::string s = buf;
  size_t epos = s.find('e');
  std::string mantissa = s.substr(0, epos);
  int exponent = std::atoi(s.c_str() + epos + 1);
  auto stripZeros = [](std::string m) {
    if (m.find('.') != std::string::npos) {
      while (!m.empty() && m.back() == '0') m.pop_back();
      if (!m.empty() && m.back() == '.') m.pop_back();
    }
    return m;
  };
  std::string out;
  if (exponent >= n || std::fabs(value) < 1e-5) {
    out = stripZeros(mantissa) + "E" + std::to_string(exponent);
  } else {
    std::snprintf(buf, sizeof buf, "%.*f", std::max(n - 1 - exponent, 0), value);
    out = stripZeros(buf);
  }
  for (char& c : out)
    if (c == '.') c = DecimalSeparator();
  return out;
}

long long RoundHalfAway(double v) {
  return std::llround(v);
}

}  // namespace

std::string FormatSignificant(double value, int n, bool strip) {
  double a = std::fabs(value);
  if (!(a >= 1e-20)) return std::isnan(value) ? "NAN" : "0";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  int e = int(std::trunc(std::log10(a)));
  if (e <= n + 1 && e >= -n) {
    int d = std::max(n - e - (a >= 1 ? 1 : 0), 0);
    std::string s = FormatFixed(value, 15, d);
    if (strip && d > 0) {
      double scaled = a / std::pow(10.0, e - 1);
      if (scaled - std::floor(scaled) < 1e-4) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == DecimalSeparator()) s.pop_back();
      }
    }
    return s;
  }
  return FormatGeneral(value, n);
}

int FinerBinCount(int count) {
  if (count >= 40) return count;
  if (count >= 30) return 40;
  if (count >= 20) return 30;
  if (count < 15) return 15;
  return 20;
}

int CoarserBinCount(int count) {
  if (count <= 10) return count;
  if (count <= 15) return 10;
  if (count <= 20) return 15;
  if (count > 30) return 30;
  return 20;
}

THistogram ComputeHistogram(const THistogramInput& in) {
  THistogram h;
  static const std::vector<float> kNone;
  const std::vector<float>& values = in.values ? *in.values : kNone;
  const int64_t p = std::max<int64_t>(RoundHalfAway(in.period), 1);
  const int64_t lastIndex = int64_t(values.size()) - 1;

  // The values of the range.
  int64_t a = std::max<int64_t>(in.rangeStart / p, 0);
  int64_t b = std::min<int64_t>(in.rangeEnd / p, lastIndex);
  int64_t q = std::max<int64_t>(b - a + 1, 0);
  h.first = a;
  h.last = b;
  h.used = q;

  // Extremes and mean.
  double maximum = -1e10, minimum = 1e10, sum = 0;
  for (int64_t i = a; i <= b; ++i) {
    double v = values[size_t(i)];
    maximum = std::max(maximum, v);
    minimum = std::min(minimum, v);
    sum += v;
  }
  h.mean = q > 0 ? sum / double(q) : 0;
  if (q < 2) {
    minimum = -1;
    maximum = 1;
  }
  h.minimum = minimum;
  h.maximum = maximum;

  // Whether the range lies on one side of zero.
  h.oneSided = (minimum >= 0) == (maximum >= 0) || std::fabs(minimum) < 1e-10 ||
               std::fabs(maximum) < 1e-10 || maximum / minimum < -1000 || minimum / maximum < -1000;

  // The bins.
  if (in.fixedWidth) {
    const double w = in.width;
    if (!(w > 0) || !std::isfinite(w)) throw Exception("Invalid bin size");
    double m;
    if (h.oneSided)
      m = double(RoundHalfAway(minimum / w)) * w;
    else
      m = double(RoundHalfAway((minimum - w / 2) / w)) * w - w / 2;
    h.start = minimum <= m ? m - w : m;
    double bins = std::trunc((maximum - h.start) / w) + 1;
    if (!(bins <= kMaxBins)) throw Exception("Bin size too small");
    h.binCount = int(bins);
    h.width = w;
  } else {
    h.binCount = std::max(in.binCount, 1);
    h.width = (maximum - minimum) / h.binCount;
    h.start = minimum;
  }

  // The bin size caption.
  h.binSizeCaption = "Bin size (now " + FormatSignificant(h.width, 2, true) + in.unit + ")";

  // Counting. All values equal with bins by count leave a width of 0: they all count in the
  // first bin.
  h.counts.assign(size_t(h.binCount), 0);
  const int64_t lastBin = h.binCount - 1;
  for (int64_t i = a; i <= b; ++i) {
    int64_t k = 0;
    if (h.width > 0) {
      double t = std::trunc((double(values[size_t(i)]) - h.start) / h.width);
      k = t < 0 ? 0 : t > double(lastBin) ? lastBin : int64_t(t);
    }
    ++h.counts[size_t(k)];
  }

  // The first occupied bin is discarded on request, unless it holds every value.
  if (in.discardFirst) {
    for (int32_t& c : h.counts)
      if (c != 0) {
        if (c < q) {
          h.discarded = c;
          c = 0;
        }
        break;
      }
  }

  // The series; a zero width is drawn one unit wide.
  const double drawWidth = h.width > 0 ? h.width : 1;
  const int64_t usedNow = q - h.discarded;
  int32_t best = -1;
  for (int j = 0; j < h.binCount; ++j) {
    int32_t c = h.counts[size_t(j)];
    double y = in.probability ? (usedNow > 0 ? double(c) * 100.0 / double(usedNow) : 0) : c;
    h.series.push_back({h.start + j * drawWidth, y});
    if (c > best) {
      best = c;
      h.fullest = j;
    }
  }
  h.series.push_back({h.start + h.binCount * drawWidth, 0});

  // The labels.
  h.average = "Average: " + FormatSignificant(h.mean, 3) + in.unit;
  h.median = "Median: " + FormatSignificant(h.start + (h.fullest + 0.5) * h.width, 2) + in.unit;
  h.sampleCount = Format("%lld data samples", (long long)usedNow);
  if (in.smoothing > 1)
    h.smoothing = Format("Smoothing: %dms (%lld time samples)", in.smoothing,
                         RoundHalfAway(double(in.smoothing) / double(p)));
  else
    h.smoothing = "No smoothing";
  return h;
}

THistogramRangeLabels HistogramRangeLabels(const TDataLogStore& store, int64_t displayStart,
                                           int64_t rangeStart, int64_t rangeEnd) {
  THistogramRangeLabels l;
  if (store.RunCount() == 0) return l;
  const int64_t p0 = displayStart + rangeStart, p1 = displayStart + rangeEnd;
  const int run0 = store.RunOfPosition(p0), run1 = store.RunOfPosition(p1);
  const int session = store.RunSession(run0);
  int firstRun = 0, runCount = 0;
  store.GetSession(session, firstRun, runCount);
  l.session = Format("Session\r%d/%d", session + 1, store.SessionCount());
  if (run0 == run1)
    l.run = Format("Run \r%d/%d", run0 - firstRun + 1, runCount);
  else
    l.run = Format("Runs\r%d to %d", run0 - firstRun + 1, run1 - firstRun + 1);
  double t0, t1;
  if (run0 == run1) {
    t0 = double(store.TimeInRun(p0));
    t1 = double(store.TimeInRun(p1));
  } else {
    const int64_t period = std::max<int64_t>(store.IsImage() ? 1 : store.Period(), 1);
    const double base = double(store.TimeFromStart(store.RunFirst(run0)));
    t0 = double(store.TimeFromStart(p0 / period)) - base;
    t1 = double(store.TimeFromStart(p1 / period)) - base;
  }
  l.from = FormatTimeLabel(t0 / 1000, 0);
  l.to = FormatTimeLabel(t1 / 1000, 0);
  return l;
}

}  // namespace qvl
