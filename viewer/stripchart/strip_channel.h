// One band of a strip chart: its curves, its place in the chart, its default scale, its
// highlighted stretches and title, and the scale buttons beside it in the right toolbar.
#pragma once

#include <QRect>
#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "viewer/stripchart/strip_chart_types.h"
#include "viewer/stripchart/strip_plot.h"

class QWidget;

namespace qvl {

class IStripChartHost;
class TKelStripChart;
class TStripButton;

class TStripChannel {
 public:
  // Bands are made by their chart (TKelStripChart::AddChannel), which is `host` as well: the
  // band starts with one curve and puts its scale buttons on the chart's right toolbar.
  TStripChannel(TKelStripChart* chart, IStripChartHost* host);
  ~TStripChannel();
  TStripChannel(const TStripChannel&) = delete;
  TStripChannel& operator=(const TStripChannel&) = delete;

  TKelStripChart* Chart() const { return chart_; }
  int Index() const;
  // Band rectangle in chart coordinates (plot left to plot right).
  const QRect& Rect() const { return rect_; }
  // Puts the band at `rect` (the chart's layout does this): its axes take the new height and
  // its scale buttons move along in the right toolbar, which begins at row `toolBarTop`.
  void Place(const QRect& rect, int toolBarTop);

  float Weight() const { return weight_; }
  void SetWeight(float weight);

  int PlotCount() const { return int(plots_.size()); }
  TStripPlot* Plots(int i) const;
  // A further curve; it shares the axis of the first curve unless `ownAxis`.
  TStripPlot* AddPlot(bool ownAxis = false);
  // Removes curve i; the first curve stays.
  void DeletePlot(int i);

  void SetDefaultScale(double top, double bottom);
  double DefaultTop() const { return defaultTop_; }
  double DefaultBottom() const { return defaultBottom_; }

  void SetHighlights(TChannelHighlights highlights);
  const TChannelHighlights& Highlights() const { return highlights_; }

  const QString& Title() const { return title_; }
  void SetTitle(const QString& title);

  // Whether bookmark tabs are drawn on this band's top edge (used on the first band) and
  // bottom edge (used on the last band).
  bool TopBookmarkTabs() const { return topTabs_; }
  bool BottomBookmarkTabs() const { return bottomTabs_; }
  void SetBookmarkTabs(bool top, bool bottom);

  // Sets the range of the first axis from the minimum and maximum of its curves' samples (all
  // of them, or those in view) with a tenth of the span added on both sides; upside down when
  // `inverted`. Flat data leave the range unchanged.
  void Autoscale(bool inViewOnly, bool inverted);

  // Shows (or removes) the two zoom buttons of cursor `cursorIndex` in the top toolbar; this
  // band then owns them.
  void ShowCursorButtons(bool on, int cursorIndex = 0);

  // The eleven scale buttons of the right toolbar, 0 to 10.
  TStripButton* ScaleButton(int i) const;
  static constexpr int kScaleButtonCount = 11;

  // Marks the band (and its scale labels) for repainting.
  void Invalidate();

 private:
  void CreateButtons(QWidget* toolBar);
  void PlaceButtons(int toolBarTop);
  void ButtonClicked(int button);
  void ButtonRightClicked(int button);

  TKelStripChart* chart_;
  IStripChartHost* host_;
  QRect rect_;
  float weight_ = 1.0f;
  std::vector<std::unique_ptr<TStripPlot>> plots_;
  std::array<TStripButton*, kScaleButtonCount> buttons_{};
  double defaultTop_ = 1;
  double defaultBottom_ = 0;
  TChannelHighlights highlights_;
  QString title_;
  bool topTabs_ = true;
  bool bottomTabs_ = true;
  int cursorButtonsOf_ = -1;  // index of the cursor whose buttons this band owns
};

}  // namespace qvl
