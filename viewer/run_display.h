// The viewer's analysis core: turns the samples of the displayed selection (one run, or every
// run of a session) into the curves of the chart's strips, derives wheel speed and suspension
// velocity, detects bottoming and wheel lock, and prepares the highlights, time marks, labels and
// event lists the main window shows. Overlay files are drawn into the same strips from their own
// controller and store. Nothing here draws: the results are plain data for a chart to take.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "viewer/display_entry.h"
#include "viewer/event_detector.h"
#include "viewer/viewer_settings.h"

namespace qvl {

// --- one file slot ---------------------------------------------------------------------------

// A loaded log file: its own controller and store, the displayed selection and the path. Slot 0
// of the viewer is the main file, further slots are overlays.
struct TFileSlot {
  TFileSlot();
  std::unique_ptr<TController> controller;
  std::unique_ptr<TDataLogStore> store;
  TLogFileInfo info;
  int selection = 0;  // run index, or the complement of a session index
  std::string path;
};

// Reads a log file into a slot (a new store; the configuration into the slot's controller). The
// viewer is never connected, so the configuration read from the file is marked in sync: it is
// the logger's own configuration for these samples. `progress` follows the data section's read
// (ELoadStopped when it asks to stop).
void OpenLogFile(TFileSlot& slot, const std::string& path, bool primary = true,
                 const TLoadProgress& progress = {});
// Reading a file is the smaller part of loading it for display (for a flash image about a tenth):
// the walk that draws it decodes every sample. Progress bars give the read this share.
constexpr double kLoadReadShare = 0.1;

// The overlay manager's line for a slot: the file name without its folder, followed by
// ": Session %d/%d, run %d/%d" when the file has at least two sessions, else by ": Run %d/%d"
// when it has at least two runs (the displayed run, all numbers from 1).
std::string OverlayListText(const TFileSlot& slot);

// --- sample feed -------------------------------------------------------------------------------

// Hands samples to a controller: the raw value of every channel, and the wheel speed computation
// with each wheel's trigger count as its pulse counter and its trigger value as the time of its
// last pulse (100 µs ticks). The timer of each wheel is its last pulse time advanced by ten times
// the milliseconds since the sample in which its count last changed, so that a wheel reads 0 once
// 3.2767 s pass without a pulse.
class TSampleFeed {
 public:
  explicit TSampleFeed(TController& controller) : controller_(controller) {}
  // Before the first sample of a selection: the controller's derived state and the wheels'
  // reference samples are forgotten, and both wheels read 0 until their pulses give a speed.
  void Reset();
  // The controller takes `sample`, which lies `timeMs` ms into the selection.
  void Take(const TLogSample& sample, int64_t timeMs);
  // Limits the channels handed over after the first sample to those the store can fill (the
  // others keep the "not logged" value of the first sample). All channels without a call.
  void SetLoggedChannels(const TDataLogStore& store);
  // With `later`, Take hands over only the wheel pulses and the inputs wait for HandOverInputs
  // (for walks in which nothing asks the controller for an input's value).
  void SetInputsLater(bool later) { later_ = later; }
  // Hands every input of `sample` over.
  void HandOverInputs(const TLogSample& sample);

