// TNamedMutex: a lock shared by every process of the user that opens the same name, held
// recursively by one thread at a time. Across processes it is an advisory lock (flock) on
// "<name>.lock" in $XDG_RUNTIME_DIR (else /tmp); inside the process a recursive mutex, since
// one open lock file does not keep the threads of its own process apart. When the lock file
// cannot be opened the lock still serves the process.
#pragma once

#include <mutex>
#include <string>

namespace qvl {

class TNamedMutex {
 public:
  // directory: where the lock file lives ("" for the default place). systemWide false: the
  // process-local part only (for a resource no other process can reach).
  explicit TNamedMutex(const std::string& name, const std::string& directory = "",
                       bool systemWide = true);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  void lock();
  void unlock();
  // Takes the lock when nobody holds it (in this process or another); false otherwise.
  bool try_lock();

  const std::string& Path() const { return path_; }
  // The lock file is open: the lock reaches other processes.
  bool SystemWide() const { return fd_ >= 0; }

  // $XDG_RUNTIME_DIR when set, else /tmp.
  static std::string DefaultDirectory();

 private:
  std::recursive_mutex local_;
  int depth_ = 0;  // nesting of the holding thread (changed only while local_ is held)
  int fd_ = -1;
  std::string path_;
};

}  // namespace qvl
