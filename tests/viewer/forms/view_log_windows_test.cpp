// The windows the viewer's main window opens, driven from it on the offscreen platform: the
// histogram of a strip from the histogram menu (one window per strip, reused, gone at the first
// strip change after a layout choice), "Export..." over a strip, the overlay manager drawing an
// added file that stays through strip changes and a new main file, and the notes pop-up from the
// action and from pointing at its button.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <functional>
#include <map>

#include "core/logdata/data_log_store.h"
#include "viewer/channel_menu.h"
#include "viewer/forms/export_form.h"
#include "viewer/forms/histogram_form.h"
#include "viewer/forms/notes_form.h"
#include "viewer/forms/overlay_manager_form.h"
#include "viewer/forms/view_log_form.h"
#include "viewer/logic/ride_file.h"
#include "viewer/stripchart/strip_chart.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

std::string Folder() {
  static const std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("qvl-viewer-windows-" + std::to_string(::getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}

// A main window with its own settings; the open dialog answers `nextFile`.
struct TWindows {
  QString nextFile;
  std::unique_ptr<TfrmViewLog> window;
  TWindows() {
    test::WindowTestApp();
    TViewerOptions o;
    o.settingsFile = Folder() + "/QVL2View.ini";
    o.showMessage = [](const QString& text, bool) { ADD_FAILURE() << text.toStdString(); };
    o.askQuestion = [](const QString&) { return QMessageBox::No; };
    o.chooseFile = [this] { return nextFile; };
    window = std::make_unique<TfrmViewLog>(std::move(o));
    window->resize(1200, 760);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  TfrmViewLog& W() { return *window; }
  const std::vector<float>& Curve(int strip, int slot) {
    return W().Chart()->Channels(strip)->Plots(slot)->Values();
  }
};

const std::string& Ride(const std::string& name) {
  static std::map<std::string, std::string> files;
  auto& path = files[name];
  if (path.empty()) path = testing::WriteRideFile("qvl_viewer_windows_" + name);
  return path;
}

// Runs `step` on the next modal window that opens (polled from the event loop).
void OnNextModal(std::function<void(QWidget*)> step, QWidget* previous = nullptr) {
  QTimer::singleShot(10, [step, previous] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != previous)
      step(modal);
    else
      OnNextModal(step, previous);
  });
}

TEST(ViewLogWindows, HistogramMenuOpensOneWindowPerStripUntilTheArrangementChanges) {
  TWindows w;
  EXPECT_FALSE(w.W().findChild<QWidget*>("tbHistograms")->isEnabled()) << "no file yet";
  ASSERT_TRUE(w.W().OpenFile(QString::fromStdString(Ride("main.QVLog"))));
  EXPECT_TRUE(w.W().findChild<QWidget*>("tbHistograms")->isEnabled());
  QMenu* menu = w.W().HistogramMenu();
  ASSERT_EQ(menu->actions().size(), qsizetype(w.W().Strips().size()));
  ASSERT_GE(menu->actions().size(), 2);
  const QString title = QString::fromStdString(w.W().Display().Chart().strips[1].title);
  EXPECT_EQ(menu->actions()[1]->text(), title);

  menu->actions()[1]->trigger();
  QPointer<TfrmHistogram> histogram = w.W().HistogramWindow(1);
  ASSERT_TRUE(histogram);
  EXPECT_TRUE(histogram->isVisible());
  EXPECT_EQ(histogram->Strip(), 1);
  EXPECT_EQ(histogram->windowTitle(), "Histogram - " + title);
  EXPECT_GT(histogram->Histogram().used, 0);
  EXPECT_EQ(w.W().HistogramWindow(0), nullptr);
  w.W().HistogramMenu()->actions()[1]->trigger();
  EXPECT_EQ(w.W().HistogramWindow(1), histogram.data()) << "reused";

  // The first strip change after the layout was chosen discards the windows.
  w.W().MenuChoice(0, kMenuMore);
  EXPECT_TRUE(histogram.isNull());
  w.W().HistogramMenu()->actions()[1]->trigger();
  histogram = w.W().HistogramWindow(1);
  ASSERT_TRUE(histogram);
  w.W().MenuChoice(0, kMenuMore);
  EXPECT_FALSE(histogram.isNull()) << "only the first change after a choice";
}

TEST(ViewLogWindows, ExportFromTheChannelMenuWritesTheStripsFile) {
  TWindows w;
  ASSERT_TRUE(w.W().OpenFile(QString::fromStdString(Ride("main.QVLog"))));
  QAction* exportItem = nullptr;
  for (QAction* a : w.W().ChannelMenu(true, 1)->actions())
    if (a->text() == "Export...") exportItem = a;
  ASSERT_NE(exportItem, nullptr);
  ASSERT_TRUE(exportItem->isEnabled() && exportItem->isVisible());

  // The event list headings of the docked data panel show whole.
  w.W().SetDataPanelDocked(true);
  QApplication::processEvents();
  for (int k = 0; k < 4; ++k) {
    QLabel* heading = w.W().EventCountLabel(k);
    const QRect room = heading->contentsRect();
    EXPECT_TRUE(heading->text().endsWith(')'));
    EXPECT_TRUE(room.contains(heading->fontMetrics().boundingRect(
        room, Qt::TextWordWrap | int(heading->alignment()), heading->text())))
        << heading->text().toStdString();
  }

  const std::string out = Folder() + "/strip.txt";
  QString selected;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<TfrmExport*>(modal);
    ASSERT_NE(dialog, nullptr);
    selected = dialog->findChild<QLabel*>("lblSelected")->text();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    OnNextModal(
        [&](QWidget* save) {
          auto* d = qobject_cast<QFileDialog*>(save);
          ASSERT_NE(d, nullptr);
          d->selectFile(QString::fromStdString(out));
          static_cast<QDialog*>(d)->accept();
        },
        dialog);
  });
  exportItem->trigger();
  EXPECT_EQ(selected, QString::fromStdString(w.W().Display().Chart().strips[1].title));
  ASSERT_TRUE(std::filesystem::exists(out));
  EXPECT_GT(std::filesystem::file_size(out), 1000u);
}

