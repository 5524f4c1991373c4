#include "sim/flash_image_encoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/util/endian.h"

namespace qvl::sim {
namespace {

TDataLogGroup Group(uint32_t period, std::vector<int16_t> channels) {
  TDataLogGroup g;
  g.period = period;
  g.count = int16_t(channels.size());
  for (size_t i = 0; i < channels.size(); ++i) g.channels[i] = channels[i];
  return g;
}

// Length of the flash record starting with `b` as the reader walks it; 0 for end-of-page bytes.
size_t RecordLength(uint8_t b, const TDataLogGroups& groups) {
  if (b >= 0x70 && b <= 0x7F) return 1 + GroupDataSize(groups.at(b & 0x0F).count);
  if (b >= 0x80 && b <= 0x8F) return 6;
  if (b >= 0x90 && b <= 0xAF) return 4;
  if (b >= 0xB0 && b <= 0xBF) return 6;
  if (b == 0xC0) return 1;
  return 0;
}

TEST(FlashRecords, GroupValuesPackTwelveBitsLittleEndian) {
  const uint16_t two[] = {0x234, 0xAB1};
  EXPECT_EQ(PackGroupValues(two), (std::vector<uint8_t>{0x34, 0x12, 0xAB}));
  const uint16_t one[] = {0xFFF};
  EXPECT_EQ(PackGroupValues(one), (std::vector<uint8_t>{0xFF, 0x0F}));
  const uint16_t three[] = {0x123, 0x456, 0x789};
  EXPECT_EQ(PackGroupValues(three), (std::vector<uint8_t>{0x23, 0x61, 0x45, 0x89, 0x07}));
  const uint16_t four[] = {0x001, 0x002, 0x003, 0xFFF};
  EXPECT_EQ(PackGroupValues(four), (std::vector<uint8_t>{0x01, 0x20, 0x00, 0x03, 0xF0, 0xFF}));
  EXPECT_EQ(GroupRecord(5, two), (std::vector<uint8_t>{0x75, 0x34, 0x12, 0xAB}));
  EXPECT_EQ(GroupDataSize(5), 8u);
}

TEST(FlashRecords, TriggerAndTimestampLayouts) {
  EXPECT_EQ(BothTriggersRecord(13, 0x21, 0x3F, 0x0102, -2),
            (TRecord6{0x85, 0x1F, 0x02, 0x01, 0xFE, 0xFF}));
  EXPECT_EQ(FrontTriggerRecord(7, 200, 0x1234), (TRecord4{0xA7, 200, 0x34, 0x12}));
  EXPECT_EQ(RearTriggerRecord(2, 9, 5), (TRecord4{0x92, 9, 5, 0}));
  EXPECT_EQ(TimestampRecord(0x01020304, 0xB6, 3), (TRecord6{0xB6, 3, 4, 3, 2, 1}));
  EXPECT_EQ(TimeMarkRecord(1), (TRecord6{0xB8, 0, 1, 0, 0, 0}));
  EXPECT_THROW(TimestampRecord(1, 0xB8), std::invalid_argument);
  EXPECT_THROW(ClockRecord(1, 0xB0), std::invalid_argument);
}

TEST(FlashImageEncoder, SessionHeaderCarriesClockFlagsAndTimestamp) {
  TFlashImageEncoder enc({Group(1, {0, 1})});
  EXPECT_EQ(enc.BeginSession(5000, 777, 12), 5000u);
  auto src = [](int, uint32_t tick, uint16_t* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = uint16_t(tick + i);
  };
  enc.AdvanceTo(5000 + 3000, src);
  enc.Finish();
  const auto& img = enc.Image();
  ASSERT_EQ(img.size() % kFlashPageSize, 0u);
  ASSERT_GE(img.size(), 3 * kFlashPageSize);  // 3000 samples of 4 bytes
  // Clock record with run start, session start and session clock, then the timestamp at +6.
  EXPECT_EQ(img[0], 0xBF);
  EXPECT_EQ(img[1], 12);
  EXPECT_EQ(GetU32(&img[2]), 777u);
  EXPECT_EQ(img[6], 0xB6);
  EXPECT_EQ(GetU32(&img[8]), 5000u);
  // The first sample follows the header.
  EXPECT_EQ(img[12], 0x70);
  // Every later page opens with a plain timestamp equal to the tick of its first sample, and
  // every record stays inside its page.
  const TDataLogGroups& groups = enc.Groups();
  uint32_t expectedTick = 5000;
  for (size_t page = 0; page * kFlashPageSize < img.size(); ++page) {
    const uint8_t* p = &img[page * kFlashPageSize];
    size_t at = 0;
    if (page > 0) {
      ASSERT_EQ(p[0], 0xB0) << "page " << page;
      EXPECT_EQ(GetU32(p + 2), expectedTick) << "page " << page;
      at = 6;
    } else {
      at = 12;
    }
    while (at < kFlashPageSize && p[at] == 0x70) {
      at += RecordLength(p[at], groups);
      ++expectedTick;
    }
    ASSERT_LE(at, kFlashPageSize);
    for (size_t i = at; i < kFlashPageSize; ++i) ASSERT_EQ(p[i], 0xFF) << page << ":" << i;
  }
  EXPECT_EQ(expectedTick, 8000u);
  ASSERT_EQ(enc.Runs().size(), 1u);
  EXPECT_EQ(enc.Runs()[0].endPage, img.size() / kFlashPageSize);
}

TEST(FlashImageEncoder, RunsStartOnNewPagesOnTheSampleGrid) {
  TFlashImageEncoder enc({Group(4, {0}), Group(10, {18})});
  auto src = [](int, uint32_t, uint16_t* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = 1;
  };
  enc.BeginSession(100);
  enc.AdvanceTo(200, src);
  // The grid of periods 4 and 10 is 20 ticks: 1003 moves up to 100 + 920 = 1020.
  EXPECT_EQ(enc.BeginRun(1003, std::nullopt, 7), 1020u);
  EXPECT_EQ(enc.NextSampleTick(0), 1020u);
  EXPECT_EQ(enc.NextSampleTick(1), 1020u);
  enc.Finish();
  const auto& img = enc.Image();
  ASSERT_EQ(img.size(), 2 * kFlashPageSize);
  EXPECT_EQ(img[0], 0xB6);  // session and run start
  EXPECT_EQ(img[kFlashPageSize], 0xB2);
  EXPECT_EQ(img[kFlashPageSize + 1], 7);
  EXPECT_EQ(GetU32(&img[kFlashPageSize + 2]), 1020u);
  ASSERT_EQ(enc.Runs().size(), 2u);
  EXPECT_EQ(enc.Runs()[1].firstPage, 1u);
  EXPECT_EQ(enc.Sessions().size(), 1u);
  EXPECT_EQ(enc.Sessions()[0].runCount, 2);
}

TEST(FlashImageEncoder, SessionsStartOnSectorBoundaries) {
  TFlashImageEncoder enc({Group(1, {0})}, 0x10000, 0x8000);
  enc.BeginSession(0);
  enc.Timestamp(10);
  enc.BeginSession(20000);
  enc.Finish();
  // 0x10000 is on a sector; the second session starts at 0x18000, eight pages on.
  ASSERT_EQ(enc.Image().size(), 9 * kFlashPageSize);
  EXPECT_EQ(enc.Image()[8 * kFlashPageSize], 0xB6);
  EXPECT_EQ(enc.Image()[kFlashPageSize], 0xFF);
  EXPECT_EQ(enc.Sessions()[1].firstPage, 8u);
}

TEST(FlashImageEncoder, TriggersCarryLowTickBitsAndFarTriggersGetATimestamp) {
  TFlashImageEncoder enc({Group(100, {0})});
  auto src = [](int, uint32_t, uint16_t* v, int) { v[0] = 0; };
  enc.BeginSession(1000);
  enc.AdvanceTo(1001, src);       // one sample at 1000
  enc.FrontTrigger(1005, 3, 40);  // within 7 ticks: no timestamp
  enc.RearTrigger(1050, 4, 41);   // 45 ticks on: timestamp first
  EXPECT_EQ(enc.CurrentTick(), 1050u);
  enc.Finish();
  const auto& img = enc.Image();
  size_t at = 6 + 3;  // header, one sample of one channel
  EXPECT_EQ(img[at], 0xA0 | (1005 & 7));
  at += 4;
  EXPECT_EQ(img[at], 0xB0);
  EXPECT_EQ(GetU32(&img[at + 2]), 1050u);
  at += 6;
  EXPECT_EQ(img[at], 0x90 | (1050 & 7));
}

TEST(FlashImageEncoder, EmptySlotsSkipTheEarliestDueSampleAndAvoidThePageEnd) {
  TFlashImageEncoder enc({Group(1, {0}), Group(2, {1})});
  auto src = [](int, uint32_t, uint16_t* v, int) { v[0] = 0; };
  enc.BeginSession(0);
  enc.AdvanceTo(4, src);  // group 0: 0..3, group 1: 0, 2
  enc.EmptySlot();        // both groups due at 4 skip it
  EXPECT_EQ(enc.NextSampleTick(0), 5u);
  EXPECT_EQ(enc.NextSampleTick(1), 6u);
  EXPECT_EQ(enc.SampleCount(0), 5u);
  EXPECT_EQ(enc.SampleCount(1), 3u);
  enc.Finish();
  // Fill a page up to offset 4094 and check that the empty slot moves to the next page.
  TFlashImageEncoder full({Group(1, {})});
  full.BeginSession(0);
  std::vector<uint8_t> pad(4094 - 6, 0x70);  // one-byte samples of an empty group
  full.WriteRaw(pad);
  full.EmptySlot();
  full.Finish();
  ASSERT_EQ(full.Image().size(), 2 * kFlashPageSize);
  EXPECT_EQ(full.Image()[4094], 0xFF);
  EXPECT_EQ(full.Image()[kFlashPageSize], 0xB0);
  EXPECT_EQ(full.Image()[kFlashPageSize + 6], 0xC0);
}

TEST(FlashImageEncoder, EndMarkerTails) {
  TFlashImageEncoder enc({Group(1, {0})});
  enc.BeginSession(0);
  enc.EndPage(TPageTail::EndMarker);
  EXPECT_EQ(enc.Image()[6], 0xDF);
  EXPECT_EQ(enc.Image()[7], 0xFF);
  TFlashImageEncoder last({Group(1, {})});
  last.BeginSession(0);
  std::vector<uint8_t> pad(4095 - 6, 0x70);
  last.WriteRaw(pad);
  last.EndPage(TPageTail::EndMarker);
  EXPECT_EQ(last.Image()[4095], 0xC0);
}

TEST(FlashImageEncoder, CopyIntoFlashWrapsAround) {
  std::vector<uint8_t> flash(8, 0);
  const uint8_t bytes[] = {1, 2, 3, 4};
  CopyIntoFlash(flash, 6, bytes);
  EXPECT_EQ(flash, (std::vector<uint8_t>{3, 4, 0, 0, 0, 0, 1, 2}));
}

TEST(CompactRecords, LayoutsAndFirstFourKinds) {
  EXPECT_EQ(CompactAbsolute({2, 1022, 512, 0, 4}), (TCompactRecord{0x46, 1, 0xFF, 0, 0, 2}));
  EXPECT_EQ(CompactDelta({-1, 255, -256, 0, 1}), (TCompactRecord{0x05, 0xFF, 0xFF, 0, 0, 1}));
  EXPECT_THROW(CompactAbsolute({1, 0, 0, 0, 0}), std::invalid_argument);
  TLogArray recs(3);
  recs[0].tick = 100;
  recs[0].values = {10, 20, 30, 40, 50};
  recs[1].tick = 101;
  recs[1].values = {12, 18, 30, 40, 50};
  recs[1].frontCount = 1;
  recs[2].tick = 110;
  recs[2].values = {900, 18, 30, 40, 50};
  TType1Data c = EncodeCompactRecords(recs);
  ASSERT_GE(c.size(), 4u);
  EXPECT_EQ(c[0][0] >> 4, 0xB);
  EXPECT_EQ(c[1][0] >> 4, 0xA);
  EXPECT_EQ(c[2][0] >> 4, 0x9);
  EXPECT_EQ(c[3][0] >> 6, 1);
  EXPECT_EQ(c.back()[0] >> 6, 1);  // a change of 888 needs an absolute record
}

}  // namespace
}  // namespace qvl::sim
