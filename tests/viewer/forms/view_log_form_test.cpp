// The viewer's main window on the offscreen platform with files of the simulated ride: opening,
// captions and status bar, the default layout, the channel menu and its edits, navigation in
// both modes, read-outs and event lists against `qvl`, saving and reopening, the close question,
// recent files, layouts, the settings dialog, a damaged file and live mode fed by `qvl live send`.
#include "viewer/forms/view_log_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <fstream>

#include "core/device/ecu_types.h"
#include "core/logdata/data_log_store.h"
#include "test_paths.h"
#include "viewer/forms/configure_form.h"
#include "viewer/forms/save_layout_form.h"
#include "viewer/logic/ride_file.h"
#include "viewer/stripchart/strip_chart.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 60000;

std::string TempFolder(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("qvl-viewer-window-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

void Screenshot(QWidget& w, const QString& name) {
  QDir dir(QString::fromStdString(test::BinDir()) + "/../screenshots");
  dir.mkpath(".");
  ASSERT_TRUE(w.grab().save(dir.absoluteFilePath(name)));
}

// Runs `qvl` with the arguments and returns its standard output.
QByteArray Qvl(const QStringList& args) {
  QProcess p;
  p.start(QString::fromStdString(test::BinDir() + "/qvl"), args);
  EXPECT_TRUE(p.waitForFinished(kWaitMs));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  return p.readAllStandardOutput();
}

// A window with its own settings file; messages and questions are recorded and answered.
struct Viewer {
  std::string folder;
  QStringList messages;
  QMessageBox::StandardButton answer = QMessageBox::No;
  int questions = 0;
  std::unique_ptr<TfrmViewLog> window;

  explicit Viewer(const std::string& name, bool live = false) : folder(TempFolder(name)) {
    test::WindowTestApp();
    Open(live);
  }
  void Open(bool live = false) {
    TViewerOptions o;
    o.settingsFile = folder + "/QVL2View.ini";
    o.live = live;
    o.showMessage = [this](const QString& text, bool) { messages << text; };
    o.askQuestion = [this](const QString&) {
      ++questions;
      return answer;
    };
    o.askNumber = [](const QString&, const QString&, int& value) {
      value = 250;
      return true;
    };
    window = std::make_unique<TfrmViewLog>(std::move(o));
    window->resize(1280, 800);
    window->show();
    QApplication::processEvents();
  }
  TfrmViewLog& W() { return *window; }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (const TStripView& s : window->Display().Chart().strips) t.push_back(s.title);
    return t;
  }
  QString Label(const char* name) const { return window->ReadoutLabel(name)->text(); }
};

std::string Copy(const std::string& from, const std::string& folder, const std::string& name) {
  const std::string to = folder + "/" + name;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

const std::string& RideFile() {
  static const std::string path = testing::WriteRideFile("qvl_viewer_window_ride.QVLog");
  return path;
}

const std::string& SessionsFile() {
  static const std::string path = [] {
    testing::TRideFile r;
    r.sessions = 2;
    r.runSeconds = 12;
    return testing::WriteRecordRideFile("qvl_viewer_window_sessions.QVLog", r);
  }();
  return path;
}

QAction* MenuAction(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
    if (a->menu())
      if (QAction* sub = MenuAction(a->menu(), text)) return sub;
  }
  return nullptr;
}

TEST(ViewLogWindow, OpensARideAndShowsWhatQvlFinds) {
  Viewer v("open");
  EXPECT_EQ(v.W().windowTitle(), "QVL2View 2.11");
  const std::string file = Copy(RideFile(), v.folder, "ride.QVLog");
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(file)));
  EXPECT_EQ(v.W().windowTitle(), "QVL2View 2.11 - ride.QVLog");
  EXPECT_EQ(v.W().StatusText(), QString::fromStdString(file));
  EXPECT_EQ(v.Titles(), (std::vector<std::string>{"Front travel (%)", "Rear travel (%)",
                                                  "Vertical accel. (g)", "Front speed (km/h)"}));
  EXPECT_EQ(v.W().LayoutBox()->currentText(), "Default layout");
  EXPECT_EQ(v.W().Chart()->ChannelCount(), 4);
  EXPECT_EQ(v.W().Chart()->Bookmarks().size(), 1u);  // the time mark
  // A file with one run keeps "Show all runs" disabled.
  EXPECT_FALSE(v.W().Action("actAllRuns")->isEnabled());
  EXPECT_FALSE(v.W().SaveEnabled());

  // The event lists are those of `qvl analyze`.
  const QJsonObject a = QJsonDocument::fromJson(
                            Qvl({"analyze", QString::fromStdString(file), "--run", "0", "--json"}))
                            .object();
  const char* keys[4] = {"front_bottoming", "rear_bottoming", "front_wheel_lock",
                         "rear_wheel_lock"};
  int total = 0;
  for (int k = 0; k < 4; ++k) {
    const QJsonArray events = a[keys[k]].toArray();
    total += int(events.size());
    ASSERT_EQ(v.W().EventMemo(k)->count(), events.size()) << keys[k];
    EXPECT_EQ(v.W().EventCountLabel(k)->text(),
              QString("%1 (%2 times)").arg(k % 2 ? "Rear" : "Front").arg(events.size()));
    for (int i = 0; i < int(events.size()); ++i) {
      const QJsonObject e = events[i].toObject();
      // The memo rounds the start time to 2 decimals.
      EXPECT_NEAR(v.W().EventMemo(k)->item(i)->text().toDouble(), e["start"].toDouble(), 0.0051);
      const bool highlighted = v.W().EventMemo(k)->item(i)->background().style() != Qt::NoBrush;
      EXPECT_EQ(highlighted, e["flag"].toInt() != 0);
    }
  }
  EXPECT_GT(v.W().EventMemo(2)->count(), 0);  // the front wheel locks
  EXPECT_GT(v.W().EventMemo(0)->count(), 0);  // the travel bottoms

  // Double click on a wheel lock line: the cursor goes to its start.
  const QJsonObject lock = a["front_wheel_lock"].toArray()[0].toObject();
  v.W().EventLineActivated(2, 0);
  EXPECT_EQ(v.W().CursorSample(), std::lround(lock["start"].toDouble() * 1000));
  EXPECT_EQ(v.W().EventMemo(2)->currentRow(), 0);

  // The read-outs at a cursor position against the values `qvl export` writes for it.
  v.W().MoveCursor(12345);
  EXPECT_EQ(v.W().findChild<QPushButton*>("btnTime")->text(), "12.35");
  EXPECT_EQ(v.Label("lblRun"), "Run\n1/1");
  const QString exported = QString::fromStdString(v.folder + "/export.txt");
  Qvl({"export", QString::fromStdString(file), "--run", "0", "--strip", "Front travel:mm",
       "--strip", "Front travel:%", "--strip", "Front speed:km/h", "-o", exported});
  QFile text(exported);
  ASSERT_TRUE(text.open(QIODevice::ReadOnly));
  QStringList line;
  while (!text.atEnd() && line.isEmpty()) {
    const QString l = QString::fromLatin1(text.readLine()).trimmed();
    if (l.startsWith("12.345\t")) line = l.split('\t');
  }
  ASSERT_EQ(line.size(), 4);
  EXPECT_EQ(v.Label("lblFrontTravel"), line[1] + " mm, " + line[2] + " %");
  EXPECT_EQ(v.Label("lblFrontSpeed"), line[3] + " km/h");
  EXPECT_TRUE(v.Label("lblFrontVelocity").endsWith(" mm/s"));
  EXPECT_TRUE(v.Label("lblVerticalAccel").endsWith(" g"));
  // Keys: 10 samples, snapping to the step first.
  QTest::keyClick(v.W().findChild<QPushButton*>("btnTime"), Qt::Key_Right);
  EXPECT_EQ(v.W().CursorSample(), 12350);
  QTest::keyClick(v.W().findChild<QPushButton*>("btnTime"), Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(v.W().CursorSample(), 12300);

  v.W().SetDataPanelDocked(true);
  v.W().EventLineActivated(0, 0);
  QApplication::processEvents();
  Screenshot(v.W(), "viewer_main_ride.png");
}

