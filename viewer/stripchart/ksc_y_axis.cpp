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
  Apply(m_AutoStep ? 0 : m_Step, top, bottom, m_AutoStep);
}

void TKscYAxis::Apply(double step, double top, double bottom, bool autoStep) {
  if (!std::isfinite(top) || !std::isfinite(bottom) || !std::isfinite(step)) return;
  if (std::fabs(top - bottom) < kMinSpan) top = bottom + kMinSpan;
  double span = top - bottom;
  if (step == 0 || std::fabs(span / step) > kMaxTicks) {
    step = ChooseStep(top, bottom, m_Height);
  } else if ((step < 0) != (span < 0)) {
    step = -step;  // the step follows the direction of the axis
  }
  m_Top = top;
  m_Bottom = bottom;
  m_Step = step;
  m_AutoStep = autoStep;
  ComputeTicks();
}

void TKscYAxis::ZoomY(int mode, bool recomputeStep, double factor) {
  double top = m_Top, bottom = m_Bottom;
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
    Apply(m_Step, top, bottom, m_AutoStep);
}

void TKscYAxis::SetHeight(int height) {
  if (height == m_Height) return;
  m_Height = height;
  if (m_AutoStep)
    Apply(0, m_Top, m_Bottom, true);
  else
    ComputeTicks();
}

void TKscYAxis::ComputeTicks() {
  double h = EffectiveHeight(m_Height);
  m_Decimals = std::max(0, int(-std::round(std::log10(std::fabs(m_Step)) - 0.2)));
  m_FirstTick = std::llround(m_Bottom / m_Step);
  long long lastTick = std::llround(m_Top / m_Step);
  m_TickPixels.clear();
  if (lastTick - m_FirstTick > (long long)kMaxTicks + 2) lastTick = m_FirstTick - 1;
  double span = m_Top - m_Bottom;
  for (long long index = m_FirstTick; index <= lastTick; ++index)
    m_TickPixels.push_back(int(std::round((double(index) * m_Step - m_Bottom) * h / span)));
  ++m_Generation;
}

int TKscYAxis::ValueToPixel(double value, int height) const {
  if (height <= 0) return 0;
  double y = (m_Top - value) * height / (m_Top - m_Bottom);
  if (!(y >= 0)) return 0;  // also NaN
  if (y > height - 1) return height - 1;
  return int(y);
}

}  // namespace qvl
