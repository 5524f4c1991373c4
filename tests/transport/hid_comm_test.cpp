// The USB HID link: report packing, the receive ring filled on the device layer's reading
// thread, time-outs, the one-shot write, unplugging, and the registry's defaults.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "core/util/exceptions.h"
#include "sim/fake_hid_device.h"
#include "staged_clock.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"

namespace qvl {
namespace {

constexpr int kLinkParameter = (kUsbVendorId << 16) | kUsbLinkProductId;

std::vector<uint8_t> Sequence(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

// The data bytes of an output report as written.
std::vector<uint8_t> ReportData(const std::vector<uint8_t>& report) {
  return std::vector<uint8_t>(report.begin() + 2, report.begin() + 2 + report[1]);
}

bool Eventually(const std::function<bool()>& pred, int ms = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

struct HidLink : ::testing::Test {
  std::shared_ptr<TScriptedHidPeer> peer = std::make_shared<TScriptedHidPeer>();
  TFakeHidBackend* backend = nullptr;
  std::shared_ptr<THidDeviceController> controller;

  HidLink() {
    auto b = std::make_unique<TFakeHidBackend>();
    backend = b.get();
    b->Plug(kUsbVendorId, kUsbLinkProductId, peer);
    controller = std::make_shared<THidDeviceController>(std::move(b));
  }
  std::unique_ptr<THIDComm> OpenLink(int bufferSize = 4096, int timeOut = 200) {
    auto comm = std::make_unique<THIDComm>(controller);
    comm->Open("USB", "", bufferSize, kLinkParameter);
    comm->SetTimeOut(timeOut);
    return comm;
  }
  // Fills the ring with reports and waits until the reading thread has delivered them.
  void Deliver(const std::vector<uint8_t>& bytes) {
    peer->PushBytes(bytes);
    ASSERT_TRUE(peer->WaitUntilDelivered(2000));
  }
};

TEST_F(HidLink, ACommandByteAndItsChunkGoOutAsOneReportWhenTheEchoIsRead) {
  auto comm = OpenLink();
  const uint8_t command = 0x2D;
  const std::vector<uint8_t> chunk = {0, 0, 40, 0, 1, 2, 3, 4};
  comm->Write(&command, 1, false);
  comm->Write(chunk.data(), int(chunk.size()), false);
  EXPECT_TRUE(peer->Outputs().empty());  // held until the read
  peer->SetResponder([&](const std::vector<uint8_t>&) { peer->PushBytes({command}); });
  uint8_t echo = 0;
  comm->Read(&echo, 1);
  EXPECT_EQ(echo, command);
  auto outputs = peer->Outputs();
  ASSERT_EQ(outputs.size(), 1u);
  ASSERT_EQ(outputs[0].size(), kHidOutputReportSize);
  EXPECT_EQ(outputs[0][0], 0);  // report identifier
  EXPECT_EQ(outputs[0][1], 9);
  std::vector<uint8_t> expected = {command};
  expected.insert(expected.end(), chunk.begin(), chunk.end());
  EXPECT_EQ(ReportData(outputs[0]), expected);
}

TEST_F(HidLink, AFlushedWriteIsCutIntoFullReportsAndTheRest) {
  auto comm = OpenLink();
  const auto bytes = Sequence(130);
  comm->Write(bytes.data(), 130, true);
  auto outputs = peer->Outputs();
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0][1], 63);
  EXPECT_EQ(outputs[1][1], 63);
  EXPECT_EQ(outputs[2][1], 4);
  std::vector<uint8_t> sent;
  for (const auto& r : outputs) {
    auto d = ReportData(r);
    sent.insert(sent.end(), d.begin(), d.end());
  }
  EXPECT_EQ(sent, bytes);
}

TEST_F(HidLink, AFullReportWaitsForMoreBytesOrAFlush) {
  auto comm = OpenLink();
  const auto bytes = Sequence(63);
  comm->Write(bytes.data(), 63, false);
  EXPECT_TRUE(peer->Outputs().empty());
  const uint8_t more = 0xEE;
  comm->Write(&more, 1, false);
  ASSERT_EQ(peer->Outputs().size(), 1u);
  EXPECT_EQ(ReportData(peer->Outputs()[0]), bytes);
  comm->Write(nullptr, 0, true);
  ASSERT_EQ(peer->Outputs().size(), 2u);
  EXPECT_EQ(ReportData(peer->Outputs()[1]), std::vector<uint8_t>{more});
  // Nothing pending: a flush sends nothing.
  comm->Write(nullptr, 0, true);
  EXPECT_EQ(peer->Outputs().size(), 2u);
}

TEST_F(HidLink, TheOneShotWriteSendsPendingBytesFirstAndPadsWithZeros) {
  auto comm = OpenLink();
  const uint8_t logger[3] = {0x07, 9, 0};
  comm->Write(logger, 3, false);
  // Leftovers of a long report must not show behind the command.
  const auto filler = Sequence(63, 1);
  comm->Write(filler.data(), 63, true);
  const uint8_t command[4] = {0x35, 0x02, 0x07, 0x7A};
  comm->Write(logger, 3, false);
  comm->OneShotWrite(command, 4);
  auto outputs = peer->Outputs();
  ASSERT_EQ(outputs.size(), 4u);
  EXPECT_EQ(ReportData(outputs[2]), std::vector<uint8_t>(logger, logger + 3));
  EXPECT_EQ(outputs[3][1], 4);
  EXPECT_EQ(ReportData(outputs[3]), std::vector<uint8_t>(command, command + 4));
  for (size_t k = 6; k < kHidOutputReportSize; ++k) EXPECT_EQ(outputs[3][k], 0) << k;

  const auto tooLong = Sequence(70, 1);
  comm->OneShotWrite(tooLong.data(), 70);
  outputs = peer->Outputs();
  EXPECT_EQ(outputs.back()[1], 63);
  EXPECT_EQ(ReportData(outputs.back()), Sequence(63, 1));
}

TEST_F(HidLink, ShortReportWritesFail) {
  auto comm = OpenLink();
  peer->SetShortWrites(true);
  const uint8_t b = 1;
  try {
    comm->Write(&b, 1, true);
    FAIL() << "no failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Write error");
  }
}

TEST_F(HidLink, ReportsFillTheRingInOrderAcrossItsEnd) {
  auto comm = OpenLink(100);
  std::vector<uint8_t> got(60);
  for (int round = 0; round < 5; ++round) {
    const auto bytes = Sequence(60, uint8_t(round * 60));
    Deliver(bytes);
    EXPECT_EQ(comm->InCount(), 60);
    comm->Read(got.data(), 60);
    EXPECT_EQ(got, bytes) << round;
  }
  EXPECT_EQ(comm->InCount(), 0);
}

TEST_F(HidLink, ACountByteLargerThanTheReportIsCutToTheReport) {
  auto comm = OpenLink();
  std::vector<uint8_t> report = Sequence(kHidInputReportSize, 0);
  report[0] = 200;
  peer->PushReport(report);
  ASSERT_TRUE(peer->WaitUntilDelivered(2000));
  // The 63 bytes after the count byte, and not one byte beyond the report.
  ASSERT_EQ(comm->InCount(), 63);
  std::vector<uint8_t> got(63);
  comm->Read(got.data(), 63);
  EXPECT_EQ(got, Sequence(63, 1));
}

TEST_F(HidLink, TheRingKeepsOneByteFree) {
  auto comm = OpenLink(127);
  Deliver(Sequence(126));
  EXPECT_EQ(comm->Overruns(), 0);
  EXPECT_EQ(comm->InCount(), 126);
  Deliver({0xAA});
  EXPECT_EQ(comm->Overruns(), 1);
  EXPECT_EQ(comm->InCount(), 126);
  comm->Read(nullptr, 1);
  Deliver({0xAA});
  EXPECT_EQ(comm->Overruns(), 1);
  EXPECT_EQ(comm->InCount(), 126);
}

TEST_F(HidLink, TheSeventeenthFullReportOverrunsAThousandByteRing) {
  auto comm = OpenLink(1024);
  std::vector<uint8_t> bytes(17 * 63);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = uint8_t(k * 7 + k / 63);
  Deliver(bytes);
  EXPECT_EQ(comm->Overruns(), 1);
  EXPECT_EQ(comm->HeldDevice()->InputFailures(), 1);
  EXPECT_EQ(comm->HeldDevice()->LastInputFailure(), "HID overrun");
  EXPECT_EQ(comm->GetLastErrorText(), "HID overrun");  // the owner sees the lost report
  ASSERT_EQ(comm->InCount(), 1008);
  std::vector<uint8_t> got(1008);
  comm->Read(got.data(), 1008);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));
  // The reading thread lives on: the next report arrives.
  Deliver({0x42});
  uint8_t b = 0;
  comm->Read(&b, 1);
  EXPECT_EQ(b, 0x42);
  EXPECT_TRUE(comm->IsOpen());
}

