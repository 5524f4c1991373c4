#include "core/device/synchronizer.h"

namespace qvl {

void TCallQueue::AddAndWait(const std::function<void()>& fn, const std::function<void()>& queued) {
  auto call = std::make_shared<TCall>();
  call->fn = fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) std::rethrow_exception(closed_);
    calls_.push_back(call);
    posted_.notify_all();
  }
  if (queued) queued();
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void TCallQueue::RunAll() {
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

void TCallQueue::Close(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = error;
  for (auto& call : calls_) {
    call->error = error;
    call->done = true;
  }
  calls_.clear();
  finished_.notify_all();
}

bool TCallQueue::WaitForCall(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return posted_.wait_for(lock, timeout, [&] { return !calls_.empty(); });
}

size_t TCallQueue::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.size();
}

TEventLoopSynchronizer::TEventLoopSynchronizer() : uiThread_(std::this_thread::get_id()) {}

void TEventLoopSynchronizer::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread())
    fn();
  else
    calls_.AddAndWait(fn);
}

void TEventLoopSynchronizer::ProcessPending() {
  calls_.RunAll();
}

bool TEventLoopSynchronizer::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ProcessPending();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    calls_.WaitForCall(std::chrono::milliseconds(5));
  }
}

}  // namespace qvl
