// What the logger tool's main window shows and keeps, without widgets: the texts of the
// run-state panel (travel, speed, battery, flash use, SD card, run time), the connection text
// of the status bar, the resizing rule of the panel, the port selection entries and the
// window's settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"

namespace qvl {

class TController;
class TIniFile;

// --- units ---

// The travel and speed units the window offers, and the travel decimals (0 to 3).
struct TDisplayUnits {
  int travelUnit = 16;  // 15 mm, 16 cm, 17 inches
  int speedUnit = 14;   // 12 tps, 14 km/h, 18 mi/h
  int travelDecimals = 0;
};

bool IsTravelUnit(int unit);
bool IsSpeedUnit(int unit);
// Decimals of a unit: the travel units take d, d + 1 and d + 2 for travel decimals d; the
// other units their table's decimals.
int UnitDecimals(int unit, int travelDecimals);
// A value as the panel shows it: fixed notation with 7 significant digits and the unit's
// decimals, followed by the suffix; empty when unavailable, "NaN" on a failure.
std::string PanelValueText(TController& controller, int code, int unit, int travelDecimals);

// --- texts ---

// The battery bar's new position for a capacity of `percent`: moved to the nearest multiple
// of the step (5 above 50 %, 2 above 30 %, else 1) only when it is further than one step away;
// 0 for an unavailable capacity.
int BatteryBarPosition(double percent, int barPosition);
// "12 hour", "70 min.", "7 min.": what a battery at `percent` has left (12 hours when full).
std::string BatteryRemainingText(double percent);
// "%d%%, %s remaining" for a bar position.
std::string BatteryText(int barPosition);
// "59min.", "2h05min.".
std::string FlashRemainingText(int64_t minutes);
// "7m05s", "1h02m09s".
std::string RunTimeText(int64_t seconds);
// The SD label's hint for the reported file number and run state.
std::string SdHintText(unsigned fileNumber, int runState);

// The flash use of the current session: write address against a start address in the ring.
struct TFlashFacts {
  bool full = false;  // the logger reports the flash full and overwriting
  uint32_t writeAddress = 0;
  uint32_t flashSize = 0;
  int32_t dataRate = 0;  // bytes per second of the logging configuration
};
constexpr const char kFlashOverwriting[] = "100% full (overwriting)";
// " %d%% used, %s remaining" for the flash used since startAddress (wrapping at the ring's
// end); "No logging configuration defined" or "Flash size = 0" when it cannot be computed.
std::string FlashUseText(const TFlashFacts& facts, uint32_t startAddress);
std::string SessionText(const TFlashFacts& facts, uint32_t sessionStart);
// The data not yet downloaded: from the last session marker's start address, or its codes
// -2 (unknown: the session text) and -1 (overwritten).
std::string UnsavedText(const TFlashFacts& facts, int64_t markerStart,
                        const std::string& sessionText);

// Everything the run-state panel shows after a poll.
struct TLivePanel {
  std::string frontTravel, rearTravel;
  std::string frontTravelPercent, rearTravelPercent;
  int frontGauge = 0, rearGauge = 0;
  std::string frontSpeed, rearSpeed;
  std::string verticalAccel, frontalAccel, lateralAccel;
  std::string heading, pitch, roll;
  double batteryPercent = 0;  // NaN when unavailable
  bool sdPresent = false;
  unsigned sdFileNumber = 0;
  std::string sdHint;
  std::string session, unsaved;
  int runState = 0;
  bool runTimeVisible = false;
  std::string runTime;
};
TLivePanel ReadLivePanel(TController& controller, const TDisplayUnits& units);

// The status bar's connection text: "<identification> on <port>", "No QVL on <port>",
// "No <port> detected", or "No communication port defined" without a link.
std::string ConnectionText(ICommChannel* link, bool connected, const std::string& identification);

// --- resizing ---

struct TPanelRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const TPanelRect&) const = default;
};
// The font scale of the panel: the smaller of the height and width ratios to the design size.
double PanelScale(int designWidth, int designHeight, int width, int height);
// A control's design rectangle stretched with the panel: left and right by the width ratio,
// top and bottom by the height ratio, each rounded.
TPanelRect ScaleDesignRect(const TPanelRect& design, int designWidth, int designHeight, int width,
                           int height);

// --- port selection ---

constexpr const char kUsbLinkEntry[] = "Tevra";
constexpr const char kWirelessLinkEntry[] = "TevraW";
// The dialog's entries: the USB link adapter, the wireless adapter, then the serial ports.
std::vector<std::string> PortSelectionEntries(const std::vector<std::string>& serialPorts);
// Columns of the radio group: 2 from three entries on.
int PortSelectionColumns(int entries);
// Height of the radio group from five entries on ((entries - 1) div 2 x 20 + 30), else
// designHeight.
int PortSelectionGroupHeight(int entries, int designHeight);
// The entry of the link in use: by its class for the two USB adapters, else by its port name;
// -1 when none matches.
int PortSelectionIndex(const std::vector<std::string>& entries, ICommChannel* link);

// The registry type and port name of the link of an entry chosen by position: the first the
// USB link ("HID", "USB"), the second the wireless adapter ("TevraW", "TevraW"), any other a
// serial port named by the entry.
struct TLinkChoice {
  std::string typeName, portName;
  bool operator==(const TLinkChoice&) const = default;
};
TLinkChoice LinkForEntry(int index, const std::string& text);
// The link of a stored entry text ("Comm"/"CommDevice"); the USB link when nothing is stored.
TLinkChoice LinkForStoredEntry(const std::string& text);
// The link of a choice from the channel registry, not opened; nullptr for an unknown type.
TCommChannelPtr CreateChosenLink(const TLinkChoice& choice);
// Opens a link once as the polling thread would and closes it again, so that a link that cannot
// be opened is told at once by its last error text (empty when it opened).
void TryOpenLink(ICommChannel& link);

// --- settings ---

// The main window's keys: "Main" placement, "DisplayUnits", "Comm".
struct TMainWindowSettings {
  int width = 0, height = 0;  // 0: the design size, centred
  int left = 0, top = 0;
  bool hasOrigin = false;
  int state = 0;  // 0 normal, 1 minimised, 2 maximised; 1 is read as 0
  TDisplayUnits units;
  std::string commDevice;

  void Read(const TIniFile& ini);
  // Placement and units, as stored at close.
  void Write(TIniFile& ini) const;
};
// "Comm"/"SerialPort" and "Comm"/"CommDevice" of a chosen entry.
void StoreChosenPort(TIniFile& ini, const std::string& entry);
// "DisplayUnits"/"TDecimals".
void StoreTravelDecimals(TIniFile& ini, int decimals);

}  // namespace qvl
