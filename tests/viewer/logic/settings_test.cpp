// The settings file, the analysis settings and their dialog, layouts and run notes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/device/ecu_types.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "viewer/layout_manager.h"
#include "viewer/run_notes.h"
#include "viewer/viewer_settings.h"

namespace qvl {
namespace {

TEST(IniFile, KeepsValuesAndOrderAndIgnoresCase) {
  TIniFile ini;
  ini.SetText(
      "; comment\r\n[Main]\r\nWidth=800\r\n  Name =  two words\nbad "
      "line\r\n[notes]\rFront=soft\r\n");
  EXPECT_EQ(ini.ReadInteger("main", "WIDTH", 0), 800);
  EXPECT_EQ(ini.ReadString("Main", "Name", ""), "  two words");
  EXPECT_EQ(ini.ReadString("Notes", "front", ""), "soft");
  EXPECT_EQ(ini.ReadString("Notes", "Rear", "none"), "none");
  ini.WriteString("MAIN", "width", "640");  // replaces, keeps the original spelling
  ini.WriteInteger("Other", "Count", -3);
  EXPECT_EQ(ini.Text(),
            "[Main]\r\nWidth=640\r\nName=  two words\r\n\r\n[notes]\r\nFront=soft\r\n\r\n"
            "[Other]\r\nCount=-3\r\n\r\n");
  ini.EraseSection("main");
  EXPECT_FALSE(ini.SectionExists("Main"));
  EXPECT_EQ(ini.ReadSection("Other"), std::vector<std::string>{"Count"});
}

TEST(IniFile, NumbersReadBackUnchanged) {
  TIniFile ini;
  ini.WriteSingle("S", "a", 0.8f);
  ini.WriteSingle("S", "b", 12.6f);
  ini.WriteFloat("S", "c", 0.1 + 0.2);
  ini.WriteBool("S", "d", true);
  ini.WriteString("S", "e", "$1F");
  ini.WriteString("S", "f", "12x");
  TIniFile copy;
  copy.SetText(ini.Text());
  EXPECT_EQ(copy.ReadString("S", "a", ""), "0.8");
  EXPECT_EQ(float(copy.ReadFloat("S", "a", 0)), 0.8f);
  EXPECT_EQ(float(copy.ReadFloat("S", "b", 0)), 12.6f);
  EXPECT_EQ(copy.ReadFloat("S", "c", 0), 0.1 + 0.2);
  EXPECT_TRUE(copy.ReadBool("S", "d", false));
  EXPECT_EQ(copy.ReadInteger("S", "e", 0), 31);
  EXPECT_EQ(copy.ReadInteger("S", "f", 7), 7);  // not a number: the default
  EXPECT_EQ(copy.ReadFloat("S", "f", 2.5), 2.5);
}

TEST(IniFile, SavesThroughATemporaryFile) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "qvl_ini_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string file = (dir / "QVL2View.ini").string();
  TIniFile missing(file);  // a file that does not exist reads as empty
  EXPECT_TRUE(missing.Sections().empty());
  missing.WriteString("Main", "ChartLayout", "Mine");
  missing.SaveToFile(file);
  EXPECT_EQ(TIniFile(file).ReadString("Main", "ChartLayout", ""), "Mine");
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  // A folder that cannot be written: the error names the file, nothing is left behind.
  EXPECT_THROW(missing.SaveToFile((dir / "no" / "such.ini").string()), Exception);
  fs::remove_all(dir);
}

TEST(AnalysisSettings, DefaultsAndRoundTrip) {
  TIniFile ini;
  TAnalysisSettings d = ReadAnalysisSettings(ini);
  EXPECT_TRUE(SameSettings(d, TAnalysisSettings{}));
  EXPECT_EQ(d.frontSoftLimit, 0.8f);
  EXPECT_EQ(d.frontHardLimit, 0.9f);
  EXPECT_EQ(d.speedRatio, 0.6f);
  EXPECT_EQ(d.minSpeed, 10.0f);
  EXPECT_EQ(d.maxDecel, 50.0f);
  EXPECT_EQ(d.invertedSuspension, 0);
  TAnalysisSettings s;
  s.rearHardLimit = 0.95f;
  s.minSpeed = 12.6f;
  s.invertedSuspension = 1;
  WriteAnalysisSettings(ini, s);
  EXPECT_EQ(ini.ReadString("Config", "MinSpeed", ""), "12.6");
  EXPECT_TRUE(SameSettings(ReadAnalysisSettings(ini), s));
  EXPECT_EQ(sizeof(TAnalysisSettings), 29u);
}

TEST(ConfigureDialog, ShowsRoundedValuesAndCopiesOnlyRealChanges) {
  TAnalysisSettings s;
  s.minSpeed = 12.6f;
  TConfigureDialogModel untouched(s);
  EXPECT_EQ(untouched.Fields().frontSoft, 80);
  EXPECT_EQ(untouched.Fields().ratio, 60);
  EXPECT_EQ(untouched.Fields().minSpeed, 13);
  TAnalysisSettings copy = s;
  EXPECT_FALSE(untouched.Finish(true, copy));  // OK without changes
  EXPECT_EQ(copy.minSpeed, 12.6f);

  // Edited back to the shown values: modified, and the minimum speed now reads back as 13.
  TConfigureDialogModel edited(s);
  edited.Edit(edited.Fields());
  EXPECT_FALSE(edited.Finish(false, copy));  // Cancel changes nothing
  EXPECT_TRUE(edited.Finish(true, copy));
  EXPECT_EQ(copy.minSpeed, 13.0f);
  EXPECT_EQ(copy.frontSoftLimit, 0.8f);  // 80 is stored back as 0.8
  EXPECT_EQ(copy.speedRatio, 0.6f);

  // A change back to exactly the record's values is no change.
  TConfigureDialogModel same(copy);
  same.Edit(same.Fields());
  TAnalysisSettings again = copy;
  EXPECT_FALSE(same.Finish(true, again));
}

TEST(ConfigureDialog, HardLimitBelowSoftBlocksClosing) {
  TConfigureDialogModel m{TAnalysisSettings{}};
  auto f = m.Fields();
  f.frontHard = f.frontSoft;  // equal passes
  f.rearHard = f.rearSoft;
  m.Edit(f);
  TConfigureDialogModel::TFocus focus;
  EXPECT_EQ(m.ValidateClose(&focus), "");
  f.rearHard = f.rearSoft - 1;
  m.Edit(f);
  EXPECT_EQ(m.ValidateClose(&focus), "You must set the rear hard limit higher than soft limit");
  EXPECT_EQ(focus, TConfigureDialogModel::TFocus::RearHard);
  f.frontHard = 10;  // the front is checked first
  m.Edit(f);
  EXPECT_EQ(m.ValidateClose(&focus), "You must set the front hard limit higher than soft limit");
  EXPECT_EQ(focus, TConfigureDialogModel::TFocus::FrontHard);
}

TEST(AnalysisSettings, SavingCreatesAMissingFolder) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "qvl_settings_save_test";
  fs::remove_all(dir);
  TIniFile ini;
  WriteAnalysisSettings(ini, TAnalysisSettings{});
  std::string file = (dir / "sub" / "QVL2View.ini").string();
  EXPECT_TRUE(SaveViewerSettings(ini, file));
  EXPECT_EQ(TIniFile(file).ReadString("Config", "MaxDecel", ""), "50");
  // A path whose folder exists but cannot hold the file: the failure is only reported.
  EXPECT_FALSE(SaveViewerSettings(ini, (dir / "sub").string()));
  fs::remove_all(dir);
}

