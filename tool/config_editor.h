// The logging configuration editor without widgets: the rate lists and their index rules, the
// memory estimate, the position texts of the travel potentiometers, the wheel coupling, the
// custom channels' offset and gain arithmetic, the magnetic compass fit, and TConfigEditor,
// the editor's own copy of a configuration that the window shows and that is applied to a
// controller in one update bracket.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/device/config_block.h"
#include "core/device/sensor.h"

namespace qvl {

class TController;

// --- rate lists ---

constexpr int kRateCount = 8;         // suspension, g sensors and magnetic compass
constexpr int kCustomRateCount = 11;  // custom channels
// "Not logged", "10 Hz" .. "1 KHz" and their sample periods in µs (suspension, g sensors).
extern const std::array<const char*, kRateCount> kRateTexts;
extern const std::array<int32_t, kRateCount> kRatePeriods;
// "Not logged", "1 Hz" .. "100 Hz" and their periods (magnetic compass).
extern const std::array<const char*, kRateCount> kMagRateTexts;
extern const std::array<int32_t, kRateCount> kMagRatePeriods;
// "Not logged", "1 Hz" .. "1 KHz" and their rates in Hz (custom channels).
extern const std::array<const char*, kCustomRateCount> kCustomRateTexts;
extern const std::array<int, kCustomRateCount> kCustomRates;

// The list entry a stored period selects.
int RateIndexOfPeriod(int32_t period);
int MagRateIndexOfPeriod(int32_t period);
// A custom channel's period for a rate in Hz: round(1 000 000 / rate), 0 when not logged.
int32_t CustomPeriodOfRate(int rateHz);
// "Not logged", "%d Hz" or "%d KHz" for a custom channel's period.
std::string CustomRateText(int32_t period);
// The custom rate list's entry showing `text` (0, "Not logged", when none does).
int CustomRateIndexOfText(const std::string& text);

// --- memory estimate ---

// Bytes per second the logger writes for the three list entries and the custom periods.
int32_t LoggingDataRate(int suspensionIndex, int gSensorIndex, int magIndex,
                        const std::vector<int32_t>& customPeriods);
// "%d MB / hour" up to 800 000 000 bytes per hour, else "%.1f GB / hour".
std::string MemoryEstimateText(int32_t dataRate);

// --- travel and wheels ---

// A raw potentiometer reading as "%.1f%%" of the sensor's range (3830 gives "6.5%").
std::string PositionText(int raw);
int CircumferenceOfDiameter(int diameterMm);
int DiameterOfCircumference(int circumferenceMm);

// --- custom channels ---

// Inputs above 7 are 3.3 V inputs with 10-bit counts, the others 5 V inputs with 12-bit counts.
struct TInputScale {
  double volts;
  int counts;
};
TInputScale InputScaleOf(int input);
// The offset cell: raw offset in volts, three decimals, at most 4 significant digits.
std::string OffsetText(int rawOffset, int input);
// The gain cell: units per volt for the physical value at raw offset + full scale.
std::string GainText(double physAtFullScale, int input);
// The column under x for the given column widths, kept within 1 to 5.
int ColumnAtX(const std::vector<int>& widths, int x);

// --- magnetic compass ---

constexpr int kCompassKinds = 3;    // horizontal, head up/down, lateral rotations
constexpr int kCompassSamples = 4;  // samples per kind
constexpr size_t kCompassFileSize = kCompassKinds * kCompassSamples * 3 * 8;
using TCompassSample = std::array<double, 3>;
using TCompassSamples = std::array<std::array<TCompassSample, kCompassSamples>, kCompassKinds>;

struct TCompassFit {
  std::array<double, 3> scale{};
  std::array<double, 3> centre{};
  std::array<std::array<double, 3>, 3> matrix{};  // [row][column]
};
// Fits an axis-aligned ellipsoid to the twelve samples, then per rotation kind k the plane of
// its normalised samples (column 2 - k of the matrix). The samples are not changed.
// "Singular matrix" when the samples do not determine the fit.
TCompassFit FitCompass(const TCompassSamples& samples);
// The sample file: 36 little-endian doubles, kind-major.
std::vector<uint8_t> CompassSampleBytes(const TCompassSamples& samples);
TCompassSamples CompassSamplesOfBytes(const std::vector<uint8_t>& bytes);

// --- the editor's copy of a configuration ---

// What the pages' number fields hold (millimetres, percent, list entries).
struct TConfigFields {
  std::array<int, 2> travel{254, 150};  // [0] front, [1] rear
  std::array<int, 2> mechanicalRange{254, 254};
  std::array<int, 2> percent{95, 95};
  std::array<int, 2> teeth{8, 8};
  std::array<int, 2> diameter{711, 711};
  std::array<int, 2> circumference{2234, 2234};
  int suspensionRate = 5;
  int gSensorRate = 5;
  int magRate = 6;
};

// One row of the custom channel list: an analogue input with a description.
struct TChannelRow {
  int input = 0;
  std::string caption;               // the description up to its first "\"
  std::array<std::string, 6> cells;  // Input, Name, Units, Offset(V), Gain(Units/V), Rate
};

enum : int {
  kColInput = 0,
  kColName = 1,
  kColUnits = 2,
  kColOffset = 3,
  kColGain = 4,
  kColRate = 5,
};

class TConfigEditor {
 public:
  TConfigEditor() = default;
  TConfigEditor(const TConfigEditor&) = delete;
  TConfigEditor& operator=(const TConfigEditor&) = delete;