// The link's clock moves only while it waits: the second half comes after 100 ms of silence
// on that clock, and a silence of more than 150 ms ends the next read.
TEST_F(HidLink, AReadWaitsForLateBytesAndTimesOutOnSilence) {
  auto comm = OpenLink(4096, 150);
  test::TStagedClock clock;
  comm->SetTickClock(&clock);
  Deliver(Sequence(20));
  clock.Stage(100, [&] { peer->PushBytes(Sequence(20, 20)); });
  std::vector<uint8_t> got(40);
  comm->Read(got.data(), 40);
  EXPECT_TRUE(clock.Fired());
  EXPECT_EQ(got, Sequence(40));

  clock.Resume();
  const uint64_t start = clock.NowMs();
  uint8_t b;
  try {
    comm->Read(&b, 1);
    FAIL() << "no time-out";
  } catch (const ETimeOutError& e) {
    EXPECT_STREQ(e.what(), "Time out on USB");
  }
  EXPECT_GT(clock.NowMs() - start, 150u);
  EXPECT_EQ(comm->GetLastErrorText(), "Time out on USB");
}

TEST_F(HidLink, ReadingWithoutABufferDropsTheBytes) {
  auto comm = OpenLink();
  Deliver({1, 2, 3, 4});
  comm->Read(nullptr, 3);
  uint8_t b = 0;
  comm->Read(&b, 1);
  EXPECT_EQ(b, 4);
}

