#include "core/logdata/data_log_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/device/live_channel.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"

namespace qvl {

namespace {

constexpr int64_t kSessionGap = 0x100000;  // ticks between runs that also end a session
constexpr int64_t kDateGap = 0xFFFFFF;     // ticks beyond which absolute dating stops
// The longest pause (ticks, that is milliseconds) between two pages of a flash image that is
// taken as real: a day. A page's timestamp further ahead of the page before it than this and the
// time that page's records can span is damage.
constexpr uint64_t kLongestPause = 24 * 3600 * 1000;

[[noreturn]] void Fail(const char* message) {
  throw Exception(message);
}

// Bytes left in a stream from its position.
int64_t Remaining(TStream& stream) {
  return std::max<int64_t>(0, stream.Size() - stream.Position());
}

// Bytes read between two progress reports: often enough for a bar and a prompt stop, seldom
// enough to cost nothing.
constexpr size_t kProgressBytes = 64 * 1024;

// Reads n bytes into `to` a part at a time, reporting after each.
void ReadReporting(TStream& stream, void* to, size_t n, const TLoadProgress& progress) {
  uint8_t* bytes = static_cast<uint8_t*>(to);
  for (size_t done = 0; done < n;) {
    const size_t k = std::min(kProgressBytes, n - done);
    stream.ReadBuffer(bytes + done, k);
    done += k;
    ReportProgress(progress, done, n);
  }
}

}  // namespace

void ReportProgress(const TLoadProgress& progress, uint64_t done, uint64_t total) {
  if (progress && !progress(done, total)) throw ELoadStopped();
}

TLoadProgress ProgressPart(const TLoadProgress& progress, double from, double to) {
  if (!progress) return {};
  return [=](uint64_t done, uint64_t total) {
    const double f = total > 0 ? double(std::min(done, total)) / double(total) : 0;
    return progress(uint64_t(std::lround(1000 * (from + (to - from) * f))), 1000);
  };
}

// --- TGroupIndex ---------------------------------------------------------------------------------

uint32_t TGroupIndex::Offset(uint64_t s) const {
  auto after =
      std::upper_bound(segments_.begin(), segments_.end(), s,
                       [](uint64_t v, const TSegment& seg) { return v < seg.firstSample; });
  if (after == segments_.begin()) return 0;  // a repeat before the group's first sample
  const TSegment& seg = *(after - 1);
  const uint64_t limit = (after == segments_.end() ? offsets_.size() : after->firstOffset) - 1;
  const uint64_t k = std::min(seg.firstOffset + (s - seg.firstSample), limit);
  return offsets_[size_t(k)];
}

void TGroupIndex::Append(uint32_t offset) {
  const bool contiguous =
      !segments_.empty() &&
      segments_.back().firstSample + (offsets_.size() - segments_.back().firstOffset) == count_;
  if (!contiguous) segments_.push_back({count_, offsets_.size()});
  offsets_.push_back(offset);
  ++count_;
}

void TGroupIndex::Clear() {
  offsets_.clear();
  segments_.clear();
  count_ = 0;
}

// --- TDataLogStore -------------------------------------------------------------------------------

TDataLogStore::TDataLogStore() = default;

double TDataLogStore::Created() const {
  return GetF64(created_.data());
}

void TDataLogStore::SetCreated(double created) {
  PutF64(created_.data(), created);
}

// --- reading the data section ---

void TDataLogStore::ReadData(TStream& stream, const TLoadProgress& progress) {
  isImage_ = false;
  endDamaged_ = false;
  stream.ReadBuffer(created_.data(), created_.size());
  const uint32_t tag = stream.ReadU32();
  const int32_t period = stream.ReadI32();
  if (tag != kTagSampleRecords && tag != kTagCompactRecords && tag != kTagFlashImage)
    Fail("Invalid data");
  if (period < 0) Fail("Invalid sampling rate in file");
  // Only the low 16 bits count. The record encodings divide by the period, so 0 is refused there.
  if ((period & 0xFFFF) == 0 && tag != kTagFlashImage) Fail("Invalid sampling rate in file");
  period_ = period & 0xFFFF;
  const int32_t length = stream.ReadI32();
  const int64_t remaining = Remaining(stream);

  if (tag == kTagSampleRecords) {
    const int64_t size = std::max<int32_t>(length, 0);
    if (size > remaining) throw EReadError("Stream read error");
    // A trailing partial record is read over and ignored.
    TLogArray records(size_t(size / int64_t(kLogRecordSize)));
    std::vector<uint8_t> chunk(kLogRecordSize * 4096);
    size_t done = 0;
    while (done < records.size()) {
      const size_t n = std::min(records.size() - done, size_t(4096));
      stream.ReadBuffer(chunk.data(), n * kLogRecordSize);
      for (size_t i = 0; i < n; ++i)
        records[done + i] = DecodeLogRecord(&chunk[i * kLogRecordSize]);
      done += n;
      ReportProgress(progress, done * kLogRecordSize, records.size() * kLogRecordSize);
    }
    stream.Skip(size % int64_t(kLogRecordSize));
    encoding_ = tag;
    compactData_.clear();
    image_.clear();
    groupIndex_.clear();
    timeMarks_.clear();
    SetRecords(std::move(records));
  } else if (tag == kTagCompactRecords) {
    const int64_t size = length < 0 ? remaining : length;
    if (size > remaining) throw EReadError("Stream read error");
    TType1Data data(size_t(size / int64_t(kCompactRecordSize)));
    ReadReporting(stream, data.data(), data.size() * kCompactRecordSize, progress);
    stream.Skip(size % int64_t(kCompactRecordSize));
    TLogArray records;
    DecodeCompact(data, records);
    encoding_ = tag;
    compactData_ = std::move(data);
    image_.clear();
    groupIndex_.clear();
    timeMarks_.clear();
    SetRecords(std::move(records));
  } else {
    const int64_t size = length < 0 ? remaining : length;
    if (size > remaining) throw EReadError("Stream read error");
    encoding_ = tag;
    compactData_.clear();
    records_.clear();
    records_.shrink_to_fit();
    ReadImage(stream, size, progress);
  }
  refDate_ = 0;
}

void TDataLogStore::ReadImage(TStream& stream, int64_t size, const TLoadProgress& progress) {
  image_.clear();
  image_.shrink_to_fit();
  image_.resize(size_t(size));
  ReadReporting(stream, image_.data(), image_.size(), progress);
  runs_.assign(1, TRunRecord{});
  sessions_.assign(1, TSessionEntry{0, 1});
  runOfRecord_.clear();
  discardedCount_ = 0;
  period_ = 1;
  isImage_ = true;
  groupIndex_.assign(groups_.size(), TGroupIndex{});
  timeMarks_.clear();
  IndexImage();
}

bool TDataLogStore::PageTimestamp(size_t at, uint32_t& tick) const {
  const size_t size = image_.size();
  size_t p = at;
  while (p + 6 <= size && (image_[p] & 0xF1) == 0xB1) p += 6;
  if (p + 6 > size || (image_[p] & 0xF9) != 0xB0) return false;
  tick = GetU32(&image_[p + 2]);
  return true;
}

uint32_t TDataLogStore::FindTimestamp(size_t at) const {
  uint32_t tick = 0;
  if (!PageTimestamp(at, tick)) Fail("lnb record not found");
  return tick;
}

size_t TDataLogStore::LastIntactPage(size_t last) const {
  // Pages follow each other in time: a page's timestamp lies neither before the one of the last
  // page that fitted nor further after it than the pages between can span (every byte a sample
  // of the slowest group) plus a pause per page. Pages without a timestamp are passed over.
  uint64_t slowest = 1;
  for (size_t g = 0; g < groups_.size(); ++g) slowest = std::max<uint64_t>(slowest, GroupPeriod(g));
  const uint64_t pageSpan = kFlashPageSize * slowest + kLongestPause;
  size_t intact = 0;
  uint32_t intactTick = startTick_;
  for (size_t page = kFlashPageSize; page <= last; page += kFlashPageSize) {
    uint32_t tick = 0;
    if (!PageTimestamp(page, tick) || tick < intactTick) continue;
    if (tick - intactTick > (page - intact) / kFlashPageSize * pageSpan) continue;
    intact = page;
    intactTick = tick;
  }
  return intact;
}

void TDataLogStore::IndexImage() {
  const size_t size = image_.size();
  // The logger's flash is read in whole pages: an image without one whole page has no last page
  // to find the run's length in (and fewer than 6 bytes would put it before the image).
  if (size < kFlashPageSize) Fail("lnb record not found");
  startTick_ = FindTimestamp(0);
  size_t last = size / kFlashPageSize * kFlashPageSize;
  if (size < last + 6) last -= kFlashPageSize;  // a whole page keeps this at 0 or above
  FindTimestamp(last);                          // the last page must have a timestamp
  // A last page whose timestamp does not fit the pages before it (damaged, or left from an
  // older recording) would give the run any length up to weeks: the run ends with the last page
  // that fits, and the end of the image is reported as damaged.
  const size_t intact = LastIntactPage(last);
  endDamaged_ = intact != last;
  const size_t end = endDamaged_ ? intact + kFlashPageSize : size;
  last = intact;
  const uint64_t a = uint32_t(FindTimestamp(last) - startTick_);

  // Count the samples of each group in the last page; an empty slot counts for the group(s) due
  // first.
  std::vector<uint64_t> counts(groups_.size(), 0);
  auto nextTime = [&](size_t g) {
    const uint64_t p = GroupPeriod(g);
    return p * (counts[g] + a / p);
  };
  size_t o = last;
  while (o < end) {
    const uint8_t b = image_[o];
    if (b >= 0x70 && b <= 0x7F) {
      const size_t g = b & 0x0F;
      if (g >= groups_.size()) break;
      ++counts[g];
      o += 1 + GroupDataSize(groups_[g].count);
    } else if (b >= 0x80 && b <= 0x8F) {
      o += 6;
    } else if (b >= 0x90 && b <= 0xAF) {
      o += 4;
    } else if (b >= 0xB0 && b <= 0xBF) {
      o += 6;
    } else if (b >= 0xC0 && b <= 0xCF) {
      if (o - last >= kFlashPageSize - 2) break;
      if (!groups_.empty()) {
        uint64_t least = std::numeric_limits<uint64_t>::max();
        for (size_t g = 0; g < groups_.size(); ++g) least = std::min(least, nextTime(g));
        for (size_t g = 0; g < groups_.size(); ++g)
          if (nextTime(g) == least) ++counts[g];
      }
      o += 1;
    } else {
      break;
    }
  }
  uint64_t length = a;
  for (size_t g = 0; g < groups_.size(); ++g) length = std::max(length, nextTime(g));
  runs_[0].last = int32_t(std::min<uint64_t>(length, std::numeric_limits<int32_t>::max()));
  if ((image_[0] & 0xF9) == flashrec::kClock)
    runs_[0].startDate = DeviceTimeToDate(GetU32(&image_[2]));
}

void TDataLogStore::DecodeCompact(const TType1Data& data, TLogArray& out) const {
  uint32_t t = 0;
  uint8_t frontCount = 0, rearCount = 0;
  int16_t frontValue = 0, rearValue = 0;
  std::array<int16_t, 5> values{};
  bool tickSet = false;
  out.clear();
  out.reserve(data.size());
  auto adjustTick = [&](uint8_t header) {
    if (tickSet) return;
    t += ((header & 7u) - t) & 7u;
    tickSet = true;
  };
  for (size_t j = 0; j < data.size(); ++j) {
    const TCompactRecord& r = data[j];
    const uint8_t h = r[0];
    bool emit = false;
    switch (h >> 6) {
      case 2:  // 0x80-0xBF
        switch (h & 0x30) {
          case 0x00:  // both triggers: each count moves on to the next value with that low nibble
            frontValue = GetI16(&r[2]);
            rearValue = GetI16(&r[4]);
            frontCount = uint8_t(frontCount + (((r[1] >> 4) - frontCount) & 0x0F));
            rearCount = uint8_t(rearCount + (((r[1] & 0x0F) - rearCount) & 0x0F));
            adjustTick(h);
            break;
          case 0x10:
            rearCount = r[1];
            rearValue = GetI16(&r[2]);
            adjustTick(h);
            break;
          case 0x20:
            frontCount = r[1];
            frontValue = GetI16(&r[2]);
            adjustTick(h);
            break;
          default:  // 0x30: LNB record, the full tick
            t = GetU32(&r[2]);
            tickSet = true;
            break;
        }
        break;
      case 1:  // absolute
        for (size_t i = 0; i < 5; ++i) values[i] = int16_t(r[1 + i] * 2 + 512 * ((h >> i) & 1));
        emit = true;
        break;
      case 0:  // delta
        for (size_t i = 0; i < 5; ++i)
          values[i] = int16_t(values[i] + (((h >> i) & 1) ? r[1 + i] - 256 : r[1 + i]));
        emit = true;
        break;
      default:  // filler: ignored, checks included
        continue;
    }
    if (emit) {
      if (tickSet)
        tickSet = false;
      else
        ++t;
      TLogRecord rec;
      rec.tick = int32_t(t);
      rec.frontCount = frontCount;
      rec.rearCount = rearCount;
      rec.frontValue = frontValue;
      rec.rearValue = rearValue;
      rec.values = values;
      out.push_back(rec);
    }
    if (j == 0 && (h >> 4) != 0xB) Fail("Missing LNB record");
    if (j == 1 && (h >> 4) != 0xA) Fail("Missing front trig record");
    if (j == 2 && (h >> 4) != 0x9) Fail("Missing rear trig record");
    if (j == 3 && (h >> 6) != 1) Fail("Missing Absolute record");
  }
}

// --- writing the data section ---

void TDataLogStore::WriteData(TStream& stream) const {
  const uint32_t tag = !compactData_.empty() ? kTagCompactRecords
                       : image_.empty()      ? kTagSampleRecords
                                             : kTagFlashImage;
  stream.WriteBuffer(created_.data(), created_.size());
  stream.WriteU32(tag);
  stream.WriteI32(period_);
  if (tag == kTagCompactRecords) {
    stream.WriteI32(int32_t(compactData_.size() * kCompactRecordSize));
    stream.WriteBuffer(compactData_.data(), compactData_.size() * kCompactRecordSize);
  } else if (tag == kTagSampleRecords) {
    stream.WriteI32(int32_t(records_.size() * kLogRecordSize));
    std::vector<uint8_t> chunk(kLogRecordSize * 4096);
    for (size_t done = 0; done < records_.size();) {
      const size_t n = std::min(records_.size() - done, size_t(4096));
      for (size_t i = 0; i < n; ++i)
        EncodeLogRecord(records_[done + i], &chunk[i * kLogRecordSize]);
      stream.WriteBuffer(chunk.data(), n * kLogRecordSize);
      done += n;
    }
  } else {
    stream.WriteI32(int32_t(image_.size()));
    stream.WriteBuffer(image_.data(), image_.size());
  }
}

// --- notes ---

void TDataLogStore::ReadNotes(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t magic[4];
  if (stream.Read(magic, 4) != 4 || GetU32(magic) != kNotesMagic) {
    stream.SetPosition(start);
    return;
  }
  const uint16_t length = stream.ReadU16();
  int64_t left = length;
  if (length >= 12) {
    refTick_ = stream.ReadI32();
    refDate_ = stream.ReadF64();
    SetAbsoluteTime(refTick_, refDate_);
    left -= 12;
  }
  const uint16_t count = stream.ReadU16();
  left -= 2;
  for (uint16_t k = 0; k < count && left > 5; ++k) {
    int64_t key = stream.ReadI32();
    int64_t textLength = stream.ReadU16();
    if (textLength > left - 6) textLength = left - 6;
    std::string text = stream.ReadBytes(size_t(textLength));
    left -= textLength + 6;
    if (isImage_) {
      if (key >= 0 && key < RecordCount()) key = 0;  // the image's one run
    } else if (key >= 0 && key < int64_t(records_.size())) {
      key = runOfRecord_[size_t(key)];
    }
    if (key >= 0 && key < RunCount()) runs_[size_t(key)].note = std::move(text);
  }
  // A block shorter than its own fields leaves nothing to skip (never step back).
  if (left > 0) stream.Skip(left);
}

void TDataLogStore::WriteNotes(TStream& stream) const {
  int64_t length = 14;
  for (const TRunRecord& run : runs_) length += 6 + int64_t(run.note.size());
  if (length > 0xFFFF) Fail("Too many notes");
  stream.WriteU32(kNotesMagic);
  stream.WriteU16(uint16_t(length));
  stream.WriteI32(refTick_);
  stream.WriteF64(refDate_);
  stream.WriteU16(uint16_t(runs_.size()));
  for (const TRunRecord& run : runs_) {
    stream.WriteI32(run.first);
    stream.WriteU16(uint16_t(run.note.size()));
    stream.WriteBytes(run.note);
  }
}

// --- building ---

void TDataLogStore::SetGroups(const TDataLogGroups& groups) {
  groups_ = groups;
  for (TDataLogGroup& g : groups_) g.count = std::clamp<int16_t>(g.count, 0, kMaxGroupChannels);
  for (TChannelMapEntry& e : channelMap_) e = TChannelMapEntry{};
  for (size_t g = 0; g < groups_.size(); ++g)
    for (int j = 0; j < groups_[g].count; ++j) {
      const int c = groups_[g].channels[size_t(j)];
      if (c >= 0 && c < kSampleChannelCount) channelMap_[size_t(c)] = {int16_t(g), int16_t(j)};
    }
  groupIndex_.assign(groups_.size(), TGroupIndex{});
}

void TDataLogStore::SetRecords(TLogArray records) {
  records_ = std::move(records);
  runs_.clear();
  sessions_.clear();
  runOfRecord_.assign(records_.size(), 0);
  discardedCount_ = 0;
  // One second and ten seconds in ticks, rounded to nearest (ties to even).
  const double period = period_ > 0 ? period_ : 1;
  const int64_t gap = std::llrint(1000.0 / period);
  const int64_t minLength = std::llrint(10000.0 / period);
  const int32_t n = int32_t(records_.size());
  int64_t previous = int64_t(n > 0 ? records_[0].tick : 0) - 1;
  int32_t runStart = 0;
  int32_t sessionFirstRun = 0;
  int32_t runCount = 0;
  for (int32_t i = 1; i < n; ++i) {
    const int64_t tick = records_[size_t(i)].tick;
    if (tick <= previous || tick == -1) {
      // Replaced by the record before it. The previous tick stays as it was: one bad tick must
      // not look like a break to the record after it.
      records_[size_t(i)] = records_[size_t(i) - 1];
      ++discardedCount_;
    } else {
      if (tick - previous > gap) {
        if (previous - Tick(runStart) > minLength) {
          runs_.push_back({int32_t(sessions_.size()), runStart, i - 1, 0, {}});
          ++runCount;
          runStart = i;
          if (tick - previous > kSessionGap) {
            sessions_.push_back({sessionFirstRun, runCount - sessionFirstRun});
            sessionFirstRun = runCount;
          }
        } else {
          runStart = i;  // the run so far is too short: dropped
        }
      }
      previous = tick;
    }
    runOfRecord_[size_t(i)] = runCount;
  }
  const int32_t lastIndex = n - 1;
  if (lastIndex - runStart > 10 && previous - Tick(runStart) > minLength) {
    runs_.push_back({int32_t(sessions_.size()), runStart, lastIndex, 0, {}});
    ++runCount;
  }
  if (sessionFirstRun < runCount)
    sessions_.push_back({sessionFirstRun, runCount - sessionFirstRun});
}

void TDataLogStore::SetAbsoluteTime(int32_t tick, double date) {
  refTick_ = tick;
  refDate_ = date;
  if (records_.empty() || tick == -1) return;
  if (int64_t(tick) - records_.back().tick > kDateGap) return;
  for (int r = RunCount() - 1; r >= 0; --r) {
    const int32_t first =
        std::clamp<int32_t>(runs_[size_t(r)].first, 0, int32_t(records_.size()) - 1);
    runs_[size_t(r)].startDate =
        date - double(int64_t(tick) - Tick(first)) * double(period_) / 86400000.0;
    if (first > 0 && int64_t(Tick(first)) - Tick(first - 1) > kDateGap) break;
  }
}

// --- decoding ---

void TDataLogStore::SelectRun(int run) {
  currentRun_ = run;
  const int32_t first = RunFirst(run);
  currentTime_ = recordTime_ = uint32_t(startTick_ + uint32_t(first));
  readPos_ = 0;
  if (!isImage_) return;
  // Decoding starts again from the image's first byte: the group indexes and the time marks are
  // gathered anew.
  groupIndex_.assign(groups_.size(), TGroupIndex{});
  timeMarks_.clear();
  const uint64_t length = uint64_t(std::max(RunLast(run), 0)) + 1;
  for (size_t g = 0; g < groups_.size(); ++g) {
    const uint64_t expected = length / GroupPeriod(g) + 2;
    const uint64_t room = image_.size() / (1 + GroupDataSize(groups_[g].count)) + 1;
    groupIndex_[g].Reserve(size_t(std::min(expected, room)));
  }
}

void TDataLogStore::FillFromRecord(const TLogRecord& r, TLogSample& sample) const {
  sample.time = uint32_t(r.tick);
  sample.frontCount = r.frontCount;
  sample.rearCount = r.rearCount;
  sample.frontValue = r.frontValue;
  sample.rearValue = r.rearValue;
  sample.channels[0] = int16_t(r.values[0] * valueScale_);
  sample.channels[1] = int16_t(r.values[1] * valueScale_);
  sample.channels[18] = r.values[2];
  sample.channels[19] = r.values[3];
  sample.channels[20] = r.values[4];
}

bool TDataLogStore::ExtendGroupIndexes(uint64_t relTick) {
  bool extended = false;
  for (size_t g = 0; g < groupIndex_.size() && g < groups_.size(); ++g) {
    const uint64_t p = GroupPeriod(g);
    const uint64_t need = (relTick + p - 1) / p;  // while p * samples < relTick: one more
    if (groupIndex_[g].Count() < need) {
      groupIndex_[g].RepeatTo(need);
      extended = true;
    }
  }
  return extended;
}

bool TDataLogStore::ReadNext(int64_t time, TLogSample& sample) {
  if (time < 0) return false;
  if (!isImage_) {
    if (currentRun_ < 0 || currentRun_ >= RunCount()) return false;
    const int64_t period = period_ > 0 ? period_ : 1;
    if (time % period != 0) return false;
    const int64_t index = int64_t(runs_[size_t(currentRun_)].first) + time / period;
    if (index < 0 || index >= int64_t(records_.size())) return false;
    FillFromRecord(records_[size_t(index)], sample);
    return true;
  }

  const uint64_t until = uint64_t(time);
  if (uint32_t(recordTime_ - startTick_) > until) return false;
  const size_t size = image_.size();
  const uint8_t* img = image_.data();
  const size_t groupCount = std::min(groups_.size(), groupIndex_.size());
  while (readPos_ < size) {
    const uint8_t b = img[readPos_];
    if (b >= 0x70 && b <= 0x7F) {
      // Group data: the group's next sample time; samples the logger skipped repeat the one
      // before.
      const size_t g = b & 0x0F;
      if (g >= groupCount) {
        NextPage();
        continue;
      }
      const uint64_t p = GroupPeriod(g);
      TGroupIndex& index = groupIndex_[g];
      const uint64_t current = uint32_t(currentTime_ - startTick_);
      uint64_t ts = p * index.Count();
      if (ts < current) {
        index.RepeatTo((current + p - 1) / p);
        ts = p * index.Count();
      }
      if (ts > until) break;
      const TDataLogGroup& group = groups_[g];
      const size_t dataSize = GroupDataSize(group.count);
      if (readPos_ + 1 + dataSize > size) {  // cut off by the end of the image
        readPos_ = uint32_t(size);
        break;
      }
      const uint32_t offset = readPos_ + 1;
      index.Append(offset);
      const uint8_t* data = img + offset;
      for (int j = 0; j < group.count; ++j) {
        const int c = group.channels[size_t(j)];
        if (c < 0 || c >= kSampleChannelCount) continue;
        const uint16_t w = GetU16(data + 3 * j / 2);
        sample.channels[size_t(c)] = int16_t((j & 1) ? (w >> 4) & 0x0FFF : w & 0x0FFF);
      }
      readPos_ = uint32_t(offset + dataSize);
      currentTime_ = uint32_t(startTick_ + ts);
    } else if (b >= 0x80 && b <= 0xAF) {
      // Trigger records carry the low three bits of their tick.
      const size_t length = b < 0x90 ? 6 : 4;
      if (readPos_ + length > size) {
        readPos_ = uint32_t(size);
        break;
      }
      uint32_t tick = (currentTime_ & ~7u) | (b & 7u);
      if (tick < currentTime_) tick += 8;
      recordTime_ = tick;
      if (uint32_t(tick - startTick_) > until) break;
      currentTime_ = tick;
      const uint8_t* r = img + readPos_;
      if (b < 0x90) {
        uint8_t front = uint8_t((sample.frontCount & 0xF0) | (r[1] >> 4));
        if (front < sample.frontCount) front = uint8_t(front + 16);
        uint8_t rear = uint8_t((sample.rearCount & 0xF0) | (r[1] & 0x0F));
        if (rear < sample.rearCount) rear = uint8_t(rear + 16);
        sample.frontCount = front;
        sample.rearCount = rear;
        sample.frontValue = GetI16(r + 2);
        sample.rearValue = GetI16(r + 4);
      } else if (b < 0xA0) {
        sample.rearCount = r[1];
        sample.rearValue = GetI16(r + 2);
      } else {
        sample.frontCount = r[1];
        sample.frontValue = GetI16(r + 2);
      }
      readPos_ += uint32_t(length);
    } else if (b >= 0xB0 && b <= 0xBF) {
      if (readPos_ + 6 > size) {
        readPos_ = uint32_t(size);
        break;
      }
      const uint32_t tick = GetU32(img + readPos_ + 2);
      if (b == flashrec::kTimeMark) {
        timeMarks_.push_back(tick - startTick_);
        readPos_ += 6;
      } else if (b & 1) {
        readPos_ += 6;
      } else {
        // Timestamp: a tick below the time reached means the rest of the page is stale.
        if (tick < currentTime_) {
          NextPage();
          continue;
        }
        recordTime_ = tick;
        const uint64_t rel = uint32_t(tick - startTick_);
        ExtendGroupIndexes(rel);
        readPos_ += 6;
        if (rel > until) break;
        currentTime_ = recordTime_;
      }
    } else if (b >= 0xC0 && b <= 0xDF) {
      const uint32_t n = b & 0x1F;
      readPos_ += n + 1;
      if (readPos_ % kFlashPageSize == 0) continue;
      if (n > 0) {
        NextPage();
        continue;
      }
      // Empty slot: time moves on to the next due group sample. Without groups nothing is ever
      // due: decoding ends here.
      if (groupCount == 0) {
        readPos_ = uint32_t(size);
        break;
      }
      uint64_t rel = uint64_t(uint32_t(recordTime_ - startTick_)) + 1;
      if (!ExtendGroupIndexes(rel)) {
        // Moving on one tick at a time until some group falls behind lands just after the
        // earliest next sample.
        uint64_t least = std::numeric_limits<uint64_t>::max();
        for (size_t g = 0; g < groupCount; ++g)
          least = std::min(least, uint64_t(GroupPeriod(g)) * groupIndex_[g].Count());
        rel = std::max(rel, least + 1);
        ExtendGroupIndexes(rel);
      }
      recordTime_ = uint32_t(startTick_ + rel);
      currentTime_ = recordTime_;
    } else {
      NextPage();
    }
  }
  return true;
}

int TDataLogStore::ValueAt(uint32_t offset, int position, int channelCount) const {
  if (uint64_t(offset) + GroupDataSize(channelCount) > image_.size()) return -1;
  const uint16_t w = GetU16(image_.data() + offset + 3 * position / 2);
  return (position & 1) ? (w >> 4) & 0x0FFF : w & 0x0FFF;
}

void TDataLogStore::GetSample(int64_t position, TLogSample& sample) const {
  sample.time = uint32_t(position);
  if (!isImage_) {
    if (position >= 0 && position < int64_t(records_.size()))
      FillFromRecord(records_[size_t(position)], sample);
    return;
  }
  const uint64_t p = uint64_t(std::max<int64_t>(position, 0));
  for (size_t c = 0; c < kSampleChannelCount; ++c) {
    const TChannelMapEntry entry = channelMap_[c];
    if (entry.group < 0 || size_t(entry.group) >= groupIndex_.size() ||
        size_t(entry.group) >= groups_.size()) {
      sample.channels[c] = -1;
      continue;
    }
    const size_t g = size_t(entry.group);
    const TGroupIndex& index = groupIndex_[g];
    const uint64_t n = index.Count();
    const uint64_t period = GroupPeriod(g);
    const uint64_t d = n == 0 ? 0 : std::min(p / period, n - 1);
    // Before the group's first sample read from the image (repeats of nothing) there is no value.
    if (n == 0 || d < index.FirstRead()) {
      sample.channels[c] = -1;
      continue;
    }
    const int count = groups_[g].count;
    int v = ValueAt(index.Offset(d), entry.position, count);
    if (v >= 0 && d * period != p && d < n - 1) {
      const int next = ValueAt(index.Offset(d + 1), entry.position, count);
      if (next >= 0)
        v += int(std::lrint(double(next - v) * double(p - d * period) / double(period)));
    }
    sample.channels[c] = int16_t(v);
  }
}

// --- queries ---

int32_t TDataLogStore::RecordCount() const {
  if (isImage_) return runs_.empty() ? 0 : runs_[0].last;
  return int32_t(records_.size());
}

std::string TDataLogStore::GetRunNote(int run) const {
  if (run < 0 || run >= RunCount()) return {};
  return runs_[size_t(run)].note;
}

void TDataLogStore::SetRunNote(int run, const std::string& note) {
  if (run < 0 || run >= RunCount()) return;
  runs_[size_t(run)].note = note;
}

int32_t TDataLogStore::RecordIndexClamped(int64_t index) const {
  if (records_.empty()) return -1;
  return int32_t(std::clamp<int64_t>(index, 0, int64_t(records_.size()) - 1));
}

int TDataLogStore::RunOfPosition(int64_t position) const {
  if (isImage_) return 0;
  const int64_t period = period_ > 0 ? period_ : 1;
  const int32_t i = RecordIndexClamped(position / period);
  return i < 0 ? 0 : runOfRecord_[size_t(i)];
}

int TDataLogStore::RunSession(int run) const {
  if (run < 0 || run >= RunCount()) return 0;
  return runs_[size_t(run)].session;
}

double TDataLogStore::RunStartDate(int run) const {
  if (run < 0 || run >= RunCount()) return 0;
  return runs_[size_t(run)].startDate;
}

double TDataLogStore::SessionStartDate(int session) const {
  if (session < 0 || session >= SessionCount()) return 0;
  return RunStartDate(sessions_[size_t(session)].firstRun);
}

int64_t TDataLogStore::RunStartTime(int run) const {
  if (isImage_ || run < 0 || run >= RunCount()) return 0;
  const int32_t first = RecordIndexClamped(runs_[size_t(run)].first);
  return first < 0 ? 0 : int64_t(Tick(first)) * period_;
}

int32_t TDataLogStore::RunFirst(int run) const {
  if (run < 0 || run >= RunCount()) return 0;
  return runs_[size_t(run)].first;
}

int32_t TDataLogStore::RunLast(int run) const {
  if (run < 0 || run >= RunCount()) return 0;
  return runs_[size_t(run)].last;
}

int64_t TDataLogStore::RunDuration(int run) const {
  if (run < 0 || run >= RunCount()) return 0;
  const TRunRecord& r = runs_[size_t(run)];
  if (isImage_) return (int64_t(r.last) - r.first) * period_;
  const int32_t first = RecordIndexClamped(r.first);
  const int32_t last = RecordIndexClamped(r.last);
  if (first < 0) return 0;
  return (int64_t(Tick(last)) - Tick(first)) * period_;
}

int64_t TDataLogStore::TimeFromStart(int64_t index) const {
  if (isImage_) return index * period_;
  const int32_t i = RecordIndexClamped(index);
  if (i < 0) return 0;
  return (int64_t(Tick(i)) - Tick(0)) * period_;
}

int64_t TDataLogStore::TimeInRun(int64_t position) const {
  if (isImage_) return position * period_;
  const int64_t period = period_ > 0 ? period_ : 1;
  const int32_t i = RecordIndexClamped(position / period);
  if (i < 0) return 0;
  const int run = runOfRecord_[size_t(i)];
  if (run < 0 || run >= RunCount()) return 0;  // a record outside every run
  const int32_t first = RecordIndexClamped(runs_[size_t(run)].first);
  return (int64_t(Tick(i)) - Tick(first)) * period_;
}

int64_t TDataLogStore::TimeInSession(int64_t position) const {
  if (isImage_) return position * period_;
  const int64_t period = period_ > 0 ? period_ : 1;
  const int32_t i = RecordIndexClamped(position / period);
  if (i < 0) return 0;
  const int run = runOfRecord_[size_t(i)];
  if (run < 0 || run >= RunCount()) return 0;
  const int session = runs_[size_t(run)].session;
  if (session < 0 || session >= SessionCount()) return 0;
  const int firstRun = sessions_[size_t(session)].firstRun;
  if (firstRun < 0 || firstRun >= RunCount()) return 0;
  const int32_t first = RecordIndexClamped(runs_[size_t(firstRun)].first);
  return (int64_t(Tick(i)) - Tick(first)) * period_;
}

void TDataLogStore::GetSession(int session, int& firstRun, int& runCount) const {
  if (session < 0 || session >= SessionCount()) {
    firstRun = 0;
    runCount = 0;
    return;
  }
  firstRun = sessions_[size_t(session)].firstRun;
  runCount = sessions_[size_t(session)].runCount;
}

int TDataLogStore::ChannelGroup(int channel) const {
  if (channel < 0 || channel >= kSampleChannelCount) return -1;
  return channelMap_[size_t(channel)].group;
}

uint32_t TDataLogStore::ChannelPeriod(int channel) const {
  if (channel < 0 || channel >= kSampleChannelCount) return 1;
  const int g = channelMap_[size_t(channel)].group;
  if (g < 0 || size_t(g) >= groups_.size()) return 0;
  return groups_[size_t(g)].period;
}

void ReplaceLiveSamples(std::unique_ptr<TDataLogStore>& store, TLogArray samples) {
  if (!store) store = std::make_unique<TDataLogStore>();
  store->SetPeriod(kLiveSamplePeriod);
  // A live sample carries each travel reading reduced from the logger's 12-bit count to 10 bits;
  // times 4 gives back the count the travel sensors are calibrated in (zero count, zero - 4096).
  store->SetValueScale(4);
  store->SetRecords(std::move(samples));
}

}  // namespace qvl