  // Takes the controller's configuration block, custom sensors (as linear sensors) and input
  // descriptions; clears nothing else (the compass samples and live readings stay).
  void Fill(const TController& controller);
  // Takes the controller's current travel readings.
  void ReadLive(const TController& controller);

  // --- calibration ---
  // The current reading of a side (0 front, 1 rear) becomes its full-extension value.
  void RecordFullExtension(int side);
  // Accelerometer and magnetometer readings for calibration position 0 to 5.
  void RecordPosition(int position, const TController& controller);
  // The current magnetometer reading as the next sample of a rotation kind; returns the new
  // count. A fifth sample starts the kind afresh (it becomes the first, the count 1).
  int AddCompassSample(int kind, const TController& controller);
  void LoadCompassSamples(const TCompassSamples& samples);
  bool CompassComplete() const;

  // --- custom channels ---
  // Commits a cell editor's text for columns 1 to 4; Exception with the parse error for a
  // number that cannot be read (nothing changes then).
  void CommitText(size_t row, int column, const std::string& text);
  // Commits the rate list's entry for a row.
  void CommitRate(size_t row, int rateIndex);
  // The custom sensor of a row, nullptr when it has none.
  TSensor* SensorOf(size_t row) const;

  // --- results ---
  int32_t DataRate() const;
  // The configuration block as Apply writes it.
  TConfigBlock BuildBlock() const;
  // Apply: one update bracket with the block, a fresh logging control block and, when they
  // changed, the custom sensors. The bracket's end burns a connected logger; its failure
  // reaches the caller after the controller holds the new configuration.
  void ApplyTo(TController& controller);

  TConfigFields fields;
  TConfigBlock block{};
  std::array<uint16_t, 2> fullExtension{};
  std::array<int, 2> current{};  // current raw travel readings
  std::array<std::array<float, 3>, 6> accelReadings{};
  std::array<std::array<float, 3>, 6> magReadings{};
  TCompassSamples compass{};
  std::array<int, kCompassKinds> compassCount{};
  TSensors sensors;
  std::vector<TChannelRow> rows;
  bool modified = false;
  bool sensorsChanged = false;

 private:
  void RefreshRow(TChannelRow& row) const;
  TSensor* EnsureSensor(TChannelRow& row);
};

}  // namespace qvl
