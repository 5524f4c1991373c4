// The chart's time text: hours, minutes and seconds ("0m05.0s", "1h02m"), as under the strip
// chart's time axis, for labels and dialogs that show chart times.
#pragma once

#include <string>

namespace qvl {

// `seconds` with `decimals` decimals of seconds; decimals -1 shows hours and minutes only,
// -2 hours and minutes only when they are not zero. Hours appear only when not zero.
std::string FormatChartTime(double seconds, int decimals);

}  // namespace qvl
