#include "sim/sim_season.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>

#include "core/util/endian.h"

namespace qvl::sim {
namespace {

constexpr uint32_t kPage = uint32_t(kFlashPageSize);
constexpr uint32_t kUnitsPerDay = 84375;
// Live logging records the ride in steps of at least this many ms.
constexpr uint32_t kLiveStepMs = 20;

}  // namespace

// --- ride recorder -------------------------------------------------------------------------------

TRideRecorder::TRideRecorder(TFlashImageEncoder& encoder, TRideValues values, TWheelSpeed wheels,
                             const double circumference[2], const uint8_t pulsesPerTurn[2])
    : encoder_(encoder), values_(std::move(values)), wheels_(std::move(wheels)) {
  for (int w = 0; w < 2; ++w) {
    circumference_[w] = std::max(0.1, circumference[w]);
    pulses_[w] = std::max<uint8_t>(1, pulsesPerTurn[w]);
  }
}

void TRideRecorder::Begin(uint32_t tick, uint64_t rideOffsetMs) {
  runTick_ = reached_ = tick;
  rideOffset_ = rideOffsetMs;
  phase_[0] = phase_[1] = 0;
}

void TRideRecorder::RecordTo(uint32_t tick) {
  const TDataLogGroups& groups = encoder_.Groups();
  auto source = [&](int g, uint32_t t, uint16_t* out, int count) {
    const std::vector<int16_t> raw = values_(rideOffset_ + (t - runTick_));
    for (int k = 0; k < count; ++k) {
      const size_t input = size_t(groups[size_t(g)].channels[size_t(k)]);
      out[k] = input < raw.size() ? uint16_t(raw[input] & 0x0FFF) : 0;
    }
  };
  for (uint32_t ms = reached_; ms < tick; ++ms) {
    const uint64_t rideMs = rideOffset_ + (ms - runTick_);
    bool pulsed[2] = {false, false};
    int16_t value[2] = {0, 0};
    for (int w = 0; w < 2; ++w) {
      const double perMs =
          wheels_(w, double(rideMs) / 1000) / circumference_[w] * pulses_[w] / 1000;
      phase_[w] += perMs;
      if (phase_[w] >= 1) {
        phase_[w] -= std::floor(phase_[w]);
        ++counter_[w];
        pulsed[w] = true;
        // The 100 us timer at the moment of the pulse.
        const double at = double(rideMs) * 10 - (perMs > 0 ? phase_[w] / perMs * 10 : 0);
        value[w] = int16_t(uint16_t(int64_t(at)));
      }
    }
    if (!pulsed[0] && !pulsed[1]) continue;
    encoder_.AdvanceTo(ms, source);
    if (pulsed[0] && pulsed[1])
      encoder_.BothTriggers(ms, counter_[0], counter_[1], value[0], value[1]);
    else if (pulsed[0])
      encoder_.FrontTrigger(ms, counter_[0], value[0]);
    else
      encoder_.RearTrigger(ms, counter_[1], value[1]);
  }
  if (tick > reached_) encoder_.AdvanceTo(tick, source);
  reached_ = std::max(reached_, tick);
}

// --- the season ----------------------------------------------------------------------------------

TSimSeason::~TSimSeason() = default;

// A session as planned: its runs, the pause after it, and whether it has a clock and an SD
// card.
struct TSimSeason::TPlan {
  uint32_t tick0 = 0;
  std::vector<TPlannedRun> runs;
  uint32_t pauseAfterDays = 0;  // device time units to the next session
  TSeasonSession::TClock clock = TSeasonSession::TClock::FromStart;
  bool sdCard = true;
};

TSimSeason::TSimSeason(TSetup setup, std::vector<uint8_t>& flash) : setup_(std::move(setup)) {
  const uint64_t flashSize = setup_.flashSize, sectorSize = setup_.sectorSize;
  const uint64_t sectors = sectorSize ? flashSize / sectorSize : 0;
  if (flashSize == 0 || sectors < 4 || flash.size() != flashSize) return;
  std::mt19937 rng(setup_.seed);
  const TUniform uniform = [&rng](int lo, int hi) {
    return std::uniform_int_distribution<int>(std::min(lo, hi), std::max(lo, hi))(rng);
  };
  const std::vector<TPlan> plan = PlanSessions(uniform, BytesPerSecond());
  const std::vector<uint32_t> startTimes = SessionStartTimes(plan);
  PlaceInRing(RecordSessions(plan, startTimes, uniform), flash);
}

double TSimSeason::BytesPerSecond() const {
  // Ten seconds of riding recorded on the side.
  TFlashImageEncoder probe(setup_.groups, 0, setup_.sectorSize);
  TRideRecorder ride(probe, setup_.values, setup_.wheels, setup_.circumference,
                     setup_.pulsesPerTurn);
  const uint32_t tick = probe.BeginSession(1000);
  ride.Begin(tick, 0);
  ride.RecordTo(tick + 10000);
  probe.Finish();
  return std::max(100.0, double(probe.Image().size()) / 10);
}

std::vector<TSimSeason::TPlan> TSimSeason::PlanSessions(const TUniform& uniform,
                                                        double bytesPerSecond) const {
  // Sessions of runs, oldest first, until more than the flash has been written.
  const TSimSeasonOptions& o = setup_.options;
  std::vector<TPlan> plan;
  const double target = double(setup_.flashSize) * (1 + std::max(0.05, o.overwriteShare));
  double total = 0;
  while (total < target || plan.size() < 5) {
    TPlan p;
    p.tick0 = uint32_t(uniform(1000, 6000));
    const int runs = uniform(std::max(1, o.runsMin), std::max(1, o.runsMax));
    uint32_t tick = p.tick0;
    for (int r = 0; r < runs; ++r) {
      TPlannedRun run;
      run.tick = tick;
      run.seconds = uint32_t(uniform(std::max(1, o.runSecondsMin), std::max(1, o.runSecondsMax)));
      p.runs.push_back(run);
      tick += run.seconds * 1000 + uint32_t(uniform(o.pauseSecondsMin, o.pauseSecondsMax)) * 1000;
      total += run.seconds * bytesPerSecond + kPage;
    }
    p.pauseAfterDays = uint32_t(uniform(int(kUnitsPerDay / 3), int(4 * kUnitsPerDay)));
    total += double(setup_.sectorSize);
    plan.push_back(std::move(p));
  }
  const size_t m = plan.size();
  // The current session's last run is being logged.
  if (o.logging) plan[m - 1].runs.back().seconds = uint32_t(std::max(1, o.currentRunSeconds));
  // A few older sessions of another kind: one whose clock came only with its second run, one
  // without any clock, one without SD card.
  TPlan& lateClock = plan[m - 3];
  lateClock.clock = TSeasonSession::TClock::FromLaterRun;
  if (lateClock.runs.size() < 2) {
    TPlannedRun extra = lateClock.runs.back();
    extra.tick += extra.seconds * 1000 + 120000;
    lateClock.runs.push_back(extra);
  }
  plan[m - 4].clock = TSeasonSession::TClock::None;
  plan[m - 5].sdCard = false;
  return plan;
}

std::vector<uint32_t> TSimSeason::SessionStartTimes(const std::vector<TPlan>& plan) const {
  // From the current session back: it began so that its last run started currentRunSeconds ago
  // (or ended a few minutes ago when it is not logging); each older one ended its pause before
  // the next.
  const size_t m = plan.size();
  std::vector<uint32_t> startTime(m);
  const TPlan& current = plan[m - 1];
  const TPlannedRun& last = current.runs.back();
  const uint32_t elapsedMs =
      last.tick - current.tick0 + last.seconds * 1000 + (setup_.options.logging ? 0 : 300000);
  startTime[m - 1] = setup_.nowDeviceTime - elapsedMs / 1024;
  for (size_t i = m - 1; i-- > 0;) {
    const TPlannedRun& lastRun = plan[i].runs.back();
    const uint32_t lengthUnits = (lastRun.tick - plan[i].tick0 + lastRun.seconds * 1000) / 1024;
    startTime[i] = startTime[i + 1] - plan[i].pauseAfterDays - lengthUnits;
  }
  return startTime;
}

std::vector<uint64_t> TSimSeason::RecordSessions(const std::vector<TPlan>& plan,
                                                 const std::vector<uint32_t>& startTimes,
                                                 const TUniform& uniform) {
  // Each session is encoded on its own; the returned offsets place them one after the other,
  // each on a sector boundary, counted from the oldest session's start.
  const TSimSeasonOptions& o = setup_.options;
  const uint64_t sectorSize = setup_.sectorSize;
  uint8_t sdNumber = uint8_t(uniform(1, 40));
  uint64_t offset = 0;
  std::vector<uint64_t> offsets;
  for (size_t i = 0; i < plan.size(); ++i) {
    const TPlan& p = plan[i];
    const bool current = i + 1 == plan.size();
    TSession session;
    session.encoder = std::make_unique<TFlashImageEncoder>(setup_.groups, 0, uint32_t(sectorSize));
    session.encoder->SetSectorHeaders(true);
    session.clock = p.clock;
    TFlashImageEncoder& encoder = *session.encoder;
    auto ride = std::make_unique<TRideRecorder>(encoder, setup_.values, setup_.wheels,
                                                setup_.circumference, setup_.pulsesPerTurn);
    for (size_t r = 0; r < p.runs.size(); ++r) {
      const TPlannedRun& run = p.runs[r];
      const bool clock = p.clock == TSeasonSession::TClock::FromStart ||
                         (p.clock == TSeasonSession::TClock::FromLaterRun && r > 0);
      std::optional<uint32_t> deviceTime;
      if (clock) deviceTime = startTimes[i] + (run.tick - p.tick0) / 1024;
      const uint8_t number = p.sdCard ? sdNumber++ : 0;
      const uint32_t tick = r == 0 ? encoder.BeginSession(run.tick, deviceTime, number)
                                   : encoder.BeginRun(run.tick, deviceTime, number);
      const uint64_t rideOffset = uint64_t(uniform(0, 3600)) * 1000;
      ride->Begin(tick, rideOffset);
      const uint32_t end = tick + run.seconds * 1000;
      const bool live = o.logging && current && r + 1 == p.runs.size();
      if (!live) {
        ride->RecordTo(tick + run.seconds * 500);
        encoder.TimeMark(encoder.CurrentTick());  // the rider marks a spot half-way
      }
      ride->RecordTo(end);
      if (live) {
        logging_ = true;
        liveTick_ = encoder.CurrentTick();
        liveMs_ = setup_.nowMs;
        runStartDeviceTime_ = deviceTime.value_or(setup_.nowDeviceTime - run.seconds * 1000 / 1024);
      }
    }
    if (logging_ && current)
      recorder_ = std::move(ride);
    else
      encoder.Finish();
    offsets.push_back(offset);
    offset = (offset + encoder.Image().size() + sectorSize - 1) / sectorSize * sectorSize;
    markers_.push_back({0, startTimes[i]});
    sessions_.push_back(std::move(session));
  }
  return offsets;
}

void TSimSeason::PlaceInRing(std::vector<uint64_t> offsets, std::vector<uint8_t>& flash) {
  const uint64_t flashSize = setup_.flashSize, sectorSize = setup_.sectorSize;
  const uint64_t sectors = flashSize / sectorSize;
  const size_t m = sessions_.size();
  // Where the data would end, and with it the oldest sector left.
  auto endOffset = [&] {
    return offsets.back() + sessions_.back().encoder->Image().size() / kPage * kPage;
  };
  auto oldestOffset = [&] {
    const uint64_t eraseAhead = (endOffset() + sectorSize - 1) / sectorSize;
    return eraseAhead + 1 >= sectors ? (eraseAhead + 1 - sectors) * sectorSize : 0;
  };
  // The oldest surviving session must be cut: when the oldest data left would begin exactly at a
  // session's start, the current session starts one sector later (the logger had erased one
  // more sector before it began).
  for (uint64_t guard = 0; guard < sectors; ++guard) {
    const uint64_t oldest = oldestOffset();
    if (std::find(offsets.begin(), offsets.end(), oldest) == offsets.end()) break;
    offsets.back() += sectorSize;
  }
  // The ring's end falls in the middle of the largest session between the partial oldest and the
  // current one.
  const uint64_t oldest = oldestOffset();
  size_t wrapIn = m - 1;
  uint64_t largest = 0;
  for (size_t i = 0; i + 1 < m; ++i) {
    const uint64_t size = sessions_[i].encoder->Image().size();
    if (offsets[i] > oldest && size > largest && size > sectorSize) {
      largest = size;
      wrapIn = i;
    }
  }
  const uint64_t wrapAt =
      (offsets[wrapIn] + sessions_[wrapIn].encoder->Image().size() / 2) / sectorSize * sectorSize;
  startVirtual_ = (flashSize - wrapAt % flashSize) % flashSize;
  erasedThrough_ = startVirtual_ / sectorSize;
  for (size_t i = 0; i < m; ++i) {
    sessions_[i].virtualStart = startVirtual_ + offsets[i];
    markers_[i].sector4k = uint32_t(sessions_[i].virtualStart % flashSize / kPage);
    WritePages(sessions_[i], flash, false);
  }
}

void TSimSeason::WritePages(TSession& session, std::vector<uint8_t>& flash, bool) {
  const std::vector<uint8_t>& image = session.encoder->Image();
  const uint64_t f = setup_.flashSize, s = setup_.sectorSize, n = f / s;
  const size_t complete = image.size() / kPage;
  for (size_t p = session.pagesWritten; p < complete; ++p) {
    const uint64_t at = session.virtualStart + p * kPage;
    const uint64_t sector = at / s;
    // Entering a sector erases the one after it too.
    while (erasedThrough_ <= sector + 1) {
      std::memset(flash.data() + (erasedThrough_ % n) * s, 0xFF, s);
      ++erasedThrough_;
    }
    std::memcpy(flash.data() + at % f, image.data() + p * kPage, kPage);
  }
  session.pagesWritten = std::max(session.pagesWritten, complete);
}

uint64_t TSimSeason::WrittenEnd() const {
  if (sessions_.empty()) return 0;
  const TSession& last = sessions_.back();
  return last.virtualStart + last.pagesWritten * kPage;
}

uint32_t TSimSeason::WriteAddress() const {
  return setup_.flashSize ? uint32_t(WrittenEnd() % setup_.flashSize) : 0;
}

uint32_t TSimSeason::SessionStartAddress() const {
  if (sessions_.empty() || setup_.flashSize == 0) return 0;
  return uint32_t(sessions_.back().virtualStart % setup_.flashSize);
}

bool TSimSeason::Overwriting() const {
  return !sessions_.empty() && WrittenEnd() - startVirtual_ > setup_.flashSize;
}

void TSimSeason::Advance(uint64_t nowMs, std::vector<uint8_t>& flash) {
  if (!logging_ || !recorder_ || sessions_.empty() || nowMs < liveMs_) return;
  const uint32_t tick = liveTick_ + uint32_t(nowMs - liveMs_);
  if (tick < sessions_.back().encoder->CurrentTick() + kLiveStepMs) return;
  recorder_->RecordTo(tick);
  WritePages(sessions_.back(), flash, false);
}

void TSimSeason::StopLogging(uint64_t nowMs, std::vector<uint8_t>& flash) {
  if (!logging_) return;
  Advance(nowMs, flash);
  sessions_.back().encoder->Finish();
  WritePages(sessions_.back(), flash, true);
  recorder_.reset();
  logging_ = false;
}

uint32_t TSimSeason::PageTick(const TSession& session, size_t page) const {
  const uint8_t* p = session.encoder->Image().data() + page * kPage;
  const size_t at = (p[0] & kHeaderClock) ? 6 : 0;
  return GetU32(p + at + 2);
}

std::vector<TSeasonSession> TSimSeason::Surviving() const {
  std::vector<TSeasonSession> out;
  if (sessions_.empty()) return out;
  const uint64_t s = setup_.sectorSize, n = setup_.flashSize / s;
  const uint64_t end = WrittenEnd();
  const uint64_t eraseAhead = (end + s - 1) / s;
  const uint64_t oldest =
      std::max<uint64_t>(startVirtual_, eraseAhead + 1 >= n ? (eraseAhead + 1 - n) * s : 0);
  for (size_t i = 0; i < sessions_.size(); ++i) {
    const TSession& session = sessions_[i];
    const uint64_t lo = session.virtualStart;
    const uint64_t hi = lo + session.pagesWritten * kPage;
    if (hi <= oldest) continue;
    const size_t cut = lo < oldest ? size_t((oldest - lo) / kPage) : 0;
    const uint64_t first = lo + cut * kPage;
    TSeasonSession out1;
    out1.current = i + 1 == sessions_.size();
    out1.partial = cut > 0;
    out1.startSector = int32_t(first / s % n);
    out1.endSector = out1.startSector + int32_t((hi + s - 1) / s - first / s);
    // The session's time of tick 0, from any run that carries the clock.
    std::optional<int64_t> tickZero;
    const auto& runs = session.encoder->Runs();
    for (const auto& r : runs)
      if (r.hasClock && !tickZero) tickZero = int64_t(r.deviceTime) - r.startTick / 1024;
    const bool firstHasClock = session.encoder->Image()[cut * kPage] & kHeaderClock;
    out1.clock = firstHasClock ? TSeasonSession::TClock::FromStart
                 : tickZero    ? TSeasonSession::TClock::FromLaterRun
                               : TSeasonSession::TClock::None;
    for (const auto& r : runs) {
      const size_t endPage = std::min(r.endPage, session.pagesWritten);
      if (endPage <= cut || r.firstPage >= session.pagesWritten) continue;
      TSeasonRun run;
      run.partial = r.firstPage < cut;
      run.startPage = int32_t(std::max(r.firstPage, cut) - cut);
      run.endPage = int32_t(endPage - cut);
      run.sdNumber = r.sdFileNumber;
      run.startTick = run.partial ? PageTick(session, cut) : r.startTick;
      run.endTick = endPage == r.endPage ? r.endTick : PageTick(session, endPage - 1);
      if (run.endPage - run.startPage == 1) run.endTick = run.startTick;
      run.hasTime = tickZero.has_value();
      if (tickZero) run.deviceTime = uint32_t(*tickZero + run.startTick / 1024);
      out1.runs.push_back(run);
    }
    out.push_back(std::move(out1));
  }
  return out;
}

}  // namespace qvl::sim
