// Opening a one-hour ride in the viewer's main window (offscreen): one hour of flash image data
// at 1 kHz (suspension and accelerations every millisecond, wheel pulses, the slower inputs at
// their default rates), from the start of opening the file until the chart is painted with the
// default layout and the events are listed. Memory: the peak resident size the open adds to the
// window's own, against the file's size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/logdata/log_file.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"
#include "viewer/forms/view_log_form.h"
#include "viewer/stripchart/strip_chart.h"

namespace {

using namespace qvl;

constexpr uint32_t kRunMs = 3600 * 1000;

// A ride: travel with bumps down to the bottom, accelerations, both wheels pulsing at a varying
// speed, the front wheel locking now and then.
std::string MakeFile() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qvl_viewer_open_bench.QVLog").string();
  TController controller;
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 1000);
  b.SetU16(cfg::kFrontZero, 3900);
  b.SetU16(cfg::kRearZero, 3900);
  controller.SetConfigBlock(b);
  TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  const uint32_t start = enc.BeginSession(1000, 700000000u);
  auto source = [&](int g, uint32_t tick, uint16_t* values, int n) {
    const double t = double(tick - start) / 1000;
    for (int k = 0; k < n; ++k) {
      int ch = groups[size_t(g)].channels[size_t(k)];
      double v = 2048;
      if (ch <= 1) v = 3850 - 2900 * std::fabs(std::sin(t * (0.7 + ch))) - 300 * std::sin(t * 31);
      if (ch >= 18 && ch <= 20) v = 2048 + 200 * std::sin(t * (7 + ch));
      values[k] = uint16_t(std::lround(v)) & 0x0FFF;
    }
  };
  uint8_t count[2] = {0, 0};
  uint16_t pulse[2] = {0, 0};
  double phase[2] = {0, 0};
  for (uint32_t ms = 0; ms < kRunMs; ms += 10) {
    enc.AdvanceTo(start + ms + 10, source);
    const double kmh = 25 + 15 * std::sin(double(ms) / 20000);
    const bool frontLocked = ms % 300000 < 4000;
    for (int w = 0; w < 2; ++w) {
      if (w == 0 && frontLocked) continue;
      phase[w] += kmh / 3.6 / 2.2343059 * 8 * 0.01;
      while (phase[w] >= 1) {
        phase[w] -= 1;
        ++count[w];
        pulse[w] = uint16_t(pulse[w] + 100);
        if (w == 0)
          enc.FrontTrigger(enc.CurrentTick(), count[0], int16_t(pulse[0]));
        else
          enc.RearTrigger(enc.CurrentTick(), count[1], int16_t(pulse[1]));
      }
    }
  }
  enc.Finish();
  auto bytes = sim::BuildDownloadFile(controller, enc.Image(), EncodeDate(2024, 5, 1));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
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

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_OpenOneHour(benchmark::State& state) {
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
    const long long before = StatusKb("VmRSS:");
    ResetPeak();
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
  state.counters["peak_added_MB"] = peakAdded / 1e6;
  state.counters["peak_x_file"] = peakAdded / fileBytes;
  state.counters["events"] = double(events);
  state.counters["strips"] = window.Chart()->ChannelCount();
}
BENCHMARK(BM_OpenOneHour)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
