// TSimChannel: the simulated logger attached in-process, as a link. It behaves like the serial
// port (the same time-out rule and texts) without a device in between; the polling thread opens
// it like a serial port.
#pragma once

#include <memory>
#include <string>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"
#include "sim/sim_link.h"

namespace qvl::sim {

inline constexpr const char kSimChannelClass[] = "TSimChannel";

class TSimChannel : public ICommChannel {
 public:
  explicit TSimChannel(const TSimOptions& options, ITickClock* clock = nullptr);

  TCommImplementor GetImplementor() override { return {this, kSimChannelClass}; }
  bool IsOpen() override { return open_; }
  void SetActive(bool active) override;
  int InCount() override;
  std::string GetPortName() override { return portName_; }
  void SetPortName(const std::string& name) override { portName_ = name; }
  int GetSpare() override { return spare_; }
  int GetTimeOut() override { return timeOut_; }
  std::string GetLastErrorText() override { return lastError_; }
  void SetSpare(int spare) override { spare_ = spare; }
  void SetTimeOut(int ms) override { timeOut_ = ms; }
  void Read(void* buffer, int count) override;
  std::string ReadString() override;
  void Write(const void* buffer, int count, bool flush) override;
  void Open(const std::string& name, const std::string& settings, int bufferSize,
            int parameter) override;

  TSimLink& Link() { return *link_; }
  TSimLogger& Logger() { return link_->Logger(); }
  uint64_t NowMs() { return clock_.NowMs(); }

 private:
  void CheckPlugged();

  ITickClock& clock_;
  std::unique_ptr<TSimLink> link_;
  bool open_ = false;
  std::string portName_ = "sim";
  int timeOut_ = 0;
  int spare_ = 0;
  std::string lastError_;
};

}  // namespace qvl::sim
