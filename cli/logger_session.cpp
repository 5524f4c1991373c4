#include "cli/logger_session.h"

#include "cli/command.h"
#include "core/device/ecu_comm_thread.h"
#include "core/util/exceptions.h"
#include "tool/link_factory.h"

namespace qvl::cli {

TLoggerSession::TLoggerSession() : TLoggerSession(CreateLinkChannel(ChosenLink())) {}

TLoggerSession::TLoggerSession(TCommChannelPtr channel) : channel_(std::move(channel)) {
  controller_.SetSynchronizer(&loop_);
  controller_.SetErrorHandler([this](const std::string& m) { errors_.push_back(m); });
  controller_.AddListener(this);
}

TLoggerSession::~TLoggerSession() {
  controller_.RemoveListener(this);
  controller_.SetChannel(nullptr);
}

void TLoggerSession::ControllerChanged(TController*, uint8_t flags) {
  if (flags & kChangeValues) ++valueUpdates_;
}

void TLoggerSession::Connect(int timeoutMs) {
  channel_->SetTimeOut(500);
  controller_.SetChannel(channel_);
  controller_.SetActive(true);
  if (loop_.RunUntil([&] { return controller_.Connected(); }, timeoutMs)) return;
  const std::string port = channel_->GetPortName();
  controller_.SetChannel(nullptr);
  if (!channel_->IsOpen()) {
    std::string why = channel_->GetLastErrorText();
    throw Exception("cannot open " + port + (why.empty() ? "" : ": " + why));
  }
  std::string why = controller_.LastConnectError();
  throw Exception("no answer from a logger on " + port + (why.empty() ? "" : " (" + why + ")"));
}

bool TLoggerSession::WaitForValues(int count, int timeoutMs) {
  const int target = valueUpdates_ + count;
  loop_.RunUntil([&] { return valueUpdates_ >= target || !controller_.Connected(); }, timeoutMs);
  return valueUpdates_ >= target;
}

void TLoggerSession::Idle(int ms) {
  loop_.RunUntil([] { return false; }, ms);
}

}  // namespace qvl::cli
