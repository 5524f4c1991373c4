// The chart's channel menu and what its items do to the strip list.
#include "viewer/channel_menu.h"

#include <gtest/gtest.h>

#include "core/device/ecu_types.h"
#include "viewer/layout_manager.h"
#include "viewer/logic/ride_file.h"
#include "viewer/run_display.h"

namespace qvl {
namespace {

struct LoadedRide {
  TFileSlot slot;
  LoadedRide() { OpenLogFile(slot, testing::WriteRideFile("qvl_channel_menu.QVLog")); }
};

std::vector<std::string> Captions(const std::vector<TMenuItem>& items, bool visibleOnly = true) {
  std::vector<std::string> out;
  for (const TMenuItem& i : items)
    if (i.visible || !visibleOnly) out.push_back(i.caption);
  return out;
}

TEST(ChannelMenu, ItemsFollowWhereItPopsAndWhatIsLogged) {
  LoadedRide ride;
  TStripList strips = StripsFromLayout(DefaultLayout());
  strips[1].superposed.push_back(TDisplayEntry{kParamFrontTravel, kUnitPercent, 0, 0, 0});
  strips[1].main.smoothing = 30;
  TMenuContext c{ride.slot.controller.get(), ride.slot.store.get(), false, -1, &strips};

  const auto button = BuildChannelMenu(c);
  const std::vector<std::string> channels = {"Front accel. (g)",
                                             "Lateral accel. (g)",
                                             "Vertical accel. (g)",
                                             "Front speed",
                                             "Rear speed",
                                             "Front travel",
                                             "Rear travel",
                                             "Heading (deg.)",
                                             "Elevation (deg.)",
                                             "Bank (deg.)",
                                             "Custom",
                                             "Front susp. velocity",
                                             "Rear susp. velocity"};
  std::vector<std::string> want = {"View all logged channels"};
  want.insert(want.end(), channels.begin(), channels.end());
  EXPECT_EQ(Captions(button), want);
  EXPECT_EQ(FindMenuItem(button, kParamFrontAccel)->tag, kParamFrontAccel);
  // Units as sub-items tagged with the unit code; the custom channel of the file, tag 64 + n.
  const TMenuItem* speed = FindMenuItem(button, kParamFrontSpeed);
  EXPECT_EQ(Captions(speed->items), (std::vector<std::string>{"tps", "m/s", "km/h"}));
  EXPECT_EQ(speed->items[2].tag, kUnitKmh);
  const TMenuItem* custom = FindMenuItem(button, kParamCustom);
  ASSERT_EQ(custom->items.size(), 1u);
  EXPECT_EQ(custom->items[0].caption, "Brake (bar)");
  EXPECT_EQ(custom->items[0].tag, 64);
  EXPECT_TRUE(custom->items[0].enabled);
  EXPECT_TRUE(FindMenuItem(button, kParamRearTravel)->enabled);
  // Without a file the custom channels are not logged.
  c.store = nullptr;
  EXPECT_FALSE(FindMenuItem(BuildChannelMenu(c), kParamCustom)->enabled);
  c.store = ride.slot.store.get();

  // Over the chart, on the second strip of four.
  c.overChart = true;
  c.strip = 1;
  const auto chart = BuildChannelMenu(c);
  want = {"Remove", "Move up", "Move down", "Export...", "Superpose", "Smoothing"};
  want.insert(want.end(), channels.begin(), channels.end());
  EXPECT_EQ(Captions(chart), want);
  EXPECT_TRUE(FindMenuItem(chart, kMenuMoveUp)->enabled);
  const TMenuItem* superpose = FindMenuItem(chart, kMenuSuperpose);
  EXPECT_EQ(Captions(superpose->items),
            (std::vector<std::string>{"Remove existing", "Front travel"}));
  const TMenuItem* smoothing = FindMenuItem(chart, kMenuSmoothing);
  EXPECT_EQ(Captions(smoothing->items),
            (std::vector<std::string>{"Less (10 ms)", "More (50 ms)", "Other..."}));
  // First strip: no "Move up"; below the last strip: none of the strip items.
  c.strip = 0;
  EXPECT_FALSE(FindMenuItem(BuildChannelMenu(c), kMenuMoveUp)->enabled);
  EXPECT_TRUE(FindMenuItem(BuildChannelMenu(c), kMenuMoveDown)->enabled);
  EXPECT_FALSE(FindMenuItem(BuildChannelMenu(c), kMenuLess)->enabled);  // no smoothing yet
  c.strip = -1;
  for (int tag : {kMenuRemove, kMenuMoveUp, kMenuMoveDown, kMenuSuperpose, kMenuSmoothing})
    EXPECT_FALSE(FindMenuItem(BuildChannelMenu(c), tag)->enabled) << tag;
}

TEST(ChannelMenu, EditsOfTheStripList) {
  LoadedRide ride;
  const TStripList all = AllLoggedStrips(*ride.slot.controller, *ride.slot.store);
  std::vector<int> channels;
  for (const TStrip& s : all) channels.push_back(s.main.channel * 100 + s.main.unit);
  EXPECT_EQ(channels,
            (std::vector<int>{kParamFrontTravel * 100 + kUnitPercent,
                              kParamRearTravel * 100 + kUnitPercent,
                              kParamVerticalAccel * 100 + kUnitG, kParamFrontAccel * 100 + kUnitG,
                              kParamLateralAccel * 100 + kUnitG, kParamCustom * 100 + 64}));

  TStripList strips = StripsFromLayout(DefaultLayout());
  SuperposeChannel(strips, 0, kParamRearTravel);
  ASSERT_EQ(strips[0].superposed.size(), 1u);
  EXPECT_EQ(strips[0].superposed[0].unit, kUnitPercent);
  // Replacing a strip's channel drops what was superposed; without a strip a new one is added.
  EXPECT_EQ(ChooseChannel(strips, 0, kParamFrontSpeed, kUnitMps), 0);
  EXPECT_EQ(strips[0].main.channel, kParamFrontSpeed);
  EXPECT_EQ(strips[0].main.unit, kUnitMps);
  EXPECT_TRUE(strips[0].superposed.empty());
  EXPECT_EQ(ChooseChannel(strips, -1, kParamRearSuspVelocity, -1), 4);
  EXPECT_EQ(strips[4].main.unit, kUnitMps);  // the first unit
  // Moving swaps neighbours with what is superposed on them, never past the ends.
  SuperposeChannel(strips, 1, kParamFrontTravel);
  EXPECT_TRUE(MoveStrip(strips, 1, -1));
  EXPECT_EQ(strips[0].main.channel, kParamRearTravel);
  EXPECT_EQ(strips[0].superposed.size(), 1u);
  EXPECT_EQ(strips[1].main.channel, kParamFrontSpeed);
  EXPECT_FALSE(MoveStrip(strips, 0, -1));
  EXPECT_FALSE(MoveStrip(strips, 4, +1));
}

}  // namespace
}  // namespace qvl
