// The flash image encoding: indexing, decoding with ReadNext, random access with GetSample, and
// damaged images.
#include <gtest/gtest.h>

#include <random>

#include "core/logdata/data_log_store.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "log_test_util.h"

namespace qvl {
namespace {

using testing::Group;
using testing::LoadImage;
using testing::Source;
using testing::ValueOf;

// The groups of a logger with suspension and accelerations at 200 Hz, inputs 21-23 at 100 Hz and
// the magnetometer at 50 Hz.
TDataLogGroups DefaultGroups() {
  return {Group(5, {0, 1, 18, 19, 20}), Group(10, {21, 22, 23}), Group(20, {24, 25, 26})};
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

// Walks run 0 from 0 to its last index and checks every channel after each step against the
// value of the group's latest sample; `expectedTick(group, t)` gives that sample's tick.
void WalkAndCheck(TDataLogStore& store, const TDataLogGroups& groups, uint32_t start,
                  const std::function<int64_t(size_t, uint32_t)>& expectedTick) {
  store.SelectRun(0);
  TLogSample sample;
  const int32_t last = store.RunLast(0);
  for (int32_t t = 0; t <= last; ++t) {
    // False between a page's last sample and the next page's timestamp: nothing new there.
    store.ReadNext(t, sample);
    for (size_t g = 0; g < groups.size(); ++g) {
      const int64_t tick = expectedTick(g, uint32_t(t));
      for (int j = 0; j < groups[g].count; ++j) {
        const int c = groups[g].channels[size_t(j)];
        const int expected = tick < 0 ? -1 : ValueOf(c, uint32_t(start + tick));
        ASSERT_EQ(sample.channels[size_t(c)], expected) << "t " << t << " channel " << c;
      }
    }
  }
}

TEST(FlashImage, IndexingFindsStartTickRunLengthAndClockDate) {
  const TDataLogGroups groups = DefaultGroups();
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(123456, 700000000);
  enc.AdvanceTo(123456 + 20000, Source(groups));
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  EXPECT_TRUE(store.IsImage());
  EXPECT_EQ(store.Period(), 1);
  EXPECT_EQ(store.StartTick(), 123456u);
  EXPECT_EQ(store.RunCount(), 1);
  EXPECT_EQ(store.SessionCount(), 1);
  EXPECT_EQ(store.RunFirst(0), 0);
  EXPECT_EQ(store.RunLast(0), 20000);
  EXPECT_EQ(store.RecordCount(), 20000);
  EXPECT_EQ(store.RunDuration(0), 20000);
  EXPECT_DOUBLE_EQ(store.RunStartDate(0), 36526.0 + 700000000.0 / 84375.0);
  EXPECT_EQ(store.RunOfPosition(12345), 0);
  EXPECT_EQ(store.TimeInRun(777), 777);
  EXPECT_EQ(store.RunStartTime(0), 0);
}

TEST(FlashImage, ReadNextDecodesEveryGroupAtItsOwnRate) {
  const TDataLogGroups groups = DefaultGroups();
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(5000);
  enc.AdvanceTo(5000 + 12000, Source(groups));
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  ASSERT_EQ(store.RunLast(0), 12000);
  WalkAndCheck(store, groups, 5000, [&](size_t g, uint32_t t) -> int64_t {
    const uint32_t p = groups[g].period;
    return std::min<uint32_t>(t / p * p, 12000 - p);
  });
  // Channels no group logs stay untouched.
  TLogSample sample;
  store.SelectRun(0);
  store.ReadNext(100, sample);
  EXPECT_EQ(sample.channels[2], -1);
}

TEST(FlashImage, TriggersApplyAtTheirTicks) {
  const TDataLogGroups groups{Group(1, {0})};
  sim::TFlashImageEncoder enc(groups);
  const auto src = Source(groups);
  enc.BeginSession(1000);
  enc.AdvanceTo(1005, src);
  enc.FrontTrigger(1005, 3, 100);
  enc.AdvanceTo(1006, src);
  enc.RearTrigger(1006, 4, 200);
  enc.AdvanceTo(1012, src);
  enc.BothTriggers(1012, 18, 19, -7, 8);  // nibbles 2 and 3: both counts pass 16
  enc.AdvanceTo(1100, src);
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  store.SelectRun(0);
  TLogSample s;
  ASSERT_TRUE(store.ReadNext(4, s));
  EXPECT_EQ(s.frontCount, 0);
  ASSERT_TRUE(store.ReadNext(5, s));
  EXPECT_EQ(s.frontCount, 3);
  EXPECT_EQ(s.frontValue, 100);
  EXPECT_EQ(s.rearCount, 0);
  ASSERT_TRUE(store.ReadNext(6, s));
  EXPECT_EQ(s.rearCount, 4);
  EXPECT_EQ(s.rearValue, 200);
  ASSERT_TRUE(store.ReadNext(11, s));
  EXPECT_EQ(s.frontValue, 100);
  ASSERT_TRUE(store.ReadNext(12, s));
  EXPECT_EQ(s.frontCount, 18);
  EXPECT_EQ(s.rearCount, 19);
  EXPECT_EQ(s.frontValue, -7);
  EXPECT_EQ(s.rearValue, 8);
  EXPECT_EQ(s.channels[0], ValueOf(0, 1012));
}

TEST(FlashImage, TimestampsEmptySlotsAndStalePages) {
  const TDataLogGroups groups{Group(1, {0}), Group(4, {7})};
  sim::TFlashImageEncoder enc(groups);
  const auto src = Source(groups);
  const uint32_t s0 = 40000;
  enc.BeginSession(s0);
  enc.AdvanceTo(s0 + 10, src);  // group 0: 0..9, group 1: 0, 4, 8
  enc.EmptySlot();              // group 0 misses 10
  enc.AdvanceTo(s0 + 20, src);
  enc.TimeMark(s0 + 15);
  enc.Timestamp(s0 + 500);  // the logger paused
  enc.AdvanceTo(s0 + 3000, src);
  enc.Finish();
  // A stale page (its timestamp lies before the time reached) in the middle is skipped whole.
  std::vector<uint8_t> image = enc.Image();
  std::vector<uint8_t> stale(kFlashPageSize, 0xFF);
  const auto lnb = sim::TimestampRecord(s0 + 3);
  std::copy(lnb.begin(), lnb.end(), stale.begin());
  for (size_t i = 6; i < 600; i += 3) stale[i] = 0x70, stale[i + 1] = 0xFF, stale[i + 2] = 0x0F;
  image.insert(image.begin() + kFlashPageSize, stale.begin(), stale.end());

  TDataLogStore store;
  LoadImage(store, groups, image);
  ASSERT_EQ(store.RunLast(0), 3000);
  WalkAndCheck(store, groups, s0, [](size_t g, uint32_t t) -> int64_t {
    if (g == 0) {
      if (t == 10) return 9;              // the empty slot repeats sample 9
      if (t >= 20 && t < 500) return 19;  // the pause repeats the last sample
      return std::min<uint32_t>(t, 2999);
    }
    if (t >= 20 && t < 500) return 16;
    return std::min<uint32_t>(t / 4 * 4, 2996);
  });
  EXPECT_EQ(store.TimeMarks(), (std::vector<uint32_t>{15}));
  // Indexes: one entry per sample slot, repeats included.
  EXPECT_EQ(store.GroupIndex()[0].Count(), 3000u);
  EXPECT_EQ(store.GroupIndex()[1].Count(), 750u);
  // GetSample reads the repeats too, and a second walk does not repeat the time marks.
  TLogSample sample;
  store.GetSample(10, sample);
  EXPECT_EQ(sample.channels[0], ValueOf(0, s0 + 9));
  store.GetSample(250, sample);
  EXPECT_EQ(sample.channels[0], ValueOf(0, s0 + 19));
  EXPECT_EQ(sample.time, 250u);
  store.SelectRun(0);
  EXPECT_TRUE(store.TimeMarks().empty());
  store.ReadNext(3000, sample);
  EXPECT_EQ(store.TimeMarks(), (std::vector<uint32_t>{15}));
}

TEST(FlashImage, ReadNextReportsFalseWhileTheNextTimedRecordLiesAhead) {
  const TDataLogGroups groups{Group(1, {0})};
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(0);
  enc.AdvanceTo(5, Source(groups));
  enc.Timestamp(100);
  enc.AdvanceTo(105, Source(groups));
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  store.SelectRun(0);
  TLogSample s;
  EXPECT_TRUE(store.ReadNext(10, s));  // stops at the timestamp of tick 100
  EXPECT_EQ(store.RecordTime(), 100u);
  EXPECT_FALSE(store.ReadNext(50, s));
  EXPECT_TRUE(store.ReadNext(100, s));
  EXPECT_EQ(s.channels[0], ValueOf(0, 100));
}

TEST(FlashImage, GetSampleInterpolatesBetweenDecodedSamples) {
  const TDataLogGroups groups{Group(4, {3}), Group(1, {5})};
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(0);
  const uint16_t v100[] = {100}, v110[] = {110}, v1[] = {1};
  enc.WriteSample(0, v100);
  enc.WriteSample(0, v110);
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  TLogSample sample;
  store.GetSample(2, sample);
  EXPECT_EQ(sample.channels[3], -1);  // nothing decoded yet
  store.SelectRun(0);
  store.ReadNext(8, sample);
  store.GetSample(2, sample);
  EXPECT_EQ(sample.channels[3], 105);
  store.GetSample(1, sample);
  EXPECT_EQ(sample.channels[3], 102);  // 2.5 rounds to even
  store.GetSample(3, sample);
  EXPECT_EQ(sample.channels[3], 108);  // 7.5 rounds to even
  store.GetSample(4, sample);
  EXPECT_EQ(sample.channels[3], 110);
  store.GetSample(1000, sample);
  EXPECT_EQ(sample.channels[3], 110);
  EXPECT_EQ(sample.channels[5], -1);  // its group never gave a sample
  EXPECT_EQ(sample.channels[0], -1);  // not logged
  (void)v1;
}

// An empty slot and a timestamp before a group's first sample repeat nothing: GetSample reports
// -1 there, as the walk does, and never reads or interpolates from outside the group's data.
TEST(FlashImage, GetSampleHasNoValueBeforeAGroupsFirstSample) {
  const TDataLogGroups groups{Group(1, {0}), Group(4, {3})};
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(0);
  enc.EmptySlot();    // both groups miss tick 0
  enc.Timestamp(10);  // group 0 misses 1..9, group 1 ticks 4 and 8
  enc.AdvanceTo(30, Source(groups));
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  store.SelectRun(0);
  TLogSample walked, read;
  for (int32_t t = 0; t <= 28; ++t) {
    store.ReadNext(t, walked);
    store.GetSample(t, read);
    for (int c : {0, 3}) {
      if (walked.channels[size_t(c)] == -1 || t % groups[c == 0 ? 0 : 1].period == 0) {
        EXPECT_EQ(read.channels[size_t(c)], walked.channels[size_t(c)]) << "t " << t << " ch " << c;
      }
    }
  }
  store.GetSample(9, read);
  EXPECT_EQ(read.channels[3], -1);
  EXPECT_EQ(read.channels[0], -1);
  store.GetSample(12, read);
  EXPECT_EQ(read.channels[3], ValueOf(3, 12));
}

// A last page whose timestamp is damaged (far ahead) or left from an older recording (behind)
// would claim a run of weeks: the run ends with the last page that fits, reads there as the intact
// image does, and the damage is reported. A real pause between runs is no damage.
TEST(FlashImage, ALastPageTimestampThatDoesNotFitEndsTheRunWhereTheIntactDataEnds) {
  const TDataLogGroups groups = DefaultGroups();
  sim::TFlashImageEncoder enc(groups);
  const uint32_t s0 = 1000;
  enc.BeginSession(s0, 700000000);
  enc.AdvanceTo(s0 + 8000, Source(groups));
  enc.Finish();
  const std::vector<uint8_t>& image = enc.Image();
  ASSERT_GE(image.size(), 5 * kFlashPageSize);
  TDataLogStore intact;
  LoadImage(intact, groups, image);
  EXPECT_FALSE(intact.EndDamaged());
  ASSERT_EQ(intact.RunLast(0), 8000);

  const size_t last = image.size() - kFlashPageSize;
  const uint32_t before = GetU32(&image[last - kFlashPageSize + 2]) - s0;  // page before the last
  for (uint32_t bad : {s0 + (1u << 31), s0 + 8000 + 25 * 3600 * 1000, s0 + 3}) {
    std::vector<uint8_t> damaged = image;
    PutU32(&damaged[last + 2], bad);
    TDataLogStore store;
    LoadImage(store, groups, damaged);
    EXPECT_TRUE(store.EndDamaged()) << bad;
    EXPECT_GT(store.RunLast(0), int32_t(before)) << bad;
    ASSERT_LT(store.RunLast(0), 8000) << bad;  // else the walk below would take hours
    store.SelectRun(0);
    intact.SelectRun(0);
    TLogSample got, want;
    for (int32_t t = 0; t <= store.RunLast(0); ++t) {
      store.ReadNext(t, got);
      intact.ReadNext(t, want);
      // From 20 ticks (the slowest period) before the end on, the intact image has the next
      // samples of its last page.
      if (t <= store.RunLast(0) - 20) {
        ASSERT_EQ(got.channels, want.channels) << bad << " t " << t;
      }
    }
  }

  // A second run five hours on: the pause is part of the run.
  sim::TFlashImageEncoder paused(groups);
  paused.BeginSession(s0);
  paused.AdvanceTo(s0 + 2000, Source(groups));
  const uint32_t second = paused.BeginRun(s0 + 5 * 3600 * 1000);
  paused.AdvanceTo(second + 2000, Source(groups));
  paused.Finish();
  TDataLogStore store;
  LoadImage(store, groups, paused.Image());
  EXPECT_FALSE(store.EndDamaged());
  EXPECT_EQ(store.RunLast(0), int32_t(second - s0 + 2000));
}

TEST(FlashImage, MissingTimestampsFail) {
  const TDataLogGroups groups{Group(1, {0})};
  auto load = [&](const std::vector<uint8_t>& image) {
    return MessageOf([&] {
      TDataLogStore store;
      LoadImage(store, groups, image);
    });
  };
  EXPECT_EQ(load({0xB0, 0, 1, 2, 3}), "lnb record not found");
  EXPECT_EQ(load({}), "lnb record not found");
  std::vector<uint8_t> short_(kFlashPageSize - 1, 0xFF);
  const auto first = sim::TimestampRecord(1);
  std::copy(first.begin(), first.end(), short_.begin());
  EXPECT_EQ(load(short_), "lnb record not found");  // not one whole page
  short_.push_back(0xFF);
  EXPECT_EQ(load(short_), "(no failure)");
  std::vector<uint8_t> page(kFlashPageSize, 0xFF);
  const auto mark = sim::TimeMarkRecord(5);
  std::copy(mark.begin(), mark.end(), page.begin());
  EXPECT_EQ(load(page), "lnb record not found");
  // Clock records before the timestamp are passed over; a lone page is a whole image.
  const auto clock = sim::ClockRecord(99);
  const auto lnb = sim::TimestampRecord(1234, 0xB6);
  std::copy(clock.begin(), clock.end(), page.begin());
  std::copy(lnb.begin(), lnb.end(), page.begin() + 6);
  EXPECT_EQ(load(page), "(no failure)");
  // The last page must have its own timestamp.
  std::vector<uint8_t> twoPages = page;
  twoPages.resize(2 * kFlashPageSize, 0xFF);
  EXPECT_EQ(load(twoPages), "lnb record not found");
  twoPages.resize(2 * kFlashPageSize + 5, 0xB0);  // fewer than 6 bytes of a third page count not
  std::copy(lnb.begin(), lnb.end(), twoPages.begin() + kFlashPageSize);
  EXPECT_EQ(load(twoPages), "(no failure)");
}

TEST(FlashImage, LastPageCountsEmptySlotsForTheEarliestGroup) {
  const TDataLogGroups groups{Group(2, {0}), Group(3, {1})};
  std::vector<uint8_t> page(kFlashPageSize, 0xFF);
  const auto lnb = sim::TimestampRecord(100);
  std::copy(lnb.begin(), lnb.end(), page.begin());
  // Start 100, A = 0: group 0 next at 0, 2, ...; group 1 at 0, 3, ...
  // slots: (0: both), (2: group 0), (3: group 1) -> counts 2 and 2 -> length max(4, 6) = 6.
  page[6] = page[7] = page[8] = 0xC0;
  TDataLogStore store;
  LoadImage(store, groups, page);
  EXPECT_EQ(store.RunLast(0), 6);
  // Empty-slot bytes count only below offset 4094 of the page.
  std::vector<uint8_t> late(kFlashPageSize, 0xC0);
  std::copy(lnb.begin(), lnb.end(), late.begin());
  for (size_t at = 6; at < 4090; at += 4) late[at] = 0x90, late[at + 1] = 0;  // rear triggers
  LoadImage(store, groups, late);
  // Four slots at 4090..4093: (0: both), (2: group 0), (3: group 1), (4: group 0).
  EXPECT_EQ(store.RunLast(0), 6);
}

TEST(FlashImage, UnknownGroupsAndEmptyGroupListsDoNotStallDecoding) {
  const TDataLogGroups groups{Group(1, {0}), Group(1, {1})};
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(0);
  enc.AdvanceTo(3000, Source(groups));
  enc.EmptySlot();
  enc.Finish();
  // The store knows only the first group: a record of the second ends its page.
  TDataLogStore one;
  LoadImage(one, {groups[0]}, enc.Image());
  TLogSample s;
  one.SelectRun(0);
  EXPECT_TRUE(one.ReadNext(one.RunLast(0), s));
  EXPECT_EQ(s.channels[1], -1);
  EXPECT_EQ(one.ReadPos(), enc.Image().size());
  // Without groups an empty slot can never be placed: decoding ends there.
  std::vector<uint8_t> page(kFlashPageSize, 0xC0);
  const auto lnb = sim::TimestampRecord(7);
  std::copy(lnb.begin(), lnb.end(), page.begin());
  TDataLogStore none;
  LoadImage(none, {}, page);
  none.SelectRun(0);
  EXPECT_TRUE(none.ReadNext(1u << 30, s));
  EXPECT_EQ(none.ReadPos(), kFlashPageSize);
  none.GetSample(5, s);
  EXPECT_EQ(s.channels[0], -1);
}

TEST(FlashImage, TruncatedAndScrambledImagesNeverReadOutside) {
  const TDataLogGroups groups = DefaultGroups();
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(10, 1);
  const auto src = Source(groups);
  for (uint32_t t = 100; t < 9000; t += 250) {
    enc.AdvanceTo(10 + t, src);
    enc.BothTriggers(10 + t, uint8_t(t), uint8_t(t / 3), 1, 2);
    if (t % 1000 == 100) enc.TimeMark(10 + t);
  }
  enc.Finish();
  const std::vector<uint8_t> full = enc.Image();
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> image = full;
    if (round % 2) image.resize(kFlashPageSize + random() % (full.size() - kFlashPageSize));
    for (int k = 0; k < round; ++k) image[random() % image.size()] = uint8_t(random());
    TDataLogStore store;
    try {
      LoadImage(store, groups, image);
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "lnb record not found");
      continue;
    }
    store.SelectRun(0);
    TLogSample s;
    const int32_t last = std::min(store.RunLast(0), 20000);
    for (int32_t t = 0; t <= last; t += 3) store.ReadNext(t, s);
    for (int32_t p = 0; p <= last; p += 97) store.GetSample(p, s);
    EXPECT_LE(store.ReadPos(), image.size() + kFlashPageSize);
  }
}

TEST(FlashImage, NotesOfAnImageBelongToItsOneRun) {
  const TDataLogGroups groups{Group(1, {0})};
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(0);
  enc.AdvanceTo(100, Source(groups));
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  store.SetRunNote(0, "jump line");
  TMemoryStream notes;
  store.WriteNotes(notes);
  EXPECT_EQ(GetI32(&notes.Bytes()[20]), 0);  // the key of an image's run
  TDataLogStore again;
  LoadImage(again, groups, enc.Image());
  notes.SetPosition(0);
  again.ReadNotes(notes);
  EXPECT_EQ(again.GetRunNote(0), "jump line");
}

TEST(GroupIndex, RepeatsAreCountedAndReadBackAsThePreviousOffset) {
  TGroupIndex index;
  index.RepeatTo(2);  // two repeats before any sample: offset 0
  index.Append(100);
  index.Append(110);
  index.RepeatTo(1000000000);
  index.Append(120);
  EXPECT_EQ(index.Count(), 1000000001u);
  EXPECT_EQ(index.Offset(0), 0u);
  EXPECT_EQ(index.Offset(1), 0u);
  EXPECT_EQ(index.Offset(2), 100u);
  EXPECT_EQ(index.Offset(3), 110u);
  EXPECT_EQ(index.Offset(4), 110u);
  EXPECT_EQ(index.Offset(999999999), 110u);
  EXPECT_EQ(index.Offset(1000000000), 120u);
}

}  // namespace
}  // namespace qvl

