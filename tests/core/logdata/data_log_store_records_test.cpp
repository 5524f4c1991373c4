// The record encodings: splitting into runs and sessions, the queries over records, the compact
// decoder, notes and absolute time.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "core/logdata/data_log_store.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "log_test_util.h"

namespace qvl {
namespace {

using testing::AppendTicks;
using testing::RecordsAt;

TDataLogStore StoreWith(int32_t period, const std::vector<int32_t>& ticks) {
  TDataLogStore store;
  store.SetPeriod(period);
  store.SetRecords(RecordsAt(ticks));
  return store;
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

// --- splitting into runs and sessions ------------------------------------------------------------

TEST(SetRecords, GapAboveOneSecondEndsARunAndGapOfOneSecondDoesNot) {
  // Period 10: one second is 100 ticks, ten seconds 1000 ticks.
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1501);     // 0..1500
  AppendTicks(ticks, 1601, 1500);  // gap 101: a new run; 1601..3100
  AppendTicks(ticks, 3200, 101);   // gap 100: the same run
  TDataLogStore store = StoreWith(10, ticks);
  ASSERT_EQ(store.RunCount(), 2);
  EXPECT_EQ(store.RunFirst(0), 0);
  EXPECT_EQ(store.RunLast(0), 1500);
  EXPECT_EQ(store.RunFirst(1), 1501);
  EXPECT_EQ(store.RunLast(1), int32_t(ticks.size()) - 1);
  ASSERT_EQ(store.SessionCount(), 1);
  int first = -1, count = -1;
  store.GetSession(0, first, count);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(store.DiscardedCount(), 0);
}

TEST(SetRecords, RunsOfTenSecondsOrLessAreDropped) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1001);     // spans exactly 1000 ticks: dropped
  AppendTicks(ticks, 2000, 1002);  // spans 1001: kept
  AppendTicks(ticks, 4000, 500);   // too short at the end: dropped
  TDataLogStore store = StoreWith(10, ticks);
  ASSERT_EQ(store.RunCount(), 1);
  EXPECT_EQ(store.RunFirst(0), 1001);
  EXPECT_EQ(store.RunLast(0), 1001 + 1001);
  // Records of dropped stretches still carry the count of runs before them.
  EXPECT_EQ(store.RunOfRecord()[10], 0);
  EXPECT_EQ(store.RunOfRecord().back(), 1);
}

TEST(SetRecords, GapAboveOneMegatickAlsoEndsTheSession) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 1199 + 1048577, 1200);          // gap 1,048,577: new session
  AppendTicks(ticks, ticks.back() + 1048576, 1200);  // gap 1,048,576: same session
  TDataLogStore store = StoreWith(10, ticks);
  ASSERT_EQ(store.RunCount(), 3);
  ASSERT_EQ(store.SessionCount(), 2);
  EXPECT_EQ(store.RunSession(0), 0);
  EXPECT_EQ(store.RunSession(1), 1);
  EXPECT_EQ(store.RunSession(2), 1);
  int first = -1, count = -1;
  store.GetSession(1, first, count);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(count, 2);
}

TEST(SetRecords, LastRunNeedsMoreThanTenRecordsAfterItsFirst) {
  // Period 7: one second is 143 ticks, ten seconds 1429; eleven records 143 apart span 1430.
  std::vector<int32_t> base;
  AppendTicks(base, 0, 2000);
  for (int extra : {11, 12}) {
    std::vector<int32_t> ticks = base;
    for (int i = 0; i < extra; ++i) ticks.push_back(5000 + 143 * i);
    TDataLogStore store = StoreWith(7, ticks);
    EXPECT_EQ(store.RunCount(), extra == 11 ? 1 : 2) << extra << " records";
  }
}

