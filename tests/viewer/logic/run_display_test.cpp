#include "viewer/run_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "core/device/ecu_types.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"
#include "sim/flash_image_encoder.h"
#include "tests/viewer/logic/viewer_test_util.h"

namespace qvl {
namespace {

using testing::MakeController;
using testing::MakeStore;
using testing::StripOf;
using testing::Ticks;

// Front travel counts at tick t: a slow saw from 0 to 1999 (0 to 99.95 % of 0.2 m).
int16_t SawRaw(int32_t t) {
  return int16_t(t % 2000);
}

struct Display {
  TRunDisplay display;
  void Load(std::unique_ptr<TController> c, std::unique_ptr<TDataLogStore> s) {
    display.MainSlot().controller = std::move(c);
    display.MainSlot().store = std::move(s);
  }
  const TCurveData& Curve(int strip, int curve = 0, int slot = 0) const {
    return display.Chart().strips[size_t(strip)].Curve(slot, curve);
  }
};

TEST(RunDisplay, CurvesTakeOneValuePerPeriod) {
  Display d;
  d.Load(MakeController(2000, 5000),
         MakeStore(Ticks(0, 20000), [](int32_t t, TLogRecord& r) { r.values[0] = SawRaw(t); }));
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitPercent),
                       StripOf(kParamFrontTravel, kUnitMm), StripOf(kParamVerticalAccel, kUnitG),
                       StripOf(kParamFrontSpeed, kUnitKmh), StripOf(kParamHeading, 19),
                       StripOf(kParamCustom, 64)});
  d.display.DisplaySelection(0);
  EXPECT_EQ(d.display.SampleCount(), 20000);
  EXPECT_EQ(d.display.TravelPeriodMs(), 2);
  const TCurveData& percent = d.Curve(0);
  EXPECT_EQ(percent.period, 2);
  ASSERT_EQ(percent.Values().size(), 10000u);
  EXPECT_FLOAT_EQ(percent.Values()[0], 0);
  EXPECT_FLOAT_EQ(percent.Values()[10], 1.0f);        // t = 20: 20 counts of 2000
  EXPECT_FLOAT_EQ(d.Curve(1).Values()[500], 100.0f);  // t = 1000: 1000 counts = 100 mm
  EXPECT_EQ(d.Curve(2).period, 5);
  EXPECT_EQ(d.Curve(2).Values().size(), 4000u);
  EXPECT_EQ(d.Curve(3).period, 10);
  EXPECT_EQ(d.Curve(3).Values().size(), 2000u);
  EXPECT_EQ(d.Curve(4).period, 20);  // the magnetometer's 20 ms; heading reads 0
  EXPECT_EQ(d.Curve(5).period, 0);   // a custom channel the file does not have
  EXPECT_TRUE(d.Curve(5).Values().empty());
  EXPECT_EQ(d.display.Chart().sampleCount, 20000);
  // Colours of the main file's curves; titles and decimals of the strips.
  EXPECT_EQ(percent.colour, 0x00FFFFu);
  EXPECT_EQ(d.display.Chart().strips[1].title, "Front travel (mm)");
  EXPECT_EQ(d.display.Chart().strips[1].decimals, 2);  // 0.1 mm per count
  EXPECT_EQ(d.display.Chart().strips[3].decimals, 1);  // no sensor: the unit's decimals
  EXPECT_EQ(d.display.Chart().strips[2].decimals, 2);
  EXPECT_EQ(d.display.Chart().strips[5].title, "Ch.0 ()");
}

// The walk reports its chart samples up to the whole selection; a stop leaves nothing shown.
TEST(RunDisplay, DisplayReportsProgressAndAStopLeavesItEmpty) {
  Display d;
  d.Load(MakeController(),
         MakeStore(Ticks(0, 200000), [](int32_t t, TLogRecord& r) { r.values[0] = SawRaw(t); }));
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitPercent)});
  std::vector<uint64_t> done;
  d.display.DisplaySelection(0, [&](uint64_t n, uint64_t total) {
    EXPECT_EQ(total, 200000u);
    done.push_back(n);
    return true;
  });
  ASSERT_GE(done.size(), 3u);
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end(), std::less_equal<uint64_t>()));
  EXPECT_EQ(done.back(), 200000u);

  EXPECT_THROW(d.display.DisplaySelection(0, [](uint64_t, uint64_t) { return false; }),
               ELoadStopped);
  EXPECT_TRUE(d.Curve(0).Values().empty());
  EXPECT_EQ(d.display.SampleCount(), 0);
}

