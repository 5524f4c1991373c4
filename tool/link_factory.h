// The links a program can attach, chosen by a short name: the serial port, the two USB adapters
// and the simulated logger in the same process (plain, after a season of rides, or behind a
// simulated USB link adapter or wireless adapter). `qvl` and the logger tool choose their link
// with the same names (--link NAME, --port PATH).
#pragma once

#include <string>

#include "core/device/comm_channel.h"

namespace qvl {

// The names CreateLinkChannel accepts, for help texts.
inline constexpr const char kLinkNames[] =
    "serial:PATH, sim, sim-season, hid, tevraw, sim-hid or sim-tevraw";

// A link for "serial:PATH", "sim", "sim-season", "hid", "tevraw", "sim-hid" or "sim-tevraw";
// raises Exception for anything else, and "No device found" when a USB adapter is missing.
TCommChannelPtr CreateLinkChannel(const std::string& link);

// The link name for a --port PATH option: "serial:PATH".
std::string SerialLinkName(const std::string& path);

}  // namespace qvl
