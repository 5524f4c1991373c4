// Drawing of the strip chart into its cached image, and the cursors over it.
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/util/number_format.h"
#include "viewer/stripchart/strip_chart.h"
#include "viewer/stripchart/strip_geometry.h"

namespace qvl {
namespace {

constexpr int kTabWidth = 13;
constexpr int kTabHeight = 12;
constexpr int kCursorBelowPlot = 10;
// From this many pixels per sample on, each sample is marked with a small square.
constexpr double kMarkSamplesFrom = 8;

// Direct writes of single pixels and vertical strokes into the cached image, within a clip
// rectangle. The many grid dots and curve strokes go this way; the painter draws the rest.
class TRaster {
 public:
  TRaster(QImage& image, const QRect& clip)
      : bits_(image.bits()), stride_(image.bytesPerLine()), clip_(clip & image.rect()) {}
  void Dot(int x, int y, QRgb colour) {
    if (clip_.contains(x, y)) Line(y)[x] = colour;
  }
  void VLine(int x, int y0, int y1, QRgb colour) {
    if (x < clip_.left() || x > clip_.right()) return;
    y0 = std::max(y0, clip_.top());
    y1 = std::min(y1, clip_.bottom());
    for (int y = y0; y <= y1; ++y) Line(y)[x] = colour;
  }
  TRaster Clipped(const QRect& r) const {
    TRaster c = *this;
    c.clip_ &= r;
    return c;
  }

 private:
  QRgb* Line(int y) { return reinterpret_cast<QRgb*>(bits_ + y * stride_); }
  uchar* bits_;
  qsizetype stride_;
  QRect clip_;
};

// Columns [first, last] of `clip` that lie inside the plot, between its frame columns.
bool InnerColumns(const QRect& plot, const QRect& clip, int& first, int& last) {
  first = std::max(plot.left() + 1, clip.left());
  last = std::min(plot.right() - 1, clip.right());
  return first <= last;
}

}  // namespace

void TKelStripChart::paintEvent(QPaintEvent* event) {
  if (!cache_.isNull() && !dirty_.isEmpty()) {
    Render(dirty_);
    dirty_ = QRegion();
  }
  QPainter painter(this);
  for (const QRect& r : event->region()) {
    QRect inside = r & cache_.rect();
    if (!inside.isEmpty()) painter.drawImage(inside.topLeft(), cache_, inside);
  }
  DrawCursors(painter, event->region());
}

void TKelStripChart::Render(const QRegion& region) {
  ++renderCount_;
  QPainter painter(&cache_);
  for (const QRect& r : region) {
    QRect clip = r & cache_.rect();
    if (clip.isEmpty()) continue;
    painter.save();
    painter.setClipRect(clip);
    RenderRect(painter, clip);
    painter.restore();
  }
}

void TKelStripChart::RenderRect(QPainter& painter, const QRect& clip) {
  painter.fillRect(clip, background_);
  DrawScales(painter, clip);
  DrawFrames(painter, clip);
  DrawGrid(painter, clip);
  DrawBookmarkLines(painter, clip);
  DrawCurves(painter, clip);
  DrawHighlights(painter, clip);
  DrawBookmarkTabs(painter, clip);
  DrawTimeLabels(painter, clip);
}

void TKelStripChart::DrawScales(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  if (clip.left() >= plot.left()) return;
  painter.setFont(scaleFont_);
  painter.setPen(scaleColour_);
  const int labelHeight = QFontMetrics(scaleFont_).height();
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    if (band.height() <= 0) continue;
    if (band.bottom() + 8 < clip.top() || band.top() - 8 > clip.bottom()) continue;
    const TKscYAxis& axis = c->Plots(0)->Axis();
    const std::vector<int>& ticks = axis.TickPixels();
    const int bandBottom = band.top() + band.height();
    for (std::size_t k = 0; k < ticks.size(); ++k) {
      int y = bandBottom - ticks[k];
      if (y <= band.top() + 7 || y > bandBottom) continue;
      QString text =
          QString::fromStdString(FormatFixed(axis.TickValue(int(k)), 7, axis.Decimals()));
      painter.drawText(QRect(0, y - 7, plot.left() - 2, labelHeight), Qt::AlignRight | Qt::AlignTop,
                       text);
    }
    if (!c->Title().isEmpty()) {
      painter.save();
      painter.setFont(titleFont_);
      painter.setPen(titleColour_);
      QFontMetrics fm(titleFont_);
      QString title = fm.elidedText(c->Title(), Qt::ElideRight, band.height() - 4);
      painter.translate(2, band.top() + band.height() / 2);
      painter.rotate(-90);
      painter.drawText(QRect(-band.height() / 2, 0, band.height(), fm.height()), Qt::AlignCenter,
                       title);
      painter.restore();
    }
  }
}

