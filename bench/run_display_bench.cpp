// Display of a selection: one hour of flash image data at 1 kHz (suspension and accelerations
// every millisecond, wheel pulses, the slower inputs at their default rates), shown with the
// default layout plus both suspension velocities (6 curves). Measured from SelectRun until every
// curve, the derived series and the events are ready. Memory: the peak heap the display adds
// beyond the loaded store, against the curves' own size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"
#include "viewer/layout_manager.h"
#include "viewer/run_display.h"

// Heap bytes in use and their peak, counted by every allocation of the program.
std::atomic<long long> gInUse{0}, gPeak{0};

void* CountedAlloc(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  long long now = gInUse += (long long)malloc_usable_size(p);
  long long peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void CountedFree(void* p) {
  if (!p) return;
  gInUse -= (long long)malloc_usable_size(p);
  std::free(p);
}

void* operator new(std::size_t n) {
  return CountedAlloc(n);
}
void* operator new[](std::size_t n) {
  return CountedAlloc(n);
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  CountedFree(p);
}

namespace {

using namespace qvl;

constexpr uint32_t kRunMs = 3600 * 1000;

// A ride: travel with bumps down to the bottom, accelerations, both wheels pulsing at a varying
// speed, the front wheel locking now and then.
std::string MakeFile() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qvl_run_display_bench.QVLog").string();
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
      // Travel grows as the count falls from 3900; full travel is about 3234 counts down.
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
    // Every five minutes the front wheel locks for four seconds.
    const bool frontLocked = ms % 300000 < 4000;
    for (int w = 0; w < 2; ++w) {
      if (w == 0 && frontLocked) continue;
      // 8 pulses per turn of 2.234 m: pulses per 10 ms.
      phase[w] += kmh / 3.6 / 2.2343059 * 8 * 0.01;
      while (phase[w] >= 1) {
        phase[w] -= 1;
        ++count[w];
        pulse[w] = uint16_t(pulse[w] + 100);
        const uint32_t at = enc.CurrentTick();
        if (w == 0)
          enc.FrontTrigger(at, count[0], int16_t(pulse[0]));
        else
          enc.RearTrigger(at, count[1], int16_t(pulse[1]));
      }
    }
  }
  enc.Finish();
  auto bytes = sim::BuildDownloadFile(controller, enc.Image(), EncodeDate(2024, 5, 1));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

const std::string& File() {
  static const std::string path = MakeFile();
  return path;
}

TStripList SixCurves() {
  TStripList strips = StripsFromLayout(DefaultLayout());
  TStrip v;
  v.main.channel = kParamFrontSuspVelocity;
  v.main.unit = kUnitMmps;
  strips.push_back(v);
  v.main.channel = kParamRearSuspVelocity;
  strips.push_back(v);
  return strips;
}

double CurveBytes(const TRunDisplay& display) {
  double bytes = 0;
  for (const TStripView& s : display.Chart().strips)
    for (const TCurveData& c : s.curves) bytes += double(c.values.size() * sizeof(float));
  return bytes;
}

double DerivedBytes(const TRunDisplay& display) {
  return double((display.FrontSpeed().size() + display.RearSpeed().size() +
                 display.FrontVelocity().size() + display.RearVelocity().size()) *
                sizeof(float));
}

void BM_DisplayOneHour(benchmark::State& state) {
  TRunDisplay display;
  OpenLogFile(display.MainSlot(), File());
  display.SetStrips(SixCurves());
  // The first display also decodes the image: the store keeps an index of every group sample.
  const long long loaded = gInUse;
  gPeak = loaded;
  display.DisplaySelection(0);
  const long long peak = gPeak;
  const double curves = CurveBytes(display), derived = DerivedBytes(display);
  const double storeIndex = double(gInUse - loaded) - curves - derived;
  for (auto _ : state) {
    display.DisplaySelection(0);
    benchmark::DoNotOptimize(display.Events(TEventKind::FrontBottoming).data());
  }
  // Beyond the store (its image and its final index): the curves, the derived series and
  // whatever the walk needs on the way, the store's own growing index included.
  const double added = double(peak - loaded) - storeIndex;
  state.counters["samples"] = double(display.SampleCount());
  state.counters["curve_MB"] = curves / 1e6;
  state.counters["derived_MB"] = derived / 1e6;
  state.counters["store_index_MB"] = storeIndex / 1e6;
  state.counters["added_MB"] = added / 1e6;
  state.counters["added_x_curves"] = added / curves;
  state.counters["bottoming"] = double(display.Events(TEventKind::FrontBottoming).size() +
                                       display.Events(TEventKind::RearBottoming).size());
  state.counters["wheel_lock"] = double(display.Events(TEventKind::FrontWheelLock).size() +
                                        display.Events(TEventKind::RearWheelLock).size());
}
BENCHMARK(BM_DisplayOneHour)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
