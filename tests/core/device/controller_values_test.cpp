#include <gtest/gtest.h>

#include <cmath>

#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

// A controller whose configuration counts as the logger's own, as after connecting.
struct InSyncController : TController {
  InSyncController() { SetConfigInSync(true); }
};

TEST(WheelSpeed, PulsesOverTicksAndAStandingWheel) {
  TController c;                               // 8 pulses per turn on both wheels
  c.UpdateWheelSpeeds(250, 0, 1000, 0, 1000);  // first reading only stores
  EXPECT_EQ(c.FrontSpeed(), 0.0f);
  c.UpdateWheelSpeeds(4, 0, 1500, 0, 1600);  // 10 pulses in 500 ticks
  EXPECT_FLOAT_EQ(c.FrontSpeed(), 25.0f);
  EXPECT_FLOAT_EQ(c.GetValue(kParamFrontSpeed), 25.0f);
  c.UpdateWheelSpeeds(4, 0, 1500, 0, uint16_t(1500 + 32767));
  EXPECT_FLOAT_EQ(c.FrontSpeed(), 25.0f);  // not yet 3.2767 s without a pulse
  c.UpdateWheelSpeeds(4, 0, 1500, 0, uint16_t(1500 + 32768));
  EXPECT_EQ(c.FrontSpeed(), 0.0f);
  // The timer wraps at 16 bits: a pulse 100 ticks after the parked time still counts right.
  c.UpdateWheelSpeeds(5, 0, uint16_t(1500 + 32768 - 0x8000 + 100), 0, 0);
  EXPECT_FLOAT_EQ(c.FrontSpeed(), 1.0f / (100 * 8 * 100) * 1e6f);
  c.ResetDerived();
  c.UpdateWheelSpeeds(200, 0, 0, 0, 0);
  EXPECT_FLOAT_EQ(c.FrontSpeed(), 1.0f / (100 * 8 * 100) * 1e6f);  // first after reset stores
}

TEST(WheelSpeed, NoPulsesPerTurnOrNoTicksGiveNoValue) {
  TController c;
  TConfigBlock b = c.ConfigBlock();
  b.SetU8(cfg::kFrontPulses, 0);
  c.SetConfigBlock(b);
  c.UpdateWheelSpeeds(0, 0, 0, 0, 0);
  c.UpdateWheelSpeeds(1, 1, 250, 250, 300);  // front without pulses per turn; rear 8
  EXPECT_TRUE(std::isnan(c.GetValue(kParamFrontSpeed)));
  EXPECT_EQ(c.GetValueText(kParamFrontSpeed, kUnitKmh), "");
  EXPECT_FLOAT_EQ(c.RearSpeed(), 5.0f);
  c.UpdateWheelSpeeds(1, 2, 250, 250, 300);  // a rear pulse in the same tick as the last
  EXPECT_TRUE(std::isnan(c.GetValueIn(kParamRearSpeed, kUnitMps)));
}

TEST(Values, SpeedInEveryUnit) {
  TController c;
  c.UpdateWheelSpeeds(0, 0, 0, 0, 0);
  c.UpdateWheelSpeeds(1, 2, 250, 250, 300);  // 1 pulse in 250 ticks: 5 turns per second
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamFrontSpeed, kUnitTps), 5.0f);
  EXPECT_NEAR(c.GetValueIn(kParamFrontSpeed, kUnitMps), 11.17, 0.01);
  EXPECT_NEAR(c.GetValueIn(kParamFrontSpeed, kUnitKmh), 40.22, 0.01);
  EXPECT_NEAR(c.GetValueIn(kParamRearSpeed, kUnitKmh), 80.44, 0.01);
  EXPECT_NEAR(c.GetValueIn(kParamFrontSpeed, kUnitMph), 40.2175 / 1.609344, 0.001);
  EXPECT_EQ(c.GetValueText(kParamFrontSpeed, kUnitKmh), "40.2km/h");
  EXPECT_EQ(c.GetValueText(kParamFrontSpeed, kUnitMph), "25.0mi/h");
}

