// The simulated logger's bootloader: program memory in rows, erasing (eight rows at once for
// family 1), writing (flash bits can only be cleared), reading back, the device identifier,
// and the switch back to the application. It takes the host's bytes and gives its answers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "core/device/code_row.h"

namespace qvl {

class TSimBootloader {
 public:
  explicit TSimBootloader(int family = 2, uint64_t deviceId = 0x0123456789ABCDEFull)
      : family_(family), deviceId_(deviceId) {}

  // Bytes from the host; the answers are appended to `answer`. Returns false once the host has
  // sent the switch to the application (the bytes after it are not consumed).
  bool Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& answer,
            size_t* consumed = nullptr);
  // Starts again in the bootloader with empty input.
  void Enter() { input_.clear(); }

  int Family() const { return family_; }
  uint64_t DeviceId() const { return deviceId_; }
  // A row as program memory holds it (erased when never written).
  TCodeRow Row(uint16_t number) const;
  int EraseCount() const { return eraseCount_; }
  int WriteCount() const { return writeCount_; }

  // Fault: the next write of this row stores `position` with its lowest bit flipped.
  void CorruptNextWrite(uint16_t row, int position) {
    corruptRow_ = row;
    corruptPosition_ = position;
  }

 private:
  int family_;
  uint64_t deviceId_;
  std::map<uint16_t, TCodeRow> memory_;
  std::vector<uint8_t> input_;
  int eraseCount_ = 0;
  int writeCount_ = 0;
  int corruptRow_ = -1;
  int corruptPosition_ = -1;
};

}  // namespace qvl
