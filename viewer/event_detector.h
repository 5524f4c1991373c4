// Event detection on a run: bottoming of the suspension against soft and hard travel limits, and
// wheel lock from the front/rear speed ratio and the wheels' deceleration. Both detectors are fed
// one step at a time while the run is walked, and close what is still open at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvl {

// One detected event (25 bytes packed, as the window keeps them).
#pragma pack(push, 1)
struct TEvent {
  double start = 0;        // s
  double duration = 0;     // s
  int32_t startIndex = 0;  // in the detector's steps
  int32_t endIndex = 0;
  uint8_t flag = 0;  // bottoming: hard limit reached; wheel lock: triggered by deceleration
  bool operator==(const TEvent&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TEvent) == 25);
using TEventArray = std::vector<TEvent>;

// Bottoming of one wheel's suspension, fed once per travel step with the travel as a fraction.
class TBottomingDetector {
 public:
  TBottomingDetector(float softLimit, float hardLimit) : soft_(softLimit), hard_(hardLimit) {}
  // r: travel / full travel; sampleIndex: the chart sample (ms) of the step; step: its index.
  void Step(double r, int64_t sampleIndex, int32_t step);
  // Closes an open event with duration (n - 1) / 1000 - start, ending at `lastStep`.
  void Finish(int64_t sampleCount, int32_t lastStep);
  const TEventArray& Events() const { return events_; }
  TEventArray TakeEvents() { return std::move(events_); }

 private:
  double soft_, hard_;
  bool open_ = false;
  TEvent current_;
  TEventArray events_;
};

// Wheel lock of both wheels, fed once per speed step (10 ms apart) with both speeds in km/h.
class TWheelLockDetector {
 public:
  TWheelLockDetector(float speedRatio, float minSpeed, float maxDecel)
      : ratio_(speedRatio), minSpeed_(minSpeed), maxDecel_(maxDecel) {}
  // Step i of the speed arrays; `front` and `rear` hold the speeds of steps 0..i.
  void Step(const float* front, const float* rear, int32_t i);
  // Closes open events with duration (n - 1) / 1000 - start, ending at `lastStep`.
  void Finish(int64_t sampleCount, int32_t lastStep);
  const TEventArray& FrontEvents() const { return wheel_[0].events; }
  const TEventArray& RearEvents() const { return wheel_[1].events; }
  TEventArray TakeFrontEvents() { return std::move(wheel_[0].events); }
  TEventArray TakeRearEvents() { return std::move(wheel_[1].events); }

  // Deceleration in km/h per second over the last 200 ms (20 steps); 0 before step 20.
  static double Deceleration(const float* speed, int32_t i);

 private:
  struct TWheel {
    bool open = false;
    // While open: the index of the event being extended, or -1 for a new event in `current`.
    int64_t reopened = -1;
    TEvent current;
    TEventArray events;
  };
  // Wheel w with its own speed s, the other wheel's speed o and its own deceleration.
  void StepWheel(TWheel& w, double s, double o, double decel, int32_t i);
  double ratio_, minSpeed_, maxDecel_;
  TWheel wheel_[2];
};

}  // namespace qvl
