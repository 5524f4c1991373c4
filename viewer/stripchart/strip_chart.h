// TKelStripChart: stacked horizontal bands of curves against one time axis, drawn entirely by
// the chart itself into a cached image, with its own toolbars for horizontal zoom, per-band
// buttons for vertical scaling, cursors with zoom buttons, bookmarks and highlighted stretches.
#pragma once

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPen>
#include <QPointer>
#include <QRegion>
#include <QScrollBar>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/stripchart/ksc_y_axis.h"
#include "viewer/stripchart/min_max_pyramid.h"
#include "viewer/stripchart/sample_mapping.h"
#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/time_axis.h"

#include <QMenu>

namespace qvl {

class TKelStripChart;
class TStripChannel;

// A Windows colour value, 0x00BBGGRR (0xFF0000 is blue).
using TColor = std::uint32_t;
QColor ColorToQColor(TColor colour);

// A highlighted stretch of a band, from sample First to sample Last of its first curve.
struct THighlight {
  int First = 0;
  int Last = 0;
  TColor Pen = 0;
  TColor Brush = 0;
};
using TChannelHighlights = std::vector<THighlight>;

struct TBookmark {
  double X = 0;
  long long Pixel = 0;  // X * pixels per unit, recomputed when the scale changes
  TColor Colour = 0;
  QString Hint;
};

// One curve of a band.
class TStripPlot {
 public:
  TStripChannel* Channel() const { return m_Channel; }
  TKscYAxis& Axis() { return *m_Axis; }
  const TKscYAxis& Axis() const { return *m_Axis; }
  const std::shared_ptr<TKscYAxis>& SharedAxis() const { return m_Axis; }

  const QPen& Pen() const { return m_Pen; }
  void SetPen(const QPen& pen);
  void SetColour(TColor colour);

  // Values at regular spacing: sample i lies at x = i * unitsPerSample - xOffset (before the
  // movable offset). Builds the min/max pyramid.
  void SetValues(std::vector<float> values, double unitsPerSample, double xOffset = 0);
  // Values placed at the chart's explicit x values (one per sample).
  void SetExplicitValues(std::vector<float> values);
  void ClearValues();
  const std::vector<float>& Values() const { return m_Values; }
  bool RegularSpacing() const { return m_Regular; }
  double UnitsPerSample() const { return m_UnitsPerSample; }
  double XOffset() const { return m_XOffset; }
  const TMinMaxPyramid& Pyramid() const { return m_Pyramid; }

  // A movable curve can be slid sideways with Ctrl and the mouse; its offset is in samples
  // (a positive offset moves the curve to the left).
  bool Movable() const { return m_Movable; }
  void SetMovable(bool movable) { m_Movable = movable; }
  int Offset() const { return m_Offset; }
  void SetOffset(int samples);

  // Pixels between two samples at the chart's current scale.
  double PixelsPerSample() const;
  // Samples to subtract from an index before placing it (x offset and movable offset).
  double OffsetSamples() const;
  // x of sample i (may be fractional or beyond the data).
  double XOfSample(double i) const;
  // Where the samples fall on the chart's global pixel axis at its current scale.
  TSampleMapping Mapping() const;

  // Range of the curve's axis (shared with the other curves of that axis).
  void SetRange(double step, double top, double bottom);
  void ZoomY(int mode, bool recomputeStep, double factor);

 private:
  friend class TStripChannel;
  friend class TKelStripChart;
  TStripPlot(TStripChannel* channel, std::shared_ptr<TKscYAxis> axis, const QPen& pen);
  void ValuesChanged();
  // Pixel columns [first, first + count) at the current scale, from the cache when it holds
  // them.
  const TYPix* Columns(long long first, int count, int height);

  TStripChannel* m_Channel;
  std::shared_ptr<TKscYAxis> m_Axis;
  QPen m_Pen;
  std::vector<float> m_Values;
  TMinMaxPyramid m_Pyramid;
  bool m_Regular = true;
  double m_UnitsPerSample = 1;
  double m_XOffset = 0;
  bool m_Movable = false;
  int m_Offset = 0;
  std::uint64_t m_ValuesGeneration = 0;
  // Cached pixel columns and what they were computed for.
  TYPixArray m_Columns;
  long long m_ColumnsFirst = 0;
  double m_ColumnsPixelsPerUnit = 0;
  double m_ColumnsOffset = 0;
  int m_ColumnsHeight = -1;
  std::uint64_t m_ColumnsAxisGeneration = 0;
  std::uint64_t m_ColumnsValuesGeneration = 0;
};

// One band of the chart.
class TStripChannel {
 public:
  ~TStripChannel();
  TKelStripChart* Chart() const { return m_Chart; }
  int Index() const;
  // Band rectangle in chart coordinates (plot left to plot right).
  const QRect& Rect() const { return m_Rect; }

  float Weight() const { return m_Weight; }
  void SetWeight(float weight);

