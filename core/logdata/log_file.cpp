#include "core/logdata/log_file.h"

#include "core/device/controller.h"
#include "core/util/exceptions.h"

namespace qvl {

TDataLogGroups BuildDataLogGroups(const std::array<TLoggingGroup, 8>& groups,
                                  const std::array<uint8_t, 32>& channelMap) {
  TDataLogGroups list;
  for (size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].periodMs == 0 || groups[g].channelCount == 0) continue;
    TDataLogGroup entry;
    entry.period = groups[g].periodMs;
    for (size_t c = 0; c < channelMap.size(); ++c)
      if ((channelMap[c] & 0x1F) == g) entry.channels[size_t(entry.count++)] = int16_t(c);
    list.push_back(entry);
  }
  return list;
}

TDataLogGroups BuildDataLogGroups(TController& controller) {
  controller.BuildLoggingGroups();
  return BuildDataLogGroups(controller.LoggingGroups(), controller.ChannelMap());
}

void WriteDownloadFile(TStream& stream, TController& controller, const uint8_t* image, size_t size,
                       TDateTime created) {
  if (size > 0x7FFFFFFF) throw Exception("Log data too large");
  controller.WriteToStream(stream);
  stream.WriteF64(created);
  stream.WriteU32(kTagFlashImage);
  stream.WriteI32(1);
  stream.WriteI32(int32_t(size));
  stream.WriteBuffer(image, size);
}

}  // namespace qvl
