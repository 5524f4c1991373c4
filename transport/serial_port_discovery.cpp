#include "transport/serial_port_discovery.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/util/number_format.h"

namespace qvl {
namespace fs = std::filesystem;

bool ProbeSerialPort(const std::string& path, std::string& text) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    text = " Not Available - open failed";
    return false;
  }
  bool ok = true;
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    text = " Not a terminal";
    ok = false;
  } else {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN) {
      text = Format(" type : %d", info.type);
      ok = false;
    } else {
      text = "RS232";
    }
  }
  ::close(fd);
  return ok;
}

TSerialPortList DiscoverSerialPorts(const TSerialDiscoveryRoots& roots,
                                    const TSerialPortProbe& probe) {
  TSerialPortList result;
  std::string& d = result.diagnostic;
  std::vector<std::string> candidates;
  std::error_code ec;

  // Terminal devices with a device behind them.
  std::vector<std::string> names;
  fs::directory_iterator it(roots.sysClassTty, ec);
  if (ec) {
    d += Format("%s Unable to open %s\r", "", roots.sysClassTty.c_str());
  } else {
    d += Format("%s %s opened%s", "", roots.sysClassTty.c_str(), "\r");
    for (const auto& entry : it) {
      std::error_code e2;
      if (fs::exists(entry.path() / "device", e2))
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      std::string path = (fs::path(roots.devDir) / n).string();
      d += Format("%s %s%s", "", path.c_str(), "\r");
      candidates.push_back(path);
    }
  }

  // Stable names of USB serial adapters; they lead to the same devices.
  fs::directory_iterator byId(roots.serialById, ec);
  if (ec) {
    d += " Unable to open " + roots.serialById + "\r";
  } else {
    d += Format("%s %s opened%s", "", roots.serialById.c_str(), "\r");
    std::vector<fs::path> links;
    for (const auto& entry : byId) links.push_back(entry.path());
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
      std::error_code e2;
      fs::path target = fs::canonical(link, e2);
      std::string path = e2 ? link.string() : target.string();
      d += " " + path;
      if (std::find(candidates.begin(), candidates.end(), path) != candidates.end()) {
        d += " already in list\r";
      } else {
        candidates.push_back(path);
        d += " added\r";
      }
    }
  }
  d += Format("%s %d Different CommPorts Found%s", "", int(candidates.size()), "\r");
  d += Format("%sOpening Ports as a File%s", "", "\r");
  for (const auto& path : candidates) {
    std::string text;
    bool ok = probe(path, text);
    d += " " + path + " : " + text + "\r";
    if (ok) result.ports.push_back(path);
  }
  return result;
}

}  // namespace qvl
