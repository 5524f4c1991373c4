#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "core/device/controller.h"
#include "core/device/live_channel.h"
#include "core/device/live_sample.h"
#include "core/logdata/data_log_store.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

// The second user of the multi-user cases.
constexpr uint32_t kNobody = 65534;
constexpr int kCannotSwitch = 77;
constexpr char kNeedsRoot[] = "needs root to run a child process as user nobody (65534)";

// Runs `body` in a child process switched to the user nobody. Finish returns its exit code
// (kCannotSwitch when the switch failed, -1 when it did not end within 30 s), calling
// `meanwhile` while the child runs.
pid_t StartAsNobody(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child != 0) return child;
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
    ::_exit(kCannotSwitch);
  int code = 98;
  try {
    code = body();
  } catch (...) {
  }
  ::_exit(code);
}

int Finish(pid_t child, const std::function<void()>& meanwhile = {}) {
  if (child < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  pid_t done;
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    if (meanwhile)
      meanwhile();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each test gets its own shared block name and socket folder, and removes both at the end,
// also when it fails.
class LiveChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tag = std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
    setenv("QVL_LIVE_BLOCK", ("/qvl-test-" + tag).c_str(), 1);
    folder_ = ::testing::TempDir() + "/live-" + tag;
    ::mkdir(folder_.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    for (uint32_t user : {uint32_t(::geteuid()), kNobody})
      ::shm_unlink(LiveBlockName(user).c_str());
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string folder_;
};

TEST(LiveSample, TravelReducedToTenBitsAndEmptySlots) {
  EXPECT_EQ(ReduceTravel(4095), 1023);
  EXPECT_EQ(ReduceTravel(6), 1);
  EXPECT_EQ(ReduceTravel(4), 1);
  EXPECT_EQ(ReduceTravel(0), 0);
  TController c;
  std::array<uint8_t, 40> block{};
  block[0] = 17;
  block[1] = 250;
  block[2] = 0x34;
  block[3] = 0x12;
  block[4] = 0xCD;
  block[5] = 0xAB;
  c.SetRealtimeBlock(block);
  c.SetRawValue(0, 4095);
  c.SetRawValue(1, 6);
  c.SetRawValue(18, 2100);
  c.SetRawValue(20, 1900);
  c.SetRawValue(8, 1560);
  TLogRecord s;
  FillLiveSample(c, s);
  uint8_t bytes[22];
  EncodeLogRecord(s, bytes);
  EXPECT_EQ(bytes[4], 17);
  EXPECT_EQ(bytes[5], 250);
  EXPECT_EQ(GetU16(bytes + 6), 0x1234);
  EXPECT_EQ(GetU16(bytes + 8), 0xABCD);
  EXPECT_EQ(GetU16(bytes + 10), 1023);
  EXPECT_EQ(GetU16(bytes + 12), 1);
  EXPECT_EQ(GetU16(bytes + 14), 2100);
  EXPECT_EQ(GetU16(bytes + 18), 1900);
  EXPECT_EQ(GetU16(bytes + 20), 1560);
  c.SetFixedSensor(kSlotBattery, nullptr);
  c.SetFixedSensor(kSlotYAccel, nullptr);
  FillLiveSample(c, s);
  EncodeLogRecord(s, bytes);
  EXPECT_EQ(GetU16(bytes + 20), 0xFFFF);
  EXPECT_EQ(GetU16(bytes + 16), 0xFFFF);
}

TEST(LiveSample, RecordingTimesInTenthsOfASecondFromItsOrigin) {
  TController c;
  TDataLogDynArray rec;
  auto t0 = TDataLogDynArray::TClock::now();
  rec.Start(t0);
  rec.Append(c, t0 + std::chrono::milliseconds(149));
  rec.Append(c, t0 + std::chrono::milliseconds(150));
  rec.Append(c, t0 + std::chrono::milliseconds(12345));
  ASSERT_EQ(rec.Count(), 3u);
  EXPECT_EQ(rec.Samples()[0].tick, 1);
  EXPECT_EQ(rec.Samples()[1].tick, 2);
  EXPECT_EQ(rec.Samples()[2].tick, 123);
  auto bytes = EncodeLiveSamples(rec.Samples());
  bytes.push_back(0xEE);  // a partial sample at the end is not taken
  EXPECT_EQ(DecodeLiveSamples(bytes.data(), bytes.size()), rec.Samples());
  rec.Start(t0);
  EXPECT_EQ(rec.Count(), 0u);
}

TEST(LiveStore, SamplesReplaceTheStoreAndSplitIntoRuns) {
  std::unique_ptr<TDataLogStore> store;
  TLogArray samples;
  for (int i = 0; i < 150; ++i) {  // 30 s at 5 samples per second
    TLogRecord r;
    r.tick = i * 2;
    r.values[0] = int16_t(i);
    samples.push_back(r);
  }
  ReplaceLiveSamples(store, samples);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->Period(), 100);
  ASSERT_EQ(store->RunCount(), 1);
  EXPECT_EQ(store->RunFirst(0), 0);
  EXPECT_EQ(store->RunLast(0), 149);
  EXPECT_EQ(store->RunDuration(0), 29800);
  // A later block replaces the run as a whole.
  TDataLogStore* same = store.get();
  samples.resize(60);  // 12 s
  ReplaceLiveSamples(store, samples);
  EXPECT_EQ(store.get(), same);
  ASSERT_EQ(store->RunCount(), 1);
  EXPECT_EQ(store->RunLast(0), 59);
}

// The viewer reads the travel of a live sample as the tool read it from the logger, although the
// sample carries it in 10 bits.
TEST(LiveStore, TravelReadsAsTheToolReadItFromTheLogger) {
  TController tool;
  TConfigBlock b = tool.ConfigBlock();
  b.SetU16(cfg::kFrontZero, 3900);
  b.SetU16(cfg::kRearZero, 3800);
  tool.SetConfigBlock(b);
  tool.SetConfigInSync(true);
  tool.SetRawValue(0, 2900);
  tool.SetRawValue(1, 3500);
  const float front = tool.GetValueIn(kParamFrontTravel, kUnitMm);
  const float rear = tool.GetValueIn(kParamRearTravel, kUnitMm);
  TLogRecord live;
  FillLiveSample(tool, live);
  std::unique_ptr<TDataLogStore> store;
  ReplaceLiveSamples(store, {live});
  TLogSample sample;
  store->GetSample(0, sample);
  TController viewer;
  viewer.SetConfigBlock(b);
  viewer.SetConfigInSync(true);
  viewer.SetRawValue(0, sample.channels[0]);
  viewer.SetRawValue(1, sample.channels[1]);
  // Two bits are lost on the way: at most 3 counts of 4096 of the electrical span (mm).
  EXPECT_NEAR(viewer.GetValueIn(kParamFrontTravel, kUnitMm), front, 3 * 253.3 / 4096);
  EXPECT_NEAR(viewer.GetValueIn(kParamRearTravel, kUnitMm), rear, 3 * 101.3 / 4096);
  EXPECT_NEAR(front, 61.8, 0.1);  // 1000 counts of the 253.3 mm span
}

TEST_F(LiveChannel, ViewerWithoutAToolReportsTheError) {
  try {
    TLiveSharedBlock::OpenForViewer(4242);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error creating communication channel");
  }
  // A block left by a tool that is gone counts as none.
  {
    auto tool = TLiveSharedBlock::CreateForTool(999999);
    ASSERT_NE(tool, nullptr);
    EXPECT_THROW(TLiveSharedBlock::OpenForViewer(4242), Exception);
  }
}

TEST_F(LiveChannel, ReceiverDropsSamplesBeforeAConfigurationAndAfterABadOne) {
  TController viewerModel;
  TLiveReceiver receiver(viewerModel);
  int batches = 0;
  size_t last = 0;
  receiver.OnSamples = [&](TLogArray s) {
    ++batches;
    last = s.size();
  };
  std::vector<uint8_t> samples(3 * 22, 0);
  receiver.Handle(kLiveSamplesMessage, samples);
  EXPECT_EQ(batches, 0);
  TController tool;
  TMemoryStream config;
  tool.WriteToStream(config);
  receiver.Handle(kLiveConfigMessage, config.Bytes());
  EXPECT_TRUE(receiver.HasLiveConfiguration());
  EXPECT_TRUE(viewerModel.ConfigInSync());
  receiver.Handle(kLiveSamplesMessage, samples);
  receiver.Handle(12345, samples);  // other identifiers are ignored
  EXPECT_EQ(batches, 1);
  EXPECT_EQ(last, 3u);
  EXPECT_THROW(receiver.Handle(kLiveConfigMessage, {'b', 'a', 'd'}), Exception);
  EXPECT_FALSE(receiver.HasLiveConfiguration());
  receiver.Handle(kLiveSamplesMessage, samples);
  EXPECT_EQ(batches, 1);
}

TEST_F(LiveChannel, SendWaitsForTheHandlerAndStaleIdsAreNoViewer) {
  TLiveEndpoint viewer(7001);
  std::atomic<bool> handled{false};
  std::vector<uint8_t> got;
  std::thread receiver([&] {
    for (int i = 0; i < 50 && !handled; ++i)
      viewer.WaitAndProcess(100, [&](uint32_t id, const std::vector<uint8_t>& bytes) {
        EXPECT_EQ(id, 99u);
        got = bytes;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        handled = true;
      });
  });
  std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
  EXPECT_TRUE(TLiveEndpoint::Send(7001, 99, payload.data(), payload.size()));
  EXPECT_TRUE(handled);  // the send returned only after the handler ran
  receiver.join();
  EXPECT_EQ(got, payload);
  EXPECT_FALSE(TLiveEndpoint::Send(7002, 99, payload.data(), payload.size()));
  EXPECT_FALSE(TLiveEndpoint::IsAlive(7002));

  auto block = TLiveSharedBlock::CreateForTool(7100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->ToolId(), 7100u);
  block->SetViewerId(7002);  // a viewer that went away without clearing its id
  TController c;
  auto start = std::chrono::steady_clock::now();
  int starts = 0;
  try {
    SendLiveView(
        *block, c, {}, [&] { ++starts; }, 300);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot open viewer");
  }
  EXPECT_EQ(starts, 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  block.reset();  // the tool goes, and its block with it
  EXPECT_LT(::shm_open(LiveBlockName().c_str(), O_RDONLY, 0), 0);
}

TEST_F(LiveChannel, EachUserHasABlockOfItsOwnAndNeverJoinsAnothersBlock) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  auto tool = TLiveSharedBlock::CreateForTool(7100);
  ASSERT_NE(tool, nullptr);
  // Another user's tool starts while this one runs.
  int code = Finish(StartAsNobody([] {
    auto own = TLiveSharedBlock::CreateForTool(7200);
    return own && own->ToolId() == 7200u ? 0 : 1;
  }));
  if (code == kCannotSwitch) GTEST_SKIP() << kNeedsRoot;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(tool->ToolId(), 7100u);
  tool.reset();
  // Another user makes a block under this user's name first, with a live tool id in it.
  TLiveEndpoint live(7300);
  EXPECT_EQ(Finish(StartAsNobody([name = LiveBlockName()] {
              int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
              uint8_t id[4];
              PutU32(id, 7300);
              return fd >= 0 && ::fchmod(fd, 0666) == 0 && ::ftruncate(fd, 16) == 0 &&
                             ::pwrite(fd, id, 4, 0) == 4
                         ? 0
                         : 1;
            })),
            0);
  EXPECT_THROW(TLiveSharedBlock::OpenForViewer(4242), Exception);
  EXPECT_EQ(TLiveSharedBlock::CreateForTool(7100), nullptr);
}

TEST_F(LiveChannel, EndpointDropsMessagesFromAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  TLiveEndpoint viewer(7001);
  // Let the other user reach the socket, as a careless folder would.
  ASSERT_EQ(::chmod(folder_.c_str(), 0711), 0);
  ASSERT_EQ(::chmod(TLiveEndpoint::SocketPath(7001).c_str(), 0777), 0);
  int handled = 0;
  auto take = [&] { handled += viewer.WaitAndProcess(50, [](uint32_t, const auto&) {}); };
  int code =
      Finish(StartAsNobody([] {
               uint8_t byte = 1;
               try {
                 return TLiveEndpoint::Send(7001, kLiveSamplesMessage, &byte, 1, 10000) ? 1 : 2;
               } catch (const Exception&) {
                 return 0;  // dropped without an answer
               }
             }),
             take);
  if (code == kCannotSwitch) GTEST_SKIP() << kNeedsRoot;
  take();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(handled, 0);
}

TEST(LiveFolder, SocketsGoToAFolderPrivateToTheUser) {
  const uint32_t me = uint32_t(::geteuid());
  const std::string base = ::testing::TempDir() + "/live-folder-" + std::to_string(::getpid());
  std::filesystem::remove_all(base);
  ASSERT_TRUE(std::filesystem::create_directory(base));
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct Restore {
    std::string base;
    std::optional<std::string> runtime;
    ~Restore() {
      std::error_code ignored;
      std::filesystem::remove_all(base, ignored);
      if (runtime)
        setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
      else
        unsetenv("XDG_RUNTIME_DIR");
    }
  } restore{base, runtime ? std::optional<std::string>(runtime) : std::nullopt};

  // Without a runtime folder: /tmp/qvl-<uid>, the user's own, mode 0700.
  unsetenv("XDG_RUNTIME_DIR");
  const std::string fallback = "/tmp/qvl-" + std::to_string(me);
  const bool existed = ::access(fallback.c_str(), F_OK) == 0;
  EXPECT_EQ(TLiveEndpoint::SocketPath(5), fallback + "/qvl-live-5");
  struct stat st {};
  ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, me);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  if (!existed) ::rmdir(fallback.c_str());

  // Made owner-only whatever the umask; taken again as it is.
  const std::string own = base + "/own";
  const mode_t oldMask = ::umask(0);
  EXPECT_NO_THROW(EnsurePrivateFolder(own, me));
  ::umask(oldMask);
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_NO_THROW(EnsurePrivateFolder(own, me));
  // Refused: open to others, a link (even to a good folder), another user's.
  const std::string loose = base + "/loose", link = base + "/link", foreign = base + "/foreign";
  ASSERT_EQ(::mkdir(loose.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(loose.c_str(), 0755), 0);
  EXPECT_THROW(EnsurePrivateFolder(loose, me), Exception);
  ASSERT_EQ(::symlink(own.c_str(), link.c_str()), 0);
  EXPECT_THROW(EnsurePrivateFolder(link, me), Exception);
  ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
  if (me == 0) {
    ASSERT_EQ(::chown(foreign.c_str(), kNobody, kNobody), 0);
  }
  EXPECT_THROW(EnsurePrivateFolder(foreign, me == 0 ? me : me + 1), Exception);
}

TEST_F(LiveChannel, ToolAndViewerInTwoProcesses) {
  const uint32_t toolId = uint32_t(::getpid());
  auto toolBlock = TLiveSharedBlock::CreateForTool(toolId);
  ASSERT_NE(toolBlock, nullptr);
  TLiveEndpoint toolEndpoint(toolId);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The viewer: registers, then takes messages until it has samples.
    ::close(pipeFds[0]);
    int code = 1;
    try {
      uint32_t me = uint32_t(::getpid());
      TLiveEndpoint endpoint(me);
      auto block = TLiveSharedBlock::OpenForViewer(me);
      TController model;
      TLiveReceiver receiver(model);
      TLogArray received;
      receiver.OnSamples = [&](TLogArray s) { received = std::move(s); };
      for (int i = 0; i < 100 && received.empty(); ++i)
        endpoint.WaitAndProcess(
            100, [&](uint32_t id, const std::vector<uint8_t>& b) { receiver.Handle(id, b); });
      if (received.size() == 2 && model.ConfigBlock().U8(cfg::kFrontPulses) == 11) {
        uint32_t line[3] = {uint32_t(received[1].tick), uint16_t(received[1].values[0]),
                            uint16_t(received[1].spare)};
        if (::write(pipeFds[1], line, sizeof line) == sizeof line) code = 0;
      }
    } catch (...) {
    }
    ::_exit(code);
  }
  ::close(pipeFds[1]);
  TController tool;
  TConfigBlock b = tool.ConfigBlock();
  b.SetU8(cfg::kFrontPulses, 11);
  tool.SetConfigBlock(b);
  TDataLogDynArray recording;
  auto t0 = TDataLogDynArray::TClock::now();
  recording.Start(t0);
  tool.SetRawValue(0, 2000);
  tool.SetRawValue(8, 1500);
  recording.Append(tool, t0 + std::chrono::milliseconds(200));
  tool.SetRawValue(0, 3001);
  recording.Append(tool, t0 + std::chrono::milliseconds(400));
  EXPECT_NO_THROW(SendLiveView(*toolBlock, tool, recording.Samples(), nullptr, 5000));
  uint32_t line[3] = {};
  EXPECT_EQ(::read(pipeFds[0], line, sizeof line), ssize_t(sizeof line));
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(line[0], 4u);
  EXPECT_EQ(line[1], 750u);  // 3001 reduced to 10 bits
  EXPECT_EQ(line[2], 1500u);
  // The viewer cleared its id when it went away.
  EXPECT_EQ(toolBlock->ViewerId(), 0u);
}

}  // namespace
}  // namespace qvl