TEST(RunDisplay, ValuesThatAreNotNumbersBecomeZero) {
  Display d;
  auto c = MakeController();
  c->SetConfigInSync(false);  // travel then reads as not-a-number
  d.Load(std::move(c),
         MakeStore(Ticks(0, 12000), [](int32_t t, TLogRecord& r) { r.values[0] = SawRaw(t); }));
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitPercent)});
  d.display.DisplaySelection(0);
  ASSERT_EQ(d.Curve(0).Values().size(), 6000u);
  for (float v : d.Curve(0).Values()) ASSERT_EQ(v, 0.0f);
  EXPECT_TRUE(d.display.Events(TEventKind::FrontBottoming).empty());
}

TEST(RunDisplay, SmoothingWithTheStripsWindow) {
  Display plain, smooth;
  for (Display* d : {&plain, &smooth})
    d->Load(MakeController(), MakeStore(Ticks(0, 12000), [](int32_t t, TLogRecord& r) {
              r.values[0] = int16_t((t / 100) % 2 ? 1500 : 100);  // a square wave
            }));
  plain.display.SetStrips({StripOf(kParamFrontTravel, kUnitMm)});
  TStrip s = StripOf(kParamFrontTravel, kUnitMm, 10);  // 10 ms over a 2 ms period: k = 5
  s.superposed.push_back(StripOf(kParamRearTravel, kUnitMm).main);
  smooth.display.SetStrips({s});
  plain.display.DisplaySelection(0);
  smooth.display.DisplaySelection(0);
  const auto& x = plain.Curve(0).Values();
  const auto& y = smooth.Curve(0).Values();
  ASSERT_EQ(x.size(), y.size());
  double ref = x[0];
  for (size_t i = 0; i < x.size(); ++i) {
    if (i > 0) ref += (x[i] - ref) / 5;
    ASSERT_NEAR(y[i], ref, 1e-3) << i;
  }
  EXPECT_NE(x, y);
  // Superposed curves are smoothed with the strip's window too (all zero here), and take the
  // strip's second curve colour.
  EXPECT_EQ(smooth.Curve(0, 1).Values().size(), x.size());
  EXPECT_EQ(smooth.Curve(0, 1).colour, 0x008000u);
  std::vector<float> one = {3, 3, 3};
  SmoothCurve(one, 4);
  EXPECT_EQ(one, (std::vector<float>{3, 3, 3}));
  EXPECT_EQ(SmoothingFactor(10, 4), 3);  // 2.5 rounds up
  EXPECT_EQ(SmoothingFactor(10, 0), 0);
}

// Front wheel pulses every 50 ms from t = 1000 to t = 6000 (count + 1, pulse time + 500 ticks of
// 100 µs): 2.5 turns per second with 8 pulses per turn.
void Pulses(int32_t t, TLogRecord& r) {
  int k = t < 1000 ? -1 : std::min((t - 1000) / 50, 100);
  r.frontCount = uint8_t(k + 1);
  r.frontValue = int16_t(uint16_t(k < 0 ? 0 : 5000 + 500 * k));
}

TEST(RunDisplay, WheelSpeedFromTriggersAndStandstill) {
  Display d;
  d.Load(MakeController(), MakeStore(Ticks(0, 12000), Pulses));
  d.display.SetStrips({StripOf(kParamFrontSpeed, kUnitKmh), StripOf(kParamRearSpeed, kUnitKmh)});
  d.display.DisplaySelection(0);
  const auto& speed = d.display.FrontSpeed();
  ASSERT_EQ(speed.size(), 1200u);
  const float expected = 2.5f * 2.2343059f * 3.6f;
  EXPECT_EQ(speed[99], 0.0f);
  EXPECT_NEAR(speed[110], expected, 1e-3);
  EXPECT_NEAR(speed[600], expected, 1e-3);
  // The last pulse is at t = 6000: the speed holds for 3.2767 s, then the wheel stands.
  EXPECT_NEAR(speed[927], expected, 1e-3);
  EXPECT_EQ(speed[928], 0.0f);
  EXPECT_EQ(speed.back(), 0.0f);
  EXPECT_EQ(d.Curve(0).Values(), speed);  // the curve is the same series
  for (float v : d.display.RearSpeed()) ASSERT_EQ(v, 0.0f);
  // The rear never turns while the front rolls above 10 km/h: rear wheel lock from step 105 until
  // the front stands.
  const TEventArray& rear = d.display.Events(TEventKind::RearWheelLock);
  ASSERT_EQ(rear.size(), 1u);
  EXPECT_EQ(int(rear[0].startIndex), 105);
  EXPECT_EQ(int(rear[0].endIndex), 927);
  EXPECT_NEAR(double(rear[0].duration), 9.28 - 1.05, 1e-12);
  EXPECT_EQ(int(rear[0].flag), 0);
  // The front's fall to 0 within one step is a deceleration: flagged, 100 ms earlier, over once
  // 200 ms have passed.
  const TEventArray& front = d.display.Events(TEventKind::FrontWheelLock);
  ASSERT_EQ(front.size(), 1u);
  EXPECT_EQ(int(front[0].startIndex), 918);
  EXPECT_EQ(int(front[0].endIndex), 947);
  EXPECT_EQ(int(front[0].flag), 1);
}

