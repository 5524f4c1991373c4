#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <future>

#include "cli/run_qvl.h"
#include "test_paths.h"

namespace qvl::cli {
namespace {

class LiveCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QVL_LIVE_BLOCK", ("/qvl-cli-test-" + std::to_string(::getpid())).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
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
  ::usleep(300 * 1000);
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
