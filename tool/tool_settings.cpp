#include "tool/tool_settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/util/ini_file.h"

namespace qvl {

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || exe.empty()) return "";
  return exe.parent_path().string();
}

std::string ProgramSettingsFileName(const std::string& programName) {
  const std::string file = programName + ".ini";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return std::string(config) + "/" + file;
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::string(home) + "/.config/" + file;
  const std::string folder = ExecutableFolder();
  return folder.empty() ? file : folder + "/" + file;
}

std::string ToolSettingsFileName() {
  return ProgramSettingsFileName(kToolProgramName);
}

void LoadSettingsFile(TIniFile& settings, const std::string& fileName) {
  settings.LoadFromFile(fileName);
}

void SaveSettingsFile(const TIniFile& settings, const std::string& fileName) {
  try {
    settings.SaveToFile(fileName);
  } catch (const std::exception&) {
    std::error_code ignored;
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
    settings.SaveToFile(fileName);
  }
}

}  // namespace qvl
