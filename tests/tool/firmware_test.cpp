#include <gtest/gtest.h>

#include <deque>
#include <fstream>

#include "core/util/exceptions.h"
#include "core/util/number_format.h"
#include "hex_line.h"
#include "sim/sim_bootloader.h"
#include "tool/firmware_programmer.h"
#include "tool/hex_code_rows.h"

namespace qvl {
namespace {

using test::HexLine;

// A logger on the other end of the link: its application answers the identification and
// switches to the bootloader, which is the simulated one.
class TBootPeerChannel : public ICommChannel {
 public:
  explicit TBootPeerChannel(int family) : boot(family) {}
  TSimBootloader boot;
  bool inBootloader = false;
  bool silent = false;
  std::deque<uint8_t> rx;
  std::vector<uint8_t> app;
  int timeOut = 100;

  TCommImplementor GetImplementor() override { return {this, "TBootPeer"}; }
  bool IsOpen() override { return true; }
  void SetActive(bool) override {}
  int InCount() override { return int(rx.size()); }
  std::string GetPortName() override { return "/dev/pts/9"; }
  void SetPortName(const std::string&) override {}
  int GetSpare() override { return 0; }
  int GetTimeOut() override { return timeOut; }
  std::string GetLastErrorText() override { return ""; }
  void SetSpare(int) override {}
  void SetTimeOut(int ms) override { timeOut = ms; }
  void Read(void* buffer, int count) override {
    if (int(rx.size()) < count) throw ETimeOutError("Time out on /dev/pts/9");
    auto* out = static_cast<uint8_t*>(buffer);
    for (int i = 0; i < count; ++i) {
      out[i] = rx.front();
      rx.pop_front();
    }
  }
  std::string ReadString() override {
    std::string s;
    for (;;) {
      uint8_t c;
      Read(&c, 1);
      if (c == 0) return s;
      s += char(c);
    }
  }
  void Write(const void* buffer, int count, bool) override {
    if (silent) return;
    auto* p = static_cast<const uint8_t*>(buffer);
    size_t n = size_t(count);
    while (n > 0) {
      if (inBootloader) {
        std::vector<uint8_t> answer;
        size_t used = 0;
        inBootloader = boot.Feed(p, n, answer, &used);
        rx.insert(rx.end(), answer.begin(), answer.end());
        p += used;
        n -= used;
      } else {
        app.push_back(*p++);
        --n;
        if (app.back() == 0x00) {
          for (char c : std::string("QVL R2.11")) rx.push_back(uint8_t(c));
          rx.push_back(0);
          app.clear();
        } else if (app.size() >= 3 && app[app.size() - 3] == 0x0B && app[app.size() - 2] == 0x26 &&
                   app.back() == 0x59) {
          inBootloader = true;
          boot.Enter();
          app.clear();
        }
      }
    }
  }
  void Open(const std::string&, const std::string&, int, int) override {}
};

std::string WriteHexFile(const std::string& name, const std::vector<std::string>& lines) {
  std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream f(path, std::ios::binary);
  for (const auto& l : lines) f << l << "\r\n";
  return path;
}

void ExpectLineError(const std::vector<std::string>& lines, const std::string& message) {
  Tp33CodeRows rows;
  try {
    rows.Parse(lines);
    FAIL() << "no error";
  } catch (const EFormatError& e) {
    EXPECT_EQ(e.what(), message);
  }
}

TEST(HexFile, ExtendedAddressAndWordOrder) {
  Tp33CodeRows rows;
  rows.Parse({HexLine(0, 0x0004, {0x34, 0x12, 0x56, 0x00}), HexLine(4, 0, {0x00, 0x01}),
              HexLine(0, 0x0000, {0xAA, 0xBB, 0xCC, 0x00}), HexLine(1, 0, {}),
              HexLine(0, 0x0000, {0x11, 0x11})});  // after the end record: not read
  ASSERT_EQ(rows.Rows.size(), 2u);
  EXPECT_EQ(rows.Rows[0].number, 0);
  EXPECT_EQ(rows.Rows[0].words[2], 0x1234);  // byte address 4 is word 2
  EXPECT_EQ(rows.Rows[0].words[3], 0x0056);
  EXPECT_EQ(rows.Rows[0].words[0], 0xFFFF);  // untouched words read erased
  EXPECT_EQ(rows.Rows[0].words[1], 0x00FF);
  EXPECT_EQ(rows.Rows[1].number, 256);
  EXPECT_EQ(rows.Rows[1].words[0], 0xBBAA);
  EXPECT_EQ(rows.Erased, (std::vector<bool>{false, false}));
  ASSERT_EQ(rows.Ranges.size(), 2u);
  EXPECT_EQ(rows.Ranges[1].wordBase, 32768u);
  EXPECT_EQ(rows.Ranges[1].firstRow, 256);
  // The worked example of an extended address record: the data lands in row 256.
  rows.Parse({":020000040001F9", HexLine(0, 0, {1, 2})});
  EXPECT_EQ(rows.Rows[0].number, 256);
}

TEST(HexFile, MalformedLinesNameTheirIndex) {
  ExpectLineError({HexLine(0, 0, {1, 2}), HexLine(0, 2, {1, 2, 3})}, "Line 1");  // odd count
  ExpectLineError({HexLine(0, 0, {1, 2}) + "00"}, "Line 0");                     // too long
  ExpectLineError({"020000040001F9"}, "Line 0");                                 // no colon
  ExpectLineError({":0200000400"}, "Line 0");                                    // too short
  ExpectLineError({HexLine(5, 0, {0, 0, 0, 0})}, "Line 0");                      // unknown type
  ExpectLineError({HexLine(4, 0, {})}, "Line 0");                                // no address
  ExpectLineError({HexLine(0, 0, {1, 2}), ":02000000ZZ11EE"}, "Line 1");         // not hex
  // Parsing stops at an empty line.
  Tp33CodeRows rows;
  rows.Parse({HexLine(0, 0, {1, 2}), "", "garbage"});
  EXPECT_EQ(rows.Rows.size(), 1u);
}

TEST(Bootloader, IdentificationMustBeZqbAndADigit) {
  EXPECT_TRUE(IsBootloaderIdentification("ZQB1"));
  EXPECT_TRUE(IsBootloaderIdentification("ZQB9"));
  EXPECT_FALSE(IsBootloaderIdentification("ZQB0"));
  EXPECT_FALSE(IsBootloaderIdentification("ZQB12"));
  EXPECT_FALSE(IsBootloaderIdentification("QVL R2.11"));
}

Tp33CodeRows RowsNumbered(std::initializer_list<int> numbers, int family) {
  Tp33CodeRows rows;
  std::vector<std::string> lines;
  for (int n : numbers) {
    uint32_t byteAddress = uint32_t(n) * 256;
    lines.push_back(HexLine(4, 0, {uint8_t(byteAddress >> 16), uint8_t(byteAddress >> 24)}));
    lines.push_back(HexLine(0, uint16_t(byteAddress), {uint8_t(n), 0x5A, 0x07, 0x00}));
  }
  rows.Parse(lines);
  rows.Family = family;
  return rows;
}

TEST(Bootloader, FamilyOneErasesOncePerBlockOfEight) {
  for (int family : {1, 2}) {
    auto channel = std::make_shared<TBootPeerChannel>(family);
    channel->inBootloader = true;
    TFirmwareProgrammer programmer(channel);
    Tp33CodeRows rows = RowsNumbered({3, 5, 9}, family);
    for (size_t i = 0; i < rows.Rows.size(); ++i) programmer.ProgramRow(rows, i);
    EXPECT_EQ(channel->boot.EraseCount(), family == 1 ? 2 : 3) << family;
    for (size_t i = 0; i < rows.Rows.size(); ++i) EXPECT_NO_THROW(programmer.VerifyRow(rows, i));
  }
}

TEST(Bootloader, RowZeroSkipsItsFirstFiveWordsAndDifferencesAreReported) {
  auto channel = std::make_shared<TBootPeerChannel>(2);
  channel->inBootloader = true;
  TFirmwareProgrammer programmer(channel);
  Tp33CodeRows rows;
  std::vector<uint8_t> data(16, 0x00);  // words 0 to 7 of row 0 all zero
  rows.Parse({HexLine(0, 0, data)});
  rows.Family = 2;
  programmer.ProgramRow(rows, 0);
  rows.Rows[0].words[4] = 0x1111;  // differs inside the skipped area
  EXPECT_NO_THROW(programmer.VerifyRow(rows, 0));
  rows.Rows[0].words[5] = 0x2222;
  try {
    programmer.VerifyRow(rows, 0);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error at 000A: write 2222 read 0000");
  }
}

TEST(Bootloader, DeviceIdAndWrongAnswers) {
  auto channel = std::make_shared<TBootPeerChannel>(2);
  channel->inBootloader = true;
  TFirmwareProgrammer programmer(channel);
  EXPECT_EQ(programmer.ReadDeviceId(), "0123456789ABCDEF");
  EXPECT_TRUE(programmer.Identify());
  EXPECT_TRUE(programmer.InBootloader());
  EXPECT_EQ(programmer.StatusText(), "ZQB2 on /dev/pts/9");
  // An answer byte that is not the command byte.
  channel->rx.push_back(0x55);
  channel->silent = true;
  uint8_t erase[4] = {0x04, 0, 0, 0};
  channel->Write(erase, 4, false);
  EXPECT_THROW(programmer.ReadDeviceId(), ETimeOutError);  // drained, then silence
  channel->silent = false;
  channel->rx.clear();
  channel->silent = true;
  EXPECT_FALSE(programmer.Identify());
  EXPECT_EQ(programmer.StatusText(), "No Ecu on /dev/pts/9");
}

TEST(Bootloader, ProgramRunsTheWholeSequenceFromTheApplication) {
  auto channel = std::make_shared<TBootPeerChannel>(1);
  std::vector<std::string> lines;
  for (int k = 0; k < 40; ++k)
    lines.push_back(HexLine(0, uint16_t(k * 16),
                            {uint8_t(k), uint8_t(k), uint8_t(k), 0, uint8_t(k), uint8_t(k),
                             uint8_t(k), 0, uint8_t(k), uint8_t(k), uint8_t(k), 0}));
  lines.push_back(HexLine(1, 0, {}));
  std::string file = WriteHexFile("program.hex", lines);
  TFirmwareProgrammer programmer(channel);
  std::string log;
  std::vector<int> progress;
  bool ok = programmer.Program(
      file, [&](const std::string& t) { log += t; }, [&](int p) { progress.push_back(p); });
  EXPECT_TRUE(ok) << log;
  EXPECT_EQ(log,
            "Connecting to VRK BootLoader... Done\rProgramming... Done\rVerifying... Done\r\r"
            "Successfully programmed unit with file \"" +
                file + "\"\rSwitching to user application... Done\r");
  EXPECT_FALSE(channel->inBootloader);
  EXPECT_EQ(channel->boot.Row(0).words[42], 0x0505);  // line 5 at byte 0x50 + 4: word 42
  EXPECT_EQ(channel->boot.Row(0).words[43], 0x0005);
  EXPECT_EQ(channel->timeOut, 100);  // the link's time-out is given back
  EXPECT_FALSE(progress.empty());
}

TEST(Bootloader, VerificationFailureStaysInTheBootloaderWithTheErrorLogged) {
  auto channel = std::make_shared<TBootPeerChannel>(2);
  std::string file = WriteHexFile("bad.hex", {HexLine(0, 0x0200, {0x42, 0, 0x42, 0})});
  channel->boot.CorruptNextWrite(2, 1);
  TFirmwareProgrammer programmer(channel);
  std::string log;
  EXPECT_FALSE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr));
  EXPECT_NE(log.find("Verifying...\rError: Error at 0102: write 0042 read 0043"), std::string::npos)
      << log;
  EXPECT_TRUE(channel->inBootloader);
  // Program again, this time clean: the bootloader is already there.
  log.clear();
  EXPECT_TRUE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr))
      << log;
  EXPECT_EQ(log.rfind("Programming...", 0), 0u);
}

TEST(Bootloader, NoBootloaderAfterThreeAttempts) {
  auto channel = std::make_shared<TBootPeerChannel>(2);
  channel->silent = true;
  std::string file = WriteHexFile("none.hex", {HexLine(1, 0, {})});
  TFirmwareProgrammer programmer(channel);
  std::string log;
  EXPECT_FALSE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr));
  EXPECT_EQ(log, "Connecting to VRK BootLoader...\r Error: cannot enter BootLoader mode\r");
}

TEST(Bootloader, MalformedFileIsLoggedWithItsLine) {
  auto channel = std::make_shared<TBootPeerChannel>(2);
  channel->inBootloader = true;
  std::string file = WriteHexFile("odd.hex", {HexLine(0, 0, {1, 2}), HexLine(0, 2, {1, 2, 3})});
  TFirmwareProgrammer programmer(channel);
  programmer.Identify();
  std::string log;
  EXPECT_FALSE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr));
  EXPECT_EQ(log, "Programming...\rError: Line 1");
}

}  // namespace
}  // namespace qvl
