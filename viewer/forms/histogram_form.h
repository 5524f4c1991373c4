// TfrmHistogram: the distribution of one strip's main curve over the part of the main chart in
// view, as a stepped area chart with its side panel of labels. The binning and the labels come
// from viewer/histogram.h; the window keeps the bin count, the bin width mode and the range read
// from the chart, and recomputes from that range until Refresh reads the chart again.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QtCharts/QChartView>
#include <functional>
#include <vector>

#include "viewer/histogram.h"
#include "viewer/run_display.h"

class QAction;
class QCheckBox;
class QLabel;
class QRadioButton;
class QRubberBand;
class QTextEdit;
class QAreaSeries;
class QLineSeries;
class QValueAxis;

namespace qvl {

class TIniFile;
class TKelStripChart;
class TRunDisplay;

// The chart area: a left-button drag from top left to bottom right zooms into the dragged
// rectangle, one from bottom right to top left shows everything again, and moving the mouse with
// the right button down scrolls. Any press is reported (it closes the hint memo).
class THistogramChartView : public QChartView {
  Q_OBJECT
 public:
  explicit THistogramChartView(QChart* chart, QWidget* parent = nullptr);

 signals:
  void Pressed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QRubberBand* band_ = nullptr;
  QPoint origin_;
  QPoint last_;
  bool zooming_ = false, scrolling_ = false;
};

class TfrmHistogram : public QMainWindow {
  Q_OBJECT
 public:
  // `settings` keeps the "Discard samples in first occupied bin" choice (may be null); `showMain`
  // brings the main window forward.
  TfrmHistogram(TIniFile* settings, std::function<void()> showMain, QWidget* parent = nullptr);

  // Takes strip `strip` of the display as `chart` shows it: reads the chart's visible range,
  // computes and shows the window.
  void Fill(const TRunDisplay& display, const TKelStripChart& chart, int strip);

  // The actions' work, also for callers without the menus.
  void Finer();
  void Coarser();
  // Parses a bin size; a text that is not a positive number is reported in a message box and
  // changes nothing. True when the new width was taken.
  bool SetBinSizeText(const QString& text);
  void Refresh();
  void SetProbability(bool on);
  void SetDiscardFirst(bool on);

  int Strip() const { return strip_; }
  int BinCount() const { return binCount_; }
  bool FixedWidth() const { return fixedWidth_; }
  int64_t RangeStart() const { return rangeStart_; }
  int64_t RangeEnd() const { return rangeEnd_; }
  const THistogram& Histogram() const { return histogram_; }
  QChart* HistogramChart() const { return chart_; }
  // The stepped outline drawn: each bin's value held across its width, then the closing point.
  QLineSeries* Outline() const { return upper_; }
  QValueAxis* BottomAxis() const { return axisX_; }
  QValueAxis* LeftAxis() const { return axisY_; }
  THistogramChartView* ChartView() const { return view_; }
  QTextEdit* HintMemo() const { return memo_; }
  QAction* BinSizeAction() const { return actBinSize_; }

 private:
  void BuildControls();
  // Computes from the remembered range; throws (and keeps the state) when the input is refused.
  void Compute(bool fixedWidth, double width, int binCount);
  void ShowHistogram();
  void ReadRange();
  void AskBinSize();

  TIniFile* settings_;
  std::function<void()> showMain_;
  const TRunDisplay* display_ = nullptr;
  QPointer<const TKelStripChart> chartSource_;
  int strip_ = -1;
  // The strip's main curve, shared with the chart (never null).
  TCurveValues values_ = std::make_shared<const std::vector<float>>();
  double period_ = 1;
  int smoothing_ = 0;
  std::string unit_;
  std::string title_;
  int64_t rangeStart_ = 0, rangeEnd_ = 0;
  int binCount_ = 0;
  bool fixedWidth_ = false;
  double width_ = 0;
  THistogram histogram_;

  QAction* actMainWindow_ = nullptr;
  QAction* actSmoother_ = nullptr;
  QAction* actCoarser_ = nullptr;
  QAction* actBinSize_ = nullptr;
  QAction* actRefresh_ = nullptr;
  QRadioButton* rbProbability_ = nullptr;
  QRadioButton* rbCount_ = nullptr;
  QCheckBox* cbDiscardFirst_ = nullptr;
  QLabel* lblFrom_ = nullptr;
  QLabel* lblTo_ = nullptr;
  QLabel* lblSession_ = nullptr;
  QLabel* lblRun_ = nullptr;
  QLabel* lblSamples_ = nullptr;
  QLabel* lblAverage_ = nullptr;
  QLabel* lblMedian_ = nullptr;
  QLabel* lblSmoothing_ = nullptr;
  QLabel* lblPath_ = nullptr;  // the main log file, in the status bar
  QTextEdit* memo_ = nullptr;
  QChart* chart_ = nullptr;
  QLineSeries* upper_ = nullptr;
  QAreaSeries* area_ = nullptr;
  QValueAxis* axisX_ = nullptr;
  QValueAxis* axisY_ = nullptr;
  THistogramChartView* view_ = nullptr;
};

}  // namespace qvl
