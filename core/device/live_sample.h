// The live samples the tool records from each poll and hands to a viewer: the 22-byte sample
// record, filled from the last real-time block and the analog inputs.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/device/log_record.h"

namespace qvl {

class TController;

// Message identifiers of the live channel.
constexpr uint32_t kLiveConfigMessage = 27190;   // a complete configuration stream
constexpr uint32_t kLiveSamplesMessage = 31316;  // N x 22-byte live samples, oldest first

constexpr uint16_t kEmptySlotValue = 0xFFFF;

// A 12-bit travel reading reduced to 10 bits: (v shr 2) or ((v shr 1) and 1).
constexpr uint16_t ReduceTravel(uint16_t v) {
  return uint16_t((v >> 2) | ((v >> 1) & 1));
}

// Fills everything but the time: pulse counters and times from the last real-time block, then
// the raw values of the inputs of fixed slots 3, 4, 0, 1, 2 and 5 (0xFFFF for an empty slot),
// the two travel values reduced to 10 bits.
void FillLiveSample(const TController& controller, TLogRecord& sample);

std::vector<uint8_t> EncodeLiveSamples(const TLogArray& samples);
// Takes (byte count div 22) samples.
TLogArray DecodeLiveSamples(const uint8_t* bytes, size_t size);

// The tool's recording of live samples, with the time origin their times count from.
class TDataLogDynArray {
 public:
  using TClock = std::chrono::steady_clock;

  // Starts a new recording now: clears the samples and sets the time origin.
  void Start(TClock::time_point origin = TClock::now());
  void Clear();
  // Appends a sample of the controller's current values, timed in tenths of a second since
  // the origin (milliseconds / 100, rounded).
  void Append(const TController& controller, TClock::time_point at = TClock::now());
  void Append(const TLogRecord& sample) { samples_.push_back(sample); }

  const TLogArray& Samples() const { return samples_; }
  size_t Count() const { return samples_.size(); }
  TClock::time_point Origin() const { return origin_; }

 private:
  TLogArray samples_;
  TClock::time_point origin_ = TClock::now();
};

}  // namespace qvl
