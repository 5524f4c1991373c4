#include "tool/forms/log_download_form.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/device/controller.h"
#include "tool/forms/form_support.h"

namespace qvl {
namespace {

constexpr int kSessionRole = Qt::UserRole;
constexpr int kRunRole = Qt::UserRole + 1;
constexpr int kDotsMs = 200;

// The engine's texts use "\r" for a new line.
QString ToText(const std::string& text) {
  return QString::fromStdString(text).replace('\r', '\n');
}

}  // namespace

TfrmLogDownload::TfrmLogDownload(TController& controller, TIniFile& settings,
                                 TLogDownloadHooks hooks, QWidget* parent)
    : QDialog(parent),
      hooks_(std::move(hooks)),
      engine_(std::make_unique<TFlashDownload>(controller, settings)) {
  setObjectName("frmLogDownload");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);
  CreateControls();

  TFlashDownload::TEvents events;
  events.sessionAdded = [this](int index) { SessionAdded(index); };
  events.listingFinished = [this](const std::string& error) { ListingFinished(error); };
  engine_->SetEvents(std::move(events));
  if (hooks_.startViewer) engine_->SetViewerStarter(hooks_.startViewer);
}

TfrmLogDownload::~TfrmLogDownload() {
  if (reader_.Running()) {
    engine_->RequestStop();
    reader_.Join();
    engine_->AbortDownload();
  }
  // The listing ends without the window hearing of it.
  engine_->SetEvents({});
  try {
    engine_->Close();
  } catch (...) {
  }
}

void TfrmLogDownload::CreateControls() {
  tvSessions_ = new QTreeWidget(this);
  NameControl(tvSessions_, "tvSessions", "Sessions and runs");
  tvSessions_->setHeaderHidden(true);
  tvSessions_->setColumnCount(1);
  tvSessions_->header()->setStretchLastSection(true);
  connect(tvSessions_, &QTreeWidget::currentItemChanged, this, &TfrmLogDownload::SelectionChanged);
  connect(tvSessions_, &QTreeWidget::itemDoubleClicked, tvSessions_, &QTreeView::expandAll);

  lblListing_ = new QLabel(this);
  NameControl(lblListing_, "lblListing", "Listing");
  lblListing_->setMinimumWidth(40);
  lblListing_->hide();
  lblInfo_ = new QLabel(this);
  NameControl(lblInfo_, "lblInfo", "Selection");
  lblInfo_->setWordWrap(true);
  lblInfo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblInfo_->setMinimumHeight(4 * fontMetrics().lineSpacing() + 8);
  lblInfo_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  pbDownload_ = new QProgressBar(this);
  NameControl(pbDownload_, "pbDownload", "Download progress");
  pbDownload_->setRange(0, 100);
  pbDownload_->hide();
  lblRemaining_ = new QLabel(this);
  NameControl(lblRemaining_, "lblRemaining", "Remaining time");
  lblRemaining_->setMinimumWidth(130);
  lblRemaining_->hide();

  btnProceed_ = new QPushButton("Proceed", this);
  NameControl(btnProceed_, "btnProceed", "Proceed");
  btnProceed_->setEnabled(false);
  connect(btnProceed_, &QPushButton::clicked, this, &TfrmLogDownload::Proceed);
  btnClose_ = new QPushButton("Close", this);
  NameControl(btnClose_, "btnClose", "Close");
  connect(btnClose_, &QPushButton::clicked, this, &TfrmLogDownload::reject);

  pnlDebug_ = new QWidget(this);
  NameControl(pnlDebug_, "pnlDebug", "Debug panel");
  lblDebugStart_ = new QLabel("Start page:", pnlDebug_);
  NameControl(lblDebugStart_, "lblDebugStart", "Start page");
  lblDebugCount_ = new QLabel("Nb pages:", pnlDebug_);
  NameControl(lblDebugCount_, "lblDebugCount", "Nb pages");
  btnClearIfm_ = new QPushButton("Clear IFM", pnlDebug_);
  NameControl(btnClearIfm_, "btnClearIFM", "Clear IFM");
  connect(btnClearIfm_, &QPushButton::clicked, this, &TfrmLogDownload::ClearFlash);
  auto* debug = new QHBoxLayout(pnlDebug_);
  debug->setContentsMargins(0, 0, 0, 0);
  debug->addWidget(lblDebugStart_);
  debug->addWidget(lblDebugCount_);
  debug->addWidget(btnClearIfm_);
  pnlDebug_->hide();

  auto* progress = new QHBoxLayout;
  progress->addWidget(pbDownload_, 1);
  progress->addWidget(lblRemaining_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pnlDebug_);
  buttons->addStretch(1);
  buttons->addWidget(btnProceed_);
  buttons->addWidget(btnClose_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tvSessions_, 1);
  layout->addWidget(lblListing_);
  layout->addWidget(lblInfo_);
  layout->addLayout(progress);
  layout->addLayout(buttons);

  dots_ = new QTimer(this);
  dots_->setInterval(kDotsMs);
  connect(dots_, &QTimer::timeout, this, &TfrmLogDownload::AnimateListing);
  resize(560, 460);
}

