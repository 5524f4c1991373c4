#include "core/device/sensor.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

// A device model with a handful of inputs, counting change notices.
struct TFakeOwner : ISensorOwner {
  std::vector<int> raws = std::vector<int>(32, 0);
  int changes = 0;
  int AnalogInputCount() const override { return int(raws.size()); }
  int RawValue(int input) const override { return raws[size_t(input)]; }
  void SensorChanged() override { ++changes; }
};

TEST(SensorDatabase, HoldsEveryPartWithItsClassAndTable) {
  const auto& db = SensorDatabase();
  EXPECT_EQ(db.size(), 23u);
  for (const auto& row : db) {
    EXPECT_FALSE(row.className.empty()) << row.partName;
    EXPECT_EQ(row.kindMask, 0u) << row.partName;  // no shipped kind word names a channel kind
  }
  TFakeOwner owner;
  auto vr6 = CreateSensor(&owner, "Volks VR6", 0, 0);
  auto* res = dynamic_cast<TResSensor*>(vr6.get());
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->ResTable.size(), 14u);
  EXPECT_EQ(res->ResTable[0].temp, -40.0f);
  EXPECT_EQ(res->ResTable[0].res, 21250.0f);
  EXPECT_EQ(CreateSensor(&owner, "Nonexistent", 0, 0), nullptr);
  EXPECT_EQ(CreateSensor(&owner, "adxl5", 0, 0), nullptr);  // names match case-sensitively
}

TEST(SensorDatabase, KindWordsThatNameChannelKindsSetTheirBits) {
  auto rows = ParseSensorDatabase("P\\Front travel,Custom,MAP\\TVoltSensor\\V1,1.5,7\r");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].kindMask, (1u << 3) | (1u << 8));
  ASSERT_EQ(rows[0].voltTable.size(), 1u);
  EXPECT_EQ(rows[0].voltTable[0].raw, 7);
  EXPECT_EQ(rows[0].voltTable[0].phys, 1.5f);
  EXPECT_THROW(ParseSensorDatabase("P\\\\TVoltSensor\\V2,1,2\r"), Exception);  // table cut short
}

TEST(VoltSensor, InterpolatesInsideAndMarksOutsideTheTable) {
  TFakeOwner owner;
  auto adxl = CreateSensor(&owner, "ADXL5", 18, 0);
  EXPECT_FLOAT_EQ(adxl->RawToPhys(0), -8.62f);
  EXPECT_FLOAT_EQ(adxl->RawToPhys(512), 0.0f);
  EXPECT_NEAR(adxl->RawToPhys(1023), 8.60316f, 1e-5);
  EXPECT_TRUE(std::isnan(adxl->RawToPhys(1024)));  // outside 0..1023 though the table reaches 1024
  EXPECT_TRUE(std::isnan(adxl->RawToPhys(-1)));
  auto mcp = CreateSensor(&owner, "MCP9700", 5, 0);
  EXPECT_EQ(mcp->RawToPhys(100), -1.171875f);
  EXPECT_EQ(mcp->RawToPhys(600), INFINITY);
  auto gm = CreateSensor(&owner, "GM MAP 2bar", 5, 0);
  EXPECT_EQ(gm->RawToPhys(3), -INFINITY);
  EXPECT_NEAR(gm->PhysToRaw(gm->RawToPhys(500)), 500.0f, 1e-3);
  EXPECT_EQ(gm->RawMin(), 4);
  EXPECT_EQ(gm->RawMax(), 1004);
  EXPECT_EQ(gm->RawSpan(), 1000);
}

TEST(VoltSensor, GetValueReadsTheOwnersInputOrFailsWithoutOne) {
  TFakeOwner owner;
  owner.raws[18] = 512;
  auto adxl = CreateSensor(&owner, "ADXL5", 18, 0);
  EXPECT_FLOAT_EQ(adxl->GetValue(), 0.0f);
  adxl->Channel = 40;
  try {
    adxl->GetValue();
    FAIL();
  } catch (const EUndefinedParam& e) {
    EXPECT_STREQ(e.what(), "Undefined channel");
  }
  adxl->Channel = 18;
  adxl->Owner = nullptr;
  EXPECT_THROW(adxl->GetValue(), EUndefinedParam);
}

TEST(ResSensor, NeedsAConductanceAndFollowsTheThermistorCurve) {
  TFakeOwner owner;
  auto qz = CreateSensor(&owner, "QZ2K", 3, 0);
  EXPECT_TRUE(std::isnan(qz->RawToPhys(500)));  // Param 0
  EXPECT_EQ(qz->PhysToRaw(20), 1e8f);
  qz->Param = 1.0f / 2437.0f;  // pull-up equal to the 20 °C resistance: half scale is 20 °C
  EXPECT_NEAR(qz->RawToPhys(512), 20.0f, 0.01f);
  EXPECT_NEAR(qz->PhysToRaw(20.0f), 512.0f, 0.5f);
  EXPECT_GT(qz->RawToPhys(300), qz->RawToPhys(700));  // more resistance, colder
}

