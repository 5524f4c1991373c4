// The fake HID backend: devices whose hardware side is played in-process, by a test (the
// scripted peer below) or by the simulated adapters. Reports pass through the same device
// layer and reading thread as with hidapi.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "transport/hid_device.h"

namespace qvl {

// The hardware side of a fake device.
class IHidPeer {
 public:
  virtual ~IHidPeer() = default;
  // Plugged in: enumeration lists the device.
  virtual bool Present() = 0;
  // The host wrote one output report (65 bytes, report identifier first); bytes taken, -1 when
  // the device has gone.
  virtual int HostOutputReport(const uint8_t* report, size_t size) = 0;
  // Waits up to timeoutMs for the next input report to the host (64 bytes: count byte, data);
  // its size, 0 when none is ready, -1 when the device has gone.
  virtual int NextInputReport(uint8_t* report, size_t size, int timeoutMs) = 0;
  // Ends a waiting NextInputReport early.
  virtual void WakeReader() {}
  // The host opened or closed the device.
  virtual void Opened() {}
  virtual void Closed() {}
};

class TFakeHidDevice : public THidDevice {
 public:
  TFakeHidDevice(THidDeviceInfo info, std::shared_ptr<IHidPeer> peer);
  ~TFakeHidDevice() override;

 protected:
  int ReadReport(uint8_t* buffer, size_t size, int timeoutMs) override;
  int WriteReport(const uint8_t* report, size_t size) override;
  void WakeReader() override { peer_->WakeReader(); }
  void CloseDevice() override { peer_->Closed(); }

 private:
  std::shared_ptr<IHidPeer> peer_;
};

class TFakeHidBackend : public IHidBackend {
 public:
  // Adds a device under a path of its own ("fake:N").
  void Plug(uint16_t vendorId, uint16_t productId, std::shared_ptr<IHidPeer> peer);
  std::vector<THidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override;
  std::shared_ptr<THidDevice> Open(const THidDeviceInfo& info) override;
  int Opens() const { return opens_; }

 private:
  struct TEntry {
    THidDeviceInfo info;
    std::shared_ptr<IHidPeer> peer;
  };
  std::mutex mutex_;
  std::vector<TEntry> entries_;
  int opens_ = 0;
};

// A peer a test drives by hand: it queues input reports, records output reports, and can be
// unplugged, plugged in again, or made to write short.
class TScriptedHidPeer : public IHidPeer {
 public:
  bool Present() override;
  int HostOutputReport(const uint8_t* report, size_t size) override;
  int NextInputReport(uint8_t* report, size_t size, int timeoutMs) override;
  void WakeReader() override;
  void Opened() override;
  void Closed() override;

  // Queues one input report as given (count byte first; padded to 64 bytes).
  void PushReport(const std::vector<uint8_t>& report);
  // Queues bytes as input reports of up to 63 bytes each.
  void PushBytes(const std::vector<uint8_t>& bytes);
  // The device goes (reads fail) or comes back.
  void Unplug();
  void Replug();
  // Writes report fewer bytes than asked from now on.
  void SetShortWrites(bool on);
  // Answers every output report with a function's input reports (run on the writer's thread).
  void SetResponder(std::function<void(const std::vector<uint8_t>& report)> responder);

  // Output reports written so far, 65 bytes each.
  std::vector<std::vector<uint8_t>> Outputs();
  // Waits until at least n output reports were written; false after timeoutMs.
  bool WaitForOutputs(size_t n, int timeoutMs);
  // Waits until every queued input report has been delivered (the reading thread has taken
  // them all and come back for more).
  bool WaitUntilDelivered(int timeoutMs);
  int OpenCount();
  bool IsOpen();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> inputs_;
  std::vector<std::vector<uint8_t>> outputs_;
  std::function<void(const std::vector<uint8_t>&)> responder_;
  bool present_ = true;
  bool shortWrites_ = false;
  bool wake_ = false;
  bool open_ = false;
  int openCount_ = 0;
  // The reading thread is back for the next report: the ones before were delivered.
  bool readerBack_ = true;
};

}  // namespace qvl
