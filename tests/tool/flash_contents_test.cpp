// The contents scan against flash images laid out page by page: where sessions begin and end in
// the ring, how runs are cut, which reads it sends, and the device time of each run.
#include "tool/flash_contents.h"

#include <gtest/gtest.h>

#include <set>

#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "tool/flash_texts.h"

namespace qvl {
namespace {

constexpr uint32_t kPg = 4096;

// A flash image behind the two read commands, recording each command.
struct TFakeFlash : IFlashAccess {
  struct TCall {
    uint8_t command;
    uint32_t address;
    uint16_t count;  // 0x46: item count; 0x3E: 1
    uint16_t size;   // 0x46: item size; 0x3E: length
  };
  TFlashGeometry g;
  std::vector<uint8_t> bytes;
  std::vector<TCall> calls;
  std::set<uint32_t> failing;  // addresses whose 0x3E reads fail

  TFakeFlash(uint32_t flashSize, uint32_t sectorSize, uint32_t sessionStart)
      : g(TFlashGeometry::Make(flashSize, sectorSize, sessionStart)), bytes(flashSize, 0xFF) {}

  void Read(uint32_t address, uint16_t length, uint8_t* out) override {
    calls.push_back({0x3E, address, 1, length});
    if (failing.count(address)) throw ETimeOutError("Time out sending command");
    for (uint16_t k = 0; k < length; ++k) out[k] = bytes[(address + k) % bytes.size()];
  }
  void StridedRead(uint32_t start, uint32_t stride, uint16_t count, uint16_t size,
                   uint8_t* out) override {
    calls.push_back({0x46, start, count, size});
    EXPECT_LE(count, 128);
    for (uint32_t k = 0; k < count; ++k)
      for (uint32_t b = 0; b < size; ++b)
        out[k * size + b] = bytes[(uint64_t(start) + uint64_t(k) * stride + b) % bytes.size()];
  }

  // A page's header record: flags, number, u32; with the clock flag the LNB record follows at +6.
  void Page(uint32_t page, uint8_t flags, uint8_t number, uint32_t value, uint32_t lnbTick = 0) {
    uint8_t* p = &bytes[size_t(page) * kPg];
    p[0] = flags;
    p[1] = number;
    PutU32(p + 2, value);
    if (flags & kSectorHasClock) {
      p[6] = 0xB0;
      p[7] = number;
      PutU32(p + 8, lnbTick);
    }
    p[12] = 0x70;  // some data after the header
  }
  void Erase(uint32_t page) { std::fill_n(&bytes[size_t(page) * kPg], kPg, 0xFF); }

