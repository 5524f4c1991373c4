#include "viewer/viewer_settings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace qvl {
namespace {

constexpr const char* kFrontSoft = "FrontSoftLimit";
constexpr const char* kFrontHard = "FrontHardLimit";
constexpr const char* kRearSoft = "RearSoftLimit";
constexpr const char* kRearHard = "RearHardLimit";
constexpr const char* kRatio = "FRSpeedFactor";
constexpr const char* kMinSpeed = "MinSpeed";
constexpr const char* kMaxDecel = "MaxDecel";
constexpr const char* kInverted = "InvertedSuspension";

float ReadSingle(const TIniFile& ini, const char* key, float fallback) {
  return float(ini.ReadFloat(ini::kConfig, key, fallback));
}

long RoundToLong(double v) {
  return std::lround(v);
}

}  // namespace

bool SameSettings(const TAnalysisSettings& a, const TAnalysisSettings& b) {
  return std::memcmp(&a, &b, sizeof(TAnalysisSettings)) == 0;
}

TAnalysisSettings ReadAnalysisSettings(const TIniFile& ini) {
  TAnalysisSettings d;
  TAnalysisSettings s;
  s.speedRatio = ReadSingle(ini, kRatio, d.speedRatio);
  s.minSpeed = ReadSingle(ini, kMinSpeed, d.minSpeed);
  s.maxDecel = ReadSingle(ini, kMaxDecel, d.maxDecel);
  s.frontSoftLimit = ReadSingle(ini, kFrontSoft, d.frontSoftLimit);
  s.frontHardLimit = ReadSingle(ini, kFrontHard, d.frontHardLimit);
  s.rearSoftLimit = ReadSingle(ini, kRearSoft, d.rearSoftLimit);
  s.rearHardLimit = ReadSingle(ini, kRearHard, d.rearHardLimit);
  s.invertedSuspension = ini.ReadBool(ini::kConfig, kInverted, false) ? 1 : 0;
  return s;
}

void WriteAnalysisSettings(TIniFile& ini, const TAnalysisSettings& s) {
  ini.WriteSingle(ini::kConfig, kRatio, s.speedRatio);
  ini.WriteSingle(ini::kConfig, kMinSpeed, s.minSpeed);
  ini.WriteSingle(ini::kConfig, kMaxDecel, s.maxDecel);
  ini.WriteSingle(ini::kConfig, kFrontSoft, s.frontSoftLimit);
  ini.WriteSingle(ini::kConfig, kFrontHard, s.frontHardLimit);
  ini.WriteSingle(ini::kConfig, kRearSoft, s.rearSoftLimit);
  ini.WriteSingle(ini::kConfig, kRearHard, s.rearHardLimit);
  ini.WriteBool(ini::kConfig, kInverted, s.invertedSuspension != 0);
}

std::string ViewerSettingsPath(const std::string& executableDir) {
  namespace fs = std::filesystem;
  const char* name = "QVL2View.ini";
  fs::path folder;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    folder = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    folder = fs::path(home) / ".config";
  if (!folder.empty()) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec || fs::is_directory(folder)) return (folder / name).string();
  }
  return (fs::path(executableDir.empty() ? "." : executableDir) / name).string();
}

bool SaveViewerSettings(const TIniFile& ini, const std::string& path) {
  namespace fs = std::filesystem;
  try {
    ini.SaveToFile(path);
    return true;
  } catch (const std::exception&) {
  }
  std::error_code ec;
  const fs::path folder = fs::path(path).parent_path();
  if (folder.empty() || fs::exists(folder, ec)) return false;
  fs::create_directories(folder, ec);
  try {
    ini.SaveToFile(path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<std::string> ReadRecentFiles(const TIniFile& ini) {
  std::vector<std::string> files;
  for (int i = 0; i < kMaxRecentFiles; ++i) {
    std::string f = ini.ReadString(ini::kHistory, std::to_string(i), "");
    if (!f.empty()) files.push_back(f);
  }
  return files;
}

void WriteRecentFiles(TIniFile& ini, const std::vector<std::string>& files) {
  ini.EraseSection(ini::kHistory);
  for (size_t i = 0; i < files.size() && i < size_t(kMaxRecentFiles); ++i)
    ini.WriteString(ini::kHistory, std::to_string(i), files[i]);
}

void AddRecentFile(std::vector<std::string>& files, const std::string& path) {
  for (auto it = files.begin(); it != files.end(); ++it)
    if (*it == path) {
      files.erase(it);
      break;
    }
  files.insert(files.begin(), path);
  if (files.size() > size_t(kMaxRecentFiles)) files.resize(size_t(kMaxRecentFiles));
}

TConfigureDialogModel::TConfigureDialogModel(const TAnalysisSettings& s) {
  fields_.frontSoft = RoundToLong(double(s.frontSoftLimit) * 100);
  fields_.frontHard = RoundToLong(double(s.frontHardLimit) * 100);
  fields_.rearSoft = RoundToLong(double(s.rearSoftLimit) * 100);
  fields_.rearHard = RoundToLong(double(s.rearHardLimit) * 100);
  fields_.ratio = RoundToLong(double(s.speedRatio) * 100);
  fields_.minSpeed = RoundToLong(s.minSpeed);
  fields_.maxDecel = RoundToLong(s.maxDecel);
  fields_.inverted = s.invertedSuspension != 0;
}

void TConfigureDialogModel::Edit(const TFields& fields) {
  fields_ = fields;
  modified_ = true;
}

std::string TConfigureDialogModel::ValidateClose(TFocus* focus) const {
  if (focus) *focus = TFocus::None;
  if (fields_.frontHard < fields_.frontSoft) {
    if (focus) *focus = TFocus::FrontHard;
    return "You must set the front hard limit higher than soft limit";
  }
  if (fields_.rearHard < fields_.rearSoft) {
    if (focus) *focus = TFocus::RearHard;
    return "You must set the rear hard limit higher than soft limit";
  }
  return "";
}

TAnalysisSettings TConfigureDialogModel::ReadBack(const TAnalysisSettings& base) const {
  TAnalysisSettings s = base;
  s.frontSoftLimit = float(fields_.frontSoft) / 100;
  s.frontHardLimit = float(fields_.frontHard) / 100;
  s.rearSoftLimit = float(fields_.rearSoft) / 100;
  s.rearHardLimit = float(fields_.rearHard) / 100;
  s.speedRatio = float(fields_.ratio) / 100;
  s.minSpeed = float(fields_.minSpeed);
  s.maxDecel = float(fields_.maxDecel);
  s.invertedSuspension = fields_.inverted ? 1 : 0;
  return s;
}

bool TConfigureDialogModel::Finish(bool ok, TAnalysisSettings& settings) const {
  if (!ok || !modified_) return false;
  TAnalysisSettings read = ReadBack(settings);
  if (SameSettings(read, settings)) return false;
  settings = read;
  return true;
}

}  // namespace qvl
