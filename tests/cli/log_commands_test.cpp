// qvl info, qvl dump and qvl config show on log files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/run_qvl.h"
#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"
#include "sim/flash_image_encoder.h"

namespace qvl::cli {
namespace {

std::string TempFile(const std::string& name) {
  return ::testing::TempDir() + "/" + name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  std::string f;
  while (std::getline(s, f, '\t')) fields.push_back(f);
  return fields;
}

uint16_t Value(int channel, uint32_t tick) {
  return uint16_t((channel * 13 + tick) & 0x0FFF);
}

// A download file of the default configuration: 3 s of samples (`ms` of them when given), a
// trigger and a time mark.
std::string DownloadFile(uint32_t ms = 3000, const std::string& name = "download.QVLog") {
  const std::string file = TempFile(name);
  TController controller;
  const TDataLogGroups groups = BuildDataLogGroups(controller);
  sim::TFlashImageEncoder enc(groups);
  auto src = [&](int g, uint32_t tick, uint16_t* v, int n) {
    for (int j = 0; j < n; ++j) v[j] = Value(groups[size_t(g)].channels[size_t(j)], tick);
  };
  enc.BeginSession(1000, 700000000);
  enc.AdvanceTo(1500, src);
  enc.FrontTrigger(1500, 6, 321);
  enc.TimeMark(1500);
  enc.AdvanceTo(1000 + ms, src);
  enc.Finish();
  SaveDownloadFile(file, controller, enc.Image().data(), enc.Image().size(), 45000.5);
  return file;
}

// A saved file of 22-byte records, period 10, two runs with notes.
std::string RecordFile() {
  const std::string file = TempFile("records.QVL");
  TController controller;
  TDataLogStore store;
  store.SetPeriod(10);
  TLogArray records;
  for (int i = 0; i < 2400; ++i) {
    TLogRecord r;
    r.tick = i < 1200 ? i : 5000 + i;
    r.frontCount = uint8_t(i);
    r.values = {int16_t(i), 2, 3, 4, int16_t(-i)};
    records.push_back(r);
  }
  store.SetRecords(records);
  store.SetRunNote(1, "second");
  TMemoryStream section;
  store.WriteData(section);
  std::vector<uint8_t> bytes;
  {
    TMemoryStream s;
    controller.WriteToStream(s);
    bytes = s.Bytes();
  }
  TLogFileInfo info;
  info.videoName = "clip.avi";
  TMemoryStream whole;
  TMemoryStream configAndData(bytes);
  configAndData.Seek(0, TSeekOrigin::End);
  configAndData.WriteBytes(section.Bytes());
  TController reader;
  TDataLogStore loaded;
  TLogFileInfo li;
  configAndData.SetPosition(0);
  ReadLogFile(configAndData, reader, loaded, li);
  loaded.SetRunNote(1, "second");
  SaveLogFile(file, reader, loaded, info);
  return file;
}

TEST(QvlLogCommands, InfoShowsFormEncodingRunsAndTimeMarks) {
  const std::string file = DownloadFile();
  TQvlResult text = RunQvl({"info", file});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("download file"), std::string::npos);
  EXPECT_NE(text.out.find("39542 (0x9A76, flash image)"), std::string::npos);
  EXPECT_NE(text.out.find("Time marks      1 500 ms"), std::string::npos);
  TQvlResult json = RunQvl({"info", file, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* key :
       {"\"encoding\": 39542", "\"period\": 1", "\"record_count\": 3000", "\"discarded\": 0",
        "\"start_tick\": 1000", "\"form\": \"download\"", "\"first_run\": 0", "\"run_count\": 1",
        "\"duration_ms\": 3000", "\"note\": \"\""})
    EXPECT_NE(json.out.find(key), std::string::npos) << key << "\n" << json.out;
  EXPECT_NE(json.out.find("\"time_marks\": [500]"), std::string::npos) << json.out;

  const std::string records = RecordFile();
  TQvlResult saved = RunQvl({"info", records, "--json"});
  ASSERT_EQ(saved.status, 0) << saved.err;
  for (const char* key :
       {"\"form\": \"saved\"", "\"version\": 15", "\"encoding\": 39539", "\"period\": 10",
        "\"record_count\": 2400", "\"first\": 1200", "\"last\": 2399", "\"duration_ms\": 11990",
        "\"note\": \"second\"", "\"video_name\": \"clip.avi\""})
    EXPECT_NE(saved.out.find(key), std::string::npos) << key << "\n" << saved.out;
}

// A download whose last page's timestamp claims 24 days: the commands end the run where the intact
// data ends (instead of walking the claimed length) and warn that the end of the file is damaged.
TEST(QvlLogCommands, ADamagedEndOfAFlashImageIsReportedAndNotWalked) {
  const std::string intact = DownloadFile(12000, "intact.QVLog");
  TQvlResult clean = RunQvl({"info", intact});
  ASSERT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.err, "");
  std::string bytes;
  {
    std::ifstream in(intact, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // The image ends the file; its last page opens with a timestamp record (tick at +2).
  const size_t lastPage = bytes.size() - kFlashPageSize;
  ASSERT_EQ(uint8_t(bytes[lastPage]), 0xB0);
  PutU32(reinterpret_cast<uint8_t*>(&bytes[lastPage + 2]), 1000u + (1u << 31));
  const std::string damaged = TempFile("damaged.QVLog");
  std::ofstream(damaged, std::ios::binary) << bytes;

  const std::string warning = "qvl: warning: the end of " + damaged + " is damaged";
  TQvlResult info = RunQvl({"info", damaged, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.err.rfind(warning, 0), 0u) << info.err;
  const size_t at = info.out.find("\"duration_ms\": ");
  ASSERT_NE(at, std::string::npos) << info.out;
  const long long duration = std::stoll(info.out.substr(at + 15));
  EXPECT_GT(duration, 8000);
  EXPECT_LT(duration, 12000);
  TQvlResult analyze = RunQvl({"analyze", damaged, "--run", "0", "--json"});
  ASSERT_EQ(analyze.status, 0) << analyze.err;
  EXPECT_EQ(analyze.err.rfind(warning, 0), 0u) << analyze.err;
  EXPECT_NE(analyze.out.find("\"samples\": " + std::to_string(duration + 1)), std::string::npos)
      << analyze.out;
}

TEST(QvlLogCommands, DumpRunWalksEveryPositionAndPrintsNewData) {
  const std::string records = RecordFile();
  TQvlResult run = RunQvl({"dump", records, "--run", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1u + 1200);  // positions 0..11999, one record every 10
  std::vector<std::string> header = Fields(lines[0]);
  ASSERT_EQ(header.size(), 37u);
  EXPECT_EQ(header[0], "time");
  EXPECT_EQ(header[4], "rear_value");
  EXPECT_EQ(header[5], "ch0");
  EXPECT_EQ(header[36], "ch31");
  std::vector<std::string> second = Fields(lines[2]);
  ASSERT_EQ(second.size(), 37u);
  EXPECT_EQ(second[0], "10");
  EXPECT_EQ(second[1], std::to_string(uint8_t(1201)));
  EXPECT_EQ(second[5], "1201");    // ch0
  EXPECT_EQ(second[7], "-1");      // ch2 is not in the records
  EXPECT_EQ(second[25], "-1201");  // ch20

  const std::string download = DownloadFile();
  TQvlResult image = RunQvl({"dump", download, "--run", "0"});
  ASSERT_EQ(image.status, 0) << image.err;
  lines = Lines(image.out);
  // A line for every position where the store reports data (not between a page's last sample and
  // the next page's timestamp).
  ASSERT_GT(lines.size(), 2900u);
  ASSERT_LE(lines.size(), 3002u);
  for (const std::string& line : lines) {
    std::vector<std::string> f = Fields(line);
    if (f[0] != "777") continue;
    EXPECT_EQ(f[5], std::to_string(Value(0, 1775)));    // 200 Hz: the sample of tick 775
    EXPECT_EQ(f[26], std::to_string(Value(21, 1770)));  // 100 Hz
    EXPECT_EQ(f[1], "6");                               // the front trigger of tick 500
    EXPECT_EQ(f[3], "321");
  }
}

TEST(QvlLogCommands, DumpAtReadsPositionsWithInterpolation) {
  const std::string download = DownloadFile();
  TQvlResult at = RunQvl({"dump", download, "--at", "775,777"});
  ASSERT_EQ(at.status, 0) << at.err;
  std::vector<std::string> lines = Lines(at.out);
  ASSERT_EQ(lines.size(), 3u);
  std::vector<std::string> f = Fields(lines[2]);
  EXPECT_EQ(f[0], "777");
  // Values 775 apart by 5 ticks rise by 5: two ticks on gives +2.
  EXPECT_EQ(f[5], std::to_string(Value(0, 1777)));
  EXPECT_EQ(f[7], "-1");  // channel 2 is not logged
}

TEST(QvlLogCommands, ConfigShowReadsTheConfigurationOfLogFiles) {
  for (const std::string& file : {DownloadFile(), RecordFile()}) {
    TQvlResult shown = RunQvl({"config", "show", file, "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("\"logging_groups_hex\""), std::string::npos);
  }
}

TEST(QvlLogCommands, FailuresAreReportedWithTheirMessages) {
  const std::string records = RecordFile();
  TQvlResult noRun = RunQvl({"dump", records, "--run", "2"});
  EXPECT_EQ(noRun.status, 1);
  EXPECT_NE(noRun.err.find("run 2 does not exist (the file has 2 runs)"), std::string::npos);
  const std::string bad = TempFile("bad.QVLog");
  {
    TController controller;
    std::vector<uint8_t> image(4096, 0xFF);
    SaveDownloadFile(bad, controller, image.data(), image.size(), 0);
  }
  TQvlResult lnb = RunQvl({"info", bad});
  EXPECT_EQ(lnb.status, 1);
  EXPECT_EQ(lnb.err, "qvl: lnb record not found\n");
}

}  // namespace
}  // namespace qvl::cli
