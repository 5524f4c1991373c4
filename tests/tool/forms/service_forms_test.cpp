// The compass test and hardware information windows on the offscreen platform, opened from the
// main window against the simulated logger.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>

#include "sim/sim_channel.h"
#include "tool/compass_test.h"
#include "tool/forms/compass_test_form.h"
#include "tool/forms/ecu_info_form.h"
#include "tool/forms/main_form.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

using test::ExpectAccessibleNames;
using test::ScreenshotFolder;

struct TServiceFixture {
  std::shared_ptr<sim::TSimChannel> link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  QStringList errors;
  TToolOptions options;

  explicit TServiceFixture(const std::string& name) {
    test::WindowTestApp();
    auto dir = std::filesystem::temp_directory_path() /
               ("qvl-service-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::create_directories(dir);
    options.settingsFile = (dir / "QVL2Pro.ini").string();
    options.link = link;
    options.listSerialPorts = [] { return std::vector<std::string>{}; };
    options.showMessage = [this](const QString& text, bool) { errors << text; };
  }
};

QList<TfrmCompassTest*> CompassWindows() {
  QList<TfrmCompassTest*> list;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<TfrmCompassTest*>(w)) list << t;
  return list;
}

// Accelerometer readings of 1000 counts per g around 500, a compass of 1000 counts per unit.
void Calibrate(TController& c) {
  TConfigBlock b = c.ConfigBlock();
  const double expected[6][3] = {{0, 0, 1},  {0, 0, -1}, {1, 0, 0},
                                 {-1, 0, 0}, {0, 1, 0},  {0, -1, 0}};
  for (size_t p = 0; p < 6; ++p)
    for (size_t i = 0; i < 3; ++i)
      b.SetF32(cfg::kAccelCalibration + 4 * (3 * p + i), float(500 + 1000 * expected[p][i]));
  const float standup[3] = {500, 100, -800};
  for (size_t i = 0; i < 3; ++i) {
    b.SetF32(cfg::kMagScale + 4 * i, 1000);
    b.SetF32(cfg::kMagOffset + 4 * i, 0);
    b.SetF32(cfg::kMagCalibration + 4 * i, standup[i]);
    b.SetF32(cfg::kMagAlignment + 4 * (3 * i + i), 1);
  }
  c.SetConfigBlock(b);
}

double Number(QLabel* label) {
  return label->text().remove("deg.").toDouble();
}

