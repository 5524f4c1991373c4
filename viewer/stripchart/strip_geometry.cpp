#include "viewer/stripchart/strip_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qvl {
namespace {

long long RoundToPixel(double v) {
  if (!(v > -1e15)) return (long long)-1e15;
  if (v > 1e15) return (long long)1e15;
  return std::llround(v);
}

}  // namespace

long long ZoomStartPixel(int anchor, long long start, int plotWidth, double factor) {
  if (!(factor > 0)) return start;
  switch (anchor) {
    case kZoomKeepLeft:
      return RoundToPixel(double(start) / factor);
    case kZoomKeepRight:
      return RoundToPixel(double(start + plotWidth) / factor) - plotWidth;
    default:
      return RoundToPixel((double(start) + plotWidth / 2.0) / factor) - plotWidth / 2;
  }
}

long long KeepPointStartPixel(long long start, int pixelInPlot, double oldPixelsPerUnit,
                              double newPixelsPerUnit) {
  double x = double(start + pixelInPlot) / oldPixelsPerUnit;
  return RoundToPixel(x * newPixelsPerUnit) - pixelInPlot;
}

int ScrollDivisor(long long extent) {
  return int(std::max(0LL, extent) / 32760 + 1);
}

TScrollBarSetup ScrollBarSetup(long long extent, int plotWidth) {
  TScrollBarSetup s;
  s.Divisor = ScrollDivisor(extent);
  plotWidth = std::max(plotWidth, 1);
  s.PageStep = std::max(1, plotWidth / s.Divisor);
  if (extent > plotWidth) {
    long long range = extent / s.Divisor + (plotWidth / 5) / s.Divisor;
    s.Maximum = int(std::max(0LL, range - s.PageStep));
  }
  return s;
}

int ScrollLineStep(int clientWidth) {
  return clientWidth / 20 + 1;
}
int ScrollPageStep(int clientWidth) {
  return clientWidth - clientWidth / 20;
}

std::vector<std::pair<int, int>> LayoutBands(const std::vector<float>& weights, int top,
                                             int bottom) {
  std::vector<std::pair<int, int>> bands;
  double total = 0;
  for (float w : weights) total += std::max(0.0f, w);
  int height = std::max(0, bottom - top);
  double sum = 0;
  int y = top;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    sum += std::max(0.0f, weights[i]);
    int next =
        i + 1 == weights.size() || total <= 0
            ? (total <= 0 ? top + int(height * double(i + 1) / double(weights.size())) : bottom)
            : top + int(std::lround(height * sum / total));
    next = std::clamp(next, y, bottom);
    bands.emplace_back(y, next);
    y = next;
  }
  return bands;
}

std::vector<float> ResizeBandWeights(const std::vector<float>& weights, std::size_t index, int y,
                                     int bandTop, int oldEdge, int plotTop, int plotBottom,
                                     int minHeight) {
  std::vector<float> result = weights;
  if (index + 1 >= weights.size()) return result;  // the last band has no lower edge to drag
  int below = int(weights.size() - index - 1);
  int lowest = bandTop + minHeight;
  int highest = plotBottom - below * minHeight;
  if (lowest > highest) return result;
  y = std::clamp(y, lowest, highest);
  double total = 0;
  for (float w : weights) total += w;
  int plotHeight = plotBottom - plotTop;
  if (plotHeight <= 0 || total <= 0 || plotBottom - oldEdge <= 0) return result;
  result[index] = float(double(y - bandTop) * total / plotHeight);
  double scale = double(plotBottom - y) / double(plotBottom - oldEdge);
  for (std::size_t i = index + 1; i < result.size(); ++i) result[i] = float(result[i] * scale);
  return result;
}

TCursorSpan CursorSpan(long long x, int left, int right) {
  if (x < left || x > right - 1) return TCursorSpan::None;
  if (x == left || x == right - 1) return TCursorSpan::BelowOnly;
  return TCursorSpan::Full;
}

int CursorButtonLeft(long long x, int left, int right) {
  if (CursorSpan(x, left, right) == TCursorSpan::None) return kParkedButtonLeft;
  return int(x) - kCursorButtonWidth / 2;
}

long long ScrollToShow(long long globalX, long long start, int plotWidth, double leftMargin,
                       double rightMargin) {
  if (globalX < start) return globalX - RoundToPixel(leftMargin * plotWidth);
  if (globalX >= start + plotWidth)
    return globalX - plotWidth + 1 + RoundToPixel(rightMargin * plotWidth);
  return start;
}

int BookmarkAt(const std::vector<long long>& columns, int x, int y, int plotTop, int plotBottom) {
  if (std::abs(y - plotTop) > 16 && std::abs(y - plotBottom) > 16) return -1;
  int best = -1;
  long long bestDistance = 7;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    long long d = std::llabs(columns[i] - x);
    if (d < bestDistance) {
      bestDistance = d;
      best = int(i);
    }
  }
  return best;
}

std::pair<long long, long long> ViewIndexRange(long long start, int plotWidth,
                                               double pixelsPerSample, double offsetSamples,
                                               long long count) {
  if (count <= 0 || !(pixelsPerSample > 0)) return {0, -1};
  auto index = [&](double pixel) {
    double i = std::trunc(pixel / pixelsPerSample + offsetSamples);
    return (long long)std::clamp(i, 0.0, double(count - 1));
  };
  return {index(double(start)), index(double(start + plotWidth + 1))};
}

}  // namespace qvl
