#include <gtest/gtest.h>

#include <cstring>

#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

// Writes configuration streams record by record, the way another program would.
struct TStreamBuilder {
  TMemoryStream s;
  TStreamBuilder() { s.WriteBuffer("QVL2cr0", 7); }
  void Block(const std::vector<uint8_t>& bytes) {
    s.WriteU8(2);
    s.WriteU16(uint16_t(bytes.size()));
    s.WriteBytes(bytes);
  }
  void Raw(uint8_t type, const std::vector<uint8_t>& bytes) {
    s.WriteU8(type);
    s.WriteU16(uint16_t(bytes.size()));
    s.WriteBytes(bytes);
  }
  void SensorsBegin(uint16_t count) {
    s.WriteU8(4);
    s.WriteU16(count);
  }
  void Proportional(uint8_t kind, uint16_t input, int32_t period, const std::string& text,
                    int32_t zero, int32_t full, float scale) {
    s.WriteU8(kind);
    s.WriteU16(input);
    if (kind == 8) s.WriteI32(period);
    s.WriteString16(text);
    s.WriteI32(int32_t(uint32_t(zero) | 0xFFFF0000u));
    s.WriteI32(full);
    s.WriteF32(scale);
  }
  void Volt(uint8_t kind, uint16_t input, const std::string& text) {
    s.WriteU8(kind);
    s.WriteU16(input);
    if (kind == 8) s.WriteI32(10000);
    s.WriteString16(text);
  }
  void End() { s.WriteU8(0); }
  TMemoryStream& Stream() {
    s.SetPosition(0);
    return s;
  }
};

struct TCountingListener : IControllerListener {
  std::vector<uint8_t> calls;
  void ControllerChanged(TController*, uint8_t flags) override { calls.push_back(flags); }
};

std::vector<uint8_t> BlockBytes(const TConfigBlock& b) {
  return {b.bytes.begin(), b.bytes.end()};
}

TEST(ConfigStream, WrittenStreamReadsBackTheSameConfiguration) {
  TController a;
  TConfigBlock block = a.ConfigBlock();
  block.SetU16(cfg::kFrontZero, 3000);
  block.SetF32(cfg::kFrontTravel, 0.16f);
  block.SetI32(cfg::kSuspensionPeriod, 1000);
  a.SetConfigBlock(block);
  TLogControlBlock logctl = a.LogControl();
  logctl.SetU8(logctl::kMode, 3);
  a.SetLogControl(logctl);
  TSensors custom;
  auto brake = CreateSensor(&a, "Custom", 5, 0);
  brake->Tag = 10000;
  brake->Name = "Custom\\Brake\\bar";
  static_cast<TProportionalSensor*>(brake.get())->SetupQuiet(100, 4000, 12.5f);
  custom.push_back(std::move(brake));
  custom.push_back(CreateSensor(&a, "MCP9700", 6, 0));
  a.SetCustomSensors(std::move(custom));

  TMemoryStream m;
  a.WriteToStream(m);
  ASSERT_TRUE(a.HasConfigIdentity());

  TController b;
  // Slots 5 and 7 belong to the hardware: a sensor of b's own there must survive the read.
  auto ambient = CreateSensor(&b, "MCP9700", 9, 0);
  TSensor* ambientBefore = ambient.get();
  b.SetFixedSensor(kSlotAmbientTemp, std::move(ambient));
  TSensor* batteryBefore = b.FixedSensor(kSlotBattery);
  m.SetPosition(0);
  b.ReadFromStream(m);

  EXPECT_EQ(b.ConfigBlock(), a.ConfigBlock());
  EXPECT_EQ(b.LogControl(), a.LogControl());
  EXPECT_EQ(b.ConfigIdentity(), a.ConfigIdentity());
  EXPECT_EQ(b.ConfigTimestamp(), a.ConfigTimestamp());
  EXPECT_EQ(b.FixedSensor(kSlotAmbientTemp), ambientBefore);
  EXPECT_EQ(b.FixedSensor(kSlotBattery), batteryBefore);
  ASSERT_EQ(b.CustomSensors().size(), 2u);
  auto* c0 = dynamic_cast<TProportionalSensor*>(b.CustomSensors()[0].get());
  ASSERT_NE(c0, nullptr);
  EXPECT_EQ(c0->Name, "Custom\\Brake\\bar");
  EXPECT_EQ(c0->Tag, 10000);
  EXPECT_EQ(c0->Channel, 5);
  EXPECT_EQ(c0->RawZeroValue(), 100);
  EXPECT_EQ(c0->RawFull(), 4000);
  EXPECT_EQ(c0->FullScale(), 12.5f);
  EXPECT_STREQ(b.CustomSensors()[1]->ClassName(), "TVoltSensor");
  auto* front = dynamic_cast<TProportionalSensor*>(b.FixedSensor(kSlotFrontTravel));
  ASSERT_NE(front, nullptr);
  EXPECT_EQ(front->RawZeroValue(), 3000);
  EXPECT_EQ(front->RawFull(), 3000 - 4096);

  // Writing b again starts with the same magic and configuration block.
  TMemoryStream again;
  b.WriteToStream(again);
  std::vector<uint8_t> x = m.Bytes(), y = again.Bytes();
  ASSERT_GT(y.size(), 352u);
  EXPECT_EQ(std::memcmp(x.data(), y.data(), 7 + 3 + 342), 0);
}

