// Where the samples of a curve fall on the chart's pixel axis, and the pixel columns of a curve
// (the minimum and maximum pixel row of the samples under each column).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvl {

class TKscYAxis;
class TMinMaxPyramid;

// Pixels are global: pixel 0 is x = 0; the chart subtracts its scroll position.
struct TSampleMapping {
  std::size_t Count = 0;
  // Regular spacing: sample i lies at (i - OffsetSamples) * PixelsPerSample.
  double PixelsPerSample = 1;
  double OffsetSamples = 0;
  // Explicit x values (when not null): sample i lies at X[i] * PixelsPerUnit.
  const double* X = nullptr;
  double PixelsPerUnit = 1;

  double Position(std::size_t i) const;
  // The pixel column of sample i: its position rounded half up.
  long long Pixel(std::size_t i) const;
  // The first sample whose pixel is at or right of `column`; Count when there is none.
  std::size_t FirstAtOrAfter(long long column) const;
  // Average pixels between two neighbouring samples.
  double AveragePixelsPerSample() const;
};

// One pixel column of a curve: the lowest and highest pixel row (from the band top) of its
// samples. An empty column (no sample, or none that is a number) has Min > Max.
struct TYPix {
  std::int16_t Min;
  std::int16_t Max;
  bool Empty() const { return Min > Max; }
};
using TYPixArray = std::vector<TYPix>;

// Fills `out` with `count` columns starting at global pixel `firstColumn`, for a band of
// `height` pixels, from the curve's pyramid (built over the same samples as `mapping` counts).
void ComputeColumns(const TMinMaxPyramid& pyramid, const TSampleMapping& mapping,
                    const TKscYAxis& axis, int height, long long firstColumn, int count,
                    TYPixArray& out);

}  // namespace qvl
