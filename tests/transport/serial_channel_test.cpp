// The serial link on a pseudo-terminal: the receive ring, the time-out rule, strings, the
// open and write failures, a hang-up; the channel registry; port discovery on a made-up tree.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "core/util/exceptions.h"
#include "staged_clock.h"
#include "transport/comm_channel_registry.h"
#include "transport/serial_channel.h"
#include "transport/serial_port_discovery.h"

namespace qvl {
namespace {

// A pseudo-terminal pair: the test writes on the master side, the link opens the slave.
struct TPty {
  int master = -1;
  std::string slave;
  TPty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
  }
  ~TPty() {
    if (master >= 0) close(master);
  }
  void Send(const std::vector<uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = write(master, bytes.data() + off, bytes.size() - off);
      ASSERT_GT(n, 0);
      off += size_t(n);
    }
  }
  std::vector<uint8_t> Receive(size_t n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < 200 && out.size() < n; ++i) {
      uint8_t b[256];
      ssize_t got = read(master, b, std::min(sizeof b, n - out.size()));
      if (got > 0) out.insert(out.end(), b, b + got);
    }
    return out;
  }
};

// Calls InCount until it reaches n (bytes cross the terminal in pieces).
int WaitInCount(TSCommThread& link, int n) {
  int c = 0;
  for (int i = 0; i < 500 && (c = link.InCount()) < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return c;
}

TEST(SerialChannel, OpensAPseudoTerminalRawAndWritesThrough) {
  TPty pty;
  TSCommThread link;
  link.Open(pty.slave, "", 4096, 57600);
  ASSERT_TRUE(link.IsOpen()) << link.GetLastErrorText();
  EXPECT_EQ(link.GetPortName(), pty.slave);
  EXPECT_EQ(link.BytesPerMs(), 7);
  EXPECT_EQ(std::string(link.GetImplementor().className), kSerialChannelClass);
  // Raw: bytes that a terminal would translate (CR, ^C, ^S) pass unchanged both ways.
  std::vector<uint8_t> bytes = {0x0D, 0x03, 0x13, 0x11, 0x00, 0x0A, 0xFF};
  link.Write(bytes.data(), int(bytes.size()), true);
  EXPECT_EQ(pty.Receive(bytes.size()), bytes);
  pty.Send(bytes);
  link.SetTimeOut(500);
  std::vector<uint8_t> got(bytes.size());
  link.Read(got.data(), int(got.size()));
  EXPECT_EQ(got, bytes);
}

TEST(SerialChannel, RingKeepsBufferSizeMinusOneAndNeverLooksEmptyWhenFull) {
  TPty pty;
  TSCommThread link;
  link.Open(pty.slave, "", 4096, 57600);
  ASSERT_TRUE(link.IsOpen());
  std::vector<uint8_t> bytes(4095);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
  pty.Send(bytes);
  EXPECT_EQ(WaitInCount(link, 4095), 4095);
  pty.Send({0xAB, 0xCD});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(link.InCount(), 4095);  // full, not empty
  link.SetTimeOut(200);
  std::vector<uint8_t> got(4095);
  link.Read(got.data(), 4095);
  EXPECT_EQ(got, bytes);
  // The bytes that had to wait in the terminal come next, across the ring's end.
  uint8_t more[2];
  link.Read(more, 2);
  EXPECT_EQ(more[0], 0xAB);
  EXPECT_EQ(more[1], 0xCD);
  EXPECT_EQ(link.InCount(), 0);
}

TEST(SerialChannel, ReadWrapsAroundASmallRing) {
  TPty pty;
  TSCommThread link;
  link.Open(pty.slave, "", 8, 57600);
  link.SetTimeOut(300);
  std::vector<uint8_t> bytes(50);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i + 1);
  pty.Send(bytes);
  std::vector<uint8_t> got(50);
  link.Read(got.data(), 50);
  EXPECT_EQ(got, bytes);
}

