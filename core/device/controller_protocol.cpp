// The controller's exchanges with the logger: the command frame with its retries, the connect
// sequence, the digest of each poll, burning a configuration and the session markers kept in
// the logger's scratch memory. Also attaching the link and driving the polling thread.
#include <algorithm>
#include <cstdlib>

#include "core/device/controller.h"
#include "core/device/ecu_comm_thread.h"
#include "core/device/flash_geometry.h"
#include "core/device/synchronizer.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr int kTransactAttempts = 10;
constexpr uint32_t kSectorUnit = 4096;
constexpr int32_t kClockTolerance = 300;
constexpr uint32_t kScratchEraseKey = 0x47D2C3B5;
constexpr uint16_t kScratchWriteKey = 0xB66F;
constexpr int kBurnTimeOutMs = 10000;

bool ValidSectorHeader(const uint8_t* header) {
  return (GetU16(header) & 0xF1) == 0xB1;
}

// The number in up to two characters, or 0 when they are not a number.
int MinorVersion(const std::string& s) {
  if (s.size() <= 7) return 0;
  std::string digits = s.substr(7, 2);
  if (digits.empty()) return 0;
  for (char c : digits)
    if (c < '0' || c > '9') return 0;
  return std::atoi(digits.c_str());
}

}  // namespace

// --- link and polling thread -----------------------------------------------------------------

void TController::StopThread() {
  if (!commThread_) return;
  commThread_->Stop();
  commThread_.reset();
}

void TController::StartThread() {
  commThread_ = std::make_shared<TEcuCommThread>(*this, channel_);
  commThread_->ResetPause();
  commThread_->Start();
  commThread_->Wake();
}

void TController::SetChannel(TCommChannelPtr channel) {
  if (channel == channel_) return;
  StopThread();
  channel_ = std::move(channel);
  if (channel_ && active_) StartThread();
}

void TController::SetActive(bool active) {
  active_ = active;
  if (!active || !channel_) return;
  if (!commThread_) {
    StartThread();
    return;
  }
  commThread_->ResetPause();
  commThread_->Wake();
}

void TController::PausePolling() {
  if (!commThread_) return;
  commThread_->AddPause();
  commThread_->WaitIdle();
}

void TController::ResumePolling() {
  if (!commThread_) return;
  commThread_->ReleasePause();
}

bool TController::PollingPaused() const {
  return !commThread_ || commThread_->Paused();
}

void TController::ShowError(const std::string& message) {
  if (errorHandler_) errorHandler_(message);
}

// --- command frame ---------------------------------------------------------------------------

TMemoryStream& TController::CommandBuffer() {
  if (!commandBuffer_) {
    commandBuffer_ = std::make_unique<TMemoryStream>();
    commandBuffer_->SetSize(1024);
    commandBuffer_->SetPosition(0);
  }
  return *commandBuffer_;
}

void TController::Transact(uint8_t command, const void* data, int answerLength, int dataLength) {
  if (!channel_) throw Exception("No communication channel opened");
  ITickClock& clock = TickClock();
  for (int attempt = 1;; ++attempt) {
    try {
      ExchangeFrame(*channel_, clock, discardBuffer_, discardFill_, command,
                    static_cast<const uint8_t*>(data), dataLength, answerLength, "Wrong answer");
      return;
    } catch (const std::exception&) {
      if (attempt >= kTransactAttempts) throw;
      clock.SleepMs(uint32_t(30 * attempt));
    }
  }
}

void TController::SendCommand(uint8_t command, int answerLength) {
  TMemoryStream& buffer = CommandBuffer();
  int length = int(buffer.Position());
  buffer.SetPosition(0);
  Transact(command, buffer.Memory(), answerLength, length);
}

