// The viewer's text inputs: a settings file (layouts, analysis settings, recent files) and a
// run's notes text. Any bytes read, written back and read again without a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/util/ini_file.h"
#include "viewer/layout_manager.h"
#include "viewer/run_notes.h"
#include "viewer/viewer_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qvl::TIniFile ini;
  ini.SetText(text);
  qvl::TLayoutManager layouts;
  layouts.Load(ini);
  for (int i = 0; i < layouts.Count(); ++i) (void)qvl::StripsFromLayout(layouts.Layout(i));
  qvl::TIniFile written;
  layouts.WriteAll(written);
  qvl::TLayoutManager again;
  again.Load(written);
  (void)qvl::ReadAnalysisSettings(ini);
  (void)qvl::ReadRecentFiles(ini);
  qvl::TRunNotes notes = qvl::ParseRunNotes(text);
  (void)qvl::ParseRunNotes(qvl::BuildRunNotes(notes));
  return 0;
}