  size_t Count(uint8_t command, uint16_t size) const {
    size_t n = 0;
    for (const TCall& c : calls) n += c.command == command && c.size == size;
    return n;
  }
};

// Runs the whole scan and collects the sessions in hand-over order.
std::vector<TSessionData> Scan(TFakeFlash& flash, bool fast = true,
                               TContentsScanner::THooks hooks = {}) {
  std::vector<TSessionData> out;
  hooks.sessionReady = [&](const TSessionData& s) { out.push_back(s); };
  TContentsScanner scanner(flash, flash.g, fast, hooks);
  scanner.Run();
  return out;
}

// Data headers: a session start page with clock, a continuation page with clock, and pages of a
// session without device time.
constexpr uint8_t kSessionStartClock = 0xBF;  // clock, run, session, time
constexpr uint8_t kRunStartClock = 0xBB;      // clock, run, time
constexpr uint8_t kContinueClock = 0xB9;      // clock, time
constexpr uint8_t kSessionStartPlain = 0xB6;  // run, session
constexpr uint8_t kRunStartPlain = 0xB2;
constexpr uint8_t kContinuePlain = 0xB0;

TEST(FlashContents, ASessionFillingTheWholeRingEndsAtStartPlusN) {
  // 64 sectors of one page; the current session starts at sector 10 and every sector holds its
  // data, later and later.
  TFakeFlash flash(64 * kPg, kPg, 10 * kPg);
  flash.Page(10, kSessionStartClock, 3, 1000, 500);
  for (uint32_t k = 1; k < 64; ++k)
    flash.Page((10 + k) % 64, kContinueClock, 3, 1000 + k, 500 + 1000 * k);
  auto sessions = Scan(flash);
  ASSERT_EQ(sessions.size(), 1u);
  const TSessionData& s = sessions[0];
  EXPECT_EQ(s.startSector, 10);
  EXPECT_EQ(s.endSector, 74);
  EXPECT_FALSE(s.partial);
  EXPECT_TRUE(s.hasTime);
  EXPECT_EQ(s.base, 1000u);
  ASSERT_EQ(s.runs.size(), 1u);
  EXPECT_EQ(s.runs[0].startPage, 0);
  EXPECT_EQ(s.runs[0].endPage, 64);
  EXPECT_EQ(s.runs[0].sdNumber, 3);
  EXPECT_EQ(s.runs[0].startTick, 500u);
  EXPECT_EQ(s.runs[0].endTick, 500u + 63 * 1000);  // the last page's LNB record, at +6
  // The page flags: 54 pages up to the end of the flash, then 10 from page 0.
  std::vector<std::pair<uint32_t, uint16_t>> flagReads;
  for (const auto& c : flash.calls)
    if (c.command == 0x46 && c.size == 1) flagReads.push_back({c.address, c.count});
  EXPECT_EQ(flagReads, (std::vector<std::pair<uint32_t, uint16_t>>{{10 * kPg, 54}, {0, 10}}));
}

TEST(FlashContents, PageFlagsAreReadInChunksOfAtMost128Pages) {
  // 512 pages in 128 sectors of 16 KiB... the sector size is a multiple of the page: use 4 pages
  // per sector, a session of 300 pages starting 20 pages before the end of the flash.
  TFakeFlash flash(512 * kPg, 4 * kPg, 123 * 4 * kPg);
  const uint32_t first = 123 * 4;
  flash.Page(first, kSessionStartClock, 1, 5000, 10);
  for (uint32_t k = 1; k < 300; ++k)
    flash.Page((first + k) % 512, kContinueClock, 1, 5000 + k, 10 + k);
  auto sessions = Scan(flash);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].endSector, 123 + 75);
  ASSERT_EQ(sessions[0].runs.size(), 1u);
  EXPECT_EQ(sessions[0].runs[0].endPage, 300);
  std::vector<std::pair<uint32_t, uint16_t>> flagReads;
  for (const auto& c : flash.calls)
    if (c.command == 0x46 && c.size == 1) flagReads.push_back({c.address / kPg, c.count});
  EXPECT_EQ(flagReads, (std::vector<std::pair<uint32_t, uint16_t>>{
                           {492, 20}, {0, 128}, {128, 128}, {256, 24}}));
  // Headers: 128 sectors in 4 strided reads of 32 six-byte items.
  EXPECT_EQ(flash.Count(0x46, 6), 4u);
}

TEST(FlashContents, OlderSessionsAroundTheRingWithThePartialOldest) {
  // 32 sectors of one page. Current session 20..23, sector 24 erased ahead of the logger.
  TFakeFlash flash(32 * kPg, kPg, 20 * kPg);
  flash.Page(20, kSessionStartClock, 9, 9000, 100);
  for (uint32_t k = 21; k < 24; ++k) flash.Page(k, kContinueClock, 9, 9000 + k, 100 + k);
  // Sector 25 is the oldest data left: a session whose start has been overwritten.
  flash.Page(25, kContinueClock, 4, 2000, 77000);
  flash.Page(26, kContinueClock, 4, 2001, 78000);
  flash.Page(27, kSessionStartPlain, 5, 1234);  // no device time
  flash.Page(28, kContinuePlain, 5, 2234);
  // 29 erased. A session across the end of the ring: 30, 31, 0, 1.
  flash.Page(30, kSessionStartClock, 6, 4000, 10);
  flash.Page(31, kContinueClock, 6, 4001, 1010);
  flash.Page(0, kContinueClock, 6, 4002, 2010);
  flash.Page(1, kRunStartClock, 7, 4003, 3010);
  for (uint32_t k = 2; k < 10; ++k)
    flash.Page(k, k == 2 ? kSessionStartClock : kContinueClock, 8, 5000 + k, k);
  // 10 erased; 11 holds data without a session start and is not the oldest: passed over.
  flash.Page(11, kContinueClock, 8, 5011, 11);
  flash.Page(13, kSessionStartClock, 2, 6000, 13);
  for (uint32_t k = 14; k < 20; ++k) flash.Page(k, kContinueClock, 2, 6000 + k, k);

  auto sessions = Scan(flash);
  struct TWant {
    int32_t start, end;
    bool partial;
  };
  // Hand-over order: the current session, then the older ones from the newest.
  const std::vector<TWant> want = {{20, 24, false}, {13, 20, false}, {2, 10, false},
                                   {30, 34, false}, {27, 29, false}, {25, 27, true}};
  ASSERT_EQ(sessions.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(sessions[k].startSector, want[k].start) << k;
    EXPECT_EQ(sessions[k].endSector, want[k].end) << k;
    EXPECT_EQ(sessions[k].partial, want[k].partial) << k;
  }
  // The wrapping session holds two runs, cut where sector 1 starts one.
  const TSessionData& wrap = sessions[3];
  ASSERT_EQ(wrap.runs.size(), 2u);
  EXPECT_EQ(wrap.runs[0].endPage, 3);
  EXPECT_EQ(wrap.runs[0].endTick, 2010u);
  EXPECT_EQ(wrap.runs[1].startPage, 3);
  EXPECT_EQ(wrap.runs[1].sdNumber, 7);
  EXPECT_EQ(wrap.runs[1].startTick, 3010u);
  // The partial session's first run is partial too; its tick comes from the LNB record.
  const TSessionData& oldest = sessions[5];
  ASSERT_EQ(oldest.runs.size(), 1u);
  EXPECT_TRUE(oldest.runs[0].partial);
  EXPECT_EQ(oldest.runs[0].startTick, 77000u);
  EXPECT_EQ(oldest.runs[0].sdNumber, 4);
  // The session without device time: its base is the header's tick.
  EXPECT_FALSE(sessions[4].hasTime);
  EXPECT_EQ(sessions[4].runs[0].startTick, 1234u);
}