TEST(SetRecords, DiscardedRecordsAreReplacedAndLeaveThePreviousTickAsItWas) {
  // Period 10: a tick of -1, a tick that goes back and a repeated tick inside one run of 40 s.
  for (int32_t bad : {-1, 1400, 7000}) {
    std::vector<int32_t> ticks;
    AppendTicks(ticks, 5000, 2001);  // 5000..7000
    ticks.push_back(bad);
    AppendTicks(ticks, 7001, 2000);  // 7001..9000: no break after the bad record
    TLogArray records = RecordsAt(ticks);
    TDataLogStore store;
    store.SetPeriod(10);
    store.SetRecords(records);
    EXPECT_EQ(store.DiscardedCount(), 1) << bad;
    EXPECT_EQ(store.Records()[2001], records[2000]) << bad;
    ASSERT_EQ(store.RunCount(), 1) << bad;
    EXPECT_EQ(store.RunFirst(0), 0) << bad;
    EXPECT_EQ(store.RunLast(0), int32_t(ticks.size()) - 1) << bad;
    EXPECT_EQ(store.RunDuration(0), 40000) << bad;
  }
  // The gap before record 1 counts from one tick before record 0.
  TDataLogStore first = StoreWith(10, {0, 100, 101});
  EXPECT_EQ(first.RunOfRecord()[1], 0);
  std::vector<int32_t> edge{0};
  AppendTicks(edge, 101, 1200);
  EXPECT_EQ(StoreWith(10, edge).RunFirst(0), 1);
}

TEST(SetRecords, TickMinusOneIsNeverASample) {
  TLogArray records = RecordsAt({0, 1, -1, 3});
  TDataLogStore store;
  store.SetRecords(records);
  EXPECT_EQ(store.DiscardedCount(), 1);
  EXPECT_EQ(store.Records()[2], records[1]);
  EXPECT_EQ(store.Records()[3], records[3]);
}

TEST(SetRecords, EmptyAndTinyInputsGiveNoRuns) {
  TDataLogStore store = StoreWith(1, {});
  EXPECT_EQ(store.RunCount(), 0);
  EXPECT_EQ(store.SessionCount(), 0);
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.RunOfPosition(5), 0);
  EXPECT_EQ(store.TimeInRun(5), 0);
  store = StoreWith(1, {7});
  EXPECT_EQ(store.RunCount(), 0);
  EXPECT_EQ(store.RecordCount(), 1);
}

TEST(SetRecords, MoreThan256RunsStayApart) {
  // Period 1: runs of 13 records 900 ticks apart (10.8 s), 9 s between runs.
  std::vector<int32_t> ticks;
  for (int run = 0; run < 300; ++run)
    for (int i = 0; i < 13; ++i) ticks.push_back(run * 20000 + i * 900);
  TDataLogStore store = StoreWith(1, ticks);
  ASSERT_EQ(store.RunCount(), 300);
  EXPECT_EQ(store.RunOfPosition(store.RunFirst(299) + 3), 299);
  EXPECT_EQ(store.RunOfPosition(store.RunFirst(256)), 256);
  // Notes find their run by its first record.
  store.SetRunNote(299, "last");
  store.SetRunNote(43, "forty-three");
  TMemoryStream notes;
  store.WriteNotes(notes);
  TDataLogStore again = StoreWith(1, ticks);
  notes.SetPosition(0);
  again.ReadNotes(notes);
  EXPECT_EQ(again.GetRunNote(299), "last");
  EXPECT_EQ(again.GetRunNote(43), "forty-three");
}

// --- queries over records ------------------------------------------------------------------------

TEST(RecordQueries, PositionsAreRecordIndexesTimesPeriod) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 100, 1200);      // run 0: records 0..1199, ticks 100..1299
  AppendTicks(ticks, 1500, 1200);     // run 1: records 1200..2399, ticks 1500..2699
  AppendTicks(ticks, 2000000, 1200);  // run 2, session 1: records 2400..
  TDataLogStore store = StoreWith(10, ticks);
  ASSERT_EQ(store.RunCount(), 3);
  EXPECT_EQ(store.RecordCount(), 3600);
  EXPECT_EQ(store.RunStartTime(1), 15000);
  EXPECT_EQ(store.RunDuration(1), 11990);
  EXPECT_EQ(store.RunDuration(7), 0);
  EXPECT_EQ(store.TimeFromStart(1200), 14000);
  EXPECT_EQ(store.RunOfPosition(12000), 1);
  EXPECT_EQ(store.RunOfPosition(11990), 0);
  // Position 12345 is record 1234, the 35th of run 1.
  EXPECT_EQ(store.TimeInRun(12345), 340);
  // Within the session, from the first record of run 0.
  EXPECT_EQ(store.TimeInSession(12345), (1534 - 100) * 10);
  EXPECT_EQ(store.TimeInSession(24010), 10);
  // Positions past the end count as the last record.
  EXPECT_EQ(store.TimeInRun(1000000), 1199 * 10);
  EXPECT_EQ(store.RunStartDate(-1), 0);
  EXPECT_EQ(store.RunFirst(99), 0);
}

