#include "tool/main_window_logic.h"

#include <algorithm>
#include <cmath>

#include "core/device/config_block.h"
#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"
#include "transport/tevraw_comm.h"

namespace qvl {
namespace {

// Rounding as the windows round: halves to even.
int64_t Round(double v) {
  return int64_t(std::nearbyint(v));
}

constexpr int kStateLogging = 2;
constexpr int kStatusFlashFull = 0x10;
constexpr int kStatusSdCard = 0x80;
constexpr size_t kSdFileNumber = 38;
constexpr size_t kRunStart = 34;
constexpr int32_t kRunTimeVersion = 201;
constexpr int kChannelBufferSize = 4096;
constexpr int kSerialSpeed = 57600;

const char kSectionMain[] = "Main";
const char kSectionUnits[] = "DisplayUnits";
const char kSectionComm[] = "Comm";

}  // namespace

// --- units ---

bool IsTravelUnit(int unit) {
  return unit == kUnitMm || unit == kUnitCm || unit == kUnitInch;
}

bool IsSpeedUnit(int unit) {
  return unit == kUnitTps || unit == kUnitKmh || unit == kUnitMph;
}

int UnitDecimals(int unit, int travelDecimals) {
  if (IsTravelUnit(unit)) return travelDecimals + (unit - kUnitMm);
  if (!IsValidUnit(unit)) return 3;
  return kEcuUnits[size_t(unit)].decimals;
}

std::string PanelValueText(TController& controller, int code, int unit, int travelDecimals) {
  // The controller's text with the unit's decimals of this window.
  const std::string text = controller.GetValueText(code, unit);
  if (text.empty() || text == "NaN" || !IsValidUnit(unit)) return text;
  const float v = controller.GetValueIn(code, unit);
  if (std::isnan(v)) return "NaN";
  return FormatFixed(v, 7, UnitDecimals(unit, travelDecimals)) + kEcuUnits[size_t(unit)].suffix;
}

// --- texts ---

int BatteryBarPosition(double percent, int barPosition) {
  if (!std::isfinite(percent)) return 0;
  const int step = percent > 50 ? 5 : percent > 30 ? 2 : 1;
  if (std::fabs(percent - barPosition) <= step) return barPosition;
  return int(std::clamp<int64_t>(step * Round(percent / step), 0, 100));
}

std::string BatteryRemainingText(double percent) {
  const double h = percent * 0.12;
  if (h > 1.4) return Format("%g", double(Round(2 * h)) / 2) + " hour";
  if (h <= 1.0 / 6) return std::to_string(Round(60 * h)) + " min.";
  return std::to_string(Round(60 * h / 5) * 5) + " min.";
}

std::string BatteryText(int barPosition) {
  return Format("%d%%, %s remaining", barPosition, BatteryRemainingText(barPosition).c_str());
}

std::string FlashRemainingText(int64_t minutes) {
  if (minutes < 60) return std::to_string(minutes) + "min.";
  return Format("%lldh%02lldmin.", (long long)(minutes / 60), (long long)(minutes % 60));
}

std::string RunTimeText(int64_t seconds) {
  const long long t = seconds;
  if (t >= 3600) return Format("%lldh%02lldm%02llds", t / 3600, t / 60 % 60, t % 60);
  return Format("%lldm%02llds", t / 60, t % 60);
}

std::string SdHintText(unsigned fileNumber, int runState) {
  if (fileNumber == 0 || fileNumber >= 256) return "No file available for recording";
  if (runState == kStateLogging)
    return Format("Currently recording in file\rLOG%.3u.QVL", fileNumber);
  return Format("Next file to record in:\rLOG%.3u.QVL", fileNumber);
}

std::string FlashUseText(const TFlashFacts& facts, uint32_t startAddress) {
  if (facts.flashSize == 0) return "Flash size = 0";
  if (facts.dataRate == 0) return "No logging configuration defined";
  int64_t used = int64_t(facts.writeAddress) - int64_t(startAddress);
  if (used < 0) used += facts.flashSize;
  const double size = facts.flashSize;
  const int64_t percent = Round(double(used) / size * 100);
  const int64_t minutes = int64_t(std::trunc((size - double(used)) / facts.dataRate / 60));
  return Format(" %lld%% used, %s remaining", (long long)percent,
                FlashRemainingText(minutes).c_str());
}

std::string SessionText(const TFlashFacts& facts, uint32_t sessionStart) {
  if (facts.full) return kFlashOverwriting;
  return FlashUseText(facts, sessionStart);
}

std::string UnsavedText(const TFlashFacts& facts, int64_t markerStart,
                        const std::string& sessionText) {
  if (markerStart == -2) return sessionText;
  if (markerStart == -1) return kFlashOverwriting;
  return FlashUseText(facts, uint32_t(markerStart));
}

TLivePanel ReadLivePanel(TController& c, const TDisplayUnits& units) {
  TLivePanel p;
  const int d = units.travelDecimals;
  p.frontTravel = PanelValueText(c, kParamFrontTravel, units.travelUnit, d);
  p.rearTravel = PanelValueText(c, kParamRearTravel, units.travelUnit, d);
  auto percent = [&](int code, std::string& text, int& gauge) {
    const float v = c.GetValueIn(code, kUnitPercent);
    if (std::isnan(v) || !std::isfinite(v)) {
      text.clear();
      gauge = 0;
      return;
    }
    text = Format("%.0f %%", double(v));
    gauge = int(std::clamp<int64_t>(100 - Round(v), 0, 100));
  };
  percent(kParamFrontTravel, p.frontTravelPercent, p.frontGauge);
  percent(kParamRearTravel, p.rearTravelPercent, p.rearGauge);
  p.frontSpeed = PanelValueText(c, kParamFrontSpeed, units.speedUnit, d);
  p.rearSpeed = PanelValueText(c, kParamRearSpeed, units.speedUnit, d);
  p.verticalAccel = PanelValueText(c, kParamVerticalAccel, kUnitG, d);
  p.frontalAccel = PanelValueText(c, kParamFrontAccel, kUnitG, d);
  p.lateralAccel = PanelValueText(c, kParamLateralAccel, kUnitG, d);
  p.heading = PanelValueText(c, kParamHeading, kUnitDegree, d);
  p.pitch = PanelValueText(c, kParamElevation, kUnitDegree, d);
  p.roll = PanelValueText(c, kParamBank, kUnitDegree, d);
  p.batteryPercent = c.GetValueIn(kParamBatteryVolt, kUnitPercent);

  const auto& block = c.RealtimeBlock();
  const uint8_t status = block[10];
  p.runState = c.LoggingState();
  p.sdPresent = (status & kStatusSdCard) != 0;
  p.sdFileNumber = GetU16(&block[kSdFileNumber]);
  p.sdHint = SdHintText(p.sdFileNumber, p.runState);

  TFlashFacts facts;
  facts.full = (status & kStatusFlashFull) != 0;
  facts.writeAddress = c.FlashWriteAddress();
  facts.flashSize = c.FlashSize();
  facts.dataRate = c.ConfigBlock().I32(cfg::kDataRate);
  p.session = SessionText(facts, c.SessionStartAddress());
  p.unsaved = UnsavedText(facts, c.CurrentSessionStartAddress(), p.session);

  p.runTimeVisible = p.runState == kStateLogging && c.Version() > kRunTimeVersion;
  if (p.runTimeVisible) {
    const uint32_t elapsed = c.LoggerClock() - GetU32(&block[kRunStart]);
    p.runTime = RunTimeText(Round(elapsed * 1.024));
  }
  return p;
}

std::string ConnectionText(ICommChannel* link, bool connected, const std::string& identification) {
  if (!link) return "No communication port defined";
  const std::string port = link->GetPortName();
  if (connected) return identification + " on " + port;
  if (link->IsOpen()) return "No QVL on " + port;
  return "No " + port + " detected";
}

// --- resizing ---

double PanelScale(int designWidth, int designHeight, int width, int height) {
  if (designWidth <= 0 || designHeight <= 0 || width <= 0 || height <= 0) return 1;
  const double r0 = double(designWidth) / designHeight;
  const double r = double(width) / height;
  return r >= r0 ? double(height) / designHeight : double(width) / designWidth;
}

TPanelRect ScaleDesignRect(const TPanelRect& design, int designWidth, int designHeight, int width,
                           int height) {
  if (designWidth <= 0 || designHeight <= 0) return design;
  const double sx = double(width) / designWidth, sy = double(height) / designHeight;
  const int left = int(Round(design.left * sx));
  const int right = int(Round((design.left + design.width) * sx));
  const int top = int(Round(design.top * sy));
  const int bottom = int(Round((design.top + design.height) * sy));
  return {left, top, right - left, bottom - top};
}

// --- port selection ---

std::vector<std::string> PortSelectionEntries(const std::vector<std::string>& serialPorts) {
  std::vector<std::string> entries{kUsbLinkEntry, kWirelessLinkEntry};
  entries.insert(entries.end(), serialPorts.begin(), serialPorts.end());
  return entries;
}

int PortSelectionColumns(int entries) {
  return entries >= 3 ? 2 : 1;
}

int PortSelectionGroupHeight(int entries, int designHeight) {
  return entries >= 5 ? (entries - 1) / 2 * 20 + 30 : designHeight;
}

int PortSelectionIndex(const std::vector<std::string>& entries, ICommChannel* link) {
  if (!link) return -1;
  const std::string cls = link->GetImplementor().className;
  if (cls == kHidChannelClass) return 0;
  if (cls == kTevraWChannelClass) return entries.size() > 1 ? 1 : -1;
  const std::string name = link->GetPortName();
  for (size_t i = 2; i < entries.size(); ++i)
    if (entries[i] == name) return int(i);
  return -1;
}

TLinkChoice LinkForEntry(int index, const std::string& text) {
  if (index == 0) return {"HID", "USB"};
  if (index == 1) return {"TevraW", "TevraW"};
  return {"COM", text};
}

TLinkChoice LinkForStoredEntry(const std::string& text) {
  if (text.empty() || text == kUsbLinkEntry) return LinkForEntry(0, text);
  if (text == kWirelessLinkEntry) return LinkForEntry(1, text);
  return LinkForEntry(2, text);
}

TCommChannelPtr CreateChosenLink(const TLinkChoice& choice) {
  return CreateChannel(choice.typeName, choice.portName);
}

void TryOpenLink(ICommChannel& link) {
  try {
    if (std::string(link.GetImplementor().className) == kHidChannelClass)
      link.Open("USB", "", kChannelBufferSize, int((kUsbVendorId << 16) | kUsbLinkProductId));
    else
      link.Open(link.GetPortName(), "", kChannelBufferSize, kSerialSpeed);
    // The polling thread opens it for good, with its own settings.
    if (link.IsOpen()) link.SetActive(false);
  } catch (const std::exception&) {
    // Open reports through the last error text.
  }
}

// --- settings ---

void TMainWindowSettings::Read(const TIniFile& ini) {
  width = int(ini.ReadInteger(kSectionMain, "Width", 0));
  height = int(ini.ReadInteger(kSectionMain, "Height", 0));
  hasOrigin = ini.ValueExists(kSectionMain, "Left") && ini.ValueExists(kSectionMain, "Top");
  left = int(ini.ReadInteger(kSectionMain, "Left", 0));
  top = int(ini.ReadInteger(kSectionMain, "Top", 0));
  state = int(ini.ReadInteger(kSectionMain, "State", 0));
  if (state != 2) state = 0;  // a minimised window starts normal
  const int travel = int(ini.ReadInteger(kSectionUnits, "SuspensionTravel", kUnitCm));
  units.travelUnit = IsTravelUnit(travel) ? travel : kUnitCm;
  const int speed = int(ini.ReadInteger(kSectionUnits, "Speed", kUnitKmh));
  units.speedUnit = IsSpeedUnit(speed) ? speed : kUnitKmh;
  const long long decimals = ini.ReadInteger(kSectionUnits, "TDecimals", 0);
  units.travelDecimals = decimals > 0 && decimals <= 3 ? int(decimals) : 0;
  commDevice = ini.ReadString(kSectionComm, "CommDevice", "");
}

void TMainWindowSettings::Write(TIniFile& ini) const {
  ini.WriteInteger(kSectionMain, "Width", width);
  ini.WriteInteger(kSectionMain, "Height", height);
  ini.WriteInteger(kSectionMain, "Left", left);
  ini.WriteInteger(kSectionMain, "Top", top);
  ini.WriteInteger(kSectionMain, "State", state);
  ini.WriteInteger(kSectionUnits, "SuspensionTravel", units.travelUnit);
  ini.WriteInteger(kSectionUnits, "Speed", units.speedUnit);
}

void StoreChosenPort(TIniFile& ini, const std::string& entry) {
  ini.WriteString(kSectionComm, "SerialPort", entry);
  ini.WriteString(kSectionComm, "CommDevice", entry);
}

void StoreTravelDecimals(TIniFile& ini, int decimals) {
  ini.WriteInteger(kSectionUnits, "TDecimals", decimals);
}

}  // namespace qvl
