#include "tool/config_editor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/device/controller.h"
#include "core/device/matrix.h"
#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"

namespace qvl {

const std::array<const char*, kRateCount> kRateTexts = {"Not logged", "10 Hz",  "20 Hz",  "50 Hz",
                                                        "100 Hz",     "200 Hz", "500 Hz", "1 KHz"};
const std::array<int32_t, kRateCount> kRatePeriods = {0,     100000, 50000, 20000,
                                                      10000, 5000,   2000,  1000};
const std::array<const char*, kRateCount> kMagRateTexts = {
    "Not logged", "1 Hz", "2 Hz", "5 Hz", "10 Hz", "20 Hz", "50 Hz", "100 Hz"};
const std::array<int32_t, kRateCount> kMagRatePeriods = {0,      1000000, 500000, 200000,
                                                         100000, 50000,   20000,  10000};
const std::array<const char*, kCustomRateCount> kCustomRateTexts = {
    "Not logged", "1 Hz",   "2 Hz",   "5 Hz",   "10 Hz", "20 Hz",
    "50 Hz",      "100 Hz", "200 Hz", "500 Hz", "1 KHz"};
const std::array<int, kCustomRateCount> kCustomRates = {0,  1,   2,   5,   10,  20,
                                                        50, 100, 200, 500, 1000};

namespace {

constexpr float kBlockConstant = 0.0254f;

// The rate in Hz of a list entry (suspension and g sensors counted in tens of Hz).
int RateOfIndex(const std::array<int32_t, kRateCount>& periods, int index) {
  if (index <= 0 || index >= kRateCount) return 0;
  return int(std::lround(1e6 / periods[size_t(index)]));
}

TProportionalSensor& Linear(TSensor& sensor) {
  return static_cast<TProportionalSensor&>(sensor);
}

// The editor keeps every custom sensor as a straight line (no owner, so that its changes stay
// in the editor). A sensor of another class becomes the line through the ends of its range,
// named as a custom sensor so that the stream names the class its data is written by.
TSensorPtr LinearCopy(const TSensor& source) {
  TSensorPtr copy = source.Clone();
  copy->Owner = nullptr;
  if (dynamic_cast<TProportionalSensor*>(copy.get())) return copy;
  const int counts = InputScaleOf(source.Channel).counts;
  const int lo = copy->RawMin(), hi = copy->RawMax();
  const double plo = copy->RawToPhys(lo), phi = copy->RawToPhys(hi);
  const double gain = hi > lo ? (phi - plo) / (hi - lo) : 0;
  int32_t zero = 0;
  double full = 1;
  if (std::isfinite(gain) && gain != 0 && std::isfinite(plo)) {
    zero = int32_t(std::lround(lo - plo / gain));
    full = gain * counts;
  }
  auto line = std::make_unique<TProportionalSensor>(
      nullptr, "Custom\\" + source.DisplayName() + "\\" + source.UnitsText(), 0, source.Channel);
  line->Tag = source.Tag;
  line->SetupQuiet(zero, zero + counts, float(full));
  return line;
}

// Least squares: the x that best satisfies rows · x = rhs, by the normal equations.
TVector LeastSquares(const TMatrix& rows, const TVector& rhs) {
  TMatrix a = rows, at, ata, inverse, b, atb, x;
  SetMatrixSize(b, int(rhs.size()), 1);
  for (size_t i = 0; i < rhs.size(); ++i) b[i][0] = rhs[i];
  Transpose(a, at);
  MultiplyMatrix(at, a, ata);
  InvertMatrix(ata, inverse);
  MultiplyMatrix(at, b, atb);
  MultiplyMatrix(inverse, atb, x);
  TVector result;
  for (const TVector& r : x) result.push_back(r[0]);
  return result;
}

size_t AccelAt(int position, int axis) {
  return cfg::kAccelCalibration + size_t(position * 3 + axis) * 4;
}
size_t MagAt(int position, int axis) {
  return cfg::kMagCalibration + size_t(position * 3 + axis) * 4;
}

int InputOfSlot(const TController& controller, int slot, int fallback) {
  const TSensor* s = controller.FixedSensor(slot);
  return s && s->Channel >= 0 ? s->Channel : fallback;
}

}  // namespace

// --- rate lists ------------------------------------------------------------------------------

int RateIndexOfPeriod(int32_t period) {
  if (period == 0) return 0;
  if (period > 99999) return 1;
  if (period > 49999) return 2;
  if (period > 19999) return 3;
  if (period > 9999) return 4;
  if (period > 4999) return 5;
  if (period < 2000) return 7;
  return 6;
}

int MagRateIndexOfPeriod(int32_t period) {
  if (period == 0) return 0;
  if (period > 999999) return 1;
  if (period > 499999) return 2;
  if (period > 199999) return 3;
  if (period > 99999) return 4;
  if (period > 49999) return 5;
  if (period < 20000) return 7;
  return 6;
}

int32_t CustomPeriodOfRate(int rateHz) {
  return rateHz > 0 ? int32_t(std::lround(1e6 / rateHz)) : 0;
}

std::string CustomRateText(int32_t period) {
  const long rate = period != 0 ? std::lround(1e6 / period) : 0;
  if (rate == 0) return "Not logged";
  if (rate > 999) return Format("%ld KHz", std::lround(rate / 1000.0));
  return Format("%ld Hz", rate);
}

int CustomRateIndexOfText(const std::string& text) {
  for (int i = 0; i < kCustomRateCount; ++i)
    if (text == kCustomRateTexts[size_t(i)]) return i;
  return 0;
}

// --- memory estimate -------------------------------------------------------------------------

int32_t LoggingDataRate(int suspensionIndex, int gSensorIndex, int magIndex,
                        const std::vector<int32_t>& customPeriods) {
  const int s = RateOfIndex(kRatePeriods, suspensionIndex) / 10;
  const int g = RateOfIndex(kRatePeriods, gSensorIndex) / 10;
  const int m = RateOfIndex(kMagRatePeriods, magIndex);
  int64_t c = 20 * s + 30 * g + 3 * m + 10;
  for (int32_t period : customPeriods)
    if (period != 0) c += std::llround(1e6 / period);
  return int32_t(c + c / 2);
}

std::string MemoryEstimateText(int32_t dataRate) {
  const double perHour = double(dataRate) * 3600;
  if (perHour <= 800000000.0) return Format("%lld MB / hour", std::llround(perHour / 1e6));
  return Format("%.1f GB / hour", perHour / 1e9);
}

// --- travel and wheels -----------------------------------------------------------------------

std::string PositionText(int raw) {
  return Format("%.1f%%", (409600.0 - 100.0 * raw) / 4096.0);
}

int CircumferenceOfDiameter(int diameterMm) {
  return int(std::lround(diameterMm * std::numbers::pi));
}

int DiameterOfCircumference(int circumferenceMm) {
  return int(std::lround(circumferenceMm / std::numbers::pi));
}

// --- custom channels -------------------------------------------------------------------------

TInputScale InputScaleOf(int input) {
  return input > 7 ? TInputScale{3.3, 1024} : TInputScale{5.0, 4096};
}

std::string OffsetText(int rawOffset, int input) {
  const TInputScale k = InputScaleOf(input);
  return FormatFixed(rawOffset / double(k.counts) * k.volts, 4, 3);
}

std::string GainText(double physAtFullScale, int input) {
  const TInputScale k = InputScaleOf(input);
  const double gain = physAtFullScale / k.volts;
  const double size = std::fabs(gain);
  int n = 5;
  if (size >= 0.0001) {
    n = int(std::floor(std::log10(k.counts / size))) - 1;
    while (size * std::pow(10.0, n) < k.counts) ++n;
  }
  if (n <= 0) return Format("%lld", std::llround(gain));
  return FormatFixed(gain, 4, n);
}

int ColumnAtX(const std::vector<int>& widths, int x) {
  int column = 0, left = 0;
  while (column < int(widths.size()) && left + widths[size_t(column)] <= x)
    left += widths[size_t(column++)];
  return std::clamp(column, 1, 5);
}

// --- magnetic compass ------------------------------------------------------------------------

TCompassFit FitCompass(const TCompassSamples& samples) {
  // x² = p0 x + p1 y + p2 z - p3 y² - p4 z² + p5 over the twelve samples.
  TMatrix rows;
  TVector rhs;
  for (const auto& kind : samples)
    for (const TCompassSample& s : kind) {
      const double x = s[0], y = s[1], z = s[2];
      rows.push_back({x, y, z, -y * y, -z * z, 1});
      rhs.push_back(x * x);
    }
  const TVector p = LeastSquares(rows, rhs);
  TCompassFit fit;
  fit.centre = {p[0] / 2, p[1] / (2 * p[3]), p[2] / (2 * p[4])};
  const auto& c = fit.centre;
  const double r2 = c[0] * c[0] + p[5] + p[3] * c[1] * c[1] + p[4] * c[2] * c[2];
  fit.scale = {std::sqrt(r2), std::sqrt(r2 / p[3]), std::sqrt(r2 / p[4])};
  for (double v : fit.scale)
    if (!std::isfinite(v) || v == 0)
      throw Exception("The compass samples do not describe an ellipsoid");
  // Per rotation kind, the plane n · w = |n| of its normalised samples.
  for (int k = 0; k < kCompassKinds; ++k) {
    TMatrix n;
    TVector length;
    for (const TCompassSample& s : samples[size_t(k)]) {
      TVector v(3);
      for (size_t a = 0; a < 3; ++a) v[a] = (s[a] - c[a]) / fit.scale[a];
      length.push_back(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
      n.push_back(v);
    }
    const TVector w = LeastSquares(n, length);
    for (size_t row = 0; row < 3; ++row) fit.matrix[row][size_t(2 - k)] = w[row];
  }
  return fit;
}

std::vector<uint8_t> CompassSampleBytes(const TCompassSamples& samples) {
  std::vector<uint8_t> bytes(kCompassFileSize);
  size_t at = 0;
  for (const auto& kind : samples)
    for (const TCompassSample& s : kind)
      for (double v : s) {
        PutF64(&bytes[at], v);
        at += 8;
      }
  return bytes;
}

TCompassSamples CompassSamplesOfBytes(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kCompassFileSize) throw Exception("The compass sample file is too short");
  TCompassSamples samples{};
  size_t at = 0;
  for (auto& kind : samples)
    for (TCompassSample& s : kind)
      for (double& v : s) {
        v = GetF64(&bytes[at]);
        at += 8;
      }
  return samples;
}

// --- TConfigEditor ---------------------------------------------------------------------------

void TConfigEditor::Fill(const TController& controller) {
  block = controller.ConfigBlock();
  const size_t circumference[2] = {cfg::kFrontCircumference, cfg::kRearCircumference};
  const size_t travel[2] = {cfg::kFrontTravel, cfg::kRearTravel};
  const size_t mechanical[2] = {cfg::kFrontMechanicalRange, cfg::kRearMechanicalRange};
  const size_t electrical[2] = {cfg::kFrontElectricalSpan, cfg::kRearElectricalSpan};
  const size_t zero[2] = {cfg::kFrontZero, cfg::kRearZero};
  for (size_t side = 0; side < 2; ++side) {
    fields.teeth[side] = block.U8(side == 0 ? cfg::kFrontPulses : cfg::kRearPulses);
    const double c = block.F32(circumference[side]);
    fields.diameter[side] = int(std::lround(c / std::numbers::pi * 1000));
    fields.circumference[side] = int(std::lround(c * 1000));
    fields.travel[side] = int(std::lround(block.F32(travel[side]) * 1000.0));
    const double mech = block.F32(mechanical[side]);
    fields.mechanicalRange[side] = int(std::lround(mech * 1000));
    const double span = block.F32(electrical[side]);
    fields.percent[side] = span != 0 ? int(std::lround(mech / span * 100)) : 95;
    fullExtension[side] = block.U16(zero[side]);
  }
  for (int p = 0; p < 6; ++p)
    for (int a = 0; a < 3; ++a) {
      accelReadings[size_t(p)][size_t(a)] = block.F32(AccelAt(p, a));
      magReadings[size_t(p)][size_t(a)] = block.F32(MagAt(p, a));
    }
  fields.suspensionRate = RateIndexOfPeriod(block.I32(cfg::kSuspensionPeriod));
  fields.gSensorRate = RateIndexOfPeriod(block.I32(cfg::kAccelPeriod));
  fields.magRate = MagRateIndexOfPeriod(block.I32(cfg::kMagPeriod));

  sensors.clear();
  for (const TSensorPtr& s : controller.CustomSensors())
    if (s) sensors.push_back(LinearCopy(*s));
  rows.clear();
  const TEcuAnInputs& inputs = controller.AnalogInputs();
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].name.empty()) continue;
    TChannelRow row;
    row.input = int(i);
    row.caption = inputs[i].name.substr(0, inputs[i].name.find('\\'));
    RefreshRow(row);
    rows.push_back(std::move(row));
  }
}

