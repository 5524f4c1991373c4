#include "viewer/run_display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "core/device/ecu_types.h"
#include "core/util/date_time.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "viewer/stripchart/time_axis.h"
#include "viewer/value_reader.h"

namespace qvl {
namespace {

// A value the chart can hold: not-a-number (and the infinities a zero calibration gives) as 0.
inline float Plottable(float v) {
  return std::isfinite(v) ? v : 0.0f;
}

bool IsTravel(int code) {
  return code == kParamFrontTravel || code == kParamRearTravel;
}

int DecimalsOfResolution(double r) {
  if (r > 5) return 0;
  if (r > 0.5) return 1;
  if (r > 0.05) return 2;
  if (r > 0.005) return 3;
  if (r > 0.0005) return 4;
  return 5;
}

std::string DateText(double date) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss", date);
}

}  // namespace

// --- file slots
// ------------------------------------------------------------------------------------

TFileSlot::TFileSlot()
    : controller(std::make_unique<TController>()), store(std::make_unique<TDataLogStore>()) {}

void OpenLogFile(TFileSlot& slot, const std::string& path, bool primary,
                 const TLoadProgress& progress) {
  slot.store = std::make_unique<TDataLogStore>();
  slot.info = TLogFileInfo{};
  slot.path = path;
  slot.selection = 0;
  LoadLogFile(path, *slot.controller, *slot.store, slot.info, primary, progress);
  slot.controller->SetConfigInSync(true);
}

std::string OverlayListText(const TFileSlot& slot) {
  std::string name = slot.path;
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (!slot.store) return name;
  const TDataLogStore& store = *slot.store;
  const int run = std::max(slot.selection, 0);
  if (run >= store.RunCount()) return name;
  if (store.SessionCount() >= 2) {
    const int session = store.RunSession(run);
    int first = 0, count = 0;
    store.GetSession(session, first, count);
    return name + Format(": Session %d/%d, run %d/%d", session + 1, store.SessionCount(),
                         run - first + 1, count);
  }
  if (store.RunCount() >= 2) return name + Format(": Run %d/%d", run + 1, store.RunCount());
  return name;
}

// --- sample feed
// -----------------------------------------------------------------------------------

void TSampleFeed::Reset() {
  // Both wheels start standing, whatever speed an earlier walk left in the controller: after a
  // reset the first reading only stores the counters, and a second one with the same counters
  // 3.2768 s later reads a standing wheel.
  controller_.ResetDerived();
  controller_.UpdateWheelSpeeds(0, 0, 0, 0, 0x8000, 0x8000);
  controller_.UpdateWheelSpeeds(0, 0, 0, 0, 0x8000, 0x8000);
  controller_.ResetDerived();
  wheels_[0] = wheels_[1] = TWheel{};
  first_ = true;
  later_ = false;
}

void TSampleFeed::SetLoggedChannels(const TDataLogStore& store) {
  logged_.clear();
  for (int c = 0; c < kSampleChannelCount; ++c) {
    bool inRecords = !store.IsImage() && std::find(kRecordChannels.begin(), kRecordChannels.end(),
                                                   c) != kRecordChannels.end();
    if (inRecords || store.ChannelGroup(c) >= 0) logged_.push_back(c);
  }
}

void TSampleFeed::HandOverInputs(const TLogSample& sample) {
  const int inputs = std::min(controller_.AnalogInputCount(), kSampleChannelCount);
  for (int c = 0; c < inputs; ++c) controller_.SetRawValue(c, sample.channels[size_t(c)]);
  last_ = sample.channels;
}

