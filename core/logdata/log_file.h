// The log file envelope: a download file (the configuration stream followed by a data section) or
// a file saved by the viewer (a version number, the viewer's display lists, video name and
// synchronisation, the configuration, the data, the notes and extension blocks).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/logdata/log_record.h"
#include "core/util/byte_stream.h"
#include "core/util/date_time.h"

namespace qvl {

class TController;
struct TLoggingGroup;

// The logging group list of a configuration: the configuration's groups with a period and
// channels, in order, each with every channel (0..31) that the channel map puts in it, in
// ascending order. The position in the list is the index flash image group records carry.
TDataLogGroups BuildDataLogGroups(const std::array<TLoggingGroup, 8>& groups,
                                  const std::array<uint8_t, 32>& channelMap);
// Computes the controller's logging groups ("Too many logging groups" on a ninth) and builds the
// list from them.
TDataLogGroups BuildDataLogGroups(TController& controller);

// Writes a download file as the tool does after reading the logger's flash: the configuration
// stream, then a data section (created, flash image tag, period 1, the length, the bytes).
void WriteDownloadFile(TStream& stream, TController& controller, const uint8_t* image, size_t size,
                       TDateTime created);

}  // namespace qvl
