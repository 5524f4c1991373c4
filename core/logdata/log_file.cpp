#include "core/logdata/log_file.h"

#include <algorithm>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/safe_save.h"

namespace qvl {

namespace {

constexpr size_t kSyncDataSize = 18;

int64_t Remaining(TStream& stream) {
  return std::max<int64_t>(0, stream.Size() - stream.Position());
}

// Reads n bytes after checking that the stream holds them (so that a damaged count never makes
// a large allocation).
std::vector<uint8_t> ReadChecked(TStream& stream, int64_t n) {
  if (n <= 0) return {};
  if (n > Remaining(stream)) throw EReadError("Stream read error");
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

std::vector<TDisplayEntryBytes> ReadDisplayList(TStream& stream) {
  const int16_t count = stream.ReadI16();
  std::vector<uint8_t> bytes = ReadChecked(stream, int64_t(count) * 12);
  std::vector<TDisplayEntryBytes> list(bytes.size() / 12);
  for (size_t i = 0; i < list.size(); ++i)
    std::copy_n(bytes.begin() + std::ptrdiff_t(i * 12), 12, list[i].begin());
  return list;
}

// A string behind a signed 16-bit length (a negative length reads as empty).
std::string ReadShortString(TStream& stream) {
  const int16_t length = stream.ReadI16();
  std::vector<uint8_t> bytes = ReadChecked(stream, length);
  return std::string(bytes.begin(), bytes.end());
}

void WriteShortString(TStream& stream, const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 0x7FFF);
  stream.WriteI16(int16_t(n));
  stream.WriteBuffer(s.data(), n);
}

// The configuration stream, tried a second time 2 bytes further on when it cannot be read where
// it should start.
void ReadConfiguration(TStream& stream, TController& controller, bool& shifted) {
  const int64_t at = stream.Position();
  try {
    controller.ReadFromStream(stream);
  } catch (const Exception&) {
    stream.SetPosition(at);
    stream.Skip(2);
    shifted = true;
    controller.ReadFromStream(stream);
  }
}

// Reads the envelope up to the configuration; returns whether the data section comes first.
bool ReadEnvelopeHead(TStream& stream, TLogFileInfo& info) {
  info = TLogFileInfo{};
  const uint16_t version = stream.ReadU16();
  info.version = version;
  info.isDownload = version >= kDownloadMarker;
  if (info.isDownload) {
    stream.Skip(-2);
    return false;
  }
  if (version > 10) info.displayLists[0] = ReadDisplayList(stream);
  info.displayLists[1] = ReadDisplayList(stream);
  if (version >= 12) info.videoName = ReadShortString(stream);
  if (version >= 13) {
    const int16_t count = stream.ReadI16();
    std::vector<uint8_t> bytes = ReadChecked(stream, int64_t(count) * int64_t(kSyncDataSize));
    info.syncs.resize(bytes.size() / kSyncDataSize);
    for (size_t i = 0; i < info.syncs.size(); ++i) {
      const uint8_t* p = &bytes[i * kSyncDataSize];
      info.syncs[i] = {p[0], p[1], GetF64(p + 2), GetF64(p + 10)};
    }
  }
  return version < kSavedLogVersion;
}

void ReadExtensionBlocks(TStream& stream, TLogFileInfo& info) {
  while (!stream.AtEnd()) {
    const uint8_t tag = stream.ReadU8();
    if (tag == 0) break;
    const uint32_t length = stream.ReadU32();
    const int64_t start = stream.Position();
    if (tag == 1) {
      // Per-run video names, read inside the block's own length.
      const int64_t take = std::min<int64_t>(length, Remaining(stream));
      std::vector<uint8_t> body = ReadChecked(stream, take);
      TByteViewStream block(body.data(), body.size());
      std::vector<std::string> names;
      try {
        const int16_t count = block.ReadI16();
        for (int16_t i = 0; i < count; ++i) names.push_back(ReadShortString(block));
      } catch (const EReadError&) {
        // a block cut short keeps the names it holds
      }
      info.hasRunVideoNames = true;
      info.runVideoNames = std::move(names);
    } else if (tag == 2) {
      // Further synchronisation points per run: i16 run count, then per run an i16 point count
      // and that many pairs of doubles (chart time, video time).
      const int64_t take = std::min<int64_t>(length, Remaining(stream));
      std::vector<uint8_t> body = ReadChecked(stream, take);
      TByteViewStream block(body.data(), body.size());
      std::vector<std::vector<TSyncPoint>> runs;
      try {
        const int16_t count = block.ReadI16();
        for (int16_t r = 0; r < count; ++r) {
          const int16_t n = block.ReadI16();
          std::vector<uint8_t> pairs = ReadChecked(block, int64_t(n) * 16);
          std::vector<TSyncPoint> points(pairs.size() / 16);
          for (size_t i = 0; i < points.size(); ++i)
            points[i] = {GetF64(&pairs[i * 16]), GetF64(&pairs[i * 16 + 8])};
          runs.push_back(std::move(points));
        }
      } catch (const EReadError&) {
        // a block cut short keeps the runs it holds whole
      }
      info.hasRunSyncPoints = true;
      info.runSyncPoints = std::move(runs);
    }
    stream.SetPosition(start + int64_t(length));
  }
}

// The raw reading of the front travel sensor's input at calibration (the configuration's reference
// value for it).
float FrontTravelReference(const TController& controller) {
  const TSensor* sensor = controller.FixedSensor(kSlotFrontTravel);
  const int input = sensor ? sensor->Channel : 0;
  const auto& references = controller.ReferenceValues();
  if (input < 0 || size_t(input) >= references.size()) return 0;
  return references[size_t(input)];
}

}  // namespace

TDataLogGroups BuildDataLogGroups(const std::array<TLoggingGroup, 8>& groups,
                                  const std::array<uint8_t, 32>& channelMap) {
  TDataLogGroups list;
  for (size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].periodMs == 0 || groups[g].channelCount == 0) continue;
    TDataLogGroup entry;
    entry.period = groups[g].periodMs;
    for (size_t c = 0; c < channelMap.size(); ++c)
      if ((channelMap[c] & 0x1F) == g) entry.channels[size_t(entry.count++)] = int16_t(c);
    list.push_back(entry);
  }
  return list;
}