TEST(Values, TravelUnitsNeedAConfigurationInSync) {
  InSyncController c;
  auto* front = static_cast<TProportionalSensor*>(c.FixedSensor(kSlotFrontTravel));
  front->SetupQuiet(4000, 4000 - 4096, 0.4096f);  // 0.1 mm per count
  c.SetRawValue(0, 3500);                         // 0.05 m
  EXPECT_FLOAT_EQ(c.GetValue(kParamFrontTravel), 0.05f);
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamFrontTravel, kUnitPercent), 25.0f);
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamFrontTravel, kUnitMm), 50.0f);
  EXPECT_NEAR(c.GetValueIn(kParamFrontTravel, kUnitInch), 1.9685f, 1e-4);
  EXPECT_EQ(c.GetValueText(kParamFrontTravel, kUnitCm), "5.0cm");
  EXPECT_EQ(c.GetValueText(kParamFrontTravel, kUnitVolt), "17.090 V");
  c.SetConfigInSync(false);
  EXPECT_TRUE(std::isnan(c.GetValue(kParamFrontTravel)));
  EXPECT_EQ(c.GetValueText(kParamFrontTravel, kUnitMm), "");
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamFrontTravel, kUnitVolt), 3500 / 204.8f);
  // Battery and temperature read even when out of sync.
  c.SetRawValue(8, 1536);
  EXPECT_FLOAT_EQ(c.GetValue(kParamBatteryVolt), 6.9f);
}

TEST(Values, UndefinedParametersAndChannels) {
  TController c;
  EXPECT_THROW(c.GetValue(kParamAmbientTemp), EUndefinedParam);  // no sensor in slot 7
  EXPECT_TRUE(std::isnan(c.GetValueIn(kParamAmbientTemp, kUnitCelsius)));
  EXPECT_EQ(c.GetValueText(kParamAmbientTemp, kUnitCelsius), "NaN");
  EXPECT_EQ(c.GetValueText(kParamAmbientTemp, kUnitVolt), "Not defined");
  EXPECT_EQ(c.GetValueIn(kParamNone, kUnitVolt), 0.0f);
  EXPECT_EQ(c.GetValueText(kParamNone, kUnitVolt), "");
  c.FixedSensor(kSlotBattery)->Channel = 99;
  try {
    c.GetValue(kParamBatteryVolt);
    FAIL();
  } catch (const EUndefinedParam& e) {
    EXPECT_STREQ(e.what(), "Undefined channel");
  }
  c.SetControllerType(7);  // no tables: every parameter refused
  EXPECT_THROW(c.GetValue(kParamNone), EUndefinedParam);
  EXPECT_EQ(c.AnalogInputCount(), 0);
}

TEST(Values, LoggingStateAndHeading) {
  TController c;
  std::array<uint8_t, 40> block{};
  block[10] = 0x32;
  c.SetRealtimeBlock(block);
  EXPECT_EQ(c.GetValue(kParamLoggingStatus), 2.0f);
  EXPECT_EQ(c.GetValueText(kParamLoggingStatus, 0), "Logging");
  block[10] = 0x07;
  c.SetRealtimeBlock(block);
  EXPECT_EQ(c.GetValueText(kParamLoggingStatus, 0), "7");
  EXPECT_EQ(c.GetValue(kParamHeading), 0.0f);
}

TEST(Values, SuspensionVelocityFromSuccessiveSamples) {
  InSyncController c;
  auto* rear = static_cast<TProportionalSensor*>(c.FixedSensor(kSlotRearTravel));
  rear->SetupQuiet(4000, 4000 - 4096, 0.4096f);  // 0.1 mm per count; period 5000 µs
  c.SetRawValue(1, 4000);
  EXPECT_EQ(c.GetValue(kParamRearSuspVelocity), 0.0f);  // first evaluation
  c.SetRawValue(1, 3990);                               // 1 mm in 5 ms
  EXPECT_FLOAT_EQ(c.GetValue(kParamRearSuspVelocity), 0.2f);
  c.SetRawValue(1, 3995);
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamRearSuspVelocity, kUnitCmps), -10.0f);
  c.SetRawValue(1, 3985);
  EXPECT_EQ(c.GetValueText(kParamRearSuspVelocity, kUnitCmps), "20.00cm/s");
  c.ResetDerived();
  EXPECT_EQ(c.GetValue(kParamRearSuspVelocity), 0.0f);
}

