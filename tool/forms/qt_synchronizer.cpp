#include "tool/forms/qt_synchronizer.h"

#include <QMetaObject>

#include "core/util/exceptions.h"

namespace qvl {

TQtSynchronizer::TQtSynchronizer(QObject* parent)
    : QObject(parent), uiThread_(std::this_thread::get_id()) {}

TQtSynchronizer::~TQtSynchronizer() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (auto& call : calls_) {
    call->error = std::make_exception_ptr(Exception("The user interface has closed"));
    call->done = true;
  }
  calls_.clear();
  finished_.notify_all();
}

void TQtSynchronizer::AskToRun() {
  // One queued request at a time is enough: it runs everything that waits.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (asked_) return;
    asked_ = true;
  }
  QMetaObject::invokeMethod(
      this,
      [this] {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          asked_ = false;
        }
        ProcessPending();
      },
      Qt::QueuedConnection);
}

void TQtSynchronizer::Synchronize(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<TCall>();
  call->fn = fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) throw Exception("The user interface has closed");
    calls_.push_back(call);
  }
  AskToRun();
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void TQtSynchronizer::ProcessPending() {
  if (!IsUiThread()) return;
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

void TQtSynchronizer::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

int TQtSynchronizer::Waiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(calls_.size());
}

}  // namespace qvl
