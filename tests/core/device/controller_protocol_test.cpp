// The command frame, the connect sequence, the poll digest, burning and the session markers,
// against a scripted peer on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/synchronizer.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "tests/core/device/fake_link.h"

namespace qvl {
namespace {

using test::TFakeClock;
using test::TScriptedLink;

// A controller wired to a scripted peer, without a polling thread (the link is the test's).
struct TProtocolRig {
  TFakeClock clock;
  std::shared_ptr<TScriptedLink> link = std::make_shared<TScriptedLink>(clock);
  TController controller;
  std::array<uint16_t, 256> scratch;
  std::vector<uint8_t> configImage;
  std::array<uint8_t, 6> sectorHeader{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  uint8_t flashCode = 1;

  TProtocolRig() {
    scratch.fill(0xFFFF);
    clock.SetRealSleep(false);  // one thread: time moves by the sleeps alone
    controller.SetTickClock(&clock);
    controller.SetChannel(link);  // not active: no thread
    link->dataLength = {{0x20, 18}, {0x26, 50}, {0x31, 34}, {0x2D, 4}, {0x2E, 2},
                        {0x3C, 6},  {0x3E, 6},  {0x43, 4},  {0x44, 4}, {0x12, 4}};
    link->answer = [this](uint8_t c, const std::vector<uint8_t>& d) { return Answer(c, d); };
    TController source;
    configImage = source.BuildConfigImage();
  }

  std::vector<uint8_t> Answer(uint8_t c, const std::vector<uint8_t>& d) {
    std::vector<uint8_t> a;
    switch (c) {
      case 0x32:
        return configImage;
      case 0x3F:
        a.assign(16, 0);
        PutU32(&a[4], 0x12000);
        a[9] = flashCode;
        return a;
      case 0x43: {
        const uint16_t first = GetU16(&d[0]), count = GetU16(&d[2]);
        a.resize(2 * count);
        for (int k = 0; k < count; ++k) PutU16(&a[2 * k], scratch[(first + k) % 256]);
        return a;
      }
      case 0x3E:
        return std::vector<uint8_t>(sectorHeader.begin(), sectorHeader.end());
      default:
        return a;
    }
  }

  void SetMarker(int index, uint32_t sector, uint32_t time) {
    scratch[4 * index] = uint16_t(sector);
    scratch[4 * index + 1] = uint16_t(sector >> 16);
    scratch[4 * index + 2] = uint16_t(time);
    scratch[4 * index + 3] = uint16_t(time >> 16);
  }

  void Connect(const std::string& id = "QVL R2.11") {
    // 0x45's length depends on its count; the marker write always has 4 words.
    link->dataLength[0x45] = 14;
    link->dataLength[0x28] = int(controller.BuildConfigImage().size());
    controller.SetIdentificationString(id);
    controller.Identify();
  }
};

// --- the frame ---------------------------------------------------------------------------------

TEST(CommandFrame, OneEchoPerChunkOfEightAndOneWithoutData) {
  TProtocolRig rig;
  rig.link->dataLength = {{0x45, 16}, {0x46, 17}};
  uint8_t data[17] = {};
  const int before = rig.link->EchoesSent();
  rig.controller.Transact(0x45, data, 0, 16);
  EXPECT_EQ(rig.link->EchoesSent() - before, 2);
  rig.controller.Transact(0x46, data, 0, 17);
  EXPECT_EQ(rig.link->EchoesSent() - before, 5);
  rig.controller.Transact(0x40, nullptr, 0, 0);
  EXPECT_EQ(rig.link->EchoesSent() - before, 6);
  // The host writes the command byte, then each chunk only after the previous echo.
  auto writes = rig.link->Writes();
  ASSERT_EQ(writes.size(), 1u + 2 + 1 + 3 + 1);
  EXPECT_EQ(writes[0], std::vector<uint8_t>{0x45});
  EXPECT_EQ(writes[1].size(), 8u);
  EXPECT_EQ(writes[2].size(), 8u);
  EXPECT_EQ(writes[6].size(), 1u);
}

TEST(CommandFrame, WrongEchoResendsTheWholeCommandAfter30Ms) {
  TProtocolRig rig;
  rig.link->dataLength = {{0x43, 4}};
  rig.link->echo = [](uint8_t c, int occurrence, int) {
    return occurrence == 0 ? uint8_t(0x99) : c;
  };
  uint8_t data[4] = {1, 2, 3, 4};
  rig.clock.ClearSleeps();
  rig.controller.Transact(0x43, data, 0, 4);
  auto seen = rig.link->Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].data, seen[1].data);
  EXPECT_EQ(seen[1].data, std::vector<uint8_t>(data, data + 4));
  auto sleeps = rig.clock.Sleeps();
  EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), 30u), sleeps.end());
}