TEST(RecentFiles, MovesToTopAndKeepsEight) {
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) AddRecentFile(files, "f" + std::to_string(i));
  AddRecentFile(files, "f3");
  EXPECT_EQ(files.front(), "f3");
  EXPECT_EQ(files.size(), 8u);
  AddRecentFile(files, "new");
  EXPECT_EQ(files.size(), 8u);
  EXPECT_EQ(files.back(), "f1");  // the oldest, f0, dropped
  TIniFile ini;
  WriteRecentFiles(ini, files);
  EXPECT_EQ(ReadRecentFiles(ini), files);
}

TEST(Layouts, StoredValuesAreClampedAndLookedUp) {
  TIniFile ini;
  ini.SetText(
      "[Layouts]\r\nNLayouts=2\r\nLayoutName1=  Mine  \r\nNChannels1=2\r\n"
      "ChannelHeight1_0=2.5\r\nSmoothing1_0=20\r\nNCurves1_0=7\r\n"
      "Param1_0_0=Front travel\r\nUnits1_0_0=km/h\r\nColor1_0_0=255\r\n"
      "Param1_0_1=Rear travel\r\nUnits1_0_1=mm\r\n"
      "Param1_0_2=Nonsense\r\nUnits1_0_2=%\r\n"
      "NCurves1_1=0\r\nParam1_1_0=Custom\r\nUnits1_1_0=66\r\n"
      "LayoutName2=\r\nNChannels2=-5\r\nParam2_0_0=Front speed\r\nUnits2_0_0=km/h\r\n");
  TLayoutManager m;
  m.Load(ini);
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Name(0), "Default layout");
  EXPECT_EQ(m.Name(1), "Mine");
  const TChartLayout& l = m.Layout(1);
  ASSERT_EQ(l.size(), 2u);
  ASSERT_EQ(l[0].entries.size(), 4u);  // NCurves 7 loads as 4
  EXPECT_EQ(l[0].height, 2.5f);
  EXPECT_EQ(l[0].entries[0].channel, kParamFrontTravel);
  EXPECT_EQ(l[0].entries[0].unit, kUnitPercent);  // km/h is no travel unit
  EXPECT_EQ(l[0].entries[0].smoothing, 20);
  EXPECT_EQ(l[0].entries[0].colour, 255u);
  EXPECT_EQ(l[0].entries[1].unit, kUnitMm);
  EXPECT_EQ(l[0].entries[1].colour, 0xFFFFFFu);
  EXPECT_EQ(l[0].entries[2].channel, kParamNone);  // unknown name
  EXPECT_EQ(l[0].entries[3].channel, kParamNone);  // missing keys
  ASSERT_EQ(l[1].entries.size(), 1u);              // NCurves 0 loads as 1
  EXPECT_EQ(l[1].entries[0].channel, kParamCustom);
  EXPECT_EQ(l[1].entries[0].unit, 66);
  // The unnamed layout is the working one; a negative strip count reads as one strip.
  ASSERT_TRUE(m.HasWorkingLayout());
  ASSERT_EQ(m.WorkingLayout().size(), 1u);
  EXPECT_EQ(m.WorkingLayout()[0].entries[0].channel, kParamFrontSpeed);
  EXPECT_EQ(m.WorkingLayout()[0].entries[0].unit, kUnitKmh);
}