void TConfigEditor::ReadLive(const TController& controller) {
  current[0] = controller.RawValue(InputOfSlot(controller, kSlotFrontTravel, 0));
  current[1] = controller.RawValue(InputOfSlot(controller, kSlotRearTravel, 1));
}

void TConfigEditor::RecordFullExtension(int side) {
  fullExtension[size_t(side)] = uint16_t(current[size_t(side)]);
  modified = true;
}

void TConfigEditor::RecordPosition(int position, const TController& controller) {
  for (int a = 0; a < 3; ++a) {
    const int accel = InputOfSlot(controller, kSlotXAccel + a, 18 + a);
    accelReadings[size_t(position)][size_t(a)] = float(int16_t(controller.RawValue(accel)));
    magReadings[size_t(position)][size_t(a)] = float(int16_t(controller.RawValue(24 + a)));
  }
  modified = true;
}

int TConfigEditor::AddCompassSample(int kind, const TController& controller) {
  int& count = compassCount[size_t(kind)];
  if (count >= kCompassSamples) count = 0;
  for (int a = 0; a < 3; ++a)
    compass[size_t(kind)][size_t(count)][size_t(a)] = int16_t(controller.RawValue(24 + a));
  modified = true;
  return ++count;
}

void TConfigEditor::LoadCompassSamples(const TCompassSamples& samples) {
  compass = samples;
  compassCount.fill(kCompassSamples);
  modified = true;
}

