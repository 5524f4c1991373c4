#include "viewer/viewer_navigation.h"

#include <algorithm>

#include "core/device/ecu_types.h"
#include "core/util/date_time.h"
#include "core/util/number_format.h"
#include "viewer/value_reader.h"

namespace qvl {
namespace {

// Chart samples per store index: 1 for a flash image (its positions are milliseconds), the
// record period otherwise.
int64_t SamplesPerIndex(const TDataLogStore& store) {
  return store.IsImage() ? 1 : std::max<int64_t>(store.Period(), 1);
}

void SessionRuns(const TDataLogStore& store, int session, int& first, int& count) {
  first = 0;
  count = 0;
  if (session >= 0 && session < store.SessionCount()) store.GetSession(session, first, count);
}

std::string Fixed(double value, int decimals, const char* suffix = "") {
  return Format("%3.*f%s", decimals, value, suffix);
}

int Decimals(TController& controller, int channel, int unit) {
  TDisplayEntry e;
  e.channel = uint8_t(channel);
  e.unit = uint8_t(unit);
  return DisplayDecimals(e, controller);
}

}  // namespace

int RunAtChartSample(const TDataLogStore& store, const TSelectionRange& range, int64_t c) {
  if (range.Empty() || c < 0 || c >= range.sampleCount) return -1;
  const int64_t index = (range.displayStart + c) / SamplesPerIndex(store);
  for (int r = range.firstRun; r <= range.lastRun; ++r)
    if (index >= store.RunFirst(r) && index <= store.RunLast(r)) return r;
  return -1;
}

int64_t RunFirstChartSample(const TDataLogStore& store, const TSelectionRange& range, int run) {
  return int64_t(store.RunFirst(run)) * SamplesPerIndex(store) - range.displayStart;
}

int64_t RunLastChartSample(const TDataLogStore& store, const TSelectionRange& range, int run) {
  const int64_t k = SamplesPerIndex(store);
  return (int64_t(store.RunLast(run)) + 1) * k - 1 - range.displayStart;
}

int SessionOfSelection(const TDataLogStore& store, int selection) {
  return IsSessionSelection(selection) ? SelectedSession(selection) : store.RunSession(selection);
}

int AdjacentRun(const TDataLogStore& store, int selection, int direction) {
  if (IsSessionSelection(selection)) return -1;
  const int run = selection + direction;
  return run >= 0 && run < store.RunCount() ? run : -1;
}

int AdjacentSession(const TDataLogStore& store, int selection, int direction, bool allRuns) {
  const int session = SessionOfSelection(store, selection) + direction;
  if (session < 0 || session >= store.SessionCount()) return selection;
  if (allRuns) return SessionSelection(session);
  int first, count;
  SessionRuns(store, session, first, count);
  return count > 0 ? first : selection;
}

std::vector<int64_t> NextRunCursorMoves(const TDataLogStore& store, const TSelectionRange& range,
                                        int64_t cursor) {
  if (range.Empty()) return {};
  int run = RunAtChartSample(store, range, cursor);
  int next = -1;
  if (run >= 0) {
    next = run + 1;
  } else {
    // Before the data (or in a gap): the first run that starts after the cursor.
    for (int r = range.firstRun; r <= range.lastRun && next < 0; ++r)
      if (RunFirstChartSample(store, range, r) > cursor) next = r;
  }
  if (next < range.firstRun || next > range.lastRun) return {};
  return {RunLastChartSample(store, range, next), RunFirstChartSample(store, range, next)};
}

std::vector<int64_t> PreviousRunCursorMoves(const TDataLogStore& store,
                                            const TSelectionRange& range, int64_t cursor) {
  if (range.Empty()) return {};
  int run = RunAtChartSample(store, range, cursor);
  if (run < 0) {
    // Past the data or in a gap: the last run that starts before the cursor.
    for (int r = range.lastRun; r >= range.firstRun && run < 0; --r)
      if (RunFirstChartSample(store, range, r) < cursor) run = r;
    if (run < 0) return {};
    return {RunFirstChartSample(store, range, run)};
  }
  const int64_t start = RunFirstChartSample(store, range, run);
  if (cursor > start) return {start};
  if (run - 1 < range.firstRun) return {};
  return {RunFirstChartSample(store, range, run - 1)};
}

int ToggledSelection(const TDataLogStore& store, const TSelectionRange& range, int64_t cursor,
                     bool allRuns) {
  int run = RunAtChartSample(store, range, cursor);
  if (run < 0) run = range.Empty() ? 0 : range.firstRun;
  return allRuns ? SessionSelection(store.RunSession(run)) : run;
}

int64_t CursorKeyMove(int64_t cursor, int64_t sampleCount, bool right, bool large) {
  const int64_t step = large ? 100 : 10;
  const int64_t off = ((cursor % step) + step) % step;
  int64_t to;
  if (right)
    to = off ? cursor + (step - off) : cursor + step;
  else
    to = off ? cursor - off : cursor - step;
  return to >= 0 && to < sampleCount ? to : -1;
}

TCursorReadout CursorReadout(TRunDisplay& display, int64_t c) {
  TCursorReadout out;
  if (c >= 0) out.time = Format("%.2f", double(c) / 1000.0);
  TFileSlot& slot = display.MainSlot();
  if (!slot.store || c < 0 || c >= display.SampleCount()) return out;
  const TDataLogStore& store = *slot.store;
  TController& controller = *slot.controller;
  const TSelectionRange& range = display.Range();
  const int run = RunAtChartSample(store, range, c);
  if (run < 0) return out;
  out.inside = true;

  int first, count;
  SessionRuns(store, store.RunSession(run), first, count);
  out.run = Format("Run\r%d/%d", run - first + 1, count);
  out.previousRun = run > 0;
  out.nextRun = run + 1 < store.RunCount();
  const double date = store.RunStartDate(run);
  if (date != 0) {
    out.runStart = "  Run start time\r  " + FormatDateTime("hh:nn:ss", date);
  } else {
    const int64_t k = SamplesPerIndex(store);
    const double offset =
        double(int64_t(store.RunFirst(run)) * k - int64_t(store.RunFirst(first)) * k) / 1000.0;
    out.runStart = "  Run start time\r  + " + Format("%.1f s", offset);
  }
  out.runLength = "  Run length\r   " + Format("%.1f s", double(store.RunDuration(run)) / 1000.0);

  // The sample under the cursor, as the controller reads it.
  TLogSample sample;
  const int64_t position = range.displayStart + c;
  store.GetSample(store.IsImage() ? position : position / SamplesPerIndex(store), sample);
  TSampleFeed feed(controller);
  feed.Reset();
  feed.Take(sample, c);
  auto read = [&](int code, int unit) { return TValueReader(controller, code, unit).Read(sample); };

  const int mm = Decimals(controller, kParamFrontTravel, kUnitMm);
  const int pc = Decimals(controller, kParamFrontTravel, kUnitPercent);
  const int rmm = Decimals(controller, kParamRearTravel, kUnitMm);
  const int rpc = Decimals(controller, kParamRearTravel, kUnitPercent);
  out.frontTravel = Fixed(read(kParamFrontTravel, kUnitMm), mm, " mm") + ", " +
                    Fixed(read(kParamFrontTravel, kUnitPercent), pc, " %");
  out.rearTravel = Fixed(read(kParamRearTravel, kUnitMm), rmm, " mm") + ", " +
                   Fixed(read(kParamRearTravel, kUnitPercent), rpc, " %");

  const int travelPeriod = display.TravelPeriodMs();
  if (travelPeriod >= 1) {
    const size_t j = size_t(c / travelPeriod);
    const int fd = Decimals(controller, kParamFrontSuspVelocity, kUnitMmps);
    const int rd = Decimals(controller, kParamRearSuspVelocity, kUnitMmps);
    if (j < display.FrontVelocity().size())
      out.frontVelocity = Fixed(display.FrontVelocity()[j] * 1000.0, fd, " mm/s");
    if (j < display.RearVelocity().size())
      out.rearVelocity = Fixed(display.RearVelocity()[j] * 1000.0, rd, " mm/s");
  }
  const size_t s = size_t(c / 10);
  if (s < display.FrontSpeed().size())
    out.frontSpeed =
        Fixed(display.FrontSpeed()[s], Decimals(controller, kParamFrontSpeed, kUnitKmh), " km/h");
  if (s < display.RearSpeed().size())
    out.rearSpeed =
        Fixed(display.RearSpeed()[s], Decimals(controller, kParamRearSpeed, kUnitKmh), " km/h");
  out.frontAccel =
      Fixed(read(kParamFrontAccel, kUnitG), Decimals(controller, kParamFrontAccel, kUnitG), " g");
  out.verticalAccel = Fixed(read(kParamVerticalAccel, kUnitG),
                            Decimals(controller, kParamVerticalAccel, kUnitG), " g");
  out.lateralAccel = Fixed(read(kParamLateralAccel, kUnitG),
                           Decimals(controller, kParamLateralAccel, kUnitG), " g");
  return out;
}

}  // namespace qvl