TEST(RecordQueries, ReadNextAndGetSampleFillTheRecordChannels) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 5000, 1200);
  TLogArray records = RecordsAt(ticks);
  records[1205].frontCount = 9;
  records[1205].rearValue = -3;
  records[1205].values = {300, -2, 7, 8, 9};
  TDataLogStore store;
  store.SetPeriod(10);
  store.SetRecords(records);
  store.SetValueScale(4);
  store.SelectRun(1);
  TLogSample sample;
  EXPECT_FALSE(store.ReadNext(45, sample));  // not a multiple of the period
  EXPECT_EQ(sample.channels[0], -1);
  ASSERT_TRUE(store.ReadNext(50, sample));
  EXPECT_EQ(sample.time, 5005u);
  EXPECT_EQ(sample.frontCount, 9);
  EXPECT_EQ(sample.rearValue, -3);
  EXPECT_EQ(sample.channels[0], 1200);  // scaled by 4
  EXPECT_EQ(sample.channels[1], -8);
  EXPECT_EQ(sample.channels[18], 7);
  EXPECT_EQ(sample.channels[19], 8);
  EXPECT_EQ(sample.channels[20], 9);
  EXPECT_EQ(sample.channels[2], -1);                 // not carried by the records
  EXPECT_FALSE(store.ReadNext(12000 * 10, sample));  // past the last record
  TLogSample random;
  store.GetSample(1205, random);
  EXPECT_EQ(random.time, 5005u);
  EXPECT_EQ(random.channels[0], 1200);
  TLogSample outside;
  store.GetSample(99999, outside);
  EXPECT_EQ(outside.time, 99999u);
  EXPECT_EQ(outside.channels[0], -1);
  store.SelectRun(5);
  EXPECT_FALSE(store.ReadNext(0, sample));
}

// --- reading the data section --------------------------------------------------------------------

std::vector<uint8_t> Section(uint32_t tag, int32_t period, const std::vector<uint8_t>& data,
                             std::optional<int32_t> length = std::nullopt) {
  return sim::BuildDataSection(tag, period, data, 44000.25, length);
}

TEST(ReadData, FailuresCarryTheirMessages) {
  auto read = [](const std::vector<uint8_t>& bytes) {
    return MessageOf([&] {
      TDataLogStore store;
      TMemoryStream s(bytes);
      store.ReadData(s);
    });
  };
  EXPECT_EQ(read(Section(0x9A74, 1, {})), "Invalid data");
  EXPECT_EQ(read(Section(kTagSampleRecords, -1, {})), "Invalid sampling rate in file");
  EXPECT_EQ(read(Section(kTagSampleRecords, 0, {})), "Invalid sampling rate in file");
  EXPECT_EQ(read(Section(kTagCompactRecords, 0x10000, {})), "Invalid sampling rate in file");
  EXPECT_EQ(read(Section(kTagSampleRecords, 1, std::vector<uint8_t>(22), 44)), "Stream read error");
  EXPECT_EQ(read(std::vector<uint8_t>(10)), "Stream read error");
}

TEST(ReadData, SampleRecordsIgnoreATrailingPartialRecordAndKeepTheStreamInStep) {
  TLogArray records = RecordsAt({5, 6, 7});
  std::vector<uint8_t> data = sim::SampleRecordBytes(records);
  data.resize(data.size() + 9, 0xEE);                                     // 9 stray bytes
  std::vector<uint8_t> file = Section(kTagSampleRecords, 0x2000A, data);  // period 10
  file.push_back(0x42);
  TDataLogStore store;
  TMemoryStream s(file);
  store.ReadData(s);
  EXPECT_EQ(store.Period(), 10);
  EXPECT_EQ(store.Encoding(), kTagSampleRecords);
  ASSERT_EQ(store.Records().size(), 3u);
  EXPECT_EQ(store.Records()[2], records[2]);
  EXPECT_EQ(s.ReadU8(), 0x42);
  EXPECT_DOUBLE_EQ(store.Created(), 44000.25);
}

