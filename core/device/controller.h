// TController: the model of one logger. It holds the logger's identity, its analog inputs, the
// nine fixed sensor slots and the custom sensors, the configuration block, the logging control
// block and a configuration identity, and reads and writes all of that as a configuration
// stream (the content of ".QVLcf" files, the head of every log file, the live channel's
// configuration message and, behind a length word, the image burned into the logger).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/config_block.h"
#include "core/device/device_time.h"
#include "core/device/ecu_types.h"
#include "core/device/matrix.h"
#include "core/device/sensor.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"

namespace qvl {

class TController;
class TEcuCommThread;
class ISynchronizer;

// Change flags passed to listeners.
enum : uint8_t {
  kChangeConnection = 1,
  kChangeValues = 2,
  kChangeConfiguration = 4,
};

class IControllerListener {
 public:
  virtual ~IControllerListener() = default;
  virtual void ControllerChanged(TController* controller, uint8_t flags) = 0;
};

// One of the eight logging groups the logger samples its channels in.
struct TLoggingGroup {
  uint16_t periodMs = 0;
  uint16_t reserved = 0;
  uint8_t channelCount = 0;
  uint8_t widthCode = 0;
};

constexpr int kMaxLoggingGroups = 8;
constexpr int kChannelMapSize = 32;
constexpr uint8_t kGroupNotLogged = 8;
constexpr size_t kMaxConfigImageSize = 2980;
constexpr int kRealtimeBlockSize = 40;
constexpr int kScratchWords = 256;
constexpr int kScratchPageWords = 64;

using TConfigIdentity = std::array<uint8_t, 16>;

// A new random configuration identity (RFC 4122 version 4).
TConfigIdentity CreateConfigIdentity();

class TController : public ISensorOwner {
 public:
  TController();
  ~TController() override;
  TController(const TController&) = delete;
  TController& operator=(const TController&) = delete;

  // --- configuration stream and files ---
  void ReadFromStream(TStream& stream);
  void WriteToStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  // The image burned into the logger: u16 length of the rest, the stream, a pad byte to an
  // even total size.
  std::vector<uint8_t> BuildConfigImage();

  // --- configuration ---
  const TConfigBlock& ConfigBlock() const { return configBlock_; }
  void SetConfigBlock(const TConfigBlock& block);
  const TLogControlBlock& LogControl() const { return logControl_; }
  void SetLogControl(const TLogControlBlock& block);
  const TSensors& CustomSensors() const { return customSensors_; }
  void SetCustomSensors(TSensors sensors);
  TSensor* FixedSensor(int slot) const;
  // Replaces the sensor in a fixed slot (the controller owns it).
  void SetFixedSensor(int slot, TSensorPtr sensor);

  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

  uint32_t ControllerType() const { return controllerType_; }
  void SetControllerType(uint32_t type);
  float TypeReference() const { return typeReference_; }

  bool HasConfigIdentity() const { return identitySet_; }
  const TConfigIdentity& ConfigIdentity() const { return identity_; }
  TDateTime ConfigTimestamp() const { return configTimestamp_; }
  void SetConfigTimestamp(TDateTime t) { configTimestamp_ = t; }

  bool ConfigInSync() const { return configInSync_; }
  void SetConfigInSync(bool inSync) { configInSync_ = inSync; }
  bool Loading() const { return loading_; }

  // --- update bracket and listeners ---
  void BeginUpdate();
  void EndUpdate();
  int UpdateDepth() const { return updateDepth_; }
  // Raises change flags; listeners are told at once unless an update bracket is open.
  void Changed(uint8_t flags);
  void AddListener(IControllerListener* listener);
  void RemoveListener(IControllerListener* listener);

