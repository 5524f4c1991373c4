// A scripted peer for protocol and thread tests: a fake clock whose sleeps move time on, and a
// link whose other end follows the frame rules independently of the simulated logger (one
// echo per chunk of 8 data bytes, the answer only after the last echo), with hooks to change
// echoes, delay or drop answers, and a log of everything the host wrote.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"
#include "core/util/exceptions.h"

namespace qvl::test {

class TFakeClock : public ITickClock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    }
    // Let the other thread run; time itself only moves by the sleeps.
    if (realSleep_) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  void Advance(uint64_t ms) { now_ += ms; }
  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
  }
  void SetRealSleep(bool on) { realSleep_ = on; }

 private:
  std::atomic<uint64_t> now_{1'000'000};
  std::atomic<bool> realSleep_{true};
  std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

// One command as the peer received it.
struct TSeenCommand {
  uint8_t command;
  std::vector<uint8_t> data;
  uint64_t atMs;  // when its command byte arrived
};

class TScriptedLink : public ICommChannel {
 public:
  explicit TScriptedLink(TFakeClock& clock, const char* className = kSerialChannelClass)
      : clock_(clock), className_(className) {}

  // --- script ---
  std::string identification = "QVL R2.11";
  std::atomic<bool> answerIdentification{true};
  std::atomic<bool> silent{false};  // no echoes, no answers
  std::map<uint8_t, int> dataLength;
  // Answer bytes for a command (empty: none).
  std::function<std::vector<uint8_t>(uint8_t, const std::vector<uint8_t>&)> answer;
  // Echo byte for the k-th echo of the n-th occurrence of a command (default: the command).
  std::function<uint8_t(uint8_t command, int occurrence, int echo)> echo;
  // Delay of a command's answer after its last echo, in ms.
  std::function<uint64_t(uint8_t command, int occurrence)> answerDelay;

  // --- what happened ---
  std::vector<TSeenCommand> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  int Count(uint8_t command) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (auto& s : seen_) n += s.command == command;
    return n;
  }
  std::vector<std::vector<uint8_t>> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  size_t WriteCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_.size();
  }
  int EchoesSent() const { return echoesSent_; }
  std::string openedName;
  int openedParameter = 0;
  int openCount = 0;
  std::atomic<bool> refuseOpen{false};

  // --- ICommChannel ---
  TCommImplementor GetImplementor() override { return {this, className_}; }
  bool IsOpen() override { return open_; }
  void SetActive(bool active) override { open_ = active; }
  int InCount() override {
    if (!open_) throw Exception("No communication channel opened");
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (auto& p : in_)
      if (p.first <= clock_.NowMs()) ++n;
    return n;
  }
  std::string GetPortName() override { return portName_; }
  void SetPortName(const std::string& name) override { portName_ = name; }
  int GetSpare() override { return 0; }
  int GetTimeOut() override { return timeOut_; }
  std::string GetLastErrorText() override { return ""; }
  void SetSpare(int) override {}
  void SetTimeOut(int ms) override { timeOut_ = ms; }
  void Read(void* buffer, int count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t start = clock_.NowMs();
    while (count > 0) {
      if (!open_) throw Exception("No communication channel opened");
      bool got = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!in_.empty() && in_.front().first <= clock_.NowMs()) {
          *out++ = in_.front().second;
          in_.pop_front();
          --count;
          got = true;
        }
      }
      if (got) {
        start = clock_.NowMs();
        continue;
      }
      if (clock_.NowMs() - start > uint64_t(timeOut_))
        throw ETimeOutError("Time out on " + portName_);
      clock_.SleepMs(1);
    }
  }
  std::string ReadString() override {
    std::string s;
    for (int i = 0; i < 1025; ++i) {
      uint8_t c;
      Read(&c, 1);
      if (c == 0) return s;
      if (s.size() < 1024) s.push_back(char(c));
    }
    return s;
  }
  void Write(const void* buffer, int count, bool) override {
    if (!open_) throw Exception("No communication channel opened");
    const auto* p = static_cast<const uint8_t*>(buffer);
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.emplace_back(p, p + count);
    for (int i = 0; i < count; ++i) OnByte(p[i]);
  }
  void Open(const std::string& name, const std::string& settings, int, int parameter) override {
    openedName = name + settings;
    openedParameter = parameter;
    ++openCount;
    open_ = !refuseOpen;
  }
  // Drops the link as an unplugged device would.
  void Unplug() { open_ = false; }
  void Plug() { open_ = true; }

 private:
  void Push(uint8_t b, uint64_t at) {
    in_.emplace_back(std::max(at, lastAt_), b), lastAt_ = std::max(at, lastAt_);
  }
  void OnByte(uint8_t b) {
    const uint64_t now = clock_.NowMs();
    if (silent) return;
    // A frame broken off by the host is forgotten after a pause (the host resends it whole).
    if (inFrame_ && now - lastByteMs_ >= 25) inFrame_ = false;
    lastByteMs_ = now;
    if (!inFrame_) {
      if (b == 0x00) {
        if (!answerIdentification) return;
        for (char c : identification) Push(uint8_t(c), now);
        Push(0, now);
        return;
      }
      command_ = b;
      data_.clear();
      echoes_ = 0;
      occurrence_ = 0;
      for (auto& s : seen_) occurrence_ += s.command == b;
      seen_.push_back({b, {}, now});
      need_ = dataLength.count(b) ? dataLength[b] : 0;
      inFrame_ = true;
      if (need_ == 0) Finish(now);
      return;
    }
    data_.push_back(b);
    seen_.back().data.push_back(b);
    if (int(data_.size()) == need_)
      Finish(now);
    else if (data_.size() % 8 == 0)
      SendEcho(now);
  }
  void SendEcho(uint64_t now) {
    Push(echo ? echo(command_, occurrence_, echoes_) : command_, now);
    ++echoes_;
    ++echoesSent_;
  }
  void Finish(uint64_t now) {
    SendEcho(now);
    inFrame_ = false;
    if (!answer) return;
    auto bytes = answer(command_, data_);
    uint64_t delay = answerDelay ? answerDelay(command_, occurrence_) : 0;
    for (uint8_t x : bytes) Push(x, now + delay);
  }

  TFakeClock& clock_;
  const char* className_;
  std::mutex mutex_;
  std::deque<std::pair<uint64_t, uint8_t>> in_;
  uint64_t lastAt_ = 0;
  uint64_t lastByteMs_ = 0;
  std::vector<std::vector<uint8_t>> writes_;
  std::vector<TSeenCommand> seen_;
  std::atomic<bool> open_{true};
  std::string portName_ = "fake";
  int timeOut_ = 500;
  bool inFrame_ = false;
  uint8_t command_ = 0;
  std::vector<uint8_t> data_;
  int need_ = 0;
  int echoes_ = 0;
  int occurrence_ = 0;
  std::atomic<int> echoesSent_{0};
};

}  // namespace qvl::test
