// TKelStripChart: stacked horizontal bands of curves against one time axis, drawn entirely by
// the chart itself into a cached image, with its own toolbars for horizontal zoom, per-band
// buttons for vertical scaling, cursors with zoom buttons, bookmarks and highlighted stretches.
// Its bands (TStripChannel), curves (TStripPlot) and cursors (TStripCursor) have headers of
// their own, included here.
#pragma once

#include <QFont>
#include <QImage>
#include <QMenu>
#include <QPen>
#include <QPointer>
#include <QRegion>
#include <QScrollBar>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/strip_channel.h"
#include "viewer/stripchart/strip_chart_host.h"
#include "viewer/stripchart/strip_chart_types.h"
#include "viewer/stripchart/strip_cursor.h"
#include "viewer/stripchart/strip_plot.h"
#include "viewer/stripchart/time_axis.h"

namespace qvl {

class TKelStripChart : public QWidget, private IStripChartHost {
  Q_OBJECT
 public:
  explicit TKelStripChart(QWidget* parent = nullptr);
  ~TKelStripChart() override;

  static constexpr int kLeftMargin = 75;
  static constexpr int kTopToolBarHeight = 29;
  static constexpr int kRightToolBarWidth = 60;
  static constexpr int kTimeLabelHeight = 20;
  // Time labels wider than this are cut.
  static constexpr int kMaxTimeLabelWidth = 120;

  // --- Properties
  bool HorizontalScrollBar() const { return hasScrollBar_; }
  void SetHorizontalScrollBar(bool on);
  // x units per pixel (kept as pixels per unit).
  double XScale() const { return 1.0 / pixelsPerUnit_; }
  void SetXScale(double unitsPerPixel);
  double PixelsPerUnit() const { return pixelsPerUnit_; }
  long long XStartPixel() const { return start_; }
  void SetXStartPixel(long long pixel) { ScrollTo(pixel, true); }
  bool RightToolBar() const { return hasRightBar_; }
  void SetRightToolBar(bool on);
  bool TopToolBar() const { return hasTopBar_; }
  void SetTopToolBar(bool on);
  const QFont& ScaleFont() const { return scaleFont_; }
  void SetScaleFont(const QFont& font, const QColor& colour);
  const QFont& TitleFont() const { return titleFont_; }
  void SetTitleFont(const QFont& font, const QColor& colour);
  bool ScrollWithMouse() const { return scrollWithMouse_; }
  void SetScrollWithMouse(bool on) { scrollWithMouse_ = on; }
  double DblClickXUnitsPerPixel() const { return dblClickXUnitsPerPixel_; }
  void SetDblClickXUnitsPerPixel(double u) { dblClickXUnitsPerPixel_ = u; }
  const QColor& Brush() const { return background_; }
  void SetBrush(const QColor& background);
  const QString& Hint() const { return hint_; }
  void SetHint(const QString& hint) { hint_ = hint; }
  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  // The pen new curves start with.
  const QPen& DefaultPen() const { return defaultPen_; }

  // --- Updates
  void BeginUpdate();
  void EndUpdate();

  // --- Bands
  TStripChannel* AddChannel();
  int ChannelCount() const { return int(channels_.size()); }
  TStripChannel* Channels(int i) const;
  void MoveChannel(int from, int to);
  void DeleteChannel(int i);
  void ClearChannels();
  // The band whose rows contain y, or nullptr.
  TStripChannel* ChannelAt(int y) const;

  // --- Cursors
  int AddCursor();
  int CursorCount() const { return int(cursors_.size()); }
  TStripCursor* Cursors(int i) const;

  // --- Bookmarks
  void AddBookmark(TColor colour, const QString& hint, double x);
  void ClearBookmarks();
  const std::vector<TBookmark>& Bookmarks() const { return bookmarks_; }

  // --- Horizontal axis
  // Uniform x: chart sample i lies at i * unitsPerSample.
  void SetSampleInterval(double unitsPerSample);
  double SampleInterval() const { return interval_; }
  // Explicit x: one ascending value per sample. Resets the scroll position and hides every
  // cursor.
  void SetXValues(std::vector<double> xValues);
  bool ExplicitX() const { return explicit_; }
  const std::vector<double>& XValues() const { return xValues_; }
  double XValueOf(int index) const;
  int SampleCount() const { return sampleCount_; }
  // The sample at pixel x counted from the plot's left edge, limited to the data.
  int PixelToIndex(int x) const;
  // Global pixel of x value `x` at the current scale.
  long long XToPixel(double x) const;

  void ZoomX(int anchor, double factor);
  void ScrollTo(long long pixel, bool moveScrollBar);
  void ShowFullExtent();

