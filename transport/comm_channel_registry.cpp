#include "transport/comm_channel_registry.h"

#include <mutex>
#include <utility>

#include "transport/hid_comm.h"
#include "transport/serial_channel.h"
#include "transport/tevraw_comm.h"

namespace qvl {
namespace {

struct TRegistry {
  std::mutex mutex;
  std::vector<std::pair<std::string, TChannelFactory>> classes;
};

void AddLocked(TRegistry& r, const std::string& typeName, TChannelFactory factory) {
  for (const auto& entry : r.classes)
    if (entry.first == typeName) return;
  r.classes.emplace_back(typeName, std::move(factory));
}

// The classes registered at start, in this order. A new link class adds its line here:
//   "HID"    the USB HID link (THIDComm)
//   "COM"    the serial port (TSCommThread)
//   "TevraW" the wireless link adapter (TTevraWComm)
void RegisterBuiltInClasses(TRegistry& r) {
  AddLocked(r, "HID", [] { return std::make_shared<THIDComm>(); });
  AddLocked(r, "COM", [] { return std::make_shared<TSCommThread>(); });
  AddLocked(r, "TevraW", [] { return std::make_shared<TTevraWComm>(); });
}

TRegistry& Registry() {
  static TRegistry* registry = [] {
    auto* r = new TRegistry;
    RegisterBuiltInClasses(*r);
    return r;
  }();
  return *registry;
}

}  // namespace

void RegisterChannelClass(const std::string& typeName, TChannelFactory factory) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  AddLocked(r, typeName, std::move(factory));
}

TCommChannelPtr CreateChannel(const std::string& typeName, const std::string& portName) {
  TChannelFactory factory;
  {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& entry : r.classes)
      if (entry.first == typeName) factory = entry.second;
  }
  if (!factory) return nullptr;
  TCommChannelPtr channel = factory();
  if (channel) channel->SetPortName(portName);
  return channel;
}

std::vector<std::string> RegisteredChannelTypes() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::string> names;
  for (const auto& entry : r.classes) names.push_back(entry.first);
  return names;
}

}  // namespace qvl