TEST(ViewLogWindows, OverlayManagerDrawsAnAddedFileThatStaysWithANewMainFile) {
  TWindows w;
  ASSERT_TRUE(w.W().OpenFile(QString::fromStdString(Ride("main.QVLog"))));
  w.W().Action("actOverlays")->trigger();
  TfrmOverlayManager* manager = w.W().OverlayManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_TRUE(manager->isVisible());
  EXPECT_EQ(manager->frameGeometry().right(), w.W().frameGeometry().right()) << "at the right edge";
  EXPECT_GE(manager->y(),
            w.W().mapToGlobal(w.W().findChild<QToolBar*>()->geometry().bottomLeft()).y());
  EXPECT_EQ(manager->List()->count(), 1);

  w.nextFile = QString::fromStdString(Ride("overlay.QVLog"));
  manager->findChild<QPushButton*>("btnAdd")->click();
  ASSERT_EQ(w.W().Display().SlotCount(), 2);
  EXPECT_EQ(manager->List()->count(), 2);
  EXPECT_FALSE(w.Curve(0, 1).empty()) << "the overlay is drawn";

  // A strip change rebuilds the strips: the overlay is drawn into them again.
  w.W().MenuChoice(0, kMenuMore);
  EXPECT_FALSE(w.Curve(0, 1).empty());

  ASSERT_TRUE(w.W().OpenFile(QString::fromStdString(Ride("second.QVLog"))));
  EXPECT_EQ(w.W().Display().SlotCount(), 2);
  ASSERT_EQ(manager->List()->count(), 2) << "listed again with the new main file";
  EXPECT_TRUE(manager->List()->item(0)->text().startsWith("qvl_viewer_windows_second"));
  EXPECT_FALSE(w.Curve(0, 1).empty());
  w.W().ShowOverlays();
  EXPECT_EQ(w.W().OverlayManager(), manager) << "created once";
}

TEST(ViewLogWindows, NotesFromTheActionAndFromPointingAtTheButton) {
  TWindows w;
  testing::TRideFile ride;
  ride.runSeconds = 12;
  const std::string path = testing::WriteRecordRideFile("qvl_viewer_windows_notes.QVLog", ride);
  ASSERT_TRUE(w.W().OpenFile(QString::fromStdString(path)));
  w.W().DisplaySelection(1);
  w.W().Action("actShowNotes")->trigger();
  QPointer<TfrmNotes> notes = w.W().NotesWindow();
  ASSERT_TRUE(notes);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(notes));
  notes->FrontEdit()->setFocus();
  QTest::keyClicks(notes->FrontEdit(), "Rebound 3");
  EXPECT_FALSE(w.W().SaveEnabled());
  notes->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return notes.isNull(); }, kWaitMs));
  EXPECT_TRUE(w.W().SaveEnabled());
  EXPECT_NE(w.W().Display().MainSlot().store->GetRunNote(1).find("Rebound 3"), std::string::npos)
      << "the displayed run's notes";

  // The button's hint is the notes window.
  QWidget* button = w.W().findChild<QWidget*>("btnShowNotes");
  ASSERT_NE(button, nullptr);
  QHelpEvent hint(QEvent::ToolTip, QPoint(4, 4), button->mapToGlobal(QPoint(4, 4)));
  QApplication::sendEvent(button, &hint);
  notes = w.W().NotesWindow();
  ASSERT_TRUE(notes);
  EXPECT_EQ(notes->FrontEdit()->text(), "Rebound 3");
  notes->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return notes.isNull(); }, kWaitMs));
}

}  // namespace
}  // namespace qvl