TEST(ViewLogWindow, ChannelMenuEditsTheStrips) {
  Viewer v("menu");
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(Copy(RideFile(), v.folder, "ride.QVLog"))));
  // From the tool button: "View all logged channels" and the channels, the custom one included.
  QMenu* button = v.W().ChannelMenu(false, -1);
  EXPECT_TRUE(MenuAction(button, "View all logged channels")->isVisible());
  EXPECT_FALSE(MenuAction(button, "Remove")->isVisible());
  EXPECT_TRUE(MenuAction(button, "Brake (bar)")->isEnabled());
  EXPECT_EQ(MenuAction(button, "Brake (bar)")->data().toInt(), 64);
  QMenu* chart = v.W().ChannelMenu(true, 0);
  EXPECT_FALSE(MenuAction(chart, "View all logged channels")->isVisible());
  EXPECT_FALSE(MenuAction(chart, "Move up")->isEnabled());
  EXPECT_TRUE(MenuAction(chart, "Move down")->isEnabled());

  // Replace strip 3 (front speed) with the custom channel: its curve now has the channel's data.
  MenuAction(v.W().ChannelMenu(true, 3), "Brake (bar)")->trigger();
  EXPECT_EQ(v.Titles()[3], "Brake (bar)");
  EXPECT_EQ(v.W().Display().Chart().strips[3].Curve(0, 0).period, 10);
  EXPECT_FALSE(v.W().Display().Chart().strips[3].Curve(0, 0).Values().empty());
  EXPECT_TRUE(v.W().LayoutModified());
  EXPECT_EQ(v.W().LayoutBox()->currentIndex(), -1);
  // Append (no strip), superpose, smoothing, move and remove.
  MenuAction(v.W().ChannelMenu(false, -1), "mm/s")->trigger();  // first "mm/s": front velocity
  ASSERT_EQ(v.Titles().size(), 5u);
  EXPECT_EQ(v.Titles()[4], "Front susp. velocity (mm/s)");
  MenuAction(v.W().ChannelMenu(true, 0), "Rear travel")->trigger();  // the Superpose item
  ASSERT_EQ(v.W().Strips()[0].superposed.size(), 1u);
  EXPECT_EQ(v.W().Chart()->Channels(0)->PlotCount(), 2);
  const std::vector<float> raw = v.W().Display().Chart().strips[0].Curve(0, 0).Values();
  QMenu* smoothing = v.W().ChannelMenu(true, 0);
  EXPECT_FALSE(MenuAction(smoothing, "Less (0 ms)")->isEnabled());
  MenuAction(smoothing, "More (2 ms)")->trigger();
  MenuAction(v.W().ChannelMenu(true, 0), "More (5 ms)")->trigger();
  EXPECT_EQ(v.W().Strips()[0].main.smoothing, 5);
  const std::vector<float>& smoothed = v.W().Display().Chart().strips[0].Curve(0, 0).Values();
  ASSERT_EQ(smoothed.size(), raw.size());
  EXPECT_NE(smoothed, raw);
  MenuAction(v.W().ChannelMenu(true, 0), "Other...")->trigger();  // asks: 250 ms
  EXPECT_EQ(v.W().Strips()[0].main.smoothing, 250);
  EXPECT_TRUE(v.W().StripHint(0).contains("smoothing: 250ms (250 samples)"));
  MenuAction(v.W().ChannelMenu(true, 1), "Move up")->trigger();
  EXPECT_EQ(v.Titles()[0], "Rear travel (%)");
  EXPECT_EQ(v.W().Strips()[1].superposed.size(), 1u);  // moved with its strip
  MenuAction(v.W().ChannelMenu(true, 0), "Remove")->trigger();
  EXPECT_EQ(v.Titles().size(), 4u);
  EXPECT_EQ(v.Titles()[0], "Front travel (%)");
  MenuAction(v.W().ChannelMenu(false, -1), "View all logged channels")->trigger();
  EXPECT_EQ(v.Titles(),
            (std::vector<std::string>{"Front travel (%)", "Rear travel (%)", "Vertical accel. (g)",
                                      "Front accel. (g)", "Lateral accel. (g)", "Brake (bar)"}));
}

