// The flash download against the simulated logger: the listing of a season's flash compared
// with what the simulator recorded, downloads over the serial link on a pseudo-terminal and
// through the simulated USB link adapter with fast transfer, stopping, a link lost in the
// middle, and how the logger is opened and given back.
#include "tool/flash_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/device/controller.h"
#include "core/device/device_time.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/synchronizer.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "served_sim.h"
#include "sim/pty_server.h"
#include "sim/sim_channel.h"
#include "sim/sim_hid_adapter.h"
#include "tool/flash_texts.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"

namespace qvl {
namespace {

constexpr uint32_t kPg = 4096;

// A season on the smallest flash, with short runs so that it is written quickly.
sim::TSimOptions SeasonOptions(const std::string& id = "QVL R2.11") {
  sim::TSimOptions o;
  o.identification = id;
  o.season.enabled = true;
  o.season.runSecondsMin = 10;
  o.season.runSecondsMax = 40;
  o.season.runsMax = 3;
  o.season.pauseSecondsMin = 5;
  o.season.pauseSecondsMax = 60;
  o.season.currentRunSeconds = 20;
  return o;
}

// The controller with a way to put a session start address where the logger never would.
struct TTestController : TController {
  void SetSessionStart(uint32_t address) { sessionStartAddress_ = address; }
};

// A controller with its polling thread on a link, and the download engine on it.
struct THost {
  TEventLoopSynchronizer loop;
  TCommChannelPtr channel;
  TTestController controller;
  TIniFile settings;
  std::unique_ptr<TFlashDownload> engine;
  std::vector<std::string> viewerStarts;

