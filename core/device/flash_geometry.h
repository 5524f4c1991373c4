// The logger's internal flash as its flash facts describe it: the size code of the 0x3F answer
// gives the flash size and the erase sector size.
#pragma once

#include <cstdint>

namespace qvl {

// 1 = 2 MiB, 2 = 4 MiB, 3 = 8 MiB, 4 = 32 MiB, 5 = 64 MiB; any other code: no flash (0).
constexpr uint32_t FlashSizeForCode(int code) {
  switch (code) {
    case 1:
      return 2u << 20;
    case 2:
      return 4u << 20;
    case 3:
      return 8u << 20;
    case 4:
      return 32u << 20;
    case 5:
      return 64u << 20;
    default:
      return 0;
  }
}

// Sectors are erased 4096 bytes at a time, except 262144 bytes on the 64 MiB flash.
constexpr uint32_t EraseSectorSizeForCode(int code) {
  return code == 5 ? 262144u : 4096u;
}

}  // namespace qvl