TEST(ConfigStream, RecordsAreWrittenInTheirFixedOrder) {
  TController c;
  TMemoryStream m;
  c.WriteToStream(m);
  m.SetPosition(7);
  std::vector<int> types;
  for (;;) {
    uint8_t t = m.ReadU8();
    types.push_back(t);
    if (t == 0) break;
    if (t == 4) {
      uint16_t n = m.ReadU16();
      EXPECT_EQ(n, 6);  // slots 0 to 5 are occupied in a new controller
      for (int k = 0; k < n; ++k) {
        uint8_t kind = m.ReadU8();
        EXPECT_EQ(kind, k);
        m.ReadU16();
        std::string text = m.ReadString16();
        if (text == "Potentiometer" || text == "BAT") m.Skip(12);
      }
    } else {
      m.Skip(m.ReadU16());
    }
  }
  EXPECT_EQ(types, (std::vector<int>{2, 3, 4, 6, 5, 7, 8, 0}));
  EXPECT_TRUE(m.AtEnd());
}

TEST(ConfigStream, OldLayoutIsConvertedAndPeriodsComeFromTheControlBlock) {
  std::vector<uint8_t> old(317, 0);
  for (int i = 0; i < 16; ++i) old[size_t(102 + i)] = uint8_t(0xA0 + i);  // spans and ranges
  // Accelerometer table axis-major: axis a, position p holds a * 100 + p.
  for (int a = 0; a < 3; ++a)
    for (int p = 0; p < 6; ++p) PutF32(&old[size_t(30 + (a * 6 + p) * 4)], float(a * 100 + p));
  old[200] = 0x55;  // inside the area that is cleared
  TStreamBuilder b;
  b.Block(old);
  TLogControlBlock lc = DefaultLogControlBlock();
  lc.SetU32(logctl::kPeriod, 2000);
  b.Raw(8, {lc.bytes.begin(), lc.bytes.end()});
  b.End();
  TController c;
  c.ReadFromStream(b.Stream());
  const TConfigBlock& k = c.ConfigBlock();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(k.U8(size_t(246 + i)), 0xA0 + i);
  for (size_t i = 102; i < 246; ++i) ASSERT_EQ(k.U8(i), 0) << i;
  for (int p = 0; p < 6; ++p)
    for (int a = 0; a < 3; ++a) EXPECT_EQ(k.F32(size_t(30 + (p * 3 + a) * 4)), float(a * 100 + p));
  EXPECT_EQ(k.I32(cfg::kSuspensionPeriod), 2000);
  EXPECT_EQ(k.I32(cfg::kAccelPeriod), 2000);
}

TEST(ConfigStream, LongBlocksUnknownRecordsAndAMissingEndAreRead) {
  TController reference;
  std::vector<uint8_t> block = BlockBytes(reference.ConfigBlock());
  block[0] = 5;
  block.resize(400, 0xEE);  // 58 bytes beyond the known block
  TStreamBuilder b;
  b.Block(block);
  b.Raw(3, {9, 0, 0, 0});                    // controller type: ignored
  b.Raw(77, {1, 2, 3});                      // unknown record
  b.Raw(5, {1, 2, 3});                       // timestamp too short: skipped
  b.Raw(6, std::vector<uint8_t>(20, 0x11));  // identity with extra bytes
  std::vector<uint8_t> refs(4 * 33, 0);      // one more value than there are inputs
  PutF32(&refs[0], 1.5f);
  PutF32(&refs[4 * 32], 99.0f);
  b.Raw(7, refs);
  // no end record
  TController c;
  c.ReadFromStream(b.Stream());
  EXPECT_EQ(c.ConfigBlock().U8(cfg::kFrontPulses), 5);
  EXPECT_EQ(c.ControllerType(), 2u);
  EXPECT_TRUE(c.HasConfigIdentity());
  EXPECT_EQ(c.ConfigIdentity()[15], 0x11);
  EXPECT_EQ(c.ReferenceValues()[0], 1.5f);
  EXPECT_EQ(c.ReferenceValues().size(), 32u);
  EXPECT_FALSE(c.ConfigInSync());
  EXPECT_FALSE(c.Loading());
}

