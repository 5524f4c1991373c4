// The simulated logger: the other end of the command protocol, byte by byte. It echoes the
// command byte after each chunk of 8 data bytes (one echo for a command without data), sends
// a command's answer only after its last echo, and answers the identification byte 0x00 with
// its identification string and a 0x00. Like the logger it refuses, without echo or answer, a
// frame whose size header is not the block's size (0x20: 16, 0x26: 0 48, 0x31: 0 32), a
// configuration image over 2980 bytes and a strided read of more than 128 items. Behind the frames
// it keeps a configuration, a clock, the scratch memory, a ring of flash sectors holding recorded
// sessions and runs, and a ride that moves the wheels, the suspension and the accelerometer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_bootloader.h"
#include "sim/sim_season.h"

namespace qvl::sim {

// Faults the link between host and simulated logger can suffer.
struct TSimFaults {
  double loseRate = 0;         // probability that a byte to the host is lost
  double corruptEchoRate = 0;  // probability that an echo byte arrives changed
  int answerDelayMs = 0;       // extra delay before an answer ...
  double answerDelayRate = 1;  // ... with this probability
  int64_t silentAfter = -1;    // stops answering after this many bytes from the host
  int silentForMs = 0;         // ... for this long (0: for good)
  int64_t unplugAfter = -1;    // the logger is unplugged after this many bytes from the host
  int replugAfterMs = 1000;    // ... and plugged in again after this long (0: never)
  // Added to the session start address the logger reports (a start off the erase sectors).
  uint32_t sessionStartSkew = 0;
};

struct TSimOptions {
  std::string identification = "QVL R2.11";
  int flashSizeCode = 1;  // 1 = 2 MiB ... 5 = 64 MiB, 0 = no flash
  int sessions = 2;
  int runsPerSession = 2;
  int runSeconds = 20;     // length of each recorded run
  int bytesPerSecond = 0;  // line speed towards the host; 0 = as fast as it goes
  bool clockSet = true;
  int clockOffsetUnits = 0;  // the logger clock's error against the PC clock
  uint32_t seed = 1;
  // The same trail ridden again with another line or suspension: a ride seed other than 0 makes
  // each bump of either end 70 to 130 % as deep as the plain ride's, and frontTravelScale
  // multiplies the fork's travel (above 1 a softer fork: more sag, deeper bumps, stopped at full
  // travel). Seed 0 with scale 1 is the plain ride.
  uint32_t rideSeed = 0;
  double frontTravelScale = 1.0;
  TSimFaults faults;
  // The bootloader behind 0x0B 0x26 0x59: its family digit ("ZQB1": erases 8 rows at once).
  int bootloaderFamily = 2;
  // A fault for firmware tests: the first write of this row stores a word changed (-1: none).
  int corruptBootRow = -1;
  // A flash written by a season of riding instead of the plain sessions above.
  TSimSeasonOptions season;
};

// What a reply byte is, so that faults can pick on echoes and answers.
enum class TReplyKind { Echo, Answer };

struct TReply {
  uint8_t byte;
  TReplyKind kind;
};

// The ride both the live values and the recorded runs follow: wheel speed in m/s at t seconds.
double RideWheelSpeed(int wheel, double t);

class TSimLogger {
 public:
  // nowMs: the simulation's millisecond clock (steady); pcNow: the PC's date-time at start.
  explicit TSimLogger(const TSimOptions& options, uint64_t nowMs = 0);

  // One byte from the host at time nowMs; appends the logger's reply bytes.
  void Receive(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out);

  // --- state, for tests and the program's report ---
  const std::string& Identification() const { return options_.identification; }
  int Version() const;
  uint32_t FlashSize() const { return uint32_t(flash_.size()); }
  uint32_t EraseSectorSize() const;
  uint32_t FlashWriteAddress() const { return writeAddress_; }
  uint32_t SessionStartAddress() const { return sessionStart_; }
  const std::vector<uint8_t>& Flash() const { return flash_; }
  std::vector<uint8_t>& Flash() { return flash_; }
  const std::array<uint16_t, 256>& Scratch() const { return scratch_; }
  std::array<uint16_t, 256>& Scratch() { return scratch_; }
  const std::vector<uint8_t>& ConfigImage() const { return configImage_; }
  const std::array<uint8_t, 16>& LogControl() const { return logControl_; }
  const std::array<uint8_t, 48>& LoggingGroups() const { return groups_; }
  const std::array<uint8_t, 32>& ChannelMap() const { return channelMap_; }
  uint32_t Clock(uint64_t nowMs) const;
  bool ClockSet() const { return clockSet_; }
  bool LogBlocked() const { return logBlocked_; }
  int CommandCount(uint8_t command) const { return commandCounts_[command]; }
  // Frames refused as a logger refuses them (wrong size headers, too many items, too large).
  int Refusals() const { return refusals_; }
  // True while the bootloader, not the application, answers.
  bool InBootloader() const { return inBootloader_; }
  const TSimBootloader& Bootloader() const { return bootloader_; }
  // Between frames: the next byte from the host starts a command.
  bool AwaitingCommand(uint64_t nowMs) const;
  // The season written into the flash (nullptr without one, or after erasing the flash), and
  // whether the logger is logging its current run.
  const TSimSeason* Season() const { return season_.get(); }
  bool Logging() const { return season_ && season_->Logging(); }
  // The line speed divisor last set with 0x07 (0: normal).
  int LineSpeed() const { return lineSpeed_; }
  // Starts the clock at a device time (as 0x3C does).
  void SetClock(uint32_t deviceTime, uint64_t nowMs);
  // The 40-byte real-time block and the raw analog values at nowMs.
  std::array<uint8_t, 40> RealtimeBlock(uint64_t nowMs);
  std::vector<int16_t> AnalogValues(uint64_t nowMs, int count);

