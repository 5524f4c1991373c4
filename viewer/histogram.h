// Histogram of one strip's main curve over a range of chart samples: bins by count or of a given
// width (one bin centred on zero when the values lie on both sides of it), counts, the discarded
// first occupied bin, the stepped series and the side panel's labels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

class TDataLogStore;

// A number with n significant digits: fixed notation while the exponent is moderate, else the
// general format; with `strip`, trailing zeros (and then a trailing decimal separator) of a value
// that has no further digits are removed. Magnitudes below 1e-20 give "0".
std::string FormatSignificant(double value, int digits, bool strip = false);

// The bin count after "Finer" and "Coarser".
int FinerBinCount(int count);
int CoarserBinCount(int count);

struct THistogramInput {
  const std::vector<float>* values = nullptr;  // the strip's main curve as the chart holds it
  double period = 1;                           // ms between two values
  int64_t rangeStart = 0, rangeEnd = 0;        // chart samples (ms) at the range's ends
  int binCount = 20;
  bool fixedWidth = false;  // bins of `width` instead of `binCount` bins
  double width = 0;
  bool discardFirst = false;
  bool probability = true;  // y in per cent of the used samples, else counts
  int smoothing = 0;        // the strip's smoothing window in ms
  std::string unit;         // unit text of the strip's main channel
};

struct THistogramPoint {
  double x = 0, y = 0;
};

struct THistogram {
  int64_t first = 0, last = 0;  // value indices a..b used
  int64_t used = 0;             // q = b - a + 1 (0 when the range holds no value)
  double minimum = 0, maximum = 0, mean = 0;
  bool oneSided = true;
  int binCount = 0;
  double width = 0;
  double start = 0;  // first bin's start
  std::vector<int32_t> counts;
  int64_t discarded = 0;
  int fullest = -1;  // first bin with the highest count
  std::vector<THistogramPoint> series;
  // Labels.
  std::string binSizeCaption;  // "Bin size (now %s%s)"
  std::string average;         // "Average: " ...
  std::string median;          // "Median: " ...
  std::string sampleCount;     // "%d data samples"
  std::string smoothing;       // "Smoothing: %dms (%d time samples)" or "No smoothing"
};

// Computes the histogram. With all values equal and bins by count the bin width would be 0: the
// values then all count in the first bin, which is drawn 1 unit wide.
THistogram ComputeHistogram(const THistogramInput& input);

// The side panel's session, run, start and stop labels for a range of chart samples, with
// `displayStart` the store position of chart sample 0.
struct THistogramRangeLabels {
  std::string session;  // "Session\r%d/%d"
  std::string run;      // "Run \r%d/%d" or "Runs\r%d to %d"
  std::string from, to;
};
THistogramRangeLabels HistogramRangeLabels(const TDataLogStore& store, int64_t displayStart,
                                           int64_t rangeStart, int64_t rangeEnd);

}  // namespace qvl
