// Display of a selection: one hour of flash image data at 1 kHz (suspension and accelerations
// every millisecond, wheel pulses, the slower inputs at their default rates), shown with the
// default layout plus both suspension velocities (6 curves). Measured from SelectRun until every
// curve, the derived series and the events are ready. Memory: the peak heap the display adds
// beyond the loaded store, against the curves' own size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "sim/ride_files.h"
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

std::string MakeFile() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qvl_run_display_bench.QVLog").string();
  sim::WriteRideDownloadFile(path, sim::OneHourRide());
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
    for (const TCurveData& c : s.curves) bytes += double(c.Values().size() * sizeof(float));
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
