#include "viewer/stripchart/sample_mapping.h"

#include <algorithm>
#include <cmath>

#include "viewer/stripchart/ksc_y_axis.h"
#include "viewer/stripchart/min_max_pyramid.h"

namespace qvl {
namespace {

// Positions beyond this are far off any screen; clamping keeps the integer conversion defined.
constexpr double kFar = 1e15;

long long ToPixel(double position) {
  if (!(position > -kFar)) return (long long)-kFar;  // also NaN
  if (position > kFar) return (long long)kFar;
  return (long long)std::floor(position + 0.5);
}

}  // namespace

double TSampleMapping::Position(std::size_t i) const {
  if (X) return X[i] * PixelsPerUnit;
  return (double(i) - OffsetSamples) * PixelsPerSample;
}

long long TSampleMapping::Pixel(std::size_t i) const {
  return ToPixel(Position(i));
}

std::size_t TSampleMapping::FirstAtOrAfter(long long column) const {
  if (Count == 0) return 0;
  if (X || !(PixelsPerSample > 0)) {
    // Positions ascend with the index: binary search.
    std::size_t lo = 0, hi = Count;
    while (lo < hi) {
      std::size_t mid = lo + (hi - lo) / 2;
      if (Pixel(mid) < column)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  // Regular spacing: the index from the formula, then corrected by the exact pixel rule so
  // that rounding in the formula never moves a sample into the wrong column.
  double guess = std::ceil((double(column) - 0.5) / PixelsPerSample + OffsetSamples);
  std::size_t i;
  if (!(guess > 0))
    i = 0;
  else if (guess >= double(Count))
    i = Count;
  else
    i = std::size_t(guess);
  while (i > 0 && Pixel(i - 1) >= column) --i;
  while (i < Count && Pixel(i) < column) ++i;
  return i;
}

double TSampleMapping::AveragePixelsPerSample() const {
  if (!X) return PixelsPerSample;
  if (Count < 2) return 1;
  return (X[Count - 1] - X[0]) * PixelsPerUnit / double(Count - 1);
}

void ComputeColumns(const TMinMaxPyramid& pyramid, const TSampleMapping& mapping,
                    const TKscYAxis& axis, int height, long long firstColumn, int count,
                    TYPixArray& out) {
  out.assign(std::size_t(std::max(count, 0)), TYPix{1, 0});
  if (count <= 0 || mapping.Count == 0) return;
  std::size_t n = std::min(mapping.Count, pyramid.Count());
  // Where each column starts, found once; column c holds samples [starts[c], starts[c + 1]).
  std::vector<std::size_t> starts(std::size_t(count) + 1);
  for (int c = 0; c <= count; ++c) starts[std::size_t(c)] = mapping.FirstAtOrAfter(firstColumn + c);
  // Long curves are read a few columns ahead of use: each column's samples lie far from the
  // previous column's, beyond what the processor fetches by itself.
  constexpr int kAhead = 12;
  const bool prefetch = n > (std::size_t(1) << 16);
  if (prefetch)
    for (int c = 1; c <= kAhead && c <= count; ++c) pyramid.Prefetch(starts[std::size_t(c)]);
  for (int c = 0; c < count; ++c) {
    if (prefetch && c + kAhead + 1 <= count) pyramid.Prefetch(starts[std::size_t(c + kAhead + 1)]);
    std::size_t begin = starts[std::size_t(c)];
    std::size_t end = std::min(starts[std::size_t(c) + 1], n);
    if (begin >= n) break;
    if (end > begin) {
      TMinMax r = pyramid.Range(begin, end);
      if (!r.Empty()) {
        // The pixel rule is monotone in the value, so the extreme values give the extreme rows.
        int a = axis.ValueToPixel(r.Max, height);
        int b = axis.ValueToPixel(r.Min, height);
        out[std::size_t(c)] = TYPix{std::int16_t(std::min(a, b)), std::int16_t(std::max(a, b))};
      }
    }
  }
}

}  // namespace qvl
