#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "cli/run_qvl.h"
#include "core/device/live_channel.h"
#include "core/util/endian.h"
#include "test_paths.h"

namespace qvl::cli {
namespace {

class LiveCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QVL_LIVE_BLOCK", ("/qvl-cli-test-" + std::to_string(::getpid())).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
  }
  // A sender that failed leaves nothing behind either.
  void TearDown() override { ::shm_unlink(LiveBlockName().c_str()); }

  // Waits until a tool has created the shared block and put its id in it.
  static bool WaitForTool(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int fd = ::shm_open(LiveBlockName().c_str(), O_RDONLY, 0);
      if (fd >= 0) {
        uint8_t tool[4] = {};
        bool registered = ::pread(fd, tool, 4, 0) == 4 && GetU32(tool) != 0;
        ::close(fd);
        if (registered) return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
};

TEST_F(LiveCommands, ListenWithoutAToolAndSendWithoutAViewer) {
  TQvlResult listen = RunQvl({"live", "listen"});
  EXPECT_EQ(listen.status, 1);
  EXPECT_EQ(listen.err, "qvl: Error creating communication channel\n");
  TQvlResult send = RunQvl({"--link", "sim", "live", "send", "--seconds", "0", "--no-start"});
  EXPECT_EQ(send.status, 1);
  EXPECT_EQ(send.err, "qvl: Cannot open viewer\n");
}

TEST_F(LiveCommands, SendReachesAListenerInAnotherProcess) {
  // The listener runs in a child process: the shared block and the sockets are what connect
  // the two.
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  auto sender = std::async(std::launch::async, [] {
    return RunQvl({"--link", "sim", "live", "send", "--seconds", "1"});
  });
  ASSERT_TRUE(WaitForTool(std::chrono::seconds(30))) << "the sender made no shared block";
  // Everything the child needs is made before the fork: other threads are running.
  const std::string bin = test::BinDir() + "/qvl";
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out[1], 1);
    ::execl(bin.c_str(), "qvl", "live", "listen", "--messages", "2", "--timeout", "20",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  TQvlResult sent = sender.get();
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  EXPECT_NE(text.find("configuration: controller type 2"), std::string::npos) << text;
  EXPECT_NE(text.find("samples: "), std::string::npos) << text;
  EXPECT_NE(sent.out.find("sent the configuration and"), std::string::npos);
}

}  // namespace
}  // namespace qvl::cli
