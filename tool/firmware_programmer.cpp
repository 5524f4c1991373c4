#include "tool/firmware_programmer.h"

#include <vector>

#include "core/util/endian.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"

namespace qvl {

const uint8_t kUserBootSwitch[3] = {0x0B, 0x26, 0x59};

void OpenLoggerLink(ICommChannel& link) {
  if (std::string(link.GetImplementor().className) == kHidChannelClass)
    link.Open("USB", "", 4096, 0x04D80339);
  else
    link.Open(link.GetPortName(), "", 4096, 57600);
}

bool IsBootloaderIdentification(const std::string& text) {
  return text.size() == 4 && text.compare(0, 3, "ZQB") == 0 && text[3] >= '1' && text[3] <= '9';
}

TFirmwareProgrammer::TFirmwareProgrammer(TCommChannelPtr link) : link_(std::move(link)) {}

void TFirmwareProgrammer::Drain() {
  std::vector<uint8_t> scratch;
  for (int n = link_->InCount(); n >= 1; n = link_->InCount()) {
    scratch.resize(size_t(n));
    link_->Read(scratch.data(), n);
  }
}

void TFirmwareProgrammer::Send(const uint8_t* bytes, int count) {
  link_->Write(bytes, count, false);
}

void TFirmwareProgrammer::ExpectAnswer(uint8_t command) {
  uint8_t answer = 0;
  link_->Read(&answer, 1);
  if (answer != command) throw Exception("Error");
}

void TFirmwareProgrammer::SetAddress(uint8_t* at, uint32_t wordAddress) {
  at[0] = uint8_t(wordAddress);
  at[1] = uint8_t(wordAddress >> 8);
  at[2] = uint8_t(wordAddress >> 16);
}

bool TFirmwareProgrammer::Identify() {
  if (!link_) return false;
  try {
    Drain();
    const uint8_t request = kBootIdentify;
    Send(&request, 1);
    identification_ = link_->ReadString();
    status_ = identification_ + " on " + link_->GetPortName();
    inBootloader_ = IsBootloaderIdentification(identification_);
    return true;
  } catch (const std::exception&) {
    inBootloader_ = false;
    identification_.clear();
    status_ = "No Ecu on " + link_->GetPortName();
    return false;
  }
}

void TFirmwareProgrammer::SwitchUserBoot() {
  Send(kUserBootSwitch, 3);
}

std::string TFirmwareProgrammer::ReadDeviceId() {
  Drain();
  const uint8_t request = kBootDeviceId;
  Send(&request, 1);
  uint8_t id[8];
  link_->Read(id, 8);
  ExpectAnswer(kBootDeviceId);
  return Format("%016llX", static_cast<unsigned long long>(GetU64(id)));
}

void TFirmwareProgrammer::ProgramRow(Tp33CodeRows& rows, size_t index) {
  const TCodeRow& row = rows.Rows[index];
  const uint32_t wordAddress = uint32_t(row.number) * kWordsPerRow;
  if (!rows.Erased[index]) {
    uint8_t erase[4] = {kBootEraseRow};
    SetAddress(erase + 1, wordAddress);
    Send(erase, 4);
    ExpectAnswer(kBootEraseRow);
    rows.Erased[index] = true;
    // Bootloaders of family 1 and below erase eight rows at once.
    if (rows.Family <= 1)
      for (size_t k = 0; k < rows.Rows.size(); ++k)
        if (rows.Rows[k].number / 8 == row.number / 8) rows.Erased[k] = true;
  }
  uint8_t write[4 + kRowDataBytes] = {kBootWriteRow};
  SetAddress(write + 1, wordAddress);
  auto data = CodeRowBytes(row);
  std::copy(data.begin(), data.end(), write + 4);
  Send(write, sizeof write);
  ExpectAnswer(kBootWriteRow);
}

void TFirmwareProgrammer::VerifyRow(const Tp33CodeRows& rows, size_t index) {
  const TCodeRow& row = rows.Rows[index];
  uint8_t request[4] = {kBootReadRow};
  SetAddress(request + 1, uint32_t(row.number) * kWordsPerRow);
  Send(request, 4);
  uint8_t data[kRowDataBytes];
  link_->Read(data, kRowDataBytes);
  ExpectAnswer(kBootReadRow);
  TCodeRow read = CodeRowFromBytes(row.number, data);
  for (int k = 0; k < kWordsPerRow; ++k) {
    // The first five words of row 0 hold the reset vector the bootloader keeps for itself.
    if (row.number == 0 && k < 5) continue;
    if (read.words[size_t(k)] != row.words[size_t(k)])
      throw Exception(Format("Error at %04X: write %04X read %04X",
                             unsigned(row.number) * kWordsPerRow + 2 * unsigned(k),
                             unsigned(row.words[size_t(k)]), unsigned(read.words[size_t(k)])));
  }
}

std::string StoredFirmwareFileName(const TIniFile& settings) {
  return settings.ReadString(kFirmwareSection, kFirmwareFileKey, "");
}

void StoreFirmwareFileName(TIniFile& settings, const std::string& fileName) {
  settings.WriteString(kFirmwareSection, kFirmwareFileKey, fileName);
}

bool TFirmwareProgrammer::Program(const std::string& fileName, const TLog& log,
                                  const TProgress& progress) {
  auto say = [&](const std::string& text) {
    if (log) log(text);
  };
  auto show = [&](int percent) {
    if (progress) progress(percent);
  };
  const int savedTimeOut = link_->GetTimeOut();
  struct Restore {
    ICommChannel* link;
    int timeOut;
    ~Restore() { link->SetTimeOut(timeOut); }
  } restore{link_.get(), savedTimeOut};

  Drain();
  link_->SetTimeOut(kProgrammingTimeOut);
  if (!inBootloader_) {
    say("Connecting to VRK BootLoader...");
    bool programEnabled = !fileName.empty();
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (programEnabled) SwitchUserBoot();
      programEnabled = Identify() && !fileName.empty();
      if (inBootloader_) {
        say(" Done");
        say("\r");
        break;
      }
    }
    if (!inBootloader_) {
      say("\r");
      say(" Error: cannot enter BootLoader mode");
      say("\r");
      return false;
    }
  }
  bool ok = false;
  try {
    Tp33CodeRows rows;
    rows.Family = identification_.size() >= 4 ? identification_[3] - '0' : 0;
    say("Programming...");
    show(0);
    rows.LoadFromFile(fileName);
    const size_t count = rows.Rows.size();
    for (size_t i = 0; i < count; ++i) {
      ProgramRow(rows, i);
      show(int(i * 100 / count));
    }
    say(" Done");
    say("\r");
    say("Verifying...");
    for (size_t i = 0; i < count; ++i) {
      VerifyRow(rows, i);
      show(int(i * 100 / count));
    }
    say(" Done");
    say("\r");
    say("\r");
    say("Successfully programmed unit with file \"" + fileName + "\"");
    say("\r");
    say("Switching to user application...");
    SwitchUserBoot();
    Identify();
    say(" Done");
    say("\r");
    ok = !inBootloader_ && !identification_.empty();
  } catch (const std::exception& e) {
    say("\r");
    say(std::string("Error: ") + e.what());
  }
  return ok;
}

}  // namespace qvl