// --- opening, listing and closing ----------------------------------------------------------------

bool TfrmLogDownload::Open() {
  try {
    engine_->Open();
  } catch (const std::exception& e) {
    ShowMessage(QString::fromStdString(e.what()), true);
    return false;
  }
  const auto& saved = engine_->SavedDownloads().Entries();
  lastFolder_ = saved.empty() ? QDir::homePath()
                              : QFileInfo(QString::fromStdString(saved.front().second)).path();
  if (engine_->Listing()) {
    lblListing_->setText(".");
    lblListing_->show();
    dots_->start();
  } else {
    lblListing_->hide();
  }
  return true;
}

void TfrmLogDownload::AnimateListing() {
  if (!engine_->Listing()) {
    dots_->stop();
    lblListing_->hide();
    return;
  }
  const int n = lblListing_->text().size();
  lblListing_->setText(n >= 5 ? QString() : QString(n + 1, '.'));
}

void TfrmLogDownload::SessionAdded(int index) {
  QScrollBar* bar = tvSessions_->verticalScrollBar();
  const int scroll = bar->value();
  auto* node = new QTreeWidgetItem(QStringList{ToText(engine_->SessionText(index))});
  node->setData(0, kSessionRole, index);
  node->setData(0, kRunRole, -1);
  const int runs = int(engine_->Sessions()[size_t(index)].runs.size());
  for (int r = 0; r < runs; ++r) {
    auto* run = new QTreeWidgetItem(node, QStringList{ToText(engine_->RunText(index, r))});
    run->setData(0, kSessionRole, index);
    run->setData(0, kRunRole, r);
  }
  tvSessions_->addTopLevelItem(node);
  node->setExpanded(true);
  MarkSavedNodes();
  bar->setValue(scroll);
}

void TfrmLogDownload::ListingFinished(const std::string& error) {
  dots_->stop();
  lblListing_->hide();
  if (!error.empty() && !closed_) ShowMessage(QString::fromStdString(error), true);
}

void TfrmLogDownload::MarkSavedNodes() {
  const QIcon saved = style()->standardIcon(QStyle::SP_DialogSaveButton);
  for (int k = 0; k < tvSessions_->topLevelItemCount(); ++k) {
    QTreeWidgetItem* node = tvSessions_->topLevelItem(k);
    const int session = node->data(0, kSessionRole).toInt();
    node->setIcon(0, engine_->IsSaved(session, -1) ? saved : QIcon());
    for (int r = 0; r < node->childCount(); ++r)
      node->child(r)->setIcon(0, engine_->IsSaved(session, r) ? saved : QIcon());
  }
}

void TfrmLogDownload::reject() {
  if (busy_) {
    // The running download stops first; the window closes when it has.
    closePending_ = true;
    engine_->RequestStop();
    return;
  }
  if (!closed_) {
    closed_ = true;
    setEnabled(false);
    dots_->stop();
    try {
      engine_->Close();
    } catch (const std::exception& e) {
      ShowMessage(QString::fromStdString(e.what()), true);
    }
  }
  QDialog::reject();
}

// --- selection -----------------------------------------------------------------------------------

bool TfrmLogDownload::Selected(int& session, int& run) const {
  QTreeWidgetItem* item = tvSessions_->currentItem();
  if (!item || !item->isSelected()) return false;
  session = item->data(0, kSessionRole).toInt();
  run = item->data(0, kRunRole).toInt();
  return true;
}

void TfrmLogDownload::SelectionChanged() {
  int session = 0, run = -1;
  if (!Selected(session, run)) {
    lblInfo_->clear();
    lblDebugStart_->setText("Start page:");
    lblDebugCount_->setText("Nb pages:");
    if (!busy_) btnProceed_->setEnabled(false);
    return;
  }
  const TFlashDownload::TSelection sel = engine_->Describe(session, run);
  lblInfo_->setText(ToText(sel.text));
  lblDebugStart_->setText(QString::fromStdString(sel.debugStart));
  lblDebugCount_->setText(QString::fromStdString(sel.debugCount));
  if (!busy_) btnProceed_->setEnabled(sel.canProceed);
}

