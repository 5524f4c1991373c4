// qvl flash list / download / erase: the sessions and runs kept in the logger's internal flash,
// downloading one into a log file, and erasing the flash.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ostream>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/logger_session.h"
#include "core/device/ecu_comm_thread.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "tool/flash_download.h"
#include "tool/tool_settings.h"

namespace qvl::cli {
namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
  gInterrupted = true;
}

// Ctrl-C sets a flag while it is installed, instead of ending the program.
class TInterruptGuard {
 public:
  TInterruptGuard() {
    gInterrupted = false;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous_);
  }
  ~TInterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// The logger opened for downloading, with the tool's settings (the saved downloads list).
class TFlashSession {
 public:
  TFlashSession() : settingsFile_(ToolSettingsFileName()) {
    LoadSettingsFile(settings_, settingsFile_);
    session_.Connect();
    engine_ = std::make_unique<TFlashDownload>(session_.Controller(), settings_);
    // The command line never starts the viewer.
    engine_->SetViewerStarter([](const std::string&) {});
  }
  ~TFlashSession() {
    try {
      Close();
    } catch (...) {
    }
  }

  // Opens the download and waits for the whole listing.
  void List() {
    engine_->Open();
    engine_->WaitForListing();
    if (!engine_->ListingError().empty()) throw Exception(engine_->ListingError());
  }

  // Gives the logger back (its log command released) and keeps the saved downloads list.
  void Close() {
    if (!engine_) return;
    engine_->Close();
    engine_.reset();
    if (TEcuCommThread* thread = session_.Controller().CommThread())
      for (int waited = 0; waited < 3000 && thread->QueueSize() > 0; waited += 20)
        session_.Idle(20);
    if (settingsChanged_) SaveSettingsFile(settings_, settingsFile_);
  }

  TFlashDownload& Engine() { return *engine_; }
  TLoggerSession& Logger() { return session_; }
  void SettingsChanged() { settingsChanged_ = true; }

 private:
  TIniFile settings_;
  std::string settingsFile_;
  TLoggerSession session_;
  std::unique_ptr<TFlashDownload> engine_;
  bool settingsChanged_ = false;
};

std::string Utf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

int List(const TArgs& args, std::ostream& out, std::ostream&) {
  TFlashSession flash;
  flash.List();
  TFlashDownload& e = flash.Engine();
  const auto& sessions = e.Sessions();
  if (args.Has("--json")) {
    TJson list = TJson::Array();
    for (size_t k = 0; k < sessions.size(); ++k) {
      const TSessionData& s = sessions[k];
      TJson j = TJson::Object();
      j["text"] = Utf8(e.SessionText(int(k)));
      j["start_sector"] = s.startSector;
      j["end_sector"] = s.endSector;
      j["base"] = s.base;
      j["has_time"] = s.hasTime;
      j["partial"] = s.partial;
      TJson runs = TJson::Array();
      for (size_t r = 0; r < s.runs.size(); ++r) {
        const TRunEntry& run = s.runs[r];
        TJson jr = TJson::Object();
        jr["text"] = Utf8(e.RunText(int(k), int(r)));
        jr["start_page"] = run.startPage;
        jr["end_page"] = run.endPage;
        jr["sd"] = run.sdNumber;
        jr["start_tick"] = run.startTick;
        jr["end_tick"] = run.endTick;
        jr["partial"] = run.partial;
        runs.Push(jr);
      }
      j["runs"] = runs;
      list.Push(j);
    }
    TJson j = TJson::Object();
    j["sessions"] = list;
    out << j.Dump() << "\n";
    return 0;
  }
  for (size_t k = 0; k < sessions.size(); ++k) {
    out << Utf8(e.SessionText(int(k))) << "\n";
    for (size_t r = 0; r < sessions[k].runs.size(); ++r)
      out << "  " << Utf8(e.RunText(int(k), int(r))) << "\n";
  }
  return 0;
}

// A run index that stands for the longest run of the session.
constexpr int kLongestRun = -2;

// "K", "K:R" or "K:longest".
void ParseSelection(const TArgs& args, int& session, int& run) {
  const bool hasSession = args.Has("--session"), hasRun = args.Has("--run");
  if (hasSession == hasRun) throw Exception("give either --session K or --run K:R");
  long long k = 0, r = -1;
  if (hasSession) {
    if (!TryParseInt(args.Get("--session"), k)) throw Exception("--session expects a number");
  } else {
    const std::string text = args.Get("--run");
    const size_t colon = text.find(':');
    const bool longest = colon != std::string::npos && text.substr(colon + 1) == "longest";
    if (longest) r = kLongestRun;
    if (colon == std::string::npos || !TryParseInt(text.substr(0, colon), k) ||
        (!longest && (!TryParseInt(text.substr(colon + 1), r) || r < 0)))
      throw Exception("--run expects K:R (session and run numbers, runs from 0) or K:longest");
  }
  if (k < 0) throw Exception("session numbers start at 0 (the current session)");
  session = int(k);
  run = int(r);
}

