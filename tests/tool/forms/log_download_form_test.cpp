// The internal flash download window on the offscreen platform against the simulated logger
// after a season of riding: the tree of sessions and runs, the description of a selection, a
// download into a file that `qvl info` reads, stopping, the saved-downloads text on reopening, a
// misplaced session start, the hidden controls, and the main window's "Internal Flash..." with
// its question while logging.
#include "tool/forms/log_download_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "sim/sim_channel.h"
#include "test_paths.h"
#include "tool/flash_texts.h"
#include "tool/forms/main_form.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 30000;

// A season on the smallest flash with short runs; the line slowed down so that listing and
// downloading take long enough to be seen and stopped.
sim::TSimOptions Season(int bytesPerSecond = 0) {
  sim::TSimOptions o;
  o.season.enabled = true;
  o.season.runSecondsMin = 10;
  o.season.runSecondsMax = 40;
  o.season.runsMax = 3;
  o.season.pauseSecondsMin = 5;
  o.season.pauseSecondsMax = 60;
  o.season.currentRunSeconds = 20;
  o.bytesPerSecond = bytesPerSecond;
  return o;
}

// The tool's main window on a simulated logger, and the download window on its controller.
struct THost {
  std::string folder;
  std::shared_ptr<sim::TSimChannel> sim;
  std::unique_ptr<TfrmEcu1> main;
  TIniFile settings;
  QStringList messages;
  std::vector<TFlashDownload::TOutcome> asked;
  QString saveAs;  // what the save dialog answers
  std::vector<std::string> viewerStarts;

  THost(const std::string& name, const sim::TSimOptions& options) {
    test::WindowTestApp();
    folder = test::TempFolder(name);
    sim = std::make_shared<sim::TSimChannel>(options);
    TToolOptions o;
    o.settingsFile = folder + "/QVL2Pro.ini";
    o.link = sim;
    o.listSerialPorts = [] { return std::vector<std::string>{}; };
    o.showMessage = [this](const QString& text, bool) { messages << text; };
    main = std::make_unique<TfrmEcu1>(o);
  }
  bool Connect() {
    return QTest::qWaitFor([&] { return main->Controller().Connected(); }, kWaitMs);
  }
  std::unique_ptr<TfrmLogDownload> Window() {
    TLogDownloadHooks hooks;
    hooks.showMessage = [this](const QString& text, bool) { messages << text; };
    hooks.askFileName = [this](const TFlashDownload::TOutcome& o) {
      asked.push_back(o);
      return saveAs;
    };
    hooks.confirm = [this](const QString& text) {
      messages << text;
      return true;
    };
    hooks.startViewer = [this](const std::string& f) { viewerStarts.push_back(f); };
    return std::make_unique<TfrmLogDownload>(main->Controller(), settings, hooks, main.get());
  }
  int Pauses() { return main->Controller().CommThread()->PauseCount(); }
  template <typename F>
  auto WithLogger(F f) {
    return test::WithLogger(*sim, f);
  }
};

bool WaitListed(TfrmLogDownload& d) {
  return QTest::qWaitFor([&] { return !d.Engine().Listing(); }, kWaitMs);
}

QTreeWidgetItem* Node(TfrmLogDownload& d, int session, int run) {
  QTreeWidgetItem* top = d.Tree()->topLevelItem(session);
  return run < 0 ? top : top->child(run);
}

QString Text(TfrmLogDownload& d, const char* name) {
  return d.findChild<QLabel*>(name)->text();
}

