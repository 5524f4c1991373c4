#include "viewer/event_detector.h"

namespace qvl {

void TBottomingDetector::Step(double r, int64_t sampleIndex, int32_t step) {
  const double now = double(sampleIndex) / 1000;
  if (!open_) {
    if (r > soft_) {
      open_ = true;
      current_ = TEvent{};
      current_.start = now;
      current_.startIndex = step;
      current_.flag = r > hard_ ? 1 : 0;
    }
    return;
  }
  if (r > hard_) current_.flag = 1;
  if (r < soft_ - 0.1) {
    current_.duration = now - current_.start;
    current_.endIndex = step - 1;
    events_.push_back(current_);
    open_ = false;
  }
}

void TBottomingDetector::Finish(int64_t sampleCount, int32_t lastStep) {
  if (!open_) return;
  current_.duration = double(sampleCount - 1) / 1000 - current_.start;
  current_.endIndex = lastStep;
  events_.push_back(current_);
  open_ = false;
}

double TWheelLockDetector::Deceleration(const float* speed, int32_t i) {
  if (i < 20) return 0;
  return (double(speed[i - 20]) - double(speed[i])) * 5;
}

void TWheelLockDetector::Step(const float* front, const float* rear, int32_t i) {
  const double f = front[i], r = rear[i];
  StepWheel(wheel_[0], f, r, Deceleration(front, i), i);
  StepWheel(wheel_[1], r, f, Deceleration(rear, i), i);
}

void TWheelLockDetector::StepWheel(TWheel& w, double s, double o, double decel, int32_t i) {
  if (!w.open) {
    bool trigger = (o * ratio_ > s && o > minSpeed_) || decel > maxDecel_;
    if (!trigger) return;
    w.open = true;
    if (w.events.size() >= 2 && i - 10 < w.events.back().endIndex) {
      // Close behind the last event: that event goes on instead of a new one starting.
      TEvent& last = w.events.back();
      last.endIndex = i;
      last.duration = double(i) / 100 - last.start;
      w.reopened = int64_t(w.events.size()) - 1;
      return;
    }
    w.reopened = -1;
    w.current = TEvent{};
    w.current.flag = decel > maxDecel_ ? 1 : 0;
    w.current.startIndex = w.current.flag ? i - 10 : i;
    w.current.start = double(w.current.startIndex) / 100;
    return;
  }
  bool ends = !(o * ratio_ >= s && o >= minSpeed_) && decel < 0.8 * maxDecel_;
  if (!ends) return;
  TEvent& e = w.reopened >= 0 ? w.events[size_t(w.reopened)] : w.current;
  e.duration = double(i) / 100 - e.start;
  e.endIndex = i - 1;
  if (w.reopened < 0) w.events.push_back(e);
  w.open = false;
  w.reopened = -1;
}

void TWheelLockDetector::Finish(int64_t sampleCount, int32_t lastStep) {
  for (TWheel& w : wheel_) {
    if (!w.open) continue;
    TEvent& e = w.reopened >= 0 ? w.events[size_t(w.reopened)] : w.current;
    e.duration = double(sampleCount - 1) / 1000 - e.start;
    e.endIndex = lastStep;
    if (w.reopened < 0) w.events.push_back(e);
    w.open = false;
    w.reopened = -1;
  }
}

}  // namespace qvl
