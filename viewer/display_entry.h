// Display entries: what one curve of the viewer's chart shows (a channel in a unit, with a
// smoothing window). They make up the strip list of the main window, the chart lists saved in
// log files and the layouts. Also the selection encoding of runs and sessions and the texts of
// channels and units.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

class TController;

// One display entry, 12 bytes as the files hold it.
#pragma pack(push, 1)
struct TDisplayEntry {
  uint8_t channel = 0;  // parameter code 0..19
  uint8_t unit = 0;     // unit code, or 64 + custom channel index for channel 17
  uint16_t reserved = 0;
  // In stored lists and layouts a colour value; in the flattened working list the strip index
  // in the low byte and the curve index within the strip in the next byte.
  uint32_t colour = 0;
  int32_t smoothing = 0;  // smoothing window in ms; 0 or 1 = none

  bool operator==(const TDisplayEntry&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TDisplayEntry) == 12);

using TDisplayArray = std::vector<TDisplayEntry>;

// The 12 bytes of an entry (little-endian) and back.
std::array<uint8_t, 12> EncodeDisplayEntry(const TDisplayEntry& entry);
TDisplayEntry DecodeDisplayEntry(const uint8_t* bytes);

// Unit byte of the custom channel with index n.
constexpr int kCustomUnitBase = 64;

// Strip index and curve index of an entry of the flattened list.
inline int EntryStrip(const TDisplayEntry& e) {
  return int(e.colour & 0xFF);
}
inline int EntryCurve(const TDisplayEntry& e) {
  return int((e.colour >> 8) & 0xFF);
}

// One strip of the chart: its main entry (which carries the smoothing window) and the channels
// superposed on it, with its relative height.
struct TStrip {
  TDisplayEntry main;
  std::vector<TDisplayEntry> superposed;
  float height = 1.0f;

  int CurveCount() const { return 1 + int(superposed.size()); }
  // Entry of curve c (0 = main).
  const TDisplayEntry& Curve(int c) const { return c == 0 ? main : superposed[size_t(c - 1)]; }
  bool operator==(const TStrip&) const = default;
};
using TStripList = std::vector<TStrip>;

// Walks the strips in order and emits each strip's main entry and then its superposed entries;
// bytes 4-7 of each emitted entry hold the strip index and the curve index, and every entry of a
// strip carries the strip's smoothing window.
TDisplayArray FlattenStrips(const TStripList& strips);
// The strip list of a plain list of entries (one strip per entry, as saved chart lists hold).
TStripList StripsFromEntries(const TDisplayArray& entries);
// One strip per entry of `strips`' main entries, as written in a log file's display list.
TDisplayArray MainEntries(const TStripList& strips);

// --- selection encoding ---
// A non-negative selection is a run index; a negative value v means every run of session -v-1.
inline int SessionSelection(int session) {
  return ~session;
}
inline bool IsSessionSelection(int selection) {
  return selection < 0;
}
inline int SelectedSession(int selection) {
  return ~selection;
}

// --- channel and unit texts ---
// The parameter table's name of a channel ("Front travel"); "" outside 0..19.
std::string ChannelName(int channel);
// The unit table's suffix ("%", " mm"...); "" outside 0..21.
std::string UnitSuffix(int unit);
// The first (lowest) unit a channel allows; 0 when it allows none.
int FirstUnit(int channel);
// The name of an entry's channel: for a custom channel the custom sensor's name, or "Ch." and
// the index when the controller has no such custom channel.
std::string EntryName(const TDisplayEntry& entry, const TController* controller);
// The unit suffix of an entry as the unit table gives it (" V", "%"), written straight after a
// number (histogram labels); for a custom channel the custom sensor's own units.
std::string EntryUnitSuffix(const TDisplayEntry& entry, const TController* controller);
// The unit text of an entry: the unit suffix with a leading blank dropped; for a custom channel
// the custom sensor's own units.
std::string EntryUnitText(const TDisplayEntry& entry, const TController* controller);
// The strip title "%s (%s)": channel name and unit suffix.
std::string EntryTitle(const TDisplayEntry& entry, const TController* controller);

// The smoothing window after "More" and "Less": with w = d * 10^e (leading digit d), More gives
// 2 * 10^e for d <= 1, 5 * 10^e for d of 2 or 3, else 10^(e+1); Less gives 5 * 10^e for d >= 8,
// 2 * 10^e for d of 4 to 7, 10^e for d of 2 or 3, and 5 * 10^(e-1) for d <= 1 when e > 0. Less
// leaves windows of 1 ms and less (and 1 to 9 with a leading 1) unchanged.
int MoreSmoothing(int window);
int LessSmoothing(int window);

// Curve colour of curve `curve` of file slot `slot` (Windows colour value 0x00BBGGRR); grey
// beyond the third slot or the fourth curve.
uint32_t CurveColour(int slot, int curve);

}  // namespace qvl
