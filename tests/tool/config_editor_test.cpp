// The configuration editor's arithmetic without a window: rate lists, memory estimate, position
// texts, wheel coupling, custom channel cells, the block Apply writes and the compass fit.
#include "tool/config_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

TEST(ConfigEditorRates, ListsIndexRulesAndMemoryEstimate) {
  EXPECT_EQ(LoggingDataRate(0, 0, 0, {}), 15);
  EXPECT_EQ(MemoryEstimateText(15), "0 MB / hour");
  EXPECT_EQ(LoggingDataRate(7, 7, 7, {}), 7965);  // 2000 + 3000 + 300 + 10
  EXPECT_EQ(MemoryEstimateText(7965), "29 MB / hour");
  // Custom channels add their rate; "Not logged" ones add nothing.
  EXPECT_EQ(LoggingDataRate(0, 0, 0, {1000, 0, 2000}), (10 + 1000 + 500) * 3 / 2);
  EXPECT_EQ(MemoryEstimateText(222222), "800 MB / hour");  // 799 999 200 bytes
  EXPECT_EQ(MemoryEstimateText(300000), "1.1 GB / hour");

  EXPECT_STREQ(kRateTexts[size_t(RateIndexOfPeriod(3000))], "500 Hz");
  EXPECT_STREQ(kRateTexts[size_t(RateIndexOfPeriod(1500))], "1 KHz");
  EXPECT_STREQ(kRateTexts[size_t(RateIndexOfPeriod(150000))], "10 Hz");
  EXPECT_EQ(RateIndexOfPeriod(0), 0);
  EXPECT_EQ(RateIndexOfPeriod(5000), 5);
  EXPECT_EQ(MagRateIndexOfPeriod(20000), 6);
  EXPECT_EQ(MagRateIndexOfPeriod(19999), 7);
  EXPECT_EQ(MagRateIndexOfPeriod(1000000), 1);

  EXPECT_EQ(CustomPeriodOfRate(0), 0);
  EXPECT_EQ(CustomRateText(CustomPeriodOfRate(1000)), "1 KHz");
  EXPECT_EQ(CustomRateText(CustomPeriodOfRate(500)), "500 Hz");
  EXPECT_EQ(CustomRateText(0), "Not logged");
  EXPECT_EQ(CustomRateIndexOfText("200 Hz"), 8);
  EXPECT_EQ(CustomRateIndexOfText(""), 0);
}

TEST(ConfigEditorTexts, PositionsWheelsCellsAndColumns) {
  EXPECT_EQ(PositionText(3830), "6.5%");
  EXPECT_EQ(PositionText(0), "100.0%");
  EXPECT_EQ(CircumferenceOfDiameter(700), 2199);
  EXPECT_EQ(DiameterOfCircumference(2199), 700);
  EXPECT_EQ(OffsetText(155, 8), "0.500");     // 0.4995 V shown with three decimals
  EXPECT_EQ(OffsetText(-410, 0), "-0.500");   // 5 V, 4096 counts
  EXPECT_EQ(GainText(10, 0), "2.0000");       // 10 units at 5 V: 10^4 x 2 >= 4096
  EXPECT_EQ(GainText(33, 8), "10.000");       // 3.3 V: 10^3 x 10 >= 1024
  EXPECT_EQ(GainText(50000, 0), "10000");     // n <= 0: a rounded integer
  EXPECT_EQ(GainText(0.0001, 0), "0.00002");  // below 0.0001: five decimals
  EXPECT_EQ(ColumnAtX({60, 100, 60, 70, 90, 70}, 10), 1);
  EXPECT_EQ(ColumnAtX({60, 100, 60, 70, 90, 70}, 165), 2);
  EXPECT_EQ(ColumnAtX({60, 100, 60, 70, 90, 70}, 900), 5);
}