TEST(CommandFrame, WrongEchoEveryTimeFailsAfterTenAttempts) {
  TProtocolRig rig;
  rig.link->echo = [](uint8_t, int, int) { return uint8_t(0x00); };
  rig.clock.ClearSleeps();
  try {
    rig.controller.Transact(0x40, nullptr, 0, 0);
    FAIL() << "no failure";
  } catch (const ETimeOutError& e) {
    EXPECT_STREQ(e.what(), "Wrong answer");
  }
  EXPECT_EQ(rig.link->Count(0x40), 10);
  // 30 x attempt ms between the attempts, none after the last.
  std::vector<uint32_t> between;
  for (uint32_t s : rig.clock.Sleeps())
    if (s >= 30) between.push_back(s);
  EXPECT_EQ(between, (std::vector<uint32_t>{30, 60, 90, 120, 150, 180, 210, 240, 270}));
}

TEST(CommandFrame, AnswerWindowIs808MsAfterTheLastEcho) {
  TProtocolRig rig;
  rig.link->dataLength = {{0x2D, 4}};
  rig.link->answer = [](uint8_t, const std::vector<uint8_t>&) {
    return std::vector<uint8_t>(40, 7);
  };
  uint8_t request[4] = {0, 0, 40, 0};
  rig.link->answerDelay = [](uint8_t, int) { return uint64_t(808); };
  rig.controller.Transact(0x2D, request, 40, 4);
  EXPECT_EQ(rig.link->Count(0x2D), 1);
  EXPECT_EQ(rig.link->InCount(), 40);

  TProtocolRig late;
  late.link->dataLength = {{0x2D, 4}};
  late.link->answer = rig.link->answer;
  late.link->answerDelay = [](uint8_t, int) { return uint64_t(830); };
  try {
    late.controller.Transact(0x2D, request, 40, 4);
    FAIL() << "late answer accepted";
  } catch (const ETimeOutError& e) {
    EXPECT_STREQ(e.what(), "Time out sending command");
  }
  EXPECT_EQ(late.link->Count(0x2D), 10);
}

TEST(CommandFrame, SendCommandTakesTheBufferUpToItsPositionAndRewinds) {
  TProtocolRig rig;
  rig.link->dataLength = {{0x3C, 6}};
  TMemoryStream& b = rig.controller.CommandBuffer();
  EXPECT_EQ(b.Size(), 1024);
  b.WriteU8(0x01);
  b.WriteU8(0x50);
  b.WriteU32(0x01020304);
  rig.controller.SendCommand(0x3C, 0);
  EXPECT_EQ(b.Position(), 0);
  auto seen = rig.link->Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].data, (std::vector<uint8_t>{0x01, 0x50, 4, 3, 2, 1}));
  // Without a polling thread, PostCommand sends at once.
  b.WriteU8(0x01);
  b.WriteU8(0x50);
  b.WriteU32(0);
  rig.controller.PostCommand(0x3C);
  EXPECT_EQ(rig.link->Count(0x3C), 2);
}

