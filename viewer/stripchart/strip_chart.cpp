#include "viewer/stripchart/strip_chart.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "viewer/stripchart/strip_button.h"
#include "viewer/stripchart/strip_geometry.h"

namespace qvl {
namespace {

const QColor kToolBarBlue(0x00, 0x00, 0xFF);  // 0xFF0000
constexpr int kDragThreshold = 4;
constexpr int kCursorBelowPlot = 10;

struct TZoomButtonInfo {
  TStripGlyph Glyph;
  const char* Hint;
  int Anchor;
  double Factor;
};
const TZoomButtonInfo kZoomButtons[4] = {
    {TStripGlyph::ExpandRight, "Expand horizontally", kZoomKeepLeft, 0.7},
    {TStripGlyph::ContractLeft, "Contract horizontally", kZoomKeepLeft, 1.4},
    {TStripGlyph::ExpandLeft, "Expand horizontally", kZoomKeepRight, 0.7},
    {TStripGlyph::ContractRight, "Contract horizontally", kZoomKeepRight, 1.4},
};

}  // namespace

QColor ColorToQColor(TColor colour) {
  return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

TKelStripChart::TKelStripChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  m_ScaleFont = QFont(QStringLiteral("Tahoma"));
  m_ScaleFont.setStyleHint(QFont::SansSerif);
  m_ScaleFont.setPixelSize(13);
  m_TitleFont = QFont(QStringLiteral("Tahoma"));
  m_TitleFont.setStyleHint(QFont::SansSerif);
  m_TitleFont.setPixelSize(15);
  m_TitleFont.setBold(true);
  m_DefaultPen = QPen(Qt::white, 0);
  m_GridPen = QPen(QColor(0x80, 0x80, 0x80), 0, Qt::DotLine);
  m_TimeStep = TimeAxisStep(m_PixelsPerUnit);

  m_ScrollBar = new QScrollBar(Qt::Horizontal, this);
  connect(m_ScrollBar, &QAbstractSlider::actionTriggered, this, &TKelStripChart::ScrollBarAction);
  m_TopBar = new TStripToolBar(
      this, kToolBarBlue, QStringLiteral("Double click this band to show full extent of curves"));
  connect(m_TopBar, &TStripToolBar::DoubleClicked, this, &TKelStripChart::ShowFullExtent);
  for (int i = 0; i < 4; ++i) {
    auto* b = new TStripButton(m_TopBar, kZoomButtons[i].Glyph, QString(),
                               QString::fromLatin1(kZoomButtons[i].Hint), Qt::black);
    b->resize(17, 14);
    connect(b, &QAbstractButton::clicked, this,
            [this, i] { ZoomX(kZoomButtons[i].Anchor, kZoomButtons[i].Factor); });
    m_ZoomButtons[std::size_t(i)] = b;
  }
  m_RightBar = new TStripToolBar(this, kToolBarBlue, QString());
  PlaceToolBars();
}

TKelStripChart::~TKelStripChart() {
  // Bands delete their buttons, which are children of the toolbars: delete them first.
  m_Channels.clear();
}

// ---------------------------------------------------------------- properties

void TKelStripChart::SetHorizontalScrollBar(bool on) {
  if (on == m_HasScrollBar) return;
  m_HasScrollBar = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetRightToolBar(bool on) {
  if (on == m_HasRightBar) return;
  m_HasRightBar = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetTopToolBar(bool on) {
  if (on == m_HasTopBar) return;
  m_HasTopBar = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetScaleFont(const QFont& font, const QColor& colour) {
  m_ScaleFont = font;
  m_ScaleColour = colour;
  InvalidateAll();
}

void TKelStripChart::SetTitleFont(const QFont& font, const QColor& colour) {
  m_TitleFont = font;
  m_TitleColour = colour;
  InvalidateAll();
}

void TKelStripChart::SetBrush(const QColor& background) {
  m_Background = background;
  InvalidateAll();
}

void TKelStripChart::SetXScale(double unitsPerPixel) {
  double ppu = unitsPerPixel < 1e-20 || !std::isfinite(unitsPerPixel) ? 1.0 : 1.0 / unitsPerPixel;
  if (ppu == m_PixelsPerUnit) return;
  m_PixelsPerUnit = ppu;
  m_TimeStep = TimeAxisStep(m_PixelsPerUnit);
  Changed(kNeedExtent, PlotAndLabels());
}

// ---------------------------------------------------------------- updates

void TKelStripChart::BeginUpdate() {
  ++m_UpdateDepth;
}

void TKelStripChart::EndUpdate() {
  if (m_UpdateDepth > 0) --m_UpdateDepth;
  if (m_UpdateDepth == 0) Flush();
}

void TKelStripChart::Changed(unsigned what, const QRegion& dirty) {
  m_Pending |= what;
  m_Dirty |= dirty;
  if (m_UpdateDepth == 0) Flush();
}

void TKelStripChart::Flush() {
  if (m_Pending & kNeedLayout) Relayout();
  if (m_Pending & (kNeedExtent | kNeedLayout)) {
    RecomputeExtent();
    UpdateScrollBar();
    PlaceCursorButtons();
  }
  m_Pending = 0;
  if (!m_Dirty.isEmpty()) update(m_Dirty);
}

void TKelStripChart::InvalidateAll() {
  Changed(0, QRegion(rect()));
}

QRegion TKelStripChart::PlotAndLabels() const {
  QRect p = PlotRect();
  return QRegion(QRect(p.left(), p.top(), p.width(), p.height() + kTimeLabelHeight)) |
         QRegion(QRect(0, p.bottom() + 1, p.left(), kTimeLabelHeight));
}

// ---------------------------------------------------------------- geometry

QRect TKelStripChart::ClientRect() const {
  int h = height();
  if (m_HasScrollBar) h -= m_ScrollBar->sizeHint().height();
  return QRect(0, 0, width(), std::max(0, h));
}

QRect TKelStripChart::PlotRect() const {
  QRect c = ClientRect();
  int top = m_HasTopBar ? kTopToolBarHeight : 0;
  int right = c.width() - (m_HasRightBar ? kRightToolBarWidth : 0);
  int bottom = c.height() - kTimeLabelHeight;
  return QRect(QPoint(kLeftMargin, top),
               QPoint(std::max(kLeftMargin, right) - 1, std::max(top, bottom) - 1));
}

void TKelStripChart::PlaceToolBars() {
  QRect c = ClientRect();
  QRect plot = PlotRect();
  m_ScrollBar->setVisible(m_HasScrollBar);
  if (m_HasScrollBar)
    m_ScrollBar->setGeometry(0, c.height(), width(), m_ScrollBar->sizeHint().height());
  m_TopBar->setVisible(m_HasTopBar);
  m_TopBar->setGeometry(0, 0, c.width(), kTopToolBarHeight);
  m_ZoomButtons[0]->move(plot.left() - 19, 1);
  m_ZoomButtons[1]->move(plot.left() - 19, 15);
  m_ZoomButtons[2]->move(plot.right() + 1 - 18, 1);
  m_ZoomButtons[3]->move(plot.right() + 1 - 18, 15);
  m_RightBar->setVisible(m_HasRightBar);
  m_RightBar->setGeometry(c.width() - kRightToolBarWidth, plot.top(), kRightToolBarWidth,
                          std::max(0, c.height() - plot.top()));
}

void TKelStripChart::Relayout() {
  QRect plot = PlotRect();
  std::vector<float> weights;
  for (const auto& c : m_Channels) weights.push_back(c->m_Weight);
  auto bands = LayoutBands(weights, plot.top(), plot.bottom() + 1);
  for (std::size_t i = 0; i < m_Channels.size(); ++i) {
    TStripChannel& c = *m_Channels[i];
    c.m_Rect = QRect(plot.left(), bands[i].first, plot.width(), bands[i].second - bands[i].first);
    for (const auto& plotPtr : c.m_Plots) plotPtr->m_Axis->SetHeight(c.m_Rect.height());
    c.PlaceButtons(plot.top());
  }
  m_Dirty |= QRegion(rect());
}

void TKelStripChart::RecomputeExtent() {
  double endX = 0;
  long long samples = 0;
  for (const auto& c : m_Channels)
    for (const auto& p : c->m_Plots) {
      if (p->m_Values.empty()) continue;
      if (p->m_Regular) {
        double x = p->XOfSample(double(p->m_Values.size()));
        endX = std::max(endX, x);
        double n = std::ceil(x / m_Interval - 1e-9);
        if (!m_Explicit && n > double(samples)) samples = (long long)std::min(n, 2147483647.0);
      } else if (!m_XValues.empty()) {
        endX = std::max(endX, p->XOfSample(double(p->m_Values.size() - 1)));
      }
    }
  if (m_Explicit) samples = (long long)m_XValues.size();
  m_SampleCount = int(samples);
  long long extent = XToPixel(endX);
  for (TBookmark& b : m_Bookmarks) {
    b.Pixel = XToPixel(b.X);
    extent = std::max(extent, b.Pixel);
  }
  m_Extent = std::max(0LL, extent);
}

void TKelStripChart::UpdateScrollBar() {
  QRect plot = PlotRect();
  TScrollBarSetup s = ScrollBarSetup(m_Extent, plot.width());
  m_Divisor = s.Divisor;
  QSignalBlocker block(m_ScrollBar);
  m_ScrollBar->setRange(0, s.Maximum);
  m_ScrollBar->setPageStep(s.PageStep);
  m_ScrollBar->setSingleStep(std::max(1, ScrollLineStep(ClientRect().width()) / m_Divisor));
  m_ScrollBar->setValue(int(std::clamp(m_Start / m_Divisor, 0LL, (long long)s.Maximum)));
}

void TKelStripChart::ScrollBarAction(int action) {
  const int clientWidth = ClientRect().width();
  long long target = m_Start;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      target = m_Start + ScrollLineStep(clientWidth);
      break;
    case QAbstractSlider::SliderSingleStepSub:
      target = m_Start - ScrollLineStep(clientWidth);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      target = m_Start + ScrollPageStep(clientWidth);
      break;
    case QAbstractSlider::SliderPageStepSub:
      target = m_Start - ScrollPageStep(clientWidth);
      break;
    case QAbstractSlider::SliderToMinimum:
      target = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      target = (long long)m_ScrollBar->maximum() * m_Divisor;
      break;
    case QAbstractSlider::SliderMove:
      target = (long long)m_ScrollBar->sliderPosition() * m_Divisor;
      break;
    default:
      return;
  }
  long long maxStart = (long long)m_ScrollBar->maximum() * m_Divisor;
  target = std::clamp(target, 0LL, std::max(0LL, maxStart));
  ScrollTo(target, false);
  m_ScrollBar->setSliderPosition(int(target / m_Divisor));
}

long long TKelStripChart::XToPixel(double x) const {
  double p = x * m_PixelsPerUnit;
  if (!(p > -1e15)) return (long long)-1e15;
  if (p > 1e15) return (long long)1e15;
  return std::llround(p);
}

// ---------------------------------------------------------------- bands

TStripChannel* TKelStripChart::AddChannel() {
  auto* c = new TStripChannel(this);
  m_Channels.emplace_back(c);
  c->CreateButtons(m_RightBar);
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
  return c;
}

TStripChannel* TKelStripChart::Channels(int i) const {
  if (i < 0 || i >= ChannelCount()) return nullptr;
  return m_Channels[std::size_t(i)].get();
}

void TKelStripChart::MoveChannel(int from, int to) {
  if (from < 0 || from >= ChannelCount() || to < 0 || to >= ChannelCount() || from == to) return;
  auto moved = std::move(m_Channels[std::size_t(from)]);
  m_Channels.erase(m_Channels.begin() + from);
  m_Channels.insert(m_Channels.begin() + to, std::move(moved));
  Changed(kNeedLayout, QRegion(rect()));
}

void TKelStripChart::DeleteChannel(int i) {
  if (i < 0 || i >= ChannelCount()) return;
  m_Channels.erase(m_Channels.begin() + i);
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::ClearChannels() {
  m_Channels.clear();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

TStripChannel* TKelStripChart::ChannelAt(int y) const {
  for (const auto& c : m_Channels)
    if (y >= c->m_Rect.top() && y <= c->m_Rect.bottom()) return c.get();
  return nullptr;
}

int TKelStripChart::BandEdgeAt(const QPoint& pos) const {
  if (pos.x() < kLeftMargin || pos.x() > PlotRect().right()) return -1;
  for (std::size_t i = 0; i + 1 < m_Channels.size(); ++i) {
    int edge = m_Channels[i]->m_Rect.bottom();  // the band's lower frame row
    if (pos.y() == edge || pos.y() == edge + 1) return int(i);
  }
  return -1;
}

// ---------------------------------------------------------------- cursors

int TKelStripChart::AddCursor() {
  m_Cursors.emplace_back(new TStripCursor(this));
  return CursorCount() - 1;
}

TStripCursor* TKelStripChart::Cursors(int i) const {
  if (i < 0 || i >= CursorCount()) return nullptr;
  return m_Cursors[std::size_t(i)].get();
}

QRect TKelStripChart::CursorRect(long long x) const {
  QRect plot = PlotRect();
  if (x < plot.left() || x > plot.right()) return QRect();
  return QRect(int(x), plot.top(), 1, plot.height() + kCursorBelowPlot);
}

void TKelStripChart::CursorMoved(TStripCursor* cursor, long long oldX) {
  long long newX = cursor->WindowX();
  if (cursor->m_Index >= 0 && cursor->m_LeftMargin >= 0 && cursor->m_RightMargin >= 0) {
    QRect plot = PlotRect();
    long long global = newX - plot.left() + m_Start;
    long long start =
        ScrollToShow(global, m_Start, plot.width(), cursor->m_LeftMargin, cursor->m_RightMargin);
    if (start != m_Start) {
      ScrollTo(start, true);
      newX = cursor->WindowX();
    }
  }
  QRegion r;
  r |= CursorRect(oldX);
  r |= CursorRect(newX);
  update(r);  // the cached image is untouched: only the cursor columns are copied anew
  if (oldX != newX) PlaceCursorButtons();
}

void TKelStripChart::PlaceCursorButtons() {
  QRect plot = PlotRect();
  for (const auto& c : m_Cursors) {
    if (!c->m_ExpandButton) continue;
    int left = c->m_Index < 0 ? kParkedButtonLeft
                              : CursorButtonLeft(c->WindowX(), plot.left(), plot.right() + 1);
    c->m_ExpandButton->move(left, 1);
    c->m_ContractButton->move(left, 15);
  }
}

void TKelStripChart::ZoomAroundCursor(TStripCursor* cursor, double unitsPerPixel) {
  QRect plot = PlotRect();
  long long inPlot = cursor->m_Index >= 0 ? cursor->WindowX() - plot.left() : plot.width() / 2;
  double x =
      cursor->m_Index >= 0 ? XValueOf(cursor->m_Index) : double(m_Start + inPlot) / m_PixelsPerUnit;
  BeginUpdate();
  SetXScale(unitsPerPixel);
  SetStart(XToPixel(x) - inPlot);
  EndUpdate();
}

// ---------------------------------------------------------------- bookmarks

void TKelStripChart::AddBookmark(TColor colour, const QString& hint, double x) {
  TBookmark b;
  b.X = x;
  b.Pixel = XToPixel(x);
  b.Colour = colour;
  b.Hint = hint;
  m_Bookmarks.push_back(b);
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::ClearBookmarks() {
  if (m_Bookmarks.empty()) return;
  m_Bookmarks.clear();
  Changed(kNeedExtent, PlotAndLabels());
}

QString TKelStripChart::HintAt(const QPoint& pos) const {
  QRect plot = PlotRect();
  std::vector<long long> columns;
  for (const TBookmark& b : m_Bookmarks) columns.push_back(b.Pixel - m_Start + plot.left());
  int i = BookmarkAt(columns, pos.x(), pos.y(), plot.top(), plot.bottom() + 1);
  if (i >= 0) return m_Bookmarks[std::size_t(i)].Hint;
  return m_Hint;
}

// ---------------------------------------------------------------- horizontal axis

void TKelStripChart::SetSampleInterval(double unitsPerSample) {
  if (!(unitsPerSample > 0) || !std::isfinite(unitsPerSample)) return;
  m_Explicit = false;
  m_Interval = unitsPerSample;
  m_XValues.clear();
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::SetXValues(std::vector<double> xValues) {
  m_Explicit = true;
  m_XValues = std::move(xValues);
  BeginUpdate();
  for (const auto& c : m_Cursors) {
    long long oldX = c->WindowX();
    c->m_Index = -1;
    CursorMoved(c.get(), oldX);
  }
  SetStart(0);
  Changed(kNeedExtent, PlotAndLabels());
  EndUpdate();
}

double TKelStripChart::XValueOf(int index) const {
  if (!m_Explicit) return double(index) * m_Interval;
  if (m_XValues.empty()) return 0;
  if (index < 0) return m_XValues.front();
  if (std::size_t(index) < m_XValues.size()) return m_XValues[std::size_t(index)];
  // Beyond the data: continue at the average spacing.
  double n = double(m_XValues.size());
  double spacing = n > 1 ? (m_XValues.back() - m_XValues.front()) / (n - 1) : 0;
  return m_XValues.back() + (double(index) - (n - 1)) * spacing;
}

int TKelStripChart::PixelToIndex(int x) const {
  if (m_SampleCount <= 0) return 0;
  double xValue = double(m_Start + x) / m_PixelsPerUnit;
  long long index;
  if (!m_Explicit) {
    index = std::llround(std::clamp(xValue / m_Interval, -1.0, 2147483647.0));
  } else {
    auto it = std::lower_bound(m_XValues.begin(), m_XValues.end(), xValue);
    index = it - m_XValues.begin();
  }
  return int(std::clamp(index, 0LL, (long long)m_SampleCount - 1));
}

void TKelStripChart::ZoomX(int anchor, double factor) {
  if (!(factor > 0)) return;
  long long start = ZoomStartPixel(anchor, m_Start, PlotRect().width(), factor);
  BeginUpdate();
  SetXScale(XScale() * factor);
  SetStart(start);
  EndUpdate();
}

void TKelStripChart::ShowFullExtent() {
  int width = std::max(1, PlotRect().width());
  double span;
  if (m_Explicit)
    span = m_XValues.size() > 1 ? m_XValues.back() - m_XValues.front() : 0;
  else
    span = double(m_SampleCount) * m_Interval;
  BeginUpdate();
  if (span > 0) SetXScale(span / width);
  SetStart(0);
  EndUpdate();
}

void TKelStripChart::SetStart(long long start) {
  if (start == m_Start) return;
  m_Start = start;
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::ScrollTo(long long pixel, bool moveScrollBar) {
  if (pixel == m_Start || m_Channels.empty()) return;
  QRect plot = PlotRect();
  long long dx = m_Start - pixel;  // the picture moves right by dx
  m_Start = pixel;
  // The inside of the plot and the time labels under it move; the frame columns stay.
  QRect area(plot.left() + 1, plot.top(), plot.width() - 2, plot.height() + kTimeLabelHeight);
  area &= m_Cache.rect();
  if (area.isEmpty() || std::llabs(dx) >= area.width() || m_Pending != 0) {
    m_Dirty |= QRegion(area);
  } else {
    const int d = int(dx);
    const int bytes = 4;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      uchar* line = m_Cache.scanLine(y) + area.left() * bytes;
      if (d > 0)
        std::memmove(line + d * bytes, line, std::size_t(area.width() - d) * bytes);
      else
        std::memmove(line, line - d * bytes, std::size_t(area.width() + d) * bytes);
    }
    // Parts waiting to be drawn move along; the strip that came into view is drawn anew.
    QRegion moved = (m_Dirty & QRegion(area)).translated(d, 0) & QRegion(area);
    m_Dirty = (m_Dirty - QRegion(area)) | moved;
    if (d > 0)
      m_Dirty |= QRect(area.left(), area.top(), d, area.height());
    else
      m_Dirty |= QRect(area.right() + 1 + d, area.top(), -d, area.height());
  }
  // The frame columns at both ends show grid and labels that depend on the position, and
  // time labels near either end appear or go as they come to fit or stop fitting.
  m_Dirty |= QRect(plot.left(), plot.top(), 1, plot.height() + kTimeLabelHeight);
  m_Dirty |= QRect(plot.right(), plot.top(), 1, plot.height() + kTimeLabelHeight);
  const int labelZone = int(std::min<long long>(std::llabs(dx), plot.width())) + kMaxTimeLabelWidth;
  m_Dirty |= QRect(0, plot.bottom() + 1, plot.left() + labelZone, kTimeLabelHeight);
  m_Dirty |= QRect(plot.right() + 1 - labelZone, plot.bottom() + 1, labelZone, kTimeLabelHeight);
  if (moveScrollBar) {
    QSignalBlocker block(m_ScrollBar);
    m_ScrollBar->setValue(int(std::clamp(m_Start / m_Divisor, 0LL, (long long)INT32_MAX)));
  }
  PlaceCursorButtons();
  if (m_UpdateDepth == 0)
    update(PlotAndLabels() | QRegion(plot.adjusted(0, 0, 0, kCursorBelowPlot)));
}

// ---------------------------------------------------------------- events

bool TKelStripChart::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    QString hint = HintAt(help->pos());
    if (hint.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), HintToToolTip(hint), this);
    return true;
  }
  return QWidget::event(event);
}

void TKelStripChart::resizeEvent(QResizeEvent*) {
  QRect c = ClientRect();
  if (c.width() > 0 && c.height() > 0) {
    m_Cache = QImage(c.size(), QImage::Format_RGB32);
    m_Cache.fill(m_Background);
  } else {
    m_Cache = QImage();
  }
  PlaceToolBars();
  m_Dirty = QRegion(rect());
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  m_ResizingBand = BandEdgeAt(pos);
  if (m_ResizingBand >= 0) return;
  m_Pressed = true;
  m_Dragging = false;
  m_PressPos = pos;
  m_PressStart = m_Start;
  m_PressOffsets.clear();
  for (const auto& c : m_Channels)
    for (const auto& p : c->m_Plots) m_PressOffsets.push_back(p->m_Offset);
}

void TKelStripChart::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  emit OnMouseMove(pos, event->modifiers());
  if (m_ResizingBand >= 0) {
    if (m_ResizingBand >= ChannelCount() - 1) return;
    QRect plot = PlotRect();
    std::vector<float> weights;
    for (const auto& c : m_Channels) weights.push_back(c->m_Weight);
    const QRect& band = m_Channels[std::size_t(m_ResizingBand)]->m_Rect;
    weights = ResizeBandWeights(weights, std::size_t(m_ResizingBand), pos.y(), band.top(),
                                band.bottom() + 1, plot.top(), plot.bottom() + 1);
    for (std::size_t i = 0; i < weights.size(); ++i) m_Channels[i]->m_Weight = weights[i];
    Changed(kNeedLayout, QRegion(rect()));
    return;
  }
  if (!m_Pressed || !(event->buttons() & Qt::LeftButton)) {
    setCursor(BandEdgeAt(pos) >= 0 ? Qt::SplitVCursor : Qt::ArrowCursor);
    return;
  }
  QPoint d = pos - m_PressPos;
  if (!m_Dragging && std::max(std::abs(d.x()), std::abs(d.y())) > kDragThreshold) m_Dragging = true;
  if (!m_Dragging || m_SampleCount <= 0) return;
  if (event->modifiers().testFlag(Qt::ControlModifier)) {
    // Slide the movable curves by whole samples.
    BeginUpdate();
    std::size_t k = 0;
    for (const auto& c : m_Channels)
      for (const auto& p : c->m_Plots) {
        int pressOffset = k < m_PressOffsets.size() ? m_PressOffsets[k] : p->m_Offset;
        ++k;
        if (!p->m_Movable) continue;
        double perSample = m_PixelsPerUnit * p->m_UnitsPerSample;
        if (!(perSample > 0)) continue;
        p->SetOffset(pressOffset + int(std::lround((m_PressPos.x() - pos.x()) / perSample)));
      }
    EndUpdate();
  } else if (m_ScrollWithMouse) {
    long long target = m_PressStart + m_PressPos.x() - pos.x();
    long long maxStart = (long long)m_ScrollBar->maximum() * m_Divisor;
    ScrollTo(std::clamp(target, 0LL, std::max(0LL, maxStart)), true);
  }
}

void TKelStripChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (m_ResizingBand >= 0) {
    m_ResizingBand = -1;
    for (const auto& c : m_Channels)
      for (const auto& p : c->m_Plots) p->m_Axis->SetHeight(c->m_Rect.height());
    InvalidateAll();
    emit OnResizeChannels();
    return;
  }
  if (!m_Pressed) return;
  m_Pressed = false;
  bool dragged = m_Dragging;
  m_Dragging = false;
  if (dragged && m_ScrollWithMouse) return;
  emit OnClick(event->position().toPoint());
}

void TKelStripChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QRect plot = PlotRect();
  const QPoint pos = event->position().toPoint();
  if (!plot.contains(pos)) return;
  if (!(m_DblClickXUnitsPerPixel > 0)) return;
  int inPlot = pos.x() - plot.left();
  long long start =
      KeepPointStartPixel(m_Start, inPlot, m_PixelsPerUnit, 1.0 / m_DblClickXUnitsPerPixel);
  BeginUpdate();
  SetXScale(m_DblClickXUnitsPerPixel);
  SetStart(start);
  EndUpdate();
}

void TKelStripChart::wheelEvent(QWheelEvent* event) {
  if (m_HasScrollBar) QCoreApplication::sendEvent(m_ScrollBar, event);
}

void TKelStripChart::contextMenuEvent(QContextMenuEvent* event) {
  if (m_PopupMenu) m_PopupMenu->exec(event->globalPos());
}

void TKelStripChart::enterEvent(QEnterEvent*) {
  emit OnMouseEnter();
}

void TKelStripChart::leaveEvent(QEvent*) {
  emit OnMouseLeave();
}

TStripButton* TKelStripChart::ZoomButton(int i) const {
  if (i < 0 || i >= 4) return nullptr;
  return m_ZoomButtons[std::size_t(i)];
}

}  // namespace qvl
