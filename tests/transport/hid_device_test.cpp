// The HID device layer: exact identifiers, exclusive hand-out, the reading thread's handlers
// and failures, taking devices back (also from the unplug handler), the hidapi backend without
// hardware, and the TevraW lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/util/exceptions.h"
#include "sim/fake_hid_device.h"
#include "transport/hid_comm.h"
#include "transport/named_mutex.h"

namespace qvl {
namespace {

bool Eventually(const std::function<bool()>& pred, int ms = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

// A backend that lists every device it has, whatever is asked (as hidapi does for 0:0).
class TEverythingBackend : public IHidBackend {
 public:
  std::vector<std::pair<THidDeviceInfo, std::shared_ptr<IHidPeer>>> devices;
  std::vector<THidDeviceInfo> Enumerate(uint16_t, uint16_t) override {
    std::vector<THidDeviceInfo> all;
    for (auto& d : devices) all.push_back(d.first);
    return all;
  }
  std::shared_ptr<THidDevice> Open(const THidDeviceInfo& info) override {
    for (auto& d : devices)
      if (d.first.path == info.path) return std::make_shared<TFakeHidDevice>(info, d.second);
    return nullptr;
  }
  void Add(const std::string& path, uint16_t vendor, uint16_t product,
           std::shared_ptr<IHidPeer> peer) {
    THidDeviceInfo info;
    info.path = path;
    info.vendorId = vendor;
    info.productId = product;
    devices.emplace_back(info, peer);
  }
};

TEST(HidDeviceController, OnlyExactIdentifiersAreHandedOut) {
  auto keyboard = std::make_shared<TScriptedHidPeer>();
  auto adapter = std::make_shared<TScriptedHidPeer>();
  auto backend = std::make_unique<TEverythingBackend>();
  backend->Add("/dev/hidraw0", 0x046D, 0xC31C, keyboard);
  backend->Add("/dev/hidraw1", kUsbVendorId, kUsbLinkProductId, adapter);
  THidDeviceController controller(std::move(backend));
  EXPECT_EQ(controller.Acquire(0, 0), nullptr);
  EXPECT_EQ(controller.Acquire(kUsbVendorId, 0), nullptr);
  EXPECT_EQ(controller.Acquire(kUsbVendorId, kWirelessProductId), nullptr);
  auto device = controller.Acquire(kUsbVendorId, kUsbLinkProductId);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Info().path, "/dev/hidraw1");
  EXPECT_EQ(keyboard->OpenCount(), 0);
  // Handed out exclusively.
  EXPECT_EQ(controller.Acquire(kUsbVendorId, kUsbLinkProductId), nullptr);
  controller.Release(device);
  EXPECT_FALSE(adapter->IsOpen());
  EXPECT_NE(controller.Acquire(kUsbVendorId, kUsbLinkProductId), nullptr);
}

TEST(HidDeviceController, ASecondAdapterIsFoundWhenTheFirstIsTaken) {
  auto backend = std::make_unique<TFakeHidBackend>();
  backend->Plug(kUsbVendorId, kUsbLinkProductId, std::make_shared<TScriptedHidPeer>());
  backend->Plug(kUsbVendorId, kUsbLinkProductId, std::make_shared<TScriptedHidPeer>());
  THidDeviceController controller(std::move(backend));
  auto a = controller.Acquire(kUsbVendorId, kUsbLinkProductId);
  auto b = controller.Acquire(kUsbVendorId, kUsbLinkProductId);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->Info().path, b->Info().path);
  EXPECT_EQ(controller.HandedOut(), 2);
}

struct HidDevice : ::testing::Test {
  std::shared_ptr<TScriptedHidPeer> peer = std::make_shared<TScriptedHidPeer>();
  std::shared_ptr<THidDeviceController> controller;
  HidDevice() {
    auto backend = std::make_unique<TFakeHidBackend>();
    backend->Plug(kUsbVendorId, kUsbLinkProductId, peer);
    controller = std::make_shared<THidDeviceController>(std::move(backend));
  }
};

TEST_F(HidDevice, ReportsReachTheInputHandlerOnTheReadingThread) {
  auto device = controller->Acquire(kUsbVendorId, kUsbLinkProductId);
  ASSERT_TRUE(device);
  std::mutex m;
  std::vector<std::vector<uint8_t>> got;
  bool onOtherThread = true;
  const auto me = std::this_thread::get_id();
  device->SetHandlers(
      [&](const uint8_t* data, size_t size) {
        std::lock_guard<std::mutex> lock(m);
        got.emplace_back(data, data + size);
        onOtherThread =
            onOtherThread && std::this_thread::get_id() != me && device->OnReadingThread();
      },
      nullptr);
  peer->PushReport({3, 1, 2, 3});
  peer->PushReport({1, 9});
  ASSERT_TRUE(peer->WaitUntilDelivered(2000));
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size(), kHidInputReportSize);
  EXPECT_EQ(got[0][0], 3);
  EXPECT_EQ(got[1][1], 9);
  EXPECT_TRUE(onOtherThread);
}

