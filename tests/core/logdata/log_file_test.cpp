// Log files: download files, the viewer's saved versions, the configuration retry, extension
// blocks, and saving without losing the old file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "core/logdata/log_file.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/safe_save.h"
#include "log_test_util.h"

namespace qvl {
namespace {

using testing::AppendTicks;
using testing::ReadBytes;
using testing::RecordsAt;

std::vector<uint8_t> ConfigStream(TController& controller) {
  TMemoryStream s;
  controller.WriteToStream(s);
  return s.Bytes();
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

// A flash image of the default configuration: 30 s of samples with a clock.
std::vector<uint8_t> DefaultImage(TController& controller) {
  const TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(2000, 600000000);
  enc.AdvanceTo(2000 + 30000, testing::Source(groups));
  enc.TimeMark(2000 + 29000);
  enc.Finish();
  return enc.Image();
}

// 22-byte records of three runs (period 10).
std::vector<uint8_t> RecordSection() {
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 3000, 1200);
  AppendTicks(ticks, 6000, 1200);
  return sim::BuildDataSection(kTagSampleRecords, 10, sim::SampleRecordBytes(RecordsAt(ticks)),
                               45123.5);
}

// A long read reports how far it is in rising steps up to the whole data section; a stop
// request ends it with the stop's own failure.
TEST(LogFile, ReadReportsRisingProgressAndStopsWhenAsked) {
  TController tool;
  const TDataLogGroups groups = BuildDataLogGroups(tool);
  sim::TFlashImageEncoder enc(groups);
  enc.BeginSession(2000, 600000000);
  enc.AdvanceTo(2000 + 120000, testing::Source(groups));
  enc.Finish();
  const std::vector<uint8_t> image = enc.Image();
  TMemoryStream file;
  WriteDownloadFile(file, tool, image.data(), image.size(), 45500.75);

  std::vector<uint64_t> done;
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  TMemoryStream whole(file.Bytes());
  ReadLogFile(whole, controller, store, info, true, [&](uint64_t d, uint64_t total) {
    EXPECT_EQ(total, image.size());
    done.push_back(d);
    return true;
  });
  ASSERT_GE(done.size(), 3u);  // the image spans several reports
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end(), std::less_equal<uint64_t>()));
  EXPECT_EQ(done.back(), image.size());
  EXPECT_EQ(store.Image(), image);

  int reports = 0;
  TDataLogStore stopped;
  TMemoryStream again(file.Bytes());
  EXPECT_THROW(ReadLogFile(again, controller, stopped, info, true,
                           [&](uint64_t, uint64_t) { return ++reports < 2; }),
               ELoadStopped);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(stopped.RunCount(), 0);
}

TEST(LogFile, DefaultConfigurationGivesThreeGroupsInListOrder) {
  TController controller;
  const TDataLogGroups groups = BuildDataLogGroups(controller);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0], testing::Group(5, {0, 1, 18, 19, 20}));
  EXPECT_EQ(groups[1], testing::Group(10, {21, 22, 23}));
  EXPECT_EQ(groups[2], testing::Group(20, {24, 25, 26}));
}

TEST(LogFile, DownloadFileReadsConfigurationImageAndTimeMarks) {
  TController tool;
  const std::vector<uint8_t> image = DefaultImage(tool);
  TMemoryStream file;
  WriteDownloadFile(file, tool, image.data(), image.size(), 45500.75);

  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  ReadBytes(file.Bytes(), controller, store, info);
  EXPECT_TRUE(info.isDownload);
  EXPECT_GE(info.version, 100);
  EXPECT_FALSE(info.shifted);
  EXPECT_EQ(controller.ConfigBlock(), tool.ConfigBlock());
  EXPECT_EQ(controller.ConfigIdentity(), tool.ConfigIdentity());
  EXPECT_EQ(store.Groups(), BuildDataLogGroups(tool));
  EXPECT_EQ(store.Image(), image);
  EXPECT_EQ(store.Encoding(), kTagFlashImage);
  EXPECT_DOUBLE_EQ(store.Created(), 45500.75);
  EXPECT_EQ(store.RunLast(0), 30000);
  EXPECT_EQ(store.ValueScale(), 1);
  EXPECT_EQ(store.ChannelPeriod(0), 5u);
  EXPECT_EQ(store.ChannelPeriod(24), 20u);
  store.SelectRun(0);
  TLogSample sample;
  store.ReadNext(store.RunLast(0), sample);
  EXPECT_EQ(store.TimeMarks(), (std::vector<uint32_t>{29000}));
  EXPECT_EQ(sample.channels[24], testing::ValueOf(24, 2000 + 29980));
}

