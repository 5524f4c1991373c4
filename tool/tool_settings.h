// Where the programs keep their settings: an INI file named after the program ("QVL2Pro.ini",
// "QVL2View.ini") in the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config), or in
// the program's own folder when no configuration folder can be had.
#pragma once

#include <string>

namespace qvl {

class TIniFile;

inline constexpr const char kToolProgramName[] = "QVL2Pro";
inline constexpr const char kViewerProgramName[] = "QVL2View";

// The folder of the running program's executable ("" when it cannot be found).
std::string ExecutableFolder();
// "<config folder>/<programName>.ini".
std::string ProgramSettingsFileName(const std::string& programName);
// The logger tool's settings file.
std::string ToolSettingsFileName();

// Reads a settings file (a missing file gives empty settings).
void LoadSettingsFile(TIniFile& settings, const std::string& fileName);
// Writes a settings file; when that fails, the file's folder is created and the write is tried
// once more (EFileError when that fails too).
void SaveSettingsFile(const TIniFile& settings, const std::string& fileName);

}  // namespace qvl
