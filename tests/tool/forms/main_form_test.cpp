// The logger tool's main window on the offscreen platform against the simulated logger: the
// connection texts, the run-state panel, units, links, placement, the live record's viewer,
// and the hand-over into the user-interface thread.
#include "tool/forms/main_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/device/ecu_comm_thread.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "served_sim.h"
#include "sim/sim_channel.h"
#include "test_paths.h"
#include "tool/forms/about_box.h"
#include "tool/forms/qt_synchronizer.h"
#include "tool/forms/run_state_panel.h"
#include "tool/forms/select_comm_form.h"
#include "tool/forms/tevra_status_control.h"
#include "tool/link_factory.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

struct TWindowFixture {
  std::string folder;
  QStringList errors;
  TToolOptions options;

  explicit TWindowFixture(const std::string& name, TCommChannelPtr link = nullptr) {
    test::WindowTestApp();
    folder = test::TempFolder(name);
    options.settingsFile = folder + "/QVL2Pro.ini";
    options.link = std::move(link);
    options.listSerialPorts = [] { return std::vector<std::string>{}; };
    options.showMessage = [this](const QString& text, bool) { errors << text; };
  }
};

bool WaitConnected(TfrmEcu1& w) {
  return QTest::qWaitFor([&] { return w.Controller().Connected(); }, kWaitMs);
}

bool WaitValues(TfrmEcu1& w, size_t samples) {
  const size_t target = w.LiveRecord().Count() + samples;
  return QTest::qWaitFor([&] { return w.LiveRecord().Count() >= target; }, kWaitMs);
}

