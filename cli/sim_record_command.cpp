// qvl sim record: a log file of the simulated logger's ride without a link: the simulator records
// one session of one run into its flash (in the flash-image encoding) and the session's bytes are
// written as a download file, as a download of that session would write them.
#include <ostream>

#include "cli/command.h"
#include "core/device/controller.h"
#include "core/device/flash_geometry.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"
#include "core/util/exceptions.h"
#include "core/util/safe_save.h"
#include "sim/sim_logger.h"

namespace qvl::cli {
namespace {

int SimRecord(const TArgs& args, std::ostream& out, std::ostream&) {
  const std::string output = args.Get("-o");
  if (output.empty()) throw Exception("sim record needs -o FILE.QVLog");
  const long long seconds = args.GetInt("--seconds", 120);
  if (seconds < 11 || seconds > 3600) throw Exception("--seconds expects 11 to 3600");
  const long long seed = args.GetInt("--seed", 0);
  if (seed < 0 || seed > 0xFFFFFFFFll) throw Exception("--seed expects 0 to 4294967295");
  const long long forkTravel = args.GetInt("--fork-travel", 100);
  if (forkTravel < 50 || forkTravel > 200) throw Exception("--fork-travel expects 50 to 200");
  sim::TSimOptions options;
  options.rideSeed = uint32_t(seed);
  options.frontTravelScale = double(forkTravel) / 100;
  options.sessions = 1;
  options.runsPerSession = 1;
  options.runSeconds = int(seconds);
  // The smallest flash that holds the run with room to spare (the ride writes under 4 KiB/s),
  // so that the ring never overwrites its start.
  options.flashSizeCode = 1;
  while (options.flashSizeCode < 5 &&
         FlashSizeForCode(options.flashSizeCode) < uint64_t(seconds) * 4096)
    ++options.flashSizeCode;
  sim::TSimLogger logger(options);

  const auto& image = logger.ConfigImage();
  if (image.size() < 2) throw Exception("the simulated logger has no configuration");
  TController controller;
  TMemoryStream config(std::vector<uint8_t>(image.begin() + 2, image.end()));
  controller.ReadFromStream(config);
  const uint32_t first = logger.SessionStartAddress(), end = logger.FlashWriteAddress();
  if (end <= first) throw Exception("the simulated logger recorded nothing");
  const auto& flash = logger.Flash();
  SafeSaveFile(
      output,
      [&](TStream& s) {
        WriteDownloadFile(s, controller, flash.data() + first, end - first, Now());
      },
      false);
  out << "wrote " << output << " (" << (end - first) << " bytes of flash, one run of " << seconds
      << " s)\n";
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "sim record",
    .usage = "-o FILE.QVLog [--seconds N] [--seed N] [--fork-travel PCT]",
    .summary = "record a log file of the simulated logger's ride (no link needed)",
    .help =
        "The simulated logger records one run of N seconds (default 120) of its ride into its\n"
        "flash, in the logger's flash-image encoding; the session's bytes are written as a\n"
        "download file with the logger's configuration in front. --seed N (default 0, the\n"
        "plain ride) rides the same trail again with each bump 70 to 130 % as deep;\n"
        "--fork-travel PCT (default 100) scales the fork's travel, e.g. 120 for a softer fork.\n"
        "Two such files overlaid in the viewer compare set-ups on the same trail.",
    .valueOptions = {"-o", "--seconds", "--seed", "--fork-travel"},
    .flagOptions = {},
    .run = SimRecord,
});

}  // namespace qvl::cli
