// TDataLogStore: the sample data of one log file (or of the tool's live recording), split into
// runs and sessions, with the notes that go with the runs.
//
// Three encodings are read: 22-byte sample records, 6-byte compact records (decoded into sample
// records) and the logger's flash image, which is decoded on demand: SelectRun restarts the
// decoder, ReadNext moves it forward in time and GetSample reads any sample the decoder has passed.
//
// Positions: for the record encodings a position is a record index times Period; for a flash image
// it is the number of ticks (milliseconds) since the image's first timestamp.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device/log_record.h"
#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

namespace qvl {

// How far a long read or walk is: called now and then with the work done so far and the whole
// (done rises to total, the last call has done == total). Returning false asks the work to stop:
// it then raises ELoadStopped. The callback runs on the working thread.
using TLoadProgress = std::function<bool(uint64_t done, uint64_t total)>;

// A read or walk that its progress callback asked to stop ("Stopped").
class ELoadStopped : public Exception {
 public:
  ELoadStopped() : Exception("Stopped") {}
};

// Tells `progress` (when there is one) how far the work is; raises ELoadStopped when it asks to
// stop.
void ReportProgress(const TLoadProgress& progress, uint64_t done, uint64_t total);

// One step of a longer piece of work: reports what `progress` hears as the part [from, to] (0..1)
// of the whole, in thousandths (total 1000); none when there is no `progress`.
TLoadProgress ProgressPart(const TLoadProgress& progress, double from, double to);

// Offsets of one group's decoded flash-image samples. A sample the logger skipped repeats the
// offset of the sample before it; such repeats are kept as counts, not as copies, so that no
// timestamp, however far off, can make the list grow beyond what the image holds.
class TGroupIndex {
 public:
  // Samples indexed so far, repeats included.
  uint64_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  // Offset in the image of sample s's packed data (s < Count()); 0 for repeats before the
  // group's first sample.
  uint32_t Offset(uint64_t s) const;
  // Index of the first sample read from the image; Count() when there is none. Samples before it
  // are repeats of nothing: they have no value.
  uint64_t FirstRead() const { return segments_.empty() ? count_ : segments_.front().firstSample; }
  void Append(uint32_t offset);
  // Repeats the last offset until Count() is n (nothing when it already is).
  void RepeatTo(uint64_t n) {
    if (n > count_) count_ = n;
  }
  void Clear();
  void Reserve(size_t n) { offsets_.reserve(n); }

 private:
  struct TSegment {
    uint64_t firstSample;  // sample index of offsets_[firstOffset]
    uint64_t firstOffset;
  };
  std::vector<uint32_t> offsets_;   // samples read from the image, in order
  std::vector<TSegment> segments_;  // where the run of read samples restarts after repeats
  uint64_t count_ = 0;
};

// Per channel number: its group in the group list (-1: not logged) and its place in the group.
struct TChannelMapEntry {
  int16_t group = -1;
  int16_t position = 0;
};

class TDataLogStore {
 public:
  static constexpr uint32_t kNotesMagic = 0x3A50F219;

  TDataLogStore();

  // --- data section and notes ---
  // Reads a data section. Failures: "Invalid data" (unknown tag), "Invalid sampling rate in file"
  // (negative period, or 0 for the record encodings), "Missing LNB record" and the other
  // compact-record checks, "lnb record not found" (a flash image shorter than one page, or
  // without a timestamp at the start of its first or last page), and the stream's read error.
  // `progress` hears of the section's bytes as they are read (and may stop the read).
  void ReadData(TStream& stream, const TLoadProgress& progress = {});
  // Writes a data section in the encoding that was read.
  void WriteData(TStream& stream) const;
  // Reads a notes block when the stream holds its magic; else leaves the stream where it was.
  void ReadNotes(TStream& stream);
  // Writes the notes block: one note per run. "Too many notes" when it would exceed 65,535 bytes.
  void WriteNotes(TStream& stream) const;

  // --- building ---
  // Takes the logging group list and rebuilds the channel map.
  void SetGroups(const TDataLogGroups& groups);
  // Takes sample records and splits them into runs and sessions (a break of more than a second
  // ends a run, one of more than 1,048,576 ticks also the session; runs of ten seconds or less are
  // dropped). Records whose tick does not advance (or is -1) are replaced by the record before
  // them and leave the tick the next record's gap is measured from as it was.
  void SetRecords(TLogArray records);
  // Stores the absolute time reference and dates the runs back from it.
  void SetAbsoluteTime(int32_t tick, double date);

  // --- decoding ---
  // Chooses the run to decode and restarts decoding.
  void SelectRun(int run);
  // Advances to `time` (ticks since the run's start) and updates `sample`. Record encodings: true
  // when `time` is a multiple of Period and the record exists. Flash image: false while the
  // decoder's last timed record lies beyond `time`, else true.
  bool ReadNext(int64_t time, TLogSample& sample);
  // Random access. Record encodings: the sample of record `position` (left as it is when there
  // is no such record). Flash image: every logged channel's value at `position` ticks, from the
  // samples decoded so far, interpolated between them; -1 for a channel that is not logged or
  // whose group has no sample read from the image up to `position` (as ReadNext leaves it). The
  // sample's time becomes `position`.
  void GetSample(int64_t position, TLogSample& sample) const;

