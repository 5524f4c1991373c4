// Strip chart with a long ride: a 1920 x 1080 chart with 8 curves of an hour at 1 kHz
// (3.6 million samples each), drawn on the offscreen platform.
//
//   strip_chart_bench [--benchmark_filter=...]
//
// Each benchmark times single operations and reports, besides Google Benchmark's own mean,
// the median and 95th percentile of one repaint (median_ms, p95_ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "viewer/stripchart/strip_chart.h"

namespace qvl {
namespace {

constexpr int kCurves = 8;
constexpr std::size_t kSamples = 3600000;

std::vector<float> RideSignal(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 1.5f);
  std::uniform_real_distribution<float> bump(0, 1);
  std::vector<float> v(n);
  float level = 40;
  for (std::size_t i = 0; i < n; ++i) {
    float t = float(i) * 0.001f;
    level += 0.02f * (40 - level) + noise(rng) * 0.3f;
    float x = level + 15 * std::sin(t * 1.7f + float(seed)) + 5 * std::sin(t * 23.0f) + noise(rng);
    if (bump(rng) < 0.0002f) x += 45;  // a hit
    v[i] = std::clamp(x, 0.0f, 100.0f);
  }
  return v;
}

const std::vector<std::vector<float>>& Signals() {
  static std::vector<std::vector<float>> all = [] {
    std::vector<std::vector<float>> s;
    for (int c = 0; c < kCurves; ++c) s.push_back(RideSignal(kSamples, unsigned(c + 1)));
    return s;
  }();
  return all;
}

class TChartHolder {
 public:
  TChartHolder() {
    chart = std::make_unique<TKelStripChart>();
    chart->resize(1920, 1080);
    chart->BeginUpdate();
    chart->SetSampleInterval(0.001);
    for (int c = 0; c < kCurves; ++c) {
      TStripChannel* band = chart->AddChannel();
      band->SetTitle(QStringLiteral("Channel %1").arg(c + 1));
      band->Plots(0)->SetRange(0, 100, 0);
      band->Plots(0)->SetColour(c % 2 ? 0x00FFFF : 0x00FF00);
    }
    chart->AddCursor();
    chart->Channels(0)->ShowCursorButtons(true, 0);
    chart->EndUpdate();
    chart->show();
    for (int i = 0; i < 500 && !(chart->windowHandle() && chart->windowHandle()->isExposed()); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  void Fill() {
    chart->BeginUpdate();
    for (int c = 0; c < kCurves; ++c)
      chart->Channels(c)->Plots(0)->SetValues(Signals()[std::size_t(c)], 0.001);
    chart->EndUpdate();
  }
  std::unique_ptr<TKelStripChart> chart;
};

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t k = std::size_t(std::round(q * double(v.size() - 1)));
  return v[k];
}

void Report(benchmark::State& state, const std::vector<double>& ms) {
  state.counters["median_ms"] = Percentile(ms, 0.5);
  state.counters["p95_ms"] = Percentile(ms, 0.95);
}

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Setting the values of all eight curves, which builds their min/max pyramids.
void BM_SetValues(benchmark::State& state) {
  TChartHolder holder;
  Signals();
  std::vector<double> ms;
  for (auto _ : state) {
    auto a = Clock::now();
    holder.Fill();
    auto b = Clock::now();
    ms.push_back(Millis(a, b));
    state.SetIterationTime(Millis(a, b) / 1000);
  }
  Report(state, ms);
  std::size_t pyramid = 0;
  for (int c = 0; c < kCurves; ++c)
    pyramid += holder.chart->Channels(c)->Plots(0)->Pyramid().MemoryBytes();
  state.counters["pyramid_pct"] = 100.0 * double(pyramid) / double(kCurves * kSamples * 4);
}
BENCHMARK(BM_SetValues)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The pixel columns of one curve of an hour across 1785 pixels, from its pyramid alone.
void BM_ColumnsFullExtent(benchmark::State& state) {
  const std::vector<float>& v = Signals()[0];
  TMinMaxPyramid pyramid;
  pyramid.Build(v.data(), v.size());
  TKscYAxis axis;
  axis.SetRange(0, 100, 0);
  TSampleMapping mapping;
  mapping.Count = v.size();
  mapping.PixelsPerSample = 1785.0 / double(v.size());
  TYPixArray columns;
  for (auto _ : state) {
    ComputeColumns(pyramid, mapping, axis, 125, 0, 1785, columns);
    benchmark::DoNotOptimize(columns.data());
  }
}
BENCHMARK(BM_ColumnsFullExtent)->Unit(benchmark::kMicrosecond);

// A full repaint of the whole chart with the given seconds across the plot (0: full extent).
// The scale moves by a hair before each repaint, so that every curve's pixel columns are
// computed anew from the pyramids each time (no cached columns).
void RepaintAt(benchmark::State& state, double secondsAcross) {
  TChartHolder holder;
  holder.Fill();
  TKelStripChart& chart = *holder.chart;
  if (secondsAcross > 0) {
    chart.SetXScale(secondsAcross / chart.PlotRect().width());
    chart.ScrollTo(chart.XToPixel(1234.5), true);
  } else {
    chart.ShowFullExtent();
  }
  chart.repaint();
  const double scale = chart.XScale();
  std::vector<double> ms;
  int k = 0;
  for (auto _ : state) {
    auto a = Clock::now();
    chart.SetXScale(scale * (1 + 1e-9 * (++k % 2)));
    chart.InvalidateAll();
    chart.repaint();
    auto b = Clock::now();
    ms.push_back(Millis(a, b));
    state.SetIterationTime(Millis(a, b) / 1000);
  }
  Report(state, ms);
}

void BM_RepaintFullExtent(benchmark::State& state) {
  RepaintAt(state, 0);
}
BENCHMARK(BM_RepaintFullExtent)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

void BM_Repaint10s(benchmark::State& state) {
  RepaintAt(state, 10);
}
BENCHMARK(BM_Repaint10s)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

// Panning: 500 scroll steps of the scroll bar's arrow (a twentieth of the width each), each
// followed by a repaint; at 10 s across and at 5 minutes across.
void Pan(benchmark::State& state, double secondsAcross) {
  TChartHolder holder;
  holder.Fill();
  TKelStripChart& chart = *holder.chart;
  chart.SetXScale(secondsAcross / chart.PlotRect().width());
  chart.ScrollTo(0, true);
  chart.Cursors(0)->SetPosition(500);
  chart.repaint();
  std::vector<double> ms;
  for (auto _ : state) {
    for (int step = 0; step < 500; ++step) {
      auto a = Clock::now();
      // Forward and back in blocks of 100 steps, so the view stays within the hour.
      chart.ScrollBar()->triggerAction((step / 100) % 2 == 0
                                           ? QAbstractSlider::SliderSingleStepAdd
                                           : QAbstractSlider::SliderSingleStepSub);
      chart.repaint();
      auto b = Clock::now();
      ms.push_back(Millis(a, b));
    }
    state.SetIterationTime(std::accumulate(ms.end() - 500, ms.end(), 0.0) / 1000);
  }
  Report(state, ms);
}

void BM_Pan10s(benchmark::State& state) {
  Pan(state, 10);
}
BENCHMARK(BM_Pan10s)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Pan5min(benchmark::State& state) {
  Pan(state, 300);
}
BENCHMARK(BM_Pan5min)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace qvl

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