void TController::QueueCommand(uint8_t command, const void* data, int length) {
  TMemoryStream& buffer = CommandBuffer();
  buffer.SetPosition(0);
  if (length > 0) buffer.WriteBuffer(data, size_t(length));
  if (commThread_) commThread_->Queue(command, buffer.Memory(), size_t(std::max(length, 0)));
  buffer.SetPosition(0);
}

void TController::PostCommand(uint8_t command) {
  if (PollingPaused()) {
    SendCommand(command, 0);
    return;
  }
  TMemoryStream& buffer = CommandBuffer();
  size_t length = size_t(buffer.Position());
  commThread_->Queue(command, buffer.Memory(), length);
  buffer.SetPosition(0);
}

// --- connect sequence ------------------------------------------------------------------------

void TController::Identify() {
  configInSync_ = false;
  connectedIdentitySet_ = false;
  speedValid_ = false;
  configTimestamp_ = 0;

  BeginUpdate();
  const bool wasConnected = connected_;
  const uint32_t typeBefore = controllerType_;
  connected_ = false;
  lastConnectError_.clear();
  try {
    const std::string& id = identification_;
    if (id.size() < 5 || id.compare(0, 3, "QVL") != 0 || id[3] != ' ' || id[4] != 'R')
      throw EcuException("Not a QVL");
    const int major = id.size() > 5 ? id[5] - '0' : 0;
    version_ = major * 100 + MinorVersion(id);
    if (typeBefore != 2) SetControllerType(2);

    configInSync_ = true;
    loading_ = true;
    std::fill(referenceValues_.begin(), referenceValues_.end(), 0.0f);
    try {
      Transact(0x32, nullptr, 0, 0);
      uint8_t lengthBytes[2];
      channel_->Read(lengthBytes, 2);
      std::vector<uint8_t> bytes(GetU16(lengthBytes));
      if (!bytes.empty()) channel_->Read(bytes.data(), int(bytes.size()));
      TMemoryStream stream(std::move(bytes));
      ReadFromStream(stream);
    } catch (const std::exception&) {
      // The model keeps what could be read.
    }
    connected_ = true;
    configInSync_ = true;

    CommandBuffer().SetPosition(0);
    SendCommand(0x3F, 14);
    uint8_t facts[14];
    channel_->Read(facts, 14);
    sessionStartAddress_ = GetU32(&facts[4]);
    const uint8_t code = facts[9];
    flashSize_ = FlashSizeForCode(code);
    eraseSectorSize_ = EraseSectorSizeForCode(code);

    if (version_ < 202)
      sessionSector_ = -2;
    else
      FindSessionMarker();
  } catch (const std::exception& e) {
    connected_ = false;
    lastConnectError_ = e.what();
  }
  if (connected_ != wasConnected) pendingFlags_ |= kChangeConnection;
  // Loading keeps the end of the bracket from burning what was just read. What a listener
  // raises is the caller's to show, not a failure of the connect.
  loading_ = true;
  try {
    EndUpdate();
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

// --- poll digest -----------------------------------------------------------------------------

void TController::ProcessRealtime(const uint8_t* block, const uint8_t* analog, int analogCount) {
  const uint32_t oldWriteAddress = FlashWriteAddress();
  std::copy(block, block + kRealtimeBlockSize, realtime_.begin());

  UpdateWheelSpeeds(realtime_[0], realtime_[1], GetU16(&realtime_[2]), GetU16(&realtime_[4]),
                    GetU16(&realtime_[6]));

  const int n = std::min(analogCount, AnalogInputCount());
  for (int i = 0; i < n; ++i) SetRawValue(i, GetI16(analog + 2 * i));
  pendingFlags_ |= kChangeValues;

  // Keep the logger's clock within 300 units of the PC's: queued after each poll until the
  // logger reports a set clock within the limit.
  const uint32_t pcTime = DateTimeToDeviceTime(PcNow());
  const int64_t drift = int64_t(LoggerClock()) - int64_t(pcTime);
  if (!(realtime_[10] & 0x20) || drift > kClockTolerance || drift < -kClockTolerance) {
    uint8_t data[6] = {0x01, 0x50};
    PutU32(&data[2], pcTime);
    QueueCommand(0x3C, data, 6);
  }

  // The session is overwritten when the write address enters the session's erase sector.
  const uint32_t newWriteAddress = FlashWriteAddress();
  if (sessionSector_ >= 0 && eraseSectorSize_ > 0) {
    const uint32_t oldSector = oldWriteAddress / eraseSectorSize_;
    const uint32_t newSector = newWriteAddress / eraseSectorSize_;
    const uint64_t sessionSector = uint64_t(sessionSector_) * kSectorUnit / eraseSectorSize_;
    if (oldSector != newSector && newSector == sessionSector) sessionSector_ = -1;
  }

  if (updateDepth_ == 0) Changed(0);
}

// --- burn ------------------------------------------------------------------------------------

void TController::Burn() {
  if (!connected_) throw Exception("Must be connected for burning operation");
  if (!channel_) throw Exception("No communication channel opened");
  TCommChannelPtr channel = channel_;
  const int oldTimeOut = channel->GetTimeOut();
  PausePolling();
  struct TRestore {
    TController* self;
    TCommChannelPtr channel;
    int timeOut;
    ~TRestore() {
      try {
        channel->SetTimeOut(timeOut);
      } catch (...) {
      }
      self->ResumePolling();
    }
  } restore{this, channel, oldTimeOut};

  TMemoryStream& buffer = CommandBuffer();
  logControl_.SetU32(logctl::kPeriod, 1000);
  buffer.SetPosition(0);
  buffer.WriteU16(uint16_t(kLogControlSize));
  buffer.WriteBuffer(logControl_.bytes.data(), kLogControlSize);
  SendCommand(0x20, 0);

  BuildLoggingGroups();
  const std::vector<uint8_t> groups = LoggingGroupBytes();
  buffer.SetPosition(0);
  buffer.WriteU8(0);
  buffer.WriteU8(uint8_t(groups.size()));
  buffer.WriteBytes(groups);
  SendCommand(0x26, 0);
  buffer.SetPosition(0);
  buffer.WriteU8(0);
  buffer.WriteU8(uint8_t(kChannelMapSize));
  buffer.WriteBuffer(channelMap_.data(), kChannelMapSize);
  SendCommand(0x31, 0);

  channel->SetTimeOut(kBurnTimeOutMs);
  if (!connected_) throw Exception("No longer connected");

  std::vector<uint8_t> image = BuildConfigImage();
  if (image.size() > kMaxConfigImageSize)
    throw Exception("Configuration data larger than permitted");
  configImage_.Clear();
  configImage_.WriteBytes(image);
  Transact(0x28, configImage_.Memory(), 0, int(image.size()));

  sessionSector_ = -2;
  sessionStartAddress_ =
      eraseSectorSize_ ? FlashWriteAddress() / eraseSectorSize_ * eraseSectorSize_ : 0;
  AppendSessionMarker(sessionStartAddress_ / kSectorUnit);
}

// --- session markers -------------------------------------------------------------------------

int64_t TController::CurrentSessionStartAddress() const {
  if (sessionSector_ < 0) return sessionSector_;
  int64_t address = int64_t(sessionSector_) * kSectorUnit;
  if (eraseSectorSize_ > 0) address -= address % eraseSectorSize_;
  return address;
}

void TController::FindSessionMarker() {
  sessionSector_ = -2;
  markerPosition_ = -1;
  sessionTime_ = 0;
  TMemoryStream& buffer = CommandBuffer();
  uint8_t page[2 * kScratchPageWords];
  for (int p = 0; p < kScratchWords / kScratchPageWords; ++p) {
    buffer.SetPosition(0);
    buffer.WriteU16(uint16_t(p * kScratchPageWords));
    buffer.WriteU16(uint16_t(kScratchPageWords));
    SendCommand(0x43, int(sizeof page));
    channel_->Read(page, int(sizeof page));
    constexpr int kEntries = kScratchPageWords / 4;
    auto sector = [&](int e) { return GetU32(&page[e * 8]); };
    auto time = [&](int e) { return GetU32(&page[e * 8 + 4]); };
    if (sector(kEntries - 1) == 0xFFFFFFFFu) {
      for (int e = 0; e < kEntries && sector(e) != 0xFFFFFFFFu; ++e) {
        sessionSector_ = int32_t(sector(e));
        sessionTime_ = time(e);
        markerPosition_ = p * kScratchPageWords + e * 4 + 3;
      }
      break;
    }
    sessionSector_ = int32_t(sector(kEntries - 1));
    sessionTime_ = time(kEntries - 1);
    markerPosition_ = p * kScratchPageWords + kScratchPageWords - 1;
  }

  if (sessionSector_ < 0 || eraseSectorSize_ == 0 || flashSize_ == 0) return;
  // The erase sector before the session's: written after the session's time, the ring has
  // come round and the session is gone.
  int64_t address = int64_t(sessionSector_) * kSectorUnit;
  address -= address % eraseSectorSize_;
  const uint32_t unitsPerErase = std::max<uint32_t>(1, eraseSectorSize_ / kSectorUnit);
  if (uint32_t(sessionSector_) % unitsPerErase == 0) address -= eraseSectorSize_;
  while (address < 0) address += flashSize_;
  buffer.SetPosition(0);
  buffer.WriteU32(uint32_t(address));
  buffer.WriteU16(6);
  SendCommand(0x3E, 6);
  uint8_t header[6];
  channel_->Read(header, 6);
  if (ValidSectorHeader(header) && GetU32(&header[2]) > sessionTime_) sessionSector_ = -1;
}

void TController::AppendSessionMarker(uint32_t sector) {
  bool needed = sessionSector_ < 0;
  if (!needed) {
    const int64_t flashSectors = flashSize_ / kSectorUnit;
    const int64_t writeSector = FlashWriteAddress() / kSectorUnit;
    int64_t s = sector;
    int64_t oldDistance = writeSector - sessionSector_;
    if (oldDistance < 0) oldDistance += flashSectors;
    if (s == writeSector && FlashWriteAddress() < eraseSectorSize_) {
      s -= 1;
      if (s < 0) s = flashSectors - 1;
    }
    int64_t newDistance = writeSector - s;
    if (newDistance < 0) newDistance += flashSectors;
    needed = oldDistance > newDistance;
    sector = uint32_t(s);
  }
  if (!needed) return;

  uint32_t markerTime = 0;
  if (version_ >= 202) {
    TMemoryStream& buffer = CommandBuffer();
    uint32_t address = sector * kSectorUnit;
    if (eraseSectorSize_ > 0) address -= address % eraseSectorSize_;
    buffer.SetPosition(0);
    buffer.WriteU32(address);
    buffer.WriteU16(6);
    SendCommand(0x3E, 6);
    uint8_t header[6];
    channel_->Read(header, 6);
    markerTime = ValidSectorHeader(header) ? GetU32(&header[2]) : LoggerClock();

    if (++markerPosition_ >= kScratchWords) {
      buffer.SetPosition(0);
      buffer.WriteU32(kScratchEraseKey);
      SendCommand(0x44, 0);
      markerPosition_ = 0;
    }
    buffer.SetPosition(0);
    buffer.WriteU16(kScratchWriteKey);
    buffer.WriteU16(uint16_t(markerPosition_));
    buffer.WriteU16(4);
    buffer.WriteU32(sector);
    buffer.WriteU32(markerTime);
    SendCommand(0x45, 0);
    markerPosition_ += 3;
  }
  sessionSector_ = int32_t(sector);
  sessionTime_ = markerTime;
}

}  // namespace qvl
