// The simulated logger's season: the logger keeps writing its current run while it logs, one
// erased sector ahead of its writing, until the download's 0x40 ends the run.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/util/endian.h"
#include "sim/sim_logger.h"

namespace qvl::sim {
namespace {

TSimOptions Season() {
  TSimOptions o;
  o.season.enabled = true;
  o.season.runSecondsMin = 10;
  o.season.runSecondsMax = 30;
  o.season.runsMax = 2;
  o.season.pauseSecondsMin = 5;
  o.season.pauseSecondsMax = 30;
  return o;
}

bool Erased(const std::vector<uint8_t>& flash, uint32_t sector) {
  return std::all_of(flash.begin() + sector * 4096, flash.begin() + (sector + 1) * 4096,
                     [](uint8_t b) { return b == 0xFF; });
}

TEST(SimSeason, LogsPagesUntilTheDownloadEndsTheRun) {
  TSimLogger logger(Season(), 0);
  ASSERT_TRUE(logger.Logging());
  auto status = [&](uint64_t ms) { return logger.RealtimeBlock(ms)[10]; };
  EXPECT_EQ(status(0) & 0x0F, 2);     // logging
  EXPECT_EQ(status(0) & 0x10, 0x10);  // the ring is full and being overwritten
  const uint32_t start = logger.FlashWriteAddress();
  EXPECT_EQ(start % 4096, 0u);
  EXPECT_TRUE(Erased(logger.Flash(), start / 4096));
  // The current session starts at the last marker of the scratch memory.
  int last = 0;
  while (last + 4 < 256 && logger.Scratch()[size_t(last + 4)] != 0xFFFF) last += 4;
  EXPECT_EQ((logger.Scratch()[size_t(last)] | logger.Scratch()[size_t(last + 1)] << 16) * 4096u,
            logger.SessionStartAddress());

  const auto atStart = logger.Season()->Surviving();
  ASSERT_FALSE(atStart.empty());
  EXPECT_TRUE(atStart.back().current);

  // Ten seconds on, some 3 KB per second have gone into new pages; the sector where the next
  // page goes is erased, the one after it still holds the oldest data.
  logger.RealtimeBlock(10000);
  const uint32_t later = logger.FlashWriteAddress();
  const uint32_t written = (later + logger.FlashSize() - start) % logger.FlashSize();
  EXPECT_GE(written, 5u * 4096);
  EXPECT_LE(written, 12u * 4096);
  EXPECT_TRUE(Erased(logger.Flash(), later / 4096));
  EXPECT_FALSE(Erased(logger.Flash(), (later / 4096 + 1) % 512));

  // The download's first command ends the run: its last page goes in, and nothing after it.
  std::vector<TReply> out;
  logger.Receive(0x40, 10500, out);
  EXPECT_FALSE(logger.Logging());
  EXPECT_EQ(status(10500) & 0x0F, 0);
  const uint32_t stopped = logger.FlashWriteAddress();
  logger.RealtimeBlock(30000);
  EXPECT_EQ(logger.FlashWriteAddress(), stopped);
  const auto after = logger.Season()->Surviving();
  ASSERT_FALSE(after.empty());
  const TSeasonRun& run = after.back().runs.back();
  EXPECT_GE(run.endTick, atStart.back().runs.back().endTick + 10000);
  EXPECT_EQ(after.back().endSector - after.back().startSector,
            int32_t((stopped + logger.FlashSize() - logger.SessionStartAddress()) %
                    logger.FlashSize() / 4096));
  // The run's last page holds its LNB record at the tick the record says.
  const uint32_t lastPage = (logger.SessionStartAddress() / 4096 + uint32_t(run.endPage) - 1) % 512;
  const uint8_t* page = logger.Flash().data() + lastPage * 4096;
  EXPECT_EQ(GetU32(page + ((page[0] & 1) ? 8 : 2)), run.endTick);
}

TEST(SimSeason, TheSameSeedWritesTheSameSeason) {
  TSimOptions o = Season();
  o.season.logging = false;
  TSimLogger a(o, 0), b(o, 0);
  const auto sa = a.Season()->Surviving(), sb = b.Season()->Surviving();
  ASSERT_EQ(sa.size(), sb.size());
  for (size_t k = 0; k < sa.size(); ++k) {
    EXPECT_EQ(sa[k].startSector, sb[k].startSector);
    EXPECT_EQ(sa[k].endSector, sb[k].endSector);
    EXPECT_EQ(sa[k].runs.size(), sb[k].runs.size());
  }
  EXPECT_FALSE(a.Logging());
  EXPECT_EQ(a.RealtimeBlock(0)[10] & 0x0F, 0);
  o.seed = 2;
  TSimLogger c(o, 0);
  EXPECT_NE(c.Season()->Surviving().front().startSector, sa.front().startSector);
}

}  // namespace
}  // namespace qvl::sim
