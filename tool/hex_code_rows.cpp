#include "tool/hex_code_rows.h"

#include <fstream>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `at`; false when any is not a digit.
bool Hex(const std::string& line, size_t at, size_t digits, uint32_t& value) {
  if (at + digits > line.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = HexDigit(line[at + i]);
    if (d < 0) return false;
    value = value * 16 + uint32_t(d);
  }
  return true;
}

}  // namespace

int Tp33CodeRows::FindRow(int number) const {
  auto it = index_.find(uint32_t(number));
  return it == index_.end() ? -1 : int(it->second);
}

TCodeRow& Tp33CodeRows::RowFor(uint32_t rowNumber) {
  auto it = index_.find(rowNumber);
  if (it != index_.end()) return Rows[it->second];
  index_[rowNumber] = Rows.size();
  Rows.push_back(ErasedRow(uint16_t(rowNumber)));
  return Rows.back();
}

void Tp33CodeRows::Parse(const std::vector<std::string>& lines) {
  Rows.clear();
  index_.clear();
  Ranges.clear();
  uint32_t extended = 0;
  for (LineNo = 0; LineNo < int32_t(lines.size()); ++LineNo) {
    std::string line = lines[size_t(LineNo)];
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) break;
    const EFormatError bad("Line " + std::to_string(LineNo));
    uint32_t count, address, type;
    if (line.size() <= 10 || line[0] != ':' || !Hex(line, 1, 2, count) ||
        !Hex(line, 3, 4, address) || !Hex(line, 7, 2, type))
      throw bad;
    if (line.size() != 2 * count + 11 || count % 2 != 0) throw bad;
    address /= 2;  // byte address -> word address
    if (type == 0) {
      if (Ranges.empty()) Ranges.push_back({extended, -1, -1});
      for (uint32_t k = 0; k < count / 2; ++k) {
        uint32_t lo, hi;
        if (!Hex(line, 9 + 4 * k, 2, lo) || !Hex(line, 11 + 4 * k, 2, hi)) throw bad;
        uint32_t wordAddress = extended + address + k;
        uint32_t rowNumber = wordAddress / kWordsPerRow;
        // Row numbers are 16 bits wide in the bootloader's view of program memory.
        if (rowNumber > 0xFFFF) throw bad;
        RowFor(rowNumber).words[wordAddress % kWordsPerRow] = uint16_t(lo | (hi << 8));
        TExtendedRange& r = Ranges.back();
        if (r.firstRow < 0 || int(rowNumber) < r.firstRow) r.firstRow = int(rowNumber);
        if (int(rowNumber) > r.lastRow) r.lastRow = int(rowNumber);
      }
    } else if (type == 1) {
      break;
    } else if (type == 4) {
      uint32_t upper;
      if (count < 2 || !Hex(line, 9, 4, upper)) throw bad;
      extended = upper * 32768;
      Ranges.push_back({extended, -1, -1});
    } else {
      throw bad;
    }
  }
  Erased.assign(Rows.size(), false);
}

void Tp33CodeRows::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EFileError("Cannot open file \"" + fileName + "\"");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  Parse(lines);
}

}  // namespace qvl
