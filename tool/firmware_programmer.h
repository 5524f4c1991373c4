// Replaces the logger's program through its bootloader: identification, the switch between
// application and bootloader, erasing, writing and reading back rows of program memory.
//
//   not connected --Identify--> application found --UserBoot + Identify--> bootloader found
//   bootloader found --Program--> programming --> verifying --UserBoot--> application found
//
// Failures while programming leave the logger in its bootloader; Program can run again.
#pragma once

#include <functional>
#include <string>

#include "core/device/comm_channel.h"
#include "tool/hex_code_rows.h"

namespace qvl {

class TIniFile;

// Bootloader commands.
enum : uint8_t {
  kBootIdentify = 0x00,
  kBootReadRow = 0x02,
  kBootWriteRow = 0x03,
  kBootEraseRow = 0x04,
  kBootDeviceId = 0x09,
};
// The three bytes that switch between application and bootloader.
extern const uint8_t kUserBootSwitch[3];
constexpr int kProgrammingTimeOut = 2000;

// True for a bootloader's identification: exactly "ZQB" and a digit from 1 to 9.
bool IsBootloaderIdentification(const std::string& text);

// Opens the link for talking to the logger directly, as the polling thread would: a USB link by
// its identifiers, any other at the logger's line speed.
void OpenLoggerLink(ICommChannel& link);

// The HEX file last chosen for programming, kept in the tool's settings (section "Flash", key
// "File"): read when the firmware window opens, written when it closes.
inline constexpr const char kFirmwareSection[] = "Flash";
inline constexpr const char kFirmwareFileKey[] = "File";
std::string StoredFirmwareFileName(const TIniFile& settings);
void StoreFirmwareFileName(TIniFile& settings, const std::string& fileName);

class TFirmwareProgrammer {
 public:
  // Text for the window's log memo, exactly as it is appended ("\r" starts a new line).
  using TLog = std::function<void(const std::string& text)>;
  using TProgress = std::function<void(int percent)>;

  explicit TFirmwareProgrammer(TCommChannelPtr link);

  // Asks who is there. Returns true when something answered; afterwards InBootloader() tells
  // whether it is the bootloader, StatusText() what the window shows.
  bool Identify();
  bool InBootloader() const { return inBootloader_; }
  const std::string& IdentificationText() const { return identification_; }
  const std::string& StatusText() const { return status_; }

  void SwitchUserBoot();
  // The device identifier as 16 hexadecimal digits of the little-endian 64-bit value.
  std::string ReadDeviceId();

  // Erases (once per erase block) and writes one row.
  void ProgramRow(Tp33CodeRows& rows, size_t index);
  // Reads one row back and compares it; "Error at ..." on the first difference.
  void VerifyRow(const Tp33CodeRows& rows, size_t index);

  // The whole sequence of the Program button for a HEX file. Returns true after a verified
  // write and the switch back to the application.
  bool Program(const std::string& fileName, const TLog& log, const TProgress& progress);

  // Discards everything waiting on the link.
  void Drain();

 private:
  void Send(const uint8_t* bytes, int count);
  void ExpectAnswer(uint8_t command);
  static void SetAddress(uint8_t* at, uint32_t wordAddress);

  TCommChannelPtr link_;
  std::string identification_;
  std::string status_;
  bool inBootloader_ = false;
};

}  // namespace qvl