TEST(LogFile, SavedFileOpensAgainWithTheSameRunsNotesAndSynchronisation) {
  for (const bool image : {false, true}) {
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    std::vector<uint8_t> source;
    Append(source, ConfigStream(controller));
    Append(source, image ? sim::BuildDataSection(kTagFlashImage, 1, DefaultImage(controller))
                         : RecordSection());
    ReadBytes(source, controller, store, info);
    for (int r = 0; r < store.RunCount(); ++r) store.SetRunNote(r, "note " + std::to_string(r));
    store.SetAbsoluteTime(store.Records().empty() ? -1 : store.Records().back().tick + 10, 45000.5);
    info.displayLists[0].assign(3, TDisplayEntryBytes{6, 15, 0, 0, 1, 2, 3, 4, 50, 0, 0, 0});
    info.displayLists[1].assign(1, TDisplayEntryBytes{7});
    info.videoName = "ride.avi";
    info.syncs.resize(size_t(store.RunCount()));
    info.syncs[0] = {1, 0, -2.5, 12.25};
    info.runVideoNames.assign(size_t(store.RunCount()), "");
    info.runVideoNames.back() = "last.mp4";
    TMemoryStream saved;
    WriteSavedLogFile(saved, controller, store, info);
    EXPECT_EQ(GetU16(saved.Memory()), 15);

    TController c2;
    TDataLogStore s2;
    TLogFileInfo i2;
    ReadBytes(saved.Bytes(), c2, s2, i2);
    EXPECT_FALSE(i2.isDownload);
    EXPECT_EQ(i2.version, 15);
    EXPECT_EQ(i2.displayLists[0], info.displayLists[0]);
    EXPECT_EQ(i2.displayLists[1], info.displayLists[1]);
    EXPECT_EQ(i2.videoName, "ride.avi");
    ASSERT_EQ(i2.syncs.size(), size_t(store.RunCount()));
    EXPECT_EQ(i2.syncs[0].synced, 1);
    EXPECT_EQ(i2.syncs[0].offset, -2.5);
    EXPECT_EQ(i2.syncs[0].chartTime, 12.25);
    EXPECT_TRUE(i2.hasRunVideoNames);
    EXPECT_EQ(i2.runVideoNames, info.runVideoNames);
    EXPECT_EQ(c2.ConfigBlock(), controller.ConfigBlock());
    ASSERT_EQ(s2.RunCount(), store.RunCount());
    EXPECT_EQ(s2.SessionCount(), store.SessionCount());
    for (int r = 0; r < store.RunCount(); ++r) {
      EXPECT_EQ(s2.RunFirst(r), store.RunFirst(r));
      EXPECT_EQ(s2.RunLast(r), store.RunLast(r));
      EXPECT_EQ(s2.GetRunNote(r), "note " + std::to_string(r));
      EXPECT_DOUBLE_EQ(s2.RunStartDate(r), store.RunStartDate(r));
    }
    EXPECT_EQ(s2.Records(), store.Records());
    EXPECT_EQ(s2.Image(), store.Image());
    EXPECT_EQ(s2.RefTick(), store.RefTick());
    // The data section is written back byte for byte.
    TMemoryStream d1, d2;
    store.WriteData(d1);
    s2.WriteData(d2);
    EXPECT_EQ(d1.Bytes(), d2.Bytes());
  }
}

// An older saved file: version, display lists, video name and sync records as the version has
// them, the data section before the configuration, then notes.
std::vector<uint8_t> OlderFile(uint16_t version, TController& controller) {
  std::vector<uint8_t> f;
  AppendU16(f, version);
  if (version > 10) {
    AppendU16(f, 2);
    f.insert(f.end(), 24, 0x11);
  }
  AppendU16(f, 1);
  f.insert(f.end(), 12, 0x22);
  if (version >= 12) {
    AppendU16(f, 3);
    Append(f, {'a', 'b', 'c'});
  }
  if (version >= 13) {
    AppendU16(f, 1);
    std::vector<uint8_t> sync(18, 0);
    sync[0] = 1;
    PutF64(&sync[2], 1.5);
    Append(f, sync);
  }
  Append(f, RecordSection());
  Append(f, ConfigStream(controller));
  TDataLogStore notes;
  notes.SetPeriod(10);
  std::vector<int32_t> ticks;
  AppendTicks(ticks, 0, 1200);
  AppendTicks(ticks, 3000, 1200);
  AppendTicks(ticks, 6000, 1200);
  notes.SetRecords(RecordsAt(ticks));
  notes.SetRunNote(2, "third");
  TMemoryStream n;
  notes.WriteNotes(n);
  Append(f, n.Bytes());
  return f;
}

