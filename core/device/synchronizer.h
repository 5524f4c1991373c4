// ISynchronizer: hands a function to the user-interface thread and waits until it has run
// there. The polling thread touches the model only this way. The windows implement it with
// the Qt event loop; TEventLoopSynchronizer is a plain event loop for the command line and the
// tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qvl {

class ISynchronizer {
 public:
  virtual ~ISynchronizer() = default;
  // Runs fn on the user-interface thread and returns when it has run; an exception of fn is
  // passed on to the caller. Called on the user-interface thread itself, fn runs at once.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  // Runs the calls that are waiting (user-interface thread only). A thread that is being
  // stopped may wait in Synchronize; whoever waits for it keeps calling this.
  virtual void ProcessPending() = 0;
  virtual bool IsUiThread() const = 0;
};

// The calls handed to the user-interface thread, in the order they came: the calling thread adds
// its call and waits until the user-interface thread has run it. Both synchronizers keep one.
class TCallQueue {
 public:
  // Adds fn and waits until RunAll has run it, or Close has released it; passes fn's exception
  // on. queued runs once the call is in the queue, before the wait (to wake the runner). After
  // Close the call is refused with Close's error.
  void AddAndWait(const std::function<void()>& fn, const std::function<void()>& queued = {});
  // Runs the waiting calls, the ones added meanwhile included, until none is left.
  void RunAll();
  // Releases every waiting caller with `error` and refuses later calls with it.
  void Close(std::exception_ptr error);
  // Waits up to `timeout` for a call to wait in the queue; returns whether one does.
  bool WaitForCall(std::chrono::milliseconds timeout);
  size_t Size();

 private:
  struct TCall {
    std::function<void()> fn;
    bool done = false;
    std::exception_ptr error;
  };
  std::mutex mutex_;
  std::condition_variable posted_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<TCall>> calls_;
  std::exception_ptr closed_;
};

// The user-interface thread is the thread that creates the synchronizer; it runs the waiting
// calls in ProcessPending or RunUntil.
class TEventLoopSynchronizer : public ISynchronizer {
 public:
  TEventLoopSynchronizer();

  void Synchronize(const std::function<void()>& fn) override;
  void ProcessPending() override;
  bool IsUiThread() const override { return std::this_thread::get_id() == uiThread_; }

  // Runs waiting calls until pred is true (checked after each call and at least every 5 ms)
  // or timeoutMs passes; returns pred's last value.
  bool RunUntil(const std::function<bool()>& pred, int timeoutMs);

 private:
  std::thread::id uiThread_;
  TCallQueue calls_;
};

}  // namespace qvl