void TSampleFeed::Take(const TLogSample& sample, int64_t timeMs) {
  const int inputs = std::min(controller_.AnalogInputCount(), kSampleChannelCount);
  if (later_) {
    // The inputs are handed over at the end.
  } else if (first_ || logged_.empty()) {
    for (int c = 0; c < inputs; ++c) controller_.SetRawValue(c, sample.channels[size_t(c)]);
    last_ = sample.channels;
    first_ = false;
  } else {
    // A channel the store does not fill keeps the value it had in the first sample; one whose
    // value did not change needs no new hand-over.
    for (int c : logged_)
      if (sample.channels[size_t(c)] != last_[size_t(c)]) {
        last_[size_t(c)] = sample.channels[size_t(c)];
        controller_.SetRawValue(c, last_[size_t(c)]);
      }
  }
  const uint8_t counts[2] = {sample.frontCount, sample.rearCount};
  const uint16_t pulses[2] = {uint16_t(sample.frontValue), uint16_t(sample.rearValue)};
  uint16_t timers[2];
  for (int w = 0; w < 2; ++w) {
    TWheel& wheel = wheels_[w];
    if (!wheel.known || wheel.count != counts[w]) {
      wheel.known = true;
      wheel.count = counts[w];
      wheel.pulseTime = pulses[w];
      wheel.changedAt = timeMs;
    }
    timers[w] = uint16_t(wheel.pulseTime + uint64_t(timeMs - wheel.changedAt) * 10);
  }
  controller_.UpdateWheelSpeeds(counts[0], counts[1], pulses[0], pulses[1], timers[0], timers[1]);
}

// --- helpers
// ---------------------------------------------------------------------------------------

int TravelPeriod(const TController& controller) {
  return controller.ConfigBlock().I32(cfg::kSuspensionPeriod) / 1000;
}

int ChannelPeriod(const TDisplayEntry& entry, const TController& controller,
                  const TDataLogStore& store) {
  const TConfigBlock& b = controller.ConfigBlock();
  int p = 0;
  switch (entry.channel) {
    case kParamFrontAccel:
    case kParamLateralAccel:
    case kParamVerticalAccel:
    case kParamXAccel:
    case kParamYAccel:
    case kParamZAccel:
      p = b.I32(cfg::kAccelPeriod) / 1000;
      break;
    case kParamFrontSpeed:
    case kParamRearSpeed:
      p = 10;
      break;
    case kParamFrontTravel:
    case kParamRearTravel:
    case kParamFrontSuspVelocity:
    case kParamRearSuspVelocity:
      p = b.I32(cfg::kSuspensionPeriod) / 1000;
      break;
    case kParamHeading:
    case kParamElevation:
    case kParamBank:
      p = b.I32(cfg::kMagPeriod) / 1000;
      break;
    case kParamCustom: {
      int n = int(entry.unit) - kCustomUnitBase;
      const TSensors& sensors = controller.CustomSensors();
      if (n >= 0 && size_t(n) < sensors.size() && sensors[size_t(n)])
        p = int(store.ChannelPeriod(sensors[size_t(n)]->Channel));
      break;
    }
    default:
      p = 0;
  }
  return std::max(p, 0);
}

int DisplayDecimals(const TDisplayEntry& entry, TController& controller) {
  const int code = entry.channel, unit = entry.unit;
  if (code == kParamCustom) {
    int n = unit - kCustomUnitBase;
    const TSensors& sensors = controller.CustomSensors();
    if (n >= 0 && size_t(n) < sensors.size() && sensors[size_t(n)])
      return sensors[size_t(n)]->Decimals();
    return 3;
  }
  TSensor* sensor = controller.GetSensorFor(code);
  if (!sensor) return IsValidUnit(unit) ? kEcuUnits[size_t(unit)].decimals : 0;
  const TConfigBlock& b = controller.ConfigBlock();
  double r = std::fabs(double(sensor->Gain()));
  switch (unit) {
    case kUnitPercent:
      if (code == kParamFrontTravel) r = r / double(b.F32(cfg::kFrontTravel)) * 100;
      if (code == kParamRearTravel) r = r / double(b.F32(cfg::kRearTravel)) * 100;
      break;
    case kUnitFahrenheit:
      r *= 1.8;
      break;
    case kUnitPsi:
    case kUnitPsig:
      r *= 14.5;
      break;
    case kUnitMps:
    case kUnitKmh:
      if (code == kParamFrontSpeed || code == kParamRearSpeed) {
        r *= double(
            b.F32(code == kParamFrontSpeed ? cfg::kFrontCircumference : cfg::kRearCircumference));
        if (unit == kUnitKmh) r *= 3.6;
      }
      break;
    case kUnitCmps:
      if (code == kParamFrontSuspVelocity || code == kParamRearSuspVelocity) r *= 100;
      break;
    case kUnitMmps:
      if (code == kParamFrontSuspVelocity || code == kParamRearSuspVelocity) r *= 1000;
      break;
    case kUnitMm:
      if (IsTravel(code)) r *= 1000;
      break;
    case kUnitCm:
      if (IsTravel(code)) r *= 100;
      break;
    case kUnitInch:
      if (IsTravel(code)) r = r * 100 / 2.54;
      break;
    default:
      break;
  }
  // A zero travel length gives no finite resolution: show the finest.
  if (!std::isfinite(r)) r = 0;
  return DecimalsOfResolution(r);
}

