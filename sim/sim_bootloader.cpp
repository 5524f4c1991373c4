#include "sim/sim_bootloader.h"

#include <cstring>
#include <string>

namespace qvl {
namespace {

uint32_t Address(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (uint32_t(at[2]) << 16);
}

}  // namespace

TCodeRow TSimBootloader::Row(uint16_t number) const {
  auto it = memory_.find(number);
  return it == memory_.end() ? ErasedRow(number) : it->second;
}

bool TSimBootloader::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& answer,
                          size_t* consumed) {
  size_t used = 0;
  bool inBootloader = true;
  for (; used < count && inBootloader; ++used) {
    input_.push_back(bytes[used]);
    // Handle every complete request at the front of the input.
    for (bool again = true; again && !input_.empty();) {
      again = false;
      const uint8_t command = input_[0];
      const size_t have = input_.size();
      switch (command) {
        case 0x00: {
          std::string id = "ZQB" + std::to_string(family_);
          answer.insert(answer.end(), id.begin(), id.end());
          answer.push_back(0);
          input_.erase(input_.begin());
          again = true;
          break;
        }
        case 0x0B:
          if (have >= 3) {
            bool sw = input_[1] == 0x26 && input_[2] == 0x59;
            input_.erase(input_.begin(), input_.begin() + (sw ? 3 : 1));
            if (sw) inBootloader = false;
            again = !sw;
          }
          break;
        case 0x09:
          for (int k = 0; k < 8; ++k) answer.push_back(uint8_t(deviceId_ >> (8 * k)));
          answer.push_back(0x09);
          input_.erase(input_.begin());
          again = true;
          break;
        case 0x04:
          if (have >= 4) {
            uint16_t row = uint16_t(Address(&input_[1]) / kWordsPerRow);
            ++eraseCount_;
            if (family_ <= 1) {
              for (uint16_t r = uint16_t(row / 8 * 8); r < row / 8 * 8 + 8; ++r) memory_.erase(r);
            } else {
              memory_.erase(row);
            }
            answer.push_back(0x04);
            input_.erase(input_.begin(), input_.begin() + 4);
            again = true;
          }
          break;
        case 0x03:
          if (have >= 4 + kRowDataBytes) {
            uint16_t row = uint16_t(Address(&input_[1]) / kWordsPerRow);
            TCodeRow written = CodeRowFromBytes(row, &input_[4]);
            TCodeRow& stored = memory_.try_emplace(row, ErasedRow(row)).first->second;
            for (int k = 0; k < kWordsPerRow; ++k)
              stored.words[size_t(k)] &= written.words[size_t(k)];
            if (corruptRow_ == row && corruptPosition_ >= 0) {
              stored.words[size_t(corruptPosition_)] ^= 1;
              corruptRow_ = -1;
            }
            ++writeCount_;
            answer.push_back(0x03);
            input_.erase(input_.begin(), input_.begin() + 4 + kRowDataBytes);
            again = true;
          }
          break;
        case 0x02:
          if (have >= 4) {
            uint16_t row = uint16_t(Address(&input_[1]) / kWordsPerRow);
            auto data = CodeRowBytes(Row(row));
            answer.insert(answer.end(), data.begin(), data.end());
            answer.push_back(0x02);
            input_.erase(input_.begin(), input_.begin() + 4);
            again = true;
          }
          break;
        default:  // not a bootloader command: ignored
          input_.erase(input_.begin());
          again = true;
          break;
      }
    }
  }
  if (consumed) *consumed = used;
  return inBootloader;
}

}  // namespace qvl
