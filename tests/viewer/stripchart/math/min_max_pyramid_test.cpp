#include "viewer/stripchart/min_max_pyramid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "viewer/stripchart/ksc_y_axis.h"
#include "viewer/stripchart/sample_mapping.h"

namespace qvl {
namespace {

TMinMax BruteForce(const std::vector<float>& v, std::size_t first, std::size_t last) {
  TMinMax r{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  for (std::size_t i = first; i < last && i < v.size(); ++i) {
    if (v[i] < r.Min) r.Min = v[i];
    if (v[i] > r.Max) r.Max = v[i];
  }
  return r;
}

// A noisy travel-like signal with single-sample spikes at random places.
std::vector<float> SignalWithSpikes(std::size_t n, std::mt19937& rng) {
  std::vector<float> v(n);
  std::normal_distribution<float> noise(0, 1);
  for (std::size_t i = 0; i < n; ++i) v[i] = 50 + 20 * std::sin(float(i) * 0.001f) + noise(rng);
  std::uniform_int_distribution<std::size_t> where(0, n - 1);
  for (int k = 0; k < 200; ++k) v[where(rng)] = (k & 1) ? 1000.0f : -1000.0f;
  return v;
}

TEST(MinMaxPyramid, RangesMatchBruteForceOverRandomWindows) {
  std::mt19937 rng(12345);
  for (std::size_t n : {std::size_t(1), std::size_t(15), std::size_t(16), std::size_t(17),
                        std::size_t(257), std::size_t(4096), std::size_t(100003)}) {
    std::vector<float> v = SignalWithSpikes(n, rng);
    TMinMaxPyramid pyramid;
    pyramid.Build(v.data(), v.size());
    std::uniform_int_distribution<std::size_t> pos(0, n);
    for (int trial = 0; trial < 2000; ++trial) {
      std::size_t a = pos(rng), b = pos(rng);
      if (a > b) std::swap(a, b);
      TMinMax expected = BruteForce(v, a, b);
      TMinMax got = pyramid.Range(a, b);
      ASSERT_EQ(got.Empty(), expected.Empty()) << n << " " << a << ".." << b;
      if (!expected.Empty()) {
        ASSERT_EQ(got.Min, expected.Min) << n << " " << a << ".." << b;
        ASSERT_EQ(got.Max, expected.Max) << n << " " << a << ".." << b;
      }
    }
  }
}

TEST(MinMaxPyramid, SingleSpikeIsFoundInAnyWindowThatHoldsIt) {
  std::vector<float> v(70000, 0.0f);
  v[65537] = 7.0f;
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  EXPECT_EQ(pyramid.Range(0, v.size()).Max, 7.0f);
  EXPECT_EQ(pyramid.Range(65537, 65538).Max, 7.0f);
  EXPECT_EQ(pyramid.Range(4096, 65538).Max, 7.0f);
  EXPECT_EQ(pyramid.Range(65536, 65537).Max, 0.0f);
  EXPECT_EQ(pyramid.Range(65538, 70000).Max, 0.0f);
}

TEST(MinMaxPyramid, EmptyAndOutOfRangeWindows) {
  std::vector<float> v = {1, 2, 3};
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  EXPECT_TRUE(pyramid.Range(2, 2).Empty());
  EXPECT_TRUE(pyramid.Range(5, 9).Empty());
  EXPECT_EQ(pyramid.Range(1, 100).Max, 3.0f);
  TMinMaxPyramid none;
  none.Build(nullptr, 10);
  EXPECT_TRUE(none.Range(0, 10).Empty());
}

TEST(MinMaxPyramid, NotANumberIsLeftOut) {
  std::vector<float> v(40, 1.0f);
  v[0] = NAN;
  v[20] = NAN;
  v[33] = 4.0f;
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  TMinMax r = pyramid.Range(0, 40);
  EXPECT_EQ(r.Min, 1.0f);
  EXPECT_EQ(r.Max, 4.0f);
  EXPECT_TRUE(pyramid.Range(20, 21).Empty());
}

TEST(MinMaxPyramid, MemoryStaysBelowFifteenPercentOfTheSamples) {
  std::vector<float> v(3600000, 1.0f);
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  EXPECT_LE(double(pyramid.MemoryBytes()), 0.15 * double(v.size() * sizeof(float)));
  EXPECT_GE(pyramid.LevelCount(), 4u);
}

// The columns of a curve against a per-sample computation: every sample's pixel column by the
// mapping's own rule, its row by the axis, the minimum and maximum row per column.
void ExpectColumnsMatchBruteForce(const std::vector<float>& v, const TSampleMapping& mapping,
                                  long long firstColumn, int count) {
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  TKscYAxis axis;
  axis.SetRange(0, 60, -60);
  const int height = 150;
  TYPixArray columns;
  ComputeColumns(pyramid, mapping, axis, height, firstColumn, count, columns);
  ASSERT_EQ(columns.size(), std::size_t(count));
  std::vector<int> lo(std::size_t(count), INT32_MAX), hi(std::size_t(count), INT32_MIN);
  for (std::size_t i = 0; i < v.size(); ++i) {
    long long c = mapping.Pixel(i) - firstColumn;
    if (c < 0 || c >= count || std::isnan(v[i])) continue;
    int row = axis.ValueToPixel(v[i], height);
    lo[std::size_t(c)] = std::min(lo[std::size_t(c)], row);
    hi[std::size_t(c)] = std::max(hi[std::size_t(c)], row);
  }
  for (int c = 0; c < count; ++c) {
    if (lo[std::size_t(c)] == INT32_MAX) {
      EXPECT_TRUE(columns[std::size_t(c)].Empty()) << "column " << c;
    } else {
      ASSERT_FALSE(columns[std::size_t(c)].Empty()) << "column " << c;
      EXPECT_EQ(columns[std::size_t(c)].Min, lo[std::size_t(c)]) << "column " << c;
      EXPECT_EQ(columns[std::size_t(c)].Max, hi[std::size_t(c)]) << "column " << c;
    }
  }
}

TEST(CurveColumns, MatchBruteForceAtManyScalesAndOffsets) {
  std::mt19937 rng(777);
  std::vector<float> v = SignalWithSpikes(200000, rng);
  for (float& x : v) x = x / 20;  // noise near 2.5, spikes at +-50 on a +-60 axis
  std::uniform_real_distribution<double> scale(0.0005, 0.9);
  std::uniform_real_distribution<double> offset(-500, 500);
  for (int trial = 0; trial < 40; ++trial) {
    TSampleMapping m;
    m.Count = v.size();
    m.PixelsPerSample = scale(rng);
    m.OffsetSamples = trial % 3 == 0 ? 0 : offset(rng);
    long long extent = (long long)(double(v.size()) * m.PixelsPerSample);
    std::uniform_int_distribution<long long> start(-50, std::max(0LL, extent - 100));
    ExpectColumnsMatchBruteForce(v, m, start(rng), 300);
  }
}

TEST(CurveColumns, SpikesSurviveTheFullExtent) {
  std::vector<float> v(3600000, 0.0f);
  v[1234567] = 55.0f;
  v[2345678] = -55.0f;
  TSampleMapping m;
  m.Count = v.size();
  m.PixelsPerSample = 1800.0 / double(v.size());
  ExpectColumnsMatchBruteForce(v, m, 0, 1800);
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  TKscYAxis axis;
  axis.SetRange(0, 60, -60);
  TYPixArray columns;
  ComputeColumns(pyramid, m, axis, 120, 0, 1800, columns);
  int top = 120, bottom = 0;
  for (const TYPix& c : columns) {
    top = std::min<int>(top, c.Min);
    bottom = std::max<int>(bottom, c.Max);
  }
  EXPECT_EQ(top, axis.ValueToPixel(55, 120));
  EXPECT_EQ(bottom, axis.ValueToPixel(-55, 120));
}

TEST(CurveColumns, ExplicitXValuesWithUnevenSpacing) {
  std::mt19937 rng(99);
  std::vector<float> v = SignalWithSpikes(50000, rng);
  for (float& x : v) x = x / 20;
  std::vector<double> xs(v.size());
  std::exponential_distribution<double> gap(1000);
  double x = 3;
  for (double& value : xs) value = (x += gap(rng));
  TSampleMapping m;
  m.Count = v.size();
  m.X = xs.data();
  m.PixelsPerUnit = 40;
  ExpectColumnsMatchBruteForce(v, m, 100, 500);
}

TEST(SampleMapping, FirstAtOrAfterAgreesWithThePixelRule) {
  TSampleMapping m;
  m.Count = 1000;
  m.PixelsPerSample = 0.1;  // ten samples per column; sample 5 rounds up into column 1
  EXPECT_EQ(m.Pixel(4), 0);
  EXPECT_EQ(m.Pixel(5), 1);
  EXPECT_EQ(m.FirstAtOrAfter(1), 5u);
  EXPECT_EQ(m.FirstAtOrAfter(-3), 0u);
  EXPECT_EQ(m.FirstAtOrAfter(1000), 1000u);
  for (long long c = -5; c < 120; ++c) {
    std::size_t i = m.FirstAtOrAfter(c);
    if (i < m.Count) {
      EXPECT_GE(m.Pixel(i), c);
    }
    if (i > 0) {
      EXPECT_LT(m.Pixel(i - 1), c);
    }
  }
}

}  // namespace
}  // namespace qvl