TEST(LogFile, OlderVersionsReadTheirOwnLayout) {
  for (uint16_t version : {10, 11, 12, 13, 14}) {
    TController source;
    const std::vector<uint8_t> file = OlderFile(version, source);
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    ReadBytes(file, controller, store, info);
    EXPECT_EQ(info.version, version);
    EXPECT_EQ(info.displayLists[0].size(), version > 10 ? 2u : 0u);
    EXPECT_EQ(info.displayLists[1].size(), 1u);
    EXPECT_EQ(info.videoName, version >= 12 ? "abc" : "");
    EXPECT_EQ(info.syncs.size(), version >= 13 ? 1u : 0u);
    EXPECT_EQ(store.RunCount(), 3) << version;
    EXPECT_EQ(store.Period(), 10);
    EXPECT_EQ(store.GetRunNote(2), "third");
    EXPECT_EQ(controller.ConfigIdentity(), source.ConfigIdentity());
    // Only the configuration, the data passed over.
    TController only;
    TMemoryStream s(file);
    ReadLogFileConfiguration(s, only);
    EXPECT_EQ(only.ConfigIdentity(), source.ConfigIdentity());
  }
}

TEST(LogFile, ConfigurationFoundTwoBytesOnIsReadAndTheDataAlignedToAnEvenPosition) {
  for (int extra : {0, 1}) {
    TController source;
    std::vector<uint8_t> f;
    AppendU16(f, 15);
    AppendU16(f, 0);
    AppendU16(f, 0);
    AppendU16(f, 0);
    AppendU16(f, 0);
    Append(f, {0xEE, 0xEE});  // two stray bytes where the configuration should start
    std::vector<uint8_t> config = ConfigStream(source);
    // Pad the stream itself (an unknown record) to choose the parity of its end.
    if ((f.size() + config.size()) % 2 != size_t(extra)) {
      config.pop_back();
      Append(config, {9, 2, 0, 0, 0, 0});  // 5 bytes more: the other parity
    }
    Append(f, config);
    if (f.size() % 2 == 1) f.push_back(0x55);  // the byte a shifted file skips
    Append(f, RecordSection());
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    ReadBytes(f, controller, store, info);
    EXPECT_TRUE(info.shifted);
    EXPECT_EQ(store.RunCount(), 3);
    EXPECT_EQ(controller.ConfigIdentity(), source.ConfigIdentity());
  }
}

TEST(LogFile, ConfigurationThatFailsTwiceEndsTheOpen) {
  std::vector<uint8_t> f;
  AppendU16(f, 15);
  f.insert(f.end(), 8, 0);
  Append(f, {'n', 'o', 't', ' ', 'a', ' ', 's', 't', 'r', 'e', 'a', 'm'});
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  try {
    ReadBytes(f, controller, store, info);
    FAIL() << "no failure";
  } catch (const QVLStreamError& e) {
    EXPECT_STREQ(e.what(), "Invalid stream format");
  }
}

TEST(LogFile, ValueScaleFollowsTheFrontTravelReference) {
  for (float reference : {1024.0f, 1025.0f}) {
    TController source;
    std::vector<uint8_t> config = ConfigStream(source);
    config.pop_back();  // the end record
    config.push_back(7);
    AppendU16(config, 4 * 32);
    for (int i = 0; i < 32; ++i) {
      uint8_t b[4];
      PutF32(b, i == 0 ? reference : 0.0f);
      config.insert(config.end(), b, b + 4);
    }
    config.push_back(0);
    std::vector<uint8_t> file = config;
    Append(file, RecordSection());
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    ReadBytes(file, controller, store, info);
    EXPECT_EQ(store.ValueScale(), reference < 1025 ? 1 : 4);
  }
}

