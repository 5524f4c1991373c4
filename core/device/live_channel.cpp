#include "core/device/live_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/device/controller.h"
#include "core/device/live_sample.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr size_t kToolField = 0;
constexpr size_t kViewerField = 4;
// A message larger than this is not a live channel message.
constexpr uint32_t kMaxMessageSize = 256u << 20;
// How long a receiver waits for the rest of a message that has begun to arrive.
constexpr int kReceiveTimeoutMs = 5000;

const char kChannelError[] = "Error creating communication channel";

using TClock = std::chrono::steady_clock;

int RemainingMs(TClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
  return left.count() < 0 ? 0 : int(left.count());
}

// Reads or writes exactly n bytes within the deadline; false on failure or time-out.
bool Transfer(int fd, uint8_t* data, size_t n, bool reading, TClock::time_point deadline) {
  size_t done = 0;
  while (done < n) {
    pollfd p{fd, short(reading ? POLLIN : POLLOUT), 0};
    int ready = ::poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t k = reading ? ::recv(fd, data + done, n - done, 0)
                        : ::send(fd, data + done, n - done, MSG_NOSIGNAL);
    if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (k <= 0) return false;
    done += size_t(k);
  }
  return true;
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

// True when the process at the other end of the connected socket runs as this process's user.
bool PeerIsSameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
         peer.uid == ::geteuid();
}

// Opens the shared block of this user: the name's object must belong to this user (a block made
// by someone else under the name is never used) and hold the 16 bytes, else -1. `create` makes
// it when missing.
int OpenOwnBlock(bool create) {
  int fd = ::shm_open(LiveBlockName().c_str(), O_RDWR | (create ? O_CREAT : 0), 0600);
  if (fd < 0) return -1;
  struct stat st;
  bool usable = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
  if (usable && st.st_size < off_t(kLiveBlockSize))
    usable = create && ::ftruncate(fd, off_t(kLiveBlockSize)) == 0;
  if (!usable) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A connected socket to the endpoint of `id`; -1 when nothing listens there. An endpoint whose
// queue of connections is full is tried again until the deadline (-2 when it stays full).
int Connect(uint32_t id, TClock::time_point deadline) {
  sockaddr_un a = Address(TLiveEndpoint::SocketPath(id));
  for (;;) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    int error = errno;
    ::close(fd);
    if (error != EAGAIN) return -1;
    if (TClock::now() >= deadline) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string LiveBlockName(uint32_t userId) {
  const char* name = std::getenv("QVL_LIVE_BLOCK");
  return std::string(name && *name ? name : kLiveBlockName) + "-" + std::to_string(userId);
}

std::string LiveBlockName() {
  return LiveBlockName(uint32_t(::geteuid()));
}

void EnsurePrivateFolder(const std::string& path, uint32_t userId) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw Exception("Cannot create the live channel folder " + path + ": " + std::strerror(errno));
  // In a shared place like /tmp anyone may have made the name first: use it only when it is a
  // real folder of this user that no one else can enter (then no one else can replace it).
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0)
    throw Exception("Cannot use the live channel folder " + path + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode))
    throw Exception("The live channel folder " + path + " is a link or no folder");
  if (st.st_uid != userId)
    throw Exception("The live channel folder " + path + " belongs to another user");
  if ((st.st_mode & 077) != 0)
    throw Exception("The live channel folder " + path + " is open to other users");
}

std::string LiveRuntimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir) {
    struct stat st;
    if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  const uint32_t user = uint32_t(::geteuid());
  std::string folder = "/tmp/qvl-" + std::to_string(user);
  EnsurePrivateFolder(folder, user);
  return folder;
}

// --- shared block ----------------------------------------------------------------------------

TLiveSharedBlock::TLiveSharedBlock(uint8_t* memory, bool isTool, uint32_t ownId)
    : memory_(memory), isTool_(isTool), ownId_(ownId) {}