TEST(RunDisplay, WheelLockFromSpeedsAndHighlights) {
  // Both wheels turn at 2.5 turns per second (20.1 km/h); from t = 5000 on the front stops
  // pulsing while the rear goes on, and after 3.28 s without a pulse the front reads 0.
  auto both = [](int32_t t, TLogRecord& r) {
    int k = std::min(t / 50, 239);
    r.rearCount = uint8_t(k);
    r.rearValue = int16_t(uint16_t(500 * k));
    int f = std::min(t / 50, 100);
    r.frontCount = uint8_t(f);
    r.frontValue = int16_t(uint16_t(500 * f));
  };
  Display d;
  d.Load(MakeController(), MakeStore(Ticks(0, 12000), both));
  d.display.SetStrips({StripOf(kParamFrontSpeed, kUnitKmh), StripOf(kParamRearSpeed, kUnitKmh)});
  d.display.DisplaySelection(0);
  const TEventArray& lock = d.display.Events(TEventKind::FrontWheelLock);
  ASSERT_EQ(lock.size(), 1u);
  // The front reads 0 from t = 5000 + 3277 on (step 828); the drop of 20 km/h within one step is a
  // deceleration of 100 km/h/s: flagged, started 100 ms earlier.
  EXPECT_EQ(int(lock[0].flag), 1);
  EXPECT_EQ(int(lock[0].startIndex), 818);
  EXPECT_DOUBLE_EQ(double(lock[0].start), 8.18);
  // The rear stops pulsing at t = 11950 and still reads 20 km/h: the event is open at the end.
  EXPECT_EQ(int(lock[0].endIndex), 1199);
  EXPECT_DOUBLE_EQ(double(lock[0].duration), 11.999 - 8.18);
  const auto& h = d.display.Chart().strips[0].highlights;
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0], (THighlightSpan{818, 1199, kFlaggedColour, kFlaggedSecond}));
  EXPECT_TRUE(d.display.Chart().strips[1].highlights.empty());
  EXPECT_EQ(d.display.Labels().frontWheelLock, "Front (1 times)");
  EXPECT_EQ(d.display.Labels().rearWheelLock, "Rear (0 times)");
  ASSERT_EQ(d.display.Labels().memos[int(TEventKind::FrontWheelLock)].size(), 1u);
  EXPECT_EQ(d.display.Labels().memos[int(TEventKind::FrontWheelLock)][0].text, "8.18");
  EXPECT_TRUE(d.display.Labels().memos[int(TEventKind::FrontWheelLock)][0].flagged);
}