int Download(const TArgs& args, std::ostream& out, std::ostream& err) {
  int sessionIndex = 0, runIndex = -1;
  ParseSelection(args, sessionIndex, runIndex);
  const std::string file = args.Get("-o");
  if (file.empty()) throw Exception("flash download needs -o FILE");
  const bool json = args.Has("--json"), keepPartial = args.Has("--keep-partial");

  TFlashSession flash;
  flash.List();
  TFlashDownload& e = flash.Engine();
  if (size_t(sessionIndex) >= e.Sessions().size())
    throw Exception(
        Format("no session %d (the flash holds %d)", sessionIndex, int(e.Sessions().size())));
  const TSessionData& s = e.Sessions()[size_t(sessionIndex)];
  if (s.runs.empty()) throw Exception(Format("session %d holds no runs", sessionIndex));
  if (runIndex == kLongestRun) runIndex = LongestRun(s);
  if (runIndex >= int(s.runs.size()))
    throw Exception(
        Format("session %d has no run %d (it has %d)", sessionIndex, runIndex, int(s.runs.size())));

  // The bar goes to a terminal only.
  const bool bar = !json && ::isatty(2);
  std::string remaining;
  int shownPercent = -1;
  auto draw = [&](int percent) {
    const int filled = percent * 40 / 100;
    err << "\r[" << std::string(size_t(filled), '#') << std::string(size_t(40 - filled), '.')
        << "] " << percent << "% " << remaining << "   " << std::flush;
  };
  TFlashDownload::TCallbacks callbacks;
  callbacks.progress = [&](int percent) {
    if (bar && percent != shownPercent) draw(percent);
    shownPercent = percent;
  };
  callbacks.remaining = [&](const std::string& text) {
    remaining = text;
    if (bar && shownPercent >= 0) draw(shownPercent);
  };
  callbacks.stopRequested = [] { return gInterrupted.load(); };
  callbacks.fileName = [&](const TFlashDownload::TOutcome& o) {
    return o.stopped && !keepPartial ? std::string() : file;
  };

  TFlashDownload::TOutcome outcome;
  {
    TInterruptGuard interrupt;
    outcome = e.Download(sessionIndex, runIndex, callbacks, false);
  }
  if (bar) {
    if (!outcome.stopped) {
      remaining.clear();
      draw(100);
    }
    err << "\n" << std::flush;
  }
  if (outcome.saved) flash.SettingsChanged();
  flash.Close();

  if (json) {
    TJson j = TJson::Object();
    j["file"] = outcome.saved ? outcome.fileName : std::string();
    j["key"] = outcome.key;
    j["pages"] = outcome.pagesRead;
    j["bytes"] = outcome.pagesRead * 4096;
    j["stopped"] = outcome.stopped;
    out << j.Dump() << "\n";
  } else if (outcome.saved) {
    out << "Saved " << outcome.fileName << "\n"
        << "Saved downloads key: " << outcome.key << "\n";
  }
  if (outcome.stopped) {
    err << "qvl: download stopped after " << outcome.pagesRead << " of "
        << outcome.lastPage - outcome.firstPage << " pages"
        << (outcome.saved ? "" : "; nothing written") << "\n";
    return 130;
  }
  return 0;
}

int Erase(const TArgs& args, std::ostream& out, std::ostream&) {
  if (!args.Has("--yes"))
    throw Exception("flash erase removes every session from the logger's flash; add --yes");
  TLoggerSession session;
  session.Connect();
  TIniFile settings;
  TFlashDownload engine(session.Controller(), settings);
  engine.ClearFlash();
  TEcuCommThread* thread = session.Controller().CommThread();
  for (int waited = 0; thread && waited < 5000 && thread->QueueSize() > 0; waited += 20)
    session.Idle(20);
  if (!session.Errors().empty()) throw Exception(session.Errors().front());
  if (thread && thread->QueueSize() > 0) throw Exception("the logger did not take the command");
  out << "Internal flash erased\n";
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "flash list",
    .usage = "[--json]",
    .summary = "list the sessions and runs in the logger's internal flash",
    .help = "Opens the logger for downloading (a logging run in progress ends), lists the\n"
            "sessions and runs of its internal flash as the download window's tree shows them\n"
            "(the current session first, then the older ones, newest first) and gives the\n"
            "logger back. --json gives per session its text, start_sector, end_sector (exclusive,\n"
            "beyond the sector count when the session wraps the ring), base (device time of\n"
            "tick 0), has_time, partial and runs, each with text, start_page, end_page (pages\n"
            "from the session's first page), sd, start_tick, end_tick and partial.",
    .valueOptions = {},
    .flagOptions = {"--json"},
    .run = List,
});

QVL_CLI_COMMAND({
    .name = "flash download",
    .usage = "(--session K | --run K:R | --run K:longest) -o FILE [--keep-partial] [--json]",
    .summary = "download a session or a run of the internal flash into a log file",
    .help = "K is the session's place in `qvl flash list` (0: the current session), R the run's\n"
            "place in it, from 0 (\"longest\": the session's longest run). Shows a progress bar "
            "with the remaining time; Ctrl-C stops the\n"
            "download and writes nothing unless --keep-partial is given (then the pages read so\n"
            "far are saved). The file is remembered in the tool's saved downloads list; the\n"
            "file name and its key are printed. Exit status 130 after a stop.",
    .valueOptions = {"--session", "--run", "-o"},
    .flagOptions = {"--keep-partial", "--json"},
    .run = Download,
});

QVL_CLI_COMMAND({
    .name = "flash erase",
    .usage = "--yes",
    .summary = "erase the logger's internal flash",
    .help = "Sends the erase command for the whole internal flash (\"Clear IFM\"). Every session\n"
            "and run in it is lost; --yes is required.",
    .valueOptions = {},
    .flagOptions = {"--yes"},
    .run = Erase,
});

}  // namespace qvl::cli
