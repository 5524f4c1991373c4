// Helpers of the viewer logic suites: a controller with simple travel sensors and a store made of
// 22-byte sample records (one per millisecond unless told otherwise).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "viewer/run_display.h"

namespace qvl::testing {

// Travel sensors read 0.1 mm per count from raw 0 (front travel 0.2 m = 2000 counts, rear 0.08 m
// = 800 counts); the configuration counts as the logger's own.
inline std::unique_ptr<TController> MakeController(int32_t suspensionUs = 2000,
                                                   int32_t accelUs = 5000) {
  auto c = std::make_unique<TController>();
  TConfigBlock b = c->ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, suspensionUs);
  b.SetI32(cfg::kAccelPeriod, accelUs);
  c->SetConfigBlock(b);
  for (int slot : {kSlotFrontTravel, kSlotRearTravel})
    static_cast<TProportionalSensor*>(c->FixedSensor(slot))->SetupQuiet(0, 4000, 0.4f);
  c->SetConfigInSync(true);
  return c;
}

// Fills one record for tick t (travel on channels 0 and 1, accelerations 18-20, wheel triggers).
using TRecordMaker = std::function<void(int32_t t, TLogRecord& r)>;

inline std::unique_ptr<TDataLogStore> MakeStore(const std::vector<int32_t>& ticks,
                                                const TRecordMaker& make, int32_t period = 1) {
  TLogArray records;
  records.reserve(ticks.size());
  for (int32_t t : ticks) {
    TLogRecord r;
    r.tick = t;
    make(t, r);
    records.push_back(r);
  }
  auto store = std::make_unique<TDataLogStore>();
  store->SetPeriod(period);
  store->SetRecords(std::move(records));
  return store;
}

inline std::vector<int32_t> Ticks(int32_t from, int32_t count) {
  std::vector<int32_t> t;
  for (int32_t i = 0; i < count; ++i) t.push_back(from + i);
  return t;
}

inline TStrip StripOf(int channel, int unit, int smoothing = 0) {
  TStrip s;
  s.main.channel = uint8_t(channel);
  s.main.unit = uint8_t(unit);
  s.main.smoothing = smoothing;
  return s;
}

}  // namespace qvl::testing