TEST(RunDisplay, BottomingPerTravelStepAndVelocity) {
  // Front travel: a ramp of one count per ms (raw t + 1) to 1901 (95 %), held, then 0 from
  // t = 3000 and up again from t = 4000 to 1701 (85 %) at the end. Rear travel (800 counts =
  // 100 %) stays at 400.
  auto travel = [](int32_t t, TLogRecord& r) {
    int32_t raw = t < 3000 ? std::min(t + 1, 1901) : t < 4000 ? 0 : std::min(t - 3999, 1701);
    r.values[0] = int16_t(raw);
    r.values[1] = 400;
  };
  Display d;
  d.Load(MakeController(2000), MakeStore(Ticks(0, 11000), travel));
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitPercent),
                       StripOf(kParamRearTravel, kUnitPercent),
                       StripOf(kParamFrontSuspVelocity, kUnitMmps)});
  TAnalysisSettings s;
  s.invertedSuspension = 1;
  d.display.SetSettings(s);
  d.display.DisplaySelection(0);
  const TEventArray& b = d.display.Events(TEventKind::FrontBottoming);
  ASSERT_EQ(b.size(), 2u);
  // Above 80 % (1600 counts) first at t = 1600 (step 800), flagged above 90 %; below 70 % only
  // at t = 3000 (step 1500).
  EXPECT_EQ(int(b[0].startIndex), 800);
  EXPECT_DOUBLE_EQ(double(b[0].start), 1.6);
  EXPECT_EQ(int(b[0].flag), 1);
  EXPECT_EQ(int(b[0].endIndex), 1499);
  EXPECT_DOUBLE_EQ(double(b[0].duration), 3.0 - 1.6);
  // The second is still open at the end: closed at the last sample, not flagged.
  EXPECT_EQ(int(b[1].startIndex), 2800);
  EXPECT_EQ(int(b[1].endIndex), 5499);
  EXPECT_DOUBLE_EQ(double(b[1].duration), 10.999 - 5.6);
  EXPECT_EQ(int(b[1].flag), 0);
  EXPECT_TRUE(d.display.Events(TEventKind::RearBottoming).empty());
  const auto& h = d.display.Chart().strips[0].highlights;
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[1], (THighlightSpan{2800, 5499, kEventColour, kEventSecond}));
  EXPECT_TRUE(d.display.Chart().strips[0].inverted);
  // After the walk the controller holds the last sample's inputs.
  EXPECT_EQ(d.display.MainSlot().controller->RawValue(0), 1701);
  EXPECT_EQ(d.display.MainSlot().controller->RawValue(1), 400);
  EXPECT_FALSE(d.display.Chart().strips[2].inverted);

  // Velocity by centred difference over two travel steps: 2 counts (0.2 mm) per 2 ms step.
  const auto& v = d.display.FrontVelocity();
  ASSERT_EQ(v.size(), 5500u);
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[1], 0.0f);  // needs step 3
  EXPECT_NEAR(v[2], 0.1f, 1e-5);
  EXPECT_NEAR(v[500], 0.1f, 1e-5);
  EXPECT_NEAR(v[1200], 0.0f, 1e-6);  // held
  EXPECT_EQ(v.back(), 0.0f);
  EXPECT_EQ(d.display.RearVelocity().size(), 5500u);
  // The velocity channel's curve comes from the controller: one backward step per value.
  const auto& curve = d.Curve(2).Values();
  EXPECT_EQ(curve[0], 0.0f);
  EXPECT_NEAR(curve[100], 100.0f, 0.01);  // mm/s
}

TEST(RunDisplay, TravelPeriodUnderOneMillisecond) {
  Display d;
  d.Load(MakeController(500),
         MakeStore(Ticks(0, 12000), [](int32_t t, TLogRecord& r) { r.values[0] = SawRaw(t); }));
  d.display.SetStrips(
      {StripOf(kParamFrontTravel, kUnitPercent), StripOf(kParamFrontSpeed, kUnitKmh)});
  d.display.DisplaySelection(0);
  EXPECT_EQ(d.display.TravelPeriodMs(), 0);
  EXPECT_TRUE(d.display.FrontVelocity().empty());
  EXPECT_TRUE(d.display.RearVelocity().empty());
  EXPECT_TRUE(d.display.Events(TEventKind::FrontBottoming).empty());
  EXPECT_TRUE(d.Curve(0).Values().empty());  // travel is not logged
  EXPECT_EQ(d.Curve(1).Values().size(), 1200u);
}