TEST_F(HidLink, ReadStringStopsAtTheZeroByte) {
  auto comm = OpenLink();
  Deliver({'Q', 'V', 'L', 0, 'x'});
  EXPECT_EQ(comm->ReadString(), "QVL");
  EXPECT_EQ(comm->InCount(), 1);
}

TEST_F(HidLink, UnpluggingDuringAReadEndsTheReadAndGivesTheDeviceBack) {
  auto comm = OpenLink(4096, 3000);
  // The device goes while the read waits; the read's clock stands still from then on, so only
  // the unplug can end it.
  test::TStagedClock clock;
  comm->SetTickClock(&clock);
  clock.Stage(0, [&] { peer->Unplug(); });
  auto reading = std::async(std::launch::async, [&]() -> std::string {
    uint8_t b;
    try {
      comm->Read(&b, 1);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "read";
  });
  EXPECT_EQ(reading.get(), "No device connected");
  EXPECT_TRUE(clock.Fired());
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_EQ(comm->Unplugs(), 1);
  // The device was taken back and its reading thread ends: nothing is left behind.
  EXPECT_TRUE(Eventually([&] { return controller->HandedOut() == 0; }));
  EXPECT_TRUE(Eventually([&] {
    controller->Reap();
    return controller->Finishing() == 0;
  }));
  EXPECT_FALSE(peer->IsOpen());
  // Sending needs a device.
  try {
    const uint8_t b = 0;
    comm->Write(&b, 1, true);
    FAIL() << "no failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No device connected");
  }
  // Plugged in again, the link opens anew.
  peer->Replug();
  comm->SetActive(true);
  EXPECT_TRUE(comm->IsOpen());
  EXPECT_EQ(peer->OpenCount(), 2);
}

