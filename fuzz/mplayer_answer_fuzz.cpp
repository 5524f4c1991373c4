// The media player's output: any bytes, cut into chunks as the pipe delivers them, split into
// answer lines and dispatched. The properties stay bounded and, once the open has failed, no line
// changes the playback state or the properties any more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "viewer/video/mplayer_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvl::TMediaPropList props;
  bool frozen = false;
  props.onChange = [&frozen](int) {
    if (frozen) std::abort();
  };
  qvl::TAnswerParser parser(props);
  qvl::TAnswerLineBuffer buffer;
  // The first byte chooses the chunk size (1..64), as reads of the pipe may cut anywhere.
  const size_t chunk = size ? size_t(data[0] % 64) + 1 : 1;
  for (size_t at = size ? 1 : 0; at < size; at += chunk) {
    const size_t n = at + chunk <= size ? chunk : size - at;
    buffer.Append(reinterpret_cast<const char*>(data + at), n);
    for (const std::string& line : buffer.TakeLines()) {
      const qvl::TPlaybackState before = parser.State();
      parser.Dispatch(line);
      if (before.failed && parser.State().timePos != before.timePos) std::abort();
      frozen = parser.State().failed;
      double v = 0;
      (void)qvl::ParsePlayerNumber(line, v);
      (void)qvl::FormatPlayerNumber(v);
    }
  }
  if (props.Count() > int(qvl::TMediaPropList::kMaxProps)) std::abort();
  return 0;
}