TEST(RunDisplay, SessionsRunsAndLabels) {
  // Three runs of 11 s: the first two 5 s apart (one session), the third 20 minutes later (a
  // second session). Record values carry the run number.
  std::vector<int32_t> ticks = Ticks(0, 11000);
  for (int32_t t : Ticks(16000, 11000)) ticks.push_back(t);
  for (int32_t t : Ticks(1300000, 11000)) ticks.push_back(t);
  auto make = [](int32_t t, TLogRecord& r) {
    r.values[0] = int16_t(t < 16000 ? 100 : t < 1300000 ? 200 : 300);
  };
  Display d;
  d.Load(MakeController(), MakeStore(ticks, make));
  ASSERT_EQ(d.display.MainSlot().store->RunCount(), 3);
  ASSERT_EQ(d.display.MainSlot().store->SessionCount(), 2);
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitMm)});

  d.display.DisplaySelection(SessionSelection(0));
  EXPECT_EQ(d.display.SampleCount(), 22000);  // records of both runs
  ASSERT_EQ(d.Curve(0).Values().size(), 11000u);
  EXPECT_FLOAT_EQ(d.Curve(0).Values()[0], 10.0f);
  EXPECT_FLOAT_EQ(d.Curve(0).Values()[10999], 20.0f);
  const TDisplayLabels& l = d.display.Labels();
  EXPECT_EQ(l.session, "Session\r1/2");
  EXPECT_EQ(l.sessionStart, "  Session start\r  Unknown");
  EXPECT_FALSE(l.previousSession);
  EXPECT_TRUE(l.nextSession);
  EXPECT_EQ(l.frontBottoming, "Front (0 times)");

  // The overlay manager's line for this file.
  TFileSlot& slot = d.display.MainSlot();
  slot.path = "/rides/day one.QVLog";
  slot.selection = 1;
  EXPECT_EQ(OverlayListText(slot), "day one.QVLog: Session 1/2, run 2/2");
  slot.selection = 2;
  EXPECT_EQ(OverlayListText(slot), "day one.QVLog: Session 2/2, run 1/1");

  d.display.DisplaySelection(2);
  EXPECT_EQ(d.display.SampleCount(), 11000);
  EXPECT_EQ(d.display.DisplayStart(), 22000);
  EXPECT_FLOAT_EQ(d.Curve(0).Values()[0], 30.0f);
  EXPECT_EQ(d.display.Labels().session, "Session\r2/2");
  EXPECT_TRUE(d.display.Labels().previousSession);
  EXPECT_FALSE(d.display.Labels().nextSession);

  // Runs that do not exist show nothing.
  d.display.DisplaySelection(7);
  EXPECT_EQ(d.display.SampleCount(), 0);
  EXPECT_TRUE(d.Curve(0).Values().empty());
  d.display.DisplaySelection(SessionSelection(5));
  EXPECT_EQ(d.display.SampleCount(), 0);
}

TEST(RunDisplay, RecordPeriodScalesPositions) {
  // Records 10 ms apart (Period 10): 1200 records are 12 000 chart samples; the 2 ms travel
  // curve repeats each record five times.
  Display d;
  d.Load(MakeController(),
         MakeStore(
             Ticks(0, 1200), [](int32_t t, TLogRecord& r) { r.values[0] = int16_t(t); }, 10));
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitMm)});
  d.display.DisplaySelection(0);
  EXPECT_EQ(d.display.SampleCount(), 12000);
  const auto& v = d.Curve(0).Values();
  ASSERT_EQ(v.size(), 6000u);
  EXPECT_FLOAT_EQ(v[4], 0.0f);
  EXPECT_FLOAT_EQ(v[5], 0.1f);
  EXPECT_FLOAT_EQ(v[5999], 119.9f);
}

// A download file of the simulated logger's flash encoding: one run of 12 s with suspension at
// 1 kHz and a time mark at 5 s.
std::string WriteFlashFile(const std::string& name) {
  TController controller;
  TConfigBlock b = controller.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  controller.SetConfigBlock(b);
  TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  uint32_t start = enc.BeginSession(1000, 700000000u);
  enc.AdvanceTo(start + 5000, [&](int g, uint32_t tick, uint16_t* values, int n) {
    for (int k = 0; k < n; ++k)
      values[k] =
          groups[size_t(g)].channels[size_t(k)] <= 1 ? uint16_t(2000 + (tick - start) / 10) : 2048;
  });
  enc.TimeMark(start + 5000);
  enc.AdvanceTo(start + 12000, [&](int g, uint32_t tick, uint16_t* values, int n) {
    for (int k = 0; k < n; ++k)
      values[k] =
          groups[size_t(g)].channels[size_t(k)] <= 1 ? uint16_t(2000 + (tick - start) / 10) : 2048;
  });
  enc.Finish();
  auto bytes = sim::BuildDownloadFile(controller, enc.Image(), EncodeDate(2024, 5, 1));
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  TFileStream f(path, TFileStream::Create);
  f.WriteBuffer(bytes.data(), bytes.size());
  return path;
}