TEST(ConfigStream, FreesTheConfigurableSlotsAndForcesAccelerometerInputs) {
  TStreamBuilder b;
  b.SensorsBegin(3);
  b.Volt(0, 3, "ADXL5");    // kind 0 always reads input 18
  b.Volt(5, 9, "MCP9700");  // slot 5 is read and discarded
  b.Proportional(4, 1, 0, "Potentiometer\\Rear\\mm", 2000, 2000 - 4096, 0.1013f);
  b.End();
  TController c;
  TSensor* battery = c.FixedSensor(kSlotBattery);
  c.ReadFromStream(b.Stream());
  ASSERT_NE(c.FixedSensor(0), nullptr);
  EXPECT_EQ(c.FixedSensor(0)->Channel, 18);
  EXPECT_EQ(c.FixedSensor(1), nullptr);  // freed, not in the stream
  EXPECT_EQ(c.FixedSensor(3), nullptr);
  EXPECT_EQ(c.FixedSensor(kSlotBattery), battery);
  EXPECT_EQ(c.FixedSensor(4)->Name, "Potentiometer\\Rear\\mm");
}

TEST(ConfigStream, BadStreamsFailAndLeaveTheControllerUsable) {
  TController c;
  TCountingListener listener;
  c.AddListener(&listener);
  {
    TMemoryStream m(std::vector<uint8_t>{'Q', 'V', 'L', '2', 'c', 'r', '1', 0});
    try {
      c.ReadFromStream(m);
      FAIL();
    } catch (const QVLStreamError& e) {
      EXPECT_STREQ(e.what(), "Invalid stream format");
    }
  }
  for (uint8_t kind : {uint8_t(9), uint8_t(3)}) {
    TStreamBuilder b;
    b.SensorsBegin(1);
    b.Volt(kind, 0, kind == 9 ? "ADXL5" : "No such sensor");
    b.End();
    EXPECT_THROW(c.ReadFromStream(b.Stream()), QVLStreamError);
    EXPECT_FALSE(c.Loading());
    EXPECT_EQ(c.UpdateDepth(), 0);
  }
  // A truncated stream fails with the read error and keeps what was read.
  TStreamBuilder b;
  std::vector<uint8_t> block = BlockBytes(c.ConfigBlock());
  block[0] = 3;
  b.Block(block);
  b.s.WriteU8(8);
  b.s.WriteU16(16);
  b.s.WriteU8(1);
  EXPECT_THROW(c.ReadFromStream(b.Stream()), EReadError);
  EXPECT_EQ(c.ConfigBlock().U8(0), 3);
  EXPECT_EQ(c.UpdateDepth(), 0);
  EXPECT_FALSE(c.Loading());
  // Every attempt told the listeners once, with the configuration flag.
  ASSERT_GE(listener.calls.size(), 3u);
  EXPECT_EQ(listener.calls.back(), kChangeConfiguration);
}

TEST(ConfigStream, ReferenceValuesSetTheFixedSensorsParameters) {
  TStreamBuilder b;
  std::vector<uint8_t> refs(4 * 32, 0);
  PutF32(&refs[4 * 18], 0.5f);
  b.Raw(7, refs);
  b.SensorsBegin(1);
  b.Volt(0, 0, "ADXL5");
  b.End();
  TController c;
  c.ReadFromStream(b.Stream());
  EXPECT_EQ(c.FixedSensor(0)->Param, 0.5f);
}

TEST(ConfigImage, LengthWordAndPadToAnEvenSize) {
  TController c;
  auto image = c.BuildConfigImage();
  EXPECT_EQ(image.size() % 2, 0u);
  TMemoryStream m;
  c.WriteToStream(m);
  EXPECT_EQ(GetU16(image.data()), image.size() - 2);
  EXPECT_EQ(image.size(), size_t(m.Size() + 2 + (m.Size() % 2)));
}

TEST(ConfigFile, SaveAndLoadClearTheModifiedFlag) {
  std::string path = ::testing::TempDir() + "/qvl_config_test.QVLcf";
  TController a;
  TConfigBlock block = a.ConfigBlock();
  block.SetU8(cfg::kRearPulses, 4);
  a.SetConfigBlock(block);
  EXPECT_TRUE(a.Modified());
  a.SaveToFile(path);
  EXPECT_FALSE(a.Modified());
  TController b;
  b.SetModified(true);
  b.LoadFromFile(path);
  EXPECT_FALSE(b.Modified());
  EXPECT_EQ(b.ConfigBlock().U8(cfg::kRearPulses), 4);
  EXPECT_THROW(b.LoadFromFile(path + ".missing"), EFileError);
}

}  // namespace
}  // namespace qvl
