#include "viewer/overlay_slots.h"

#include <memory>

#include "viewer/run_display.h"

namespace qvl {

int LoadOverlay(TRunDisplay& display, const std::string& path, const TLoadProgress& progress) {
  auto slot = std::make_unique<TFileSlot>();
  slot->path = path;
  const int k = display.AddSlot(std::move(slot));
  try {
    OpenLogFile(display.Slot(k), path, false, ProgressPart(progress, 0, kLoadReadShare));
    display.DisplayOverlay(k, ProgressPart(progress, kLoadReadShare, 1));
  } catch (const ELoadStopped&) {
    display.RemoveSlot(k);
    throw;
  } catch (...) {
    // Whatever was read stays in the slot and is drawn.
    try {
      display.DisplayOverlay(k);
    } catch (...) {
    }
    throw;
  }
  return k;
}

void ShowOverlayRun(TRunDisplay& display, int k, int run) {
  if (k <= 0 || k >= display.SlotCount()) return;
  TFileSlot& slot = display.Slot(k);
  if (!slot.store || run < 0 || run >= slot.store->RunCount()) return;
  slot.selection = run;
  display.DisplayOverlay(k);
}

void RedrawOverlays(TRunDisplay& display) {
  for (int k = 1; k < display.SlotCount(); ++k) display.DisplayOverlay(k);
}

TOverlayButtons OverlayButtons(const TRunDisplay& display, int k) {
  TOverlayButtons b;
  if (k <= 0 || k >= display.SlotCount()) return b;
  const TFileSlot& slot = display.Slot(k);
  const int runs = slot.store ? slot.store->RunCount() : 0;
  b.remove = true;
  b.next = slot.selection < runs - 1;
  b.previous = slot.selection > 0;
  return b;
}

}  // namespace qvl
