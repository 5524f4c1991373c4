#include "sim/sim_hid_adapter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/device/device_time.h"

namespace qvl::sim {
namespace {

constexpr uint8_t kAdapterCommand = 0x35;
constexpr int kReportData = 63;

}  // namespace

TSimHidAdapter::TSimHidAdapter(const TSimOptions& logger, const TSimHidOptions& adapter)
    : options_(adapter), link_(logger, SystemTickClock().NowMs()) {}

uint64_t TSimHidAdapter::NowMs() {
  return SystemTickClock().NowMs();
}

bool TSimHidAdapter::Present() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return !link_.Unplugged(NowMs());
}

void TSimHidAdapter::AdapterCommand(const uint8_t* data, int count) {
  ++adapterCommands_;
  const uint8_t sub = count >= 2 ? data[1] : 0;
  switch (sub) {
    case 0x01:
      replies_.insert(replies_.end(), {0x01, options_.versionMajor, options_.versionMinor});
      break;
    case 0x02:
      if (count >= 4 && data[3] == 0x7A) {
        speedCode_ = data[2];
        replies_.push_back(0x02);
      }
      break;
    case 0x03:
      speedCode_ = 0;
      replies_.push_back(0x03);
      break;
    default:
      break;  // not a command of this adapter: no answer
  }
}

int TSimHidAdapter::HostOutputReport(const uint8_t* report, size_t size) {
  std::unique_lock<std::mutex> lock(link_.Mutex());
  uint64_t now = NowMs();
  if (options_.throttle) {
    // One transaction per millisecond frame.
    while (now < nextOutMs_) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      lock.lock();
      now = NowMs();
    }
    nextOutMs_ = now + 1;
  }
  if (link_.Unplugged(now)) return -1;
  if (size < 2) return int(size);
  ++reportsFromHost_;
  const int count = std::min<int>({report[1], kReportData, int(size) - 2});
  const uint8_t* data = report + 2;
  if (count > 0 && data[0] == kAdapterCommand && link_.Logger().AwaitingCommand(now))
    AdapterCommand(data, count);
  else if (count > 0)
    link_.HostWrite(data, size_t(count), now);
  lock.unlock();
  changed_.notify_all();
  return int(size);
}

int TSimHidAdapter::NextInputReport(uint8_t* report, size_t size, int timeoutMs) {
  std::unique_lock<std::mutex> lock(link_.Mutex());
  const uint64_t deadline = NowMs() + uint64_t(std::max(timeoutMs, 0));
  for (;;) {
    const uint64_t now = NowMs();
    if (link_.Unplugged(now)) return -1;
    if (wake_) {
      wake_ = false;
      return 0;
    }
    uint64_t wakeAt = deadline;
    if (options_.throttle && now < nextInMs_) {
      wakeAt = std::min(wakeAt, nextInMs_);
    } else {
      uint8_t data[kReportData];
      int n = 0;
      while (n < kReportData && !replies_.empty()) {
        data[n++] = replies_.front();
        replies_.pop_front();
      }
      n += int(link_.TakeDue(now, data + n, size_t(kReportData - n)));
      if (n > 0) {
        std::memset(report, 0, size);
        report[0] = uint8_t(n);
        std::memcpy(report + 1, data, std::min<size_t>(size_t(n), size - 1));
        nextInMs_ = now + 1;
        ++reportsToHost_;
        return int(size);
      }
      wakeAt = std::min(wakeAt, link_.NextDueMs());
    }
    if (now >= deadline) return 0;
    // The unplug fault may end this wait too: look again at least every few ms.
    wakeAt = std::min(wakeAt, now + 5);
    changed_.wait_for(lock, std::chrono::milliseconds(std::max<uint64_t>(wakeAt - now, 1)));
  }
}

void TSimHidAdapter::WakeReader() {
  {
    std::lock_guard<std::mutex> lock(link_.Mutex());
    wake_ = true;
  }
  changed_.notify_all();
}

int TSimHidAdapter::SpeedCode() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return speedCode_;
}

int TSimHidAdapter::AdapterCommands() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return adapterCommands_;
}

int TSimHidAdapter::ReportsFromHost() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return reportsFromHost_;
}

int TSimHidAdapter::ReportsToHost() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return reportsToHost_;
}

std::shared_ptr<THidDeviceController> SimulatedHidController(std::shared_ptr<IHidPeer> peer,
                                                             uint16_t vendorId,
                                                             uint16_t productId) {
  auto backend = std::make_unique<TFakeHidBackend>();
  backend->Plug(vendorId, productId, std::move(peer));
  return std::make_shared<THidDeviceController>(std::move(backend));
}

}  // namespace qvl::sim
