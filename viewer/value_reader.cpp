#include "viewer/value_reader.h"

#include <cmath>

#include "core/device/ecu_types.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

inline float Plottable(float v) {
  return std::isfinite(v) ? v : 0.0f;
}

}  // namespace

TValueReader::TValueReader(TController& c, int code, int unit, TReadCache* cache)
    : controller_(&c), code_(code), unit_(unit) {
  if (c.TypeReference() == 0) return;
  const TConfigBlock& b = c.ConfigBlock();
  const bool travel = code == kParamFrontTravel || code == kParamRearTravel;
  const bool velocity = code == kParamFrontSuspVelocity || code == kParamRearSuspVelocity;
  const bool axis = code == kParamXAccel || code == kParamYAccel || code == kParamZAccel;

  if (velocity) {
    // GetValue computes velocities whether or not the configuration is in sync.
    TSensor* s = c.GetSensorFor(code);
    const int32_t period = b.I32(cfg::kSuspensionPeriod);
    if (!cache || !s || !s->HasValidChannel() || s->Channel >= kSampleChannelCount || period <= 0)
      return;
    switch (unit) {
      case kUnitMps:
        factor_ = 1.0f;  // the "circumference" of a parameter that is no wheel
        break;
      case kUnitCmps:
        factor_ = 100;
        break;
      case kUnitMmps:
        factor_ = 1000;
        break;
      default:
        return;
    }
    const int w = code - kParamFrontSuspVelocity;
    kind_ = TKind::Velocity;
    scale_ = TScale::Times;
    sensor_ = s;
    channel_ = s->Channel;
    travel_ = &cache->travel[w];
    velocity_ = &cache->velocity[w];
    sample_ = &cache->sample;
    period_ = float(period);
    return;
  }

  if ((travel || axis) && c.ConfigInSync()) {
    TSensor* s = c.GetSensorFor(code);
    if (!s || !s->HasValidChannel() || s->Channel >= kSampleChannelCount) return;
    if (travel) {
      switch (unit) {
        case kUnitPercent:
          scale_ = TScale::Percent;
          divisor_ = b.F32(code == kParamFrontTravel ? cfg::kFrontTravel : cfg::kRearTravel);
          factor_ = 100;
          break;
        case kUnitMm:
          scale_ = TScale::Times;
          factor_ = 1000;
          break;
        case kUnitCm:
          scale_ = TScale::Times;
          factor_ = 100;
          break;
        case kUnitInch:
          scale_ = TScale::Inch;
          factor_ = 100;
          divisor_ = 2.54f;
          break;
        default:
          return;
      }
      if (cache) travel_ = &cache->travel[code - kParamFrontTravel];
    } else if (unit != kUnitG) {
      return;
    }
    kind_ = TKind::Sensor;
    sensor_ = s;
    channel_ = s->Channel;
    return;
  }

  if ((code == kParamFrontAccel || code == kParamLateralAccel || code == kParamVerticalAccel) &&
      unit == kUnitG && c.AnalogInputCount() > 20) {
    const size_t a = size_t(code - 1);
    for (size_t i = 0; i < 3; ++i) gain_[i] = c.AccelGain()[a][i];
    offset_ = c.AccelOffset()[a];
    kind_ = TKind::Accel;
  }
}

bool TValueReader::NeedsInputs() const {
  if (Direct()) return false;
  switch (code_) {
    case kParamNone:
    case kParamFrontSpeed:
    case kParamRearSpeed:
    case kParamLoggingStatus:
    case kParamHeading:
    case kParamElevation:
    case kParamBank:
      return false;
    default:
      return true;
  }
}

TValueReader TValueReader::Metres(TController& c, int code, TReadCache* cache) {
  TValueReader r(c, code, kUnitMm, cache);
  if (r.kind_ == TKind::Sensor)
    r.scale_ = TScale::None;
  else
    r.kind_ = TKind::GenericBase;
  return r;
}

float TValueReader::Phys(const TLogSample& sample) const {
  const int raw = sample.channels[size_t(channel_)];
  if (!travel_) return sensor_->RawToPhys(raw);
  if (travel_->raw != raw) {
    travel_->raw = raw;
    travel_->phys = sensor_->RawToPhys(raw);
  }
  return travel_->phys;
}

float TValueReader::Read(const TLogSample& sample) const {
  switch (kind_) {
    case TKind::Sensor: {
      // As the sensor's GetValue and the unit conversion of GetValueIn compute it.
      float v = Phys(sample);
      if (std::isnan(v)) return 0;
      switch (scale_) {
        case TScale::Percent:
          v = v / divisor_ * factor_;
          break;
        case TScale::Times:
          v = v * factor_;
          break;
        case TScale::Inch:
          v = v * factor_ / divisor_;
          break;
        case TScale::None:
          break;
      }
      return Plottable(v);
    }
    case TKind::Velocity: {
      // As GetValue computes it: the change of travel since the previous sample read, per
      // suspension period, in m/s; 0 for the first one. Computed by the first reader of a
      // sample; the others take that value.
      TReadCache::TVelocity& state = *velocity_;
      if (state.at != *sample_) {
        const float travel = Phys(sample);
        float v = 0;
        if (state.previous >= 0) v = (travel - state.previousPhys) / period_ * 1e6f;
        state.previous = sample.channels[size_t(channel_)];
        state.previousPhys = travel;
        state.at = *sample_;
        state.value = std::isnan(v) ? 0 : v;
      }
      return Plottable(state.value * factor_);
    }
    case TKind::Accel: {
      double r0 = sample.channels[18], r1 = sample.channels[19], r2 = sample.channels[20];
      return Plottable(float(r0 * gain_[0] + r1 * gain_[1] + r2 * gain_[2] - offset_));
    }
    case TKind::GenericBase:
      try {
        return Plottable(controller_->GetValue(code_));
      } catch (const Exception&) {
        return 0;
      }
    case TKind::Generic:
    default:
      return Plottable(controller_->GetValueIn(code_, unit_));
  }
}

}  // namespace qvl