TEST(ViewLogWindow, NavigatesRunsAndSessionsInBothModes) {
  Viewer v("navigation");
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(SessionsFile())));
  TRunDisplay& d = v.W().Display();
  ASSERT_EQ(d.MainSlot().store->RunCount(), 4);
  EXPECT_TRUE(v.W().Action("actAllRuns")->isEnabled());
  EXPECT_EQ(d.Selection(), 0);
  EXPECT_FALSE(v.W().Action("actPreviousRun")->isEnabled());
  EXPECT_FALSE(v.W().Action("actPreviousSession")->isEnabled());
  v.W().Action("actNextRun")->trigger();
  EXPECT_EQ(d.Selection(), 1);
  v.W().Action("actNextSession")->trigger();
  EXPECT_EQ(d.Selection(), 2);
  EXPECT_EQ(v.W().ReadoutLabel("lblSession")->text(), "Session\n2/2");
  EXPECT_FALSE(v.W().Action("actNextSession")->isEnabled());
  v.W().Action("actPreviousSession")->trigger();
  EXPECT_EQ(d.Selection(), 0);

  // All runs of the session; next run brings the second run in and leaves the cursor on its
  // first sample, previous run goes back.
  v.W().Action("actAllRuns")->trigger();
  EXPECT_EQ(d.Selection(), SessionSelection(0));
  EXPECT_EQ(d.SampleCount(), 24000);
  v.W().Chart()->SetXScale(0.001);  // a second across a thousand pixels
  v.W().MoveCursor(100);
  v.W().Action("actNextRun")->trigger();
  EXPECT_EQ(v.W().CursorSample(), 12000);
  EXPECT_EQ(v.W().ReadoutLabel("lblRun")->text(), "Run\n2/2");
  const long long cursorPixel = v.W().Chart()->XToPixel(12.0);
  EXPECT_GE(cursorPixel, v.W().Chart()->XStartPixel());
  EXPECT_LT(cursorPixel, v.W().Chart()->XStartPixel() + v.W().Chart()->PlotRect().width());
  EXPECT_FALSE(v.W().Action("actNextRun")->isEnabled());
  v.W().MoveCursor(12500);
  v.W().Action("actPreviousRun")->trigger();
  EXPECT_EQ(v.W().CursorSample(), 12000);
  v.W().Action("actPreviousRun")->trigger();
  EXPECT_EQ(v.W().CursorSample(), 0);
  v.W().Action("actNextSession")->trigger();
  EXPECT_EQ(d.Selection(), SessionSelection(1));
  // Back to single runs: the cursor's run.
  v.W().MoveCursor(13000);
  v.W().Action("actAllRuns")->trigger();
  EXPECT_EQ(d.Selection(), 3);
}

