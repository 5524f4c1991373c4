#include "core/device/ecu_comm_thread.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "core/device/controller.h"
#include "core/device/synchronizer.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr uint32_t kPollPeriodMs = 200;
constexpr uint32_t kOpenRetryMs = 500;
constexpr int kChannelBufferSize = 4096;
constexpr int kSerialSpeed = 57600;
constexpr int kHidVendorProduct = 0x04D80339;
constexpr size_t kDiscardWrap = 16384;
constexpr size_t kDiscardLimitPerCall = 65536;

}  // namespace

void DiscardInput(ICommChannel& channel, std::vector<uint8_t>& bytes, size_t& fill) {
  size_t dropped = 0;
  for (int n; dropped < kDiscardLimitPerCall && (n = channel.InCount()) > 0;) {
    if (fill + size_t(n) > kDiscardWrap) fill = 0;
    size_t need = fill + size_t(n);
    if (bytes.size() < need) bytes.resize((need + 1023) / 1024 * 1024);
    channel.Read(bytes.data() + fill, n);
    fill += size_t(n);
    dropped += size_t(n);
  }
}

void ExchangeFrame(ICommChannel& channel, ITickClock& clock, std::vector<uint8_t>& discardBytes,
                   size_t& discardFill, uint8_t command, const uint8_t* data, int dataLength,
                   int answerLength, const char* wrongAnswerText) {
  DiscardInput(channel, discardBytes, discardFill);
  channel.Write(&command, 1, dataLength <= 0);
  int sent = 0;
  do {
    int n = std::min(8, dataLength - sent);
    if (n > 0) channel.Write(data + sent, n, true);
    sent += std::max(n, 0);
    uint8_t echo = 0;
    channel.Read(&echo, 1);
    if (echo != command) throw ETimeOutError(wrongAnswerText);
  } while (sent < dataLength);
  if (answerLength >= 1) {
    clock.SleepMs(uint32_t(answerLength / 5));
    const uint64_t start = clock.NowMs();
    while (channel.InCount() < answerLength) {
      if (clock.NowMs() - start > 800) throw ETimeOutError("Time out sending command");
      clock.SleepMs(1);
    }
  }
}

TEcuCommThread::TEcuCommThread(TController& owner, TCommChannelPtr channel)
    : owner_(owner), channel_(std::move(channel)), clock_(owner.TickClock()) {
  if (channel_ && std::string(channel_->GetImplementor().className) == kHidChannelClass)
    retryCount_ = 1;
}

TEcuCommThread::~TEcuCommThread() {
  Stop();
}

void TEcuCommThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Execute(); });
}

void TEcuCommThread::Stop() {
  terminated_ = true;
  Wake();
  if (!thread_.joinable()) return;
  ISynchronizer* sync = owner_.Synchronizer();
  const bool onUiThread = sync && sync->IsUiThread();
  // The thread may wait for a hand-over on this thread: keep running those (they do nothing
  // now) until it has ended.
  while (!finished_) {
    if (onUiThread) sync->ProcessPending();
    std::unique_lock<std::mutex> lock(idleMutex_);
    idleChanged_.wait_for(lock, std::chrono::milliseconds(2), [&] { return bool(finished_); });
  }
  thread_.join();
}

void TEcuCommThread::Wake() {
  std::lock_guard<std::mutex> lock(wakeMutex_);
  wakeSignalled_ = true;
  wakeEvent_.notify_all();
}

void TEcuCommThread::ReleasePause() {
  if (--pauseCount_ <= 0) {
    pauseCount_ = 0;
    Wake();
  }
}

void TEcuCommThread::Queue(uint8_t command, const uint8_t* data, size_t size) {
  TCommRecord record;
  record.command = command;
  if (size) record.data.assign(data, data + size);
  std::unique_lock<std::shared_mutex> lock(queueLock_);
  queue_.push_back(std::move(record));
}

void TEcuCommThread::ClearQueue() {
  std::unique_lock<std::shared_mutex> lock(queueLock_);
  queue_.clear();
}

