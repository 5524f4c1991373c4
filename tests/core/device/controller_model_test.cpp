#include <gtest/gtest.h>

#include <functional>

#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

struct TRecordingListener : IControllerListener {
  std::vector<uint8_t> calls;
  std::function<void()> onCall;
  void ControllerChanged(TController*, uint8_t flags) override {
    calls.push_back(flags);
    if (onCall) onCall();
  }
};

TEST(ControllerModel, NewControllerHasTheTypeTwoTables) {
  TController c;
  EXPECT_EQ(c.ControllerType(), 2u);
  EXPECT_EQ(c.TypeReference(), 10.0f);
  ASSERT_EQ(c.AnalogInputCount(), 32);
  EXPECT_EQ(c.AnalogInput(0).name, "AN0 \\J1-3");
  EXPECT_EQ(c.AnalogInput(17).name, "3.3V AN5 \\J3-15");
  EXPECT_EQ(c.AnalogInput(8).name, "");
  ASSERT_EQ(c.DigitalInputs().size(), 3u);
  EXPECT_EQ(c.DigitalInputs()[0].flags, 257u);
  EXPECT_TRUE(c.Outputs().empty());
  EXPECT_EQ(c.FixedSensor(0)->Name, "ADXL5");
  EXPECT_EQ(c.FixedSensor(2)->Channel, 20);
  EXPECT_EQ(c.FixedSensor(4)->Channel, 1);
  auto* battery = dynamic_cast<TProportionalSensor*>(c.FixedSensor(kSlotBattery));
  ASSERT_NE(battery, nullptr);
  EXPECT_EQ(battery->Channel, 8);
  c.SetRawValue(8, 2048);
  EXPECT_FLOAT_EQ(battery->GetValue(), 9.2f);
  EXPECT_EQ(c.FixedSensor(kSlotAmbientTemp), nullptr);
  EXPECT_FALSE(c.Modified());
  EXPECT_EQ(c.ConfigBlock().I32(cfg::kDataRate), 0);
  EXPECT_EQ(c.LogControl().U16(8), 3000);
}

TEST(ControllerModel, IdenticalBlockChangesNothing) {
  TController c;
  TRecordingListener l;
  c.AddListener(&l);
  TMemoryStream m;
  c.WriteToStream(m);  // creates an identity
  ASSERT_TRUE(c.HasConfigIdentity());
  c.SetConfigBlock(c.ConfigBlock());
  c.SetLogControl(c.LogControl());
  EXPECT_TRUE(l.calls.empty());
  EXPECT_TRUE(c.HasConfigIdentity());
  EXPECT_FALSE(c.Modified());
  TConfigBlock b = c.ConfigBlock();
  b.SetF32(cfg::kRearTravel, 0.09f);
  c.SetConfigBlock(b);
  EXPECT_EQ(l.calls, (std::vector<uint8_t>{kChangeConfiguration}));
  EXPECT_FALSE(c.HasConfigIdentity());
  EXPECT_TRUE(c.Modified());
}

TEST(ControllerModel, ZeroSpansTakeTheirDefaults) {
  TController c;
  TConfigBlock b = c.ConfigBlock();
  b.SetF32(cfg::kFrontElectricalSpan, 0);
  b.SetF32(cfg::kFrontMechanicalRange, 0.3f);
  b.SetF32(cfg::kRearElectricalSpan, 0);
  b.SetF32(cfg::kRearMechanicalRange, 0.3f);
  c.SetConfigBlock(b);
  EXPECT_EQ(c.ConfigBlock().F32(cfg::kFrontElectricalSpan), 0.2533f);
  EXPECT_EQ(c.ConfigBlock().F32(cfg::kFrontMechanicalRange), 0.25f);
  EXPECT_EQ(c.ConfigBlock().F32(cfg::kRearElectricalSpan), 0.1013f);
  EXPECT_EQ(c.ConfigBlock().F32(cfg::kRearMechanicalRange), 0.1f);
}

