// Reading a 64 MiB download file into the store and walking run 0 tick by tick, as the viewer does
// when it shows a run. The file: suspension (2 channels) and accelerations (3 channels) at 1 kHz,
// inputs 21-23 at 100 Hz, the magnetometer at 50 Hz and one custom channel at 100 Hz, with wheel
// pulses (trigger records) and a few time marks, made by the simulated logger's encoder in a child
// process so that its memory does not count. Memory: the peak resident size of this process
// during one read and walk (VmHWM, reset before each repetition), against the file's size.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"

namespace {

using namespace qvl;

constexpr size_t kFileImageSize = 64u << 20;

void Configure(TController& controller) {
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 1000);
  b.SetI32(cfg::kAuxPeriod, 10000);
  b.SetI32(cfg::kMagPeriod, 20000);
  controller.SetConfigBlock(b);
  TSensors custom;
  custom.push_back(CreateSensor(&controller, "Potentiometer", 2, 0));
  custom.back()->Tag = 10000;  // 100 Hz
  custom.back()->Name = "Potentiometer\\Bar\\mm";
  controller.SetCustomSensors(std::move(custom));
}

void WriteFile(const std::string& path) {
  TController controller;
  Configure(controller);
  const TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  const uint32_t start = enc.BeginSession(1000, 700000000u);
  auto source = [&](int g, uint32_t tick, uint16_t* v, int n) {
    const double t = (tick - start) / 1000.0;
    for (int j = 0; j < n; ++j) {
      const int c = groups[size_t(g)].channels[size_t(j)];
      v[j] = uint16_t(2048 + 1500 * std::sin(t * (1 + c) * 0.7) + ((tick * 31 + c) & 63));
    }
  };
  uint8_t front = 0, rear = 0;
  uint32_t t = start;
  // A page is 4096 bytes: stop once the pages written reach the size.
  while (enc.Image().size() + kFlashPageSize <= kFileImageSize) {
    t += 45 + (t % 11);
    enc.AdvanceTo(t, source);
    enc.BothTriggers(t, ++front, rear += (t % 3 == 0), int16_t(t & 0x7FFF), int16_t(t >> 3));
    if (t % 60000 < 50) enc.TimeMark(t);
  }
  enc.Finish();
  std::vector<uint8_t> image = enc.TakeImage();
  image.resize(kFileImageSize, 0xFF);
  SaveDownloadFile(path, controller, image.data(), image.size(), 45000.5);
}

const std::string& FilePath() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "qvl_log_store_bench.QVLog").string();
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(p, ec);
    if (ec || size < kFileImageSize) {
      const pid_t child = fork();
      if (child == 0) {
        try {
          WriteFile(p);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "cannot write %s: %s\n", p.c_str(), e.what());
          _exit(1);
        }
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the child writing %s failed (status %d)\n", p.c_str(), status);
        std::exit(1);
      }
    }
    return p;
  }();
  return path;
}

long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, n, key) == 0) return std::stol(line.substr(n + 1));
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return bool(clear.flush());
}

int64_t Walk(TDataLogStore& store) {
  store.SelectRun(0);
  TLogSample sample;
  const int64_t n = int64_t(store.RunLast(0)) - store.RunFirst(0) + 1;
  int64_t fresh = 0;
  for (int64_t t = 0; t < n; ++t) fresh += store.ReadNext(t, sample);
  benchmark::DoNotOptimize(sample);
  return fresh;
}

void SetMemoryCounters(benchmark::State& state, long baseKiB) {
  const double fileMiB = double(std::filesystem::file_size(FilePath())) / (1 << 20);
  const double peakMiB = StatusKiB("VmHWM:") / 1024.0;
  state.counters["file_MiB"] = fileMiB;
  state.counters["peak_rss_MiB"] = peakMiB;
  state.counters["added_MiB"] = peakMiB - baseKiB / 1024.0;
  state.counters["peak_per_file"] = peakMiB / fileMiB;
}

// The target: the whole file read and run 0 walked.
void BM_ReadAndWalk(benchmark::State& state) {
  const std::string& path = FilePath();
  const long base = StatusKiB("VmRSS:");
  if (!ResetPeak()) state.SkipWithError("cannot reset the peak resident size");
  int64_t ms = 0;
  for (auto _ : state) {
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    LoadLogFile(path, controller, store, info);
    Walk(store);
    ms = store.RunLast(0);
  }
  state.counters["run_ms"] = double(ms);
  SetMemoryCounters(state, base);
}
BENCHMARK(BM_ReadAndWalk)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);

void BM_ReadFile(benchmark::State& state) {
  const std::string& path = FilePath();
  for (auto _ : state) {
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    LoadLogFile(path, controller, store, info);
    benchmark::DoNotOptimize(store.RunLast(0));
  }
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);

void BM_WalkRun0(benchmark::State& state) {
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  LoadLogFile(FilePath(), controller, store, info);
  int64_t fresh = 0;
  for (auto _ : state) fresh = Walk(store);
  state.counters["positions"] = double(store.RunLast(0) + 1);
  state.counters["with_data"] = double(fresh);
}
BENCHMARK(BM_WalkRun0)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);

}  // namespace

BENCHMARK_MAIN();
