// TfrmEcuInfo ("QVL2Pro"): which logger is connected on which link, and when its configuration
// was last written. The text comes from tool/ecu_info.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace qvl {

class TController;

class TfrmEcuInfo : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmEcuInfo(TController& controller, QWidget* parent = nullptr);

  QString Text() const;

  static constexpr const char kCaption[] = "QVL2Pro";

 private:
  QPlainTextEdit* memo_ = nullptr;
};

}  // namespace qvl
