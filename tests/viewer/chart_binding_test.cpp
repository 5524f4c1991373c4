// A run display drawn in the strip chart: every file slot's curves reach the bands, travel drawn
// upside down has its scale turned over, and the chart shares the display's series.
#include "viewer/chart_binding.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/viewer/logic/viewer_test_util.h"
#include "viewer/stripchart/strip_chart.h"

namespace qvl {
namespace {

using testing::MakeController;
using testing::MakeStore;
using testing::StripOf;
using testing::Ticks;

void EnsureApp() {
  static int argc = 1;
  static char name[] = "qvl_viewer_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  new QApplication(argc, argv);
}

TEST(ChartBindingTest, EverySlotsCurvesAndInvertedTravel) {
  EnsureApp();
  TRunDisplay display;
  display.MainSlot().controller = MakeController();
  display.MainSlot().store =
      MakeStore(Ticks(0, 12000), [](int32_t, TLogRecord& r) { r.values[0] = 100; });
  TStrip travel = StripOf(kParamFrontTravel, kUnitMm);
  travel.superposed.push_back(StripOf(kParamRearTravel, kUnitMm).main);
  travel.height = 2;
  display.SetStrips({travel, StripOf(kParamFrontSpeed, kUnitKmh)});
  TAnalysisSettings settings;
  settings.invertedSuspension = 1;
  display.SetSettings(settings);
  auto overlay = std::make_unique<TFileSlot>();
  overlay->controller = MakeController(4000);
  overlay->store = MakeStore(Ticks(0, 15000), [](int32_t, TLogRecord& r) {
    r.values[0] = 300;
    r.values[1] = 50;
  });
  ASSERT_EQ(display.AddSlot(std::move(overlay)), 1);
  display.DisplaySelection(0);
  display.DisplayOverlay(1);

  TKelStripChart chart;
  chart.resize(800, 500);
  const double seconds = ShowRunDisplay(chart, display);
  EXPECT_DOUBLE_EQ(seconds, display.SampleCount() / 1000.0);
  ASSERT_EQ(chart.ChannelCount(), 2);
  TStripChannel& band = *chart.Channels(0);
  EXPECT_FLOAT_EQ(band.Weight(), 2.0f);
  // Main file's two curves, then the overlay's two, each with its slot's values and colour.
  const TStripView& strip = display.Chart().strips[0];
  ASSERT_EQ(band.PlotCount(), 4);
  for (int slot = 0; slot < 2; ++slot)
    for (int c = 0; c < 2; ++c) {
      const TCurveData& curve = strip.Curve(slot, c);
      const TStripPlot& plot = *band.Plots(slot * 2 + c);
      ASSERT_FALSE(curve.Values().empty()) << slot << c;
      EXPECT_EQ(plot.Values(), curve.Values()) << slot << c;
      EXPECT_DOUBLE_EQ(plot.UnitsPerSample(), curve.period / 1000.0) << slot << c;
      EXPECT_EQ(plot.Pen().color(), ColorToQColor(curve.colour)) << slot << c;
    }
  EXPECT_FLOAT_EQ(band.Plots(2)->Values()[0], 30.0f);  // the overlay's own front travel
  EXPECT_NE(band.Plots(2)->Pen().color(), band.Plots(0)->Pen().color());
  // Upside-down travel: its display range runs from the top down; the speed stays upright.
  ASSERT_LT(strip.rangeMin, strip.rangeMax);
  EXPECT_EQ(band.DefaultTop(), strip.rangeMin);
  EXPECT_EQ(band.DefaultBottom(), strip.rangeMax);
  EXPECT_EQ(band.Plots(0)->Axis().Top(), strip.rangeMin);
  EXPECT_EQ(band.Plots(0)->Axis().Bottom(), strip.rangeMax);
  const TStripView& speed = display.Chart().strips[1];
  EXPECT_EQ(chart.Channels(1)->DefaultTop(), speed.rangeMax);
  EXPECT_EQ(chart.Channels(1)->DefaultBottom(), speed.rangeMin);
}

// The chart draws the display's own series. Smoothing one of two strips of the same channel
// changes that strip only, and the chart keeps what it was given until it is bound again.
TEST(ChartBindingTest, SharedCurvesStayAsTheyWereGiven) {
  EnsureApp();
  TRunDisplay display;
  display.MainSlot().controller = MakeController();
  display.MainSlot().store = MakeStore(Ticks(0, 12000), [](int32_t t, TLogRecord& r) {
    r.values[0] = int16_t((t / 100) % 2 ? 1500 : 100);  // a square wave
  });
  TStripList strips = {StripOf(kParamFrontTravel, kUnitMm), StripOf(kParamFrontTravel, kUnitMm)};
  display.SetStrips(strips);
  display.DisplaySelection(0);
  TKelStripChart chart;
  chart.resize(800, 500);
  ShowRunDisplay(chart, display);
  const std::vector<float>& drawn = chart.Channels(1)->Plots(0)->Values();
  EXPECT_EQ(&drawn, &display.Chart().strips[1].Curve(0, 0).Values());  // no copy
  const std::vector<float> raw = drawn;
  ASSERT_FALSE(raw.empty());
  ASSERT_EQ(chart.Channels(0)->Plots(0)->Values(), raw);

  strips[0].main.smoothing = 200;
  display.SetStrips(strips);
  display.DisplaySelection(0);
  EXPECT_EQ(display.Chart().strips[1].Curve(0, 0).Values(), raw);
  const std::vector<float>& smoothed = display.Chart().strips[0].Curve(0, 0).Values();
  ASSERT_EQ(smoothed.size(), raw.size());
  EXPECT_NE(smoothed, raw);
  EXPECT_EQ(chart.Channels(0)->Plots(0)->Values(), raw);  // not bound again yet
  EXPECT_EQ(chart.Channels(1)->Plots(0)->Values(), raw);
  ShowRunDisplay(chart, display);
  EXPECT_EQ(chart.Channels(0)->Plots(0)->Values(), smoothed);
  EXPECT_EQ(chart.Channels(1)->Plots(0)->Values(), raw);
}

}  // namespace
}  // namespace qvl
