#include "core/util/interval_timer.h"

#include <chrono>
#include <exception>

namespace qvl {

TIntervalTimer::TIntervalTimer(int periodMs, std::function<void()> tick,
                               std::function<void(const std::string&)> onError)
    : periodMs_(periodMs), tick_(std::move(tick)), onError_(std::move(onError)) {
  thread_ = std::thread([this] { Run(); });
}

TIntervalTimer::~TIntervalTimer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TIntervalTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
}

void TIntervalTimer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(periodMs_), [&] { return stop_; });
    if (stop_ || !enabled_) continue;
    lock.unlock();
    try {
      tick_();
    } catch (const std::exception& e) {
      if (onError_) onError_(e.what());
    } catch (...) {
      if (onError_) onError_("keep-alive failed");
    }
    lock.lock();
  }
}

}  // namespace qvl
