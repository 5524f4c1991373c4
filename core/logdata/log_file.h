// The log file envelope: a download file (the configuration stream followed by a data section) or
// a file saved by the viewer (a version number, the viewer's display lists, video name and
// synchronisation, the configuration, the data, the notes and extension blocks).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/device/log_record.h"
#include "core/logdata/data_log_store.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"

namespace qvl {

class TController;
class TDataLogStore;
struct TLoggingGroup;

// The version the viewer writes; files of versions up to it are read.
constexpr uint16_t kSavedLogVersion = 15;
// A first u16 of at least this value marks a download file (the configuration stream's magic).
constexpr uint16_t kDownloadMarker = 100;

// One video synchronisation record per run (18 bytes in the file).
struct TSyncData {
  uint8_t synced = 0;
  uint8_t reserved = 0;
  double offset = 0;     // seconds: chart time minus video position
  double chartTime = 0;  // seconds: chart time at which the synchronisation was taken
};
using TSyncDatas = std::vector<TSyncData>;

// A video synchronisation point: a chart time and the video time shown at it (seconds).
struct TSyncPoint {
  double chartTime = 0;
  double videoTime = 0;
  bool operator==(const TSyncPoint&) const = default;
};

// A display list entry as the file holds it (12 bytes, laid out by the viewer).
using TDisplayEntryBytes = std::array<uint8_t, 12>;

// What the envelope of a log file holds besides the configuration and the data.
struct TLogFileInfo {
  uint16_t version = 0;     // the first u16 read (>= 100 for a download file)
  bool isDownload = false;  // configuration stream first, data after it, nothing else
  bool shifted = false;     // the configuration stream was found 2 bytes further on
  std::vector<TDisplayEntryBytes> displayLists[2];
  std::string videoName;
  TSyncDatas syncs;
  // Per-run video names (extension block 1); present only when the file carries the block.
  bool hasRunVideoNames = false;
  std::vector<std::string> runVideoNames;
  // Further video synchronisation points per run, after the one its synchronisation record holds
  // (extension block 2): chart time and video time in seconds. Present only when the file carries
  // the block; written when any run has such points.
  bool hasRunSyncPoints = false;
  std::vector<std::vector<TSyncPoint>> runSyncPoints;
};

// Reads a log file: the envelope, the configuration into `controller`, the logging group list,
// the data and the notes into `store` and, for the primary file (not an overlay), the extension
// blocks. Sets the store's ValueScale from the configuration. Failures are the store's, the
// configuration reader's and the stream's messages. `progress` hears of the data section's bytes
// as they are read; when it asks to stop, ELoadStopped ends the read.
void ReadLogFile(TStream& stream, TController& controller, TDataLogStore& store, TLogFileInfo& info,
                 bool primary = true, const TLoadProgress& progress = {});
void LoadLogFile(const std::string& fileName, TController& controller, TDataLogStore& store,
                 TLogFileInfo& info, bool primary = true, const TLoadProgress& progress = {});
// Reads only the configuration a log file carries (its data section is passed over).
void ReadLogFileConfiguration(TStream& stream, TController& controller);

// The viewer's save: version 15 envelope with both display lists, the video name, one
// synchronisation record per run, the configuration, the data in the encoding read, the notes,
// extension block 1 when any run has a video name and block 2 when any run has further
// synchronisation points.
void WriteSavedLogFile(TStream& stream, TController& controller, const TDataLogStore& store,
                       const TLogFileInfo& info);
// Writes the saved file without losing the old one: temporary file, flushed, the old file kept
// as "<name>.qvlbak" unless that backup exists already (the first one, normally the download,
// is never replaced), then renamed into place.
void SaveLogFile(const std::string& fileName, TController& controller, const TDataLogStore& store,
                 const TLogFileInfo& info);

// The logging group list of a configuration: the configuration's groups with a period and
// channels, in order, each with every channel (0..31) that the channel map puts in it, in
// ascending order. The position in the list is the index flash image group records carry.
TDataLogGroups BuildDataLogGroups(const std::array<TLoggingGroup, 8>& groups,
                                  const std::array<uint8_t, 32>& channelMap);
// Computes the controller's logging groups ("Too many logging groups" on a ninth) and builds the
// list from them.
TDataLogGroups BuildDataLogGroups(TController& controller);

// Writes a download file as the tool does after reading the logger's flash: the configuration
// stream, then a data section (created, flash image tag, period 1, the length, the bytes).
void WriteDownloadFile(TStream& stream, TController& controller, const uint8_t* image, size_t size,
                       TDateTime created);
// Writes a download file in one step (temporary file renamed into place; no backup).
void SaveDownloadFile(const std::string& fileName, TController& controller, const uint8_t* image,
                      size_t size, TDateTime created);

}  // namespace qvl
