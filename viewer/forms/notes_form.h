// TfrmNotes: the pop-up with one run's notes (front and rear suspension settings, track notes and
// free text), shown at the mouse with the tooltip background. It closes by itself when the mouse
// leaves it before anything is edited, and when it loses activation; a modified window hands its
// notes text to the store on closing. The text itself is built by viewer/run_notes.h.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPropertyAnimation;

namespace qvl {

class TDataLogStore;

class TfrmNotes : public QWidget {
  Q_OBJECT
 public:
  // The notes of run `run` of `store`; `stored` runs after the notes were handed to the store
  // (the main window enables Save).
  TfrmNotes(TDataLogStore& store, int run, std::function<void()> stored, QWidget* parent = nullptr);

  // Opens a pop-up for the run with its top-left corner 50 pixels left of and 20 pixels above
  // `mouse` (global). It deletes itself when closed.
  static TfrmNotes* Open(TDataLogStore& store, int run, QPoint mouse, std::function<void()> stored,
                         QWidget* parent = nullptr);

  bool Modified() const { return modified_; }
  QLineEdit* FrontEdit() const { return edFrontSuspension_; }
  QLineEdit* RearEdit() const { return edRearSuspension_; }
  QLineEdit* TrackEdit() const { return edTrack_; }
  QPlainTextEdit* OtherMemo() const { return memoOtherNotes_; }
  QLineEdit* DummyEdit() const { return edDummy_; }
  bool AutoCloseArmed() const { return autoClose_.isActive(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowAt(QPoint mouse);
  void MouseMoved();
  void AutoCloseFired();
  void Store();

  TDataLogStore& store_;
  int run_;
  std::function<void()> stored_;
  QLineEdit* edFrontSuspension_ = nullptr;
  QLineEdit* edRearSuspension_ = nullptr;
  QLineEdit* edTrack_ = nullptr;
  QPlainTextEdit* memoOtherNotes_ = nullptr;
  QLineEdit* edDummy_ = nullptr;
  QTimer autoClose_;
  bool editing_ = false;  // an edit had the focus: no auto-close any more
  bool modified_ = false;
  bool closing_ = false;
  bool faded_ = false;
  bool activated_ = false;
  QPointer<QPropertyAnimation> animation_;
};

}  // namespace qvl
