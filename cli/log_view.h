// What the viewer's commands share: opening a log file for display, the selection from
// --run / --session, the strips from --strip specifications, the analysis settings from
// --settings.
#pragma once

#include <ostream>
#include <string>

#include "cli/command.h"
#include "viewer/display_entry.h"
#include "viewer/run_display.h"
#include "viewer/viewer_settings.h"

namespace qvl::cli {

// Opens FILE (the first positional argument) into the display's main slot.
void OpenForView(TRunDisplay& display, const TArgs& args);
// A warning line on `err` when the end of the file's data is damaged (a flash image whose last
// page does not fit the pages before it); nothing for an intact file.
void WarnOfDamagedEnd(const TDataLogStore& store, const std::string& file, std::ostream& err);
// --run R (0-based run index) or --session S (0-based session index, all its runs).
int SelectionOf(const TArgs& args, const TDataLogStore& store);
// NAME[:UNIT[:SMOOTHING_MS]]: a channel name of the parameter table ("Front travel") or the name
// of a custom channel, a unit suffix ("%", "mm", "km/h"; default the channel's first unit) and a
// smoothing window in ms.
TDisplayEntry ParseStripSpec(const std::string& spec, const TController& controller);
// The strips of every --strip option, in order.
TStripList StripsOf(const TArgs& args, const TController& controller);
// Defaults, or the "Config" section of --settings FILE.ini.
TAnalysisSettings SettingsOf(const TArgs& args);

}  // namespace qvl::cli
