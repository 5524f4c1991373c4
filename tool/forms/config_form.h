// TfrmConfig: the logging configuration editor. It shows TConfigEditor's copy of the
// controller's configuration on five pages (suspensions, wheels, g/B sensors, custom channels,
// eCompass), loads and saves configuration files, and on Apply hands the result to the
// controller, whose update bracket burns it into a connected logger. The arithmetic lives in
// tool/config_editor; this class wires it to widgets.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

#include "core/device/controller.h"
#include "tool/config_editor.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QToolButton;

namespace qvl {

class TIniFile;

class TfrmConfig : public QDialog, public IControllerListener {
  Q_OBJECT

 public:
  // compassFile: where "Save" and "Load" keep the compass samples. showMessage shows an error
  // (default: a message box).
  TfrmConfig(TController& controller, TIniFile& settings, std::string compassFile,
             std::function<void(const QString&)> showMessage = {}, QWidget* parent = nullptr);
  ~TfrmConfig() override;

  // Opens for the controller, shows modally; true when an accepted change reached the
  // controller.
  bool Execute();
  // The parts of Execute around the modal loop: fill from the controller and listen to it;
  // then store the page, stop listening and report.
  void Open();
  bool Finish();

  void ControllerChanged(TController* controller, uint8_t flags) override;

  // --- commands (the buttons call these; tests too) ---
  // "&Load..." and "Save &As..." for a chosen file; false when it failed (message shown).
  bool LoadConfiguration(const QString& fileName);
  bool SaveConfiguration(const QString& fileName);
  void SaveCompassSamples();
  void LoadCompassSamples();
  // Opens the cell editor of a custom channel cell (column 1 to 5).
  void OpenCellEditor(int row, int column);
  // Commits an open cell editor; false (editor still open) on a parse error.
  bool CommitCellEditor();
  bool CellEditorOpen() const;
  QWidget* CellEditor() const;

  TConfigEditor& Editor() { return editor_; }
  QTableWidget* ChannelGrid() const { return grid_; }

  static constexpr const char kCaption[] = "QV2LPro - Hardware Configuration";
  static constexpr const char kFileFilter[] = "QVL configuration file (*.QVLcf);;All files (*.*)";

 public slots:
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* CreateSuspensionPage();
  QWidget* CreateWheelPage();
  QWidget* CreateSensorPage();
  QWidget* CreateChannelPage();
  QWidget* CreateCompassPage();
  void FillWidgets();
  void RefreshGrid();
  void RefreshLive();
  void RefreshEstimate();
  void MarkModified();
  void FieldChanged();
  void CoupleWheel(int side, bool fromDiameter);
  bool CellEditorKey(QKeyEvent* key);
  void CloseCellEditor();
  bool Apply(TController& target);
  void LoadDialog();
  void SaveDialog();
  void ShowMessage(const QString& text);

  TController& controller_;
  TIniFile& settings_;
  std::string compassFile_;
  std::function<void(const QString&)> showMessage_;
  TConfigEditor editor_;
  bool listening_ = false;
  bool loading_ = false;
  bool coupling_ = false;
  bool applied_ = false;

  QTabWidget* pages_ = nullptr;
  // Suspensions: [0] front, [1] rear.
  std::array<QSpinBox*, 2> edTravel_{}, edMechanical_{}, edPercent_{};
  std::array<QLabel*, 2> lblFullExtension_{}, lblCurrent_{};
  std::array<QPushButton*, 2> btnRecord_{};
  QComboBox* cbSuspensionRate_ = nullptr;
  // Wheels.
  std::array<QSpinBox*, 2> edTeeth_{}, edDiameter_{}, edCircumference_{};
  // g/B sensors.
  std::array<QToolButton*, 6> btnPosition_{};
  std::array<QLabel*, 3> lblAccel_{};
  QComboBox* cbGSensorRate_ = nullptr;
  QComboBox* cbMagRate_ = nullptr;
  // Custom channels.
  QTableWidget* grid_ = nullptr;
  QLineEdit* edCell_ = nullptr;
  QComboBox* cbCellRate_ = nullptr;
  int editRow_ = -1;
  int editColumn_ = 1;
  // eCompass.
  std::array<QPushButton*, 3> btnRotation_{};
  std::array<QLabel*, 3> lblRotationCount_{};
  // Bottom row.
  QLabel* lblEstimate_ = nullptr;
  QPushButton* btnLoad_ = nullptr;
  QPushButton* btnSaveAs_ = nullptr;
  QPushButton* btnApply_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};

}  // namespace qvl