void TKelStripChart::DrawFrames(QPainter& painter, const QRect& clip) {
  // White frames; the inside is already the background colour (filled with the clip).
  painter.setPen(QPen(Qt::white, 0));
  painter.setBrush(Qt::NoBrush);
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    if (band.height() <= 0 || !band.intersects(clip)) continue;
    painter.drawRect(band.adjusted(0, 0, -1, -1));
  }
}

void TKelStripChart::DrawGrid(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  int first, last;
  if (!InnerColumns(plot, clip, first, last)) return;
  (void)painter;
  TRaster raster(cache_, clip);
  const QRgb grid = gridPen_.color().rgb() | 0xFF000000u;
  // Horizontal lines at the ticks of each band's first axis, dotted on every second column
  // of the whole curve so that scrolled parts line up.
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    if (band.height() <= 2 || !band.intersects(clip)) continue;
    const int bandBottom = band.top() + band.height();
    for (int pixel : c->Plots(0)->Axis().TickPixels()) {
      int y = bandBottom - pixel;
      if (y <= band.top() || y >= band.bottom() || y < clip.top() || y > clip.bottom()) continue;
      long long global = start_ + (first - plot.left());
      for (int x = first + int(global & 1); x <= last; x += 2) raster.Dot(x, y, grid);
    }
  }
  // Vertical lines at every time step, dotted on every second row.
  const double step = timeStep_.Step;
  if (step > 0 && pixelsPerUnit_ > 0) {
    double firstX = double(start_ + first - plot.left()) / pixelsPerUnit_;
    double lastX = double(start_ + last - plot.left()) / pixelsPerUnit_;
    long long k0 = (long long)std::floor(firstX / step) - 1;
    long long k1 = (long long)std::ceil(lastX / step) + 1;
    for (long long k = k0; k <= k1 && k - k0 < 100000; ++k) {
      long long x = XToPixel(double(k) * step) - start_ + plot.left();
      if (x < first || x > last) continue;
      for (const auto& c : channels_) {
        const QRect& band = c->Rect();
        int y0 = std::max(band.top() + 1, clip.top());
        int y1 = std::min(band.bottom() - 1, clip.bottom());
        for (int y = y0 + ((y0 - band.top()) & 1); y <= y1; y += 2) raster.Dot(int(x), y, grid);
      }
    }
  }
}

void TKelStripChart::DrawBookmarkLines(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  int first, last;
  if (!InnerColumns(plot, clip, first, last)) return;
  for (const TBookmark& b : bookmarks_) {
    long long x = b.Pixel - start_ + plot.left();
    if (x < first || x > last) continue;
    painter.setPen(QPen(ColorToQColor(b.Colour), 0));
    painter.drawLine(int(x), plot.top() + 1, int(x), plot.bottom() - 1);
  }
}

