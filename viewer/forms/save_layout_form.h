// TfrmSaveLayout: names the chart's current arrangement and saves it as a layout.
#pragma once

#include <QDialog>
#include <functional>

class QComboBox;

namespace qvl {

class TLayoutManager;

class TfrmSaveLayout : public QDialog {
  Q_OBJECT

 public:
  TfrmSaveLayout(TLayoutManager& layouts, QWidget* parent = nullptr);

  // Shows the dialog modally; the index of the saved layout, or -1 when nothing was saved.
  int Execute();
  // Saves the manager's working layout under the typed name (the OK button); -1 when the name
  // is empty or cannot be used (then the dialog stays open).
  int SaveAs(const QString& name);
  QComboBox* NameBox() const { return cbName_; }
  // Shows why a name cannot be used (default: a message box).
  std::function<void(const QString&)> showMessage;

 private:
  TLayoutManager& layouts_;
  QComboBox* cbName_;
  int saved_ = -1;
};

}  // namespace qvl