bool TConfigEditor::CompassComplete() const {
  return std::all_of(compassCount.begin(), compassCount.end(),
                     [](int n) { return n == kCompassSamples; });
}

TSensor* TConfigEditor::SensorOf(size_t row) const {
  if (row >= rows.size()) return nullptr;
  for (const TSensorPtr& s : sensors)
    if (s && s->Channel == rows[row].input) return s.get();
  return nullptr;
}

void TConfigEditor::RefreshRow(TChannelRow& row) const {
  row.cells = {row.caption, "", "", "", "", ""};
  for (const TSensorPtr& s : sensors) {
    if (!s || s->Channel != row.input) continue;
    TProportionalSensor& line = Linear(*s);
    const int counts = InputScaleOf(row.input).counts;
    row.cells[kColName] = s->DisplayName();
    row.cells[kColUnits] = s->UnitsText();
    row.cells[kColOffset] = OffsetText(line.RawZeroValue(), row.input);
    row.cells[kColGain] = GainText(line.RawToPhys(line.RawZeroValue() + counts), row.input);
    row.cells[kColRate] = CustomRateText(s->Tag);
    return;
  }
}

TSensor* TConfigEditor::EnsureSensor(TChannelRow& row) {
  for (const TSensorPtr& s : sensors)
    if (s && s->Channel == row.input) return s.get();
  auto line = std::make_unique<TProportionalSensor>(nullptr, "Custom", 0, row.input);
  line->SetupQuiet(0, 4096, 1);
  sensors.push_back(std::move(line));
  for (size_t c = 1; c < row.cells.size(); ++c) row.cells[c].clear();
  modified = true;
  sensorsChanged = true;
  return sensors.back().get();
}