TEST_F(HidLink, TheChannelCanBeDestroyedWhileItsDeviceIsUnplugged) {
  for (int round = 0; round < 20; ++round) {
    peer->Replug();
    auto comm = OpenLink();
    peer->PushBytes(Sequence(63));
    peer->Unplug();
    comm.reset();
  }
  controller->Reap();
  EXPECT_EQ(controller->HandedOut(), 0);
  EXPECT_EQ(controller->Finishing(), 0);
}

TEST_F(HidLink, WithoutADeviceOpenFailsWithNoDeviceFound) {
  peer->Unplug();
  THIDComm comm(controller);
  try {
    comm.Open("USB", "", 4096, kLinkParameter);
    FAIL() << "opened";
  } catch (const NoDeviceException& e) {
    EXPECT_STREQ(e.what(), "No device found");
  }
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(comm.GetLastErrorText(), "No device found");
  try {
    uint8_t b;
    comm.Read(&b, 1);
    FAIL() << "read";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No device connected");
  }
}

TEST_F(HidLink, ADeviceIsHandedOutToOneLinkAtATime) {
  auto first = OpenLink();
  THIDComm second(controller);
  EXPECT_THROW(second.Open("USB", "", 4096, kLinkParameter), NoDeviceException);
  first->SetActive(false);
  EXPECT_FALSE(first->IsOpen());
  second.Open("USB", "", 4096, kLinkParameter);
  EXPECT_TRUE(second.IsOpen());
  // Another product identifier finds nothing.
  THIDComm wireless(controller);
  EXPECT_THROW(wireless.Open("USB", "", 4096, (kUsbVendorId << 16) | kWirelessProductId),
               NoDeviceException);
}

TEST_F(HidLink, ANewPortNameGivesTheDeviceBack) {
  auto comm = OpenLink();
  comm->SetPortName("USB");  // the name it was opened with
  EXPECT_TRUE(comm->IsOpen());
  comm->SetPortName("other");
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_EQ(controller->HandedOut(), 0);
  EXPECT_EQ(comm->GetPortName(), "Tevra");
}

TEST_F(HidLink, ALargeRingAsksForTwentyInputBuffers) {
  auto small = OpenLink(32767);
  EXPECT_EQ(small->HeldDevice()->NumInputBuffers(), 0);
  small.reset();
  auto big = OpenLink(32768);
  EXPECT_EQ(big->HeldDevice()->NumInputBuffers(), 20);
}

TEST_F(HidLink, ExplicitParametersAndActivation) {
  THIDComm comm(kUsbVendorId, kUsbLinkProductId, 2048, controller);
  EXPECT_EQ(comm.GetTimeOut(), 1000);
  EXPECT_EQ(comm.GetSpare(), 50);
  EXPECT_FALSE(comm.IsOpen());
  comm.SetActive(true);
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(comm.BufferSize(), 2048);
  comm.SetActive(false);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(controller->HandedOut(), 0);
}

TEST(HidRegistry, TheRegistryMakesAnEmptyLinkWithItsDefaults) {
  TCommChannelPtr channel = CreateChannel("HID", "USB");
  ASSERT_TRUE(channel);
  EXPECT_STREQ(channel->GetImplementor().className, kHidChannelClass);
  EXPECT_EQ(channel->GetPortName(), "Tevra");
  auto* comm = static_cast<THIDComm*>(channel->GetImplementor().object);
  EXPECT_EQ(comm->BufferSize(), 0);
  EXPECT_EQ(channel->GetTimeOut(), 0);
  // Activated without identifiers: the defaults, and never some other HID device.
  EXPECT_THROW(channel->SetActive(true), NoDeviceException);
  EXPECT_EQ(comm->BufferSize(), 1024);
  EXPECT_EQ(channel->GetTimeOut(), 400);
  EXPECT_EQ(channel->GetSpare(), 50);
  EXPECT_FALSE(channel->IsOpen());
  EXPECT_EQ(channel->GetLastErrorText(), "No device found");
}

}  // namespace
}  // namespace qvl