// The link's clock moves only while it waits: the second half arrives after exactly 400 ms of
// silence on that clock, whatever the machine's speed.
TEST(SerialChannel, TimeOutBoundsTheSilenceBetweenArrivals) {
  TPty pty;
  TSCommThread link;
  test::TStagedClock clock;
  link.SetTickClock(&clock);
  link.Open(pty.slave, "", 4096, 57600);
  link.SetTimeOut(500);
  pty.Send(std::vector<uint8_t>(20, 1));
  ASSERT_EQ(WaitInCount(link, 20), 20);
  clock.Stage(400, [&] { pty.Send(std::vector<uint8_t>(20, 2)); });
  std::vector<uint8_t> got(40);
  EXPECT_NO_THROW(link.Read(got.data(), 40));
  EXPECT_TRUE(clock.Fired());
  EXPECT_EQ(got[19], 1);
  EXPECT_EQ(got[39], 2);
}

TEST(SerialChannel, SilenceFailsWithThePortName) {
  TPty pty;
  TSCommThread link;
  test::TStagedClock clock;
  link.SetTickClock(&clock);
  link.Open(pty.slave, "", 4096, 57600);
  for (int count : {1, 40}) {  // a short read waits byte by byte, a long one in larger steps
    link.SetTimeOut(500);
    const uint64_t start = clock.NowMs();
    std::vector<uint8_t> got(static_cast<size_t>(count));
    try {
      link.Read(got.data(), count);
      FAIL() << count;
    } catch (const ETimeOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Time out on " + pty.slave);
    }
    EXPECT_GT(clock.NowMs() - start, 500u);
    EXPECT_LE(clock.NowMs() - start, 510u);
    EXPECT_EQ(link.GetLastErrorText(), "Time out on " + pty.slave);
    EXPECT_TRUE(link.IsOpen());
  }
}

TEST(SerialChannel, ReadStringStopsAt1024Characters) {
  TPty pty;
  TSCommThread link;
  link.Open(pty.slave, "", 4096, 57600);
  link.SetTimeOut(300);
  std::vector<uint8_t> bytes(1030, 'a');
  bytes.push_back(0);
  pty.Send(bytes);
  EXPECT_EQ(link.ReadString(), std::string(1024, 'a'));
  EXPECT_EQ(WaitInCount(link, 6), 6);  // five 'a' and the terminator are left
  pty.Send({'Q', 'V', 'L', 0});
  link.ReadString();
  EXPECT_EQ(link.ReadString(), "QVL");
}

// Runs f in a child process as the user nobody and returns the text it writes (root only).
std::string AsNobody(const std::function<std::string()>& f) {
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) return "no user nobody";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string text = "cannot become nobody";
    if (setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0) text = f();
    if (write(fds[1], text.data(), text.size()) < 0) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return text;
}

TEST(SerialChannel, FailuresToOpenAreReportedWithTheSystemsReason) {
  TSCommThread link;
  EXPECT_NO_THROW(link.Open("/nonexistent/tty", "", 4096, 57600));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.GetLastErrorText(), "Comm setup failed: No such file or directory");
  uint8_t b = 0;
  try {
    link.Write(&b, 1, true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No communication channel opened");
  }
  EXPECT_THROW(link.InCount(), Exception);
  // A file that is not a terminal cannot be taken for exclusive use.
  link.Open("/dev/null", "", 4096, 57600);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.GetLastErrorText(), "Comm setup failed: Inappropriate ioctl for device");
  // An unsupported speed is refused as a state the port does not take.
  TPty pty;
  link.Open(pty.slave, "", 4096, 12345);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.GetLastErrorText(), "Comm state failed");
  EXPECT_EQ(SerialSetupFailure(EACCES, "uucp"),
            "Comm setup failed: Permission denied (is the user in the group uucp?)");

  // A port without the rights, and a port in use by another program, as a user sees them.
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || !dialout) GTEST_SKIP() << "needs root and the group dialout";
  TPty denied;
  ASSERT_EQ(chown(denied.slave.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(denied.slave.c_str(), 0660), 0);
  TSCommThread holder;
  holder.Open(pty.slave, "", 4096, 57600);
  ASSERT_TRUE(holder.IsOpen());
  ASSERT_EQ(chmod(pty.slave.c_str(), 0666), 0);
  EXPECT_EQ(AsNobody([&] {
              TSCommThread other;
              other.Open(denied.slave, "", 4096, 57600);
              std::string text = other.GetLastErrorText() + "|";
              other.Open(pty.slave, "", 4096, 57600);
              return text + other.GetLastErrorText();
            }),
            "Comm setup failed: Permission denied (is the user in the group dialout?)|"
            "Comm setup failed: Device or resource busy");
}

