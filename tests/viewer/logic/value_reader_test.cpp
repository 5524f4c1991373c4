#include "viewer/value_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/device/ecu_types.h"
#include "tests/viewer/logic/viewer_test_util.h"

namespace qvl {
namespace {

uint32_t Bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, 4);
  return b;
}

float Plottable(float v) {
  return std::isfinite(v) ? v : 0.0f;
}

// Reads every channel in every unit it allows (and a few it does not) through a reader and
// through GetValueIn, sample after sample, and wants the very same bits.
void ExpectSameAsController(TController& c) {
  std::vector<std::pair<int, int>> reads;
  for (int code = 0; code < kParamCount; ++code)
    for (int unit = 0; unit < kUnitCount; ++unit)
      if (UnitAllowed(code, unit) || unit == kUnitPercent || unit == kUnitG)
        reads.emplace_back(code, unit);
  for (auto [code, unit] : reads) {
    c.ResetDerived();
    TReadCache cache;
    TValueReader reader(c, code, unit, &cache);
    // A reader that is not direct asks the controller itself: reading both ways would read the
    // controller twice.
    if (!reader.Direct()) continue;
    TLogSample sample;
    for (int i = 0; i < 40; ++i) {
      cache.sample = i;
      for (int ch = 0; ch < kSampleChannelCount; ++ch) {
        int16_t raw = int16_t((ch * 37 + i * i * 53) % 4096 - (i == 7 ? 5000 : 0));
        sample.channels[size_t(ch)] = raw;
        c.SetRawValue(ch, raw);
      }
      float expected = Plottable(c.GetValueIn(code, unit));
      float got = reader.Read(sample);
      ASSERT_EQ(Bits(got), Bits(expected)) << "code " << code << " unit " << unit << " sample " << i
                                           << ": " << got << " vs " << expected;
    }
  }
}

TEST(ValueReader, SameBitsAsTheController) {
  auto c = testing::MakeController();
  ExpectSameAsController(*c);
  // Another calibration: a falling potentiometer, and accelerometer readings along the axes.
  TConfigBlock b = c->ConfigBlock();
  const float readings[6][3] = {{0, 0, 1000},  {0, 0, -1000}, {1000, 0, 0},
                                {-1000, 0, 0}, {0, 1000, 0},  {0, -1000, 0}};
  for (size_t k = 0; k < 6; ++k)
    for (size_t a = 0; a < 3; ++a)
      b.SetF32(cfg::kAccelCalibration + (k * 3 + a) * 4, readings[k][a] + 3);
  b.SetF32(cfg::kRearTravel, 0.13f);
  c->SetConfigBlock(b);
  static_cast<TProportionalSensor*>(c->FixedSensor(kSlotFrontTravel))
      ->SetupQuiet(3000, -1096, 0.15f);
  c->SetConfigInSync(true);
  ExpectSameAsController(*c);
  // Not in sync: the travel reads as not-a-number (0), the velocity still counts.
  c->SetConfigInSync(false);
  ExpectSameAsController(*c);
  TValueReader travel(*c, kParamFrontTravel, kUnitPercent);
  EXPECT_FALSE(travel.Direct());
  c->SetConfigInSync(true);
  EXPECT_TRUE(TValueReader(*c, kParamFrontTravel, kUnitPercent).Direct());
  EXPECT_TRUE(TValueReader(*c, kParamVerticalAccel, kUnitG).Direct());
  TReadCache cache;
  EXPECT_TRUE(TValueReader(*c, kParamRearSuspVelocity, kUnitMmps, &cache).Direct());
  EXPECT_FALSE(TValueReader(*c, kParamRearSuspVelocity, kUnitMmps).Direct());
}

TEST(ValueReader, VelocityReadersShareTheirState) {
  // Two curves of the same velocity read in turn: the velocity is computed once per sample and
  // both show it, each in its unit.
  auto c = testing::MakeController();
  TReadCache cache;
  TValueReader a(*c, kParamFrontSuspVelocity, kUnitMmps, &cache);
  TValueReader b(*c, kParamFrontSuspVelocity, kUnitCmps, &cache);
  TValueReader travel(*c, kParamFrontTravel, kUnitMm, &cache);
  TLogSample s;
  s.channels[0] = 100;
  EXPECT_EQ(a.Read(s), 0.0f);
  EXPECT_EQ(b.Read(s), 0.0f);
  cache.sample = 1;
  s.channels[0] = 120;  // 2 mm in 2 ms: 1 m/s
  EXPECT_FLOAT_EQ(travel.Read(s), 12.0f);
  EXPECT_FLOAT_EQ(b.Read(s), 100.0f);
  EXPECT_FLOAT_EQ(a.Read(s), 1000.0f);
  EXPECT_FLOAT_EQ(b.Read(s), 100.0f);
  EXPECT_EQ(cache.velocity[0].previous, 120);
  EXPECT_EQ(cache.velocity[1].previous, -1);
  EXPECT_EQ(cache.travel[0].raw, 120);
  cache.sample = 2;  // held: no motion
  EXPECT_EQ(a.Read(s), 0.0f);
  EXPECT_EQ(b.Read(s), 0.0f);
  // Which readers ask the controller for its inputs.
  EXPECT_FALSE(a.NeedsInputs());
  EXPECT_FALSE(TValueReader(*c, kParamFrontSpeed, kUnitKmh).NeedsInputs());
  EXPECT_TRUE(TValueReader(*c, kParamBatteryVolt, 11).NeedsInputs());
  EXPECT_TRUE(TValueReader(*c, kParamFrontSuspVelocity, kUnitMmps).NeedsInputs());
  c->SetConfigInSync(false);
  EXPECT_TRUE(TValueReader::Metres(*c, kParamFrontTravel, &cache).NeedsInputs());
}

}  // namespace
}  // namespace qvl
