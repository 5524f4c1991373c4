// Finds the serial ports of this machine: the terminal devices under /sys/class/tty that have
// a device behind them, then the names under /dev/serial/by-id; a port is listed when it opens
// and answers as a terminal (a built-in 16550 port also needs a UART behind it).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qvl {

struct TSerialPortList {
  std::vector<std::string> ports;  // device paths, in candidate order
  std::string diagnostic;          // what was looked at, one line per step, lines end with CR
};

// Where discovery looks; tests point these at a made-up tree.
struct TSerialDiscoveryRoots {
  std::string sysClassTty = "/sys/class/tty";
  std::string devDir = "/dev";
  std::string serialById = "/dev/serial/by-id";
};

// Tells whether a candidate device path is a usable serial port; text receives the reason
// shown in the diagnostic text.
using TSerialPortProbe = std::function<bool(const std::string& path, std::string& text)>;

// The probe used by default: open read/write, exclusive, non-blocking; tcgetattr must succeed,
// and a port that reports a UART type must have one.
bool ProbeSerialPort(const std::string& path, std::string& text);

TSerialPortList DiscoverSerialPorts(const TSerialDiscoveryRoots& roots = {},
                                    const TSerialPortProbe& probe = ProbeSerialPort);

}  // namespace qvl
