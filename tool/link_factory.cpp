#include "tool/link_factory.h"

#include <memory>

#include "core/util/exceptions.h"
#include "sim/sim_channel.h"
#include "sim/sim_hid_adapter.h"
#include "sim/sim_tevraw_adapter.h"
#include "transport/comm_channel_registry.h"
#include "transport/hid_comm.h"
#include "transport/tevraw_comm.h"

namespace qvl {

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
  throw Exception("unknown link '" + link + "' (use " + kLinkNames + ")");
}

std::string SerialLinkName(const std::string& path) {
  return "serial:" + path;
}

}  // namespace qvl
