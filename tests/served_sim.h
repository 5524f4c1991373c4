// The simulated logger served on a pseudo-terminal from its own thread, for suites that drive
// the real serial link against it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "sim/pty_server.h"

namespace qvl::test {

struct TServedSim {
  sim::TPtyServer server;
  std::thread thread;
  explicit TServedSim(const sim::TSimOptions& options, std::string symlink = "")
      : server(options, std::move(symlink)) {
    EXPECT_TRUE(server.Start()) << server.ErrorText();
    thread = std::thread([this] { server.Run(); });
  }
  ~TServedSim() {
    server.Stop();
    thread.join();
  }
  // Runs f on the simulated logger while the server is kept from touching it.
  template <typename F>
  auto WithLogger(F f) {
    std::lock_guard<std::mutex> lock(server.Link().Mutex());
    return f(server.Link().Logger());
  }
};

}  // namespace qvl::test
