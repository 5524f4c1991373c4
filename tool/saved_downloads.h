// The list of downloads saved on this computer, kept in the tool's settings under section
// "IFMDownloads": one "key=file name" line per download, newest first, at most 40. The key is the
// device time at which the downloaded run starts, or the session's base for a whole session,
// as a decimal integer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvl {

class TIniFile;

inline constexpr const char kSavedDownloadsSection[] = "IFMDownloads";
constexpr size_t kMaxSavedDownloads = 40;

class TSavedDownloads {
 public:
  using TEntry = std::pair<std::string, std::string>;  // key, file name

  // Takes the section's lines in order (section names are matched without regard to case).
  void Load(const TIniFile& settings);
  // Erases the section and writes the list into it.
  void Save(TIniFile& settings) const;

  // Puts a download at the top; an older entry with the same key goes, and entries beyond 40 are
  // dropped.
  void Add(uint32_t key, const std::string& fileName);
  // The file saved under a key, or nullptr.
  const std::string* Find(uint32_t key) const;
  bool Contains(uint32_t key) const { return Find(key) != nullptr; }

  const std::vector<TEntry>& Entries() const { return entries_; }
  // Something was added since loading.
  bool Modified() const { return modified_; }

 private:
  std::vector<TEntry> entries_;
  bool modified_ = false;
};

}  // namespace qvl
