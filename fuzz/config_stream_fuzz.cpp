// Fuzz target: the configuration stream reader (".QVLcf" files, the head of every log file, the
// live channel's configuration message).
#include <cstddef>
#include <cstdint>

#include "core/device/controller.h"
#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvl::TController controller;
  qvl::TByteViewStream stream(data, size);
  try {
    controller.ReadFromStream(stream);
  } catch (const qvl::Exception&) {
  }
  try {
    controller.BuildLoggingGroups();
  } catch (const qvl::Exception&) {
  }
  // What was read must write out and read back.
  qvl::TMemoryStream out;
  controller.WriteToStream(out);
  out.SetPosition(0);
  qvl::TController again;
  again.ReadFromStream(out);
  return 0;
}
