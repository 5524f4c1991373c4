// Opening a one-hour ride in the viewer's main window (offscreen): one hour of flash image data
// at 1 kHz (suspension and accelerations every millisecond, wheel pulses, the slower inputs at
// their default rates), from the start of opening the file until the chart is painted with the
// default layout and the events are listed. BM_OpenOneHour times the opens as a viewer that has
// shown a file before makes them; BM_OpenOneHourPeak measures the peak resident size each open
// adds to the window's own, against the file's size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/ride_files.h"
#include "viewer/forms/view_log_form.h"
#include "viewer/stripchart/strip_chart.h"

namespace {

using namespace qvl;

std::string MakeFile() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qvl_viewer_open_bench.QVLog").string();
  sim::WriteRideDownloadFile(path, sim::OneHourRide());
  return path;
}

// Peak and current resident size of the process in bytes (VmHWM, VmRSS).
long long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key)) * 1024;
  return 0;
}

// Hands the heap's free pages back to the system and starts the peak over from the current
// resident size. Without the first step every open after the first reuses the pages the one
// before it freed, and its peak shows only a fraction of what an open needs.
void ResetPeak() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}

// Opens the file again and again in one window, each time from an empty window. With
// `measurePeak` each open starts from a trimmed heap and its peak resident size is measured; its
// time then includes touching every page afresh, which on a virtual machine can cost as much as
// the open itself. Without it the opens reuse the pages of the one before, as a viewer that has
// shown a file before does.
void OpenOneHour(benchmark::State& state, bool measurePeak) {
  static const std::string file = MakeFile();
  const double fileBytes = double(std::filesystem::file_size(file));
  const std::string settings =
      (std::filesystem::temp_directory_path() / "qvl_viewer_open_bench.ini").string();
  std::filesystem::remove(settings);
  TViewerOptions options;
  options.settingsFile = settings;
  options.showMessage = [](const QString& text, bool) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  };
  TfrmViewLog window(options);
  window.resize(1280, 800);
  window.show();
  QApplication::processEvents();
  const QString path = QString::fromStdString(file);
  double peakAdded = 0;
  size_t events = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // Each open starts from an empty window.
    window.Display().MainSlot().store.reset();
    QApplication::processEvents();
    if (measurePeak) ResetPeak();
    const long long before = StatusKb("VmRSS:");
    state.ResumeTiming();
    if (!window.OpenFile(path)) state.SkipWithError("the file did not open");
    window.Chart()->repaint();  // the chart painted
    QApplication::processEvents();
    state.PauseTiming();
    peakAdded = std::max(peakAdded, double(StatusKb("VmHWM:") - before));
    events = 0;
    for (int k = 0; k < 4; ++k) events += window.Display().Events(TEventKind(k)).size();
    state.ResumeTiming();
  }
  state.counters["file_MB"] = fileBytes / 1e6;
  if (measurePeak) {
    state.counters["peak_added_MB"] = peakAdded / 1e6;
    state.counters["peak_x_file"] = peakAdded / fileBytes;
  }
  state.counters["events"] = double(events);
  state.counters["strips"] = window.Chart()->ChannelCount();
}

void BM_OpenOneHour(benchmark::State& state) {
  OpenOneHour(state, false);
}
BENCHMARK(BM_OpenOneHour)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();

void BM_OpenOneHourPeak(benchmark::State& state) {
  OpenOneHour(state, true);
}
BENCHMARK(BM_OpenOneHourPeak)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // One heap for every thread, so that the trim before each open hands back what the open's
  // worker thread freed as well (a thread's own heap keeps its pages, and the next open's peak
  // would not count them).
  if (!getenv("QVL_BENCH_DEFAULT_ARENAS")) mallopt(M_ARENA_MAX, 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