void SmoothCurve(std::vector<float>& values, int k) {
  if (k <= 1 || values.empty()) return;
  const float fk = float(k);
  const float keep = 1.0f - 1.0f / fk;
  float s = fk * values[0];
  for (size_t i = 1; i < values.size(); ++i) {
    s = s * keep + values[i];
    values[i] = s / fk;
  }
}

int SmoothingFactor(int window, int period) {
  if (period <= 0) return 0;
  return int(std::lround(double(window) / double(period)));
}

TSelectionRange SelectionRange(const TDataLogStore& store, int selection) {
  TSelectionRange r;
  if (IsSessionSelection(selection)) {
    int session = SelectedSession(selection);
    if (session < 0 || session >= store.SessionCount()) return r;
    int first = 0, count = 0;
    store.GetSession(session, first, count);
    if (count <= 0 || first < 0 || first + count > store.RunCount()) return r;
    r.firstRun = first;
    r.lastRun = first + count - 1;
  } else {
    if (selection >= store.RunCount()) return r;
    r.firstRun = r.lastRun = selection;
  }
  r.session = store.RunSession(r.firstRun);
  const int64_t first = store.RunFirst(r.firstRun), last = store.RunLast(r.lastRun);
  const int64_t period = store.IsImage() ? 1 : store.Period();
  r.sampleCount = std::max<int64_t>(last - first + 1, 0) * period;
  r.displayStart = first * period;
  return r;
}

const std::vector<float>& TCurveData::Values() const {
  static const std::vector<float> kNone;
  return series ? *series : kNone;
}

// --- the run display
// -------------------------------------------------------------------------------

struct TRunDisplay::TCurveJob {
  TDisplayEntry entry;
  int period = 0;
  int counter = 0;
  std::vector<float> values;
  TCurveData* target = nullptr;
  std::optional<TValueReader> reader;
};

namespace {

// The travel the analysis reads at every travel step: in per cent for the bottoming detectors
// (taken from a travel curve in per cent of the same steps when there is one) and in metres for
// the suspension velocities.
struct TTravelReaders {
  TTravelReaders(TController& c, TReadCache& cache,
                 const std::array<const std::vector<float>*, 2>& percentCurves)
      : percentCurve(percentCurves),
        percent{TValueReader(c, kParamFrontTravel, kUnitPercent, &cache),
                TValueReader(c, kParamRearTravel, kUnitPercent, &cache)},
        metres{TValueReader::Metres(c, kParamFrontTravel, &cache),
               TValueReader::Metres(c, kParamRearTravel, &cache)} {}
  float Percent(int wheel, const TLogSample& sample) const {
    const std::vector<float>* curve = percentCurve[size_t(wheel)];
    return curve ? curve->back() : percent[wheel].Read(sample);
  }
  double Metres(int wheel, const TLogSample& sample) const { return metres[wheel].Read(sample); }
  // The controller must take every sample's inputs for these readings.
  bool NeedsInputs() const {
    for (int w = 0; w < 2; ++w)
      if ((!percentCurve[size_t(w)] && percent[w].NeedsInputs()) || metres[w].NeedsInputs())
        return true;
    return false;
  }

  std::array<const std::vector<float>*, 2> percentCurve;
  const TValueReader percent[2];
  const TValueReader metres[2];
};

}  // namespace

// The wheel lock and bottoming analysis of a walk: wheel speeds every 10 ms, travel every travel
// step.
struct TRunDisplay::TAnalysis {
  TAnalysis(const TAnalysisSettings& s, int tp)
      : travelPeriod(tp),
        front(s.frontSoftLimit, s.frontHardLimit),
        rear(s.rearSoftLimit, s.rearHardLimit),
        lock(s.speedRatio, s.minSpeed, s.maxDecel) {}