void TConfigEditor::CommitText(size_t row, int column, const std::string& text) {
  if (row >= rows.size() || column < kColName || column > kColGain) return;
  TChannelRow& r = rows[row];
  const std::string value = TrimText(text);
  double number = 0;
  if (column == kColOffset || column == kColGain) {
    if (!TryParseDouble(value, number) || !std::isfinite(number))
      throw Exception("'" + value + "' is not a valid floating point value");
  }
  TSensor* sensor = SensorOf(row);
  if (!sensor) {
    if (value.empty()) return;
    sensor = EnsureSensor(r);
  }
  if (column == kColName || column == kColUnits) {
    if (value == r.cells[size_t(column)]) return;
    r.cells[size_t(column)] = value;
    if (column == kColName)
      sensor->SetDisplayName(value);
    else
      sensor->SetUnitsText(value);
    modified = true;
    sensorsChanged = true;
    return;
  }
  const TInputScale k = InputScaleOf(r.input);
  TProportionalSensor& line = Linear(*sensor);
  const int32_t oldOffset = line.RawZeroValue();
  const float oldPhys = line.RawToPhys(oldOffset + k.counts);
  int32_t offset = oldOffset;
  float phys = oldPhys;
  if (column == kColOffset)
    offset = int32_t(std::lround(number / k.volts * k.counts));
  else
    phys = float(std::round(number * k.volts * k.counts) / k.counts);
  if (offset != oldOffset || phys != oldPhys) {
    line.SetupQuiet(offset, offset + k.counts, phys);
    modified = true;
    sensorsChanged = true;
  }
  RefreshRow(r);
}

