// What the compass test window does, without widgets: the logger's scratch memory read,
// written and erased; the logger's clock-to-FAT conversion checked against the expected time;
// and the attitude self-test, which turns three angles into simulated magnetometer and
// accelerometer readings in the controller and computes the attitude back from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/device/config_block.h"
#include "core/util/date_time.h"

namespace qvl {

class TController;

// --- scratch memory ---

constexpr int kScratchGridSide = 16;
constexpr int kScratchBlockWords = 64;
constexpr int kScratchBlocks = 4;
constexpr uint16_t kScratchWriteMarker = 0xB66F;
constexpr uint32_t kScratchEraseKey = 0x47D2C3B5;

struct TScratchCell {
  int row = 0, column = 0;
};
// Where word k of block b goes in the 16 x 16 grid.
TScratchCell ScratchCell(int block, int word);
// A word as four hexadecimal digits.
std::string ScratchWordText(uint16_t word);

// --- FAT time test ---

struct TFatTestResult {
  uint32_t ticks = 0;
  uint16_t fatDate = 0, fatTime = 0;
  TDateTime expected = 0;
  bool decodedValid = false;  // the words hold a real date and time
  TDateTime decoded = 0;
  bool passed = false;  // decoded and expected at most 2 s apart
};

// 1 January 2000 00:00 + ticks x 1.024 s.
TDateTime FatExpectedTime(uint32_t ticks);
// Year = date div 512 + 1980, month = (date shr 5) and 15, day = date and 31; hours = time shr
// 11, minutes = (time shr 5) and 63, seconds = 2 x (time and 31). False when a field is out of
// its range (month 0 or 13, day 0 or past the month, hour 24, minute or second 60).
bool DecodeFatDateTime(uint16_t date, uint16_t time, TDateTime& value);
// At most 2 seconds apart (to the millisecond).
bool FatTimesAgree(TDateTime expected, TDateTime decoded);
TFatTestResult EvaluateFatTest(uint32_t ticks, uint16_t fatDate, uint16_t fatTime);

// --- logger exchanges, each with polling paused ---

class TCompassTester {
 public:
  explicit TCompassTester(TController& controller) : controller_(controller) {}

  // Four 0x43 requests of 64 words.
  std::array<uint16_t, kScratchBlocks * kScratchBlockWords> ReadScratch();
  // 0x45 with the marker, the write index, the count 4 and the words index .. index + 3; the
  // index then grows by 4.
  void WriteScratch();
  uint16_t WriteIndex() const { return writeIndex_; }
  // 0x44 with the erase key.
  void ClearScratch();
  // 0x12 with the tick count; the logger answers the FAT date and time words.
  TFatTestResult FatTest(uint32_t ticks);

 private:
  TController& controller_;
  uint16_t writeIndex_ = 0;
};

// --- attitude self-test ---

using TVec3 = std::array<double, 3>;
using TMat3 = std::array<TVec3, 3>;

// Heading, elevation and bank in degrees.
struct TAttitude {
  double heading = 0, elevation = 0, bank = 0;
};

// T = Rx(bank) . (Ry(elevation) . Rz(heading)).
TMat3 AttitudeMatrix(const TAttitude& attitude);
TVec3 Apply(const TMat3& m, const TVec3& v);
// The same orientation with the elevation in -90 .. 90 and heading and bank in -180 .. 180
// (an elevation past the vertical is the opposite heading and bank).
TAttitude CanonicalAttitude(const TAttitude& attitude);

// The compass calibration of the configuration: the magnetometer reading of the "Normal
// standup position", the centre, the scales and the matrix.
struct TCompassCalibration {
  TVec3 standup{}, centre{}, scale{};
  TMat3 matrix{};
};
TCompassCalibration ReadCompassCalibration(const TConfigBlock& block);
// r = M . ((B - c) / s); false when it has no finite value (scales not calibrated).
bool ReferenceField(const TCompassCalibration& calibration, TVec3& field);

struct TSimulatedAttitude {
  bool fieldValid = false;  // the reference field could be computed
  TVec3 sent{};             // T . r
  bool magnetometerWritten = false;
  std::array<int16_t, 3> magnetometer{};  // raw inputs 24, 25, 26
  bool accelerometerWritten = false;
  std::array<int16_t, 3> accelerometer{};  // raw inputs 18, 19, 20
};
// Turns the angles into the field T . r and writes the magnetometer (M^-1 . T . r) x s + c and
// the accelerometer G^-1 . (Rx . Ry . (0, 0, -1) + O) into the controller's raw inputs, rounded.
// A part whose calibration cannot be inverted is not written.
TSimulatedAttitude SimulateAttitude(TController& controller, const TAttitude& attitude);

// The attitude from the controller's current inputs: elevation and bank from the calibrated
// accelerometer, heading from the calibrated magnetometer turned back by elevation and bank,
// measured from the reference field's direction. False without a usable calibration.
bool ComputeAttitude(TController& controller, TAttitude& attitude);

// Texts: a field component with 5 decimals, an angle with the degree unit's suffix.
std::string FieldText(double component);
std::string AngleText(double degrees);

}  // namespace qvl
