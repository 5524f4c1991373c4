#include "tool/saved_downloads.h"

#include <algorithm>

#include "core/util/ini_file.h"

namespace qvl {

void TSavedDownloads::Load(const TIniFile& settings) {
  entries_ = settings.ReadSectionValues("IFMdownloads");
  modified_ = false;
}

void TSavedDownloads::Save(TIniFile& settings) const {
  settings.EraseSection(kSavedDownloadsSection);
  for (const TEntry& e : entries_) settings.WriteString(kSavedDownloadsSection, e.first, e.second);
}

void TSavedDownloads::Add(uint32_t key, const std::string& fileName) {
  const std::string name = std::to_string(key);
  // One line per key: a second line with the same key would read back as the older file.
  std::erase_if(entries_, [&](const TEntry& e) { return e.first == name; });
  entries_.insert(entries_.begin(), {name, fileName});
  if (entries_.size() > kMaxSavedDownloads) entries_.resize(kMaxSavedDownloads);
  modified_ = true;
}

const std::string* TSavedDownloads::Find(uint32_t key) const {
  const std::string name = std::to_string(key);
  for (const TEntry& e : entries_)
    if (e.first == name) return &e.second;
  return nullptr;
}

}  // namespace qvl
