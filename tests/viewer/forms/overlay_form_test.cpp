// The overlay manager with a display drawn in a strip chart: adding before a file is open, the
// second and third files in their colours, a channel an overlay does not log, the grey fourth
// slot, stepping an overlay of three runs, removing a middle slot, a file that fails to load, and
// a screenshot of two runs of the hour's ride over each other.
#include "viewer/forms/overlay_manager_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <deque>

#include "core/logdata/log_file.h"
#include "test_paths.h"
#include "viewer/chart_binding.h"
#include "viewer/logic/viewer_test_util.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/strip_chart.h"
#include "window_test_support.h"

namespace qvl {
namespace {

std::string Temp(const std::string& name) {
  return ::testing::TempDir() + "overlay_form_" + std::to_string(::getpid()) + "_" + name;
}

// A saved log file of `runs` runs of 12 s; travel reads `level` counts plus 100 per run, and
// the accelerations are logged only with `accel`.
std::string WriteFile(const std::string& name, int runs, int level, bool accel = true) {
  auto controller = testing::MakeController(2000, accel ? 5000 : 0);
  std::vector<int32_t> ticks;
  for (int r = 0; r < runs; ++r)
    for (int32_t t : testing::Ticks(r * 20000, 12000)) ticks.push_back(t);
  auto store = testing::MakeStore(ticks, [&](int32_t t, TLogRecord& rec) {
    rec.values[0] = int16_t(level + 100 * (t / 20000));
    rec.values[2] = 2048;
  });
  const std::string path = Temp(name);
  SaveLogFile(path, *controller, *store, TLogFileInfo{});
  return path;
}

QColor Colour(uint32_t bgr) {
  return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

struct TOverlayBench {
  TRunDisplay display;
  TKelStripChart chart;
  std::deque<std::string> files;
  TfrmOverlayManager manager;
  TOverlayBench()
      : manager(display, TOverlayHost{[this] {
                                        QString f = QString::fromStdString(files.front());
                                        files.pop_front();
                                        return f;
                                      },
                                      [this] { ShowRunDisplay(chart, display); }}) {
    chart.resize(900, 500);
  }
  void OpenMain(const std::string& path) {
    OpenLogFile(display.MainSlot(), path);
    display.SetStrips({testing::StripOf(kParamFrontTravel, FirstUnit(kParamFrontTravel)),
                       testing::StripOf(kParamVerticalAccel, FirstUnit(kParamVerticalAccel))});
    display.DisplaySelection(0);
    ShowRunDisplay(chart, display);
    manager.Refill();
  }
  void Add(const std::string& path) {
    files.push_back(path);
    manager.findChild<QPushButton*>("btnAdd")->click();
  }
  TStripPlot* Plot(int strip, int slot) { return chart.Channels(strip)->Plots(slot); }
  QPushButton* Button(const char* name) { return manager.findChild<QPushButton*>(name); }
};

TEST(OverlayForm, AddsFilesInTheirColoursStepsRunsAndRemoves) {
  test::WindowTestApp();
  TOverlayBench b;
  test::TMessageBoxAnswer box;
  box.Arm();
  b.Add(WriteFile("unused.QVL", 1, 500));
  EXPECT_EQ(box.text, "You must have a file loaded in the program before adding an overlay");
  EXPECT_EQ(b.display.SlotCount(), 1);
  EXPECT_EQ(b.files.size(), 1u) << "no file was asked for";
  b.files.clear();

  b.OpenMain(WriteFile("main.QVL", 1, 500));
  b.Add(WriteFile("second.QVL", 1, 800));
  b.Add(WriteFile("three runs.QVL", 3, 1100));
  b.Add(WriteFile("no accel.QVL", 1, 1400, false));
  ASSERT_EQ(b.manager.List()->count(), 4);
  EXPECT_EQ(b.manager.List()->item(2)->text().toStdString(),
            Temp("three runs.QVL").substr(::testing::TempDir().size()) + ": Run 1/3");
  for (int slot = 0; slot < 4; ++slot) {
    EXPECT_EQ(b.Plot(0, slot)->Pen().color(), Colour(CurveColour(slot, 0))) << slot;
    EXPECT_FALSE(b.Plot(0, slot)->Values().empty()) << slot;
  }
  EXPECT_EQ(b.Plot(0, 1)->Pen().color(), Colour(0x30A0A0));
  EXPECT_EQ(b.Plot(0, 2)->Pen().color(), Colour(0x408080));
  EXPECT_EQ(b.Plot(0, 3)->Pen().color(), Colour(0x808080)) << "the fourth slot is grey";
  EXPECT_GT(b.Plot(0, 1)->Values().front(), b.Plot(0, 0)->Values().front());
  EXPECT_FALSE(b.Plot(1, 2)->Values().empty());
  EXPECT_TRUE(b.Plot(1, 3)->Values().empty()) << "the overlay does not log accelerations";

  // Stepping the overlay of three runs.
  b.manager.List()->setCurrentRow(2);
  EXPECT_TRUE(b.Button("btnNextRun")->isVisibleTo(&b.manager));
  EXPECT_FALSE(b.Button("btnPreviousRun")->isVisibleTo(&b.manager));
  EXPECT_TRUE(b.Button("btnRemove")->isEnabled());
  const float run1 = b.Plot(0, 2)->Values().front();
  b.Button("btnNextRun")->click();
  b.Button("btnNextRun")->click();
  EXPECT_EQ(b.manager.List()->currentRow(), 2);
  EXPECT_TRUE(b.manager.List()->item(2)->text().endsWith(": Run 3/3"));
  EXPECT_FALSE(b.Button("btnNextRun")->isVisibleTo(&b.manager));
  EXPECT_TRUE(b.Button("btnPreviousRun")->isVisibleTo(&b.manager));
  EXPECT_NE(b.Plot(0, 2)->Values().front(), run1) << "run 3 is drawn";
  b.Button("btnPreviousRun")->click();
  EXPECT_TRUE(b.manager.List()->item(2)->text().endsWith(": Run 2/3"));

  // Removing the middle overlay: the one after it moves down and takes that slot's colours.
  b.manager.List()->setCurrentRow(0);
  EXPECT_FALSE(b.Button("btnRemove")->isEnabled()) << "the main file stays";
  b.manager.List()->setCurrentRow(1);
  b.Button("btnRemove")->click();
  ASSERT_EQ(b.manager.List()->count(), 3);
  EXPECT_TRUE(b.manager.List()->item(1)->text().contains("three runs"));
  EXPECT_EQ(b.Plot(0, 1)->Pen().color(), Colour(0x30A0A0));
  EXPECT_EQ(b.Plot(0, 2)->Pen().color(), Colour(0x408080));
  EXPECT_EQ(b.chart.Channels(0)->PlotCount(), 3);
  EXPECT_FALSE(b.Button("btnRemove")->isEnabled());
  EXPECT_FALSE(b.Button("btnNextRun")->isVisibleTo(&b.manager));

  // A file that fails to load stays listed and the error is shown.
  box = {};
  box.Arm();
  b.Add(Temp("missing.QVL"));
  EXPECT_FALSE(box.text.isEmpty());
  EXPECT_EQ(b.manager.List()->count(), 4);
}

TEST(OverlayForm, ScreenshotOfTwoRunsOfTheHoursRide) {
  test::WindowTestApp();
  const std::string hour = Temp("hour.QVLog"), other = Temp("other.QVLog");
  ASSERT_EQ(
      std::system(
          (test::BinDir() + "/qvl sim record -o " + hour + " --seconds 3600 >/dev/null").c_str()),
      0);
  ASSERT_EQ(
      std::system(
          (test::BinDir() + "/qvl sim record -o " + other + " --seconds 60 >/dev/null").c_str()),
      0);
  TOverlayBench b;
  b.OpenMain(hour);
  b.Add(other);
  // The first minute of both.
  b.chart.SetXScale(60.0 / b.chart.PlotRect().width());
  b.chart.SetXStartPixel(0);
  b.manager.show();
  b.chart.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&b.chart));
  QDir dir(QString::fromStdString(test::BinDir()) + "/../screenshots");
  dir.mkpath(".");
  EXPECT_TRUE(b.chart.grab().save(dir.filePath("viewer_overlay_two_runs.png")));
  EXPECT_TRUE(b.manager.grab().save(dir.filePath("viewer_overlay_manager.png")));
}

}  // namespace
}  // namespace qvl
