// A row of the logger's program memory as its bootloader handles it: 64 instructions of 24
// bits kept as 128 16-bit words (even words the low 16 bits, odd words the upper 8 bits), sent
// and read back as 192 bytes (an even word as 2 bytes little-endian, an odd word as its low byte).
#pragma once

#include <array>
#include <cstdint>

namespace qvl {

constexpr int kWordsPerRow = 128;
constexpr int kRowDataBytes = 192;

struct TCodeRow {
  uint16_t number = 0;
  std::array<uint16_t, kWordsPerRow> words{};
};

// Erased program memory: even words 0xFFFF, odd words 0x00FF.
inline TCodeRow ErasedRow(uint16_t number) {
  TCodeRow row;
  row.number = number;
  for (int k = 0; k < kWordsPerRow; ++k) row.words[size_t(k)] = k % 2 == 0 ? 0xFFFF : 0x00FF;
  return row;
}

inline std::array<uint8_t, kRowDataBytes> CodeRowBytes(const TCodeRow& row) {
  std::array<uint8_t, kRowDataBytes> bytes{};
  size_t at = 0;
  for (int k = 0; k < kWordsPerRow; ++k) {
    uint16_t w = row.words[size_t(k)];
    bytes[at++] = uint8_t(w);
    if (k % 2 == 0) bytes[at++] = uint8_t(w >> 8);
  }
  return bytes;
}

inline TCodeRow CodeRowFromBytes(uint16_t number, const uint8_t* bytes) {
  TCodeRow row;
  row.number = number;
  size_t at = 0;
  for (int k = 0; k < kWordsPerRow; ++k) {
    uint16_t w = bytes[at++];
    if (k % 2 == 0) w = uint16_t(w | (bytes[at++] << 8));
    row.words[size_t(k)] = w;
  }
  return row;
}

}  // namespace qvl
