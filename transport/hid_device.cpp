#include "transport/hid_device.h"

#include <algorithm>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

// How long one wait of the reading thread lasts; bounds how long taking a device back waits.
constexpr int kReadSliceMs = 20;

}  // namespace

THidDevice::~THidDevice() {
  // Backends stop the thread in their own destructor (it calls their ReadReport); this is the
  // last line of defence for a device that was never started or already stopped.
  if (reader_.joinable()) {
    stop_ = true;
    if (OnReadingThread())
      reader_.detach();
    else
      reader_.join();
  }
}

int THidDevice::WriteOutputReport(const uint8_t* report, size_t size) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (closed_ || unplugged_) return 0;
  int n = WriteReport(report, size);
  return n < 0 ? 0 : n;
}

void THidDevice::SetNumInputBuffers(int count) {
  std::lock_guard<std::mutex> lock(ioMutex_);
  inputBuffers_ = count;
  if (!closed_) ApplyNumInputBuffers(count);
}

void THidDevice::SetHandlers(TInputHandler onInput, TUnplugHandler onUnplug) {
  std::lock_guard<std::recursive_mutex> lock(handlerMutex_);
  onInput_ = std::move(onInput);
  onUnplug_ = std::move(onUnplug);
}

void THidDevice::ClearHandlers() {
  // Taking the handler lock waits for a handler that is running on the reading thread; on the
  // reading thread itself the lock is already held and is taken again.
  std::lock_guard<std::recursive_mutex> lock(handlerMutex_);
  onInput_ = nullptr;
  onUnplug_ = nullptr;
}

std::string THidDevice::LastInputFailure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return lastFailure_;
}

void THidDevice::StartReading() {
  if (reader_.joinable()) return;
  reading_ = true;
  reader_ = std::thread([this] { Run(); });
  readerId_ = reader_.get_id();
}

void THidDevice::RequestStop() {
  stop_ = true;
  WakeReader();
}

void THidDevice::Join() {
  if (reader_.joinable() && !OnReadingThread()) reader_.join();
}

void THidDevice::Close() {
  std::lock_guard<std::mutex> lock(ioMutex_);
  if (closed_.exchange(true)) return;
  CloseDevice();
}

void THidDevice::Shutdown() {
  RequestStop();
  if (reader_.joinable()) {
    if (OnReadingThread())
      reader_.detach();
    else
      reader_.join();
  }
  Close();
}

void THidDevice::Deliver(const uint8_t* data, size_t size) {
  std::lock_guard<std::recursive_mutex> lock(handlerMutex_);
  if (!onInput_) return;
  try {
    onInput_(data, size);
  } catch (const std::exception& e) {
    ++inputFailures_;
    std::lock_guard<std::mutex> failureLock(failureMutex_);
    lastFailure_ = e.what();
  } catch (...) {
    ++inputFailures_;
    std::lock_guard<std::mutex> failureLock(failureMutex_);
    lastFailure_ = "HID input failure";
  }
}

void THidDevice::Run() {
  readerId_ = std::this_thread::get_id();
  uint8_t buffer[kHidInputReportSize];
  while (!stop_) {
    int n;
    try {
      n = ReadReport(buffer, sizeof buffer, kReadSliceMs);
    } catch (...) {
      n = -1;
    }
    if (stop_) break;
    if (n < 0) {
      unplugged_ = true;
      std::lock_guard<std::recursive_mutex> lock(handlerMutex_);
      // A copy: the handler may take the device back, which clears the handlers.
      TUnplugHandler handler = onUnplug_;
      if (handler) {
        try {
          handler();
        } catch (...) {
          ++inputFailures_;
        }
      }
      break;
    }
    if (n > 0) Deliver(buffer, size_t(std::min<int>(n, int(sizeof buffer))));
  }
  reading_ = false;
}

// --- controller ---

THidDeviceController::THidDeviceController(std::unique_ptr<IHidBackend> backend)
    : backend_(std::move(backend)) {}

THidDeviceController::~THidDeviceController() {
  std::vector<std::shared_ptr<THidDevice>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(handedOut_);
    all.insert(all.end(), finishing_.begin(), finishing_.end());
    finishing_.clear();
  }
  for (auto& device : all) {
    device->ClearHandlers();
    device->Shutdown();
  }
}

std::shared_ptr<THidDeviceController> THidDeviceController::Shared() {
  static std::mutex mutex;
  static std::shared_ptr<THidDeviceController> shared;
  std::lock_guard<std::mutex> lock(mutex);
  if (!shared) shared = std::make_shared<THidDeviceController>(CreateHidapiBackend());
  return shared;
}

std::vector<THidDeviceInfo> THidDeviceController::Enumerate(uint16_t vendorId, uint16_t productId) {
  std::lock_guard<std::mutex> lock(backendMutex_);
  std::vector<THidDeviceInfo> found;
  // Only exact identifiers: the backends read 0 as "any", which must never pick up another
  // device (a keyboard, say).
  if (vendorId == 0 || productId == 0) return found;
  for (auto& info : backend_->Enumerate(vendorId, productId))
    if (info.vendorId == vendorId && info.productId == productId) found.push_back(info);
  return found;
}

std::shared_ptr<THidDevice> THidDeviceController::Acquire(uint16_t vendorId, uint16_t productId) {
  Reap();
  for (const THidDeviceInfo& info : Enumerate(vendorId, productId)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool taken = false;
      for (const auto& d : handedOut_) taken = taken || d->Info().path == info.path;
      for (const auto& d : finishing_) taken = taken || d->Info().path == info.path;
      if (taken) continue;
    }
    std::shared_ptr<THidDevice> device;
    {
      std::lock_guard<std::mutex> lock(backendMutex_);
      device = backend_->Open(info);
    }
    if (!device) continue;
    device->StartReading();
    std::lock_guard<std::mutex> lock(mutex_);
    handedOut_.push_back(device);
    return device;
  }
  return nullptr;
}

void THidDeviceController::Release(const std::shared_ptr<THidDevice>& device) {
  if (!device) return;
  device->ClearHandlers();
  device->RequestStop();
  const bool own = device->OnReadingThread();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(handedOut_.begin(), handedOut_.end(), device);
    if (it != handedOut_.end()) handedOut_.erase(it);
    // On its own reading thread the device cannot be waited for: that happens later.
    if (own) {
      if (std::find(finishing_.begin(), finishing_.end(), device) == finishing_.end())
        finishing_.push_back(device);
      return;
    }
  }
  device->Join();
  device->Close();
  Reap();
}

int THidDeviceController::HandedOut() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(handedOut_.size());
}

int THidDeviceController::Finishing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(finishing_.size());
}

void THidDeviceController::Reap() {
  std::vector<std::shared_ptr<THidDevice>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = finishing_.begin(); it != finishing_.end();) {
      if (!(*it)->OnReadingThread()) {
        done.push_back(*it);
        it = finishing_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Their handlers are cleared and they were asked to stop: each thread is returning from its
  // unplug handler and ends at once. No lock is held while waiting for them.
  for (auto& device : done) {
    device->Join();
    device->Close();
  }
}

}  // namespace qvl