  int PlotCount() const { return int(m_Plots.size()); }
  TStripPlot* Plots(int i) const;
  // A further curve; it shares the axis of the first curve unless `ownAxis`.
  TStripPlot* AddPlot(bool ownAxis = false);
  // Removes curve i; the first curve stays.
  void DeletePlot(int i);

  void SetDefaultScale(double top, double bottom);
  double DefaultTop() const { return m_DefaultTop; }
  double DefaultBottom() const { return m_DefaultBottom; }

  void SetHighlights(TChannelHighlights highlights);
  const TChannelHighlights& Highlights() const { return m_Highlights; }

  const QString& Title() const { return m_Title; }
  void SetTitle(const QString& title);

  // Whether bookmark tabs are drawn on this band's top edge (used on the first band) and
  // bottom edge (used on the last band).
  bool TopBookmarkTabs() const { return m_TopTabs; }
  bool BottomBookmarkTabs() const { return m_BottomTabs; }
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
  friend class TKelStripChart;
  friend class TStripPlot;
  explicit TStripChannel(TKelStripChart* chart);
  void CreateButtons(QWidget* toolBar);
  void PlaceButtons(int toolBarTop);
  void ButtonClicked(int button);
  void ButtonRightClicked(int button);

  TKelStripChart* m_Chart;
  QRect m_Rect;
  float m_Weight = 1.0f;
  std::vector<std::unique_ptr<TStripPlot>> m_Plots;
  std::array<TStripButton*, kScaleButtonCount> m_Buttons{};
  double m_DefaultTop = 1;
  double m_DefaultBottom = 0;
  TChannelHighlights m_Highlights;
  QString m_Title;
  bool m_TopTabs = true;
  bool m_BottomTabs = true;
  int m_CursorButtonsOf = -1;  // index of the cursor whose buttons this band owns
};

// A vertical line at one sample, with its two zoom buttons in the top toolbar.
class TStripCursor : public QObject {
  Q_OBJECT
 public:
  TKelStripChart* Chart() const { return m_Chart; }
  // Sample index; -1 hides the cursor.
  int Position() const { return m_Index; }
  void SetPosition(int index);
  // Moves to the first sample whose x is at or beyond `x`.
  void SetPositionX(double x);
  // When the cursor moves out of view, scroll so that it comes back `leftMargin` (or
  // `rightMargin`) plot widths inside the edge it crossed. Negative margins switch this off.
  void SetScrollMargins(double leftMargin, double rightMargin);
  // Column of the cursor line in chart coordinates.
  long long WindowX() const;
  TStripButton* ExpandButton() const { return m_ExpandButton; }
  TStripButton* ContractButton() const { return m_ContractButton; }

 signals:
  void OnChange(qvl::TStripCursor* cursor);

 private:
  friend class TKelStripChart;
  friend class TStripChannel;
  explicit TStripCursor(TKelStripChart* chart);
  void CreateButtons(QWidget* toolBar);
  void DeleteButtons();
  void ExpandPressed();
  void ContractPressed();
  void ButtonReleased();
  void ExpandClicked();
  void ContractClicked();

  TKelStripChart* m_Chart;
  int m_Index = -1;
  double m_LeftMargin = -1;
  double m_RightMargin = -1;
  QPointer<TStripButton> m_ExpandButton;
  QPointer<TStripButton> m_ContractButton;
  // The temporary (Ctrl) zoom: scale and scroll position to restore on release.
  bool m_TemporaryZoom = false;
  double m_SavedXScale = 0;
  long long m_SavedStart = 0;
};

class TKelStripChart : public QWidget {
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
  bool HorizontalScrollBar() const { return m_HasScrollBar; }
  void SetHorizontalScrollBar(bool on);
  // x units per pixel (kept as pixels per unit).
  double XScale() const { return 1.0 / m_PixelsPerUnit; }
  void SetXScale(double unitsPerPixel);
  double PixelsPerUnit() const { return m_PixelsPerUnit; }
  long long XStartPixel() const { return m_Start; }
  void SetXStartPixel(long long pixel) { ScrollTo(pixel, true); }
  bool RightToolBar() const { return m_HasRightBar; }
  void SetRightToolBar(bool on);
  bool TopToolBar() const { return m_HasTopBar; }
  void SetTopToolBar(bool on);
  const QFont& ScaleFont() const { return m_ScaleFont; }
  void SetScaleFont(const QFont& font, const QColor& colour);
  const QFont& TitleFont() const { return m_TitleFont; }
  void SetTitleFont(const QFont& font, const QColor& colour);
  bool ScrollWithMouse() const { return m_ScrollWithMouse; }
  void SetScrollWithMouse(bool on) { m_ScrollWithMouse = on; }
  double DblClickXUnitsPerPixel() const { return m_DblClickXUnitsPerPixel; }
  void SetDblClickXUnitsPerPixel(double u) { m_DblClickXUnitsPerPixel = u; }
  const QColor& Brush() const { return m_Background; }
  void SetBrush(const QColor& background);
  const QString& Hint() const { return m_Hint; }
  void SetHint(const QString& hint) { m_Hint = hint; }
  QMenu* PopupMenu() const { return m_PopupMenu; }
  void SetPopupMenu(QMenu* menu) { m_PopupMenu = menu; }
  // The pen new curves start with.
  const QPen& DefaultPen() const { return m_DefaultPen; }