TEST(Values, SixPositionCalibrationGivesGainsAndOffsets) {
  TController c;
  TConfigBlock b = c.ConfigBlock();
  const float readings[6][3] = {{0, 0, 1000},  {0, 0, -1000}, {1000, 0, 0},
                                {-1000, 0, 0}, {0, 1000, 0},  {0, -1000, 0}};
  for (int p = 0; p < 6; ++p)
    for (int a = 0; a < 3; ++a)
      b.SetF32(cfg::kAccelCalibration + size_t(p * 3 + a) * 4, readings[p][a] + 2048);
  c.SetConfigBlock(b);
  for (int a = 0; a < 3; ++a) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(c.AccelGain()[a][i], a == i ? 0.001 : 0.0, 1e-12);
    EXPECT_NEAR(c.AccelOffset()[a], 2.048, 1e-9);
  }
  c.SetRawValue(18, 2048 + 500);
  c.SetRawValue(19, 2048);
  c.SetRawValue(20, 2048 - 1000);
  EXPECT_NEAR(c.GetValue(kParamFrontAccel), 0.5f, 1e-5);
  EXPECT_NEAR(c.GetValue(kParamLateralAccel), 0.0f, 1e-5);
  EXPECT_NEAR(c.GetValue(kParamVerticalAccel), -1.0f, 1e-5);
  EXPECT_EQ(c.GetValueText(kParamFrontAccel, kUnitG), "0.50g");

  // All readings zero: singular; the previous calibration stays.
  TConfigBlock zero = c.ConfigBlock();
  for (size_t k = 0; k < 72; ++k) zero.SetU8(cfg::kAccelCalibration + k, 0);
  c.SetConfigBlock(zero);
  EXPECT_NEAR(c.AccelGain()[0][0], 0.001, 1e-12);
}

TEST(Values, BatteryPercentThroughTheCapacityTable) {
  TController c;
  EXPECT_NEAR(c.BatteryPercent(7.0f), 25.0f, 1e-4);
  EXPECT_NEAR(c.BatteryPercent(7.85f), 100.0f, 1e-4);
  c.SetRawValue(8, 1560);  // 7.0078 V
  EXPECT_NEAR(c.GetValueIn(kParamBatteryVolt, kUnitPercent), 25.78, 0.01);
  EXPECT_EQ(c.GetValueText(kParamBatteryVolt, kUnitVolt1), "7.0 V");
}

TEST(Values, CustomParameterUsesItsSensorsUnitsAndDecimals) {
  InSyncController c;
  TSensors custom;
  custom.push_back(CreateSensor(&c, "Custom", 2, 0));
  auto brake = CreateSensor(&c, "Custom", 3, 0);
  brake->Name = "Custom\\Brake\\bar";
  static_cast<TProportionalSensor*>(brake.get())->SetupQuiet(0, 4096, 40.96f);  // 0.01 bar
  custom.push_back(std::move(brake));
  c.SetCustomSensors(std::move(custom));
  c.SetRawValue(3, 1234);
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamCustom, 64 + 1), 12.34f);
  EXPECT_EQ(c.SelectedCustomSensor(), 1);
  EXPECT_EQ(c.GetValueText(kParamCustom, 64 + 1), "12.340bar");
  EXPECT_EQ(c.GetValueText(kParamCustom, 64 + 5), "NaN");  // no such custom sensor
}

TEST(Values, TemperatureAndPressureConversions) {
  InSyncController c;
  auto temp = CreateSensor(&c, "MCP9700", 7, 0);
  c.SetFixedSensor(kSlotAmbientTemp, std::move(temp));
  c.SetRawValue(7, 256);  // 75 °C
  EXPECT_FLOAT_EQ(c.GetValueIn(kParamAmbientTemp, kUnitFahrenheit), 167.0f);
  EXPECT_EQ(c.GetValueText(kParamAmbientTemp, kUnitCelsius),
            "75\xB0"
            "C");
}

}  // namespace
}  // namespace qvl
