#include "core/device/sensor.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/device/ecu_types.h"
#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Index of the segment whose midpoint is nearest to x, walking forward from segment 1 while the
// next midpoint is nearer.
template <typename Table, typename Value>
size_t NearestSegment(const Table& table, float x, Value value) {
  size_t i = 1;
  float distance = std::fabs((value(table[0]) + value(table[1])) / 2 - x);
  while (i < table.size() - 1) {
    float next = std::fabs((value(table[i]) + value(table[i + 1])) / 2 - x);
    if (!(next < distance)) break;
    distance = next;
    ++i;
  }
  return i;
}

std::vector<std::string> Split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(separator, start);
    parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// Reads a number with '.' as the decimal separator, whatever the locale says.
double ParseNumber(const std::string& token) {
  double v = 0;
  bool negative = false;
  size_t i = 0;
  while (i < token.size() && token[i] == ' ') ++i;
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
  double scale = 0;
  bool any = false;
  for (; i < token.size(); ++i) {
    char c = token[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (scale == 0) {
        v = v * 10 + (c - '0');
      } else {
        v += (c - '0') * scale;
        scale /= 10;
      }
    } else if (c == '.' && scale == 0) {
      scale = 0.1;
    } else if (c != ' ') {
      throw Exception("Invalid sensor database number '" + token + "'");
    }
  }
  if (!any) throw Exception("Invalid sensor database number '" + token + "'");
  return negative ? -v : v;
}

}  // namespace

// --- TSensor ---------------------------------------------------------------------------------

TSensor::TSensor(ISensorOwner* owner, std::string name, float param, int channel)
    : Owner(owner), Channel(channel), Param(param), Name(std::move(name)) {
  if (param > 0) InvParam = 1.0f / param;
}

bool TSensor::HasValidChannel() const {
  return Owner && Channel >= 0 && Channel < Owner->AnalogInputCount();
}

float TSensor::GetValue() {
  if (!HasValidChannel()) throw EUndefinedParam("Undefined channel");
  return RawToPhys(Owner->RawValue(Channel));
}

float TSensor::MapValue(float) {
  return kNaN;
}

float TSensor::Gain() {
  float lo = RawToPhys(RawMin());
  float hi = RawToPhys(RawMax());
  return (hi - lo) / float(int(RawMax()) - int(RawMin()));
}

void TSensor::Changed() {
  if (Owner) Owner->SensorChanged();
}

std::string TSensor::DatabaseName() const {
  return Split(Name, '\\')[0];
}

std::string TSensor::DisplayName() const {
  auto parts = Split(Name, '\\');
  return parts.size() > 1 ? parts[1] : std::string();
}

std::string TSensor::UnitsText() const {
  auto parts = Split(Name, '\\');
  return parts.size() > 2 ? parts[2] : std::string();
}

void TSensor::SetDisplayName(const std::string& displayName) {
  Name = DatabaseName() + "\\" + displayName + "\\" + UnitsText();
}

void TSensor::SetUnitsText(const std::string& units) {
  Name = DatabaseName() + "\\" + DisplayName() + "\\" + units;
}

// --- TVoltSensor -----------------------------------------------------------------------------

float TVoltSensor::RawToPhys(int raw) {
  if (raw < 0 || raw > 1023) return kNaN;
  const size_t n = VoltTable.size();
  if (n < 2) return n == 1 ? VoltTable[0].phys : 0.0f;
  if (raw < VoltTable[0].raw) return -kInf;
  if (raw > VoltTable[n - 1].raw) return kInf;
  size_t i = 1;
  while (i < n - 1 && VoltTable[i].raw < raw) ++i;
  const TEntry& a = VoltTable[i - 1];
  const TEntry& b = VoltTable[i];
  if (b.raw == a.raw) return b.phys;
  return a.phys + float(raw - a.raw) * (b.phys - a.phys) / float(b.raw - a.raw);
}

