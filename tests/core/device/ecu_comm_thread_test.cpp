// The polling thread against a scripted peer: the 200 ms grid, pauses, the queue, lost
// connections, replacing the link and the inactive controller. Time is a fake clock moved by
// the thread's own sleeps; hand-overs run in a plain event loop on the test's thread.
#include <gtest/gtest.h>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/synchronizer.h"
#include "core/util/endian.h"
#include "tests/core/device/fake_link.h"

namespace qvl {
namespace {

using test::TFakeClock;
using test::TScriptedLink;

std::shared_ptr<TScriptedLink> MakeLink(TFakeClock& clock, const char* cls = kSerialChannelClass) {
  auto link = std::make_shared<TScriptedLink>(clock, cls);
  link->dataLength = {{0x2D, 4}, {0x2E, 2}, {0x3C, 6}, {0x43, 4}, {0x3E, 6}, {0x39, 2}};
  link->answer = [](uint8_t c, const std::vector<uint8_t>& d) -> std::vector<uint8_t> {
    switch (c) {
      case 0x2D:
        return std::vector<uint8_t>(40, 0x20);
      case 0x2E:
        return std::vector<uint8_t>(2 * size_t(d[1]), 1);
      case 0x32: {
        TController source;
        return source.BuildConfigImage();
      }
      case 0x3F:
        return std::vector<uint8_t>(16, 0);
      case 0x43:
        return std::vector<uint8_t>(128, 0xFF);
      case 0x3E:
        return std::vector<uint8_t>(6, 0xFF);
      default:
        return {};
    }
  };
  return link;
}

struct TThreadRig : IControllerListener {
  TFakeClock clock;
  TEventLoopSynchronizer loop;
  TController controller;
  std::shared_ptr<TScriptedLink> link;
  int values = 0;
  int connectionChanges = 0;
  std::vector<std::string> errors;

  explicit TThreadRig(const char* cls = kSerialChannelClass) {
    link = MakeLink(clock, cls);
    controller.SetTickClock(&clock);
    controller.SetSynchronizer(&loop);
    controller.SetErrorHandler([this](const std::string& m) { errors.push_back(m); });
    controller.AddListener(this);
  }
  ~TThreadRig() override {
    controller.SetChannel(nullptr);
    controller.RemoveListener(this);
  }
  void ControllerChanged(TController*, uint8_t flags) override {
    if (flags & kChangeValues) ++values;
    if (flags & kChangeConnection) ++connectionChanges;
  }
  void Start() {
    controller.SetActive(true);
    controller.SetChannel(link);
  }
  bool RunUntil(const std::function<bool()>& pred, int ms = 5000) {
    return loop.RunUntil(pred, ms);
  }
  bool WaitValues(int n) {
    const int target = values + n;
    return RunUntil([&] { return values >= target; });
  }
  std::vector<uint64_t> PollTimes() {
    std::vector<uint64_t> t;
    for (auto& s : link->Seen())
      if (s.command == 0x2D) t.push_back(s.atMs);
    return t;
  }
};

TEST(EcuCommThread, ConnectsAndPollsOnA200MsGrid) {
  TThreadRig rig;
  rig.Start();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.Connected(); }));
  EXPECT_EQ(rig.controller.Version(), 211);
  ASSERT_TRUE(rig.WaitValues(4));
  auto t = rig.PollTimes();
  ASSERT_GE(t.size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_GE(t[i] - t[i - 1], 180u) << i;
    EXPECT_LE(t[i] - t[i - 1], 220u) << i;
  }
  // Each poll asks for the real-time block (address 0, 40 bytes) and every analog input.
  auto seen = rig.link->Seen();
  auto rt = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.command == 0x2D; });
  EXPECT_EQ(rt->data, (std::vector<uint8_t>{0, 0, 40, 0}));
  auto an = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.command == 0x2E; });
  EXPECT_EQ(an->data, (std::vector<uint8_t>{0, uint8_t(rig.controller.AnalogInputCount())}));
  EXPECT_EQ(rig.link->openCount, 0);  // it was open already
}

