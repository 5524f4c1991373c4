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

TKelStripChart::TKelStripChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  scaleFont_ = QFont(QStringLiteral("Tahoma"));
  scaleFont_.setStyleHint(QFont::SansSerif);
  scaleFont_.setPixelSize(13);
  titleFont_ = QFont(QStringLiteral("Tahoma"));
  titleFont_.setStyleHint(QFont::SansSerif);
  titleFont_.setPixelSize(15);
  titleFont_.setBold(true);
  defaultPen_ = QPen(Qt::white, 0);
  gridPen_ = QPen(QColor(0x80, 0x80, 0x80), 0, Qt::DotLine);
  timeStep_ = TimeAxisStep(pixelsPerUnit_);

  scrollBar_ = new QScrollBar(Qt::Horizontal, this);
  connect(scrollBar_, &QAbstractSlider::actionTriggered, this, &TKelStripChart::ScrollBarAction);
  topBar_ = new TStripToolBar(
      this, kToolBarBlue, QStringLiteral("Double click this band to show full extent of curves"));
  connect(topBar_, &TStripToolBar::DoubleClicked, this, &TKelStripChart::ShowFullExtent);
  for (int i = 0; i < 4; ++i) {
    auto* b = new TStripButton(topBar_, kZoomButtons[i].Glyph, QString(),
                               QString::fromLatin1(kZoomButtons[i].Hint), Qt::black);
    b->resize(17, 14);
    connect(b, &QAbstractButton::clicked, this,
            [this, i] { ZoomX(kZoomButtons[i].Anchor, kZoomButtons[i].Factor); });
    zoomButtons_[std::size_t(i)] = b;
  }
  rightBar_ = new TStripToolBar(this, kToolBarBlue, QString());
  PlaceToolBars();
}

TKelStripChart::~TKelStripChart() {
  // Bands delete their buttons, which are children of the toolbars: delete them first.
  channels_.clear();
}

// ---------------------------------------------------------------- properties

