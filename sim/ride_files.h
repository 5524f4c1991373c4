// Files of a simulated ride, for the viewer's tests and benchmarks: suspension and accelerations
// at 1 kHz, travel bumping down to the bottom now and then, both wheels rolling at 10 to 40 km/h,
// the front wheel locking in a regular pattern, a time mark in the first run and
// optionally a custom channel ("Brake", bar) on input 2 at 100 Hz.
//
// Two encodings: a download file (the configuration, then the flash image as the logger records
// it) and a saved log of 22-byte sample records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvl::sim {

// The front wheel stands still for forMs from fromMs into every everyMs of a run.
struct TWheelLock {
  uint32_t everyMs = 20000;
  uint32_t fromMs = 10010;
  uint32_t forMs = 1490;
  bool Locked(uint32_t ms) const { return ms % everyMs >= fromMs && ms % everyMs < fromMs + forMs; }
};

struct TSimRide {
  int sessions = 1;
  int runsPerSession = 2;
  int runSeconds = 30;
  bool customChannel = true;  // download file only
  TWheelLock frontLock;
  std::optional<uint32_t> timeMarkMs = 5000;  // into the first run; download file only
};

// One run of an hour without a custom channel or time mark; every five minutes the front wheel
// locks for four seconds (the benchmarks' ride).
TSimRide OneHourRide();

// A download file: the runs of a session follow one minute apart, sessions likewise; the device
// clock is known from the first run of each session.
std::vector<uint8_t> RideDownloadFile(const TSimRide& ride);
void WriteRideDownloadFile(const std::string& path, const TSimRide& ride);

// A saved log of sample records 1 ms apart: runs 3 s apart, sessions 1100 s apart; the wheels
// give a pulse every 40 ms (the front one not while locked). Replaces the file and its backup.
void WriteRideRecordFile(const std::string& path, const TSimRide& ride);

}  // namespace qvl::sim
