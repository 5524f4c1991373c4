// TfrmMonitor1 ("QVL2Pro - I/O Tests"): every raw input of the connected logger, as counts or
// converted, its internal counters, and two probes (digital inputs, status register). The
// texts and the probes live in tool/io_monitor; this class wires them to widgets.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <vector>

#include "core/device/controller.h"
#include "tool/io_monitor.h"

class QFrame;
class QGroupBox;
class QLabel;
class QRadioButton;

namespace qvl {

class TIniFile;

class TfrmMonitor1 : public QWidget, public IControllerListener {
  Q_OBJECT

 public:
  // settings: the tool's settings, written at close. showError shows a probe's failure.
  TfrmMonitor1(TController& controller, TIniFile& settings,
               std::function<void(const QString&)> showError, QWidget* parent = nullptr);
  ~TfrmMonitor1() override;

  void ControllerChanged(TController* controller, uint8_t flags) override;

  // The probes, as the clicks run them.
  void ReadDigitalInputs();
  void ReadStatusRegister(bool rightButton);
  void ToggleDigitalPanel();
  void SetAbsolute(TMonitorGroup group, bool absolute);

  static constexpr const char kCaption[] = "QVL2Pro - I/O Tests";

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TValueLabel {
    TMonitorInput input;
    QLabel* value;
  };
  QGroupBox* CreateGroup(TMonitorGroup group);
  QWidget* CreateCounters();
  QFrame* CreateDigitalPanel();
  void RefreshValues();
  void StoreSettings();
  void Detach();

  TController& controller_;
  TIniFile& ini_;
  std::function<void(const QString&)> showError_;
  TMonitorSettings settings_;
  uint32_t controllerType_ = 0;
  bool listening_ = false;
  bool placed_ = false;

  std::array<QGroupBox*, 4> groups_{};
  std::array<QRadioButton*, 4> absoluteButtons_{};
  std::array<QRadioButton*, 4> convertedButtons_{};
  std::vector<TValueLabel> values_;
  std::vector<QLabel*> counters_;
  QFrame* pnlDigital_ = nullptr;
  QLabel* lblDigital_ = nullptr;
  QLabel* lblBattery_ = nullptr;
  QLabel* lblTemperature_ = nullptr;
  QLabel* lblFSR_ = nullptr;
  QLabel* lblNotConnected_ = nullptr;
};

}  // namespace qvl