// --- downloading ---------------------------------------------------------------------------------

void TfrmLogDownload::Proceed() {
  if (busy_) {
    // The button reads "Stop".
    if (reader_.Running()) engine_->RequestStop();
    return;
  }
  int session = 0, run = -1;
  if (!Selected(session, run)) return;
  try {
    outcome_ = engine_->BeginDownload(session, run);
  } catch (const std::exception& e) {
    ShowMessage(QString::fromStdString(e.what()), true);
    return;
  }
  busy_ = true;
  pbDownload_->setValue(0);
  pbDownload_->show();
  lblRemaining_->clear();
  lblRemaining_->show();
  btnProceed_->setText("Stop");
  btnProceed_->setAccessibleName("Stop");
  btnProceed_->setEnabled(true);
  btnClearIfm_->setEnabled(false);

  // The pages are read on their own thread: it only uses the link, and reports here by queued
  // calls, so the window repaints and takes "Stop" while pages arrive.
  reader_.Start(
      this,
      [this] {
        TFlashDownload::TCallbacks callbacks;
        callbacks.progress = [this](int percent) {
          PostTo(this, [this, percent] { pbDownload_->setValue(percent); });
        };
        callbacks.remaining = [this](const std::string& text) {
          PostTo(this, [this, text] { lblRemaining_->setText(QString::fromStdString(text)); });
        };
        engine_->ReadPages(outcome_, callbacks);
      },
      [this](const std::string& error) { PagesRead(error); }, "Download failed");
}

void TfrmLogDownload::PagesRead(const std::string& error) {
  std::string failure = error;
  if (!failure.empty()) {
    engine_->AbortDownload();
  } else {
    TFlashDownload::TCallbacks callbacks;
    callbacks.fileName = [this](const TFlashDownload::TOutcome& outcome) {
      // A window being closed asks nothing.
      return closePending_ ? std::string() : AskFileName(outcome).toStdString();
    };
    try {
      engine_->FinishDownload(outcome_, callbacks, true);
      if (outcome_.saved) lastFolder_ = QFileInfo(QString::fromStdString(outcome_.fileName)).path();
    } catch (const std::exception& e) {
      failure = *e.what() ? e.what() : "Saving failed";
    }
  }
  Restore();
  if (!failure.empty()) ShowMessage(QString::fromStdString(failure), true);
  if (closePending_) reject();
}

void TfrmLogDownload::Restore() {
  busy_ = false;
  btnProceed_->setText("Proceed");
  btnProceed_->setAccessibleName("Proceed");
  btnProceed_->setEnabled(false);
  btnClearIfm_->setEnabled(true);
  pbDownload_->hide();
  lblRemaining_->hide();
  MarkSavedNodes();
  tvSessions_->clearSelection();
  tvSessions_->setCurrentItem(nullptr);
  SelectionChanged();
}

QString TfrmLogDownload::AskFileName(const TFlashDownload::TOutcome& outcome) {
  if (hooks_.askFileName) return hooks_.askFileName(outcome);
  QFileDialog dialog(this, "Save As", lastFolder_, "Log files (*.QVLog);;All files (*)");
  dialog.setObjectName("dlgSaveDownload");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix("qzLog");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

// --- the hidden controls -------------------------------------------------------------------------

void TfrmLogDownload::mousePressEvent(QMouseEvent* event) {
  const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::AltModifier;
  if ((event->modifiers() & both) == both) {
    if (event->button() == Qt::RightButton) {
      ShowAdapterVersion();
      return;
    }
    if (event->button() == Qt::LeftButton) {
      ShowDebugPanel();
      return;
    }
  }
  QDialog::mousePressEvent(event);
}

void TfrmLogDownload::ShowAdapterVersion() {
  ShowMessage(QString::fromStdString(engine_->AdapterVersionText()), false);
}

void TfrmLogDownload::ShowDebugPanel() {
  pnlDebug_->show();
}

void TfrmLogDownload::ClearFlash() {
  const QString question =
      "Erase the whole internal flash memory of the logger? All sessions in it will be lost.";
  const bool yes = hooks_.confirm ? hooks_.confirm(question)
                                  : QMessageBox::question(this, windowTitle(), question,
                                                          QMessageBox::Yes | QMessageBox::No,
                                                          QMessageBox::No) == QMessageBox::Yes;
  if (!yes) return;
  try {
    engine_->ClearFlash();
  } catch (const std::exception& e) {
    ShowMessage(QString::fromStdString(e.what()), true);
  }
}

void TfrmLogDownload::ShowMessage(const QString& text, bool error) {
  ShowWindowMessage(this, hooks_.showMessage, text, error);
}

}  // namespace qvl