TEST(ControllerModel, UpdateBracketTellsListenersOnceWithAllFlags) {
  TController c;
  TRecordingListener l;
  c.AddListener(&l);
  c.BeginUpdate();
  c.BeginUpdate();
  TLogControlBlock lc = c.LogControl();
  lc.SetU8(0, 3);
  c.SetLogControl(lc);
  c.Changed(kChangeValues);
  c.EndUpdate();
  EXPECT_TRUE(l.calls.empty());
  c.EndUpdate();
  EXPECT_EQ(l.calls, (std::vector<uint8_t>{kChangeConfiguration | kChangeValues}));
  c.EndUpdate();  // an unbalanced end does not go negative
  EXPECT_EQ(c.UpdateDepth(), 0);
}

TEST(ControllerModel, ListenerMayRemoveItselfAndOthersDuringANotification) {
  TController c;
  TRecordingListener a, b, d;
  a.onCall = [&] {
    c.RemoveListener(&a);
    c.RemoveListener(&b);
  };
  c.AddListener(&a);
  c.AddListener(&b);
  c.AddListener(&d);
  c.Changed(kChangeValues);
  EXPECT_EQ(a.calls.size(), 1u);
  EXPECT_TRUE(b.calls.empty());
  EXPECT_EQ(d.calls.size(), 1u);
  c.Changed(kChangeValues);
  EXPECT_EQ(a.calls.size(), 1u);
  EXPECT_EQ(d.calls.size(), 2u);
}

TEST(ControllerModel, AFailingListenerReachesTheCallerAfterTheOthersAreTold) {
  TController c;
  TRecordingListener a, b;
  a.onCall = [&] {
    c.RemoveListener(&a);
    throw Exception("window failed");
  };
  c.AddListener(&a);
  c.AddListener(&b);
  c.BeginUpdate();
  c.Changed(kChangeValues);
  try {
    c.EndUpdate();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "window failed");
  }
  EXPECT_EQ(b.calls, (std::vector<uint8_t>{kChangeValues}));
  EXPECT_EQ(c.UpdateDepth(), 0);
  // The flags were handed out and the failing listener is gone.
  c.Changed(kChangeConnection);
  EXPECT_EQ(a.calls.size(), 1u);
  EXPECT_EQ(b.calls, (std::vector<uint8_t>{kChangeValues, kChangeConnection}));
}

TEST(ControllerModel, TravelSensorsAlwaysFollowTheConfigBlock) {
  TController c;
  auto travel = [&](int slot) { return static_cast<TProportionalSensor*>(c.FixedSensor(slot)); };
  // A new controller, and a type rebuild, take the default block's zero and spans.
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(travel(kSlotFrontTravel)->RawZeroValue(), 0);
    EXPECT_EQ(travel(kSlotFrontTravel)->RawFull(), -4096);
    EXPECT_EQ(travel(kSlotFrontTravel)->FullScale(), 0.2533f);
    EXPECT_EQ(travel(kSlotRearTravel)->RawFull(), -4096);
    EXPECT_EQ(travel(kSlotRearTravel)->FullScale(), 0.1013f);
    c.SetControllerType(3);
    c.SetControllerType(2);
  }
  EXPECT_FALSE(c.Modified());
  // A sensor scaled otherwise is brought back by the unchanged block.
  travel(kSlotFrontTravel)->SetupQuiet(0, 4096, 100);
  c.SetConfigBlock(c.ConfigBlock());
  EXPECT_EQ(travel(kSlotFrontTravel)->RawFull(), -4096);
  EXPECT_EQ(travel(kSlotFrontTravel)->FullScale(), 0.2533f);
  EXPECT_TRUE(c.Modified());

  TConfigBlock b = c.ConfigBlock();
  b.SetU16(cfg::kFrontZero, 3500);
  b.SetU16(cfg::kRearZero, 3900);
  c.SetConfigBlock(b);
  auto* front = static_cast<TProportionalSensor*>(c.FixedSensor(kSlotFrontTravel));
  auto* rear = static_cast<TProportionalSensor*>(c.FixedSensor(kSlotRearTravel));
  EXPECT_EQ(front->RawZeroValue(), 3500);
  EXPECT_EQ(front->RawFull(), 3500 - 4096);
  EXPECT_EQ(front->FullScale(), 0.2533f);
  EXPECT_EQ(rear->RawZeroValue(), 3900);
  EXPECT_EQ(rear->FullScale(), 0.1013f);
  EXPECT_FLOAT_EQ(front->RawToPhys(3500 - 2048), 0.2533f / 2);
}

