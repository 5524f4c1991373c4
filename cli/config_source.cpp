#include "cli/config_source.h"

#include "core/device/controller.h"

namespace qvl::cli {

void LoadConfiguration(const std::string& fileName, TController& controller) {
  controller.LoadFromFile(fileName);
}

}  // namespace qvl::cli
