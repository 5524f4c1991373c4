// TValueReader: reads one channel in one unit from a controller, sample after sample, with the
// same result as TController::GetValueIn (not-a-number and infinities as 0). The channels drawn
// most (travel, suspension velocity, accelerations) are computed straight from the sample with
// their sensor or calibration, without the general lookups; everything else goes through
// GetValueIn. The configuration must not change while a reader is in use.
#pragma once

#include <climits>
#include <cstdint>

#include "core/device/controller.h"
#include "core/device/log_record.h"

namespace qvl {

// What the readers of one walk share: the last travel reading of each suspension (a sensor gives
// the same value for the same count, so it is computed once per sample), and for each suspension
// velocity the previous travel reading behind it (as the controller keeps it; none after
// ResetDerived) and the value computed for the current sample, which every curve of that velocity
// reads, whatever its unit.
struct TReadCache {
  struct TTravel {
    int raw = INT_MIN;
    float phys = 0;
  };
  struct TVelocity {
    int32_t previous = -1;  // raw count, -1: none
    float previousPhys = 0;
    int64_t at = -1;  // the sample `value` belongs to
    float value = 0;  // m/s
  };
  // The sample being read. The walk gives every sample its own number before reading it, so that
  // a velocity is computed once per sample however many curves show it.
  int64_t sample = 0;
  TTravel travel[2];
  TVelocity velocity[2];
};

class TValueReader {
 public:
  // With a cache, suspension velocities are computed here (every reader of a velocity in one
  // walk must then share that cache and no one else may read them from the controller);
  // without one they are the controller's.
  TValueReader(TController& controller, int code, int unit, TReadCache* cache = nullptr);
  // A reader of a travel channel's value in metres (GetValue), 0 when not available.
  static TValueReader Metres(TController& controller, int code, TReadCache* cache = nullptr);

  // The value for `sample`, the sample the controller took last.
  float Read(const TLogSample& sample) const;
  // Whether the value is computed here rather than asked of the controller.
  bool Direct() const {
    return kind_ == TKind::Sensor || kind_ == TKind::Accel || kind_ == TKind::Velocity;
  }
  // Whether reading asks the controller for the value of an input (the wheel speeds, the logging
  // state and the attitude channels do not depend on the inputs).
  bool NeedsInputs() const;

 private:
  enum class TKind { Generic, GenericBase, Sensor, Accel, Velocity };
  float Phys(const TLogSample& sample) const;

  TController* controller_;
  TKind kind_ = TKind::Generic;
  int code_ = 0, unit_ = 0;
  TSensor* sensor_ = nullptr;
  int channel_ = 0;
  // Sensor and velocity readers: value = phys / divisor * factor (travel in per cent),
  // phys * factor, or phys * factor / divisor (inches).
  enum class TScale { None, Percent, Times, Inch } scale_ = TScale::None;
  float divisor_ = 1, factor_ = 1;
  double gain_[3] = {0, 0, 0}, offset_ = 0;
  TReadCache::TTravel* travel_ = nullptr;      // travel readers: the shared last reading
  TReadCache::TVelocity* velocity_ = nullptr;  // velocity readers: the shared velocity state
  const int64_t* sample_ = nullptr;            // velocity readers: the cache's current sample
  float period_ = 0;                           // velocity readers: the suspension period in µs
};

}  // namespace qvl
