#include "tool/forms/about_box.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvl {

TAboutBox::TAboutBox(const QString& productName, QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  setAccessibleName(windowTitle());
  auto* layout = new QVBoxLayout(this);
  auto* product = new QLabel(productName, this);
  product->setObjectName("ProductName");
  QFont big = product->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  product->setFont(big);
  auto* version = new QLabel(kToolVersionText, this);
  version->setObjectName("Version");
  auto* comments = new QLabel("Logger tool for the QVL bicycle data logger", this);
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  for (QWidget* w : {static_cast<QWidget*>(product), static_cast<QWidget*>(version),
                     static_cast<QWidget*>(comments)}) {
    w->setAccessibleName(static_cast<QLabel*>(w)->text());
    layout->addWidget(w);
  }
  ok->setAccessibleName("OK");
  layout->addWidget(ok, 0, Qt::AlignRight);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  setMinimumWidth(300);
}

}  // namespace qvl