  void Reserve(int64_t sampleCount) {
    for (auto& s : speed) s.reserve(size_t((sampleCount + 9) / 10));
    if (travelPeriod >= 1)
      for (auto& v : velocity)
        v.assign(size_t(std::max<int64_t>(sampleCount + travelPeriod - 1, 0) / travelPeriod), 0.0f);
  }

  void SpeedStep(TController& c) {
    speed[0].push_back(Plottable(c.GetValueIn(kParamFrontSpeed, kUnitKmh)));
    speed[1].push_back(Plottable(c.GetValueIn(kParamRearSpeed, kUnitKmh)));
    lock.Step(speed[0].data(), speed[1].data(), speedSteps);
    ++speedSteps;
  }

  void TravelStep(int64_t t, const TLogSample& sample, const TTravelReaders& travel) {
    const int32_t step = travelSteps++;
    TBottomingDetector* detectors[2] = {&front, &rear};
    for (int w = 0; w < 2; ++w) {
      const float percent = travel.Percent(w, sample);
      detectors[w]->Step(double(percent) / 100, t, step);
      double* recent = recentTravel[w];
      recent[0] = recent[1];
      recent[1] = recent[2];
      recent[2] = travel.Metres(w, sample);
      // The velocity of the middle step: the travel two steps apart over their time, in m/s.
      if (step > 2)
        velocity[w][size_t(step - 1)] = float((recent[2] - recent[0]) * 500 / travelPeriod);
    }
  }

  void Finish(int64_t sampleCount) {
    front.Finish(sampleCount, travelSteps - 1);
    rear.Finish(sampleCount, travelSteps - 1);
    lock.Finish(sampleCount, speedSteps - 1);
  }

  int travelPeriod;
  TBottomingDetector front, rear;
  TWheelLockDetector lock;
  std::vector<float> speed[2];
  std::vector<float> velocity[2];
  // Steps taken so far, and each wheel's travel in metres at the last three travel steps.
  int32_t speedSteps = 0, travelSteps = 0;
  double recentTravel[2][3] = {{0, 0, 0}, {0, 0, 0}};
};

TRunDisplay::TRunDisplay() {
  slots_.push_back(std::make_unique<TFileSlot>());
}

int TRunDisplay::AddSlot(std::unique_ptr<TFileSlot> slot) {
  slots_.push_back(std::move(slot));
  const int k = SlotCount() - 1;
  // Every strip gets empty curves for the new slot; the other slots' curves stay.
  for (TStripView& s : chart_.strips) {
    s.curves.resize(size_t(s.curvesPerSlot * SlotCount()));
    for (int c = 0; c < s.curvesPerSlot; ++c) s.Curve(k, c).colour = CurveColour(k, c);
  }
  return k;
}

void TRunDisplay::RemoveSlot(int k) {
  if (k <= 0 || k >= SlotCount()) return;
  // The curves of the later slots move down with them and take the colours of their new place.
  for (TStripView& s : chart_.strips) {
    auto first = s.curves.begin() + k * s.curvesPerSlot;
    s.curves.erase(first, first + s.curvesPerSlot);
  }
  slots_.erase(slots_.begin() + k);
  for (TStripView& s : chart_.strips)
    for (int slot = 0; slot < SlotCount(); ++slot)
      for (int c = 0; c < s.curvesPerSlot; ++c) s.Curve(slot, c).colour = CurveColour(slot, c);
}

void TRunDisplay::SetStrips(const TStripList& strips) {
  strips_ = strips;
  flat_ = FlattenStrips(strips_);
  std::vector<TStripView> old = std::move(chart_.strips);
  chart_.strips.clear();
  TController& main = *MainSlot().controller;
  for (size_t i = 0; i < strips_.size(); ++i) {
    const TStrip& s = strips_[i];
    TStripView v;
    v.title = EntryTitle(s.main, &main);
    v.decimals = DisplayDecimals(s.main, main);
    if (IsValidParam(s.main.channel)) {
      v.rangeMin = kEcuParams[s.main.channel].min;
      v.rangeMax = kEcuParams[s.main.channel].max;
    }
    v.inverted = IsTravel(s.main.channel) && settings_.invertedSuspension;
    v.curvesPerSlot = s.CurveCount();
    v.curves.resize(size_t(v.curvesPerSlot * SlotCount()));
    for (int k = 0; k < SlotCount(); ++k)
      for (int c = 0; c < v.curvesPerSlot; ++c) v.Curve(k, c).colour = CurveColour(k, c);
    chart_.strips.push_back(std::move(v));
  }
}