TEST(LogFile, FurtherSyncPointsRoundTripInBlock2ThatOtherReadersSkipByItsLength) {
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  std::vector<uint8_t> source = ConfigStream(controller);
  Append(source, RecordSection());
  ReadBytes(source, controller, store, info);
  ASSERT_GE(store.RunCount(), 1);
  EXPECT_FALSE(info.hasRunSyncPoints);
  info.syncs.assign(size_t(store.RunCount()), {});
  info.syncs[0] = {1, 0, -0.25, 10};
  info.runVideoNames.assign(size_t(store.RunCount()), "a.mp4");
  info.runSyncPoints.assign(size_t(store.RunCount()), {});
  info.runSyncPoints[0] = {{70.5, 72.0}, {130.25, 133.5}};
  TMemoryStream saved;
  WriteSavedLogFile(saved, controller, store, info);

  TController c2;
  TDataLogStore s2;
  TLogFileInfo i2;
  ReadBytes(saved.Bytes(), c2, s2, i2);
  EXPECT_TRUE(i2.hasRunSyncPoints);
  EXPECT_EQ(i2.runSyncPoints, info.runSyncPoints);
  EXPECT_EQ(i2.runVideoNames, info.runVideoNames);

  // The block is the last one: tag 2, its length, then the body to the end of the file.
  std::vector<uint8_t> bytes = saved.Bytes();
  const size_t body = 2 + 2 + 32 + 2 * (size_t(store.RunCount()) - 1);
  ASSERT_GT(bytes.size(), body + 5);
  const size_t at = bytes.size() - body - 5;
  EXPECT_EQ(bytes[at], 2);
  EXPECT_EQ(GetU32(&bytes[at + 1]), body);
  bytes[at] = 9;       // as a reader that does not know the block sees it
  bytes.push_back(1);  // a block after it is still found
  Append(bytes, {2, 0, 0, 0, 0, 0});
  TLogFileInfo i3;
  ReadBytes(bytes, c2, s2, i3);
  EXPECT_FALSE(i3.hasRunSyncPoints);
  EXPECT_TRUE(i3.hasRunVideoNames);
  EXPECT_TRUE(i3.runVideoNames.empty());

  info.runSyncPoints.assign(size_t(store.RunCount()), {});  // no further points: no block
  TMemoryStream plain;
  WriteSavedLogFile(plain, controller, store, info);
  EXPECT_EQ(plain.Bytes().size(), saved.Bytes().size() - body - 5);
}

TEST(LogFile, ExtensionBlocksAreReadForThePrimaryFileOnly) {
  TController source;
  std::vector<uint8_t> f = ConfigStream(source);
  Append(f, RecordSection());
  TDataLogStore notes;
  TMemoryStream n;
  notes.WriteNotes(n);
  Append(f, n.Bytes());
  Append(f, {5, 3, 0, 0, 0, 1, 2, 3});  // unknown tag: skipped by its length
  std::vector<uint8_t> names{1, 0, 0, 0, 0};
  AppendU16(names, 2);
  AppendU16(names, 1);
  names.push_back('x');
  AppendU16(names, 0);
  PutU32(&names[1], uint32_t(names.size() - 5));
  Append(f, names);
  Append(f, {0, 1, 99, 0, 0, 0});  // after the end tag nothing is read

  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  ReadBytes(f, controller, store, info);
  EXPECT_TRUE(info.hasRunVideoNames);
  EXPECT_EQ(info.runVideoNames, (std::vector<std::string>{"x", ""}));
  TMemoryStream s(f);
  TLogFileInfo overlay;
  ReadLogFile(s, controller, store, overlay, false);
  EXPECT_FALSE(overlay.hasRunVideoNames);
}

TEST(LogFile, DamagedFilesFailWithTheirMessages) {
  TController source;
  std::vector<uint8_t> good = ConfigStream(source);
  Append(good, RecordSection());
  std::mt19937 random(3);
  int failures = 0;
  for (size_t cut = 0; cut < good.size(); cut += 1 + random() % 97) {
    std::vector<uint8_t> f(good.begin(), good.begin() + std::ptrdiff_t(cut));
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    try {
      ReadBytes(f, controller, store, info);
    } catch (const Exception&) {
      ++failures;
    }
  }
  EXPECT_GT(failures, 0);
  std::vector<uint8_t> badCount;
  AppendU16(badCount, 15);
  AppendU16(badCount, 0x7FFF);  // a display list far longer than the file
  TController controller;
  TDataLogStore store;
  TLogFileInfo info;
  EXPECT_THROW(ReadBytes(badCount, controller, store, info), EReadError);
}

