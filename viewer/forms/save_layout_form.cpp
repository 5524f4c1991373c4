#include "viewer/forms/save_layout_form.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "core/util/ini_file.h"
#include "viewer/layout_manager.h"
#include "viewer/qt_text.h"

namespace qvl {

TfrmSaveLayout::TfrmSaveLayout(TLayoutManager& layouts, QWidget* parent)
    : QDialog(parent), layouts_(layouts) {
  setWindowTitle("Save layout");
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  cbName_ = new QComboBox;
  cbName_->setObjectName("cbName");
  cbName_->setEditable(true);
  for (const std::string& name : layouts_.Names())
    if (!SameText(name, kDefaultLayoutName)) cbName_->addItem(Cp1252ToQString(name));
  cbName_->setCurrentIndex(-1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (SaveAs(cbName_->currentText()) >= 0 ||
        TrimText(QStringToCp1252(cbName_->currentText())).empty())
      accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Save current graphical layout as:"));
  layout->addWidget(cbName_);
  layout->addWidget(buttons);
}

int TfrmSaveLayout::SaveAs(const QString& name) {
  const std::string trimmed = TrimText(QStringToCp1252(name));
  if (trimmed.empty()) return -1;
  if (SameText(trimmed, kDefaultLayoutName)) {
    const QString text =
        QString("\"%1\" is built in and cannot be overwritten. Please choose another name.")
            .arg(kDefaultLayoutName);
    if (showMessage)
      showMessage(text);
    else
      QMessageBox::information(this, windowTitle(), text);
    return -1;
  }
  saved_ = layouts_.SaveWorkingAs(trimmed);
  return saved_;
}

int TfrmSaveLayout::Execute() {
  saved_ = -1;
  exec();
  return result() == QDialog::Accepted ? saved_ : -1;
}

}  // namespace qvl
