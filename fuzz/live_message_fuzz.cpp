// Live channel messages: the first byte picks the identifier (configuration, samples or
// another), the rest is the payload a viewer receives.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/device/controller.h"
#include "core/device/live_channel.h"
#include "core/device/live_sample.h"
#include "core/logdata/data_log_store.h"
#include "core/util/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const uint32_t kIds[] = {qvl::kLiveConfigMessage, qvl::kLiveSamplesMessage, 1};
  qvl::TController controller;
  qvl::TLiveReceiver receiver(controller);
  std::unique_ptr<qvl::TDataLogStore> store;
  receiver.OnSamples = [&](qvl::TLogArray samples) {
    qvl::ReplaceLiveSamples(store, std::move(samples));
  };
  // A good configuration first, so that sample blocks are taken.
  qvl::TMemoryStream config;
  qvl::TController().WriteToStream(config);
  receiver.Handle(qvl::kLiveConfigMessage, config.Bytes());
  std::vector<uint8_t> payload(data + 1, data + size);
  try {
    receiver.Handle(kIds[data[0] % 3], payload);
  } catch (const qvl::Exception&) {
  }
  return 0;
}
