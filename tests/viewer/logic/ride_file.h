// Download files of a simulated ride in the logger's flash encoding, for the viewer's suites:
// suspension and accelerations at 1 kHz, travel bumping down to the bottom now and then, both
// wheels pulsing, the front wheel locking every 20 s, a time mark in the first run and
// optionally a custom channel ("Brake", bar) on input 2 at 100 Hz.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"

namespace qvl::testing {

struct TRideFile {
  int sessions = 1;
  int runsPerSession = 2;
  int runSeconds = 30;
  bool customChannel = true;
};

inline std::string WriteRideFile(const std::string& name, const TRideFile& ride = {}) {
  TController controller;
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 1000);
  b.SetU16(cfg::kFrontZero, 3900);
  b.SetU16(cfg::kRearZero, 3900);
  controller.SetConfigBlock(b);
  if (ride.customChannel) {
    TSensors custom;
    auto sensor = CreateSensor(&controller, "Custom", 2, 0);
    sensor->Tag = 10000;  // 10 ms
    sensor->SetDisplayName("Brake");
    sensor->SetUnitsText("bar");
    custom.push_back(std::move(sensor));
    controller.SetCustomSensors(std::move(custom));
  }
  TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  uint32_t runStart = 0;
  auto source = [&](int g, uint32_t tick, uint16_t* values, int n) {
    const double t = double(tick - runStart) / 1000;
    for (int k = 0; k < n; ++k) {
      const int ch = groups[size_t(g)].channels[size_t(k)];
      double v = 2048;
      if (ch <= 1) v = 3850 - 2900 * std::fabs(std::sin(t * (0.7 + ch))) - 300 * std::sin(t * 31);
      if (ch >= 18 && ch <= 20) v = 2048 + 200 * std::sin(t * (7 + ch));
      if (ch == 2) v = 1000 + 500 * std::sin(t);
      values[k] = uint16_t(std::lround(v)) & 0x0FFF;
    }
  };
  uint8_t count[2] = {0, 0};
  uint16_t pulse[2] = {0, 0};
  uint32_t tick = 1000;
  for (int s = 0; s < ride.sessions; ++s)
    for (int r = 0; r < ride.runsPerSession; ++r) {
      const uint32_t deviceTime = 700000000u + tick / 1000;
      runStart = r == 0 ? enc.BeginSession(tick, deviceTime) : enc.BeginRun(tick, deviceTime);
      double phase[2] = {0, 0};
      const uint32_t ms = uint32_t(ride.runSeconds) * 1000;
      for (uint32_t at = 0; at < ms; at += 10) {
        enc.AdvanceTo(runStart + at + 10, source);
        if (s == 0 && r == 0 && at == 5000) enc.TimeMark(enc.CurrentTick());
        const double kmh = 25 + 15 * std::sin(double(at) / 20000);
        const bool frontLocked = at % 20000 > 10000 && at % 20000 < 11500;
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
      tick = runStart + ms + 60000;
    }
  enc.Finish();
  auto bytes = sim::BuildDownloadFile(controller, enc.Image(), EncodeDate(2024, 5, 1));
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  TFileStream f(path, TFileStream::Create);
  f.WriteBuffer(bytes.data(), bytes.size());
  return path;
}

// A file of 22-byte sample records (1 ms apart) with several sessions of several runs: runs 3 s
// apart, sessions 1100 s apart; travel, accelerations and both wheels as in the ride above.
inline std::string WriteRecordRideFile(const std::string& name, const TRideFile& ride) {
  TController controller;
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 1000);
  controller.SetConfigBlock(b);
  TLogArray records;
  int32_t tick = 1000;
  uint8_t count[2] = {0, 0};
  for (int s = 0; s < ride.sessions; ++s) {
    for (int r = 0; r < ride.runsPerSession; ++r) {
      for (int32_t at = 0; at < ride.runSeconds * 1000; ++at) {
        TLogRecord rec;
        rec.tick = tick + at;
        const double t = at / 1000.0;
        rec.values[0] = int16_t(std::lround(600 + 350 * std::fabs(std::sin(t * 0.7))));
        rec.values[1] = int16_t(std::lround(600 + 350 * std::fabs(std::sin(t * 1.7))));
        for (int k = 2; k < 5; ++k)
          rec.values[size_t(k)] = int16_t(std::lround(512 + 50 * std::sin(t * (5 + k))));
        if (at % 40 == 0) ++count[1];
        if (at % 40 == 0 && !(at % 8000 > 5000 && at % 8000 < 6000)) ++count[0];
        rec.frontCount = count[0];
        rec.rearCount = count[1];
        rec.frontValue = int16_t(uint16_t(count[0] * 400));
        rec.rearValue = int16_t(uint16_t(count[1] * 400));
        records.push_back(rec);
      }
      tick += ride.runSeconds * 1000 + 3000;
    }
    tick += 1100000;
  }
  TDataLogStore store;
  store.SetPeriod(1);
  store.SetRecords(std::move(records));
  TLogFileInfo info;
  info.version = kSavedLogVersion;
  info.syncs.resize(size_t(store.RunCount()));
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove(path);
  std::filesystem::remove(std::filesystem::path(path).replace_extension(".qvlbak"));
  SaveLogFile(path, controller, store, info);
  return path;
}

}  // namespace qvl::testing
