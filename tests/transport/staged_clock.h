// A millisecond clock for a link's time-outs that moves only when the link sleeps, by the time
// asked. One event can be staged at a moment of this clock: it runs inside the sleep that
// reaches that moment, and from then on the clock stands still (sleeps only yield), so that
// what the event sets going arrives before any time-out can pass, however slow the machine,
// until Resume. After 10 s of real waiting the clock moves again by itself, so that a link that
// never sees the bytes still times out instead of hanging the test.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <thread>

#include "core/device/device_time.h"

namespace qvl::test {

class TStagedClock : public ITickClock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    if (frozenAt_ && std::chrono::steady_clock::now() - *frozenAt_ < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      return;
    }
    now_ += ms > 0 ? ms : 1;
    if (!fired_ && now_ >= eventAt_) {
      fired_ = true;
      frozenAt_ = std::chrono::steady_clock::now();
      if (event_) event_();
    }
  }
  // Runs event in the sleep that takes the clock to afterMs from now (0: the next sleep).
  void Stage(uint64_t afterMs, std::function<void()> event) {
    eventAt_ = now_ + afterMs;
    event_ = std::move(event);
    fired_ = false;
    frozenAt_.reset();
  }
  bool Fired() const { return fired_; }
  // The clock moves with the sleeps again.
  void Resume() { frozenAt_.reset(); }

 private:
  std::atomic<uint64_t> now_{100000};
  uint64_t eventAt_ = std::numeric_limits<uint64_t>::max();
  std::function<void()> event_;
  std::atomic<bool> fired_{false};
  std::optional<std::chrono::steady_clock::time_point> frozenAt_;
};

}  // namespace qvl::test
