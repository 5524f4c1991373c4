// Program memory rows parsed from an Intel HEX firmware file.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/device/code_row.h"

namespace qvl {

// One extended linear address section of the file and the rows its data touched.
struct TExtendedRange {
  uint32_t wordBase = 0;  // the extended address in words
  int firstRow = -1;
  int lastRow = -1;
};

struct Tp33CodeRows {
  int32_t LineNo = 0;          // the line being parsed, from 0
  std::vector<TCodeRow> Rows;  // in the order the file first touches them
  int32_t Family = 0;          // the bootloader's family digit
  std::vector<bool> Erased;    // per row: erased during this programming pass
  std::vector<TExtendedRange> Ranges;

  // Parses the lines of a HEX file; EFormatError "Line <index>" for a malformed line.
  void Parse(const std::vector<std::string>& lines);
  void LoadFromFile(const std::string& fileName);
  int FindRow(int number) const;

 private:
  TCodeRow& RowFor(uint32_t rowNumber);
  std::unordered_map<uint32_t, size_t> index_;
};

}  // namespace qvl
