#include "core/device/ecu_types.h"

namespace qvl {
namespace {

constexpr uint32_t Units(std::initializer_list<int> codes) {
  uint32_t set = 0;
  for (int c : codes) set |= 1u << c;
  return set;
}

}  // namespace

const std::array<TEcuParamDescr, kParamCount> kEcuParams = {{
    {"None", 0, 0, 0, 0, 0},
    {"Front accel.", Units({1}), -5, 5, 1, 0x00000C},
    {"Lateral accel.", Units({1}), -5, 5, 1, 0x00000A},
    {"Vertical accel.", Units({1}), -5, 5, 1, 0x000006},
    {"Front speed", Units({12, 13, 14}), 0, 10, 1, 0x000020},
    {"Rear speed", Units({12, 13, 14}), 0, 10, 1, 0x000010},
    {"Front travel", Units({2, 15, 16, 17}), 0, 100, 1, 0x000080},
    {"Rear travel", Units({2, 15, 16, 17}), 0, 100, 1, 0x000040},
    {"Battery Volt.", Units({11}), 0, 16, 0, 0},
    {"Ambiant temp.", Units({5, 6}), 0, 50, 0, 0},
    {"Logging status", 0, 0, 4, 0, 0},
    {"X accel.", Units({1}), -5, 5, 0, 0},
    {"Y accel.", Units({1}), -5, 5, 0, 0},
    {"Z accel.", Units({1}), -5, 5, 0, 0},
    {"Heading", Units({19}), -180, 180, 1, 0x018000},
    {"Elevation", Units({19}), -180, 180, 1, 0x014000},
    {"Bank", Units({19}), -180, 180, 1, 0x00C000},
    {"Custom", 0, -5, 5, 1, 0},
    {"Front susp. velocity", Units({13, 20, 21}), -5, 5, 1, 0x080000},
    {"Rear susp. velocity", Units({13, 20, 21}), -5, 5, 1, 0x040000},
}};

const std::array<TEcuUnitDescr, kUnitCount> kEcuUnits = {{
    {" V", 3},
    {"g", 2},
    {"%", 1},
    {" ms", 2},
    {"%", 0},
    {"\xB0"
     "C",
     0},
    {"\xB0"
     "F",
     0},
    {" bar", 3},
    {" barg", 3},
    {" psi", 1},
    {" psig", 1},
    {" V", 1},
    {"tps", 2},
    {"m/s", 1},
    {"km/h", 1},
    {"mm", 0},
    {"cm", 1},
    {"in.", 2},
    {"mi/h", 1},
    {"deg.", 1},
    {"cm/s", 2},
    {"mm/s", 1},
}};

const std::array<const char*, 5> kLoggingStateNames = {"Waiting", "Pre-logging", "Logging",
                                                       "Post-logging", "Full"};

const std::array<const char*, kFixedSlotCount> kSlotRoles = {
    "X acceleration", "Y acceleration", "Z acceleration", "Front travel", "Rear travel",
    "Battery",        "(free)",         "Ambient temp.",  "(free)"};

const std::array<const char*, 9> kShortChannelNames = {
    "Front accel.", "Lateral accel.", "Vert accel.",   "Front travel", "Rear travel",
    "Battery",      "Atm pressure",   "Internal temp", "Custom"};

std::string LoggingStateName(int state) {
  if (state >= 0 && state <= 4) return kLoggingStateNames[size_t(state)];
  return std::to_string(state);
}

bool IsValidParam(int code) {
  return code >= 0 && code < kParamCount;
}
bool IsValidUnit(int code) {
  return code >= 0 && code < kUnitCount;
}
bool UnitAllowed(int param, int unit) {
  return IsValidParam(param) && IsValidUnit(unit) && (kEcuParams[size_t(param)].units >> unit) & 1;
}

TEcuAnInputs AnalogInputsForType(uint32_t controllerType) {
  if (controllerType != 2) return {};
  static const char* const kNames[32] = {"AN0 \\J1-3",
                                         "AN1 \\J1-4",
                                         "AN2 \\J1-9",
                                         "AN3 \\J1-10",
                                         "AN4 \\J3-16",
                                         "AN5 \\J4-3",
                                         "AN6 \\J4-4",
                                         "AN7 \\J4-9",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "3.3V AN0 \\J2-16",
                                         "3.3V AN1 \\J3-3",
                                         "3.3V AN2 \\J3-4",
                                         "3.3V AN3 \\J3-9",
                                         "3.3V AN4 \\J3-10",
                                         "3.3V AN5 \\J3-15",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         ""};
  TEcuAnInputs inputs(32);
  for (size_t i = 0; i < inputs.size(); ++i) inputs[i].name = kNames[i];
  return inputs;
}

TDigitalInputDatas DigitalInputsForType(uint32_t controllerType) {
  if (controllerType != 2) return {};
  return {{"Crank sensor", "9", 257}, {"Dig1", "10", 1}, {"Dig2", "11", 1}};
}

TOutputDatas OutputsForType(uint32_t) {
  return {};
}

float TypeReferenceValue(uint32_t controllerType) {
  return controllerType == 2 ? 10.0f : 0.0f;
}

}  // namespace qvl
