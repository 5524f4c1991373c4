// The real serial link against the simulated logger on a pseudo-terminal: connect, poll,
// burn and read back, session markers, and recovery after the faults the simulator injects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/synchronizer.h"
#include "core/util/endian.h"
#include "polling_host.h"
#include "served_sim.h"
#include "sim/pty_server.h"
#include "transport/comm_channel_registry.h"

namespace qvl {
namespace {

using test::TServedSim;

// A controller with its polling thread on the real serial link.
struct THost : test::TPollingHost {
  explicit THost(const std::string& port, int timeOut = 300)
      : TPollingHost(CreateChannel("COM", port), timeOut) {}
};

TEST(SimOverSerial, IdentifiesAndPolls) {
  sim::TSimOptions options;
  TServedSim sim(options);
  THost host(sim.server.SlavePath());
  ASSERT_TRUE(host.Connect());
  TController& c = host.controller;
  EXPECT_EQ(c.IdentificationString(), "QVL R2.11");
  EXPECT_EQ(c.Version(), 211);
  EXPECT_TRUE(c.ConfigInSync());
  EXPECT_EQ(c.FlashSize(), 2u << 20);
  EXPECT_EQ(c.EraseSectorSize(), 4096u);
  const uint32_t sessionStart = sim.WithLogger([](auto& l) { return l.SessionStartAddress(); });
  EXPECT_EQ(c.SessionStartAddress(), sessionStart);
  EXPECT_EQ(c.SessionSector(), int32_t(sessionStart / 4096));
  EXPECT_EQ(c.MarkerPosition(), 7);  // two sessions, two markers
  // The factory configuration calibrates the potentiometers at 3900 counts.
  EXPECT_EQ(c.ConfigBlock().U16(cfg::kFrontZero), 3900);

  ASSERT_TRUE(host.WaitValues(3));
  EXPECT_EQ(c.FlashWriteAddress(), sim.WithLogger([](auto& l) { return l.FlashWriteAddress(); }));
  EXPECT_NEAR(double(c.LoggerClock()), double(DateTimeToDeviceTime(Now())), 5);
  EXPECT_NEAR(c.RawValue(8), 1781, 10);  // 8.0 V on the battery input
  // Gravity through the factory accelerometer calibration (bumps add up to 0.85 g).
  EXPECT_NEAR(c.GetValue(kParamVerticalAccel), 1.4, 0.5);
  EXPECT_TRUE(host.errors.empty());
}

TEST(SimOverSerial, SetsALoggerClockThatIsOff) {
  sim::TSimOptions options;
  options.clockOffsetUnits = -5000;
  TServedSim sim(options);
  THost host(sim.server.SlavePath());
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Until([&] {
    return std::abs(int64_t(host.controller.LoggerClock()) -
                    int64_t(DateTimeToDeviceTime(Now()))) <= 2;
  }));
  EXPECT_GE(sim.WithLogger([](auto& l) { return l.CommandCount(0x3C); }), 1);
}

TEST(SimOverSerial, BurnsReadsBackAndSetsASessionMarker) {
  sim::TSimOptions options;
  TServedSim sim(options);
  {
    THost host(sim.server.SlavePath());
    ASSERT_TRUE(host.Connect());
    ASSERT_TRUE(host.WaitValues(1));
    TController& c = host.controller;
    // A change while connected and in sync burns at the end of the update bracket.
    TConfigBlock block = c.ConfigBlock();
    block.SetU8(cfg::kFrontPulses, 5);
    block.SetI32(cfg::kSuspensionPeriod, 2000);
    c.BeginUpdate();
    c.SetConfigBlock(block);
    c.EndUpdate();
    EXPECT_EQ(sim.WithLogger([](auto& l) { return l.ConfigImage(); }), c.ConfigImage().Bytes());
    c.BuildLoggingGroups();
    auto groups = c.LoggingGroupBytes();
    EXPECT_TRUE(sim.WithLogger([&](auto& l) {
      return std::equal(groups.begin(), groups.end(), l.LoggingGroups().begin());
    }));
    EXPECT_EQ(sim.WithLogger([](auto& l) { return GetU32(&l.LogControl()[4]); }), 1000u);
    // The new session starts at the write address; its marker follows the two there were.
    EXPECT_EQ(c.MarkerPosition(), 11);
    EXPECT_EQ(c.SessionSector(), int32_t(c.FlashWriteAddress() / 4096));
    auto scratch = sim.WithLogger([](auto& l) { return l.Scratch(); });
    EXPECT_EQ(scratch[8] | (uint32_t(scratch[9]) << 16), uint32_t(c.SessionSector()));
    EXPECT_TRUE(host.WaitValues(1));  // polling goes on after the burn
  }
  // A new connection reads what was burned.
  THost again(sim.server.SlavePath());
  ASSERT_TRUE(again.Connect());
  EXPECT_EQ(again.controller.ConfigBlock().U8(cfg::kFrontPulses), 5);
  EXPECT_EQ(again.controller.ConfigBlock().I32(cfg::kSuspensionPeriod), 2000);
  EXPECT_EQ(again.controller.MarkerPosition(), 11);
}

TEST(SimOverSerial, ReconnectsAfterTheLoggerIsUnplugged) {
  namespace fs = std::filesystem;
  const std::string link =
      (fs::temp_directory_path() / ("qvlsim-" + std::to_string(getpid()) + ".tty")).string();
  sim::TSimOptions options;
  options.faults.unplugAfter = 100;
  options.faults.replugAfterMs = 300;
  TServedSim sim(options, link);
  THost host(link);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Until([&] { return !host.controller.Connected(); }, 10000));
  ASSERT_TRUE(host.Until([&] { return host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_GE(host.controller.LinkErrors(), 1);
}

TEST(SimOverSerial, ASilentLoggerIsFoundAgain) {
  sim::TSimOptions options;
  options.faults.silentAfter = 80;
  options.faults.silentForMs = 700;
  TServedSim sim(options);
  THost host(sim.server.SlavePath(), 150);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Until([&] { return !host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.Until([&] { return host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.WaitValues(2));
}

TEST(SimOverSerial, PollingSurvivesLostAndChangedBytes) {
  sim::TSimOptions options;
  options.seed = 7;
  options.faults.loseRate = 0.001;
  options.faults.corruptEchoRate = 0.02;
  TServedSim sim(options);
  THost host(sim.server.SlavePath(), 100);
  ASSERT_TRUE(host.Connect());
  EXPECT_TRUE(host.WaitValues(8, 15000));
  EXPECT_TRUE(host.Until([&] { return host.controller.Connected(); }, 5000));
}

TEST(SimOverSerial, AFailedQueuedCommandEmptiesTheQueueAndPollingGoesOn) {
  sim::TSimOptions options;
  TServedSim sim(options);
  THost host(sim.server.SlavePath(), 100);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.WaitValues(1));
  host.controller.PausePolling();
  host.controller.QueueCommand(0x55, nullptr, 0);  // no such command: never echoed
  uint8_t data[2] = {0x65, 1};
  host.controller.QueueCommand(0x39, data, 2);
  host.controller.ResumePolling();
  ASSERT_TRUE(host.Until([&] { return !host.errors.empty(); }));
  EXPECT_EQ(host.errors[0], "Time out on " + sim.server.SlavePath());
  EXPECT_EQ(host.controller.CommThread()->QueueSize(), 0u);
  EXPECT_FALSE(sim.WithLogger([](auto& l) { return l.LogBlocked(); }));
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_TRUE(host.controller.Connected());
}

TEST(SimOverSerial, CommandLineIdentifyGivesTheFlashFacts) {
  std::string bin;
  if (const char* dir = std::getenv("QVL_BIN_DIR")) bin = dir;
  if (bin.empty()) bin = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  if (!std::filesystem::exists(bin + "/qvl")) GTEST_SKIP() << "qvl not built";
  sim::TSimOptions options;
  TServedSim sim(options);
  std::string command =
      "timeout 20 " + bin + "/qvl --port " + sim.server.SlavePath() + " identify --json 2>&1";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  EXPECT_EQ(pclose(p), 0) << out;
  for (const char* key : {"\"id\": \"QVL R2.11\"", "\"version\": 211", "\"flash_size\": 2097152",
                          "\"sector_size\": 4096", "\"session_start\"", "\"session_sector\"",
                          "\"session_time\"", "\"marker_position\": 7"})
    EXPECT_NE(out.find(key), std::string::npos) << key << "\n" << out;
}

}  // namespace
}  // namespace qvl
