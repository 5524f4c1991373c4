#include "transport/hid_comm.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/device/device_time.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr int kReportData = 63;  // data bytes of a report after its count byte
constexpr int kBigRing = 32767;  // above this ring size the device keeps 20 input buffers
constexpr int kBigRingInputBuffers = 20;

}  // namespace

THIDComm::THIDComm(std::shared_ptr<THidDeviceController> controller)
    : controller_(std::move(controller)) {}

THIDComm::THIDComm(uint16_t vendorId, uint16_t productId, int bufferSize,
                   std::shared_ptr<THidDeviceController> controller)
    : controller_(std::move(controller)),
      vendorId_(vendorId),
      productId_(productId),
      timeOut_(1000),
      spare_(50) {
  AllocateRing(bufferSize);
}

THIDComm::~THIDComm() {
  ReleaseDevice();
}

std::shared_ptr<THidDeviceController> THIDComm::Controller() {
  if (!controller_) controller_ = THidDeviceController::Shared();
  return controller_;
}

void THIDComm::AllocateRing(int size) {
  // Without a device no reading thread writes into the ring.
  ring_.assign(size_t(std::max(size, 0)), 0);
  readIndex_ = 0;
  writeIndex_ = 0;
}

std::shared_ptr<THidDevice> THIDComm::Device() {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return device_;
}

bool THIDComm::IsOpen() {
  return Device() != nullptr;
}

void THIDComm::ReleaseDevice() {
  std::shared_ptr<THidDevice> device, handlers;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device = std::move(device_);
    handlers = std::move(handlerDevice_);
    held_ = false;
  }
  // Outside the lock: a handler running now may wait for it.
  if (handlers) handlers->ClearHandlers();
  if (device) Controller()->Release(device);
}

void THIDComm::Open(const std::string& name, const std::string&, int bufferSize, int parameter) {
  portName_ = name;
  ReleaseDevice();
  vendorId_ = uint16_t(uint32_t(parameter) >> 16);
  productId_ = uint16_t(uint32_t(parameter) & 0xFFFF);
  // A ring needs room for one byte besides the gap that tells full from empty.
  AllocateRing(std::max(bufferSize, 2));
  pending_ = 0;
  std::shared_ptr<THidDevice> device = Controller()->Acquire(vendorId_, productId_);
  if (!device) {
    SetLastErrorText("No device found");
    throw NoDeviceException("No device found");
  }
  SetLastErrorText("");
  if (bufferSize > kBigRing) device->SetNumInputBuffers(kBigRingInputBuffers);
  device->SetHandlers([this](const uint8_t* data, size_t size) { OnInputReport(data, size); },
                      [this] { OnUnplug(); });
  std::lock_guard<std::mutex> lock(deviceMutex_);
  device_ = device;
  handlerDevice_ = device;
  held_ = true;
}

void THIDComm::SetActive(bool active) {
  if (!active) {
    ReleaseDevice();
    return;
  }
  if (ring_.empty()) {
    AllocateRing(1024);
    timeOut_ = 400;
    spare_ = 50;
  }
  if (!IsOpen()) Open("USB", "", int(ring_.size()), int((uint32_t(vendorId_) << 16) | productId_));
}

std::string THIDComm::GetLastErrorText() {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return lastError_;
}

void THIDComm::SetLastErrorText(const std::string& text) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  lastError_ = text;
}

void THIDComm::SetPortName(const std::string& name) {
  if (name == portName_) return;
  SetActive(false);
  portName_ = name;
}

int THIDComm::InCount() {
  const size_t size = ring_.size();
  if (size == 0) return 0;
  const size_t w = writeIndex_.load(std::memory_order_acquire);
  const size_t r = readIndex_.load(std::memory_order_relaxed);
  return int((w + size - r) % size);
}

void THIDComm::OnInputReport(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // The count byte may claim more than the report holds: only the bytes after it count.
  const size_t n = std::min<size_t>(size - 1, data[0]);
  const size_t bufferSize = ring_.size();
  const size_t r = readIndex_.load(std::memory_order_acquire);
  const size_t w = writeIndex_.load(std::memory_order_relaxed);
  const size_t space = w < r ? r - w - 1 : r + bufferSize - w - 1;
  if (space < n) {
    // The report is lost: the owner learns it from the count and the last error text.
    ++overruns_;
    SetLastErrorText("HID overrun");
    throw Exception("HID overrun");
  }
  const size_t first = std::min(n, bufferSize - w);
  std::memcpy(ring_.data() + w, data + 1, first);
  if (n > first) std::memcpy(ring_.data(), data + 1 + first, n - first);
  writeIndex_.store((w + n) % bufferSize, std::memory_order_release);
  { std::lock_guard<std::mutex> lock(inputMutex_); }
  inputArrived_.notify_all();
}

