// Constant tables of the logger model: parameters, units, logging state names, short channel
// names, and the analog input, digital input and output tables of a controller type.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvl {

constexpr int kParamCount = 20;
constexpr int kUnitCount = 22;

// Parameter codes.
enum : int {
  kParamNone = 0,
  kParamFrontAccel = 1,
  kParamLateralAccel = 2,
  kParamVerticalAccel = 3,
  kParamFrontSpeed = 4,
  kParamRearSpeed = 5,
  kParamFrontTravel = 6,
  kParamRearTravel = 7,
  kParamBatteryVolt = 8,
  kParamAmbientTemp = 9,
  kParamLoggingStatus = 10,
  kParamXAccel = 11,
  kParamYAccel = 12,
  kParamZAccel = 13,
  kParamHeading = 14,
  kParamElevation = 15,
  kParamBank = 16,
  kParamCustom = 17,
  kParamFrontSuspVelocity = 18,
  kParamRearSuspVelocity = 19,
};

// Unit codes.
enum : int {
  kUnitVolt = 0,
  kUnitG = 1,
  kUnitPercent = 2,
  kUnitMs = 3,
  kUnitPercent0 = 4,
  kUnitCelsius = 5,
  kUnitFahrenheit = 6,
  kUnitBar = 7,
  kUnitBarg = 8,
  kUnitPsi = 9,
  kUnitPsig = 10,
  kUnitVolt1 = 11,
  kUnitTps = 12,
  kUnitMps = 13,
  kUnitKmh = 14,
  kUnitMm = 15,
  kUnitCm = 16,
  kUnitInch = 17,
  kUnitMph = 18,
  kUnitDegree = 19,
  kUnitCmps = 20,
  kUnitMmps = 21,
};

struct TEcuParamDescr {
  const char* name;
  uint32_t units;  // bit k set: unit code k is offered
  float min;
  float max;
  uint8_t flag;
  uint32_t sources;  // bit k set: recorded source k feeds this parameter
};

struct TEcuUnitDescr {
  const char* suffix;  // Windows-1252; the degree sign is byte 0xB0
  int decimals;
};

extern const std::array<TEcuParamDescr, kParamCount> kEcuParams;
extern const std::array<TEcuUnitDescr, kUnitCount> kEcuUnits;

// Names of the logging states 0 to 4 (low four bits of the logger's status byte).
extern const std::array<const char*, 5> kLoggingStateNames;
// The logging state name, or the state as a decimal number above 4.
std::string LoggingStateName(int state);

// Short names of the nine channel kinds, also the kind names of the sensor database.
extern const std::array<const char*, 9> kShortChannelNames;

// The controller's fixed sensor slots and what each one measures ("(free)" for the unused ones).
constexpr int kFixedSlotCount = 9;
enum : int {
  kSlotXAccel = 0,
  kSlotYAccel = 1,
  kSlotZAccel = 2,
  kSlotFrontTravel = 3,
  kSlotRearTravel = 4,
  kSlotBattery = 5,
  kSlotAmbientTemp = 7,
  kSlotCustom = 8,  // slot kind of custom sensors in the stream
};
extern const std::array<const char*, kFixedSlotCount> kSlotRoles;

bool IsValidParam(int code);
bool IsValidUnit(int code);
bool UnitAllowed(int param, int unit);

// One analog input of the logger.
struct TEcuAnInput {
  int16_t raw = 0;      // the last reading
  float reference = 0;  // reference value (configuration record 7)
  std::string name;
};
using TEcuAnInputs = std::vector<TEcuAnInput>;

struct TDigitalInputData {
  std::string name;
  std::string pin;
  uint32_t flags = 0;
};
using TDigitalInputDatas = std::vector<TDigitalInputData>;

struct TOutputData {
  std::string name;
  std::string pin;
  uint32_t flags = 0;
};
using TOutputDatas = std::vector<TOutputData>;

// The tables of a controller type; type 2 is the QVL logger, any other type has none.
TEcuAnInputs AnalogInputsForType(uint32_t controllerType);
TDigitalInputDatas DigitalInputsForType(uint32_t controllerType);
TOutputDatas OutputsForType(uint32_t controllerType);
// 10.0 for type 2; 0 means no controller type is set.
float TypeReferenceValue(uint32_t controllerType);

}  // namespace qvl
