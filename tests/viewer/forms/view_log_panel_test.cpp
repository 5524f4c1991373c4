// The main window's data panel on the offscreen platform: every text of the panel in its own
// place, none cut off, at the window sizes people use, whatever the texts; and the read-outs
// filled for the cursor wherever a file opening or a selection change leaves it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <functional>

#include "viewer/forms/view_log_form.h"
#include "viewer/logic/ride_file.h"
#include "window_test_support.h"

namespace qvl {
namespace {

struct TPanelWindow {
  std::unique_ptr<TfrmViewLog> window;
  explicit TPanelWindow(const std::string& name) {
    test::WindowTestApp();
    TViewerOptions o;
    o.settingsFile = test::TempFolder("panel-" + name) + "/QVL2View.ini";
    o.showMessage = [](const QString& text, bool) { ADD_FAILURE() << text.toStdString(); };
    o.askQuestion = [](const QString&) { return QMessageBox::No; };
    window = std::make_unique<TfrmViewLog>(std::move(o));
    window->resize(1280, 800);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  TfrmViewLog& W() { return *window; }
  // The cursor read-outs of the panel's first group, as shown.
  QStringList Readouts() const {
    QStringList texts{window->findChild<QPushButton*>("btnTime")->text()};
    for (const char* name : {"lblSession", "lblSessionStart", "lblRun", "lblRunStart",
                             "lblRunLength", "lblFrontTravel", "lblFrontSpeed"})
      texts << window->ReadoutLabel(name)->text();
    return texts;
  }
};

QRect InPanel(QWidget* panel, QWidget* w) {
  return QRect(w->mapTo(panel, QPoint(0, 0)), w->size());
}

// Lets the layouts settle: a relayout that changes a text's width asks for the next one.
void Settle() {
  for (int round = 0; round < 4; ++round) QApplication::processEvents();
}

// The part of the panel its groups show in.
QRect GroupsView(QWidget* panel) {
  QWidget* view = panel->findChild<QScrollArea*>()->viewport();
  return InPanel(panel, view);
}

// What is wrong with the panel's arrangement as shown: a text cut off by its own box, two texts
// or two groups over each other, and with `allInView` a text outside the panel's view.
QStringList PanelFaults(QWidget* panel, bool allInView) {
  QStringList faults;
  std::vector<QWidget*> texts;
  for (QWidget* w : panel->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(panel) || !(qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w) ||
                                    qobject_cast<QListWidget*>(w) || qobject_cast<QGroupBox*>(w)))
      continue;
    const QString name = w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
    const QRect r = InPanel(panel, w);
    if (allInView && !GroupsView(panel).contains(r))
      faults << QString("%1 out of view: %2,%3 %4x%5")
                    .arg(name)
                    .arg(r.x())
                    .arg(r.y())
                    .arg(r.width())
                    .arg(r.height());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      const int need =
          label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
      if (label->height() < need ||
          (!label->wordWrap() && label->width() < label->sizeHint().width()))
        faults << QString("%1 cut off: %2x%3 for \"%4\"")
                      .arg(name)
                      .arg(label->width())
                      .arg(label->height())
                      .arg(label->text());
    } else if (auto* box = qobject_cast<QGroupBox*>(w);
               box && box->height() < box->minimumSizeHint().height()) {
      faults << QString("%1 squeezed: %2 of %3")
                    .arg(name)
                    .arg(box->height())
                    .arg(box->minimumSizeHint().height());
    }
    texts.push_back(w);
  }
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j) {
      QWidget *a = texts[i], *b = texts[j];
      // A group holds its texts; texts of different groups and the groups themselves are apart.
      if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
      if (InPanel(panel, a).intersects(InPanel(panel, b)))
        faults << QString("%1 over %2: \"%3\" / \"%4\"")
                      .arg(a->objectName(), b->objectName(),
                           qobject_cast<QLabel*>(a) ? qobject_cast<QLabel*>(a)->text() : "",
                           qobject_cast<QLabel*>(b) ? qobject_cast<QLabel*>(b)->text() : "");
    }
  return faults;
}

TEST(ViewLogPanel, EveryTextHasItsPlaceAtCommonSizesAndScrollsInALowWindow) {
  TPanelWindow v("layout");
  testing::TRideFile sessions;
  sessions.sessions = 2;
  sessions.runSeconds = 12;
  const std::string session =
      testing::WriteRecordRideFile("qvl_viewer_panel_sessions.QVLog", sessions);
  const std::string ride = testing::WriteRideFile("qvl_viewer_panel_ride.QVLog");
  for (const std::string& file : {ride, session}) {
    ASSERT_TRUE(v.W().OpenFile(QString::fromStdString(file)));
    for (QSize size : {QSize(1280, 800), QSize(1920, 1080)})
      for (bool docked : {true, false}) {
        v.W().resize(size);
        v.W().SetDataPanelDocked(docked);
        Settle();
        const QStringList faults = PanelFaults(v.W().DataPanel(), true);
        EXPECT_TRUE(faults.isEmpty())
            << faults.join("\n").toStdString() << "\n"
            << file << " " << size.width() << "x" << size.height() << (docked ? " docked" : "");
      }
  }
  // Too low for every group: they keep their sizes and scroll.
  v.W().resize(1280, 520);
  Settle();
  auto* scroll = v.W().DataPanel()->findChild<QScrollArea*>();
  EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
  const QStringList faults = PanelFaults(v.W().DataPanel(), false);
  EXPECT_TRUE(faults.isEmpty()) << faults.join("\n").toStdString();
}

// The read-outs after a file opens or the selection changes are those of the cursor where it
// stands: moving it there by hand shows the same.
TEST(ViewLogPanel, ReadoutsFollowEveryChangeOfSelection) {
  TPanelWindow v("readouts");
  testing::TRideFile sessions;
  sessions.sessions = 2;
  sessions.runSeconds = 12;
  ASSERT_TRUE(v.W().OpenFile(
      QString::fromStdString(testing::WriteRideFile("qvl_viewer_panel_ride.QVLog"))));
  const QString file = QString::fromStdString(
      testing::WriteRecordRideFile("qvl_viewer_panel_sessions.QVLog", sessions));
  const std::vector<std::pair<const char*, std::function<void()>>> steps = {
      {"open", [&] { ASSERT_TRUE(v.W().OpenFile(file)); }},
      {"next run", [&] { v.W().NextRun(); }},
      {"all runs", [&] { v.W().SetAllRuns(true); }},
      {"next session", [&] { v.W().NextSession(); }},
      {"single run", [&] { v.W().SetAllRuns(false); }},
      {"layout", [&] { v.W().ApplyLayout(0); }},
  };
  for (const auto& [name, step] : steps) {
    // Read-outs left from elsewhere, which the step must replace.
    v.W().MoveCursor(5678);
    step();
    const QStringList shown = v.Readouts();
    const int64_t c = v.W().CursorSample();
    ASSERT_GE(c, 0) << name;
    v.W().MoveCursor(c + 1);
    v.W().MoveCursor(c);
    EXPECT_EQ(shown, v.Readouts()) << name;
    EXPECT_TRUE(shown[3].startsWith("Run\n")) << name;
  }
}

}  // namespace
}  // namespace qvl
