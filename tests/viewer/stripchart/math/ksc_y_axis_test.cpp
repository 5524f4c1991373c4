#include "viewer/stripchart/ksc_y_axis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qvl {
namespace {

TEST(KscYAxis, EqualTopAndBottomAreWidenedToAThousandth) {
  TKscYAxis axis;
  axis.SetRange(0, 5, 5);
  EXPECT_DOUBLE_EQ(axis.Bottom(), 5);
  EXPECT_DOUBLE_EQ(axis.Top(), 5.001);
  EXPECT_GT(axis.Step(), 0);
  EXPECT_FALSE(axis.TickPixels().empty());
}

TEST(KscYAxis, ChosenStepPutsTicksAtLeast25PixelsApart) {
  TKscYAxis axis;
  axis.SetHeight(200);
  axis.SetRange(0, 100, 0);
  // Candidates from 1: 1, 2, 5, 10, 20 -> 200 * 20 / 100 = 40 px (10 gives 20 px).
  EXPECT_DOUBLE_EQ(axis.Step(), 20);
  EXPECT_EQ(axis.FirstTick(), 0);
  ASSERT_EQ(axis.TickPixels().size(), 6u);
  EXPECT_EQ(axis.TickPixels()[0], 0);
  EXPECT_EQ(axis.TickPixels()[1], 40);
  EXPECT_EQ(axis.TickPixels()[5], 200);
  EXPECT_EQ(axis.Decimals(), 0);
  for (std::size_t k = 1; k < axis.TickPixels().size(); ++k)
    EXPECT_GE(axis.TickPixels()[k] - axis.TickPixels()[k - 1], 25);
}

TEST(KscYAxis, DecimalsFollowTheStep) {
  TKscYAxis axis;
  axis.SetHeight(100);
  axis.SetRange(0, 1, 0);  // step 0.5 (0.1, 0.2 too close)
  EXPECT_DOUBLE_EQ(axis.Step(), 0.5);
  EXPECT_EQ(axis.Decimals(), 1);
  axis.SetRange(0, 0.02, 0);  // 0.001 and 0.002 too close, 0.005 gives 25 px
  EXPECT_DOUBLE_EQ(axis.Step(), 0.005);
  EXPECT_EQ(axis.Decimals(), 3);
  axis.SetRange(0, 2000, 0);
  EXPECT_DOUBLE_EQ(axis.Step(), 500);
  EXPECT_EQ(axis.Decimals(), 0);
}

TEST(KscYAxis, InvertedAxisHasNegativeStepAndTicksCountedFromTheBottom) {
  TKscYAxis axis;
  axis.SetHeight(200);
  axis.SetRange(0, 0, 100);  // top 0, bottom 100: 0 is drawn at the top
  EXPECT_TRUE(axis.Inverted());
  EXPECT_DOUBLE_EQ(axis.Step(), -20);
  ASSERT_EQ(axis.TickPixels().size(), 6u);
  EXPECT_EQ(axis.TickPixels().front(), 0);  // value 100 at the bottom
  EXPECT_DOUBLE_EQ(axis.TickValue(0), 100);
  EXPECT_EQ(axis.TickPixels().back(), 200);  // value 0 at the top
  EXPECT_EQ(axis.ValueToPixel(0, 200), 0);
  EXPECT_EQ(axis.ValueToPixel(100, 200), 199);
  EXPECT_EQ(axis.ValueToPixel(25, 200), 50);
}

TEST(KscYAxis, GivenStepIsKeptAndFollowsTheDirection) {
  TKscYAxis axis;
  axis.SetHeight(100);
  axis.SetRange(0.25, 1, 0);
  EXPECT_DOUBLE_EQ(axis.Step(), 0.25);
  EXPECT_FALSE(axis.AutoStep());
  EXPECT_EQ(axis.TickPixels().size(), 5u);
  axis.SetRange(0.25, 0, 1);
  EXPECT_DOUBLE_EQ(axis.Step(), -0.25);
}

TEST(KscYAxis, ValueToPixelIsLimitedToTheBand) {
  TKscYAxis axis;
  axis.SetRange(0, 10, 0);
  EXPECT_EQ(axis.ValueToPixel(10, 100), 0);
  EXPECT_EQ(axis.ValueToPixel(0, 100), 99);
  EXPECT_EQ(axis.ValueToPixel(5, 100), 50);
  EXPECT_EQ(axis.ValueToPixel(1e30, 100), 0);
  EXPECT_EQ(axis.ValueToPixel(-1e30, 100), 99);
  EXPECT_EQ(axis.ValueToPixel(NAN, 100), 0);
}

TEST(KscYAxis, ZoomModesKeepBottomTopOrMiddle) {
  TKscYAxis axis;
  axis.SetRange(0, 10, 2);
  axis.ZoomY(0, true, 0.5);
  EXPECT_DOUBLE_EQ(axis.Bottom(), 2);
  EXPECT_DOUBLE_EQ(axis.Top(), 6);
  axis.ZoomY(1, true, 2);
  EXPECT_DOUBLE_EQ(axis.Top(), 6);
  EXPECT_DOUBLE_EQ(axis.Bottom(), -2);
  axis.ZoomY(2, true, 0.5);
  EXPECT_DOUBLE_EQ(axis.Top(), 4);
  EXPECT_DOUBLE_EQ(axis.Bottom(), 0);
}

TEST(KscYAxis, HeightChangeRechoosesAnAutomaticStepOnly) {
  TKscYAxis axis;
  axis.SetHeight(100);
  axis.SetRange(0, 100, 0);
  EXPECT_DOUBLE_EQ(axis.Step(), 50);
  axis.SetHeight(400);
  EXPECT_DOUBLE_EQ(axis.Step(), 10);
  auto generation = axis.Generation();
  axis.SetRange(5, 100, 0);
  EXPECT_GT(axis.Generation(), generation);
  axis.SetHeight(100);
  EXPECT_DOUBLE_EQ(axis.Step(), 5);
  EXPECT_EQ(axis.TickPixels()[1], 5);
}

TEST(KscYAxis, MoveRangeKeepsTheStep) {
  TKscYAxis axis;
  axis.SetHeight(100);
  axis.SetRange(0, 1, 0);
  double step = axis.Step();
  axis.MoveRange(1.125, 0.125);
  EXPECT_DOUBLE_EQ(axis.Step(), step);
  EXPECT_DOUBLE_EQ(axis.Top(), 1.125);
}

TEST(KscYAxis, UnusableInputDoesNotHangOrBreakTheAxis) {
  TKscYAxis axis;
  axis.SetHeight(1);  // no step of at most five spans gives 25 px on one pixel
  axis.SetRange(0, 10, 0);
  EXPECT_GT(axis.Step(), 0);
  EXPECT_LE(axis.Step(), 50);
  axis.SetHeight(100);
  axis.SetRange(0, NAN, 0);
  EXPECT_DOUBLE_EQ(axis.Top(), 10);
  axis.SetRange(0, INFINITY, 0);
  EXPECT_DOUBLE_EQ(axis.Top(), 10);
  axis.SetRange(1e-12, 10, 0);  // far too many ticks: the axis chooses its step
  EXPECT_LE(axis.TickPixels().size(), 20u);
  axis.SetRange(0, 1e9 + 0.001, 1e9);  // far from zero, tiny span
  EXPECT_FALSE(axis.TickPixels().empty());
}

}  // namespace
}  // namespace qvl
