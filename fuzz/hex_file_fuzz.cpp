// Firmware files: any text, split into lines, either parses into rows or fails with a line
// index; it never reads outside the line or writes outside a row.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/util/exceptions.h"
#include "tool/hex_code_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += char(data[i]);
    }
  }
  lines.push_back(line);
  qvl::Tp33CodeRows rows;
  try {
    rows.Parse(lines);
    for (const auto& row : rows.Rows) (void)qvl::CodeRowBytes(row);
  } catch (const qvl::EFormatError&) {
  }
  return 0;
}
