#include "transport/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace qvl {

std::string TNamedMutex::DefaultDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return runtime;
  return "/tmp";
}

TNamedMutex::TNamedMutex(const std::string& name, const std::string& directory, bool systemWide) {
  path_ = (directory.empty() ? DefaultDirectory() : directory) + "/" + name + ".lock";
  // Never follow a link planted under the name (the default place may be /tmp).
  if (systemWide) fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

TNamedMutex::~TNamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

void TNamedMutex::lock() {
  local_.lock();
  if (++depth_ == 1 && fd_ >= 0) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

bool TNamedMutex::try_lock() {
  if (!local_.try_lock()) return false;
  if (depth_ == 0 && fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    local_.unlock();
    return false;
  }
  ++depth_;
  return true;
}

void TNamedMutex::unlock() {
  if (--depth_ == 0 && fd_ >= 0) ::flock(fd_, LOCK_UN);
  local_.unlock();
}

}  // namespace qvl