void TConfigEditor::CommitRate(size_t row, int rateIndex) {
  if (row >= rows.size() || rateIndex < 0 || rateIndex >= kCustomRateCount) return;
  TSensor* sensor = EnsureSensor(rows[row]);
  rows[row].cells[kColRate] = kCustomRateTexts[size_t(rateIndex)];
  const int32_t period = CustomPeriodOfRate(kCustomRates[size_t(rateIndex)]);
  if (sensor->Tag != period) {
    sensor->Tag = period;
    modified = true;
    sensorsChanged = true;
  }
}

int32_t TConfigEditor::DataRate() const {
  std::vector<int32_t> periods;
  for (const TSensorPtr& s : sensors)
    if (s) periods.push_back(s->Tag);
  return LoggingDataRate(fields.suspensionRate, fields.gSensorRate, fields.magRate, periods);
}

TConfigBlock TConfigEditor::BuildBlock() const {
  TConfigBlock b = block;
  b.SetU8(cfg::kFrontPulses, uint8_t(fields.teeth[0]));
  b.SetU8(cfg::kRearPulses, uint8_t(fields.teeth[1]));
  b.SetF32(cfg::kFrontCircumference, float(fields.circumference[0] / 1000.0));
  b.SetF32(cfg::kRearCircumference, float(fields.circumference[1] / 1000.0));
  b.SetF32(cfg::kConstant1, kBlockConstant);
  b.SetF32(cfg::kConstant2, kBlockConstant);
  b.SetF32(cfg::kFrontTravel, float(fields.travel[0] / 1000.0));
  b.SetF32(cfg::kRearTravel, float(fields.travel[1] / 1000.0));
  b.SetU16(cfg::kFrontZero, fullExtension[0]);
  b.SetU16(cfg::kRearZero, fullExtension[1]);
  for (int p = 0; p < 6; ++p)
    for (int a = 0; a < 3; ++a) {
      b.SetF32(AccelAt(p, a), accelReadings[size_t(p)][size_t(a)]);
      b.SetF32(MagAt(p, a), magReadings[size_t(p)][size_t(a)]);
    }
  const size_t electrical[2] = {cfg::kFrontElectricalSpan, cfg::kRearElectricalSpan};
  const size_t mechanical[2] = {cfg::kFrontMechanicalRange, cfg::kRearMechanicalRange};
  for (size_t side = 0; side < 2; ++side) {
    const double range = fields.mechanicalRange[side] / 1000.0;
    b.SetF32(electrical[side], float(range / fields.percent[side] * 100));
    b.SetF32(mechanical[side], float(range));
  }
  b.SetI32(cfg::kSuspensionPeriod, kRatePeriods[size_t(std::clamp(fields.suspensionRate, 0, 7))]);
  b.SetI32(cfg::kAccelPeriod, kRatePeriods[size_t(std::clamp(fields.gSensorRate, 0, 7))]);
  b.SetI32(cfg::kAuxPeriod, 0);
  b.SetI32(cfg::kMagPeriod, kMagRatePeriods[size_t(std::clamp(fields.magRate, 0, 7))]);
  if (CompassComplete()) {
    const TCompassFit fit = FitCompass(compass);
    for (size_t a = 0; a < 3; ++a) {
      b.SetF32(cfg::kMagScale + a * 4, float(fit.scale[a]));
      b.SetF32(cfg::kMagOffset + a * 4, float(fit.centre[a]));
      for (size_t col = 0; col < 3; ++col)
        b.SetF32(cfg::kMagAlignment + (a * 3 + col) * 4, float(fit.matrix[a][col]));
      // The first horizontal sample as it was taken, in place of position 0's reading.
      b.SetF32(MagAt(0, int(a)), float(compass[0][0][a]));
    }
  }
  b.SetI32(cfg::kDataRate, DataRate());
  return b;
}

void TConfigEditor::ApplyTo(TController& controller) {
  // Everything that can fail before the controller changes is done first.
  const TConfigBlock newBlock = BuildBlock();
  TLogControlBlock control{};
  control.SetU8(logctl::kMode, 3);
  control.SetU8(1, controller.LogControl().U8(1));
  control.SetU16(logctl::kWord2, 100);
  control.SetU32(logctl::kPeriod, 1000);
  TSensors copies;
  if (sensorsChanged)
    for (const TSensorPtr& s : sensors)
      if (s) copies.push_back(s->Clone());

  controller.BeginUpdate();
  try {
    controller.SetConfigBlock(newBlock);
    controller.SetLogControl(control);
    if (sensorsChanged) controller.SetCustomSensors(std::move(copies));
  } catch (...) {
    controller.EndUpdate();
    throw;
  }
  controller.EndUpdate();
}

}  // namespace qvl
