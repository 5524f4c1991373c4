#include "tool/ecu_info.h"

namespace qvl {

std::string ToolDateTimeText(TDateTime value) {
  return FormatDateTime(kToolDateTimeFormat, value);
}

std::vector<std::string> EcuInfoLines(const std::string& identification,
                                      const std::string& portName, TDateTime configTimestamp) {
  std::vector<std::string> lines{identification + " on " + portName + "\r\r"};
  if (configTimestamp != 0) {
    lines.push_back("QVL configuration/adjustments were last written on");
    lines.push_back(ToolDateTimeText(configTimestamp) + "\r");
  }
  lines.push_back("");
  return lines;
}

}  // namespace qvl
