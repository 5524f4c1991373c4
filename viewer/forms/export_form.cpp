#include "viewer/forms/export_form.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "viewer/export_selection.h"
#include "viewer/qt_text.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/strip_chart.h"

namespace qvl {
namespace {

QButtonGroup* RadioGroup(QWidget* owner, QVBoxLayout* layout, const char* name,
                         const QString& caption, const QStringList& items, QLabel** labels) {
  auto* box = new QGroupBox(caption);
  box->setObjectName(name);
  auto* grid = new QGridLayout(box);
  auto* group = new QButtonGroup(owner);
  group->setObjectName(name);
  for (int i = 0; i < items.size(); ++i) {
    auto* rb = new QRadioButton(items[i]);
    group->addButton(rb, i);
    grid->addWidget(rb, i, 0);
    grid->addWidget(labels[i], i, 1);
  }
  group->button(0)->setChecked(true);
  layout->addWidget(box);
  return group;
}

QLabel* NamedLabel(const char* name) {
  auto* l = new QLabel;
  l->setObjectName(name);
  return l;
}

}  // namespace

TfrmExport::TfrmExport(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("frmExport");
  setWindowTitle("QVLView - Export");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  lblWholeRange_ = NamedLabel("lblWholeRange");
  lblVisiblePart_ = NamedLabel("lblVisiblePart");
  lblSelected_ = NamedLabel("lblSelected");
  lblChannels_ = NamedLabel("lblChannels");
  QLabel* range[] = {lblWholeRange_, lblVisiblePart_};
  rgTimeRange_ = RadioGroup(this, layout, "rgTimeRange", " Time range to export ",
                            {"Run or session being viewed", "Part currently in display"}, range);
  QLabel* channels[] = {lblSelected_, lblChannels_};
  rgChannels_ = RadioGroup(this, layout, "rgChannels", " What to export",
                           {"Selected data", "All viewed data"}, channels);
  connect(rgChannels_, &QButtonGroup::idToggled, this, [this](int, bool on) {
    if (on) RefreshLabels();
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

int TfrmExport::TimeRange() const {
  return rgTimeRange_->checkedId();
}

int TfrmExport::Channels() const {
  return rgChannels_->checkedId();
}

TExportChoice TfrmExport::Choice() const {
  TExportChoice c;
  c.selected = selected_;
  c.allStrips = Channels() == 1;
  c.visiblePart = TimeRange() == 1;
  if (chart_) {
    c.visibleFirst = chart_->PixelToIndex(0);
    c.visibleLast = chart_->PixelToIndex(chart_->PlotRect().width());
  }
  return c;
}

void TfrmExport::RefreshLabels() {
  if (!display_) return;
  const TExportLabels labels = ExportLabelsOf(*display_, Choice());
  lblWholeRange_->setText(Cp1252ToQString(labels.wholeRange));
  lblVisiblePart_->setText(Cp1252ToQString(labels.visiblePart));
  const auto& strips = display_->Chart().strips;
  lblSelected_->setText(selected_ >= 0 && size_t(selected_) < strips.size()
                            ? Cp1252ToQString(strips[size_t(selected_)].title)
                            : QString());
  lblChannels_->setText(QString("%1 channels").arg(strips.size()));
}

bool TfrmExport::Execute(const TRunDisplay& display, const TKelStripChart& chart, int selected) {
  display_ = &display;
  chart_ = &chart;
  selected_ = selected;
  RefreshLabels();
  if (exec() != QDialog::Accepted) return false;

  // Starts beside the log file rather than wherever a dialog was last.
  const QFileInfo log(QString::fromStdString(display.MainSlot().path));
  const QString folder = display.MainSlot().path.empty() ? QString() : log.absolutePath();
  QString chosen;
  if (chooseFile) {
    chosen = chooseFile(folder);
  } else {
    QFileDialog save(parentWidget(), "Export", folder);
    save.setObjectName("dlgSaveExport");
    save.setAcceptMode(QFileDialog::AcceptSave);
    save.setFileMode(QFileDialog::AnyFile);
    if (save.exec() == QDialog::Accepted && !save.selectedFiles().isEmpty())
      chosen = save.selectedFiles().first();
  }
  if (chosen.isEmpty()) return false;
  const std::string path = chosen.toStdString();
  try {
    WriteExportFile(path, ExportRequestOf(display, Choice()));
    return true;
  } catch (const std::exception& e) {
    QMessageBox::critical(parentWidget(), windowTitle(), QString::fromStdString(e.what()));
    return false;
  }
}

}  // namespace qvl