TEST(ViewLogWindow, SaveKeepsTheEditsAndTheBackupTheOriginal) {
  Viewer v("save");
  const std::string file = Copy(SessionsFile(), v.folder, "sessions.QVLog");
  std::ifstream in(file, std::ios::binary);
  const std::string original((std::istreambuf_iterator<char>(in)), {});
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(file)));
  MenuAction(v.W().ChannelMenu(true, 2), "Lateral accel. (g)")->trigger();
  TFileSlot& slot = v.W().Display().MainSlot();
  slot.store->SetRunNote(1, "[Notes]\r\nTrack=Col du Test\r\n");
  slot.info.syncs[1] = TSyncData{1, 0, 2.5, 7.25};
  // Ctrl+Alt and the right button on the tool bar enable Save; another modifier does not.
  QToolBar* bar = v.W().findChild<QToolBar*>("ToolBar1");
  QTest::mousePress(bar, Qt::RightButton,
                    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_FALSE(v.W().SaveEnabled());
  QTest::mousePress(bar, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  ASSERT_TRUE(v.W().SaveEnabled());
  ASSERT_TRUE(v.W().SaveFile());
  EXPECT_FALSE(v.W().SaveEnabled());

  std::ifstream backup(v.folder + "/sessions.qvlbak", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(backup)), {}), original);
  TFileSlot reread;
  OpenLogFile(reread, file);
  EXPECT_EQ(reread.info.version, kSavedLogVersion);
  EXPECT_EQ(reread.store->GetRunNote(1), "[Notes]\r\nTrack=Col du Test\r\n");
  ASSERT_EQ(reread.info.syncs.size(), 4u);
  EXPECT_EQ(reread.info.syncs[1].synced, 1);
  EXPECT_EQ(reread.info.syncs[1].offset, 2.5);
  EXPECT_EQ(reread.info.syncs[1].chartTime, 7.25);
  ASSERT_EQ(reread.info.displayLists[0].size(), 4u);
  EXPECT_EQ(DecodeDisplayEntry(reread.info.displayLists[0][2].data()).channel, kParamLateralAccel);
  EXPECT_EQ(reread.store->RunCount(), 4);
}

