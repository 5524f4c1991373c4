#include "viewer/forms/histogram_form.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRubberBand>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "viewer/qt_text.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/strip_chart.h"
#include "viewer/viewer_settings.h"

namespace qvl {
namespace {

constexpr const char* kDiscardKey = "DiscardFirstSlot";

// The labels' texts carry CR as their line break.
QString LabelText(const std::string& text) {
  QString s = Cp1252ToQString(text);
  s.replace('\r', '\n');
  return s;
}

}  // namespace

// --- chart area
// --------------------------------------------------------------------------------------

THistogramChartView::THistogramChartView(QChart* chart, QWidget* parent)
    : QChartView(chart, parent) {
  setRubberBand(QChartView::NoRubberBand);
  band_ = new QRubberBand(QRubberBand::Rectangle, this);
}

void THistogramChartView::mousePressEvent(QMouseEvent* event) {
  emit Pressed();
  origin_ = last_ = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    zooming_ = true;
    band_->setGeometry(QRect(origin_, QSize()));
    band_->show();
  } else if (event->button() == Qt::RightButton) {
    scrolling_ = true;
  }
  event->accept();
}

void THistogramChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (zooming_) band_->setGeometry(QRect(origin_, pos).normalized());
  if (scrolling_) {
    // The graph follows the mouse.
    const QPoint d = pos - last_;
    chart()->scroll(-d.x(), d.y());
  }
  last_ = pos;
  event->accept();
}

void THistogramChartView::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (zooming_ && event->button() == Qt::LeftButton) {
    zooming_ = false;
    band_->hide();
    const QPoint d = pos - origin_;
    if (d.x() > 0 && d.y() > 0)
      chart()->zoomIn(QRectF(origin_, pos));
    else if (d.x() < 0 && d.y() < 0)
      chart()->zoomReset();
  }
  if (event->button() == Qt::RightButton) scrolling_ = false;
  event->accept();
}

// --- window
// ------------------------------------------------------------------------------------------

TfrmHistogram::TfrmHistogram(TIniFile* settings, std::function<void()> showMain, QWidget* parent)
    : QMainWindow(parent, Qt::Window), settings_(settings), showMain_(std::move(showMain)) {
  setObjectName("frmHistogram");
  setAttribute(Qt::WA_DeleteOnClose, false);
  BuildControls();
  resize(720, 440);
}

