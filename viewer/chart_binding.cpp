#include "viewer/chart_binding.h"

#include <algorithm>

#include "viewer/qt_text.h"
#include "viewer/stripchart/strip_chart.h"

namespace qvl {
namespace {

// The chart samples each 1 ms of the selection; its x unit is the second.
constexpr double kSecondsPerSample = 0.001;

void FillBand(TStripChannel& band, const TStripView& strip, float height, bool autoscale) {
  band.SetTitle(Cp1252ToQString(strip.title));
  band.SetWeight(height > 0 ? height : 1.0f);
  const double top = strip.inverted ? strip.rangeMin : strip.rangeMax;
  const double bottom = strip.inverted ? strip.rangeMax : strip.rangeMin;
  band.SetDefaultScale(top, bottom);
  const int perSlot = std::max(strip.curvesPerSlot, 1);
  const int slotCount = int(strip.curves.size()) / perSlot;
  for (int slot = 0; slot < slotCount; ++slot)
    for (int c = 0; c < perSlot; ++c) {
      const bool first = slot == 0 && c == 0;
      TStripPlot* plot = first ? band.Plots(0) : band.AddPlot();
      const TCurveData& curve = strip.Curve(slot, c);
      // The chart draws the display's own series: no copy.
      if (curve.period > 0) plot->SetValues(curve.series, curve.period / 1000.0);
      plot->SetColour(curve.colour);
      if (first) plot->SetRange(0, top, bottom);  // the axis every curve of the band shares
    }
  if (autoscale) band.Autoscale(false, strip.inverted);
  TChannelHighlights highlights;
  for (const THighlightSpan& h : strip.highlights)
    highlights.push_back(THighlight{h.first, h.last, h.colour, h.second});
  band.SetHighlights(highlights);
}

}  // namespace

double ShowRunDisplay(TKelStripChart& chart, const TRunDisplay& display,
                      const TChartBindingOptions& options) {
  const TChartView& view = display.Chart();
  const TStripList& strips = display.Strips();
  chart.BeginUpdate();
  chart.ClearChannels();
  chart.ClearBookmarks();
  chart.SetSampleInterval(kSecondsPerSample);
  for (size_t i = 0; i < view.strips.size(); ++i)
    FillBand(*chart.AddChannel(), view.strips[i], i < strips.size() ? strips[i].height : 1.0f,
             options.autoscale);
  for (const TTimeMarkView& m : view.marks)
    chart.AddBookmark(m.colour, Cp1252ToQString(m.label), m.seconds);
  chart.EndUpdate();
  // The whole selection across the plot's width.
  const double seconds = std::max(double(view.sampleCount) * kSecondsPerSample, kSecondsPerSample);
  chart.SetXScale(seconds / std::max(chart.PlotRect().width(), 1));
  chart.SetXStartPixel(0);
  return seconds;
}

}  // namespace qvl
