// The simulated logger's recorder: writes sample data in the logger's flash-image encoding, page by
// page, exactly as the logger lays it out, so that the flash listing, the download and the log
// store read it back. Also builds the older 6-byte compact records and the 22-byte sample records
// for test files.
//
// A flash image is a run of 4096-byte pages. Every page that holds data opens with a header: a
// 6-byte timestamp (LNB) record, or, when the page carries the device clock, a clock record
// followed by the timestamp record at +6. Flags in the header's first byte say whether a run starts
// in the page and whether a session starts in the sector. Records never cross a page; the unused
// tail of a page is left erased (0xFF).
//
// Sample times: a group with period P has its k-th sample at tick StartTick + k * P, StartTick
// being the tick of the image's first timestamp. The encoder keeps the same view of time as the
// reader (which sample each group is due to give next, the tick reached), so every record it writes
// is read back at the tick it reports. Samples that are not written before a later record moves
// time on are read back as repeats of the group's previous sample.
//
// Typical use (one session of two runs):
//
//   TFlashImageEncoder enc(BuildDataLogGroups(controller));
//   enc.BeginSession(1000, deviceTime);              // session and first run start at tick 1000
//   enc.AdvanceTo(61000, source);                    // one minute of samples
//   uint32_t t = enc.BeginRun(200000);               // second run, on the sample grid
//   enc.AdvanceTo(t + 30000, source);
//   enc.FrontTrigger(enc.CurrentTick() + 3, 17, 1234);
//   enc.Finish();
//   auto file = BuildDownloadFile(controller, enc.Image(), Now());
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/device/log_record.h"
#include "core/util/date_time.h"

namespace qvl {
class TController;
}

namespace qvl::sim {

// Flags in the first byte of a page's header record (high nibble 0xB).
enum : uint8_t {
  kHeaderClock = 0x01,         // the header is a clock record; the timestamp record follows at +6
  kHeaderRunStart = 0x02,      // a run starts in this page
  kHeaderSessionStart = 0x04,  // a session starts in this sector
  kHeaderSessionClock = 0x08,  // the session has a device time (only with kHeaderClock)
};

// How the unused tail of a page is written.
enum class TPageTail {
  Erased,     // 0xFF bytes, as the flash is after erasing
  EndMarker,  // one end-of-data byte (0xC1..0xDF, or 0xC0 on the very last byte), then 0xFF
};

// --- single records ----------------------------------------------------------------------------

using TRecord6 = std::array<uint8_t, 6>;
using TRecord4 = std::array<uint8_t, 4>;

// Timestamp (LNB) record; header must be one of 0xB0, 0xB2, 0xB4, 0xB6, 0xBA, 0xBC, 0xBE.
TRecord6 TimestampRecord(uint32_t tick, uint8_t header = 0xB0, uint8_t number = 0);
// Clock record: an odd 0xB_ header and a device time (1.024 s units since 2000-01-01).
TRecord6 ClockRecord(uint32_t deviceTime, uint8_t header = 0xB9, uint8_t number = 0);
TRecord6 TimeMarkRecord(uint32_t tick);
// Group data: header 0x70 + group, then the values packed 12 bits each (values above 4095 are cut
// to their low 12 bits).
std::vector<uint8_t> GroupRecord(int group, std::span<const uint16_t> values);
// Packs 12-bit values: value k sits in the 16-bit word at byte 3k/2, in its low 12 bits for even
// k, in its high 12 bits for odd k.
std::vector<uint8_t> PackGroupValues(std::span<const uint16_t> values);
// Trigger records; tickLow is the tick's low three bits. Both-trigger records carry the low
// nibbles of the two counts.
TRecord6 BothTriggersRecord(uint8_t tickLow, uint8_t frontCount, uint8_t rearCount,
                            int16_t frontValue, int16_t rearValue);
TRecord4 FrontTriggerRecord(uint8_t tickLow, uint8_t count, int16_t value);
TRecord4 RearTriggerRecord(uint8_t tickLow, uint8_t count, int16_t value);

// The sample values of one group at one tick: fill values[0 .. count-1] (12 bits each) for the
// group's channels in the group's order.
using TSampleSource = std::function<void(int group, uint32_t tick, uint16_t* values, int count)>;

// --- the flash image encoder -------------------------------------------------------------------

class TFlashImageEncoder {
 public:
  struct TRunInfo {
    size_t firstPage = 0;  // page index in the image
    size_t endPage = 0;    // exclusive
    uint32_t startTick = 0;
    uint32_t endTick = 0;  // tick of the timestamp of the run's last page
    bool hasClock = false;
    uint32_t deviceTime = 0;  // at startTick, when hasClock
    uint8_t sdFileNumber = 0;
    int session = 0;
  };
  struct TSessionInfo {
    size_t firstPage = 0;
    size_t endPage = 0;
    int firstRun = 0;
    int runCount = 0;
    bool hasClock = false;
  };