  // --- logging groups ---
  // Fills the eight groups and the channel map; "Too many logging groups" on a ninth group.
  void BuildLoggingGroups();
  const std::array<TLoggingGroup, kMaxLoggingGroups>& LoggingGroups() const { return groups_; }
  const std::array<uint8_t, kChannelMapSize>& ChannelMap() const { return channelMap_; }
  int LoggingGroupCount() const { return groupCount_; }
  // The 48 bytes of the eight groups as the logger takes them.
  std::vector<uint8_t> LoggingGroupBytes() const;

  // --- analog and digital inputs ---
  int AnalogInputCount() const override { return int(anInputs_.size()); }
  int RawValue(int input) const override;
  void SetRawValue(int input, int16_t raw);
  TEcuAnInput AnalogInput(int input) const;
  const TEcuAnInputs& AnalogInputs() const { return anInputs_; }
  const TDigitalInputDatas& DigitalInputs() const { return digitalInputs_; }
  const TOutputDatas& Outputs() const { return outputs_; }
  const std::vector<float>& ReferenceValues() const { return referenceValues_; }
  void SensorChanged() override;

  // --- parameter values ---
  float GetValue(int code);
  float GetValueIn(int code, int unit);
  std::string GetValueText(int code, int unit);
  TSensor* GetSensorFor(int code);
  // Battery capacity in percent (0 to 100, extrapolated outside) for a battery voltage.
  float BatteryPercent(float volts);
  void ResetDerived();
  int SelectedCustomSensor() const { return selectedCustom_; }
  void SetSelectedCustomSensor(int index) { selectedCustom_ = index; }

  // Wheel speed from one reading of the pulse counters and timers (counters wrap at 256,
  // timers are 16-bit ticks of 100 µs).
  void UpdateWheelSpeeds(uint8_t frontCounter, uint8_t rearCounter, uint16_t frontPulseTime,
                         uint16_t rearPulseTime, uint16_t currentTimer);
  // The same with a timer per wheel (the viewer derives each wheel's timer from its own pulses).
  void UpdateWheelSpeeds(uint8_t frontCounter, uint8_t rearCounter, uint16_t frontPulseTime,
                         uint16_t rearPulseTime, uint16_t frontTimer, uint16_t rearTimer);
  void SetSpeedValid(bool valid) { speedValid_ = valid; }
  float FrontSpeed() const { return speed_[0]; }
  float RearSpeed() const { return speed_[1]; }

  // Accelerometer calibration: offset O and gain G.
  const TVector& AccelOffset() const { return accelOffset_; }
  const TMatrix& AccelGain() const { return accelGain_; }
  // Recomputes the calibration from the configuration block; false (old result kept) when the
  // readings give a singular system.
  bool ComputeAccelCalibration();

  // --- logger state (filled by the connect sequence and the polls) ---
  int32_t Version() const { return version_; }
  void SetVersion(int32_t version) { version_ = version; }
  const std::string& IdentificationString() const { return identification_; }
  void SetIdentificationString(const std::string& s) { identification_ = s; }
  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }
  bool Active() const { return active_; }
  uint8_t LoggingState() const { return uint8_t(realtime_[10] & 0x0F); }
  const std::array<uint8_t, 40>& RealtimeBlock() const { return realtime_; }
  void SetRealtimeBlock(const std::array<uint8_t, 40>& block) { realtime_ = block; }
  int32_t LinkErrors() const { return linkErrors_; }

  // Flash facts.
  uint32_t SessionStartAddress() const { return sessionStartAddress_; }
  uint32_t FlashSize() const { return flashSize_; }
  uint32_t EraseSectorSize() const { return eraseSectorSize_; }
  int32_t MarkerPosition() const { return markerPosition_; }
  int32_t SessionSector() const { return sessionSector_; }
  uint32_t SessionTime() const { return sessionTime_; }

  // Writes the configuration into the connected logger: logging control block, logging
  // groups, channel map and configuration image, then a session marker. Polling is paused
  // throughout and the link's time-out restored on every way out.
  void Burn();