TEST(QtSynchronizer, StoppingThePollingThreadWhileItWaitsInAHandOver) {
  test::WindowTestApp();
  TQtSynchronizer sync;
  TController controller;
  controller.SetSynchronizer(&sync);
  auto link = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  link->SetTimeOut(500);
  controller.SetChannel(link);
  controller.SetActive(true);
  // No event loop runs: the thread's first hand-over (opening the link) stays waiting.
  for (int i = 0; i < 2000 && sync.Waiting() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(sync.Waiting(), 1);
  // Replacing the link on the user-interface thread stops the waiting thread.
  controller.SetChannel(nullptr);
  EXPECT_EQ(controller.CommThread(), nullptr);
  EXPECT_EQ(sync.Waiting(), 0);
}

TEST(QtSynchronizer, HandOversRunOnTheUserInterfaceThreadAndAreReleasedAtClose) {
  test::WindowTestApp();
  auto sync = std::make_unique<TQtSynchronizer>();
  const auto ui = std::this_thread::get_id();
  std::thread::id ranOn;
  std::thread first([&] { sync->Synchronize([&] { ranOn = std::this_thread::get_id(); }); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ranOn == ui; }, kWaitMs));
  first.join();

  // What the hand-over throws reaches the waiting caller.
  std::string thrown;
  std::atomic<bool> returned{false};
  std::thread failing([&] {
    try {
      sync->Synchronize([] { throw Exception("No answer"); });
    } catch (const Exception& e) {
      thrown = e.what();
    }
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, kWaitMs));
  failing.join();
  EXPECT_EQ(thrown, "No answer");

  std::atomic<int> outcome{0};
  std::thread waiting([&] {
    try {
      sync->Synchronize([] {});
      outcome = 1;
    } catch (const Exception&) {
      outcome = 2;
    }
  });
  while (sync->Waiting() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  sync.reset();  // the window closes with a call waiting
  waiting.join();
  EXPECT_EQ(outcome, 2);
}

TEST(MainWindow, ConnectsShowsTheRunStateAndTakesUnitsAndDecimals) {
  TWindowFixture f("connect", CreateLinkChannel("sim"));
  TfrmEcu1 w(f.options);
  w.show();
  EXPECT_EQ(w.windowTitle(), "QVL2Pro v2.11");
  ASSERT_TRUE(WaitConnected(w));
  ASSERT_TRUE(WaitValues(w, 2));
  EXPECT_EQ(w.StatusText(), "QVL R2.11 on sim");
  ASSERT_NE(w.PointedStateLabel(), nullptr);
  const char* names[] = {"lblLoggerStopped", "lblLoggerPrePostLogging", "lblLoggerLogging",
                         "lblLoggerPrePostLogging", "lblLoggerFull"};
  EXPECT_EQ(w.PointedStateLabel()->objectName(), names[w.Controller().LoggingState()]);

  // "Auto connect" starts checked as the controller starts active; unchecking stops it.
  auto* autoConnect = w.findChild<QAction*>("actAutoConnect");
  ASSERT_TRUE(autoConnect);
  EXPECT_TRUE(autoConnect->isChecked());
  EXPECT_TRUE(w.Controller().Active());
  autoConnect->trigger();
  EXPECT_FALSE(autoConnect->isChecked());
  EXPECT_FALSE(w.Controller().Active());
  autoConnect->trigger();

  QLabel* front = test::FindNamed<QLabel>(&w, "Front travel");
  QLabel* speed = test::FindNamed<QLabel>(&w, "Front speed");
  ASSERT_TRUE(front && speed);
  EXPECT_TRUE(front->text().endsWith("cm")) << front->text().toStdString();
  EXPECT_TRUE(speed->text().endsWith("km/h")) << speed->text().toStdString();
  test::FindNamed<QAbstractButton>(&w, "inches")->click();
  test::FindNamed<QAbstractButton>(&w, "tps")->click();
  w.ChangeTravelDecimals(+5);  // stops at 3
  EXPECT_EQ(w.Units().travelDecimals, 3);
  ASSERT_TRUE(front->text().endsWith("in."));
  const QString number = front->text().chopped(3);
  EXPECT_EQ(number.size() - number.indexOf('.') - 1, 5) << number.toStdString();
  EXPECT_TRUE(speed->text().endsWith("tps"));
  w.ChangeTravelDecimals(-9);
  EXPECT_EQ(w.Units().travelDecimals, 0);
  test::FindNamed<QAbstractButton>(&w, "mm")->click();
  EXPECT_EQ(front->text().indexOf('.'), -1) << front->text().toStdString();

  // The battery text follows the bar's position.
  auto* bar = w.findChild<QProgressBar*>("pbBattery");
  EXPECT_EQ(w.findChild<QLabel*>("lblBattery")->text().toStdString(), BatteryText(bar->value()));

  // Pictures for a person to look at: the design size and twice that.
  test::FindNamed<QAbstractButton>(&w, "cm")->click();
  test::FindNamed<QAbstractButton>(&w, "km/h")->click();
  ASSERT_TRUE(WaitValues(w, 1));
  EXPECT_TRUE(w.grab().save(test::ScreenshotFolder() + "/qvl2pro_main.png"));
  const QSize design = w.size();
  w.resize(design * 2);
  QTest::qWait(50);
  ASSERT_TRUE(WaitValues(w, 1));
  EXPECT_TRUE(w.grab().save(test::ScreenshotFolder() + "/qvl2pro_main_2x.png"));
  EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("; ").toStdString();
}

TEST(MainWindow, PanelScalesItsControlsAndFonts) {
  TWindowFixture f("scale");
  f.options.createLink = [](const TLinkChoice&) { return nullptr; };
  TfrmEcu1 w(f.options);
  w.show();
  TRunStatePanel* panel = w.Panel();
  QLabel* front = test::FindNamed<QLabel>(&w, "Front travel");
  const QRect before = front->geometry();
  const qreal fontBefore = front->font().pointSizeF();
  const QSize panelBefore = panel->size();
  w.resize(w.size() + panelBefore);  // the panel doubles
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel->size() == panelBefore * 2; }, kWaitMs));
  EXPECT_NEAR(front->geometry().left(), before.left() * 2, 1);
  EXPECT_NEAR(front->geometry().width(), before.width() * 2, 2);
  EXPECT_NEAR(front->font().pointSizeF(), fontBefore * 2, 0.01);
}

TEST(MainWindow, PanelShowsSdAndFlashTextsOfTheRealtimeBlock) {
  TWindowFixture f("texts");
  f.options.createLink = [](const TLinkChoice&) { return nullptr; };
  TfrmEcu1 w(f.options);
  EXPECT_EQ(w.StatusText(), "No communication port defined");
  TController& c = w.Controller();
  std::array<uint8_t, 40> block{};
  block[10] = 0x80 | 2;  // SD card, logging
  PutU16(&block[38], 7);
  PutU32(&block[12], 0x1000);  // write address behind the session start
  c.SetRealtimeBlock(block);
  c.SetFlashFacts(2 * 1024 * 1024, 4096);
  TConfigBlock config = c.ConfigBlock();
  PutU32(&config.bytes[cfg::kDataRate], 1000);
  c.SetConfigBlock(config);
  w.ControllerChanged(&c, kChangeValues);
  QLabel* sd = w.findChild<QLabel*>("lblSD");
  EXPECT_FALSE(sd->isHidden());
  EXPECT_EQ(sd->toolTip(), "Currently recording in file\nLOG007.QVL");
  ASSERT_NE(w.PointedStateLabel(), nullptr);
  EXPECT_EQ(w.PointedStateLabel()->objectName(), "lblLoggerLogging");
  EXPECT_EQ(w.findChild<QLabel*>("lblSession")->text(), " 0% used, 34min. remaining");

  PutU16(&block[38], 256);
  block[10] = 0x80 | 0x10;  // stopped, flash full and overwriting
  c.SetRealtimeBlock(block);
  w.ControllerChanged(&c, kChangeValues);
  EXPECT_EQ(sd->toolTip(), "No file available for recording");
  EXPECT_EQ(w.findChild<QLabel*>("lblSession")->text(), "100% full (overwriting)");
  EXPECT_EQ(w.PointedStateLabel()->objectName(), "lblLoggerStopped");
}

