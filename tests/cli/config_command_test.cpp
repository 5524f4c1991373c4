#include <gtest/gtest.h>

#include <sstream>

#include "cli/run_qvl.h"
#include "core/device/controller.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"

namespace qvl::cli {
namespace {

std::string TempFile(const std::string& name) {
  return ::testing::TempDir() + "/" + name;
}

TEST(QvlCli, HelpListsCommandsAndErrorsGoToStderr) {
  TQvlResult help = RunQvl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("config show"), std::string::npos);
  EXPECT_NE(help.out.find("config new"), std::string::npos);
  TQvlResult one = RunQvl({"config", "show", "--help"});
  EXPECT_EQ(one.status, 0);
  EXPECT_NE(one.out.find("logging_groups_hex"), std::string::npos);
  TQvlResult bad = RunQvl({"frobnicate"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("qvl: ", 0), 0u);
  TQvlResult missing = RunQvl({"config", "show", TempFile("does-not-exist.QVLcf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("qvl: Cannot open file"), std::string::npos);
  TQvlResult option = RunQvl({"config", "show", "--bogus", "x"});
  EXPECT_EQ(option.status, 1);
  EXPECT_NE(option.err.find("unknown option --bogus"), std::string::npos);
}

TEST(QvlCli, NewConfigurationShowsItsDefaults) {
  std::string file = TempFile("new.QVLcf");
  TQvlResult made = RunQvl({"config", "new", "-o", file});
  ASSERT_EQ(made.status, 0) << made.err;
  TQvlResult shown = RunQvl({"config", "show", file});
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("Suspension rate          200 Hz"), std::string::npos) << shown.out;
  TQvlResult json = RunQvl({"config", "show", file, "--json"});
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"controller_type\": 2"), std::string::npos);
  EXPECT_NE(json.out.find("\"logging_groups_hex\": \"05000000050c"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"log_control_hex\": \"00006400204e0000b80bf40132003200\""),
            std::string::npos);
}

TEST(QvlCli, ReportsAStreamWrittenByAnotherProgramExactly) {
  // Old-layout block, an unknown record, a custom sensor, a degree sign in a name, no end record.
  TMemoryStream s;
  s.WriteBuffer("QVL2cr0", 7);
  std::vector<uint8_t> block(317, 0);
  block[0] = 16;
  PutF32(&block[102], 0.3f);  // front electrical span in the old place
  s.WriteU8(2);
  s.WriteU16(317);
  s.WriteBytes(block);
  s.WriteU8(42);
  s.WriteU16(2);
  s.WriteU16(0xBEEF);
  s.WriteU8(4);
  s.WriteU16(1);
  s.WriteU8(8);
  s.WriteU16(22);
  s.WriteI32(10000);
  s.WriteString16(
      "Custom\\Oil\\\xB0"
      "C");
  s.WriteI32(int32_t(0xFFFF0000u | 10));
  s.WriteI32(1010);
  s.WriteF32(120.0f);
  TLogControlBlock lc = DefaultLogControlBlock();
  lc.SetU32(logctl::kPeriod, 1000);
  s.WriteU8(8);
  s.WriteU16(16);
  s.WriteBuffer(lc.bytes.data(), 16);
  std::string file = TempFile("foreign.QVLcf");
  s.SaveToFile(file);

  TQvlResult json = RunQvl({"config", "show", "--json", file});
  ASSERT_EQ(json.status, 0) << json.err;
  const std::string& o = json.out;
  EXPECT_NE(o.find("\"identity\": null"), std::string::npos);
  EXPECT_NE(o.find("\"text\": \"Custom\\\\Oil\\\\\xC2\xB0"
                   "C\""),
            std::string::npos)
      << o;
  EXPECT_NE(o.find("\"raw_zero\": 10"), std::string::npos);
  EXPECT_NE(o.find("\"raw_full\": 1010"), std::string::npos);
  EXPECT_NE(o.find("\"full_scale\": 120"), std::string::npos);
  EXPECT_NE(o.find("\"tag\": 10000"), std::string::npos);
  // Periods of 1 ms from the old control block: suspension and acceleration share group 0, which
  // holds no channel as the stream names no travel or acceleration sensor; the custom channel
  // is alone at 10 ms; inputs 21-23 (period 0 in an old block) are not logged.
  EXPECT_NE(o.find("\"logging_groups_hex\": \"01000000000c0a000000010c0000"), std::string::npos)
      << o;
  EXPECT_NE(o.find("\"channel_map_hex\": \"08080808080808080808080808080808080808080808010808"),
            std::string::npos);
  // Spans: front from the old place (0.3), rear zero -> default 0.1013.
  EXPECT_NE(o.find("\"config_block_hex\": \"1000"), std::string::npos);
  TController check;
  check.LoadFromFile(file);
  EXPECT_EQ(check.ConfigBlock().F32(cfg::kFrontElectricalSpan), 0.3f);
  EXPECT_EQ(check.ConfigBlock().F32(cfg::kRearElectricalSpan), 0.1013f);
}

TEST(QvlCli, NinePeriodsReportTheGroupError) {
  TController c;
  TConfigBlock b = c.ConfigBlock();
  b.SetI32(cfg::kSuspensionPeriod, 1000);
  b.SetI32(cfg::kAccelPeriod, 2000);
  b.SetI32(cfg::kAuxPeriod, 3000);
  b.SetI32(cfg::kMagPeriod, 4000);
  c.SetConfigBlock(b);
  TSensors custom;
  for (int k = 0; k < 5; ++k) {
    auto sensor = CreateSensor(&c, "Custom", 2 + k, 0);
    sensor->Tag = (10 + k) * 1000;
    custom.push_back(std::move(sensor));
  }
  c.SetCustomSensors(std::move(custom));
  std::string file = TempFile("nine.QVLcf");
  c.SaveToFile(file);
  TQvlResult json = RunQvl({"config", "show", file, "--json"});
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"logging_groups_error\": \"Too many logging groups\""),
            std::string::npos);
  EXPECT_EQ(json.out.find("channel_map_hex"), std::string::npos);
}

}  // namespace
}  // namespace qvl::cli
