// The main window's moves between runs and sessions, its cursor keys and the read-outs of the
// data panel at the chart cursor, without the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/run_display.h"

namespace qvl {

// --- runs of the chart ---

// The run that chart sample `c` of the displayed selection lies in, -1 outside every run.
int RunAtChartSample(const TDataLogStore& store, const TSelectionRange& range, int64_t c);
// The chart samples of run `run`'s first and last sample in the displayed selection.
int64_t RunFirstChartSample(const TDataLogStore& store, const TSelectionRange& range, int run);
int64_t RunLastChartSample(const TDataLogStore& store, const TSelectionRange& range, int run);

// --- navigation ---

// The session a selection belongs to (a run's session, or the selected session).
int SessionOfSelection(const TDataLogStore& store, int selection);
// Single-run mode: run index +-1; all-runs mode has no run selection of its own. -1 at the ends.
int AdjacentRun(const TDataLogStore& store, int selection, int direction);
// The adjacent session's selection: its first run in single-run mode, all its runs in all-runs
// mode; no change (the selection itself) when there is none.
int AdjacentSession(const TDataLogStore& store, int selection, int direction, bool allRuns);
// All-runs mode: the cursor moves of "Next run" (the following run's last sample, then its
// first, so that the run is brought into view) and of "Previous run" (the start of the cursor's
// run when the cursor is past it, else the start of the run before). Empty when there is none.
std::vector<int64_t> NextRunCursorMoves(const TDataLogStore& store, const TSelectionRange& range,
                                        int64_t cursor);
std::vector<int64_t> PreviousRunCursorMoves(const TDataLogStore& store,
                                            const TSelectionRange& range, int64_t cursor);
// Toggling "Show all runs": every run of the cursor's session, or the cursor's run (the
// selection's first run when the cursor is outside the data).
int ToggledSelection(const TDataLogStore& store, const TSelectionRange& range, int64_t cursor,
                     bool allRuns);

// The cursor after Left or Right (10 samples, 100 with Ctrl): a cursor off the step's grid
// first snaps to the grid line below (Left) or above (Right). -1: the move leaves the data and
// is ignored.
int64_t CursorKeyMove(int64_t cursor, int64_t sampleCount, bool right, bool large);

// --- read-outs ---

struct TCursorReadout {
  bool inside = false;       // the cursor is on a sample of the data
  std::string time;          // "%.2f" seconds, empty before 0
  std::string run;           // "Run\r%d/%d"
  std::string runStart;      // "  Run start time\r  " ...
  std::string runLength;     // "  Run length\r   " ...
  bool previousRun = false;  // the navigation the cursor's run allows
  bool nextRun = false;
  std::string frontTravel, rearTravel;                  // "%s, %s": mm and per cent
  std::string frontVelocity, rearVelocity;              // "%3.1f mm/s" (empty without velocity)
  std::string frontSpeed, rearSpeed;                    // "%3.1f km/h"
  std::string frontAccel, verticalAccel, lateralAccel;  // g
};

// The read-outs at chart sample `c` of the display (its main file).
TCursorReadout CursorReadout(TRunDisplay& display, int64_t c);

}  // namespace qvl
