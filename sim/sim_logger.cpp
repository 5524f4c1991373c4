#include "sim/sim_logger.h"

#include <algorithm>
#include <cmath>

#include "core/device/controller.h"
#include "core/device/device_time.h"
#include "core/device/flash_geometry.h"
#include "core/device/log_record.h"
#include "core/util/endian.h"
#include "sim/flash_image_encoder.h"

namespace qvl::sim {
namespace {

constexpr uint32_t kPage = 4096;
// The parser forgets a half-received frame after this much silence, as the host resends the
// whole command after a failure.
constexpr uint64_t kFrameResetMs = 100;
// What the logger takes: the strided read's item count, the configuration image with its
// length word, and the fixed sizes of the logging control block, the logging groups and the
// channel map as their headers must state them.
constexpr uint16_t kMaxStridedItems = 128;
constexpr size_t kMaxConfigImage = 2980;
constexpr uint16_t kLogControlSize = 16;
constexpr uint8_t kLoggingGroupsSize = 48;
constexpr uint8_t kChannelMapBytes = 32;
// The keys that guard the destructive commands: erasing the flash, clearing and writing the
// scratch memory.
constexpr uint16_t kEraseFlashKey = 0x91FD;
constexpr uint32_t kClearScratchKey = 0x47D2C3B5;
constexpr uint16_t kWriteScratchKey = 0xB66F;
constexpr double kPi = 3.14159265358979323846;
constexpr uint16_t kPotZero = 3900;
// The accelerometer inputs are 10-bit: mid-scale at rest, 8.62 g either way.
constexpr double kAccelMid = 512;
constexpr double kCountsPerG = 1024 / 17.24;

// The command bytes that start a frame (0x00, the identification, is answered at once).
bool IsCommand(uint8_t byte) {
  switch (byte) {
    case 0x07:
    case 0x12:
    case 0x20:
    case 0x26:
    case 0x28:
    case 0x2D:
    case 0x2E:
    case 0x31:
    case 0x32:
    case 0x39:
    case 0x3C:
    case 0x3E:
    case 0x3F:
    case 0x40:
    case 0x42:
    case 0x43:
    case 0x44:
    case 0x45:
    case 0x46:
    case 0x7E:
      return true;
    default:
      return false;
  }
}

// The configuration image a logger leaves the factory with: the default configuration with
// the potentiometers' zero counts and the accelerometer calibrated around mid-scale.
std::vector<uint8_t> DefaultImage() {
  TController controller;
  TConfigBlock block = controller.ConfigBlock();
  block.SetU16(cfg::kFrontZero, kPotZero);
  block.SetU16(cfg::kRearZero, kPotZero);
  static const double kReadings[6][3] = {{0, 0, 1},  {0, 0, -1}, {1, 0, 0},
                                         {-1, 0, 0}, {0, 1, 0},  {0, -1, 0}};
  for (int position = 0; position < 6; ++position)
    for (int axis = 0; axis < 3; ++axis)
      block.SetF32(cfg::kAccelCalibration + size_t(position * 3 + axis) * 4,
                   float(kAccelMid + kCountsPerG * kReadings[position][axis]));
  // The data rate the configuration editor estimates for these rates (bytes per second).
  auto tenths = [&](size_t period) {
    const int32_t us = block.I32(period);
    return us > 0 ? 100000 / us : 0;
  };
  const int32_t c =
      20 * tenths(cfg::kSuspensionPeriod) + 30 * tenths(cfg::kAccelPeriod) +
      3 * (block.I32(cfg::kMagPeriod) > 0 ? 1000000 / block.I32(cfg::kMagPeriod) : 0) + 10;
  block.SetI32(cfg::kDataRate, c + c / 2);
  controller.SetConfigBlock(block);
  return controller.BuildConfigImage();
}

}  // namespace

double RideWheelSpeed(int wheel, double t) {
  // Rolling along at 3 to 10 m/s; every 30 s the rider brakes to a stop in 2 s, stands for a
  // second and rides off again. During the braking the rear wheel locks for 0.7 s, and in every
  // other stop the front wheel locks for 0.2 s.
  const double cruise = 6.5 + 2.5 * std::sin(0.21 * t) + 1.0 * std::sin(0.83 * t);
  const double phase = std::fmod(t, 30.0);
  double v = cruise;
  if (phase >= 25 && phase < 27)
    v = cruise * (27 - phase) / 2;
  else if (phase >= 27 && phase < 28)
    v = 0;
  else if (phase >= 28)
    v = cruise * (phase - 28) / 2;
  const bool oddStop = int(std::floor(t / 30.0)) % 2 == 1;
  if (wheel == 1 && phase >= 25.4 && phase < 26.1) v = 0;
  if (wheel == 0 && oddStop && phase >= 25.8 && phase < 26.0) v = 0;
  return std::max(0.0, v);
}

TSimLogger::TSimLogger(const TSimOptions& options, uint64_t nowMs)
    : options_(options), bootloader_(options.bootloaderFamily), startMs_(nowMs) {
  if (options.corruptBootRow >= 0)
    bootloader_.CorruptNextWrite(uint16_t(options.corruptBootRow), 1);
  configImage_ = DefaultImage();
  ApplyConfiguration();
  {
    TController c;
    auto lc = c.LogControl().bytes;
    std::copy(lc.begin(), lc.end(), logControl_.begin());
  }
  channelMap_.fill(8);
  flash_.assign(FlashSizeForCode(options_.flashSizeCode), 0xFF);
  scratch_.fill(0xFFFF);
  clockSet_ = options_.clockSet;
  const uint32_t pcUnits = DateTimeToDeviceTime(Now());
  clockBase_ = clockSet_ ? uint32_t(int64_t(pcUnits) + options_.clockOffsetUnits) : 0;
  clockBaseMs_ = nowMs;
  runStart_ = clockBase_;
  rideMs_ = nowMs;
  FillFlash();
}

int TSimLogger::Version() const {
  const std::string& id = options_.identification;
  if (id.size() < 9) return 0;
  return (id[5] - '0') * 100 + (id[7] - '0') * 10 + (id[8] - '0');
}

uint32_t TSimLogger::EraseSectorSize() const {
  return EraseSectorSizeForCode(options_.flashSizeCode);
}

uint32_t TSimLogger::Clock(uint64_t nowMs) const {
  return clockBase_ + uint32_t((nowMs - clockBaseMs_) / 1024);
}

void TSimLogger::SetClock(uint32_t deviceTime, uint64_t nowMs) {
  clockBase_ = deviceTime;
  clockBaseMs_ = nowMs;
  clockSet_ = true;
}

TDataLogGroups TSimLogger::RecordedGroups() const {
  // Periods in ticks of 1 ms, each group's inputs in input order.
  TController controller;
  TMemoryStream stream(std::vector<uint8_t>(configImage_.begin() + 2, configImage_.end()));
  controller.ReadFromStream(stream);
  controller.BuildLoggingGroups();
  TDataLogGroups groups;
  for (int g = 0; g < controller.LoggingGroupCount(); ++g) {
    TDataLogGroup group;
    group.period = controller.LoggingGroups()[size_t(g)].periodMs;
    for (int input = 0; input < kChannelMapSize; ++input)
      if ((controller.ChannelMap()[size_t(input)] & 0x1F) == g && group.count < kMaxGroupChannels)
        group.channels[size_t(group.count++)] = int16_t(input);
    if (group.period > 0 && group.count > 0) groups.push_back(group);
  }
  return groups;
}

void TSimLogger::FillSeason(const TDataLogGroups& groups) {
  TSimSeason::TSetup setup;
  setup.options = options_.season;
  setup.groups = groups;
  setup.flashSize = uint32_t(flash_.size());
  setup.sectorSize = EraseSectorSize();
  setup.seed = options_.seed;
  setup.nowDeviceTime = clockSet_ ? Clock(clockBaseMs_) : DateTimeToDeviceTime(Now());
  setup.nowMs = clockBaseMs_;
  setup.values = [this](uint64_t rideMs) {
    return AnalogValues(startMs_ + rideMs, kChannelMapSize);
  };
  setup.wheels = [](int wheel, double t) { return RideWheelSpeed(wheel, t); };
  for (int w = 0; w < 2; ++w) {
    setup.circumference[w] = circumference_[w];
    setup.pulsesPerTurn[w] = pulsesPerTurn_[w];
  }
  season_ = std::make_unique<TSimSeason>(std::move(setup), flash_);
  // One marker per session start, the newest last (at most 64 fit in the scratch memory).
  const auto& markers = season_->Markers();
  const size_t first = markers.size() > 64 ? markers.size() - 64 : 0;
  for (size_t k = first, at = 0; k < markers.size(); ++k, at += 4) {
    scratch_[at] = uint16_t(markers[k].sector4k);
    scratch_[at + 1] = uint16_t(markers[k].sector4k >> 16);
    scratch_[at + 2] = uint16_t(markers[k].deviceTime);
    scratch_[at + 3] = uint16_t(markers[k].deviceTime >> 16);
  }
  sessionStart_ = season_->SessionStartAddress();
  writeAddress_ = season_->WriteAddress();
  if (season_->Logging()) runStart_ = season_->RunStartDeviceTime();
}

void TSimLogger::AdvanceLogging(uint64_t nowMs) {
  if (!season_ || !season_->Logging()) return;
  season_->Advance(nowMs, flash_);
  writeAddress_ = season_->WriteAddress();
}

void TSimLogger::FillFlash() {
  if (flash_.empty()) return;
  const TDataLogGroups groups = RecordedGroups();
  if (options_.season.enabled) {
    FillSeason(groups);
    return;
  }

  // Sessions six hours apart, the last one ending a while ago; each session's runs a minute
  // apart. Every session starts on an erase sector and has its marker in the scratch memory.
  const uint32_t sector = EraseSectorSize();
  const uint32_t now = DateTimeToDeviceTime(Now());
  const uint32_t runTicks = uint32_t(std::max(1, options_.runSeconds)) * 1000;
  uint32_t address = 0;
  int marker = 0;
  for (int s = 0; s < options_.sessions; ++s) {
    address = (address + sector - 1) / sector * sector;
    if (uint64_t(address) + sector > flash_.size()) break;
    const uint32_t sessionTime = now - uint32_t((options_.sessions - s) * 21094);
    TFlashImageEncoder encoder(groups, address, sector);
    encoder.SetSectorHeaders(true);
    uint32_t tick = encoder.BeginSession(1000, sessionTime);
    for (int r = 0; r < options_.runsPerSession; ++r) {
      if (r > 0)
        tick =
            encoder.BeginRun(encoder.CurrentTick() + 60000,
                             sessionTime + uint32_t((encoder.CurrentTick() + 60000 - 1000) / 1024));
      const uint64_t rideOffset = uint64_t(s) * 3600000 + r * 600000;
      auto source = [&](int g, uint32_t t, uint16_t* values, int count) {
        auto raw = AnalogValues(startMs_ + rideOffset + t, kChannelMapSize);
        for (int k = 0; k < count; ++k)
          values[k] = uint16_t(raw[size_t(groups[size_t(g)].channels[size_t(k)])] & 0x0FFF);
      };
      // Wheel pulses: each wheel's pulse counter and the timer (100 us ticks) at its last
      // pulse, recorded as trigger records at the millisecond of the pulse.
      double phase[2] = {0, 0};
      uint8_t counter[2] = {0, 0};
      const uint32_t end = tick + runTicks;
      for (uint32_t ms = tick; ms < end; ++ms) {
        const double seconds = (startMs_ + rideOffset + ms - startMs_) / 1000.0;
        bool pulsed[2] = {false, false};
        int16_t value[2] = {0, 0};
        for (int w = 0; w < 2; ++w) {
          const double perMs =
              RideWheelSpeed(w, seconds) / circumference_[w] * pulsesPerTurn_[w] / 1000.0;
          phase[w] += perMs;
          if (phase[w] >= 1) {
            phase[w] -= std::floor(phase[w]);
            ++counter[w];
            pulsed[w] = true;
            const double at = (rideOffset + ms) * 10.0 - (perMs > 0 ? phase[w] / perMs * 10 : 0);
            value[w] = int16_t(uint16_t(int64_t(at)));
          }
        }
        if (!pulsed[0] && !pulsed[1]) continue;
        encoder.AdvanceTo(ms, source);
        if (pulsed[0] && pulsed[1])
          encoder.BothTriggers(ms, counter[0], counter[1], value[0], value[1]);
        else if (pulsed[0])
          encoder.FrontTrigger(ms, counter[0], value[0]);
        else
          encoder.RearTrigger(ms, counter[1], value[1]);
      }
      encoder.AdvanceTo(end, source);
      encoder.TimeMark(encoder.CurrentTick());
    }
    encoder.Finish();
    const auto& image = encoder.Image();
    if (uint64_t(address) + image.size() > flash_.size()) break;
    CopyIntoFlash(flash_, address, image);
    sessionStart_ = address;
    if (marker + 4 <= int(scratch_.size())) {
      const uint32_t sectorNumber = address / kPage;
      scratch_[size_t(marker)] = uint16_t(sectorNumber);
      scratch_[size_t(marker + 1)] = uint16_t(sectorNumber >> 16);
      scratch_[size_t(marker + 2)] = uint16_t(sessionTime);
      scratch_[size_t(marker + 3)] = uint16_t(sessionTime >> 16);
      marker += 4;
    }
    address += uint32_t(image.size());
  }
  writeAddress_ = address % uint32_t(flash_.size());
}

int TSimLogger::DataLength() const {
  const size_t n = data_.size();
  switch (command_) {
    case 0x12:
      return 4;
    case 0x20:
      return 2 + kLogControlSize;
    case 0x26:
      return 2 + kLoggingGroupsSize;
    case 0x31:
      return 2 + kChannelMapBytes;
    case 0x28:
      return n >= 2 ? 2 + GetU16(data_.data()) : -1;
    case 0x2D:
      return 4;
    case 0x07:
    case 0x2E:
    case 0x39:
    case 0x42:
      return 2;
    case 0x3C:
    case 0x3E:
      return 6;
    case 0x43:
    case 0x44:
      return 4;
    case 0x45:
      return n >= 6 ? 6 + 2 * GetU16(&data_[4]) : -1;
    case 0x46:
      return 12;
    default:  // 0x32, 0x3F, 0x40, 0x7E
      return 0;
  }
}

bool TSimLogger::Refuses() const {
  const size_t n = data_.size();
  const uint8_t* d = data_.data();
  switch (command_) {
    case 0x20:
      return n >= 2 && GetU16(d) != kLogControlSize;
    case 0x26:
      return (n >= 1 && d[0] != 0) || (n >= 2 && d[1] != kLoggingGroupsSize);
    case 0x31:
      return (n >= 1 && d[0] != 0) || (n >= 2 && d[1] != kChannelMapBytes);
    case 0x28:
      return n >= 2 && 2 + size_t(GetU16(d)) > kMaxConfigImage;
    case 0x46:
      return n >= 10 && GetU16(d + 8) > kMaxStridedItems;
    default:
      return false;
  }
}

void TSimLogger::Answer(const std::vector<uint8_t>& bytes, std::vector<TReply>& out) {
  for (uint8_t b : bytes) out.push_back({b, TReplyKind::Answer});
}

void TSimLogger::Receive(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out) {
  AdvanceLogging(nowMs);
  if (inFrame_ && nowMs - lastByteMs_ > kFrameResetMs) inFrame_ = false;
  lastByteMs_ = nowMs;
  if (inBootloader_) {
    std::vector<uint8_t> answer;
    inBootloader_ = bootloader_.Feed(&byte, 1, answer);
    Answer(answer, out);
    return;
  }
  if (SwitchesToBootloader(byte)) return;
  if (inFrame_)
    ReceiveData(byte, nowMs, out);
  else
    StartFrame(byte, nowMs, out);
}

bool TSimLogger::SwitchesToBootloader(uint8_t byte) {
  // 0x0B 0x26 0x59, its first byte outside a frame, hands the link to the bootloader. The 0x26
  // looks like the start of a logging-group command, whose first data byte is never 0x59.
  if (switchStage_ == 2 && byte == 0x59) {
    switchStage_ = 0;
    inFrame_ = false;
    inBootloader_ = true;
    bootloader_.Enter();
    return true;
  }
  switchStage_ = (!inFrame_ && byte == 0x0B) ? 1 : (switchStage_ == 1 && byte == 0x26) ? 2 : 0;
  return false;
}

void TSimLogger::StartFrame(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out) {
  if (byte == 0x00) {
    ++commandCounts_[0];
    std::vector<uint8_t> id(options_.identification.begin(), options_.identification.end());
    id.push_back(0);
    Answer(id, out);
    return;
  }
  if (!IsCommand(byte)) return;  // not a command: ignored
  command_ = byte;
  data_.clear();
  inFrame_ = true;
  refusing_ = false;
  if (DataLength() == 0) {
    Echo(out);
    Execute(nowMs, out);
    inFrame_ = false;
  }
}

void TSimLogger::ReceiveData(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out) {
  // A refused frame gets no more echoes and no answer: the rest of it is swallowed until the
  // host falls silent, times out and sends anew.
  if (refusing_) return;
  data_.push_back(byte);
  if (Refuses()) {
    refusing_ = true;
    ++refusals_;
    return;
  }
  // The line speed of the USB link adapter's fast transfer: 0x07 and a u16 divisor (9 fast,
  // 0 back to normal), taken without an echo.
  if (command_ == 0x07) {
    if (data_.size() == 2) {
      ++commandCounts_[0x07];
      lineSpeed_ = GetU16(data_.data());
      inFrame_ = false;
    }
    return;
  }
  // The I/O monitor's register probe: 0x44 with one byte 0x00 or 0xFF, answered with a value
  // byte and then the echo.
  if (command_ == 0x44 && data_.size() == 1 && (byte == 0x00 || byte == 0xFF)) {
    ++commandCounts_[0x44];
    out.push_back({uint8_t(byte == 0x00 ? 0x5A : 0xA5), TReplyKind::Answer});
    Echo(out);
    inFrame_ = false;
    return;
  }
  const int length = DataLength();
  const bool complete = length >= 0 && int(data_.size()) >= length;
  if (data_.size() % 8 == 0 || complete) Echo(out);
  if (complete) {
    Execute(nowMs, out);
    inFrame_ = false;
  }
}

bool TSimLogger::AwaitingCommand(uint64_t nowMs) const {
  return !inFrame_ || nowMs - lastByteMs_ > kFrameResetMs;
}

void TSimLogger::Execute(uint64_t nowMs, std::vector<TReply>& out) {
  ++commandCounts_[command_];
  const uint8_t* d = data_.data();
  switch (command_) {
    case 0x12:
      AnswerFatDateTime(GetU32(d), out);
      break;
    case 0x20:
    case 0x26:
    case 0x31:
    case 0x28:
      StoreBlock();
      break;
    case 0x2D:
      AnswerRealtime(nowMs, GetU16(d), GetU16(d + 2), out);
      break;
    case 0x2E:
      AnswerAnalog(nowMs, d[1], out);
      break;
    case 0x32:
      Answer(configImage_, out);
      break;
    case 0x39:
      if (d[0] == 0x65) logBlocked_ = d[1] != 0;
      break;
    case 0x3C:
      if (d[0] == 0x01 && d[1] == 0x50) SetClock(GetU32(d + 2), nowMs);
      break;
    case 0x3E:  // a run of bytes: items of one byte each
      AnswerFlash(GetU32(d), 1, GetU16(d + 4), 1, out);
      break;
    case 0x46:
      AnswerFlash(GetU32(d), GetU32(d + 4), GetU16(d + 8), GetU16(d + 10), out);
      break;
    case 0x3F:
      AnswerStatus(out);
      break;
    case 0x40:
      EndRunForDownload(nowMs);
      break;
    case 0x42:
      if (GetU16(d) == kEraseFlashKey) EraseFlash();
      break;
    case 0x43:
      AnswerScratch(GetU16(d), GetU16(d + 2), out);
      break;
    case 0x44:
      if (GetU32(d) == kClearScratchKey) scratch_.fill(0xFFFF);
      break;
    case 0x45:
      if (GetU16(d) == kWriteScratchKey) WriteScratch(GetU16(d + 2), GetU16(d + 4), d + 6);
      break;
    case 0x7E: {
      // Two buttons, pressed now and then.
      const uint64_t t = (nowMs - startMs_) / 1000;
      Answer({uint8_t((t % 7 == 0 ? 0x01 : 0) | (t % 11 == 0 ? 0x02 : 0))}, out);
      break;
    }
    default:
      break;
  }
}

void TSimLogger::StoreBlock() {
  // The three fixed blocks follow their two-byte size header; the configuration image keeps its
  // length word.
  auto store = [this](auto& block) {
    std::copy_n(data_.begin() + 2, std::min(block.size(), data_.size() - 2), block.begin());
  };
  switch (command_) {
    case 0x20:
      store(logControl_);
      break;
    case 0x26:
      store(groups_);
      break;
    case 0x31:
      store(channelMap_);
      break;
    case 0x28:
      configImage_.assign(data_.begin(), data_.end());
      // The ride follows the wheel settings that were burned.
      ApplyConfiguration();
      break;
    default:
      break;
  }
}

void TSimLogger::AnswerFatDateTime(uint32_t deviceTime, std::vector<TReply>& out) {
  uint16_t date, time;
  DeviceTimeToFat(deviceTime, date, time);
  std::vector<uint8_t> a(4);
  PutU16(&a[0], date);
  PutU16(&a[2], time);
  Answer(a, out);
}

void TSimLogger::AnswerRealtime(uint64_t nowMs, uint16_t address, uint16_t length,
                                std::vector<TReply>& out) {
  const auto block = RealtimeBlock(nowMs);
  std::vector<uint8_t> a(length, 0);  // beyond the block: zeros
  for (uint16_t k = 0; k < length; ++k)
    if (address + k < int(block.size())) a[k] = block[address + k];
  Answer(a, out);
}

void TSimLogger::AnswerAnalog(uint64_t nowMs, int count, std::vector<TReply>& out) {
  const auto values = AnalogValues(nowMs, count);
  std::vector<uint8_t> a(values.size() * 2);
  for (size_t k = 0; k < values.size(); ++k) PutI16(&a[2 * k], values[k]);
  Answer(a, out);
}

void TSimLogger::AnswerFlash(uint32_t start, uint32_t stride, uint16_t count, uint16_t size,
                             std::vector<TReply>& out) {
  // Addresses wrap around the ring of sectors; without a flash every byte reads erased.
  const uint64_t flashSize = flash_.size();
  std::vector<uint8_t> a;
  a.reserve(size_t(count) * size);
  for (uint32_t k = 0; k < count; ++k)
    for (uint32_t b = 0; b < size; ++b) {
      const uint64_t address = uint64_t(start) + uint64_t(k) * stride + b;
      a.push_back(flashSize ? flash_[size_t(address % flashSize)] : 0xFF);
    }
  Answer(a, out);
}

void TSimLogger::AnswerStatus(std::vector<TReply>& out) {
  // Newer firmware sends a longer status; the session start and the flash size code are in all.
  const int version = Version();
  std::vector<uint8_t> a(version >= 102 ? 16 : version >= 101 ? 14 : 10, 0);
  PutU32(&a[4], sessionStart_ + options_.faults.sessionStartSkew);
  a[9] = uint8_t(options_.flashSizeCode);
  Answer(a, out);
}

void TSimLogger::EndRunForDownload(uint64_t nowMs) {
  // Before a download: a logging run in progress ends, its last page written.
  if (season_ && season_->Logging()) {
    season_->StopLogging(nowMs, flash_);
    writeAddress_ = season_->WriteAddress();
  }
  runStart_ = Clock(nowMs);
}

void TSimLogger::EraseFlash() {
  season_.reset();
  std::fill(flash_.begin(), flash_.end(), 0xFF);
  writeAddress_ = 0;
  sessionStart_ = 0;
}

void TSimLogger::AnswerScratch(uint16_t first, uint16_t count, std::vector<TReply>& out) {
  std::vector<uint8_t> a(2 * size_t(count));
  for (uint16_t k = 0; k < count; ++k) PutU16(&a[2 * k], scratch_[(first + k) % scratch_.size()]);
  Answer(a, out);
}

void TSimLogger::WriteScratch(uint16_t first, uint16_t count, const uint8_t* words) {
  for (uint16_t k = 0; k < count; ++k)
    scratch_[(first + k) % scratch_.size()] = GetU16(words + 2 * k);
}

void TSimLogger::ApplyConfiguration() {
  if (configImage_.size() < 2) return;
  try {
    TController c;
    TMemoryStream stream(std::vector<uint8_t>(configImage_.begin() + 2, configImage_.end()));
    c.ReadFromStream(stream);
    const TConfigBlock& b = c.ConfigBlock();
    pulsesPerTurn_[0] = std::max<uint8_t>(1, b.U8(cfg::kFrontPulses));
    pulsesPerTurn_[1] = std::max<uint8_t>(1, b.U8(cfg::kRearPulses));
    circumference_[0] = std::max(0.1f, b.F32(cfg::kFrontCircumference));
    circumference_[1] = std::max(0.1f, b.F32(cfg::kRearCircumference));
    zero_[0] = b.U16(cfg::kFrontZero) ? b.U16(cfg::kFrontZero) : kPotZero;
    zero_[1] = b.U16(cfg::kRearZero) ? b.U16(cfg::kRearZero) : kPotZero;
    travel_[0] = b.F32(cfg::kFrontTravel) > 0 ? b.F32(cfg::kFrontTravel) : 0.2;
    travel_[1] = b.F32(cfg::kRearTravel) > 0 ? b.F32(cfg::kRearTravel) : 0.08;
    span_[0] = b.F32(cfg::kFrontElectricalSpan) > 0 ? b.F32(cfg::kFrontElectricalSpan) : 0.2533;
    span_[1] = b.F32(cfg::kRearElectricalSpan) > 0 ? b.F32(cfg::kRearElectricalSpan) : 0.1013;
  } catch (...) {
    // A configuration the logger cannot read leaves the ride as it was.
  }
}

void TSimLogger::UpdateRide(uint64_t nowMs) {
  if (nowMs <= rideMs_) return;
  const double t = (nowMs - startMs_) / 1000.0;
  const double dt = (nowMs - rideMs_) / 1000.0;
  rideMs_ = nowMs;
  const uint16_t timer = uint16_t((nowMs - startMs_) * 10);
  for (int w = 0; w < 2; ++w) {
    const double pulsesPerSecond = RideWheelSpeed(w, t) / circumference_[w] * pulsesPerTurn_[w];
    pulsePhase_[w] += pulsesPerSecond * dt;
    const double whole = std::floor(pulsePhase_[w]);
    if (whole >= 1) {
      pulseCounter_[w] = uint8_t(pulseCounter_[w] + uint32_t(whole));
      pulsePhase_[w] -= whole;
      const double sinceLast = pulsesPerSecond > 0 ? pulsePhase_[w] / pulsesPerSecond : 0;
      pulseTime_[w] = uint16_t(timer - uint16_t(sinceLast * 10000));
    }
  }
}

std::array<uint8_t, 40> TSimLogger::RealtimeBlock(uint64_t nowMs) {
  UpdateRide(nowMs);
  AdvanceLogging(nowMs);
  std::array<uint8_t, 40> b{};
  b[0] = pulseCounter_[0];
  b[1] = pulseCounter_[1];
  PutU16(&b[2], pulseTime_[0]);
  PutU16(&b[4], pulseTime_[1]);
  PutU16(&b[6], uint16_t((nowMs - startMs_) * 10));
  uint8_t status = Logging() ? 2 : 0;  // logging or waiting
  if (season_ && season_->Overwriting()) status |= 0x10;
  if (clockSet_) status |= 0x20;
  status |= 0x80;  // SD card present
  b[10] = status;
  PutU32(&b[12], writeAddress_);
  PutU16(&b[16], 3);
  PutU16(&b[18], 1);
  PutU16(&b[20], 0);
  PutU16(&b[22], 2);
  PutU16(&b[24], 1);
  PutU16(&b[26], 5);
  PutU32(&b[30], Clock(nowMs));
  PutU32(&b[34], runStart_);
  PutU16(&b[38], 261);
  return b;
}

double TSimLogger::BumpDepth(double phase, double t) const {
  if (options_.rideSeed == 0) return 1;
  // One bump per period of the bump wave; splitmix64 of the seed, the end and the bump's number.
  const auto number = int64_t(std::floor(0.37 * t + phase / (2 * kPi)));
  uint64_t z =
      (uint64_t(options_.rideSeed) << 32) ^ uint64_t(number) ^ (phase == 0 ? 0 : 1ull << 63);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return 0.7 + 0.6 * double(z >> 11) / double(1ull << 53);
}

std::vector<int16_t> TSimLogger::AnalogValues(uint64_t nowMs, int count) {
  const double t = (nowMs - startMs_) / 1000.0;
  std::vector<int16_t> v(size_t(std::max(count, 0)), 0);
  auto set = [&](int input, double raw) {
    if (input < count) v[size_t(input)] = int16_t(std::clamp(std::lround(raw), 0L, 4095L));
  };
  // Suspension: sag, a rolling wave, and a bump to near bottom-out every few seconds.
  // Every 47 s a jump: 0.6 s in the air with both ends fully extended, then a landing that
  // bottoms out the fork (the shock a moment later) and settles within half a second.
  const double jump = std::fmod(t, 47.0) - 40.0;
  const bool airborne = jump >= 0 && jump < 0.6;
  auto landing = [&](double delay) {
    const double since = jump - 0.6 - delay;
    return since >= 0 && since < 0.5 ? 0.98 * std::exp(-since * 5) : 0.0;
  };
  auto travel = [&](double phase) {
    double x = 0.25 + 0.08 * std::sin(2 * kPi * 1.1 * t + phase);
    double bump = std::sin(2 * kPi * 0.37 * t + phase);
    if (bump > 0.9) x += (bump - 0.9) * 6.0 * BumpDepth(phase, t);
    if (airborne) x = 0.01;
    x = std::max(x, landing(phase * 0.1));
    if (phase == 0) x *= options_.frontTravelScale;
    return std::clamp(x, 0.0, 0.98);
  };
  // Travel as a share of the fork's and the shock's travel, read by potentiometers whose count
  // falls 4096 over their electrical span.
  set(0, zero_[0] - travel(0) * travel_[0] / span_[0] * 4096);
  set(1, zero_[1] - travel(0.4) * travel_[1] / span_[1] * 4096);
  // A two-cell battery slowly running down from 8.0 V (18.4 V full scale).
  set(8, std::max(6.4, 8.0 - t / 12000.0) / 18.4 * 4096);
  set(7, 1650 + 20 * std::sin(t / 60));
  // Accelerometer around mid-scale: gravity on Z, bumps, braking on X.
  const double jolt = std::sin(2 * kPi * 0.37 * t) > 0.9 ? 0.8 : 0;
  // In the air the rider and the bike fall freely; the landing hits with up to 4 g.
  const double gravity = airborne ? 0.05 : 1.0 + 3.0 * landing(0) / 0.98;
  // Braking pitches the logger forward: the change of the front wheel's speed, at most 1.2 g.
  const double dv = RideWheelSpeed(0, t) - RideWheelSpeed(0, std::max(0.0, t - 0.1));
  const double braking = std::clamp(-dv / 0.1 / 9.81, -1.2, 1.2);
  set(18, kAccelMid + kCountsPerG * (0.15 * std::sin(0.5 * t) + braking));
  set(19, kAccelMid + kCountsPerG * (0.1 * std::sin(1.7 * t)));
  set(20, kAccelMid + kCountsPerG * (gravity + jolt + 0.05 * std::sin(9 * t)));
  return v;
}

}  // namespace qvl::sim