void THIDComm::OnUnplug() {
  std::shared_ptr<THidDevice> device;
  std::shared_ptr<THidDeviceController> controller;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device = std::move(device_);
    controller = controller_;
    held_ = false;
    ++unplugs_;
    // A read waiting for bytes looks again and finds the device gone.
    std::lock_guard<std::mutex> inputLock(inputMutex_);
    inputArrived_.notify_all();
  }
  // Nothing of the channel is touched from here on: the owner may be destroying it.
  if (device && controller) controller->Release(device);
}

void THIDComm::WaitForInput(int ms) {
  if (ms <= 0) return;
  std::unique_lock<std::mutex> lock(inputMutex_);
  inputArrived_.wait_for(lock, std::chrono::milliseconds(ms),
                         [&] { return InCount() > 0 || !held_; });
}

void THIDComm::SendReport(THidDevice& device, const uint8_t* report) {
  if (device.WriteOutputReport(report, kHidOutputReportSize) < int(kHidOutputReportSize))
    throw Exception("Write error");
}

void THIDComm::SendPending() {
  std::shared_ptr<THidDevice> device = Device();
  if (!device) throw Exception("No device connected");
  if (pending_ == 0) return;
  report_[0] = 0;
  report_[1] = uint8_t(pending_);
  pending_ = 0;
  SendReport(*device, report_.data());
}

void THIDComm::Write(const void* buffer, int count, bool flush) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  int left = std::max(count, 0);
  while (left > 0) {
    if (pending_ == kReportData) SendPending();
    const int n = std::min(left, kReportData - pending_);
    std::memcpy(report_.data() + 2 + pending_, p, size_t(n));
    pending_ += n;
    p += n;
    left -= n;
  }
  if (flush && pending_ > 0) SendPending();
}

void THIDComm::OneShotWrite(const void* buffer, int count) {
  SendPending();
  std::shared_ptr<THidDevice> device = Device();
  if (!device) throw Exception("No device connected");
  std::array<uint8_t, kHidOutputReportSize> report{};
  const int n = std::clamp(count, 0, kReportData);
  report[1] = uint8_t(n);
  if (n > 0) std::memcpy(report.data() + 2, buffer, size_t(n));
  SendReport(*device, report.data());
}

void THIDComm::Read(void* buffer, int count) {
  auto* out = static_cast<uint8_t*>(buffer);
  SendPending();
  ITickClock& clock = clock_ ? *clock_ : SystemTickClock();
  uint64_t start = clock.NowMs();
  int remaining = count;
  const size_t size = ring_.size();
  while (remaining > 0) {
    const int waiting = InCount();
    if (waiting == 0) {
      if (clock.NowMs() - start > uint64_t(std::max(timeOut_, 0))) {
        SetLastErrorText("Time out on USB");
        throw ETimeOutError("Time out on USB");
      }
      // Unplugged meanwhile: nothing more can come.
      if (!IsOpen()) throw Exception("No device connected");
      // Long reads give the bytes time to gather; short ones return as soon as any arrive.
      const int sleepMs = remaining >= 33 ? std::min<int>(remaining, int(size / 2)) / 64 : 0;
      if (clock_)
        clock_->SleepMs(uint32_t(std::max(sleepMs, 1)));
      else
        WaitForInput(std::max(sleepMs, 1));
      continue;
    }
    const int take = std::min(waiting, remaining);
    const size_t r = readIndex_.load(std::memory_order_relaxed);
    const int first = std::min<int>(take, int(size - r));
    if (out) {
      std::memcpy(out, ring_.data() + r, size_t(first));
      if (take > first) std::memcpy(out + first, ring_.data(), size_t(take - first));
      out += take;
    }
    readIndex_.store((r + size_t(take)) % size, std::memory_order_release);
    remaining -= take;
    if (remaining > 0) start = clock.NowMs();
  }
}

std::string THIDComm::ReadString() {
  return ReadZeroTerminated(*this);
}

}  // namespace qvl
