#include "viewer/forms/notes_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QScreen>

#include "core/logdata/data_log_store.h"
#include "viewer/qt_text.h"
#include "viewer/run_notes.h"

namespace qvl {
namespace {

constexpr int kAutoCloseMs = 500;
constexpr int kExpandMs = 250;
constexpr int kFadeMs = 300;

}  // namespace

TfrmNotes::TfrmNotes(TDataLogStore& store, int run, std::function<void()> stored, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      store_(store),
      run_(run),
      stored_(std::move(stored)) {
  setObjectName("frmNotes");
  setWindowTitle("Notes");
  setAttribute(Qt::WA_DeleteOnClose);
  setAutoFillBackground(true);
  // The tooltip colours.
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
  colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
  setPalette(colours);
  setMouseTracking(true);

  auto* grid = new QGridLayout(this);
  auto edit = [&](const char* name, const QString& caption, int row) {
    auto* label = new QLabel(caption);
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setAccessibleName(caption);
    e->setFrame(false);
    label->setBuddy(e);
    grid->addWidget(label, row, 0);
    grid->addWidget(e, row, 1);
    return e;
  };
  edFrontSuspension_ = edit("edFrontSuspension", "Front susp. setting", 0);
  edRearSuspension_ = edit("edRearSuspension", "Rear susp. setting", 1);
  edTrack_ = edit("edTrack", "Track notes", 2);
  auto* other = new QLabel("Other");
  grid->addWidget(other, 3, 0, Qt::AlignTop);
  memoOtherNotes_ = new QPlainTextEdit;
  memoOtherNotes_->setObjectName("memoOtherNotes");
  memoOtherNotes_->setAccessibleName("Other");
  memoOtherNotes_->setFixedHeight(90);
  grid->addWidget(memoOtherNotes_, 3, 1);
  // Holds the focus while nothing is being edited.
  edDummy_ = new QLineEdit(this);
  edDummy_->setObjectName("edDummy");
  edDummy_->setAccessibleName("Notes");
  edDummy_->setFixedSize(1, 1);
  edDummy_->setMaxLength(1);
  edDummy_->move(0, 0);

  const TRunNotes notes = ParseRunNotes(store_.GetRunNote(run_));
  edFrontSuspension_->setText(Cp1252ToQString(notes.front));
  edRearSuspension_->setText(Cp1252ToQString(notes.rear));
  edTrack_->setText(Cp1252ToQString(notes.track));
  QStringList lines;
  for (const std::string& l : notes.other) lines << Cp1252ToQString(l);
  memoOtherNotes_->setPlainText(lines.join('\n'));

  for (QLineEdit* e : {edFrontSuspension_, edRearSuspension_, edTrack_})
    connect(e, &QLineEdit::textEdited, this, [this] { modified_ = true; });
  connect(memoOtherNotes_, &QPlainTextEdit::textChanged, this, [this] { modified_ = true; });
  for (QWidget* w : findChildren<QWidget*>()) {
    w->setMouseTracking(true);
    w->installEventFilter(this);
  }
  memoOtherNotes_->viewport()->installEventFilter(this);
  memoOtherNotes_->viewport()->setMouseTracking(true);

  autoClose_.setSingleShot(true);
  autoClose_.setInterval(kAutoCloseMs);
  connect(&autoClose_, &QTimer::timeout, this, &TfrmNotes::AutoCloseFired);
  resize(360, 190);
  modified_ = false;
}

TfrmNotes* TfrmNotes::Open(TDataLogStore& store, int run, QPoint mouse,
                           std::function<void()> stored, QWidget* parent) {
  auto* w = new TfrmNotes(store, run, std::move(stored), parent);
  w->ShowAt(mouse);
  return w;
}

void TfrmNotes::ShowAt(QPoint mouse) {
  const QRect target(mouse - QPoint(50, 20), size());
  // Expands from its centre.
  setGeometry(QRect(target.center(), QSize(1, 1)));
  show();
  raise();
  activateWindow();
  edDummy_->setFocus();
  auto* expand = new QPropertyAnimation(this, "geometry", this);
  expand->setDuration(kExpandMs);
  expand->setStartValue(QRect(target.center(), QSize(1, 1)));
  expand->setEndValue(target);
  expand->start(QAbstractAnimation::DeleteWhenStopped);
  animation_ = expand;
  modified_ = false;
}

bool TfrmNotes::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Enter:
    case QEvent::HoverMove:
      MouseMoved();
      break;
    case QEvent::FocusIn:
      // Entering an edit keeps the window open until it loses activation.
      if (watched != edDummy_) {
        editing_ = true;
        autoClose_.stop();
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmNotes::MouseMoved() {
  if (!editing_ && !closing_) autoClose_.start();
}

void TfrmNotes::AutoCloseFired() {
  if (editing_ || closing_) return;
  if (!frameGeometry().contains(QCursor::pos())) close();
}

void TfrmNotes::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange) return;
  // Closes when the user activates something else, once it has been active.
  if (isActiveWindow())
    activated_ = true;
  else if (activated_ && isVisible() && !closing_)
    close();
}

void TfrmNotes::closeEvent(QCloseEvent* event) {
  if (!faded_) {
    // The notes are handed over at once; the window fades out and then really closes.
    if (!closing_) {
      closing_ = true;
      autoClose_.stop();
      Store();
      if (animation_) animation_->stop();
      auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
      fade->setDuration(kFadeMs);
      fade->setStartValue(1.0);
      fade->setEndValue(0.0);
      connect(fade, &QPropertyAnimation::finished, this, [this] {
        faded_ = true;
        close();
      });
      fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TfrmNotes::Store() {
  if (!modified_) return;
  TRunNotes notes;
  notes.front = QStringToCp1252(edFrontSuspension_->text());
  notes.rear = QStringToCp1252(edRearSuspension_->text());
  notes.track = QStringToCp1252(edTrack_->text());
  notes.other = SplitLines(QStringToCp1252(memoOtherNotes_->toPlainText()));
  store_.SetRunNote(run_, BuildRunNotes(notes));
  if (stored_) stored_();
}

}  // namespace qvl
