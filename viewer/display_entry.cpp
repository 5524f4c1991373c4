#include "viewer/display_entry.h"

#include <algorithm>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/util/endian.h"

namespace qvl {

std::array<uint8_t, 12> EncodeDisplayEntry(const TDisplayEntry& entry) {
  std::array<uint8_t, 12> b{};
  b[0] = entry.channel;
  b[1] = entry.unit;
  PutU16(&b[2], entry.reserved);
  PutU32(&b[4], entry.colour);
  PutI32(&b[8], entry.smoothing);
  return b;
}

TDisplayEntry DecodeDisplayEntry(const uint8_t* bytes) {
  TDisplayEntry e;
  e.channel = bytes[0];
  e.unit = bytes[1];
  e.reserved = GetU16(bytes + 2);
  e.colour = GetU32(bytes + 4);
  e.smoothing = GetI32(bytes + 8);
  return e;
}

TDisplayArray FlattenStrips(const TStripList& strips) {
  TDisplayArray flat;
  for (size_t s = 0; s < strips.size(); ++s) {
    const TStrip& strip = strips[s];
    for (int c = 0; c < strip.CurveCount(); ++c) {
      TDisplayEntry e = strip.Curve(c);
      e.colour = uint32_t(s & 0xFF) | (uint32_t(c & 0xFF) << 8);
      e.smoothing = strip.main.smoothing;
      flat.push_back(e);
    }
  }
  return flat;
}

TStripList StripsFromEntries(const TDisplayArray& entries) {
  TStripList strips;
  for (const TDisplayEntry& e : entries) strips.push_back(TStrip{e, {}, 1.0f});
  return strips;
}

TDisplayArray MainEntries(const TStripList& strips) {
  TDisplayArray out;
  for (const TStrip& s : strips) out.push_back(s.main);
  return out;
}

std::string ChannelName(int channel) {
  return IsValidParam(channel) ? kEcuParams[size_t(channel)].name : "";
}

std::string UnitSuffix(int unit) {
  return IsValidUnit(unit) ? kEcuUnits[size_t(unit)].suffix : "";
}

int FirstUnit(int channel) {
  if (!IsValidParam(channel)) return 0;
  uint32_t units = kEcuParams[size_t(channel)].units;
  for (int u = 0; u < kUnitCount; ++u)
    if (units & (1u << u)) return u;
  return 0;
}

namespace {

const TSensor* CustomSensorOf(const TDisplayEntry& entry, const TController* controller) {
  if (!controller || entry.channel != kParamCustom) return nullptr;
  int n = int(entry.unit) - kCustomUnitBase;
  const TSensors& sensors = controller->CustomSensors();
  if (n < 0 || size_t(n) >= sensors.size()) return nullptr;
  return sensors[size_t(n)].get();
}

}  // namespace

std::string EntryName(const TDisplayEntry& entry, const TController* controller) {
  if (entry.channel != kParamCustom) return ChannelName(entry.channel);
  if (const TSensor* s = CustomSensorOf(entry, controller)) return s->DisplayName();
  return "Ch." + std::to_string(int(entry.unit) - kCustomUnitBase);
}

std::string EntryUnitSuffix(const TDisplayEntry& entry, const TController* controller) {
  if (entry.channel == kParamCustom) {
    const TSensor* s = CustomSensorOf(entry, controller);
    return s ? s->UnitsText() : "";
  }
  return UnitSuffix(entry.unit);
}

std::string EntryUnitText(const TDisplayEntry& entry, const TController* controller) {
  std::string text = EntryUnitSuffix(entry, controller);
  if (entry.channel != kParamCustom && !text.empty() && text[0] == ' ') text.erase(0, 1);
  return text;
}

std::string EntryTitle(const TDisplayEntry& entry, const TController* controller) {
  return EntryName(entry, controller) + " (" + EntryUnitText(entry, controller) + ")";
}

namespace {

// w = d * 10^e.
void LeadingDigit(int w, int& d, int& power) {
  power = 1;
  while (w / power >= 10) power *= 10;
  d = w / power;
}

}  // namespace

int MoreSmoothing(int window) {
  if (window >= 100000000) return window;
  int d, power;
  LeadingDigit(std::max(window, 0), d, power);
  if (d <= 1) return 2 * power;
  if (d <= 3) return 5 * power;
  return 10 * power;
}

int LessSmoothing(int window) {
  if (window <= 1) return window;
  int d, power;
  LeadingDigit(window, d, power);
  if (d >= 8) return 5 * power;
  if (d >= 4) return 2 * power;
  if (d >= 2) return power;
  return power > 1 ? 5 * power / 10 : window;
}

uint32_t CurveColour(int slot, int curve) {
  static constexpr uint32_t kColours[3][4] = {{0x00FFFF, 0x008000, 0xFF0000, 0x0000FF},
                                              {0x30A0A0, 0x30A030, 0xA03030, 0x3030A0},
                                              {0x408080, 0x408040, 0x804040, 0x404080}};
  if (slot < 0 || slot > 2 || curve < 0 || curve > 3) return 0x808080;
  return kColours[slot][curve];
}

}  // namespace qvl
