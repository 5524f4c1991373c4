#include "sim/fake_hid_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace qvl {

TFakeHidDevice::TFakeHidDevice(THidDeviceInfo info, std::shared_ptr<IHidPeer> peer)
    : THidDevice(std::move(info)), peer_(std::move(peer)) {
  peer_->Opened();
}

TFakeHidDevice::~TFakeHidDevice() {
  Shutdown();
}

int TFakeHidDevice::ReadReport(uint8_t* buffer, size_t size, int timeoutMs) {
  return peer_->NextInputReport(buffer, size, timeoutMs);
}

int TFakeHidDevice::WriteReport(const uint8_t* report, size_t size) {
  return peer_->HostOutputReport(report, size);
}

// --- backend ---

void TFakeHidBackend::Plug(uint16_t vendorId, uint16_t productId, std::shared_ptr<IHidPeer> peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  TEntry entry;
  entry.info.path = "fake:" + std::to_string(entries_.size());
  entry.info.vendorId = vendorId;
  entry.info.productId = productId;
  entry.info.product = "fake";
  entry.peer = std::move(peer);
  entries_.push_back(std::move(entry));
}

std::vector<THidDeviceInfo> TFakeHidBackend::Enumerate(uint16_t vendorId, uint16_t productId) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<THidDeviceInfo> found;
  for (const TEntry& e : entries_)
    if (e.info.vendorId == vendorId && e.info.productId == productId && e.peer->Present())
      found.push_back(e.info);
  return found;
}

std::shared_ptr<THidDevice> TFakeHidBackend::Open(const THidDeviceInfo& info) {
  std::shared_ptr<IHidPeer> peer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const TEntry& e : entries_)
      if (e.info.path == info.path) peer = e.peer;
    if (!peer || !peer->Present()) return nullptr;
    ++opens_;
  }
  return std::make_shared<TFakeHidDevice>(info, peer);
}

// --- scripted peer ---

bool TScriptedHidPeer::Present() {
  std::lock_guard<std::mutex> lock(mutex_);
  return present_;
}

int TScriptedHidPeer::HostOutputReport(const uint8_t* report, size_t size) {
  std::function<void(const std::vector<uint8_t>&)> responder;
  std::vector<uint8_t> copy(report, report + size);
  int written;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) return -1;
    outputs_.push_back(copy);
    responder = responder_;
    written = shortWrites_ ? int(size) - 1 : int(size);
  }
  changed_.notify_all();
  if (responder) responder(copy);
  return written;
}

int TScriptedHidPeer::NextInputReport(uint8_t* report, size_t size, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  readerBack_ = true;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return !present_ || wake_ || !inputs_.empty(); });
  wake_ = false;
  if (!present_) return -1;
  if (inputs_.empty()) return 0;
  std::vector<uint8_t> r = std::move(inputs_.front());
  inputs_.pop_front();
  readerBack_ = false;
  const size_t n = std::min(size, r.size());
  std::memcpy(report, r.data(), n);
  changed_.notify_all();
  return int(n);
}

void TScriptedHidPeer::WakeReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = true;
  }
  changed_.notify_all();
}

void TScriptedHidPeer::Opened() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  ++openCount_;
}

void TScriptedHidPeer::Closed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  changed_.notify_all();
}

void TScriptedHidPeer::PushReport(const std::vector<uint8_t>& report) {
  std::vector<uint8_t> r = report;
  r.resize(kHidInputReportSize, 0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_.push_back(std::move(r));
    readerBack_ = false;
  }
  changed_.notify_all();
}

void TScriptedHidPeer::PushBytes(const std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at < bytes.size(); at += 63) {
    const size_t n = std::min<size_t>(63, bytes.size() - at);
    std::vector<uint8_t> r(n + 1);
    r[0] = uint8_t(n);
    std::memcpy(r.data() + 1, bytes.data() + at, n);
    PushReport(r);
  }
}

void TScriptedHidPeer::Unplug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = false;
  }
  changed_.notify_all();
}

void TScriptedHidPeer::Replug() {
  std::lock_guard<std::mutex> lock(mutex_);
  present_ = true;
  inputs_.clear();
}

void TScriptedHidPeer::SetShortWrites(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortWrites_ = on;
}

void TScriptedHidPeer::SetResponder(
    std::function<void(const std::vector<uint8_t>& report)> responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<std::vector<uint8_t>> TScriptedHidPeer::Outputs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_;
}

bool TScriptedHidPeer::WaitForOutputs(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return outputs_.size() >= n; });
}

bool TScriptedHidPeer::WaitUntilDelivered(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return inputs_.empty() && readerBack_; });
}

int TScriptedHidPeer::OpenCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return openCount_;
}

bool TScriptedHidPeer::IsOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

}  // namespace qvl