TEST_F(HidDevice, AFailingHandlerDropsItsReportAndTheThreadGoesOn) {
  auto device = controller->Acquire(kUsbVendorId, kUsbLinkProductId);
  std::atomic<int> calls{0};
  device->SetHandlers(
      [&](const uint8_t* data, size_t) {
        ++calls;
        if (data[1] == 1) throw Exception("HID overrun");
        if (data[1] == 2) throw 42;  // not even an exception class
      },
      nullptr);
  peer->PushReport({1, 1});
  peer->PushReport({1, 2});
  peer->PushReport({1, 3});
  ASSERT_TRUE(peer->WaitUntilDelivered(2000));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(device->InputFailures(), 2);
  EXPECT_TRUE(device->Reading());
}

TEST_F(HidDevice, TheUnplugHandlerMayGiveTheDeviceBackOnItsOwnThread) {
  auto device = controller->Acquire(kUsbVendorId, kUsbLinkProductId);
  std::atomic<int> unplugs{0};
  std::atomic<int> inputsAfter{0};
  std::weak_ptr<THidDevice> weak = device;
  device->SetHandlers([&](const uint8_t*, size_t) { ++inputsAfter; },
                      [&, weak] {
                        ++unplugs;
                        controller->Release(weak.lock());
                      });
  peer->Unplug();
  ASSERT_TRUE(Eventually([&] { return unplugs == 1; }));
  EXPECT_TRUE(device->Unplugged());
  EXPECT_TRUE(Eventually([&] { return controller->HandedOut() == 0; }));
  EXPECT_TRUE(Eventually([&] { return !device->Reading(); }));
  controller->Reap();
  EXPECT_EQ(controller->Finishing(), 0);
  EXPECT_FALSE(peer->IsOpen());
  // Writing to a device that was taken back writes nothing.
  uint8_t report[kHidOutputReportSize] = {};
  EXPECT_EQ(device->WriteOutputReport(report, sizeof report), 0);
  EXPECT_EQ(inputsAfter, 0);
}

// Taking the device back while its input handler runs waits for the handler: the handler
// holds on until the release has begun, then looks whether the release has already returned.
TEST_F(HidDevice, NoHandlerRunsAfterTheDeviceIsTakenBack) {
  auto device = controller->Acquire(kUsbVendorId, kUsbLinkProductId);
  std::atomic<bool> entered{false}, releasing{false}, released{false};
  std::atomic<int> lateCalls{0};
  device->SetHandlers(
      [&](const uint8_t*, size_t) {
        entered = true;
        while (!releasing) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (released) ++lateCalls;
      },
      nullptr);
  for (int k = 0; k < 20; ++k) peer->PushReport({1, uint8_t(k)});
  ASSERT_TRUE(Eventually([&] { return entered.load(); }));
  releasing = true;
  controller->Release(device);
  released = true;
  EXPECT_EQ(lateCalls, 0);
  EXPECT_FALSE(device->Reading());
}

TEST_F(HidDevice, DestroyingTheControllerStopsEveryReadingThread) {
  auto device = controller->Acquire(kUsbVendorId, kUsbLinkProductId);
  ASSERT_TRUE(device->Reading());
  controller.reset();
  EXPECT_FALSE(device->Reading());
  EXPECT_FALSE(peer->IsOpen());
}

