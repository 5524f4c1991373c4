// The simulated USB link adapter and wireless adapter at the report level: what they answer,
// how they frame the logger's bytes, their report timing, and their faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "core/util/endian.h"
#include "sim/sim_hid_adapter.h"
#include "sim/sim_tevraw_adapter.h"

namespace qvl::sim {
namespace {

std::vector<uint8_t> Report(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r(kHidOutputReportSize, 0);
  r[1] = uint8_t(data.size());
  std::memcpy(r.data() + 2, data.data(), data.size());
  return r;
}

// Collects the bytes of input reports until n have come or ms pass.
std::vector<uint8_t> Collect(IHidPeer& peer, size_t n, int ms = 500) {
  std::vector<uint8_t> got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  uint8_t report[kHidInputReportSize];
  while (got.size() < n && std::chrono::steady_clock::now() < end) {
    int size = peer.NextInputReport(report, sizeof report, 10);
    if (size > 0) got.insert(got.end(), report + 1, report + 1 + report[0]);
  }
  return got;
}

TEST(SimUsbAdapter, AnswersItsOwnCommandsAndPassesTheLoggersBytes) {
  TSimHidAdapter adapter({});
  auto r = Report({0x35, 0x01});
  EXPECT_EQ(adapter.HostOutputReport(r.data(), r.size()), int(kHidOutputReportSize));
  EXPECT_EQ(Collect(adapter, 3), (std::vector<uint8_t>{0x01, 2, 2}));
  r = Report({0x35, 0x02, 0x03, 0x7A});
  adapter.HostOutputReport(r.data(), r.size());
  EXPECT_EQ(Collect(adapter, 1), std::vector<uint8_t>{0x02});
  EXPECT_EQ(adapter.SpeedCode(), 0x03);
  r = Report({0x35, 0x03});
  adapter.HostOutputReport(r.data(), r.size());
  EXPECT_EQ(Collect(adapter, 1), std::vector<uint8_t>{0x03});
  EXPECT_EQ(adapter.SpeedCode(), 0);
  // The logger's identification request and its answer.
  r = Report({0x00});
  adapter.HostOutputReport(r.data(), r.size());
  auto id = Collect(adapter, 10);
  EXPECT_EQ(std::string(id.begin(), id.end()), std::string("QVL R2.11") + '\0');
}

TEST(SimUsbAdapter, A35InsideACommandFrameBelongsToTheLogger) {
  TSimHidAdapter adapter({});
  // 0x3E reads flash at 0x00000135: its data begin with 0x35 in a report of their own.
  auto r = Report({0x3E});
  adapter.HostOutputReport(r.data(), r.size());
  r = Report({0x35, 0x01, 0x00, 0x00, 0x04, 0x00});
  adapter.HostOutputReport(r.data(), r.size());
  auto got = Collect(adapter, 5);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], 0x3E);  // the echo, not the adapter's version answer
  std::vector<uint8_t> flash;
  {
    std::lock_guard<std::mutex> lock(adapter.Link().Mutex());
    flash.assign(adapter.Link().Logger().Flash().begin() + 0x135,
                 adapter.Link().Logger().Flash().begin() + 0x139);
  }
  EXPECT_EQ(std::vector<uint8_t>(got.begin() + 1, got.end()), flash);
  EXPECT_EQ(adapter.AdapterCommands(), 0);
}

TEST(SimUsbAdapter, ThrottledReportsMoveOncePerMillisecond) {
  TSimOptions logger;
  TSimHidOptions options;
  options.throttle = true;
  TSimHidAdapter adapter(logger, options);
  auto r = Report({0x00});
  const auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < 20; ++k) adapter.HostOutputReport(r.data(), r.size());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(18));
  // 20 identification strings of 10 bytes: 200 bytes in reports of at most 63 bytes, at least
  // a millisecond apart.
  std::vector<std::chrono::steady_clock::time_point> times;
  uint8_t report[kHidInputReportSize];
  size_t bytes = 0;
  while (bytes < 200) {
    if (adapter.NextInputReport(report, sizeof report, 50) <= 0) break;
    EXPECT_LE(report[0], 63);
    bytes += report[0];
    times.push_back(std::chrono::steady_clock::now());
  }
  EXPECT_EQ(bytes, 200u);
  ASSERT_GE(times.size(), 4u);
  EXPECT_GE(times.back() - times.front(), std::chrono::milliseconds(times.size() - 2));
}

