// The compass test without a window: scratch memory and the FAT conversion against the
// simulated logger, the FAT rules, the hardware information text, and the attitude self-test
// round trip through a calibrated controller.
#include "tool/compass_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "core/device/controller.h"
#include "sim/sim_channel.h"
#include "tool/ecu_info.h"

namespace qvl {
namespace {

struct TSimHost {
  std::shared_ptr<sim::TSimChannel> link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  TController controller;
  TSimHost() {
    link->Open("sim", "", 4096, 0);
    link->SetTimeOut(200);
    controller.SetChannel(link);
  }
};

TEST(CompassTest, ScratchMemoryIsErasedWrittenFourWordsAtATimeAndReadBack) {
  TSimHost host;
  TCompassTester tester(host.controller);
  tester.ClearScratch();
  auto words = tester.ReadScratch();
  for (uint16_t w : words) ASSERT_EQ(w, 0xFFFF);
  tester.WriteScratch();
  tester.WriteScratch();
  EXPECT_EQ(tester.WriteIndex(), 8);
  words = tester.ReadScratch();
  for (uint16_t k = 0; k < 8; ++k) EXPECT_EQ(words[k], k);
  EXPECT_EQ(words[8], 0xFFFF);
  EXPECT_EQ(host.link->Logger().Scratch()[7], 7);
  EXPECT_EQ(host.link->Logger().CommandCount(0x43), 8);
  // Word 5 of block 1 is word 69: row 4, column 5.
  EXPECT_EQ(ScratchCell(1, 5).row, 4);
  EXPECT_EQ(ScratchCell(1, 5).column, 5);
  EXPECT_EQ(ScratchCell(3, 63).row, 15);
  EXPECT_EQ(ScratchWordText(0xB66F), "B66F");
  EXPECT_EQ(ScratchWordText(7), "0007");
}

TEST(CompassTest, FatRulesAndTheLoggersConversion) {
  EXPECT_EQ(FatExpectedTime(0), EncodeDate(2000, 1, 1));
  EXPECT_EQ(FatExpectedTime(84375), EncodeDate(2000, 1, 2));
  TDateTime decoded = -1;
  ASSERT_TRUE(DecodeFatDateTime(0x2821, 0x0000, decoded));
  EXPECT_EQ(decoded, EncodeDate(2000, 1, 1));
  ASSERT_TRUE(DecodeFatDateTime(0x2821, (13 << 11) | (7 << 5) | 29, decoded));
  EXPECT_EQ(ToolDateTimeText(decoded), "2000-01-01 13:07:58");
  EXPECT_FALSE(DecodeFatDateTime(0x2800, 0, decoded));  // month 0
  EXPECT_FALSE(DecodeFatDateTime(0x2821, 24 << 11, decoded));
  const TDateTime t = EncodeDate(2024, 2, 29) + EncodeTime(10, 0, 0, 0);
  EXPECT_TRUE(FatTimesAgree(t, t + 2 / kSecondsPerDay));
  EXPECT_TRUE(FatTimesAgree(t + 2 / kSecondsPerDay, t));
  EXPECT_FALSE(FatTimesAgree(t, t + 3 / kSecondsPerDay));
  EXPECT_FALSE(EvaluateFatTest(0, 0x2821, 2).passed);  // 4 s late
  EXPECT_FALSE(EvaluateFatTest(0, 0, 0).passed);       // no date at all

  TSimHost host;
  TCompassTester tester(host.controller);
  TFatTestResult r = tester.FatTest(0);
  EXPECT_EQ(r.fatDate, 0x2821);
  EXPECT_EQ(r.fatTime, 0);
  EXPECT_TRUE(r.passed);
  std::mt19937 rng(7);
  for (int i = 0; i < 50; ++i) {
    r = tester.FatTest(rng() & 0x7FFFFFFF);
    ASSERT_TRUE(r.passed) << r.ticks;
  }
}

TEST(EcuInfo, NamesTheLoggerTheLinkAndTheConfigurationDate) {
  EXPECT_EQ(EcuInfoLines("QVL R2.11", "sim", 0),
            (std::vector<std::string>{"QVL R2.11 on sim\r\r", ""}));
  const TDateTime written = EncodeDate(2026, 3, 4) + EncodeTime(5, 6, 7, 0);
  EXPECT_EQ(EcuInfoLines("QVL R2.05", "/dev/ttyUSB0", written),
            (std::vector<std::string>{"QVL R2.05 on /dev/ttyUSB0\r\r",
                                      "QVL configuration/adjustments were last written on",
                                      "2026-03-04 05:06:07\r", ""}));
}

// A controller whose accelerometer and compass calibrations are far from the identity.
void Calibrate(TController& c) {
  TConfigBlock b = c.ConfigBlock();
  const double a0[3][3] = {{980, 40, -25}, {30, 1010, 45}, {-20, 35, 1050}};
  const double bias[3] = {512, 480, 530};
  const double expected[6][3] = {{0, 0, 1},  {0, 0, -1}, {1, 0, 0},
                                 {-1, 0, 0}, {0, 1, 0},  {0, -1, 0}};
  for (size_t p = 0; p < 6; ++p)
    for (size_t i = 0; i < 3; ++i) {
      double v = bias[i];
      for (size_t j = 0; j < 3; ++j) v += a0[i][j] * expected[p][j];
      b.SetF32(cfg::kAccelCalibration + 4 * (3 * p + i), float(v));
    }
  const float scale[3] = {1100, 1050, 1200}, centre[3] = {30, -20, 15};
  const float m[3][3] = {{1, 0.05f, -0.02f}, {-0.03f, 0.98f, 0.04f}, {0.01f, -0.05f, 1.02f}};
  const float standup[3] = {30 + 0.45f * 1100, -20 + 0.1f * 1050, 15 - 0.8f * 1200};
  for (size_t i = 0; i < 3; ++i) {
    b.SetF32(cfg::kMagScale + 4 * i, scale[i]);
    b.SetF32(cfg::kMagOffset + 4 * i, centre[i]);
    b.SetF32(cfg::kMagCalibration + 4 * i, standup[i]);
    for (size_t j = 0; j < 3; ++j) b.SetF32(cfg::kMagAlignment + 4 * (3 * i + j), m[i][j]);
  }
  c.SetConfigBlock(b);
}

double AngleGap(double a, double b) {
  return std::fabs(std::remainder(a - b, 360.0));
}

TEST(CompassTest, AttitudeSelfTestComesBackToTheAnglesItSet) {
  TController c;
  // Uncalibrated: nothing is written and nothing computed, and nothing fails.
  TSimulatedAttitude s = SimulateAttitude(c, {10, 20, 30});
  EXPECT_FALSE(s.fieldValid);
  EXPECT_FALSE(s.magnetometerWritten || s.accelerometerWritten);
  TAttitude back;
  EXPECT_FALSE(ComputeAttitude(c, back));

  Calibrate(c);
  TVec3 r{};
  ASSERT_TRUE(ReferenceField(ReadCompassCalibration(c.ConfigBlock()), r));
  s = SimulateAttitude(c, {0, 0, 0});
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(s.sent[i], r[i]);
  EXPECT_EQ(FieldText(0.25), "0.25000");
  EXPECT_EQ(AngleText(-12.34), "-12.3deg.");

  int checked = 0;
  for (int h = -240; h <= 240; h += 30)
    for (int e = -240; e <= 240; e += 30)
      for (int b = -240; b <= 240; b += 40) {
        const TAttitude set = CanonicalAttitude({double(h), double(e), double(b)});
        if (std::fabs(set.elevation) > 75) continue;  // the poles
        s = SimulateAttitude(c, {double(h), double(e), double(b)});
        ASSERT_TRUE(s.magnetometerWritten && s.accelerometerWritten);
        EXPECT_EQ(c.RawValue(24), s.magnetometer[0]);
        EXPECT_EQ(c.RawValue(20), s.accelerometer[2]);
        ASSERT_TRUE(ComputeAttitude(c, back));
        EXPECT_LT(AngleGap(back.heading, set.heading), 0.5) << h << " " << e << " " << b;
        EXPECT_LT(AngleGap(back.elevation, set.elevation), 0.5) << h << " " << e << " " << b;
        EXPECT_LT(AngleGap(back.bank, set.bank), 0.5) << h << " " << e << " " << b;
        const TVec3 computed = Apply(AttitudeMatrix(back), r);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(computed[i], s.sent[i], 0.01);
        ++checked;
      }
  EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace qvl