std::unique_ptr<TLiveSharedBlock> TLiveSharedBlock::CreateForTool(uint32_t toolId) {
  int fd = OpenOwnBlock(true);
  if (fd < 0) return nullptr;
  void* m = ::mmap(nullptr, kLiveBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (m == MAP_FAILED) return nullptr;
  std::unique_ptr<TLiveSharedBlock> block(
      new TLiveSharedBlock(static_cast<uint8_t*>(m), true, toolId));
  block->Store(kToolField, 0);
  block->Store(kViewerField, 0);
  block->Store(kToolField, toolId);
  return block;
}

std::unique_ptr<TLiveSharedBlock> TLiveSharedBlock::OpenForViewer(uint32_t viewerId) {
  int fd = OpenOwnBlock(false);
  if (fd < 0) throw Exception(kChannelError);
  void* m = ::mmap(nullptr, kLiveBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (m == MAP_FAILED) throw Exception(kChannelError);
  std::unique_ptr<TLiveSharedBlock> block(
      new TLiveSharedBlock(static_cast<uint8_t*>(m), false, viewerId));
  // A block left behind by a tool that is gone has no one to send: as if there were none.
  uint32_t tool = block->ToolId();
  if (tool == 0 || !TLiveEndpoint::IsAlive(tool)) {
    block->ownId_ = 0;  // leave the block as it was
    throw Exception(kChannelError);
  }
  block->Store(kViewerField, viewerId);
  return block;
}

TLiveSharedBlock::~TLiveSharedBlock() {
  if (isTool_) {
    // Only the tool whose id is in the block releases it; a second tool may have taken over.
    if (ownId_ != 0 && ToolId() == ownId_) {
      Store(kToolField, 0);
      ::shm_unlink(LiveBlockName().c_str());
    }
  } else if (ownId_ != 0 && ViewerId() == ownId_) {
    Store(kViewerField, 0);
  }
  ::munmap(memory_, kLiveBlockSize);
}

uint32_t TLiveSharedBlock::Load(size_t offset) const {
  return __atomic_load_n(reinterpret_cast<uint32_t*>(memory_ + offset), __ATOMIC_ACQUIRE);
}

void TLiveSharedBlock::Store(size_t offset, uint32_t value) {
  __atomic_store_n(reinterpret_cast<uint32_t*>(memory_ + offset), value, __ATOMIC_RELEASE);
}

uint32_t TLiveSharedBlock::ToolId() const {
  return Load(kToolField);
}
uint32_t TLiveSharedBlock::ViewerId() const {
  return Load(kViewerField);
}

void TLiveSharedBlock::SetViewerId(uint32_t id) {
  // A tool keeps its own id: it is what lets it release the block at the end.
  if (!isTool_) ownId_ = id;
  Store(kViewerField, id);
}

// --- endpoint --------------------------------------------------------------------------------

std::string TLiveEndpoint::SocketPath(uint32_t id) {
  return LiveRuntimeFolder() + "/qvl-live-" + std::to_string(id);
}

TLiveEndpoint::TLiveEndpoint(uint32_t id) : id_(id), path_(SocketPath(id)) {
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw Exception(std::string("Cannot create live endpoint: ") + std::strerror(errno));
  ::unlink(path_.c_str());  // a socket left by a process with this id that is gone
  sockaddr_un a = Address(path_);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd_);
    throw Exception("Cannot create live endpoint " + path_ + ": " + why);
  }
}