// --- connect sequence --------------------------------------------------------------------------

TEST(Identify, VersionFromTheIdentificationString) {
  TProtocolRig rig;
  rig.Connect("QVL R2.05");
  EXPECT_TRUE(rig.controller.Connected());
  EXPECT_EQ(rig.controller.Version(), 205);
  TProtocolRig other;
  other.Connect("QVL R1.x");
  EXPECT_EQ(other.controller.Version(), 100);
  // Below 2.02 the scratch memory is not read.
  EXPECT_EQ(other.link->Count(0x43), 0);
  EXPECT_EQ(other.controller.SessionSector(), -2);
}

TEST(Identify, AnotherDeviceStaysDisconnected) {
  TProtocolRig rig;
  rig.Connect("QVX R2.11");
  EXPECT_FALSE(rig.controller.Connected());
  EXPECT_EQ(rig.controller.LastConnectError(), "Not a QVL");
  EXPECT_EQ(rig.link->Seen().size(), 0u);
  rig.Connect("QVL  2.11");
  EXPECT_FALSE(rig.controller.Connected());
}

TEST(Identify, ReadsConfigurationAndFlashFacts) {
  TProtocolRig rig;
  TController source;
  TConfigBlock block = source.ConfigBlock();
  block.SetU8(cfg::kFrontPulses, 3);
  source.SetConfigBlock(block);
  rig.configImage = source.BuildConfigImage();
  rig.flashCode = 5;
  rig.Connect();
  ASSERT_TRUE(rig.controller.Connected());
  EXPECT_TRUE(rig.controller.ConfigInSync());
  EXPECT_EQ(rig.controller.ConfigBlock().U8(cfg::kFrontPulses), 3);
  EXPECT_EQ(rig.controller.FlashSize(), 64u << 20);
  EXPECT_EQ(rig.controller.EraseSectorSize(), 262144u);
  EXPECT_EQ(rig.controller.SessionStartAddress(), 0x12000u);
}

TEST(Identify, AFailingFlashQueryLeavesTheLoggerDisconnected) {
  TProtocolRig rig;
  rig.link->echo = [](uint8_t c, int, int) { return c == 0x3F ? uint8_t(0) : c; };
  rig.Connect();
  EXPECT_FALSE(rig.controller.Connected());
  EXPECT_EQ(rig.controller.LastConnectError(), "Wrong answer");
}

// --- session markers ---------------------------------------------------------------------------

TEST(SessionMarkers, FiveMarkersInTheFirstPage) {
  TProtocolRig rig;
  for (int i = 0; i < 5; ++i) rig.SetMarker(i, 100 + i, 5000 + i);
  rig.Connect();
  EXPECT_EQ(rig.controller.MarkerPosition(), 19);
  EXPECT_EQ(rig.controller.SessionSector(), 104);
  EXPECT_EQ(rig.controller.SessionTime(), 5004u);
  EXPECT_EQ(rig.link->Count(0x43), 1);
  // The header of the sector before the session is checked.
  auto seen = rig.link->Seen();
  auto header = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.command == 0x3E; });
  ASSERT_NE(header, seen.end());
  EXPECT_EQ(GetU32(header->data.data()), 103u * 4096);
  EXPECT_EQ(rig.controller.CurrentSessionStartAddress(), 104 * 4096);
}

TEST(SessionMarkers, ALaterSectorHeaderBeforeTheSessionMeansOverwritten) {
  TProtocolRig rig;
  rig.SetMarker(0, 100, 5000);
  rig.sectorHeader = {0xB1, 0x00, 0, 0, 0, 0};
  PutU32(&rig.sectorHeader[2], 6000);
  rig.Connect();
  EXPECT_EQ(rig.controller.SessionSector(), -1);
  EXPECT_EQ(rig.controller.CurrentSessionStartAddress(), -1);
}

