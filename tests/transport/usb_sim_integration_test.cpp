// The USB links against the simulated logger behind the simulated USB link adapter and the
// simulated wireless adapter: connect, poll, burn, the adapter's speed switching, unplugging,
// and the wireless faults (foreign frames, duplicates, lost frames, failed deliveries). Also
// `qvl` on these links.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/synchronizer.h"
#include "core/util/endian.h"
#include "polling_host.h"
#include "sim/sim_hid_adapter.h"
#include "sim/sim_tevraw_adapter.h"
#include "transport/hid_comm.h"
#include "transport/tevraw_comm.h"

namespace qvl {
namespace {

using THost = test::TPollingHost;

struct TSimHid {
  std::shared_ptr<sim::TSimHidAdapter> adapter;
  std::shared_ptr<THidDeviceController> controller;
  std::shared_ptr<THIDComm> link;
  TSimHid(const sim::TSimOptions& logger, bool throttle = true) {
    sim::TSimHidOptions options;
    options.throttle = throttle;
    adapter = std::make_shared<sim::TSimHidAdapter>(logger, options);
    controller = sim::SimulatedHidController(adapter, kUsbVendorId, kUsbLinkProductId);
    link = std::make_shared<THIDComm>(controller);
  }
  template <typename F>
  auto WithLogger(F f) {
    std::lock_guard<std::mutex> lock(adapter->Link().Mutex());
    return f(adapter->Link().Logger());
  }
};

struct TSimTevraW {
  std::shared_ptr<sim::TSimTevraWAdapter> adapter;
  std::shared_ptr<TTevraWComm> link;
  TSimTevraW(const sim::TSimOptions& logger, const sim::TSimTevraWOptions& options = {}) {
    adapter = std::make_shared<sim::TSimTevraWAdapter>(logger, options);
    TTevraWOptions o;
    o.controller = sim::SimulatedHidController(adapter, kUsbVendorId, kWirelessProductId);
    o.systemWideLock = false;
    link = std::make_shared<TTevraWComm>(o);
  }
  template <typename F>
  auto WithLogger(F f) {
    std::lock_guard<std::mutex> lock(adapter->Link().Mutex());
    return f(adapter->Link().Logger());
  }
};

// Changes the configuration while connected: the end of the bracket burns it.
void BurnAChange(TController& c, uint8_t pulses) {
  TConfigBlock block = c.ConfigBlock();
  block.SetU8(cfg::kFrontPulses, pulses);
  c.BeginUpdate();
  c.SetConfigBlock(block);
  c.EndUpdate();
}

TEST(SimUsbLink, IdentifiesPollsAndBurns) {
  TSimHid sim({});
  THost host(sim.link);
  ASSERT_TRUE(host.Connect());
  TController& c = host.controller;
  EXPECT_EQ(c.IdentificationString(), "QVL R2.11");
  EXPECT_EQ(c.FlashSize(), 2u << 20);
  EXPECT_EQ(c.MarkerPosition(), 7);
  EXPECT_EQ(host.controller.CommThread()->RetryCount(), 1);
  ASSERT_TRUE(host.WaitValues(3));
  EXPECT_EQ(c.FlashWriteAddress(), sim.WithLogger([](auto& l) { return l.FlashWriteAddress(); }));

  BurnAChange(c, 5);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.ConfigImage(); }), c.ConfigImage().Bytes());
  EXPECT_EQ(c.MarkerPosition(), 11);
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_TRUE(host.errors.empty());
  // Packing: a poll takes one report out per protocol step, not one per byte.
  const int out = sim.adapter->ReportsFromHost();
  const int polls = host.values;
  EXPECT_LT(out, polls * 8 + 400);
}

