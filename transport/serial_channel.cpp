#include "transport/serial_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

bool SpeedConstant(int speed, speed_t& out) {
  static const struct {
    int baud;
    speed_t constant;
  } kSpeeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                 {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& s : kSpeeds)
    if (s.baud == speed) {
      out = s.constant;
      return true;
    }
  return false;
}

// The group that may read and write the device, or "" when its group has no such right.
std::string DeviceGroup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
    return "";
  group g{};
  group* found = nullptr;
  char buffer[1024];
  if (::getgrgid_r(st.st_gid, &g, buffer, sizeof buffer, &found) != 0 || !found) return "";
  return found->gr_name;
}

}  // namespace

std::string SerialSetupFailure(int error, const std::string& deviceGroup) {
  std::string text = "Comm setup failed: " + std::generic_category().message(error);
  if ((error == EACCES || error == EPERM) && !deviceGroup.empty())
    text += " (is the user in the group " + deviceGroup + "?)";
  return text;
}

TSCommThread::~TSCommThread() {
  Close();
}

void TSCommThread::Close() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void TSCommThread::FailOpen(const std::string& message) {
  Close();
  lastError_ = message;
}

void TSCommThread::Open(const std::string& name, const std::string& settings, int bufferSize,
                        int speed) {
  Close();
  lastError_.clear();
  const std::string path = name + settings;
  // A ring needs room for one byte besides the gap that tells full from empty.
  ring_.assign(size_t(std::max(bufferSize, 2)), 0);
  portName_ = path;
  readIndex_ = writeIndex_ = 0;
  lastSpeed_ = speed;

  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int error = fd_ < 0 ? errno : 0;
  if (fd_ >= 0 && ::ioctl(fd_, TIOCEXCL) != 0) error = errno;
  bytesPerMs_ = int(std::lround(speed / 10000.0)) + 1;
  if (error != 0) {
    // The system's reason, so that the user can act on it (rights, a port in use, no such
    // device, not a terminal).
    FailOpen(SerialSetupFailure(error, error == EACCES || error == EPERM ? DeviceGroup(path) : ""));
    return;
  }
  termios tio{};
  speed_t constant;
  if (::tcgetattr(fd_, &tio) != 0 || !SpeedConstant(speed, constant)) {
    FailOpen("Comm state failed");
    return;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
  tio.c_cc[VSTART] = 0x02;
  tio.c_cc[VSTOP] = 0x03;
  // Reads return at once: with nothing waiting, EAGAIN; after a hang-up, 0.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, constant) != 0 || ::cfsetospeed(&tio, constant) != 0 ||
      ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    FailOpen("Comm state failed");
    return;
  }
  // DTR and RTS off; a pseudo-terminal has no modem lines, so a refusal is not a failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIC, &lines);
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    FailOpen("SetCommTimeOuts failed");
    return;
  }
}

void TSCommThread::SetActive(bool active) {
  if (!active) {
    Close();
    return;
  }
  if (fd_ < 0 && !portName_.empty())
    Open(portName_, "", int(ring_.empty() ? 4096 : ring_.size()), lastSpeed_);
}

void TSCommThread::Fail(const char* message) {
  Close();
  throw Exception(message);
}

size_t TSCommThread::ReadPort(size_t at, size_t max) {
  if (max == 0) return 0;
  ssize_t n = ::read(fd_, ring_.data() + at, max);
  if (n > 0) return size_t(n);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  // 0 is a hang-up (the device went away), anything else a read error.
  Fail("COMM error");
}

void TSCommThread::Fill() {
  if (fd_ < 0) throw Exception("No communication channel opened");
  const size_t size = ring_.size();
  if (writeIndex_ < readIndex_) {
    writeIndex_ += ReadPort(writeIndex_, readIndex_ - writeIndex_ - 1);
    return;
  }
  size_t max = size - writeIndex_ - (readIndex_ == 0 ? 1 : 0);
  size_t got = ReadPort(writeIndex_, max);
  writeIndex_ += got;
  if (writeIndex_ == size) {
    writeIndex_ = 0;
    if (readIndex_ > 1) writeIndex_ += ReadPort(0, readIndex_ - 1);
  }
}

int TSCommThread::InCount() {
  Fill();
  const size_t size = ring_.size();
  return int((writeIndex_ + size - readIndex_) % size);
}

void TSCommThread::WaitForInput(int ms) {
  if (fd_ < 0 || ms <= 0) return;
  pollfd p{fd_, POLLIN, 0};
  ::poll(&p, 1, ms);
}

void TSCommThread::Read(void* buffer, int count) {
  auto* out = static_cast<uint8_t*>(buffer);
  ITickClock& clock = Clock();
  uint64_t start = clock.NowMs();
  int remaining = count;
  while (remaining > 0) {
    int waiting = InCount();
    if (waiting == 0) {
      if (clock.NowMs() - start > uint64_t(std::max(timeOut_, 0))) {
        lastError_ = "Time out on " + portName_;
        throw ETimeOutError(lastError_);
      }
      if (bytesPerMs_ < remaining) {
        clock.SleepMs(uint32_t(std::min<int>(remaining, int(ring_.size() / 2)) / bytesPerMs_));
      } else if (clock_) {
        clock_->SleepMs(1);
      } else {
        // Short reads wait on the port itself, so the first byte ends the wait at once.
        WaitForInput(1);
      }
      continue;
    }
    int take = std::min(waiting, remaining);
    const size_t size = ring_.size();
    int first = std::min<int>(take, int(size - readIndex_));
    std::memcpy(out, ring_.data() + readIndex_, size_t(first));
    if (take > first) std::memcpy(out + first, ring_.data(), size_t(take - first));
    readIndex_ = (readIndex_ + size_t(take)) % size;
    out += take;
    remaining -= take;
    if (remaining > 0) start = clock.NowMs();
  }
}

std::string TSCommThread::ReadString() {
  return ReadZeroTerminated(*this);
}

void TSCommThread::Write(const void* buffer, int count, bool) {
  if (fd_ < 0) throw Exception("No communication channel opened");
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t left = size_t(std::max(count, 0));
  // The whole write gets 1000 ms plus 1000 ms per byte, as the port's write time-outs.
  const uint64_t deadline = Clock().NowMs() + 1000 + 1000ull * left;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n > 0) {
      p += n;
      left -= size_t(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR) && Clock().NowMs() < deadline) {
      pollfd pf{fd_, POLLOUT, 0};
      ::poll(&pf, 1, 10);
      continue;
    }
    Fail("Comm write error");
  }
}

}  // namespace qvl