TEST(EcuCommThread, ASlowCycleSkipsTheMissedGridPoints) {
  TThreadRig rig;
  rig.link->answerDelay = [](uint8_t c, int occurrence) {
    return c == 0x2D && occurrence == 2 ? uint64_t(440) : uint64_t(0);
  };
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(5));
  auto t = rig.PollTimes();
  ASSERT_GE(t.size(), 5u);
  const uint64_t grid = t[2];  // the slow cycle starts here and takes about 450 ms
  // The next poll waits for the next grid point after the slow cycle: 600 ms after its start.
  EXPECT_GE(t[3] - grid, 600u);
  EXPECT_LE(t[3] - grid, 620u);
  EXPECT_GE(t[4] - t[3], 180u);
  EXPECT_LE(t[4] - t[3], 220u);
}

TEST(EcuCommThread, NestedPausesNeedTwoResumes) {
  TThreadRig rig;
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  rig.controller.PausePolling();
  rig.controller.PausePolling();
  EXPECT_TRUE(rig.controller.CommThread()->Idle());
  const size_t writes = rig.link->WriteCount();
  rig.controller.ResumePolling();
  rig.RunUntil([] { return false; }, 150);
  EXPECT_EQ(rig.link->WriteCount(), writes);
  EXPECT_EQ(rig.controller.CommThread()->PauseCount(), 1);
  rig.controller.ResumePolling();
  EXPECT_TRUE(rig.WaitValues(2));
  EXPECT_GT(rig.link->WriteCount(), writes);
}

TEST(EcuCommThread, QueueWaitsForTheConnectionAndIsEmptiedWhenItIsLost) {
  TThreadRig rig;
  rig.link->answerIdentification = false;
  rig.Start();
  ASSERT_NE(rig.controller.CommThread(), nullptr);
  uint8_t data[2] = {0x65, 1};
  rig.controller.QueueCommand(0x39, data, 2);
  rig.RunUntil([] { return false; }, 100);
  EXPECT_EQ(rig.controller.CommThread()->QueueSize(), 1u);
  EXPECT_EQ(rig.link->Count(0x39), 0);
  // The logger answers: the queued command goes out once connected.
  rig.link->answerIdentification = true;
  ASSERT_TRUE(rig.RunUntil([&] { return rig.link->Count(0x39) == 1; }));
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.CommThread()->QueueSize() == 0; }));

  // Commands queued while polling is paused are lost with the connection.
  rig.controller.PausePolling();
  rig.controller.QueueCommand(0x39, data, 2);
  rig.controller.QueueCommand(0x39, data, 2);
  rig.link->silent = true;
  rig.controller.ResumePolling();
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.controller.Connected(); }));
  EXPECT_EQ(rig.controller.CommThread()->QueueSize(), 0u);
  EXPECT_EQ(rig.controller.LinkErrors(), 1);
}

TEST(EcuCommThread, AFailedQueuedCommandEmptiesTheQueueAndPollingGoesOn) {
  TThreadRig rig;
  rig.link->echo = [](uint8_t c, int, int) { return c == 0x40 ? uint8_t(0x11) : c; };
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  rig.controller.PausePolling();
  rig.controller.QueueCommand(0x40, nullptr, 0);
  uint8_t data[2] = {0x65, 0};
  rig.controller.QueueCommand(0x39, data, 2);
  rig.controller.ResumePolling();
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.errors.empty(); }));
  EXPECT_EQ(rig.errors[0], "Wrong answer to command");
  EXPECT_EQ(rig.link->Count(0x40), 4);  // the serial link's retry count, no more
  EXPECT_EQ(rig.link->Count(0x39), 0);
  EXPECT_EQ(rig.controller.CommThread()->QueueSize(), 0u);
  EXPECT_TRUE(rig.WaitValues(2));
  EXPECT_TRUE(rig.controller.Connected());
}

TEST(EcuCommThread, APauseDuringAnErrorHandOverKeepsThePollOffTheLink) {
  TThreadRig rig;
  rig.link->echo = [](uint8_t c, int, int) { return c == 0x40 ? uint8_t(0x11) : c; };
  // Queued while the real-time block is on its way, the failing command runs between the two
  // exchanges of a poll.
  std::atomic<bool> armed{false};
  rig.link->answer = [&, answer = rig.link->answer](uint8_t c, const std::vector<uint8_t>& d) {
    if (c == 0x2D && armed.exchange(false)) rig.controller.CommThread()->Queue(0x40, nullptr, 0);
    return answer(c, d);
  };
  // The error display runs an event loop, where a window pauses polling.
  bool paused = false;
  size_t writesAtPause = 0;
  rig.controller.SetErrorHandler([&](const std::string&) {
    rig.controller.PausePolling();
    writesAtPause = rig.link->WriteCount();
    paused = true;
  });
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  armed = true;
  ASSERT_TRUE(rig.RunUntil([&] { return paused; }));
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.CommThread()->Idle(); }));
  EXPECT_EQ(rig.link->WriteCount(), writesAtPause);
  rig.controller.ResumePolling();
  EXPECT_TRUE(rig.WaitValues(1));
}

