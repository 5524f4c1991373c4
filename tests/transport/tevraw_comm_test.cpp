// The wireless adapter link against a scripted adapter: set-up, data frames out in chunks with
// retries, frames in with their checks (PAN, address, duplicates, status, messages,
// overflow), the link watch and the indicator, the keep-alive, and time-outs. The channel runs
// on a hand-driven millisecond clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <numeric>
#include <thread>

#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "sim/fake_hid_device.h"
#include "sim/sim_tevraw_adapter.h"
#include "transport/comm_channel_registry.h"
#include "transport/tevraw_comm.h"

namespace qvl {
namespace {

// Time moves only when the channel sleeps or the test says so.
struct TManualClock : ITickClock {
  std::atomic<uint64_t> now{1000000};
  uint64_t NowMs() override { return now; }
  void SleepMs(uint32_t ms) override {
    now += ms;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  void Advance(uint64_t ms) { now += ms; }
};

std::vector<uint8_t> Data(const std::vector<uint8_t>& report) {
  return std::vector<uint8_t>(report.begin() + 2, report.begin() + 2 + report[1]);
}

// The adapter as a test plays it: every output report holds one command.
struct TScriptAdapter {
  std::shared_ptr<TScriptedHidPeer> peer = std::make_shared<TScriptedHidPeer>();
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> commands;
  std::deque<std::array<uint8_t, 4>> transmitStatus;  // answers of the next transmissions
  std::array<uint8_t, 4> status = {1, 0, 2, 3};       // link, result, host FCS, host transmit
  uint16_t version = 0x0103;
  bool silent = false;
  uint8_t wrongAnswerTo = 0;  // sub-command answered with a wrong byte
  std::function<void()> afterTransmit;

  TScriptAdapter() {
    peer->SetResponder([this](const std::vector<uint8_t>& report) { Respond(Data(report)); });
  }
  void Respond(const std::vector<uint8_t>& c) {
    std::vector<uint8_t> answer;
    std::function<void()> after;
    {
      std::lock_guard<std::mutex> lock(mutex);
      commands.push_back(c);
      if (silent || c.size() < 2 || c[0] != 0x35) return;
      const uint8_t sub = c[1];
      if (sub == wrongAnswerTo) {
        peer->PushBytes({0x07});
        return;
      }
      if (sub == 0x01) {
        answer = {0x01, uint8_t(version), uint8_t(version >> 8)};
        answer.insert(answer.end(), status.begin(), status.end());
      } else if (sub == 0x05 || sub == 0x06) {
        answer = {sub};
      } else if (sub == 0x0A) {
        auto s = status;
        if (!transmitStatus.empty()) {
          s = transmitStatus.front();
          transmitStatus.pop_front();
        }
        answer = {0x0A};
        answer.insert(answer.end(), s.begin(), s.end());
        after = afterTransmit;
      }
    }
    peer->PushBytes(answer);
    if (after) after();
  }
  std::vector<std::vector<uint8_t>> Transmissions() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::vector<uint8_t>> t;
    for (const auto& c : commands)
      if (c.size() >= 9 && c[1] == 0x0A) t.push_back(c);
    return t;
  }
};

std::vector<uint8_t> Frame(uint8_t sequence, uint32_t timestamp,
                           const std::vector<uint8_t>& payload,
                           uint16_t network = kTevraDefaultNetwork,
                           uint16_t address = kTevraDefaultAddress, uint8_t control1 = 0x90,
                           uint8_t counter = 9, uint8_t trailer = 9, uint8_t quality = 200,
                           uint8_t control0 = 0x21) {
  return sim::TevraRadioFrame(counter, timestamp, quality, control0, control1, sequence, network,
                              address, payload, trailer);
}

std::vector<uint8_t> DataPayload(const std::vector<uint8_t>& bytes, uint8_t quality = 150) {
  std::vector<uint8_t> p = {0xA1, quality, 0, 0};
  p.insert(p.end(), bytes.begin(), bytes.end());
  return p;
}

struct TevraWLink : ::testing::Test {
  TScriptAdapter adapter;
  TManualClock clock;
  std::shared_ptr<THidDeviceController> controller;
  std::string lockDir;
  std::unique_ptr<TTevraWComm> comm;