  explicit THost(TCommChannelPtr link, int timeOut = 300) : channel(std::move(link)) {
    channel->SetTimeOut(timeOut);
    controller.SetSynchronizer(&loop);
    controller.SetActive(true);
    controller.SetChannel(channel);
  }
  ~THost() {
    engine.reset();
    controller.SetChannel(nullptr);
  }
  bool Until(const std::function<bool()>& pred, int ms = 5000) { return loop.RunUntil(pred, ms); }
  bool Connect() {
    return Until([&] { return controller.Connected(); });
  }
  void Open() {
    engine = std::make_unique<TFlashDownload>(controller, settings);
    engine->SetViewerStarter([this](const std::string& f) { viewerStarts.push_back(f); });
    engine->Open();
  }
  int Pauses() { return controller.CommThread() ? controller.CommThread()->PauseCount() : -1; }
  bool QueueEmpty() {
    return Until([&] { return controller.CommThread()->QueueSize() == 0; });
  }
};

using test::TServedSim;

struct TSimHid {
  std::shared_ptr<sim::TSimHidAdapter> adapter;
  std::shared_ptr<THIDComm> link;
  TSimHid(const sim::TSimOptions& logger, uint8_t major, uint8_t minor) {
    sim::TSimHidOptions options;
    options.throttle = true;
    options.versionMajor = major;
    options.versionMinor = minor;
    adapter = std::make_shared<sim::TSimHidAdapter>(logger, options);
    link = std::make_shared<THIDComm>(
        sim::SimulatedHidController(adapter, kUsbVendorId, kUsbLinkProductId));
  }
  template <typename F>
  auto WithLogger(F f) {
    std::lock_guard<std::mutex> lock(adapter->Link().Mutex());
    return f(adapter->Link().Logger());
  }
};

std::string TempFile(const std::string& name) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::filesystem::remove(path);
  return path;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// The flash pages [first, last) of a ring, as the download should hold them.
std::vector<uint8_t> RingPages(const std::vector<uint8_t>& flash, int64_t first, int64_t last) {
  std::vector<uint8_t> out;
  const int64_t pages = int64_t(flash.size() / kPg);
  for (int64_t p = first; p < last; ++p) {
    const auto* at = flash.data() + (p % pages) * kPg;
    out.insert(out.end(), at, at + kPg);
  }
  return out;
}

// The run with the fewest pages of an older session (the current session is 0).
std::pair<int, int> ShortOlderRun(const TFlashDownload& e) {
  std::pair<int, int> best{-1, -1};
  int32_t fewest = 1 << 30;
  for (size_t s = 1; s < e.Sessions().size(); ++s)
    for (size_t r = 0; r < e.Sessions()[s].runs.size(); ++r) {
      const TRunEntry& run = e.Sessions()[s].runs[r];
      if (run.endPage - run.startPage >= 2 && run.endPage - run.startPage < fewest) {
        fewest = run.endPage - run.startPage;
        best = {int(s), int(r)};
      }
    }
  return best;
}

// --- the listing ---------------------------------------------------------------------------------

// Compares the window's list with the sessions the simulator says the flash holds.
void ExpectListingMatches(const TFlashDownload& e, std::vector<sim::TSeasonSession> recorded,
                          int32_t sectorCount) {
  // The list shows the current session first, then the older ones from the newest.
  std::reverse(recorded.begin(), recorded.end());
  const auto& listed = e.Sessions();
  ASSERT_EQ(listed.size(), recorded.size());
  bool wraps = false, partial = false, noTime = false, laterTime = false;
  for (size_t k = 0; k < listed.size(); ++k) {
    const TSessionData& s = listed[k];
    const sim::TSeasonSession& want = recorded[k];
    SCOPED_TRACE("session " + std::to_string(k) + ": " + e.SessionText(int(k)));
    EXPECT_EQ(want.current, k == 0);
    EXPECT_EQ(s.startSector, want.startSector);
    EXPECT_EQ(s.endSector, want.endSector);
    EXPECT_EQ(s.partial, want.partial);
    EXPECT_EQ(s.hasTime, want.clock != sim::TSeasonSession::TClock::None);
    wraps |= s.endSector > sectorCount;
    partial |= s.partial;
    noTime |= want.clock == sim::TSeasonSession::TClock::None;
    laterTime |= want.clock == sim::TSeasonSession::TClock::FromLaterRun;
    ASSERT_EQ(s.runs.size(), want.runs.size());
    for (size_t r = 0; r < s.runs.size(); ++r) {
      SCOPED_TRACE("run " + std::to_string(r) + ": " + e.RunText(int(k), int(r)));
      const TRunEntry& run = s.runs[r];
      const sim::TSeasonRun& w = want.runs[r];
      EXPECT_EQ(run.startPage, w.startPage);
      EXPECT_EQ(run.endPage, w.endPage);
      EXPECT_EQ(run.sdNumber, w.sdNumber);
      EXPECT_EQ(run.startTick, w.startTick);
      EXPECT_EQ(run.endTick, w.endTick);
      EXPECT_EQ(run.partial, w.partial);
      if (w.hasTime) {
        // The logger's own time of the run's start (1.024 s units; the sim rounds down too).
        EXPECT_NEAR(double(RunDeviceTime(s, run)), double(w.deviceTime), 1.0);
      }
    }
  }
  // The season has what it should: the ring wrapped by one session, the oldest cut, a session
  // without time and one that got its time later.
  EXPECT_TRUE(wraps);
  EXPECT_TRUE(partial);
  EXPECT_TRUE(noTime);
  EXPECT_TRUE(laterTime);
}

TEST(FlashDownload, ListsTheSimulatedSeasonAsRecorded) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions());
  EXPECT_TRUE(channel->Logger().Logging());
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  host.Open();
  EXPECT_TRUE(host.engine->Listing());
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  EXPECT_EQ(host.engine->ListingError(), "");
  EXPECT_EQ(host.engine->State(), TFlashDownload::TState::Idle);
  // Opening stopped the logging run and blocked the logger's log command; the listing gave the
  // link back to polling.
  std::vector<sim::TSeasonSession> recorded;
  {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    EXPECT_FALSE(channel->Logger().Logging());
    EXPECT_TRUE(channel->Logger().LogBlocked());
    EXPECT_EQ(channel->Logger().CommandCount(0x40), 1);
    recorded = channel->Logger().Season()->Surviving();
  }
  EXPECT_EQ(host.Pauses(), 0);
  ExpectListingMatches(*host.engine, recorded, host.engine->Geometry().sectorCount);
  const TFlashDownload& e = *host.engine;
  EXPECT_EQ(e.SessionText(0), "Current session:");
  EXPECT_FALSE(e.FastTransfer());

  // Texts and selection of a session node.
  const TFlashDownload::TSelection sel = e.Describe(1, -1);
  EXPECT_EQ(sel.pages, e.Sessions()[1].runs.back().endPage);
  EXPECT_EQ(sel.debugStart, "Start sector: " + std::to_string(e.Sessions()[1].startSector));
  EXPECT_TRUE(sel.canProceed);
  EXPECT_EQ(sel.text,
            FlashSelectionSizeText(sel.pages, false) + "Not saved previously on this computer");

