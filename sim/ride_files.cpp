#include "sim/ride_files.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"

namespace qvl::sim {

namespace {

// Suspension and accelerations sampled every millisecond.
void OneKilohertz(TController& controller, bool travelZeros) {
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 1000);
  if (travelZeros) {
    b.SetU16(cfg::kFrontZero, 3900);
    b.SetU16(cfg::kRearZero, 3900);
  }
  controller.SetConfigBlock(b);
}

void AddBrakeChannel(TController& controller) {
  TSensors custom;
  auto sensor = CreateSensor(&controller, "Custom", 2, 0);
  sensor->Tag = 10000;  // 10 ms
  sensor->SetDisplayName("Brake");
  sensor->SetUnitsText("bar");
  custom.push_back(std::move(sensor));
  controller.SetCustomSensors(std::move(custom));
}

}  // namespace

TSimRide OneHourRide() {
  TSimRide ride;
  ride.runsPerSession = 1;
  ride.runSeconds = 3600;
  ride.customChannel = false;
  ride.frontLock = {300000, 0, 4000};
  ride.timeMarkMs.reset();
  return ride;
}

std::vector<uint8_t> RideDownloadFile(const TSimRide& ride) {
  TController controller;
  OneKilohertz(controller, true);
  if (ride.customChannel) AddBrakeChannel(controller);
  TDataLogGroups groups = BuildDataLogGroups(controller);
  TFlashImageEncoder enc(groups);
  uint32_t runStart = 0;
  auto source = [&](int g, uint32_t tick, uint16_t* values, int n) {
    const double t = double(tick - runStart) / 1000;
    for (int k = 0; k < n; ++k) {
      const int ch = groups[size_t(g)].channels[size_t(k)];
      double v = 2048;
      // Travel grows as the count falls from 3900; full travel is about 3234 counts down.
      if (ch <= 1) v = 3850 - 2900 * std::fabs(std::sin(t * (0.7 + ch))) - 300 * std::sin(t * 31);
      if (ch >= 18 && ch <= 20) v = 2048 + 200 * std::sin(t * (7 + ch));
      if (ch == 2) v = 1000 + 500 * std::sin(t);
      // An ADC reads 0..4095: a fork topping out reads the top count, never a wrapped one.
      values[k] = uint16_t(std::clamp<long>(std::lround(v), 0, 4095));
    }
  };
  uint8_t count[2] = {0, 0};
  uint32_t tick = 1000;
  const uint32_t ms = uint32_t(ride.runSeconds) * 1000;
  for (int s = 0; s < ride.sessions; ++s)
    for (int r = 0; r < ride.runsPerSession; ++r) {
      const uint32_t deviceTime = 700000000u + tick / 1000;
      runStart = r == 0 ? enc.BeginSession(tick, deviceTime) : enc.BeginRun(tick, deviceTime);
      double phase[2] = {0, 0};
      for (uint32_t at = 0; at < ms; at += 10) {
        enc.AdvanceTo(runStart + at + 10, source);
        if (s == 0 && r == 0 && at == ride.timeMarkMs) enc.TimeMark(enc.CurrentTick());
        const double kmh = 25 + 15 * std::sin(double(at) / 20000);
        for (int w = 0; w < 2; ++w) {
          if (w == 0 && ride.frontLock.Locked(at)) continue;
          // 8 pulses per turn of 2.234 m: pulses per 10 ms.
          const double perStep = kmh / 3.6 / 2.2343059 * 8 * 0.01;
          phase[w] += perStep;
          while (phase[w] >= 1) {
            phase[w] -= 1;
            ++count[w];
            // The logger's 100 us timer at the moment of the pulse, which lies phase / perStep
            // of the 10 ms just recorded before its end: the speed is pulses over that time.
            const double pulseMs = double(enc.CurrentTick()) - phase[w] / perStep * 10;
            const auto pulse = int16_t(uint16_t(uint64_t(std::llround(pulseMs * 10))));
            if (w == 0)
              enc.FrontTrigger(enc.CurrentTick(), count[0], pulse);
            else
              enc.RearTrigger(enc.CurrentTick(), count[1], pulse);
          }
        }
      }
      tick = runStart + ms + 60000;
    }
  enc.Finish();
  return BuildDownloadFile(controller, enc.Image(), EncodeDate(2024, 5, 1));
}

void WriteRideDownloadFile(const std::string& path, const TSimRide& ride) {
  const std::vector<uint8_t> bytes = RideDownloadFile(ride);
  TFileStream f(path, TFileStream::Create);
  f.WriteBuffer(bytes.data(), bytes.size());
}

void WriteRideRecordFile(const std::string& path, const TSimRide& ride) {
  TController controller;
  OneKilohertz(controller, false);
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
        if (at % 40 == 0 && !ride.frontLock.Locked(uint32_t(at))) ++count[0];
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
  std::filesystem::remove(path);
  std::filesystem::remove(std::filesystem::path(path).replace_extension(".qvlbak"));
  SaveLogFile(path, controller, store, info);
}

}  // namespace qvl::sim
