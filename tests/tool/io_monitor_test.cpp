// The I/O monitor without a window: conversions, counters, hints, settings and the two probes
// against the simulated logger.
#include "tool/io_monitor.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/device/controller.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "sim/sim_channel.h"

namespace qvl {
namespace {

const TMonitorInput& InputOf(int input) {
  for (const TMonitorInput& in : kMonitorInputs)
    if (in.input == input) return in;
  throw Exception("no label");
}

TEST(IoMonitor, ConvertsEveryGroupWithItsFormulaAndDecimals) {
  EXPECT_EQ(MonitorValueText(InputOf(3).scale, 4096, false), "5.000");
  EXPECT_EQ(MonitorValueText(InputOf(3).scale, 4096, true), "4096");
  EXPECT_EQ(MonitorValueText(InputOf(12).scale, 1024, false), "3.300");
  EXPECT_EQ(MonitorValueText(InputOf(19).scale, 512, false), "0.000");
  EXPECT_EQ(MonitorValueText(InputOf(19).scale, 566, false), "0.909");
  EXPECT_EQ(MonitorValueText(InputOf(22).scale, 16384, false), "3.000");
  EXPECT_EQ(MonitorValueText(InputOf(25).scale, -32768, false), "-2.000");
  EXPECT_EQ(MonitorValueText(InputOf(27).scale, 0, false), "25.0");
  EXPECT_EQ(MonitorValueText(InputOf(27).scale, -12, true), "-12");
  EXPECT_EQ(MonitorValueText(kMonitorBattery.scale, 4096, false), "18.40");
  EXPECT_EQ(MonitorValueText(kMonitorTemperature.scale, 188, false), "23.5");
  // Input 8 is the digital panel's battery; the groups show 27 other inputs.
  EXPECT_EQ(kMonitorInputs.size(), 27u);
  EXPECT_THROW(InputOf(8), Exception);
  EXPECT_EQ(InputOf(9).label, std::string("AN9"));
  EXPECT_EQ(InputOf(17).label, std::string("AN5"));
}

TEST(IoMonitor, CountersProbeTextsAndHints) {
  std::array<uint8_t, 40> rt{};
  rt[0] = 255;
  rt[1] = 7;
  PutU16(&rt[16], 60000);
  PutU16(&rt[18], 3);
  PutU16(&rt[20], 2);
  PutU16(&rt[22], 0xFFFF);
  PutU16(&rt[24], 0x8000);
  PutU16(&rt[26], 42);
  std::vector<std::string> texts;
  for (const TMonitorCounter& c : MonitorCounters(rt, 0x123456)) texts.push_back(c.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"255", "7", "60000", "3", "2", "-1", "-32768", "42",
                                             "1193046 ($123456)"}));
  EXPECT_EQ(DigitalInputsText(129), "10000001");
  EXPECT_EQ(DigitalInputsText(0x40), "01000000");
  EXPECT_EQ(StatusRegisterText(0x0A, 0x44), "0A");
  EXPECT_EQ(StatusRegisterText(0x0A, 0x45), "???");

  TController c;
  EXPECT_EQ(MonitorInputHint(c, 0), "Pin J1-3\rUsed for Front travel");
  EXPECT_EQ(MonitorInputHint(c, 1), "Pin J1-4\rUsed for Rear travel");
  EXPECT_EQ(MonitorInputHint(c, 2), "Pin J1-9\rNot used");
  EXPECT_EQ(MonitorInputHint(c, 9), "Not used");
  EXPECT_EQ(MonitorInputHint(c, 12), "Pin J2-16\rNot used");
  EXPECT_EQ(MonitorInputHint(c, 18), "Used for Front accel.");
}

TEST(IoMonitor, SettingsPackThePositionAndKeepTheGroupsModes) {
  EXPECT_EQ(PackMonitorPosition(100, 50), 6553650);
  int left = -1, top = -1;
  UnpackMonitorPosition(6553650, left, top);
  EXPECT_EQ(left, 100);
  EXPECT_EQ(top, 50);
  UnpackMonitorPosition(0, left, top);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);

  TIniFile ini;
  TMonitorSettings s;
  s.Read(ini);
  EXPECT_EQ(s.absolute, (std::array<bool, 4>{false, false, false, false}));
  EXPECT_EQ(s.position, 0);
  s.absolute[size_t(TMonitorGroup::Lsm303)] = true;
  s.position = PackMonitorPosition(100, 50);
  s.Write(ini);
  EXPECT_TRUE(ini.ReadBool("AnInputs", "AbsoluteLSM", false));
  EXPECT_FALSE(ini.ReadBool("AnInputs", "AbsoluteADXL", true));
  EXPECT_EQ(ini.ReadInteger("Monitor1", "Position", 0), 6553650);
  TMonitorSettings back;
  back.Read(ini);
  EXPECT_EQ(back.absolute, s.absolute);
}

TEST(IoMonitor, ProbesTalkToTheLoggerAndReportASilentOne) {
  sim::TSimOptions options;
  auto link = std::make_shared<sim::TSimChannel>(options);
  link->Open("sim", "", 4096, 0);
  link->SetTimeOut(100);
  TController c;
  c.SetChannel(link);
  const uint8_t bits = ReadDigitalInputs(c);
  EXPECT_EQ(bits & 0xFC, 0);  // the simulated logger has two buttons
  EXPECT_EQ(link->Logger().CommandCount(0x7E), 1);
  EXPECT_EQ(ProbeStatusRegister(c, false), "A5");
  EXPECT_EQ(ProbeStatusRegister(c, true), "5A");
  EXPECT_EQ(link->Logger().CommandCount(0x44), 2);

  options.faults.silentAfter = 0;
  auto silent = std::make_shared<sim::TSimChannel>(options);
  silent->Open("sim", "", 4096, 0);
  silent->SetTimeOut(50);
  c.SetChannel(silent);
  try {
    ProbeStatusRegister(c, false);
    ADD_FAILURE() << "no time-out";
  } catch (const ETimeOutError& e) {
    EXPECT_EQ(std::string(e.what()), silent->GetLastErrorText());
  }
  c.SetChannel(nullptr);
  EXPECT_THROW(ReadDigitalInputs(c), Exception);
}

}  // namespace
}  // namespace qvl