TEST(EcuCommThread, AListenerFailingOnConnectReachesTheErrorDisplay) {
  TThreadRig rig;
  struct TFailing : IControllerListener {
    void ControllerChanged(TController*, uint8_t flags) override {
      if (flags & kChangeConnection) throw Exception("window failed");
    }
  } failing;
  rig.controller.AddListener(&failing);
  rig.Start();
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.errors.empty(); }));
  EXPECT_EQ(rig.errors[0], "window failed");
  EXPECT_EQ(rig.controller.LastConnectError(), "");
  EXPECT_EQ(rig.connectionChanges, 1);  // the other listener was told
  EXPECT_TRUE(rig.WaitValues(1));       // connected, and polling goes on
  rig.controller.RemoveListener(&failing);
}

TEST(EcuCommThread, ReconnectsAfterTheLinkDropsOut) {
  TThreadRig rig;
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  rig.link->Unplug();
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.controller.Connected(); }));
  EXPECT_EQ(rig.controller.LinkErrors(), 1);
  // The thread opens the link again with the serial port's parameters.
  ASSERT_TRUE(rig.RunUntil([&] { return rig.link->openCount > 0; }));
  EXPECT_EQ(rig.link->openedName, "fake");
  EXPECT_EQ(rig.link->openedParameter, 57600);
  EXPECT_TRUE(rig.RunUntil([&] { return rig.controller.Connected(); }));
  EXPECT_TRUE(rig.WaitValues(1));
}

TEST(EcuCommThread, UsbHidLinkIsOpenedAsUsbWithOneAttempt) {
  TThreadRig rig(kHidChannelClass);
  rig.link->Unplug();
  rig.link->refuseOpen = true;
  rig.Start();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.link->openCount > 0; }));
  EXPECT_EQ(rig.link->openedName, "USB");
  EXPECT_EQ(rig.link->openedParameter, 0x04D80339);
  EXPECT_EQ(rig.controller.CommThread()->RetryCount(), 1);
  EXPECT_FALSE(rig.controller.Connected());
}

TEST(EcuCommThread, ReplacingTheLinkStopsTheOldThreadFirst) {
  TThreadRig rig;
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  auto other = MakeLink(rig.clock);
  TEcuCommThread* oldThread = rig.controller.CommThread();
  rig.controller.SetChannel(other);
  const size_t oldWrites = rig.link->WriteCount();
  EXPECT_NE(rig.controller.CommThread(), nullptr);
  (void)oldThread;
  rig.controller.SetConnected(false);
  ASSERT_TRUE(rig.RunUntil([&] { return other->Count(0x2D) >= 2; }));
  EXPECT_EQ(rig.link->WriteCount(), oldWrites);
}

TEST(EcuCommThread, InactiveControllerWaitsAfterALostConnection) {
  TThreadRig rig;
  rig.Start();
  ASSERT_TRUE(rig.WaitValues(1));
  rig.controller.SetActive(false);
  rig.link->silent = true;
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.controller.Connected(); }));
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.CommThread()->Idle(); }));
  EXPECT_EQ(rig.controller.CommThread()->PauseCount(), 1);
  rig.link->silent = false;
  const size_t writes = rig.link->WriteCount();
  rig.RunUntil([] { return false; }, 150);
  EXPECT_EQ(rig.link->WriteCount(), writes);
  rig.controller.SetActive(true);
  EXPECT_EQ(rig.controller.CommThread()->PauseCount(), 0);
  EXPECT_TRUE(rig.RunUntil([&] { return rig.controller.Connected(); }));
}

TEST(EcuCommThread, DestroyingTheControllerStopsAThreadWaitingForAHandOver) {
  auto rig = std::make_unique<TThreadRig>();
  rig->Start();
  // Never pump the loop: the thread waits in its first hand-over (connected).
  for (int i = 0; i < 200 && rig->link->Count(0x00) == 0 && rig->link->WriteCount() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  rig.reset();  // must return
  SUCCEED();
}

}  // namespace
}  // namespace qvl
