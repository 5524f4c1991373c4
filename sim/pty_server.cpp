#include "sim/pty_server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace qvl::sim {

TPtyServer::TPtyServer(const TSimOptions& options, std::string symlinkPath)
    : symlinkPath_(std::move(symlinkPath)) {
  link_ = std::make_unique<TSimLink>(options, NowMs());
}

TPtyServer::~TPtyServer() {
  CloseTerminal();
  if (!symlinkPath_.empty()) ::unlink(symlinkPath_.c_str());
}

uint64_t TPtyServer::NowMs() const {
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

bool TPtyServer::Start() {
  return OpenTerminal();
}

bool TPtyServer::OpenTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error_ = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    CloseTerminal();
    return false;
  }
  char name[256];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    error_ = "cannot name the pseudo-terminal";
    CloseTerminal();
    return false;
  }
  slavePath_ = name;
  // Holding the slave side open keeps the terminal alive between hosts, and makes it raw
  // before the first host arrives.
  slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveHold_ >= 0) {
    termios tio{};
    if (::tcgetattr(slaveHold_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(slaveHold_, TCSANOW, &tio);
    }
  }
  int flags = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
  if (!symlinkPath_.empty()) {
    std::string tmp = symlinkPath_ + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(name, tmp.c_str()) == 0) ::rename(tmp.c_str(), symlinkPath_.c_str());
  }
  return true;
}

void TPtyServer::CloseTerminal() {
  if (slaveHold_ >= 0) ::close(slaveHold_);
  if (master_ >= 0) ::close(master_);
  slaveHold_ = master_ = -1;
}

void TPtyServer::Run(int64_t runForMs) {
  const uint64_t end =
      runForMs < 0 ? std::numeric_limits<uint64_t>::max() : NowMs() + uint64_t(runForMs);
  uint8_t buffer[4096];
  while (!stop_ && NowMs() < end) {
    const uint64_t now = NowMs();
    bool unplugged;
    {
      std::lock_guard<std::mutex> lock(link_->Mutex());
      unplugged = link_->Unplugged(now);
    }
    if (unplugged) {
      if (master_ >= 0) {
        CloseTerminal();
        if (!symlinkPath_.empty()) ::unlink(symlinkPath_.c_str());
      }
      ::usleep(10000);
      continue;
    }
    if (master_ < 0 && !OpenTerminal()) {
      ::usleep(100000);
      continue;
    }
    int waitMs = 20;
    {
      std::lock_guard<std::mutex> lock(link_->Mutex());
      uint64_t next = link_->NextDueMs();
      if (next != std::numeric_limits<uint64_t>::max())
        waitMs = int(std::clamp<int64_t>(int64_t(next) - int64_t(now), 0, 20));
    }
    pollfd p{master_, POLLIN, 0};
    int ready = ::poll(&p, 1, waitMs);
    if (ready > 0 && (p.revents & POLLIN)) {
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(link_->Mutex());
        link_->HostWrite(buffer, size_t(n), NowMs());
      }
    }
    size_t n;
    {
      std::lock_guard<std::mutex> lock(link_->Mutex());
      n = link_->TakeDue(NowMs(), buffer, sizeof buffer);
    }
    size_t off = 0;
    while (off < n) {
      ssize_t w = ::write(master_, buffer + off, n - off);
      if (w > 0) {
        off += size_t(w);
      } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
        ::usleep(1000);
        if (stop_) break;
      } else {
        break;
      }
    }
  }
}

}  // namespace qvl::sim
