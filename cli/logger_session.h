// A connection to a logger for one `qvl` command: the link chosen with --link or --port, a
// controller with its polling thread, and the plain event loop that the thread's hand-overs
// run in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/controller.h"
#include "core/device/synchronizer.h"

namespace qvl::cli {

class TLoggerSession : public IControllerListener {
 public:
  // The link from ChosenLink(); raises when none was given.
  TLoggerSession();
  explicit TLoggerSession(TCommChannelPtr channel);
  ~TLoggerSession() override;

  // Starts polling and waits until the logger has been identified; raises with the reason
  // (the port would not open, no answer, not a QVL logger) after timeoutMs.
  void Connect(int timeoutMs = 5000);
  // Runs the event loop until `count` more value updates have come; false on time-out or when
  // the connection is lost meanwhile.
  bool WaitForValues(int count, int timeoutMs);
  // Runs the event loop for a while (the thread's queue and hand-overs go on).
  void Idle(int ms);

  TController& Controller() { return controller_; }
  ICommChannel& Channel() { return *channel_; }
  int ValueUpdates() const { return valueUpdates_; }
  // Failures the polling thread reported (queued commands, connect).
  const std::vector<std::string>& Errors() const { return errors_; }

  void ControllerChanged(TController* controller, uint8_t flags) override;

 private:
  TEventLoopSynchronizer loop_;
  TCommChannelPtr channel_;
  // Destroyed before the loop and the channel: its polling thread stops first.
  TController controller_;
  int valueUpdates_ = 0;
  std::vector<std::string> errors_;
};

}  // namespace qvl::cli
