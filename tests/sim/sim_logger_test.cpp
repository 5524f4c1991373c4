// The simulated logger's frames and commands, byte by byte, and the link's faults and line
// speed.
#include <gtest/gtest.h>

#include "core/device/controller.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "sim/sim_channel.h"
#include "sim/sim_link.h"
#include "sim/sim_logger.h"

namespace qvl::sim {
namespace {

struct TFeed {
  TSimLogger logger;
  uint64_t now = 1000;
  explicit TFeed(TSimOptions options = {}) : logger(options, 1000) {}
  std::vector<TReply> Send(std::vector<uint8_t> bytes) {
    std::vector<TReply> out;
    for (uint8_t b : bytes) logger.Receive(b, now, out);
    return out;
  }
  static std::vector<uint8_t> Bytes(const std::vector<TReply>& r) {
    std::vector<uint8_t> b;
    for (auto& x : r) b.push_back(x.byte);
    return b;
  }
  static int Echoes(const std::vector<TReply>& r) {
    int n = 0;
    for (auto& x : r) n += x.kind == TReplyKind::Echo;
    return n;
  }
};

TEST(SimLogger, IdentificationWithoutEcho) {
  TFeed f;
  auto r = f.Send({0x00});
  std::string expected = "QVL R2.11";
  expected.push_back('\0');
  EXPECT_EQ(TFeed::Bytes(r), std::vector<uint8_t>(expected.begin(), expected.end()));
  EXPECT_EQ(TFeed::Echoes(r), 0);
  TSimOptions o;
  o.identification = "QVL R2.05";
  TFeed g(o);
  EXPECT_EQ(g.logger.Version(), 205);
}

TEST(SimLogger, EchoAfterEachChunkAndAnswerAfterTheLast) {
  TFeed f;
  // 0x45 with 4 words: 14 data bytes, echoes after byte 8 and byte 14.
  std::vector<uint8_t> frame = {0x45, 0x6F, 0xB6, 10, 0, 4, 0, 1, 0, 2, 0, 3, 0, 4, 0};
  std::vector<TReply> r;
  for (size_t i = 0; i < frame.size(); ++i) {
    auto part = f.Send({frame[i]});
    if (i == 8 || i == 14)
      EXPECT_EQ(TFeed::Echoes(part), 1) << i;
    else
      EXPECT_TRUE(part.empty()) << i;
  }
  EXPECT_EQ(f.logger.Scratch()[10], 1);
  EXPECT_EQ(f.logger.Scratch()[13], 4);
  // The scratch memory reads back, the answer after the single echo.
  r = f.Send({0x43, 10, 0, 2, 0});
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].kind, TReplyKind::Echo);
  EXPECT_EQ(r[0].byte, 0x43);
  EXPECT_EQ(TFeed::Bytes(r), (std::vector<uint8_t>{0x43, 1, 0, 2, 0}));
  // A command without data gets one echo, then its answer.
  r = f.Send({0x3F});
  EXPECT_EQ(TFeed::Echoes(r), 1);
  EXPECT_EQ(r.size(), 1u + 16);  // firmware 2.11: 16 bytes
  EXPECT_EQ(r[1 + 9].byte, 1);   // flash size code
}

TEST(SimLogger, ScratchEraseAndTheRegisterProbe) {
  TFeed f;
  auto r = f.Send({0x44, 0x00});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].kind, TReplyKind::Answer);
  EXPECT_EQ(r[1].byte, 0x44);
  EXPECT_NE(f.logger.Scratch()[0], 0xFFFF);  // the recorded sessions' markers
  r = f.Send({0x44, 0xB5, 0xC3, 0xD2, 0x47});
  EXPECT_EQ(TFeed::Bytes(r), std::vector<uint8_t>{0x44});
  for (uint16_t w : f.logger.Scratch()) EXPECT_EQ(w, 0xFFFF);
}