TEST(SimUsbLink, TheAdapterSwitchesToFastTransferAndBack) {
  TSimHid sim({});
  THost host(sim.link);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.WaitValues(1));
  host.controller.PausePolling();
  THIDComm& link = *sim.link;
  // The version query.
  const uint8_t query[2] = {0x35, 0x01};
  link.OneShotWrite(query, 2);
  uint8_t version[3] = {};
  link.Read(version, 3);
  EXPECT_EQ(version[0], 1);
  EXPECT_EQ(version[1], 2);
  EXPECT_EQ(version[2], 2);
  // The logger's line speed, then the adapter's.
  const uint8_t fast[3] = {0x07, 9, 0};
  link.Write(fast, 3, false);
  const uint8_t higher[4] = {0x35, 0x02, 0x07, 0x7A};
  link.OneShotWrite(higher, 4);
  uint8_t answer = 0;
  link.Read(&answer, 1);
  EXPECT_EQ(answer, 0x02);
  EXPECT_EQ(sim.adapter->SpeedCode(), 0x07);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.LineSpeed(); }), 9);
  // A flash page read goes through at the new speed.
  TController& c = host.controller;
  c.CommandBuffer().WriteU32(0);
  c.CommandBuffer().WriteU16(256);
  c.SendCommand(0x3E, 256);
  std::vector<uint8_t> page(256);
  link.Read(page.data(), 256);
  auto flash = sim.WithLogger([](auto& l) { return l.Flash(); });
  EXPECT_TRUE(std::equal(page.begin(), page.end(), flash.begin()));
  // Back to normal.
  const uint8_t normal[3] = {0x07, 0, 0};
  link.Write(normal, 3, false);
  const uint8_t back[2] = {0x35, 0x03};
  link.OneShotWrite(back, 2);
  link.Read(&answer, 1);
  EXPECT_EQ(answer, 0x03);
  EXPECT_EQ(sim.adapter->SpeedCode(), 0);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.LineSpeed(); }), 0);
  host.controller.ResumePolling();
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_EQ(sim.adapter->AdapterCommands(), 3);
}

TEST(SimUsbLink, AnUnpluggedAdapterIsFoundAgainWithoutLeftovers) {
  sim::TSimOptions options;
  options.faults.unplugAfter = 150;
  options.faults.replugAfterMs = 300;
  TSimHid sim(options);
  THost host(sim.link);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Until([&] { return !host.controller.Connected(); }, 10000));
  EXPECT_FALSE(sim.link->IsOpen());
  ASSERT_TRUE(host.Until([&] { return host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_EQ(sim.link->Unplugs(), 1);
  EXPECT_EQ(sim.controller->HandedOut(), 1);
  sim.controller->Reap();
  EXPECT_EQ(sim.controller->Finishing(), 0);
}

TEST(SimUsbLink, PollingSurvivesLostBytes) {
  sim::TSimOptions options;
  options.seed = 3;
  options.faults.loseRate = 0.0003;
  options.faults.corruptEchoRate = 0.01;
  TSimHid sim(options);
  THost host(sim.link, 100);
  ASSERT_TRUE(host.Connect());
  EXPECT_TRUE(host.WaitValues(8, 15000));
  BurnAChange(host.controller, 6);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.ConfigImage(); }),
            host.controller.ConfigImage().Bytes());
}

TEST(SimWirelessLink, IdentifiesPollsBurnsAndKeepsTheLinkAlive) {
  TSimTevraW sim({});
  THost host(sim.link);
  ASSERT_TRUE(host.Connect());
  TController& c = host.controller;
  EXPECT_EQ(c.IdentificationString(), "QVL R2.11");
  EXPECT_EQ(c.CommThread()->RetryCount(), 4);
  ASSERT_TRUE(host.WaitValues(3));
  BurnAChange(c, 7);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.ConfigImage(); }), c.ConfigImage().Bytes());
  EXPECT_TRUE(host.WaitValues(2));
  auto before = sim.adapter->Stats();
  EXPECT_EQ(before.network, 1026);
  EXPECT_TRUE(before.sniffer);
  // Every chunk of the burn was at most 50 bytes.
  for (int n : before.hostChunkSizes) EXPECT_LE(n, 50);

  EXPECT_EQ(sim.link->Stats().relinks, 1);

  // Quiet on the link: the keep-alive goes out and the logger answers with status frames.
  c.PausePolling();
  EXPECT_TRUE(host.Until([&] { return sim.adapter->Stats().keepAlives >= 1; }, 10000));
  c.ResumePolling();
  EXPECT_TRUE(host.WaitValues(2));
  auto stats = sim.link->Stats();
  EXPECT_TRUE(stats.linkUp);
  EXPECT_GT(stats.linkQuality, 0);
  EXPECT_TRUE(host.errors.empty());
}

