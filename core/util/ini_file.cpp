#include "core/util/ini_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string RightTrim(const std::string& s) {
  size_t e = s.size();
  while (e > 0 && uint8_t(s[e - 1]) <= ' ') --e;
  return s.substr(0, e);
}

std::string Localize(std::string s) {
  if (DecimalSeparator() != '.')
    for (char& c : s)
      if (c == '.') c = DecimalSeparator();
  return s;
}

}  // namespace

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string TrimText(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && uint8_t(text[b]) <= ' ') ++b;
  while (e > b && uint8_t(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

TIniFile::TIniFile(const std::string& fileName) {
  LoadFromFile(fileName);
}

void TIniFile::SetText(const std::string& text) {
  sections_.clear();
  TSection* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = TrimText(text.substr(pos, end - pos));
    // CR LF counts as one line break.
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = &FindOrAdd(line.substr(1, line.size() - 2));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || !current) continue;
    std::string key = RightTrim(line.substr(0, eq));
    std::string value = line.substr(eq + 1);
    bool replaced = false;
    for (auto& kv : current->values)
      if (SameText(kv.first, key)) {
        kv.second = value;
        replaced = true;
        break;
      }
    if (!replaced) current->values.emplace_back(key, value);
  }
}

std::string TIniFile::Text() const {
  std::string out;
  for (const TSection& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& kv : s.values) out += kv.first + "=" + kv.second + "\r\n";
    out += "\r\n";
  }
  return out;
}

void TIniFile::LoadFromFile(const std::string& fileName) {
  fileName_ = fileName;
  sections_.clear();
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return;
  errno = 0;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    const int error = errno;
    throw EFileError("Cannot open file \"" + fileName + "\". " +
                     (error ? std::strerror(error) : "Cannot read the file"));
  }
  std::ostringstream text;
  text << in.rdbuf();
  SetText(text.str());
}

void TIniFile::SaveToFile(const std::string& fileName) const {
  const std::string temp = fileName + ".tmp";
  const std::string text = Text();
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) throw EFileError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  int error = errno;
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(temp.c_str(), fileName.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    std::remove(temp.c_str());
    throw EFileError("Cannot write file \"" + fileName + "\". " + std::strerror(error));
  }
}

std::vector<std::string> TIniFile::Sections() const {
  std::vector<std::string> names;
  for (const TSection& s : sections_) names.push_back(s.name);
  return names;
}

TIniFile::TSection* TIniFile::Find(const std::string& section) {
  for (TSection& s : sections_)
    if (SameText(s.name, section)) return &s;
  return nullptr;
}

const TIniFile::TSection* TIniFile::Find(const std::string& section) const {
  for (const TSection& s : sections_)
    if (SameText(s.name, section)) return &s;
  return nullptr;
}

TIniFile::TSection& TIniFile::FindOrAdd(const std::string& section) {
  if (TSection* s = Find(section)) return *s;
  sections_.push_back(TSection{section, {}});
  return sections_.back();
}

bool TIniFile::SectionExists(const std::string& section) const {
  return Find(section) != nullptr;
}

void TIniFile::EraseSection(const std::string& section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it)
    if (SameText(it->name, section)) {
      sections_.erase(it);
      return;
    }
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  if (const TSection* s = Find(section))
    for (const auto& kv : s->values) keys.push_back(kv.first);
  return keys;
}

TIniFile::TValues TIniFile::ReadSectionValues(const std::string& section) const {
  if (const TSection* s = Find(section)) return s->values;
  return {};
}

const std::string* TIniFile::Value(const std::string& section, const std::string& key) const {
  const TSection* s = Find(section);
  if (!s) return nullptr;
  for (const auto& kv : s->values)
    if (SameText(kv.first, key)) return &kv.second;
  return nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return Value(section, key) != nullptr;
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  TSection* s = Find(section);
  if (!s) return;
  for (auto it = s->values.begin(); it != s->values.end(); ++it)
    if (SameText(it->first, key)) {
      s->values.erase(it);
      return;
    }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const std::string* v = Value(section, key);
  return v ? *v : fallback;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  TSection& s = FindOrAdd(section);
  for (auto& kv : s.values)
    if (SameText(kv.first, key)) {
      kv.second = value;
      return;
    }
  s.values.emplace_back(key, value);
}

long long TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                long long fallback) const {
  const std::string* v = Value(section, key);
  if (!v) return fallback;
  std::string text = TrimText(*v);
  long long value = 0;
  bool negative = !text.empty() && text[0] == '-';
  std::string digits = negative ? text.substr(1) : text;
  int base = 10;
  if (!digits.empty() && digits[0] == '$') {
    digits = digits.substr(1);
    base = 16;
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  }
  if (digits.empty()) return fallback;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return fallback;
  return negative ? -value : value;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
  WriteString(section, key, std::to_string(value));
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key,
                           double fallback) const {
  const std::string* v = Value(section, key);
  double value = 0;
  if (!v || !TryParseDouble(*v, value)) return fallback;
  return value;
}

void TIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  WriteString(section, key, Localize(std::string(buf, ec == std::errc() ? end : buf)));
}

void TIniFile::WriteSingle(const std::string& section, const std::string& key, float value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  WriteString(section, key, Localize(std::string(buf, ec == std::errc() ? end : buf)));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  const std::string* v = Value(section, key);
  if (!v) return fallback;
  std::string text = TrimText(*v);
  if (SameText(text, "true")) return true;
  if (SameText(text, "false")) return false;
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace qvl
