#include "core/device/controller.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <random>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr char kStreamMagic[] = "QVL2cr0";
constexpr size_t kOldLayoutLimit = 318;
// The records of a configuration stream: a type byte, then the record's length (u16) and data;
// only the sensor record goes without a length.
enum : uint8_t {
  kRecordEnd = 0,
  kRecordConfigBlock = 2,
  kRecordControllerType = 3,
  kRecordSensors = 4,
  kRecordTimestamp = 5,
  kRecordIdentity = 6,
  kRecordReferences = 7,
  kRecordLogControl = 8,
};

void InvalidStream() {
  throw QVLStreamError("Invalid stream format");
}

// Converts a configuration block of the old layout (shorter than 318 bytes): the 16 bytes at
// 102 move to 246, the area 102..245 is cleared, and the accelerometer table at 30 turns from
// three rows of six positions into six rows of X, Y, Z.
void ConvertOldLayout(std::array<uint8_t, kConfigBlockSize>& b) {
  uint8_t moved[16];
  std::memcpy(moved, &b[102], 16);
  std::memset(&b[102], 0, 246 - 102);
  std::memcpy(&b[246], moved, 16);
  uint8_t table[72];
  std::memcpy(table, &b[30], 72);
  for (int axis = 0; axis < 3; ++axis)
    for (int position = 0; position < 6; ++position)
      std::memcpy(&b[30 + (position * 3 + axis) * 4], &table[(axis * 6 + position) * 4], 4);
}

}  // namespace

TConfigIdentity CreateConfigIdentity() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  TConfigIdentity id;
  for (size_t i = 0; i < id.size(); i += 8) {
    uint64_t r = rng();
    std::memcpy(&id[i], &r, 8);
  }
  id[6] = uint8_t((id[6] & 0x0F) | 0x40);  // version 4
  id[8] = uint8_t((id[8] & 0x3F) | 0x80);  // variant 10
  return id;
}

TController::TController() {
  configBlock_ = DefaultConfigBlock();
  logControl_ = DefaultLogControlBlock();
  accelOffset_.assign(3, 0.0);
  SetMatrixSize(accelGain_, 3, 3);
  controllerType_ = 2;
  BuildTypeTables();
}

TController::~TController() = default;

// --- controller type -------------------------------------------------------------------------

void TController::SetControllerType(uint32_t type) {
  if (type == controllerType_ && typeReference_ != 0) return;
  controllerType_ = type;
  BuildTypeTables();
}

void TController::BuildTypeTables() {
  typeReference_ = TypeReferenceValue(controllerType_);
  anInputs_ = AnalogInputsForType(controllerType_);
  referenceValues_.assign(anInputs_.size(), 0.0f);
  digitalInputs_ = DigitalInputsForType(controllerType_);
  outputs_ = OutputsForType(controllerType_);
  for (auto& s : fixedSensors_) s.reset();
  if (controllerType_ != 2) return;
  fixedSensors_[kSlotXAccel] = CreateSensor(this, "ADXL5", 18, 0);
  fixedSensors_[kSlotYAccel] = CreateSensor(this, "ADXL5", 19, 0);
  fixedSensors_[kSlotZAccel] = CreateSensor(this, "ADXL5", 20, 0);
  fixedSensors_[kSlotFrontTravel] = CreateSensor(this, "Potentiometer", 0, 0);
  fixedSensors_[kSlotRearTravel] = CreateSensor(this, "Potentiometer", 1, 0);
  auto battery = std::make_unique<TProportionalSensor>(this, "BAT", 0.0f, 8);
  battery->SetupQuiet(0, 4096, 18.4f);
  fixedSensors_[kSlotBattery] = std::move(battery);
  CalibrateTravelSensors();
}

TSensor* TController::FixedSensor(int slot) const {
  if (slot < 0 || slot >= kFixedSlotCount) return nullptr;
  return fixedSensors_[size_t(slot)].get();
}

void TController::SetFixedSensor(int slot, TSensorPtr sensor) {
  if (slot < 0 || slot >= kFixedSlotCount) return;
  fixedSensors_[size_t(slot)] = std::move(sensor);
}

