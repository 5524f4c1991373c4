// TSimLink: the wire between the host and the simulated logger. It hands the host's bytes to
// the logger and schedules the logger's replies: at the line speed when throttled, and with
// the faults of the options (lost bytes, changed echoes, late answers, silence, unplugging),
// drawn from a seeded generator so that a run can be repeated.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <random>

#include "sim/sim_logger.h"

namespace qvl::sim {

class TSimLink {
 public:
  explicit TSimLink(const TSimOptions& options, uint64_t nowMs);

  // Bytes from the host at nowMs.
  void HostWrite(const uint8_t* data, size_t size, uint64_t nowMs);
  // Reply bytes that have arrived by nowMs.
  size_t CountDue(uint64_t nowMs);
  // Takes up to max arrived bytes.
  size_t TakeDue(uint64_t nowMs, uint8_t* out, size_t max);
  // Time of the next scheduled byte, or UINT64_MAX.
  uint64_t NextDueMs();

  // The logger is unplugged (from the unplug fault until it is plugged in again).
  bool Unplugged(uint64_t nowMs);
  // Unplug or plug in by hand.
  void Unplug(uint64_t nowMs, int replugAfterMs);
  uint64_t HostBytes() const { return hostBytes_; }

  TSimLogger& Logger() { return logger_; }
  std::mutex& Mutex() { return mutex_; }

 private:
  void Schedule(const std::vector<TReply>& replies, uint64_t nowMs);

  TSimOptions options_;
  TSimLogger logger_;
  std::mt19937 rng_;
  std::deque<std::pair<uint64_t, uint8_t>> pending_;
  double lineFreeAt_ = 0;
  uint64_t hostBytes_ = 0;
  bool silent_ = false;
  uint64_t silentUntil_ = 0;
  bool unplugged_ = false;
  uint64_t replugAt_ = 0;
  bool silentDone_ = false;
  bool unplugDone_ = false;
  std::mutex mutex_;
};

}  // namespace qvl::sim