TEST(ConfigEditor, CustomChannelCellsFollowTheInputScale) {
  TController controller;
  TConfigEditor e;
  e.Fill(controller);
  // One row per described input: 0 to 7 and 12 to 17; captions cut at the backslash.
  ASSERT_EQ(e.rows.size(), 14u);
  EXPECT_EQ(e.rows[0].cells[kColInput], "AN0 ");
  EXPECT_EQ(e.rows[8].input, 12);
  EXPECT_EQ(e.rows[8].caption, "3.3V AN0 ");

  // A number that cannot be read changes nothing, not even a sensor for the row.
  EXPECT_THROW(e.CommitText(8, kColOffset, "0,5x"), Exception);
  EXPECT_EQ(e.SensorOf(8), nullptr);
  EXPECT_FALSE(e.modified);
  // Empty text on a row without a sensor creates none.
  e.CommitText(8, kColName, "  ");
  EXPECT_EQ(e.SensorOf(8), nullptr);

  // Input 12 is a 3.3 V input: 0.5 V is raw offset 155, the gain keeps its physical value.
  e.CommitText(8, kColOffset, " 0.5 ");
  auto* line = dynamic_cast<TProportionalSensor*>(e.SensorOf(8));
  ASSERT_TRUE(line);
  EXPECT_EQ(line->RawZeroValue(), 155);
  EXPECT_EQ(line->RawFull(), 155 + 1024);
  EXPECT_FLOAT_EQ(line->FullScale(), 0.25f);  // new sensors: raw 4096 is 1
  EXPECT_EQ(e.rows[8].cells[kColOffset], "0.500");
  EXPECT_TRUE(e.modified && e.sensorsChanged);
  e.CommitText(8, kColGain, "10");
  EXPECT_EQ(line->RawZeroValue(), 155);
  EXPECT_FLOAT_EQ(line->FullScale(), 33.0f);
  EXPECT_EQ(e.rows[8].cells[kColGain], "10.000");
  e.CommitText(8, kColName, " Brake ");
  e.CommitText(8, kColUnits, "bar");
  EXPECT_EQ(line->Name, "Custom\\Brake\\bar");
  e.CommitRate(8, CustomRateIndexOfText("100 Hz"));
  EXPECT_EQ(line->Tag, 10000);
  EXPECT_EQ(e.rows[8].cells[kColRate], "100 Hz");
  // A 5 V input takes 4096 counts per 5 V.
  e.CommitText(0, kColOffset, "-0.5");
  EXPECT_EQ(dynamic_cast<TProportionalSensor*>(e.SensorOf(0))->RawZeroValue(), -410);
}

struct TCountingListener : IControllerListener {
  std::vector<uint8_t> calls;
  void ControllerChanged(TController*, uint8_t flags) override { calls.push_back(flags); }
};

TEST(ConfigEditor, ApplyWritesTheFieldsInOneNotification) {
  TController controller;
  TConfigBlock stored = controller.ConfigBlock();
  stored.SetI32(cfg::kSuspensionPeriod, 3000);
  stored.SetI32(cfg::kAccelPeriod, 150000);
  stored.SetI32(cfg::kAuxPeriod, 10000);
  stored.SetU8(cfg::kHeldArea + 5, 0x5A);
  controller.SetConfigBlock(stored);

  TConfigEditor e;
  e.Fill(controller);
  EXPECT_EQ(e.fields.suspensionRate, 6);  // "500 Hz"
  EXPECT_EQ(e.fields.gSensorRate, 1);     // "10 Hz"
  EXPECT_EQ(e.fields.circumference[0], 2234);
  EXPECT_EQ(e.fields.diameter[0], 711);
  EXPECT_EQ(e.fields.percent[0], 99);  // 0.25 / 0.2533

  e.fields.travel[0] = 160;
  e.fields.mechanicalRange[1] = 120;
  e.fields.percent[1] = 80;
  e.fields.circumference[1] = 2199;
  e.fields.teeth[1] = 12;
  e.fields.suspensionRate = 7;
  e.fields.gSensorRate = 7;
  e.fields.magRate = 7;
  e.current = {3830, 3000};
  e.RecordFullExtension(0);
  e.CommitText(2, kColName, "Steering");
  e.CommitRate(2, CustomRateIndexOfText("1 KHz"));

  TCountingListener listener;
  controller.AddListener(&listener);
  e.ApplyTo(controller);
  ASSERT_EQ(listener.calls, std::vector<uint8_t>{kChangeConfiguration});
  const TConfigBlock& b = controller.ConfigBlock();
  EXPECT_FLOAT_EQ(b.F32(cfg::kFrontTravel), 0.16f);
  EXPECT_FLOAT_EQ(b.F32(cfg::kRearMechanicalRange), 0.12f);
  EXPECT_FLOAT_EQ(b.F32(cfg::kRearElectricalSpan), 0.15f);
  EXPECT_FLOAT_EQ(b.F32(cfg::kRearCircumference), 2.199f);
  EXPECT_FLOAT_EQ(b.F32(cfg::kConstant2), 0.0254f);
  EXPECT_EQ(b.U8(cfg::kRearPulses), 12);
  EXPECT_EQ(b.U16(cfg::kFrontZero), 3830);
  EXPECT_EQ(b.I32(cfg::kSuspensionPeriod), 1000);
  EXPECT_EQ(b.I32(cfg::kMagPeriod), 10000);
  EXPECT_EQ(b.I32(cfg::kAuxPeriod), 0);
  EXPECT_EQ(b.U8(cfg::kHeldArea + 5), 0x5A);
  EXPECT_EQ(b.I32(cfg::kDataRate), 7965 + 1500);
  const TLogControlBlock& lc = controller.LogControl();
  EXPECT_EQ(lc.U8(logctl::kMode), 3);
  EXPECT_EQ(lc.U16(logctl::kWord2), 100);
  EXPECT_EQ(lc.U32(logctl::kPeriod), 1000u);
  EXPECT_EQ(lc.U32(8) | lc.U32(12), 0u);
  ASSERT_EQ(controller.CustomSensors().size(), 1u);
  EXPECT_EQ(controller.CustomSensors()[0]->Name, "Custom\\Steering\\");
  EXPECT_EQ(controller.CustomSensors()[0]->Tag, 1000);
  EXPECT_EQ(controller.CustomSensors()[0]->Channel, 2);
  controller.RemoveListener(&listener);
}