// --- logging groups ---

void SetPeriods(TController& c, int32_t suspension, int32_t accel, int32_t aux, int32_t mag) {
  TConfigBlock b = c.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, suspension);
  b.SetI32(cfg::kAccelPeriod, accel);
  b.SetI32(cfg::kAuxPeriod, aux);
  b.SetI32(cfg::kMagPeriod, mag);
  c.SetConfigBlock(b);
}

TEST(LoggingGroups, SuspensionAndAccelerationAtTheSameRateShareAGroup) {
  TController c;
  SetPeriods(c, 5000, 5000, 0, 0);
  c.BuildLoggingGroups();
  EXPECT_EQ(c.LoggingGroupCount(), 1);
  EXPECT_EQ(c.LoggingGroups()[0].periodMs, 5);
  EXPECT_EQ(c.LoggingGroups()[0].channelCount, 5);
  EXPECT_EQ(c.LoggingGroups()[0].widthCode, 12);
  std::array<uint8_t, 32> expected;
  expected.fill(8);
  for (int input : {0, 1, 18, 19, 20}) expected[size_t(input)] = 0;
  EXPECT_EQ(c.ChannelMap(), expected);
}

TEST(LoggingGroups, DifferentRatesAttributesAndBytes) {
  TController c;
  SetPeriods(c, 1000, 10000, 10000, 999);  // magnetometer below 1 ms: not logged
  c.BuildLoggingGroups();
  ASSERT_EQ(c.LoggingGroupCount(), 2);
  EXPECT_EQ(c.LoggingGroups()[1].periodMs, 10);
  EXPECT_EQ(c.LoggingGroups()[1].channelCount, 6);
  EXPECT_EQ(c.ChannelMap()[21], (4 << 5) | 1);
  EXPECT_EQ(c.ChannelMap()[24], 8);
  auto bytes = c.LoggingGroupBytes();
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 0, 0, 0, 2, 12, 10, 0, 0, 0, 6, 12, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0,  0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0,  0, 0, 0, 0}));
}

TEST(LoggingGroups, NinePeriodsAreTooMany) {
  TController c;
  SetPeriods(c, 1000, 2000, 3000, 4000);
  TSensors custom;
  for (int k = 0; k < 5; ++k) {
    auto s = CreateSensor(&c, "Custom", 2 + k, 0);
    s->Tag = (5 + k) * 1000;
    custom.push_back(std::move(s));
  }
  c.SetCustomSensors(std::move(custom));
  try {
    c.BuildLoggingGroups();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Too many logging groups");
  }
  TSensors four;
  for (int k = 0; k < 4; ++k) {
    auto s = CreateSensor(&c, "Custom", 2 + k, 0);
    s->Tag = (5 + k) * 1000 + 500;  // 5.5 ms logs as 5 ms
    four.push_back(std::move(s));
  }
  c.SetCustomSensors(std::move(four));
  c.BuildLoggingGroups();
  EXPECT_EQ(c.LoggingGroupCount(), 8);
  EXPECT_EQ(c.LoggingGroups()[4].periodMs, 5);
}

TEST(LoggingGroups, ACustomSensorOnAnAlreadyLoggedInputMovesIt) {
  TController c;
  SetPeriods(c, 5000, 0, 10000, 0);
  TSensors custom;
  auto s = CreateSensor(&c, "Custom", 21, 0);
  s->Tag = 5000;
  custom.push_back(std::move(s));
  c.SetCustomSensors(std::move(custom));
  c.BuildLoggingGroups();
  EXPECT_EQ(c.ChannelMap()[21], 0);                 // overwritten by the later join
  EXPECT_EQ(c.LoggingGroups()[1].channelCount, 3);  // counted twice, as the logger expects
  EXPECT_EQ(c.LoggingGroups()[0].channelCount, 3);
}

}  // namespace
}  // namespace qvl
