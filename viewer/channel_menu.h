// The channel menu of the viewer's chart (also popped from the "new chart" tool button): its
// fixed strip items, one item per loggable channel (with a sub-item per unit when the channel has
// several), the custom channels of the loaded configuration, and what choosing an item does to
// the strip list.
#pragma once

#include <string>
#include <vector>

#include "viewer/display_entry.h"

namespace qvl {

class TController;
class TDataLogStore;

// Tags of the fixed items; channel items carry their parameter code, unit sub-items their unit
// code and custom channel items 64 + the custom channel's index.
enum : int {
  kMenuViewAll = -10,
  kMenuRemove = -1,
  kMenuMoveUp = -2,
  kMenuMoveDown = -3,
  kMenuExport = -4,
  kMenuSuperpose = -5,
  kMenuSmoothing = -6,
  kMenuLess = -7,
  kMenuMore = -8,
  kMenuOther = -9,
  kMenuRemoveSuperposed = -11,  // "Remove existing" of the "Superpose" submenu
};

struct TMenuItem {
  std::string caption;
  int tag = 0;
  bool visible = true;
  bool enabled = true;
  std::vector<TMenuItem> items;  // a submenu when not empty
};

// Where the menu pops up and what it works on.
struct TMenuContext {
  const TController* controller = nullptr;  // the main file's configuration
  const TDataLogStore* store = nullptr;     // the main file's store, nullptr when none is open
  bool overChart = false;                   // popped over the chart (else from the tool button)
  int strip = -1;                           // the strip under the mouse, -1 when none
  const TStripList* strips = nullptr;
};

// Whether a channel is logged in the configuration (and, for a custom channel, in the store):
// its curve period is not 0.
bool ChannelLogged(const TDisplayEntry& entry, const TController& controller,
                   const TDataLogStore* store);

// The whole menu: the fixed items in their order, then the channel items.
std::vector<TMenuItem> BuildChannelMenu(const TMenuContext& context);
// The item with `tag` in `items`, else in their submenus (level by level), or nullptr.
const TMenuItem* FindMenuItem(const std::vector<TMenuItem>& items, int tag);

// --- effects on the strip list ---

// A chosen channel (unit < 0: its first unit; for channel 17 `unit` is the custom unit byte):
// on strip `strip` it replaces the main channel and unit and drops the superposed channels;
// with strip -1 a new strip is appended. Returns the strip changed.
int ChooseChannel(TStripList& strips, int strip, int channel, int unit);
// "View all logged channels": front and rear travel when their inputs are logged, the three
// accelerations when the X accelerometer's input is, then every custom channel whose input is
// logged; each in its channel's first unit.
TStripList AllLoggedStrips(const TController& controller, const TDataLogStore& store);
// Swaps strip `strip` with its upper (-1) or lower (+1) neighbour; false when there is none.
bool MoveStrip(TStripList& strips, int strip, int direction);
// Adds `channel` as a further curve of the strip, in the main entry's unit byte.
void SuperposeChannel(TStripList& strips, int strip, int channel);

}  // namespace qvl