void TRunDisplay::SetSettings(const TAnalysisSettings& settings) {
  settings_ = settings;
  for (size_t i = 0; i < strips_.size() && i < chart_.strips.size(); ++i)
    chart_.strips[i].inverted = IsTravel(strips_[i].main.channel) && settings_.invertedSuspension;
}

void TRunDisplay::ClearSlotCurves(int k) {
  for (TStripView& s : chart_.strips)
    for (int c = 0; c < s.curvesPerSlot; ++c) {
      TCurveData& d = s.Curve(k, c);
      d.series.reset();
      d.period = 0;
    }
}

void TRunDisplay::Walk(TFileSlot& slot, const TSelectionRange& range, std::vector<TCurveJob>& jobs,
                       TAnalysis* analysis, const TLoadProgress& progress) {
  TController& c = *slot.controller;
  TDataLogStore& store = *slot.store;
  TSampleFeed feed(c);
  feed.Reset();
  const int64_t n = range.Empty() ? 0 : range.sampleCount;
  // The readers of this walk share their travel readings and the velocities' previous ones.
  TReadCache cache;
  for (TCurveJob& job : jobs) {
    if (job.period > 0) job.values.reserve(size_t((n + job.period - 1) / job.period));
    job.reader.emplace(c, job.entry.channel, job.entry.unit, &cache);
  }
  if (analysis) analysis->Reserve(n);
  if (n <= 0) return;

  const int tp = analysis ? analysis->travelPeriod : 0;
  const bool travelSteps = analysis && tp >= 1;
  std::array<const std::vector<float>*, 2> percentCurves{};
  for (const TCurveJob& job : jobs)
    for (int w = 0; w < 2; ++w)
      if (job.entry.channel == kParamFrontTravel + w && job.entry.unit == kUnitPercent &&
          job.period == tp && !percentCurves[size_t(w)])
        percentCurves[size_t(w)] = &job.values;
  const TTravelReaders travel(c, cache, percentCurves);

  // When every value is computed from the samples themselves, the controller needs only the
  // wheel pulses during the walk; it gets the last sample's inputs at the end.
  bool controllerReads = travelSteps && travel.NeedsInputs();
  for (const TCurveJob& job : jobs)
    if (job.period > 0 && job.reader->NeedsInputs()) controllerReads = true;
  feed.SetLoggedChannels(store);
  feed.SetInputsLater(!controllerReads);
  store.SelectRun(range.firstRun);
  TLogSample sample;
  // Milliseconds into the current speed step (10 ms) and travel step (tp ms).
  int msInSpeedStep = 0, msInTravelStep = 0;
  // Chart samples walked between two progress reports.
  constexpr int64_t kReportEvery = 1 << 16;
  for (int64_t t = 0; t < n; ++t) {
    if (progress && t % kReportEvery == 0 && t > 0)
      ReportProgress(progress, uint64_t(t), uint64_t(n));
    const bool fresh = store.ReadNext(t, sample);
    if (msInSpeedStep == 0 || fresh) feed.Take(sample, t);
    cache.sample = t;
    for (TCurveJob& job : jobs) {
      if (job.period <= 0) continue;
      if (job.counter == 0) job.values.push_back(job.reader->Read(sample));
      if (++job.counter == job.period) job.counter = 0;
    }
    if (analysis && msInSpeedStep == 0) analysis->SpeedStep(c);
    if (travelSteps && msInTravelStep == 0) analysis->TravelStep(t, sample, travel);
    if (++msInSpeedStep == 10) msInSpeedStep = 0;
    if (tp >= 1 && ++msInTravelStep == tp) msInTravelStep = 0;
  }
  feed.HandOverInputs(sample);
  if (analysis) analysis->Finish(n);
  ReportProgress(progress, uint64_t(n), uint64_t(n));
}