// Refills every curve of every strip in turn and wants, in every file slot, the very curve the
// whole display gave it.
void ExpectRefillsEqualTheDisplay(TRunDisplay& display, const std::string& what) {
  std::vector<std::vector<TCurveData>> full;
  for (const TStripView& v : display.Chart().strips) full.push_back(v.curves);
  for (size_t s = 0; s < full.size(); ++s)
    for (int c = 0; c < display.Strips()[s].CurveCount(); ++c) {
      display.RefillCurve(int(s), c, c == 0);
      const TStripView& v = display.Chart().strips[s];
      for (int k = 0; k < display.SlotCount(); ++k) {
        const TCurveData& before = full[s][size_t(k * v.curvesPerSlot + c)];
        EXPECT_EQ(v.Curve(k, c).period, before.period) << what << " strip " << s;
        EXPECT_EQ(v.Curve(k, c).Values(), before.Values())
            << what << " strip " << s << " curve " << c << " slot " << k;
      }
    }
}

// Two runs of 12 s, 3 s apart, of records `period` ms apart; every value changes from record to
// record, the front wheel turns.
std::unique_ptr<TDataLogStore> RideRecords(int32_t period) {
  const int32_t length = 12000 / period, gap = 3000 / period;
  std::vector<int32_t> ticks = Ticks(0, length);
  for (int32_t t : Ticks(length + gap, length)) ticks.push_back(t);
  return MakeStore(
      ticks,
      [period](int32_t t, TLogRecord& r) {
        r.values[0] = int16_t((t * 13) % 2000);
        r.values[1] = int16_t((t * 7) % 800);
        r.values[2] = int16_t(300 + (t * 11) % 400);
        r.values[3] = int16_t(600 - (t * 5) % 300);
        r.values[4] = int16_t(400 + t % 50);
        const int k = t * period / 50;  // a pulse every 50 ms
        r.frontCount = uint8_t(k);
        r.frontValue = int16_t(uint16_t(500 * k));
      },
      period);
}

TEST(RunDisplay, RefillTakesTheSamplesOfTheWholeDisplay) {
  TStrip travel = StripOf(kParamFrontTravel, kUnitPercent, 20);
  travel.superposed.push_back(StripOf(kParamRearTravel, kUnitMm).main);
  const TStripList strips = {
      travel, StripOf(kParamXAccel, kUnitG), StripOf(kParamFrontSpeed, kUnitKmh, 30),
      StripOf(kParamFrontSuspVelocity, kUnitMmps), StripOf(kParamFrontSuspVelocity, kUnitCmps)};
  for (int32_t period : {1, 4, 10}) {
    // Both runs of the session in the main file; the second run of an overlay file.
    Display d;
    d.Load(MakeController(), RideRecords(period));
    auto overlay = std::make_unique<TFileSlot>();
    overlay->controller = MakeController(4000);
    overlay->store = RideRecords(period);
    overlay->selection = 1;
    d.display.AddSlot(std::move(overlay));
    d.display.SetStrips(strips);
    d.display.DisplaySelection(SessionSelection(0));
    d.display.DisplayOverlay(1);
    ASSERT_EQ(d.Curve(0).Values().size(), 12000u) << period;  // 24 s of records
    ASSERT_EQ(d.Curve(0, 0, 1).Values().size(), 3000u) << period;
    auto [low, high] = std::minmax_element(d.Curve(1).Values().begin(), d.Curve(1).Values().end());
    EXPECT_LT(*low, *high);  // the accelerations move
    ExpectRefillsEqualTheDisplay(d.display, "period " + std::to_string(period));
    EXPECT_EQ(d.Curve(2).period, 10);
  }

  // A flash image.
  std::string path = WriteFlashFile("qvl_run_display_refill.QVLog");
  Display d;
  OpenLogFile(d.display.MainSlot(), path);
  d.display.SetStrips(strips);
  d.display.DisplaySelection(0);
  ASSERT_GE(d.Curve(0).Values().size(), 12000u);
  ExpectRefillsEqualTheDisplay(d.display, "image");
  std::filesystem::remove(path);
}