TEST(ReadData, WriteDataReproducesEachEncoding) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 10, 1500);
  const std::vector<uint8_t> records =
      Section(kTagSampleRecords, 3, sim::SampleRecordBytes(RecordsAt(ticks)));
  TLogArray decoded(4);
  for (size_t i = 0; i < decoded.size(); ++i) {
    decoded[i].tick = int32_t(100 + i + (i == 3 ? 8 : 0));
    decoded[i].values = {int16_t(2 * i), 4, 6, 8, 10};
  }
  decoded[3].values[0] = 900;
  const std::vector<uint8_t> compact =
      Section(kTagCompactRecords, 2, sim::CompactBytes(sim::EncodeCompactRecords(decoded)));
  sim::TFlashImageEncoder enc({testing::Group(1, {0, 1})});
  enc.BeginSession(77, 5555);
  enc.AdvanceTo(5000, testing::Source(enc.Groups()));
  enc.Finish();
  const std::vector<uint8_t> image = Section(kTagFlashImage, 1, enc.Image());
  for (const auto* bytes : {&records, &compact, &image}) {
    TDataLogStore store;
    store.SetGroups(enc.Groups());
    TMemoryStream in(*bytes);
    store.ReadData(in);
    TMemoryStream out;
    store.WriteData(out);
    EXPECT_EQ(out.Bytes(), *bytes);
  }
}

// --- compact records -----------------------------------------------------------------------------

TType1Data Compact(std::initializer_list<TCompactRecord> records) {
  return TType1Data(records);
}

TDataLogStore ReadCompact(const TType1Data& records, int32_t period = 1) {
  TDataLogStore store;
  TMemoryStream s(Section(kTagCompactRecords, period, sim::CompactBytes(records), -1));
  store.ReadData(s);
  return store;
}

TEST(CompactRecords, DecodeTicksTriggersAbsoluteAndDeltaValues) {
  const TType1Data data = Compact({
      {0xB0, 0x00, 0xE8, 0x03, 0x00, 0x00},  // LNB: tick 1000
      {0xA5, 0x07, 0x10, 0x00, 0x00, 0x00},  // front 7, 16 (tick already set)
      {0x93, 0x03, 0x20, 0x00, 0x00, 0x00},  // rear 3, 32
      {0x41, 0x10, 0x05, 0x00, 0x01, 0xFF},  // absolute: 544, 10, 0, 2, 510
      {0x02, 0x01, 0xFF, 0x00, 0x00, 0x00},  // delta: +1, -1
      {0xC3, 0x11, 0x22, 0x33, 0x44, 0x55},  // filler
      {0x82, 0x91, 0xFB, 0xFF, 0x2C, 0x01},  // both: tick 1002, counts 9 and 17, -5, 300
      {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // delta 0, at the trigger's tick
      {0x1F, 0x00, 0x00, 0x00, 0x00, 0x00},  // delta -256 on all five
  });
  TDataLogStore store = ReadCompact(data, 1);
  const TLogArray& r = store.Records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].tick, 1000);
  EXPECT_EQ(r[0].frontCount, 7);
  EXPECT_EQ(r[0].frontValue, 16);
  EXPECT_EQ(r[0].rearCount, 3);
  EXPECT_EQ(r[0].rearValue, 32);
  EXPECT_EQ(r[0].values, (std::array<int16_t, 5>{544, 10, 0, 2, 510}));
  EXPECT_EQ(r[1].tick, 1001);
  EXPECT_EQ(r[1].values, (std::array<int16_t, 5>{545, 9, 0, 2, 510}));
  EXPECT_EQ(r[2].tick, 1002);
  EXPECT_EQ(r[2].frontCount, 9);
  EXPECT_EQ(r[2].rearCount, 17);
  EXPECT_EQ(r[2].frontValue, -5);
  EXPECT_EQ(r[2].rearValue, 300);
  EXPECT_EQ(r[3].tick, 1003);
  EXPECT_EQ(r[3].values, (std::array<int16_t, 5>{289, -247, -256, -254, 254}));
  EXPECT_EQ(store.CompactData(), data);
}

TEST(CompactRecords, EncoderOutputDecodesToTheSameRecords) {
  TLogArray records;
  for (int i = 0; i < 500; ++i) {
    TLogRecord r;
    r.tick = 70000 + i + (i > 300 ? 40 : 0);
    r.frontCount = uint8_t(i / 7);
    r.frontValue = int16_t(i * 3);
    r.rearCount = uint8_t(i / 40 * 20);  // jumps of 20: separate rear records
    r.rearValue = int16_t(-i);
    r.values = {int16_t(400 + (i % 50) * 2), int16_t(i % 2 ? 1000 : 0), 6, 8, int16_t(2 * i)};
    records.push_back(r);
  }
  TDataLogStore store = ReadCompact(sim::EncodeCompactRecords(records));
  EXPECT_EQ(store.Records(), records);
}