  host.engine->Close();
  EXPECT_TRUE(host.QueueEmpty());
  EXPECT_TRUE(host.Until([&] {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    return !channel->Logger().LogBlocked();
  }));
}

TEST(FlashDownload, OlderFirmwareListsTheSameWithSingleReadsAndNoLogCommandBlock) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions("QVL R2.01"));
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  EXPECT_EQ(host.controller.Version(), 201);
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(60000));
  std::vector<sim::TSeasonSession> recorded;
  {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    EXPECT_EQ(channel->Logger().CommandCount(0x39), 0);
    EXPECT_EQ(channel->Logger().CommandCount(0x46), 0);
    EXPECT_GE(channel->Logger().CommandCount(0x3E), 512);  // one per sector header at least
    recorded = channel->Logger().Season()->Surviving();
  }
  ExpectListingMatches(*host.engine, recorded, host.engine->Geometry().sectorCount);
  host.engine->Close();
  EXPECT_TRUE(host.QueueEmpty());
  std::lock_guard<std::mutex> lock(channel->Link().Mutex());
  EXPECT_EQ(channel->Logger().CommandCount(0x39), 0);
}

TEST(FlashDownload, ASessionStartOffTheSectorsIsRefusedAndPollingGoesOn) {
  auto channel = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  host.controller.SetSessionStart(kPg + 10);
  try {
    host.Open();
    FAIL() << "opened";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Session start not at correct position in flash");
  }
  EXPECT_EQ(host.Pauses(), 0);
  EXPECT_TRUE(host.engine->Sessions().empty());
  EXPECT_FALSE(host.engine->Listing());
  // The window stays open without a listing; closing releases the log command.
  host.engine->Close();
  EXPECT_TRUE(host.QueueEmpty());
  std::lock_guard<std::mutex> lock(channel->Link().Mutex());
  EXPECT_EQ(channel->Logger().CommandCount(0x39), 2);
  EXPECT_FALSE(channel->Logger().LogBlocked());
}

TEST(FlashDownload, ClosingWhileListingEndsTheThreadAndResumesPolling) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions("QVL R2.01"));
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  host.Open();
  EXPECT_EQ(host.Pauses(), 1);
  host.engine->Close();
  EXPECT_EQ(host.engine->State(), TFlashDownload::TState::Closed);
  EXPECT_EQ(host.Pauses(), 0);
  EXPECT_TRUE(host.QueueEmpty());
  const int polls = [&] {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    return channel->Logger().CommandCount(0x2D);
  }();
  EXPECT_TRUE(host.Until([&] {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    return channel->Logger().CommandCount(0x2D) > polls;
  }));
}

// A link that notes when two threads use it at once.
struct TWatchedChannel : ICommChannel {
  std::shared_ptr<ICommChannel> inner;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  // Each use takes this long (so that uses from two threads would meet).
  std::atomic<int> slowMs{0};
  explicit TWatchedChannel(std::shared_ptr<ICommChannel> c) : inner(std::move(c)) {}
  struct TEnter {
    TWatchedChannel& c;
    explicit TEnter(TWatchedChannel& ch) : c(ch) {
      if (++c.inside > 1) c.overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.slowMs));
    }
    ~TEnter() { --c.inside; }
  };
  TCommImplementor GetImplementor() override { return inner->GetImplementor(); }
  bool IsOpen() override { return inner->IsOpen(); }
  void SetActive(bool a) override { inner->SetActive(a); }
  int InCount() override { return inner->InCount(); }
  std::string GetPortName() override { return inner->GetPortName(); }
  void SetPortName(const std::string& n) override { inner->SetPortName(n); }
  int GetSpare() override { return inner->GetSpare(); }
  int GetTimeOut() override { return inner->GetTimeOut(); }
  std::string GetLastErrorText() override { return inner->GetLastErrorText(); }
  void SetSpare(int s) override { inner->SetSpare(s); }
  void SetTimeOut(int ms) override { inner->SetTimeOut(ms); }
  void Read(void* b, int n) override {
    TEnter e(*this);
    inner->Read(b, n);
  }
  std::string ReadString() override { return inner->ReadString(); }
  void Write(const void* b, int n, bool f) override {
    TEnter e(*this);
    inner->Write(b, n, f);
  }
  void Open(const std::string& n, const std::string& s, int b, int p) override {
    inner->Open(n, s, b, p);
  }
};