void TKelStripChart::DrawCurves(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  int first, last;
  if (!InnerColumns(plot, clip, first, last)) return;
  const long long globalFirst = start_ + (first - plot.left());
  const int count = last - first + 1;
  PrepareColumns(globalFirst, count, clip);
  std::vector<QLine> lines;
  QPolygon points;
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    const int h = band.height();
    if (h <= 2 || !band.intersects(clip)) continue;
    painter.save();
    painter.setClipRect(QRect(first, band.top() + 1, count, h - 2) & clip);
    for (int j = 0; j < c->PlotCount(); ++j) {
      TStripPlot& p = *c->Plots(j);
      const std::vector<float>& values = p.Values();
      if (values.empty()) continue;
      painter.setPen(p.Pen());
      const TSampleMapping mapping = p.Mapping();
      const TKscYAxis& axis = p.Axis();
      if (mapping.AveragePixelsPerSample() >= 1) {
        // Few samples: a line through each sample, from the one before the clip to the one
        // after it.
        std::size_t i0 = mapping.FirstAtOrAfter(globalFirst);
        std::size_t i1 = mapping.FirstAtOrAfter(globalFirst + count);
        i0 = i0 > 0 ? i0 - 1 : 0;
        i1 = std::min(i1 + 1, mapping.Count);
        points.clear();
        auto flush = [&] {
          if (points.size() == 1)
            painter.drawPoint(points[0]);
          else if (points.size() > 1)
            painter.drawPolyline(points);
          if (mapping.AveragePixelsPerSample() >= kMarkSamplesFrom)
            for (const QPoint& q : points) painter.drawRect(q.x() - 1, q.y() - 1, 2, 2);
          points.clear();
        };
        for (std::size_t i = i0; i < i1; ++i) {
          float v = values[i];
          if (std::isnan(v)) {
            flush();
            continue;
          }
          long long x = mapping.Pixel(i) - start_ + plot.left();
          points << QPoint(int(std::clamp(x, -100000LL, 100000LL)),
                           band.top() + axis.ValueToPixel(v, h));
        }
        flush();
        continue;
      }
      // Many samples: one stroke per column from the lowest to the highest sample under it.
      // Where the curve jumps between two columns, the stroke reaches on to the neighbour's
      // range so the trace stays joined. Strokes are vertical only, so a column looks the same
      // whichever part of the plot is being drawn.
      const TYPix* cols = p.Columns(globalFirst - 1, count + 1, h);
      // A thin solid opaque pen is written straight into the image.
      const bool direct = p.Pen().widthF() <= 1 && p.Pen().style() == Qt::SolidLine &&
                          p.Pen().color().alpha() == 255 &&
                          p.Pen().brush().style() == Qt::SolidPattern;
      const QRgb colour = p.Pen().color().rgb() | 0xFF000000u;
      TRaster raster = TRaster(cache_, clip).Clipped(QRect(first, band.top() + 1, count, h - 2));
      lines.clear();
      lines.reserve(std::size_t(count));
      const TYPix* prev = cols[0].Empty() ? nullptr : &cols[0];
      for (int k = 0; k < count; ++k) {
        const TYPix& col = cols[k + 1];
        if (col.Empty()) {
          prev = nullptr;
          continue;
        }
        int lo = col.Min, hi = col.Max;
        if (prev) {
          if (prev->Max < lo) lo = prev->Max + 1;
          if (prev->Min > hi) hi = prev->Min - 1;
        }
        const int x = first + k;
        if (direct)
          raster.VLine(x, band.top() + lo, band.top() + hi, colour);
        else
          lines.emplace_back(x, band.top() + lo, x, band.top() + hi);
        prev = &col;
      }
      if (!lines.empty()) painter.drawLines(lines.data(), int(lines.size()));
    }
    painter.restore();
  }
}

void TKelStripChart::PrepareColumns(long long globalFirst, int count, const QRect& clip) {
  if (std::thread::hardware_concurrency() < 2) return;
  // Each curve's columns are its own; axes and samples are only read. A repaint of several
  // hour-long curves at full extent waits mostly on memory, which two cores fetch faster.
  std::vector<std::pair<TStripPlot*, int>> jobs;
  double inView = 0;
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    if (band.height() <= 2 || !band.intersects(clip)) continue;
    for (int j = 0; j < c->PlotCount(); ++j) {
      TStripPlot* p = c->Plots(j);
      if (p->Values().empty()) continue;
      const double pixelsPerSample = p->Mapping().AveragePixelsPerSample();
      if (!(pixelsPerSample < 1) || !(pixelsPerSample > 0)) continue;
      jobs.emplace_back(p, band.height());
      inView += double(count) / pixelsPerSample;
    }
  }
  if (jobs.size() < 2 || inView < parallelColumnsFrom_) return;
  auto run = [&](std::size_t from) noexcept {
    try {
      for (std::size_t k = from; k < jobs.size(); k += 2)
        jobs[k].first->Columns(globalFirst - 1, count + 1, jobs[k].second);
    } catch (...) {
      // DrawCurves computes what is missing itself.
    }
  };
  std::thread helper;
  try {
    helper = std::thread(run, 1);
  } catch (const std::system_error&) {
    run(1);
  }
  run(0);
  if (helper.joinable()) helper.join();
}

