// The viewer's settings file (INI format, held in memory while the program runs) and the
// analysis settings that drive bottoming and wheel lock detection, with the logic of the
// configuration dialog that edits them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/util/ini_file.h"

namespace qvl {

// Section names of the viewer's settings file.
namespace ini {
inline constexpr const char* kMain = "Main";
inline constexpr const char* kHistory = "History";
inline constexpr const char* kConfig = "Config";
inline constexpr const char* kHistograms = "Histograms";
inline constexpr const char* kLayouts = "Layouts";
inline constexpr const char* kNotes = "Notes";
inline constexpr const char* kVideoForm = "VideoForm";
}  // namespace ini

// The analysis settings record, compared and copied as one 29-byte block.
#pragma pack(push, 1)
struct TAnalysisSettings {
  float frontSoftLimit = 0.8f;  // fractions of the travel
  float frontHardLimit = 0.9f;
  float rearSoftLimit = 0.8f;
  float rearHardLimit = 0.9f;
  float speedRatio = 0.6f;  // FRSpeedFactor
  float minSpeed = 10.0f;   // km/h
  float maxDecel = 50.0f;   // km/h per second
  uint8_t invertedSuspension = 0;
};
#pragma pack(pop)
static_assert(sizeof(TAnalysisSettings) == 29);

bool SameSettings(const TAnalysisSettings& a, const TAnalysisSettings& b);

// Reads the eight "Config" keys (defaults for missing or unreadable ones).
TAnalysisSettings ReadAnalysisSettings(const TIniFile& ini);
// Writes all eight "Config" keys.
void WriteAnalysisSettings(TIniFile& ini, const TAnalysisSettings& settings);

// The settings file's path: "QVL2View.ini" in $XDG_CONFIG_HOME (default ~/.config), created if
// missing; the executable's own folder when no configuration folder can be had.
std::string ViewerSettingsPath(const std::string& executableDir = "");

// Writes the settings file at program end; when that fails and its folder does not exist, the
// folder is created and the write tried once more. A second failure is ignored (false).
bool SaveViewerSettings(const TIniFile& ini, const std::string& path);

// The recent-file list ("History", keys "0".."7", most recent first).
constexpr int kMaxRecentFiles = 8;
std::vector<std::string> ReadRecentFiles(const TIniFile& ini);
void WriteRecentFiles(TIniFile& ini, const std::vector<std::string>& files);
// Puts `path` at the head of the list (moving it when present); at most 8 entries are kept.
void AddRecentFile(std::vector<std::string>& files, const std::string& path);

// The configuration dialog's values and rules, without the dialog: the spin edits show whole
// numbers (limits and the ratio in per cent), any change marks the dialog modified, closing is
// refused while a hard limit is below its soft limit, and the record is overwritten only when
// the dialog was confirmed, modified, and the values read back differ from it.
class TConfigureDialogModel {
 public:
  // The dialog's fields, as shown.
  struct TFields {
    long frontSoft = 0, frontHard = 0, rearSoft = 0, rearHard = 0;
    long ratio = 0, minSpeed = 0, maxDecel = 0;
    bool inverted = false;
  };
  enum class TFocus { None, FrontHard, RearHard };

  explicit TConfigureDialogModel(const TAnalysisSettings& settings);

  const TFields& Fields() const { return fields_; }
  // A user edit: replaces the fields and marks the dialog modified.
  void Edit(const TFields& fields);
  bool Modified() const { return modified_; }

  // The close check run for OK, Cancel and the close box alike: empty when the dialog may close,
  // else the message to show, with the box that gets the focus.
  std::string ValidateClose(TFocus* focus = nullptr) const;
  // The values read back from the fields.
  TAnalysisSettings ReadBack(const TAnalysisSettings& base) const;
  // The calling contract: true (and `settings` overwritten) only when closed with OK, modified,
  // and the values read back differ from `settings`.
  bool Finish(bool ok, TAnalysisSettings& settings) const;

 private:
  TFields fields_;
  bool modified_ = false;
};

}  // namespace qvl