  TevraWLink() {
    auto backend = std::make_unique<TFakeHidBackend>();
    backend->Plug(kUsbVendorId, kWirelessProductId, adapter.peer);
    controller = std::make_shared<THidDeviceController>(std::move(backend));
    lockDir =
        (std::filesystem::temp_directory_path() / ("qvl-tevraw-" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(lockDir);
    TTevraWOptions options;
    options.controller = controller;
    options.clock = &clock;
    options.keepAliveTimer = false;
    options.lockDirectory = lockDir;
    comm = std::make_unique<TTevraWComm>(options);
  }
  ~TevraWLink() override {
    comm.reset();
    std::filesystem::remove_all(lockDir);
  }
  void Open(int bufferSize = 1024) {
    comm->Open("TevraW", "", bufferSize, 0);
    ASSERT_TRUE(comm->IsOpen());
  }
  // Puts adapter bytes on the way, waits until the inner link has them and lets the channel
  // process them.
  void Arrive(const std::vector<uint8_t>& bytes) {
    adapter.peer->PushBytes(bytes);
    ASSERT_TRUE(adapter.peer->WaitUntilDelivered(2000));
    comm->InCount();
  }
  std::vector<uint8_t> ReadAll() {
    std::vector<uint8_t> got(size_t(comm->InCount()));
    if (!got.empty()) comm->Read(got.data(), int(got.size()));
    return got;
  }
  // A first data frame from the logger: the link is up.
  void LinkUp() {
    Arrive(Frame(200, 5000, DataPayload({0x55})));
    ASSERT_EQ(ReadAll(), std::vector<uint8_t>{0x55});
    ASSERT_TRUE(comm->Stats().linkUp);
  }
};

TEST_F(TevraWLink, SetUpRegistersTheNetworkAndReadsTheAdapterStatus) {
  Open();
  ASSERT_GE(adapter.commands.size(), 3u);
  EXPECT_EQ(adapter.commands[0], (std::vector<uint8_t>{0x35, 0x05, 0x02, 0x14, 0x00, 0x02, 0x04}));
  EXPECT_EQ(adapter.commands[1], (std::vector<uint8_t>{0x35, 0x06, 0x01}));
  EXPECT_EQ(adapter.commands[2], (std::vector<uint8_t>{0x35, 0x01}));
  auto s = comm->Stats();
  EXPECT_TRUE(s.linked);
  EXPECT_FALSE(s.linkUp);
  EXPECT_EQ(s.version, 0x0103);
  EXPECT_EQ(s.adapterStatus, (std::array<uint8_t, 4>{1, 0, 2, 3}));
  EXPECT_EQ(comm->NetworkId(), 1026);
  EXPECT_EQ(comm->Address(), 1536);
  EXPECT_EQ(comm->GetTimeOut(), 500);
  EXPECT_EQ(comm->Indicator().hint,
            "Version 1.3, 0 relinks, 0 Transmit retries, 0 Transmit fails\r"
            "host side errors: 2 FCS, 3 Transmit, \r"
            "device side errors: 0 FCS, 0 Transmit, 0 resends");
  auto d = comm->Diagnostics();
  EXPECT_NE(std::find(d.begin(), d.end(), "Setting rcn"), d.end());
  EXPECT_NE(std::find(d.begin(), d.end(), "Setting sniffer"), d.end());
  EXPECT_EQ(comm->GetPortName(), "USB TevraW");
  EXPECT_EQ(comm->Inner()->BufferSize(), 2048);
}

TEST_F(TevraWLink, WrongSetUpAnswersLeaveTheLinkClosed) {
  const std::pair<uint8_t, const char*> cases[] = {{0x05, "Invalid rcn response"},
                                                   {0x06, "Invalid sniff response"},
                                                   {0x01, "Invalid status response"}};
  for (const auto& [sub, text] : cases) {
    adapter.wrongAnswerTo = sub;
    try {
      comm->Open("TevraW", "", 1024, 0);
      ADD_FAILURE() << "set-up passed for " << int(sub);
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), text);
    }
    EXPECT_FALSE(comm->IsOpen());
  }
  adapter.wrongAnswerTo = 0;
  comm->Open("TevraW", "", 1024, 0);
  EXPECT_TRUE(comm->IsOpen());
}

TEST_F(TevraWLink, ASilentAdapterTimesOut) {
  adapter.silent = true;
  try {
    comm->Open("TevraW", "", 1024, 0);
    FAIL() << "opened";
  } catch (const ETimeOutError& e) {
    EXPECT_STREQ(e.what(), "Time out on TevraW");
  }
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_EQ(comm->GetLastErrorText(), "Time out on TevraW");
}

TEST_F(TevraWLink, WithoutTheAdapterOpenFailsWithNoDeviceFound) {
  adapter.peer->Unplug();
  EXPECT_THROW(comm->Open("TevraW", "", 1024, 0), NoDeviceException);
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_EQ(comm->GetLastErrorText(), "No device found");
}

TEST_F(TevraWLink, AHundredTwentyBytesGoOutAsFramesOfFiftyFiftyAndTwenty) {
  Open();
  std::vector<uint8_t> message(120);
  std::iota(message.begin(), message.end(), 1);
  const uint8_t first = comm->Stats().sequence;
  comm->Write(message.data(), 120, true);
  auto t = adapter.Transmissions();
  ASSERT_EQ(t.size(), 3u);
  const int sizes[] = {50, 50, 20};
  std::vector<uint8_t> sent;
  for (size_t k = 0; k < 3; ++k) {
    const auto& c = t[k];
    ASSERT_EQ(c.size(), size_t(13 + sizes[k]));
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 7),
              (std::vector<uint8_t>{0x35, 0x0A, 0x07, 0x02, 0x04, 0x00, 0x06}));
    EXPECT_EQ(c[7], uint8_t(first + k));
    EXPECT_EQ(c[8], sizes[k] + 4);
    EXPECT_EQ(std::vector<uint8_t>(c.begin() + 9, c.begin() + 13),
              (std::vector<uint8_t>{0xA1, 0x00, 0x00, 0x09}));
    sent.insert(sent.end(), c.begin() + 13, c.end());
  }
  EXPECT_EQ(sent, message);
  EXPECT_EQ(comm->Stats().sequence, uint8_t(first + 3));
}

