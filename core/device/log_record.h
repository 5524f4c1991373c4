// The records of a log file's data section and the in-memory types the store hands out: the
// 22-byte sample record (also the live channel's sample), the decoded sample, logging groups,
// runs and sessions, and the constants of the three data encodings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

// --- data section ------------------------------------------------------------------------------

// Encoding tags of a data section.
constexpr uint32_t kTagSampleRecords = 0x9A73;   // 22-byte sample records
constexpr uint32_t kTagCompactRecords = 0x9A75;  // 6-byte compact records
constexpr uint32_t kTagFlashImage = 0x9A76;      // the logger's flash pages

// --- 22-byte sample records --------------------------------------------------------------------

constexpr size_t kLogRecordSize = 22;
// The channels a 22-byte record carries, in the order of its five values.
constexpr std::array<int, 5> kRecordChannels = {0, 1, 18, 19, 20};

struct TLogRecord {
  int32_t tick = 0;
  uint8_t frontCount = 0;
  uint8_t rearCount = 0;
  int16_t frontValue = 0;
  int16_t rearValue = 0;
  std::array<int16_t, 5> values{};  // channels 0, 1, 18, 19, 20
  int16_t spare = 0;

  bool operator==(const TLogRecord&) const = default;
};
using TLogArray = std::vector<TLogRecord>;

// Reads and writes one record in its 22-byte little-endian layout.
TLogRecord DecodeLogRecord(const uint8_t* bytes);
void EncodeLogRecord(const TLogRecord& record, uint8_t* bytes);

// --- compact records -----------------------------------------------------------------------------

constexpr size_t kCompactRecordSize = 6;
using TCompactRecord = std::array<uint8_t, kCompactRecordSize>;
using TType1Data = std::vector<TCompactRecord>;

// --- flash image ---------------------------------------------------------------------------------

constexpr size_t kFlashPageSize = 4096;

// First bytes of flash image records.
namespace flashrec {
constexpr uint8_t kGroupData = 0x70;     // 0x70-0x7F: low nibble = group index
constexpr uint8_t kBothTriggers = 0x80;  // 0x80-0x8F, 6 bytes
constexpr uint8_t kRearTrigger = 0x90;   // 0x90-0x9F, 4 bytes
constexpr uint8_t kFrontTrigger = 0xA0;  // 0xA0-0xAF, 4 bytes
constexpr uint8_t kTimestamp = 0xB0;     // even 0xB_ but 0xB8, 6 bytes: LNB record
constexpr uint8_t kTimeMark = 0xB8;      // 6 bytes
constexpr uint8_t kClock = 0xB9;         // odd 0xB_ records are skipped; 0xB9 carries the clock
constexpr uint8_t kEmptySlot = 0xC0;     // 1 byte: a sample slot the logger missed
// 0xC1-0xDF: end of data in the page; other values: rest of the page unused.
}  // namespace flashrec

// Device time (1.024-second units since 2000-01-01) to a date-time.
double DeviceTimeToDate(uint32_t deviceTime);

// --- decoded samples -----------------------------------------------------------------------------

constexpr int kSampleChannelCount = 32;

struct TLogSample {
  uint32_t time = 0;
  uint8_t frontCount = 0;
  uint8_t rearCount = 0;
  int16_t frontValue = 0;
  int16_t rearValue = 0;
  // Indexed by channel number; -1 for a channel that is not logged.
  std::array<int16_t, kSampleChannelCount> channels;

  TLogSample() { channels.fill(-1); }
};

// --- logging groups ------------------------------------------------------------------------------

constexpr int kMaxGroupChannels = 33;

// One logging group: its sample period in ticks and its channels in the order their values are
// packed.
struct TDataLogGroup {
  uint32_t period = 0;
  int16_t count = 0;
  std::array<int16_t, kMaxGroupChannels> channels{};

  bool operator==(const TDataLogGroup&) const = default;
};
using TDataLogGroups = std::vector<TDataLogGroup>;

// Bytes of packed 12-bit values for a group of n channels: floor(12 n / 8) + (n mod 2).
constexpr size_t GroupDataSize(int channelCount) {
  return channelCount <= 0 ? 0 : size_t(12 * channelCount / 8 + channelCount % 2);
}

// --- runs and sessions ---------------------------------------------------------------------------

struct TRunRecord {
  int32_t session = 0;
  int32_t first = 0;
  int32_t last = 0;  // flash image: the run's length in ticks
  double startDate = 0;
  std::string note;
};

struct TSessionEntry {
  int32_t firstRun = 0;
  int32_t runCount = 0;
};

}  // namespace qvl
