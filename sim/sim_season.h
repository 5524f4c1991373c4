// The simulated logger's flash after a season of riding: sessions of several runs written one
// after the other into the flash ring, the ring wrapped (one session lies across its end), the
// oldest surviving session partly overwritten, older ones gone, and the current session still
// being written while the logger logs.
//
// The logger writes page by page; when it enters an erase sector it erases the sector after it
// as well, so one erased sector always lies ahead of the newest data and the sector after that
// holds the oldest data left. Every session starts on a sector of its own; every sector's first
// page carries the session's device time (when it has one) and the run's SD file number.
//
// Sessions are given virtual addresses that only grow; the flash address is the virtual address
// modulo the flash size. What survives is what lies in the N - 1 sectors before the erased one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "core/device/log_record.h"
#include "sim/flash_image_encoder.h"

namespace qvl::sim {

struct TSimSeasonOptions {
  bool enabled = false;
  int runSecondsMin = 60;  // length of a run
  int runSecondsMax = 480;
  int runsMin = 1;  // runs per session
  int runsMax = 4;
  int pauseSecondsMin = 60;  // between the runs of a session
  int pauseSecondsMax = 900;
  // Data written beyond the flash size, as a share of it: the older sessions it overwrites.
  double overwriteShare = 0.3;
  // The logger is logging the current session's last run at start, which has run this long.
  bool logging = true;
  int currentRunSeconds = 45;
};

// A run as the flash holds it, pages counted from the session's first surviving page.
struct TSeasonRun {
  int32_t startPage = 0;
  int32_t endPage = 0;
  uint16_t sdNumber = 0;
  uint32_t startTick = 0;
  uint32_t endTick = 0;     // tick of the timestamp of its last page in the flash
  bool partial = false;     // its beginning has been overwritten
  bool hasTime = false;     // a device time is known for the run's session
  uint32_t deviceTime = 0;  // the device time at the run's start (when hasTime)
};

// A session as the flash holds it.
struct TSeasonSession {
  int32_t startSector = 0;  // first surviving sector
  int32_t endSector = 0;    // exclusive; beyond N when the session wraps the ring
  bool partial = false;     // its first sector has been overwritten
  bool current = false;
  // How the session got its device time: from its first run, from a later one, or never.
  enum class TClock { FromStart, FromLaterRun, None } clock = TClock::FromStart;
  std::vector<TSeasonRun> runs;
};

// The sample values of a recorded ride: every analog input at a ride time in ms.
using TRideValues = std::function<std::vector<int16_t>(uint64_t rideMs)>;
// A wheel's speed in m/s at a ride time in seconds.
using TWheelSpeed = std::function<double(int wheel, double seconds)>;

// Records a ride into an encoder: group samples from the ride's values and the wheel pulses as
// trigger records at the millisecond of each pulse (counter and the 100 us timer of the pulse).
class TRideRecorder {
 public:
  TRideRecorder(TFlashImageEncoder& encoder, TRideValues values, TWheelSpeed wheels,
                const double circumference[2], const uint8_t pulsesPerTurn[2]);
  // The ride at ticks [from, to) is the ride's time rideOffsetMs + tick - from of the run
  // started with Begin.
  void Begin(uint32_t tick, uint64_t rideOffsetMs);
  void RecordTo(uint32_t tick);

 private:
  TFlashImageEncoder& encoder_;
  TRideValues values_;
  TWheelSpeed wheels_;
  double circumference_[2];
  uint8_t pulses_[2];
  uint32_t runTick_ = 0;
  uint32_t reached_ = 0;
  uint64_t rideOffset_ = 0;
  double phase_[2] = {0, 0};
  uint8_t counter_[2] = {0, 0};
};

class TSimSeason {
 public:
  struct TSetup {
    TSimSeasonOptions options;
    TDataLogGroups groups;
    uint32_t flashSize = 0;
    uint32_t sectorSize = 4096;
    uint32_t seed = 1;
    uint32_t nowDeviceTime = 0;  // the logger clock at start
    uint64_t nowMs = 0;          // the simulation clock at start
    TRideValues values;
    TWheelSpeed wheels;
    double circumference[2] = {2.2343059, 2.2343059};
    uint8_t pulsesPerTurn[2] = {8, 8};
  };
  // A session's start as the scratch memory's markers record it.
  struct TMarker {
    uint32_t sector4k = 0;
    uint32_t deviceTime = 0;
  };

  // Plans and records the season and writes it into `flash` (of setup.flashSize bytes).
  TSimSeason(TSetup setup, std::vector<uint8_t>& flash);
  ~TSimSeason();

  // While logging: records the ride up to nowMs and writes the pages it completes.
  void Advance(uint64_t nowMs, std::vector<uint8_t>& flash);
  // Ends the logging run: the ride up to nowMs, the last page closed and written.
  void StopLogging(uint64_t nowMs, std::vector<uint8_t>& flash);

  bool Logging() const { return logging_; }
  // Where the logger writes next, and where the current session starts (flash addresses).
  uint32_t WriteAddress() const;
  uint32_t SessionStartAddress() const;
  // The ring has been written round at least once.
  bool Overwriting() const;
  // The device time at which the current run started.
  uint32_t RunStartDeviceTime() const { return runStartDeviceTime_; }
  const std::vector<TMarker>& Markers() const { return markers_; }

  // What the flash holds now: the surviving sessions, oldest first (the current one last).
  std::vector<TSeasonSession> Surviving() const;
  // Every session recorded, with its virtual address range, for tests that look deeper.
  size_t SessionCount() const { return sessions_.size(); }

 private:
  struct TPlannedRun {
    uint32_t tick = 0;  // wanted start tick
    uint32_t seconds = 0;
    bool clock = true;
    uint8_t sd = 0;
  };
  struct TSession {
    std::unique_ptr<TFlashImageEncoder> encoder;
    uint64_t virtualStart = 0;
    size_t pagesWritten = 0;  // pages copied into the flash
    TSeasonSession::TClock clock = TSeasonSession::TClock::FromStart;
  };

  // The steps of building a season: the data rate of the ride, the plan of sessions and runs,
  // each session's start time, the sessions recorded (their offsets from the oldest one), and
  // their place in the flash ring.
  struct TPlan;
  using TUniform = std::function<int(int lo, int hi)>;
  double BytesPerSecond() const;
  std::vector<TPlan> PlanSessions(const TUniform& uniform, double bytesPerSecond) const;
  std::vector<uint32_t> SessionStartTimes(const std::vector<TPlan>& plan) const;
  std::vector<uint64_t> RecordSessions(const std::vector<TPlan>& plan,
                                       const std::vector<uint32_t>& startTimes,
                                       const TUniform& uniform);
  void PlaceInRing(std::vector<uint64_t> offsets, std::vector<uint8_t>& flash);
  void WritePages(TSession& session, std::vector<uint8_t>& flash, bool includeOpenPage);
  uint64_t WrittenEnd() const;
  uint32_t PageTick(const TSession& session, size_t page) const;

  TSetup setup_;
  std::vector<TSession> sessions_;
  uint64_t erasedThrough_ = 0;  // virtual sectors below this one have been erased (exclusive)
  std::unique_ptr<TRideRecorder> recorder_;
  bool logging_ = false;
  uint32_t liveTick_ = 0;  // the current run's tick at liveMs_
  uint64_t liveMs_ = 0;
  uint32_t runStartDeviceTime_ = 0;
  uint64_t startVirtual_ = 0;
  std::vector<TMarker> markers_;
};

}  // namespace qvl::sim