  // groups: the logging group list (periods in ticks, channels in packing order), at most 16.
  // baseAddress: flash address of the image's first byte (a multiple of 4096); sectorSize: the
  // flash's erase sector size (a multiple of 4096). Sessions start on a sector boundary.
  explicit TFlashImageEncoder(TDataLogGroups groups, uint32_t baseAddress = 0,
                              uint32_t sectorSize = uint32_t(kFlashPageSize));

  // Starts a session (and its first run) at the next sector boundary; erased pages fill the gap.
  // With a device time (the clock at `tick`) the header carries it. Returns the run's start tick
  // (see BeginRun). Ticks never go back within one encoder: use one encoder per session when the
  // logger's tick restarts.
  uint32_t BeginSession(uint32_t tick, std::optional<uint32_t> deviceTime = std::nullopt,
                        uint8_t sdFileNumber = 0);
  // Starts a run on a new page. The start tick is moved up onto the common sample grid of the
  // groups (a multiple of every period after the image's start) and never before the time
  // reached; the tick actually used is returned. The first run of an image starts the grid.
  uint32_t BeginRun(uint32_t tick, std::optional<uint32_t> deviceTime = std::nullopt,
                    uint8_t sdFileNumber = 0);

  // Writes every group sample due before `tick`, in time order (groups due at the same tick in
  // group order), with values from `source`.
  void AdvanceTo(uint32_t tick, const TSampleSource& source);
  // Writes group g's next sample; returns the tick it is read back at.
  uint32_t WriteSample(int group, std::span<const uint16_t> values);
  // The tick of group g's next sample, and the earliest over all groups.
  uint32_t NextSampleTick(int group) const;
  uint32_t NextDueTick() const;
  // Marks the next due sample slot as missed (one 0xC0 byte): every group due at NextDueTick()
  // repeats its previous sample there. Needs at least one group.
  void EmptySlot();

  // Trigger records at `tick` (moved up to the time reached if earlier). A tick more than 7 after
  // the time reached gets a timestamp record first.
  void FrontTrigger(uint32_t tick, uint8_t count, int16_t value);
  void RearTrigger(uint32_t tick, uint8_t count, int16_t value);
  void BothTriggers(uint32_t tick, uint8_t frontCount, uint8_t rearCount, int16_t frontValue,
                    int16_t rearValue);
  // A time mark (the rider pressed the mark button) at `tick`.
  void TimeMark(uint32_t tick);
  // A timestamp record at `tick` (moved up to the time reached if earlier). Groups due before it
  // repeat their previous sample up to it.
  void Timestamp(uint32_t tick);

  // Marks every erase sector's first page as the logger does (off by default): its header
  // carries the current run's SD file number and, once the session has a device time, a clock
  // record with the device time of the page's timestamp. So the sectors of a session read in
  // order of time, whatever page of a run they begin with.
  void SetSectorHeaders(bool on) { sectorHeaders_ = on; }

  // Closes the current page (the next record opens a new one); Finish closes the last page.
  void EndPage(TPageTail tail = TPageTail::Erased);
  void Finish(TPageTail tail = TPageTail::Erased) { EndPage(tail); }
  // Appends bytes to the current page as they are, without any bookkeeping (for damaged images
  // in tests). Fails when they do not fit in the page.
  void WriteRaw(std::span<const uint8_t> bytes);

  const std::vector<uint8_t>& Image() const { return image_; }
  std::vector<uint8_t> TakeImage() { return std::move(image_); }
  uint32_t BaseAddress() const { return base_; }
  const TDataLogGroups& Groups() const { return groups_; }
  bool Started() const { return started_; }
  uint32_t StartTick() const { return startTick_; }
  // The tick reached by the records written so far.
  uint32_t CurrentTick() const { return uint32_t(startTick_ + Reached()); }
  // Group g's samples so far, repeats included.
  uint64_t SampleCount(int group) const { return counts_.at(size_t(group)); }
  const std::vector<TRunInfo>& Runs() const { return runs_; }
  const std::vector<TSessionInfo>& Sessions() const { return sessions_; }

