// TFlashDownload: what the internal flash download window does, without the window. It opens the
// logger for the download (polling paused, the logger's log command blocked, the USB link
// adapter's speed asked for), lists the sessions and runs through the contents thread, describes
// a selection, downloads the pages of a session or a run into a log file and remembers where it
// was saved, and gives the logger back when the window closes.
//
//   Closed --Open--> Listing --contents thread done--> Idle
//                      |                                 |
//                      +-------------+-------------------+
//                                    | Download (contents thread paused, polling paused)
//                                    v
//                               Downloading --pages read or stopped--> Saving
//                                    |                                   |
//                                    +--- failure ----+------ saved -----+
//                                                     v
//                             Listing or Idle (contents thread goes on, polling resumed)
//   any state --Close--> Closed (thread terminated and waited for, log command released)
//
// Everything here runs on the user-interface thread; the contents thread hands its sessions over
// through the controller's synchronizer. Long work reports through callbacks and never pumps
// the user interface itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tool/flash_contents.h"
#include "tool/saved_downloads.h"
#include "tool/tool_settings.h"

namespace qvl {

class TController;
class TIniFile;

class TFlashDownload {
 public:
  enum class TState { Closed, Listing, Idle, Downloading, Saving };

  struct TEvents {
    // A session was added to the list (its index); user-interface thread.
    std::function<void(int index)> sessionAdded;
    // The contents thread has ended; error is empty unless the listing failed.
    std::function<void(const std::string& error)> listingFinished;
  };

  // Starts the viewer on a downloaded file; failures are ignored.
  using TViewerStarter = std::function<void(const std::string& fileName)>;

  // What a selected node shows.
  struct TSelection {
    int64_t pages = 0;
    std::string text;        // size, download time and where it was saved before
    std::string debugStart;  // "Start page: %d" or "Start sector: %d"
    std::string debugCount;  // "Nb pages: %d" or "Nb sectors: %d"
    bool canProceed = false;
  };

  struct TOutcome {
    int64_t firstPage = 0;  // the range read, in pages (may pass the end of the flash)
    int64_t lastPage = 0;
    int64_t pagesRead = 0;
    bool stopped = false;
    uint32_t key = 0;  // the saved-downloads key of the selection
    bool saved = false;
    std::string fileName;
  };

  struct TCallbacks {
    std::function<void(int percent)> progress;
    // "<duration> remaining", whenever the estimate drops below the smallest shown so far.
    std::function<void(const std::string& text)> remaining;
    // Checked after each page; true stops the download.
    std::function<bool()> stopRequested;
    // Asked once the pages are read: the file to save them in, or "" to save nothing.
    std::function<std::string(const TOutcome& outcome)> fileName;
  };

  TFlashDownload(TController& controller, TIniFile& settings);
  // Closes.
  ~TFlashDownload();
  TFlashDownload(const TFlashDownload&) = delete;
  TFlashDownload& operator=(const TFlashDownload&) = delete;

  void SetEvents(TEvents events) { events_ = std::move(events); }
  // The default starts QVL2View from the program's folder.
  void SetViewerStarter(TViewerStarter starter) { viewerStarter_ = std::move(starter); }

  // Opens the logger for downloading and starts the listing. "Session start not at correct
  // position in flash" when the session start address is not on an erase sector (no listing,
  // polling resumed).
  void Open();
  // Terminates the listing, waits for it, and releases the logger's log command. Writes the saved
  // downloads list into the settings when something was saved.
  void Close();

  TState State() const { return state_; }
  bool Listing() const { return state_ == TState::Listing; }
  const std::string& ListingError() const { return listingError_; }
  // Runs the hand-overs of the contents thread until it has finished (or timeoutMs passed; < 0
  // without limit). For callers without an event loop of their own.
  bool WaitForListing(int timeoutMs = -1);

  const TFlashGeometry& Geometry() const { return geometry_; }
  const std::vector<TSessionData>& Sessions() const { return sessions_; }
  std::string SessionText(int session) const;
  std::string RunText(int session, int run) const;
  uint32_t SessionKey(int session) const;
  uint32_t RunKey(int session, int run) const;
  // The node's key is in the saved downloads list (run -1: the session node).
  bool IsSaved(int session, int run) const;
  TSelection Describe(int session, int run) const;

  // The first and last (exclusive) page of a selection (run -1: the whole session); the last is
  // above the first, beyond the end of the flash when the selection wraps.
  void SelectionRange(int session, int run, int64_t& first, int64_t& last) const;

  // Downloads a session (run -1) or a run: the contents thread pauses, polling pauses, the pages
  // are read, the file is written and remembered, the viewer started when asked for. Failures
  // are passed on after the engine is back in its idle state with polling resumed.
  TOutcome Download(int session, int run, const TCallbacks& callbacks, bool startViewer);
  // A stop request for the running download (as the "Stop" button).
  void RequestStop() { stopRequested_ = true; }

  // Download in three steps, for a window that reads the pages on a thread of its own so that it
  // stays responsive: BeginDownload and FinishDownload on the user-interface thread, ReadPages
  // on any one thread in between (it only uses the link and calls progress, remaining and
  // stopRequested there). A failure of ReadPages is ended with AbortDownload. Download runs the
  // steps in a row.
  //
  // Pauses the contents thread and polling; the pages are read next.
  TOutcome BeginDownload(int session, int run);
  // Reads the pages of the range (fast transfer on and off around them).
  void ReadPages(TOutcome& outcome, const TCallbacks& callbacks);
  // Asks for the file name (callbacks.fileName), writes and remembers the file, starts the viewer
  // when asked for, and goes back to listing or idle with polling resumed, also on failure.
  void FinishDownload(TOutcome& outcome, const TCallbacks& callbacks, bool startViewer);
  // Back to listing or idle with polling resumed, nothing saved (after ReadPages failed).
  void AbortDownload();

  // "Clear IFM": erases the logger's internal flash (the listing, when it runs, pauses for it).
  // Refused while a download has the link.
  void ClearFlash();

  // The USB link adapter's speed check.
  bool FastTransfer() const { return fastTransfer_; }
  bool HigherRate() const { return higherRate_; }
  std::string AdapterVersionText() const;
  const TSavedDownloads& SavedDownloads() const { return saved_; }

 private:
  void CheckLinkSpeed();
  void SetFastTransfer(bool on);
  void AddSession(const TSessionData& session);
  void ListingDone(const std::string& error);
  void EndDownload();
  const TSessionData& SessionAt(int session) const;

  TController& controller_;
  TIniFile& settings_;
  TEvents events_;
  TViewerStarter viewerStarter_;
  TState state_ = TState::Closed;
  TFlashGeometry geometry_;
  std::unique_ptr<TContentsThread> thread_;
  std::vector<TSessionData> sessions_;
  std::string listingError_;
  TSavedDownloads saved_;
  bool fastTransfer_ = false;
  bool higherRate_ = false;
  int adapterMajor_ = 0;
  int adapterMinor_ = 0;
  std::atomic<bool> stopRequested_{false};
  // The pages of the running download.
  std::vector<uint8_t> image_;
};

// Starts QVL2View from a folder (the running program's by default), detached, with the file name
// as its argument. False when it could not be started.
bool StartViewerProgram(const std::string& fileName,
                        const std::string& folder = ExecutableFolder());

}  // namespace qvl
