// qvl analyze / export / histogram: the viewer's analysis of a log file without its windows:
// the event lists of a displayed selection, the export text file and a strip's histogram.
#include <ostream>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/log_view.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "viewer/export_selection.h"
#include "viewer/export_writer.h"
#include "viewer/histogram.h"

namespace qvl::cli {
namespace {

struct TEventListName {
  TEventKind kind;
  const char* key;
  const char* title;
};

constexpr TEventListName kEventLists[4] = {
    {TEventKind::FrontBottoming, "front_bottoming", "Front bottoming"},
    {TEventKind::RearBottoming, "rear_bottoming", "Rear bottoming"},
    {TEventKind::FrontWheelLock, "front_wheel_lock", "Front wheel lock"},
    {TEventKind::RearWheelLock, "rear_wheel_lock", "Rear wheel lock"},
};

TJson EventJson(const TEvent& e) {
  TJson j = TJson::Object();
  j["start"] = e.start;
  j["duration"] = e.duration;
  j["start_index"] = e.startIndex;
  j["end_index"] = e.endIndex;
  j["flag"] = int(e.flag);
  return j;
}

int Analyze(const TArgs& args, std::ostream& out, std::ostream& err) {
  TRunDisplay display;
  OpenForView(display, args);
  WarnOfDamagedEnd(*display.MainSlot().store, args.positional[0], err);
  display.SetSettings(SettingsOf(args));
  const int selection = SelectionOf(args, *display.MainSlot().store);
  display.DisplaySelection(selection);
  if (args.Has("--json")) {
    TJson j = TJson::Object();
    j["samples"] = (long long)display.SampleCount();
    j["travel_period"] = display.TravelPeriodMs();
    for (const TEventListName& l : kEventLists) {
      TJson list = TJson::Array();
      for (const TEvent& e : display.Events(l.kind)) list.Push(EventJson(e));
      j[l.key] = list;
    }
    out << j.Dump() << "\n";
    return 0;
  }
  const TAnalysisSettings& s = display.Settings();
  out << "Samples          " << display.SampleCount() << " ("
      << FormatFixed(display.SampleCount() / 1000.0, 7, 3) << " s)\n";
  out << "Travel period    " << display.TravelPeriodMs() << " ms\n";
  out << "Settings         bottoming front " << FormatFixed(s.frontSoftLimit, 7, 2) << "/"
      << FormatFixed(s.frontHardLimit, 7, 2) << ", rear " << FormatFixed(s.rearSoftLimit, 7, 2)
      << "/" << FormatFixed(s.rearHardLimit, 7, 2) << "; wheel lock ratio "
      << FormatFixed(s.speedRatio, 7, 2) << ", min " << FormatFixed(s.minSpeed, 7, 1)
      << " km/h, max decel " << FormatFixed(s.maxDecel, 7, 1) << " km/h/s\n";
  for (const TEventListName& l : kEventLists)
    out << l.title << std::string(17 - std::string(l.title).size(), ' ')
        << display.Events(l.kind).size() << "\n";
  for (const TEventListName& l : kEventLists) {
    const TEventArray& events = display.Events(l.kind);
    if (events.empty()) continue;
    out << "\n" << l.title << "\n";
    out << "  start s   duration s  start index  end index  flag\n";
    for (const TEvent& e : events)
      out << "  "
          << Format("%9s  %10s  %11d  %9d  %4d", FormatFixed(e.start, 7, 3).c_str(),
                    FormatFixed(e.duration, 7, 3).c_str(), e.startIndex, e.endIndex, int(e.flag))
          << "\n";
  }
  return 0;
}

// Displays the selection with the strips of the --strip options.
void DisplayStrips(TRunDisplay& display, const TArgs& args, std::ostream& err) {
  OpenForView(display, args);
  WarnOfDamagedEnd(*display.MainSlot().store, args.positional[0], err);
  TStripList strips = StripsOf(args, *display.MainSlot().controller);
  if (strips.empty()) throw Exception("at least one --strip NAME[:UNIT[:SMOOTHING_MS]] is needed");
  display.SetStrips(strips);
  display.SetSettings(SettingsOf(args));
  display.DisplaySelection(SelectionOf(args, *display.MainSlot().store));
}

int Export(const TArgs& args, std::ostream& out, std::ostream& err) {
  const std::string output = args.Get("-o");
  if (output.empty()) throw Exception("export needs -o OUT.txt");
  TRunDisplay display;
  DisplayStrips(display, args, err);
  const TChartView& chart = display.Chart();

  // The same request the export dialog builds: --selected is the strip the dialog was opened on
  // with "Selected channel", --visible the plot's edges with "Part currently in display".
  TExportChoice choice;
  choice.allStrips = !args.Has("--selected");
  choice.selected = int(args.GetInt("--selected", 0));
  if (!choice.allStrips && (choice.selected < 0 || size_t(choice.selected) >= chart.strips.size()))
    throw Exception(
        Format("--selected %d: there are %d strips", choice.selected, int(chart.strips.size())));
  if (args.Has("--visible")) {
    const std::string v = args.Get("--visible");
    size_t colon = v.find(':');
    long long from, to;
    if (colon == std::string::npos || !TryParseInt(v.substr(0, colon), from) ||
        !TryParseInt(v.substr(colon + 1), to) || from < 0 || to < from)
      throw Exception("--visible expects FROM_MS:TO_MS");
    choice.visiblePart = true;
    choice.visibleFirst = from;
    choice.visibleLast = to;
  }
  const TExportRequest request = ExportRequestOf(display, choice);
  const int step = ExportGridStep(request);
  WriteExportFile(output, request);
  out << "wrote " << output << " (" << (request.allStrips ? chart.strips.size() : 1) << " strips, "
      << step << " ms grid)\n";
  return 0;
}

int Histogram(const TArgs& args, std::ostream& out, std::ostream& err) {
  if (args.GetAll("--strip").size() != 1) throw Exception("histogram needs one --strip SPEC");
  TRunDisplay display;
  DisplayStrips(display, args, err);
  const TStripView& v = display.Chart().strips[0];
  const TCurveData& curve = v.Curve(0, 0);
  const TDisplayEntry& entry = display.Strips()[0].main;

  THistogramInput in;
  in.values = &curve.Values();
  in.period = curve.period;
  in.rangeStart = 0;
  in.rangeEnd = std::max<int64_t>(display.SampleCount() - 1, 0);
  in.smoothing = entry.smoothing;
  in.unit = EntryUnitSuffix(entry, display.MainSlot().controller.get());
  in.discardFirst = args.Has("--discard-first");
  in.probability = !args.Has("--count");
  if (args.Has("--bins") && args.Has("--width"))
    throw Exception("give --bins or --width, not both");
  if (args.Has("--width")) {
    double w;
    if (!TryParseDouble(args.Get("--width"), w)) throw Exception("--width expects a number");
    in.fixedWidth = true;
    in.width = w;
  } else {
    long long bins = args.GetInt("--bins", 20);
    if (bins < 1 || bins > 100000) throw Exception("--bins expects 1 to 100000");
    in.binCount = int(bins);
  }
  const THistogram h = ComputeHistogram(in);
  const THistogramRangeLabels range = HistogramRangeLabels(
      *display.MainSlot().store, display.DisplayStart(), in.rangeStart, in.rangeEnd);
  auto oneLine = [](std::string s) {
    for (char& c : s)
      if (c == '\r') c = ' ';
    return s;
  };

  if (args.Has("--json")) {
    TJson j = TJson::Object();
    j["strip"] = Cp1252ToUtf8(v.title);
    j["unit"] = Cp1252ToUtf8(in.unit);
    j["period"] = curve.period;
    j["first_index"] = (long long)h.first;
    j["last_index"] = (long long)h.last;
    j["values"] = (long long)h.used;
    j["discarded"] = (long long)h.discarded;
    j["minimum"] = h.minimum;
    j["maximum"] = h.maximum;
    j["mean"] = h.mean;
    j["one_sided"] = h.oneSided;
    j["bin_count"] = h.binCount;
    j["bin_width"] = h.width;
    j["first_bin_start"] = h.start;
    TJson counts = TJson::Array();
    for (int32_t c : h.counts) counts.Push(c);
    j["counts"] = counts;
    j["fullest_bin"] = h.fullest;
    TJson series = TJson::Array();
    for (const THistogramPoint& p : h.series) {
      TJson point = TJson::Object();
      point["x"] = p.x;
      point["y"] = p.y;
      series.Push(point);
    }
    j["series"] = series;
    TJson labels = TJson::Object();
    labels["bin_size"] = Cp1252ToUtf8(h.binSizeCaption);
    labels["average"] = Cp1252ToUtf8(h.average);
    labels["median"] = Cp1252ToUtf8(h.median);
    labels["samples"] = h.sampleCount;
    labels["smoothing"] = h.smoothing;
    labels["session"] = range.session;
    labels["run"] = range.run;
    labels["from"] = range.from;
    labels["to"] = range.to;
    j["labels"] = labels;
    out << j.Dump() << "\n";
    return 0;
  }
  out << "Histogram - " << Cp1252ToUtf8(v.title) << "\n";
  out << oneLine(range.session) << ", " << oneLine(range.run) << ", from " << range.from << " to "
      << range.to << "\n";
  out << Cp1252ToUtf8(h.average) << "\n"
      << Cp1252ToUtf8(h.median) << "\n"
      << h.sampleCount << "\n"
      << h.smoothing << "\n"
      << Cp1252ToUtf8(h.binSizeCaption) << "\n\n";
  out << "     bin start        count  " << (in.probability ? "probability %" : "") << "\n";
  for (int b = 0; b < h.binCount; ++b) {
    out << Format("%14s  %11d", FormatSignificant(h.start + b * h.width, 4).c_str(),
                  h.counts[size_t(b)]);
    if (in.probability) out << "  " << FormatFixed(h.series[size_t(b)].y, 7, 2);
    out << "\n";
  }
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "analyze",
    .usage = "FILE (--run R | --session S) [--settings FILE.ini] [--json]",
    .summary = "bottoming and wheel lock events of a run or session, as the viewer finds them",
    .help = "Displays run R (or every run of session S; both counted from 0) of a log file as the\n"
            "viewer does and lists the four event lists: front and rear bottoming against the\n"
            "soft and hard travel limits, front and rear wheel lock from the speed ratio and the\n"
            "deceleration. The analysis settings are the viewer's defaults, or the \"Config\"\n"
            "section of the given settings file. --json prints the keys samples, travel_period,\n"
            "front_bottoming, rear_bottoming, front_wheel_lock and rear_wheel_lock, each list an\n"
            "array of {start, duration, start_index, end_index, flag} (times in seconds, indices\n"
            "in the detector's steps: 10 ms for wheel lock, the travel period for bottoming).",
    .valueOptions = {"--run", "--session", "--settings"},
    .flagOptions = {"--json"},
    .run = Analyze,
});

QVL_CLI_COMMAND({
    .name = "export",
    .usage =
        "FILE (--run R | --session S) --strip SPEC ... [--selected K] [--visible FROM_MS:TO_MS] "
        "-o OUT.txt",
    .summary = "export strips of a run or session as tab-separated text, as the viewer does",
    .help = "Displays the selection with one strip per --strip SPEC, SPEC being\n"
            "NAME[:UNIT[:SMOOTHING_MS]] (\"Front travel:mm:20\"; the unit defaults to the\n"
            "channel's first), and writes the viewer's export file: all strips, or with\n"
            "--selected K only strip K (from 0); the whole selection, or with --visible the chart\n"
            "samples FROM_MS to TO_MS as the part in display. The file is written under a\n"
            "temporary name and renamed into place.",
    .valueOptions = {"--run", "--session", "--strip", "--selected", "--visible", "--settings",
                     "-o"},
    .flagOptions = {},
    .run = Export,
});

QVL_CLI_COMMAND({
    .name = "histogram",
    .usage = "FILE (--run R | --session S) --strip SPEC [--bins N | --width W] [--discard-first] "
             "[--count] [--json]",
    .summary = "histogram of one strip over a run or session, as the viewer computes it",
    .help = "Displays the selection with the strip SPEC (NAME[:UNIT[:SMOOTHING_MS]]) and computes\n"
            "its histogram over the whole selection: N bins between the extremes (20 by default)\n"
            "or bins of width W (one centred on zero when the values lie on both sides of it),\n"
            "optionally without the first occupied bin, in per cent of the samples used or with\n"
            "--count as counts. Prints the bins and the labels (average, median, sample count,\n"
            "smoothing); --json prints them with the series points.",
    .valueOptions = {"--run", "--session", "--strip", "--bins", "--width", "--settings"},
    .flagOptions = {"--discard-first", "--count", "--json"},
    .run = Histogram,
});

}  // namespace qvl::cli