size_t TEcuCommThread::QueueSize() const {
  std::shared_lock<std::shared_mutex> lock(queueLock_);
  return queue_.size();
}

std::vector<TCommRecord> TEcuCommThread::QueuedCommands() const {
  std::shared_lock<std::shared_mutex> lock(queueLock_);
  return queue_;
}

void TEcuCommThread::SetIdle(bool idle) {
  {
    std::lock_guard<std::mutex> lock(idleMutex_);
    idle_ = idle ? 1 : 0;
  }
  if (idle) idleChanged_.notify_all();
}

void TEcuCommThread::WaitIdle() {
  if (!thread_.joinable()) return;
  for (int spin = 0; spin < 100; ++spin) {
    if (idle_ || finished_) return;
    std::this_thread::yield();
  }
  std::unique_lock<std::mutex> lock(idleMutex_);
  while (!idle_ && !finished_) idleChanged_.wait_for(lock, std::chrono::milliseconds(5));
}

void TEcuCommThread::WaitForWake() {
  SetIdle(true);
  {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wakeEvent_.wait(lock, [&] { return wakeSignalled_ || terminated_; });
    SetIdle(false);
    wakeSignalled_ = false;
  }
}

bool TEcuCommThread::SleepUnlessStopped(uint32_t ms) {
  while (ms > 0) {
    if (StopRequested()) return false;
    uint32_t step = std::min<uint32_t>(ms, 20);
    clock_.SleepMs(step);
    ms -= step;
  }
  return !StopRequested();
}

void TEcuCommThread::Execute() {
  pthread_setname_np(pthread_self(), "Ecu Comm Thread");
  lastCycle_ = clock_.NowMs() - kPollPeriodMs;
  try {
    while (!terminated_) {
      WaitForWake();
      if (terminated_) break;
      InnerLoop();
    }
  } catch (...) {
    // Nothing may leave the thread; the hand-overs report their own failures.
  }
  std::lock_guard<std::mutex> lock(idleMutex_);
  idle_ = 1;
  finished_ = true;
  idleChanged_.notify_all();
}

void TEcuCommThread::InnerLoop() {
  while (!StopRequested()) {
    if (!owner_.Connected() && !StepConnecting()) continue;
    if (StopRequested()) break;
    if (owner_.Connected()) StepPolling();
  }
}

bool TEcuCommThread::StepConnecting() {
  if (!channel_) {
    SleepUnlessStopped(kOpenRetryMs);
    return false;
  }
  if (!channel_->IsOpen()) {
    HandOverOpenChannel();
    if (StopRequested()) return false;
    if (!channel_->IsOpen()) {
      SleepUnlessStopped(kOpenRetryMs);
      return false;
    }
  }
  while (clock_.NowMs() - lastCycle_ < kPollPeriodMs)
    if (!SleepUnlessStopped(50)) return false;
  std::string identification;
  try {
    DiscardInput(*channel_, discardBytes_, discardFill_);
    const uint8_t request = 0x00;
    channel_->Write(&request, 1, true);
    identification = channel_->ReadString();
  } catch (...) {
    // Attempts stay 200 ms apart even when they fail at once.
    lastCycle_ = clock_.NowMs();
    if (!terminated_ && !channel_->IsOpen()) HandOverConnectionLost(false);
    return false;
  }
  lastCycle_ = clock_.NowMs();
  if (StopRequested()) return false;
  HandOverConnected(identification);
  nextCycle_ = clock_.NowMs();
  return !StopRequested();
}

