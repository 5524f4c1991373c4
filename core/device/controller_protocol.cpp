// The controller's exchanges with the logger.
#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {

void TController::Burn() {
  if (!connected_) throw Exception("Must be connected for burning operation");
  // The link exchanges of a burn come with the command protocol.
  throw Exception("Not supported");
}

}  // namespace qvl
