// A controller with its polling thread on a link, driven from the test's own event loop, for
// the suites that run the real links against the simulated logger.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/device/controller.h"
#include "core/device/synchronizer.h"

namespace qvl::test {

struct TPollingHost : IControllerListener {
  TEventLoopSynchronizer loop;
  TCommChannelPtr channel;
  TController controller;
  int values = 0;
  std::vector<std::string> errors;

  explicit TPollingHost(TCommChannelPtr link, int timeOut = 300) : channel(std::move(link)) {
    channel->SetTimeOut(timeOut);
    controller.SetSynchronizer(&loop);
    controller.SetErrorHandler([this](const std::string& m) { errors.push_back(m); });
    controller.AddListener(this);
    controller.SetActive(true);
    controller.SetChannel(channel);
  }
  ~TPollingHost() override {
    controller.SetChannel(nullptr);
    controller.RemoveListener(this);
  }
  void ControllerChanged(TController*, uint8_t flags) override {
    if (flags & kChangeValues) ++values;
  }
  bool Until(const std::function<bool()>& pred, int ms = 5000) { return loop.RunUntil(pred, ms); }
  bool Connect(int ms = 5000) {
    return Until([&] { return controller.Connected(); }, ms);
  }
  // Waits for n more value notifications.
  bool WaitValues(int n, int ms = 5000) {
    const int target = values + n;
    return Until([&] { return values >= target; }, ms);
  }
};

}  // namespace qvl::test
