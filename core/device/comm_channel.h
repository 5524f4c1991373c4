// ICommChannel: the byte link to the logger. Every byte between the programs and the logger
// passes through it: blocking reads that time out, buffered writes and a few settings. The
// serial port, the USB HID link and the wireless link adapter implement it (transport/); the
// command protocol on top does not know which one it talks through.
#pragma once

#include <memory>
#include <string>

namespace qvl {

// What a link reports as its implementing object: the object and its class name. The polling
// thread opens a link of the USB HID class with other parameters than every other link.
struct TCommImplementor {
  void* object = nullptr;
  const char* className = "";
};

// Class names the polling thread looks for.
inline constexpr const char kHidChannelClass[] = "THIDComm";
inline constexpr const char kSerialChannelClass[] = "TSCommThread";

// Bounds of the link status indicator on the main window.
struct TIndicatorBounds {
  int left = 0, top = 0, width = 0, height = 0;
};

class ICommChannel {
 public:
  virtual ~ICommChannel() = default;

  virtual TCommImplementor GetImplementor() = 0;
  virtual bool IsOpen() = 0;
  // false closes the link; true reopens it where the class can.
  virtual void SetActive(bool active) = 0;
  // Bytes received and not yet read.
  virtual int InCount() = 0;
  // The name shown to the user (the serial port's device path).
  virtual std::string GetPortName() = 0;
  // The name used by the next open; setting it does not reopen.
  virtual void SetPortName(const std::string& name) = 0;
  // A second integer setting that nothing reads.
  virtual int GetSpare() = 0;
  // Read time-out in ms.
  virtual int GetTimeOut() = 0;
  // Text of the last open or time-out error, empty if none.
  virtual std::string GetLastErrorText() = 0;
  virtual void SetSpare(int spare) = 0;
  virtual void SetTimeOut(int ms) = 0;
  // Blocks until count bytes are read; ETimeOutError when the link stays silent too long.
  virtual void Read(void* buffer, int count) = 0;
  // Reads bytes up to a 0x00 byte (which is not part of the result).
  virtual std::string ReadString() = 0;
  // Sends bytes; a link that packs bytes into reports may hold them until flush or the next
  // read.
  virtual void Write(const void* buffer, int count, bool flush) = 0;
  // Opens the link. Failures do not raise: the link stays closed and GetLastErrorText tells
  // why.
  virtual void Open(const std::string& name, const std::string& settings, int bufferSize,
                    int parameter) = 0;
  // Places a link status indicator on a window; only the wireless adapter shows one.
  virtual void AttachIndicator(void* parentWindow, const TIndicatorBounds& bounds) {
    (void)parentWindow;
    (void)bounds;
  }
};

// Links are shared: the controller holds one reference, the window that created it another.
using TCommChannelPtr = std::shared_ptr<ICommChannel>;

// ReadString as every link does it: single bytes through Read up to a 0x00 byte. At most 1024
// characters are kept; after 1025 bytes without a 0x00 the text read so far is returned.
inline std::string ReadZeroTerminated(ICommChannel& link) {
  constexpr int kMaxStringLength = 1024;
  std::string s;
  for (int read = 0; read < kMaxStringLength + 1; ++read) {
    char c;
    link.Read(&c, 1);
    if (c == 0) return s;
    if (int(s.size()) < kMaxStringLength) s.push_back(c);
  }
  return s;
}

}  // namespace qvl