TEST(CompactRecords, FirstFourRecordsMustBeLnbFrontRearAbsolute) {
  const TCompactRecord lnb = sim::CompactTimestamp(5);
  const TCompactRecord front = sim::CompactFrontTrigger(0, 0, 0);
  const TCompactRecord rear = sim::CompactRearTrigger(0, 0, 0);
  const TCompactRecord absolute = sim::CompactAbsolute({0, 0, 0, 0, 0});
  auto failure = [](const TType1Data& d) { return MessageOf([&] { ReadCompact(d); }); };
  EXPECT_EQ(failure({front, front, rear, absolute}), "Missing LNB record");
  EXPECT_EQ(failure({lnb, rear, rear, absolute}), "Missing front trig record");
  EXPECT_EQ(failure({lnb, front, front, absolute}), "Missing rear trig record");
  EXPECT_EQ(failure({lnb, front, rear, sim::CompactDelta({0, 0, 0, 0, 0})}),
            "Missing Absolute record");
  EXPECT_EQ(failure({lnb, front, rear, absolute}), "(no failure)");
  EXPECT_EQ(failure({lnb, front}), "(no failure)");
  // A filler is ignored, checks included: it takes the place of the LNB record here.
  EXPECT_EQ(failure({sim::CompactFiller(), front, rear, absolute}), "(no failure)");
}

TEST(CompactRecords, TrailingPartialRecordIsIgnored) {
  TLogArray records(3);
  for (size_t i = 0; i < records.size(); ++i) records[i].tick = int32_t(i + 1);
  std::vector<uint8_t> bytes = sim::CompactBytes(sim::EncodeCompactRecords(records));
  bytes.push_back(0x40);  // the start of a seventh-byte record
  TDataLogStore store;
  TMemoryStream s(Section(kTagCompactRecords, 1, bytes));
  store.ReadData(s);
  EXPECT_EQ(store.Records().size(), 3u);
  EXPECT_TRUE(s.AtEnd());
}

// --- notes ---------------------------------------------------------------------------------------

TDataLogStore TwoRuns() {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 5000, 1200);
  return StoreWith(10, ticks);
}

TEST(Notes, WriteThenReadGivesTheNotesBack) {
  TDataLogStore store = TwoRuns();
  store.SetRunNote(0, "rocky");
  store.SetRunNote(1, "");
  TMemoryStream s;
  store.WriteNotes(s);
  const auto& b = s.Bytes();
  ASSERT_EQ(b.size(), 4u + 2 + 14 + 6 + 5 + 6);
  EXPECT_EQ(GetU32(&b[0]), TDataLogStore::kNotesMagic);
  EXPECT_EQ(GetU16(&b[4]), 14 + 11 + 6);
  EXPECT_EQ(GetI32(&b[6]), -1);  // no reference tick
  EXPECT_EQ(GetU16(&b[18]), 2);
  EXPECT_EQ(GetI32(&b[20]), 0);
  EXPECT_EQ(GetI32(&b[31]), 1200);
  TDataLogStore again = TwoRuns();
  s.SetPosition(0);
  again.ReadNotes(s);
  EXPECT_EQ(again.GetRunNote(0), "rocky");
  EXPECT_TRUE(s.AtEnd());
}