TEST(FlashDownload, ClearingTheFlashWhileListingWaitsForTheLink) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions("QVL R2.01"));
  auto watched = std::make_shared<TWatchedChannel>(channel);
  THost host(watched);
  ASSERT_TRUE(host.Connect());
  host.Open();
  // The slow listing is listing runs (polling paused): the erase goes out directly, between two
  // of the thread's exchanges.
  ASSERT_TRUE(host.Until([&] {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    return channel->Logger().CommandCount(0x3E) > 600;
  }));
  ASSERT_TRUE(host.engine->Listing());
  watched->slowMs = 3;
  for (int k = 0; k < 3; ++k) host.engine->ClearFlash();
  watched->slowMs = 0;
  EXPECT_FALSE(watched->overlapped);
  {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    EXPECT_EQ(channel->Logger().CommandCount(0x42), 3);
    const auto& f = channel->Logger().Flash();
    EXPECT_TRUE(std::all_of(f.begin(), f.end(), [](uint8_t b) { return b == 0xFF; }));
  }
  ASSERT_TRUE(host.engine->WaitForListing(60000));
  EXPECT_EQ(host.engine->ListingError(), "");
  EXPECT_EQ(host.Pauses(), 0);
}

TEST(FlashDownload, ADownloadDuringTheListingTakesTheLinkInTurn) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions("QVL R2.01"));
  auto watched = std::make_shared<TWatchedChannel>(channel);
  THost host(watched);
  ASSERT_TRUE(host.Connect());
  host.Open();
  // The current session is in the list while the older ones are still being listed.
  ASSERT_TRUE(host.Until([&] { return !host.engine->Sessions().empty(); }, 20000));
  ASSERT_TRUE(host.engine->Listing());
  const int64_t pages = host.engine->Sessions()[0].runs[0].endPage;
  watched->slowMs = 1;
  TFlashDownload::TCallbacks callbacks;
  callbacks.stopRequested = [&] { return false; };
  callbacks.fileName = [](const TFlashDownload::TOutcome&) { return std::string(); };
  const auto out = host.engine->Download(0, 0, callbacks, false);
  watched->slowMs = 0;
  EXPECT_EQ(out.pagesRead, pages);
  EXPECT_FALSE(watched->overlapped);
  // The listing went on afterwards and found everything.
  ASSERT_TRUE(host.engine->WaitForListing(60000));
  EXPECT_EQ(host.engine->ListingError(), "");
  std::lock_guard<std::mutex> lock(channel->Link().Mutex());
  EXPECT_EQ(host.engine->Sessions().size(), channel->Logger().Season()->Surviving().size());
}

// --- downloading ---------------------------------------------------------------------------------

