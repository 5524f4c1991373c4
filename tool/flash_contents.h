// What the logger's internal flash holds, as the download window lists it: the flash geometry,
// the sector header flags, the sessions (`TSessionData`) with their runs, and the contents scan
// that finds them with the flash read commands.
//
// The flash is a ring of N erase sectors of S bytes, each holding S / 4096 pages. The logger
// writes a session from the sector of the current session start address on, one erased sector
// ahead of its write position, and overwrites the oldest sectors when the ring is full. The first
// record of every page that holds data is a 6-byte header record whose first byte carries the
// flags below.
//
// The scan (TContentsScanner) runs on the contents thread (TContentsThread):
//
//   reading headers --> listing runs (current session first, then older ones, newest first)
//                          |    ^                   |
//                 pause    v    | go on             +--> one session handed over at a time
//                        paused                     |
//   terminate, failure or last session -----------> finished (polling resumed once)
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/device/log_record.h"

namespace qvl {

class TController;
class ISynchronizer;

// --- flash geometry and sector headers ----------------------------------------------------------

struct TFlashGeometry {
  uint32_t flashSize = 0;      // F bytes
  uint32_t sectorSize = 0;     // S bytes (4096, or 262144 for the largest flash)
  int32_t sectorCount = 0;     // N = F / S
  int32_t pagesPerSector = 0;  // S / 4096
  int32_t pageCount = 0;       // P = F / 4096
  uint32_t sessionStart = 0;   // A: the current session's start address
  int32_t currentSector = 0;   // C = A / S

  static TFlashGeometry FromController(const TController& controller);
  static TFlashGeometry Make(uint32_t flashSize, uint32_t sectorSize, uint32_t sessionStart);
  // A is a multiple of S inside the flash.
  bool SessionStartValid() const;
  // Flash address of a page counted from a sector's first page (wraps at the end of the flash).
  uint32_t PageAddress(int64_t sector, int64_t page) const;
};

// Flags of a header record's first byte.
enum : uint8_t {
  kSectorHasClock = 0x01,      // the LNB record follows at +6; this record carries the device time
  kPageRunStart = 0x02,        // a run starts in this page
  kSectorSessionStart = 0x04,  // a session starts in this sector
  kSessionHasTime = 0x08,      // the session has a device time
};

// The high nibble 0xB marks a sector (or page) that holds data.
constexpr bool HoldsData(uint8_t flags) {
  return (flags & 0xF0) == 0xB0;
}
// Holds data and starts a run.
constexpr bool StartsRun(uint8_t flags) {
  return (flags & 0xB2) == 0xB2;
}

// The first 6 bytes of a sector: flags, a number, a u32 (device time with kSectorHasClock, else
// the tick of the first sample).
struct TSectorHeader {
  uint8_t flags = 0;
  uint8_t number = 0;
  uint32_t value = 0;

  static TSectorHeader FromBytes(const uint8_t* bytes);
};

// --- sessions and runs --------------------------------------------------------------------------

struct TRunEntry {
  int32_t startPage = 0;  // relative to the session's first page
  int32_t endPage = 0;    // exclusive
  uint16_t sdNumber = 0;  // number of the SD card log file holding the same run (0: none)
  uint32_t startTick = 0;
  uint32_t endTick = 0;  // tick of the last page's LNB record
  bool partial = false;
};

struct TSessionData {
  int32_t startSector = 0;
  int32_t endSector = 0;  // exclusive, above the start (beyond N when the session wraps)
  uint32_t base = 0;      // device time base
  bool hasTime = false;
  bool partial = false;
  uint8_t sdNumber = 0;  // of the first run
  std::vector<TRunEntry> runs;
  // The base refers to tick 0 (the device time of tick 0), not to the first run's start. A base
  // taken from a later run's clock is already of this kind; the window's list converts the others
  // when a session is added.
  bool baseAtTickZero = false;

  int32_t PageCount(const TFlashGeometry& g) const;
};

// The index of the session's longest run by its ticks (the first of equals); -1 without runs.
int LongestRun(const TSessionData& session);

// The window's form of a session: its base made to refer to tick 0, so that a run starts at
// base + start tick / 1024.
TSessionData SessionForList(TSessionData session);

// --- flash access -------------------------------------------------------------------------------

// The two flash read commands. Both wait for their whole answer.
class IFlashAccess {
 public:
  virtual ~IFlashAccess() = default;
  // 0x3E: length bytes from address.
  virtual void Read(uint32_t address, uint16_t length, uint8_t* out) = 0;
  // 0x46: size bytes at each of count addresses, stride bytes apart.
  virtual void StridedRead(uint32_t start, uint32_t stride, uint16_t count, uint16_t size,
                           uint8_t* out) = 0;
};

// Through the controller's direct exchanges (polling must be paused): the command with its data,
// then the answer read from the link. Uses its own data buffer, not the controller's command
// buffer, so that it can run on the contents thread.
class TControllerFlashAccess : public IFlashAccess {
 public:
  explicit TControllerFlashAccess(TController& controller) : controller_(controller) {}
  void Read(uint32_t address, uint16_t length, uint8_t* out) override;
  void StridedRead(uint32_t start, uint32_t stride, uint16_t count, uint16_t size,
                   uint8_t* out) override;
  // 0x3E without waiting for the answer, then a read of the link: how pages are downloaded.
  void ReadChunk(uint32_t address, uint16_t length, uint8_t* out);

