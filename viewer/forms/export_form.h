// TfrmExport: the export dialog. It exports the main curves of the chart's strips (the strip it
// was opened on, or all of them) over the displayed run or session or over the part in view, to
// a tab-separated text file chosen after OK. One dialog serves the whole program and remembers
// its choices.
#pragma once

#include <functional>

#include <QDialog>
#include <QPointer>

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace qvl {

class TKelStripChart;
class TRunDisplay;
struct TExportChoice;

class TfrmExport : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmExport(QWidget* parent = nullptr);

  // Shows the dialog for strip `selected` of `display` as `chart` shows it; after OK asks for
  // the file and writes it. A failure is reported in a message box. True when a file was
  // written.
  bool Execute(const TRunDisplay& display, const TKelStripChart& chart, int selected);

  // The choices: 0 "Run or session being viewed", 1 "Part currently in display"; 0 "Selected
  // data", 1 "All viewed data".
  int TimeRange() const;
  int Channels() const;

  // Asks for the file to write, starting in `folder`; an empty answer writes nothing. The save
  // dialog unless something else is put in its place (the tests answer directly).
  std::function<QString(const QString& folder)> chooseFile;

 private:
  TExportChoice Choice() const;
  void RefreshLabels();

  const TRunDisplay* display_ = nullptr;
  QPointer<const TKelStripChart> chart_;
  int selected_ = 0;
  QButtonGroup* rgTimeRange_ = nullptr;
  QButtonGroup* rgChannels_ = nullptr;
  QLabel* lblWholeRange_ = nullptr;
  QLabel* lblVisiblePart_ = nullptr;
  QLabel* lblSelected_ = nullptr;
  QLabel* lblChannels_ = nullptr;
};

}  // namespace qvl