void TEcuCommThread::StepPolling() {
  RunQueue();
  lastCycle_ = nextCycle_;
  while (clock_.NowMs() < nextCycle_) {
    if (StopRequested()) return;
    if (QueueSize() > 0)
      RunQueue();
    else
      clock_.SleepMs(20);
  }
  if (StopRequested()) return;
  try {
    static const TCommRecord realtimeRequest{{0x00, 0x00, 0x28, 0x00}, 0x2D};
    Exchange(realtimeRequest, kRealtimeBlockSize);
    channel_->Read(realtime_.data(), kRealtimeBlockSize);
    RunQueue();
    // A failed queued command hands its error over; a pause issued meanwhile owns the link.
    if (StopRequested()) return;
    analogCount_ = std::clamp(owner_.AnalogInputCount(), 0, 255);
    TCommRecord analogRequest{{0x00, uint8_t(analogCount_)}, 0x2E};
    analog_.resize(size_t(2 * analogCount_));
    Exchange(analogRequest, 2 * analogCount_);
    if (analogCount_ > 0) channel_->Read(analog_.data(), 2 * analogCount_);
    if (StopRequested()) return;
    HandOverValues();
    if (StopRequested()) return;
    RunQueue();
  } catch (...) {
    if (terminated_) return;
    owner_.SetConnected(false);
    HandOverConnectionLost(true);
  }
  // The next poll is on the next grid point after now; missed points are skipped.
  const uint64_t now = clock_.NowMs();
  if (nextCycle_ <= now) nextCycle_ += ((now - nextCycle_) / kPollPeriodMs + 1) * kPollPeriodMs;
}

void TEcuCommThread::Exchange(const TCommRecord& record, int answerLength) {
  const int attempts = std::max(1, retryCount_.load());
  for (int attempt = 1;; ++attempt) {
    try {
      ExchangeFrame(*channel_, clock_, discardBytes_, discardFill_, record.command,
                    record.data.data(), int(record.data.size()), answerLength,
                    "Wrong answer to command");
      return;
    } catch (...) {
      if (attempt >= attempts || terminated_) throw;
    }
  }
}

void TEcuCommThread::RunQueue() {
  for (;;) {
    if (StopRequested()) return;
    TCommRecord record;
    {
      std::shared_lock<std::shared_mutex> lock(queueLock_);
      if (queue_.empty()) return;
      record = queue_.front();
    }
    try {
      Exchange(record, 0);
    } catch (const std::exception& e) {
      ClearQueue();
      std::string message = e.what();
      HandOver([this, message] { owner_.ShowError(message); });
      return;
    }
    std::unique_lock<std::shared_mutex> lock(queueLock_);
    if (!queue_.empty()) queue_.erase(queue_.begin());
  }
}

bool TEcuCommThread::HandOver(const std::function<void()>& fn) {
  if (terminated_) return false;
  SetIdle(true);
  auto call = [this, &fn] {
    if (terminated_) return;
    try {
      fn();
    } catch (const std::exception& e) {
      try {
        owner_.ShowError(e.what());
      } catch (...) {
      }
    } catch (...) {
    }
    SetIdle(false);
  };
  ISynchronizer* sync = owner_.Synchronizer();
  try {
    if (sync)
      sync->Synchronize(call);
    else
      call();
  } catch (...) {
  }
  return !terminated_;
}

void TEcuCommThread::HandOverOpenChannel() {
  HandOver([this] {
    try {
      if (std::string(channel_->GetImplementor().className) == kHidChannelClass) {
        channel_->Open("USB", "", kChannelBufferSize, kHidVendorProduct);
        retryCount_ = 1;
      } else {
        channel_->Open(channel_->GetPortName(), "", kChannelBufferSize, kSerialSpeed);
        retryCount_ = 4;
      }
    } catch (...) {
    }
    if (channel_->IsOpen()) {
      owner_.BeginUpdate();
      owner_.Changed(kChangeConnection);
      owner_.EndUpdate();
    }
  });
}

void TEcuCommThread::HandOverConnected(const std::string& identification) {
  HandOver([this, identification] {
    owner_.SetIdentificationString(identification);
    owner_.Identify();
  });
}

void TEcuCommThread::HandOverValues() {
  HandOver([this] { owner_.ProcessRealtime(realtime_.data(), analog_.data(), analogCount_); });
}

void TEcuCommThread::HandOverConnectionLost(bool pollFailed) {
  HandOver([this, pollFailed] {
    ClearQueue();
    owner_.SetConnected(false);
    if (pollFailed) owner_.IncrementLinkErrors();
    if (!owner_.Active()) ++pauseCount_;
    owner_.Changed(kChangeConnection);
  });
}

}  // namespace qvl
