// The flash download window's texts and its list of saved downloads.
#include "tool/flash_texts.h"

#include <gtest/gtest.h>

#include "core/device/device_time.h"
#include "core/util/date_time.h"
#include "core/util/ini_file.h"
#include "tool/saved_downloads.h"

namespace qvl {
namespace {

TEST(FlashTexts, DurationSwitchesToMinutesAndRoundsSecondsInStepsOfFour) {
  EXPECT_EQ(FlashDurationText(59.6), "1min.");  // 60 s: the minutes form
  EXPECT_EQ(FlashDurationText(150), "2m32s");   // 30 s -> 7.5 steps -> 8 steps of 4
  EXPECT_EQ(FlashDurationText(239), "3m60s");   // 59 s -> 15 steps of 4
  EXPECT_EQ(FlashDurationText(300), "5min.");   // above 240 s: whole minutes
  EXPECT_EQ(FlashDurationText(241), "4min.");
  EXPECT_EQ(FlashDurationText(30.4), "30sec.");
  EXPECT_EQ(FlashDurationText(0.4), "0sec.");
  EXPECT_EQ(FlashDurationText(61), "1m01s");   // below two minutes every second counts
  EXPECT_EQ(FlashDurationText(121), "2min.");  // 1 s -> 0 steps
  EXPECT_EQ(FlashDurationText(2.5), "2sec.");  // halves round to even
}

TEST(FlashTexts, OffsetsInSecondsMinutesAndHours) {
  EXPECT_EQ(FlashOffsetText(61 * 60000), "1h01m");
  EXPECT_EQ(FlashOffsetText(59000), "59sec.");
  EXPECT_EQ(FlashOffsetText(59499), "59sec.");
  EXPECT_EQ(FlashOffsetText(60000), "1m00s");
  EXPECT_EQ(FlashOffsetText(599000), "9m59s");
  EXPECT_EQ(FlashOffsetText(600000), "10min.");
  EXPECT_EQ(FlashOffsetText(3599000), "60min.");
  EXPECT_EQ(FlashOffsetText(3600000), "1h00m");
  EXPECT_EQ(FlashOffsetText(2 * 3600000 + 5 * 60000 + 20000), "2h05m");
}

TEST(FlashTexts, SizesInBytesKilobytesAndMegabytes) {
  EXPECT_EQ(FlashSizeText(4095), "4095Bytes");
  EXPECT_EQ(FlashSizeText(4096), "4KB");
  EXPECT_EQ(FlashSizeText(8192), "8KB");
  EXPECT_EQ(FlashSizeText(0xFFFFF), "1023KB");
  EXPECT_EQ(FlashSizeText(0x100000), "1.0MB");
  EXPECT_EQ(FlashSizeText(3 << 19), "1.5MB");
  EXPECT_EQ(FlashSizeText(10 << 20), "10MB");
  // Below 10 MiB one decimal is shown, even when it rounds up to 10.
  EXPECT_EQ(FlashSizeText((10 << 20) - 1024), "10.0MB");
}

TEST(FlashTexts, LengthAddsTheLoggersBufferAndMarksShortRunsAsEstimates) {
  // 2048 / 1740 + 18.8 = 19.98 s; 12288 / 1740 = 7.06 s.
  EXPECT_EQ(FlashLengthText(18800, 1740), "20sec.");
  EXPECT_EQ(FlashLengthText(1000, 1740), "~2sec.");
  EXPECT_EQ(FlashLengthText(5000, 1740), "~6sec.");
  EXPECT_EQ(FlashLengthText(6000, 1740), "7sec.");
  // Without a data rate only the length counts (no division by zero).
  EXPECT_EQ(FlashLengthText(18800, 0), "19sec.");
  EXPECT_EQ(FlashLengthText(600000, -5), "10min.");
}

TSessionData Session(bool hasTime, uint32_t base, bool partial = false) {
  TSessionData s;
  s.hasTime = hasTime;
  s.base = base;
  s.partial = partial;
  s.baseAtTickZero = true;
  return s;
}

TRunEntry MakeRun(uint32_t startTick, uint32_t endTick, uint16_t sd, bool partial = false) {
  TRunEntry r;
  r.startTick = startTick;
  r.endTick = endTick;
  r.sdNumber = sd;
  r.partial = partial;
  return r;
}

TEST(FlashTexts, SessionNodes) {
  TSessionData current = Session(true, 0);
  EXPECT_EQ(FlashSessionText(0, current), "Current session: (no data recorded yet)");
  current.runs.push_back(MakeRun(0, 1000, 0));
  EXPECT_EQ(FlashSessionText(0, current), "Current session:");

  // 28125 units of 1.024 s are 8 hours.
  const uint32_t base = DateTimeToDeviceTime(EncodeDate(2024, 5, 1)) + 28125;
  TSessionData older = Session(true, base);
  older.runs.push_back(MakeRun(0, 1000, 0));
  EXPECT_EQ(FlashSessionText(2, older), "Session -2: 2024-05-01 08:00:00");
  EXPECT_EQ(FlashSessionText(1, Session(false, 77, true)),
            "Session -1: (unknown start time) (partial)");
}

TEST(FlashTexts, RunNodesWithAndWithoutDeviceTime) {
  const uint32_t base = DateTimeToDeviceTime(EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0));
  TSessionData s = Session(true, base);
  // 65536 ms are 64 device time units: 65.536 s after the base.
  const TRunEntry run = MakeRun(65536, 65536 + 600000, 7);
  EXPECT_EQ(FlashRunText(1, s, run, 1740),
            "Run 1: 10:01:05, Length=10min., SDCard file name = LOG007.QVL");
  EXPECT_EQ(RunDeviceTime(s, run), base + 64);

