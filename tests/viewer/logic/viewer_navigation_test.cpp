// Moves between runs and sessions, cursor keys and the cursor read-outs.
#include "viewer/viewer_navigation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/device/ecu_types.h"
#include "viewer/layout_manager.h"
#include "viewer/logic/ride_file.h"

namespace qvl {
namespace {

// Two sessions of two 12 s runs each.
struct Ride {
  TRunDisplay display;
  const TDataLogStore& Store() { return *display.MainSlot().store; }
  Ride() {
    testing::TRideFile r;
    r.sessions = 2;
    r.runSeconds = 12;
    OpenLogFile(display.MainSlot(), testing::WriteRecordRideFile("qvl_navigation.QVLog", r));
    display.SetStrips(StripsFromLayout(DefaultLayout()));
  }
};

TEST(ViewerNavigation, RunsAndSessionsInBothModes) {
  Ride ride;
  const TDataLogStore& store = ride.Store();
  ASSERT_EQ(store.SessionCount(), 2);
  ASSERT_EQ(store.RunCount(), 4);
  EXPECT_EQ(AdjacentRun(store, 1, +1), 2);
  EXPECT_EQ(AdjacentRun(store, 3, +1), -1);
  EXPECT_EQ(AdjacentRun(store, 0, -1), -1);
  EXPECT_EQ(AdjacentSession(store, 1, +1, false), 2);  // the next session's first run
  EXPECT_EQ(AdjacentSession(store, 3, -1, false), 0);
  EXPECT_EQ(AdjacentSession(store, SessionSelection(0), +1, true), SessionSelection(1));
  EXPECT_EQ(AdjacentSession(store, SessionSelection(1), +1, true), SessionSelection(1));

  // All runs of session 0: the cursor walks the runs.
  ride.display.DisplaySelection(SessionSelection(0));
  const TSelectionRange& range = ride.display.Range();
  const int64_t start1 = RunFirstChartSample(store, range, 1);
  const int64_t last1 = RunLastChartSample(store, range, 1);
  EXPECT_EQ(RunLastChartSample(store, range, 0), start1 - 1);
  EXPECT_EQ(last1, ride.display.SampleCount() - 1);
  EXPECT_EQ(RunAtChartSample(store, range, start1 - 1), 0);
  EXPECT_EQ(RunAtChartSample(store, range, start1), 1);
  EXPECT_EQ(NextRunCursorMoves(store, range, 500), (std::vector<int64_t>{last1, start1}));
  EXPECT_TRUE(NextRunCursorMoves(store, range, start1 + 5).empty());
  EXPECT_EQ(PreviousRunCursorMoves(store, range, start1 + 5), (std::vector<int64_t>{start1}));
  EXPECT_EQ(PreviousRunCursorMoves(store, range, start1), (std::vector<int64_t>{0}));
  EXPECT_TRUE(PreviousRunCursorMoves(store, range, 0).empty());
  EXPECT_EQ(ToggledSelection(store, range, start1 + 5, false), 1);
  ride.display.DisplaySelection(3);
  EXPECT_EQ(ToggledSelection(store, ride.display.Range(), 5, true), SessionSelection(1));
}

TEST(ViewerNavigation, CursorKeysSnapToTheStep) {
  EXPECT_EQ(CursorKeyMove(123, 1000, true, false), 130);
  EXPECT_EQ(CursorKeyMove(130, 1000, true, false), 140);
  EXPECT_EQ(CursorKeyMove(123, 1000, false, false), 120);
  EXPECT_EQ(CursorKeyMove(120, 1000, false, false), 110);
  EXPECT_EQ(CursorKeyMove(123, 1000, true, true), 200);
  EXPECT_EQ(CursorKeyMove(123, 1000, false, true), 100);
  EXPECT_EQ(CursorKeyMove(5, 1000, false, false), 0);
  EXPECT_EQ(CursorKeyMove(0, 1000, false, false), -1);  // would leave the data
  EXPECT_EQ(CursorKeyMove(995, 1000, true, false), -1);
}

TEST(ViewerNavigation, ReadOutsAgreeWithTheCurves) {
  Ride ride;
  ride.display.DisplaySelection(1);
  const int64_t c = 4321;
  const TCursorReadout r = CursorReadout(ride.display, c);
  ASSERT_TRUE(r.inside);
  EXPECT_EQ(r.time, "4.32");
  EXPECT_EQ(r.run, "Run\r2/2");
  EXPECT_EQ(r.runLength.rfind("  Run length\r   ", 0), 0u);
  EXPECT_TRUE(r.previousRun);
  EXPECT_TRUE(r.nextRun);
  // Travel in per cent equals the front travel strip's value there (1 ms curve period).
  const TCurveData& travel = ride.display.Chart().strips[0].Curve(0, 0);
  ASSERT_EQ(travel.period, 1);
  const std::string percent = r.frontTravel.substr(r.frontTravel.find(", ") + 2);
  EXPECT_NEAR(std::stod(percent), travel.Values()[size_t(c)], 0.06) << r.frontTravel;
  EXPECT_NE(r.frontTravel.find(" mm, "), std::string::npos);
  const float speed = ride.display.FrontSpeed()[size_t(c / 10)];
  EXPECT_NEAR(std::stod(r.frontSpeed), speed, 0.06) << r.frontSpeed;
  EXPECT_NE(r.frontSpeed.find(" km/h"), std::string::npos);
  EXPECT_NEAR(std::stod(r.frontVelocity), ride.display.FrontVelocity()[size_t(c)] * 1000, 0.6);
  EXPECT_FALSE(r.verticalAccel.empty());
  // Outside the data: the time only, before 0 nothing.
  const TCursorReadout after = CursorReadout(ride.display, ride.display.SampleCount());
  EXPECT_FALSE(after.inside);
  EXPECT_TRUE(after.run.empty());
  EXPECT_TRUE(CursorReadout(ride.display, -5).time.empty());
}

}  // namespace
}  // namespace qvl
