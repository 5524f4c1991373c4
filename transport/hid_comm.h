// THIDComm: the link over a USB HID device, the logger's USB link adapter (0x04D8:0x0339)
// when used directly and the wireless link adapter (0x04D8:0x033D) under TTevraWComm.
//
// Bytes travel in 64-byte reports whose first byte counts the valid bytes (1 to 63). Input
// reports arrive on the HID layer's reading thread and are appended to a receive ring; output
// bytes are packed into a report that is sent when it is full and more bytes follow, when the
// caller asks for a flush, and before any read. So the command byte, its data chunk and the
// next bytes of a protocol step go out as one USB transaction.
//
// The ring has one writer (the reading thread, write index) and one reader (the thread that
// owns the link, read index); the bytes are copied before the write index moves.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"
#include "transport/hid_device.h"

namespace qvl {

inline constexpr uint16_t kUsbVendorId = 0x04D8;
inline constexpr uint16_t kUsbLinkProductId = 0x0339;   // the USB link adapter
inline constexpr uint16_t kWirelessProductId = 0x033D;  // the wireless link adapter

class THIDComm : public ICommChannel {
 public:
  // Empty, as the channel registry creates it: Open or SetActive (true) give it its values.
  // controller: where devices come from (nullptr: the process-wide one, created on first need).
  explicit THIDComm(std::shared_ptr<THidDeviceController> controller = nullptr);
  // With explicit identifiers and buffer size: read time-out 1000 ms, spare 50. The device is
  // asked for by SetActive (true).
  THIDComm(uint16_t vendorId, uint16_t productId, int bufferSize,
           std::shared_ptr<THidDeviceController> controller = nullptr);
  ~THIDComm() override;
  THIDComm(const THIDComm&) = delete;
  THIDComm& operator=(const THIDComm&) = delete;

  TCommImplementor GetImplementor() override { return {this, kHidChannelClass}; }
  // A device is held.
  bool IsOpen() override;
  void SetActive(bool active) override;
  int InCount() override;
  // Always "Tevra".
  std::string GetPortName() override { return "Tevra"; }
  // A new name gives the device back first.
  void SetPortName(const std::string& name) override;
  int GetSpare() override { return spare_; }
  int GetTimeOut() override { return timeOut_; }
  // Also tells of input reports dropped on the reading thread ("HID overrun").
  std::string GetLastErrorText() override;
  void SetSpare(int spare) override { spare_ = spare; }
  void SetTimeOut(int ms) override { timeOut_ = ms; }
  // Sends pending output first; a null buffer drops the bytes read. "No device connected"
  // without a device, ETimeOutError "Time out on USB" when nothing arrives for the time-out.
  void Read(void* buffer, int count) override;
  std::string ReadString() override;
  void Write(const void* buffer, int count, bool flush) override;
  // Settings are ignored; parameter = vendor << 16 | product. NoDeviceException
  // "No device found" when no such device is free (also kept as the last error text).
  void Open(const std::string& name, const std::string& settings, int bufferSize,
            int parameter) override;

  // Sends pending output, then the given bytes (at most 63, more are cut) as one report with
  // zeros after them: the link adapter's own commands.
  void OneShotWrite(const void* buffer, int count);

  // Waits up to ms for received bytes (returns early when some arrive or the device goes).
  void WaitForInput(int ms);
  void SetLastErrorText(const std::string& text);
  // The clock of the read time-out and its waits (nullptr: the system's).
  void SetTickClock(ITickClock* clock) { clock_ = clock; }
  uint16_t VendorId() const { return vendorId_; }
  uint16_t ProductId() const { return productId_; }
  int BufferSize() const { return int(ring_.size()); }
  // Reports dropped because the ring was too full ("HID overrun").
  int Overruns() const { return overruns_; }
  // Times the device went away while held.
  int Unplugs() const { return unplugs_; }
  std::shared_ptr<THidDeviceController> Controller();
  // The device held, or nullptr.
  std::shared_ptr<THidDevice> HeldDevice() { return Device(); }

 private:
  std::shared_ptr<THidDevice> Device();
  void ReleaseDevice();
  void SendPending();
  void SendReport(THidDevice& device, const uint8_t* report);
  void AllocateRing(int size);
  // Reading thread.
  void OnInputReport(const uint8_t* data, size_t size);
  void OnUnplug();

  std::shared_ptr<THidDeviceController> controller_;
  std::mutex deviceMutex_;
  std::shared_ptr<THidDevice> device_;
  // The device whose handlers point here; cleared only by the owning thread, which waits for a
  // running handler so that none outlives the channel.
  std::shared_ptr<THidDevice> handlerDevice_;
  std::atomic<bool> held_{false};  // device_ is set (read without the lock by waits)
  uint16_t vendorId_ = 0;
  uint16_t productId_ = 0;
  std::vector<uint8_t> ring_;
  std::atomic<size_t> readIndex_{0};
  std::atomic<size_t> writeIndex_{0};
  std::array<uint8_t, kHidOutputReportSize> report_{};
  int pending_ = 0;
  int timeOut_ = 0;
  int spare_ = 0;
  std::string portName_;
  // Written by the reading thread too (a dropped report), hence under its own lock.
  std::mutex errorMutex_;
  std::string lastError_;
  ITickClock* clock_ = nullptr;
  std::atomic<int> overruns_{0};
  std::atomic<int> unplugs_{0};
  std::mutex inputMutex_;
  std::condition_variable inputArrived_;
};

}  // namespace qvl
