// TSCommThread: the serial port link on a POSIX terminal device (a USB serial adapter, a
// built-in port or a pseudo-terminal). Raw 8N1 without flow control at the given speed, used
// exclusively. Despite its name it has no thread of its own: callers poll it. Received bytes
// are kept in a ring buffer that holds at most its size - 1 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"

namespace qvl {

// The last error text of a port that cannot be opened: "Comm setup failed", the system's reason
// for error, and for missing rights the group that may use the device (when known), e.g.
// "Comm setup failed: Permission denied (is the user in the group dialout?)".
std::string SerialSetupFailure(int error, const std::string& deviceGroup);

class TSCommThread : public ICommChannel {
 public:
  TSCommThread() = default;
  ~TSCommThread() override;
  TSCommThread(const TSCommThread&) = delete;
  TSCommThread& operator=(const TSCommThread&) = delete;

  TCommImplementor GetImplementor() override { return {this, kSerialChannelClass}; }
  bool IsOpen() override { return fd_ >= 0; }
  // false closes the port; true reopens it with the last name, buffer size and speed.
  void SetActive(bool active) override;
  // Fills the ring from the port first.
  int InCount() override;
  std::string GetPortName() override { return portName_; }
  void SetPortName(const std::string& name) override { portName_ = name; }
  int GetSpare() override { return spare_; }
  int GetTimeOut() override { return timeOut_; }
  std::string GetLastErrorText() override { return lastError_; }
  void SetSpare(int spare) override { spare_ = spare; }
  void SetTimeOut(int ms) override { timeOut_ = ms; }
  // The time-out bounds the silence between arrivals, not the whole read.
  void Read(void* buffer, int count) override;
  // At most 1024 characters; a longer string leaves its rest unread after the 1025th byte.
  std::string ReadString() override;
  void Write(const void* buffer, int count, bool flush) override;
  // Device path = name + settings; speed in baud.
  void Open(const std::string& name, const std::string& settings, int bufferSize,
            int speed) override;
  void Close();

  int BufferSize() const { return int(ring_.size()); }
  int BytesPerMs() const { return bytesPerMs_; }
  // The clock of the read time-out and its waits (nullptr: the system's).
  void SetTickClock(ITickClock* clock) { clock_ = clock; }

 private:
  ITickClock& Clock() { return clock_ ? *clock_ : SystemTickClock(); }
  void Fill();
  // Reads from the port into the ring; returns the bytes received.
  size_t ReadPort(size_t at, size_t max);
  [[noreturn]] void Fail(const char* message);
  void FailOpen(const std::string& message);
  // Waits up to ms for input on the port (never longer, returns early when bytes arrive).
  void WaitForInput(int ms);

  int fd_ = -1;
  std::string portName_;
  std::vector<uint8_t> ring_;
  size_t readIndex_ = 0;
  size_t writeIndex_ = 0;
  int timeOut_ = 0;
  int spare_ = 0;
  int bytesPerMs_ = 1;
  std::string lastError_;
  int lastSpeed_ = 57600;
  ITickClock* clock_ = nullptr;
};

}  // namespace qvl
