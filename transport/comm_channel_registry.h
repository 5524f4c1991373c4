// The channel registry: links created by type name ("HID", "COM", "TevraW"). The built-in
// classes are registered in order on first use; registering a name that is already present
// does nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"

namespace qvl {

// Creates a link of one class in its default state.
using TChannelFactory = std::function<TCommChannelPtr()>;

// Adds (type name, class) at the end of the list unless the name is present.
void RegisterChannelClass(const std::string& typeName, TChannelFactory factory);

// A new link of the class registered under typeName, with SetPortName(portName) called;
// nullptr for an unknown type name.
TCommChannelPtr CreateChannel(const std::string& typeName, const std::string& portName);

// The registered type names in registration order.
std::vector<std::string> RegisteredChannelTypes();

}  // namespace qvl
