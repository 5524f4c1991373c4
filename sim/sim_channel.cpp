#include "sim/sim_channel.h"

#include <errno.h>

#include <algorithm>
#include <thread>

#include "core/util/exceptions.h"
#include "transport/serial_channel.h"

namespace qvl::sim {

TSimChannel::TSimChannel(const TSimOptions& options, ITickClock* clock)
    : clock_(clock ? *clock : SystemTickClock()),
      link_(std::make_unique<TSimLink>(options, clock_.NowMs())) {}

void TSimChannel::Open(const std::string& name, const std::string& settings, int, int) {
  open_ = false;
  lastError_.clear();
  portName_ = name + settings;
  std::lock_guard<std::mutex> lock(link_->Mutex());
  if (link_->Unplugged(clock_.NowMs())) {
    // As a serial port whose device has gone.
    lastError_ = SerialSetupFailure(ENODEV, "");
    return;
  }
  open_ = true;
}

void TSimChannel::SetActive(bool active) {
  if (!active)
    open_ = false;
  else if (!open_)
    Open(portName_, "", 4096, 57600);
}

void TSimChannel::CheckPlugged() {
  if (!open_) throw Exception("No communication channel opened");
  std::lock_guard<std::mutex> lock(link_->Mutex());
  if (link_->Unplugged(clock_.NowMs())) {
    open_ = false;
    throw Exception("COMM error");
  }
}

int TSimChannel::InCount() {
  CheckPlugged();
  std::lock_guard<std::mutex> lock(link_->Mutex());
  return int(std::min<size_t>(link_->CountDue(clock_.NowMs()), 4095));
}

void TSimChannel::Read(void* buffer, int count) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t start = clock_.NowMs();
  while (count > 0) {
    CheckPlugged();
    size_t got;
    {
      std::lock_guard<std::mutex> lock(link_->Mutex());
      got = link_->TakeDue(clock_.NowMs(), out, size_t(count));
    }
    if (got == 0) {
      if (clock_.NowMs() - start > uint64_t(std::max(timeOut_, 0))) {
        lastError_ = "Time out on " + portName_;
        throw ETimeOutError(lastError_);
      }
      clock_.SleepMs(1);
      continue;
    }
    out += got;
    count -= int(got);
    start = clock_.NowMs();
  }
}

std::string TSimChannel::ReadString() {
  return ReadZeroTerminated(*this);
}

void TSimChannel::Write(const void* buffer, int count, bool) {
  if (!open_) throw Exception("No communication channel opened");
  std::lock_guard<std::mutex> lock(link_->Mutex());
  const uint64_t now = clock_.NowMs();
  if (link_->Unplugged(now)) {
    open_ = false;
    throw Exception("Comm write error");
  }
  link_->HostWrite(static_cast<const uint8_t*>(buffer), size_t(std::max(count, 0)), now);
}

}  // namespace qvl::sim
