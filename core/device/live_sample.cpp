#include "core/device/live_sample.h"

#include "core/device/controller.h"
#include "core/util/endian.h"

namespace qvl {

void FillLiveSample(const TController& controller, TLogRecord& sample) {
  const auto& block = controller.RealtimeBlock();
  sample.frontCount = block[0];
  sample.rearCount = block[1];
  sample.frontValue = int16_t(GetU16(&block[2]));
  sample.rearValue = int16_t(GetU16(&block[4]));
  auto raw = [&](int slot, bool travel) -> int16_t {
    const TSensor* sensor = controller.FixedSensor(slot);
    if (!sensor) return int16_t(kEmptySlotValue);
    uint16_t v = uint16_t(controller.RawValue(sensor->Channel));
    return int16_t(travel ? ReduceTravel(v) : v);
  };
  sample.values[0] = raw(kSlotFrontTravel, true);
  sample.values[1] = raw(kSlotRearTravel, true);
  sample.values[2] = raw(kSlotXAccel, false);
  sample.values[3] = raw(kSlotYAccel, false);
  sample.values[4] = raw(kSlotZAccel, false);
  sample.spare = raw(kSlotBattery, false);
}

std::vector<uint8_t> EncodeLiveSamples(const TLogArray& samples) {
  std::vector<uint8_t> bytes(samples.size() * kLogRecordSize);
  for (size_t i = 0; i < samples.size(); ++i)
    EncodeLogRecord(samples[i], &bytes[i * kLogRecordSize]);
  return bytes;
}

TLogArray DecodeLiveSamples(const uint8_t* bytes, size_t size) {
  TLogArray samples(size / kLogRecordSize);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = DecodeLogRecord(bytes + i * kLogRecordSize);
  return samples;
}

void TDataLogDynArray::Start(TClock::time_point origin) {
  samples_.clear();
  origin_ = origin;
}

void TDataLogDynArray::Clear() {
  samples_.clear();
}

void TDataLogDynArray::Append(const TController& controller, TClock::time_point at) {
  TLogRecord sample;
  FillLiveSample(controller, sample);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - origin_).count();
  if (ms < 0) ms = 0;
  sample.tick = int32_t((ms + 50) / 100);
  samples_.push_back(sample);
}

}  // namespace qvl
