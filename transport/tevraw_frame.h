// A received radio frame as the wireless link adapter hands it to the host, decoded without
// any I/O: bytes in, the frame or the reason it is not taken out.
//
// After the marker byte 0x80 the adapter sends:
//   8-byte adapter header   counter, radio length L, u32 timestamp, unused, link quality
//   7-byte MAC header       frame control (2), sequence number, PAN identifier, short address
//   L - 7 bytes of payload  type, logger-seen link quality, 2 unused, content
//   1 trailing byte         compared with the counter
// A radio length below 7 carries no payload. The frame's size is known once the adapter header
// is there, so a reader takes 8 bytes, asks DecodeTevraFrame how many the frame needs, takes
// the rest and decodes again.
//
// A frame is taken only as an IEEE 802.15.4 data frame (frame control byte 0 and 0x4F equals
// 0x01) with frame control byte 1 0x90 (the source address) or 0x18 (the destination
// address), for our PAN identifier and our address, with room for its payload header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qvl {

inline constexpr uint8_t kTevraFrameMarker = 0x80;
inline constexpr size_t kTevraAdapterHeaderSize = 8;
inline constexpr size_t kTevraMacHeaderSize = 7;
inline constexpr size_t kTevraPayloadHeaderSize = 4;
// A trailing byte further than this ahead of the counter tells of a receive overflow.
inline constexpr int kTevraOverflowMargin = 30;

enum class TTevraFrameVerdict {
  Accepted,         // a data frame for us: payload header and content are valid
  Incomplete,       // more bytes are needed: size says how many the frame takes so far
  NotDataFrame,     // frame control of another kind of frame or addressing
  Foreign,          // another PAN identifier or another address (mismatch says which)
  NoPayloadHeader,  // for us, but too short for the payload header
};

struct TTevraFrame {
  TTevraFrameVerdict verdict = TTevraFrameVerdict::Incomplete;
  // Bytes the frame takes after its marker (for Incomplete: bytes needed before deciding more).
  size_t size = kTevraAdapterHeaderSize;
  // Adapter header.
  uint8_t counter = 0;
  uint8_t radioLength = 0;
  uint32_t timestamp = 0;
  uint8_t adapterQuality = 0;
  // MAC header.
  std::array<uint8_t, 2> frameControl{};
  uint8_t sequence = 0;
  uint16_t network = 0;
  uint16_t address = 0;
  // Bit 0: another PAN identifier; bit 1: another address (only looked at for data frames).
  uint8_t mismatch = 0;
  // Payload (Accepted only): its header and the content after it, a view into the input.
  std::array<uint8_t, kTevraPayloadHeaderSize> payloadHeader{};
  std::span<const uint8_t> content;
  uint8_t trailer = 0;
  // The trailing byte exceeds the counter by more than kTevraOverflowMargin.
  bool overflow = false;

  bool Complete() const { return verdict != TTevraFrameVerdict::Incomplete; }
  uint8_t PayloadType() const { return payloadHeader[0]; }
  uint8_t LoggerQuality() const { return payloadHeader[1]; }
};

// Bytes a frame takes after its marker, from its radio length.
size_t TevraFrameSize(uint8_t radioLength);

// Decodes the frame at the start of bytes (the bytes after the marker) for the channel's
// network identifier and address. Bytes after the frame are not looked at.
TTevraFrame DecodeTevraFrame(std::span<const uint8_t> bytes, uint16_t network, uint16_t address);

}  // namespace qvl
