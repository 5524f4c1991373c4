#include "sim/flash_image_encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"

namespace qvl::sim {

// --- single records ----------------------------------------------------------------------------

namespace {

TRecord6 Record6(uint8_t header, uint8_t number, uint32_t value) {
  TRecord6 r{header, number, 0, 0, 0, 0};
  PutU32(&r[2], value);
  return r;
}

}  // namespace

TRecord6 TimestampRecord(uint32_t tick, uint8_t header, uint8_t number) {
  if ((header & 0xF9) != 0xB0 && (header & 0xF9) != 0xB8)
    throw std::invalid_argument("not a timestamp header");
  if (header == flashrec::kTimeMark) throw std::invalid_argument("0xB8 is a time mark");
  return Record6(header, number, tick);
}

TRecord6 ClockRecord(uint32_t deviceTime, uint8_t header, uint8_t number) {
  if ((header & 0xF1) != 0xB1) throw std::invalid_argument("not a clock header");
  return Record6(header, number, deviceTime);
}

TRecord6 TimeMarkRecord(uint32_t tick) {
  return Record6(flashrec::kTimeMark, 0, tick);
}

std::vector<uint8_t> PackGroupValues(std::span<const uint16_t> values) {
  const int n = int(values.size());
  std::vector<uint8_t> out(GroupDataSize(n) + 1, 0);  // one spare byte for the last word
  for (int k = 0; k < n; ++k) {
    const size_t at = size_t(3 * k / 2);
    const uint16_t v = values[size_t(k)] & 0x0FFF;
    if (k % 2 == 0) {
      out[at] = uint8_t(v);
      out[at + 1] = uint8_t((out[at + 1] & 0xF0) | (v >> 8));
    } else {
      out[at] = uint8_t((out[at] & 0x0F) | ((v & 0x0F) << 4));
      out[at + 1] = uint8_t(v >> 4);
    }
  }
  out.resize(GroupDataSize(n));
  return out;
}

std::vector<uint8_t> GroupRecord(int group, std::span<const uint16_t> values) {
  if (group < 0 || group > 15) throw std::invalid_argument("group index outside 0..15");
  std::vector<uint8_t> r{uint8_t(flashrec::kGroupData | group)};
  std::vector<uint8_t> packed = PackGroupValues(values);
  r.insert(r.end(), packed.begin(), packed.end());
  return r;
}

TRecord6 BothTriggersRecord(uint8_t tickLow, uint8_t frontCount, uint8_t rearCount,
                            int16_t frontValue, int16_t rearValue) {
  TRecord6 r{uint8_t(flashrec::kBothTriggers | (tickLow & 7)),
             uint8_t(((frontCount & 0x0F) << 4) | (rearCount & 0x0F)),
             0,
             0,
             0,
             0};
  PutI16(&r[2], frontValue);
  PutI16(&r[4], rearValue);
  return r;
}

TRecord4 FrontTriggerRecord(uint8_t tickLow, uint8_t count, int16_t value) {
  TRecord4 r{uint8_t(flashrec::kFrontTrigger | (tickLow & 7)), count, 0, 0};
  PutI16(&r[2], value);
  return r;
}

TRecord4 RearTriggerRecord(uint8_t tickLow, uint8_t count, int16_t value) {
  TRecord4 r{uint8_t(flashrec::kRearTrigger | (tickLow & 7)), count, 0, 0};
  PutI16(&r[2], value);
  return r;
}

// --- the encoder -------------------------------------------------------------------------------

TFlashImageEncoder::TFlashImageEncoder(TDataLogGroups groups, uint32_t baseAddress,
                                       uint32_t sectorSize)
    : groups_(std::move(groups)), base_(baseAddress), sectorSize_(sectorSize) {
  if (groups_.size() > 16) throw std::invalid_argument("more than 16 logging groups");
  for (const TDataLogGroup& g : groups_) {
    if (g.period == 0) throw std::invalid_argument("logging group with period 0");
    if (g.count < 0 || g.count > kMaxGroupChannels)
      throw std::invalid_argument("logging group channel count outside 0..33");
  }
  if (base_ % kFlashPageSize != 0) throw std::invalid_argument("base address not on a page");
  if (sectorSize_ == 0 || sectorSize_ % kFlashPageSize != 0)
    throw std::invalid_argument("sector size not a multiple of the page size");
  counts_.assign(groups_.size(), 0);
}

uint64_t TFlashImageEncoder::RelOf(uint32_t tick) const {
  if (!started_) return 0;
  const uint32_t rel = tick - startTick_;
  return rel > 0x7FFFFFFFu ? 0 : rel;  // a tick before the start counts as the start
}

uint32_t TFlashImageEncoder::GridStep() const {
  uint64_t step = 1;
  for (const TDataLogGroup& g : groups_) {
    step = std::lcm(step, uint64_t(g.period));
    if (step > (1u << 30)) return 1;  // no common grid worth aligning to
  }
  return uint32_t(step);
}

uint64_t TFlashImageEncoder::DueRel(size_t g) const {
  const uint64_t p = groups_[g].period;
  uint64_t ts = p * counts_[g];
  if (ts < current_) ts = (current_ + p - 1) / p * p;
  return ts;
}

bool TFlashImageEncoder::ExtendTo(uint64_t rel) {
  bool extended = false;
  for (size_t g = 0; g < groups_.size(); ++g) {
    const uint64_t p = groups_[g].period;
    const uint64_t need = (rel + p - 1) / p;  // while p * count < rel: count += 1
    if (counts_[g] < need) {
      counts_[g] = need;
      extended = true;
    }
  }
  return extended;
}

void TFlashImageEncoder::Put(const uint8_t* bytes, size_t n) {
  image_.insert(image_.end(), bytes, bytes + n);
}

void TFlashImageEncoder::PutTimestamp(uint64_t relTick, uint8_t header, uint8_t number) {
  TRecord6 r = TimestampRecord(uint32_t(startTick_ + relTick), header, number);
  Put(r.data(), r.size());
  record_ = relTick;
  ExtendTo(relTick);
  // The viewer walks time one tick after the other. A timestamp whose tick is already due
  // becomes the time reached; one that lies ahead stops the reader, which later carries on from
  // there without taking the timestamp's tick as the time reached.
  if (relTick <= walk_)
    current_ = relTick;
  else
    walk_ = relTick;
}

void TFlashImageEncoder::OpenPage(uint8_t flags, uint64_t relTick,
                                  std::optional<uint32_t> deviceTime, uint8_t number) {
  EndPage(TPageTail::Erased);
  pageStart_ = image_.size();
  pageOpen_ = true;
  const uint8_t lnbHeader = uint8_t(0xB0 | (flags & (kHeaderRunStart | kHeaderSessionStart)));
  if (sectorHeaders_ && !deviceTime && (uint64_t(base_) + pageStart_) % sectorSize_ == 0 &&
      !runs_.empty()) {
    // A sector begun in the middle of a run.
    number = runs_.back().sdFileNumber;
    if (clockKnown_) deviceTime = clockDevice_ + uint32_t(startTick_ + relTick - clockTick_) / 1024;
  }
  if (deviceTime) {
    TRecord6 clock = ClockRecord(*deviceTime,
                                 uint8_t(0xB0 | kHeaderClock | kHeaderSessionClock |
                                         (flags & (kHeaderRunStart | kHeaderSessionStart))),
                                 number);
    Put(clock.data(), clock.size());
  }
  PutTimestamp(relTick, lnbHeader, number);
  const size_t page = pageStart_ / kFlashPageSize;
  if (!runs_.empty()) {
    runs_.back().endPage = page + 1;
    runs_.back().endTick = uint32_t(startTick_ + relTick);
  }
  if (!sessions_.empty()) sessions_.back().endPage = page + 1;
}

bool TFlashImageEncoder::Reserve(size_t n, uint64_t relTick, size_t limit) {
  if (!started_) throw std::logic_error("flash image encoder: BeginSession first");
  if (pageOpen_ && image_.size() - pageStart_ + n <= limit) return false;
  OpenPage(0, std::max(relTick, current_), std::nullopt, 0);  // never a stale page
  return true;
}

void TFlashImageEncoder::EndPage(TPageTail tail) {
  if (!pageOpen_) return;
  const size_t used = image_.size() - pageStart_;
  size_t remaining = kFlashPageSize - used;
  if (tail == TPageTail::EndMarker && remaining > 0) {
    // An end byte 0xC0 + n moves the reader n + 1 bytes on; a move that lands exactly on the page
    // end lets it carry on there, any other one sends it to the next page. On the last byte only
    // 0xC0 is safe (0xC1 would carry the reader past the next page's start).
    const size_t n = remaining == 1 ? 0 : std::min<size_t>(remaining - 1, 31);
    image_.push_back(uint8_t(0xC0 | n));
    --remaining;
  }
  image_.insert(image_.end(), remaining, 0xFF);
  pageOpen_ = false;
}

uint32_t TFlashImageEncoder::BeginSession(uint32_t tick, std::optional<uint32_t> deviceTime,
                                          uint8_t sdFileNumber) {
  EndPage(TPageTail::Erased);
  while ((uint64_t(base_) + image_.size()) % sectorSize_ != 0)
    image_.insert(image_.end(), kFlashPageSize, 0xFF);
  clockKnown_ = false;
  TSessionInfo session;
  session.firstPage = image_.size() / kFlashPageSize;
  session.endPage = session.firstPage;
  session.firstRun = int(runs_.size());
  session.hasClock = deviceTime.has_value();
  sessions_.push_back(session);
  return BeginRun(tick, deviceTime, sdFileNumber);
}

uint32_t TFlashImageEncoder::BeginRun(uint32_t tick, std::optional<uint32_t> deviceTime,
                                      uint8_t sdFileNumber) {
  if (sessions_.empty()) return BeginSession(tick, deviceTime, sdFileNumber);
  EndPage(TPageTail::Erased);
  uint8_t flags = kHeaderRunStart;
  TSessionInfo& session = sessions_.back();
  if (session.runCount == 0) flags |= kHeaderSessionStart;
  uint64_t rel = 0;
  if (!started_) {
    started_ = true;
    startTick_ = tick;
  } else {
    rel = std::max(RelOf(tick), Reached());
    const uint64_t step = GridStep();
    rel = (rel + step - 1) / step * step;
  }
  // The clock given is the device time at `tick`; keep it in step with the aligned start.
  if (deviceTime) {
    const uint32_t moved = uint32_t(startTick_ + rel) - tick;
    *deviceTime += moved / 1024;
  }
  TRunInfo run;
  run.firstPage = image_.size() / kFlashPageSize;
  run.endPage = run.firstPage + 1;
  run.startTick = uint32_t(startTick_ + rel);
  run.endTick = run.startTick;
  run.hasClock = deviceTime.has_value();
  run.deviceTime = deviceTime.value_or(0);
  run.sdFileNumber = sdFileNumber;
  run.session = int(sessions_.size()) - 1;
  runs_.push_back(run);
  if (deviceTime) {
    clockKnown_ = true;
    clockDevice_ = *deviceTime;
    clockTick_ = run.startTick;
  }
  ++session.runCount;
  OpenPage(flags, rel, deviceTime, sdFileNumber);
  return run.startTick;
}

uint32_t TFlashImageEncoder::NextSampleTick(int group) const {
  return uint32_t(startTick_ + DueRel(size_t(group)));
}

uint32_t TFlashImageEncoder::NextDueTick() const {
  uint64_t m = std::numeric_limits<uint64_t>::max();
  for (size_t g = 0; g < groups_.size(); ++g) m = std::min(m, DueRel(g));
  return groups_.empty() ? CurrentTick() : uint32_t(startTick_ + m);
}

uint32_t TFlashImageEncoder::WriteSample(int group, std::span<const uint16_t> values) {
  if (group < 0 || size_t(group) >= groups_.size())
    throw std::invalid_argument("no such logging group");
  const size_t g = size_t(group);
  if (values.size() != size_t(groups_[g].count))
    throw std::invalid_argument("value count differs from the group's channel count");
  std::vector<uint8_t> record = GroupRecord(group, values);
  Reserve(record.size(), DueRel(g));
  const uint64_t ts = DueRel(g);
  Put(record.data(), record.size());
  counts_[g] = ts / groups_[g].period + 1;
  current_ = ts;
  walk_ = std::max(walk_, ts);
  return uint32_t(startTick_ + ts);
}

void TFlashImageEncoder::AdvanceTo(uint32_t tick, const TSampleSource& source) {
  if (!started_) throw std::logic_error("flash image encoder: BeginSession first");
  const uint64_t until = RelOf(tick);
  std::array<uint16_t, kMaxGroupChannels> values{};
  for (;;) {
    uint64_t m = std::numeric_limits<uint64_t>::max();
    for (size_t g = 0; g < groups_.size(); ++g) m = std::min(m, DueRel(g));
    if (m >= until) break;
    for (size_t g = 0; g < groups_.size(); ++g) {
      if (DueRel(g) != m) continue;
      const int n = groups_[g].count;
      values.fill(0);
      source(int(g), uint32_t(startTick_ + m), values.data(), n);
      WriteSample(int(g), std::span<const uint16_t>(values.data(), size_t(n)));
    }
  }
}

void TFlashImageEncoder::EmptySlot() {
  if (groups_.empty()) throw std::logic_error("an empty slot needs a logging group");
  uint64_t m = std::numeric_limits<uint64_t>::max();
  for (size_t g = 0; g < groups_.size(); ++g)
    m = std::min(m, uint64_t(groups_[g].period) * counts_[g]);
  // The reader counts an empty slot only below offset 4094 of a page.
  Reserve(1, m, kFlashPageSize - 2);
  image_.push_back(flashrec::kEmptySlot);
  // The reader moves its record time on by one tick until some group falls behind it, and makes
  // every group that did repeat its sample.
  uint64_t r = record_ + 1;
  bool behind = false;
  for (size_t g = 0; g < groups_.size(); ++g)
    if (uint64_t(groups_[g].period) * counts_[g] < r) behind = true;
  if (!behind) {
    uint64_t least = std::numeric_limits<uint64_t>::max();
    for (size_t g = 0; g < groups_.size(); ++g)
      least = std::min(least, uint64_t(groups_[g].period) * counts_[g]);
    r = std::max(r, least + 1);
  }
  ExtendTo(r);
  record_ = r;
  current_ = r;
}

void TFlashImageEncoder::Trigger(uint64_t relTick, const uint8_t* record, size_t n) {
  Put(record, n);
  // The reader puts the record at the first tick from the time reached on with the record's low
  // three bits. After a timestamp that lay ahead that is not relTick, but the timestamp has
  // already held the record back until relTick.
  const uint32_t reached = uint32_t(startTick_ + current_);
  uint32_t tick = (reached & ~7u) | (uint32_t(startTick_ + relTick) & 7u);
  if (tick < reached) tick += 8;
  current_ = uint32_t(tick - startTick_);
  record_ = current_;
  walk_ = std::max(walk_, current_);
}

uint64_t TFlashImageEncoder::PrepareTrigger(uint32_t tick, size_t n) {
  if (!started_) throw std::logic_error("flash image encoder: BeginSession first");
  const uint64_t e = std::max(RelOf(tick), Reached());
  // The record carries only the tick's low three bits: at most 7 ticks past the time reached.
  if (pageOpen_ && e - current_ > 7) Timestamp(uint32_t(startTick_ + e));
  Reserve(n, e);
  return e;
}

void TFlashImageEncoder::FrontTrigger(uint32_t tick, uint8_t count, int16_t value) {
  const uint64_t e = PrepareTrigger(tick, 4);
  TRecord4 r = FrontTriggerRecord(uint8_t(startTick_ + e), count, value);
  Trigger(e, r.data(), r.size());
}

void TFlashImageEncoder::RearTrigger(uint32_t tick, uint8_t count, int16_t value) {
  const uint64_t e = PrepareTrigger(tick, 4);
  TRecord4 r = RearTriggerRecord(uint8_t(startTick_ + e), count, value);
  Trigger(e, r.data(), r.size());
}

void TFlashImageEncoder::BothTriggers(uint32_t tick, uint8_t frontCount, uint8_t rearCount,
                                      int16_t frontValue, int16_t rearValue) {
  const uint64_t e = PrepareTrigger(tick, 6);
  TRecord6 r =
      BothTriggersRecord(uint8_t(startTick_ + e), frontCount, rearCount, frontValue, rearValue);
  Trigger(e, r.data(), r.size());
}

void TFlashImageEncoder::TimeMark(uint32_t tick) {
  Reserve(6, Reached());
  TRecord6 r = TimeMarkRecord(tick);
  Put(r.data(), r.size());
}

void TFlashImageEncoder::Timestamp(uint32_t tick) {
  if (!started_) throw std::logic_error("flash image encoder: BeginSession first");
  const uint64_t e = std::max(RelOf(tick), Reached());
  if (Reserve(6, e)) return;  // the new page's header already carries it
  PutTimestamp(e, flashrec::kTimestamp, 0);
}

void TFlashImageEncoder::WriteRaw(std::span<const uint8_t> bytes) {
  if (!pageOpen_) throw std::logic_error("flash image encoder: no page open");
  if (image_.size() - pageStart_ + bytes.size() > kFlashPageSize)
    throw std::invalid_argument("raw bytes do not fit in the page");
  Put(bytes.data(), bytes.size());
}

// --- files -------------------------------------------------------------------------------------

void CopyIntoFlash(std::vector<uint8_t>& flash, uint32_t address, std::span<const uint8_t> image) {
  if (flash.empty()) return;
  const size_t size = flash.size();
  size_t at = address % size;
  size_t done = 0;
  while (done < image.size()) {
    const size_t n = std::min(image.size() - done, size - at);
    std::memcpy(flash.data() + at, image.data() + done, n);
    done += n;
    at = (at + n) % size;
  }
}

std::vector<uint8_t> BuildDownloadFile(TController& controller, std::span<const uint8_t> image,
                                       TDateTime created) {
  TMemoryStream s;
  WriteDownloadFile(s, controller, image.data(), image.size(), created);
  return std::move(s.Bytes());
}

std::vector<uint8_t> BuildDataSection(uint32_t tag, int32_t period, std::span<const uint8_t> data,
                                      TDateTime created, std::optional<int32_t> length) {
  std::vector<uint8_t> out(20 + data.size());
  PutF64(&out[0], created);
  PutU32(&out[8], tag);
  PutI32(&out[12], period);
  PutI32(&out[16], length.value_or(int32_t(data.size())));
  if (!data.empty()) std::memcpy(out.data() + 20, data.data(), data.size());
  return out;
}

// --- older encodings ---------------------------------------------------------------------------

TCompactRecord CompactTimestamp(uint32_t tick) {
  TCompactRecord r{0xB0, 0, 0, 0, 0, 0};
  PutU32(&r[2], tick);
  return r;
}

TCompactRecord CompactFrontTrigger(uint8_t tickLow, uint8_t count, int16_t value) {
  TCompactRecord r{uint8_t(0xA0 | (tickLow & 7)), count, 0, 0, 0, 0};
  PutI16(&r[2], value);
  return r;
}

TCompactRecord CompactRearTrigger(uint8_t tickLow, uint8_t count, int16_t value) {
  TCompactRecord r{uint8_t(0x90 | (tickLow & 7)), count, 0, 0, 0, 0};
  PutI16(&r[2], value);
  return r;
}

TCompactRecord CompactBothTriggers(uint8_t tickLow, uint8_t frontCount, uint8_t rearCount,
                                   int16_t frontValue, int16_t rearValue) {
  TCompactRecord r{uint8_t(0x80 | (tickLow & 7)),
                   uint8_t(((frontCount & 0x0F) << 4) | (rearCount & 0x0F)),
                   0,
                   0,
                   0,
                   0};
  PutI16(&r[2], frontValue);
  PutI16(&r[4], rearValue);
  return r;
}

namespace {
bool AbsoluteFits(int v) {
  return v >= 0 && v <= 1022 && v % 2 == 0;
}
}  // namespace

TCompactRecord CompactAbsolute(const std::array<int, 5>& values) {
  TCompactRecord r{0x40, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 5; ++i) {
    const int v = values[i];
    if (!AbsoluteFits(v)) throw std::invalid_argument("absolute value not even in 0..1022");
    r[1 + i] = uint8_t((v >> 1) & 0xFF);
    if (v & 0x200) r[0] = uint8_t(r[0] | (1 << i));
  }
  return r;
}

TCompactRecord CompactDelta(const std::array<int, 5>& changes) {
  TCompactRecord r{0x00, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 5; ++i) {
    const int c = changes[i];
    if (c < -256 || c > 255) throw std::invalid_argument("delta outside -256..255");
    if (c < 0) {
      r[0] = uint8_t(r[0] | (1 << i));
      r[1 + i] = uint8_t(c + 256);
    } else {
      r[1 + i] = uint8_t(c);
    }
  }
  return r;
}

TCompactRecord CompactFiller(uint8_t header) {
  if (header < 0xC0) throw std::invalid_argument("filler header below 0xC0");
  return TCompactRecord{header, 0, 0, 0, 0, 0};
}

TType1Data EncodeCompactRecords(const TLogArray& records) {
  TType1Data out;
  if (records.empty()) return out;
  // The reader's state.
  uint32_t t = 0;
  uint8_t fc = 0, rc = 0;
  int16_t fv = 0, rv = 0;
  std::array<int16_t, 5> vals{};

  const TLogRecord& first = records.front();
  if (first.spare != 0) throw std::invalid_argument("spare field must be 0");
  out.push_back(CompactTimestamp(uint32_t(first.tick)));
  t = uint32_t(first.tick);
  out.push_back(CompactFrontTrigger(uint8_t(t), first.frontCount, first.frontValue));
  out.push_back(CompactRearTrigger(uint8_t(t), first.rearCount, first.rearValue));
  std::array<int, 5> abs{};
  for (size_t i = 0; i < 5; ++i) abs[i] = first.values[i];
  out.push_back(CompactAbsolute(abs));
  fc = first.frontCount;
  rc = first.rearCount;
  fv = first.frontValue;
  rv = first.rearValue;
  vals = first.values;

  for (size_t k = 1; k < records.size(); ++k) {
    const TLogRecord& r = records[k];
    if (r.spare != 0) throw std::invalid_argument("spare field must be 0");
    const uint32_t tick = uint32_t(r.tick);
    const bool frontChanged = r.frontCount != fc || r.frontValue != fv;
    const bool rearChanged = r.rearCount != rc || r.rearValue != rv;
    bool tickSet = false;
    if (tick != t + 1) {
      out.push_back(CompactTimestamp(tick));
      tickSet = true;
    }
    const uint8_t low = uint8_t(tick & 7);
    if (frontChanged && rearChanged && uint8_t(r.frontCount - fc) < 16 &&
        uint8_t(r.rearCount - rc) < 16) {
      out.push_back(CompactBothTriggers(low, r.frontCount, r.rearCount, r.frontValue, r.rearValue));
      tickSet = true;
    } else {
      if (frontChanged) {
        out.push_back(CompactFrontTrigger(low, r.frontCount, r.frontValue));
        tickSet = true;
      }
      if (rearChanged) {
        out.push_back(CompactRearTrigger(low, r.rearCount, r.rearValue));
        tickSet = true;
      }
    }
    (void)tickSet;
    fc = r.frontCount;
    rc = r.rearCount;
    fv = r.frontValue;
    rv = r.rearValue;
    std::array<int, 5> changes{};
    bool deltaFits = true;
    bool absoluteFits = true;
    for (size_t i = 0; i < 5; ++i) {
      changes[i] = int16_t(r.values[i] - vals[i]);
      if (changes[i] < -256 || changes[i] > 255) deltaFits = false;
      if (!AbsoluteFits(r.values[i])) absoluteFits = false;
    }
    if (deltaFits) {
      out.push_back(CompactDelta(changes));
    } else if (absoluteFits) {
      for (size_t i = 0; i < 5; ++i) abs[i] = r.values[i];
      out.push_back(CompactAbsolute(abs));
    } else {
      throw std::invalid_argument("values change too much for a compact record");
    }
    vals = r.values;
    t = tick;
  }
  return out;
}

std::vector<uint8_t> CompactBytes(const TType1Data& records) {
  std::vector<uint8_t> out;
  out.reserve(records.size() * kCompactRecordSize);
  for (const TCompactRecord& r : records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

std::vector<uint8_t> SampleRecordBytes(const TLogArray& records) {
  std::vector<uint8_t> out(records.size() * kLogRecordSize);
  for (size_t i = 0; i < records.size(); ++i) EncodeLogRecord(records[i], &out[i * kLogRecordSize]);
  return out;
}

}  // namespace qvl::sim
