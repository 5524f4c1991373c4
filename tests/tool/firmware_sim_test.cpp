// The firmware update over the real serial link against the simulated logger and its
// bootloader on a pseudo-terminal, and through `qvl firmware` on the in-process link.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "core/util/number_format.h"
#include "hex_line.h"
#include "served_sim.h"
#include "sim/pty_server.h"
#include "tool/firmware_programmer.h"
#include "tool/hex_code_rows.h"
#include "transport/comm_channel_registry.h"

namespace qvl {
namespace {

using test::HexLine;
using test::TServedSim;

// A firmware image touching 11 rows in two extended-address sections.
std::string FirmwareFile() {
  std::string path = ::testing::TempDir() + "/firmware_sim.hex";
  std::ofstream f(path);
  for (int k = 0; k < 80; ++k)
    f << HexLine(0, uint16_t(k * 32),
                 {uint8_t(k), uint8_t(k * 7), uint8_t(k * 13), 0, uint8_t(~k), 0x12, 0x34, 0})
      << "\n";
  f << HexLine(4, 0, {0x00, 0x01}) << "\n" << HexLine(0, 0x0100, {0xEF, 0xBE, 0xAD, 0x00}) << "\n";
  f << HexLine(1, 0, {}) << "\n";
  return path;
}

TCommChannelPtr OpenSerial(const std::string& port) {
  TCommChannelPtr link = CreateChannel("COM", port);
  link->Open(port, "", 4096, 57600);
  EXPECT_TRUE(link->IsOpen()) << link->GetLastErrorText();
  link->SetTimeOut(1000);
  return link;
}

TEST(FirmwareOverSerial, ProgramsVerifiesAndReturnsToTheApplication) {
  for (int family : {1, 2}) {
    sim::TSimOptions options;
    options.bootloaderFamily = family;
    TServedSim sim(options);
    TCommChannelPtr link = OpenSerial(sim.server.PortPath());
    TFirmwareProgrammer programmer(link);
    ASSERT_TRUE(programmer.Identify());
    EXPECT_FALSE(programmer.InBootloader());
    EXPECT_EQ(programmer.IdentificationText(), "QVL R2.11");
    std::string log;
    std::string file = FirmwareFile();
    EXPECT_TRUE(programmer.Program(
        file, [&](const std::string& t) { log += t; }, nullptr))
        << log;
    EXPECT_FALSE(sim.WithLogger([](auto& l) { return l.InBootloader(); }));
    Tp33CodeRows rows;
    rows.LoadFromFile(file);
    ASSERT_EQ(rows.Rows.size(), 11u);  // rows 0 to 9, and row 256
    for (const TCodeRow& row : rows.Rows) {
      TCodeRow stored = sim.WithLogger([&](auto& l) { return l.Bootloader().Row(row.number); });
      EXPECT_EQ(stored.words, row.words) << "row " << row.number;
    }
    // Family 1 erases a block of eight rows at once: rows 0-7, 8-9 and 256.
    EXPECT_EQ(sim.WithLogger([](auto& l) { return l.Bootloader().EraseCount(); }),
              family == 1 ? 3 : 11);
  }
}

TEST(FirmwareOverSerial, AMismatchStaysInTheBootloaderAndCanBeProgrammedAgain) {
  sim::TSimOptions options;
  options.corruptBootRow = 3;
  TServedSim sim(options);
  TCommChannelPtr link = OpenSerial(sim.server.PortPath());
  TFirmwareProgrammer programmer(link);
  programmer.Identify();
  std::string log;
  std::string file = FirmwareFile();
  EXPECT_FALSE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr));
  EXPECT_NE(log.find("Verifying...\rError: Error at 0182: write 0038 read 0039"), std::string::npos)
      << log;
  EXPECT_TRUE(sim.WithLogger([](auto& l) { return l.InBootloader(); }));
  EXPECT_TRUE(programmer.InBootloader());
  EXPECT_EQ(programmer.ReadDeviceId(), "0123456789ABCDEF");
  log.clear();
  EXPECT_TRUE(programmer.Program(
      file, [&](const std::string& t) { log += t; }, nullptr))
      << log;
  EXPECT_EQ(log.rfind("Programming... Done\rVerifying... Done", 0), 0u) << log;
}

}  // namespace
}  // namespace qvl