float TVoltSensor::PhysToRaw(float x) {
  const size_t n = VoltTable.size();
  if (n == 0) return 0;
  if (n == 1) return VoltTable[0].raw;
  size_t i = NearestSegment(VoltTable, x, [](const TEntry& e) { return e.phys; });
  const TEntry& a = VoltTable[i - 1];
  const TEntry& b = VoltTable[i];
  return float(a.raw) + (x - a.phys) * float(b.raw - a.raw) / (b.phys - a.phys);
}

int TVoltSensor::RawZero() {
  return VoltTable.empty() ? 0 : VoltTable.front().raw;
}
uint16_t TVoltSensor::RawMin() {
  return uint16_t(RawZero());
}
uint16_t TVoltSensor::RawMax() {
  return VoltTable.empty() ? 0 : uint16_t(VoltTable.back().raw);
}
uint16_t TVoltSensor::RawSpan() {
  return VoltTable.empty() ? 0 : uint16_t(VoltTable.back().raw - VoltTable.front().raw);
}

// --- TResSensor ------------------------------------------------------------------------------

float TResSensor::RawToPhys(int raw) {
  if (raw < 0 || raw > 1023 || Param == 0) return kNaN;
  const size_t n = ResTable.size();
  if (n < 2) return n == 1 ? ResTable[0].temp : kNaN;
  float c = float(raw) / 1024.0f;
  float r = c / (Param * (1.0f - c));
  size_t i = 1;
  while (i < n - 1 && ResTable[i].res > r) ++i;
  const TEntry& a = ResTable[i - 1];
  const TEntry& b = ResTable[i];
  return a.temp + (r - a.res) * (b.temp - a.temp) / (b.res - a.res);
}

float TResSensor::PhysToRaw(float t) {
  if (Param < 1e-8f) return 1e8f;
  const size_t n = ResTable.size();
  if (n < 2) return kNaN;
  size_t i = NearestSegment(ResTable, t, [](const TEntry& e) { return e.temp; });
  const TEntry& a = ResTable[i - 1];
  const TEntry& b = ResTable[i];
  float r = std::round(a.res + (t - a.temp) * (b.res - a.res) / (b.temp - a.temp));
  return r * 1024.0f / (1.0f / Param + r);
}

// --- TPhysMapper -----------------------------------------------------------------------------

float TPhysMapper::MapValue(float x) {
  const size_t n = ResTable.size();
  if (n < 2) return n == 1 ? ResTable[0].temp : kNaN;
  size_t i = 1;
  while (i < n - 1 && ResTable[i].res < x) ++i;
  const TEntry& a = ResTable[i - 1];
  const TEntry& b = ResTable[i];
  return a.temp + (x - a.res) * (b.temp - a.temp) / (b.res - a.res);
}

// --- TProportionalSensor ---------------------------------------------------------------------

float TProportionalSensor::RawToPhys(int raw) {
  return float(raw - rawZero_) * fullScale_ / float(rawFull_ - rawZero_);
}

float TProportionalSensor::PhysToRaw(float x) {
  return x / fullScale_ * float(rawFull_ - rawZero_) + float(rawZero_);
}

int TProportionalSensor::Decimals() {
  float u = std::fabs(fullScale_) / float(rawFull_ - rawZero_);
  if (u > 5) return 0;
  if (u > 0.5f) return 1;
  if (u > 0.05f) return 2;
  if (u > 0.005f) return 3;
  if (u > 0.0005f) return 4;
  return 5;
}

void TProportionalSensor::Setup(int32_t rawZero, int32_t rawFull, float fullScale) {
  if (rawZero == rawZero_ && rawFull == rawFull_ && fullScale == fullScale_) return;
  SetupQuiet(rawZero, rawFull, fullScale);
  Changed();
}

void TProportionalSensor::SetupQuiet(int32_t rawZero, int32_t rawFull, float fullScale) {
  rawZero_ = rawZero;
  rawFull_ = rawFull;
  fullScale_ = fullScale;
}

void TProportionalSensor::SaveToStream(TStream& stream) {
  stream.WriteI32(int32_t(uint32_t(rawZero_) | 0xFFFF0000u));
  stream.WriteI32(rawFull_);
  stream.WriteF32(fullScale_);
}

