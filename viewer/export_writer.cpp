#include "viewer/export_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/logdata/data_log_store.h"
#include "core/util/byte_stream.h"
#include "core/util/number_format.h"
#include "core/util/safe_save.h"
#include "viewer/run_display.h"
#include "viewer/stripchart/time_axis.h"

namespace qvl {
namespace {

constexpr const char* kEmptyValue = "-------";
// Values are written with at most 7 significant digits; the time column always with all of its
// decimals, so that long data never gives two lines the same time.
constexpr int kValueDigits = 7;
constexpr int kTimeDigits = 18;

int RoundedPeriod(double period) {
  return period > 0 ? int(std::lround(period)) : 0;
}

std::vector<const TExportStrip*> Exported(const TExportRequest& r) {
  std::vector<const TExportStrip*> out;
  if (r.allStrips) {
    for (const TExportStrip& s : r.strips) out.push_back(&s);
  } else if (r.selected >= 0 && size_t(r.selected) < r.strips.size()) {
    out.push_back(&r.strips[size_t(r.selected)]);
  }
  return out;
}

}  // namespace

int ExportGridStep(const TExportRequest& request) {
  int step = 0;
  for (const TExportStrip* s : Exported(request)) {
    int p = RoundedPeriod(s->period);
    if (p > 0 && (step == 0 || p < step)) step = p;
  }
  return step > 0 ? step : 1;
}

int ExportTimeDecimals(int gridStep) {
  if (gridStep > 99) return 1;
  if (gridStep > 9) return 2;
  return 3;
}

std::string QuoteExportField(const std::string& field) {
  bool quote = false;
  for (char c : field)
    if (uint8_t(c) <= ' ' || c == '"' || c == 0x7F) {
      quote = true;
      break;
    }
  if (!quote) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string BuildExportText(const TExportRequest& request) {
  const std::vector<const TExportStrip*> strips = Exported(request);
  const int p = ExportGridStep(request);
  const int timeDecimals = ExportTimeDecimals(p);
  const std::string eol = "\r\n";
  std::string out;
  out += request.title + eol;

  out += QuoteExportField("Time (sec)");
  for (const TExportStrip* s : strips) out += "\t" + QuoteExportField(s->title);
  out += eol;

  for (const TExportStrip* s : strips) {
    std::string text = "No smoothing";
    int period = RoundedPeriod(s->period);
    if (s->smoothing > 1)
      text = Format("Smoothing: %dms (%ld samples)", s->smoothing,
                    period > 0 ? std::lround(double(s->smoothing) / s->period) : 0L);
    out += "\t" + QuoteExportField(text);
  }
  out += eol;

  int64_t first = 0, last = request.sampleCount - 1;
  if (request.visiblePart) {
    first = request.visibleFirst;
    last = request.visibleLast;
  }
  if (last < first || last < 0) return out;
  first = std::max<int64_t>(first, 0);
  for (int64_t r = first / p; r <= last / p; ++r) {
    const double ms = double(r) * p;
    std::string line = QuoteExportField(FormatFixed(ms / 1000, kTimeDigits, timeDecimals));
    for (const TExportStrip* s : strips) {
      const int64_t lastIndex = s->values ? int64_t(s->values->size()) - 1 : -1;
      int64_t i = lastIndex;
      if (s->period > 0 && lastIndex >= 0)
        i = std::min<int64_t>(std::llround(ms / s->period), lastIndex);
      line += "\t";
      line +=
          i < 0 ? std::string(kEmptyValue)
                : QuoteExportField(FormatFixed((*s->values)[size_t(i)], kValueDigits, s->decimals));
    }
    out += line + eol;
  }
  return out;
}

void WriteExportFile(const std::string& fileName, const TExportRequest& request) {
  const std::string text = BuildExportText(request);
  SafeSaveFile(
      fileName, [&](TStream& stream) { stream.WriteBuffer(text.data(), text.size()); }, false);
}

std::string ExportWholeRangeLabel(const TDataLogStore& store, const TSelectionRange& range,
                                  int gridStep) {
  const int step = std::max(gridStep, 1);
  int firstRun = 0, runCount = 0;
  if (range.session >= 0 && range.session < store.SessionCount())
    store.GetSession(range.session, firstRun, runCount);
  const long long samples = (long long)(range.sampleCount / step);
  if (range.firstRun == range.lastRun)
    return Format("Session %d/%d, run %d/%d, %lld data samples", range.session + 1,
                  store.SessionCount(), range.firstRun - firstRun + 1, runCount, samples);
  return Format("Session %d/%d, %d runs, %lld data samples", range.session + 1,
                store.SessionCount(), runCount, samples);
}

std::string ExportVisiblePartLabel(const TDataLogStore& store, const TSelectionRange& range,
                                   int64_t visibleFirst, int64_t visibleLast, int gridStep) {
  const int step = std::max(gridStep, 1);
  const int64_t p0 = range.displayStart + visibleFirst, p1 = range.displayStart + visibleLast;
  double t0, t1;
  if (range.firstRun == range.lastRun) {
    t0 = double(store.TimeInRun(p0));
    t1 = double(store.TimeInRun(p1));
  } else {
    t0 = double(store.TimeInSession(p0));
    t1 = double(store.TimeInSession(p1));
  }
  return Format("%s to %s, %lld data samples", FormatTimeLabel(t0 / 1000, 0).c_str(),
                FormatTimeLabel(t1 / 1000, 0).c_str(),
                (long long)((visibleLast - visibleFirst) / step + 1));
}

}  // namespace qvl
