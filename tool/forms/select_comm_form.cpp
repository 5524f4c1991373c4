#include "tool/forms/select_comm_form.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "tool/main_window_logic.h"

namespace qvl {
namespace {

constexpr int kDesignWidth = 330;
constexpr int kDesignGroupHeight = 57;
constexpr int kDesignHeight = 150;

}  // namespace

TfrmSelectComm::TfrmSelectComm(const std::vector<std::string>& entries, int selected,
                               QWidget* parent)
    : QDialog(parent), entries_(entries) {
  setObjectName("frmSelectComm");
  setWindowTitle("Comm port selection");
  setAccessibleName(windowTitle());
  const int n = int(entries.size());
  const int groupHeight = PortSelectionGroupHeight(n, kDesignGroupHeight);
  const int grow = groupHeight - kDesignGroupHeight;

  auto* text = new QLabel(
      "These are the available Serial Ports on this system: Select one from the list", this);
  text->setWordWrap(true);
  text->setAccessibleName(text->text());
  text->setGeometry(10, 8, kDesignWidth - 20, 34);

  rgPorts_ = new QGroupBox(this);
  rgPorts_->setObjectName("rgPorts");
  rgPorts_->setAccessibleName("Ports");
  rgPorts_->setGeometry(10, 46, kDesignWidth - 20, groupHeight);
  auto* grid = new QGridLayout(rgPorts_);
  grid->setContentsMargins(8, 4, 8, 4);
  grid->setVerticalSpacing(0);
  buttons_ = new QButtonGroup(this);
  const int columns = PortSelectionColumns(n);
  const int rows = (n + columns - 1) / columns;
  for (int i = 0; i < n; ++i) {
    auto* b = new QRadioButton(QString::fromStdString(entries[size_t(i)]), rgPorts_);
    b->setAccessibleName(b->text());
    buttons_->addButton(b, i);
    // Items fill the first column, then the second.
    grid->addWidget(b, i % rows, i / rows);
  }
  Select(selected);

  auto* ok = new QPushButton("OK", this);
  ok->setAccessibleName("OK");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setAccessibleName("Cancel");
  const int buttonsTop = 46 + groupHeight + 12;
  ok->setGeometry(kDesignWidth - 180, buttonsTop, 80, 26);
  cancel->setGeometry(kDesignWidth - 90, buttonsTop, 80, 26);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(kDesignWidth, kDesignHeight + grow);
}

void TfrmSelectComm::Select(int index) {
  if (QAbstractButton* b = buttons_->button(index)) b->setChecked(true);
}

int TfrmSelectComm::SelectedIndex() const {
  return buttons_->checkedId();
}

std::string TfrmSelectComm::SelectedText() const {
  const int i = SelectedIndex();
  return i >= 0 && size_t(i) < entries_.size() ? entries_[size_t(i)] : std::string();
}

}  // namespace qvl
