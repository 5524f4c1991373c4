#include "tool/flash_contents.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "core/device/controller.h"
#include "core/device/synchronizer.h"
#include "core/util/endian.h"

namespace qvl {
namespace {

constexpr uint8_t kReadFlash = 0x3E;
constexpr uint8_t kStridedRead = 0x46;
constexpr int kPauseStepMs = 100;
constexpr uint32_t kPage = uint32_t(kFlashPageSize);

}  // namespace

// --- geometry ------------------------------------------------------------------------------------

TFlashGeometry TFlashGeometry::Make(uint32_t flashSize, uint32_t sectorSize,
                                    uint32_t sessionStart) {
  TFlashGeometry g;
  g.flashSize = flashSize;
  g.sectorSize = sectorSize;
  g.sectorCount = sectorSize ? int32_t(flashSize / sectorSize) : 0;
  g.pagesPerSector = int32_t(sectorSize / kPage);
  g.pageCount = int32_t(flashSize / kPage);
  g.sessionStart = sessionStart;
  g.currentSector = sectorSize ? int32_t(sessionStart / sectorSize) : 0;
  return g;
}

TFlashGeometry TFlashGeometry::FromController(const TController& controller) {
  return Make(controller.FlashSize(), controller.EraseSectorSize(),
              controller.SessionStartAddress());
}

bool TFlashGeometry::SessionStartValid() const {
  return sectorSize > 0 && sessionStart % sectorSize == 0 &&
         (sectorCount == 0 || currentSector < sectorCount);
}

uint32_t TFlashGeometry::PageAddress(int64_t sector, int64_t page) const {
  if (pageCount <= 0) return 0;
  int64_t p = (sector * pagesPerSector + page) % pageCount;
  if (p < 0) p += pageCount;
  return uint32_t(p) * kPage;
}

TSectorHeader TSectorHeader::FromBytes(const uint8_t* bytes) {
  return {bytes[0], bytes[1], GetU32(bytes + 2)};
}

int32_t TSessionData::PageCount(const TFlashGeometry& g) const {
  int64_t pages = int64_t(endSector - startSector) * g.pagesPerSector;
  while (pages < 0) pages += g.pageCount;
  return int32_t(pages);
}

int LongestRun(const TSessionData& session) {
  int longest = -1;
  for (size_t r = 0; r < session.runs.size(); ++r) {
    const TRunEntry& run = session.runs[r];
    if (longest < 0 || run.endTick - run.startTick > session.runs[size_t(longest)].endTick -
                                                         session.runs[size_t(longest)].startTick)
      longest = int(r);
  }
  return longest;
}

TSessionData SessionForList(TSessionData session) {
  // A base read from the session's first sector is the device time at the first run's start;
  // one taken from a later run already refers to tick 0.
  if (!session.runs.empty() && !session.baseAtTickZero)
    session.base -= session.runs.front().startTick / 1024;
  session.baseAtTickZero = true;
  return session;
}

// --- flash access --------------------------------------------------------------------------------

void TControllerFlashAccess::Read(uint32_t address, uint16_t length, uint8_t* out) {
  uint8_t data[6];
  PutU32(data, address);
  PutU16(data + 4, length);
  controller_.Transact(kReadFlash, data, length, 6);
  controller_.Channel()->Read(out, length);
}

void TControllerFlashAccess::StridedRead(uint32_t start, uint32_t stride, uint16_t count,
                                         uint16_t size, uint8_t* out) {
  uint8_t data[12];
  PutU32(data, start);
  PutU32(data + 4, stride);
  PutU16(data + 8, count);
  PutU16(data + 10, size);
  const int length = int(count) * size;
  controller_.Transact(kStridedRead, data, length, 12);
  controller_.Channel()->Read(out, length);
}

void TControllerFlashAccess::ReadChunk(uint32_t address, uint16_t length, uint8_t* out) {
  uint8_t data[6];
  PutU32(data, address);
  PutU16(data + 4, length);
  controller_.Transact(kReadFlash, data, 0, 6);
  controller_.Channel()->Read(out, length);
}

// --- the scan ------------------------------------------------------------------------------------

TContentsScanner::TContentsScanner(IFlashAccess& access, const TFlashGeometry& geometry,
                                   bool fastReads, THooks hooks)
    : access_(access), geometry_(geometry), fast_(fastReads), hooks_(std::move(hooks)) {}

void TContentsScanner::ReadHeaders() {
  const int32_t n = geometry_.sectorCount;
  const uint32_t s = geometry_.sectorSize;
  headers_.assign(size_t(std::max(n, 0)), TSectorHeader{});
  if (fast_) {
    // Groups of 32 sectors; a flash of fewer sectors reads none.
    uint8_t bytes[kHeaderGroup * 6];
    for (int32_t g = 0; g < n / kHeaderGroup; ++g) {
      if (Terminated()) return;
      access_.StridedRead(uint32_t(kHeaderGroup) * s * uint32_t(g), s, kHeaderGroup, 6, bytes);
      for (int k = 0; k < kHeaderGroup; ++k)
        headers_[size_t(g * kHeaderGroup + k)] = TSectorHeader::FromBytes(bytes + 6 * k);
    }
    return;
  }
  for (int32_t sector = 0; sector < n; ++sector) {
    if (Terminated()) return;
    uint8_t bytes[6];
    try {
      access_.Read(uint32_t(sector) * s, 6, bytes);
      headers_[size_t(sector)] = TSectorHeader::FromBytes(bytes);
    } catch (const std::exception&) {
      // Read as a sector without data.
      headers_[size_t(sector)] = TSectorHeader{0, 0, 0xFFFFFFFFu};
    }
  }
}

std::vector<TSessionData> TContentsScanner::FindSessions() const {
  const int32_t n = int32_t(headers_.size());
  const int32_t c = geometry_.currentSector;
  std::vector<TSessionData> sessions;
  if (n == 0 || c < 0 || c >= n) return sessions;
  auto holds = [&](int32_t i) { return HoldsData(headers_[size_t(i)].flags); };
  auto next = [&](int32_t i) { return (i + 1) % n; };

  const TSectorHeader& head = headers_[size_t(c)];
  TSessionData current;
  current.startSector = c;
  current.sdNumber = head.number;
  current.base = head.value;
  current.hasTime = (head.flags & kSessionHasTime) != 0;
  // An erased sector starts nothing that could have been cut.
  current.partial = holds(c) && (head.flags & kSectorSessionStart) == 0;
  current.endSector = c;
  if (holds(c)) {
    int32_t j = next(c);
    while (j != c && holds(j) && headers_[size_t(j)].value >= head.value) j = next(j);
    current.endSector = j == c ? c + n : (j < c ? j + n : j);
  }

  // The older sessions, from the current session's end round to its start. The sector after the
  // end is the oldest data left (the one at the end is erased ahead of the logger's writing).
  const int32_t e = current.endSector % n;
  const int32_t oldest = next(e);
  int32_t i = holds(c) ? e : next(c);
  while (i != c) {
    const TSectorHeader& h = headers_[size_t(i)];
    if (!(holds(i) && ((h.flags & kSectorSessionStart) || i == oldest))) {
      i = next(i);
      continue;
    }
    TSessionData s;
    s.startSector = i;
    s.sdNumber = h.number;
    s.base = h.value;
    s.hasTime = (h.flags & kSessionHasTime) != 0;
    s.partial = (h.flags & kSectorSessionStart) == 0;
    int32_t j = next(i);
    while (j != c && holds(j) && !(headers_[size_t(j)].flags & kSectorSessionStart)) j = next(j);
    s.endSector = j > i ? j : j + n;
    sessions.push_back(s);
    i = j;
  }
  sessions.push_back(current);
  return sessions;
}

void TContentsScanner::ReadAllPageFlags(const TSessionData& session, int32_t pageCount) {
  const int32_t p = geometry_.pageCount;
  int32_t absolute = int32_t(geometry_.PageAddress(session.startSector, 0) / kPage);
  std::vector<uint8_t> bytes(kMaxStridedCount);
  for (int32_t done = 0; done < pageCount;) {
    if (Terminated()) return;
    // At most 128 pages, and never past the end of the flash: the next chunk starts at page 0.
    const int32_t count = std::min({kMaxStridedCount, pageCount - done, p - absolute});
    access_.StridedRead(uint32_t(absolute) * kPage, kPage, uint16_t(count), 1, bytes.data());
    for (int32_t k = 0; k < count; ++k) pageFlags_[size_t(done + k)] = bytes[size_t(k)];
    done += count;
    absolute = (absolute + count) % p;
  }
}

uint8_t TContentsScanner::PageFlags(const TSessionData& session, int32_t page) {
  int16_t& flags = pageFlags_[size_t(page)];
  if (flags < 0) {
    uint8_t b = 0xFF;
    access_.Read(geometry_.PageAddress(session.startSector, page), 1, &b);
    flags = b;
  }
  return uint8_t(flags);
}

uint32_t TContentsScanner::PageTick(const TSessionData& session, int32_t page, uint8_t flags) {
  uint8_t record[6];
  const uint32_t at = (flags & kSectorHasClock) ? 6 : 0;
  access_.Read(geometry_.PageAddress(session.startSector, page) + at, 6, record);
  return GetU32(record + 2);
}

bool TContentsScanner::ListRuns(TSessionData& session) {
  session.runs.clear();
  const int32_t pages = session.PageCount(geometry_);
  const int32_t n = geometry_.sectorCount;
  if (pages <= 0 || n <= 0) return true;
  pageFlags_.assign(size_t(pages), -1);
  const TSectorHeader head = headers_[size_t(session.startSector % n)];
  if (fast_) {
    ReadAllPageFlags(session, pages);
    if (Terminated()) return false;
  } else {
    pageFlags_[0] = head.flags;
  }

  TRunEntry run;
  run.startPage = 0;
  run.sdNumber = head.number;
  run.partial = (head.flags & kPageRunStart) == 0;
  run.startTick = (head.flags & kSectorHasClock) ? PageTick(session, 0, head.flags) : head.value;
  run.endTick = run.startTick;

  int32_t i = 0;
  for (;;) {
    if (hooks_.pausePoint) hooks_.pausePoint();
    if (Terminated()) return false;
    const int32_t j = i + 1;
    if (j < pages) {
      const uint8_t f = PageFlags(session, j);
      if (HoldsData(f) && !(f & kPageRunStart)) {
        i = j;
        continue;
      }
    }
    // The run ends before page j.
    run.endPage = j;
    run.endTick =
        j - run.startPage == 1 ? run.startTick : PageTick(session, i, PageFlags(session, i));
    session.runs.push_back(run);
    if (j >= pages || !HoldsData(PageFlags(session, j))) break;
    int32_t k = j;
    while (k < pages && !StartsRun(PageFlags(session, k))) {
      if (Terminated()) return false;
      ++k;
    }
    if (k >= pages) break;

    uint8_t bytes[6];
    access_.Read(geometry_.PageAddress(session.startSector, k), 6, bytes);
    const TSectorHeader first = TSectorHeader::FromBytes(bytes);
    uint32_t tick = first.value;
    if (first.flags & kSectorHasClock) {
      access_.Read(geometry_.PageAddress(session.startSector, k) + 6, 6, bytes);
      tick = GetU32(bytes + 2);
      if (!session.hasTime && (first.flags & kSessionHasTime)) {
        // The device time D at this run's start gives the time of tick 0.
        session.base = first.value - tick / 1024;
        session.hasTime = true;
        session.baseAtTickZero = true;
      }
    }
    run = TRunEntry{};
    run.startPage = k;
    run.sdNumber = first.number;
    run.startTick = tick;
    run.endTick = tick;
    i = k;
  }
  return true;
}

void TContentsScanner::Run() {
  ReadHeaders();
  if (Terminated()) return;
  if (hooks_.headersRead) hooks_.headersRead();
  std::vector<TSessionData> sessions = FindSessions();
  const int32_t c = geometry_.currentSector;
  for (size_t k = sessions.size(); k-- > 0;) {
    if (Terminated()) return;
    TSessionData& s = sessions[k];
    const bool emptyCurrent = k + 1 == sessions.size() && s.startSector == c && s.endSector == c;
    if (!emptyCurrent && !ListRuns(s)) return;
    if (Terminated()) return;
    if (hooks_.sessionReady) hooks_.sessionReady(s);
  }
}

// --- the contents thread -------------------------------------------------------------------------

TContentsThread::TContentsThread(TController& controller, const TFlashGeometry& geometry,
                                 bool fastReads, TCallbacks callbacks)
    : controller_(controller),
      geometry_(geometry),
      fast_(fastReads),
      callbacks_(std::move(callbacks)) {}

TContentsThread::~TContentsThread() {
  Stop();
}

void TContentsThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Execute(); });
}