TEST(PhysMapper, BatteryCapacityInterpolatesAndExtrapolates) {
  TFakeOwner owner;
  auto cap = CreateSensor(&owner, "BatCapacity", 8, 0);
  EXPECT_NEAR(cap->MapValue(7.0f), 0.25f, 1e-6);
  EXPECT_GT(cap->MapValue(8.0f), 1.0f);
  EXPECT_LT(cap->MapValue(6.0f), 0.0f);
}

TEST(ProportionalSensor, StraightLineAndDecimalsBySpan) {
  TFakeOwner owner;
  TProportionalSensor s(&owner, "Potentiometer", 0, 0);
  s.Setup(3000, -1096, 150);
  EXPECT_EQ(owner.changes, 1);
  s.Setup(3000, -1096, 150);  // nothing changed: no notice
  EXPECT_EQ(owner.changes, 1);
  EXPECT_EQ(s.RawToPhys(3000), 0.0f);
  EXPECT_EQ(s.RawToPhys(1000), 73.2421875f);
  EXPECT_EQ(s.Decimals(), 5);  // falling sensor
  EXPECT_NEAR(s.PhysToRaw(73.2421875f), 1000.0f, 1e-3);
  s.Setup(0, 4096, 150);
  EXPECT_EQ(s.Decimals(), 3);  // 150 / 4096 = 0.037 per count: above 0.005, not above 0.05
  s.Setup(0, 1024, 150);
  EXPECT_EQ(s.Decimals(), 2);
  s.Setup(0, 10, 100);
  EXPECT_EQ(s.Decimals(), 0);
  auto factory = CreateSensor(&owner, "Custom", 14, 0);  // a 3.3 V input: 10 bits
  EXPECT_EQ(static_cast<TProportionalSensor*>(factory.get())->RawFull(), 1024);
}

TEST(ProportionalSensor, StreamFormsOldAndNew) {
  TFakeOwner owner;
  TProportionalSensor s(&owner, "Potentiometer", 0, 0);
  s.SetupQuiet(3000, -1096, 0.2533f);
  TMemoryStream m;
  s.SaveToStream(m);
  EXPECT_EQ(m.Bytes()[2], 0xFF);  // zero saved with its upper 16 bits set
  EXPECT_EQ(m.Bytes()[3], 0xFF);
  m.SetPosition(0);
  TProportionalSensor t(&owner, "Potentiometer", 0, 0);
  t.LoadFromStream(m);
  EXPECT_EQ(t.RawZeroValue(), 3000);
  EXPECT_EQ(t.RawFull(), -1096);
  EXPECT_EQ(t.FullScale(), 0.2533f);

  // The old form has no full scale: 100 whatever was there before.
  TMemoryStream old;
  old.WriteI32(200);
  old.WriteI32(900);
  old.SetPosition(0);
  t.LoadFromStream(old);
  EXPECT_EQ(t.RawZeroValue(), 200);
  EXPECT_EQ(t.RawFull(), 900);
  EXPECT_EQ(t.FullScale(), 100.0f);
  EXPECT_TRUE(old.AtEnd());

  // Equal zero and full leave both as they were.
  TMemoryStream same;
  same.WriteI32(int32_t(0xFFFF0000u | 5));
  same.WriteI32(5);
  same.WriteF32(7);
  same.SetPosition(0);
  t.LoadFromStream(same);
  EXPECT_EQ(t.RawZeroValue(), 200);
  EXPECT_EQ(t.FullScale(), 7.0f);
}

TEST(SensorText, NameAndUnitsPartsAreRebuiltAroundTheDatabaseName) {
  TFakeOwner owner;
  TProportionalSensor s(&owner, "Custom\\Brake\\bar", 0, 3);
  EXPECT_EQ(s.DatabaseName(), "Custom");
  EXPECT_EQ(s.DisplayName(), "Brake");
  EXPECT_EQ(s.UnitsText(), "bar");
  s.SetUnitsText("psi");
  EXPECT_EQ(s.Name, "Custom\\Brake\\psi");
  TProportionalSensor bare(&owner, "Custom", 0, 3);
  bare.SetDisplayName("Lever");
  EXPECT_EQ(bare.Name, "Custom\\Lever\\");
}

}  // namespace
}  // namespace qvl
