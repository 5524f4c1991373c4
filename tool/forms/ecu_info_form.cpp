#include "tool/forms/ecu_info_form.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/device/controller.h"
#include "core/util/cp1252.h"
#include "tool/ecu_info.h"

namespace qvl {

TfrmEcuInfo::TfrmEcuInfo(TController& controller, QWidget* parent) : QDialog(parent) {
  setObjectName("frmEcuInfo");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);
  setModal(true);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setAccessibleName("Hardware information");
  memo_->setReadOnly(true);
  QFont font("Courier New");
  font.setStyleHint(QFont::TypeWriter);
  if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  memo_->setFont(font);
  const std::string port =
      controller.Channel() ? controller.Channel()->GetPortName() : std::string();
  QStringList lines;
  for (const std::string& line :
       EcuInfoLines(controller.IdentificationString(), port, controller.ConfigTimestamp()))
    lines << QString::fromStdString(Cp1252ToUtf8(line)).replace('\r', '\n');
  memo_->setPlainText(lines.join('\n'));

  auto* close = new QPushButton("Close", this);
  close->setAccessibleName("Close");
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_);
  layout->addLayout(buttons);
  resize(460, 220);
}

QString TfrmEcuInfo::Text() const {
  return memo_->toPlainText();
}

}  // namespace qvl
