#include "tool/forms/flash_form.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/util/ini_file.h"
#include "tool/forms/form_support.h"

namespace qvl {

TfrmFlash::TfrmFlash(TCommChannelPtr link, TIniFile& settings, TFlashFormHooks hooks,
                     QWidget* parent)
    : QDialog(parent),
      link_(std::move(link)),
      settings_(settings),
      hooks_(std::move(hooks)),
      programmer_(link_) {
  setObjectName("frmFlash");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);
  fileName_ = QString::fromStdString(StoredFirmwareFileName(settings_));
  CreateControls();
}

TfrmFlash::~TfrmFlash() {
  identify_->stop();
  // An exchange still running ends within the link's time-out.
  job_.Join();
  StoreFirmwareFileName(settings_, fileName_.toStdString());
}

void TfrmFlash::CreateControls() {
  btnConnect_ = new QPushButton("Connect", this);
  NameControl(btnConnect_, "btnConnect", "Connect");
  btnConnect_->setCheckable(true);
  connect(btnConnect_, &QPushButton::toggled, this, &TfrmFlash::SetConnect);
  lblConnected_ = new QLabel("connected", this);
  NameControl(lblConnected_, "lblConnected", "connected");
  lblConnected_->setStyleSheet("color: rgb(0, 128, 0); font-weight: bold;");
  // Blinking toggles the visibility: the place stays reserved.
  QSizePolicy keep = lblConnected_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  lblConnected_->setSizePolicy(keep);
  lblConnected_->hide();
  lblStatus_ = new QLabel(this);
  NameControl(lblStatus_, "lblStatus", "Status");

  edFile_ = new QLineEdit(fileName_, this);
  NameControl(edFile_, "edFile", "File name");
  edFile_->setReadOnly(true);
  btnSelectFile_ = new QPushButton("Select File", this);
  NameControl(btnSelectFile_, "btnSelectFile", "Select File");
  connect(btnSelectFile_, &QPushButton::clicked, this, &TfrmFlash::SelectFile);

  btnUserBoot_ = new QPushButton("User <> Boot", this);
  NameControl(btnUserBoot_, "btnUserBoot", "User <> Boot");
  btnUserBoot_->setEnabled(false);
  connect(btnUserBoot_, &QPushButton::clicked, this, &TfrmFlash::UserBoot);
  btnProgram_ = new QPushButton("Program", this);
  NameControl(btnProgram_, "btnProgram", "Program");
  btnProgram_->setEnabled(false);
  connect(btnProgram_, &QPushButton::clicked, this, &TfrmFlash::Program);
  lblDeviceId_ = new QLabel("Device ID", this);
  NameControl(lblDeviceId_, "lblDeviceId", "Device identifier");
  lblDeviceId_->setToolTip("Click to read the device identifier");
  lblDeviceId_->setCursor(Qt::PointingHandCursor);
  lblDeviceId_->setFont(QFont("monospace"));
  lblDeviceId_->installEventFilter(this);
  lblDeviceId_->hide();

  memoLog_ = new QPlainTextEdit(this);
  NameControl(memoLog_, "memoLog", "Log");
  memoLog_->setReadOnly(true);
  lblProgress_ = new QLabel(this);
  NameControl(lblProgress_, "lblProgress", "Progress");
  lblProgress_->setMinimumWidth(90);
  lblProgress_->hide();
  pbProgress_ = new QProgressBar(this);
  NameControl(pbProgress_, "pbProgress", "Programming progress");
  pbProgress_->setRange(0, 100);
  pbProgress_->hide();
  btnClose_ = new QPushButton("Close", this);
  NameControl(btnClose_, "btnClose", "Close");
  connect(btnClose_, &QPushButton::clicked, this, &TfrmFlash::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(btnConnect_);
  top->addWidget(lblConnected_);
  top->addWidget(lblStatus_, 1);
  auto* file = new QHBoxLayout;
  file->addWidget(edFile_, 1);
  file->addWidget(btnSelectFile_);
  auto* actions = new QHBoxLayout;
  actions->addWidget(btnUserBoot_);
  actions->addWidget(btnProgram_);
  actions->addStretch(1);
  actions->addWidget(lblDeviceId_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblProgress_);
  bottom->addWidget(pbProgress_, 1);
  bottom->addStretch(0);
  bottom->addWidget(btnClose_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(file);
  layout->addLayout(actions);
  layout->addWidget(memoLog_, 1);
  layout->addLayout(bottom);

  identify_ = new QTimer(this);
  identify_->setInterval(kIdentifyMs);
  connect(identify_, &QTimer::timeout, this, &TfrmFlash::IdentifyTick);
  resize(540, 400);
}

// --- exchanges -----------------------------------------------------------------------------------

void TfrmFlash::RunJob(std::function<void()> work, std::function<void()> done) {
  if (busy_) {
    waiting_.push_back([this, work = std::move(work), done = std::move(done)]() mutable {
      RunJob(std::move(work), std::move(done));
    });
    return;
  }
  busy_ = true;
  jobError_.clear();
  jobDone_ = std::move(done);
  job_.Start(
      this, std::move(work), [this](const std::string& error) { JobDone(error); }, "Error");
}

void TfrmFlash::JobDone(const std::string& error) {
  busy_ = false;
  jobError_ = error;
  if (auto done = std::move(jobDone_)) done();
  if (closePending_) {
    waiting_.clear();
    reject();
    return;
  }
  if (!waiting_.empty() && !busy_) {
    auto next = std::move(waiting_.front());
    waiting_.pop_front();
    next();
  }
}

// --- identification ------------------------------------------------------------------------------

void TfrmFlash::SetConnect(bool on) {
  if (btnConnect_->isChecked() != on) btnConnect_->setChecked(on);
  if (on) {
    identify_->start();
    IdentifyTick();
  } else {
    identify_->stop();
  }
}

void TfrmFlash::IdentifyTick() {
  // A tick while the link is busy is skipped, not queued.
  if (!isEnabled() || !link_ || busy_ || closePending_) return;
  RunJob(
      [this] {
        if (!link_->IsOpen()) OpenLoggerLink(*link_);
        programmer_.Identify();
      },
      [this] { ShowIdentification(); });
}

void TfrmFlash::ShowIdentification() {
  const bool found = !programmer_.IdentificationText().empty();
  lblStatus_->setText(QString::fromStdString(programmer_.StatusText()));
  if (found)
    lblConnected_->setVisible(lblConnected_->isHidden());
  else
    lblConnected_->hide();
  btnUserBoot_->setEnabled(found);
  btnProgram_->setEnabled(found && !fileName_.isEmpty());
  lblDeviceId_->setVisible(programmer_.InBootloader());
}

void TfrmFlash::UserBoot() {
  if (!link_) return;
  RunJob([this] { programmer_.SwitchUserBoot(); },
         [this] {
           if (!jobError_.empty()) ShowMessage(QString::fromStdString(jobError_), true);
         });
}

void TfrmFlash::ReadDeviceId() {
  if (!link_) return;
  RunJob([this] { deviceId_ = programmer_.ReadDeviceId(); },
         [this] {
           if (jobError_.empty())
             lblDeviceId_->setText(QString::fromStdString(deviceId_));
           else
             ShowMessage(QString::fromStdString(jobError_), true);
         });
}

bool TfrmFlash::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblDeviceId_ && event->type() == QEvent::MouseButtonRelease &&
      lblDeviceId_->isEnabled()) {
    ReadDeviceId();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// --- file and programming ------------------------------------------------------------------------

void TfrmFlash::SelectFile() {
  QString chosen;
  if (hooks_.askFileName) {
    chosen = hooks_.askFileName(fileName_);
  } else {
    const QString folder = fileName_.isEmpty() ? QString() : QFileInfo(fileName_).path();
    chosen = QFileDialog::getOpenFileName(this, "Open", folder, "HEX files (*.hex);;All files (*)");
  }
  if (chosen.isEmpty()) return;
  fileName_ = chosen;
  edFile_->setText(fileName_);
  btnProgram_->setEnabled(btnUserBoot_->isEnabled());
}

void TfrmFlash::SetControlsEnabled(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{btnConnect_, btnSelectFile_, btnUserBoot_,
                                                    btnProgram_, lblDeviceId_, btnClose_})
    w->setEnabled(on);
}

void TfrmFlash::AppendLog(const std::string& text) {
  log_ += text;
  memoLog_->moveCursor(QTextCursor::End);
  memoLog_->insertPlainText(QString::fromStdString(text).replace('\r', '\n'));
  memoLog_->ensureCursorVisible();
  // The label names the pass that runs.
  if (text == "Programming..." || text == "Verifying...") {
    lblProgress_->setText(QString::fromStdString(text));
    lblProgress_->show();
  }
}

void TfrmFlash::Program() {
  if (!link_ || programming_) return;
  if (busy_) {
    // An identification is under way: the programming follows it.
    waiting_.push_back([this] { Program(); });
    return;
  }
  programming_ = true;
  log_.clear();
  memoLog_->clear();
  pbProgress_->setValue(0);
  pbProgress_->show();
  SetControlsEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string file = fileName_.toStdString();
  RunJob(
      [this, file] {
        programmer_.Program(
            file,
            [this](const std::string& text) { PostTo(this, [this, text] { AppendLog(text); }); },
            [this](int percent) {
              PostTo(this, [this, percent] { pbProgress_->setValue(percent); });
            });
      },
      [this] {
        // Whatever happened, the window comes back.
        programming_ = false;
        QApplication::restoreOverrideCursor();
        pbProgress_->hide();
        lblProgress_->hide();
        SetControlsEnabled(true);
        ShowIdentification();
        if (!jobError_.empty()) AppendLog("\rError: " + jobError_);
      });
}

void TfrmFlash::reject() {
  if (programming_) {
    ShowMessage("Programming is under way: please wait until it has finished.", false);
    return;
  }
  identify_->stop();
  if (busy_) {
    // The running exchange ends first; the window closes when it has.
    closePending_ = true;
    return;
  }
  QDialog::reject();
}

void TfrmFlash::ShowMessage(const QString& text, bool error) {
  ShowWindowMessage(this, hooks_.showMessage, text, error);
}

}  // namespace qvl
