#include "viewer/run_summary.h"

#include <gtest/gtest.h>

#include "core/device/ecu_types.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "sim/flash_image_encoder.h"
#include "tests/viewer/logic/viewer_test_util.h"

namespace qvl {
namespace {

// Two runs of sample records. Front travel reads 200 counts, except for 500 records of run 0 at
// the converter's top count (a wiper off its track); run 1 has three records whose tick did not
// advance.
TEST(RunSummary, RecordsGiveTravelPercentilesLimitShareAndDiscardedRecordsPerRun) {
  std::vector<int32_t> ticks = testing::Ticks(0, 12000);
  for (int32_t t = 20000; t < 32000; ++t) ticks.push_back(t >= 25001 && t <= 25003 ? 25000 : t);
  TRunDisplay display;
  display.MainSlot().controller = testing::MakeController();
  display.MainSlot().store = testing::MakeStore(ticks, [](int32_t t, TLogRecord& r) {
    r.values[0] = int16_t(t >= 3000 && t < 3500 ? 1023 : 200);
    r.values[1] = 300;
  });
  ASSERT_EQ(display.MainSlot().store->RunCount(), 2);

  const std::vector<TRunSummary> runs = SummariseRuns(display);
  ASSERT_EQ(runs.size(), 2u);
  const TRunSummary& r0 = runs[0];
  EXPECT_EQ(r0.samples, 12000);
  EXPECT_EQ(r0.front.travelSamples, 12000);
  EXPECT_EQ(r0.front.atLimit, 500);
  EXPECT_NEAR(r0.front.AtLimitPercent(), 500 * 100.0 / 12000, 1e-9);
  EXPECT_EQ(r0.rear.atLimit, 0);
  // Travel grows with the count from 0: the maximum is the stuck reading, and the 95th
  // percentile is still the ordinary one (500 of 12000 samples lie above it).
  ASSERT_GT(r0.front.p95Travel, 0.0f);
  EXPECT_NEAR(r0.front.maxTravel / r0.front.p95Travel, 1023.0 / 200.0, 1e-4);
  EXPECT_EQ(r0.discarded, 0);
  EXPECT_EQ(r0.gaps, 0);

  EXPECT_EQ(runs[1].run, 1);
  EXPECT_EQ(runs[1].discarded, 3);
  EXPECT_EQ(runs[1].front.travelSamples, 12000 - 3);
  EXPECT_EQ(runs[1].front.atLimit, 0);
}

// A flash image of 20 s: the front travel input sits at 4095 for 2 s, and the logger recorded
// nothing for 1.5 s (a timestamp far ahead of the last sample).
TEST(RunSummary, FlashImageCountsGapsOverASecondAndSamplesAtTheLimit) {
  auto controller = std::make_unique<TController>();
  TConfigBlock b = controller->ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 2000);
  controller->SetConfigBlock(b);
  const int front = controller->FixedSensor(kSlotFrontTravel)->Channel;
  TDataLogGroups groups = BuildDataLogGroups(*controller);
  sim::TFlashImageEncoder enc(groups);
  const uint32_t start = enc.BeginSession(1000, 700000000u);
  int64_t written = 0, stuck = 0;
  auto source = [&](int g, uint32_t tick, uint16_t* values, int n) {
    for (int k = 0; k < n; ++k) {
      const int channel = groups[size_t(g)].channels[size_t(k)];
      const bool atLimit = channel == front && tick >= start + 2000 && tick < start + 4000;
      values[k] = atLimit ? 4095 : uint16_t(1500 + (tick - start) % 700);
      if (channel == front) {
        ++written;
        stuck += atLimit;
      }
    }
  };
  enc.AdvanceTo(start + 8000, source);
  enc.Timestamp(start + 9500);
  enc.AdvanceTo(start + 20000, source);
  enc.Finish();
  const std::vector<uint8_t> file = sim::BuildDownloadFile(*controller, enc.Image(), 45000.0);

  TRunDisplay display;
  TFileSlot& slot = display.MainSlot();
  TMemoryStream stream(file);
  ReadLogFile(stream, *slot.controller, *slot.store, slot.info);
  const TRunSummary r = SummariseRun(display, 0);
  EXPECT_EQ(r.gaps, 1);
  EXPECT_EQ(r.front.travelSamples, written);
  EXPECT_EQ(r.front.atLimit, stuck);
  EXPECT_GT(stuck, 0);
  EXPECT_EQ(r.rear.atLimit, 0);
  EXPECT_EQ(r.discarded, 0);
}

}  // namespace
}  // namespace qvl