  // --- link, polling thread and command protocol (controller_protocol.cpp) ---
  // Attaches a link (nullptr detaches). The polling thread of the old link is stopped first;
  // with a link and the controller active, a new thread starts.
  void SetChannel(TCommChannelPtr channel);
  const TCommChannelPtr& Channel() const { return channel_; }
  // Automatic polling wanted; true (re)starts the polling thread when a link is attached.
  void SetActive(bool active);
  // Where the polling thread's hand-over calls run. Must be set before polling starts.
  void SetSynchronizer(ISynchronizer* synchronizer) { synchronizer_ = synchronizer; }
  ISynchronizer* Synchronizer() const { return synchronizer_; }
  // The tick that time-outs and the polling grid are measured with (tests use a fake one).
  void SetTickClock(ITickClock* clock) { tickClock_ = clock; }
  ITickClock& TickClock() const { return tickClock_ ? *tickClock_ : SystemTickClock(); }
  // The PC's current date-time the logger clock is compared with.
  void SetNowFunction(std::function<TDateTime()> now) { nowFunction_ = std::move(now); }
  TDateTime PcNow() const { return nowFunction_ ? nowFunction_() : Now(); }
  // Shows a failure to the user (a queued command that failed, a connect that raised).
  void SetErrorHandler(std::function<void(const std::string&)> handler) {
    errorHandler_ = std::move(handler);
  }
  void ShowError(const std::string& message);

  // Counted pause of the polling thread; the link then belongs to the caller until the
  // matching resume. Both on the user-interface thread, in pairs.
  void PausePolling();
  void ResumePolling();
  // True while the polling thread is paused or there is none (the link is the caller's).
  bool PollingPaused() const;
  TEcuCommThread* CommThread() const { return commThread_.get(); }

  // The command buffer: callers write a command's data bytes into it from position 0.
  TMemoryStream& CommandBuffer();
  // One exchange with up to 10 attempts, on the calling thread (polling paused, or the
  // polling thread itself). The answer is left on the link for the caller to read.
  void Transact(uint8_t command, const void* data, int answerLength, int dataLength);
  // Transact with the command buffer's bytes up to its position; the position returns to 0.
  void SendCommand(uint8_t command, int answerLength);
  // Hands a command to the polling thread's queue (no answer is read).
  void QueueCommand(uint8_t command, const void* data, int length);
  // Sends at once when polling is paused, else queues the command buffer's bytes.
  void PostCommand(uint8_t command);

  // The connect sequence for an identification string (user-interface thread).
  void Identify();
  // Digests one poll: the 40-byte real-time block and analogCount raw i16 values.
  void ProcessRealtime(const uint8_t* block, const uint8_t* analog, int analogCount);
  // Reads the session markers from the scratch memory.
  void FindSessionMarker();
  // Appends a session marker for a 4 KiB sector when it is needed.
  void AppendSessionMarker(uint32_t sector);
  // Session sector x 4096 rounded down to the erase sector size, or the negative code.
  int64_t CurrentSessionStartAddress() const;
  void SetFlashFacts(uint32_t flashSize, uint32_t eraseSectorSize) {
    flashSize_ = flashSize;
    eraseSectorSize_ = eraseSectorSize;
  }
  uint32_t FlashWriteAddress() const { return GetU32(&realtime_[12]); }
  uint32_t LoggerClock() const { return GetU32(&realtime_[30]); }
  void IncrementLinkErrors() { ++linkErrors_; }
  // Why the last connect sequence failed (empty after a good one).
  const std::string& LastConnectError() const { return lastConnectError_; }
  // The configuration image of the last burn.
  const TMemoryStream& ConfigImage() const { return configImage_; }