TEST(HidapiBackend, WithoutTheAdapterThereIsNoDevice) {
  auto backend = CreateHidapiBackend();
  auto found = backend->Enumerate(kUsbVendorId, kUsbLinkProductId);
  auto wireless = backend->Enumerate(kUsbVendorId, kWirelessProductId);
  if (!found.empty() || !wireless.empty()) GTEST_SKIP() << "an adapter is plugged in";
  // The process-wide controller on hidapi: the link reports the missing adapter.
  THIDComm comm;
  try {
    comm.Open("USB", "", 4096, (kUsbVendorId << 16) | kUsbLinkProductId);
    FAIL() << "opened";
  } catch (const NoDeviceException& e) {
    EXPECT_STREQ(e.what(), "No device found");
  }
  EXPECT_EQ(THidDeviceController::Shared()->HandedOut(), 0);
  THidDeviceInfo nowhere;
  nowhere.path = "/dev/hidraw-none";
  EXPECT_EQ(backend->Open(nowhere), nullptr);
}

// --- the TevraW lock ---

struct TevraWLock : ::testing::Test {
  std::string dir;
  void SetUp() override {
    dir = (std::filesystem::temp_directory_path() /
           ("qvl-lock-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name()))
              .string();
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(TevraWLock, TheLockFileLivesInTheGivenPlaceAndTheRuntimeDirectory) {
  TNamedMutex m("TevraW", dir);
  EXPECT_EQ(m.Path(), dir + "/TevraW.lock");
  EXPECT_TRUE(m.SystemWide());
  EXPECT_TRUE(std::filesystem::exists(m.Path()));
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = runtime ? runtime : "";
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  EXPECT_EQ(TNamedMutex::DefaultDirectory(), dir);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(TNamedMutex::DefaultDirectory(), "/tmp");
  if (runtime) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST_F(TevraWLock, OneThreadHoldsItAndMayTakeItAgain) {
  TNamedMutex m("TevraW", dir);
  m.lock();
  m.lock();  // nested, as the status refresh runs the keep-alive
  std::atomic<bool> other{false};
  std::thread t([&] { other = m.try_lock(); });
  t.join();
  EXPECT_FALSE(other);
  m.unlock();
  std::thread t2([&] { other = m.try_lock(); });
  t2.join();
  EXPECT_FALSE(other);  // still held once
  m.unlock();
  std::thread t3([&] {
    other = m.try_lock();
    if (other) m.unlock();
  });
  t3.join();
  EXPECT_TRUE(other);
}

TEST_F(TevraWLock, TwoChannelsOfOneProcessTakeTurns) {
  TNamedMutex a("TevraW", dir), b("TevraW", dir);
  std::lock_guard<TNamedMutex> lock(a);
  std::atomic<bool> got{true};
  std::thread t([&] { got = b.try_lock(); });
  t.join();
  EXPECT_FALSE(got);
}

TEST_F(TevraWLock, AnotherProcessHoldingTheLockKeepsUsOut) {
  TNamedMutex m("TevraW", dir);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const std::string path = m.Path();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = ::open(path.c_str(), O_RDWR);
    char c = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    if (::write(toParent[1], &c, 1) != 1) _exit(2);
    if (::read(toChild[0], &c, 1) != 1) _exit(3);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_FALSE(m.try_lock());
  c = 'x';
  ASSERT_EQ(::write(toChild[1], &c, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(m.try_lock());
  m.unlock();
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

TEST_F(TevraWLock, AProcessLocalLockLeavesNoFile) {
  TNamedMutex m("TevraW", dir, false);
  EXPECT_FALSE(m.SystemWide());
  EXPECT_FALSE(std::filesystem::exists(dir + "/TevraW.lock"));
  m.lock();
  std::atomic<bool> other{true};
  std::thread t([&] { other = m.try_lock(); });
  t.join();
  EXPECT_FALSE(other);
  m.unlock();
}

TEST_F(TevraWLock, ALinkPlantedUnderTheNameIsNotFollowed) {
  const std::string target = dir + "/target";
  std::filesystem::create_symlink(target, dir + "/TevraW.lock");
  TNamedMutex m("TevraW", dir);
  EXPECT_FALSE(m.SystemWide());
  EXPECT_FALSE(std::filesystem::exists(target));
  // It still serves the process.
  m.lock();
  m.unlock();
}

}  // namespace
}  // namespace qvl
