// Helpers of the log data suites: a configuration, sample values, files made with the simulated
// logger's encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "sim/flash_image_encoder.h"

namespace qvl::testing {

// The sample value the tests record for a channel at a tick (12 bits).
inline uint16_t ValueOf(int channel, uint32_t tick) {
  return uint16_t((channel * 131 + tick * 7) & 0x0FFF);
}

inline sim::TSampleSource Source(const TDataLogGroups& groups) {
  return [groups](int g, uint32_t tick, uint16_t* values, int n) {
    for (int j = 0; j < n; ++j) values[j] = ValueOf(groups[size_t(g)].channels[size_t(j)], tick);
  };
}

inline TDataLogGroup Group(uint32_t period, std::vector<int16_t> channels) {
  TDataLogGroup g;
  g.period = period;
  g.count = int16_t(channels.size());
  for (size_t i = 0; i < channels.size(); ++i) g.channels[i] = channels[i];
  return g;
}

// Reads a whole log file held in memory.
inline void ReadBytes(const std::vector<uint8_t>& bytes, TController& controller,
                      TDataLogStore& store, TLogFileInfo& info) {
  TMemoryStream s(bytes);
  ReadLogFile(s, controller, store, info);
}

// A store holding a flash image read through a data section, with the given groups.
inline void LoadImage(TDataLogStore& store, const TDataLogGroups& groups,
                      const std::vector<uint8_t>& image) {
  store.SetGroups(groups);
  TMemoryStream s(sim::BuildDataSection(kTagFlashImage, 1, image, 45000.5));
  store.ReadData(s);
}

inline TLogRecord Record(int32_t tick, int16_t v0 = 0) {
  TLogRecord r;
  r.tick = tick;
  r.values = {v0, int16_t(v0 + 1), 2, 3, 4};
  return r;
}

// Records at the given ticks (values follow the index).
inline TLogArray RecordsAt(const std::vector<int32_t>& ticks) {
  TLogArray out;
  for (size_t i = 0; i < ticks.size(); ++i) out.push_back(Record(ticks[i], int16_t(i)));
  return out;
}

// Ticks from `from` on, `count` of them, one apart.
inline void AppendTicks(std::vector<int32_t>& ticks, int32_t from, int count) {
  for (int i = 0; i < count; ++i) ticks.push_back(from + i);
}

}  // namespace qvl::testing
