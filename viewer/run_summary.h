// The summary of a run for comparing set-ups across a season: travel, bottoming, wheel lock,
// speed and suspension velocity as the viewer's run display finds them, the quality of the
// recorded travel data and the run's notes. One summary per run of a log file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/logdata/data_log_store.h"
#include "viewer/run_display.h"
#include "viewer/run_notes.h"

namespace qvl {

// One suspension of a run.
struct TSuspensionSummary {
  float maxTravel = 0;  // % of the travel length
  float p95Travel = 0;  // % of the travel length, 95th percentile (nearest rank) of the steps
  // Bottoming events: every event passed the soft limit; those that reached the hard limit.
  int bottomingSoft = 0, bottomingHard = 0;
  int wheelLocks = 0;
  // Mean suspension velocity over the travel steps that compress (velocity > 0) and over those
  // that rebound (velocity < 0, given as a positive speed), mm/s; 0 without such steps.
  double compression = 0, rebound = 0;
  // Travel samples read from the data, and those at the converter's lowest or highest count (a
  // wiper that lost contact with its track reads a rail).
  int64_t travelSamples = 0, atLimit = 0;
  double AtLimitPercent() const {
    return travelSamples > 0 ? 100.0 * double(atLimit) / double(travelSamples) : 0.0;
  }
};

struct TRunSummary {
  int session = 0, run = 0;  // counted from 0, as the analysis commands' --session and --run
  double startDate = 0;      // 0: unknown
  int64_t samples = 0;       // 1 ms samples of the run
  double Duration() const { return double(samples) / 1000.0; }
  TSuspensionSummary front, rear;
  // Speed of the bike: at every 10 ms step the faster of the two wheels (a locked or unsensed
  // wheel does not pull it down), km/h.
  double averageSpeed = 0, maxSpeed = 0;
  // Records of the run replaced because their tick did not advance.
  int64_t discarded = 0;
  // Stretches of more than a second in which the front travel (the rear when the front is not
  // logged) got no new sample.
  int gaps = 0;
  TRunNotes notes;
};

// The highest count the logger's converter gives for `channel` in `store`: 4095 in a flash image
// (12-bit values); 1023 in the record encodings, times the store's value scale for the inputs it
// scales (0 and 1).
int InputFullScale(const TDataLogStore& store, int channel);

// Summarises run `run` of the display's main file with the display's analysis settings. The
// display's strips become front and rear travel in per cent and run `run` is displayed.
TRunSummary SummariseRun(TRunDisplay& display, int run);
// Every run of the main file, in order.
std::vector<TRunSummary> SummariseRuns(TRunDisplay& display);

}  // namespace qvl
