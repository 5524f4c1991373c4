// Where `qvl` finds a logger configuration: a configuration file, or the head of a log file.
#pragma once

#include <string>

namespace qvl {
class TController;
}

namespace qvl::cli {

// Reads the configuration held by FILE into the controller.
void LoadConfiguration(const std::string& fileName, TController& controller);

}  // namespace qvl::cli