namespace qvl {
namespace {

// Trigger records carry only three bits of their tick; with slow groups the encoder needs
// timestamps to place them. A tick-by-tick walk must show each trigger from its own tick on.
TEST(FlashImage, TriggersBetweenSlowSamplesShowAtTheirTicksInATickByTickWalk) {
  const TDataLogGroups groups{Group(20, {0})};
  sim::TFlashImageEncoder enc(groups);
  const auto src = Source(groups);
  const uint32_t s0 = 9000;
  enc.BeginSession(s0);
  struct TEvent {
    uint32_t tick;
    bool front;
    uint8_t count;
    int16_t value;
  };
  std::vector<TEvent> events;
  std::mt19937 random(11);
  uint32_t t = 3;
  for (int i = 0; i < 400; ++i) {
    t += 1 + random() % (i % 5 == 0 ? 90 : 9);  // mostly close together, sometimes far apart
    events.push_back({t, random() % 2 == 0, uint8_t(i), int16_t(i * 5)});
    if (i % 7 == 0) events.push_back({t, true, uint8_t(i + 1), int16_t(-i)});  // same tick
  }
  for (const TEvent& e : events) {
    enc.AdvanceTo(s0 + e.tick, src);
    if (e.front)
      enc.FrontTrigger(s0 + e.tick, e.count, e.value);
    else
      enc.RearTrigger(s0 + e.tick, e.count, e.value);
    ASSERT_EQ(enc.CurrentTick(), s0 + e.tick);
  }
  enc.AdvanceTo(s0 + t + 100, src);
  const uint32_t lastSample = enc.NextSampleTick(0) - 20 - s0;
  enc.Finish();
  TDataLogStore store;
  LoadImage(store, groups, enc.Image());
  store.SelectRun(0);
  TLogSample sample;
  TLogSample expected;
  expected.channels.fill(0);
  size_t next = 0;
  for (int32_t now = 0; now <= store.RunLast(0); ++now) {
    store.ReadNext(now, sample);
    while (next < events.size() && events[next].tick <= uint32_t(now)) {
      const TEvent& e = events[next++];
      (e.front ? expected.frontCount : expected.rearCount) = e.count;
      (e.front ? expected.frontValue : expected.rearValue) = e.value;
    }
    ASSERT_EQ(sample.frontCount, expected.frontCount) << now;
    ASSERT_EQ(sample.frontValue, expected.frontValue) << now;
    ASSERT_EQ(sample.rearCount, expected.rearCount) << now;
    ASSERT_EQ(sample.rearValue, expected.rearValue) << now;
    ASSERT_EQ(sample.channels[0], ValueOf(0, s0 + std::min(uint32_t(now) / 20 * 20, lastSample)))
        << now;
  }
}

}  // namespace
}  // namespace qvl