TDataLogGroups BuildDataLogGroups(TController& controller) {
  controller.BuildLoggingGroups();
  return BuildDataLogGroups(controller.LoggingGroups(), controller.ChannelMap());
}

void WriteDownloadFile(TStream& stream, TController& controller, const uint8_t* image, size_t size,
                       TDateTime created) {
  if (size > 0x7FFFFFFF) throw Exception("Log data too large");
  controller.WriteToStream(stream);
  stream.WriteF64(created);
  stream.WriteU32(kTagFlashImage);
  stream.WriteI32(1);
  stream.WriteI32(int32_t(size));
  stream.WriteBuffer(image, size);
}

}  // namespace qvl

namespace qvl {

void ReadLogFile(TStream& stream, TController& controller, TDataLogStore& store, TLogFileInfo& info,
                 bool primary, const TLoadProgress& progress) {
  const bool dataFirst = ReadEnvelopeHead(stream, info);
  if (dataFirst) store.ReadData(stream, progress);
  ReadConfiguration(stream, controller, info.shifted);
  store.SetGroups(BuildDataLogGroups(controller));
  if (!dataFirst) {
    if (info.shifted && (stream.Position() & 1)) stream.Skip(1);
    store.ReadData(stream, progress);
  }
  if (!stream.AtEnd()) {
    store.ReadNotes(stream);
    if (primary) ReadExtensionBlocks(stream, info);
  }
  store.SetValueScale(FrontTravelReference(controller) < 1025 ? 1 : 4);
}

void LoadLogFile(const std::string& fileName, TController& controller, TDataLogStore& store,
                 TLogFileInfo& info, bool primary, const TLoadProgress& progress) {
  TFileStream file(fileName, TFileStream::OpenRead);
  ReadLogFile(file, controller, store, info, primary, progress);
}

void ReadLogFileConfiguration(TStream& stream, TController& controller) {
  TLogFileInfo info;
  if (ReadEnvelopeHead(stream, info)) {
    // Pass over the data section by its length.
    stream.Skip(8);
    const uint32_t tag = stream.ReadU32();
    stream.ReadI32();
    const int32_t length = stream.ReadI32();
    if (length >= 0)
      stream.Skip(length);
    else if (tag != kTagSampleRecords)
      stream.Seek(0, TSeekOrigin::End);
  }
  ReadConfiguration(stream, controller, info.shifted);
}

void WriteSavedLogFile(TStream& stream, TController& controller, const TDataLogStore& store,
                       const TLogFileInfo& info) {
  stream.WriteU16(kSavedLogVersion);
  for (const auto& list : info.displayLists) {
    const size_t n = std::min<size_t>(list.size(), 0x7FFF);
    stream.WriteI16(int16_t(n));
    for (size_t i = 0; i < n; ++i) stream.WriteBuffer(list[i].data(), list[i].size());
  }
  WriteShortString(stream, info.videoName);
  const int runs = std::min(store.RunCount(), 0x7FFF);
  stream.WriteI16(int16_t(runs));
  for (int r = 0; r < runs; ++r) {
    const TSyncData sync = size_t(r) < info.syncs.size() ? info.syncs[size_t(r)] : TSyncData{};
    uint8_t bytes[kSyncDataSize] = {};
    bytes[0] = sync.synced;
    bytes[1] = sync.reserved;
    PutF64(bytes + 2, sync.offset);
    PutF64(bytes + 10, sync.chartTime);
    stream.WriteBuffer(bytes, sizeof bytes);
  }
  controller.WriteToStream(stream);
  store.WriteData(stream);
  store.WriteNotes(stream);
  const bool anyVideo = std::any_of(info.runVideoNames.begin(), info.runVideoNames.end(),
                                    [](const std::string& name) { return !name.empty(); });
  if (anyVideo) {
    const size_t count = std::min<size_t>(info.runVideoNames.size(), 0x7FFF);
    uint32_t length = 2;
    for (size_t i = 0; i < count; ++i)
      length += uint32_t(std::min<size_t>(info.runVideoNames[i].size(), 0x7FFF) + 2);
    stream.WriteU8(1);
    stream.WriteU32(length);
    stream.WriteI16(int16_t(count));
    for (size_t i = 0; i < count; ++i) WriteShortString(stream, info.runVideoNames[i]);
  }
  const bool anyPoints =
      std::any_of(info.runSyncPoints.begin(), info.runSyncPoints.end(),
                  [](const std::vector<TSyncPoint>& points) { return !points.empty(); });
  if (anyPoints) {
    const size_t count = std::min<size_t>(info.runSyncPoints.size(), 0x7FFF);
    uint32_t length = 2;
    for (size_t r = 0; r < count; ++r)
      length += uint32_t(2 + 16 * std::min<size_t>(info.runSyncPoints[r].size(), 0x7FFF));
    stream.WriteU8(2);
    stream.WriteU32(length);
    stream.WriteI16(int16_t(count));
    for (size_t r = 0; r < count; ++r) {
      const size_t n = std::min<size_t>(info.runSyncPoints[r].size(), 0x7FFF);
      stream.WriteI16(int16_t(n));
      for (size_t i = 0; i < n; ++i) {
        uint8_t pair[16];
        PutF64(pair, info.runSyncPoints[r][i].chartTime);
        PutF64(pair + 8, info.runSyncPoints[r][i].videoTime);
        stream.WriteBuffer(pair, sizeof pair);
      }
    }
  }
}

void SaveLogFile(const std::string& fileName, TController& controller, const TDataLogStore& store,
                 const TLogFileInfo& info) {
  SafeSaveFile(
      fileName, [&](TStream& s) { WriteSavedLogFile(s, controller, store, info); }, true);
}

void SaveDownloadFile(const std::string& fileName, TController& controller, const uint8_t* image,
                      size_t size, TDateTime created) {
  SafeSaveFile(
      fileName, [&](TStream& s) { WriteDownloadFile(s, controller, image, size, created); }, false);
}

}  // namespace qvl
