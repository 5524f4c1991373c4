#include "cli/logger_session.h"

#include "cli/command.h"
#include "core/device/ecu_comm_thread.h"
#include "core/util/exceptions.h"
#include "sim/sim_channel.h"
#include "sim/sim_hid_adapter.h"
#include "sim/sim_tevraw_adapter.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"
#include "transport/tevraw_comm.h"

namespace qvl::cli {

TCommChannelPtr CreateLinkChannel(const std::string& link) {
  if (link.rfind("serial:", 0) == 0) {
    TCommChannelPtr channel = CreateChannel("COM", link.substr(7));
    if (!channel) throw Exception("no serial link available");
    return channel;
  }
  if (link == "sim") return std::make_shared<sim::TSimChannel>(sim::TSimOptions{});
  // The simulated logger after a season of riding: many sessions of longer runs in its ring.
  if (link == "sim-season") {
    sim::TSimOptions options;
    options.season.enabled = true;
    return std::make_shared<sim::TSimChannel>(options);
  }
  // The USB links on real hardware: opened here once, so that a missing adapter is told at
  // once ("No device found") instead of after the connect time-out.
  if (link == "hid") {
    auto channel = std::make_shared<THIDComm>();
    channel->Open("USB", "", 4096, (kUsbVendorId << 16) | kUsbLinkProductId);
    return channel;
  }
  if (link == "tevraw") {
    TCommChannelPtr channel = CreateChannel("TevraW", "TevraW");
    if (!channel) throw Exception("no wireless link available");
    channel->Open(channel->GetPortName(), "", 4096, 0);
    if (!channel->IsOpen()) throw Exception("cannot open " + channel->GetPortName());
    return channel;
  }
  // The simulated logger behind the simulated USB link adapter or wireless adapter.
  if (link == "sim-hid") {
    sim::TSimHidOptions adapter;
    adapter.throttle = true;
    auto peer = std::make_shared<sim::TSimHidAdapter>(sim::TSimOptions{}, adapter);
    return std::make_shared<THIDComm>(
        sim::SimulatedHidController(peer, kUsbVendorId, kUsbLinkProductId));
  }
  if (link == "sim-tevraw") {
    sim::TSimTevraWOptions adapter;
    adapter.throttle = true;
    auto peer = std::make_shared<sim::TSimTevraWAdapter>(sim::TSimOptions{}, adapter);
    TTevraWOptions options;
    options.controller = sim::SimulatedHidController(peer, kUsbVendorId, kWirelessProductId);
    options.systemWideLock = false;
    return std::make_shared<TTevraWComm>(options);
  }
  if (link.empty())
    throw Exception("no link given (use --port PATH, --link serial:PATH or --link sim)");
  throw Exception("unknown link '" + link +
                  "' (use serial:PATH, sim, hid, tevraw, sim-hid or sim-tevraw)");
}

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