TEST(SessionMarkers, FullScratchMemoryIsErasedBeforeTheNextMarker) {
  TProtocolRig rig;
  for (int i = 0; i < 64; ++i) rig.SetMarker(i, 10 + i, 1000 + i);
  rig.Connect();
  EXPECT_EQ(rig.controller.MarkerPosition(), 255);
  EXPECT_EQ(rig.controller.SessionSector(), 73);
  EXPECT_EQ(rig.link->Count(0x43), 4);

  rig.controller.AppendSessionMarker(80);  // the write address (0) is far from sector 73
  auto seen = rig.link->Seen();
  ASSERT_GE(seen.size(), 2u);
  const auto& erase = seen[seen.size() - 2];
  const auto& write = seen.back();
  EXPECT_EQ(erase.command, 0x44);
  EXPECT_EQ(GetU32(erase.data.data()), 0x47D2C3B5u);
  EXPECT_EQ(write.command, 0x45);
  EXPECT_EQ(GetU16(&write.data[0]), 0xB66F);
  EXPECT_EQ(GetU16(&write.data[2]), 0);  // first word
  EXPECT_EQ(GetU16(&write.data[4]), 4);
  EXPECT_EQ(GetU32(&write.data[6]), 80u);
  EXPECT_EQ(rig.controller.MarkerPosition(), 3);
  EXPECT_EQ(rig.controller.SessionSector(), 80);
}

TEST(SessionMarkers, NoMarkerWhenTheNewSessionIsNotCloserToTheWriteAddress) {
  TProtocolRig rig;
  rig.SetMarker(0, 50, 1000);
  rig.Connect();
  std::array<uint8_t, 40> block{};
  PutU32(&block[12], 60 * 4096);
  rig.controller.ProcessRealtime(block.data(), nullptr, 0);
  const size_t before = rig.link->Seen().size();
  rig.controller.AppendSessionMarker(40);  // farther back than the session at 50
  EXPECT_EQ(rig.link->Seen().size(), before);
  EXPECT_EQ(rig.controller.SessionSector(), 50);
  rig.controller.AppendSessionMarker(55);
  EXPECT_EQ(rig.controller.SessionSector(), 55);
  EXPECT_EQ(rig.controller.MarkerPosition(), 7);
}

// --- burn --------------------------------------------------------------------------------------

// Grows the configuration image to `size` bytes with a custom sensor's text.
void GrowImageTo(TController& c, size_t size) {
  TSensors custom;
  custom.push_back(CreateSensor(&c, "Potentiometer", 2, 0));
  custom[0]->Name = "Potentiometer";
  c.SetCustomSensors(std::move(custom));
  const size_t base = c.BuildConfigImage().size();
  ASSERT_LE(base, size);
  c.CustomSensors()[0]->Name += std::string(size - base, 'x');
  size_t now = c.BuildConfigImage().size();
  if (now > size) c.CustomSensors()[0]->Name.pop_back();
  ASSERT_EQ(c.BuildConfigImage().size(), size);
}

TEST(Burn, RefusedWhileDisconnected) {
  TProtocolRig rig;
  try {
    rig.controller.Burn();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Must be connected for burning operation");
  }
}

TEST(Burn, ImageOf2980BytesIsBurnedInEchoedChunks) {
  TProtocolRig rig;
  rig.Connect();
  ASSERT_TRUE(rig.controller.Connected());
  GrowImageTo(rig.controller, 2980);
  rig.link->dataLength[0x28] = 2980;
  rig.link->SetTimeOut(500);
  const size_t before = rig.link->Seen().size();
  rig.controller.Burn();
  auto seen = rig.link->Seen();
  std::vector<uint8_t> commands;
  for (size_t i = before; i < seen.size(); ++i) commands.push_back(seen[i].command);
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(commands[0], 0x20);
  EXPECT_EQ(commands[1], 0x26);
  EXPECT_EQ(commands[2], 0x31);
  EXPECT_EQ(commands[3], 0x28);
  EXPECT_EQ(seen[before].data.size(), 18u);
  EXPECT_EQ(GetU32(&seen[before].data[2 + 4]), 1000u);  // logging control block offset 4
  EXPECT_EQ(seen[before + 1].data[1], 48);
  EXPECT_EQ(seen[before + 2].data[1], 32);
  EXPECT_EQ(seen[before + 3].data.size(), 2980u);
  EXPECT_EQ(seen[before + 3].data, rig.controller.ConfigImage().Bytes());
  // A session marker follows; the link's time-out is back.
  EXPECT_EQ(commands.back(), 0x45);
  EXPECT_EQ(rig.link->GetTimeOut(), 500);
}

