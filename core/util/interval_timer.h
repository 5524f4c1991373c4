// A timer thread: runs a function every period while enabled.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qvl {

// Runs a function every period on a thread of its own while enabled. The function's failures
// stay on that thread (the handler gets their text).
class TIntervalTimer {
 public:
  TIntervalTimer(int periodMs, std::function<void()> tick,
                 std::function<void(const std::string&)> onError);
  ~TIntervalTimer();
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }

 private:
  void Run();
  int periodMs_;
  std::function<void()> tick_;
  std::function<void(const std::string&)> onError_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> enabled_{false};
  std::thread thread_;
};

}  // namespace qvl