 private:
  TController& controller_;
};

// --- the scan -----------------------------------------------------------------------------------

constexpr int kHeaderGroup = 32;       // sector headers per strided read
constexpr int kMaxStridedCount = 128;  // pages per strided flag read

class TContentsScanner {
 public:
  struct THooks {
    // Checked between sectors and between pages; true ends the scan.
    std::function<bool()> terminated;
    // The header table has been read; the runs are listed next.
    std::function<void()> headersRead;
    // Called between pages; returns when the scan may go on (the thread waits there while a
    // pause is requested).
    std::function<void()> pausePoint;
    // A session, complete with its runs, in hand-over order: current first, then newest to oldest.
    std::function<void(const TSessionData&)> sessionReady;
  };

  // fastReads: firmware above 2.01 (strided reads of headers and page flags).
  TContentsScanner(IFlashAccess& access, const TFlashGeometry& geometry, bool fastReads,
                   THooks hooks);

  // The whole scan: headers, sessions, runs. Returns early when terminated.
  void Run();

  // Steps, for tests.
  void ReadHeaders();
  // Current session last, older ones before it, oldest first (without runs).
  std::vector<TSessionData> FindSessions() const;
  // Lists the runs of a session; false when terminated meanwhile.
  bool ListRuns(TSessionData& session);

  const std::vector<TSectorHeader>& Headers() const { return headers_; }
  // Header table as read, for tests.
  void SetHeaders(std::vector<TSectorHeader> headers) { headers_ = std::move(headers); }

 private:
  bool Terminated() const { return hooks_.terminated && hooks_.terminated(); }
  uint8_t PageFlags(const TSessionData& session, int32_t page);
  void ReadAllPageFlags(const TSessionData& session, int32_t pageCount);
  // The LNB record's tick of a page whose flags are known.
  uint32_t PageTick(const TSessionData& session, int32_t page, uint8_t flags);

  IFlashAccess& access_;
  TFlashGeometry geometry_;
  bool fast_;
  THooks hooks_;
  std::vector<TSectorHeader> headers_;
  // Page flags of the session being listed; -1 = not read yet.
  std::vector<int16_t> pageFlags_;
};

// --- the contents thread ------------------------------------------------------------------------

// Runs the scan on its own thread ("Contents Thread"). Sessions go to the user-interface thread
// one by one through the synchronizer; when the scan ends (finished, terminated or failed) the
// thread hands over `onFinished` once, which resumes polling.
class TContentsThread {
 public:
  enum class TState { ReadingHeaders, ListingRuns, Paused, Finished };

  struct TCallbacks {
    std::function<void(const TSessionData&)> sessionAdded;   // UI thread
    std::function<void(const std::string& error)> finished;  // UI thread; empty error when fine
  };

  TContentsThread(TController& controller, const TFlashGeometry& geometry, bool fastReads,
                  TCallbacks callbacks);
  // Terminates and waits (see Stop).
  ~TContentsThread();
  TContentsThread(const TContentsThread&) = delete;
  TContentsThread& operator=(const TContentsThread&) = delete;

  void Start();
  // Asks the thread to pause between pages (true) or to go on (false).
  void RequestPause(bool pause);
  // Paused on request, or finished.
  bool PausedOrFinished() const;
  bool Finished() const { return state_ == TState::Finished; }
  TState State() const { return state_; }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Terminates and waits until the thread has ended, running the hand-overs it waits for.
  void Stop();
  // Waits, running the hand-overs, until pred() holds or the thread has finished.
  void WaitUntil(const std::function<bool()>& pred);

 private:
  void Execute();
  void HandOver(const std::function<void()>& fn);

  TController& controller_;
  TFlashGeometry geometry_;
  bool fast_;
  TCallbacks callbacks_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> pauseRequested_{false};
  std::atomic<TState> state_{TState::ReadingHeaders};
  std::atomic<bool> ended_{false};
};

}  // namespace qvl
