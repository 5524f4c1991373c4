// TQtSynchronizer: the polling thread's hand-over into the Qt user-interface thread. A call
// from another thread is queued, the event loop is asked to run it, and the caller waits until
// it has run. Whoever stops the polling thread on the user-interface thread (replacing the
// link, closing) keeps running the waiting calls through ProcessPending, so a thread waiting in
// a hand-over never blocks that stop. When the synchronizer goes away, callers still waiting
// are released with an Exception instead of waiting for ever.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "core/device/synchronizer.h"

namespace qvl {

class TQtSynchronizer : public QObject, public ISynchronizer {
  Q_OBJECT

 public:
  // The user-interface thread is the thread that creates the synchronizer.
  explicit TQtSynchronizer(QObject* parent = nullptr);
  ~TQtSynchronizer() override;

  void Synchronize(const std::function<void()>& fn) override;
  void ProcessPending() override;
  bool IsUiThread() const override { return std::this_thread::get_id() == uiThread_; }

  // Runs fn on the user-interface thread later, without waiting: for notifications from
  // threads that may hold a link's lock. Called on the user-interface thread, fn still runs
  // later, never inside the caller.
  void Post(std::function<void()> fn);
  // Calls waiting to run (for tests and diagnosis).
  int Waiting();

 private:
  void AskToRun();

  std::thread::id uiThread_;
  // Shared with the callers waiting in it: a caller released by the destructor still leaves the
  // queue's lock after the synchronizer is gone.
  std::shared_ptr<TCallQueue> calls_ = std::make_shared<TCallQueue>();
  std::atomic<bool> asked_{false};
};

}  // namespace qvl
