// The main window's texts, resizing rule, port entries and settings, without a window.
#include "tool/main_window_logic.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/device/config_block.h"
#include "core/device/controller.h"
#include "core/util/endian.h"
#include "core/util/ini_file.h"

namespace qvl {
namespace {

TEST(MainWindowTexts, BatteryBarMovesOnlyBeyondItsStep) {
  EXPECT_EQ(BatteryBarPosition(41.9, 40), 40);  // step 2 above 30 %
  EXPECT_EQ(BatteryBarPosition(42.5, 40), 42);  // 21.25 steps -> 21
  EXPECT_EQ(BatteryBarPosition(56, 60), 60);    // step 5 above 50 %
  EXPECT_EQ(BatteryBarPosition(66, 60), 65);
  EXPECT_EQ(BatteryBarPosition(12, 10), 12);  // step 1
  EXPECT_EQ(BatteryBarPosition(NAN, 80), 0);
  EXPECT_EQ(BatteryBarPosition(130, 60), 100);  // extrapolated capacities stay on the bar
  EXPECT_EQ(BatteryText(100), "100%, 12 hour remaining");
  EXPECT_EQ(BatteryText(10), "10%, 70 min. remaining");
  EXPECT_EQ(BatteryText(1), "1%, 7 min. remaining");
  EXPECT_EQ(BatteryRemainingText(21), "2.5 hour");
}

TEST(MainWindowTexts, TimesAndSdHints) {
  EXPECT_EQ(FlashRemainingText(59), "59min.");
  EXPECT_EQ(FlashRemainingText(125), "2h05min.");
  EXPECT_EQ(RunTimeText(3729), "1h02m09s");
  EXPECT_EQ(RunTimeText(425), "7m05s");
  EXPECT_EQ(SdHintText(0, 0), "No file available for recording");
  EXPECT_EQ(SdHintText(256, 2), "No file available for recording");
  EXPECT_EQ(SdHintText(7, 2), "Currently recording in file\rLOG007.QVL");
  EXPECT_EQ(SdHintText(7, 0), "Next file to record in:\rLOG007.QVL");
}

TEST(MainWindowTexts, FlashUseCountsTheRingAndItsFailures) {
  TFlashFacts f;
  f.flashSize = 2 * 1024 * 1024;
  f.dataRate = 1000;
  f.writeAddress = 0x1000;
  // The write position behind the start: used = write - start + flash size.
  const uint32_t start = 0x1F0000;
  const int64_t used = 0x1000 - int64_t(start) + f.flashSize;  // 69632
  EXPECT_EQ(SessionText(f, start),
            " 3% used, " + FlashRemainingText((f.flashSize - used) / 60000) + " remaining");
  EXPECT_EQ(SessionText(f, 0x1000), " 0% used, 34min. remaining");
  EXPECT_EQ(UnsavedText(f, -2, "copied"), "copied");
  EXPECT_EQ(UnsavedText(f, -1, "copied"), "100% full (overwriting)");
  EXPECT_EQ(UnsavedText(f, 0, "copied"), " 0% used, 34min. remaining");
  f.full = true;
  EXPECT_EQ(SessionText(f, 0), "100% full (overwriting)");
  f.full = false;
  f.dataRate = 0;
  EXPECT_EQ(SessionText(f, 0), "No logging configuration defined");
  f.flashSize = 0;
  EXPECT_EQ(SessionText(f, 0), "Flash size = 0");
}

TEST(MainWindowTexts, LivePanelReadsTheRealtimeBlock) {
  TController c;
  std::array<uint8_t, 40> block{};
  block[10] = 0x80 | 2;             // SD card, logging
  PutU16(&block[38], 7);            // SD file
  PutU32(&block[30], 1000);         // logger clock
  PutU32(&block[34], 1000 - 3516);  // run start: 3516 units = 3600.4 s
  c.SetRealtimeBlock(block);
  c.SetVersion(202);
  TLivePanel p = ReadLivePanel(c, {});
  EXPECT_EQ(p.runState, 2);
  EXPECT_TRUE(p.sdPresent);
  EXPECT_EQ(p.sdHint, "Currently recording in file\rLOG007.QVL");
  EXPECT_TRUE(p.runTimeVisible);
  EXPECT_EQ(p.runTime, "1h00m00s");
  EXPECT_EQ(p.session, "Flash size = 0");
  c.SetVersion(201);
  EXPECT_FALSE(ReadLivePanel(c, {}).runTimeVisible);
  // Unknown values never stop the refresh: empty texts and zero gauges.
  EXPECT_EQ(p.frontGauge, 0);
  EXPECT_EQ(UnitDecimals(17, 3), 5);
  EXPECT_EQ(UnitDecimals(15, 0), 0);
  EXPECT_EQ(UnitDecimals(14, 3), 1);
}

TEST(MainWindowTexts, ConnectionTexts) {
  EXPECT_EQ(ConnectionText(nullptr, false, ""), "No communication port defined");
}

TEST(MainWindowLayout, PanelScalesByTheSmallerRatio) {
  EXPECT_DOUBLE_EQ(PanelScale(600, 400, 1200, 400), 1.0);  // wider: height ratio
  EXPECT_DOUBLE_EQ(PanelScale(600, 400, 300, 400), 0.5);   // taller: width ratio
  EXPECT_EQ(ScaleDesignRect({10, 20, 31, 40}, 600, 400, 1200, 200), (TPanelRect{20, 10, 62, 20}));
  EXPECT_EQ(ScaleDesignRect({1, 1, 1, 1}, 4, 4, 6, 6), (TPanelRect{2, 2, 1, 1}));  // rounded ends
}

TEST(PortSelection, EntriesColumnsHeightsAndLinks) {
  auto entries = PortSelectionEntries({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/pts/4"});
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0], "Tevra");
  EXPECT_EQ(entries[1], "TevraW");
  EXPECT_EQ(PortSelectionColumns(2), 1);
  EXPECT_EQ(PortSelectionColumns(3), 2);
  EXPECT_EQ(PortSelectionGroupHeight(4, 57), 57);
  EXPECT_EQ(PortSelectionGroupHeight(5, 57), 70);
  EXPECT_EQ(PortSelectionGroupHeight(8, 57), 90);
  // The second entry is the wireless adapter whatever its text.
  EXPECT_EQ(LinkForEntry(1, "anything"), (TLinkChoice{"TevraW", "TevraW"}));
  EXPECT_EQ(LinkForEntry(0, "x"), (TLinkChoice{"HID", "USB"}));
  EXPECT_EQ(LinkForEntry(3, "/dev/ttyUSB0"), (TLinkChoice{"COM", "/dev/ttyUSB0"}));
  EXPECT_EQ(LinkForStoredEntry(""), (TLinkChoice{"HID", "USB"}));
  EXPECT_EQ(LinkForStoredEntry("TevraW"), (TLinkChoice{"TevraW", "TevraW"}));
  EXPECT_EQ(LinkForStoredEntry("/dev/pts/4"), (TLinkChoice{"COM", "/dev/pts/4"}));
  // A serial port that is not there is told by the link's error text at once.
  TCommChannelPtr link = CreateChosenLink({"COM", "/dev/qvl-no-such-port"});
  ASSERT_TRUE(link);
  EXPECT_EQ(link->GetLastErrorText(), "");
  TryOpenLink(*link);
  EXPECT_FALSE(link->IsOpen());
  EXPECT_NE(link->GetLastErrorText(), "");
  EXPECT_EQ(PortSelectionIndex(entries, link.get()), -1);
  EXPECT_EQ(ConnectionText(link.get(), false, ""), "No /dev/qvl-no-such-port detected");
}

TEST(MainWindowSettings, DefaultsRangesAndMinimisedState) {
  TIniFile ini;
  TMainWindowSettings s;
  s.Read(ini);
  EXPECT_EQ(s.width, 0);
  EXPECT_FALSE(s.hasOrigin);
  EXPECT_EQ(s.units.travelUnit, 16);
  EXPECT_EQ(s.units.speedUnit, 14);
  EXPECT_EQ(s.units.travelDecimals, 0);
  ini.SetText(
      "[Main]\nState=1\nLeft=5\nTop=6\n[DisplayUnits]\nSuspensionTravel=2\nSpeed=18\nTDecimals="
      "9\n");
  s.Read(ini);
  EXPECT_EQ(s.state, 0);
  EXPECT_TRUE(s.hasOrigin);
  EXPECT_EQ(s.units.travelUnit, 16);  // 2 is no travel unit of this window
  EXPECT_EQ(s.units.speedUnit, 18);
  EXPECT_EQ(s.units.travelDecimals, 0);
  s.state = 2;
  s.width = 800;
  s.units.travelUnit = 17;
  s.Write(ini);
  StoreTravelDecimals(ini, 3);
  StoreChosenPort(ini, "TevraW");
  TMainWindowSettings back;
  back.Read(ini);
  EXPECT_EQ(back.state, 2);
  EXPECT_EQ(back.width, 800);
  EXPECT_EQ(back.units.travelUnit, 17);
  EXPECT_EQ(back.units.travelDecimals, 3);
  EXPECT_EQ(back.commDevice, "TevraW");
  EXPECT_EQ(ini.ReadString("Comm", "SerialPort", ""), "TevraW");
}

}  // namespace
}  // namespace qvl
