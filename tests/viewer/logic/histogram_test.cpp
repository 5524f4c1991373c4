#include "viewer/histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "core/device/ecu_types.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "viewer/display_entry.h"

namespace qvl {
namespace {

THistogramInput Input(const std::vector<float>& values, double period = 1) {
  THistogramInput in;
  in.values = &values;
  in.period = period;
  in.rangeStart = 0;
  in.rangeEnd = int64_t(double(values.size()) * period) - 1;
  in.unit = "%";
  return in;
}

TEST(SignificantDigits, FixedGeneralAndStripped) {
  EXPECT_EQ(FormatSignificant(0, 2), "0");
  EXPECT_EQ(FormatSignificant(1e-21, 3), "0");
  EXPECT_EQ(FormatSignificant(5, 2), "5.0");
  EXPECT_EQ(FormatSignificant(5, 2, true), "5");
  EXPECT_EQ(FormatSignificant(12.5, 3), "12.5");
  EXPECT_EQ(FormatSignificant(-12.5, 2), "-13");  // half away from zero
  EXPECT_EQ(FormatSignificant(0.05, 2), "0.050");
  EXPECT_EQ(FormatSignificant(0.05, 2, true), "0.05");
  EXPECT_EQ(FormatSignificant(0.0512, 2, true), "0.051");  // more digits: nothing stripped
  EXPECT_EQ(FormatSignificant(2.5, 2, true), "2.5");
  EXPECT_EQ(FormatSignificant(1234, 2), "1234");  // e = 3 <= n + 1: fixed, no decimals
  EXPECT_EQ(FormatSignificant(12345, 2), "1.2E4");
  EXPECT_EQ(FormatSignificant(1.5e-7, 2), "1.5E-7");
  EXPECT_EQ(FormatSignificant(0.00123, 2), "0.0012");  // e = -2 >= -n
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatSignificant(2.5, 2, true), "2,5");
  EXPECT_EQ(FormatSignificant(3.0, 2, true), "3");
  SetDecimalSeparator('.');
}

TEST(BinCountSteps, FinerAndCoarser) {
  const int finer[][2] = {{5, 15},  {14, 15}, {15, 20}, {19, 20}, {20, 30},
                          {29, 30}, {30, 40}, {39, 40}, {40, 40}, {55, 55}};
  for (auto [from, to] : finer) EXPECT_EQ(FinerBinCount(from), to) << from;
  const int coarser[][2] = {{5, 5},   {10, 10}, {11, 10}, {15, 10}, {16, 15},
                            {20, 15}, {21, 20}, {30, 20}, {31, 30}, {80, 30}};
  for (auto [from, to] : coarser) EXPECT_EQ(CoarserBinCount(from), to) << from;
}

TEST(Histogram, BinsByCount) {
  std::vector<float> v = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10};
  THistogramInput in = Input(v);
  in.binCount = 5;
  THistogram h = ComputeHistogram(in);
  EXPECT_EQ(h.used, 10);
  EXPECT_DOUBLE_EQ(h.width, 2);
  EXPECT_DOUBLE_EQ(h.start, 0);
  EXPECT_EQ(h.counts, (std::vector<int32_t>{2, 2, 2, 2, 2}));  // 10 lands in the last bin
  EXPECT_DOUBLE_EQ(h.mean, 4.6);
  ASSERT_EQ(h.series.size(), 6u);
  EXPECT_DOUBLE_EQ(h.series[1].x, 2);
  EXPECT_DOUBLE_EQ(h.series[1].y, 20);
  EXPECT_DOUBLE_EQ(h.series[5].x, 10);
  EXPECT_DOUBLE_EQ(h.series[5].y, 0);
  EXPECT_EQ(h.fullest, 0);
  EXPECT_EQ(h.binSizeCaption, "Bin size (now 2%)");
  EXPECT_EQ(h.average, "Average: 4.60%");
  EXPECT_EQ(h.median, "Median: 1.0%");
  EXPECT_EQ(h.sampleCount, "10 data samples");
  EXPECT_EQ(h.smoothing, "No smoothing");
}

TEST(Histogram, RangeToValueIndicesWithThePeriod) {
  // One value per 5 ms; chart samples 12..31 cover values 2..6.
  std::vector<float> v = {100, 100, 1, 2, 3, 4, 5, 100};
  THistogramInput in = Input(v, 5);
  in.rangeStart = 12;
  in.rangeEnd = 31;
  in.smoothing = 23;
  THistogram h = ComputeHistogram(in);
  EXPECT_EQ(h.first, 2);
  EXPECT_EQ(h.last, 6);
  EXPECT_EQ(h.used, 5);
  EXPECT_DOUBLE_EQ(h.minimum, 1);
  EXPECT_DOUBLE_EQ(h.maximum, 5);
  EXPECT_EQ(h.smoothing, "Smoothing: 23ms (5 time samples)");
  // The range end beyond the data is limited to the last value.
  in.rangeEnd = 1000;
  EXPECT_EQ(ComputeHistogram(in).last, 7);
}