  // --- Geometry
  QRect ClientRect() const;
  QRect PlotRect() const;  // left, top, right (exclusive), bottom (exclusive)
  long long Extent() const { return extent_; }
  int ScrollDivisor() const { return divisor_; }
  const TTimeAxisStep& TimeStep() const { return timeStep_; }
  QScrollBar* ScrollBar() const { return scrollBar_; }
  TStripToolBar* TopToolBarWidget() const { return topBar_; }
  TStripToolBar* RightToolBarWidget() const { return rightBar_; }
  // The top toolbar's zoom buttons 0 to 3.
  TStripButton* ZoomButton(int i) const;

  // The hint shown at chart point `pos`: a bookmark's text near a bookmark tab, else the
  // chart's own hint.
  QString HintAt(const QPoint& pos) const;
  // The band whose lower edge is at row y (or one row below), x right of the scale margin;
  // -1 when none. The last band's edge is not draggable.
  int BandEdgeAt(const QPoint& pos) const;

  // The cached image of the chart (without cursors) and how many times parts of it were
  // drawn anew.
  const QImage& CacheImage() const { return cache_; }
  int CacheRenderCount() const { return renderCount_; }
  // From how many samples in view on the curves' pixel columns are computed on two threads
  // (one million unless set; for comparing both ways).
  void SetParallelColumnsFrom(double samplesInView) { parallelColumnsFrom_ = samplesInView; }
  // Marks the whole chart for repainting.
  void InvalidateAll();

 signals:
  void OnClick(QPoint pos);
  void OnResizeChannels();
  void OnMouseMove(QPoint pos, Qt::KeyboardModifiers modifiers);
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum : unsigned { kNeedLayout = 1, kNeedExtent = 2 };
  // What the bands, curves and cursors tell the chart.
  void CurvesChanged() override;
  void BandsChanged() override;
  void Repaint(const QRegion& region) override;
  void PlaceCursorButtons() override;
  void CursorMoved(TStripCursor* cursor, long long oldX) override;
  void ZoomAroundCursor(TStripCursor* cursor, double unitsPerPixel) override;
  void RestoreView(double unitsPerPixel, long long start) override;

  void Changed(unsigned what, const QRegion& dirty);
  void Flush();
  void Relayout();
  void RecomputeExtent();
  void UpdateScrollBar();
  void PlaceToolBars();
  void SetStart(long long start);  // without scrolling the cached image
  void ScrollBarAction(int action);
  QRect CursorRect(long long x) const;
  QRegion PlotAndLabels() const;

  // Drawing into the cached image.
  void Render(const QRegion& region);
  void RenderRect(QPainter& painter, const QRect& clip);
  void DrawScales(QPainter& painter, const QRect& clip);
  void DrawFrames(QPainter& painter, const QRect& clip);
  void DrawGrid(QPainter& painter, const QRect& clip);
  void DrawBookmarkLines(QPainter& painter, const QRect& clip);
  void DrawCurves(QPainter& painter, const QRect& clip);
  // Computes the pixel columns of the long curves that DrawCurves is about to draw, spread
  // over two threads when there are many samples in view and a second core to take them.
  void PrepareColumns(long long globalFirst, int count, const QRect& clip);
  void DrawHighlights(QPainter& painter, const QRect& clip);
  void DrawBookmarkTabs(QPainter& painter, const QRect& clip);
  void DrawTimeLabels(QPainter& painter, const QRect& clip);
  void DrawCursors(QPainter& painter, const QRegion& region);

  // Properties.
  bool hasScrollBar_ = true;
  bool hasTopBar_ = true;
  bool hasRightBar_ = true;
  double pixelsPerUnit_ = 100;
  long long start_ = 0;
  QFont scaleFont_;
  QColor scaleColour_ = Qt::white;
  QFont titleFont_;
  QColor titleColour_ = Qt::white;
  bool scrollWithMouse_ = true;
  double dblClickXUnitsPerPixel_ = 0.01;
  QColor background_ = Qt::black;
  QString hint_;
  QPointer<QMenu> popupMenu_;
  QPen defaultPen_;
  QPen gridPen_;

  // Content.
  std::vector<std::unique_ptr<TStripChannel>> channels_;
  std::vector<std::unique_ptr<TStripCursor>> cursors_;
  std::vector<TBookmark> bookmarks_;
  bool explicit_ = false;
  double interval_ = 1;
  std::vector<double> xValues_;

  // Derived state.
  TTimeAxisStep timeStep_;
  long long extent_ = 0;
  int sampleCount_ = 0;
  int divisor_ = 1;
  int updateDepth_ = 0;
  unsigned pending_ = 0;
  QRegion dirty_;
  QImage cache_;
  int renderCount_ = 0;
  double parallelColumnsFrom_ = 1e6;

  // Children.
  QScrollBar* scrollBar_ = nullptr;
  TStripToolBar* topBar_ = nullptr;
  TStripToolBar* rightBar_ = nullptr;
  std::array<TStripButton*, 4> zoomButtons_{};

  // Mouse.
  bool pressed_ = false;
  bool dragging_ = false;
  QPoint pressPos_;
  long long pressStart_ = 0;
  std::vector<int> pressOffsets_;
  int resizingBand_ = -1;
};

}  // namespace qvl