TEST_F(TevraWLink, BytesWaitForAFlushOrARead) {
  Open();
  const uint8_t b[2] = {0x2D, 0x00};
  comm->Write(b, 2, false);
  EXPECT_TRUE(adapter.Transmissions().empty());
  adapter.afterTransmit = [&] { adapter.peer->PushBytes(Frame(1, 100, DataPayload({0x2D}))); };
  uint8_t echo = 0;
  comm->Read(&echo, 1);
  EXPECT_EQ(echo, 0x2D);
  auto t = adapter.Transmissions();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(t[0].begin() + 13, t[0].end()), (std::vector<uint8_t>{0x2D, 0}));
}

TEST_F(TevraWLink, ANotDeliveredChunkIsSentAgainWithTheSameSequenceNumber) {
  Open();
  LinkUp();
  adapter.transmitStatus = {{1, 0x20, 0, 0}};
  std::vector<uint8_t> message(60);
  std::iota(message.begin(), message.end(), 0);
  const uint8_t first = comm->Stats().sequence;
  comm->Write(message.data(), 60, true);
  auto t = adapter.Transmissions();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0], t[1]);  // same sequence number, same length, same bytes
  EXPECT_EQ(t[0][7], first);
  EXPECT_EQ(t[2][7], uint8_t(first + 1));
  std::vector<uint8_t> delivered(t[1].begin() + 13, t[1].end());
  delivered.insert(delivered.end(), t[2].begin() + 13, t[2].end());
  EXPECT_EQ(delivered, message);
  auto s = comm->Stats();
  EXPECT_EQ(s.transmitRetries, 1);
  EXPECT_EQ(s.transmitFails, 0);
  EXPECT_NE(comm->Indicator().hint.find("1 Transmit retries, 0 Transmit fails"), std::string::npos);
}

