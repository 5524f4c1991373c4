// One curve of a strip chart band: its samples with their min/max pyramid, its pen, its
// vertical axis (shared with other curves of the band or its own) and the pixel columns it
// draws from.
#pragma once

#include <QPen>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/stripchart/ksc_y_axis.h"
#include "viewer/stripchart/min_max_pyramid.h"
#include "viewer/stripchart/sample_mapping.h"
#include "viewer/stripchart/strip_chart_types.h"

namespace qvl {

class IStripChartHost;
class TStripChannel;

class TStripPlot {
 public:
  // Curves are made by their band (TStripChannel::AddPlot); `host` is the band's chart.
  TStripPlot(TStripChannel* channel, IStripChartHost* host, std::shared_ptr<TKscYAxis> axis,
             const QPen& pen);
  TStripPlot(const TStripPlot&) = delete;
  TStripPlot& operator=(const TStripPlot&) = delete;

  TStripChannel* Channel() const { return channel_; }
  TKscYAxis& Axis() { return *axis_; }
  const TKscYAxis& Axis() const { return *axis_; }
  const std::shared_ptr<TKscYAxis>& SharedAxis() const { return axis_; }

  const QPen& Pen() const { return pen_; }
  void SetPen(const QPen& pen);
  void SetColour(TColor colour);

  // Values at regular spacing: sample i lies at x = i * unitsPerSample - xOffset (before the
  // movable offset). Builds the min/max pyramid. The shared form draws the caller's series
  // without a copy; the series must not be changed while the curve holds it (a new series is
  // handed over instead).
  void SetValues(std::shared_ptr<const std::vector<float>> values, double unitsPerSample,
                 double xOffset = 0);
  void SetValues(std::vector<float> values, double unitsPerSample, double xOffset = 0);
  // Values placed at the chart's explicit x values (one per sample).
  void SetExplicitValues(std::vector<float> values);
  void ClearValues();
  const std::vector<float>& Values() const;
  bool RegularSpacing() const { return regular_; }
  double UnitsPerSample() const { return unitsPerSample_; }
  double XOffset() const { return xOffset_; }
  const TMinMaxPyramid& Pyramid() const { return pyramid_; }

  // A movable curve can be slid sideways with Ctrl and the mouse; its offset is in samples
  // (a positive offset moves the curve to the left).
  bool Movable() const { return movable_; }
  void SetMovable(bool movable) { movable_ = movable; }
  int Offset() const { return offset_; }
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

  // Pixel columns [first, first + count) at the chart's current scale for a band `height`
  // pixels high, from the cache when it holds them. The chart draws from these; the pointer
  // stays valid until the next call.
  const TYPix* Columns(long long first, int count, int height);

 private:
  void ValuesChanged();

  TStripChannel* channel_;
  IStripChartHost* host_;
  std::shared_ptr<TKscYAxis> axis_;
  QPen pen_;
  std::shared_ptr<const std::vector<float>> values_;  // null: no values
  TMinMaxPyramid pyramid_;
  bool regular_ = true;
  double unitsPerSample_ = 1;
  double xOffset_ = 0;
  bool movable_ = false;
  int offset_ = 0;
  std::uint64_t valuesGeneration_ = 0;
  // Cached pixel columns and what they were computed for.
  TYPixArray columns_;
  long long columnsFirst_ = 0;
  double columnsPixelsPerUnit_ = 0;
  double columnsOffset_ = 0;
  int columnsHeight_ = -1;
  std::uint64_t columnsAxisGeneration_ = 0;
  std::uint64_t columnsValuesGeneration_ = 0;
};

}  // namespace qvl
