#include "tool/compass_test.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/device/controller.h"
#include "core/device/device_time.h"
#include "core/device/ecu_types.h"
#include "core/device/matrix.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "tool/io_monitor.h"

namespace qvl {

namespace {

constexpr uint8_t kReadScratch = 0x43;
constexpr uint8_t kEraseScratch = 0x44;
constexpr uint8_t kWriteScratch = 0x45;
constexpr uint8_t kFatConversion = 0x12;
constexpr uint16_t kWriteCount = 4;
constexpr double kRadPerDeg = M_PI / 180;

ICommChannel& LinkOf(TController& controller) {
  if (!controller.Channel()) throw Exception("No communication channel opened");
  return *controller.Channel();
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

TMat3 Multiply(const TMat3& a, const TMat3& b) {
  TMat3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

TMat3 Transposed(const TMat3& a) {
  TMat3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[i][j] = a[j][i];
  return t;
}

TMat3 RotationX(double b) {
  return {{{1, 0, 0}, {0, std::cos(b), -std::sin(b)}, {0, std::sin(b), std::cos(b)}}};
}
TMat3 RotationY(double e) {
  return {{{std::cos(e), 0, std::sin(e)}, {0, 1, 0}, {-std::sin(e), 0, std::cos(e)}}};
}
TMat3 RotationZ(double h) {
  return {{{std::cos(h), -std::sin(h), 0}, {std::sin(h), std::cos(h), 0}, {0, 0, 1}}};
}

// The inverse of a 3 x 3 matrix through the matrix arithmetic; false when it is singular.
bool Inverse(const TMat3& m, TMat3& inverse) {
  TMatrix a(3, TVector(3)), r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = m[i][j];
  try {
    InvertMatrix(a, r);
  } catch (const Exception&) {
    return false;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) inverse[i][j] = r[i][j];
  return true;
}

bool Finite(const TVec3& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Rounded raw counts; false when a value has no count.
bool ToRaw(const TVec3& v, std::array<int16_t, 3>& raw) {
  if (!Finite(v)) return false;
  for (int i = 0; i < 3; ++i) raw[i] = int16_t(std::clamp(std::round(v[i]), -32768.0, 32767.0));
  return true;
}

double Wrap180(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d > 180) d -= 360;
  if (d <= -180) d += 360;
  return d;
}

bool AccelCalibration(TController& controller, TMat3& gain, TVec3& offset) {
  const TMatrix& g = controller.AccelGain();
  const TVector& o = controller.AccelOffset();
  if (Rows(g) < 3 || Columns(g) < 3 || o.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    offset[i] = o[size_t(i)];
    for (int j = 0; j < 3; ++j) gain[i][j] = g[size_t(i)][size_t(j)];
  }
  return true;
}

constexpr int kAccelInputs[3] = {18, 19, 20};
constexpr int kMagnetometerInputs[3] = {24, 25, 26};

}  // namespace

// --- scratch memory ---

TScratchCell ScratchCell(int block, int word) {
  return {(kScratchBlockWords * block + word) / kScratchGridSide, word % kScratchGridSide};
}

std::string ScratchWordText(uint16_t word) {
  return Format("%04X", word);
}

std::array<uint16_t, kScratchBlocks * kScratchBlockWords> TCompassTester::ReadScratch() {
  std::array<uint16_t, kScratchBlocks * kScratchBlockWords> words{};
  TPollingPause pause(controller_);
  for (int block = 0; block < kScratchBlocks; ++block) {
    TMemoryStream& buffer = controller_.CommandBuffer();
    buffer.SetPosition(0);
    buffer.WriteU16(uint16_t(kScratchBlockWords * block));
    buffer.WriteU16(kScratchBlockWords);
    controller_.PostCommand(kReadScratch);
    uint8_t answer[2 * kScratchBlockWords];
    LinkOf(controller_).Read(answer, int(sizeof answer));
    for (int k = 0; k < kScratchBlockWords; ++k)
      words[size_t(kScratchBlockWords * block + k)] = GetU16(&answer[2 * k]);
  }
  return words;
}

void TCompassTester::WriteScratch() {
  TPollingPause pause(controller_);
  TMemoryStream& buffer = controller_.CommandBuffer();
  buffer.SetPosition(0);
  buffer.WriteU16(kScratchWriteMarker);
  buffer.WriteU16(writeIndex_);
  buffer.WriteU16(kWriteCount);
  for (uint16_t k = 0; k < kWriteCount; ++k) buffer.WriteU16(uint16_t(writeIndex_ + k));
  controller_.PostCommand(kWriteScratch);
  writeIndex_ = uint16_t(writeIndex_ + kWriteCount);
}

void TCompassTester::ClearScratch() {
  TPollingPause pause(controller_);
  TMemoryStream& buffer = controller_.CommandBuffer();
  buffer.SetPosition(0);
  buffer.WriteU32(kScratchEraseKey);
  controller_.PostCommand(kEraseScratch);
}

TFatTestResult TCompassTester::FatTest(uint32_t ticks) {
  uint8_t answer[4];
  {
    TPollingPause pause(controller_);
    TMemoryStream& buffer = controller_.CommandBuffer();
    buffer.SetPosition(0);
    buffer.WriteU32(ticks);
    controller_.PostCommand(kFatConversion);
    LinkOf(controller_).Read(answer, int(sizeof answer));
  }
  return EvaluateFatTest(ticks, GetU16(&answer[0]), GetU16(&answer[2]));
}

// --- FAT time test ---

TDateTime FatExpectedTime(uint32_t ticks) {
  return DeviceTimeToDateTime(ticks);
}

bool DecodeFatDateTime(uint16_t date, uint16_t time, TDateTime& value) {
  const int year = date / 512 + 1980, month = (date >> 5) & 15, day = date & 31;
  const int hour = time >> 11, minute = (time >> 5) & 63, second = 2 * (time & 31);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  value = EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
  return true;
}

bool FatTimesAgree(TDateTime expected, TDateTime decoded) {
  return std::llround(std::fabs(expected - decoded) * kMsPerDay) <= 2000;
}

TFatTestResult EvaluateFatTest(uint32_t ticks, uint16_t fatDate, uint16_t fatTime) {
  TFatTestResult r;
  r.ticks = ticks;
  r.fatDate = fatDate;
  r.fatTime = fatTime;
  r.expected = FatExpectedTime(ticks);
  r.decodedValid = DecodeFatDateTime(fatDate, fatTime, r.decoded);
  r.passed = r.decodedValid && FatTimesAgree(r.expected, r.decoded);
  return r;
}

// --- attitude ---

TMat3 AttitudeMatrix(const TAttitude& a) {
  return Multiply(RotationX(a.bank * kRadPerDeg),
                  Multiply(RotationY(a.elevation * kRadPerDeg), RotationZ(a.heading * kRadPerDeg)));
}

TVec3 Apply(const TMat3& m, const TVec3& v) {
  TVec3 r{};
  for (int i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

TAttitude CanonicalAttitude(const TAttitude& a) {
  TAttitude c = a;
  if (std::cos(a.elevation * kRadPerDeg) < 0) {
    c.heading += 180;
    c.elevation = 180 - a.elevation;
    c.bank += 180;
  }
  c.heading = Wrap180(c.heading);
  c.elevation = Wrap180(c.elevation);
  c.bank = Wrap180(c.bank);
  return c;
}

TCompassCalibration ReadCompassCalibration(const TConfigBlock& block) {
  TCompassCalibration c;
  for (size_t i = 0; i < 3; ++i) {
    c.standup[i] = block.F32(cfg::kMagCalibration + 4 * i);
    c.scale[i] = block.F32(cfg::kMagScale + 4 * i);
    c.centre[i] = block.F32(cfg::kMagOffset + 4 * i);
    for (size_t j = 0; j < 3; ++j) c.matrix[i][j] = block.F32(cfg::kMagAlignment + 4 * (3 * i + j));
  }
  return c;
}

bool ReferenceField(const TCompassCalibration& c, TVec3& field) {
  TVec3 m{};
  for (int i = 0; i < 3; ++i) m[i] = (c.standup[i] - c.centre[i]) / c.scale[i];
  field = Apply(c.matrix, m);
  return Finite(field);
}

TSimulatedAttitude SimulateAttitude(TController& controller, const TAttitude& attitude) {
  TSimulatedAttitude s;
  const TCompassCalibration cal = ReadCompassCalibration(controller.ConfigBlock());
  TVec3 r{};
  s.fieldValid = ReferenceField(cal, r);
  if (s.fieldValid) {
    s.sent = Apply(AttitudeMatrix(attitude), r);
    TMat3 inverse{};
    if (Inverse(cal.matrix, inverse)) {
      TVec3 raw = Apply(inverse, s.sent);
      for (int i = 0; i < 3; ++i) raw[i] = raw[i] * cal.scale[i] + cal.centre[i];
      s.magnetometerWritten = ToRaw(raw, s.magnetometer);
    }
  }
  // Gravity as the accelerometer sees it, through the inverse of the controller's scaling.
  const TMat3 tilt =
      Multiply(RotationX(attitude.bank * kRadPerDeg), RotationY(attitude.elevation * kRadPerDeg));
  const TVec3 g = Apply(tilt, {0, 0, -1});
  TMat3 gain{}, inverse{};
  TVec3 offset{};
  if (AccelCalibration(controller, gain, offset) && Inverse(gain, inverse)) {
    const TVec3 raw = Apply(inverse, {g[0] + offset[0], g[1] + offset[1], g[2] + offset[2]});
    s.accelerometerWritten = ToRaw(raw, s.accelerometer);
  }
  for (int i = 0; i < 3; ++i) {
    if (s.magnetometerWritten) controller.SetRawValue(kMagnetometerInputs[i], s.magnetometer[i]);
    if (s.accelerometerWritten) controller.SetRawValue(kAccelInputs[i], s.accelerometer[i]);
  }
  return s;
}

bool ComputeAttitude(TController& controller, TAttitude& attitude) {
  TMat3 gain{};
  TVec3 offset{}, g{};
  if (!AccelCalibration(controller, gain, offset)) return false;
  TVec3 raw{};
  for (int i = 0; i < 3; ++i) raw[i] = controller.RawValue(kAccelInputs[i]);
  const TVec3 scaled = Apply(gain, raw);
  for (int i = 0; i < 3; ++i) g[i] = scaled[i] - offset[i];
  if (!Finite(g) || (g[0] == 0 && g[1] == 0 && g[2] == 0)) return false;
  const double elevation = std::atan2(-g[0], std::hypot(g[1], g[2]));
  const double bank = std::atan2(g[1], -g[2]);

  const TCompassCalibration cal = ReadCompassCalibration(controller.ConfigBlock());
  TVec3 r{}, m{};
  if (!ReferenceField(cal, r)) return false;
  for (int i = 0; i < 3; ++i)
    m[i] = (controller.RawValue(kMagnetometerInputs[i]) - cal.centre[i]) / cal.scale[i];
  const TVec3 u = Apply(cal.matrix, m);
  // Undo bank and elevation; what is left is the reference field turned by the heading.
  const TVec3 v = Apply(Transposed(Multiply(RotationX(bank), RotationY(elevation))), u);
  const double heading = std::atan2(v[1], v[0]) - std::atan2(r[1], r[0]);
  if (!std::isfinite(heading)) return false;
  attitude.heading = Wrap180(heading / kRadPerDeg);
  attitude.elevation = elevation / kRadPerDeg;
  attitude.bank = Wrap180(bank / kRadPerDeg);
  return true;
}

std::string FieldText(double component) {
  return FormatFixed(component, 15, 5);
}

std::string AngleText(double degrees) {
  return FormatFixed(degrees, 7, kEcuUnits[kUnitDegree].decimals) + kEcuUnits[kUnitDegree].suffix;
}

}  // namespace qvl