void TContentsThread::RequestPause(bool pause) {
  pauseRequested_ = pause;
}

bool TContentsThread::PausedOrFinished() const {
  const TState s = state_;
  return s == TState::Paused || s == TState::Finished;
}

void TContentsThread::HandOver(const std::function<void()>& fn) {
  try {
    if (ISynchronizer* sync = controller_.Synchronizer())
      sync->Synchronize(fn);
    else
      fn();
  } catch (...) {
    // A failure of the window's side stays there; the scan goes on.
  }
}

void TContentsThread::Execute() {
  pthread_setname_np(pthread_self(), "Contents Thread");
  std::string error;
  try {
    TControllerFlashAccess access(controller_);
    TContentsScanner::THooks hooks;
    hooks.terminated = [this] { return terminated_.load(); };
    hooks.headersRead = [this] { state_ = TState::ListingRuns; };
    hooks.pausePoint = [this] {
      while (pauseRequested_ && !terminated_) {
        state_ = TState::Paused;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseStepMs));
      }
      state_ = TState::ListingRuns;
    };
    hooks.sessionReady = [this](const TSessionData& session) {
      if (terminated_) return;
      HandOver([&] {
        if (callbacks_.sessionAdded) callbacks_.sessionAdded(session);
      });
    };
    TContentsScanner scanner(access, geometry_, fast_, std::move(hooks));
    state_ = TState::ReadingHeaders;
    scanner.Run();
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "Contents thread failed";
  }
  state_ = TState::Finished;
  // Polling was paused when the window opened; it resumes once, whichever way the scan ended.
  HandOver([&] {
    controller_.ResumePolling();
    if (callbacks_.finished) callbacks_.finished(error);
  });
  ended_ = true;
}

void TContentsThread::WaitUntil(const std::function<bool()>& pred) {
  ISynchronizer* sync = controller_.Synchronizer();
  for (;;) {
    if (sync) sync->ProcessPending();
    if ((pred && pred()) || ended_ || !thread_.joinable()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void TContentsThread::Stop() {
  terminated_ = true;
  pauseRequested_ = false;
  if (!thread_.joinable()) return;
  WaitUntil(nullptr);
  thread_.join();
}

}  // namespace qvl
