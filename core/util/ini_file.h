// TIniFile: an INI-format settings text held in memory. Sections and keys keep the order in
// which they were read or first written and are matched without regard to ASCII case; values
// are kept exactly as written. The programs' settings files and the per-run notes of log files
// use this format.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qvl {

class TIniFile {
 public:
  using TValues = std::vector<std::pair<std::string, std::string>>;

  TIniFile() = default;
  // Reads `fileName`; a file that does not exist gives an empty content.
  explicit TIniFile(const std::string& fileName);

  // --- whole content ---
  // Replaces the content with INI text (lines separated by CR LF, LF or CR). Lines that are
  // neither a section header nor "key=value" are ignored, as are keys before any section.
  void SetText(const std::string& text);
  // The content as text: per section its header, its "key=value" lines and an empty line,
  // every line ending with CR LF.
  std::string Text() const;
  // Reads a file (missing: empty content); raises EFileError when it exists but cannot be read.
  void LoadFromFile(const std::string& fileName);
  // Writes the content through a temporary file renamed over `fileName`, so that a failure
  // leaves the old file; raises EFileError.
  void SaveToFile(const std::string& fileName) const;
  const std::string& FileName() const { return fileName_; }
  void Clear() { sections_.clear(); }

  // --- sections ---
  std::vector<std::string> Sections() const;
  bool SectionExists(const std::string& section) const;
  void EraseSection(const std::string& section);
  // Keys of a section in order (empty when the section does not exist).
  std::vector<std::string> ReadSection(const std::string& section) const;
  // Key and value pairs of a section in order.
  TValues ReadSectionValues(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  void DeleteKey(const std::string& section, const std::string& key);

  // --- values ---
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Decimal, or hexadecimal behind "$" or "0x"; anything else gives the fallback.
  long long ReadInteger(const std::string& section, const std::string& key,
                        long long fallback) const;
  void WriteInteger(const std::string& section, const std::string& key, long long value);
  // '.' or the program's decimal separator; anything else gives the fallback.
  double ReadFloat(const std::string& section, const std::string& key, double fallback) const;
  // Written with the fewest digits that read back as the same double.
  void WriteFloat(const std::string& section, const std::string& key, double value);
  // Written with the fewest digits that read back as the same single-precision value.
  void WriteSingle(const std::string& section, const std::string& key, float value);
  // An integer other than 0 is true; "true"/"false" are understood too.
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;
  // Written as 1 or 0.
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  struct TSection {
    std::string name;
    TValues values;
  };
  TSection* Find(const std::string& section);
  const TSection* Find(const std::string& section) const;
  TSection& FindOrAdd(const std::string& section);
  const std::string* Value(const std::string& section, const std::string& key) const;

  std::vector<TSection> sections_;
  std::string fileName_;
};

// Whether two texts are equal without regard to ASCII case.
bool SameText(const std::string& a, const std::string& b);
// The text without leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimText(const std::string& text);

}  // namespace qvl