TEST(ViewLogWindow, CloseQuestionAndRecentFiles) {
  Viewer v("close");
  std::vector<std::string> files;
  for (int i = 0; i < 9; ++i)
    files.push_back(Copy(RideFile(), v.folder, "ride" + std::to_string(i) + ".QVLog"));
  for (const std::string& f : files) ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(f)));
  ASSERT_EQ(v.W().RecentFiles().size(), 8u);
  EXPECT_EQ(v.W().RecentFiles().front(), files[8]);
  EXPECT_EQ(v.W().RecentFiles().back(), files[1]);  // the oldest dropped
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(files[4])));
  EXPECT_EQ(v.W().RecentFiles().front(), files[4]);
  EXPECT_EQ(v.W().RecentFiles().size(), 8u);

  // With unsaved edits: Cancel keeps the window (and the file), No closes without saving.
  QTest::mousePress(v.W().findChild<QToolBar*>("ToolBar1"), Qt::RightButton,
                    Qt::ControlModifier | Qt::AltModifier);
  v.answer = QMessageBox::Cancel;
  EXPECT_FALSE(v.W().OpenFile(QString::fromStdString(files[5])));
  EXPECT_EQ(v.W().windowTitle(), "QVL2View 2.11 - ride4.QVLog");
  EXPECT_FALSE(v.W().close());
  EXPECT_TRUE(v.W().isVisible());
  EXPECT_EQ(v.questions, 2);
  v.answer = QMessageBox::No;
  EXPECT_TRUE(v.W().close());
  EXPECT_EQ(v.questions, 3);
  EXPECT_FALSE(std::filesystem::exists(v.folder + "/ride4.qvlbak"));
  // The list was written at close and is read at the next start.
  v.window.reset();
  v.Open();
  EXPECT_EQ(v.W().RecentFiles().front(), files[4]);
}

TEST(ViewLogWindow, LayoutsAreSavedChosenAndRestored) {
  Viewer v("layouts");
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(Copy(RideFile(), v.folder, "ride.QVLog"))));
  MenuAction(v.W().ChannelMenu(true, 3), "Lateral accel. (g)")->trigger();
  // The save dialog: "Default layout" is explained, not silently ignored; a new name is saved.
  TLayoutManager& layouts = const_cast<TLayoutManager&>(v.W().Layouts());
  layouts.SetWorkingLayout(LayoutFromStrips(v.W().Strips()));
  TfrmSaveLayout dialog(layouts);
  QStringList told;
  dialog.showMessage = [&](const QString& text) { told << text; };
  EXPECT_EQ(dialog.SaveAs("Default layout"), -1);
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].contains("cannot be overwritten"));
  EXPECT_EQ(dialog.SaveAs("  Lateral  "), 1);
  EXPECT_EQ(layouts.Names(), (std::vector<std::string>{"Default layout", "Lateral"}));

  // Applying the default layout and then an unsaved edit, closed: restored unnamed.
  v.W().ApplyLayout(0);
  EXPECT_EQ(v.Titles()[3], "Front speed (km/h)");
  EXPECT_FALSE(v.W().LayoutModified());
  MenuAction(v.W().ChannelMenu(true, 0), "Remove")->trigger();
  ASSERT_TRUE(v.W().close());
  v.window.reset();
  v.Open();
  EXPECT_EQ(v.W().LayoutBox()->currentIndex(), -1);
  EXPECT_EQ(v.W().LayoutBox()->count(), 2);
  EXPECT_EQ(v.W().Strips().size(), 3u);
  // Choosing a layout by name is remembered.
  v.W().ApplyLayout(1);
  ASSERT_TRUE(v.W().close());
  v.window.reset();
  v.Open();
  EXPECT_EQ(v.W().LayoutBox()->currentText(), "Lateral");
  EXPECT_EQ(v.W().Strips()[3].main.channel, kParamLateralAccel);
}

