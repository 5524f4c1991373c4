// The run notes pop-up: notes typed, closed, saved with the file and there again when it is
// opened; a pop-up the mouse leaves without a click closes by itself and stores nothing; clearing
// the front setting removes its key; a screenshot of the pop-up.
#include "viewer/forms/notes_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <cstdlib>

#include "core/logdata/log_file.h"
#include "test_paths.h"
#include "viewer/run_display.h"
#include "viewer/run_notes.h"
#include "window_test_support.h"

namespace qvl {
namespace {

constexpr int kWaitMs = 15000;

std::string Ride(const std::string& name) {
  const std::string path =
      ::testing::TempDir() + "notes_form_" + std::to_string(::getpid()) + "_" + name;
  EXPECT_EQ(
      std::system(
          (test::BinDir() + "/qvl sim record -o " + path + " --seconds 15 >/dev/null").c_str()),
      0);
  return path;
}

// Closes the pop-up as a click elsewhere does and waits until it is gone.
bool CloseAndWait(TfrmNotes* notes) {
  QPointer<TfrmNotes> p(notes);
  p->close();
  return QTest::qWaitFor([&] { return p.isNull(); }, kWaitMs);
}

TEST(NotesForm, TypedNotesAreSavedWithTheFileAndReadBack) {
  test::WindowTestApp();
  const std::string path = Ride("typed.QVLog");
  TFileSlot slot;
  OpenLogFile(slot, path);
  int stored = 0;
  TfrmNotes* notes = TfrmNotes::Open(*slot.store, 0, QPoint(300, 200), [&] { ++stored; });
  ASSERT_TRUE(QTest::qWaitForWindowExposed(notes));
  EXPECT_TRUE(notes->DummyEdit()->hasFocus()) << "nothing is being edited yet";
  EXPECT_TRUE(QTest::qWaitFor([&] { return notes->pos() == QPoint(250, 180); }, kWaitMs))
      << "50 px left of and 20 px above the mouse";
  notes->FrontEdit()->setFocus();
  QTest::keyClicks(notes->FrontEdit(), "  Rebound 4 clicks ");
  notes->OtherMemo()->setFocus();
  QTest::keyClicks(notes->OtherMemo(), "Dry");
  QTest::keyClick(notes->OtherMemo(), Qt::Key_Return);
  QTest::keyClick(notes->OtherMemo(), Qt::Key_Return);
  QTest::keyClicks(notes->OtherMemo(), "Rocks");
  QDir dir(QString::fromStdString(test::BinDir()) + "/../screenshots");
  dir.mkpath(".");
  EXPECT_TRUE(notes->grab().save(dir.filePath("viewer_notes_popup.png")));
  ASSERT_TRUE(CloseAndWait(notes));
  EXPECT_EQ(stored, 1) << "Save is enabled";

  SaveLogFile(path, *slot.controller, *slot.store, slot.info);
  TFileSlot again;
  OpenLogFile(again, path);
  const TRunNotes read = ParseRunNotes(again.store->GetRunNote(0));
  EXPECT_EQ(read.front, "Rebound 4 clicks");
  EXPECT_EQ(read.other, (std::vector<std::string>{"Dry", "", "Rocks"}));

  // Shown again in a new pop-up; clearing the front setting removes its key.
  notes = TfrmNotes::Open(*again.store, 0, QPoint(300, 200), [&] { ++stored; });
  EXPECT_EQ(notes->FrontEdit()->text(), "Rebound 4 clicks");
  EXPECT_EQ(notes->OtherMemo()->toPlainText(), "Dry\n\nRocks");
  notes->FrontEdit()->setFocus();
  notes->FrontEdit()->selectAll();
  QTest::keyClick(notes->FrontEdit(), Qt::Key_Backspace);
  ASSERT_TRUE(CloseAndWait(notes));
  EXPECT_EQ(again.store->GetRunNote(0).find("Front"), std::string::npos);
  EXPECT_EQ(ParseRunNotes(again.store->GetRunNote(0)).other.size(), 3u);
}

TEST(NotesForm, MouseLeavingWithoutAClickClosesItAndStoresNothing) {
  test::WindowTestApp();
  TFileSlot slot;
  OpenLogFile(slot, Ride("away.QVLog"));
  slot.store->SetRunNote(0, "[Notes]\r\nTrack=Woods\r\n");
  bool stored = false;
  QPointer<TfrmNotes> notes =
      TfrmNotes::Open(*slot.store, 0, QPoint(300, 200), [&] { stored = true; });
  ASSERT_TRUE(QTest::qWaitForWindowExposed(notes));
  EXPECT_EQ(notes->TrackEdit()->text(), "Woods");
  QTest::mouseMove(notes, QPoint(20, 20));
  EXPECT_TRUE(notes->AutoCloseArmed());
  QCursor::setPos(QPoint(900, 700));  // away from the window
  EXPECT_TRUE(QTest::qWaitFor([&] { return notes.isNull(); }, kWaitMs));
  EXPECT_FALSE(stored);
  EXPECT_EQ(slot.store->GetRunNote(0), "[Notes]\r\nTrack=Woods\r\n");
}

}  // namespace
}  // namespace qvl
