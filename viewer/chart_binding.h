// A run display drawn in the strip chart: one band per strip with the curves of every file slot
// (the overlays in their own colours), the event highlights, the time marks and the whole
// selection across the plot's width.
#pragma once

#include "viewer/run_display.h"

namespace qvl {

class TKelStripChart;

struct TChartBindingOptions {
  // Each band spans the data of its curves instead of its channel's display range.
  bool autoscale = false;
};

// Replaces the chart's bands and bookmarks with what `display` shows. A band's first curve is
// the main file's strip channel; slot k's curve c is the band's plot k * curvesPerSlot + c, all
// on the band's one axis. Travel drawn upside down has top and bottom swapped. Returns the
// seconds of the selection, which the x scale fits into the plot's width.
double ShowRunDisplay(TKelStripChart& chart, const TRunDisplay& display,
                      const TChartBindingOptions& options = {});

}  // namespace qvl