void TRunDisplay::FinishCurve(TCurveJob& job) {
  const int k = SmoothingFactor(job.entry.smoothing, job.period);
  if (k > 1) SmoothCurve(job.values, k);
  // The finished series is shared from here on: the target gets new storage, whoever holds the
  // old series keeps it unchanged.
  job.target->series = job.values.empty()
                           ? nullptr
                           : std::make_shared<const std::vector<float>>(std::move(job.values));
  job.target->period = job.period;
}

void TRunDisplay::DisplaySelection(int selection, const TLoadProgress& progress) {
  TFileSlot& slot = MainSlot();
  selection_ = selection;
  slot.selection = selection;
  ClearSlotCurves(0);
  chart_.marks.clear();
  for (auto& e : events_) e.clear();
  for (auto& s : speed_) s = {};
  for (auto& v : velocity_) v = {};
  labels_ = TDisplayLabels{};

  range_ = SelectionRange(*slot.store, selection);
  travelPeriod_ = TravelPeriod(*slot.controller);
  std::vector<TCurveJob> jobs;
  jobs.reserve(flat_.size());
  for (const TDisplayEntry& e : flat_) {
    TCurveJob job;
    job.entry = e;
    job.period = ChannelPeriod(e, *slot.controller, *slot.store);
    job.target = &chart_.strips[size_t(EntryStrip(e))].Curve(0, EntryCurve(e));
    jobs.push_back(std::move(job));
  }
  TAnalysis analysis(settings_, travelPeriod_);
  try {
    Walk(slot, range_, jobs, &analysis, progress);
  } catch (const ELoadStopped&) {
    // Nothing of a stopped walk is shown: no curves (cleared above) and an empty selection.
    range_ = TSelectionRange{};
    chart_.sampleCount = 0;
    throw;
  }
  for (TCurveJob& job : jobs) FinishCurve(job);
  for (int w = 0; w < 2; ++w) {
    speed_[w] = std::move(analysis.speed[w]);
    velocity_[w] = std::move(analysis.velocity[w]);
  }
  events_[int(TEventKind::FrontBottoming)] = analysis.front.TakeEvents();
  events_[int(TEventKind::RearBottoming)] = analysis.rear.TakeEvents();
  events_[int(TEventKind::FrontWheelLock)] = analysis.lock.TakeFrontEvents();
  events_[int(TEventKind::RearWheelLock)] = analysis.lock.TakeRearEvents();

  chart_.sampleCount = range_.sampleCount;
  for (size_t s = 0; s < chart_.strips.size(); ++s) {
    chart_.strips[s].inverted = IsTravel(strips_[s].main.channel) && settings_.invertedSuspension;
    FillHighlights(int(s), false);
  }
  FillTimeMarks();
  FillLabels();
}

void TRunDisplay::DisplayOverlay(int k, const TLoadProgress& progress) {
  if (k <= 0 || k >= SlotCount()) return;
  TFileSlot& slot = Slot(k);
  ClearSlotCurves(k);
  // An overlay shows one run, from its first sample.
  TSelectionRange range = SelectionRange(*slot.store, std::max(slot.selection, 0));
  std::vector<TCurveJob> jobs;
  for (const TDisplayEntry& e : flat_) {
    TCurveJob job;
    job.entry = e;
    job.period = ChannelPeriod(e, *slot.controller, *slot.store);
    job.target = &chart_.strips[size_t(EntryStrip(e))].Curve(k, EntryCurve(e));
    jobs.push_back(std::move(job));
  }
  Walk(slot, range, jobs, nullptr, progress);
  for (TCurveJob& job : jobs) FinishCurve(job);
}

