#include "cli/log_view.h"

#include <filesystem>

#include "core/device/ecu_types.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"

namespace qvl::cli {

void OpenForView(TRunDisplay& display, const TArgs& args) {
  if (args.positional.empty()) throw Exception("a log file is needed");
  OpenLogFile(display.MainSlot(), args.positional[0]);
}

void WarnOfDamagedEnd(const TDataLogStore& store, const std::string& file, std::ostream& err) {
  if (!store.EndDamaged()) return;
  err << "qvl: warning: the end of " << file << " is damaged; its data is shown up to "
      << FormatFixed(store.RunDuration(0) / 1000.0, 7, 3) << " s, where the intact part ends\n";
}

int SelectionOf(const TArgs& args, const TDataLogStore& store) {
  if (args.Has("--run") == args.Has("--session"))
    throw Exception("give either --run R or --session S");
  if (args.Has("--run")) {
    long long run = args.GetInt("--run", 0);
    if (run < 0 || run >= store.RunCount())
      throw Exception(
          Format("run %lld does not exist (the file has %d runs)", run, store.RunCount()));
    return int(run);
  }
  long long session = args.GetInt("--session", 0);
  if (session < 0 || session >= store.SessionCount())
    throw Exception(Format("session %lld does not exist (the file has %d sessions)", session,
                           store.SessionCount()));
  return SessionSelection(int(session));
}

TDisplayEntry ParseStripSpec(const std::string& spec, const TController& controller) {
  std::string name = spec, unit, smoothing;
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    unit = name.substr(colon + 1);
    name = name.substr(0, colon);
    colon = unit.find(':');
    if (colon != std::string::npos) {
      smoothing = unit.substr(colon + 1);
      unit = unit.substr(0, colon);
    }
  }
  name = TrimText(name);
  unit = TrimText(unit);
  TDisplayEntry e;
  int channel = -1;
  for (int c = 1; c < kParamCount; ++c)
    if (SameText(name, kEcuParams[size_t(c)].name)) channel = c;
  if (channel == kParamCustom) channel = -1;
  if (channel < 0) {
    const TSensors& custom = controller.CustomSensors();
    for (size_t n = 0; n < custom.size(); ++n)
      if (custom[n] && SameText(name, custom[n]->DisplayName())) {
        e.channel = kParamCustom;
        e.unit = uint8_t(kCustomUnitBase + n);
        break;
      }
    if (e.channel != kParamCustom) throw Exception("unknown channel '" + name + "'");
  } else {
    e.channel = uint8_t(channel);
    e.unit = uint8_t(FirstUnit(channel));
    if (!unit.empty()) {
      int found = -1;
      for (int u = 0; u < kUnitCount && found < 0; ++u)
        if (UnitAllowed(channel, u) && SameText(unit, TrimText(kEcuUnits[size_t(u)].suffix)))
          found = u;
      if (found < 0) throw Exception("channel '" + name + "' has no unit '" + unit + "'");
      e.unit = uint8_t(found);
    }
  }
  if (!smoothing.empty()) {
    long long ms;
    if (!TryParseInt(smoothing, ms) || ms < 0 || ms > 100000000)
      throw Exception("bad smoothing window '" + smoothing + "'");
    e.smoothing = int32_t(ms);
  }
  return e;
}

TStripList StripsOf(const TArgs& args, const TController& controller) {
  TStripList strips;
  for (const std::string& spec : args.GetAll("--strip"))
    strips.push_back(TStrip{ParseStripSpec(spec, controller), {}, 1.0f});
  return strips;
}

TAnalysisSettings SettingsOf(const TArgs& args) {
  if (!args.Has("--settings")) return TAnalysisSettings{};
  const std::string path = args.Get("--settings");
  if (!std::filesystem::exists(path)) throw EFileError("Cannot open file \"" + path + "\"");
  TIniFile ini;
  ini.LoadFromFile(path);
  return ReadAnalysisSettings(ini);
}

}  // namespace qvl::cli