TEST(Layouts, DefaultLayoutIsBuiltIn) {
  TLayoutManager m;
  TStripList strips = StripsFromLayout(m.Layout(0));
  ASSERT_EQ(strips.size(), 4u);
  const int expected[4][2] = {{kParamFrontTravel, kUnitPercent},
                              {kParamRearTravel, kUnitPercent},
                              {kParamVerticalAccel, kUnitG},
                              {kParamFrontSpeed, kUnitKmh}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(strips[size_t(i)].main.channel, expected[i][0]);
    EXPECT_EQ(strips[size_t(i)].main.unit, expected[i][1]);
    EXPECT_EQ(strips[size_t(i)].main.smoothing, 0);
    EXPECT_TRUE(strips[size_t(i)].superposed.empty());
  }
  TIniFile ini;
  m.WriteAll(ini);
  EXPECT_EQ(ini.ReadInteger("Layouts", "NLayouts", -1), 0);
  EXPECT_EQ(m.SaveWorkingAs("Default layout"), -1);
}

TEST(Layouts, SavingTrimsNamesOverwritesAndWritesAll) {
  TLayoutManager m;
  TStripList strips = StripsFromLayout(DefaultLayout());
  strips[0].main.smoothing = 50;
  strips[0].superposed.push_back(TDisplayEntry{kParamRearTravel, kUnitPercent, 0, 0x123456, 0});
  strips[1].height = 0.5f;
  m.SetWorkingLayout(LayoutFromStrips(strips));
  EXPECT_EQ(m.SaveWorkingAs("   "), -1);  // an empty name changes nothing
  EXPECT_TRUE(m.HasWorkingLayout());
  EXPECT_EQ(m.SaveWorkingAs("  Downhill "), 1);
  EXPECT_FALSE(m.HasWorkingLayout());
  EXPECT_EQ(m.Name(1), "Downhill");
  strips.pop_back();
  m.SetWorkingLayout(LayoutFromStrips(strips));
  EXPECT_EQ(m.SaveWorkingAs("Downhill"), 1);  // the same name again: overwritten, not added
  EXPECT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Layout(1).size(), 3u);

  // An edited arrangement that was never named is written last, without a name, and comes back
  // as the working layout.
  TStripList edited = strips;
  edited[2].main = TDisplayEntry{kParamFrontSuspVelocity, kUnitMmps, 0, 0xFFFFFF, 5};
  m.SetWorkingLayout(LayoutFromStrips(edited));
  TIniFile ini;
  ini.WriteString("Layouts", "Stale", "x");
  m.WriteAll(ini);
  EXPECT_FALSE(ini.ValueExists("Layouts", "Stale"));
  EXPECT_EQ(ini.ReadInteger("Layouts", "NLayouts", 0), 2);
  EXPECT_EQ(ini.ReadString("Layouts", "LayoutName1", ""), "Downhill");
  EXPECT_TRUE(ini.ValueExists("Layouts", "LayoutName2"));
  EXPECT_EQ(ini.ReadString("Layouts", "Units1_0_1", ""), "%");
  EXPECT_EQ(ini.ReadInteger("Layouts", "Color1_0_1", 0), 0x123456);
  EXPECT_EQ(ini.ReadInteger("Layouts", "Smoothing1_0", 0), 50);

  TIniFile reread;
  reread.SetText(ini.Text());
  TLayoutManager back;
  back.Load(reread);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Layout(1), m.Layout(1));
  EXPECT_EQ(back.WorkingLayout(), m.WorkingLayout());
  EXPECT_EQ(StripsFromLayout(back.WorkingLayout())[2].main.smoothing, 5);
}