TEST(RunDisplay, CurvesOfOneVelocityInTwoUnitsShowTheSameMotion) {
  // Front travel rises by 2 counts (0.2 mm) per ms: 200 mm/s.
  Display d;
  d.Load(MakeController(), MakeStore(Ticks(0, 12000), [](int32_t t, TLogRecord& r) {
           r.values[0] = int16_t(2 * t);
         }));
  d.display.SetStrips(
      {StripOf(kParamFrontSuspVelocity, kUnitMmps), StripOf(kParamFrontSuspVelocity, kUnitCmps)});
  d.display.DisplaySelection(0);
  const auto& mm = d.Curve(0).Values();
  const auto& cm = d.Curve(1).Values();
  ASSERT_EQ(mm.size(), 6000u);
  ASSERT_EQ(cm.size(), mm.size());
  EXPECT_EQ(mm[0], 0.0f);
  EXPECT_EQ(cm[0], 0.0f);
  for (size_t i = 1; i < mm.size(); ++i) {
    ASSERT_NEAR(mm[i], 200.0f, 0.5) << i;  // single precision over 2 m of travel
    ASSERT_NEAR(cm[i], mm[i] / 10, 1e-4) << i;
  }
}

TEST(RunDisplay, OverlaySlotsHaveTheirOwnCurves) {
  Display d;
  d.Load(MakeController(),
         MakeStore(Ticks(0, 12000), [](int32_t, TLogRecord& r) { r.values[0] = 100; }));
  TStrip s = StripOf(kParamFrontTravel, kUnitMm);
  s.superposed.push_back(StripOf(kParamRearTravel, kUnitMm).main);
  d.display.SetStrips({s, StripOf(kParamFrontSpeed, kUnitKmh)});
  auto overlay = std::make_unique<TFileSlot>();
  overlay->controller = MakeController(4000);
  overlay->store = MakeStore(Ticks(50000, 15000), [](int32_t, TLogRecord& r) {
    r.values[0] = 300;
    r.values[1] = 50;
  });
  overlay->path = "three runs.QVLog";
  EXPECT_EQ(d.display.AddSlot(std::move(overlay)), 1);
  EXPECT_EQ(OverlayListText(d.display.Slot(1)), "three runs.QVLog");  // one run: the name alone
  d.display.DisplaySelection(0);
  d.display.DisplayOverlay(1);
  const TStripView& strip = d.display.Chart().strips[0];
  EXPECT_EQ(strip.curvesPerSlot, 2);
  ASSERT_EQ(strip.curves.size(), 4u);
  EXPECT_EQ(strip.curves[2].period, 4);  // the overlay's own configuration
  ASSERT_EQ(strip.curves[2].Values().size(), 3750u);
  EXPECT_FLOAT_EQ(strip.curves[2].Values()[0], 30.0f);
  EXPECT_FLOAT_EQ(strip.curves[3].Values()[0], 5.0f);
  EXPECT_EQ(strip.curves[2].colour, 0x30A0A0u);
  EXPECT_EQ(strip.curves[3].colour, 0x30A030u);
  EXPECT_EQ(strip.curves[0].Values().size(), 6000u);
  EXPECT_EQ(CurveColour(3, 0), 0x808080u);
  EXPECT_EQ(CurveColour(0, 4), 0x808080u);
  // A second overlay: its curves are added, the others keep theirs.
  auto second = std::make_unique<TFileSlot>();
  second->controller = MakeController();
  second->store = MakeStore(Ticks(0, 11000), [](int32_t, TLogRecord& r) { r.values[0] = 700; });
  EXPECT_EQ(d.display.AddSlot(std::move(second)), 2);
  EXPECT_EQ(d.display.Chart().strips[0].curves.size(), 6u);
  EXPECT_EQ(d.display.Chart().strips[0].curves[0].Values().size(), 6000u);
  EXPECT_EQ(d.display.Chart().strips[0].curves[2].Values().size(), 3750u);
  d.display.DisplayOverlay(2);
  EXPECT_FLOAT_EQ(d.display.Chart().strips[0].curves[4].Values()[0], 70.0f);
  EXPECT_EQ(d.display.Chart().strips[0].curves[4].colour, 0x408080u);
  // Removing the first overlay takes its curves with it; the second moves into its place and
  // colours.
  d.display.RemoveSlot(1);
  EXPECT_EQ(d.display.SlotCount(), 2);
  ASSERT_EQ(d.display.Chart().strips[0].curves.size(), 4u);
  EXPECT_FLOAT_EQ(d.display.Chart().strips[0].curves[2].Values()[0], 70.0f);
  EXPECT_EQ(d.display.Chart().strips[0].curves[2].colour, 0x30A0A0u);
  EXPECT_EQ(d.display.Chart().strips[1].curves.size(), 2u);
}

