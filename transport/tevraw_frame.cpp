#include "transport/tevraw_frame.h"

#include <algorithm>

#include "core/util/endian.h"

namespace qvl {

size_t TevraFrameSize(uint8_t radioLength) {
  const size_t payload = radioLength > kTevraMacHeaderSize ? radioLength - kTevraMacHeaderSize : 0;
  return kTevraAdapterHeaderSize + kTevraMacHeaderSize + payload + 1;
}

TTevraFrame DecodeTevraFrame(std::span<const uint8_t> bytes, uint16_t network, uint16_t address) {
  TTevraFrame f;
  if (bytes.size() < kTevraAdapterHeaderSize) return f;
  const uint8_t* header = bytes.data();
  f.counter = header[0];
  f.radioLength = header[1];
  f.timestamp = GetU32(header + 2);
  f.adapterQuality = header[7];
  f.size = TevraFrameSize(f.radioLength);
  if (bytes.size() < f.size) return f;

  const uint8_t* mac = header + kTevraAdapterHeaderSize;
  f.frameControl = {mac[0], mac[1]};
  f.sequence = mac[2];
  f.network = GetU16(mac + 3);
  // One address field: the destination when frame control byte 1 has bit 3 set, else the
  // source; either way it must be ours.
  f.address = GetU16(mac + 5);
  f.trailer = bytes[f.size - 1];
  f.overflow = int(f.trailer) - int(f.counter) > kTevraOverflowMargin;

  const bool dataFrame = (mac[0] & 0x4F) == 0x01 && (mac[1] == 0x90 || mac[1] == 0x18);
  if (!dataFrame) {
    f.verdict = TTevraFrameVerdict::NotDataFrame;
    return f;
  }
  if (f.network != network) f.mismatch |= 0x01;
  if (f.address != address) f.mismatch |= 0x02;
  if (f.mismatch) {
    f.verdict = TTevraFrameVerdict::Foreign;
    return f;
  }
  const size_t payloadAt = kTevraAdapterHeaderSize + kTevraMacHeaderSize;
  const size_t payloadSize = f.size - payloadAt - 1;
  if (payloadSize < kTevraPayloadHeaderSize) {
    f.verdict = TTevraFrameVerdict::NoPayloadHeader;
    return f;
  }
  std::copy_n(bytes.begin() + long(payloadAt), kTevraPayloadHeaderSize, f.payloadHeader.begin());
  f.content =
      bytes.subspan(payloadAt + kTevraPayloadHeaderSize, payloadSize - kTevraPayloadHeaderSize);
  f.verdict = TTevraFrameVerdict::Accepted;
  return f;
}

}  // namespace qvl
