// The wireless adapter's stream to the host: answer bytes, and radio frames behind the marker
// 0x80, each decoded as the link decodes it. A decoded frame lies within the bytes given, its
// size follows from its radio length alone, the bytes after it change nothing, and one byte
// less leaves it incomplete.
#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/tevraw_comm.h"
#include "transport/tevraw_frame.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

volatile unsigned contentSum;  // keeps the content reads

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qvl;
  const std::span<const uint8_t> stream(data, size);
  size_t at = 0;
  while (at < stream.size()) {
    if (stream[at++] != kTevraFrameMarker) continue;  // an adapter answer byte
    const std::span<const uint8_t> rest = stream.subspan(at);
    const TTevraFrame f = DecodeTevraFrame(rest, kTevraDefaultNetwork, kTevraDefaultAddress);
    if (!f.Complete()) {
      Check(f.size > rest.size());
      break;
    }
    Check(f.size <= rest.size() && f.size == TevraFrameSize(rest[1]));
    const TTevraFrame alone =
        DecodeTevraFrame(rest.first(f.size), kTevraDefaultNetwork, kTevraDefaultAddress);
    Check(alone.verdict == f.verdict && alone.size == f.size && alone.trailer == f.trailer &&
          alone.content.size() == f.content.size());
    Check(!DecodeTevraFrame(rest.first(f.size - 1), kTevraDefaultNetwork, kTevraDefaultAddress)
               .Complete());
    if (f.verdict == TTevraFrameVerdict::Accepted) {
      Check(f.content.data() >= rest.data() &&
            f.content.data() + f.content.size() == rest.data() + f.size - 1);
      for (uint8_t b : f.content) contentSum = contentSum + b;
    } else {
      Check(f.content.empty());
    }
    Check((f.verdict == TTevraFrameVerdict::Foreign) == (f.mismatch != 0));
    at += f.size;
  }
  return 0;
}
