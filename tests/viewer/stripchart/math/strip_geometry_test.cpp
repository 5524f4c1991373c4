#include "viewer/stripchart/strip_geometry.h"

#include <gtest/gtest.h>

#include <numeric>

namespace qvl {
namespace {

TEST(ZoomStartPixel, KeepsTheChosenEdgeInPlace) {
  const int width = 1000;
  // The x at the left edge is start / ppu; after zooming by f it must be the same x.
  EXPECT_EQ(ZoomStartPixel(kZoomKeepLeft, 700, width, 0.7), 1000);
  EXPECT_EQ(ZoomStartPixel(kZoomKeepLeft, 1400, width, 1.4), 1000);
  // Right edge: (start + width) / f - width.
  EXPECT_EQ(ZoomStartPixel(kZoomKeepRight, 400, width, 0.7), 1000);
  // Middle: (start + width / 2) / f - width / 2.
  EXPECT_EQ(ZoomStartPixel(kZoomKeepMiddle, 200, width, 0.7), 500);
  EXPECT_EQ(ZoomStartPixel(kZoomKeepLeft, 123, width, 0), 123);
}

TEST(KeepPointStartPixel, ThePointUnderTheMouseStays) {
  // 100 px per unit, start 500, mouse 250 px into the plot: x = 7.5 units.
  long long start = KeepPointStartPixel(500, 250, 100, 1000);
  EXPECT_EQ(start + 250, 7500);
}

TEST(ScrollBarSetup, PositionsFitSixteenBitsAndReachTheEnd) {
  EXPECT_EQ(ScrollDivisor(0), 1);
  EXPECT_EQ(ScrollDivisor(32759), 1);
  EXPECT_EQ(ScrollDivisor(32760), 2);
  EXPECT_EQ(ScrollDivisor(360000), 11);

  TScrollBarSetup fits = ScrollBarSetup(800, 1000);
  EXPECT_EQ(fits.Maximum, 0);

  TScrollBarSetup small = ScrollBarSetup(5000, 1000);
  EXPECT_EQ(small.Divisor, 1);
  EXPECT_EQ(small.PageStep, 1000);
  EXPECT_EQ(small.Maximum, 5000 + 200 - 1000);

  // Long curves: the last thumb position still shows the end of the curves, one fifth of the
  // plot before the right edge, whatever the divisor.
  for (long long extent : {40000LL, 360000LL, 3600000LL}) {
    TScrollBarSetup s = ScrollBarSetup(extent, 1800);
    EXPECT_LE(s.Maximum, 32767);
    long long lastStart = (long long)s.Maximum * s.Divisor;
    EXPECT_GE(lastStart + 1800, extent) << extent;
    EXPECT_LE(lastStart + 1800, extent + 1800 / 5 + s.Divisor) << extent;
  }
  EXPECT_EQ(ScrollLineStep(1000), 51);
  EXPECT_EQ(ScrollPageStep(1000), 950);
}

TEST(LayoutBands, HeightIsSharedByWeightAndTheLastBandTakesTheRest) {
  auto bands = LayoutBands({1, 2, 1}, 29, 429);
  ASSERT_EQ(bands.size(), 3u);
  EXPECT_EQ(bands[0], std::make_pair(29, 129));
  EXPECT_EQ(bands[1], std::make_pair(129, 329));
  EXPECT_EQ(bands[2], std::make_pair(329, 429));
  auto odd = LayoutBands({1, 1, 1}, 0, 100);
  EXPECT_EQ(odd[0].second, odd[1].first);
  EXPECT_EQ(odd[2].second, 100);
  EXPECT_TRUE(LayoutBands({}, 0, 100).empty());
  auto zero = LayoutBands({0, 0}, 0, 100);
  EXPECT_EQ(zero[1].second, 100);
  EXPECT_LE(zero[0].first, zero[0].second);
}

TEST(ResizeBandWeights, DraggedEdgeFollowsTheMouseAndTheRestKeepsItsShares) {
  // Three bands of 100 px in a plot from 0 to 300; drag the first edge from 100 to 160.
  auto w = ResizeBandWeights({1, 1, 1}, 0, 160, 0, 100, 0, 300);
  EXPECT_FLOAT_EQ(w[0], 1.6f);
  EXPECT_FLOAT_EQ(w[1], 0.7f);
  EXPECT_FLOAT_EQ(w[2], 0.7f);
  auto bands = LayoutBands(w, 0, 300);
  EXPECT_EQ(bands[0].second, 160);
  EXPECT_EQ(bands[1].second - bands[1].first, bands[2].second - bands[2].first);
  // The last band has no draggable edge; a drag past the plot keeps every band visible.
  EXPECT_EQ(ResizeBandWeights({1, 1}, 1, 50, 0, 100, 0, 200), (std::vector<float>{1, 1}));
  auto squeezed = ResizeBandWeights({1, 1, 1}, 0, 1000, 0, 100, 0, 300, 4);
  auto b = LayoutBands(squeezed, 0, 300);
  for (auto& band : b) EXPECT_GE(band.second - band.first, 4);
}

TEST(CursorPlacement, InsideEdgesAndParked) {
  // Plot columns 75 .. 1074 (right exclusive 1075).
  EXPECT_EQ(CursorSpan(500, 75, 1075), TCursorSpan::Full);
  EXPECT_EQ(CursorSpan(75, 75, 1075), TCursorSpan::BelowOnly);
  EXPECT_EQ(CursorSpan(1074, 75, 1075), TCursorSpan::BelowOnly);
  EXPECT_EQ(CursorSpan(74, 75, 1075), TCursorSpan::None);
  EXPECT_EQ(CursorSpan(1075, 75, 1075), TCursorSpan::None);
  EXPECT_EQ(CursorButtonLeft(500, 75, 1075), 488);
  EXPECT_EQ(CursorButtonLeft(74, 75, 1075), -32);
  EXPECT_EQ(CursorButtonLeft(5000, 75, 1075), -32);
}

TEST(ScrollToShow, BringsTheCursorBackWithItsMargin) {
  EXPECT_EQ(ScrollToShow(1500, 1000, 1000, 0, 0.2), 1000);  // in view
  // Past the right edge: 20 % of the width inside it.
  long long start = ScrollToShow(2500, 1000, 1000, 0, 0.2);
  EXPECT_EQ(2500 - start, 1000 - 1 - 200);
  // Past the left edge: at the edge.
  EXPECT_EQ(ScrollToShow(900, 1000, 1000, 0, 0.2), 900);
  EXPECT_EQ(ScrollToShow(900, 1000, 1000, 0.1, 0.2), 800);
}

TEST(BookmarkAt, NearATabOnly) {
  std::vector<long long> columns = {200, 210, 600};
  EXPECT_EQ(BookmarkAt(columns, 205, 35, 29, 500), 0);  // nearer to 200? tie goes to first
  EXPECT_EQ(BookmarkAt(columns, 208, 35, 29, 500), 1);
  EXPECT_EQ(BookmarkAt(columns, 606, 490, 29, 500), 2);
  EXPECT_EQ(BookmarkAt(columns, 607, 490, 29, 500), -1);  // 7 px away
  EXPECT_EQ(BookmarkAt(columns, 600, 250, 29, 500), -1);  // middle of the plot
  EXPECT_EQ(BookmarkAt({}, 600, 30, 29, 500), -1);
}

TEST(ViewIndexRange, SamplesInViewClampedToTheData) {
  // 0.5 px per sample, start 100 px: samples 200 .. (100 + 1000 + 1) / 0.5 = 2202.
  auto r = ViewIndexRange(100, 1000, 0.5, 0, 10000);
  EXPECT_EQ(r.first, 200);
  EXPECT_EQ(r.second, 2202);
  auto end = ViewIndexRange(4900, 1000, 0.5, 0, 10000);
  EXPECT_EQ(end.second, 9999);
  auto shifted = ViewIndexRange(0, 100, 1, 50, 1000);
  EXPECT_EQ(shifted.first, 50);
  EXPECT_EQ(shifted.second, 151);
  auto empty = ViewIndexRange(0, 100, 1, 0, 0);
  EXPECT_GT(empty.first, empty.second);
}

}  // namespace
}  // namespace qvl