TEST(MainWindow, LoggerSilentAndBackShowsNoQvlThenReconnects) {
  // The bytes the connect sequence takes, so that the logger falls silent while polled.
  uint64_t connectBytes = 0;
  {
    auto probe = std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
    TWindowFixture f("silent-probe", probe);
    TfrmEcu1 w(f.options);
    ASSERT_TRUE(WaitConnected(w));
    std::lock_guard<std::mutex> lock(probe->Link().Mutex());
    connectBytes = probe->Link().HostBytes();
  }
  sim::TSimOptions options;
  options.faults.silentAfter = int64_t(connectBytes) + 200;
  options.faults.silentForMs = 2500;
  TWindowFixture f("silent", std::make_shared<sim::TSimChannel>(options));
  TfrmEcu1 w(f.options);
  ASSERT_TRUE(WaitConnected(w));
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.StatusText() == "No QVL on sim"; }, kWaitMs))
      << w.StatusText().toStdString();
  ASSERT_TRUE(WaitConnected(w));
  EXPECT_EQ(w.StatusText(), "QVL R2.11 on sim");
}

TEST(MainWindow, PortSelectionSwitchesBetweenUsbLinkAndSerialPort) {
  test::TServedSim served(sim::TSimOptions{});
  const std::string pty = served.server.PortPath();
  TWindowFixture f("ports", CreateLinkChannel("sim-hid"));
  f.options.listSerialPorts = [pty] { return std::vector<std::string>{pty}; };
  // The USB link adapter of this machine is the simulated one.
  f.options.createLink = [](const TLinkChoice& choice) {
    return choice.typeName == "HID" ? CreateLinkChannel("sim-hid") : CreateChosenLink(choice);
  };
  TfrmEcu1 w(f.options);
  ASSERT_TRUE(WaitConnected(w));
  EXPECT_EQ(w.StatusText(), "QVL R2.11 on Tevra");

  // The dialog offers the USB link first, preselected, and the serial port third.
  int preselected = -2;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TfrmSelectComm*>(QApplication::activeModalWidget());
    if (!dialog) return;
    preselected = dialog->SelectedIndex();
    dialog->Select(2);
    dialog->accept();
  });
  w.SelectComm();
  EXPECT_EQ(preselected, 0);
  ASSERT_TRUE(WaitConnected(w));
  EXPECT_EQ(w.StatusText().toStdString(), "QVL R2.11 on " + pty);
  TIniFile ini;
  ASSERT_TRUE(w.SaveSettings());
  ini.LoadFromFile(f.options.settingsFile);
  EXPECT_EQ(ini.ReadString("Comm", "CommDevice", ""), pty);

  w.ApplyPortSelection(0, "Tevra");
  ASSERT_TRUE(WaitConnected(w));
  EXPECT_EQ(w.StatusText(), "QVL R2.11 on Tevra");

  // A port that cannot be opened: its error, and no link at all.
  w.ApplyPortSelection(2, "/dev/qvl-no-such-port");
  EXPECT_EQ(f.errors.size(), 1);
  EXPECT_EQ(w.Link(), nullptr);
  EXPECT_EQ(w.StatusText(), "No communication port defined");
}

TEST(MainWindow, WirelessLinkShowsItsSignalIndicator) {
  TWindowFixture f("wireless", CreateLinkChannel("sim-tevraw"));
  TfrmEcu1 w(f.options);
  w.show();
  ASSERT_TRUE(WaitConnected(w));
  TTevraStatusControl* indicator = w.Indicator();
  EXPECT_FALSE(indicator->isHidden());
  ASSERT_TRUE(QTest::qWaitFor([&] { return indicator->Level() > 0; }, kWaitMs));
  EXPECT_TRUE(indicator->toolTip().startsWith("Version ")) << indicator->toolTip().toStdString();
}

