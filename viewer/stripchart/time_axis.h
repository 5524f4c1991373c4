// The time axis of the strip chart: the grid step chosen for the current horizontal scale and
// the texts written under the plot at every step.
#pragma once

#include <string>

namespace qvl {

struct TTimeAxisStep {
  double Step = 1;   // seconds between two grid lines
  int Decimals = 0;  // label decimals; -1: hours and minutes, -2: hours and minutes when non-zero
};

// The step of the time grid for a scale of `pixelsPerUnit` pixels per second: a rounded value
// near the time that 100 pixels span (whole seconds and minutes from 20 s to one hour, a
// 1-2-5 series of seconds below and of hours above), with the label decimals that suit it.
TTimeAxisStep TimeAxisStep(double pixelsPerUnit);

// Label decimals for a grid step in seconds.
int TimeLabelDecimals(double step);

// The label of time `seconds` with `decimals` decimals: "0m05.0s", "1h02m", "2h" ...
// Hours appear when non-zero, minutes unless decimals is -2 and they are zero, seconds only
// for decimals >= 0. A negative time is written as its magnitude behind a minus sign.
std::string FormatTimeLabel(double seconds, int decimals);

}  // namespace qvl
