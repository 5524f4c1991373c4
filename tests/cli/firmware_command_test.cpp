#include <gtest/gtest.h>

#include <fstream>

#include "cli/run_qvl.h"

namespace qvl::cli {
namespace {

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(QvlFirmware, CheckListsRowsAndRangesAndRefusesBadLines) {
  std::string good = WriteFile("check.hex",
                               ":0400000001020300F6\n:020000040001F9\n:0400100001020300E6\n"
                               ":00000001FF\n");
  TQvlResult r = RunQvl({"firmware", "--check", good});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Rows:        2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Last row:    256"), std::string::npos);
  EXPECT_NE(r.out.find("Extended address 0x00008000 words: rows 256 to 256"), std::string::npos);
  TQvlResult json = RunQvl({"firmware", "--check", good, "--json"});
  EXPECT_NE(json.out.find("\"rows\": 2"), std::string::npos);
  std::string bad = WriteFile("bad.hex", ":0400000001020300F6\n:0300000001020300F6\n");
  TQvlResult refused = RunQvl({"firmware", "--check", bad});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "qvl: Line 1\n");
}

TEST(QvlFirmware, ProgramsTheSimulatedLogger) {
  std::string file = WriteFile("prog.hex", ":0400000001020300F6\n:00000001FF\n");
  TQvlResult r = RunQvl({"--link", "sim", "firmware", file});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "Connecting to VRK BootLoader... Done\nProgramming... Done\nVerifying... Done\n"
            "\nSuccessfully programmed unit with file \"" +
                file + "\"\nSwitching to user application... Done\n");
}

TEST(QvlFirmware, ProgramsThroughTheSimulatedUsbLinkAdapter) {
  std::string file = WriteFile("prog-usb.hex", ":0400000001020300F6\n:00000001FF\n");
  TQvlResult r = RunQvl({"--link", "sim-hid", "firmware", file, "--json"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"ok\": true"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qvl::cli
