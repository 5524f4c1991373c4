// The simulated test ride as the viewer reads it: the wheels give the speed the ride rolls at.
#include <gtest/gtest.h>

#include <cmath>

#include "core/device/ecu_types.h"
#include "viewer/logic/ride_file.h"
#include "viewer/logic/viewer_test_util.h"
#include "viewer/run_display.h"

namespace qvl {
namespace {

TEST(SimulatedRide, WheelSpeedsAreTheSpeedTheRideRollsAt) {
  TRunDisplay display;
  OpenLogFile(display.MainSlot(), testing::WriteRideFile("qvl_viewer_ride_speed.QVLog"));
  display.SetStrips({testing::StripOf(kParamFrontSpeed, kUnitKmh)});
  display.DisplaySelection(0);
  // 25 km/h swinging by 15 km/h over about two minutes; the front wheel locks from 10.01 s to
  // 11.5 s and keeps showing its last speed meanwhile, as a logger's wheel does.
  for (double t : {2.0, 9.0, 15.0, 29.0}) {
    const double kmh = 25 + 15 * std::sin(t * 1000 / 20000);
    const auto step = size_t(t * 100);
    ASSERT_LT(step, display.RearSpeed().size());
    EXPECT_NEAR(display.FrontSpeed()[step], kmh, 1.0) << t;
    EXPECT_NEAR(display.RearSpeed()[step], kmh, 1.0) << t;
  }
}

}  // namespace
}  // namespace qvl
