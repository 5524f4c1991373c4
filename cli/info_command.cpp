// qvl info: what a log file holds — its form, the data encoding, the sessions and runs with their
// dates, lengths and notes, time marks, video names and synchronisation.
#include <ostream>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/log_view.h"
#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/cp1252.h"
#include "core/util/date_time.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

const char* EncodingName(uint32_t tag) {
  switch (tag) {
    case kTagSampleRecords:
      return "sample records";
    case kTagCompactRecords:
      return "compact records";
    case kTagFlashImage:
      return "flash image";
    default:
      return "none";
  }
}

std::string DateText(double date) {
  return date == 0 ? "(unknown)" : FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", date);
}

// The time marks are found while decoding: walk run 0 as the viewer does when it shows it.
void CollectTimeMarks(TDataLogStore& store) {
  if (!store.IsImage() || store.RunCount() == 0) return;
  store.SelectRun(0);
  TLogSample sample;
  const int64_t n = int64_t(store.RunLast(0)) - store.RunFirst(0) + 1;
  for (int64_t t = 0; t < n; ++t) store.ReadNext(t, sample);
}

TJson InfoJson(const std::string& file, TDataLogStore& store, const TLogFileInfo& info) {
  TJson j = TJson::Object();
  j["file"] = file;
  j["form"] = info.isDownload ? "download" : "saved";
  j["version"] = info.version;
  j["shifted"] = info.shifted;
  j["encoding"] = store.Encoding();
  j["period"] = store.Period();
  j["created"] = store.Created();
  j["record_count"] = store.RecordCount();
  j["discarded"] = store.DiscardedCount();
  j["start_tick"] = store.StartTick();
  j["value_scale"] = store.ValueScale();
  j["ref_tick"] = store.RefTick();
  j["ref_date"] = store.RefDate();
  TJson marks = TJson::Array();
  for (uint32_t m : store.TimeMarks()) marks.Push(int64_t(m) * store.Period());
  j["time_marks"] = marks;
  j["video_name"] = Cp1252ToUtf8(info.videoName);
  TJson syncs = TJson::Array();
  for (const TSyncData& s : info.syncs) {
    TJson e = TJson::Object();
    e["synced"] = s.synced != 0;
    e["offset"] = s.offset;
    e["chart_time"] = s.chartTime;
    syncs.Push(e);
  }
  j["syncs"] = syncs;
  if (info.hasRunVideoNames) {
    TJson names = TJson::Array();
    for (const std::string& n : info.runVideoNames) names.Push(Cp1252ToUtf8(n));
    j["run_video_names"] = names;
  } else {
    j["run_video_names"] = nullptr;
  }
  TJson sessions = TJson::Array();
  for (int s = 0; s < store.SessionCount(); ++s) {
    int first = 0, count = 0;
    store.GetSession(s, first, count);
    TJson e = TJson::Object();
    e["first_run"] = first;
    e["run_count"] = count;
    sessions.Push(e);
  }
  j["sessions"] = sessions;
  TJson runs = TJson::Array();
  for (int r = 0; r < store.RunCount(); ++r) {
    TJson e = TJson::Object();
    e["session"] = store.RunSession(r);
    e["first"] = store.RunFirst(r);
    e["last"] = store.RunLast(r);
    e["start_date"] = store.RunStartDate(r);
    e["duration_ms"] = store.RunDuration(r);
    e["note"] = Cp1252ToUtf8(store.GetRunNote(r));
    runs.Push(e);
  }
  j["runs"] = runs;
  return j;
}