TEST(RunNotes, OnlyOtherLines) {
  TRunNotes n = ParseRunNotes("[Other]\r\nLine0=first\r\nLine1=\r\nLine2=third = x\r\n");
  EXPECT_EQ(n.front, "");
  EXPECT_EQ(n.rear, "");
  EXPECT_EQ(n.track, "");
  EXPECT_EQ(n.other, (std::vector<std::string>{"first", "", "third = x"}));
  EXPECT_EQ(BuildRunNotes(n), "[Other]\r\nLine0=first\r\nLine1=\r\nLine2=third = x\r\n\r\n");
}

TEST(RunNotes, EmptyFieldsAreLeftOut) {
  TRunNotes n;
  EXPECT_EQ(BuildRunNotes(n), "");
  n.front = "  80 psi, 2 clicks  ";
  n.rear = "   ";
  n.track = "dry";
  std::string text = BuildRunNotes(n);
  EXPECT_EQ(text, "[Notes]\r\nFront=80 psi, 2 clicks\r\nTrack=dry\r\n\r\n");
  // Clearing the front setting removes its key.
  TRunNotes back = ParseRunNotes(text);
  back.front.clear();
  EXPECT_EQ(BuildRunNotes(back), "[Notes]\r\nTrack=dry\r\n\r\n");
  EXPECT_EQ(ParseRunNotes("not ini at all"), TRunNotes{});
  EXPECT_EQ(SplitLines("a\r\n\r\nb\nc\r"), (std::vector<std::string>{"a", "", "b", "c"}));
}

}  // namespace
}  // namespace qvl