TEST(FlashDownload, DownloadsARunOverTheSerialLinkAndRemembersIt) {
  TServedSim sim(SeasonOptions());
  THost host(CreateChannel("COM", sim.server.SlavePath()));
  ASSERT_TRUE(host.Connect());
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  TFlashDownload& e = *host.engine;
  const std::string file = TempFile("serial_run.QVLog");
  // The current session's first run: the marker of the download moves the current session on.
  const TRunEntry run = e.Sessions()[0].runs[0];
  const uint32_t key = e.RunKey(0, 0);
  std::vector<int> percents;
  std::vector<std::string> remaining;
  TFlashDownload::TCallbacks callbacks;
  callbacks.progress = [&](int p) {
    percents.push_back(p);
    EXPECT_EQ(e.State(), TFlashDownload::TState::Downloading);
    EXPECT_EQ(host.Pauses(), 1);
  };
  callbacks.remaining = [&](const std::string& t) { remaining.push_back(t); };
  bool asked = false;
  callbacks.fileName = [&](const TFlashDownload::TOutcome& o) {
    asked = true;
    EXPECT_FALSE(o.stopped);
    EXPECT_EQ(e.State(), TFlashDownload::TState::Saving);
    return file;
  };
  const TFlashDownload::TOutcome out = e.Download(0, 0, callbacks, true);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(out.saved);
  EXPECT_FALSE(out.stopped);
  EXPECT_EQ(out.key, key);
  const int64_t pages = run.endPage - run.startPage;
  EXPECT_EQ(out.pagesRead, pages);
  EXPECT_EQ(e.State(), TFlashDownload::TState::Idle);
  EXPECT_EQ(host.Pauses(), 0);

  // Progress from 0 towards 100 in page steps; the remaining time only ever shrinks.
  ASSERT_EQ(int64_t(percents.size()), pages);
  EXPECT_EQ(percents.front(), 0);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  ASSERT_FALSE(remaining.empty());
  for (const auto& t : remaining) EXPECT_NE(t.find(" remaining"), std::string::npos) << t;
  EXPECT_EQ(remaining.back(), "0sec. remaining");

  // The file: configuration stream, then exactly the run's flash pages.
  const std::vector<uint8_t> flash = sim.WithLogger([](auto& l) { return l.Flash(); });
  const int64_t first = int64_t(e.Sessions()[0].startSector) + run.startPage;
  const std::vector<uint8_t> expected = RingPages(flash, first, first + pages);
  const std::vector<uint8_t> bytes = FileBytes(file);
  ASSERT_GT(bytes.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.end() - expected.size()));
  TController fileController;
  TDataLogStore store;
  TLogFileInfo info;
  LoadLogFile(file, fileController, store, info);
  EXPECT_TRUE(info.isDownload);
  ASSERT_EQ(store.RunCount(), 1);
  EXPECT_NEAR(double(store.RunDuration(0)), double(run.endTick - run.startTick), 4096.0);
  // The ride decodes: the fork compressed deep and back to its sag, the wheels turning, the
  // accelerometer around 1 g, the rider's mark half-way.
  store.SelectRun(0);
  TLogSample sample;
  int16_t lowest = 4096, highest = -1, highestZ = -1;
  std::set<int> frontCounts;
  for (int64_t t = 0; t <= store.RunLast(0); ++t) {
    if (!store.ReadNext(t, sample)) continue;
    lowest = std::min(lowest, sample.channels[0]);
    highest = std::max(highest, sample.channels[0]);
    highestZ = std::max(highestZ, sample.channels[20]);
    frontCounts.insert(sample.frontCount);
  }
  EXPECT_LT(lowest, 1200);        // near bottom-out
  EXPECT_GT(highest, 3000);       // back at sag
  EXPECT_GT(highestZ, 512 + 59);  // above 1 g
  EXPECT_GT(frontCounts.size(), 20u);
  EXPECT_EQ(store.TimeMarks().size(), 1u);

  // Remembered, shown as saved, the viewer asked for, and the current session moved on.
  ASSERT_NE(e.SavedDownloads().Find(key), nullptr);
  EXPECT_EQ(*e.SavedDownloads().Find(key), file);
  EXPECT_TRUE(e.IsSaved(0, 0));
  EXPECT_FALSE(e.IsSaved(0, -1));
  EXPECT_NE(e.Describe(0, 0).text.find("Saved in \"serial_run.QVLog\""), std::string::npos);
  EXPECT_EQ(host.viewerStarts, std::vector<std::string>{file});
  EXPECT_EQ(host.controller.SessionSector(), int32_t((first + pages) % 512));
  host.engine->Close();
  EXPECT_EQ(host.settings.ReadString("IFMDownloads", std::to_string(key), ""), file);
}

TEST(FlashDownload, ASessionAcrossTheEndOfTheRingDownloadsInOrder) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions());
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  TFlashDownload& e = *host.engine;
  const int32_t n = e.Geometry().sectorCount;
  int wrapping = -1;
  for (size_t k = 0; k < e.Sessions().size(); ++k)
    if (e.Sessions()[k].endSector > n) wrapping = int(k);
  ASSERT_GE(wrapping, 0);
  int64_t first = 0, last = 0;
  e.SelectionRange(wrapping, -1, first, last);
  EXPECT_LT(first, e.Geometry().pageCount);
  EXPECT_GT(last, e.Geometry().pageCount);
  const std::string file = TempFile("wrapping.QVLog");
  TFlashDownload::TCallbacks callbacks;
  callbacks.fileName = [&](const TFlashDownload::TOutcome&) { return file; };
  const auto out = e.Download(wrapping, -1, callbacks, false);
  EXPECT_EQ(out.pagesRead, last - first);
  std::vector<uint8_t> flash;
  {
    std::lock_guard<std::mutex> lock(channel->Link().Mutex());
    flash = channel->Logger().Flash();
  }
  const auto expected = RingPages(flash, first, last);
  const auto bytes = FileBytes(file);
  ASSERT_GT(bytes.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.end() - expected.size()));
  TController c;
  TDataLogStore store;
  TLogFileInfo info;
  EXPECT_NO_THROW(LoadLogFile(file, c, store, info));
  EXPECT_EQ(store.RunCount(), 1);
}