TEST(LogDownloadWindow, ListsTheSeasonAndDescribesASelectedRun) {
  THost h("tree", Season(20000));
  ASSERT_TRUE(h.Connect());
  auto d = h.Window();
  EXPECT_EQ(d->windowTitle(), "Internal Flash Data Download");
  ASSERT_TRUE(d->Open());
  d->show();
  // The current session is handed over first; the dots go on while older ones are listed.
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Tree()->topLevelItemCount() >= 1; }, kWaitMs));
  EXPECT_EQ(d->Tree()->topLevelItem(0)->text(0), "Current session:");
  if (d->Engine().Listing()) {
    EXPECT_TRUE(d->findChild<QLabel*>("lblListing")->isVisible());
    EXPECT_TRUE(d->grab().save(test::ScreenshotFolder() + "/log_download_listing.png"));
  }
  ASSERT_TRUE(WaitListed(*d));
  EXPECT_FALSE(d->findChild<QLabel*>("lblListing")->isVisible());

  const auto recorded = h.WithLogger([](auto& l) { return l.Season()->Surviving(); });
  const int32_t sectors = int32_t(h.main->Controller().FlashSize() / 4096);
  ASSERT_EQ(d->Tree()->topLevelItemCount(), int(recorded.size()));
  bool partial = false, wraps = false;
  for (int k = 0; k < int(recorded.size()); ++k) {
    // The tree shows the current session first, then the older ones from the newest.
    const sim::TSeasonSession& want = recorded[recorded.size() - 1 - size_t(k)];
    const QString text = Node(*d, k, -1)->text(0);
    SCOPED_TRACE(text.toStdString());
    if (k > 0) {
      EXPECT_TRUE(text.startsWith(QString("Session -%1: ").arg(k)));
      EXPECT_EQ(text.endsWith(" (partial)"), want.partial);
      EXPECT_EQ(text.contains("(unknown start time)"),
                want.clock == sim::TSeasonSession::TClock::None);
    }
    partial |= want.partial;
    wraps |= want.endSector > sectors;
    EXPECT_TRUE(Node(*d, k, -1)->isExpanded());
    ASSERT_EQ(Node(*d, k, -1)->childCount(), int(want.runs.size()));
    for (int r = 0; r < int(want.runs.size()); ++r) {
      const sim::TSeasonRun& run = want.runs[size_t(r)];
      const QString runText = Node(*d, k, r)->text(0);
      EXPECT_TRUE(runText.startsWith(QString("Run %1: ").arg(r + 1))) << runText.toStdString();
      EXPECT_TRUE(runText.contains(QString(", SDCard file name = ") +
                                   QString::fromStdString(SdCardFileName(run.sdNumber))))
          << runText.toStdString();
      EXPECT_EQ(runText.endsWith(" (partial)"), run.partial) << runText.toStdString();
    }
  }
  // The season holds what the tree must show: a cut oldest session and one across the ring end.
  EXPECT_TRUE(partial);
  EXPECT_TRUE(wraps);

  // A run: its size and download time, where it was saved (nowhere yet), Proceed enabled.
  const sim::TSeasonRun& run = recorded[recorded.size() - 2].runs[0];
  const int pages = run.endPage - run.startPage;
  d->Tree()->setCurrentItem(Node(*d, 1, 0));
  EXPECT_EQ(Text(*d, "lblInfo"),
            QString("Size: %1    Download time: %2\n\nNot saved previously on this computer")
                .arg(QString::fromStdString(FlashSizeText(uint64_t(pages) * 4096)),
                     QString::fromStdString(
                         FlashDurationText(double(RoundEven(pages * kSlowPageSeconds))))));
  EXPECT_EQ(Text(*d, "lblDebugCount"), QString("Nb pages: %1").arg(pages));
  EXPECT_TRUE(d->findChild<QPushButton*>("btnProceed")->isEnabled());
  d->Tree()->setCurrentItem(Node(*d, 1, -1));
  EXPECT_EQ(Text(*d, "lblDebugStart"),
            QString("Start sector: %1").arg(recorded[recorded.size() - 2].startSector));

  // Double-clicking expands every node.
  d->Tree()->collapseAll();
  emit d->Tree()->itemDoubleClicked(Node(*d, 0, -1), 0);
  for (int k = 0; k < d->Tree()->topLevelItemCount(); ++k)
    EXPECT_TRUE(Node(*d, k, -1)->isExpanded());
  EXPECT_TRUE(d->grab().save(test::ScreenshotFolder() + "/log_download_idle.png"));
  const QSize design = d->size();
  d->resize(design * 2);
  EXPECT_TRUE(d->grab().save(test::ScreenshotFolder() + "/log_download_idle_2x.png"));
  d->resize(design);
  for (QWidget* c : d->findChildren<QWidget*>())
    if (!c->objectName().isEmpty() && !c->objectName().startsWith("qt_")) {
      EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
    }

  // The hidden gestures: the adapter's version (none on this link), the debug panel whose
  // "Clear IFM" asks first and then erases the flash.
  QTest::mouseClick(d.get(), Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  ASSERT_FALSE(h.messages.isEmpty());
  EXPECT_EQ(h.messages.back(), "Tevra version 0.0");
  EXPECT_FALSE(d->findChild<QWidget*>("pnlDebug")->isVisible());
  QTest::mouseClick(d.get(), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_TRUE(d->findChild<QWidget*>("pnlDebug")->isVisible());
  const int messagesBefore = int(h.messages.size());
  d->findChild<QPushButton*>("btnClearIFM")->click();
  EXPECT_EQ(h.messages.size(), messagesBefore + 1);  // the question
  // Polling runs again after the listing: the erase goes out through its queue.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return h.WithLogger([](auto& l) { return l.CommandCount(0x42); }) == 1; }, kWaitMs));
  EXPECT_EQ(h.WithLogger([](auto& l) { return l.Season(); }), nullptr);

  // Closing gives the logger its log command back and polling goes on.
  d->reject();
  EXPECT_EQ(h.Pauses(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !h.WithLogger([](auto& l) { return l.LogBlocked(); }); },
                              kWaitMs));
}

