#include "viewer/stripchart/strip_plot.h"

#include <algorithm>
#include <cmath>

#include "viewer/stripchart/strip_channel.h"
#include "viewer/stripchart/strip_chart.h"
#include "viewer/stripchart/strip_chart_host.h"

namespace qvl {

TStripPlot::TStripPlot(TStripChannel* channel, IStripChartHost* host,
                       std::shared_ptr<TKscYAxis> axis, const QPen& pen)
    : channel_(channel), host_(host), axis_(std::move(axis)), pen_(pen) {}

void TStripPlot::SetPen(const QPen& pen) {
  pen_ = pen;
  channel_->Invalidate();
}

void TStripPlot::SetColour(TColor colour) {
  QPen pen = pen_;
  pen.setColor(ColorToQColor(colour));
  SetPen(pen);
}

const std::vector<float>& TStripPlot::Values() const {
  static const std::vector<float> kNone;
  return values_ ? *values_ : kNone;
}

void TStripPlot::ValuesChanged() {
  const std::vector<float>& values = Values();
  pyramid_.Build(values.data(), values.size());
  ++valuesGeneration_;
  columns_.clear();
  host_->CurvesChanged();
}

void TStripPlot::SetValues(std::shared_ptr<const std::vector<float>> values, double unitsPerSample,
                           double xOffset) {
  values_ = std::move(values);
  regular_ = true;
  unitsPerSample_ = unitsPerSample > 0 && std::isfinite(unitsPerSample) ? unitsPerSample : 1;
  xOffset_ = std::isfinite(xOffset) ? xOffset : 0;
  ValuesChanged();
}

void TStripPlot::SetValues(std::vector<float> values, double unitsPerSample, double xOffset) {
  SetValues(std::make_shared<const std::vector<float>>(std::move(values)), unitsPerSample, xOffset);
}

void TStripPlot::SetExplicitValues(std::vector<float> values) {
  values_ = std::make_shared<const std::vector<float>>(std::move(values));
  regular_ = false;
  ValuesChanged();
}

void TStripPlot::ClearValues() {
  values_.reset();
  ValuesChanged();
}

void TStripPlot::SetOffset(int samples) {
  if (samples == offset_) return;
  offset_ = samples;
  host_->CurvesChanged();
}

double TStripPlot::PixelsPerSample() const {
  return unitsPerSample_ * channel_->Chart()->PixelsPerUnit();
}

double TStripPlot::OffsetSamples() const {
  return xOffset_ / unitsPerSample_ + offset_;
}

double TStripPlot::XOfSample(double i) const {
  const TKelStripChart* chart = channel_->Chart();
  if (!regular_) {
    const std::vector<double>& xs = chart->XValues();
    if (xs.empty()) return 0;
    double k = std::clamp(i, 0.0, double(xs.size() - 1));
    return xs[std::size_t(k)];
  }
  return (i - OffsetSamples()) * unitsPerSample_;
}

TSampleMapping TStripPlot::Mapping() const {
  const TKelStripChart* chart = channel_->Chart();
  TSampleMapping m;
  m.Count = Values().size();
  m.PixelsPerUnit = chart->PixelsPerUnit();
  if (regular_) {
    m.PixelsPerSample = PixelsPerSample();
    m.OffsetSamples = OffsetSamples();
  } else {
    m.X = chart->XValues().data();
    m.Count = std::min(m.Count, chart->XValues().size());
  }
  return m;
}

void TStripPlot::SetRange(double step, double top, double bottom) {
  axis_->SetRange(step, top, bottom);
  channel_->Invalidate();
}

void TStripPlot::ZoomY(int mode, bool recomputeStep, double factor) {
  axis_->ZoomY(mode, recomputeStep, factor);
  channel_->Invalidate();
}

const TYPix* TStripPlot::Columns(long long first, int count, int height) {
  const double ppu = channel_->Chart()->PixelsPerUnit();
  const double offset = regular_ ? OffsetSamples() : 0;
  bool keyMatches = columnsPixelsPerUnit_ == ppu && columnsOffset_ == offset &&
                    columnsHeight_ == height && columnsAxisGeneration_ == axis_->Generation() &&
                    columnsValuesGeneration_ == valuesGeneration_;
  if (keyMatches && first >= columnsFirst_ &&
      first + count <= columnsFirst_ + (long long)columns_.size())
    return columns_.data() + (first - columnsFirst_);
  ComputeColumns(pyramid_, Mapping(), *axis_, height, first, count, columns_);
  columnsFirst_ = first;
  columnsPixelsPerUnit_ = ppu;
  columnsOffset_ = offset;
  columnsHeight_ = height;
  columnsAxisGeneration_ = axis_->Generation();
  columnsValuesGeneration_ = valuesGeneration_;
  return columns_.data();
}

}  // namespace qvl