 private:
  struct TWheel {
    bool known = false;
    uint8_t count = 0;
    uint16_t pulseTime = 0;
    int64_t changedAt = 0;
  };
  TController& controller_;
  TWheel wheels_[2];
  bool first_ = true;
  bool later_ = false;
  std::array<int16_t, kSampleChannelCount> last_{};  // values handed over last
  std::vector<int> logged_;                          // empty: every channel
};

// --- helpers shared by the histogram, export and overlay code ---------------------------------

// The period in ms of a display entry's channel in a file: accelerations the acceleration period,
// wheel speeds 10, travel and suspension velocity the suspension period, heading, elevation and
// bank the magnetometer period (configuration periods in µs divided by 1000), a custom channel the
// store's period of its input; 0 (not logged) for anything else.
int ChannelPeriod(const TDisplayEntry& entry, const TController& controller,
                  const TDataLogStore& store);
// The configuration's suspension period in ms (the travel period); under 1 means no velocity.
int TravelPeriod(const TController& controller);
// Decimals a channel's values deserve in a unit, from its sensor's resolution.
int DisplayDecimals(const TDisplayEntry& entry, TController& controller);
// The first-order exponential filter of a curve with factor k (single precision):
// y[0] = x[0]; s = k x[0]; s = s (1 - 1/k) + x[i], y[i] = s / k.
void SmoothCurve(std::vector<float>& values, int k);
// round(window / period), the smoothing factor of a curve (0 for a period of 0).
int SmoothingFactor(int window, int period);

// The samples of a selection: its first and last run, the store positions they span and the
// number of 1 ms chart samples.
struct TSelectionRange {
  int firstRun = 0, lastRun = -1;
  int session = 0;
  int64_t displayStart = 0;  // store position of chart sample 0
  int64_t sampleCount = 0;   // n
  bool Empty() const { return lastRun < firstRun; }
};
TSelectionRange SelectionRange(const TDataLogStore& store, int selection);

// --- chart content -------------------------------------------------------------------------------

// A curve's values, shared by the run display and the chart (and any window) that shows them. A
// series is never changed once it is shared: smoothing or a refill makes a new one, so that
// every holder keeps the values it was given.
using TCurveValues = std::shared_ptr<const std::vector<float>>;

struct TCurveData {
  TCurveValues series;  // null: no values
  int period = 0;       // ms between two values; 0: not logged
  uint32_t colour = 0;
  // The values; an empty series when there are none.
  const std::vector<float>& Values() const;
};

struct THighlightSpan {
  int first = 0, last = 0;  // value indices of the strip's main curve
  uint32_t colour = 0, second = 0;
  bool operator==(const THighlightSpan&) const = default;
};

struct TStripView {
  std::string title;
  int decimals = 0;
  double rangeMin = 0, rangeMax = 1;  // the channel's display range
  bool inverted = false;
  // Curves of every file slot: slot k's curves at k * curvesPerSlot + curve.
  int curvesPerSlot = 1;
  std::vector<TCurveData> curves;
  std::vector<THighlightSpan> highlights;
  TCurveData& Curve(int slot, int curve) { return curves[size_t(slot * curvesPerSlot + curve)]; }
  const TCurveData& Curve(int slot, int curve) const {
    return curves[size_t(slot * curvesPerSlot + curve)];
  }
};

struct TTimeMarkView {
  double seconds = 0;
  uint32_t colour = 0xFF0000;
  std::string label;  // "Time mark #%d\r%s"
};

struct TChartView {
  std::vector<TStripView> strips;
  std::vector<TTimeMarkView> marks;
  int64_t sampleCount = 0;  // chart samples (1 ms each) across the plot width
};

// Highlight colours: events shown after a whole display, events shown after a strip's channel was
// chosen, and flagged events in both cases.
constexpr uint32_t kEventColour = 4227327, kEventSecond = 16448;
constexpr uint32_t kRefillEventColour = 57568;
constexpr uint32_t kFlaggedColour = 255, kFlaggedSecond = 80;
constexpr uint32_t kTimeMarkColour = 0xFF0000;

enum class TEventKind {
  FrontBottoming = 0,
  RearBottoming = 1,
  FrontWheelLock = 2,
  RearWheelLock = 3
};

// One line of an event memo: the start time with 2 decimals; flagged lines are highlighted.
struct TMemoLine {
  std::string text;
  bool flagged = false;
};

struct TDisplayLabels {
  std::string session;       // "Session\r%d/%d"
  std::string sessionStart;  // "  Session start\r  " + date and time, or "Unknown"
  bool previousSession = false, nextSession = false;
  std::string frontBottoming, rearBottoming;  // "Front (%d times)", "Rear (%d times)"
  std::string frontWheelLock, rearWheelLock;
  std::vector<TMemoLine> memos[4];  // by TEventKind
};

// --- the run display -----------------------------------------------------------------------------

class TRunDisplay {
 public:
  TRunDisplay();