 private:
  // How deep the bump at t seconds goes against the plain ride (1 without a ride seed); phase
  // picks the end (0 the fork).
  double BumpDepth(double phase, double t) const;
  // The steps of a byte from the host: the switch to the bootloader, a frame's command byte and
  // its data bytes.
  bool SwitchesToBootloader(uint8_t byte);
  void StartFrame(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out);
  void ReceiveData(uint8_t byte, uint64_t nowMs, std::vector<TReply>& out);
  // Carries out a complete frame.
  void Execute(uint64_t nowMs, std::vector<TReply>& out);
  // What the commands do.
  void StoreBlock();
  void AnswerFatDateTime(uint32_t deviceTime, std::vector<TReply>& out);
  void AnswerRealtime(uint64_t nowMs, uint16_t address, uint16_t length, std::vector<TReply>& out);
  void AnswerAnalog(uint64_t nowMs, int count, std::vector<TReply>& out);
  void AnswerFlash(uint32_t start, uint32_t stride, uint16_t count, uint16_t size,
                   std::vector<TReply>& out);
  void AnswerStatus(std::vector<TReply>& out);
  void EndRunForDownload(uint64_t nowMs);
  void EraseFlash();
  void AnswerScratch(uint16_t first, uint16_t count, std::vector<TReply>& out);
  void WriteScratch(uint16_t first, uint16_t count, const uint8_t* words);
  int DataLength() const;
  // The frame so far states what the logger does not take.
  bool Refuses() const;
  void Answer(const std::vector<uint8_t>& bytes, std::vector<TReply>& out);
  void Echo(std::vector<TReply>& out) { out.push_back({command_, TReplyKind::Echo}); }
  void FillFlash();
  void FillSeason(const TDataLogGroups& groups);
  // The logging groups of the configuration image, as the recorder samples them.
  TDataLogGroups RecordedGroups() const;
  // Live logging: the season's current run recorded up to nowMs.
  void AdvanceLogging(uint64_t nowMs);
  void UpdateRide(uint64_t nowMs);
  // Takes the wheel and potentiometer settings of the configuration image.
  void ApplyConfiguration();

  TSimOptions options_;
  // The bootloader, and how much of the switch sequence has arrived.
  TSimBootloader bootloader_;
  bool inBootloader_ = false;
  int switchStage_ = 0;
  // Frame parser.
  bool inFrame_ = false;
  uint8_t command_ = 0;
  std::vector<uint8_t> data_;
  uint64_t lastByteMs_ = 0;
  bool refusing_ = false;
  int refusals_ = 0;
  std::array<int, 256> commandCounts_{};

  // Logger state.
  std::vector<uint8_t> configImage_;
  std::array<uint8_t, 16> logControl_{};
  std::array<uint8_t, 48> groups_{};
  std::array<uint8_t, 32> channelMap_{};
  std::vector<uint8_t> flash_;
  uint32_t writeAddress_ = 0;
  uint32_t sessionStart_ = 0;
  std::array<uint16_t, 256> scratch_{};
  bool clockSet_ = true;
  uint32_t clockBase_ = 0;
  uint64_t clockBaseMs_ = 0;
  uint32_t runStart_ = 0;
  bool logBlocked_ = false;
  int lineSpeed_ = 0;
  uint64_t startMs_ = 0;
  std::unique_ptr<TSimSeason> season_;

  // Ride state.
  uint8_t pulsesPerTurn_[2] = {8, 8};
  double circumference_[2] = {2.2343059, 2.2343059};
  double zero_[2] = {3900, 3900};
  double travel_[2] = {0.2, 0.08};
  double span_[2] = {0.2533, 0.1013};
  uint64_t rideMs_ = 0;
  double pulsePhase_[2] = {0, 0};
  uint8_t pulseCounter_[2] = {0, 0};
  uint16_t pulseTime_[2] = {0, 0};
};

}  // namespace qvl::sim
