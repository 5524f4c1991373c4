// TfrmFlash: the firmware update window. It finds out who answers on the tool's link (the
// logger's application or its bootloader), switches between the two, and programs an Intel HEX
// file through the bootloader with a log of what happens. The sequences live in
// TFirmwareProgrammer (tool/firmware_programmer); this window wires them to widgets. Every
// exchange runs on a thread of the window's own, one at a time, reporting by queued calls, so
// that the window repaints while the logger is programmed.
#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <string>

#include "core/device/comm_channel.h"
#include "tool/firmware_programmer.h"
#include "tool/forms/form_support.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qvl {

class TIniFile;

// What the window asks the user; tests put their own in.
struct TFlashFormHooks {
  // The HEX file to program, given the current one ("" keeps it). Default: the open dialog.
  std::function<QString(const QString& current)> askFileName;
  // Shows a message (default: a message box). error: an error, else information.
  std::function<void(const QString& text, bool error)> showMessage;
};

class TfrmFlash : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char kCaption[] = "QVLPro - Firmware Update";
  static constexpr int kIdentifyMs = 500;

  // link: the tool's link, with polling paused while the window is open. The file name is read
  // from the settings now and written back when the window goes.
  TfrmFlash(TCommChannelPtr link, TIniFile& settings, TFlashFormHooks hooks = {},
            QWidget* parent = nullptr);
  ~TfrmFlash() override;

  // --- what the controls do (tests call these too) ---
  // "Connect": the identification timer on or off.
  void SetConnect(bool on);
  void SelectFile();
  void UserBoot();
  void Program();
  // A click on the device identifier.
  void ReadDeviceId();

  QString FileName() const { return fileName_; }
  // Everything the log memo received, as appended ("\r" for a new line).
  const std::string& LogText() const { return log_; }
  bool Programming() const { return programming_; }
  // An exchange with the logger is running.
  bool Busy() const { return busy_; }

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void IdentifyTick();
  void ShowIdentification();
  void SetControlsEnabled(bool on);
  void AppendLog(const std::string& text);
  void ShowMessage(const QString& text, bool error);
  // Runs work on the exchange thread, then done here; waits its turn when one is running.
  void RunJob(std::function<void()> work, std::function<void()> done);
  void JobDone(const std::string& error);

  TCommChannelPtr link_;
  TIniFile& settings_;
  TFlashFormHooks hooks_;
  TFirmwareProgrammer programmer_;
  QString fileName_;
  std::string log_;
  std::string deviceId_;
  std::string jobError_;

  TFormWorker job_;
  std::function<void()> jobDone_;
  std::deque<std::function<void()>> waiting_;
  bool busy_ = false;
  bool programming_ = false;
  bool closePending_ = false;

  QPushButton* btnConnect_ = nullptr;
  QLabel* lblConnected_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QLineEdit* edFile_ = nullptr;
  QPushButton* btnSelectFile_ = nullptr;
  QPushButton* btnUserBoot_ = nullptr;
  QPushButton* btnProgram_ = nullptr;
  QLabel* lblDeviceId_ = nullptr;
  QPlainTextEdit* memoLog_ = nullptr;
  QLabel* lblProgress_ = nullptr;
  QProgressBar* pbProgress_ = nullptr;
  QPushButton* btnClose_ = nullptr;
  QTimer* identify_ = nullptr;
};

}  // namespace qvl
