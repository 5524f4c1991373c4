// What the hardware information window says, without widgets: which logger is connected on
// which link, and when its configuration was last written.
#pragma once

#include <string>
#include <vector>

#include "core/util/date_time.h"

namespace qvl {

// How the tool's windows show a date and time.
inline constexpr const char kToolDateTimeFormat[] = "yyyy-mm-dd hh:nn:ss";

std::string ToolDateTimeText(TDateTime value);

// The memo's lines: the identification, " on " and the port name followed by "\r\r"; when the
// configuration timestamp is set, "QVL configuration/adjustments were last written on" and the
// date and time followed by "\r"; then an empty line.
std::vector<std::string> EcuInfoLines(const std::string& identification,
                                      const std::string& portName, TDateTime configTimestamp);

}  // namespace qvl