 protected:
  void NotifyListeners(uint8_t flags);
  void ReadRecords(TStream& stream);
  // The records ReadRecords reads: the configuration block (true when it had the old layout),
  // the sensors, and the analog inputs' reference values taken over.
  bool ReadConfigBlockRecord(TStream& stream, uint16_t length);
  void ReadSensorRecord(TStream& stream);
  void ApplyReferenceValues(const std::vector<float>& references);
  // GetValueIn without its guard: failures propagate.
  float ConvertedValue(int code, int unit);
  void BuildTypeTables();
  // Aims the two travel sensors at the configuration block's zero counts and electrical spans,
  // quietly; true when either changed.
  bool CalibrateTravelSensors();

  // What the logger is (type, firmware version, identification), whether the configuration was
  // changed, the image of the last burn and the type's reference value.
  uint32_t controllerType_ = 2;
  int32_t version_ = 0;
  std::string identification_;
  bool modified_ = false;
  TMemoryStream configImage_;
  float typeReference_ = 0;
  // The configuration: its block, the logging control block and the fixed sensors.
  TConfigBlock configBlock_;
  TLogControlBlock logControl_;
  std::array<TSensorPtr, kFixedSlotCount> fixedSensors_;
  // The battery capacity, the listeners and their notification state, the type's output and
  // digital input tables, and the custom sensors with the one selected.
  TSensorPtr batteryCapacity_;
  std::vector<IControllerListener*> listeners_;
  int notifyDepth_ = 0;
  bool active_ = false;
  bool loading_ = false;
  TOutputDatas outputs_;
  TDigitalInputDatas digitalInputs_;
  TSensors customSensors_;
  int32_t selectedCustom_ = 0;
  // The accelerometer calibration: offset and gain.
  TVector accelOffset_;
  TMatrix accelGain_;
  // The link: connection, real-time block, analog inputs with their reference values, pending
  // notifications and link errors.
  // Read by the polling thread while the user-interface thread may change it.
  std::atomic<bool> connected_{false};
  std::array<uint8_t, 40> realtime_{};
  TEcuAnInputs anInputs_;
  std::vector<float> referenceValues_;
  uint8_t pendingFlags_ = 0;
  int32_t updateDepth_ = 0;
  int32_t linkErrors_ = 0;
  // The configuration's identity and whether it is the connected logger's, its time stamp, and
  // the flash facts and session bookkeeping.
  TConfigIdentity identity_{};
  bool identitySet_ = false;
  bool configInSync_ = false;
  // The identity recorded for the connected logger; the connect sequence clears it.
  TConfigIdentity connectedIdentity_{};
  bool connectedIdentitySet_ = false;
  TDateTime configTimestamp_ = 0;
  uint32_t sessionStartAddress_ = 0;
  uint32_t flashSize_ = 0;
  uint32_t eraseSectorSize_ = 4096;
  int32_t markerPosition_ = -1;
  int32_t sessionSector_ = -2;
  uint32_t sessionTime_ = 0;

  // Logging groups.
  std::array<TLoggingGroup, kMaxLoggingGroups> groups_{};
  std::array<uint8_t, kChannelMapSize> channelMap_{};
  int groupCount_ = 0;

  // Derived values.
  bool speedValid_ = false;
  uint8_t lastCounter_[2] = {0, 0};
  uint16_t lastPulseTime_[2] = {0, 0};
  float speed_[2] = {0, 0};
  int32_t previousRaw_[2] = {-1, -1};

  // Link and protocol.
  TCommChannelPtr channel_;
  ISynchronizer* synchronizer_ = nullptr;
  ITickClock* tickClock_ = nullptr;
  std::function<TDateTime()> nowFunction_;
  std::function<void(const std::string&)> errorHandler_;
  std::unique_ptr<TMemoryStream> commandBuffer_;
  std::vector<uint8_t> discardBuffer_;
  size_t discardFill_ = 0;
  std::string lastConnectError_;
  void StopThread();
  void StartThread();
  // Declared last so that it is destroyed first: the polling thread stops while the rest of
  // the controller still exists.
  std::shared_ptr<TEcuCommThread> commThread_;
};

}  // namespace qvl
