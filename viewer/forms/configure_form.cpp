#include "viewer/forms/configure_form.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

namespace qvl {
namespace {

QSpinBox* SpinEdit(const char* name, long value) {
  auto* e = new QSpinBox;
  e->setObjectName(name);
  e->setRange(INT_MIN, INT_MAX);  // the edits have no limits of their own
  e->setValue(int(value));
  return e;
}

}  // namespace

TfrmConfigure::TfrmConfigure(const TAnalysisSettings& settings, QWidget* parent)
    : QDialog(parent), model_(settings) {
  setWindowTitle("QVLView - Configuration");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowContextHelpButtonHint);
  const TConfigureDialogModel::TFields& f = model_.Fields();
  edFrontSoftLimit_ = SpinEdit("edFrontSoftLimit", f.frontSoft);
  edFrontHardLimit_ = SpinEdit("edFrontHardLimit", f.frontHard);
  edRearSoftLimit_ = SpinEdit("edRearSoftLimit", f.rearSoft);
  edRearHardLimit_ = SpinEdit("edRearHardLimit", f.rearHard);
  edFRMaxRatio_ = SpinEdit("edFRMaxRatio", f.ratio);
  edMinSpeed_ = SpinEdit("edMinSpeed", f.minSpeed);
  edMaxDecel_ = SpinEdit("edMaxDecel", f.maxDecel);
  cbInvertedSuspension_ = new QCheckBox("Show inverted suspension travel ");
  cbInvertedSuspension_->setObjectName("cbInvertedSuspension");
  cbInvertedSuspension_->setChecked(f.inverted);

  auto limits = [](const char* title, QSpinBox* soft, QSpinBox* hard) {
    auto* box = new QGroupBox(title);
    auto* form = new QFormLayout(box);
    form->addRow("Soft limit  %", soft);
    form->addRow("Hard limit  %", hard);
    return box;
  };
  auto* bottoming = new QGroupBox(" Bottoming ");
  auto* both = new QHBoxLayout(bottoming);
  both->addWidget(limits(" Front ", edFrontSoftLimit_, edFrontHardLimit_));
  both->addWidget(limits(" Rear ", edRearSoftLimit_, edRearHardLimit_));
  auto* lock = new QGroupBox(" Wheel lock ");
  auto* lockForm = new QFormLayout(lock);
  lockForm->addRow("Front-Rear max speed ratio %", edFRMaxRatio_);
  lockForm->addRow("Minimum speed km/h", edMinSpeed_);
  lockForm->addRow("Max deceleration km/h/s", edMaxDecel_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bottoming);
  layout->addWidget(lock);
  layout->addWidget(cbInvertedSuspension_);
  layout->addWidget(buttons);

  for (QSpinBox* e : {edFrontSoftLimit_, edFrontHardLimit_, edRearSoftLimit_, edRearHardLimit_,
                      edFRMaxRatio_, edMinSpeed_, edMaxDecel_})
    connect(e, &QSpinBox::valueChanged, this, &TfrmConfigure::Edited);
  connect(cbInvertedSuspension_, &QCheckBox::toggled, this, &TfrmConfigure::Edited);
  loading_ = false;
}

void TfrmConfigure::Edited() {
  if (loading_) return;
  TConfigureDialogModel::TFields f;
  f.frontSoft = edFrontSoftLimit_->value();
  f.frontHard = edFrontHardLimit_->value();
  f.rearSoft = edRearSoftLimit_->value();
  f.rearHard = edRearHardLimit_->value();
  f.ratio = edFRMaxRatio_->value();
  f.minSpeed = edMinSpeed_->value();
  f.maxDecel = edMaxDecel_->value();
  f.inverted = cbInvertedSuspension_->isChecked();
  model_.Edit(f);
}

void TfrmConfigure::done(int result) {
  // OK, Cancel and the close box alike are refused while a hard limit is below its soft limit.
  TConfigureDialogModel::TFocus focus;
  const std::string error = model_.ValidateClose(&focus);
  if (!error.empty()) {
    const QString text = QString::fromStdString(error);
    if (showError)
      showError(text);
    else
      QMessageBox::critical(this, windowTitle(), text);
    (focus == TConfigureDialogModel::TFocus::FrontHard ? edFrontHardLimit_ : edRearHardLimit_)
        ->setFocus();
    return;
  }
  QDialog::done(result);
}

bool TfrmConfigure::Finish(TAnalysisSettings& settings) const {
  return model_.Finish(result() == QDialog::Accepted, settings);
}

bool TfrmConfigure::Execute(TAnalysisSettings& settings, QWidget* parent) {
  TfrmConfigure dialog(settings, parent);
  dialog.exec();
  return dialog.Finish(settings);
}

}  // namespace qvl