// --- saving
// ----------------------------------------------------------------------------------------

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/qvl-save-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  size_t FileCount() const {
    return size_t(std::distance(std::filesystem::directory_iterator(dir_), {}));
  }
  static std::function<void(TStream&)> Writes(const std::string& text) {
    return [text](TStream& s) { s.WriteBytes(text); };
  }

  std::string dir_;
};

TEST_F(SaveTest, BackupNameReplacesTheExtension) {
  EXPECT_EQ(BackupFileName("/a/ride.QVLog"), "/a/ride.qvlbak");
  EXPECT_EQ(BackupFileName("/a.b/ride"), "/a.b/ride.qvlbak");
  EXPECT_EQ(BackupFileName("ride.x.QVL"), "ride.x.qvlbak");
  EXPECT_EQ(BackupFileName("/a/.hidden"), "/a/.hidden.qvlbak");
}

TEST_F(SaveTest, KeepsTheFirstBackupAndNeverReplacesIt) {
  const std::string file = dir_ + "/ride.QVLog";
  SafeSaveFile(file, Writes("first"));
  EXPECT_EQ(Read(file), "first");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/ride.qvlbak"));
  SafeSaveFile(file, Writes("second"));
  SafeSaveFile(file, Writes("third"));
  EXPECT_EQ(Read(file), "third");
  EXPECT_EQ(Read(dir_ + "/ride.qvlbak"), "first");
  EXPECT_EQ(FileCount(), 2u);  // no temporary files left behind
}

TEST_F(SaveTest, AFailingWriterLeavesTheOldFileAndNoTemporaryFile) {
  const std::string file = dir_ + "/ride.QVLog";
  Write(file, "precious");
  EXPECT_THROW(SafeSaveFile(file,
                            [](TStream& s) {
                              s.WriteBytes(std::string("half"));
                              throw Exception("Too many notes");
                            }),
               Exception);
  EXPECT_EQ(Read(file), "precious");
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(SaveTest, ABackupThatCannotBeMadeStopsTheSaveAndKeepsTheOldFile) {
  const std::string file = dir_ + "/ride.QVLog";
  Write(file, "precious");
  std::filesystem::create_directory(dir_ + "/ride.qvlbak");
  Write(dir_ + "/ride.qvlbak/keep", "x");  // a folder in the way of the backup
  try {
    SafeSaveFile(file, Writes("new"));
    FAIL() << "no failure";
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("ride.qvlbak"), std::string::npos);
  }
  EXPECT_EQ(Read(file), "precious");
  EXPECT_EQ(FileCount(), 2u);
}

TEST_F(SaveTest, MissingFolderIsReportedAndModeIsKept) {
  EXPECT_THROW(SafeSaveFile(dir_ + "/none/ride.QVL", Writes("x")), EFileError);
  const std::string file = dir_ + "/ride.QVL";
  Write(file, "old");
  chmod(file.c_str(), 0640);
  SafeSaveFile(file, Writes("new"));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SaveTest, SaveLogFileWritesVersion15AndKeepsTheDownloadAsBackupThroughLaterSaves) {
  TController tool;
  const std::vector<uint8_t> image = DefaultImage(tool);
  const std::string file = dir_ + "/ride.QVLog";
  SaveDownloadFile(file, tool, image.data(), image.size(), 45000);
  const std::string download = Read(file);
  for (const char* note : {"muddy", "dry", "rocky"}) {
    TController controller;
    TDataLogStore store;
    TLogFileInfo info;
    LoadLogFile(file, controller, store, info);
    store.SetRunNote(0, note);
    SaveLogFile(file, controller, store, info);
    EXPECT_TRUE(Read(dir_ + "/ride.qvlbak") == download) << "the download is gone after " << note;
  }
  TController c2;
  TDataLogStore s2;
  TLogFileInfo i2;
  LoadLogFile(file, c2, s2, i2);
  EXPECT_EQ(i2.version, 15);
  EXPECT_EQ(s2.GetRunNote(0), "rocky");
  EXPECT_EQ(s2.Image(), image);
}

}  // namespace
}  // namespace qvl
