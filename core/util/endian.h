// Little-endian loads and stores on raw bytes. Every multi-byte number in the suite's files,
// on its links and in its inter-program messages is little-endian.
#pragma once

#include <cstdint>
#include <cstring>

namespace qvl {

inline uint16_t GetU16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline int16_t GetI16(const uint8_t* p) {
  return int16_t(GetU16(p));
}
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) {
  return int32_t(GetU32(p));
}
inline uint64_t GetU64(const uint8_t* p) {
  return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
inline float GetF32(const uint8_t* p) {
  uint32_t u = GetU32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
inline double GetF64(const uint8_t* p) {
  uint64_t u = GetU64(p);
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutI16(uint8_t* p, int16_t v) {
  PutU16(p, uint16_t(v));
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void PutI32(uint8_t* p, int32_t v) {
  PutU32(p, uint32_t(v));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}
inline void PutF32(uint8_t* p, float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  PutU32(p, u);
}
inline void PutF64(uint8_t* p, double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  PutU64(p, u);
}

}  // namespace qvl