// --- inputs ----------------------------------------------------------------------------------

int TController::RawValue(int input) const {
  if (input < 0 || input >= AnalogInputCount()) return 0;
  return anInputs_[size_t(input)].raw;
}

void TController::SetRawValue(int input, int16_t raw) {
  if (input >= 0 && input < AnalogInputCount()) anInputs_[size_t(input)].raw = raw;
}

TEcuAnInput TController::AnalogInput(int input) const {
  if (input < 0 || input >= AnalogInputCount()) return {};
  TEcuAnInput in = anInputs_[size_t(input)];
  in.reference = referenceValues_[size_t(input)];
  return in;
}

void TController::SensorChanged() {
  BeginUpdate();
  modified_ = true;
  EndUpdate();
}

// --- update bracket and listeners ------------------------------------------------------------

void TController::BeginUpdate() {
  ++updateDepth_;
}

void TController::EndUpdate() {
  if (--updateDepth_ > 0) return;
  updateDepth_ = 0;
  // A failed burn does not keep the change from the listeners: they are told first, then the
  // burn's failure reaches the caller (a listener's own failure is dropped in that case).
  std::exception_ptr burnFailure;
  if ((pendingFlags_ & kChangeConfiguration) && connected_ && !loading_ && configInSync_) {
    try {
      Burn();
    } catch (...) {
      burnFailure = std::current_exception();
    }
  }
  const uint8_t flags = pendingFlags_;
  pendingFlags_ = 0;
  if (!burnFailure) {
    NotifyListeners(flags);
    return;
  }
  try {
    NotifyListeners(flags);
  } catch (...) {
  }
  std::rethrow_exception(burnFailure);
}

void TController::Changed(uint8_t flags) {
  pendingFlags_ |= flags;
  if (updateDepth_ == 0) {
    uint8_t f = pendingFlags_;
    pendingFlags_ = 0;
    NotifyListeners(f);
  }
}

void TController::AddListener(IControllerListener* listener) {
  listeners_.push_back(listener);
}

void TController::RemoveListener(IControllerListener* listener) {
  for (auto& l : listeners_)
    if (l == listener) l = nullptr;
  if (notifyDepth_ == 0)
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), nullptr), listeners_.end());
}

void TController::NotifyListeners(uint8_t flags) {
  // Every listener is told, also after one of them failed; the first failure then reaches the
  // caller. Listeners added during the notification are not called this time, removed ones
  // are skipped and dropped from the list at the end.
  std::exception_ptr firstFailure;
  ++notifyDepth_;
  const size_t n = listeners_.size();
  for (size_t i = 0; i < n && i < listeners_.size(); ++i) {
    if (!listeners_[i]) continue;
    try {
      listeners_[i]->ControllerChanged(this, flags);
    } catch (...) {
      if (!firstFailure) firstFailure = std::current_exception();
    }
  }
  if (--notifyDepth_ == 0)
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), nullptr), listeners_.end());
  if (firstFailure) std::rethrow_exception(firstFailure);
}

// --- configuration ---------------------------------------------------------------------------

void TController::SetConfigBlock(const TConfigBlock& block) {
  TConfigBlock b = block;
  if (b.F32(cfg::kFrontElectricalSpan) == 0) {
    b.SetF32(cfg::kFrontElectricalSpan, 0.2533f);
    b.SetF32(cfg::kFrontMechanicalRange, 0.25f);
  }
  if (b.F32(cfg::kRearElectricalSpan) == 0) {
    b.SetF32(cfg::kRearElectricalSpan, 0.1013f);
    b.SetF32(cfg::kRearMechanicalRange, 0.1f);
  }
  if (b == configBlock_) {
    // The travel sensors follow the block even when it is unchanged: one re-aimed by hand, or
    // read with another scaling, is brought back to it.
    if (!CalibrateTravelSensors()) return;
  } else {
    configBlock_ = b;
    CalibrateTravelSensors();
    ComputeAccelCalibration();
  }
  modified_ = true;
  identitySet_ = false;
  // Only the end of a caller's update bracket burns the change into a connected logger.
  Changed(kChangeConfiguration);
}