  TSessionData noTime = Session(false, 0);
  EXPECT_EQ(FlashRunText(2, noTime, MakeRun(65536, 66536, 0, true), 1740),
            "Run 2: + 1m06s, Length=~2sec., SDCard file name = none (partial)");
  EXPECT_EQ(SdCardFileName(12), "LOG012.QVL");
  EXPECT_EQ(SdCardFileName(1234), "LOG1234.QVL");
  EXPECT_EQ(SdCardFileName(0), "none");
}

TEST(FlashTexts, SelectionSizeAndWhereItWasSaved) {
  // 10 pages: 40 KB, 7.8 s at the normal speed, 2.1 s with fast transfer.
  EXPECT_EQ(FlashSelectionSizeText(10, false), "Size: 40KB    Download time: 8sec.\r\r");
  EXPECT_EQ(FlashSelectionSizeText(10, true), "Size: 40KB    Download time: 2sec.\r\r");
  EXPECT_EQ(FlashSelectionSizeText(1000, false), "Size: 3.9MB    Download time: 13min.\r\r");
  EXPECT_EQ(SavedDownloadText(nullptr), "Not saved previously on this computer");
  const std::string file = "/home/rider/logs/run 3.QVLog";
  EXPECT_EQ(SavedDownloadText(&file), "Saved in \"run 3.QVLog\"\rFolder '/home/rider/logs'");
}

TEST(SavedDownloads, NewestFirstOneLinePerKeyAtMostForty) {
  TIniFile ini;
  ini.SetText("[Main]\r\nWidth=3\r\n[ifmDOWNLOADS]\r\n100=/a.QVLog\r\n200=/b.QVLog\r\n");
  TSavedDownloads saved;
  saved.Load(ini);
  ASSERT_EQ(saved.Entries().size(), 2u);
  EXPECT_EQ(saved.Entries()[0].first, "100");
  EXPECT_FALSE(saved.Modified());
  ASSERT_NE(saved.Find(200), nullptr);
  EXPECT_EQ(*saved.Find(200), "/b.QVLog");
  EXPECT_EQ(saved.Find(300), nullptr);

  // Downloading a run again puts it at the top, and only its newest file is kept.
  saved.Add(200, "/c.QVLog");
  ASSERT_EQ(saved.Entries().size(), 2u);
  EXPECT_EQ(saved.Entries()[0], (TSavedDownloads::TEntry{"200", "/c.QVLog"}));
  EXPECT_EQ(saved.Entries()[1].first, "100");
  EXPECT_TRUE(saved.Modified());

  for (uint32_t k = 1; k <= 40; ++k) saved.Add(1000 + k, "/f" + std::to_string(k));
  ASSERT_EQ(saved.Entries().size(), 40u);
  EXPECT_EQ(saved.Entries().front().first, "1040");
  EXPECT_EQ(saved.Entries().back().first, "1001");
  EXPECT_EQ(saved.Find(100), nullptr);

  // Written back: the section holds exactly the list, in order; other sections stay.
  saved.Save(ini);
  TIniFile reread;
  reread.SetText(ini.Text());
  EXPECT_EQ(reread.ReadString("Main", "Width", ""), "3");
  const auto values = reread.ReadSectionValues("IFMDownloads");
  ASSERT_EQ(values.size(), 40u);
  EXPECT_EQ(values.front(), (TSavedDownloads::TEntry{"1040", "/f40"}));
  TSavedDownloads again;
  again.Load(reread);
  EXPECT_EQ(again.Entries(), saved.Entries());
}

}  // namespace
}  // namespace qvl