TEST(Burn, OnlyTheEndOfACallersUpdateBracketBurns) {
  TProtocolRig rig;
  rig.Connect();
  ASSERT_TRUE(rig.controller.Connected());
  ASSERT_TRUE(rig.controller.ConfigInSync());
  TConfigBlock b = rig.controller.ConfigBlock();
  b.SetU8(cfg::kFrontPulses, 5);
  rig.controller.SetConfigBlock(b);
  EXPECT_EQ(rig.link->Count(0x28), 0);
  rig.controller.BeginUpdate();
  b.SetU8(cfg::kFrontPulses, 6);
  rig.controller.SetConfigBlock(b);
  EXPECT_EQ(rig.link->Count(0x28), 0);
  rig.link->dataLength[0x28] = int(rig.controller.BuildConfigImage().size());
  rig.controller.EndUpdate();
  EXPECT_EQ(rig.link->Count(0x28), 1);
}

TEST(Burn, ImageOverTheLimitIsRefusedBeforeAnyOfItIsSent) {
  TProtocolRig rig;
  rig.Connect();
  GrowImageTo(rig.controller, 2982);  // images are padded to an even size
  rig.link->SetTimeOut(700);
  try {
    rig.controller.Burn();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Configuration data larger than permitted");
  }
  EXPECT_EQ(rig.link->Count(0x28), 0);
  EXPECT_EQ(rig.link->Count(0x31), 1);
  EXPECT_EQ(rig.link->GetTimeOut(), 700);
}

TEST(Burn, FailureRestoresTheTimeOutAndResumesPolling) {
  TProtocolRig rig;
  rig.Connect();
  TEventLoopSynchronizer loop;
  rig.controller.SetSynchronizer(&loop);
  rig.link->silent = true;  // the thread never gets an identification
  rig.controller.SetActive(true);
  ASSERT_NE(rig.controller.CommThread(), nullptr);
  rig.controller.PausePolling();
  // The thread may have found the silent link before the pause; the link is ours now.
  rig.controller.SetConnected(true);
  rig.link->silent = false;
  rig.link->echo = [](uint8_t c, int, int) { return c == 0x26 ? uint8_t(0) : c; };
  rig.link->SetTimeOut(300);
  EXPECT_THROW(rig.controller.Burn(), ETimeOutError);
  EXPECT_EQ(rig.link->GetTimeOut(), 300);
  EXPECT_EQ(rig.controller.CommThread()->PauseCount(), 1);
  rig.controller.ResumePolling();
  EXPECT_EQ(rig.controller.CommThread()->PauseCount(), 0);
  rig.controller.SetChannel(nullptr);
}

// --- poll digest -------------------------------------------------------------------------------

struct TPollRig : TProtocolRig {
  TEventLoopSynchronizer loop;
  TDateTime pcNow = EncodeDate(2024, 5, 1) + 0.5;

  TPollRig() {
    clock.SetRealSleep(true);
    controller.SetSynchronizer(&loop);
    controller.SetNowFunction([this] { return pcNow; });
    Connect();
    // A polling thread that stays paused, so that queued commands can be looked at.
    link->silent = true;
    controller.SetActive(true);
    controller.PausePolling();
  }
  ~TPollRig() { controller.SetChannel(nullptr); }

