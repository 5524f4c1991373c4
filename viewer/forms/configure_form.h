// TfrmConfigure: the analysis settings dialog (bottoming limits, wheel lock ratio, minimum speed
// and deceleration, inverted travel). Its rules live in TConfigureDialogModel.
#pragma once

#include <QDialog>
#include <functional>

#include "viewer/viewer_settings.h"

class QCheckBox;
class QSpinBox;

namespace qvl {

class TfrmConfigure : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmConfigure(const TAnalysisSettings& settings, QWidget* parent = nullptr);

  // Shows the dialog modally; true (and `settings` overwritten) when it was confirmed with a
  // change.
  static bool Execute(TAnalysisSettings& settings, QWidget* parent = nullptr);
  // After the dialog closed: the calling contract of the model.
  bool Finish(TAnalysisSettings& settings) const;

  QSpinBox* FrontSoftLimit() const { return edFrontSoftLimit_; }
  QSpinBox* FrontHardLimit() const { return edFrontHardLimit_; }
  QSpinBox* RearSoftLimit() const { return edRearSoftLimit_; }
  QSpinBox* RearHardLimit() const { return edRearHardLimit_; }
  QSpinBox* SpeedRatio() const { return edFRMaxRatio_; }
  QSpinBox* MinSpeed() const { return edMinSpeed_; }
  QSpinBox* MaxDecel() const { return edMaxDecel_; }
  QCheckBox* Inverted() const { return cbInvertedSuspension_; }
  // Shows a refused close's message (default: a message box).
  std::function<void(const QString&)> showError;

  void done(int result) override;

 private:
  void Edited();

  TConfigureDialogModel model_;
  bool loading_ = true;
  QSpinBox *edFrontSoftLimit_, *edFrontHardLimit_, *edRearSoftLimit_, *edRearHardLimit_;
  QSpinBox *edFRMaxRatio_, *edMinSpeed_, *edMaxDecel_;
  QCheckBox* cbInvertedSuspension_;
};

}  // namespace qvl
