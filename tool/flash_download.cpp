#include "tool/flash_download.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "core/device/controller.h"
#include "core/device/synchronizer.h"
#include "core/logdata/log_file.h"
#include "core/util/date_time.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "tool/flash_texts.h"
#include "tool/tool_settings.h"
#include "transport/hid_comm.h"

namespace qvl {
namespace {

constexpr int32_t kFastFirmware = 201;  // versions above it block the log command, read strided
constexpr uint8_t kLogCommandLock = 0x39;
constexpr uint8_t kLockKey = 0x65;
constexpr uint8_t kPrepareDownload = 0x40;
constexpr uint8_t kEraseFlash = 0x42;
constexpr uint16_t kEraseKey = 0x91FD;
constexpr uint8_t kAdapterCommand = 0x35;
constexpr uint8_t kLineSpeed = 0x07;
constexpr uint16_t kFastLineDivisor = 9;
constexpr uint16_t kChunk = 256;
constexpr uint32_t kPage = uint32_t(kFlashPageSize);

// The link's USB link adapter, when the link is one.
THIDComm* UsbLinkAdapter(ICommChannel* channel) {
  if (!channel || channel->GetPortName() != "Tevra") return nullptr;
  TCommImplementor impl = channel->GetImplementor();
  if (std::string(impl.className) != kHidChannelClass) return nullptr;
  return static_cast<THIDComm*>(impl.object);
}

}  // namespace

TFlashDownload::TFlashDownload(TController& controller, TIniFile& settings)
    : controller_(controller),
      settings_(settings),
      viewerStarter_([](const std::string& file) { StartViewerProgram(file); }) {}

TFlashDownload::~TFlashDownload() {
  try {
    Close();
  } catch (...) {
  }
}

// --- opening and closing -------------------------------------------------------------------------

void TFlashDownload::Open() {
  if (state_ != TState::Closed) return;
  sessions_.clear();
  listingError_.clear();
  controller_.PausePolling();
  state_ = TState::Idle;
  try {
    TMemoryStream& buffer = controller_.CommandBuffer();
    if (controller_.Version() > kFastFirmware) {
      buffer.SetPosition(0);
      buffer.WriteU8(kLockKey);
      buffer.WriteU8(1);
      controller_.SendCommand(kLogCommandLock, 0);
    }
    buffer.SetPosition(0);
    controller_.SendCommand(kPrepareDownload, 0);
  } catch (...) {
    controller_.ResumePolling();
    throw;
  }
  geometry_ = TFlashGeometry::FromController(controller_);
  if (!geometry_.SessionStartValid()) {
    controller_.ResumePolling();
    throw Exception("Session start not at correct position in flash");
  }
  CheckLinkSpeed();
  saved_.Load(settings_);
  if (geometry_.sectorCount <= 0) {
    // No flash: nothing to list.
    controller_.ResumePolling();
    return;
  }
  TContentsThread::TCallbacks callbacks;
  callbacks.sessionAdded = [this](const TSessionData& s) { AddSession(s); };
  callbacks.finished = [this](const std::string& error) { ListingDone(error); };
  thread_ = std::make_unique<TContentsThread>(
      controller_, geometry_, controller_.Version() > kFastFirmware, std::move(callbacks));
  state_ = TState::Listing;
  thread_->Start();
}

void TFlashDownload::CheckLinkSpeed() {
  fastTransfer_ = higherRate_ = false;
  adapterMajor_ = adapterMinor_ = 0;
  ICommChannel* channel = controller_.Channel().get();
  THIDComm* adapter = UsbLinkAdapter(channel);
  if (!adapter) return;
  uint8_t answer[3] = {0, 0, 0};
  try {
    const uint8_t query[2] = {kAdapterCommand, 0x01};
    adapter->OneShotWrite(query, 2);
    channel->Read(answer, 3);
  } catch (const std::exception&) {
    return;
  }
  if (answer[0] != 1) return;
  adapterMajor_ = answer[1];
  adapterMinor_ = answer[2];
  fastTransfer_ = adapterMajor_ > 1;
  higherRate_ = adapterMajor_ >= 2 && adapterMinor_ >= 2;
}

std::string TFlashDownload::AdapterVersionText() const {
  return Format("Tevra version %d.%d", adapterMajor_, adapterMinor_);
}

void TFlashDownload::Close() {
  if (state_ == TState::Closed) return;
  if (thread_) {
    thread_->Stop();
    thread_.reset();
  }
  state_ = TState::Closed;
  if (controller_.Connected() && controller_.Version() > kFastFirmware) {
    const uint8_t release[2] = {kLockKey, 0};
    controller_.QueueCommand(kLogCommandLock, release, 2);
  }
  if (saved_.Modified()) saved_.Save(settings_);
}

bool TFlashDownload::WaitForListing(int timeoutMs) {
  if (!thread_) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  thread_->WaitUntil([&] {
    return thread_->Finished() || (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline);
  });
  // The finishing hand-over may still be waiting to run.
  if (thread_->Finished()) thread_->WaitUntil([&] { return state_ != TState::Listing; });
  return state_ != TState::Listing;
}

// --- the list ------------------------------------------------------------------------------------

void TFlashDownload::AddSession(const TSessionData& session) {
  sessions_.push_back(SessionForList(session));
  if (events_.sessionAdded) events_.sessionAdded(int(sessions_.size()) - 1);
}

void TFlashDownload::ListingDone(const std::string& error) {
  listingError_ = error;
  if (state_ == TState::Listing) state_ = TState::Idle;
  if (events_.listingFinished) events_.listingFinished(error);
}

const TSessionData& TFlashDownload::SessionAt(int session) const {
  if (session < 0 || size_t(session) >= sessions_.size())
    throw Exception(Format("No session %d", session));
  return sessions_[size_t(session)];
}

std::string TFlashDownload::SessionText(int session) const {
  return FlashSessionText(session, SessionAt(session));
}

std::string TFlashDownload::RunText(int session, int run) const {
  const TSessionData& s = SessionAt(session);
  if (run < 0 || size_t(run) >= s.runs.size()) throw Exception(Format("No run %d", run));
  return FlashRunText(run + 1, s, s.runs[size_t(run)],
                      controller_.ConfigBlock().I32(cfg::kDataRate));
}

uint32_t TFlashDownload::SessionKey(int session) const {
  return SessionAt(session).base;
}

uint32_t TFlashDownload::RunKey(int session, int run) const {
  const TSessionData& s = SessionAt(session);
  if (run < 0 || size_t(run) >= s.runs.size()) throw Exception(Format("No run %d", run));
  return RunDeviceTime(s, s.runs[size_t(run)]);
}

bool TFlashDownload::IsSaved(int session, int run) const {
  return saved_.Contains(run < 0 ? SessionKey(session) : RunKey(session, run));
}

TFlashDownload::TSelection TFlashDownload::Describe(int session, int run) const {
  const TSessionData& s = SessionAt(session);
  TSelection sel;
  if (run >= 0) {
    if (size_t(run) >= s.runs.size()) throw Exception(Format("No run %d", run));
    const TRunEntry& r = s.runs[size_t(run)];
    sel.pages = r.endPage - r.startPage;
    sel.debugStart = Format("Start page: %d", r.startPage);
    sel.debugCount = Format("Nb pages: %d", int(sel.pages));
  } else {
    sel.debugStart = Format("Start sector: %d", s.startSector);
    sel.debugCount = Format("Nb sectors: %d", s.endSector - s.startSector);
    sel.pages = s.runs.empty() ? 0 : s.runs.back().endPage;
  }
  sel.text = FlashSelectionSizeText(sel.pages, fastTransfer_);
  const std::string* file = run >= 0 ? saved_.Find(RunKey(session, run)) : nullptr;
  if (!file) file = saved_.Find(SessionKey(session));
  sel.text += SavedDownloadText(file);
  sel.canProceed = !s.runs.empty();
  return sel;
}

void TFlashDownload::SelectionRange(int session, int run, int64_t& first, int64_t& last) const {
  const TSessionData& s = SessionAt(session);
  if (s.runs.empty()) throw Exception("The session holds no runs");
  first = int64_t(s.startSector) * geometry_.sectorSize / kPage;
  if (run >= 0) {
    if (size_t(run) >= s.runs.size()) throw Exception(Format("No run %d", run));
    last = first + s.runs[size_t(run)].endPage;
    first += s.runs[size_t(run)].startPage;
  } else {
    last = first + s.runs.back().endPage;
  }
  while (first >= last && geometry_.pageCount > 0) last += geometry_.pageCount;
}

// --- downloading ---------------------------------------------------------------------------------

void TFlashDownload::SetFastTransfer(bool on) {
  ICommChannel& channel = *controller_.Channel();
  THIDComm* adapter = UsbLinkAdapter(&channel);
  const uint8_t speed[3] = {kLineSpeed, uint8_t(on ? kFastLineDivisor : 0), 0};
  channel.Write(speed, 3, false);
  if (!adapter) return;
  uint8_t answer = 0;
  if (on) {
    const uint8_t command[4] = {kAdapterCommand, 0x02, uint8_t(higherRate_ ? 0x07 : 0x03), 0x7A};
    try {
      adapter->OneShotWrite(command, 4);
      channel.Read(&answer, 1);
    } catch (const std::exception&) {
      throw Exception("Problem setting transfer speed");
    }
    if (answer != 0x02) throw Exception("Problem setting transfer speed");
  } else {
    const uint8_t command[2] = {kAdapterCommand, 0x03};
    adapter->OneShotWrite(command, 2);
    channel.Read(&answer, 1);
  }
}

void TFlashDownload::EndDownload() {
  image_ = {};
  state_ = thread_ && !thread_->Finished() ? TState::Listing : TState::Idle;
  if (thread_) thread_->RequestPause(false);
  controller_.ResumePolling();
}

TFlashDownload::TOutcome TFlashDownload::Download(int session, int run, const TCallbacks& callbacks,
                                                  bool startViewer) {
  if (state_ == TState::Downloading) {
    RequestStop();
    return {};
  }
  TOutcome out = BeginDownload(session, run);
  try {
    ReadPages(out, callbacks);
  } catch (...) {
    AbortDownload();
    throw;
  }
  FinishDownload(out, callbacks, startViewer);
  return out;
}

TFlashDownload::TOutcome TFlashDownload::BeginDownload(int session, int run) {
  if (state_ == TState::Closed) throw Exception("The download is not open");
  if (state_ == TState::Downloading || state_ == TState::Saving)
    throw Exception("A download is running");
  TOutcome out;
  SelectionRange(session, run, out.firstPage, out.lastPage);
  out.key = run >= 0 ? RunKey(session, run) : SessionKey(session);
  stopRequested_ = false;

  // The link is the contents thread's until it has stopped between two pages.
  if (thread_) {
    thread_->RequestPause(true);
    thread_->WaitUntil([&] { return thread_->PausedOrFinished(); });
  }
  state_ = TState::Downloading;
  controller_.PausePolling();
  image_.assign(size_t(out.lastPage - out.firstPage) * kPage, 0);
  return out;
}

void TFlashDownload::ReadPages(TOutcome& out, const TCallbacks& callbacks) {
  if (state_ != TState::Downloading) throw Exception("No download begun");
  const int64_t total = out.lastPage - out.firstPage;
  bool fastOn = false;
  try {
    if (fastTransfer_) {
      fastOn = true;
      SetFastTransfer(true);
    }
    TControllerFlashAccess access(controller_);
    double smallestShown = std::numeric_limits<double>::infinity();
    for (int64_t p = out.firstPage; p < out.lastPage; ++p) {
      const auto started = std::chrono::steady_clock::now();
      const uint32_t address = uint32_t(p % geometry_.pageCount) * kPage;
      uint8_t* page = image_.data() + size_t(p - out.firstPage) * kPage;
      for (uint32_t offset = 0; offset < kPage; offset += kChunk)
        access.ReadChunk(address + offset, kChunk, page + offset);
      ++out.pagesRead;
      if (callbacks.progress)
        callbacks.progress(int(RoundEven(double(p - out.firstPage) * 100 / double(total))));
      const double pageSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const double remaining = double(RoundEven(pageSeconds * double(out.lastPage - p - 1)));
      if (remaining < smallestShown) {
        smallestShown = remaining;
        if (callbacks.remaining) callbacks.remaining(FlashDurationText(remaining) + " remaining");
      }
      if (stopRequested_ || (callbacks.stopRequested && callbacks.stopRequested())) {
        out.stopped = p + 1 < out.lastPage;
        break;
      }
    }
  } catch (...) {
    if (fastOn) {
      try {
        SetFastTransfer(false);
      } catch (...) {
      }
    }
    throw;
  }
  if (fastOn) {
    try {
      SetFastTransfer(false);
    } catch (const std::exception&) {
      // The adapter's answer is not needed to go on.
    }
  }
}

void TFlashDownload::FinishDownload(TOutcome& out, const TCallbacks& callbacks, bool startViewer) {
  if (state_ != TState::Downloading) throw Exception("No download begun");
  try {
    state_ = TState::Saving;
    // A stopped download keeps only the pages read: a file ending in pages of zeros would not
    // open (its last page has no timestamp).
    image_.resize(size_t(out.pagesRead) * kPage);
    const std::string fileName = callbacks.fileName ? callbacks.fileName(out) : std::string();
    if (!fileName.empty() && !image_.empty()) {
      SaveDownloadFile(fileName, controller_, image_.data(), image_.size(), Now());
      out.saved = true;
      out.fileName = fileName;
      saved_.Add(out.key, fileName);
      const int64_t end = out.firstPage + out.pagesRead;
      controller_.AppendSessionMarker(uint32_t(end % geometry_.pageCount));
      if (startViewer && viewerStarter_) {
        try {
          viewerStarter_(fileName);
        } catch (...) {
        }
      }
    }
  } catch (...) {
    EndDownload();
    throw;
  }
  EndDownload();
}

void TFlashDownload::AbortDownload() {
  if (state_ == TState::Downloading || state_ == TState::Saving) EndDownload();
}

void TFlashDownload::ClearFlash() {
  if (state_ == TState::Downloading || state_ == TState::Saving)
    throw Exception("A download is running");
  // With polling paused for the listing the command goes out at once: not while the contents
  // thread has the link.
  const bool pause = thread_ && !thread_->Finished();
  if (pause) {
    thread_->RequestPause(true);
    thread_->WaitUntil([&] { return thread_->PausedOrFinished(); });
  }
  try {
    TMemoryStream& buffer = controller_.CommandBuffer();
    buffer.SetPosition(0);
    buffer.WriteU16(kEraseKey);
    controller_.PostCommand(kEraseFlash);
  } catch (...) {
    if (pause) thread_->RequestPause(false);
    throw;
  }
  if (pause) thread_->RequestPause(false);
}

// --- the viewer ----------------------------------------------------------------------------------

bool StartViewerProgram(const std::string& fileName, const std::string& folder) {
  if (folder.empty()) return false;
  const std::string program = folder + "/" + kViewerProgramName;
  if (access(program.c_str(), X_OK) != 0) return false;
  // Detached: a child that starts the viewer in a session of its own and leaves at once, so that
  // nothing waits for the viewer and it leaves no zombie behind.
  std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                             const_cast<char*>(fileName.c_str()), nullptr};
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (fork() == 0) {
      setsid();
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qvl
