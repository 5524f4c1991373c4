// TfrmSelectComm: the port selection dialog. Its radio group lists the USB link adapter, the
// wireless adapter and the serial ports found; two columns from three entries on, and the group
// and the dialog grow with five entries and more.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QButtonGroup;
class QGroupBox;

namespace qvl {

class TfrmSelectComm : public QDialog {
  Q_OBJECT

 public:
  TfrmSelectComm(const std::vector<std::string>& entries, int selected, QWidget* parent = nullptr);

  // The chosen entry's position (-1 when none) and text.
  int SelectedIndex() const;
  std::string SelectedText() const;
  void Select(int index);

 private:
  std::vector<std::string> entries_;
  QGroupBox* rgPorts_ = nullptr;
  QButtonGroup* buttons_ = nullptr;
};

}  // namespace qvl