TEST(SimWirelessLink, ForeignFramesDuplicatesLossesAndFailedDeliveries) {
  sim::TSimOptions logger;
  sim::TSimTevraWOptions options;
  options.seed = 11;
  options.faults.foreignPanRate = 0.05;
  options.faults.foreignAddressRate = 0.05;
  options.faults.duplicateRate = 0.1;
  options.faults.frameLoseRate = 0.01;
  options.faults.deliveryFailRate = 0.05;
  options.faults.ackLoseRate = 0.5;
  options.faults.overflowEvery = 50;
  TSimTevraW sim(logger, options);
  THost host(sim.link);
  ASSERT_TRUE(host.Connect(10000));
  ASSERT_TRUE(host.WaitValues(10, 20000));
  BurnAChange(host.controller, 4);
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.ConfigImage(); }),
            host.controller.ConfigImage().Bytes());
  ASSERT_TRUE(host.Until([&] { return host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.WaitValues(3, 10000));
  auto s = sim.link->Stats();
  auto a = sim.adapter->Stats();
  EXPECT_EQ(s.mismatch, 0x03);
  EXPECT_GT(a.framesDuplicated, 0);
  EXPECT_GT(s.resends, 0);
  EXPECT_LE(s.resends, a.framesDuplicated);
  EXPECT_GT(a.notDelivered, 0);
  EXPECT_GT(s.transmitRetries, 0);
  EXPECT_GT(s.receiveOverflows, 0);
  // A retried chunk that the logger had received is not taken twice.
  EXPECT_GT(a.loggerDuplicates, 0);
}

TEST(SimWirelessLink, ALoggerOutOfRangeIsFoundAgain) {
  sim::TSimOptions logger;
  // Out of range for longer than a poll's attempts last: the first chunk is retried until the
  // link watch finds the link down (1500 ms), then four attempts time out after 500 ms each.
  logger.faults.unplugAfter = 150;
  logger.faults.replugAfterMs = 4500;
  TSimTevraW sim(logger);
  THost host(sim.link);
  ASSERT_TRUE(host.Connect());
  ASSERT_TRUE(host.Until([&] { return !host.controller.Connected(); }, 10000));
  ASSERT_TRUE(host.Until([&] { return host.controller.Connected(); }, 10000));
  EXPECT_TRUE(host.WaitValues(2));
  EXPECT_GE(sim.link->Stats().relinks, 2);
}

// --- qvl on the USB links ---

std::string QvlBinary() {
  std::string bin;
  if (const char* dir = std::getenv("QVL_BIN_DIR")) bin = dir;
  if (bin.empty()) bin = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  return bin + "/qvl";
}

int RunQvl(const std::string& arguments, std::string& out) {
  FILE* p = popen(("timeout 20 " + QvlBinary() + " " + arguments + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QvlUsbLinks, IdentifyAndStatusThroughTheSimulatedAdapters) {
  if (!std::filesystem::exists(QvlBinary())) GTEST_SKIP() << "qvl not built";
  std::string out;
  EXPECT_EQ(RunQvl("--link sim-hid identify --json", out), 0) << out;
  EXPECT_NE(out.find("\"id\": \"QVL R2.11\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"marker_position\": 7"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunQvl("--link sim-tevraw status", out), 0) << out;
  EXPECT_NE(out.find("Logging state:"), std::string::npos) << out;
}

TEST(QvlUsbLinks, WithoutTheAdapterTheUsbLinkSaysSo) {
  if (!std::filesystem::exists(QvlBinary())) GTEST_SKIP() << "qvl not built";
  auto backend = CreateHidapiBackend();
  if (!backend->Enumerate(kUsbVendorId, kUsbLinkProductId).empty())
    GTEST_SKIP() << "an adapter is plugged in";
  std::string out;
  EXPECT_EQ(RunQvl("--link hid identify", out), 1);
  EXPECT_EQ(out, "qvl: No device found\n");
}

}  // namespace
}  // namespace qvl
