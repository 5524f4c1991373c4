// Flash download throughput against the link's capacity: the serial link on a pseudo-terminal
// with the simulated logger at 57600 baud (5760 bytes per second), and the simulated USB link
// adapter moving one report per millisecond each way (64000 bytes per second), with and without
// its fast transfer. Each repetition connects, lists the flash and downloads one run; only the
// download is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "core/device/controller.h"
#include "core/device/synchronizer.h"
#include "core/util/ini_file.h"
#include "sim/pty_server.h"
#include "sim/sim_hid_adapter.h"
#include "tool/flash_download.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"

namespace qvl {
namespace {

constexpr double kSerialCapacity = 5760;
constexpr double kUsbCapacity = 64000;

// Runs of 30 s: about 20 pages each.
sim::TSimOptions LoggerOptions() {
  sim::TSimOptions o;
  o.runSeconds = 30;
  return o;
}

// Connects, lists and downloads run 0 of the newest older session; returns false when the
// logger could not be reached.
bool TimedDownload(benchmark::State& state, TCommChannelPtr link, double capacity) {
  TEventLoopSynchronizer loop;
  TController controller;
  controller.SetSynchronizer(&loop);
  link->SetTimeOut(500);
  controller.SetActive(true);
  controller.SetChannel(link);
  if (!loop.RunUntil([&] { return controller.Connected(); }, 10000)) {
    state.SkipWithError("no logger");
    controller.SetChannel(nullptr);
    return false;
  }
  TIniFile settings;
  bool ok = true;
  {
    TFlashDownload engine(controller, settings);
    engine.SetViewerStarter([](const std::string&) {});
    engine.Open();
    engine.WaitForListing(60000);
    TFlashDownload::TCallbacks callbacks;
    callbacks.fileName = [](const TFlashDownload::TOutcome&) { return std::string(); };
    const auto start = std::chrono::steady_clock::now();
    const TFlashDownload::TOutcome out = engine.Download(1, 0, callbacks, false);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    const double bytes = double(out.pagesRead) * 4096;
    state.counters["bytes"] = bytes;
    state.counters["bytes_per_second"] = bytes / seconds;
    state.counters["ratio"] = bytes / seconds / capacity;
    ok = out.pagesRead > 0;
    engine.Close();
  }
  controller.SetChannel(nullptr);
  if (!ok) state.SkipWithError("nothing downloaded");
  return ok;
}

void BM_SerialDownload57600(benchmark::State& state) {
  for (auto _ : state) {
    sim::TSimOptions options = LoggerOptions();
    options.bytesPerSecond = int(kSerialCapacity);
    sim::TPtyServer server(options);
    if (!server.Start()) {
      state.SkipWithError(server.ErrorText().c_str());
      return;
    }
    std::thread serving([&] { server.Run(); });
    const bool ok = TimedDownload(state, CreateChannel("COM", server.SlavePath()), kSerialCapacity);
    server.Stop();
    serving.join();
    if (!ok) return;
  }
}
BENCHMARK(BM_SerialDownload57600)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

// Argument: the adapter's major version (2: fast transfer at the higher rate, 1: none).
void BM_UsbDownload(benchmark::State& state) {
  for (auto _ : state) {
    sim::TSimHidOptions adapterOptions;
    adapterOptions.throttle = true;
    adapterOptions.versionMajor = uint8_t(state.range(0));
    adapterOptions.versionMinor = 2;
    auto adapter = std::make_shared<sim::TSimHidAdapter>(LoggerOptions(), adapterOptions);
    auto link = std::make_shared<THIDComm>(
        sim::SimulatedHidController(adapter, kUsbVendorId, kUsbLinkProductId));
    if (!TimedDownload(state, link, kUsbCapacity)) return;
  }
}
BENCHMARK(BM_UsbDownload)
    ->Arg(2)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvl

BENCHMARK_MAIN();