  // --- queries ---
  int RunCount() const { return int(runs_.size()); }
  int SessionCount() const { return int(sessions_.size()); }
  // Flash image: the length in ticks of run 0 (0 without runs); else the number of records.
  int32_t RecordCount() const;
  std::string GetRunNote(int run) const;
  void SetRunNote(int run, const std::string& note);
  // The run of a position: 0 for a flash image.
  int RunOfPosition(int64_t position) const;
  int RunSession(int run) const;
  double RunStartDate(int run) const;
  double SessionStartDate(int session) const;
  int64_t RunStartTime(int run) const;
  int32_t RunFirst(int run) const;
  int32_t RunLast(int run) const;
  int64_t RunDuration(int run) const;
  int64_t TimeFromStart(int64_t index) const;
  int64_t TimeInRun(int64_t position) const;
  int64_t TimeInSession(int64_t position) const;
  void GetSession(int session, int& firstRun, int& runCount) const;
  // Group index of a channel: -1 when not logged or outside 0..31.
  int ChannelGroup(int channel) const;
  // Period in ticks of the channel's group: 0 when not logged, 1 outside 0..31.
  uint32_t ChannelPeriod(int channel) const;

  // --- fields ---
  const TLogArray& Records() const { return records_; }
  const TType1Data& CompactData() const { return compactData_; }
  int32_t DiscardedCount() const { return discardedCount_; }
  const std::vector<TRunRecord>& Runs() const { return runs_; }
  const std::vector<TSessionEntry>& Sessions() const { return sessions_; }
  // Run index of each record (not cut to 8 bits: files with more than 256 runs keep their runs
  // apart).
  const std::vector<int32_t>& RunOfRecord() const { return runOfRecord_; }
  int32_t Period() const { return period_; }
  void SetPeriod(int32_t period) { period_ = period; }
  double Created() const;
  const std::array<uint8_t, 8>& CreatedBytes() const { return created_; }
  void SetCreated(double created);
  int32_t RefTick() const { return refTick_; }
  double RefDate() const { return refDate_; }
  bool IsImage() const { return isImage_; }
  // Flash image: the timestamp of the last page does not fit the pages before it (it goes back,
  // or lies further ahead than their records and a day's pause can span). The run then ends with
  // the last page that fits; what follows it is not shown.
  bool EndDamaged() const { return endDamaged_; }
  // The encoding tag of the data section last read (0 before any).
  uint32_t Encoding() const { return encoding_; }
  const TDataLogGroups& Groups() const { return groups_; }
  const std::array<TChannelMapEntry, kSampleChannelCount>& ChannelMap() const {
    return channelMap_;
  }
  const std::vector<uint8_t>& Image() const { return image_; }
  const std::vector<TGroupIndex>& GroupIndex() const { return groupIndex_; }
  // Ticks (since StartTick) of the time marks met while decoding since the last SelectRun.
  const std::vector<uint32_t>& TimeMarks() const { return timeMarks_; }
  uint32_t StartTick() const { return startTick_; }
  int32_t CurrentRun() const { return currentRun_; }
  uint32_t ReadPos() const { return readPos_; }
  uint32_t CurrentTime() const { return currentTime_; }
  uint32_t RecordTime() const { return recordTime_; }
  int32_t ValueScale() const { return valueScale_; }
  void SetValueScale(int32_t scale) { valueScale_ = scale; }

 private:
  void ReadImage(TStream& stream, int64_t size, const TLoadProgress& progress);
  void IndexImage();
  bool PageTimestamp(size_t at, uint32_t& tick) const;
  uint32_t FindTimestamp(size_t at) const;
  // Offset of the last page up to `last` whose timestamp fits the pages before it.
  size_t LastIntactPage(size_t last) const;
  void DecodeCompact(const TType1Data& data, TLogArray& out) const;
  void FillFromRecord(const TLogRecord& record, TLogSample& sample) const;
  // Flash image decoding helpers.
  uint32_t GroupPeriod(size_t g) const { return groups_[g].period == 0 ? 1 : groups_[g].period; }
  bool ExtendGroupIndexes(uint64_t relTick);
  void NextPage() { readPos_ = uint32_t((readPos_ / kFlashPageSize + 1) * kFlashPageSize); }
  int ValueAt(uint32_t offset, int position, int channelCount) const;
  int32_t RecordIndexClamped(int64_t index) const;
  int32_t Tick(int32_t index) const { return records_[size_t(index)].tick; }

  TLogArray records_;
  TType1Data compactData_;
  int32_t discardedCount_ = 0;
  std::vector<TRunRecord> runs_;
  std::vector<TSessionEntry> sessions_;
  std::vector<int32_t> runOfRecord_;
  int32_t period_ = 1;
  std::array<uint8_t, 8> created_{};
  int32_t refTick_ = -1;
  double refDate_ = 0;
  bool isImage_ = false;
  bool endDamaged_ = false;
  uint32_t encoding_ = 0;
  TDataLogGroups groups_;
  std::array<TChannelMapEntry, kSampleChannelCount> channelMap_{};
  std::vector<uint8_t> image_;
  std::vector<TGroupIndex> groupIndex_;
  std::vector<uint32_t> timeMarks_;
  uint32_t startTick_ = 0;
  int32_t currentRun_ = 0;
  uint32_t readPos_ = 0;
  uint32_t currentTime_ = 0;
  uint32_t recordTime_ = 0;
  int32_t valueScale_ = 1;
};

// A viewer's live store takes a block of live samples: created when there is none, its
// samples replaced as a whole and split into runs and sessions.
void ReplaceLiveSamples(std::unique_ptr<TDataLogStore>& store, TLogArray samples);

}  // namespace qvl