bool TController::CalibrateTravelSensors() {
  // Travel grows as the raw count falls: zero travel at the configured zero count, the
  // electrical span 4096 counts below it. The caller reports the change.
  struct Side {
    int slot;
    size_t zero;
    size_t span;
  };
  bool changed = false;
  for (Side side : {Side{kSlotFrontTravel, cfg::kFrontZero, cfg::kFrontElectricalSpan},
                    Side{kSlotRearTravel, cfg::kRearZero, cfg::kRearElectricalSpan}}) {
    auto* sensor = dynamic_cast<TProportionalSensor*>(FixedSensor(side.slot));
    if (!sensor) continue;
    const int32_t zero = configBlock_.U16(side.zero);
    const float span = configBlock_.F32(side.span);
    if (sensor->RawZeroValue() == zero && sensor->RawFull() == zero - 4096 &&
        sensor->FullScale() == span)
      continue;
    sensor->SetupQuiet(zero, zero - 4096, span);
    changed = true;
  }
  return changed;
}

void TController::SetLogControl(const TLogControlBlock& block) {
  if (block == logControl_) return;
  logControl_ = block;
  modified_ = true;
  identitySet_ = false;
  Changed(kChangeConfiguration);
}

void TController::SetCustomSensors(TSensors sensors) {
  customSensors_ = std::move(sensors);
  for (auto& s : customSensors_)
    if (s) s->Owner = this;
  modified_ = true;
  identitySet_ = false;
  Changed(kChangeConfiguration);
}

// --- configuration stream --------------------------------------------------------------------

