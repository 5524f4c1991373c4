// Layouts: named arrangements of the viewer's chart (which strips, in which order, which
// channel and unit each shows, what is superposed on it, its smoothing and relative height),
// kept in the settings file's "Layouts" section. Entry 0 is always the built-in
// "Default layout"; an unnamed working layout holds an arrangement that was edited but not saved
// under a name.
#pragma once

#include <string>
#include <vector>

#include "viewer/display_entry.h"

namespace qvl {

class TIniFile;

// One strip of a layout: 1 to 4 entries (the main channel first, which carries the smoothing
// window; bytes 4-7 of each hold a colour value) and the strip's relative height.
struct TChannelLayout {
  std::vector<TDisplayEntry> entries;
  float height = 1.0f;
  bool operator==(const TChannelLayout&) const = default;
};
using TChartLayout = std::vector<TChannelLayout>;

constexpr const char* kDefaultLayoutName = "Default layout";
constexpr uint32_t kLayoutDefaultColour = 0xFFFFFF;
constexpr int kMaxLayoutCurves = 4;

// "Front travel" and "Rear travel" in per cent, "Vertical accel." in g, "Front speed" in km/h;
// heights 1, nothing superposed, no smoothing.
TChartLayout DefaultLayout();

// A layout of the chart's strips (at most 4 curves per strip are kept) and back.
TChartLayout LayoutFromStrips(const TStripList& strips);
TStripList StripsFromLayout(const TChartLayout& layout);

// The channel of a name in the channel table (0 when none matches), and the unit of a suffix
// for a channel (2 when none matches or the channel does not allow it).
int ChannelOfName(const std::string& name);
int UnitOfSuffix(int channel, const std::string& suffix);

class TLayoutManager {
 public:
  // An empty manager holds only "Default layout".
  TLayoutManager();
  // The program's single manager, loaded from `ini` on the first call.
  static TLayoutManager& Get(const TIniFile& ini);
  // Releases the single manager (at program end).
  static void Release();

  // Replaces the list with what the "Layouts" section holds.
  void Load(const TIniFile& ini);
  // Replaces the "Layouts" section with the named layouts (without "Default layout") and, last
  // and with an empty name, the working layout when there is one.
  void WriteAll(TIniFile& ini) const;

  int Count() const { return int(layouts_.size()); }
  std::vector<std::string> Names() const;
  const std::string& Name(int index) const { return layouts_.at(size_t(index)).name; }
  // Index of a name (ASCII case ignored), -1 when none.
  int IndexOf(const std::string& name) const;
  const TChartLayout& Layout(int index) const { return layouts_.at(size_t(index)).layout; }

  const TChartLayout& WorkingLayout() const { return working_; }
  void SetWorkingLayout(const TChartLayout& layout) { working_ = layout; }
  void ClearWorkingLayout() { working_.clear(); }
  bool HasWorkingLayout() const { return !working_.empty(); }

  // Saves the working layout under `name` (trimmed): an existing name gets its content, a new one
  // is appended; the working layout is then cleared. Returns the layout's index, or -1 (nothing
  // changed) for an empty name or "Default layout".
  int SaveWorkingAs(const std::string& name);

 private:
  struct TNamed {
    std::string name;
    TChartLayout layout;
  };
  std::vector<TNamed> layouts_;
  TChartLayout working_;
};

}  // namespace qvl