// Samples on the ellipsoid centre + scale * (R * rotation(axis, angle) * field).
TCompassSamples EllipsoidSamples(const std::array<double, 3>& centre,
                                 const std::array<double, 3>& scale) {
  auto rotate = [](std::array<double, 3> v, int axis, double angle) {
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const double c = std::cos(angle), s = std::sin(angle);
    std::array<double, 3> r = v;
    r[size_t(a)] = c * v[size_t(a)] - s * v[size_t(b)];
    r[size_t(b)] = s * v[size_t(a)] + c * v[size_t(b)];
    return r;
  };
  const double deg = std::numbers::pi / 180;
  // A field with a component along every axis: no rotation kind runs through the centre.
  const double y = std::sin(20 * deg);
  const std::array<double, 3> field = {std::cos(20 * deg) * std::cos(60 * deg), y,
                                       std::cos(20 * deg) * std::sin(60 * deg)};
  TCompassSamples samples{};
  const int axisOfKind[3] = {2, 1, 0};  // horizontal: about z; head up/down: y; lateral: x
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 4; ++i) {
      auto v = rotate(field, axisOfKind[k], (15 + 85 * i) * deg);
      v = rotate(rotate(v, 0, 12 * deg), 2, -20 * deg);  // the mounting of the sensor
      for (size_t a = 0; a < 3; ++a) samples[size_t(k)][size_t(i)][a] = centre[a] + scale[a] * v[a];
    }
  return samples;
}

TEST(ConfigEditorCompass, FitRecoversTheEllipsoidAndMapsSamplesToUnitLength) {
  const std::array<double, 3> centre = {120, -45, 310}, scale = {400, 520, 350};
  const TCompassSamples samples = EllipsoidSamples(centre, scale);
  const TCompassFit fit = FitCompass(samples);
  for (size_t a = 0; a < 3; ++a) {
    EXPECT_NEAR(fit.centre[a], centre[a], 1e-6 * scale[a]) << a;
    EXPECT_NEAR(fit.scale[a], scale[a], 1e-6 * scale[a]) << a;
  }
  // Each kind's column maps its normalised samples onto their unit length.
  for (size_t k = 0; k < 3; ++k)
    for (const TCompassSample& s : samples[k]) {
      double dot = 0;
      for (size_t a = 0; a < 3; ++a)
        dot += (s[a] - fit.centre[a]) / fit.scale[a] * fit.matrix[a][2 - k];
      EXPECT_NEAR(dot, 1.0, 1e-6) << k;
    }

  // The file holds the samples as taken, also after a fit; twelve equal samples do not fit.
  EXPECT_EQ(CompassSamplesOfBytes(CompassSampleBytes(samples)), samples);
  EXPECT_THROW(FitCompass(TCompassSamples{}), Exception);
  EXPECT_THROW(CompassSamplesOfBytes(std::vector<uint8_t>(287)), Exception);
}

TEST(ConfigEditorCompass, SamplesCountToFourAndApplyWritesTheFit) {
  TController controller;
  TConfigEditor e;
  e.Fill(controller);
  controller.SetRawValue(24, -12);
  controller.SetRawValue(25, 7);
  controller.SetRawValue(26, 300);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(e.AddCompassSample(1, controller), i);
  EXPECT_EQ(e.compass[1][3], (TCompassSample{-12, 7, 300}));
  // A fifth click starts the kind afresh.
  controller.SetRawValue(24, 5);
  EXPECT_EQ(e.AddCompassSample(1, controller), 1);
  EXPECT_EQ(e.compass[1][0], (TCompassSample{5, 7, 300}));
  EXPECT_FALSE(e.CompassComplete());
  // Without all twelve samples the compass fields stay as they were.
  EXPECT_EQ(e.BuildBlock().F32(cfg::kMagScale), 0.0f);

  const TCompassSamples samples = EllipsoidSamples({10, 20, 30}, {300, 310, 290});
  e.LoadCompassSamples(samples);
  ASSERT_TRUE(e.CompassComplete());
  const TConfigBlock b = e.BuildBlock();
  const TCompassFit fit = FitCompass(samples);
  EXPECT_FLOAT_EQ(b.F32(cfg::kMagScale + 4), float(fit.scale[1]));
  EXPECT_FLOAT_EQ(b.F32(cfg::kMagOffset + 8), float(fit.centre[2]));
  EXPECT_FLOAT_EQ(b.F32(cfg::kMagAlignment + 5 * 4), float(fit.matrix[1][2]));
  EXPECT_FLOAT_EQ(b.F32(cfg::kMagCalibration + 4), float(samples[0][0][1]));
  EXPECT_EQ(e.compass, samples);
}

}  // namespace
}  // namespace qvl