void TProportionalSensor::LoadFromStream(TStream& stream) {
  int32_t a = stream.ReadI32();
  int32_t zero = a < 0 ? (a & 0xFFFF) : a;
  int32_t b = stream.ReadI32();
  if (b != zero) {
    rawZero_ = zero;
    rawFull_ = b;
  }
  fullScale_ = a < 0 ? stream.ReadF32() : 100.0f;
}

// --- Sensor database -------------------------------------------------------------------------

const std::string& SensorDatabaseText() {
  static const std::string kText =
      "Ford EF-F6AF\\ECT,IAT,MST,FuelTemp,BoostTemp\\TResSensor\\R20,-40,925021,-30,496051,"
      "-20,276959,-10,160313,0,95851,10,58987,20,37340,30,24253,40,16113,50,10926,60,7548,70,"
      "5335,80,3837,90,2804,100,2080,110,1364,120,1191,130,918,140,715,150,563\r"
      "Denso TN079800\\MAP,BoostPressure,AtmPressure\\TVoltSensor\\V2,0,32,1.34,800\r"
      "GM MAP\\MAP,AtmPressure\\TVoltSensor\\V2,0,32,1.029,1023\r"
      "GM MAP 3bar\\MAP,BoostPressure,AtmPressure\\TVoltSensor\\V2,-0.0345,0,3.069,1023\r"
      "GM MAP 2bar\\MAP,BoostPressure,AtmPressure\\TVoltSensor\\V2,0.014,4,1.917,1004\r"
      "Potentiometer\\TPS,PPS\\TProportionalSensor\\\r"
      "Bosch Throttle Body\\TPS\\TVoltSensor\\V2,-12,0,108.5,1024\r"
      "Bosch TMAP-P\\MAP,BoostPressure,AtmPressure\\TVoltSensor\\V2,0.2,82,2.5,953\r"
      "Bosch TMAP-P1Bar\\MAP,AtmPressure\\TVoltSensor\\V2,0.1,82,1.15,952\r"
      "Bosch TMAP-T\\IAT,BoostTemp\\TResSensor\\R18,-40,48153,-30,26855,-20,15614,-10,9426,0,"
      "5887,10,3791,20,2511,30,1715.4,40,1199.6,50,851.1,60,612.3,70,446.3,80,329.5,90,246.2,"
      "100,186,110,142.08,120,109.65,130,85.45\r"
      "Ford F8AF\\BoostPressure,FuelPressure,AtmPressure\\TVoltSensor\\V2,-0.29,0,12.63,1024\r"
      "EControls UEGO\\O2\\TVoltSensor\\V2,1.0,10,0,921\r"
      "Vantor-GM ECT\\ECT,IAT,MST,FuelTemp,BoostTemp\\TResSensor\\R18,-40,48153,-30,26855,-20,"
      "15614,-10,9426,0,5887,10,3791,20,2511,30,1715.4,40,1199.6,50,851.1,60,612.3,70,446.3,80,"
      "329.5,90,246.2,100,186,110,142.08,120,109.65,130,85.45\r"
      "Honda Temp\\IAT,ECT,FuelTemp,BoostTemp\\TResSensor\\R18,-40,48153,-30,26855,-20,15614,"
      "-10,9426,0,5887,10,3791,20,2511,30,1715.4,40,1199.6,50,851.1,60,612.3,70,446.3,80,329.5,"
      "90,246.2,100,186,110,142.08,120,109.65,130,85.45\r"
      "BAT\\BatVolt\\TProportionalSensor\\\r"
      "Volks VR6\\ECT,IAT,MST,FuelTemp,BoostTemp\\TResSensor\\R14,-40,21250,-20,10412,0,5102,"
      "20,2500,30,1750,40,1250,50,900,60,600,70,434,80,325,90,250,100,175,110,122,120,86\r"
      "GM Temp sensor\\ECT,IAT,MST,FuelTemp,BoostTemp\\TResSensor\\R18,-40,109400,-30,54472,"
      "-20,28651,-10,15824,0,9129,10,5475,20,3400,30,2179,40,1436,50,972,60,673,70,476.4,80,"
      "343.8,90,252.6,100,188.69,110,143.11,120,110.08,130,85.78\r"
      "AEM 100psi\\FuelPressure,AtmPressure\\TVoltSensor\\V2,-0.85,0,7.645,1023\r"
      "QZ2K\\ECT,IAT,MST,BoostTemp\\TResSensor\\R17,-40,44657,-30,25388,-20,14961,-10,9133,0,"
      "5716,10,3682,20,2437,30,1651,40,1143,50,807,60,582,70,426,80,318,90,240,100,183,110,142,"
      "120,111\r"
      "MCP9700\\InternalTemp\\TVoltSensor\\V2,-50,0,200,512\r"
      "ADXL5\\MAP\\TVoltSensor\\V2,-8.62,0,8.62,1024\r"
      "BatCapacity\\BatCapacity\\TPhysMapper\\R9,0,6.45,0.1,6.65,0.2,6.95,0.3,7.05,0.4,7.17,0.7,"
      "7.25,0.8,7.4,0.9,7.57,1,7.85\r"
      "Custom\\\\TProportionalSensor\\\r";
  return kText;
}