void TfrmHistogram::BuildControls() {
  auto action = [this](const char* name, const QString& caption, const QString& hint) {
    auto* a = new QAction(caption, this);
    a->setObjectName(name);
    a->setToolTip(hint);
    a->setStatusTip(hint);
    return a;
  };
  actMainWindow_ = action("actMainWindow", "Main Window", "Click here to reach the main window");
  actSmoother_ = action("actSmoother", "Finer", "Make the histogram with more finer bins");
  actSmoother_->setShortcut(QKeySequence("Ctrl+F"));
  actCoarser_ = action("actCoarser", "Coarser", "Make the histogram with fewer, coarser bins");
  actCoarser_->setShortcut(QKeySequence("Ctrl+C"));
  actBinSize_ = action("actBinSize", "Bin size (now )", "Set the bin size to a specific value");
  actRefresh_ = action("actRefresh", "Refresh", "Refresh histogram with currently viewed data");
  connect(actMainWindow_, &QAction::triggered, this, [this] {
    if (showMain_) showMain_();
  });
  connect(actSmoother_, &QAction::triggered, this, &TfrmHistogram::Finer);
  connect(actCoarser_, &QAction::triggered, this, &TfrmHistogram::Coarser);
  connect(actBinSize_, &QAction::triggered, this, &TfrmHistogram::AskBinSize);
  connect(actRefresh_, &QAction::triggered, this, &TfrmHistogram::Refresh);

  auto* bar = addToolBar("Histogram");
  bar->setObjectName("tbHistogram");
  bar->setMovable(false);
  for (QAction* a : {actMainWindow_, actSmoother_, actCoarser_, actBinSize_, actRefresh_})
    bar->addAction(a);

  // The chart.
  chart_ = new QChart();
  chart_->legend()->hide();
  upper_ = new QLineSeries(chart_);
  area_ = new QAreaSeries(upper_);
  area_->setColor(QColor(0x30, 0x60, 0xC0));
  area_->setBorderColor(QColor(0x10, 0x20, 0x60));
  chart_->addSeries(area_);
  axisX_ = new QValueAxis(chart_);
  axisY_ = new QValueAxis(chart_);
  axisY_->setTitleText("Probability %");
  chart_->addAxis(axisX_, Qt::AlignBottom);
  chart_->addAxis(axisY_, Qt::AlignLeft);
  area_->attachAxis(axisX_);
  area_->attachAxis(axisY_);
  view_ = new THistogramChartView(chart_);
  view_->setObjectName("chHistogram");
  view_->setRenderHint(QPainter::Antialiasing);

  // The hint memo over the chart.
  memo_ = new QTextEdit(view_);
  memo_->setObjectName("memoHints");
  memo_->setReadOnly(true);
  memo_->setHtml(
      "<p>Mouse actions in graphics area:</p>"
      "<p>- <b>Scroll</b> the graph by moving the mouse with the right button down<br>"
      "- <b>Zoom into</b> a selected area by dragging with the left button from top left to "
      "bottom right<br>"
      "- <b>Zoom all</b> (or default) by dragging with the left button from bottom right to top "
      "left</p>"
      "<p></p><p>Click anywhere in the graph to close this memo.</p>");
  memo_->setGeometry(40, 30, 420, 150);
  memo_->hide();
  connect(view_, &THistogramChartView::Pressed, memo_, &QWidget::hide);

  // The side panel.
  auto* panel = new QWidget;
  auto* side = new QVBoxLayout(panel);
  auto label = [&](const char* name, const QString& text = {}) {
    auto* l = new QLabel(text);
    l->setObjectName(name);
    side->addWidget(l);
    return l;
  };
  auto* modes = new QGroupBox;
  auto* modeLayout = new QVBoxLayout(modes);
  rbProbability_ = new QRadioButton("Probability");
  rbProbability_->setObjectName("rbProbability");
  rbProbability_->setChecked(true);
  rbCount_ = new QRadioButton("Count");
  rbCount_->setObjectName("rbCount");
  modeLayout->addWidget(rbProbability_);
  modeLayout->addWidget(rbCount_);
  side->addWidget(modes);
  connect(rbProbability_, &QRadioButton::toggled, this, [this](bool on) { SetProbability(on); });
  cbDiscardFirst_ = new QCheckBox("Discard samples in first occupied bin");
  cbDiscardFirst_->setObjectName("cbDiscardFirst");
  // The choice is the rider's: a new window starts with the one stored last.
  if (settings_)
    cbDiscardFirst_->setChecked(settings_->ReadBool(ini::kHistograms, kDiscardKey, false));
  connect(cbDiscardFirst_, &QCheckBox::toggled, this, &TfrmHistogram::SetDiscardFirst);
  side->addWidget(cbDiscardFirst_);
  label("lblFromCaption", "From:");
  lblFrom_ = label("lblFrom");
  label("lblToCaption", "To:");
  lblTo_ = label("lblTo");
  lblSession_ = label("lblSession");
  lblRun_ = label("lblRun");
  lblSamples_ = label("lblSamples");
  lblAverage_ = label("lblAverage");
  lblMedian_ = label("lblMedian");
  lblSmoothing_ = label("lblSmoothing");
  side->addStretch();
  auto* hints = new QPushButton("Hints");
  hints->setObjectName("btnHints");
  connect(hints, &QPushButton::clicked, this, [this] {
    memo_->show();
    memo_->raise();
  });
  side->addWidget(hints);

  auto* central = new QWidget;
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(view_, 1);
  row->addWidget(panel);
  setCentralWidget(central);
  lblPath_ = new QLabel;
  lblPath_->setObjectName("lblPath");
  statusBar()->addWidget(lblPath_, 1);
}

void TfrmHistogram::Fill(const TRunDisplay& display, const TKelStripChart& chart, int strip) {
  display_ = &display;
  chartSource_ = &chart;
  strip_ = strip;
  if (binCount_ == 0) binCount_ = 20;
  Refresh();
  show();
  raise();
  activateWindow();
}

void TfrmHistogram::ReadRange() {
  const TStripView& view = display_->Chart().strips.at(size_t(strip_));
  const TCurveData& curve = view.Curve(0, 0);
  const TStrip& s = display_->Strips().at(size_t(strip_));
  values_ = curve.series ? curve.series : std::make_shared<const std::vector<float>>();
  period_ = curve.period;
  smoothing_ = s.main.smoothing;
  unit_ = EntryUnitSuffix(s.main, display_->MainSlot().controller.get());
  title_ = view.title;
  if (chartSource_) {
    rangeStart_ = chartSource_->PixelToIndex(0);
    rangeEnd_ = chartSource_->PixelToIndex(chartSource_->PlotRect().width());
    // The chart's last sample may lie past the selection's end by part of a curve period.
    const int64_t last = std::max<int64_t>(display_->SampleCount() - 1, 0);
    rangeStart_ = std::min(rangeStart_, last);
    rangeEnd_ = std::min(rangeEnd_, last);
  }
}