TEST(SimUsbAdapter, TheUnplugFaultUnplugsTheAdapterUntilItIsPluggedInAgain) {
  TSimOptions logger;
  logger.faults.unplugAfter = 3;
  logger.faults.replugAfterMs = 50;
  TSimHidAdapter adapter(logger);
  EXPECT_TRUE(adapter.Present());
  auto r = Report({0x00, 0x00, 0x00, 0x00});
  adapter.HostOutputReport(r.data(), r.size());
  EXPECT_FALSE(adapter.Present());
  uint8_t report[kHidInputReportSize];
  EXPECT_EQ(adapter.NextInputReport(report, sizeof report, 5), -1);
  EXPECT_EQ(adapter.HostOutputReport(r.data(), r.size()), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_TRUE(adapter.Present());
}

// --- the wireless adapter ---

std::vector<uint8_t> Transmit(uint8_t type, uint8_t sequence, const std::vector<uint8_t>& payload,
                              uint16_t network = 0x0402, uint16_t address = 0x0600) {
  std::vector<uint8_t> c = {0x35,
                            0x0A,
                            type,
                            uint8_t(network),
                            uint8_t(network >> 8),
                            uint8_t(address),
                            uint8_t(address >> 8),
                            sequence,
                            uint8_t(payload.size())};
  c.insert(c.end(), payload.begin(), payload.end());
  return c;
}

std::vector<uint8_t> DataFrame(uint8_t sequence, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> payload = {0xA1, 0x00, 0x00, 0x09};
  payload.insert(payload.end(), bytes.begin(), bytes.end());
  return Transmit(0x07, sequence, payload);
}

struct TParsedFrame {
  uint8_t counter, length, quality, control0, control1, sequence, trailer;
  uint32_t timestamp;
  uint16_t network, address;
  std::vector<uint8_t> payload;
};

// Takes one frame off the front of the bytes (which must begin with 0x80).
bool TakeFrame(std::vector<uint8_t>& bytes, TParsedFrame& f) {
  if (bytes.size() < 17 || bytes[0] != 0x80) return false;
  f.counter = bytes[1];
  f.length = bytes[2];
  f.timestamp = GetU32(&bytes[3]);
  f.quality = bytes[8];
  f.control0 = bytes[9];
  f.control1 = bytes[10];
  f.sequence = bytes[11];
  f.network = GetU16(&bytes[12]);
  f.address = GetU16(&bytes[14]);
  const size_t payload = size_t(f.length) - 7;
  if (bytes.size() < 17 + payload) return false;
  f.payload.assign(bytes.begin() + 16, bytes.begin() + 16 + long(payload));
  f.trailer = bytes[16 + payload];
  bytes.erase(bytes.begin(), bytes.begin() + 17 + long(payload));
  return true;
}

void Send(TSimTevraWAdapter& adapter, const std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at < bytes.size(); at += 63) {
    auto r = Report(std::vector<uint8_t>(bytes.begin() + long(at),
                                         bytes.begin() + long(std::min(bytes.size(), at + 63))));
    adapter.HostOutputReport(r.data(), r.size());
  }
}

TEST(SimWirelessAdapter, AnswersTheSetUpAndStatusCommands) {
  TSimTevraWAdapter adapter({});
  // One report may hold several commands, and a command may be cut between reports.
  std::vector<uint8_t> bytes = {0x35, 0x05, 0x02, 0x14, 0x00, 0x02, 0x04, 0x35, 0x06};
  Send(adapter, bytes);
  Send(adapter, {0x01, 0x35, 0x01});
  EXPECT_EQ(Collect(adapter, 9), (std::vector<uint8_t>{0x05, 0x06, 0x01, 0x03, 0x01, 1, 0, 0, 0}));
  auto s = adapter.Stats();
  EXPECT_EQ(s.network, 0x0402);
  EXPECT_TRUE(s.sniffer);
}

TEST(SimWirelessAdapter, FramesTheLoggersAnswerForTheHost) {
  TSimTevraWAdapter adapter({});
  Send(adapter, DataFrame(0, {0x00}));
  auto bytes = Collect(adapter, 5 + 17 + 4 + 10);
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5),
            (std::vector<uint8_t>{0x0A, 1, 0, 0, 0}));
  bytes.erase(bytes.begin(), bytes.begin() + 5);
  TParsedFrame f;
  ASSERT_TRUE(TakeFrame(bytes, f));
  EXPECT_EQ(f.length, 7 + 4 + 10);
  EXPECT_EQ(f.control0 & 0x4F, 0x01);
  EXPECT_EQ(f.control1, 0x90);
  EXPECT_EQ(f.network, 0x0402);
  EXPECT_EQ(f.address, 0x0600);
  EXPECT_EQ(f.trailer, f.counter);
  EXPECT_EQ(f.payload[0], 0xA1);
  EXPECT_EQ(std::string(f.payload.begin() + 4, f.payload.end()), std::string("QVL R2.11") + '\0');
  // The next frame carries the next sequence number.
  Send(adapter, DataFrame(1, {0x00}));
  bytes = Collect(adapter, 5 + 17 + 4 + 10);
  bytes.erase(bytes.begin(), bytes.begin() + 5);
  TParsedFrame g;
  ASSERT_TRUE(TakeFrame(bytes, g));
  EXPECT_EQ(g.sequence, uint8_t(f.sequence + 1));
  EXPECT_GE(g.timestamp, f.timestamp);
}