TEST(Histogram, AllEqualValues) {
  std::vector<float> v(50, 3.0f);
  THistogramInput in = Input(v);
  THistogram h = ComputeHistogram(in);  // bins by count: width 0, no division by zero
  EXPECT_EQ(h.width, 0);
  EXPECT_EQ(h.counts[0], 50);
  EXPECT_EQ(std::accumulate(h.counts.begin(), h.counts.end(), 0), 50);
  EXPECT_EQ(h.median, "Median: 3.0%");
  for (const auto& p : h.series) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));

  in.fixedWidth = true;
  in.width = 1;
  h = ComputeHistogram(in);  // m = 3 >= minimum: the start moves down one bin
  EXPECT_DOUBLE_EQ(h.start, 2);
  EXPECT_EQ(h.binCount, 2);
  EXPECT_EQ(h.counts, (std::vector<int32_t>{0, 50}));
  EXPECT_EQ(h.fullest, 1);
  EXPECT_EQ(h.median, "Median: 3.5%");
}

TEST(Histogram, FixedWidthCentredOnZero) {
  std::vector<float> v = {-23, -7, -4.9f, 0, 4.9f, 7, 23};
  THistogramInput in = Input(v);
  in.fixedWidth = true;
  in.width = 10;
  THistogram h = ComputeHistogram(in);
  EXPECT_FALSE(h.oneSided);
  // One bin spans -5 to +5.
  EXPECT_DOUBLE_EQ(h.start, -35);
  EXPECT_EQ(h.binCount, 6);
  EXPECT_EQ(h.counts, (std::vector<int32_t>{0, 1, 1, 3, 1, 1}));
  EXPECT_DOUBLE_EQ(h.start + 3 * h.width, -5);
  EXPECT_EQ(h.binSizeCaption, "Bin size (now 10%)");
}

TEST(Histogram, LabelsCarryTheUnitSuffixOfTheTable) {
  std::vector<float> v = {12.0f, 12.4f, 12.5f, 13.0f};
  THistogramInput in = Input(v);
  in.fixedWidth = true;
  in.width = 0.5;
  in.unit = EntryUnitSuffix(TDisplayEntry{kParamBatteryVolt, kUnitVolt1, 0, 0, 0}, nullptr);
  THistogram h = ComputeHistogram(in);
  EXPECT_EQ(h.binSizeCaption, "Bin size (now 0.5 V)");
  EXPECT_EQ(h.average, "Average: 12.5 V");
  in.unit = EntryUnitSuffix(TDisplayEntry{kParamFrontTravel, kUnitPercent, 0, 0, 0}, nullptr);
  EXPECT_EQ(ComputeHistogram(in).binSizeCaption, "Bin size (now 0.5%)");
}

TEST(Histogram, FixedWidthOneSided) {
  // 10..90 with width 10: edges on multiples of 10, the first at 0 since the minimum lies on 10.
  std::vector<float> v;
  for (int i = 10; i <= 90; i += 5) v.push_back(float(i));
  THistogramInput in = Input(v);
  in.fixedWidth = true;
  in.width = 10;
  THistogram h = ComputeHistogram(in);
  EXPECT_TRUE(h.oneSided);
  EXPECT_DOUBLE_EQ(h.start, 0);
  EXPECT_EQ(h.binCount, 10);
  EXPECT_EQ(h.counts, (std::vector<int32_t>{0, 2, 2, 2, 2, 2, 2, 2, 2, 1}));
  // A minimum far from zero on the other side still counts as one-sided.
  std::vector<float> tiny = {-0.001f, 5000};
  THistogramInput t = Input(tiny);
  EXPECT_TRUE(ComputeHistogram(t).oneSided);  // 5000 / -0.001 < -1000
  in.width = 0;
  EXPECT_THROW(ComputeHistogram(in), Exception);
  in.width = 1e-9;
  EXPECT_THROW(ComputeHistogram(in), Exception);
}

TEST(Histogram, DiscardFirstOccupiedBin) {
  std::vector<float> v = {0, 0, 0, 0, 0, 0, 5, 9, 9, 10};
  THistogramInput in = Input(v);
  in.binCount = 2;
  in.discardFirst = true;
  THistogram h = ComputeHistogram(in);
  EXPECT_EQ(h.discarded, 6);
  EXPECT_EQ(h.counts, (std::vector<int32_t>{0, 4}));
  EXPECT_DOUBLE_EQ(h.series[1].y, 100);  // per cent of the 4 samples left
  EXPECT_EQ(h.sampleCount, "4 data samples");
  EXPECT_EQ(h.average, "Average: 3.30%");  // the mean covers every value

  // Every value in one bin: nothing is discarded.
  std::vector<float> one = {4, 4, 4, 4};
  THistogramInput o = Input(one);
  o.binCount = 1;
  o.discardFirst = true;
  h = ComputeHistogram(o);
  EXPECT_EQ(h.discarded, 0);
  EXPECT_EQ(h.counts[0], 4);

  in.discardFirst = false;
  in.probability = false;
  h = ComputeHistogram(in);
  EXPECT_DOUBLE_EQ(h.series[0].y, 6);
}

TEST(Histogram, FewerThanTwoValues) {
  std::vector<float> v = {42};
  THistogramInput in = Input(v);
  in.binCount = 4;
  THistogram h = ComputeHistogram(in);
  EXPECT_DOUBLE_EQ(h.minimum, -1);
  EXPECT_DOUBLE_EQ(h.maximum, 1);
  EXPECT_DOUBLE_EQ(h.width, 0.5);
  EXPECT_EQ(h.counts.back(), 1);  // 42 lowered into the last bin
  std::vector<float> none;
  THistogramInput e = Input(none);
  h = ComputeHistogram(e);
  EXPECT_EQ(h.used, 0);
  EXPECT_EQ(h.sampleCount, "0 data samples");
  for (const auto& p : h.series) EXPECT_EQ(p.y, 0);
}

}  // namespace
}  // namespace qvl