TEST_F(TevraWLink, WithTheLinkDownAFailedChunkIsNotRepeated) {
  Open();
  adapter.transmitStatus = {{0, 0x01, 0, 0}};
  std::vector<uint8_t> message(70, 0x11);
  comm->Write(message.data(), 70, true);
  auto t = adapter.Transmissions();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1][7], uint8_t(t[0][7] + 1));
  auto s = comm->Stats();
  EXPECT_EQ(s.transmitRetries, 1);
  EXPECT_EQ(s.transmitFails, 0);
}

TEST_F(TevraWLink, AChunkThatNeverGetsThroughIsGivenUpAfterThreeSeconds) {
  Open();
  LinkUp();
  for (int k = 0; k < 1000; ++k) adapter.transmitStatus.push_back({1, 0x20, 0, 0});
  // The logger's status frames keep coming, so the link stays up all along.
  std::atomic<uint8_t> sequence{1};
  adapter.afterTransmit = [&] {
    adapter.peer->PushBytes(Frame(sequence++, 100000u * sequence, {0xA3, 150, 0, 0, 1}));
  };
  const uint64_t start = clock.NowMs();
  const uint8_t b[55] = {};
  comm->Write(b, 55, true);
  auto t = adapter.Transmissions();
  auto s = comm->Stats();
  EXPECT_EQ(s.transmitFails, 2);  // both chunks
  EXPECT_GE(clock.NowMs() - start, 6000u);
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t.front()[7], t[t.size() / 4][7]);
  EXPECT_EQ(t.back()[7], uint8_t(t.front()[7] + 1));
  EXPECT_EQ(s.transmitRetries, int(t.size()));
  // Every attempt after the first waited 20 ms: about 150 attempts in 3000 ms per chunk.
  EXPECT_LE(t.size(), 2u * 152);
}

TEST_F(TevraWLink, ARepeatedFrameWithinTheWindowIsAResend) {
  Open();
  Arrive(Frame(5, 1000, DataPayload({1})));
  Arrive(Frame(5, 1000 + 25599, DataPayload({1})));
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{1});
  EXPECT_EQ(comm->Stats().resends, 1);
  // The window is measured from the frame accepted last, 25600 units and more is new data.
  Arrive(Frame(5, 1000 + 25600, DataPayload({2})));
  Arrive(Frame(6, 1000 + 25600, DataPayload({3})));
  EXPECT_EQ(ReadAll(), (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(comm->Stats().resends, 1);
}

TEST_F(TevraWLink, TheFirstFrameIsTakenWhateverItsSequenceNumber) {
  Open();
  Arrive(Frame(0, 0, DataPayload({7})));
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{7});
  EXPECT_EQ(comm->Stats().resends, 0);
}

