// What the export dialog hands to the export writer: every strip of the displayed selection with
// its main curve as the chart holds it, the strip chosen, and the range with its title line.
#pragma once

#include <cstdint>
#include <string>

#include "viewer/export_writer.h"

namespace qvl {

class TRunDisplay;

struct TExportChoice {
  int selected = 0;                           // the strip the dialog was opened on
  bool allStrips = false;                     // "All viewed data"
  bool visiblePart = false;                   // "Part currently in display"
  int64_t visibleFirst = 0, visibleLast = 0;  // chart samples at the plot's left and right edges
};

// The request for the main file's curves of `display`. The title line is the whole range label,
// or with the visible part that part's label; the visible edges are kept inside the data.
TExportRequest ExportRequestOf(const TRunDisplay& display, const TExportChoice& choice);

// The dialog's two range labels for a choice (the sample counts follow the grid step of the
// strips the choice exports).
struct TExportLabels {
  std::string wholeRange, visiblePart;
};
TExportLabels ExportLabelsOf(const TRunDisplay& display, const TExportChoice& choice);

}  // namespace qvl