TEST(ViewLogWindow, ConfigureDialogValidatesAndStores) {
  test::WindowTestApp();
  TAnalysisSettings s;
  s.minSpeed = 12.6f;
  {
    TfrmConfigure dialog(s);
    EXPECT_EQ(dialog.FrontSoftLimit()->value(), 80);
    EXPECT_EQ(dialog.MinSpeed()->value(), 13);
    dialog.accept();  // no change
    TAnalysisSettings copy = s;
    EXPECT_FALSE(dialog.Finish(copy));
    EXPECT_EQ(copy.minSpeed, 12.6f);
  }
  TfrmConfigure dialog(s);
  QStringList errors;
  dialog.showError = [&](const QString& text) { errors << text; };
  dialog.RearHardLimit()->setValue(70);
  dialog.reject();  // refused, even for Cancel
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], "You must set the rear hard limit higher than soft limit");
  dialog.RearHardLimit()->setValue(80);  // equal limits pass
  dialog.FrontSoftLimit()->setValue(85);
  dialog.accept();
  EXPECT_EQ(errors.size(), 1);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_TRUE(dialog.Finish(s));
  EXPECT_FLOAT_EQ(s.frontSoftLimit, 0.85f);
  EXPECT_FLOAT_EQ(s.rearHardLimit, 0.8f);
  EXPECT_FLOAT_EQ(s.minSpeed, 13.0f);
}

TEST(ViewLogWindow, DamagedFileShowsTheMessageAndClearsTheDisplay) {
  Viewer v("damaged");
  ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(Copy(RideFile(), v.folder, "ride.QVLog"))));
  const std::string bad = v.folder + "/bad.QVLog";
  std::ofstream(bad, std::ios::binary) << std::string("QVL2cr0 and then nothing useful", 31);
  EXPECT_FALSE(v.W().OpenFile(QString::fromStdString(bad)));
  ASSERT_EQ(v.messages.size(), 1);
  EXPECT_FALSE(v.messages[0].isEmpty());
  EXPECT_EQ(v.W().windowTitle(), "QVL2View 2.11");
  EXPECT_EQ(v.W().StatusText(), "");
  for (const TStripView& s : v.W().Display().Chart().strips)
    EXPECT_TRUE(s.Curve(0, 0).Values().empty());
  EXPECT_EQ(v.W().EventMemo(0)->count(), 0);
  EXPECT_EQ(v.W().ReadoutLabel("lblFrontTravel")->text(), "");
}

TEST(ViewLogWindow, LiveModeShowsWhatTheToolSends) {
  test::WindowTestApp();
  {
    // No tool: the channel cannot be opened.
    Viewer lonely("live-none", true);
    EXPECT_EQ(lonely.messages, QStringList{"Error creating communication channel"});
    EXPECT_EQ(lonely.W().windowTitle(), "QVL2View 2.11 - Live");
  }
  QProcess tool;
  tool.start(QString::fromStdString(test::BinDir() + "/qvl"),
             {"--link", "sim", "live", "send", "--seconds", "12"});
  QByteArray out;
  QElapsedTimer clock;
  clock.start();
  // The block exists once the tool has recorded (a live run needs 10 s at least).
  while (!out.contains("recorded") && clock.elapsed() < kWaitMs) {
    tool.waitForReadyRead(1000);
    out += tool.readAllStandardOutput();
  }
  ASSERT_TRUE(out.contains("recorded")) << out.toStdString();
  Viewer v("live", true);
  EXPECT_TRUE(v.messages.isEmpty()) << v.messages.join("; ").toStdString();
  while (v.W().Display().SampleCount() == 0 && clock.elapsed() < kWaitMs) QTest::qWait(20);
  ASSERT_GT(v.W().Display().SampleCount(), 0);
  // waitForFinished is false for a process that has finished already.
  EXPECT_TRUE(tool.state() == QProcess::NotRunning || tool.waitForFinished(kWaitMs));
  EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  EXPECT_EQ(v.W().windowTitle(), "QVL2View 2.11 - Live");
  // The default live strips that the configuration logs: travel, accelerations, speeds.
  std::vector<std::string> titles = v.Titles();
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Front travel (%)"), titles.end());
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Rear speed (tps)"), titles.end());
  EXPECT_EQ(std::find(titles.begin(), titles.end(), "Battery Volt. (V)"), titles.end());
  v.W().SetDataPanelDocked(true);
  QApplication::processEvents();
  Screenshot(v.W(), "viewer_main_live.png");
}

}  // namespace
}  // namespace qvl