void TKelStripChart::DrawHighlights(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  int first, last;
  if (!InnerColumns(plot, clip, first, last)) return;
  // Each highlight is a filled rectangle over the band's inner rows with an outline in its pen
  // colour, laid on with the Lighten composition: every colour channel of a pixel ends as the
  // largest of the picture and of every highlight over it, in whatever order they are drawn. So
  // a band's highlights fold into one colour per pixel column for the inner rows and one for
  // the top and bottom rows (the outline's), drawn as three one-pixel-high images stretched over
  // the rows. A long ride has thousands of highlights, and every rectangle drawn on its own
  // costs a hand-over to the painter's worker threads.
  const int n = last - first + 1;
  std::vector<QRgb> inner, edge;
  for (const auto& c : channels_) {
    const QRect& band = c->Rect();
    if (c->Highlights().empty() || band.height() <= 2 || !band.intersects(clip)) continue;
    const TSampleMapping mapping = c->Plots(0)->Mapping();
    auto pixelOf = [&](int index) -> long long {
      if (mapping.X) {
        if (mapping.Count == 0) return 0;
        return mapping.Pixel(
            std::size_t(std::clamp<long long>(index, 0, (long long)mapping.Count - 1)));
      }
      double position = (double(index) - mapping.OffsetSamples) * mapping.PixelsPerSample;
      return (long long)std::floor(std::clamp(position, -1e15, 1e15) + 0.5);
    };
    inner.assign(std::size_t(n), 0);
    edge.assign(std::size_t(n), 0);
    auto lighten = [](QRgb& into, QRgb colour) {
      into = qRgb(std::max(qRed(into), qRed(colour)), std::max(qGreen(into), qGreen(colour)),
                  std::max(qBlue(into), qBlue(colour)));
    };
    bool any = false;
    for (const THighlight& hl : c->Highlights()) {
      long long x0 = pixelOf(hl.First) - start_ + plot.left();
      long long x1 = pixelOf(hl.Last) + 1 - start_ + plot.left();
      if (x1 < first || x0 > last) continue;
      x0 = std::max(x0, (long long)first - 1);
      x1 = std::min(x1, (long long)last + 2);  // edges beyond the clip stay out of it
      const long long right = x0 + std::max(1LL, x1 - x0) - 1;  // the rectangle's last column
      const QRgb brush = ColorToQColor(hl.Brush).rgb(), pen = ColorToQColor(hl.Pen).rgb();
      for (long long x = std::max<long long>(x0, first); x <= std::min<long long>(right, last);
           ++x) {
        const auto k = std::size_t(x - first);
        lighten(inner[k], brush);
        lighten(edge[k], pen);
        if (x == x0 || x == right) lighten(inner[k], pen);
        any = true;
      }
    }
    if (!any) continue;
    for (int k = 0; k < n; ++k) lighten(edge[std::size_t(k)], inner[std::size_t(k)]);
    QImage rows(n, 2, QImage::Format_RGB32);
    std::copy(inner.begin(), inner.end(), reinterpret_cast<QRgb*>(rows.scanLine(0)));
    std::copy(edge.begin(), edge.end(), reinterpret_cast<QRgb*>(rows.scanLine(1)));
    painter.save();
    painter.setClipRect(QRect(first, band.top() + 1, n, band.height() - 2) & clip);
    // Black leaves the picture as it is under Lighten: columns without a highlight draw nothing.
    painter.setCompositionMode(QPainter::CompositionMode_Lighten);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const int top = band.top() + 1, bottom = band.bottom() - 1;
    painter.drawImage(QRect(first, top, n, 1), rows, QRect(0, 1, n, 1));
    if (bottom > top) painter.drawImage(QRect(first, bottom, n, 1), rows, QRect(0, 1, n, 1));
    if (bottom - top > 1)
      painter.drawImage(QRect(first, top + 1, n, bottom - top - 1), rows, QRect(0, 0, n, 1));
    painter.restore();
  }
}

