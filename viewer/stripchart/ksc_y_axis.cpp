#include "viewer/stripchart/ksc_y_axis.h"

#include <algorithm>
#include <cmath>

namespace qvl {
namespace {

constexpr double kMinSpan = 0.001;
constexpr int kMinTickPixels = 25;
// More ticks than this on one band mean a step that does not fit the range; the axis then
// chooses its own.
constexpr double kMaxTicks = 10000;

int EffectiveHeight(int height) {
  return height == 0 ? 100 : height;
}

}  // namespace

TKscYAxis::TKscYAxis() {
  Apply(0, 1, 0, true);
}

double TKscYAxis::ChooseStep(double top, double bottom, int height) {
  double h = EffectiveHeight(height);
  double span = top - bottom;
  double magnitude = std::fabs(span);
  double sign = span < 0 ? -1 : 1;
  double decade = std::pow(10.0, std::trunc(std::log10(magnitude) - 1.5));
  double lastFitting = 0;
  // Rising candidates 1, 2, 5 x 10^k: the first whose ticks lie 25 pixels apart. A band too
  // low for any step of at most five spans takes the largest such step.
  for (int guard = 0; guard < 64; ++guard) {
    for (double f : {1.0, 2.0, 5.0}) {
      double step = f * decade;
      bool withinFiveSpans = std::round(step / magnitude) <= 5;
      if (!withinFiveSpans) return sign * (lastFitting > 0 ? lastFitting : step);
      lastFitting = step;
      if (std::round(h * step / magnitude) >= kMinTickPixels) return sign * step;
    }
    decade *= 10;
  }
  return sign * lastFitting;
}

void TKscYAxis::SetRange(double step, double top, double bottom) {
  Apply(step, top, bottom, step == 0);
}

void TKscYAxis::MoveRange(double top, double bottom) {
  Apply(autoStep_ ? 0 : step_, top, bottom, autoStep_);
}

void TKscYAxis::Apply(double step, double top, double bottom, bool autoStep) {
  if (!std::isfinite(top) || !std::isfinite(bottom) || !std::isfinite(step)) return;
  if (std::fabs(top - bottom) < kMinSpan) top = bottom + kMinSpan;
  double span = top - bottom;
  if (step == 0 || std::fabs(span / step) > kMaxTicks) {
    step = ChooseStep(top, bottom, height_);
  } else if ((step < 0) != (span < 0)) {
    step = -step;  // the step follows the direction of the axis
  }
  top_ = top;
  bottom_ = bottom;
  step_ = step;
  autoStep_ = autoStep;
  ComputeTicks();
}

void TKscYAxis::ZoomY(int mode, bool recomputeStep, double factor) {
  double top = top_, bottom = bottom_;
  double span = top - bottom;
  switch (mode) {
    case 0:
      top = bottom + factor * span;
      break;
    case 1:
      bottom = top - factor * span;
      break;
    default: {
      double c = (top + bottom) / 2;
      top = c + factor * (top - c);
      bottom = c - factor * (c - bottom);
      break;
    }
  }
  if (recomputeStep)
    Apply(0, top, bottom, true);
  else
    Apply(step_, top, bottom, autoStep_);
}

void TKscYAxis::SetHeight(int height) {
  if (height == height_) return;
  height_ = height;
  if (autoStep_)
    Apply(0, top_, bottom_, true);
  else
    ComputeTicks();
}

void TKscYAxis::ComputeTicks() {
  double h = EffectiveHeight(height_);
  decimals_ = std::max(0, int(-std::round(std::log10(std::fabs(step_)) - 0.2)));
  firstTick_ = std::llround(bottom_ / step_);
  long long lastTick = std::llround(top_ / step_);
  tickPixels_.clear();
  if (lastTick - firstTick_ > (long long)kMaxTicks + 2) lastTick = firstTick_ - 1;
  double span = top_ - bottom_;
  for (long long index = firstTick_; index <= lastTick; ++index)
    tickPixels_.push_back(int(std::round((double(index) * step_ - bottom_) * h / span)));
  ++generation_;
}

int TKscYAxis::ValueToPixel(double value, int height) const {
  if (height <= 0) return 0;
  double y = (top_ - value) * height / (top_ - bottom_);
  if (!(y >= 0)) return 0;  // also NaN
  if (y > height - 1) return height - 1;
  return int(y);
}

}  // namespace qvl
