// The 342-byte configuration block and the 16-byte logging control block of the logger, with
// typed access to their fields. Both are kept byte for byte as the logger and the files hold
// them; fields nobody interprets are written back unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "core/util/endian.h"

namespace qvl {

constexpr size_t kConfigBlockSize = 342;
constexpr size_t kLogControlSize = 16;

// Offsets into the configuration block.
namespace cfg {
constexpr size_t kFrontPulses = 0;             // u8 front wheel pulses per turn
constexpr size_t kRearPulses = 1;              // u8
constexpr size_t kFrontCircumference = 2;      // f32 metres
constexpr size_t kRearCircumference = 6;       // f32 metres
constexpr size_t kConstant1 = 10;              // f32 0.0254
constexpr size_t kConstant2 = 14;              // f32 0.0254
constexpr size_t kFrontTravel = 18;            // f32 metres
constexpr size_t kRearTravel = 22;             // f32 metres
constexpr size_t kFrontZero = 26;              // u16 raw counts
constexpr size_t kRearZero = 28;               // u16 raw counts
constexpr size_t kAccelCalibration = 30;       // f32 [6][3]
constexpr size_t kHeldArea = 102;              // 72 bytes kept as they are
constexpr size_t kMagCalibration = 174;        // f32 [6][3]
constexpr size_t kFrontElectricalSpan = 246;   // f32 metres
constexpr size_t kRearElectricalSpan = 250;    // f32 metres
constexpr size_t kFrontMechanicalRange = 254;  // f32 metres
constexpr size_t kRearMechanicalRange = 258;   // f32 metres
constexpr size_t kSuspensionPeriod = 262;      // i32 µs, 0 = not logged
constexpr size_t kAccelPeriod = 266;           // i32 µs, 0 = not logged
constexpr size_t kAuxPeriod = 270;             // i32 µs, inputs 21 to 23
constexpr size_t kMagPeriod = 274;             // i32 µs, 0 = not logged
constexpr size_t kMagScale = 278;              // f32 [3]
constexpr size_t kMagOffset = 290;             // f32 [3]
constexpr size_t kMagAlignment = 302;          // f32 [3][3]
constexpr size_t kDataRate = 338;              // i32 bytes per second
}  // namespace cfg

// Offsets into the logging control block.
namespace logctl {
constexpr size_t kMode = 0;    // u8 mode flags
constexpr size_t kWord2 = 2;   // u16
constexpr size_t kPeriod = 4;  // u32; the common sample period in µs in old configurations
constexpr size_t kTail = 8;    // eight bytes
}  // namespace logctl

template <size_t N>
struct TByteBlock {
  std::array<uint8_t, N> bytes{};

  uint8_t U8(size_t at) const { return bytes[at]; }
  uint16_t U16(size_t at) const { return GetU16(&bytes[at]); }
  int32_t I32(size_t at) const { return GetI32(&bytes[at]); }
  uint32_t U32(size_t at) const { return GetU32(&bytes[at]); }
  float F32(size_t at) const { return GetF32(&bytes[at]); }
  void SetU8(size_t at, uint8_t v) { bytes[at] = v; }
  void SetU16(size_t at, uint16_t v) { PutU16(&bytes[at], v); }
  void SetI32(size_t at, int32_t v) { PutI32(&bytes[at], v); }
  void SetU32(size_t at, uint32_t v) { PutU32(&bytes[at], v); }
  void SetF32(size_t at, float v) { PutF32(&bytes[at], v); }

  bool operator==(const TByteBlock& other) const { return bytes == other.bytes; }
  bool operator!=(const TByteBlock& other) const { return bytes != other.bytes; }
};

using TConfigBlock = TByteBlock<kConfigBlockSize>;
using TLogControlBlock = TByteBlock<kLogControlSize>;

// The configuration block of a new controller (data rate field 0).
TConfigBlock DefaultConfigBlock();
// The logging control block's defaults: mode 0, 100, 20000, then 3000, 500, 50, 50.
TLogControlBlock DefaultLogControlBlock();

}  // namespace qvl
