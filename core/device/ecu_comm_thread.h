// TEcuCommThread: the controller's polling thread. It opens the link, waits for the logger's
// identification, polls the real-time block and the analog inputs on a 200 ms grid and sends
// the commands that windows queue. It only moves bytes: everything that touches the model
// runs on the user-interface thread through synchronous hand-over calls. Windows that need the
// link for longer exchanges stop it with a counted pause.
//
//   Waiting --wake--> Connecting --identified--> Polling --failure--> (connection lost)
//      ^                                            |                  Connecting, or Waiting
//      +------------- pause / terminate ------------+                  when not active
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"

namespace qvl {

class TController;

// One queued command.
struct TCommRecord {
  std::vector<uint8_t> data;
  uint8_t command = 0;
};

// Reads and drops the bytes waiting on the link into a scratch buffer (bytes, fill). The buffer
// grows in whole KiB and starts again at its beginning when it would hold more than 16384
// bytes. One call drops at most 65536 bytes, so that a link that never stops sending cannot
// hold the caller forever.
void DiscardInput(ICommChannel& channel, std::vector<uint8_t>& bytes, size_t& fill);

// One attempt of the command frame: drain, command byte, data in chunks of at most 8 bytes
// with one echo each (at least one), then the wait for answerLength bytes (sleep answerLength
// div 5 ms, then at most 800 ms). A wrong echo raises ETimeOutError(wrongAnswerText).
void ExchangeFrame(ICommChannel& channel, ITickClock& clock, std::vector<uint8_t>& discardBytes,
                   size_t& discardFill, uint8_t command, const uint8_t* data, int dataLength,
                   int answerLength, const char* wrongAnswerText);

class TEcuCommThread {
 public:
  explicit TEcuCommThread(TController& owner, TCommChannelPtr channel);
  // Stops the thread (see Stop).
  ~TEcuCommThread();
  TEcuCommThread(const TEcuCommThread&) = delete;
  TEcuCommThread& operator=(const TEcuCommThread&) = delete;

  void Start();
  // Terminates, wakes the thread and waits until it is idle and has ended. Hand-overs that the
  // thread is waiting for are run meanwhile (they do nothing once terminating).
  void Stop();
  bool Terminated() const { return terminated_; }

  // Signals the wake event.
  void Wake();

  // Appends a command to the queue (any thread).
  void Queue(uint8_t command, const uint8_t* data, size_t size);
  void ClearQueue();
  size_t QueueSize() const;
  std::vector<TCommRecord> QueuedCommands() const;

  int32_t PauseCount() const { return pauseCount_; }
  void AddPause() { ++pauseCount_; }
  // Pause - 1; at 0 or below the counter becomes 0 and the thread is woken.
  void ReleasePause();
  void ResetPause() { pauseCount_ = 0; }
  bool Paused() const { return pauseCount_ > 0; }

  // 1 while the thread waits on the wake event or for a hand-over; 0 while it works.
  bool Idle() const { return idle_ != 0; }
  // Waits until the thread is idle: a short spin, then sleeps on a condition, never a busy
  // loop.
  void WaitIdle();
  // Retries of the thread's own exchanges: 4, or 1 on the USB HID link.
  int RetryCount() const { return retryCount_; }

 private:
  void Execute();
  void InnerLoop();
  bool StepConnecting();
  void StepPolling();
  // Sleeps in short steps; false when a stop (pause or terminate) came meanwhile.
  bool SleepUnlessStopped(uint32_t ms);
  // Runs a hand-over on the user-interface thread; false when terminating.
  bool HandOver(const std::function<void()>& fn);
  void HandOverOpenChannel();
  void HandOverConnected(const std::string& identification);
  void HandOverValues();
  // pollFailed: a poll exchange failed (counted as a link error).
  void HandOverConnectionLost(bool pollFailed);
  void RunQueue();
  void Exchange(const TCommRecord& record, int answerLength);
  bool StopRequested() const { return terminated_ || pauseCount_ > 0; }
  void SetIdle(bool idle);
  void WaitForWake();

  TController& owner_;
  TCommChannelPtr channel_;
  ITickClock& clock_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int32_t> pauseCount_{0};
  std::atomic<uint8_t> idle_{0};
  std::atomic<int> retryCount_{4};
  std::mutex idleMutex_;
  std::condition_variable idleChanged_;
  std::mutex wakeMutex_;
  std::condition_variable wakeEvent_;
  bool wakeSignalled_ = false;
  mutable std::shared_mutex queueLock_;
  std::vector<TCommRecord> queue_;
  // Poll buffers: written by this thread only, read by the values hand-over while it waits.
  std::array<uint8_t, 40> realtime_{};
  std::vector<uint8_t> analog_;
  int analogCount_ = 0;
  std::vector<uint8_t> discardBytes_;
  size_t discardFill_ = 0;
  uint64_t lastCycle_ = 0;
  uint64_t nextCycle_ = 0;
};

}  // namespace qvl