TEST(SerialChannel, AHangUpClosesTheLink) {
  auto pty = std::make_unique<TPty>();
  TSCommThread link;
  link.Open(pty->slave, "", 4096, 57600);
  ASSERT_TRUE(link.IsOpen());
  pty.reset();  // the device goes away
  try {
    link.InCount();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "COMM error");
  }
  EXPECT_FALSE(link.IsOpen());
}

TEST(ChannelRegistry, CreatesByTypeName) {
  TCommChannelPtr com = CreateChannel("COM", "/dev/ttyUSB7");
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(com->GetPortName(), "/dev/ttyUSB7");
  EXPECT_FALSE(com->IsOpen());
  EXPECT_EQ(CreateChannel("Nope", "x"), nullptr);
  // A second registration under a present name does nothing.
  RegisterChannelClass("COM", [] { return TCommChannelPtr(); });
  EXPECT_NE(CreateChannel("COM", "a"), nullptr);
  auto names = RegisteredChannelTypes();
  EXPECT_EQ(std::count(names.begin(), names.end(), "COM"), 1);
}

TEST(SerialPortDiscovery, APortNamedTwiceIsListedOnce) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("qvl-discovery-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "sys" / "ttyUSB0");
  fs::create_directories(root / "sys" / "ttyS0");
  fs::create_directories(root / "sys" / "tty1");  // a console: no device behind it
  fs::create_directories(root / "dev" / "serial" / "by-id");
  fs::create_directory_symlink(root / "sys", root / "sys" / "ttyUSB0" / "device");
  fs::create_directory_symlink(root / "sys", root / "sys" / "ttyS0" / "device");
  std::ofstream(root / "dev" / "ttyUSB0").put('x');
  std::ofstream(root / "dev" / "ttyACM3").put('x');
  fs::create_symlink(root / "dev" / "ttyUSB0", root / "dev" / "serial" / "by-id" / "usb-A");
  fs::create_symlink(root / "dev" / "ttyACM3", root / "dev" / "serial" / "by-id" / "usb-B");
  TSerialDiscoveryRoots roots{(root / "sys").string(), (root / "dev").string(),
                              (root / "dev" / "serial" / "by-id").string()};
  auto probe = [](const std::string& path, std::string& text) {
    bool ok = path.find("ttyS0") == std::string::npos;  // no UART behind ttyS0
    text = ok ? "RS232" : " type : 0";
    return ok;
  };
  TSerialPortList list = DiscoverSerialPorts(roots, probe);
  const std::string dev = fs::canonical(root / "dev").string();
  EXPECT_EQ(list.ports,
            (std::vector<std::string>{(root / "dev" / "ttyUSB0").string(), dev + "/ttyACM3"}));
  EXPECT_NE(list.diagnostic.find("already in list"), std::string::npos);
  EXPECT_NE(list.diagnostic.find(" added"), std::string::npos);
  EXPECT_NE(list.diagnostic.find("3 Different CommPorts Found"), std::string::npos);
  fs::remove_all(root);
}

}  // namespace
}  // namespace qvl