TEST(FlashContents, TheCurrentSessionEndsWhereOlderDataBegins) {
  TFakeFlash flash(32 * kPg, kPg, 5 * kPg);
  flash.Page(5, kSessionStartClock, 1, 1000, 10);
  flash.Page(6, kContinueClock, 1, 1001, 20);
  flash.Page(7, kContinueClock, 1, 900, 30);  // an earlier lap of the ring
  flash.Page(8, kContinueClock, 1, 901, 40);
  auto scanner = TContentsScanner(flash, flash.g, true, {});
  scanner.ReadHeaders();
  auto sessions = scanner.FindSessions();
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions.back().startSector, 5);
  EXPECT_EQ(sessions.back().endSector, 7);
  // Sector 8 follows the end: the oldest data left, a partial session up to the current one.
  EXPECT_EQ(sessions[0].startSector, 8);
  EXPECT_EQ(sessions[0].endSector, 9);
  EXPECT_TRUE(sessions[0].partial);
}

TEST(FlashContents, FewerThan32SectorsReadNoHeadersOnTheFastListing) {
  TFakeFlash flash(16 * kPg, kPg, 3 * kPg);
  flash.Page(3, kSessionStartClock, 1, 1000, 10);
  auto sessions = Scan(flash, true);
  EXPECT_EQ(flash.Count(0x46, 6), 0u);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_TRUE(sessions[0].runs.empty());
  EXPECT_EQ(FlashSessionText(0, SessionForList(sessions[0])),
            "Current session: (no data recorded yet)");
  // The slow listing of older firmware reads every sector and finds it.
  flash.calls.clear();
  sessions = Scan(flash, false);
  EXPECT_EQ(flash.Count(0x3E, 6) - 1, 16u);  // and the LNB record of the run
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].runs.size(), 1u);
}

TEST(FlashContents, SlowListingReadsFlagsPageByPageAndTakesAFailedHeaderAsNoData) {
  TFakeFlash flash(32 * kPg, kPg, 4 * kPg);
  for (uint32_t k = 4; k < 12; ++k)
    if (k != 10) flash.Page(k, k == 4 ? kSessionStartClock : kContinueClock, 1, 1000 + k, k * 100);
  flash.failing.insert(9 * kPg);  // the header of sector 9 cannot be read
  auto sessions = Scan(flash, false);
  ASSERT_FALSE(sessions.empty());
  EXPECT_EQ(sessions[0].endSector, 9);
  ASSERT_EQ(sessions[0].runs.size(), 1u);
  EXPECT_EQ(sessions[0].runs[0].endPage, 5);
  EXPECT_EQ(flash.Count(0x46, 1) + flash.Count(0x46, 6), 0u);
  // Flags of pages 1 to 4 one byte at a time (page 0's come with its header).
  EXPECT_EQ(flash.Count(0x3E, 1), 4u);
}