  // --- Updates
  void BeginUpdate();
  void EndUpdate();

  // --- Bands
  TStripChannel* AddChannel();
  int ChannelCount() const { return int(m_Channels.size()); }
  TStripChannel* Channels(int i) const;
  void MoveChannel(int from, int to);
  void DeleteChannel(int i);
  void ClearChannels();
  // The band whose rows contain y, or nullptr.
  TStripChannel* ChannelAt(int y) const;

  // --- Cursors
  int AddCursor();
  int CursorCount() const { return int(m_Cursors.size()); }
  TStripCursor* Cursors(int i) const;

  // --- Bookmarks
  void AddBookmark(TColor colour, const QString& hint, double x);
  void ClearBookmarks();
  const std::vector<TBookmark>& Bookmarks() const { return m_Bookmarks; }

  // --- Horizontal axis
  // Uniform x: chart sample i lies at i * unitsPerSample.
  void SetSampleInterval(double unitsPerSample);
  double SampleInterval() const { return m_Interval; }
  // Explicit x: one ascending value per sample. Resets the scroll position and hides every
  // cursor.
  void SetXValues(std::vector<double> xValues);
  bool ExplicitX() const { return m_Explicit; }
  const std::vector<double>& XValues() const { return m_XValues; }
  double XValueOf(int index) const;
  int SampleCount() const { return m_SampleCount; }
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
  long long Extent() const { return m_Extent; }
  int ScrollDivisor() const { return m_Divisor; }
  const TTimeAxisStep& TimeStep() const { return m_TimeStep; }
  QScrollBar* ScrollBar() const { return m_ScrollBar; }
  TStripToolBar* TopToolBarWidget() const { return m_TopBar; }
  TStripToolBar* RightToolBarWidget() const { return m_RightBar; }
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
  const QImage& CacheImage() const { return m_Cache; }
  int CacheRenderCount() const { return m_RenderCount; }
  // From how many samples in view on the curves' pixel columns are computed on two threads
  // (one million unless set; for comparing both ways).
  void SetParallelColumnsFrom(double samplesInView) { m_ParallelColumnsFrom = samplesInView; }
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
  friend class TStripChannel;
  friend class TStripPlot;
  friend class TStripCursor;

  enum : unsigned { kNeedLayout = 1, kNeedExtent = 2 };
  void Changed(unsigned what, const QRegion& dirty);
  void Flush();
  void Relayout();
  void RecomputeExtent();
  void UpdateScrollBar();
  void PlaceToolBars();
  void PlaceCursorButtons();
  void SetStart(long long start);  // without scrolling the cached image
  void ScrollBarAction(int action);
  void CursorMoved(TStripCursor* cursor, long long oldX);
  void ZoomAroundCursor(TStripCursor* cursor, double unitsPerPixel);
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
  bool m_HasScrollBar = true;
  bool m_HasTopBar = true;
  bool m_HasRightBar = true;
  double m_PixelsPerUnit = 100;
  long long m_Start = 0;
  QFont m_ScaleFont;
  QColor m_ScaleColour = Qt::white;
  QFont m_TitleFont;
  QColor m_TitleColour = Qt::white;
  bool m_ScrollWithMouse = true;
  double m_DblClickXUnitsPerPixel = 0.01;
  QColor m_Background = Qt::black;
  QString m_Hint;
  QPointer<QMenu> m_PopupMenu;
  QPen m_DefaultPen;
  QPen m_GridPen;

  // Content.
  std::vector<std::unique_ptr<TStripChannel>> m_Channels;
  std::vector<std::unique_ptr<TStripCursor>> m_Cursors;
  std::vector<TBookmark> m_Bookmarks;
  bool m_Explicit = false;
  double m_Interval = 1;
  std::vector<double> m_XValues;

  // Derived state.
  TTimeAxisStep m_TimeStep;
  long long m_Extent = 0;
  int m_SampleCount = 0;
  int m_Divisor = 1;
  int m_UpdateDepth = 0;
  unsigned m_Pending = 0;
  QRegion m_Dirty;
  QImage m_Cache;
  int m_RenderCount = 0;
  double m_ParallelColumnsFrom = 1e6;

  // Children.
  QScrollBar* m_ScrollBar = nullptr;
  TStripToolBar* m_TopBar = nullptr;
  TStripToolBar* m_RightBar = nullptr;
  std::array<TStripButton*, 4> m_ZoomButtons{};

  // Mouse.
  bool m_Pressed = false;
  bool m_Dragging = false;
  QPoint m_PressPos;
  long long m_PressStart = 0;
  std::vector<int> m_PressOffsets;
  int m_ResizingBand = -1;
};

}  // namespace qvl