TEST(SimLogger, FlashHoldsEncodedSessionsWithMarkers) {
  TSimOptions o;
  o.sessions = 3;
  o.runsPerSession = 2;
  o.runSeconds = 5;
  TFeed f(o);
  const auto& flash = f.logger.Flash();
  ASSERT_EQ(flash.size(), 2u << 20);
  // Three markers: each names a sector whose page opens with a session start header.
  for (int s = 0; s < 3; ++s) {
    uint32_t sector = f.logger.Scratch()[4 * s] | (uint32_t(f.logger.Scratch()[4 * s + 1]) << 16);
    const uint8_t head = flash[sector * 4096];
    EXPECT_EQ(head & 0xF0, 0xB0) << s;
    EXPECT_TRUE(head & 0x04) << s;  // session start
  }
  EXPECT_EQ(f.logger.Scratch()[12], 0xFFFF);
  EXPECT_GT(f.logger.FlashWriteAddress(), f.logger.SessionStartAddress());
  // Strided read: one byte from each of three pages.
  auto r = f.Send({0x46, 0, 0, 0, 0, 0, 0x10, 0, 0, 3, 0, 1, 0});
  ASSERT_EQ(r.size(), 2u + 3);
  EXPECT_EQ(r[2].byte, flash[0]);
  EXPECT_EQ(r[3].byte, flash[4096]);
  EXPECT_EQ(r[4].byte, flash[8192]);
  // Erasing empties it.
  f.Send({0x42, 0xFD, 0x91});
  EXPECT_EQ(f.logger.Flash()[0], 0xFF);
  EXPECT_EQ(f.logger.FlashWriteAddress(), 0u);
}

TEST(SimLogger, ClockIsSetAndConverted) {
  TFeed f;
  f.Send({0x3C, 0x01, 0x50, 0x10, 0x27, 0, 0});  // 10000 units
  EXPECT_EQ(f.logger.Clock(f.now), 10000u);
  auto block = f.logger.RealtimeBlock(f.now + 2048);
  EXPECT_EQ(GetU32(&block[30]), 10002u);
  EXPECT_TRUE(block[10] & 0x20);
  // 0x12: 84375 units is 2000-01-02 00:00.
  auto r = f.Send({0x12, 0x97, 0x49, 0x01, 0x00});
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[1].byte | (r[2].byte << 8), (20 << 9) | (1 << 5) | 2);
  EXPECT_EQ(r[3].byte | (r[4].byte << 8), 0);
}

TEST(SimLogger, ABrokenFrameIsForgottenAfterSilence) {
  TFeed f;
  EXPECT_TRUE(f.Send({0x3C, 0x01}).empty());
  f.now += 200;
  auto r = f.Send({0x7E});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].byte, 0x7E);
}

TEST(SimLogger, BurnedConfigurationIsKept) {
  TFeed f;
  TController c;
  TConfigBlock b = c.ConfigBlock();
  b.SetU8(cfg::kRearPulses, 2);
  c.SetConfigBlock(b);
  auto image = c.BuildConfigImage();
  std::vector<uint8_t> frame = {0x28};
  frame.insert(frame.end(), image.begin(), image.end());
  auto r = f.Send(frame);
  EXPECT_EQ(TFeed::Echoes(r), int((image.size() + 7) / 8));
  EXPECT_EQ(f.logger.ConfigImage(), image);
  r = f.Send({0x32});
  EXPECT_EQ(TFeed::Bytes(r).size(), 1 + image.size());
}

