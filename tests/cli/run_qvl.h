// Runs `qvl` in-process for the command-line suites.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace qvl::cli {

struct TQvlResult {
  int status;
  std::string out, err;
};

inline TQvlResult RunQvl(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace qvl::cli
