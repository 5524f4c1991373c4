#include "viewer/channel_menu.h"

#include <utility>

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/logdata/data_log_store.h"
#include "core/util/number_format.h"
#include "viewer/run_display.h"

namespace qvl {
namespace {

std::string TrimmedSuffix(int unit) {
  std::string s = UnitSuffix(unit);
  if (!s.empty() && s[0] == ' ') s.erase(0, 1);
  return s;
}

int UnitCount(int channel) {
  int n = 0;
  for (int u = 0; u < kUnitCount; ++u) n += UnitAllowed(channel, u) ? 1 : 0;
  return n;
}

TDisplayEntry EntryOf(int channel, int unit) {
  TDisplayEntry e;
  e.channel = uint8_t(channel);
  e.unit = uint8_t(unit);
  return e;
}

bool InputLogged(const TSensor* sensor, const TDataLogStore& store) {
  return sensor && sensor->Channel >= 0 && store.ChannelGroup(sensor->Channel) >= 0;
}

}  // namespace

bool ChannelLogged(const TDisplayEntry& entry, const TController& controller,
                   const TDataLogStore* store) {
  if (store) return ChannelPeriod(entry, controller, *store) > 0;
  if (entry.channel == kParamCustom) return false;
  const TDataLogStore empty;
  return ChannelPeriod(entry, controller, empty) > 0;
}

std::vector<TMenuItem> BuildChannelMenu(const TMenuContext& c) {
  const TStripList none;
  const TStripList& strips = c.strips ? *c.strips : none;
  const bool onStrip = c.overChart && c.strip >= 0 && size_t(c.strip) < strips.size();
  std::vector<TMenuItem> menu;
  menu.push_back({"View all logged channels", kMenuViewAll, !c.overChart, c.store != nullptr, {}});
  menu.push_back({"Remove", kMenuRemove, c.overChart, onStrip, {}});
  menu.push_back({"Move up", kMenuMoveUp, c.overChart, onStrip && c.strip > 0, {}});
  menu.push_back({"Move down",
                  kMenuMoveDown,
                  c.overChart,
                  onStrip && size_t(c.strip) + 1 < strips.size(),
                  {}});
  menu.push_back({"Export...", kMenuExport, c.overChart, onStrip, {}});

  TMenuItem superpose{"Superpose", kMenuSuperpose, c.overChart, onStrip, {}};
  TMenuItem smoothing{"Smoothing", kMenuSmoothing, c.overChart, onStrip, {}};
  if (onStrip) {
    const TStrip& s = strips[size_t(c.strip)];
    if (!s.superposed.empty())
      superpose.items.push_back({"Remove existing", kMenuRemoveSuperposed, true, true, {}});
    if (s.main.channel < kParamCount) {
      const uint32_t sources = kEcuParams[s.main.channel].sources;
      for (int code = 0; code < kParamCount; ++code)
        if ((sources >> code) & 1) {
          const bool logged =
              c.controller && ChannelLogged(EntryOf(code, s.main.unit), *c.controller, c.store);
          superpose.items.push_back({ChannelName(code), code, true, logged, {}});
        }
    }
    const int w = s.main.smoothing;
    smoothing.items.push_back(
        {Format("Less (%d ms)", LessSmoothing(w)), kMenuLess, true, w > 1, {}});
    smoothing.items.push_back(
        {Format("More (%d ms)", MoreSmoothing(w)), kMenuMore, true, true, {}});
    smoothing.items.push_back({"Other...", kMenuOther, true, true, {}});
  }
  superpose.enabled = onStrip && !superpose.items.empty();
  menu.push_back(std::move(superpose));
  menu.push_back(std::move(smoothing));

  for (int code = 1; code < kParamCount; ++code) {
    if (!kEcuParams[size_t(code)].flag) continue;
    TMenuItem item{ChannelName(code), code, true, false, {}};
    if (code == kParamCustom) {
      if (c.controller) {
        const TSensors& custom = c.controller->CustomSensors();
        for (size_t n = 0; n < custom.size(); ++n) {
          const TSensor* s = custom[n].get();
          if (!s || s->DisplayName().empty() || s->Channel < 0) continue;
          const int unit = kCustomUnitBase + int(n);
          const bool logged = c.store && ChannelLogged(EntryOf(code, unit), *c.controller, c.store);
          item.items.push_back(
              {s->DisplayName() + " (" + s->UnitsText() + ")", unit, true, logged, {}});
          item.enabled = item.enabled || logged;
        }
      }
    } else {
      item.enabled =
          c.controller && ChannelLogged(EntryOf(code, FirstUnit(code)), *c.controller, c.store);
      if (UnitCount(code) == 1) {
        item.caption += " (" + TrimmedSuffix(FirstUnit(code)) + ")";
      } else {
        for (int u = 0; u < kUnitCount; ++u)
          if (UnitAllowed(code, u)) item.items.push_back({TrimmedSuffix(u), u, true, true, {}});
      }
    }
    menu.push_back(std::move(item));
  }
  return menu;
}

const TMenuItem* FindMenuItem(const std::vector<TMenuItem>& items, int tag) {
  // Items of a level before those of its submenus: unit tags repeat channel codes.
  for (const TMenuItem& i : items)
    if (i.tag == tag) return &i;
  for (const TMenuItem& i : items)
    if (const TMenuItem* sub = FindMenuItem(i.items, tag)) return sub;
  return nullptr;
}

int ChooseChannel(TStripList& strips, int strip, int channel, int unit) {
  if (unit < 0) unit = FirstUnit(channel);
  if (strip < 0 || size_t(strip) >= strips.size()) {
    strips.push_back(TStrip{});
    strip = int(strips.size()) - 1;
  }
  TStrip& s = strips[size_t(strip)];
  s.main.channel = uint8_t(channel);
  s.main.unit = uint8_t(unit);
  s.superposed.clear();
  return strip;
}

TStripList AllLoggedStrips(const TController& controller, const TDataLogStore& store) {
  TStripList strips;
  auto add = [&](int channel, int unit) {
    TStrip s;
    s.main = EntryOf(channel, unit);
    strips.push_back(s);
  };
  if (InputLogged(controller.FixedSensor(kSlotFrontTravel), store))
    add(kParamFrontTravel, FirstUnit(kParamFrontTravel));
  if (InputLogged(controller.FixedSensor(kSlotRearTravel), store))
    add(kParamRearTravel, FirstUnit(kParamRearTravel));
  if (InputLogged(controller.FixedSensor(kSlotXAccel), store))
    for (int channel : {kParamVerticalAccel, kParamFrontAccel, kParamLateralAccel})
      add(channel, FirstUnit(channel));
  const TSensors& custom = controller.CustomSensors();
  for (size_t n = 0; n < custom.size(); ++n)
    if (InputLogged(custom[n].get(), store)) add(kParamCustom, kCustomUnitBase + int(n));
  return strips;
}

bool MoveStrip(TStripList& strips, int strip, int direction) {
  const int other = strip + direction;
  if (strip < 0 || other < 0 || size_t(strip) >= strips.size() || size_t(other) >= strips.size())
    return false;
  std::swap(strips[size_t(strip)], strips[size_t(other)]);
  return true;
}

void SuperposeChannel(TStripList& strips, int strip, int channel) {
  TStrip& s = strips.at(size_t(strip));
  TDisplayEntry e = EntryOf(channel, s.main.unit);
  e.smoothing = s.main.smoothing;
  s.superposed.push_back(e);
}

}  // namespace qvl