TEST(MainWindow, PlacementAndUnitsSurviveARestartAndAMinimisedStateStartsNormal) {
  TWindowFixture f("placement");
  f.options.createLink = [](const TLinkChoice&) { return nullptr; };
  {
    TfrmEcu1 w(f.options);
    w.show();
    w.resize(900, 640);
    w.move(40, 50);
    w.SetTravelUnit(17);
    w.SetSpeedUnit(18);
    w.ChangeTravelDecimals(2);
    w.close();
  }
  TIniFile ini;
  ini.LoadFromFile(f.options.settingsFile);
  EXPECT_EQ(ini.ReadInteger("Main", "Width", 0), 900);
  EXPECT_EQ(ini.ReadInteger("DisplayUnits", "TDecimals", 0), 2);
  ini.WriteInteger("Main", "State", 1);
  ini.SaveToFile(f.options.settingsFile);
  TfrmEcu1 w(f.options);
  w.ShowAsStored();
  EXPECT_EQ(w.size(), QSize(900, 640));
  EXPECT_EQ(w.pos(), QPoint(40, 50));
  EXPECT_FALSE(w.isMinimized());
  EXPECT_EQ(w.Units().travelUnit, 17);
  EXPECT_EQ(w.Units().speedUnit, 18);
  EXPECT_EQ(w.Units().travelDecimals, 2);
}

TEST(MainWindow, UnreadableSettingsWarnAndAreNotOverwritten) {
  TWindowFixture f("unreadable");
  f.options.createLink = [](const TLinkChoice&) { return nullptr; };
  // A folder where the file should be cannot be read.
  std::filesystem::create_directories(f.options.settingsFile);
  TfrmEcu1 w(f.options);
  EXPECT_EQ(f.errors.size(), 1);
  EXPECT_FALSE(w.SaveSettings());
  EXPECT_TRUE(std::filesystem::is_directory(f.options.settingsFile));
}

TEST(MainWindow, ViewActionDeliversTheRecordToALiveViewer) {
  TWindowFixture f("viewer", CreateLinkChannel("sim"));
  const QString out = QString::fromStdString(f.folder + "/viewer.txt");
  f.options.viewerProgram = QString::fromStdString(test::BinDir() + "/qvl");
  f.options.viewerArguments = {"live", "listen", "--messages", "2", "--timeout", "60"};
  f.options.viewerOutput = out;
  TfrmEcu1 w(f.options);
  ASSERT_TRUE(WaitConnected(w));
  ASSERT_TRUE(WaitValues(w, 3));
  QAbstractButton* view = test::FindNamed<QAbstractButton>(&w, "View recorded data graphically");
  ASSERT_TRUE(view);
  view->click();
  EXPECT_TRUE(f.errors.isEmpty()) << f.errors.join("; ").toStdString();
  std::string text;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::ifstream in(out.toStdString());
        text.assign(std::istreambuf_iterator<char>(in), {});
        return text.find("runs:") != std::string::npos;
      },
      kWaitMs))
      << text;
  EXPECT_NE(text.find("configuration:"), std::string::npos);
  EXPECT_NE(text.find("samples: "), std::string::npos);

  test::FindNamed<QAbstractButton>(&w, "Clear")->click();
  EXPECT_EQ(w.LiveRecord().Count(), 0u);
}

TEST(MainWindow, EveryControlHasAnAccessibleNameAndTheAboutBoxItsVersion) {
  TWindowFixture f("access");
  f.options.createLink = [](const TLinkChoice&) { return nullptr; };
  TfrmEcu1 w(f.options);
  for (QWidget* c : w.findChildren<QWidget*>()) {
    if (!(qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c) ||
          qobject_cast<QProgressBar*>(c) || qobject_cast<QGroupBox*>(c)))
      continue;
    if (c->objectName().startsWith("qt_")) continue;  // Qt's own extension buttons
    EXPECT_FALSE(c->accessibleName().isEmpty())
        << c->metaObject()->className() << " " << c->objectName().toStdString();
  }
  for (QString hint :
       {"View recorded data graphically", "Clear", "Internal Flash...", "QVL Configuration..."})
    EXPECT_TRUE(test::FindNamed<QAbstractButton>(&w, hint)) << hint.toStdString();
  // The configuration editor is available with or without a logger.
  EXPECT_TRUE(w.findChild<QAction*>("actConfig")->isEnabled());
  TAboutBox about("QVL2Pro");
  EXPECT_TRUE(test::FindNamed<QLabel>(&about, "Version 2.11"));
  EXPECT_TRUE(test::FindNamed<QLabel>(&about, "QVL2Pro"));
}

}  // namespace
}  // namespace qvl