void TKelStripChart::SetHorizontalScrollBar(bool on) {
  if (on == hasScrollBar_) return;
  hasScrollBar_ = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetRightToolBar(bool on) {
  if (on == hasRightBar_) return;
  hasRightBar_ = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetTopToolBar(bool on) {
  if (on == hasTopBar_) return;
  hasTopBar_ = on;
  PlaceToolBars();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::SetScaleFont(const QFont& font, const QColor& colour) {
  scaleFont_ = font;
  scaleColour_ = colour;
  InvalidateAll();
}

void TKelStripChart::SetTitleFont(const QFont& font, const QColor& colour) {
  titleFont_ = font;
  titleColour_ = colour;
  InvalidateAll();
}

void TKelStripChart::SetBrush(const QColor& background) {
  background_ = background;
  InvalidateAll();
}

void TKelStripChart::SetXScale(double unitsPerPixel) {
  double ppu = unitsPerPixel < 1e-20 || !std::isfinite(unitsPerPixel) ? 1.0 : 1.0 / unitsPerPixel;
  if (ppu == pixelsPerUnit_) return;
  pixelsPerUnit_ = ppu;
  timeStep_ = TimeAxisStep(pixelsPerUnit_);
  Changed(kNeedExtent, PlotAndLabels());
}

// ---------------------------------------------------------------- updates

void TKelStripChart::BeginUpdate() {
  ++updateDepth_;
}

void TKelStripChart::EndUpdate() {
  if (updateDepth_ > 0) --updateDepth_;
  if (updateDepth_ == 0) Flush();
}

void TKelStripChart::Changed(unsigned what, const QRegion& dirty) {
  pending_ |= what;
  dirty_ |= dirty;
  if (updateDepth_ == 0) Flush();
}

void TKelStripChart::Flush() {
  if (pending_ & kNeedLayout) Relayout();
  if (pending_ & (kNeedExtent | kNeedLayout)) {
    RecomputeExtent();
    UpdateScrollBar();
    PlaceCursorButtons();
  }
  pending_ = 0;
  if (!dirty_.isEmpty()) update(dirty_);
}

void TKelStripChart::CurvesChanged() {
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::BandsChanged() {
  Changed(kNeedLayout, QRegion());
}

void TKelStripChart::Repaint(const QRegion& region) {
  Changed(0, region);
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
  if (hasScrollBar_) h -= scrollBar_->sizeHint().height();
  return QRect(0, 0, width(), std::max(0, h));
}

QRect TKelStripChart::PlotRect() const {
  QRect c = ClientRect();
  int top = hasTopBar_ ? kTopToolBarHeight : 0;
  int right = c.width() - (hasRightBar_ ? kRightToolBarWidth : 0);
  int bottom = c.height() - kTimeLabelHeight;
  return QRect(QPoint(kLeftMargin, top),
               QPoint(std::max(kLeftMargin, right) - 1, std::max(top, bottom) - 1));
}

void TKelStripChart::PlaceToolBars() {
  QRect c = ClientRect();
  QRect plot = PlotRect();
  scrollBar_->setVisible(hasScrollBar_);
  if (hasScrollBar_)
    scrollBar_->setGeometry(0, c.height(), width(), scrollBar_->sizeHint().height());
  topBar_->setVisible(hasTopBar_);
  topBar_->setGeometry(0, 0, c.width(), kTopToolBarHeight);
  zoomButtons_[0]->move(plot.left() - 19, 1);
  zoomButtons_[1]->move(plot.left() - 19, 15);
  zoomButtons_[2]->move(plot.right() + 1 - 18, 1);
  zoomButtons_[3]->move(plot.right() + 1 - 18, 15);
  rightBar_->setVisible(hasRightBar_);
  rightBar_->setGeometry(c.width() - kRightToolBarWidth, plot.top(), kRightToolBarWidth,
                         std::max(0, c.height() - plot.top()));
}

void TKelStripChart::Relayout() {
  QRect plot = PlotRect();
  std::vector<float> weights;
  for (const auto& c : channels_) weights.push_back(c->Weight());
  auto bands = LayoutBands(weights, plot.top(), plot.bottom() + 1);
  for (std::size_t i = 0; i < channels_.size(); ++i)
    channels_[i]->Place(
        QRect(plot.left(), bands[i].first, plot.width(), bands[i].second - bands[i].first),
        plot.top());
  dirty_ |= QRegion(rect());
}

void TKelStripChart::RecomputeExtent() {
  double endX = 0;
  long long samples = 0;
  for (const auto& c : channels_)
    for (int k = 0; k < c->PlotCount(); ++k) {
      const TStripPlot* p = c->Plots(k);
      if (p->Values().empty()) continue;
      if (p->RegularSpacing()) {
        double x = p->XOfSample(double(p->Values().size()));
        endX = std::max(endX, x);
        double n = std::ceil(x / interval_ - 1e-9);
        if (!explicit_ && n > double(samples)) samples = (long long)std::min(n, 2147483647.0);
      } else if (!xValues_.empty()) {
        endX = std::max(endX, p->XOfSample(double(p->Values().size() - 1)));
      }
    }
  if (explicit_) samples = (long long)xValues_.size();
  sampleCount_ = int(samples);
  long long extent = XToPixel(endX);
  for (TBookmark& b : bookmarks_) {
    b.Pixel = XToPixel(b.X);
    extent = std::max(extent, b.Pixel);
  }
  extent_ = std::max(0LL, extent);
}

void TKelStripChart::UpdateScrollBar() {
  QRect plot = PlotRect();
  TScrollBarSetup s = ScrollBarSetup(extent_, plot.width());
  divisor_ = s.Divisor;
  QSignalBlocker block(scrollBar_);
  scrollBar_->setRange(0, s.Maximum);
  scrollBar_->setPageStep(s.PageStep);
  scrollBar_->setSingleStep(std::max(1, ScrollLineStep(ClientRect().width()) / divisor_));
  scrollBar_->setValue(int(std::clamp(start_ / divisor_, 0LL, (long long)s.Maximum)));
}

void TKelStripChart::ScrollBarAction(int action) {
  const int clientWidth = ClientRect().width();
  long long target = start_;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      target = start_ + ScrollLineStep(clientWidth);
      break;
    case QAbstractSlider::SliderSingleStepSub:
      target = start_ - ScrollLineStep(clientWidth);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      target = start_ + ScrollPageStep(clientWidth);
      break;
    case QAbstractSlider::SliderPageStepSub:
      target = start_ - ScrollPageStep(clientWidth);
      break;
    case QAbstractSlider::SliderToMinimum:
      target = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      target = (long long)scrollBar_->maximum() * divisor_;
      break;
    case QAbstractSlider::SliderMove:
      target = (long long)scrollBar_->sliderPosition() * divisor_;
      break;
    default:
      return;
  }
  long long maxStart = (long long)scrollBar_->maximum() * divisor_;
  target = std::clamp(target, 0LL, std::max(0LL, maxStart));
  ScrollTo(target, false);
  scrollBar_->setSliderPosition(int(target / divisor_));
}

long long TKelStripChart::XToPixel(double x) const {
  double p = x * pixelsPerUnit_;
  if (!(p > -1e15)) return (long long)-1e15;
  if (p > 1e15) return (long long)1e15;
  return std::llround(p);
}

// ---------------------------------------------------------------- bands

TStripChannel* TKelStripChart::AddChannel() {
  auto* c = new TStripChannel(this, this);
  channels_.emplace_back(c);
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
  return c;
}

TStripChannel* TKelStripChart::Channels(int i) const {
  if (i < 0 || i >= ChannelCount()) return nullptr;
  return channels_[std::size_t(i)].get();
}

void TKelStripChart::MoveChannel(int from, int to) {
  if (from < 0 || from >= ChannelCount() || to < 0 || to >= ChannelCount() || from == to) return;
  auto moved = std::move(channels_[std::size_t(from)]);
  channels_.erase(channels_.begin() + from);
  channels_.insert(channels_.begin() + to, std::move(moved));
  Changed(kNeedLayout, QRegion(rect()));
}

void TKelStripChart::DeleteChannel(int i) {
  if (i < 0 || i >= ChannelCount()) return;
  channels_.erase(channels_.begin() + i);
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::ClearChannels() {
  channels_.clear();
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

TStripChannel* TKelStripChart::ChannelAt(int y) const {
  for (const auto& c : channels_)
    if (y >= c->Rect().top() && y <= c->Rect().bottom()) return c.get();
  return nullptr;
}

int TKelStripChart::BandEdgeAt(const QPoint& pos) const {
  if (pos.x() < kLeftMargin || pos.x() > PlotRect().right()) return -1;
  for (std::size_t i = 0; i + 1 < channels_.size(); ++i) {
    int edge = channels_[i]->Rect().bottom();  // the band's lower frame row
    if (pos.y() == edge || pos.y() == edge + 1) return int(i);
  }
  return -1;
}

// ---------------------------------------------------------------- cursors

int TKelStripChart::AddCursor() {
  cursors_.emplace_back(new TStripCursor(this, this));
  return CursorCount() - 1;
}

TStripCursor* TKelStripChart::Cursors(int i) const {
  if (i < 0 || i >= CursorCount()) return nullptr;
  return cursors_[std::size_t(i)].get();
}

QRect TKelStripChart::CursorRect(long long x) const {
  QRect plot = PlotRect();
  if (x < plot.left() || x > plot.right()) return QRect();
  return QRect(int(x), plot.top(), 1, plot.height() + kCursorBelowPlot);
}

void TKelStripChart::CursorMoved(TStripCursor* cursor, long long oldX) {
  long long newX = cursor->WindowX();
  const double leftMargin = cursor->LeftScrollMargin();
  const double rightMargin = cursor->RightScrollMargin();
  if (cursor->Position() >= 0 && leftMargin >= 0 && rightMargin >= 0) {
    QRect plot = PlotRect();
    long long global = newX - plot.left() + start_;
    long long start = ScrollToShow(global, start_, plot.width(), leftMargin, rightMargin);
    if (start != start_) {
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
  for (const auto& c : cursors_) {
    if (!c->ExpandButton()) continue;
    int left = c->Position() < 0 ? kParkedButtonLeft
                                 : CursorButtonLeft(c->WindowX(), plot.left(), plot.right() + 1);
    c->ExpandButton()->move(left, 1);
    c->ContractButton()->move(left, 15);
  }
}

void TKelStripChart::ZoomAroundCursor(TStripCursor* cursor, double unitsPerPixel) {
  QRect plot = PlotRect();
  const int index = cursor->Position();
  long long inPlot = index >= 0 ? cursor->WindowX() - plot.left() : plot.width() / 2;
  double x = index >= 0 ? XValueOf(index) : double(start_ + inPlot) / pixelsPerUnit_;
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
  bookmarks_.push_back(b);
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::ClearBookmarks() {
  if (bookmarks_.empty()) return;
  bookmarks_.clear();
  Changed(kNeedExtent, PlotAndLabels());
}

QString TKelStripChart::HintAt(const QPoint& pos) const {
  QRect plot = PlotRect();
  std::vector<long long> columns;
  for (const TBookmark& b : bookmarks_) columns.push_back(b.Pixel - start_ + plot.left());
  int i = BookmarkAt(columns, pos.x(), pos.y(), plot.top(), plot.bottom() + 1);
  if (i >= 0) return bookmarks_[std::size_t(i)].Hint;
  return hint_;
}

// ---------------------------------------------------------------- horizontal axis

void TKelStripChart::SetSampleInterval(double unitsPerSample) {
  if (!(unitsPerSample > 0) || !std::isfinite(unitsPerSample)) return;
  explicit_ = false;
  interval_ = unitsPerSample;
  xValues_.clear();
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::SetXValues(std::vector<double> xValues) {
  explicit_ = true;
  xValues_ = std::move(xValues);
  BeginUpdate();
  for (const auto& c : cursors_) c->Park();
  SetStart(0);
  Changed(kNeedExtent, PlotAndLabels());
  EndUpdate();
}

double TKelStripChart::XValueOf(int index) const {
  if (!explicit_) return double(index) * interval_;
  if (xValues_.empty()) return 0;
  if (index < 0) return xValues_.front();
  if (std::size_t(index) < xValues_.size()) return xValues_[std::size_t(index)];
  // Beyond the data: continue at the average spacing.
  double n = double(xValues_.size());
  double spacing = n > 1 ? (xValues_.back() - xValues_.front()) / (n - 1) : 0;
  return xValues_.back() + (double(index) - (n - 1)) * spacing;
}

int TKelStripChart::PixelToIndex(int x) const {
  if (sampleCount_ <= 0) return 0;
  double xValue = double(start_ + x) / pixelsPerUnit_;
  long long index;
  if (!explicit_) {
    index = std::llround(std::clamp(xValue / interval_, -1.0, 2147483647.0));
  } else {
    auto it = std::lower_bound(xValues_.begin(), xValues_.end(), xValue);
    index = it - xValues_.begin();
  }
  return int(std::clamp(index, 0LL, (long long)sampleCount_ - 1));
}

void TKelStripChart::ZoomX(int anchor, double factor) {
  if (!(factor > 0)) return;
  long long start = ZoomStartPixel(anchor, start_, PlotRect().width(), factor);
  BeginUpdate();
  SetXScale(XScale() * factor);
  SetStart(start);
  EndUpdate();
}

void TKelStripChart::ShowFullExtent() {
  int width = std::max(1, PlotRect().width());
  double span;
  if (explicit_)
    span = xValues_.size() > 1 ? xValues_.back() - xValues_.front() : 0;
  else
    span = double(sampleCount_) * interval_;
  BeginUpdate();
  if (span > 0) SetXScale(span / width);
  SetStart(0);
  EndUpdate();
}

void TKelStripChart::SetStart(long long start) {
  if (start == start_) return;
  start_ = start;
  Changed(kNeedExtent, PlotAndLabels());
}

void TKelStripChart::RestoreView(double unitsPerPixel, long long start) {
  BeginUpdate();
  SetXScale(unitsPerPixel);
  SetStart(start);
  EndUpdate();
}

void TKelStripChart::ScrollTo(long long pixel, bool moveScrollBar) {
  if (pixel == start_ || channels_.empty()) return;
  QRect plot = PlotRect();
  long long dx = start_ - pixel;  // the picture moves right by dx
  start_ = pixel;
  // The inside of the plot and the time labels under it move; the frame columns stay.
  QRect area(plot.left() + 1, plot.top(), plot.width() - 2, plot.height() + kTimeLabelHeight);
  area &= cache_.rect();
  if (area.isEmpty() || std::llabs(dx) >= area.width() || pending_ != 0) {
    dirty_ |= QRegion(area);
  } else {
    const int d = int(dx);
    const int bytes = 4;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      uchar* line = cache_.scanLine(y) + area.left() * bytes;
      if (d > 0)
        std::memmove(line + d * bytes, line, std::size_t(area.width() - d) * bytes);
      else
        std::memmove(line, line - d * bytes, std::size_t(area.width() + d) * bytes);
    }
    // Parts waiting to be drawn move along; the strip that came into view is drawn anew.
    QRegion moved = (dirty_ & QRegion(area)).translated(d, 0) & QRegion(area);
    dirty_ = (dirty_ - QRegion(area)) | moved;
    if (d > 0)
      dirty_ |= QRect(area.left(), area.top(), d, area.height());
    else
      dirty_ |= QRect(area.right() + 1 + d, area.top(), -d, area.height());
  }
  // The frame columns at both ends show grid and labels that depend on the position, and
  // time labels near either end appear or go as they come to fit or stop fitting.
  dirty_ |= QRect(plot.left(), plot.top(), 1, plot.height() + kTimeLabelHeight);
  dirty_ |= QRect(plot.right(), plot.top(), 1, plot.height() + kTimeLabelHeight);
  const int labelZone = int(std::min<long long>(std::llabs(dx), plot.width())) + kMaxTimeLabelWidth;
  dirty_ |= QRect(0, plot.bottom() + 1, plot.left() + labelZone, kTimeLabelHeight);
  dirty_ |= QRect(plot.right() + 1 - labelZone, plot.bottom() + 1, labelZone, kTimeLabelHeight);
  if (moveScrollBar) {
    QSignalBlocker block(scrollBar_);
    scrollBar_->setValue(int(std::clamp(start_ / divisor_, 0LL, (long long)INT32_MAX)));
  }
  PlaceCursorButtons();
  if (updateDepth_ == 0)
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
    cache_ = QImage(c.size(), QImage::Format_RGB32);
    cache_.fill(background_);
  } else {
    cache_ = QImage();
  }
  PlaceToolBars();
  dirty_ = QRegion(rect());
  Changed(kNeedLayout | kNeedExtent, QRegion(rect()));
}

void TKelStripChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  resizingBand_ = BandEdgeAt(pos);
  if (resizingBand_ >= 0) return;
  pressed_ = true;
  dragging_ = false;
  pressPos_ = pos;
  pressStart_ = start_;
  pressOffsets_.clear();
  for (const auto& c : channels_)
    for (int k = 0; k < c->PlotCount(); ++k) pressOffsets_.push_back(c->Plots(k)->Offset());
}

void TKelStripChart::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  emit OnMouseMove(pos, event->modifiers());
  if (resizingBand_ >= 0) {
    if (resizingBand_ >= ChannelCount() - 1) return;
    QRect plot = PlotRect();
    std::vector<float> weights;
    for (const auto& c : channels_) weights.push_back(c->Weight());
    const QRect& band = channels_[std::size_t(resizingBand_)]->Rect();
    weights = ResizeBandWeights(weights, std::size_t(resizingBand_), pos.y(), band.top(),
                                band.bottom() + 1, plot.top(), plot.bottom() + 1);
    BeginUpdate();
    for (std::size_t i = 0; i < weights.size(); ++i) channels_[i]->SetWeight(weights[i]);
    Changed(kNeedLayout, QRegion(rect()));
    EndUpdate();
    return;
  }
  if (!pressed_ || !(event->buttons() & Qt::LeftButton)) {
    setCursor(BandEdgeAt(pos) >= 0 ? Qt::SplitVCursor : Qt::ArrowCursor);
    return;
  }
  QPoint d = pos - pressPos_;
  if (!dragging_ && std::max(std::abs(d.x()), std::abs(d.y())) > kDragThreshold) dragging_ = true;
  if (!dragging_ || sampleCount_ <= 0) return;
  if (event->modifiers().testFlag(Qt::ControlModifier)) {
    // Slide the movable curves by whole samples.
    BeginUpdate();
    std::size_t k = 0;
    for (const auto& c : channels_)
      for (int j = 0; j < c->PlotCount(); ++j) {
        TStripPlot* p = c->Plots(j);
        int pressOffset = k < pressOffsets_.size() ? pressOffsets_[k] : p->Offset();
        ++k;
        if (!p->Movable()) continue;
        double perSample = pixelsPerUnit_ * p->UnitsPerSample();
        if (!(perSample > 0)) continue;
        p->SetOffset(pressOffset + int(std::lround((pressPos_.x() - pos.x()) / perSample)));
      }
    EndUpdate();
  } else if (scrollWithMouse_) {
    long long target = pressStart_ + pressPos_.x() - pos.x();
    long long maxStart = (long long)scrollBar_->maximum() * divisor_;
    ScrollTo(std::clamp(target, 0LL, std::max(0LL, maxStart)), true);
  }
}

void TKelStripChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (resizingBand_ >= 0) {
    resizingBand_ = -1;
    for (const auto& c : channels_)
      for (int k = 0; k < c->PlotCount(); ++k) c->Plots(k)->Axis().SetHeight(c->Rect().height());
    InvalidateAll();
    emit OnResizeChannels();
    return;
  }
  if (!pressed_) return;
  pressed_ = false;
  bool dragged = dragging_;
  dragging_ = false;
  if (dragged && scrollWithMouse_) return;
  emit OnClick(event->position().toPoint());
}

void TKelStripChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QRect plot = PlotRect();
  const QPoint pos = event->position().toPoint();
  if (!plot.contains(pos)) return;
  if (!(dblClickXUnitsPerPixel_ > 0)) return;
  int inPlot = pos.x() - plot.left();
  long long start =
      KeepPointStartPixel(start_, inPlot, pixelsPerUnit_, 1.0 / dblClickXUnitsPerPixel_);
  BeginUpdate();
  SetXScale(dblClickXUnitsPerPixel_);
  SetStart(start);
  EndUpdate();
}

void TKelStripChart::wheelEvent(QWheelEvent* event) {
  if (hasScrollBar_) QCoreApplication::sendEvent(scrollBar_, event);
}

void TKelStripChart::contextMenuEvent(QContextMenuEvent* event) {
  if (popupMenu_) popupMenu_->exec(event->globalPos());
}

void TKelStripChart::enterEvent(QEnterEvent*) {
  emit OnMouseEnter();
}

void TKelStripChart::leaveEvent(QEvent*) {
  emit OnMouseLeave();
}

TStripButton* TKelStripChart::ZoomButton(int i) const {
  if (i < 0 || i >= 4) return nullptr;
  return zoomButtons_[std::size_t(i)];
}

}  // namespace qvl