// What a logger refuses gets no further echo and no answer; the frame is swallowed until the
// host falls silent, and the logger's state stays as it was.
TEST(SimLogger, RefusesWhatALoggerRefuses) {
  TFeed f;
  auto refused = [&](std::vector<uint8_t> frame, int echoes) {
    const int before = f.logger.Refusals();
    auto r = f.Send(frame);
    EXPECT_EQ(TFeed::Echoes(r), echoes) << int(frame[0]);
    EXPECT_EQ(r.size(), size_t(echoes)) << int(frame[0]);
    EXPECT_EQ(f.logger.Refusals(), before + 1) << int(frame[0]);
    f.now += 200;
  };
  // Strided reads of 128 items are answered, of 129 refused after the first chunk's echo.
  auto r = f.Send({0x46, 0, 0, 0, 0, 0, 0x10, 0, 0, 128, 0, 1, 0});
  EXPECT_EQ(r.size(), 2u + 128);
  refused({0x46, 0, 0, 0, 0, 0, 0x10, 0, 0, 129, 0, 1, 0}, 1);

  // Size headers other than the blocks' sizes.
  const auto control = f.logger.LogControl();
  std::vector<uint8_t> block = {0x20, 17, 0};
  block.resize(3 + 17, 0x77);
  refused(block, 0);
  EXPECT_EQ(f.logger.LogControl(), control);
  std::vector<uint8_t> groups = {0x26, 0, 47};
  groups.resize(3 + 47, 0x77);
  refused(groups, 0);
  refused({0x26, 1, 48, 0, 0, 0, 0, 0, 0}, 0);
  std::vector<uint8_t> map = {0x31, 0, 33};
  map.resize(3 + 33, 0x77);
  refused(map, 0);
  EXPECT_EQ(f.logger.ChannelMap(),
            (std::array<uint8_t, 32>{8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
                                     8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8}));
  block = {0x20, 16, 0};
  block.resize(3 + 16, 0x55);
  EXPECT_EQ(TFeed::Echoes(f.Send(block)), 3);
  EXPECT_EQ(f.logger.LogControl()[15], 0x55);

  // A configuration image of 2980 bytes with its length word is taken, 2981 bytes are not.
  const auto kept = f.logger.ConfigImage();
  std::vector<uint8_t> image = {0x28, 0, 0};
  image.resize(1 + 2981, 0);
  PutU16(&image[1], 2979);
  refused(image, 0);
  EXPECT_EQ(f.logger.ConfigImage(), kept);
  image.resize(1 + 2980);
  PutU16(&image[1], 2978);
  EXPECT_EQ(TFeed::Echoes(f.Send(image)), (2980 + 7) / 8);
  EXPECT_EQ(f.logger.ConfigImage().size(), 2980u);
  EXPECT_EQ(f.logger.Refusals(), 6);
}

TEST(SimLink, LineSpeedSpreadsTheAnswer) {
  TSimOptions o;
  o.bytesPerSecond = 1000;
  TSimLink link(o, 0);
  uint8_t request[] = {0x2D, 0, 0, 40, 0};
  link.HostWrite(request, sizeof request, 0);
  EXPECT_EQ(link.CountDue(0), 0u);
  EXPECT_EQ(link.CountDue(1), 1u);  // the echo
  EXPECT_EQ(link.CountDue(20), 20u);
  EXPECT_EQ(link.CountDue(41), 41u);
}

TEST(SimLink, FaultsAreRepeatableWithASeed) {
  auto run = [](uint32_t seed) {
    TSimOptions o;
    o.seed = seed;
    o.faults.loseRate = 0.2;
    TSimLink link(o, 0);
    uint8_t request[] = {0x2D, 0, 0, 40, 0};
    link.HostWrite(request, sizeof request, 0);
    std::vector<uint8_t> got(64);
    got.resize(link.TakeDue(10, got.data(), got.size()));
    return got;
  };
  // The same bytes are lost each time; the block's clock field may move on between two runs,
  // so only the bytes before it are compared.
  auto a = run(3), b = run(3);
  EXPECT_EQ(a.size(), b.size());
  ASSERT_GE(a.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.begin() + 20),
            std::vector<uint8_t>(b.begin(), b.begin() + 20));
  EXPECT_LT(a.size(), 41u);
}

TEST(SimChannel, UnplugClosesAndReplugLetsItOpenAgain) {
  TSimOptions o;
  o.faults.unplugAfter = 3;
  o.faults.replugAfterMs = 50;
  // The channel's clock moves only when the test moves it.
  struct : ITickClock {
    uint64_t now = 5000;
    uint64_t NowMs() override { return now; }
    void SleepMs(uint32_t ms) override { now += ms; }
  } clock;
  TSimChannel ch(o, &clock);
  ch.Open("sim", "", 4096, 57600);
  ASSERT_TRUE(ch.IsOpen());
  uint8_t bytes[] = {0x7E, 0x7E, 0x7E, 0x7E};
  EXPECT_NO_THROW(ch.Write(bytes, 4, true));
  EXPECT_THROW(ch.InCount(), qvl::Exception);
  EXPECT_FALSE(ch.IsOpen());
  ch.Open("sim", "", 4096, 57600);
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_EQ(ch.GetLastErrorText(), "Comm setup failed: No such device");
  clock.now += 49;
  ch.Open("sim", "", 4096, 57600);
  EXPECT_FALSE(ch.IsOpen());
  clock.now += 1;
  ch.Open("sim", "", 4096, 57600);
  EXPECT_TRUE(ch.IsOpen());
}

}  // namespace
}  // namespace qvl::sim
