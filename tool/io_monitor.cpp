#include "tool/io_monitor.h"

#include "core/device/controller.h"
#include "core/device/ecu_types.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"

namespace qvl {

namespace {
using G = TMonitorGroup;
using S = TMonitorScale;

constexpr const char kSettingsSection[] = "AnInputs";
constexpr const char* kAbsoluteKeys[4] = {"Absolute5", "Absolute3", "AbsoluteADXL", "AbsoluteLSM"};
constexpr const char kPositionSection[] = "Monitor1";
constexpr const char kPositionKey[] = "Position";
constexpr long long kPositionFactor = 65536;
}  // namespace

const std::vector<TMonitorInput> kMonitorInputs = {
    {G::Volts5, "AN0", 0, S::Volts5},
    {G::Volts5, "AN1", 1, S::Volts5},
    {G::Volts5, "AN2", 2, S::Volts5},
    {G::Volts5, "AN3", 3, S::Volts5},
    {G::Volts5, "AN4", 4, S::Volts5},
    {G::Volts5, "AN5", 5, S::Volts5},
    {G::Volts5, "AN6", 6, S::Volts5},
    {G::Volts5, "AN7", 7, S::Volts5},
    {G::Volts5, "AN9", 9, S::Volts5},
    {G::Volts5, "AN10", 10, S::Volts5},
    {G::Volts5, "AN11", 11, S::Volts5},
    {G::Volts33, "AN0", 12, S::Volts33},
    {G::Volts33, "AN1", 13, S::Volts33},
    {G::Volts33, "AN2", 14, S::Volts33},
    {G::Volts33, "AN3", 15, S::Volts33},
    {G::Volts33, "AN4", 16, S::Volts33},
    {G::Volts33, "AN5", 17, S::Volts33},
    {G::Adxl, "X", 18, S::AdxlG},
    {G::Adxl, "Y", 19, S::AdxlG},
    {G::Adxl, "Z", 20, S::AdxlG},
    {G::Lsm303, "AX", 21, S::LsmG},
    {G::Lsm303, "AY", 22, S::LsmG},
    {G::Lsm303, "AZ", 23, S::LsmG},
    {G::Lsm303, "BX", 24, S::LsmGauss},
    {G::Lsm303, "BY", 25, S::LsmGauss},
    {G::Lsm303, "BZ", 26, S::LsmGauss},
    {G::Lsm303, "TEMPERATURE", 27, S::LsmCelsius},
};

const TMonitorInput kMonitorBattery = {G::Volts5, "Battery (V)", 8, S::BatteryVolts};
const TMonitorInput kMonitorTemperature = {G::Volts5, "Temperature (C)", 28, S::Celsius};

const char* MonitorGroupTitle(TMonitorGroup group) {
  switch (group) {
    case G::Volts5:
      return " 5V Analog Inputs ";
    case G::Volts33:
      return " 3.3V Analog Inputs ";
    case G::Adxl:
      return " ADXL ";
    case G::Lsm303:
      return " LSM303 ";
  }
  return "";
}

const char* MonitorConvertedCaption(TMonitorGroup group) {
  switch (group) {
    case G::Volts5:
    case G::Volts33:
      return "Volts";
    case G::Adxl:
      return "g (uncalibrated)";
    case G::Lsm303:
      return "g, gauss, \xB0"
             "C";
  }
  return "";
}

double MonitorScaled(TMonitorScale scale, int count) {
  const double c = count;
  switch (scale) {
    case S::Volts5:
      return c * 5 / 4096;
    case S::Volts33:
      return c * 3.3 / 1024;
    case S::AdxlG:
      return (c - 512) * 3.3 / 1024 / 0.174 * 3 / 3.3;
    case S::LsmG:
      return c / 32768 * 6;
    case S::LsmGauss:
      return c / 32768 * 2;
    case S::LsmCelsius:
      return c / 8 + 25;
    case S::BatteryVolts:
      return c * 5 / 4096 * 5.52 / 1.5;
    case S::Celsius:
      return c / 8;
  }
  return 0;
}

int MonitorDecimals(TMonitorScale scale) {
  switch (scale) {
    case S::LsmCelsius:
    case S::Celsius:
      return 1;
    case S::BatteryVolts:
      return 2;
    default:
      return 3;
  }
}

std::string MonitorValueText(TMonitorScale scale, int count, bool absolute) {
  if (absolute) return std::to_string(count);
  return FormatFixed(MonitorScaled(scale, count), 15, MonitorDecimals(scale));
}

std::string MonitorInputHint(const TController& controller, int input) {
  std::string hint;
  const std::string name = controller.AnalogInput(input).name;
  const size_t slash = name.find('\\');
  if (slash != std::string::npos && slash + 1 < name.size())
    hint = "Pin " + name.substr(slash + 1) + "\r";
  for (int slot = 0; slot < kFixedSlotCount; ++slot) {
    const TSensor* sensor = controller.FixedSensor(slot);
    if (sensor && sensor->Channel == input)
      return hint + "Used for " + kShortChannelNames[size_t(slot)];
  }
  return hint + "Not used";
}

std::string FlashAddressText(uint32_t address) {
  return Format("%u ($%06X)", address, address);
}

std::vector<TMonitorCounter> MonitorCounters(const std::array<uint8_t, 40>& realtime,
                                             uint32_t flashAddress) {
  auto u16 = [&](size_t at) { return std::to_string(GetU16(&realtime[at])); };
  auto i16 = [&](size_t at) { return std::to_string(int16_t(GetU16(&realtime[at]))); };
  return {{"Front pulse#", std::to_string(realtime[0])},
          {"Rear pulse#", std::to_string(realtime[1])},
          {"MinSDBufs", u16(16)},
          {"MinFlashBufs", u16(18)},
          {"SD errors", u16(20)},
          {"Log buf#", i16(22)},
          {"SDLog buf#", i16(24)},
          {"Log#", i16(26)},
          {"Current flash addr", FlashAddressText(flashAddress)}};
}

std::string DigitalInputsText(uint8_t bits) {
  std::string text(8, '0');
  for (int bit = 0; bit < 8; ++bit)
    if (bits & (0x80 >> bit)) text[size_t(bit)] = '1';
  return text;
}

std::string StatusRegisterText(uint8_t value, uint8_t echo) {
  return echo == 0x44 ? Format("%02X", value) : "???";
}

TPollingPause::TPollingPause(TController& controller) : controller_(controller) {
  controller_.PausePolling();
}

TPollingPause::~TPollingPause() {
  controller_.ResumePolling();
}

namespace {
ICommChannel& LinkOf(TController& controller) {
  if (!controller.Channel()) throw Exception("No communication channel opened");
  return *controller.Channel();
}
}  // namespace

uint8_t ReadDigitalInputs(TController& controller) {
  TPollingPause pause(controller);
  controller.CommandBuffer().SetPosition(0);
  controller.PostCommand(0x7E);
  uint8_t bits = 0;
  LinkOf(controller).Read(&bits, 1);
  return bits;
}

std::string ProbeStatusRegister(TController& controller, bool rightButton) {
  TPollingPause pause(controller);
  ICommChannel& link = LinkOf(controller);
  const uint8_t request[2] = {0x44, StatusRegisterRequest(rightButton)};
  link.Write(request, 2, true);
  uint8_t answer[2] = {0, 0};
  link.Read(answer, 2);
  return StatusRegisterText(answer[0], answer[1]);
}

long long PackMonitorPosition(int left, int top) {
  return left * kPositionFactor + top;
}

void UnpackMonitorPosition(long long value, int& left, int& top) {
  left = int(value / kPositionFactor);
  top = int(value % kPositionFactor);
}

void TMonitorSettings::Read(const TIniFile& ini) {
  for (size_t g = 0; g < absolute.size(); ++g)
    absolute[g] = ini.ReadBool(kSettingsSection, kAbsoluteKeys[g], false);
  position = ini.ReadInteger(kPositionSection, kPositionKey, 0);
}

void TMonitorSettings::Write(TIniFile& ini) const {
  for (size_t g = 0; g < absolute.size(); ++g)
    ini.WriteBool(kSettingsSection, kAbsoluteKeys[g], absolute[g]);
  ini.WriteInteger(kPositionSection, kPositionKey, position);
}

}  // namespace qvl
