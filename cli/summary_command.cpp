// qvl summary: one row per run of every log file found, for comparing set-ups across a season:
// travel, bottoming, wheel lock, speed, suspension velocity, data quality and the run's notes,
// all as the viewer's run display finds them. Files are read on several threads; the rows come
// out in the order of the files.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/log_view.h"
#include "core/util/byte_stream.h"
#include "core/util/cp1252.h"
#include "core/util/date_time.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "core/util/safe_save.h"
#include "viewer/run_summary.h"

namespace qvl::cli {
namespace {

namespace fs = std::filesystem;

// --- finding the files ---------------------------------------------------------------------------

bool IsLogFileName(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return ext == ".qvl" || ext == ".qvlog";
}

// A named file is taken whatever its name; a folder gives its log files (*.QVL, *.QVLog in any
// case), with --recursive those of its subfolders too, sorted by path.
std::vector<std::string> FindLogFiles(const std::vector<std::string>& arguments, bool recursive) {
  std::vector<std::string> files;
  for (const std::string& a : arguments) {
    std::error_code ec;
    if (!fs::is_directory(a, ec)) {
      files.push_back(a);
      continue;
    }
    std::vector<std::string> found;
    auto take = [&](const fs::directory_entry& e) {
      std::error_code fileEc;
      if (e.is_regular_file(fileEc) && IsLogFileName(e.path())) found.push_back(e.path().string());
    };
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive)
      for (const auto& e : fs::recursive_directory_iterator(a, options, ec)) take(e);
    else
      for (const auto& e : fs::directory_iterator(a, options, ec)) take(e);
    if (ec) throw EFileError("Cannot read folder \"" + a + "\": " + ec.message());
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

// --- reading them on several threads
// ---------------------------------------------------------------

struct TFileResult {
  std::string path;
  bool read = false;
  std::string error;       // why the file could not be read
  std::string endWarning;  // the damaged-end warning of a file that was read
  std::vector<TRunSummary> runs;
};

void SummariseFile(TFileResult& result, const TAnalysisSettings& settings) {
  try {
    TRunDisplay display;
    OpenLogFile(display.MainSlot(), result.path);
    std::ostringstream warning;
    WarnOfDamagedEnd(*display.MainSlot().store, result.path, warning);
    result.endWarning = warning.str();
    display.SetSettings(settings);
    result.runs = SummariseRuns(display);
    result.read = true;
  } catch (const std::exception& e) {
    result.error = e.what();
  }
}

// Summarises every file on `jobs` threads. On a terminal, `progress` is told each finished count
// (on the calling thread).
void SummariseAll(std::vector<TFileResult>& results, const TAnalysisSettings& settings, int jobs,
                  const std::function<void(size_t)>& progress) {
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable changed;
  size_t done = 0;
  auto work = [&] {
    for (size_t i = next++; i < results.size(); i = next++) {
      SummariseFile(results[i], settings);
      std::lock_guard lock(mutex);
      ++done;
      changed.notify_one();
    }
  };
  std::vector<std::thread> threads;
  const size_t workers = std::min<size_t>(size_t(std::max(jobs, 1)), results.size());
  // With progress the calling thread reports while `workers` threads work; else it is one of them.
  for (size_t t = progress ? 0 : 1; t < workers; ++t) threads.emplace_back(work);
  if (progress) {
    std::unique_lock lock(mutex);
    size_t shown = SIZE_MAX;
    while (true) {
      changed.wait(lock, [&] { return done != shown; });
      shown = done;
      lock.unlock();
      progress(shown);
      lock.lock();
      if (shown == results.size()) break;
    }
  } else {
    work();
  }
  for (std::thread& t : threads) t.join();
}

// --- the table
// -------------------------------------------------------------------------------------

const char* const kColumns[] = {
    "file",
    "session",
    "run",
    "start",
    "duration_s",
    "front_travel_max_pct",
    "front_travel_p95_pct",
    "rear_travel_max_pct",
    "rear_travel_p95_pct",
    "front_bottoming_soft",
    "front_bottoming_hard",
    "rear_bottoming_soft",
    "rear_bottoming_hard",
    "front_wheel_locks",
    "rear_wheel_locks",
    "speed_avg_kmh",
    "speed_max_kmh",
    "front_compression_mm_s",
    "front_rebound_mm_s",
    "rear_compression_mm_s",
    "rear_rebound_mm_s",
    "discarded_samples",
    "gaps_over_1s",
    "front_travel_at_limit_pct",
    "rear_travel_at_limit_pct",
    "notes_front",
    "notes_rear",
    "notes_track",
    "notes_other",
};
constexpr size_t kColumnCount = std::size(kColumns);

// A cell, formatted once for the CSV and the JSON alike (so both carry the same digits).
struct TCell {
  enum TKind { Null, Text, Integer, Real } kind = Null;
  std::string text;
};

TCell Text(const std::string& cp1252) {
  return {TCell::Text, Cp1252ToUtf8(cp1252)};
}
TCell Integer(int64_t v) {
  return {TCell::Integer, std::to_string(v)};
}
// Fixed decimals with a point, whatever the locale.
TCell Real(double v, int decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::isfinite(v) ? v : 0.0,
                         std::chars_format::fixed, decimals);
  return {TCell::Real, std::string(buf, r.ptr)};
}

std::vector<TCell> RowCells(const std::string& file, const TRunSummary& s) {
  std::string other;
  for (size_t i = 0; i < s.notes.other.size(); ++i) other += (i ? "\n" : "") + s.notes.other[i];
  return {
      {TCell::Text, file},
      Integer(s.session),
      Integer(s.run),
      s.startDate == 0 ? TCell{}
                       : TCell{TCell::Text, FormatDateTime("yyyy-mm-dd hh:nn:ss", s.startDate)},
      Real(s.Duration(), 3),
      Real(s.front.maxTravel, 2),
      Real(s.front.p95Travel, 2),
      Real(s.rear.maxTravel, 2),
      Real(s.rear.p95Travel, 2),
      Integer(s.front.bottomingSoft),
      Integer(s.front.bottomingHard),
      Integer(s.rear.bottomingSoft),
      Integer(s.rear.bottomingHard),
      Integer(s.front.wheelLocks),
      Integer(s.rear.wheelLocks),
      Real(s.averageSpeed, 2),
      Real(s.maxSpeed, 2),
      Real(s.front.compression, 1),
      Real(s.front.rebound, 1),
      Real(s.rear.compression, 1),
      Real(s.rear.rebound, 1),
      Integer(s.discarded),
      Integer(s.gaps),
      Real(s.front.AtLimitPercent(), 3),
      Real(s.rear.AtLimitPercent(), 3),
      Text(s.notes.front),
      Text(s.notes.rear),
      Text(s.notes.track),
      Text(other),
  };
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvTable(const std::vector<TFileResult>& results) {
  std::string csv;
  for (size_t c = 0; c < kColumnCount; ++c) csv += (c ? "," : "") + std::string(kColumns[c]);
  csv += "\r\n";
  for (const TFileResult& f : results)
    for (const TRunSummary& s : f.runs) {
      const std::vector<TCell> cells = RowCells(f.path, s);
      for (size_t c = 0; c < cells.size(); ++c) csv += (c ? "," : "") + CsvField(cells[c].text);
      csv += "\r\n";
    }
  return csv;
}

TJson JsonTable(const std::vector<TFileResult>& results) {
  TJson rows = TJson::Array();
  for (const TFileResult& f : results)
    for (const TRunSummary& s : f.runs) {
      const std::vector<TCell> cells = RowCells(f.path, s);
      TJson row = TJson::Object();
      for (size_t c = 0; c < cells.size(); ++c) {
        const TCell& cell = cells[c];
        switch (cell.kind) {
          case TCell::Null:
            row[kColumns[c]] = nullptr;
            break;
          case TCell::Text:
            row[kColumns[c]] = cell.text;
            break;
          case TCell::Integer:
            row[kColumns[c]] = (long long)std::stoll(cell.text);
            break;
          case TCell::Real:
            row[kColumns[c]] = std::strtod(cell.text.c_str(), nullptr);
            break;
        }
      }
      rows.Push(row);
    }
  return rows;
}

int Summary(const TArgs& args, std::ostream& out, std::ostream& err) {
  if (args.positional.empty()) throw Exception("summary needs FILE or FOLDER");
  if (args.Has("--csv") && args.Has("--json"))
    throw Exception("give --csv OUT or --json, not both");
  const TAnalysisSettings settings = SettingsOf(args);
  const long long jobs = args.GetInt("--jobs", std::max(1u, std::thread::hardware_concurrency()));
  if (jobs < 1 || jobs > 1024) throw Exception("--jobs expects 1 to 1024");
  std::vector<TFileResult> results;
  for (const std::string& path : FindLogFiles(args.positional, args.Has("--recursive"))) {
    results.emplace_back();
    results.back().path = path;
  }
  if (results.empty()) throw Exception("no log files (*.QVL, *.QVLog) found");

  // Progress only on a terminal: a redirected stderr keeps just the messages.
  std::function<void(size_t)> progress;
  const bool terminal = &err == &std::cerr && isatty(STDERR_FILENO);
  if (terminal)
    progress = [&](size_t done) {
      err << "\rqvl summary: " << done << "/" << results.size() << " files" << std::flush;
    };
  SummariseAll(results, settings, int(jobs), progress);
  if (terminal) err << "\r\033[K" << std::flush;

  size_t read = 0, runs = 0;
  for (const TFileResult& f : results) {
    if (f.read) {
      ++read;
      runs += f.runs.size();
      err << f.endWarning;
    } else {
      err << "qvl: summary: skipped " << f.path << ": " << f.error << "\n";
    }
  }
  if (read == 0) throw Exception("none of the files could be read");

  if (args.Has("--json")) {
    out << JsonTable(results).Dump() << "\n";
  } else if (args.Has("--csv")) {
    const std::string output = args.Get("--csv");
    const std::string csv = CsvTable(results);
    SafeSaveFile(
        output, [&](TStream& s) { s.WriteBuffer(csv.data(), csv.size()); }, false);
    out << "wrote " << output << " (" << runs << " runs of " << read << " files)\n";
  } else {
    out << CsvTable(results);
  }
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "summary",
    .usage = "FILE|FOLDER... [--recursive] [--settings FILE.ini] [--jobs N] [--csv OUT | --json]",
    .summary = "one row per run of every log file: travel, bottoming, wheel lock, speed, quality",
    .help =
        "Reads every log file named, and the log files (*.QVL, *.QVLog in any case) of every\n"
        "folder named (with --recursive also of its subfolders), and summarises each run as the\n"
        "viewer's analysis finds it, with its settings (defaults, or the \"Config\" section of\n"
        "--settings). Files are read on N threads (--jobs, default one per core). A file that\n"
        "cannot be read is skipped with its message on stderr; the command fails only when no\n"
        "file could be read. Prints CSV (RFC 4180, UTF-8, a header line, CR LF line ends), or\n"
        "writes it to OUT with --csv; --json prints an array of objects with the same keys.\n"
        "Columns: file; session and run (from 0, as --session and --run count them); start\n"
        "(local date and time, empty when unknown); duration_s; front/rear travel maximum and\n"
        "95th percentile in %; front/rear bottoming: soft (events past the soft limit) and hard\n"
        "(those of them that reached the hard limit); front/rear wheel locks; speed average and\n"
        "maximum in km/h (the faster wheel every 10 ms); front/rear mean suspension velocity\n"
        "while compressing and while rebounding in mm/s; discarded_samples (records replaced\n"
        "because their tick did not advance); gaps_over_1s (stretches of more than a second\n"
        "without a travel sample); front/rear travel at limit (% of the travel samples at the\n"
        "converter's lowest or highest count: a loose or worn potentiometer); the notes' front,\n"
        "rear and track settings and their other lines.",
    .valueOptions = {"--settings", "--jobs", "--csv"},
    .flagOptions = {"--recursive", "--json"},
    .run = Summary,
});

}  // namespace qvl::cli