TEST(SimWirelessAdapter, AnswersTheKeepAliveWithAStatusFrame) {
  TSimTevraWAdapter adapter({});
  std::vector<uint8_t> payload = {0xA3, 0, 0, 0};
  payload.resize(38, 0);
  Send(adapter, Transmit(0x03, 5, payload));
  auto bytes = Collect(adapter, 5 + 17 + 7);
  ASSERT_EQ(bytes.size(), 5u + 17 + 7);
  EXPECT_EQ(bytes[0], 0x0A);
  bytes.erase(bytes.begin(), bytes.begin() + 5);
  TParsedFrame f;
  ASSERT_TRUE(TakeFrame(bytes, f));
  EXPECT_EQ(f.payload.size(), 7u);
  EXPECT_EQ(f.payload[0], 0xA3);
  EXPECT_EQ(adapter.Stats().keepAlives, 1);
}

TEST(SimWirelessAdapter, ARepeatedSequenceNumberIsTakenOnce) {
  TSimTevraWOptions options;
  options.faults.deliveryFailRate = 1;
  options.faults.ackLoseRate = 1;  // not acknowledged, yet received
  TSimTevraWAdapter adapter({}, options);
  Send(adapter, DataFrame(9, {0x00}));
  Send(adapter, DataFrame(9, {0x00}));
  auto bytes = Collect(adapter, 10 + 17 + 4 + 10);
  ASSERT_GE(bytes.size(), 10u);
  EXPECT_EQ(bytes[2], 0x20);  // not delivered, as far as the adapter knows
  EXPECT_EQ(bytes[7] & 0x21, bytes[7]);
  EXPECT_NE(bytes[7], 0);
  auto s = adapter.Stats();
  EXPECT_EQ(s.loggerDuplicates, 1);
  EXPECT_EQ(s.notDelivered, 2);
  EXPECT_EQ(s.hostSequences, (std::vector<uint8_t>{9, 9}));
  // One identification answer only.
  bytes.erase(bytes.begin(), bytes.begin() + 10);
  TParsedFrame f;
  ASSERT_TRUE(TakeFrame(bytes, f));
  EXPECT_TRUE(bytes.empty());
}

TEST(SimWirelessAdapter, ALoggerOutOfRangeGetsNothing) {
  TSimOptions logger;
  logger.faults.unplugAfter = 0;
  logger.faults.replugAfterMs = 0;
  TSimTevraWAdapter adapter(logger);
  Send(adapter, DataFrame(1, {0x00}));  // the first byte takes the logger away
  Send(adapter, DataFrame(2, {0x00}));
  auto bytes = Collect(adapter, 10, 100);
  ASSERT_EQ(bytes.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 5, bytes.end()),
            (std::vector<uint8_t>{0x0A, 0, 0x20, 0, 1}));
  EXPECT_TRUE(adapter.Present());  // the adapter itself stays plugged in
  Send(adapter, {0x35, 0x01});
  bytes = Collect(adapter, 7, 100);
  ASSERT_EQ(bytes.size(), 7u);
  EXPECT_EQ(bytes[3], 0);  // no link
}

TEST(SimWirelessAdapter, FaultsAddForeignLostAndRepeatedFrames) {
  TSimTevraWOptions options;
  options.seed = 5;
  options.faults.foreignPanRate = 0.3;
  options.faults.foreignAddressRate = 0.3;
  options.faults.duplicateRate = 0.3;
  options.faults.frameLoseRate = 0.2;
  TSimTevraWAdapter adapter({}, options);
  std::vector<uint8_t> all;
  for (int k = 0; k < 40; ++k) {
    Send(adapter, DataFrame(uint8_t(k), {0x00}));
    auto got = Collect(adapter, 5 + 1000, 20);
    all.insert(all.end(), got.begin(), got.end());
  }
  int foreignPan = 0, foreignAddress = 0, repeats = 0, good = 0;
  std::vector<uint8_t> seen;
  while (!all.empty()) {
    if (all[0] == 0x0A) {
      all.erase(all.begin(), all.begin() + 5);
      continue;
    }
    TParsedFrame f;
    ASSERT_TRUE(TakeFrame(all, f));
    if (f.network != 0x0402) {
      ++foreignPan;
    } else if (f.address != 0x0600) {
      ++foreignAddress;
      EXPECT_EQ(f.control1, 0x18);
    } else if (std::find(seen.begin(), seen.end(), f.sequence) != seen.end()) {
      ++repeats;
    } else {
      seen.push_back(f.sequence);
      ++good;
    }
  }
  auto s = adapter.Stats();
  EXPECT_EQ(foreignPan + foreignAddress, s.foreignFrames);
  EXPECT_GT(foreignPan, 0);
  EXPECT_GT(foreignAddress, 0);
  EXPECT_EQ(repeats, s.framesDuplicated);
  EXPECT_GT(repeats, 0);
  EXPECT_GT(s.framesLost, 0);
  EXPECT_EQ(good + s.framesLost, s.framesToHost);
}

}  // namespace
}  // namespace qvl::sim
