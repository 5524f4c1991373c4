#include "viewer/layout_manager.h"

#include <algorithm>
#include <memory>

#include "core/device/ecu_types.h"
#include "core/util/ini_file.h"
#include "viewer/viewer_settings.h"

namespace qvl {
namespace {

std::string Suffix(std::initializer_list<int> numbers) {
  std::string s;
  for (int n : numbers) {
    if (!s.empty()) s += "_";
    s += std::to_string(n);
  }
  return s;
}

TDisplayEntry Entry(int channel, int unit) {
  TDisplayEntry e;
  e.channel = uint8_t(channel);
  e.unit = uint8_t(unit);
  e.colour = kLayoutDefaultColour;
  return e;
}

std::unique_ptr<TLayoutManager>& Single() {
  static std::unique_ptr<TLayoutManager> manager;
  return manager;
}

}  // namespace

TChartLayout DefaultLayout() {
  TChartLayout layout;
  for (auto [channel, unit] :
       {std::pair{kParamFrontTravel, kUnitPercent}, std::pair{kParamRearTravel, kUnitPercent},
        std::pair{kParamVerticalAccel, kUnitG}, std::pair{kParamFrontSpeed, kUnitKmh}})
    layout.push_back(TChannelLayout{{Entry(channel, unit)}, 1.0f});
  return layout;
}

TChartLayout LayoutFromStrips(const TStripList& strips) {
  TChartLayout layout;
  for (const TStrip& s : strips) {
    TChannelLayout c;
    c.height = s.height;
    for (int k = 0; k < s.CurveCount() && k < kMaxLayoutCurves; ++k)
      c.entries.push_back(s.Curve(k));
    c.entries[0].smoothing = s.main.smoothing;
    for (size_t k = 1; k < c.entries.size(); ++k) c.entries[k].smoothing = 0;
    layout.push_back(std::move(c));
  }
  return layout;
}

TStripList StripsFromLayout(const TChartLayout& layout) {
  TStripList strips;
  for (const TChannelLayout& c : layout) {
    if (c.entries.empty()) continue;
    TStrip s;
    s.main = c.entries[0];
    s.height = c.height;
    s.superposed.assign(c.entries.begin() + 1, c.entries.end());
    strips.push_back(std::move(s));
  }
  return strips;
}

int ChannelOfName(const std::string& name) {
  for (int c = 0; c < kParamCount; ++c)
    if (name == kEcuParams[size_t(c)].name) return c;
  return kParamNone;
}

int UnitOfSuffix(int channel, const std::string& suffix) {
  for (int u = 0; u < kUnitCount; ++u)
    if (suffix == kEcuUnits[size_t(u)].suffix) return UnitAllowed(channel, u) ? u : kUnitPercent;
  return kUnitPercent;
}

TLayoutManager::TLayoutManager() {
  layouts_.push_back(TNamed{kDefaultLayoutName, DefaultLayout()});
}

TLayoutManager& TLayoutManager::Get(const TIniFile& ini) {
  auto& single = Single();
  if (!single) {
    single = std::make_unique<TLayoutManager>();
    single->Load(ini);
  }
  return *single;
}

void TLayoutManager::Release() {
  Single().reset();
}

void TLayoutManager::Load(const TIniFile& ini) {
  layouts_.clear();
  working_.clear();
  layouts_.push_back(TNamed{kDefaultLayoutName, DefaultLayout()});
  const char* sec = ini::kLayouts;
  long long count = std::max(0LL, ini.ReadInteger(sec, "NLayouts", 0));
  for (long long i = 1; i <= count; ++i) {
    int li = int(i);
    std::string name = TrimText(ini.ReadString(sec, "LayoutName" + Suffix({li}), ""));
    long long strips = std::max(1LL, ini.ReadInteger(sec, "NChannels" + Suffix({li}), 4));
    // A damaged count must not make the program allocate without end.
    strips = std::min(strips, 256LL);
    TChartLayout layout;
    for (int j = 0; j < int(strips); ++j) {
      TChannelLayout c;
      c.height = float(ini.ReadFloat(sec, "ChannelHeight" + Suffix({li, j}), 1.0));
      long long curves = std::clamp(ini.ReadInteger(sec, "NCurves" + Suffix({li, j}), 1), 1LL,
                                    (long long)kMaxLayoutCurves);
      for (int k = 0; k < int(curves); ++k) {
        TDisplayEntry e;
        e.channel = uint8_t(ChannelOfName(ini.ReadString(sec, "Param" + Suffix({li, j, k}), "")));
        if (e.channel == kParamCustom)
          e.unit = uint8_t(ini.ReadInteger(sec, "Units" + Suffix({li, j, k}), -1));
        else
          e.unit = uint8_t(
              UnitOfSuffix(e.channel, ini.ReadString(sec, "Units" + Suffix({li, j, k}), "")));
        e.colour =
            uint32_t(ini.ReadInteger(sec, "Color" + Suffix({li, j, k}), kLayoutDefaultColour));
        c.entries.push_back(e);
      }
      c.entries[0].smoothing = int32_t(ini.ReadInteger(sec, "Smoothing" + Suffix({li, j}), 0));
      layout.push_back(std::move(c));
    }
    if (!name.empty())
      layouts_.push_back(TNamed{name, std::move(layout)});
    else
      working_ = std::move(layout);
  }
}

void TLayoutManager::WriteAll(TIniFile& ini) const {
  const char* sec = ini::kLayouts;
  ini.EraseSection(sec);
  std::vector<const TNamed*> written;
  for (size_t i = 1; i < layouts_.size(); ++i) written.push_back(&layouts_[i]);
  TNamed working{"", working_};
  if (HasWorkingLayout()) written.push_back(&working);
  ini.WriteInteger(sec, "NLayouts", (long long)written.size());
  for (size_t n = 0; n < written.size(); ++n) {
    int li = int(n + 1);
    const TNamed& l = *written[n];
    ini.WriteString(sec, "LayoutName" + Suffix({li}), l.name);
    ini.WriteInteger(sec, "NChannels" + Suffix({li}), (long long)l.layout.size());
    for (size_t j = 0; j < l.layout.size(); ++j) {
      const TChannelLayout& c = l.layout[j];
      int lj = int(j);
      ini.WriteSingle(sec, "ChannelHeight" + Suffix({li, lj}), c.height);
      ini.WriteInteger(sec, "Smoothing" + Suffix({li, lj}),
                       c.entries.empty() ? 0 : c.entries[0].smoothing);
      ini.WriteInteger(sec, "NCurves" + Suffix({li, lj}), (long long)c.entries.size());
      for (size_t k = 0; k < c.entries.size(); ++k) {
        const TDisplayEntry& e = c.entries[k];
        int lk = int(k);
        ini.WriteString(sec, "Param" + Suffix({li, lj, lk}), ChannelName(e.channel));
        if (e.channel == kParamCustom)
          ini.WriteInteger(sec, "Units" + Suffix({li, lj, lk}), e.unit);
        else
          ini.WriteString(sec, "Units" + Suffix({li, lj, lk}), UnitSuffix(e.unit));
        ini.WriteInteger(sec, "Color" + Suffix({li, lj, lk}), e.colour);
      }
    }
  }
}

std::vector<std::string> TLayoutManager::Names() const {
  std::vector<std::string> names;
  for (const TNamed& l : layouts_) names.push_back(l.name);
  return names;
}

int TLayoutManager::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < layouts_.size(); ++i)
    if (SameText(layouts_[i].name, name)) return int(i);
  return -1;
}

int TLayoutManager::SaveWorkingAs(const std::string& name) {
  std::string trimmed = TrimText(name);
  if (trimmed.empty()) return -1;
  int index = IndexOf(trimmed);
  // The built-in layout is never replaced (it is never written either).
  if (index == 0) return -1;
  if (index > 0) {
    layouts_[size_t(index)].layout = working_;
  } else {
    layouts_.push_back(TNamed{trimmed, working_});
    index = int(layouts_.size()) - 1;
  }
  working_.clear();
  return index;
}

}  // namespace qvl