TEST(FlashContents, RunsAreCutAtRunStartsAndAOnePageRunEndsWhereItStarts) {
  // Sectors of four pages.
  TFakeFlash flash(128 * kPg, 4 * kPg, 0);
  flash.Page(0, kSessionStartClock, 11, 50000, 100);  // run 1: one page
  flash.Page(1, kRunStartClock, 12, 50002, 2000);     // run 2: pages 1-3
  flash.Page(2, kContinuePlain, 0, 2500);
  flash.Page(3, kContinueClock, 12, 50003, 2900);
  flash.Page(4, kRunStartClock, 13, 50004, 7000);  // run 3: page 4, then no more data
  auto sessions = Scan(flash);
  ASSERT_EQ(sessions.size(), 1u);
  const auto& runs = sessions[0].runs;
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].startPage, 0);
  EXPECT_EQ(runs[0].endPage, 1);
  EXPECT_EQ(runs[0].startTick, 100u);
  EXPECT_EQ(runs[0].endTick, 100u);
  EXPECT_FALSE(runs[0].partial);
  EXPECT_EQ(runs[1].startPage, 1);
  EXPECT_EQ(runs[1].endPage, 4);
  EXPECT_EQ(runs[1].sdNumber, 12);
  EXPECT_EQ(runs[1].startTick, 2000u);
  EXPECT_EQ(runs[1].endTick, 2900u);
  EXPECT_EQ(runs[2].startPage, 4);
  EXPECT_EQ(runs[2].endPage, 5);
  EXPECT_EQ(runs[2].startTick, 7000u);
  EXPECT_EQ(runs[2].endTick, 7000u);
}

TEST(FlashContents, ADeviceTimeFromALaterRunAlreadyRefersToTickZero) {
  // The session starts without a clock; its second run carries device time D at tick 66560 ms
  // (65 units).
  const uint32_t d = 600000;
  TFakeFlash flash(32 * kPg, kPg, 0);
  flash.Page(0, kSessionStartPlain, 1, 3072);
  flash.Page(1, kContinuePlain, 1, 4000);
  flash.Page(2, kRunStartClock, 2, d, 66560);
  auto sessions = Scan(flash);
  ASSERT_EQ(sessions.size(), 1u);
  TSessionData s = sessions[0];
  EXPECT_TRUE(s.hasTime);
  EXPECT_TRUE(s.baseAtTickZero);
  EXPECT_EQ(s.base, d - 65);
  // The list keeps that base: both runs start at the logger's real times.
  const TSessionData listed = SessionForList(s);
  EXPECT_EQ(listed.base, d - 65);
  ASSERT_EQ(listed.runs.size(), 2u);
  EXPECT_EQ(RunDeviceTime(listed, listed.runs[1]), d);
  EXPECT_EQ(RunDeviceTime(listed, listed.runs[0]), d - 65 + 3);

  // A base from the first sector is the time of the first run's start and is moved to tick 0.
  TFakeFlash timed(32 * kPg, kPg, 0);
  timed.Page(0, kSessionStartClock, 1, d, 3072);
  timed.Page(1, kRunStartClock, 2, d + 62, 66560);
  auto timedSessions = Scan(timed);
  ASSERT_EQ(timedSessions.size(), 1u);
  EXPECT_FALSE(timedSessions[0].baseAtTickZero);
  const TSessionData listedTimed = SessionForList(timedSessions[0]);
  EXPECT_EQ(listedTimed.base, d - 3);
  EXPECT_EQ(RunDeviceTime(listedTimed, listedTimed.runs[0]), d);
  EXPECT_EQ(RunDeviceTime(listedTimed, listedTimed.runs[1]), d - 3 + 65);
}

TEST(FlashContents, PausesBetweenPagesAndStopsWhenTerminated) {
  TFakeFlash flash(64 * kPg, kPg, 0);
  flash.Page(0, kSessionStartClock, 1, 1000, 10);
  for (uint32_t k = 1; k < 40; ++k) flash.Page(k, kContinueClock, 1, 1000 + k, 10 + k);
  int pauses = 0;
  TContentsScanner::THooks hooks;
  hooks.pausePoint = [&] { ++pauses; };
  auto sessions = Scan(flash, true, hooks);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(pauses, 40);  // once before each page step

  pauses = 0;
  bool stop = false;
  hooks.pausePoint = [&] { stop = ++pauses == 10; };
  hooks.terminated = [&] { return stop; };
  sessions = Scan(flash, true, hooks);
  EXPECT_TRUE(sessions.empty());
  EXPECT_EQ(pauses, 10);
}

}  // namespace
}  // namespace qvl
