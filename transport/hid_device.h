// The HID device layer: what the USB links need of a HID device and nothing more.
//
// A process-wide device controller finds a plugged device by vendor and product identifier,
// hands it out exclusively and takes it back. A device handed out writes one 65-byte output
// report at a time (report identifier first), takes a number of input buffers, and runs a
// reading thread of its own that calls the input handler once per received report and the
// unplug handler once when the device has gone (a read error or a vanished device).
//
// Nothing escapes the reading thread: a failure raised by the input handler ("HID overrun"
// when the owner's ring is full) drops that report and is recorded on the device, where the
// owning side can see it.
//
//   backend --Enumerate/Open--> controller --Acquire--> owner (handlers set)
//                                   ^                     |
//                                   +------ Release ------+   (also from the unplug handler)
//
// Backends: hidapi on hidraw (the real devices) and a fake one whose hardware side is played by
// a test or by the simulated adapters.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvl {

// Size of an output report as written: report identifier 0 and 64 bytes.
inline constexpr size_t kHidOutputReportSize = 65;
// Size of an input report as delivered: the 64 bytes after the report identifier.
inline constexpr size_t kHidInputReportSize = 64;

struct THidDeviceInfo {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string product;  // product string, where the device tells it
};

class THidDevice : public std::enable_shared_from_this<THidDevice> {
 public:
  // Called on the reading thread with one report (after the report identifier).
  using TInputHandler = std::function<void(const uint8_t* data, size_t size)>;
  // Called on the reading thread once, when the device has gone.
  using TUnplugHandler = std::function<void()>;

  explicit THidDevice(THidDeviceInfo info) : info_(std::move(info)) {}
  virtual ~THidDevice();
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  const THidDeviceInfo& Info() const { return info_; }

  // Writes one output report; the number of bytes written (less than size, or 0, on failure).
  int WriteOutputReport(const uint8_t* report, size_t size);
  void SetNumInputBuffers(int count);
  int NumInputBuffers() const { return inputBuffers_; }
  // Sets both handlers; reports that arrive before are dropped.
  void SetHandlers(TInputHandler onInput, TUnplugHandler onUnplug);
  // No handler is called after this returns. From the reading thread itself (inside a
  // handler) it returns at once.
  void ClearHandlers();

  // The device has gone (read error or vanished).
  bool Unplugged() const { return unplugged_; }
  // Failures raised by the input handler; each dropped its report.
  int InputFailures() const { return inputFailures_; }
  std::string LastInputFailure() const;
  // The reading thread is running (started when the controller hands the device out).
  bool Reading() const { return reading_; }
  bool OnReadingThread() const { return std::this_thread::get_id() == readerId_.load(); }

 protected:
  // Backend: waits up to timeoutMs for one input report; its size, 0 when none came, -1 when
  // the device has gone.
  virtual int ReadReport(uint8_t* buffer, size_t size, int timeoutMs) = 0;
  // Backend: writes one output report; bytes written, -1 on failure.
  virtual int WriteReport(const uint8_t* report, size_t size) = 0;
  virtual void ApplyNumInputBuffers(int) {}
  // Backend: ends a ReadReport that is waiting (the device is being closed).
  virtual void WakeReader() {}
  // Backend: closes the device; the reading thread has ended.
  virtual void CloseDevice() {}
  // Stops the reading thread and closes the device; a backend's destructor calls it first.
  void Shutdown();

 private:
  friend class THidDeviceController;
  void StartReading();
  // Asks the reading thread to end; Join waits for it (not from the reading thread).
  void RequestStop();
  void Join();
  void Close();
  void Run();
  void Deliver(const uint8_t* data, size_t size);

  THidDeviceInfo info_;
  std::recursive_mutex handlerMutex_;
  // Held by every write and by closing, so that a write never meets a closed device.
  std::mutex ioMutex_;
  TInputHandler onInput_;
  TUnplugHandler onUnplug_;
  std::thread reader_;
  std::atomic<std::thread::id> readerId_{};
  std::atomic<bool> stop_{false};
  std::atomic<bool> reading_{false};
  std::atomic<bool> unplugged_{false};
  std::atomic<bool> closed_{false};
  std::atomic<int> inputFailures_{0};
  mutable std::mutex failureMutex_;
  std::string lastFailure_;
  std::atomic<int> inputBuffers_{0};
};

// Where devices come from: hidapi, or the fake backend.
class IHidBackend {
 public:
  virtual ~IHidBackend() = default;
  // The plugged devices with exactly these identifiers.
  virtual std::vector<THidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) = 0;
  // Opens one of them; nullptr when it cannot be opened.
  virtual std::shared_ptr<THidDevice> Open(const THidDeviceInfo& info) = 0;
};

class THidDeviceController {
 public:
  explicit THidDeviceController(std::unique_ptr<IHidBackend> backend);
  // Takes every device back and waits for their reading threads.
  ~THidDeviceController();
  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;

  // The process-wide controller on hidapi, created on first need and freed at exit.
  static std::shared_ptr<THidDeviceController> Shared();

  // The first plugged device with these identifiers that is not handed out, opened and
  // reading; nullptr when there is none.
  std::shared_ptr<THidDevice> Acquire(uint16_t vendorId, uint16_t productId);
  // Takes a device back: no handler is called afterwards, its reading thread ends and the
  // device is closed. Called from the device's own reading thread (its unplug handler), the
  // thread is waited for later, by the next call on another thread or at destruction.
  void Release(const std::shared_ptr<THidDevice>& device);
  std::vector<THidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId);

  // Devices handed out and not taken back.
  int HandedOut();
  // Devices whose reading thread has not been waited for yet (taken back from their own
  // reading thread). Reap waits for those that have ended.
  int Finishing();
  void Reap();

 private:
  std::unique_ptr<IHidBackend> backend_;
  std::mutex backendMutex_;  // the backend's calls one at a time
  std::mutex mutex_;
  std::vector<std::shared_ptr<THidDevice>> handedOut_;
  std::vector<std::shared_ptr<THidDevice>> finishing_;
};

// The hidapi backend (hidraw).
std::unique_ptr<IHidBackend> CreateHidapiBackend();

}  // namespace qvl
