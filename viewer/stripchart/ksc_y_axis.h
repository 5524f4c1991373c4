// The vertical axis of one or more curves of a strip chart band: its range, tick step and the
// pixel positions of the ticks for the band's height.
#pragma once

#include <cstdint>
#include <vector>

namespace qvl {

class TKscYAxis {
 public:
  TKscYAxis();

  // Sets the range. A span below 0.001 is widened to top = bottom + 0.001. A `step` of 0 lets
  // the axis choose a step that puts ticks at least 25 pixels apart on the band; otherwise the
  // given step is used (negative on an inverted axis, where top lies below bottom).
  // Ranges that are not finite numbers are ignored.
  void SetRange(double step, double top, double bottom);
  // The same, keeping whether the step is chosen by the axis (used by the shift actions that
  // move the range and keep the step).
  void MoveRange(double top, double bottom);

  // Vertical zoom by `factor`: mode 0 keeps the bottom, 1 keeps the top, 2 keeps the middle.
  // With `recomputeStep` the step is chosen anew, else the current one is kept.
  void ZoomY(int mode, bool recomputeStep, double factor);

  // The band height in pixels the ticks are placed for (100 when 0 is given). Changing it
  // recomputes the tick positions; the step is chosen anew only when the axis chose it.
  void SetHeight(int height);
  int Height() const { return height_; }

  double Top() const { return top_; }
  double Bottom() const { return bottom_; }
  double Step() const { return step_; }
  bool Inverted() const { return top_ < bottom_; }
  bool AutoStep() const { return autoStep_; }
  long long FirstTick() const { return firstTick_; }
  int Decimals() const { return decimals_; }
  // Pixel of each tick, counted upwards from the band bottom; tick k has value
  // (FirstTick() + k) * Step().
  const std::vector<int>& TickPixels() const { return tickPixels_; }
  double TickValue(int k) const { return double(firstTick_ + k) * step_; }

  // Pixel row of `value` from the band top: (top - value) * height / (top - bottom), limited to
  // 0 .. height - 1.
  int ValueToPixel(double value, int height) const;

  // Bumped whenever the range or the ticks change, so that curves know their cached pixel
  // columns are stale.
  std::uint64_t Generation() const { return generation_; }

  // The step the axis would choose for a span on a band of `height` pixels.
  static double ChooseStep(double top, double bottom, int height);

 private:
  void Apply(double step, double top, double bottom, bool autoStep);
  void ComputeTicks();

  double top_ = 1;
  double bottom_ = 0;
  double step_ = 0.5;
  bool autoStep_ = true;
  long long firstTick_ = 0;
  int decimals_ = 0;
  int height_ = 100;
  std::vector<int> tickPixels_;
  std::uint64_t generation_ = 1;
};

}  // namespace qvl
