#include "viewer/run_summary.h"

#include <algorithm>
#include <cmath>

#include "core/device/ecu_types.h"

namespace qvl {
namespace {

// The analog input a travel channel is read from; -1 without a sensor.
int TravelInput(const TController& controller, int slot) {
  const TSensor* sensor = controller.FixedSensor(slot);
  return sensor ? sensor->Channel : -1;
}

bool InputLogged(const TDataLogStore& store, int input) {
  if (input < 0 || input >= kSampleChannelCount) return false;
  if (store.IsImage()) return store.ChannelGroup(input) >= 0;
  return std::find(kRecordChannels.begin(), kRecordChannels.end(), input) != kRecordChannels.end();
}

// Walks the samples of `input` that the data holds for a run (repeats and replaced records
// left out): visit(time in ms since the run's start, raw value).
template <typename TVisit>
void ForEachInputSample(TDataLogStore& store, int run, int input, TVisit visit) {
  if (!store.IsImage()) {
    TLogSample sample;
    const TLogArray& records = store.Records();
    const int64_t period = std::max<int32_t>(store.Period(), 1);
    const int32_t first = store.RunFirst(run);
    const int32_t last = std::min<int32_t>(store.RunLast(run), int32_t(records.size()) - 1);
    for (int32_t i = first; i <= last; ++i) {
      // A replaced record is a copy of the one before it, tick included.
      if (i > first && records[size_t(i)].tick == records[size_t(i) - 1].tick) continue;
      store.GetSample(i, sample);
      visit(int64_t(records[size_t(i)].tick - records[size_t(first)].tick) * period,
            sample.channels[size_t(input)]);
    }
    return;
  }
  // A flash image: the group's samples decoded by the display's walk over the run; a sample the
  // logger skipped repeats the offset of the one before it. Values are read straight from the
  // packed group data (12 bits each, value k in the little-endian word at byte 3k/2: the low
  // bits for even k, the high bits for odd k).
  const int g = store.ChannelGroup(input);
  if (g < 0 || size_t(g) >= store.GroupIndex().size()) return;
  const TGroupIndex& index = store.GroupIndex()[size_t(g)];
  const int position = store.ChannelMap()[size_t(input)].position;
  const size_t at = size_t(3 * position / 2);
  const std::vector<uint8_t>& image = store.Image();
  const int64_t period = std::max<uint32_t>(store.ChannelPeriod(input), 1);
  uint32_t previous = 0;
  for (uint64_t s = index.FirstRead(); s < index.Count(); ++s) {
    const uint32_t offset = index.Offset(s);
    if (s > index.FirstRead() && offset == previous) continue;
    previous = offset;
    if (size_t(offset) + at + 2 > image.size()) continue;
    const uint16_t word = uint16_t(image[offset + at] | image[offset + at + 1] << 8);
    visit(int64_t(s) * period, int16_t((position & 1) ? word >> 4 : word & 0x0FFF));
  }
}

float Percentile95(std::vector<float> values) {
  if (values.empty()) return 0;
  const size_t rank = size_t(std::ceil(0.95 * double(values.size())));
  const size_t k = std::clamp<size_t>(rank, 1, values.size()) - 1;
  std::nth_element(values.begin(), values.begin() + ptrdiff_t(k), values.end());
  return values[k];
}

void SummariseTravel(const TStripView& strip, TSuspensionSummary& s) {
  const std::vector<float>& travel = strip.Curve(0, 0).Values();
  if (travel.empty()) return;
  s.maxTravel = *std::max_element(travel.begin(), travel.end());
  s.p95Travel = Percentile95(travel);
}

void SummariseVelocity(const std::vector<float>& velocity, TSuspensionSummary& s) {
  double up = 0, down = 0;
  int64_t ups = 0, downs = 0;
  for (float v : velocity) {
    if (v > 0) {
      up += v;
      ++ups;
    } else if (v < 0) {
      down -= v;
      ++downs;
    }
  }
  // m/s to mm/s.
  if (ups > 0) s.compression = up / double(ups) * 1000;
  if (downs > 0) s.rebound = down / double(downs) * 1000;
}

void CountBottoming(const TEventArray& events, TSuspensionSummary& s) {
  s.bottomingSoft = int(events.size());
  s.bottomingHard =
      int(std::count_if(events.begin(), events.end(), [](const TEvent& e) { return e.flag != 0; }));
}

}  // namespace

int InputFullScale(const TDataLogStore& store, int channel) {
  if (store.IsImage()) return 4095;
  return channel == 0 || channel == 1 ? 1023 * store.ValueScale() : 1023;
}

TRunSummary SummariseRun(TRunDisplay& display, int run) {
  TFileSlot& slot = display.MainSlot();
  TStripList strips(2);
  strips[0].main.channel = kParamFrontTravel;
  strips[1].main.channel = kParamRearTravel;
  for (TStrip& s : strips) s.main.unit = kUnitPercent;
  display.SetStrips(strips);
  display.DisplaySelection(run);

  TDataLogStore& store = *slot.store;
  TRunSummary r;
  r.run = run;
  r.session = store.RunSession(run);
  r.startDate = store.RunStartDate(run);
  r.samples = display.SampleCount();
  r.notes = ParseRunNotes(store.GetRunNote(run));

  SummariseTravel(display.Chart().strips[0], r.front);
  SummariseTravel(display.Chart().strips[1], r.rear);
  SummariseVelocity(display.FrontVelocity(), r.front);
  SummariseVelocity(display.RearVelocity(), r.rear);
  CountBottoming(display.Events(TEventKind::FrontBottoming), r.front);
  CountBottoming(display.Events(TEventKind::RearBottoming), r.rear);
  r.front.wheelLocks = int(display.Events(TEventKind::FrontWheelLock).size());
  r.rear.wheelLocks = int(display.Events(TEventKind::RearWheelLock).size());

  const std::vector<float>& front = display.FrontSpeed();
  const std::vector<float>& rear = display.RearSpeed();
  const size_t steps = std::min(front.size(), rear.size());
  double sum = 0;
  for (size_t i = 0; i < steps; ++i) {
    const double v = std::max(front[i], rear[i]);
    sum += v;
    r.maxSpeed = std::max(r.maxSpeed, v);
  }
  if (steps > 0) r.averageSpeed = sum / double(steps);

  if (!store.IsImage()) {
    const TLogArray& records = store.Records();
    const int32_t last = std::min<int32_t>(store.RunLast(run), int32_t(records.size()) - 1);
    for (int32_t i = store.RunFirst(run) + 1; i <= last; ++i)
      if (records[size_t(i)].tick == records[size_t(i) - 1].tick) ++r.discarded;
  }

  const TController& controller = *slot.controller;
  const int inputs[2] = {TravelInput(controller, kSlotFrontTravel),
                         TravelInput(controller, kSlotRearTravel)};
  TSuspensionSummary* sides[2] = {&r.front, &r.rear};
  bool gapsCounted = false;
  for (int w = 0; w < 2; ++w) {
    const int input = inputs[w];
    if (!InputLogged(store, input)) continue;
    const int full = InputFullScale(store, input);
    const bool countGaps = !gapsCounted;
    gapsCounted = true;
    int64_t lastTime = 0;
    TSuspensionSummary& s = *sides[w];
    ForEachInputSample(store, run, input, [&](int64_t time, int16_t raw) {
      ++s.travelSamples;
      if (raw <= 0 || raw >= full) ++s.atLimit;
      if (countGaps && time - lastTime > 1000) ++r.gaps;
      lastTime = time;
    });
    if (countGaps && r.samples - 1 - lastTime > 1000) ++r.gaps;
  }
  return r;
}

std::vector<TRunSummary> SummariseRuns(TRunDisplay& display) {
  std::vector<TRunSummary> runs;
  const int count = display.MainSlot().store->RunCount();
  for (int run = 0; run < count; ++run) runs.push_back(SummariseRun(display, run));
  return runs;
}

}  // namespace qvl
