#include "core/device/synchronizer.h"

#include <chrono>

namespace qvl {

TEventLoopSynchronizer::TEventLoopSynchronizer() : uiThread_(std::this_thread::get_id()) {}

void TEventLoopSynchronizer::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<TCall>();
  call->fn = fn;
  std::unique_lock<std::mutex> lock(mutex_);
  calls_.push_back(call);
  posted_.notify_all();
  finished_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void TEventLoopSynchronizer::ProcessPending() {
  for (;;) {
    std::shared_ptr<TCall> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (calls_.empty()) return;
      call = calls_.front();
      calls_.pop_front();
    }
    try {
      call->fn();
    } catch (...) {
      call->error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    call->done = true;
    finished_.notify_all();
  }
}

bool TEventLoopSynchronizer::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ProcessPending();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !calls_.empty(); });
  }
}

}  // namespace qvl
