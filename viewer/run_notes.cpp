#include "viewer/run_notes.h"

#include "core/util/ini_file.h"

namespace qvl {
namespace {

constexpr const char* kNotes = "Notes";
constexpr const char* kOther = "Other";

}  // namespace

TRunNotes ParseRunNotes(const std::string& text) {
  TIniFile ini;
  ini.SetText(text);
  TRunNotes notes;
  notes.front = ini.ReadString(kNotes, "Front", "");
  notes.rear = ini.ReadString(kNotes, "Rear", "");
  notes.track = ini.ReadString(kNotes, "Track", "");
  for (const auto& kv : ini.ReadSectionValues(kOther)) notes.other.push_back(kv.second);
  return notes;
}

std::string BuildRunNotes(const TRunNotes& notes) {
  TIniFile ini;
  const std::pair<const char*, const std::string*> fields[] = {
      {"Front", &notes.front}, {"Rear", &notes.rear}, {"Track", &notes.track}};
  for (const auto& [key, value] : fields) {
    std::string trimmed = TrimText(*value);
    if (!trimmed.empty()) ini.WriteString(kNotes, key, trimmed);
  }
  for (size_t i = 0; i < notes.other.size(); ++i)
    ini.WriteString(kOther, "Line" + std::to_string(i), notes.other[i]);
  return ini.Text();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n' && (pos == end || text[pos - 1] == '\r')) ++pos;
  }
  return lines;
}

}  // namespace qvl