  // File slots; slot 0 (the main file) always exists.
  int SlotCount() const { return int(slots_.size()); }
  TFileSlot& Slot(int k) { return *slots_.at(size_t(k)); }
  const TFileSlot& Slot(int k) const { return *slots_.at(size_t(k)); }
  TFileSlot& MainSlot() { return Slot(0); }
  const TFileSlot& MainSlot() const { return Slot(0); }
  // Appends an overlay slot and returns its index; the strips get curves for it.
  int AddSlot(std::unique_ptr<TFileSlot> slot);
  void RemoveSlot(int k);

  // Replaces the strip list and rebuilds the chart's strips (titles, decimals, ranges, one set
  // of empty curves per slot). Curves are filled by the display calls.
  void SetStrips(const TStripList& strips);
  const TStripList& Strips() const { return strips_; }
  const TDisplayArray& FlatList() const { return flat_; }

  void SetSettings(const TAnalysisSettings& settings);
  const TAnalysisSettings& Settings() const { return settings_; }

  // Displays a selection of the main file: every curve of slot 0, the derived series, the four
  // event lists, highlights, time marks and labels. `progress` follows the walk in chart samples;
  // when it asks to stop, ELoadStopped leaves slot 0's curves empty and the selection range
  // empty.
  void DisplaySelection(int selection, const TLoadProgress& progress = {});
  // Fills overlay slot k's curves from its own controller and store (its run's first sample at
  // chart time 0).
  void DisplayOverlay(int k, const TLoadProgress& progress = {});
  // Refills curve `curve` of strip `strip` for every slot (after its smoothing changed, a channel
  // was superposed or chosen) by walking each slot's selection as its display does, so the curve
  // equals the one a whole display gives. With `setRange`, the strip also gets its channel's
  // display range and its event highlights in the colours of a chosen channel.
  void RefillCurve(int strip, int curve, bool setRange);

  // --- results ---
  const TChartView& Chart() const { return chart_; }
  int Selection() const { return selection_; }
  const TSelectionRange& Range() const { return range_; }
  int64_t SampleCount() const { return range_.sampleCount; }
  int64_t DisplayStart() const { return range_.displayStart; }
  int TravelPeriodMs() const { return travelPeriod_; }
  const std::vector<float>& FrontSpeed() const { return speed_[0]; }  // km/h, one per 10 ms
  const std::vector<float>& RearSpeed() const { return speed_[1]; }
  const std::vector<float>& FrontVelocity() const { return velocity_[0]; }  // m/s per travel step
  const std::vector<float>& RearVelocity() const { return velocity_[1]; }
  const TEventArray& Events(TEventKind kind) const { return events_[int(kind)]; }
  const TDisplayLabels& Labels() const { return labels_; }
  // The event list that belongs to a strip's main channel (wheel lock for the speeds, bottoming
  // for the travels), or nullptr.
  const TEventArray* EventsOfChannel(int channel) const;

 private:
  struct TCurveJob;
  struct TAnalysis;
  void Walk(TFileSlot& slot, const TSelectionRange& range, std::vector<TCurveJob>& jobs,
            TAnalysis* analysis, const TLoadProgress& progress = {});
  void FinishCurve(TCurveJob& job);
  void FillHighlights(int strip, bool chosenChannel);
  void FillLabels();
  void FillTimeMarks();
  void ClearSlotCurves(int k);

  std::vector<std::unique_ptr<TFileSlot>> slots_;
  TStripList strips_;
  TDisplayArray flat_;
  TAnalysisSettings settings_;
  TChartView chart_;
  int selection_ = 0;
  TSelectionRange range_;
  int travelPeriod_ = 0;
  std::vector<float> speed_[2];
  std::vector<float> velocity_[2];
  TEventArray events_[4];
  TDisplayLabels labels_;
};

}  // namespace qvl
