// Parameter values: what windows, the live channel and the viewer read from the controller,
// in base units, in a chosen unit, or as text.
#include <cmath>
#include <limits>

#include "core/device/controller.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kMetresPerMile = 1609.344;

// Gravity expected in each of the six calibration positions, in g.
constexpr double kExpectedGravity[6][3] = {{0, 0, 1},  {0, 0, -1}, {1, 0, 0},
                                           {-1, 0, 0}, {0, 1, 0},  {0, -1, 0}};

bool IsTravel(int code) {
  return code == kParamFrontTravel || code == kParamRearTravel;
}

void Undefined() {
  throw EUndefinedParam("Undefined parameter");
}

}  // namespace

TSensor* TController::GetSensorFor(int code) {
  switch (code) {
    case kParamFrontTravel:
    case kParamFrontSuspVelocity:
      return FixedSensor(kSlotFrontTravel);
    case kParamRearTravel:
    case kParamRearSuspVelocity:
      return FixedSensor(kSlotRearTravel);
    case kParamBatteryVolt:
      return FixedSensor(kSlotBattery);
    case kParamAmbientTemp:
      return FixedSensor(kSlotAmbientTemp);
    case kParamXAccel:
      return FixedSensor(kSlotXAccel);
    case kParamYAccel:
      return FixedSensor(kSlotYAccel);
    case kParamZAccel:
      return FixedSensor(kSlotZAccel);
    case kParamCustom:
      if (selectedCustom_ >= 0 && size_t(selectedCustom_) < customSensors_.size())
        return customSensors_[size_t(selectedCustom_)].get();
      return nullptr;
    default:
      return nullptr;
  }
}

float TController::GetValue(int code) {
  if (typeReference_ == 0) Undefined();
  switch (code) {
    case kParamNone:
      return 0;
    case kParamFrontAccel:
    case kParamLateralAccel:
    case kParamVerticalAccel: {
      if (AnalogInputCount() <= 20) throw EUndefinedParam("Undefined channel");
      const size_t a = size_t(code - 1);
      double r0 = RawValue(18), r1 = RawValue(19), r2 = RawValue(20);
      return float(r0 * accelGain_[a][0] + r1 * accelGain_[a][1] + r2 * accelGain_[a][2] -
                   accelOffset_[a]);
    }
    case kParamFrontSpeed:
      return speed_[0];
    case kParamRearSpeed:
      return speed_[1];
    case kParamLoggingStatus:
      return LoggingState();
    case kParamHeading:
    case kParamElevation:
    case kParamBank:
      return 0;
    case kParamFrontSuspVelocity:
    case kParamRearSuspVelocity: {
      TSensor* sensor = GetSensorFor(code);
      if (!sensor) Undefined();
      int32_t& previous = previousRaw_[code - kParamFrontSuspVelocity];
      float travel = sensor->GetValue();
      float value = 0;
      if (previous >= 0) {
        int32_t period = configBlock_.I32(cfg::kSuspensionPeriod);
        // Without a suspension period there is no sample spacing to divide by.
        value = period > 0 ? (travel - sensor->RawToPhys(previous)) / float(period) * 1e6f : kNaN;
      }
      previous = RawValue(sensor->Channel);
      return value;
    }
    default: {
      TSensor* sensor = GetSensorFor(code);
      if (!sensor) Undefined();
      if (configInSync_ || code == kParamBatteryVolt || code == kParamAmbientTemp)
        return sensor->GetValue();
      return kNaN;
    }
  }
}

float TController::GetValueIn(int code, int unit) {
  if (code == kParamCustom) selectedCustom_ = unit - 64;
  if (code == kParamNone) return 0;
  try {
    return ConvertedValue(code, unit);
  } catch (const Exception&) {
    return kNaN;
  }
}

float TController::ConvertedValue(int code, int unit) {
  if (unit == kUnitVolt) {
    TSensor* sensor = GetSensorFor(code);
    if (sensor && sensor->HasValidChannel()) return float(RawValue(sensor->Channel) / 204.8);
    return kNaN;
  }
  float v = GetValue(code);
  if (std::isnan(v)) return v;
  const TConfigBlock& b = configBlock_;
  auto circumference = [&]() -> float {
    if (code == kParamFrontSpeed) return b.F32(cfg::kFrontCircumference);
    if (code == kParamRearSpeed) return b.F32(cfg::kRearCircumference);
    return 1.0f;
  };
  switch (unit) {
    case kUnitPercent:
      if (code == kParamBatteryVolt) return BatteryPercent(v);
      if (code == kParamFrontTravel) return v / b.F32(cfg::kFrontTravel) * 100;
      if (code == kParamRearTravel) return v / b.F32(cfg::kRearTravel) * 100;
      return v;
    case kUnitFahrenheit:
      return v * 1.8f + 32;
    case kUnitBarg:
      return v - 1;
    case kUnitPsi:
      return v * 14.5f;
    case kUnitPsig:
      return (v - 1) * 14.5f;
    case kUnitMps:
      return v * circumference();
    case kUnitKmh:
      return v * circumference() * 3.6f;
    case kUnitMph:
      // Wheel speeds in miles per hour; other parameters pass through.
      if (code == kParamFrontSpeed || code == kParamRearSpeed)
        return float(double(v) * circumference() * 3600.0 / kMetresPerMile);
      return v;
    case kUnitMm:
      return IsTravel(code) ? v * 1000 : v;
    case kUnitCm:
      return IsTravel(code) ? v * 100 : v;
    case kUnitInch:
      return IsTravel(code) ? v * 100 / 2.54f : v;
    case kUnitCmps:
      return v * 100;
    case kUnitMmps:
      return v * 1000;
    default:
      return v;
  }
}

