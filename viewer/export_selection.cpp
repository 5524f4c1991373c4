#include "viewer/export_selection.h"

#include <algorithm>

#include "viewer/run_display.h"

namespace qvl {
namespace {

TExportRequest StripsOf(const TRunDisplay& display, const TExportChoice& choice) {
  TExportRequest r;
  const TChartView& chart = display.Chart();
  for (size_t i = 0; i < chart.strips.size(); ++i) {
    const TStripView& v = chart.strips[i];
    const TCurveData& curve = v.Curve(0, 0);
    const int smoothing = i < display.Strips().size() ? display.Strips()[i].main.smoothing : 0;
    r.strips.push_back(
        TExportStrip{v.title, &curve.Values(), double(curve.period), v.decimals, smoothing});
  }
  r.selected = choice.selected;
  r.allStrips = choice.allStrips;
  r.sampleCount = display.SampleCount();
  const int64_t last = std::max<int64_t>(display.SampleCount() - 1, 0);
  r.visibleFirst = std::clamp<int64_t>(choice.visibleFirst, 0, last);
  r.visibleLast = std::clamp<int64_t>(choice.visibleLast, r.visibleFirst, last);
  return r;
}

}  // namespace

TExportLabels ExportLabelsOf(const TRunDisplay& display, const TExportChoice& choice) {
  const TExportRequest r = StripsOf(display, choice);
  const int step = ExportGridStep(r);
  const TDataLogStore& store = *display.MainSlot().store;
  TExportLabels l;
  if (display.Range().Empty()) return l;
  l.wholeRange = ExportWholeRangeLabel(store, display.Range(), step);
  l.visiblePart =
      ExportVisiblePartLabel(store, display.Range(), r.visibleFirst, r.visibleLast, step);
  return l;
}

TExportRequest ExportRequestOf(const TRunDisplay& display, const TExportChoice& choice) {
  TExportRequest r = StripsOf(display, choice);
  r.visiblePart = choice.visiblePart;
  const TExportLabels labels = ExportLabelsOf(display, choice);
  r.title = choice.visiblePart ? labels.visiblePart : labels.wholeRange;
  return r;
}

}  // namespace qvl