std::vector<TSensorDbRow> ParseSensorDatabase(const std::string& text) {
  std::vector<TSensorDbRow> rows;
  for (const std::string& line : Split(text, '\r')) {
    if (line.empty()) continue;
    auto fields = Split(line, '\\');
    fields.resize(4);
    TSensorDbRow row;
    row.partName = fields[0];
    for (const std::string& kind : Split(fields[1], ','))
      for (size_t i = 0; i < kShortChannelNames.size(); ++i)
        if (kind == kShortChannelNames[i]) row.kindMask |= 1u << i;
    static const char* const kClasses[] = {"TVoltSensor", "TResSensor", "TPhysMapper",
                                           "TProportionalSensor"};
    for (const char* c : kClasses)
      if (fields[2] == c) row.className = c;
    const std::string& table = fields[3];
    if (!table.empty() && (table[0] == 'R' || table[0] == 'V')) {
      auto tokens = Split(table.substr(1), ',');
      size_t count = size_t(ParseNumber(tokens[0]));
      if (tokens.size() < 1 + 2 * count)
        throw Exception("Invalid sensor database table for '" + row.partName + "'");
      for (size_t k = 0; k < count; ++k) {
        double first = ParseNumber(tokens[1 + 2 * k]);
        double second = ParseNumber(tokens[2 + 2 * k]);
        if (table[0] == 'R')
          row.resTable.push_back({float(second), float(first)});
        else
          row.voltTable.push_back({int16_t(second), float(first)});
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

const std::vector<TSensorDbRow>& SensorDatabase() {
  static const std::vector<TSensorDbRow> kRows = ParseSensorDatabase(SensorDatabaseText());
  return kRows;
}

TSensorPtr CreateSensor(ISensorOwner* owner, const std::string& partName, int channel,
                        float param) {
  TSensorPtr result;
  for (const TSensorDbRow& row : SensorDatabase()) {
    if (row.partName != partName) continue;
    if (row.className == "TVoltSensor") {
      auto s = std::make_unique<TVoltSensor>(owner, partName, param, channel);
      s->VoltTable = row.voltTable;
      result = std::move(s);
    } else if (row.className == "TResSensor" || row.className == "TPhysMapper") {
      std::unique_ptr<TResSensor> s;
      if (row.className == "TPhysMapper")
        s = std::make_unique<TPhysMapper>(owner, partName, param, channel);
      else
        s = std::make_unique<TResSensor>(owner, partName, param, channel);
      s->ResTable = row.resTable;
      result = std::move(s);
    } else if (row.className == "TProportionalSensor") {
      auto s = std::make_unique<TProportionalSensor>(owner, partName, param, channel);
      // Inputs 12 to 21 are 10-bit (3.3 V) inputs; the others read 12 bits.
      s->SetupQuiet(0, channel >= 12 && channel <= 21 ? 1024 : 4096, 100);
      result = std::move(s);
    }
  }
  return result;
}

}  // namespace qvl
