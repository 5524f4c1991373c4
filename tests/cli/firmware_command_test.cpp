#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/run_qvl.h"
#include "core/util/ini_file.h"

namespace qvl::cli {
namespace {

std::string WriteFile(const std::string& name, const std::string& text) {
  // As qvl names it: a full path without doubled separators.
  std::string path =
      std::filesystem::path(::testing::TempDir() + "/" + name).lexically_normal().string();
  std::ofstream(path) << text;
  return path;
}

// Programming remembers its file in the tool's settings.
class QvlFirmwareSettings : public TOwnSettingsTest {};

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

TEST_F(QvlFirmwareSettings, ProgramsTheSimulatedLogger) {
  std::string file = WriteFile("prog.hex", ":0400000001020300F6\n:00000001FF\n");
  TQvlResult r = RunQvl({"--link", "sim", "firmware", file});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "Connecting to VRK BootLoader... Done\nProgramming... Done\nVerifying... Done\n"
            "\nSuccessfully programmed unit with file \"" +
                file + "\"\nSwitching to user application... Done\n");
}

TEST_F(QvlFirmwareSettings, ProgramsThroughTheSimulatedUsbLinkAdapter) {
  std::string file = WriteFile("prog-usb.hex", ":0400000001020300F6\n:00000001FF\n");
  TQvlResult r = RunQvl({"--link", "sim-hid", "firmware", file, "--json"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"ok\": true"), std::string::npos) << r.out;
}

TEST_F(QvlFirmwareSettings, WithoutAFileTheFileProgrammedLastIsUsedAgain) {
  TQvlResult none = RunQvl({"--link", "sim", "firmware"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "qvl: firmware needs a FILE.hex (none was programmed before)\n");

  // Given relative to the working folder, remembered as a full path.
  const std::string folder = ::testing::TempDir() + "/qvl-firmware-files";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/again.hex") << ":0400000001020300F6\n:00000001FF\n";
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  TQvlResult first = RunQvl({"--link", "sim", "firmware", "again.hex", "--json"});
  std::filesystem::current_path(previous);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  const std::string full = std::filesystem::path(folder + "/again.hex").lexically_normal().string();
  EXPECT_EQ(TIniFile(SettingsFile()).ReadString("Flash", "File", ""), full);

  TQvlResult again = RunQvl({"--link", "sim", "firmware", "--json"});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("\"file\": \"" + full + "\""), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("\"ok\": true"), std::string::npos) << again.out;
}

TEST_F(QvlFirmwareSettings, SettingsTroubleNeverStopsProgrammingAndMissingFilesAreNotRemembered) {
  // A file that is not there fails as the bootloader sequence reports it, and is not kept.
  TQvlResult missing = RunQvl({"--link", "sim", "firmware", "/nonexistent/none.hex", "--json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));

  // Settings that cannot be written: the programming goes on, with a warning.
  std::filesystem::create_directories(SettingsFile());
  std::string file = WriteFile("settings-trouble.hex", ":0400000001020300F6\n:00000001FF\n");
  TQvlResult r = RunQvl({"--link", "sim", "firmware", file, "--json"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"ok\": true"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.rfind("qvl: warning: ", 0), 0u) << r.err;
}

}  // namespace
}  // namespace qvl::cli