TEST_F(TevraWLink, FramesForAnotherNetworkOrAddressAreDropped) {
  Open();
  std::vector<uint8_t> bytes = Frame(1, 10, DataPayload({0xBB}), kTevraDefaultNetwork + 1);
  auto good = Frame(2, 20, DataPayload({0x01}));
  bytes.insert(bytes.end(), good.begin(), good.end());
  Arrive(bytes);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{0x01});
  EXPECT_EQ(comm->Stats().mismatch, 0x01);

  Arrive(Frame(3, 30, DataPayload({0xBB}), kTevraDefaultNetwork, kTevraDefaultAddress + 1, 0x18));
  EXPECT_EQ(comm->InCount(), 0);
  EXPECT_EQ(comm->Stats().mismatch, 0x03);

  // Frame control: not a data frame, another addressing, a PAN compression bit.
  Arrive(Frame(4, 40, DataPayload({0xBB}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x90, 9, 9,
               200, 0x23));
  Arrive(Frame(5, 50, DataPayload({0xBB}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x88));
  Arrive(Frame(6, 60, DataPayload({0xBB}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x90, 9, 9,
               200, 0x61));
  EXPECT_EQ(comm->InCount(), 0);
  // The destination form of the address is taken too.
  Arrive(Frame(7, 70, DataPayload({0x02}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x18));
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{0x02});
  EXPECT_EQ(comm->Stats().resends, 0);
}

TEST_F(TevraWLink, AFrameCutAcrossReportsIsReadWhole) {
  Open();
  auto frame = Frame(1, 10, DataPayload({1, 2, 3, 4, 5}));
  adapter.peer->PushBytes(std::vector<uint8_t>(frame.begin(), frame.begin() + 10));
  ASSERT_TRUE(adapter.peer->WaitUntilDelivered(2000));
  // The rest comes once the channel has taken the first part and waits inside the frame.
  std::thread later([&] {
    while (comm->Inner()->InCount() > 0) std::this_thread::yield();
    adapter.peer->PushBytes(std::vector<uint8_t>(frame.begin() + 10, frame.end()));
  });
  std::vector<uint8_t> got(5);
  comm->Read(got.data(), 5);
  later.join();
  EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(TevraWLink, AFrameShorterThanItsHeadersDoesNotLoseTheNextOne) {
  Open();
  std::vector<uint8_t> bytes = Frame(1, 10, {});
  bytes[2] = 3;                                // radio length below the MAC header
  auto truncated = Frame(2, 20, {0xA1, 150});  // payload header cut short
  bytes.insert(bytes.end(), truncated.begin(), truncated.end());
  auto good = Frame(3, 30, DataPayload({0x44}));
  bytes.insert(bytes.end(), good.begin(), good.end());
  Arrive(bytes);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{0x44});
}

TEST_F(TevraWLink, DataBeyondAFullRingIsDroppedAndFramingKept) {
  Open(64);  // holds 63 bytes
  std::vector<uint8_t> content(70);
  std::iota(content.begin(), content.end(), 0);
  Arrive(Frame(1, 10, DataPayload(std::vector<uint8_t>(content.begin(), content.begin() + 50))));
  std::vector<uint8_t> bytes =
      Frame(2, 20, DataPayload(std::vector<uint8_t>(content.begin() + 50, content.end())));
  auto next = Frame(3, 30, {0xA3, 150, 0, 0, 0x09, 1, 2});
  bytes.insert(bytes.end(), next.begin(), next.end());
  Arrive(bytes);
  EXPECT_EQ(comm->InCount(), 63);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>(content.begin(), content.begin() + 63));
  EXPECT_EQ(comm->Stats().loggerStatus, 0x09);
  EXPECT_EQ(comm->Stats().loggerFcsErrors, 1);
}

TEST_F(TevraWLink, StatusFramesCarryTheLoggerSideCounters) {
  Open();
  Arrive(Frame(1, 10, {0xA3, 150, 0, 0, 0x05, 3, 4}));
  auto s = comm->Stats();
  EXPECT_EQ(s.loggerStatus, 0x05);
  EXPECT_EQ(s.loggerFcsErrors, 3);
  EXPECT_EQ(s.loggerTransmitErrors, 4);
  EXPECT_NE(comm->Indicator().hint.find("device side errors: 3 FCS, 4 Transmit"),
            std::string::npos);
  // Only the status byte: the counters stay.
  Arrive(Frame(2, 20, {0xA3, 150, 0, 0, 0x06}));
  s = comm->Stats();
  EXPECT_EQ(s.loggerStatus, 0x06);
  EXPECT_EQ(s.loggerFcsErrors, 3);
  EXPECT_EQ(comm->InCount(), 0);
}

TEST_F(TevraWLink, OtherFramesFillSixteenSlotsAndReuseTheLast) {
  Open();
  for (uint8_t k = 0; k < 17; ++k) Arrive(Frame(k, 10u * k, {0xB0, 150, 7, 8, k, k}));
  auto m = comm->Messages();
  ASSERT_EQ(m.size(), 16u);
  EXPECT_EQ(m[0].content, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(m[14].content, (std::vector<uint8_t>{14, 14}));
  EXPECT_EQ(m[15].content, (std::vector<uint8_t>{16, 16}));
  EXPECT_EQ(m[15].header, (std::array<uint8_t, 4>{0xB0, 150, 7, 8}));
  EXPECT_EQ(comm->InCount(), 0);
}

TEST_F(TevraWLink, ATrailingByteFarAheadReportsAReceiveOverflow) {
  Open();
  Arrive(
      Frame(1, 10, DataPayload({1}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x90, 100, 130));
  EXPECT_EQ(comm->Stats().receiveOverflows, 0);
  Arrive(
      Frame(2, 20, DataPayload({2}), kTevraDefaultNetwork, kTevraDefaultAddress, 0x90, 100, 131));
  EXPECT_EQ(comm->Stats().receiveOverflows, 1);
  auto d = comm->Diagnostics();
  EXPECT_EQ(std::count(d.begin(), d.end(), "Receive overflow"), 1);
  EXPECT_EQ(ReadAll(), (std::vector<uint8_t>{1, 2}));
}

TEST_F(TevraWLink, SilenceDropsTheLinkQualityAndTheNextFrameIsARelink) {
  Open();
  comm->AttachIndicator(nullptr, {10, 20, 30, 24});
  EXPECT_TRUE(comm->Indicator().attached);
  Arrive(Frame(1, 10, DataPayload({1}, 150)));  // the adapter measures 200
  auto s = comm->Stats();
  EXPECT_EQ(s.linkQuality, 150);
  EXPECT_EQ(s.relinks, 1);  // from no link to a link
  clock.Advance(501);
  ReadAll();
  EXPECT_EQ(comm->Indicator().level, 4);

  clock.Advance(1000);  // 1501 ms without a frame
  comm->InCount();
  s = comm->Stats();
  EXPECT_EQ(s.linkQuality, 0);
  EXPECT_FALSE(s.linkUp);
  clock.Advance(501);
  comm->InCount();
  EXPECT_EQ(comm->Indicator().level, 0);  // the adapter still reports a link

  // The adapter no longer has a link.
  adapter.status = {0, 0, 2, 3};
  comm->StatusRefresh();
  clock.Advance(501);
  comm->InCount();
  EXPECT_EQ(comm->Indicator().level, -1);
  EXPECT_EQ(TevraImageForLevel(comm->Indicator().level), 6);

  Arrive(Frame(2, 20, DataPayload({2}, 90)));
  s = comm->Stats();
  EXPECT_EQ(s.relinks, 2);
  EXPECT_EQ(s.linkQuality, 90);
  EXPECT_TRUE(s.linkUp);
  EXPECT_NE(comm->Indicator().hint.find("2 relinks"), std::string::npos);
}

TEST(TevraWIndicator, LevelsAndImages) {
  const std::pair<int, int> levels[] = {{0, 0},   {1, 1},   {39, 1},  {40, 2},  {94, 2}, {95, 3},
                                        {124, 3}, {125, 4}, {179, 4}, {180, 5}, {255, 5}};
  for (auto [quality, level] : levels) EXPECT_EQ(TevraLevelForQuality(quality), level) << quality;
  EXPECT_EQ(TevraImageForLevel(-1), 6);
  EXPECT_EQ(TevraImageForLevel(0), 0);
  EXPECT_EQ(TevraImageForLevel(5), 5);
  EXPECT_EQ(TevraImageForLevel(9), 5);
}

TEST_F(TevraWLink, TheKeepAliveGoesOutAfterHalfASecondOfQuiet) {
  Open();
  const size_t before = adapter.commands.size();
  comm->KeepAlive();  // exactly 500 ms since the set-up: not yet
  EXPECT_EQ(adapter.commands.size(), before);
  clock.Advance(1);
  const uint8_t sequence = comm->Stats().sequence;
  comm->KeepAlive();
  ASSERT_EQ(adapter.commands.size(), before + 1);
  const auto& c = adapter.commands.back();
  ASSERT_EQ(c.size(), 9u + 38u);
  EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 13),
            (std::vector<uint8_t>{0x35, 0x0A, 0x03, 0x02, 0x04, 0x00, 0x06, sequence, 38, 0xA3,
                                  0x00, 0x00, 0x00}));
  const uint8_t* st = c.data() + 13;
  EXPECT_EQ(std::vector<uint8_t>(st, st + 4), (std::vector<uint8_t>{1, 0, 2, 3}));
  EXPECT_EQ(GetU32(st + 4), 0u);     // transmit retries
  EXPECT_EQ(GetU16(st + 18), 1536);  // address
  EXPECT_EQ(GetU16(st + 20), 1026);  // network
  EXPECT_EQ(st[22], 0);              // link not up yet
  EXPECT_EQ(GetU16(st + 28), 0x0103);
  EXPECT_EQ(comm->Stats().sequence, uint8_t(sequence + 1));
  auto d = comm->Diagnostics();
  EXPECT_EQ(d.back(), "Query WD status");

  // Right after a frame arrived there is nothing to do.
  Arrive(Frame(1, 10, {0xA3, 150, 0, 0, 1, 0, 0}));
  comm->InCount();
  const size_t after = adapter.commands.size();
  clock.Advance(400);
  comm->KeepAlive();
  EXPECT_EQ(adapter.commands.size(), after);
  clock.Advance(101);
  comm->KeepAlive();
  ASSERT_EQ(adapter.commands.size(), after + 1);
  EXPECT_EQ(adapter.commands.back()[13 + 22], 1);  // link up now
}

TEST_F(TevraWLink, AReadWithoutAnswerTimesOut) {
  Open();
  uint8_t b;
  try {
    comm->Read(&b, 1);
    FAIL() << "read";
  } catch (const ETimeOutError& e) {
    EXPECT_STREQ(e.what(), "Time out on TevraW");
  }
  EXPECT_EQ(comm->GetLastErrorText(), "Time out on TevraW");
}

TEST_F(TevraWLink, AWrongTransmitAnswerIsAPushError) {
  Open();
  adapter.wrongAnswerTo = 0x0A;
  const uint8_t b = 0;
  try {
    comm->Write(&b, 1, true);
    FAIL() << "written";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Push error");
  }
}

TEST_F(TevraWLink, AfterTheAdapterIsUnpluggedNothingCanBeSent) {
  Open();
  adapter.peer->Unplug();
  for (int k = 0; k < 5000 && comm->IsOpen(); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(comm->IsOpen());
  const uint8_t b = 0;
  try {
    comm->Write(&b, 1, true);
    FAIL() << "written";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No device connected");
  }
  comm->KeepAlive();  // does nothing, raises nothing
  // Plugged in again, the next open runs the set-up again.
  adapter.peer->Replug();
  comm->Open("TevraW", "", 1024, 0);
  EXPECT_TRUE(comm->IsOpen());
  EXPECT_EQ(controller->HandedOut(), 1);
}

TEST(TevraWRegistry, TheRegistryMakesAWirelessLink) {
  TCommChannelPtr channel = CreateChannel("TevraW", "TevraW");
  ASSERT_TRUE(channel);
  EXPECT_STREQ(channel->GetImplementor().className, kTevraWChannelClass);
  EXPECT_EQ(channel->GetPortName(), "USB TevraW");
  channel->SetPortName("COM3");
  EXPECT_EQ(channel->GetPortName(), "USB TevraW");
  EXPECT_FALSE(channel->IsOpen());
  EXPECT_EQ(channel->GetLastErrorText(), "");
  // The built-in classes, in the order the port selection lists them.
  auto names = RegisteredChannelTypes();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3),
            (std::vector<std::string>{"HID", "COM", "TevraW"}));
}

}  // namespace
}  // namespace qvl