TEST(RunDisplay, DisplayEntriesAndSelections) {
  TDisplayEntry e{kParamCustom, 66, 0, 0x00ABCDEF, -5};
  auto bytes = EncodeDisplayEntry(e);
  EXPECT_EQ(bytes[0], kParamCustom);
  EXPECT_EQ(bytes[1], 66);
  EXPECT_EQ(bytes[4], 0xEF);
  EXPECT_EQ(bytes[8], 0xFB);
  EXPECT_EQ(DecodeDisplayEntry(bytes.data()), e);
  TStripList strips = {StripOf(kParamFrontTravel, kUnitPercent, 40),
                       StripOf(kParamFrontSpeed, kUnitKmh)};
  strips[0].superposed.push_back(StripOf(kParamRearTravel, kUnitPercent).main);
  TDisplayArray flat = FlattenStrips(strips);
  ASSERT_EQ(flat.size(), 3u);
  EXPECT_EQ(flat[1].channel, kParamRearTravel);
  EXPECT_EQ(EntryStrip(flat[1]), 0);
  EXPECT_EQ(EntryCurve(flat[1]), 1);
  EXPECT_EQ(flat[1].smoothing, 40);
  EXPECT_EQ(EntryStrip(flat[2]), 1);
  EXPECT_EQ(EntryCurve(flat[2]), 0);
  EXPECT_EQ(SessionSelection(0), -1);
  EXPECT_EQ(SelectedSession(-3), 2);
  EXPECT_TRUE(IsSessionSelection(SessionSelection(4)));
  // One session of three runs: the overlay line counts runs.
  std::vector<int32_t> ticks;
  for (int32_t start : {0, 12500, 25000})
    for (int32_t t : Ticks(start, 11000)) ticks.push_back(t);
  TFileSlot slot;
  slot.path = "three.QVLog";
  slot.store = MakeStore(ticks, [](int32_t, TLogRecord&) {});
  ASSERT_EQ(slot.store->RunCount(), 3);
  EXPECT_EQ(OverlayListText(slot), "three.QVLog: Run 1/3");
  EXPECT_EQ(FirstUnit(kParamFrontSpeed), kUnitTps);
  // Smoothing steps: 0, 1 -> 2 -> 5 -> 10 -> 20 ... and back down.
  const int more[][2] = {{0, 2},  {1, 2},   {2, 5},   {3, 5},   {4, 10},
                         {9, 10}, {15, 20}, {30, 50}, {70, 100}};
  for (auto [w, next] : more) EXPECT_EQ(MoreSmoothing(w), next) << w;
  const int less[][2] = {{1, 1},  {0, 0},  {2, 1},   {5, 2},     {8, 5},
                         {10, 5}, {15, 5}, {20, 10}, {200, 100}, {1000, 500}};
  for (auto [w, next] : less) EXPECT_EQ(LessSmoothing(w), next) << w;
  EXPECT_EQ(FirstUnit(kParamFrontTravel), kUnitPercent);
}

TEST(RunDisplay, LogFileConfigurationCountsAsInSyncAndTimeMarksShow) {
  std::string path = WriteFlashFile("qvl_run_display_flash.QVLog");
  Display d;
  OpenLogFile(d.display.MainSlot(), path);
  EXPECT_TRUE(d.display.MainSlot().controller->ConfigInSync());
  d.display.SetStrips({StripOf(kParamFrontTravel, kUnitMm)});
  d.display.DisplaySelection(0);
  EXPECT_GE(d.display.SampleCount(), 12000);
  const auto& v = d.Curve(0).Values();
  ASSERT_FALSE(v.empty());
  // Without the in-sync mark every travel value would be 0.
  EXPECT_NE(v[100], 0.0f);
  EXPECT_NE(v[100], v[9000]);
  const auto& marks = d.display.Chart().marks;
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_DOUBLE_EQ(marks[0].seconds, 5.0);
  EXPECT_EQ(marks[0].colour, 0xFF0000u);
  EXPECT_EQ(marks[0].label, "Time mark #1\r0m05.00s");
  EXPECT_NE(d.display.Labels().sessionStart.find("  Session start\r  20"), std::string::npos);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace qvl
