#include "cli/config_source.h"

#include "core/device/controller.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"

namespace qvl::cli {

void LoadConfiguration(const std::string& fileName, TController& controller) {
  {
    TFileStream file(fileName, TFileStream::OpenRead);
    uint8_t head[2];
    if (file.Read(head, 2) == 2 && GetU16(head) < kDownloadMarker) {
      // A log file saved by the viewer: its configuration follows the envelope (and, in older
      // versions, the data).
      file.SetPosition(0);
      ReadLogFileConfiguration(file, controller);
      controller.SetModified(false);
      return;
    }
  }
  // A configuration file, or a download file, which starts with the configuration stream.
  controller.LoadFromFile(fileName);
}

}  // namespace qvl::cli
