// TSimHidAdapter: the logger's USB link adapter, simulated, as the hardware side of a fake HID
// device. HID reports carry the logger's bytes both ways (count byte first, up to 63 bytes);
// a report that begins with 0x35 while the logger waits for a command is the adapter's own:
//   0x35 0x01            version query   -> 0x01, major, minor
//   0x35 0x02 rate 0x7A  fast transfer   -> 0x02 (rate 0x07: the higher rate, 0x03: fast)
//   0x35 0x03            normal speed    -> 0x03
// With throttling on, reports move as on a full-speed interrupt endpoint: one per millisecond
// each way. Behind the adapter sits the simulated logger on its line (TSimLink), with the
// line's faults; its unplug fault unplugs the adapter.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>

#include "sim/fake_hid_device.h"
#include "sim/sim_link.h"

namespace qvl::sim {

struct TSimHidOptions {
  bool throttle = false;
  uint8_t versionMajor = 2;
  uint8_t versionMinor = 2;
};

class TSimHidAdapter : public IHidPeer {
 public:
  explicit TSimHidAdapter(const TSimOptions& logger, const TSimHidOptions& adapter = {});

  bool Present() override;
  int HostOutputReport(const uint8_t* report, size_t size) override;
  int NextInputReport(uint8_t* report, size_t size, int timeoutMs) override;
  void WakeReader() override;

  // The logger's line; lock its Mutex() to look at it while the host runs.
  TSimLink& Link() { return link_; }
  // 0 normal, else the rate byte of the last 0x35 0x02.
  int SpeedCode();
  int AdapterCommands();
  int ReportsFromHost();
  int ReportsToHost();

 private:
  void AdapterCommand(const uint8_t* data, int count);
  uint64_t NowMs();

  TSimHidOptions options_;
  TSimLink link_;
  std::condition_variable changed_;
  std::deque<uint8_t> replies_;  // the adapter's own answers, ahead of the logger's bytes
  bool wake_ = false;
  uint64_t nextOutMs_ = 0;
  uint64_t nextInMs_ = 0;
  int speedCode_ = 0;
  int adapterCommands_ = 0;
  int reportsFromHost_ = 0;
  int reportsToHost_ = 0;
};

// A device controller whose only device is the given peer, under the given identifiers: what
// a USB link sees when the simulated adapter is plugged in.
std::shared_ptr<THidDeviceController> SimulatedHidController(std::shared_ptr<IHidPeer> peer,
                                                             uint16_t vendorId, uint16_t productId);

}  // namespace qvl::sim