 private:
  void OpenPage(uint8_t flags, uint64_t relTick, std::optional<uint32_t> deviceTime,
                uint8_t number);
  // Makes room for a record of n bytes at relative tick relTick: opens a continuation page when
  // no page is open or the record does not fit (limit: the last usable offset + 1). Returns
  // whether it opened a page.
  bool Reserve(size_t n, uint64_t relTick, size_t limit = kFlashPageSize);
  // The relative tick of a trigger record at `tick`, with room made for its n bytes.
  uint64_t PrepareTrigger(uint32_t tick, size_t n);
  void Put(const uint8_t* bytes, size_t n);
  void PutTimestamp(uint64_t relTick, uint8_t header, uint8_t number);
  uint64_t DueRel(size_t g) const;
  bool ExtendTo(uint64_t rel);
  void Trigger(uint64_t relTick, const uint8_t* record, size_t n);
  uint64_t RelOf(uint32_t tick) const;
  uint64_t Reached() const { return std::max(current_, walk_); }
  uint32_t GridStep() const;

  TDataLogGroups groups_;
  uint32_t base_;
  uint32_t sectorSize_;
  std::vector<uint8_t> image_;
  bool pageOpen_ = false;
  size_t pageStart_ = 0;

  // The reader's view: start tick, per group samples so far, the tick reached and the tick of the
  // last timed record (both relative to the start tick).
  bool started_ = false;
  uint32_t startTick_ = 0;
  std::vector<uint64_t> counts_;
  uint64_t current_ = 0;
  uint64_t record_ = 0;
  // The time the viewer's tick-by-tick walk has reached when it reads the next record.
  uint64_t walk_ = 0;

  std::vector<TRunInfo> runs_;
  std::vector<TSessionInfo> sessions_;

  // Sector headers: the session's clock (device time at clockTick_) once known.
  bool sectorHeaders_ = false;
  bool clockKnown_ = false;
  uint32_t clockDevice_ = 0;
  uint32_t clockTick_ = 0;
};

// Copies an image into a flash ring at `address`, wrapping at the end of the flash.
void CopyIntoFlash(std::vector<uint8_t>& flash, uint32_t address, std::span<const uint8_t> image);

// A whole download file: the controller's configuration stream, then a flash-image data section.
std::vector<uint8_t> BuildDownloadFile(TController& controller, std::span<const uint8_t> image,
                                       TDateTime created);

// A data section: created, tag, period, the length (the data's size unless given) and the data.
std::vector<uint8_t> BuildDataSection(uint32_t tag, int32_t period, std::span<const uint8_t> data,
                                      TDateTime created = 0,
                                      std::optional<int32_t> length = std::nullopt);

// --- older encodings, for test files -------------------------------------------------------------

TCompactRecord CompactTimestamp(uint32_t tick);
TCompactRecord CompactFrontTrigger(uint8_t tickLow, uint8_t count, int16_t value);
TCompactRecord CompactRearTrigger(uint8_t tickLow, uint8_t count, int16_t value);
TCompactRecord CompactBothTriggers(uint8_t tickLow, uint8_t frontCount, uint8_t rearCount,
                                   int16_t frontValue, int16_t rearValue);
// Values 0..1022, even (value i = byte * 2 + 512 * header bit i).
TCompactRecord CompactAbsolute(const std::array<int, 5>& values);
// Changes -256..255 (negative: header bit set, byte = change + 256).
TCompactRecord CompactDelta(const std::array<int, 5>& changes);
TCompactRecord CompactFiller(uint8_t header = 0xC0);

// Compact records that decode to `records`: the first starts with a timestamp, trigger records
// and an absolute record; later ones follow with trigger and delta records, with a timestamp
// whenever the tick does not advance by exactly one. Values must be even and in 0..1022 for
// the first record; later changes must fit a delta record (else std::invalid_argument).
TType1Data EncodeCompactRecords(const TLogArray& records);
std::vector<uint8_t> CompactBytes(const TType1Data& records);
// 22-byte sample records, back to back.
std::vector<uint8_t> SampleRecordBytes(const TLogArray& records);

}  // namespace qvl::sim
