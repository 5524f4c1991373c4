// What the I/O monitor shows, without widgets: the inputs of its four groups and their raw and
// converted texts, the digital panel's battery and temperature, the status counters of the
// real-time block, the hints of the analogue labels, the two probes' texts and the window's
// settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

class TController;
class TIniFile;

// The monitor's input groups in window order.
enum class TMonitorGroup { Volts5, Volts33, Adxl, Lsm303 };

// How a count becomes a physical value.
enum class TMonitorScale {
  Volts5,        // count x 5 / 4096, 3 decimals
  Volts33,       // count x 3.3 / 1024, 3 decimals
  AdxlG,         // (count - 512) x 3.3 / 1024 / 0.174 x 3 / 3.3, 3 decimals
  LsmG,          // count / 32768 x 6, 3 decimals
  LsmGauss,      // count / 32768 x 2, 3 decimals
  LsmCelsius,    // count / 8 + 25, 1 decimal
  BatteryVolts,  // count x 5 / 4096 x 5.52 / 1.5, 2 decimals
  Celsius,       // count / 8, 1 decimal
};

struct TMonitorInput {
  TMonitorGroup group;
  const char* label;
  int input;  // index of the controller's analogue inputs
  TMonitorScale scale;
};

// The displays of the four groups in window order (input 8 is the battery of the digital
// panel and has no label of its own).
extern const std::vector<TMonitorInput> kMonitorInputs;
// The digital panel's two values: "Battery (V)" on input 8, "Temperature (C)" on input 28.
extern const TMonitorInput kMonitorBattery;
extern const TMonitorInput kMonitorTemperature;

// The group boxes' titles and the captions of their converted mode.
const char* MonitorGroupTitle(TMonitorGroup group);
const char* MonitorConvertedCaption(TMonitorGroup group);

double MonitorScaled(TMonitorScale scale, int count);
int MonitorDecimals(TMonitorScale scale);
// The count in decimal when absolute, else the scaled value in fixed notation.
std::string MonitorValueText(TMonitorScale scale, int count, bool absolute);

// The label's hint: "Pin <pin label>\r" when the input's name carries one ("AN0 \J1-3"), then
// "Used for " and the short name of the first fixed sensor slot reading the input, or
// "Not used". Each 3.3 V label describes the input whose value it shows.
std::string MonitorInputHint(const TController& controller, int input);

// The status counters of the real-time block, captions and texts, in window order.
struct TMonitorCounter {
  const char* caption;
  std::string text;
};
std::vector<TMonitorCounter> MonitorCounters(const std::array<uint8_t, 40>& realtime,
                                             uint32_t flashAddress);
// The flash address in decimal and in hexadecimal with 6 digits.
std::string FlashAddressText(uint32_t address);

// The digital inputs as eight characters "1"/"0", most significant bit first.
std::string DigitalInputsText(uint8_t bits);
// The status register's value in two hexadecimal digits, or "???" when the echo is not 0x44.
std::string StatusRegisterText(uint8_t value, uint8_t echo);
// The byte after 0x44 in the status register probe: 0 (reset) for the right mouse button,
// 255 for any other.
inline uint8_t StatusRegisterRequest(bool rightButton) {
  return rightButton ? 0x00 : 0xFF;
}

// Polling paused for the life of the object: the link is the caller's meanwhile.
class TPollingPause {
 public:
  explicit TPollingPause(TController& controller);
  ~TPollingPause();
  TPollingPause(const TPollingPause&) = delete;
  TPollingPause& operator=(const TPollingPause&) = delete;

 private:
  TController& controller_;
};

// The probes. Each pauses polling around its exchange; a failure (the link's time-out error)
// reaches the caller after polling has resumed.
// 0x7E: the digital input bits.
uint8_t ReadDigitalInputs(TController& controller);
// 0x44 and the request byte written straight to the link; the value and the echo come back.
std::string ProbeStatusRegister(TController& controller, bool rightButton);

// Window position as stored: left x 65536 + top; 0 centres the window.
long long PackMonitorPosition(int left, int top);
void UnpackMonitorPosition(long long value, int& left, int& top);

// Section "AnInputs" (the groups' "absolute" buttons) and "Monitor1"/"Position".
struct TMonitorSettings {
  std::array<bool, 4> absolute{};  // indexed by TMonitorGroup
  long long position = 0;

  void Read(const TIniFile& ini);
  void Write(TIniFile& ini) const;
};

}  // namespace qvl
