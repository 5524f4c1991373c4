// TfrmEcu1: the logger tool's main window. It owns the program's controller and its link,
// shows the logger's live values and state, records live samples for the viewer, and opens the
// tool's other windows. The texts and rules live in tool/main_window_logic; this class wires
// them to widgets.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device/controller.h"
#include "core/device/live_sample.h"
#include "core/util/ini_file.h"
#include "tool/forms/qt_synchronizer.h"
#include "tool/main_window_logic.h"

class QButtonGroup;
class QFrame;
class QProgressBar;
class QRadioButton;
class QToolButton;

namespace qvl {

class TLiveEndpoint;
class TLiveSharedBlock;
class TRunStatePanel;
class TTevraStatusControl;
class TfrmCompassTest;
class TfrmMonitor1;

// How the main window is set up: by main() from the command line, by tests with their own
// folders and links.
struct TToolOptions {
  // The settings file ("" = the user's QVL2Pro.ini).
  std::string settingsFile;
  // The link to start on; nullptr starts on the link chosen last (the USB link when none).
  TCommChannelPtr link;
  // Creates the link of a port selection entry (default: the channel registry).
  std::function<TCommChannelPtr(const TLinkChoice&)> createLink;
  // The serial ports the port selection offers (default: discovery).
  std::function<std::vector<std::string>()> listSerialPorts;
  // The viewer started for the live record (default: QVL2View beside the tool, with -ls);
  // its output goes to viewerOutput when set.
  QString viewerProgram;
  QStringList viewerArguments;
  QString viewerOutput;
  // Shows a message to the user (default: a message box). error: an error, else a warning.
  std::function<void(const QString& text, bool error)> showMessage;
};

class TfrmEcu1 : public QMainWindow, public IControllerListener {
  Q_OBJECT

 public:
  explicit TfrmEcu1(TToolOptions options = {}, QWidget* parent = nullptr);
  ~TfrmEcu1() override;

  // Shows the window in its stored state (normal or maximised).
  void ShowAsStored();

  void ControllerChanged(TController* controller, uint8_t flags) override;

  // --- commands (the actions call these; tests too) ---
  // The port selection's sequence for a chosen entry: store it, release the old link, create
  // and attach the new one.
  void ApplyPortSelection(int index, const std::string& text);
  void SelectComm();
  void SetTravelUnit(int unit);
  void SetSpeedUnit(int unit);
  void ChangeTravelDecimals(int delta);
  void ViewLiveRecord();
  void ClearLiveRecord();
  void ShowAbout();
  // The internal flash download (modal, while connected; asks first while logging) and the
  // firmware update (modal, polling paused around it).
  void OpenLogDownload();
  void OpenFirmwareUpdate();
  // The logging configuration editor, modal; an applied change marks the controller modified.
  void OpenConfiguration();
  // The I/O monitor (one, kept while open), the hardware information (modal, while connected)
  // and a new compass test window each time.
  void OpenIOTests();
  void ShowEcuInfo();
  void OpenCompassTest();
  TfrmMonitor1* Monitor() const;

  TController& Controller() { return *controller_; }
  const TCommChannelPtr& Link() const { return link_; }
  const TDataLogDynArray& LiveRecord() const { return record_; }
  const TDisplayUnits& Units() const { return units_; }
  TQtSynchronizer& Synchronizer() { return sync_; }
  QString StatusText() const;
  TTevraStatusControl* Indicator() const { return indicator_; }
  TRunStatePanel* Panel() const { return panel_; }
  // The run-state label the pointer stands at.
  QLabel* PointedStateLabel() const;
  int BatteryBar() const { return batteryBar_; }
  // Writes the settings (placement and units) as at close; false when they were not written.
  bool SaveSettings();