TEST(FlashDownload, FastTransferThroughTheUsbLinkAdapter) {
  for (uint8_t minor : {2, 1}) {
    SCOPED_TRACE("adapter 2." + std::to_string(minor));
    TSimHid sim(SeasonOptions(), 2, minor);
    THost host(sim.link, 500);
    ASSERT_TRUE(host.Connect());
    host.Open();
    ASSERT_TRUE(host.engine->WaitForListing(30000));
    TFlashDownload& e = *host.engine;
    EXPECT_TRUE(e.FastTransfer());
    EXPECT_EQ(e.HigherRate(), minor >= 2);
    EXPECT_EQ(e.AdapterVersionText(), "Tevra version 2." + std::to_string(minor));
    const auto [s, r] = ShortOlderRun(e);
    ASSERT_GE(s, 1);
    const TRunEntry run = e.Sessions()[size_t(s)].runs[size_t(r)];
    const std::string file = TempFile("usb_run.QVLog");
    std::set<int> speeds;
    TFlashDownload::TCallbacks callbacks;
    callbacks.progress = [&](int) { speeds.insert(sim.adapter->SpeedCode()); };
    callbacks.fileName = [&](const TFlashDownload::TOutcome&) { return file; };
    const auto out = e.Download(s, r, callbacks, false);
    EXPECT_TRUE(out.saved);
    EXPECT_TRUE(host.viewerStarts.empty());
    // The whole download ran at the fast speed, and the adapter is back to normal after it.
    EXPECT_EQ(speeds, std::set<int>{minor >= 2 ? 0x07 : 0x03});
    EXPECT_EQ(sim.adapter->SpeedCode(), 0);
    EXPECT_EQ(sim.WithLogger([](auto& l) { return l.LineSpeed(); }), 0);
    EXPECT_EQ(sim.adapter->AdapterCommands(), 3);  // version, fast, normal
    const std::vector<uint8_t> flash = sim.WithLogger([](auto& l) { return l.Flash(); });
    int64_t first = 0, last = 0;
    e.SelectionRange(s, r, first, last);
    EXPECT_EQ(last - first, run.endPage - run.startPage);
    const auto expected = RingPages(flash, first, last);
    const auto bytes = FileBytes(file);
    ASSERT_GT(bytes.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.end() - expected.size()));
    // Download times are estimated for the fast transfer.
    const int64_t n = run.endPage - run.startPage;
    EXPECT_EQ(e.Describe(s, r).text.rfind(FlashSelectionSizeText(n, true), 0), 0u);
    EXPECT_NE(FlashSelectionSizeText(n, true), FlashSelectionSizeText(n, false));
    EXPECT_TRUE(host.Until([&] { return host.Pauses() == 0; }));
  }
}

TEST(FlashDownload, AnOldAdapterKeepsTheNormalSpeed) {
  TSimHid sim(sim::TSimOptions{}, 1, 9);
  THost host(sim.link, 500);
  ASSERT_TRUE(host.Connect());
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  EXPECT_FALSE(host.engine->FastTransfer());
  TFlashDownload::TCallbacks callbacks;
  callbacks.fileName = [](const TFlashDownload::TOutcome&) { return std::string(); };
  // Only the smallest piece: the first run's first pages are enough to see no speed change.
  const auto out = host.engine->Download(
      1, 0,
      [&] {
        auto c = callbacks;
        c.stopRequested = [] { return true; };
        return c;
      }(),
      false);
  EXPECT_TRUE(out.stopped);
  EXPECT_FALSE(out.saved);
  EXPECT_EQ(sim.adapter->AdapterCommands(), 1);  // the version query only
  EXPECT_EQ(sim.WithLogger([](auto& l) { return l.LineSpeed(); }), 0);
}

