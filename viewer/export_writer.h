// Export of the chart's curves as tab-separated text: a title line, the strip titles, the
// smoothing of each strip, then one line per step of a common time grid with each exported
// strip's main curve resampled to the nearest value. Lines end with CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

class TDataLogStore;
struct TSelectionRange;

// One strip of the chart as the export sees it.
struct TExportStrip {
  std::string title;
  const std::vector<float>* values = nullptr;  // the strip's main curve
  double period = 0;                           // ms between its values; 0: not logged
  int decimals = 0;                            // display decimals of the strip
  int smoothing = 0;                           // smoothing window in ms
};

struct TExportRequest {
  std::vector<TExportStrip> strips;  // every strip, in chart order
  int selected = 0;                  // the strip the dialog was opened on
  bool allStrips = false;            // "All viewed data" instead of "Selected data"
  bool visiblePart = false;          // "Part currently in display" instead of the whole range
  int64_t sampleCount = 0;           // chart samples of the displayed selection
  int64_t visibleFirst = 0, visibleLast = 0;  // chart samples at the plot's left and right edges
  std::string title;                          // the title line (the label of the chosen range)
};

// The grid step in ms: the selected strip's main curve period, or with all strips the smallest
// of their periods, rounded to an integer; curves that are not logged do not count, and 1 when
// no curve has a period.
int ExportGridStep(const TExportRequest& request);
// Decimals of the time column: 1 above 99 ms, 2 above 9 ms, else 3.
int ExportTimeDecimals(int gridStep);
// A field as written: enclosed in double quotes (inner ones doubled) when it holds a blank, a
// TAB, a double quote or any other control character.
std::string QuoteExportField(const std::string& field);

// The whole file's text.
std::string BuildExportText(const TExportRequest& request);
// Writes the text to a temporary file in the same folder and renames it to `fileName`, so that a
// failure never leaves part of a file under that name. Raises EFileError.
void WriteExportFile(const std::string& fileName, const TExportRequest& request);

// The dialog's labels. The whole range: "Session %d/%d, run %d/%d, %d data samples" when the
// selection is one run, else "Session %d/%d, %d runs, %d data samples"; sample count / step.
std::string ExportWholeRangeLabel(const TDataLogStore& store, const TSelectionRange& range,
                                  int gridStep);
// The visible part: "%s to %s, %d data samples" with the times at the plot's edges (within the
// run for one run, within the session across runs) and (right - left) / step + 1.
std::string ExportVisiblePartLabel(const TDataLogStore& store, const TSelectionRange& range,
                                   int64_t visibleFirst, int64_t visibleLast, int gridStep);

}  // namespace qvl
