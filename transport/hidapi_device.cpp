// The HID device layer on hidapi (hidraw): enumeration by identifiers, opening by path, and a
// reading thread around hid_read_timeout. A read error is the unplug notice: hidraw fails a
// read once the device has gone.
#include <hidapi/hidapi.h>

#include <cwchar>
#include <mutex>

#include "transport/hid_device.h"

namespace qvl {
namespace {

std::string Narrow(const wchar_t* text) {
  std::string s;
  if (!text) return s;
  for (; *text; ++text) s.push_back(*text < 0x80 ? char(*text) : '?');
  return s;
}

class THidapiDevice : public THidDevice {
 public:
  THidapiDevice(THidDeviceInfo info, hid_device* handle)
      : THidDevice(std::move(info)), handle_(handle) {}
  ~THidapiDevice() override { Shutdown(); }

 protected:
  int ReadReport(uint8_t* buffer, size_t size, int timeoutMs) override {
    int n = hid_read_timeout(handle_, buffer, size, timeoutMs);
    return n < 0 ? -1 : n;
  }
  int WriteReport(const uint8_t* report, size_t size) override {
    return hid_write(handle_, report, size);
  }
  // hidraw keeps its own queue of input reports in the kernel; the reading thread empties it
  // as reports come, so the count is only recorded.
  void ApplyNumInputBuffers(int) override {}
  void CloseDevice() override {
    if (handle_) hid_close(handle_);
    handle_ = nullptr;
  }

 private:
  hid_device* handle_;
};

class THidapiBackend : public IHidBackend {
 public:
  THidapiBackend() : initialised_(hid_init() == 0) {}
  ~THidapiBackend() override {
    if (initialised_) hid_exit();
  }

  std::vector<THidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
    std::vector<THidDeviceInfo> found;
    if (!initialised_) return found;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* d = list; d; d = d->next) {
      if (!d->path) continue;
      THidDeviceInfo info;
      info.path = d->path;
      info.vendorId = d->vendor_id;
      info.productId = d->product_id;
      info.product = Narrow(d->product_string);
      found.push_back(info);
    }
    hid_free_enumeration(list);
    return found;
  }

  std::shared_ptr<THidDevice> Open(const THidDeviceInfo& info) override {
    if (!initialised_) return nullptr;
    hid_device* handle = hid_open_path(info.path.c_str());
    if (!handle) return nullptr;
    return std::make_shared<THidapiDevice>(info, handle);
  }

 private:
  bool initialised_;
};

}  // namespace

std::unique_ptr<IHidBackend> CreateHidapiBackend() {
  return std::make_unique<THidapiBackend>();
}

}  // namespace qvl