void TKelStripChart::DrawBookmarkTabs(QPainter& painter, const QRect& clip) {
  if (bookmarks_.empty() || channels_.empty()) return;
  const QRect plot = PlotRect();
  int first, last;
  if (!InnerColumns(plot, clip, first, last)) return;
  painter.save();
  painter.setClipRect(QRect(first, plot.top(), last - first + 1, plot.height()) & clip);
  const TStripChannel& top = *channels_.front();
  const TStripChannel& bottom = *channels_.back();
  for (const TBookmark& b : bookmarks_) {
    long long x = b.Pixel - start_ + plot.left();
    if (x + kTabWidth / 2 < first || x - kTabWidth / 2 > last) continue;
    QColor colour = ColorToQColor(b.Colour);
    painter.setPen(QPen(Qt::white, 0));
    painter.setBrush(colour);
    if (top.TopBookmarkTabs())
      painter.drawRect(int(x) - kTabWidth / 2, top.Rect().top(), kTabWidth - 1, kTabHeight - 1);
    if (bottom.BottomBookmarkTabs())
      painter.drawRect(int(x) - kTabWidth / 2, bottom.Rect().bottom() - kTabHeight + 1,
                       kTabWidth - 1, kTabHeight - 1);
  }
  painter.restore();
}

void TKelStripChart::DrawTimeLabels(QPainter& painter, const QRect& clip) {
  const QRect plot = PlotRect();
  // The labels may reach into the scale margin on the left; on the right they end at the
  // plot's edge, where the right toolbar begins. A label that does not fit is left out whole.
  const QRect strip(0, plot.bottom() + 1, plot.right() + 1, kTimeLabelHeight);
  if (!strip.intersects(clip) || channels_.empty()) return;
  const double step = timeStep_.Step;
  if (!(step > 0) || !(pixelsPerUnit_ > 0)) return;
  painter.save();
  painter.setClipRect(strip & clip);
  painter.setFont(scaleFont_);
  painter.setPen(scaleColour_);
  QFontMetrics fm(scaleFont_);
  const int reach = kMaxTimeLabelWidth / 2 + 1;
  double firstX = double(start_ + clip.left() - reach - plot.left()) / pixelsPerUnit_;
  double lastX = double(start_ + clip.right() + reach - plot.left()) / pixelsPerUnit_;
  long long k0 = (long long)std::floor(firstX / step);
  long long k1 = (long long)std::ceil(lastX / step);
  for (long long k = k0; k <= k1 && k - k0 < 100000; ++k) {
    double t = double(k) * step;
    long long x = XToPixel(t) - start_ + plot.left();
    if (x < plot.left() || x > plot.right()) continue;
    QString text = QString::fromStdString(FormatTimeLabel(t, timeStep_.Decimals));
    int w = std::min(fm.horizontalAdvance(text), kMaxTimeLabelWidth - 2);
    QRect r(int(x) - w / 2 - 1, plot.bottom() + 1 + 4, w + 2, fm.height());
    if (r.left() < strip.left() || r.right() > strip.right()) continue;
    painter.drawText(r, Qt::AlignCenter, text);
  }
  painter.restore();
}

void TKelStripChart::DrawCursors(QPainter& painter, const QRegion& region) {
  if (cursors_.empty()) return;
  const QRect plot = PlotRect();
  painter.save();
  painter.setClipRegion(region);
  // Exclusive-or: the line shows on every colour, and the cached image below stays untouched.
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.setPen(QPen(Qt::white, 0));
  for (const auto& c : cursors_) {
    if (c->Position() < 0) continue;
    long long x = c->WindowX();
    switch (CursorSpan(x, plot.left(), plot.right() + 1)) {
      case TCursorSpan::None:
        break;
      case TCursorSpan::BelowOnly:
        painter.drawLine(int(x), plot.bottom() + 1, int(x), plot.bottom() + kCursorBelowPlot);
        break;
      case TCursorSpan::Full:
        painter.drawLine(int(x), plot.top(), int(x), plot.bottom() + kCursorBelowPlot);
        break;
    }
  }
  painter.restore();
}

}  // namespace qvl