TEST(Notes, WrongMagicLeavesTheStreamWhereItWas) {
  TDataLogStore store = TwoRuns();
  TMemoryStream s(std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
  s.SetPosition(1);
  store.ReadNotes(s);
  EXPECT_EQ(s.Position(), 1);
  TMemoryStream shortStream(std::vector<uint8_t>{0x19, 0xF2});
  store.ReadNotes(shortStream);
  EXPECT_EQ(shortStream.Position(), 0);
}

TEST(Notes, TextLongerThanTheBlockIsCutAndShortBlocksDoNotStepBack) {
  TDataLogStore store = TwoRuns();
  TMemoryStream s;
  s.WriteU32(TDataLogStore::kNotesMagic);
  s.WriteU16(14 + 6 + 3);  // room for three characters
  s.WriteI32(-1);
  s.WriteF64(0);
  s.WriteU16(1);
  s.WriteI32(1200);  // run 1's first record
  s.WriteU16(10);
  s.WriteBytes(std::string("abcdefghij"));
  s.SetPosition(0);
  store.ReadNotes(s);
  EXPECT_EQ(store.GetRunNote(1), "abc");
  EXPECT_EQ(s.Position(), 4 + 2 + 14 + 6 + 3);

  TMemoryStream tiny;
  tiny.WriteU32(TDataLogStore::kNotesMagic);
  tiny.WriteU16(0);
  tiny.WriteU16(5);
  tiny.WriteU8(0xAA);
  tiny.SetPosition(0);
  store.ReadNotes(tiny);
  EXPECT_EQ(tiny.Position(), 8);
}

TEST(Notes, BlockOf65535BytesIsWrittenAndOneMoreFails) {
  TDataLogStore store = TwoRuns();
  store.SetRunNote(0, std::string(65535 - 14 - 12 - 1, 'x'));
  store.SetRunNote(1, "y");
  TMemoryStream ok;
  store.WriteNotes(ok);
  EXPECT_EQ(GetU16(&ok.Bytes()[4]), 65535);
  store.SetRunNote(1, "yz");
  TMemoryStream fail;
  EXPECT_EQ(MessageOf([&] { store.WriteNotes(fail); }), "Too many notes");
  EXPECT_EQ(fail.Size(), 0);
}

TEST(Notes, ReferenceTickDatesTheRuns) {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 0x1000000 + 2000, 1200);  // more than 0xFFFFFF ticks later
  AppendTicks(ticks, 0x1000000 + 5000, 1200);
  TDataLogStore store = StoreWith(10, ticks);
  ASSERT_EQ(store.RunCount(), 3);
  const int32_t ref = 0x1000000 + 6200;
  TMemoryStream s;
  s.WriteU32(TDataLogStore::kNotesMagic);
  s.WriteU16(14);
  s.WriteI32(ref);
  s.WriteF64(45000.0);
  s.WriteU16(0);
  s.SetPosition(0);
  store.ReadNotes(s);
  EXPECT_EQ(store.RefTick(), ref);
  EXPECT_DOUBLE_EQ(store.RefDate(), 45000.0);
  EXPECT_DOUBLE_EQ(store.RunStartDate(2), 45000.0 - 1200.0 * 10 / 86400000.0);
  EXPECT_DOUBLE_EQ(store.RunStartDate(1), 45000.0 - 4200.0 * 10 / 86400000.0);
  EXPECT_EQ(store.RunStartDate(0), 0);  // before the long gap: left undated
  EXPECT_DOUBLE_EQ(store.SessionStartDate(1), store.RunStartDate(1));

  TDataLogStore far = StoreWith(10, ticks);
  far.SetAbsoluteTime(ticks.back() + 0x1000000, 45000.0);
  EXPECT_EQ(far.RunStartDate(2), 0);
  far.SetAbsoluteTime(-1, 45000.0);
  EXPECT_EQ(far.RunStartDate(2), 0);
}

// --- groups
// ----------------------------------------------------------------------------------------

TEST(Groups, ChannelMapFollowsTheGroupListAndLaterGroupsWin) {
  TDataLogStore store;
  store.SetGroups({testing::Group(5, {0, 1}), testing::Group(10, {1, 40, -3, 31})});
  EXPECT_EQ(store.ChannelGroup(0), 0);
  EXPECT_EQ(store.ChannelGroup(1), 1);
  EXPECT_EQ(store.ChannelMap()[1].position, 0);
  EXPECT_EQ(store.ChannelMap()[31].position, 3);
  EXPECT_EQ(store.ChannelGroup(2), -1);
  EXPECT_EQ(store.ChannelGroup(-1), -1);
  EXPECT_EQ(store.ChannelGroup(32), -1);
  EXPECT_EQ(store.ChannelPeriod(0), 5u);
  EXPECT_EQ(store.ChannelPeriod(1), 10u);
  EXPECT_EQ(store.ChannelPeriod(2), 0u);
  EXPECT_EQ(store.ChannelPeriod(-1), 1u);
  EXPECT_EQ(store.ChannelPeriod(32), 1u);
}

}  // namespace
}  // namespace qvl
