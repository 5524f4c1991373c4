// One line of an Intel HEX file with its byte count, address, type and checksum, for the
// firmware suites' test images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/util/number_format.h"

namespace qvl::test {

inline std::string HexLine(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::string s = Format(":%02X%04X%02X", unsigned(data.size()), unsigned(address), unsigned(type));
  unsigned sum = unsigned(data.size()) + (address >> 8) + (address & 0xFF) + type;
  for (uint8_t b : data) {
    s += Format("%02X", unsigned(b));
    sum += b;
  }
  return s + Format("%02X", (0x100 - (sum & 0xFF)) & 0xFF);
}

}  // namespace qvl::test
