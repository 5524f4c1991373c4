#include "viewer/overlay_slots.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "viewer/export_selection.h"
#include "viewer/logic/ride_file.h"
#include "viewer_test_util.h"

namespace qvl {
namespace {

using testing::MakeController;
using testing::MakeStore;
using testing::StripOf;

// A display whose main file shows front travel, with an overlay slot of three runs.
struct OverlayFixture {
  TRunDisplay display;
  OverlayFixture() {
    display.MainSlot().controller = MakeController();
    display.MainSlot().store = MakeStore(
        testing::Ticks(0, 12000), [](int32_t t, TLogRecord& r) { r.values[0] = int16_t(t % 900); });
    display.MainSlot().path = "/rides/main.QVLog";
    display.SetStrips({StripOf(kParamFrontTravel, FirstUnit(kParamFrontTravel))});
    display.DisplaySelection(0);
    auto slot = std::make_unique<TFileSlot>();
    slot->controller = MakeController();
    std::vector<int32_t> ticks;
    for (int run = 0; run < 3; ++run)
      for (int32_t t : testing::Ticks(run * 20000, 12000)) ticks.push_back(t);
    slot->store = MakeStore(
        ticks, [](int32_t t, TLogRecord& r) { r.values[0] = int16_t(100 + 300 * (t / 20000)); });
    slot->path = "/rides/other.QVLog";
    display.AddSlot(std::move(slot));
  }
};

TEST(OverlaySlots, RunsStepWithinTheFileAndTheButtonsFollow) {
  OverlayFixture f;
  ASSERT_EQ(f.display.Slot(1).store->RunCount(), 3);
  auto buttons = OverlayButtons(f.display, 1);
  EXPECT_TRUE(buttons.next && !buttons.previous && buttons.remove);
  EXPECT_FALSE(OverlayButtons(f.display, 0).remove) << "the main file cannot be removed";

  ShowOverlayRun(f.display, 1, 0);
  const TCurveData& curve = f.display.Chart().strips[0].Curve(1, 0);
  ASSERT_FALSE(curve.Values().empty());
  const float first = curve.Values().back();
  ShowOverlayRun(f.display, 1, 1);
  const float second = curve.Values().back();
  ShowOverlayRun(f.display, 1, 2);
  EXPECT_EQ(f.display.Slot(1).selection, 2);
  buttons = OverlayButtons(f.display, 1);
  EXPECT_TRUE(!buttons.next && buttons.previous);
  ASSERT_FALSE(curve.Values().empty());
  EXPECT_NE(second, first);
  EXPECT_FLOAT_EQ(curve.Values().back() - first, 2 * (second - first))
      << "each run of the overlay is drawn alone, from its own first sample";
  EXPECT_EQ(curve.colour, CurveColour(1, 0));
  ShowOverlayRun(f.display, 1, 3);  // beyond its runs: nothing changes
  EXPECT_EQ(f.display.Slot(1).selection, 2);
}

TEST(OverlaySlots, AFileThatFailsToLoadKeepsItsSlotAndRaises) {
  OverlayFixture f;
  EXPECT_ANY_THROW(LoadOverlay(f.display, "/nonexistent/ride.QVLog"));
  ASSERT_EQ(f.display.SlotCount(), 3);
  EXPECT_EQ(f.display.Slot(2).path, "/nonexistent/ride.QVLog");
  EXPECT_EQ(f.display.Chart().strips[0].curves.size(), 3u) << "the strips have its curve";
}

TEST(OverlaySlots, ALoadReportsRisingProgressAndAStopTakesItsSlotAway) {
  const std::string ride = testing::WriteRideFile("overlay_progress.QVLog");
  OverlayFixture f;
  std::vector<uint64_t> seen;
  const int k = LoadOverlay(f.display, ride, [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, 1000u);
    seen.push_back(done);
    return true;
  });
  EXPECT_EQ(k, 2);
  ASSERT_GT(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 1000u);
  EXPECT_FALSE(f.display.Chart().strips[0].Curve(2, 0).Values().empty());

  // Stopped while drawing: the slot and its curves are gone again.
  EXPECT_THROW(LoadOverlay(f.display, ride, [](uint64_t done, uint64_t) { return done < 500; }),
               ELoadStopped);
  EXPECT_EQ(f.display.SlotCount(), 3);
  EXPECT_EQ(f.display.Chart().strips[0].curves.size(), 3u);
}

TEST(ExportSelection, VisibleEdgesStayInsideTheDataAndTheTitleIsTheChosenLabel) {
  OverlayFixture f;
  TExportChoice choice;
  choice.visiblePart = true;
  choice.visibleFirst = 1000;
  choice.visibleLast = 99999;
  const TExportRequest r = ExportRequestOf(f.display, choice);
  EXPECT_EQ(r.visibleLast, f.display.SampleCount() - 1);
  EXPECT_EQ(r.title, ExportLabelsOf(f.display, choice).visiblePart);
  EXPECT_EQ(r.strips.size(), 1u);
  EXPECT_EQ(r.strips[0].values, &f.display.Chart().strips[0].Curve(0, 0).Values())
      << "the main file's curve, not an overlay's";
  choice.visiblePart = false;
  EXPECT_EQ(ExportRequestOf(f.display, choice).title, ExportLabelsOf(f.display, choice).wholeRange);
}

}  // namespace
}  // namespace qvl