  static constexpr const char kCaption[] = "QVL2Pro v2.11";

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreatePanels();
  QWidget* CreateSidePanel();
  void CreateRunStatePanel();
  void RestoreSettings();
  void AttachLink(TCommChannelPtr link);
  void ReleaseLink();
  void AttachIndicator();
  void UpdateIndicator();
  void StateRefresh();
  void LiveRefresh();
  void ShowMessage(const QString& text, bool error);
  void Shutdown();

  TToolOptions options_;
  TQtSynchronizer sync_;
  TIniFile settings_;
  std::string settingsFile_;
  bool settingsReadable_ = true;
  TMainWindowSettings stored_;
  TDisplayUnits units_;
  std::unique_ptr<TController> controller_;
  TCommChannelPtr link_;
  TDataLogDynArray record_;
  bool recording_ = true;
  std::unique_ptr<TLiveEndpoint> endpoint_;
  std::unique_ptr<TLiveSharedBlock> block_;
  bool firstStatusShown_ = false;
  int batteryBar_ = 0;
  bool shutDown_ = false;
  // Notifications of the wireless link, gated so that none arrives after the link is gone.
  struct TNotifyGate;
  std::shared_ptr<TNotifyGate> gate_;
  QStringList diagnostics_;

  // Actions.
  QAction* actSelectComm_ = nullptr;
  QAction* actConfig_ = nullptr;
  QAction* IOTests1_ = nullptr;
  QAction* actEcuInfo_ = nullptr;
  QAction* actLoggedData_ = nullptr;
  QAction* actFirmwareUpdate_ = nullptr;
  QAction* actAutoConnect_ = nullptr;
  QAction* actOnLine_ = nullptr;
  QAction* actIncreaseDecimalsTravel_ = nullptr;
  QAction* actDecreaseDecimalsTravel_ = nullptr;
  QAction* actLogView_ = nullptr;
  QAction* actClearLog_ = nullptr;
  QAction* actAbout_ = nullptr;
  QAction* actExit_ = nullptr;

  // Side panel.
  QWidget* sidePanel_ = nullptr;
  QFrame* shpRunning_ = nullptr;
  QFrame* shpIndicator_ = nullptr;
  TTevraStatusControl* indicator_ = nullptr;
  QToolButton* btnRecord_ = nullptr;
  QToolButton* btnLogView_ = nullptr;
  QToolButton* btnClearLog_ = nullptr;
  QToolButton* btnOnLine_ = nullptr;
  QLabel* lblRecorded_ = nullptr;

  // Run-state panel.
  TRunStatePanel* panel_ = nullptr;
  std::array<QLabel*, 5> stateLabels_{};
  QLabel* lblPointer_ = nullptr;
  QLabel* lblRunTime_ = nullptr;
  QLabel *lblFrontTravel_ = nullptr, *lblRearTravel_ = nullptr;
  QLabel *lblFrontPercent_ = nullptr, *lblRearPercent_ = nullptr;
  QProgressBar *pbFrontTravel_ = nullptr, *pbRearTravel_ = nullptr;
  QLabel *lblFrontSpeed_ = nullptr, *lblRearSpeed_ = nullptr;
  QLabel *lblVertical_ = nullptr, *lblFrontal_ = nullptr, *lblLateral_ = nullptr;
  QLabel *lblHeading_ = nullptr, *lblPitch_ = nullptr, *lblRoll_ = nullptr;
  QProgressBar* pbBattery_ = nullptr;
  QLabel* lblBattery_ = nullptr;
  QLabel* lblSD_ = nullptr;
  QLabel* lblSession_ = nullptr;
  QLabel* lblUnsaved_ = nullptr;
  QButtonGroup* travelUnits_ = nullptr;
  QButtonGroup* speedUnits_ = nullptr;

  // Status bar.
  QLabel* statusConnection_ = nullptr;
  QLabel* statusInfo_ = nullptr;

  // Tool windows that use the controller: they go before it does.
  void CloseToolWindows();
  QPointer<TfrmMonitor1> monitor_;
  QList<QPointer<TfrmCompassTest>> compassTests_;
};

}  // namespace qvl