void TfrmHistogram::Refresh() {
  if (!display_ || strip_ < 0 || size_t(strip_) >= display_->Chart().strips.size()) return;
  ReadRange();
  try {
    Compute(fixedWidth_, width_, binCount_);
  } catch (const std::exception& e) {
    // A width that no longer fits the values: back to bins by count.
    Compute(false, 0, binCount_);
  }
  const QString title = Cp1252ToQString(title_);
  setWindowTitle("Histogram - " + title);
  axisX_->setTitleText(title);
  lblPath_->setText(QString::fromStdString(display_->MainSlot().path));
  const THistogramRangeLabels range = HistogramRangeLabels(
      *display_->MainSlot().store, display_->DisplayStart(), rangeStart_, rangeEnd_);
  lblSession_->setText(LabelText(range.session));
  lblRun_->setText(LabelText(range.run));
  lblFrom_->setText(LabelText(range.from));
  lblTo_->setText(LabelText(range.to));
}

void TfrmHistogram::Compute(bool fixedWidth, double width, int binCount) {
  THistogramInput in;
  in.values = values_.get();
  in.period = period_;
  in.rangeStart = rangeStart_;
  in.rangeEnd = rangeEnd_;
  in.binCount = binCount;
  in.fixedWidth = fixedWidth;
  in.width = width;
  in.discardFirst = cbDiscardFirst_->isChecked();
  in.probability = rbProbability_->isChecked();
  in.smoothing = smoothing_;
  in.unit = unit_;
  THistogram h = ComputeHistogram(in);  // raises before anything changes
  histogram_ = std::move(h);
  fixedWidth_ = fixedWidth;
  width_ = width;
  binCount_ = fixedWidth ? binCount_ : binCount;
  ShowHistogram();
}

void TfrmHistogram::ShowHistogram() {
  const THistogram& h = histogram_;
  // Each bin's value holds across its width: the stepped outline.
  QList<QPointF> points;
  double top = 0;
  for (size_t j = 0; j + 1 < h.series.size(); ++j) {
    points.append(QPointF(h.series[j].x, h.series[j].y));
    points.append(QPointF(h.series[j + 1].x, h.series[j].y));
    top = std::max(top, h.series[j].y);
  }
  if (!h.series.empty()) points.append(QPointF(h.series.back().x, h.series.back().y));
  upper_->replace(points);
  if (!h.series.empty()) {
    axisX_->setRange(h.series.front().x, h.series.back().x);
    axisY_->setRange(0, top > 0 ? top * 1.05 : 1);
  }
  chart_->zoomReset();
  axisY_->setTitleText(rbProbability_->isChecked() ? "Probability %" : "Count");
  actBinSize_->setText(Cp1252ToQString(h.binSizeCaption));
  lblAverage_->setText(Cp1252ToQString(h.average));
  lblMedian_->setText(Cp1252ToQString(h.median));
  lblSamples_->setText(Cp1252ToQString(h.sampleCount));
  lblSmoothing_->setText(Cp1252ToQString(h.smoothing));
}

void TfrmHistogram::Finer() {
  if (!display_) return;
  Compute(false, 0, FinerBinCount(binCount_));
}

void TfrmHistogram::Coarser() {
  if (!display_) return;
  Compute(false, 0, CoarserBinCount(binCount_));
}

bool TfrmHistogram::SetBinSizeText(const QString& text) {
  double w = 0;
  try {
    if (!TryParseDouble(QStringToCp1252(text.trimmed()), w))
      throw Exception("'" + QStringToCp1252(text) + "' is not a valid floating point value");
    if (display_) Compute(true, w, binCount_);
    return true;
  } catch (const std::exception& e) {
    QMessageBox::critical(this, "Histogram", QString::fromStdString(e.what()));
    return false;
  }
}

void TfrmHistogram::AskBinSize() {
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, "Histogram", "Enter new bin size", QLineEdit::Normal,
                            fixedWidth_ ? QString::number(width_) : QString(), &ok);
  if (ok) SetBinSizeText(text);
}

void TfrmHistogram::SetProbability(bool on) {
  if (rbProbability_->isChecked() != on) {
    (on ? rbProbability_ : rbCount_)->setChecked(true);
    return;  // the toggle comes back here
  }
  if (display_) Compute(fixedWidth_, width_, binCount_);
  axisY_->setTitleText(on ? "Probability %" : "Count");
}

void TfrmHistogram::SetDiscardFirst(bool on) {
  if (cbDiscardFirst_->isChecked() != on) {
    cbDiscardFirst_->setChecked(on);
    return;
  }
  if (settings_) settings_->WriteBool(ini::kHistograms, kDiscardKey, on);
  if (display_) Compute(fixedWidth_, width_, binCount_);
}

}  // namespace qvl