void TController::ReadFromStream(TStream& stream) {
  char magic[7];
  stream.ReadBuffer(magic, 7);
  if (std::memcmp(magic, kStreamMagic, 7) != 0) InvalidStream();

  loading_ = true;
  BeginUpdate();
  try {
    ReadRecords(stream);
  } catch (...) {
    // Close the bracket and clear the loading flag on the failure path too; the read error is
    // what the caller needs to see.
    pendingFlags_ |= kChangeConfiguration;
    try {
      EndUpdate();
    } catch (...) {
    }
    loading_ = false;
    throw;
  }
  pendingFlags_ |= kChangeConfiguration;
  try {
    EndUpdate();
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

void TController::ReadRecords(TStream& stream) {
  logControl_ = DefaultLogControlBlock();
  for (int slot = 0; slot < kFixedSlotCount; ++slot)
    if (slot != kSlotBattery && slot != kSlotAmbientTemp) fixedSensors_[size_t(slot)].reset();
  const uint32_t typeBefore = controllerType_;
  identitySet_ = false;
  bool oldLayout = false;
  bool referencesRead = false;
  std::vector<float> references;

  while (stream.Position() < stream.Size()) {
    const uint8_t type = stream.ReadU8();
    if (type == kRecordEnd) break;
    if (type == kRecordSensors) {  // the one record without a length
      ReadSensorRecord(stream);
      continue;
    }
    const uint16_t length = stream.ReadU16();
    const int64_t end = stream.Position() + length;
    switch (type) {
      case kRecordConfigBlock:
        oldLayout = ReadConfigBlockRecord(stream, length);
        break;
      case kRecordTimestamp:
        if (length >= 8) configTimestamp_ = stream.ReadF64();
        break;
      case kRecordIdentity:
        if (length >= 16) {
          stream.ReadBuffer(identity_.data(), 16);
          identitySet_ = true;
        }
        break;
      case kRecordReferences:
        references.clear();
        for (int i = 0; i < length / 4; ++i) references.push_back(stream.ReadF32());
        referencesRead = true;
        break;
      case kRecordLogControl:
        stream.ReadBuffer(logControl_.bytes.data(), std::min<size_t>(length, kLogControlSize));
        break;
      default:  // the controller type and unknown records
        break;
    }
    stream.SetPosition(end);  // the rest of the record is passed over
  }

  if (oldLayout) {
    configBlock_.SetI32(cfg::kSuspensionPeriod, int32_t(logControl_.U32(logctl::kPeriod)));
    configBlock_.SetI32(cfg::kAccelPeriod, int32_t(logControl_.U32(logctl::kPeriod)));
  }
  // In sync only with an unchanged type, an identity, a connection, and that identity being the
  // one recorded for the connected logger.
  configInSync_ = controllerType_ == typeBefore && identitySet_ && connected_ &&
                  connectedIdentitySet_ && identity_ == connectedIdentity_;
  if (!connected_ && referencesRead) ApplyReferenceValues(references);
}

bool TController::ReadConfigBlockRecord(TStream& stream, uint16_t length) {
  std::array<uint8_t, kConfigBlockSize> buffer{};
  stream.ReadBuffer(buffer.data(), std::min<size_t>(length, kConfigBlockSize));
  const bool oldLayout = length < kOldLayoutLimit;
  if (oldLayout) ConvertOldLayout(buffer);
  TConfigBlock block;
  block.bytes = buffer;
  SetConfigBlock(block);
  return oldLayout;
}

void TController::ReadSensorRecord(TStream& stream) {
  customSensors_.clear();
  const uint16_t count = stream.ReadU16();
  for (uint16_t k = 0; k < count; ++k) {
    const uint8_t kind = stream.ReadU8();
    if (kind > kSlotCustom) InvalidStream();
    uint16_t input = stream.ReadU16();
    const int32_t period = kind == kSlotCustom ? stream.ReadI32() : 0;
    const std::string text = stream.ReadString16();
    const std::string sensorClass = text.substr(0, text.find('\\'));
    if (kind <= kSlotZAccel) input = uint16_t(18 + kind);
    TSensorPtr sensor = CreateSensor(this, sensorClass, input, 0);
    // The record has no length: without the sensor class its own data cannot be passed over, so
    // the stream cannot be read on.
    if (!sensor) InvalidStream();
    sensor->Tag = period;
    sensor->LoadFromStream(stream);
    sensor->Name = text;
    if (kind == kSlotBattery || kind == kSlotAmbientTemp) continue;
    if (kind == kSlotCustom)
      customSensors_.push_back(std::move(sensor));
    else
      fixedSensors_[kind] = std::move(sensor);
  }
}

void TController::ApplyReferenceValues(const std::vector<float>& references) {
  const size_t n = std::min(anInputs_.size(), references.size());
  for (size_t i = 0; i < n; ++i) referenceValues_[i] = references[i];
  for (auto& sensor : fixedSensors_)
    if (sensor && sensor->Channel >= 0 && sensor->Channel < AnalogInputCount())
      sensor->Param = referenceValues_[size_t(sensor->Channel)];
}

void TController::WriteToStream(TStream& stream) {
  stream.WriteBuffer(kStreamMagic, 7);

  stream.WriteU8(kRecordConfigBlock);
  stream.WriteU16(uint16_t(kConfigBlockSize));
  stream.WriteBuffer(configBlock_.bytes.data(), kConfigBlockSize);

  stream.WriteU8(kRecordControllerType);
  stream.WriteU16(4);
  stream.WriteU32(controllerType_);

  stream.WriteU8(kRecordSensors);
  uint16_t count = 0;
  for (const auto& s : fixedSensors_)
    if (s) ++count;
  count = uint16_t(count + customSensors_.size());
  stream.WriteU16(count);
  auto writeSensor = [&](uint8_t kind, TSensor& sensor) {
    stream.WriteU8(kind);
    stream.WriteU16(uint16_t(sensor.Channel));
    if (kind == kSlotCustom) stream.WriteI32(sensor.Tag);
    stream.WriteString16(sensor.Name);
    sensor.SaveToStream(stream);
  };
  for (int slot = 0; slot < kFixedSlotCount; ++slot)
    if (fixedSensors_[size_t(slot)]) writeSensor(uint8_t(slot), *fixedSensors_[size_t(slot)]);
  for (auto& s : customSensors_)
    if (s) writeSensor(kSlotCustom, *s);

  if (!identitySet_) {
    identity_ = CreateConfigIdentity();
    identitySet_ = true;
  }
  stream.WriteU8(kRecordIdentity);
  stream.WriteU16(16);
  stream.WriteBuffer(identity_.data(), 16);

  configTimestamp_ = Now();
  stream.WriteU8(kRecordTimestamp);
  stream.WriteU16(8);
  stream.WriteF64(configTimestamp_);

  stream.WriteU8(kRecordReferences);
  stream.WriteU16(uint16_t(4 * referenceValues_.size()));
  for (float v : referenceValues_) stream.WriteF32(v);

  stream.WriteU8(kRecordLogControl);
  stream.WriteU16(uint16_t(kLogControlSize));
  stream.WriteBuffer(logControl_.bytes.data(), kLogControlSize);

  stream.WriteU8(kRecordEnd);
}

void TController::LoadFromFile(const std::string& fileName) {
  TMemoryStream stream;
  stream.LoadFromFile(fileName);
  ReadFromStream(stream);
  modified_ = false;
}

void TController::SaveToFile(const std::string& fileName) {
  TMemoryStream stream;
  WriteToStream(stream);
  TFileStream file(fileName, TFileStream::Create);
  file.WriteBuffer(stream.Memory(), size_t(stream.Size()));
  file.Close();
  modified_ = false;
}

std::vector<uint8_t> TController::BuildConfigImage() {
  TMemoryStream image;
  image.WriteU16(0);
  WriteToStream(image);
  if (image.Size() % 2) image.WriteU8(0);
  PutU16(image.Memory(), uint16_t(std::min<int64_t>(image.Size() - 2, 0xFFFF)));
  return std::move(image.Bytes());
}

// --- logging groups --------------------------------------------------------------------------

void TController::BuildLoggingGroups() {
  groups_ = {};
  channelMap_.fill(kGroupNotLogged);
  groupCount_ = 0;

  auto findOrAppend = [&](int periodUs) {
    uint16_t ms = uint16_t(periodUs / 1000);
    for (int g = 0; g < groupCount_; ++g)
      if (groups_[size_t(g)].periodMs == ms && groups_[size_t(g)].widthCode == 12) return g;
    if (groupCount_ >= kMaxLoggingGroups) throw Exception("Too many logging groups");
    groups_[size_t(groupCount_)] = {ms, 0, 0, 12};
    return groupCount_++;
  };
  auto join = [&](int group, int input, uint8_t attribute) {
    if (input < 0 || input >= kChannelMapSize) return;
    channelMap_[size_t(input)] = uint8_t((attribute << 5) | group);
    ++groups_[size_t(group)].channelCount;
  };
  auto joinSlot = [&](int group, int slot) {
    if (TSensor* s = FixedSensor(slot)) join(group, s->Channel, 0);
  };

  int32_t suspension = configBlock_.I32(cfg::kSuspensionPeriod);
  if (suspension >= 1000) {
    int g = findOrAppend(suspension);
    joinSlot(g, kSlotFrontTravel);
    joinSlot(g, kSlotRearTravel);
  }
  int32_t accel = configBlock_.I32(cfg::kAccelPeriod);
  if (accel >= 1000) {
    int g = findOrAppend(accel);
    for (int slot : {kSlotXAccel, kSlotYAccel, kSlotZAccel}) joinSlot(g, slot);
  }
  int32_t aux = configBlock_.I32(cfg::kAuxPeriod);
  if (aux >= 1000) {
    int g = findOrAppend(aux);
    for (int input : {21, 22, 23}) join(g, input, 4);
  }
  int32_t mag = configBlock_.I32(cfg::kMagPeriod);
  if (mag >= 1000) {
    int g = findOrAppend(mag);
    for (int input : {24, 25, 26}) join(g, input, 4);
  }
  for (const auto& s : customSensors_)
    if (s && s->Tag / 1000 > 0) join(findOrAppend(s->Tag), s->Channel, 0);
}

std::vector<uint8_t> TController::LoggingGroupBytes() const {
  std::vector<uint8_t> bytes(6 * kMaxLoggingGroups);
  for (size_t g = 0; g < groups_.size(); ++g) {
    PutU16(&bytes[g * 6], groups_[g].periodMs);
    PutU16(&bytes[g * 6 + 2], groups_[g].reserved);
    bytes[g * 6 + 4] = groups_[g].channelCount;
    bytes[g * 6 + 5] = groups_[g].widthCode;
  }
  return bytes;
}

}  // namespace qvl
