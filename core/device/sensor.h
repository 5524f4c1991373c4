// Sensors: each turns the raw ADC count of one analog input into a physical value and back,
// knows how many decimals the value deserves, and keeps its calibration in the configuration
// stream. The built-in sensor database names the sensor parts a configuration may ask for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvl {

class TStream;

// What a sensor needs from the device model that owns it.
class ISensorOwner {
 public:
  virtual ~ISensorOwner() = default;
  virtual int AnalogInputCount() const = 0;
  virtual int RawValue(int input) const = 0;
  // The sensor's calibration changed: begin an update, mark the model modified, end the update.
  virtual void SensorChanged() = 0;
};

class TSensor {
 public:
  TSensor(ISensorOwner* owner, std::string name, float param, int channel);
  virtual ~TSensor() = default;
  virtual std::unique_ptr<TSensor> Clone() const = 0;
  virtual const char* ClassName() const = 0;

  // The physical value of the owner's current raw reading of `Channel`; EUndefinedParam
  // "Undefined channel" without an owner or with a channel outside the owner's inputs.
  virtual float GetValue();
  virtual int Decimals() { return 3; }
  virtual float RawToPhys(int raw) = 0;
  virtual float MapValue(float x);
  virtual int RawZero() { return 0; }
  virtual uint16_t RawSpan() { return 1024; }
  virtual uint16_t RawMin() { return 0; }
  virtual uint16_t RawMax() { return 1023; }
  virtual float Gain();
  virtual float PhysToRaw(float x) = 0;
  virtual void LoadFromStream(TStream&) {}
  virtual void SaveToStream(TStream&) {}

  // Tells the owner that this sensor's configuration changed.
  void Changed();

  bool HasValidChannel() const;

  // Parts of the sensor text "database name\display name\units".
  std::string DatabaseName() const;
  std::string DisplayName() const;
  std::string UnitsText() const;
  void SetDisplayName(const std::string& displayName);
  void SetUnitsText(const std::string& units);

  ISensorOwner* Owner = nullptr;
  int32_t Channel = -1;
  int32_t Tag = 0;
  float InvParam = 0;
  float Param = 0;
  std::string Name;
};

using TSensorPtr = std::unique_ptr<TSensor>;
using TSensors = std::vector<TSensorPtr>;

// Piecewise-linear table of (raw count, physical value), ascending raw counts.
class TVoltSensor : public TSensor {
 public:
  using TSensor::TSensor;
  std::unique_ptr<TSensor> Clone() const override { return std::make_unique<TVoltSensor>(*this); }
  const char* ClassName() const override { return "TVoltSensor"; }
  float RawToPhys(int raw) override;
  float PhysToRaw(float x) override;
  int RawZero() override;
  uint16_t RawSpan() override;
  uint16_t RawMin() override;
  uint16_t RawMax() override;

  struct TEntry {
    int16_t raw;
    float phys;
  };
  std::vector<TEntry> VoltTable;
};

// A thermistor behind a pull-up resistor; `Param` is the pull-up conductance.
class TResSensor : public TSensor {
 public:
  using TSensor::TSensor;
  std::unique_ptr<TSensor> Clone() const override { return std::make_unique<TResSensor>(*this); }
  const char* ClassName() const override { return "TResSensor"; }
  float RawToPhys(int raw) override;
  float PhysToRaw(float t) override;

  struct TEntry {
    float res;   // resistance (or input of a mapper)
    float temp;  // temperature (or output of a mapper)
  };
  std::vector<TEntry> ResTable;
};

// A piecewise-linear map from one physical value to another, extrapolated at both ends.
class TPhysMapper : public TResSensor {
 public:
  using TResSensor::TResSensor;
  std::unique_ptr<TSensor> Clone() const override { return std::make_unique<TPhysMapper>(*this); }
  const char* ClassName() const override { return "TPhysMapper"; }
  float MapValue(float x) override;
};

// A straight line through (RawZero, 0) and (RawFull, FullScale).
class TProportionalSensor : public TSensor {
 public:
  using TSensor::TSensor;
  std::unique_ptr<TSensor> Clone() const override {
    return std::make_unique<TProportionalSensor>(*this);
  }
  const char* ClassName() const override { return "TProportionalSensor"; }
  float RawToPhys(int raw) override;
  float PhysToRaw(float x) override;
  int RawZero() override { return int(uint16_t(rawZero_)); }
  uint16_t RawSpan() override { return uint16_t(rawFull_ - rawZero_); }
  int Decimals() override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // Stores the three values and tells the owner, when any of them differs.
  void Setup(int32_t rawZero, int32_t rawFull, float fullScale);
  // Stores the three values without telling the owner (a sensor being created).
  void SetupQuiet(int32_t rawZero, int32_t rawFull, float fullScale);

  int32_t RawZeroValue() const { return rawZero_; }
  int32_t RawFull() const { return rawFull_; }
  float FullScale() const { return fullScale_; }

 private:
  int32_t rawZero_ = 0;
  int32_t rawFull_ = 0;
  float fullScale_ = 0;
};

// One row of the built-in sensor database.
struct TSensorDbRow {
  std::string partName;
  uint32_t kindMask = 0;  // bit i: channel kind i (short channel names) applies
  std::string className;
  std::vector<TVoltSensor::TEntry> voltTable;
  std::vector<TResSensor::TEntry> resTable;
};

// The built-in database text (rows separated by CR, fields by backslashes).
const std::string& SensorDatabaseText();
// The rows, parsed once on first use.
const std::vector<TSensorDbRow>& SensorDatabase();
// Parses a database text; numbers always use '.' as the decimal separator.
std::vector<TSensorDbRow> ParseSensorDatabase(const std::string& text);

// Creates the sensor the database names `partName` for `channel`; nothing when no row has
// that name (the last matching row wins).
TSensorPtr CreateSensor(ISensorOwner* owner, const std::string& partName, int channel, float param);

}  // namespace qvl