std::string TController::GetValueText(int code, int unit) {
  if (code == kParamCustom) selectedCustom_ = unit - 64;
  if (code == kParamNone) return std::string();
  try {
    if (code == kParamLoggingStatus) return LoggingStateName(LoggingState());
    if (unit == kUnitVolt) {
      TSensor* sensor = GetSensorFor(code);
      if (sensor && sensor->HasValidChannel())
        return FormatFixed(RawValue(sensor->Channel) / 204.8, 7, 3) + " V";
      return "Not defined";
    }
    float v = ConvertedValue(code, unit);
    if (std::isnan(v)) return std::string();
    if (code == kParamCustom) {
      // The custom parameter's unit argument selects the sensor, not a unit: its text carries
      // the sensor's own units and decimals.
      TSensor* sensor = GetSensorFor(code);
      if (!sensor) return "NaN";
      return FormatFixed(v, 7, sensor->Decimals()) + sensor->UnitsText();
    }
    if (!IsValidUnit(unit)) return FormatFixed(v, 7, 3);
    const TEcuUnitDescr& u = kEcuUnits[size_t(unit)];
    return FormatFixed(v, 7, u.decimals) + u.suffix;
  } catch (const Exception&) {
    return "NaN";
  }
}

float TController::BatteryPercent(float volts) {
  if (!batteryCapacity_) batteryCapacity_ = CreateSensor(this, "BatCapacity", 8, 0);
  if (!batteryCapacity_) return kNaN;
  // The capacity table maps volts to a fraction of a full battery.
  return batteryCapacity_->MapValue(volts) * 100.0f;
}

void TController::ResetDerived() {
  speedValid_ = false;
  previousRaw_[0] = previousRaw_[1] = -1;
}

void TController::UpdateWheelSpeeds(uint8_t frontCounter, uint8_t rearCounter,
                                    uint16_t frontPulseTime, uint16_t rearPulseTime,
                                    uint16_t currentTimer) {
  UpdateWheelSpeeds(frontCounter, rearCounter, frontPulseTime, rearPulseTime, currentTimer,
                    currentTimer);
}

void TController::UpdateWheelSpeeds(uint8_t frontCounter, uint8_t rearCounter,
                                    uint16_t frontPulseTime, uint16_t rearPulseTime,
                                    uint16_t frontTimer, uint16_t rearTimer) {
  const uint16_t timers[2] = {frontTimer, rearTimer};
  const uint8_t counters[2] = {frontCounter, rearCounter};
  const uint16_t pulseTimes[2] = {frontPulseTime, rearPulseTime};
  const uint8_t pulsesPerTurn[2] = {configBlock_.U8(cfg::kFrontPulses),
                                    configBlock_.U8(cfg::kRearPulses)};
  for (int w = 0; w < 2; ++w) {
    if (!speedValid_) {
      lastCounter_[w] = counters[w];
      lastPulseTime_[w] = pulseTimes[w];
      continue;
    }
    if (counters[w] == lastCounter_[w]) {
      // More than 3.2767 s without a pulse: the wheel stands.
      if (uint16_t(timers[w] - lastPulseTime_[w]) & 0x8000) {
        speed_[w] = 0;
        lastPulseTime_[w] = uint16_t(timers[w] - 0x8000);
      }
    } else {
      unsigned pulses = uint8_t(counters[w] - lastCounter_[w]);
      unsigned ticks = uint16_t(pulseTimes[w] - lastPulseTime_[w]);
      // No pulses per turn configured, or both pulses in the same tick: no speed to give.
      const double ticksPerTurn = double(ticks) * pulsesPerTurn[w] * 100.0;
      speed_[w] = ticksPerTurn > 0 ? float(double(pulses) / ticksPerTurn * 1e6) : kNaN;
      lastCounter_[w] = counters[w];
      lastPulseTime_[w] = pulseTimes[w];
    }
  }
  speedValid_ = true;
}

bool TController::ComputeAccelCalibration() {
  TMatrix a, e;
  SetMatrixSize(a, 6, 4);
  SetMatrixSize(e, 6, 3);
  for (size_t k = 0; k < 6; ++k) {
    for (size_t axis = 0; axis < 3; ++axis) {
      a[k][axis] = configBlock_.F32(cfg::kAccelCalibration + (k * 3 + axis) * 4);
      e[k][axis] = kExpectedGravity[k][axis];
    }
    a[k][3] = -1;
  }
  try {
    TMatrix at, ata, inverse, pseudo, x;
    Transpose(a, at);
    MultiplyMatrix(at, a, ata);
    InvertMatrix(ata, inverse);
    MultiplyMatrix(inverse, at, pseudo);
    MultiplyMatrix(pseudo, e, x);
    for (size_t axis = 0; axis < 3; ++axis) {
      accelOffset_[axis] = x[3][axis];
      for (size_t i = 0; i < 3; ++i) accelGain_[axis][i] = x[i][axis];
    }
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace qvl
