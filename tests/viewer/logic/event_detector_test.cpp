#include "viewer/event_detector.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvl {
namespace {

// Feeds both wheels' speeds (km/h per 10 ms step) through a detector with the default settings
// (ratio 0.6, minimum 10 km/h, maximum deceleration 50 km/h/s) and closes it at the end.
struct LockRun {
  std::vector<float> front, rear;
  TWheelLockDetector detector{0.6f, 10.0f, 50.0f};
  void Run() {
    for (int32_t i = 0; i < int32_t(front.size()); ++i) detector.Step(front.data(), rear.data(), i);
    detector.Finish(int64_t(front.size()) * 10, int32_t(front.size()) - 1);
  }
};

TEST(WheelLock, DecelerationNeedsTwentyStepsOfHistory) {
  LockRun run;
  // Both wheels drop from 100 km/h to 0 within 15 steps: a huge deceleration, but no step has
  // 20 steps before it.
  for (int i = 0; i < 19; ++i) {
    float v = i < 15 ? 100.0f - float(i) * 100 / 15 : 0;
    run.front.push_back(v);
    run.rear.push_back(v);
  }
  run.Run();
  EXPECT_TRUE(run.detector.FrontEvents().empty());
  EXPECT_TRUE(run.detector.RearEvents().empty());
  EXPECT_EQ(TWheelLockDetector::Deceleration(run.front.data(), 19), 0.0);

  // The same fall later on triggers on deceleration: flagged, started 100 ms earlier.
  LockRun late;
  for (int i = 0; i < 40; ++i) {
    float v = i < 25 ? 40.0f : 20.0f;  // 20 km/h lost within one step: (40 - 20) * 5 = 100 km/h/s
    late.front.push_back(v);
    late.rear.push_back(v);
  }
  late.Run();
  ASSERT_EQ(late.detector.FrontEvents().size(), 1u);
  const TEvent& e = late.detector.FrontEvents()[0];
  EXPECT_EQ(int(e.flag), 1);
  EXPECT_EQ(int(e.startIndex), 15);
  EXPECT_DOUBLE_EQ(double(e.start), 0.15);
  // Deceleration stays at 100 until step 45: the data end first, the event is closed there.
  EXPECT_EQ(int(e.endIndex), 39);
  EXPECT_DOUBLE_EQ(double(e.duration), (400 - 1) / 1000.0 - 0.15);
  EXPECT_EQ(late.detector.RearEvents().size(), 1u);
}

TEST(WheelLock, RatioEventsMergeOnlyOnceTwoExist) {
  LockRun run;
  // The front wheel slows to 17.5 km/h while the rear rolls at 30 (30 * 0.6 = 18 > 17.5) during
  // steps 10-14, 20-24 and 30-34, and rolls at 25 otherwise; the slowing is too gentle to count as
  // a deceleration ((25 - 17.5) * 5 = 37.5 km/h/s).
  run.rear.assign(60, 30.0f);
  for (int i = 0; i < 60; ++i) {
    bool locked = (i >= 10 && i < 15) || (i >= 20 && i < 25) || (i >= 30 && i < 35);
    run.front.push_back(locked ? 17.5f : 25.0f);
  }
  run.Run();
  const TEventArray& f = run.detector.FrontEvents();
  ASSERT_EQ(f.size(), 2u);
  // The second event starts 6 steps after the first ended but is not merged into it.
  EXPECT_EQ(int(f[0].startIndex), 10);
  EXPECT_EQ(int(f[0].endIndex), 14);
  EXPECT_DOUBLE_EQ(double(f[0].duration), 0.05);
  EXPECT_EQ(int(f[0].flag), 0);
  // The third one (20 - 10 < 24) is: the second event goes on until the third ends.
  EXPECT_EQ(int(f[1].startIndex), 20);
  EXPECT_DOUBLE_EQ(double(f[1].start), 0.20);
  EXPECT_EQ(int(f[1].endIndex), 34);
  EXPECT_DOUBLE_EQ(double(f[1].duration), 0.35 - 0.20);
  EXPECT_TRUE(run.detector.RearEvents().empty());
}

TEST(WheelLock, NeedsMinimumSpeedAndEndsWithHysteresis) {
  LockRun slow;
  slow.front.assign(30, 2.0f);
  slow.rear.assign(30, 9.0f);  // 9 * 0.6 > 2 but the rear is below 10 km/h
  slow.Run();
  EXPECT_TRUE(slow.detector.FrontEvents().empty());

  // The rear wheel locks (front 30, rear 10) and stays so until the end.
  LockRun rear;
  rear.front.assign(50, 30.0f);
  rear.rear.assign(50, 30.0f);
  for (int i = 30; i < 50; ++i) rear.rear[size_t(i)] = 16.0f;  // decel 70: flagged
  rear.Run();
  ASSERT_EQ(rear.detector.RearEvents().size(), 1u);
  const TEvent& e = rear.detector.RearEvents()[0];
  EXPECT_EQ(int(e.flag), 1);
  EXPECT_EQ(int(e.startIndex), 20);
  EXPECT_EQ(int(e.endIndex), 49);
  EXPECT_DOUBLE_EQ(double(e.duration), 0.499 - 0.20);
  EXPECT_TRUE(rear.detector.FrontEvents().empty());
}

TEST(Bottoming, SoftHardAndHysteresis) {
  TBottomingDetector d(0.8f, 0.9f);
  // Travel steps 5 ms apart.
  const double r[] = {0.5, 0.81, 0.85, 0.75, 0.71, 0.69, 0.5, 0.95, 0.5, 0.85};
  for (int j = 0; j < 10; ++j) d.Step(r[j], int64_t(j) * 5, j);
  d.Finish(50, 9);
  const TEventArray& e = d.Events();
  ASSERT_EQ(e.size(), 3u);
  // Starts above the soft limit, stays open down to 0.7 and closes below it.
  EXPECT_EQ(int(e[0].startIndex), 1);
  EXPECT_DOUBLE_EQ(double(e[0].start), 0.005);
  EXPECT_EQ(int(e[0].endIndex), 4);
  EXPECT_DOUBLE_EQ(double(e[0].duration), 0.025 - 0.005);
  EXPECT_EQ(int(e[0].flag), 0);
  EXPECT_EQ(int(e[1].flag), 1);
  EXPECT_EQ(int(e[1].startIndex), 7);
  EXPECT_EQ(int(e[1].endIndex), 7);
  // Still open at the end: closed at the last sample.
  EXPECT_EQ(int(e[2].startIndex), 9);
  EXPECT_EQ(int(e[2].endIndex), 9);
  EXPECT_DOUBLE_EQ(double(e[2].duration), 0.049 - 0.045);
}

TEST(Bottoming, HardLimitReachedLaterSetsTheFlag) {
  TBottomingDetector d(0.8f, 0.9f);
  const double r[] = {0.85, 0.92, 0.6};
  for (int j = 0; j < 3; ++j) d.Step(r[j], j, j);
  d.Finish(3, 2);
  ASSERT_EQ(d.Events().size(), 1u);
  EXPECT_EQ(int(d.Events()[0].flag), 1);
  EXPECT_EQ(sizeof(TEvent), 25u);
}

}  // namespace
}  // namespace qvl
