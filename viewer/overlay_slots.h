// The overlay side of the main window's file slots: loading a further log file into a new slot,
// stepping an overlay through its runs, removing it, and which of the overlay manager's buttons
// apply to a slot.
#pragma once

#include <string>

#include "core/logdata/data_log_store.h"

namespace qvl {

class TRunDisplay;

// Appends a slot for `path` (a controller and store of its own; the strips get curves for it),
// reads the file into it and draws its run 0. A file that fails to load keeps its slot with what
// was read, drawn as far as it can be, and the failure is raised again. Returns the slot index.
// `progress` hears of the reading and the drawing as one piece of work; when it asks to stop,
// the slot is taken away again and ELoadStopped raised.
int LoadOverlay(TRunDisplay& display, const std::string& path, const TLoadProgress& progress = {});

// Shows run `run` of overlay slot k (ignored outside its runs).
void ShowOverlayRun(TRunDisplay& display, int k, int run);

// Redraws every overlay slot (after the strips were rebuilt).
void RedrawOverlays(TRunDisplay& display);

// The manager's buttons for the entry of slot k.
struct TOverlayButtons {
  bool next = false, previous = false, remove = false;
};
TOverlayButtons OverlayButtons(const TRunDisplay& display, int k);

}  // namespace qvl