TEST(LogDownloadWindow, DownloadsARunThatQvlReadsAndShowsItSavedOnReopening) {
  THost h("download", Season(200000));
  ASSERT_TRUE(h.Connect());
  auto d = h.Window();
  ASSERT_TRUE(d->Open());
  d->show();
  ASSERT_TRUE(WaitListed(*d));
  // The longest run of the newest older session.
  const auto& session = d->Engine().Sessions()[1];
  int run = 0;
  for (int r = 0; r < int(session.runs.size()); ++r)
    if (session.runs[size_t(r)].endPage - session.runs[size_t(r)].startPage >
        session.runs[size_t(run)].endPage - session.runs[size_t(run)].startPage)
      run = r;
  const TRunEntry entry = session.runs[size_t(run)];
  const QString runText = Node(*d, 1, run)->text(0);
  h.saveAs = QString::fromStdString(h.folder + "/ride.QVLog");

  d->Tree()->setCurrentItem(Node(*d, 1, run));
  auto* proceed = d->findChild<QPushButton*>("btnProceed");
  auto* bar = d->findChild<QProgressBar*>("pbDownload");
  proceed->click();
  EXPECT_EQ(proceed->text(), "Stop");
  EXPECT_TRUE(bar->isVisible());
  // The window takes events while pages arrive: the progress and the remaining time move.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !Text(*d, "lblRemaining").isEmpty() || !d->Busy(); }, kWaitMs));
  if (d->Busy()) {
    EXPECT_TRUE(Text(*d, "lblRemaining").endsWith(" remaining"));
    EXPECT_EQ(h.Pauses(), 1);
    EXPECT_TRUE(d->grab().save(test::ScreenshotFolder() + "/log_download_downloading.png"));
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d->Busy(); }, kWaitMs));

  // Saved where the user said, the viewer started on it, the window idle again.
  ASSERT_EQ(h.asked.size(), 1u);
  EXPECT_FALSE(h.asked[0].stopped);
  EXPECT_EQ(h.asked[0].pagesRead, entry.endPage - entry.startPage);
  EXPECT_EQ(h.viewerStarts, std::vector<std::string>{h.saveAs.toStdString()});
  EXPECT_EQ(proceed->text(), "Proceed");
  EXPECT_FALSE(proceed->isEnabled());
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(d->Tree()->currentItem(), nullptr);
  EXPECT_FALSE(Node(*d, 1, run)->icon(0).isNull());
  EXPECT_EQ(h.Pauses(), 0);
  EXPECT_TRUE(h.messages.isEmpty()) << h.messages.join("; ").toStdString();
  d->reject();
  d.reset();
  EXPECT_EQ(
      h.settings.ReadString("IFMDownloads", std::to_string(RunDeviceTime(session, entry)), ""),
      h.saveAs.toStdString());

  // qvl reads the file: a download with the one run.
  QProcess qvl;
  qvl.start(QString::fromStdString(test::BinDir() + "/qvl"), {"info", h.saveAs});
  ASSERT_TRUE(qvl.waitForFinished(kWaitMs));
  const QString info = QString::fromUtf8(qvl.readAllStandardOutput());
  EXPECT_EQ(qvl.exitCode(), 0) << qvl.readAllStandardError().toStdString();
  EXPECT_TRUE(info.contains("Form            download file")) << info.toStdString();
  EXPECT_TRUE(info.contains("Runs            1\n")) << info.toStdString();

  // Next time the run says where it was saved.
  auto again = h.Window();
  ASSERT_TRUE(again->Open());
  ASSERT_TRUE(WaitListed(*again));
  QTreeWidgetItem* found = nullptr;
  for (int k = 0; k < again->Tree()->topLevelItemCount(); ++k)
    for (int r = 0; r < Node(*again, k, -1)->childCount(); ++r)
      if (Node(*again, k, r)->text(0) == runText) found = Node(*again, k, r);
  ASSERT_NE(found, nullptr) << runText.toStdString();
  EXPECT_FALSE(found->icon(0).isNull());
  again->Tree()->setCurrentItem(found);
  EXPECT_TRUE(Text(*again, "lblInfo")
                  .endsWith(QString("Saved in \"ride.QVLog\"\nFolder '%1'")
                                .arg(QString::fromStdString(h.folder))))
      << Text(*again, "lblInfo").toStdString();
}