  std::array<uint8_t, 40> Block(uint8_t status, int32_t clockOffset, uint32_t writeAddress = 0) {
    std::array<uint8_t, 40> b{};
    b[10] = status;
    PutU32(&b[12], writeAddress);
    PutU32(&b[30], uint32_t(int64_t(DateTimeToDeviceTime(pcNow)) + clockOffset));
    return b;
  }
  int QueuedClockCommands() {
    int n = 0;
    for (auto& r : controller.CommThread()->QueuedCommands()) n += r.command == 0x3C;
    return n;
  }
};

TEST(ProcessRealtime, ClockWithin300UnitsIsLeftAlone) {
  TPollRig rig;
  auto b = rig.Block(0x20, 300);
  rig.controller.ProcessRealtime(b.data(), nullptr, 0);
  b = rig.Block(0x20, -300);
  rig.controller.ProcessRealtime(b.data(), nullptr, 0);
  EXPECT_EQ(rig.QueuedClockCommands(), 0);
  b = rig.Block(0x20, 301);
  rig.controller.ProcessRealtime(b.data(), nullptr, 0);
  ASSERT_EQ(rig.QueuedClockCommands(), 1);
  auto record = rig.controller.CommThread()->QueuedCommands().back();
  ASSERT_EQ(record.data.size(), 6u);
  EXPECT_EQ(record.data[0], 0x01);
  EXPECT_EQ(record.data[1], 0x50);
  EXPECT_EQ(GetU32(&record.data[2]), DateTimeToDeviceTime(rig.pcNow));
  // A clock that is not set is set even when it reads right.
  b = rig.Block(0x00, 0);
  rig.controller.ProcessRealtime(b.data(), nullptr, 0);
  EXPECT_EQ(rig.QueuedClockCommands(), 2);
}

TEST(ProcessRealtime, RawValuesAndSessionOverwrite) {
  TPollRig rig;
  rig.link->silent = false;               // polling is paused: the link is the test's
  rig.controller.AppendSessionMarker(5);  // session at sector 5
  ASSERT_EQ(rig.controller.SessionSector(), 5);
  auto b = rig.Block(0x20, 0, 3 * 4096 + 100);
  std::vector<uint8_t> analog(2 * 32);
  PutI16(&analog[2 * 8], 2805);
  rig.controller.ProcessRealtime(b.data(), analog.data(), 32);
  EXPECT_EQ(rig.controller.RawValue(8), 2805);
  b = rig.Block(0x20, 0, 4 * 4096 + 100);
  rig.controller.ProcessRealtime(b.data(), analog.data(), 32);
  EXPECT_EQ(rig.controller.SessionSector(), 5);
  b = rig.Block(0x20, 0, 5 * 4096 + 8);
  rig.controller.ProcessRealtime(b.data(), analog.data(), 32);
  EXPECT_EQ(rig.controller.SessionSector(), -1);
}

TEST(DeviceTime, ConversionsBothWays) {
  EXPECT_EQ(DateTimeToDeviceTime(EncodeDate(2000, 1, 1)), 0u);
  EXPECT_EQ(DateTimeToDeviceTime(EncodeDate(2000, 1, 2)), 84375u);
  EXPECT_EQ(DateTimeToDeviceTime(EncodeDate(1999, 1, 1)), 0u);
  EXPECT_DOUBLE_EQ(DeviceTimeToDateTime(84375 * 10), EncodeDate(2000, 1, 11));
  uint16_t date, time;
  DeviceTimeToFat(DateTimeToDeviceTime(EncodeDate(2024, 5, 1) + EncodeTime(13, 30, 10, 0)), date,
                  time);
  EXPECT_EQ(date, ((2024 - 1980) << 9) | (5 << 5) | 1);
  EXPECT_EQ(time >> 11, 13);
  EXPECT_EQ((time >> 5) & 63, 30);
}

}  // namespace
}  // namespace qvl
