// TfrmLogDownload: the internal flash download window. It lists the sessions and runs of the
// logger's internal flash as the contents thread finds them, describes the selected node,
// downloads it into a log file and starts the viewer on it. The sequence lives in
// TFlashDownload (tool/flash_download); this window wires it to widgets. The pages are read on
// a thread of the window's own so that the window stays responsive; that thread only moves
// bytes and reports by queued calls.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "tool/flash_download.h"
#include "tool/forms/form_support.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace qvl {

class TController;
class TIniFile;

// What the window asks the user and starts; tests put their own in.
struct TLogDownloadHooks {
  // The file to save a download in ("" saves nothing). Default: the save dialog.
  std::function<QString(const TFlashDownload::TOutcome& outcome)> askFileName;
  // Shows a message (default: a message box). error: an error, else information.
  std::function<void(const QString& text, bool error)> showMessage;
  // A yes/no question (default: a message box).
  std::function<bool(const QString& text)> confirm;
  // Starts the viewer on a saved file (default: QVL2View beside the tool; a missing viewer is
  // ignored).
  TFlashDownload::TViewerStarter startViewer;
};

class TfrmLogDownload : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char kCaption[] = "Internal Flash Data Download";

  TfrmLogDownload(TController& controller, TIniFile& settings, TLogDownloadHooks hooks = {},
                  QWidget* parent = nullptr);
  ~TfrmLogDownload() override;

  // Opens the logger for downloading and starts the listing; false (the message shown, polling
  // resumed, nothing listed) when that fails.
  bool Open();

  // The "Proceed" button: starts a download of the selected node, or stops the running one.
  void Proceed();
  // The debug panel's "Clear IFM", after the user's confirmation.
  void ClearFlash();
  // The hidden gestures: Ctrl+Alt with the right button shows the adapter version, with the left
  // button the debug panel.
  void ShowAdapterVersion();
  void ShowDebugPanel();

  TFlashDownload& Engine() { return *engine_; }
  QTreeWidget* Tree() const { return tvSessions_; }
  // The pages are being read, or the file is being saved.
  bool Busy() const { return busy_; }

 public slots:
  void reject() override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void CreateControls();
  void SessionAdded(int index);
  void ListingFinished(const std::string& error);
  void SelectionChanged();
  void PagesRead(const std::string& error);
  void Restore();
  void MarkSavedNodes();
  void AnimateListing();
  QString AskFileName(const TFlashDownload::TOutcome& outcome);
  void ShowMessage(const QString& text, bool error);
  // The selected node's session and run (-1: the session); false without a selection.
  bool Selected(int& session, int& run) const;

  TLogDownloadHooks hooks_;
  std::unique_ptr<TFlashDownload> engine_;
  TFlashDownload::TOutcome outcome_;
  TFormWorker reader_;
  bool busy_ = false;
  bool closePending_ = false;
  bool closed_ = false;
  QString lastFolder_;

  QTreeWidget* tvSessions_ = nullptr;
  QLabel* lblListing_ = nullptr;
  QLabel* lblInfo_ = nullptr;
  QProgressBar* pbDownload_ = nullptr;
  QLabel* lblRemaining_ = nullptr;
  QPushButton* btnProceed_ = nullptr;
  QPushButton* btnClose_ = nullptr;
  QWidget* pnlDebug_ = nullptr;
  QLabel* lblDebugStart_ = nullptr;
  QLabel* lblDebugCount_ = nullptr;
  QPushButton* btnClearIfm_ = nullptr;
  QTimer* dots_ = nullptr;
};

}  // namespace qvl