TLiveEndpoint::~TLiveEndpoint() {
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool TLiveEndpoint::IsAlive(uint32_t id) {
  if (id == 0) return false;
  int fd = Connect(id, TClock::now() + std::chrono::milliseconds(200));
  if (fd == -2) return true;  // there, but busy
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void TLiveEndpoint::HandleConnection(int connection, const THandler& handler) {
  auto deadline = TClock::now() + std::chrono::milliseconds(kReceiveTimeoutMs);
  uint8_t head[8];
  // A probe (IsAlive) connects and closes without a message.
  if (!Transfer(connection, head, 8, true, deadline)) return;
  uint32_t identifier = GetU32(head);
  uint32_t length = GetU32(head + 4);
  if (length > kMaxMessageSize) return;
  std::vector<uint8_t> bytes(length);
  if (!Transfer(connection, bytes.data(), length, true, deadline)) return;
  uint8_t ack = 0x01;
  try {
    handler(identifier, bytes);
  } catch (...) {
    Transfer(connection, &ack, 1, false, TClock::now() + std::chrono::milliseconds(1000));
    throw;
  }
  Transfer(connection, &ack, 1, false, TClock::now() + std::chrono::milliseconds(1000));
}

int TLiveEndpoint::ProcessPending(const THandler& handler) {
  int handled = 0;
  for (;;) {
    int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EINTR) continue;
      return handled;  // EAGAIN: nothing more waiting
    }
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{connection};
    if (!PeerIsSameUser(connection)) continue;
    uint8_t peek;
    // Count only connections that carried a message.
    ssize_t k = ::recv(connection, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
    bool message = k > 0;
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{connection, POLLIN, 0};
      message = ::poll(&p, 1, 200) > 0 && ::recv(connection, &peek, 1, MSG_PEEK) > 0;
    }
    if (!message) continue;
    ++handled;
    HandleConnection(connection, handler);
  }
}

int TLiveEndpoint::WaitAndProcess(int timeoutMs, const THandler& handler) {
  pollfd p{fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return 0;
  return ProcessPending(handler);
}

bool TLiveEndpoint::Send(uint32_t id, uint32_t identifier, const void* bytes, size_t size,
                         int timeoutMs) {
  if (size > kMaxMessageSize) throw Exception("Live message too large");
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  int fd = Connect(id, deadline);
  if (fd == -2) throw Exception("Live channel message not acknowledged");
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  uint8_t head[8];
  PutU32(head, identifier);
  PutU32(head + 4, uint32_t(size));
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(bytes),
                            static_cast<const uint8_t*>(bytes) + size);
  uint8_t ack = 0;
  if (!Transfer(fd, head, 8, false, deadline) ||
      !Transfer(fd, copy.data(), copy.size(), false, deadline) ||
      !Transfer(fd, &ack, 1, true, deadline) || ack != 0x01)
    throw Exception("Live channel message not acknowledged");
  return true;
}

// --- sender and receiver ---------------------------------------------------------------------

void SendLiveView(TLiveSharedBlock& block, TController& controller, const TLogArray& samples,
                  const std::function<void()>& startViewer, int waitMs) {
  auto viewer = [&]() -> uint32_t {
    uint32_t id = block.ViewerId();
    return TLiveEndpoint::IsAlive(id) ? id : 0;
  };
  TMemoryStream configuration;
  controller.WriteToStream(configuration);
  auto sendConfiguration = [&](uint32_t id) {
    return TLiveEndpoint::Send(id, kLiveConfigMessage, configuration.Memory(),
                               size_t(configuration.Size()));
  };
  uint32_t id = viewer();
  bool sent = id != 0 && sendConfiguration(id);
  if (!sent) {
    if (startViewer) startViewer();
    auto deadline = TClock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      id = viewer();
      if (id != 0 || TClock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sent = id != 0 && sendConfiguration(id);
  }
  if (!sent) throw Exception("Cannot open viewer");
  std::vector<uint8_t> bytes = EncodeLiveSamples(samples);
  if (!TLiveEndpoint::Send(id, kLiveSamplesMessage, bytes.data(), bytes.size()))
    throw Exception("Cannot open viewer");
}

void TLiveReceiver::Handle(uint32_t identifier, const std::vector<uint8_t>& bytes) {
  if (identifier == kLiveConfigMessage) {
    TByteViewStream stream(bytes.data(), bytes.size());
    liveConfiguration_ = false;
    controller_.ReadFromStream(stream);
    controller_.SetConfigInSync(true);
    liveConfiguration_ = true;
    if (OnConfiguration) OnConfiguration();
  } else if (identifier == kLiveSamplesMessage) {
    if (!liveConfiguration_) return;
    TLogArray samples = DecodeLiveSamples(bytes.data(), bytes.size());
    if (OnSamples) OnSamples(std::move(samples));
  }
}

}  // namespace qvl