TEST(FlashDownload, StoppingInTheMiddleSavesNothingOrOnlyThePagesRead) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions());
  THost host(channel);
  ASSERT_TRUE(host.Connect());
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  TFlashDownload& e = *host.engine;
  const int sessionIndex = 1;
  ASSERT_GE(e.Sessions()[sessionIndex].runs.back().endPage, 6);
  const std::string file = TempFile("stopped.QVLog");

  int pages = 0;
  TFlashDownload::TCallbacks callbacks;
  callbacks.progress = [&](int) { ++pages; };
  callbacks.stopRequested = [&] { return pages == 3; };
  callbacks.fileName = [&](const TFlashDownload::TOutcome& o) {
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(o.pagesRead, 3);
    return std::string();
  };
  auto out = e.Download(sessionIndex, -1, callbacks, true);
  EXPECT_TRUE(out.stopped);
  EXPECT_FALSE(out.saved);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(e.State(), TFlashDownload::TState::Idle);
  EXPECT_EQ(host.Pauses(), 0);
  EXPECT_FALSE(e.IsSaved(sessionIndex, -1));
  EXPECT_TRUE(host.viewerStarts.empty());

  // Kept: the three pages read, a file the store opens.
  pages = 0;
  callbacks.fileName = [&](const TFlashDownload::TOutcome&) { return file; };
  out = e.Download(sessionIndex, -1, callbacks, false);
  EXPECT_TRUE(out.saved);
  EXPECT_EQ(out.pagesRead, 3);
  const auto bytes = FileBytes(file);
  TController c;
  TDataLogStore store;
  TLogFileInfo info;
  LoadLogFile(file, c, store, info);
  EXPECT_EQ(store.RunCount(), 1);
  // The data section's length field: the three pages.
  EXPECT_EQ(GetI32(&bytes[bytes.size() - 3 * kPg - 4]), int32_t(3 * kPg));
  EXPECT_TRUE(e.IsSaved(sessionIndex, -1));
}

TEST(FlashDownload, ALinkLostInTheMiddleEndsTheDownloadWithoutAFile) {
  auto channel = std::make_shared<sim::TSimChannel>(SeasonOptions());
  THost host(channel, 100);
  ASSERT_TRUE(host.Connect());
  host.Open();
  ASSERT_TRUE(host.engine->WaitForListing(20000));
  TFlashDownload& e = *host.engine;
  const std::string file = TempFile("lost.QVLog");
  int pages = 0;
  bool asked = false;
  TFlashDownload::TCallbacks callbacks;
  callbacks.progress = [&](int) {
    if (++pages == 2) {
      std::lock_guard<std::mutex> lock(channel->Link().Mutex());
      channel->Link().Unplug(channel->NowMs(), 0);
    }
  };
  callbacks.fileName = [&](const TFlashDownload::TOutcome&) {
    asked = true;
    return file;
  };
  EXPECT_THROW(e.Download(1, -1, callbacks, true), std::exception);
  EXPECT_EQ(pages, 2);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(e.State(), TFlashDownload::TState::Idle);
  EXPECT_EQ(host.Pauses(), 0);
  EXPECT_TRUE(host.viewerStarts.empty());
  EXPECT_TRUE(e.SavedDownloads().Entries().empty());
  // Polling has the link again and finds it gone.
  EXPECT_TRUE(host.Until([&] { return !host.controller.Connected(); }));
}

TEST(FlashDownload, TheViewerIsStartedDetachedFromTheProgramsFolder) {
  const std::string folder = ::testing::TempDir() + "/viewer-folder";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string seen = folder + "/seen.txt";
  std::filesystem::remove(seen);
  EXPECT_FALSE(StartViewerProgram("/tmp/a.QVLog", folder));  // no viewer there
  {
    std::ofstream script(folder + "/QVL2View");
    script << "#!/bin/sh\necho \"$1\" > " << seen << ".tmp && mv " << seen << ".tmp " << seen
           << "\n";
  }
  std::filesystem::permissions(folder + "/QVL2View", std::filesystem::perms::owner_all);
  EXPECT_TRUE(StartViewerProgram("/tmp/run 1.QVLog", folder));
  for (int waited = 0; waited < 5000 && !std::filesystem::exists(seen); waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(seen);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "/tmp/run 1.QVLog");
}

}  // namespace
}  // namespace qvl
