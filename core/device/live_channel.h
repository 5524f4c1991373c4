// The live channel between the logger tool and a viewer in live mode.
//
// The two programs find each other through the 16-byte shared block "QD QW Comm channel-<uid>":
// the tool's endpoint id at offset 0, the viewer's at offset 4 (0 when none), 8 bytes unused.
// Each program's endpoint listens on the local socket "qvl-live-<id>" in the user's runtime
// folder; a message is (u32 identifier, u32 length, bytes), and the receiver answers one byte
// 0x01 once its handler has run, which the sender waits for. An id whose socket is gone counts
// as no program at all, so a crashed peer never blocks the next start.
//
// Everything is the user's own: the block's name carries the user id and a block of another
// user is never joined, the sockets live in a folder only the user can enter, and an endpoint
// drops connections from processes of other users.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device/log_record.h"

namespace qvl {

class TController;

// Ticks of live samples are tenths of a second.
constexpr int32_t kLiveSamplePeriod = 100;

constexpr char kLiveBlockName[] = "/QD QW Comm channel";
// The shared block's name for a user: kLiveBlockName (or what QVL_LIVE_BLOCK names, so that
// test runs do not meet a running tool) followed by "-<user id>".
std::string LiveBlockName(uint32_t userId);
// The block's name for the user this process runs as.
std::string LiveBlockName();
constexpr size_t kLiveBlockSize = 16;
constexpr int kViewerStartWaitMs = 10000;

// The folder of the endpoints' sockets: $XDG_RUNTIME_DIR, else the private folder
// /tmp/qvl-<uid> (EnsurePrivateFolder). Raises Exception when that folder is refused.
std::string LiveRuntimeFolder();
// Makes sure `path` is a folder that only `userId` can use: creates it with mode 0700 when it
// is missing; raises Exception when it is a symbolic link or no folder, belongs to another user,
// or lets group or others in.
void EnsurePrivateFolder(const std::string& path, uint32_t userId);

class TLiveSharedBlock {
 public:
  // The tool's side: creates the block (or joins one of the same user that exists), sets both
  // ids to 0, then stores the tool's id. Nothing (a null pointer) when shared memory cannot be
  // had or a block under the name belongs to another user.
  static std::unique_ptr<TLiveSharedBlock> CreateForTool(uint32_t toolId);
  // A viewer's side: opens the existing block and stores the viewer's id. Raises
  // "Error creating communication channel" when there is no block of this user or no live tool
  // behind it.
  static std::unique_ptr<TLiveSharedBlock> OpenForViewer(uint32_t viewerId);

  ~TLiveSharedBlock();
  TLiveSharedBlock(const TLiveSharedBlock&) = delete;
  TLiveSharedBlock& operator=(const TLiveSharedBlock&) = delete;

  uint32_t ToolId() const;
  uint32_t ViewerId() const;
  // The viewer writes its id again when its endpoint changes, and 0 when it goes away.
  void SetViewerId(uint32_t id);

 private:
  TLiveSharedBlock(uint8_t* memory, bool isTool, uint32_t ownId);
  uint32_t Load(size_t offset) const;
  void Store(size_t offset, uint32_t value);

  uint8_t* memory_;
  bool isTool_;
  uint32_t ownId_;
};

class TLiveEndpoint {
 public:
  using THandler = std::function<void(uint32_t identifier, const std::vector<uint8_t>& bytes)>;

  // Listens on the socket of `id`, replacing a stale one. Raises Exception on failure.
  explicit TLiveEndpoint(uint32_t id);
  ~TLiveEndpoint();
  TLiveEndpoint(const TLiveEndpoint&) = delete;
  TLiveEndpoint& operator=(const TLiveEndpoint&) = delete;

  uint32_t Id() const { return id_; }
  // The listening descriptor, for an event loop to watch for reading.
  int Fd() const { return fd_; }

  // Handles every message waiting now (never blocks for a sender that is not there); returns
  // how many. A connection from a process of another user is dropped unread. The sender is
  // acknowledged after the handler has run, also when it raised; the handler's exception then
  // reaches the caller.
  int ProcessPending(const THandler& handler);
  // Waits up to timeoutMs for a message and handles what arrived; returns how many.
  int WaitAndProcess(int timeoutMs, const THandler& handler);

  static std::string SocketPath(uint32_t id);
  // True when an endpoint listens under that id.
  static bool IsAlive(uint32_t id);
  // Sends one message and waits for the acknowledgement. False when no endpoint listens under
  // that id; Exception when the exchange breaks off or times out.
  static bool Send(uint32_t id, uint32_t identifier, const void* bytes, size_t size,
                   int timeoutMs = 30000);

 private:
  void HandleConnection(int connection, const THandler& handler);

  uint32_t id_;
  int fd_ = -1;
  std::string path_;
};

// The tool's "View recorded data graphically": a present viewer gets the configuration; else
// the viewer is started (startViewer) and awaited up to 10 s ("Cannot open viewer"); then all
// samples go in one message.
void SendLiveView(TLiveSharedBlock& block, TController& controller, const TLogArray& samples,
                  const std::function<void()>& startViewer, int waitMs = kViewerStartWaitMs);

// A viewer's reception: 27190 reads the configuration (marking it in sync), 31316 hands the
// samples on while a live configuration is present, other identifiers are ignored.
class TLiveReceiver {
 public:
  explicit TLiveReceiver(TController& controller) : controller_(controller) {}

  void Handle(uint32_t identifier, const std::vector<uint8_t>& bytes);
  bool HasLiveConfiguration() const { return liveConfiguration_; }

  // Receives the samples of each accepted 31316 message.
  std::function<void(TLogArray samples)> OnSamples;
  // Told after a configuration was read.
  std::function<void()> OnConfiguration;

 private:
  TController& controller_;
  bool liveConfiguration_ = false;
};

}  // namespace qvl