void PrintInfo(const std::string& file, TDataLogStore& store, const TLogFileInfo& info,
               std::ostream& out) {
  out << "File            " << file << "\n";
  if (info.isDownload)
    out << "Form            download file\n";
  else
    out << "Form            saved file, version " << info.version
        << (info.shifted ? " (configuration shifted by 2 bytes)" : "") << "\n";
  out << "Encoding        " << store.Encoding() << Format(" (0x%04X, ", store.Encoding())
      << EncodingName(store.Encoding()) << ")\n";
  out << "Period          " << store.Period() << " ms\n";
  out << "Created         " << DateText(store.Created()) << "\n";
  out << "Records         " << store.RecordCount() << "\n";
  out << "Discarded       " << store.DiscardedCount() << "\n";
  out << "Start tick      " << store.StartTick() << "\n";
  out << "Time marks      " << store.TimeMarks().size();
  for (uint32_t m : store.TimeMarks()) out << " " << int64_t(m) * store.Period();
  out << (store.TimeMarks().empty() ? "\n" : " ms\n");
  out << "Video           " << (info.videoName.empty() ? "(none)" : Cp1252ToUtf8(info.videoName))
      << "\n";
  out << "Sync records    " << info.syncs.size() << "\n";
  for (size_t i = 0; i < info.syncs.size(); ++i) {
    const TSyncData& s = info.syncs[i];
    out << "  run " << i << (s.synced ? "  synced" : "  not synced") << ", offset "
        << FormatFixed(s.offset, 7, 3) << " s, chart time " << FormatFixed(s.chartTime, 7, 3)
        << " s\n";
  }
  out << "Run videos      ";
  if (!info.hasRunVideoNames) {
    out << "(none)\n";
  } else {
    out << info.runVideoNames.size() << "\n";
    for (size_t i = 0; i < info.runVideoNames.size(); ++i)
      out << "  run " << i << "  " << Cp1252ToUtf8(info.runVideoNames[i]) << "\n";
  }
  out << "Sessions        " << store.SessionCount() << "\n";
  for (int s = 0; s < store.SessionCount(); ++s) {
    int first = 0, count = 0;
    store.GetSession(s, first, count);
    out << "  session " << s << "  first run " << first << ", " << count << " runs, start "
        << DateText(store.SessionStartDate(s)) << "\n";
  }
  out << "Runs            " << store.RunCount() << "\n";
  if (store.RunCount() > 0) out << "  run\tsession\tfirst\tlast\tstart date\tduration ms\tnote\n";
  for (int r = 0; r < store.RunCount(); ++r)
    out << "  " << r << "\t" << store.RunSession(r) << "\t" << store.RunFirst(r) << "\t"
        << store.RunLast(r) << "\t" << DateText(store.RunStartDate(r)) << "\t"
        << store.RunDuration(r) << "\t" << Cp1252ToUtf8(store.GetRunNote(r)) << "\n";
}

int Info(const TArgs& args, std::ostream& out, std::ostream& err) {
  if (args.positional.size() != 1) throw Exception("info needs one FILE");
  const std::string& file = args.positional[0];
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  LoadLogFile(file, controller, store, info);
  WarnOfDamagedEnd(store, file, err);
  CollectTimeMarks(store);
  if (args.Has("--json"))
    out << InfoJson(file, store, info).Dump() << "\n";
  else
    PrintInfo(file, store, info, out);
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "info",
    .usage = "FILE [--json]",
    .summary = "show a log file's form, encoding, sessions, runs and notes",
    .help =
        "Reads the log file FILE as the viewer does and shows its form (download file, or a\n"
        "file saved by the viewer and its version), the data encoding (39539 sample records,\n"
        "39541 compact records, 39542 flash image), the period, the creation date, the record\n"
        "count, discarded samples, the start tick, the time marks (found by decoding run 0),\n"
        "the video name, the synchronisation records and per-run video names, then every\n"
        "session and run: session, first and last record index, start date, duration in ms\n"
        "and note.\n"
        "--json prints one object with the keys file, form, version (the file's first 16-bit\n"
        "number), shifted, encoding, period, created, record_count, discarded, start_tick,\n"
        "value_scale, ref_tick, ref_date, time_marks (ms), video_name, syncs, run_video_names,\n"
        "sessions ({first_run, run_count}) and runs ({session, first, last, start_date (days\n"
        "since 1899-12-30, 0 when unknown), duration_ms, note}).",
    .valueOptions = {},
    .flagOptions = {"--json"},
    .run = Info,
});

}  // namespace qvl::cli
