// Arithmetic of the strip chart that needs no window: horizontal zoom and scrolling, the scroll
// bar, the sharing of the plot height among bands, band resizing, cursor placement and the
// bookmark under the mouse. Pixels here are plain integers; the chart feeds in its rectangles.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace qvl {

// Horizontal zoom anchors.
enum : int { kZoomKeepLeft = 0, kZoomKeepRight = 1, kZoomKeepMiddle = 2 };

// Scroll position after multiplying the units per pixel by `factor`, keeping the left edge,
// the right edge or the middle of a plot `plotWidth` pixels wide in place.
long long ZoomStartPixel(int anchor, long long start, int plotWidth, double factor);

// Scroll position that keeps the point at `pixelInPlot` (from the plot's left edge) in place
// when the pixels per unit change from `oldPixelsPerUnit` to `newPixelsPerUnit`.
long long KeepPointStartPixel(long long start, int pixelInPlot, double oldPixelsPerUnit,
                              double newPixelsPerUnit);

// Scroll bar positions are 16-bit: pixel positions are divided by this.
int ScrollDivisor(long long extent);

struct TScrollBarSetup {
  int Maximum = 0;   // largest thumb position (scroll position = thumb position * divisor)
  int PageStep = 0;  // thumb size in thumb units
  int Divisor = 1;
};
// The scroll bar for a plot `plotWidth` pixels wide over curves `extent` pixels long: when they
// are longer than the plot, the bar reaches one fifth of the plot past their end.
TScrollBarSetup ScrollBarSetup(long long extent, int plotWidth);
// Pixels scrolled by the arrows and by a click beside the thumb.
int ScrollLineStep(int clientWidth);
int ScrollPageStep(int clientWidth);

// Bands share the height [top, bottom) in proportion to their weights; the last band takes
// what remains. Returns (top, bottom) of each band.
std::vector<std::pair<int, int>> LayoutBands(const std::vector<float>& weights, int top,
                                             int bottom);

// Weights after dragging the lower edge of band `index` (top `bandTop`, edge at `oldEdge`) to
// row `y` in a plot from `plotTop` to `plotBottom`: the band's weight follows the new height and
// the bands below share the rest as before. `y` is limited so that every band keeps
// `minHeight` pixels.
std::vector<float> ResizeBandWeights(const std::vector<float>& weights, std::size_t index, int y,
                                     int bandTop, int oldEdge, int plotTop, int plotBottom,
                                     int minHeight = 4);

// Where a cursor line at column x is drawn in a plot spanning columns [left, right).
enum class TCursorSpan {
  None,       // outside the plot: nothing is drawn and the buttons are parked
  BelowOnly,  // on the plot's left or right frame: only the part below the plot
  Full,       // from the plot top to 10 pixels below the plot bottom
};
TCursorSpan CursorSpan(long long x, int left, int right);

constexpr int kCursorButtonWidth = 24;
constexpr int kParkedButtonLeft = -32;
// Left edge of a cursor button centred on the cursor, or the parked position.
int CursorButtonLeft(long long x, int left, int right);

// Scroll position that brings pixel `globalX` back into a plot `plotWidth` wide when it lies
// outside [start, start + plotWidth): `leftMargin` and `rightMargin` are fractions of the plot
// width kept between the pixel and the edge it crossed. Returns `start` when it is in view.
long long ScrollToShow(long long globalX, long long start, int plotWidth, double leftMargin,
                       double rightMargin);

// The bookmark whose line (window column in `columns`) is within 6 pixels of x, when y lies
// within 16 pixels of the plot's top or bottom edge; -1 if none (the nearest one wins).
int BookmarkAt(const std::vector<long long>& columns, int x, int y, int plotTop, int plotBottom);

// Sample indices [first, last] shown by a plot from global pixel `start`, `plotWidth` wide,
// for a curve with `pixelsPerSample` and `offsetSamples`, clamped to [0, count - 1]. Returns
// an empty range (first > last) when there are no samples.
std::pair<long long, long long> ViewIndexRange(long long start, int plotWidth,
                                               double pixelsPerSample, double offsetSamples,
                                               long long count);

}  // namespace qvl
