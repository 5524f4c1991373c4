#include "viewer/stripchart/time_axis.h"

#include <gtest/gtest.h>

namespace qvl {
namespace {

// The step for a scale given as pixels per second; 100 pixels span s = 100 / ppu seconds.
double StepAt(double pixelsPerSecond) {
  return TimeAxisStep(pixelsPerSecond).Step;
}

TEST(TimeAxisStep, FollowsTheSpanOfOneHundredPixels) {
  EXPECT_DOUBLE_EQ(StepAt(10), 10);       // s = 10: 1-2-5 series in seconds
  EXPECT_DOUBLE_EQ(StepAt(1), 120);       // s = 100: m = 1 minute -> 2 minutes
  EXPECT_DOUBLE_EQ(StepAt(0.01), 18000);  // s = 10000 = 2.78 h -> 5 h
}

TEST(TimeAxisStep, WholeSecondsAndMinutesBetweenTwentySecondsAndAnHour) {
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 20), 30);  // m = 20 is not below 20 -> 30 s
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 25), 30);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 29.95), 60);  // m = trunc(30.05) = 30 -> 60 s
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 45), 60);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 61), 120);     // m = 1 -> 2 minutes
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 400), 600);    // m = 6 -> 10 minutes
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 3600), 3600);  // m = 60 -> 60 minutes
}

TEST(TimeAxisStep, OneTwoFiveSeriesBelowTwentySecondsAndAboveAnHour) {
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 0.013), 0.02);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 0.3), 0.5);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 1.0), 1);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 1.5), 2);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 19), 20);
  EXPECT_DOUBLE_EQ(StepAt(100.0 / 3700), 7200);  // 1.03 h -> 2 h
}

TEST(TimeAxisStep, DecimalsFollowTheStep) {
  EXPECT_EQ(TimeAxisStep(100.0 / 0.005).Decimals, 3);
  EXPECT_EQ(TimeAxisStep(100.0 / 0.05).Decimals, 2);
  EXPECT_EQ(TimeAxisStep(100.0 / 0.5).Decimals, 1);
  EXPECT_EQ(TimeAxisStep(10).Decimals, 0);
  EXPECT_EQ(TimeAxisStep(1).Decimals, 0);             // 120 s
  EXPECT_EQ(TimeAxisStep(100.0 / 400).Decimals, -1);  // 600 s
  EXPECT_EQ(TimeAxisStep(0.01).Decimals, -2);         // 5 h
  EXPECT_EQ(TimeLabelDecimals(3590), -2);
  EXPECT_EQ(TimeLabelDecimals(599), -1);
}

TEST(TimeAxisStep, DegenerateScalesStillGiveAStep) {
  EXPECT_GT(StepAt(0), 0);
  EXPECT_GT(StepAt(1e-300), 0);
  EXPECT_GT(StepAt(1e300), 0);
}

TEST(FormatTimeLabel, ExamplesOfTheViewer) {
  EXPECT_EQ(FormatTimeLabel(5, 1), "0m05.0s");
  EXPECT_EQ(FormatTimeLabel(3725, -1), "1h02m");
  EXPECT_EQ(FormatTimeLabel(0, 0), "0m00s");
  EXPECT_EQ(FormatTimeLabel(75, 0), "1m15s");
  EXPECT_EQ(FormatTimeLabel(3605, 0), "1h00m05s");
  EXPECT_EQ(FormatTimeLabel(0.125, 3), "0m00.125s");
  EXPECT_EQ(FormatTimeLabel(12.5, 1), "0m12.5s");
}

TEST(FormatTimeLabel, HoursOnlyWhenMinutesAreZeroOnTheCoarsestScale) {
  EXPECT_EQ(FormatTimeLabel(7200, -2), "2h");
  EXPECT_EQ(FormatTimeLabel(7800, -2), "2h10m");
  EXPECT_EQ(FormatTimeLabel(600, -1), "10m");
  EXPECT_EQ(FormatTimeLabel(7200, -1), "2h00m");
}

TEST(FormatTimeLabel, TimesJustBelowAFullMinuteOrHourRoundIntoIt) {
  EXPECT_EQ(FormatTimeLabel(59.97, 1), "1m00.0s");
  EXPECT_EQ(FormatTimeLabel(59.94, 1), "0m59.9s");
  // Whole seconds: 59.7 s reads as the next minute, never as "0m60s".
  EXPECT_EQ(FormatTimeLabel(59.7, 0), "1m00s");
  EXPECT_EQ(FormatTimeLabel(69.7, 0), "1m10s");
  // A grid step of 0.05 s: 59.95 s stays in its minute.
  EXPECT_EQ(FormatTimeLabel(59.95, 2), "0m59.95s");
  // 59 min 55 s on a 5 s grid stays before the hour.
  EXPECT_EQ(FormatTimeLabel(3595, 0), "59m55s");
  EXPECT_EQ(FormatTimeLabel(3599.96, 1), "1h00m00.0s");
}

TEST(FormatTimeLabel, NegativeTimesCarryASign) {
  EXPECT_EQ(FormatTimeLabel(-5, 1), "-0m05.0s");
  EXPECT_EQ(FormatTimeLabel(-0.01, 1), "0m00.0s");
}

}  // namespace
}  // namespace qvl