void TRunDisplay::RefillCurve(int strip, int curve, bool setRange) {
  if (strip < 0 || size_t(strip) >= strips_.size()) return;
  const TStrip& s = strips_[size_t(strip)];
  if (curve < 0 || curve >= s.CurveCount()) return;
  TDisplayEntry entry = s.Curve(curve);
  entry.smoothing = s.main.smoothing;
  for (int k = 0; k < SlotCount(); ++k) {
    TFileSlot& slot = Slot(k);
    std::vector<TCurveJob> jobs(1);
    TCurveJob& job = jobs[0];
    job.entry = entry;
    job.period = ChannelPeriod(entry, *slot.controller, *slot.store);
    job.target = &chart_.strips[size_t(strip)].Curve(k, curve);
    const TSelectionRange range = k == 0 ? SelectionRange(*slot.store, selection_)
                                         : SelectionRange(*slot.store, std::max(slot.selection, 0));
    // The same walk over the selection as a whole display: the curve takes the very samples the
    // display gave it, whatever the encoding and record period of the file.
    Walk(slot, range, jobs, nullptr);
    FinishCurve(job);
  }
  if (setRange && curve == 0) {
    TStripView& v = chart_.strips[size_t(strip)];
    TController& main = *MainSlot().controller;
    v.title = EntryTitle(s.main, &main);
    v.decimals = DisplayDecimals(s.main, main);
    if (IsValidParam(s.main.channel)) {
      v.rangeMin = kEcuParams[s.main.channel].min;
      v.rangeMax = kEcuParams[s.main.channel].max;
    }
    v.inverted = IsTravel(s.main.channel) && settings_.invertedSuspension;
    FillHighlights(strip, true);
  }
}

const TEventArray* TRunDisplay::EventsOfChannel(int channel) const {
  switch (channel) {
    case kParamFrontSpeed:
      return &events_[int(TEventKind::FrontWheelLock)];
    case kParamRearSpeed:
      return &events_[int(TEventKind::RearWheelLock)];
    case kParamFrontTravel:
      return &events_[int(TEventKind::FrontBottoming)];
    case kParamRearTravel:
      return &events_[int(TEventKind::RearBottoming)];
    default:
      return nullptr;
  }
}

void TRunDisplay::FillHighlights(int strip, bool chosenChannel) {
  TStripView& v = chart_.strips[size_t(strip)];
  v.highlights.clear();
  const TEventArray* events = EventsOfChannel(strips_[size_t(strip)].main.channel);
  if (!events) return;
  for (const TEvent& e : *events) {
    THighlightSpan h;
    h.first = e.startIndex;
    h.last = e.endIndex;
    if (e.flag) {
      h.colour = kFlaggedColour;
      h.second = kFlaggedSecond;
    } else {
      h.colour = chosenChannel ? kRefillEventColour : kEventColour;
      h.second = kEventSecond;
    }
    v.highlights.push_back(h);
  }
}

void TRunDisplay::FillTimeMarks() {
  const auto& marks = MainSlot().store->TimeMarks();
  for (size_t i = 0; i < marks.size(); ++i) {
    TTimeMarkView m;
    m.seconds = double(marks[i]) / 1000;
    m.colour = kTimeMarkColour;
    m.label = Format("Time mark #%d\r%s", int(i + 1), FormatTimeLabel(m.seconds, 2).c_str());
    chart_.marks.push_back(std::move(m));
  }
}

void TRunDisplay::FillLabels() {
  const TDataLogStore& store = *MainSlot().store;
  TDisplayLabels& l = labels_;
  if (!range_.Empty()) {
    const int session = range_.session;
    const int sessions = store.SessionCount();
    l.previousSession = session > 0;
    l.nextSession = session < sessions - 1;
    const double date = store.SessionStartDate(session);
    l.sessionStart = "  Session start\r  " + (date == 0 ? std::string("Unknown") : DateText(date));
    l.session = Format("Session\r%d/%d", session + 1, sessions);
  }
  auto count = [&](TEventKind k) { return int(events_[int(k)].size()); };
  l.frontBottoming = Format("Front (%d times)", count(TEventKind::FrontBottoming));
  l.rearBottoming = Format("Rear (%d times)", count(TEventKind::RearBottoming));
  l.frontWheelLock = Format("Front (%d times)", count(TEventKind::FrontWheelLock));
  l.rearWheelLock = Format("Rear (%d times)", count(TEventKind::RearWheelLock));
  for (int k = 0; k < 4; ++k)
    for (const TEvent& e : events_[k])
      l.memos[k].push_back(TMemoLine{FormatFixed(e.start, 7, 2), e.flag != 0});
}

}  // namespace qvl