TEST(LogDownloadWindow, StopInTheMiddleLeavesTheWindowIdleWithoutAFile) {
  THost h("stop", Season(40000));
  ASSERT_TRUE(h.Connect());
  auto d = h.Window();
  ASSERT_TRUE(d->Open());
  ASSERT_TRUE(WaitListed(*d));
  // The older session with the most pages.
  int session = 1;
  for (int k = 1; k < d->Tree()->topLevelItemCount(); ++k)
    if (d->Engine().Describe(k, -1).pages > d->Engine().Describe(session, -1).pages) session = k;
  const int64_t pages = d->Engine().Describe(session, -1).pages;
  ASSERT_GE(pages, 4);
  d->Tree()->setCurrentItem(Node(*d, session, -1));
  auto* proceed = d->findChild<QPushButton*>("btnProceed");
  proceed->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Text(*d, "lblRemaining").isEmpty(); }, kWaitMs));
  ASSERT_TRUE(d->Busy());
  proceed->click();  // "Stop"
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d->Busy(); }, kWaitMs));
  // Asked with the pages read so far; the user keeps nothing.
  ASSERT_EQ(h.asked.size(), 1u);
  EXPECT_TRUE(h.asked[0].stopped);
  EXPECT_LT(h.asked[0].pagesRead, pages);
  for (const auto& entry : std::filesystem::directory_iterator(h.folder))
    EXPECT_NE(entry.path().extension(), ".QVLog") << entry.path();
  EXPECT_TRUE(h.viewerStarts.empty());
  EXPECT_EQ(proceed->text(), "Proceed");
  EXPECT_FALSE(d->findChild<QProgressBar*>("pbDownload")->isVisible());
  EXPECT_EQ(h.Pauses(), 0);
  EXPECT_FALSE(d->Engine().IsSaved(session, -1));
  // Polling runs again: the main window records live values.
  const size_t before = h.main->LiveRecord().Count();
  EXPECT_TRUE(QTest::qWaitFor([&] { return h.main->LiveRecord().Count() > before; }, kWaitMs));

  // Closing in the middle of a download stops it, asks nothing and then closes.
  bool finished = false;
  QObject::connect(d.get(), &QDialog::finished, [&] { finished = true; });
  d->Tree()->setCurrentItem(Node(*d, session, -1));
  proceed->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Text(*d, "lblRemaining").isEmpty(); }, kWaitMs));
  d->reject();
  EXPECT_FALSE(finished);
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, kWaitMs));
  EXPECT_EQ(h.asked.size(), 1u);
  EXPECT_EQ(h.Pauses(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !h.WithLogger([](auto& l) { return l.LogBlocked(); }); },
                              kWaitMs));
}

TEST(LogDownloadWindow, AMisplacedSessionStartIsShownWithoutAListing) {
  sim::TSimOptions options = Season();
  options.faults.sessionStartSkew = 10;
  THost h("misplaced", options);
  ASSERT_TRUE(h.Connect());
  auto d = h.Window();
  EXPECT_FALSE(d->Open());
  EXPECT_EQ(h.messages, QStringList{"Session start not at correct position in flash"});
  EXPECT_FALSE(d->Engine().Listing());
  EXPECT_EQ(d->Tree()->topLevelItemCount(), 0);
  EXPECT_EQ(h.Pauses(), 0);
}

TEST(LogDownloadWindow, InternalFlashAsksWhileLoggingAndGivesTheLoggerBack) {
  THost h("menu", Season());
  ASSERT_TRUE(h.Connect());
  // Logging: the action asks first.
  ASSERT_TRUE(QTest::qWaitFor([&] { return h.main->Controller().LoggingState() == 2; }, kWaitMs));
  auto* action = h.main->findChild<QAction*>("actLoggedData");
  ASSERT_TRUE(action && action->isEnabled());
  // Answers the question box, then closes the download window when it comes.
  QString question;
  bool windowSeen = false;
  // The download window comes once the question box has returned: it is closed from there.
  auto closeWindow = [&] {
    QTimer::singleShot(0, [&] {
      (void)QTest::qWaitFor(
          [] { return qobject_cast<TfrmLogDownload*>(QApplication::activeModalWidget()); },
          kWaitMs);
      if (auto* d = qobject_cast<TfrmLogDownload*>(QApplication::activeModalWidget())) {
        windowSeen = true;
        WaitListed(*d);
        d->reject();
      }
    });
  };
  auto answer = [&](QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [&, button] {
      (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, kWaitMs);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      question = box->text();
      if (button == QMessageBox::Yes) closeWindow();
      box->button(button)->click();
    });
  };
  answer(QMessageBox::Cancel);
  action->trigger();
  EXPECT_EQ(question, "This will stop the current logging run.  Do you wish to continue?");
  EXPECT_FALSE(windowSeen);
  EXPECT_EQ(h.WithLogger([](auto& l) { return l.CommandCount(0x40); }), 0);

  answer(QMessageBox::Yes);
  action->trigger();
  EXPECT_TRUE(windowSeen);
  EXPECT_EQ(h.WithLogger([](auto& l) { return l.CommandCount(0x40); }), 1);
  EXPECT_EQ(h.Pauses(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !h.WithLogger([](auto& l) { return l.LogBlocked(); }); },
                              kWaitMs));
}

}  // namespace
}  // namespace qvl