TEST(CompassTestWindow, ScratchMemoryFatTestAndAttitudeOnTheSimulatedLogger) {
  TServiceFixture f("compass");
  TfrmEcu1 w(f.options);
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
  QWidget* side = w.findChild<QWidget*>("pnlSide");
  ASSERT_TRUE(side);
  QTest::mouseClick(side, Qt::RightButton, {}, QPoint(60, 300));
  EXPECT_TRUE(CompassWindows().isEmpty());  // Alt is needed
  QTest::mouseClick(side, Qt::RightButton, Qt::AltModifier, QPoint(60, 300));
  QTest::mouseClick(side, Qt::RightButton, Qt::AltModifier, QPoint(60, 300));
  ASSERT_EQ(CompassWindows().size(), 2);  // a new window each time
  CompassWindows()[1]->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return CompassWindows().size() == 1; }, kWaitMs));
  TfrmCompassTest* t = CompassWindows()[0];
  ExpectAccessibleNames(t);

  // Scratch memory: erased, two writes of four words, read back into the grid.
  auto* grid = t->findChild<QTableWidget*>("sgScratch");
  test::FindNamed<QPushButton>(t, "Clear")->click();
  test::FindNamed<QPushButton>(t, "Write")->click();
  test::FindNamed<QPushButton>(t, "Write")->click();
  test::FindNamed<QPushButton>(t, "Read")->click();
  for (int k = 0; k < 8; ++k) EXPECT_EQ(grid->item(0, k)->text(), QString("000%1").arg(k));
  EXPECT_EQ(grid->item(0, 8)->text(), "FFFF");
  EXPECT_EQ(grid->item(15, 15)->text(), "FFFF");
  EXPECT_FALSE(w.Controller().PollingPaused());

  // FAT time test: one day of ticks, then the random test for a second's worth of tests.
  test::FindNamed<QSpinBox>(t, "Ticks")->setValue(84375);
  test::FindNamed<QPushButton>(t, "Test")->click();
  EXPECT_EQ(test::FindNamed<QLabel>(t, "Expected time")->text(), "2000-01-02 00:00:00");
  EXPECT_EQ(test::FindNamed<QLabel>(t, "Decoded time")->text(), "2000-01-02 00:00:00");
  EXPECT_FALSE(t->FatTestRed());
  const int before = t->FatTestsRun();
  test::FindNamed<QPushButton>(t, "Random test")->click();
  EXPECT_TRUE(t->RandomTestRunning());
  EXPECT_TRUE(w.Controller().PollingPaused());
  ASSERT_TRUE(QTest::qWaitFor([&] { return t->FatTestsRun() >= before + 5; }, kWaitMs));
  EXPECT_TRUE(t->RandomTestRunning());
  EXPECT_FALSE(t->FatTestRed());
  EXPECT_NE(test::FindNamed<QSpinBox>(t, "Ticks")->value(), 84375);
  test::FindNamed<QPushButton>(t, "Random test")->click();
  EXPECT_FALSE(t->RandomTestRunning());
  EXPECT_FALSE(w.Controller().PollingPaused());
  const size_t polls = w.LiveRecord().Count();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.LiveRecord().Count() > polls + 1; }, kWaitMs));

  // Attitude self-test on a calibrated controller.
  Calibrate(w.Controller());
  const TAttitude set{35, -20, 110};
  test::FindNamed<QSpinBox>(t, "Heading")->setValue(int(set.heading));
  test::FindNamed<QSpinBox>(t, "Elevation")->setValue(int(set.elevation));
  test::FindNamed<QSpinBox>(t, "Bank")->setValue(int(set.bank));
  EXPECT_NEAR(Number(test::FindNamed<QLabel>(t, "Computed Heading")), set.heading, 0.5);
  EXPECT_NEAR(Number(test::FindNamed<QLabel>(t, "Computed Elevation")), set.elevation, 0.5);
  EXPECT_NEAR(Number(test::FindNamed<QLabel>(t, "Computed Bank")), set.bank, 0.5);
  for (const char* axis : {"X", "Y", "Z"})
    EXPECT_NEAR(Number(test::FindNamed<QLabel>(t, QString("Bx computed ") + axis)),
                Number(test::FindNamed<QLabel>(t, QString("Bx sent ") + axis)), 0.01);
  EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("; ").toStdString();

  t->grab().save(test::ScreenshotFolder() + "/qvl2pro_compass_test.png");
  const QPixmap shot = t->grab();
  shot.scaled(shot.size() * 2).save(test::ScreenshotFolder() + "/qvl2pro_compass_test_2x.png");
  w.close();
  EXPECT_TRUE(CompassWindows().isEmpty());  // closed with the main window
}

TEST(EcuInfoWindow, ShownModallyOnlyWhileConnected) {
  TServiceFixture f("info");
  TfrmEcu1 w(f.options);
  w.show();
  auto* action = w.findChild<QAction*>("actEcuInfo");
  EXPECT_FALSE(action->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs));
  EXPECT_TRUE(action->isEnabled());

  QString text;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    auto* info = qobject_cast<TfrmEcuInfo*>(QApplication::activeModalWidget());
    if (!info) return;
    modal = info->isModal();
    ExpectAccessibleNames(info);
    text = info->Text();
    info->grab().save(test::ScreenshotFolder() + "/qvl2pro_hardware_information.png");
    info->resize(info->size() * 2);
    info->grab().save(test::ScreenshotFolder() + "/qvl2pro_hardware_information_2x.png");
    test::FindNamed<QPushButton>(info, "Close")->click();
  });
  // A click on the status bar does what the action does.
  QTest::mouseClick(w.findChild<QLabel*>("StatusBar1Panel0"), Qt::LeftButton);
  EXPECT_TRUE(modal);
  ASSERT_TRUE(text.startsWith("QVL R2.11 on sim\n\n\n")) << text.toStdString();
  EXPECT_EQ(text.contains("QVL configuration/adjustments were last written on\n"),
            w.Controller().ConfigTimestamp() != 0);
}

}  // namespace
}  // namespace qvl
