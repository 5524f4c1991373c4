// Fuzz target: a whole log file as the viewer opens it (envelope, configuration, data section,
// notes, extension blocks), then the store's queries, a walk of each whole run, random access and
// writing back. Built once per data encoding (QVL_FUZZ_ENCODING): inputs of another
// encoding are passed over after reading, so that each target spends its time on its own decoder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/exceptions.h"

namespace {

void Exercise(qvl::TDataLogStore& store) {
  for (int r = 0; r < std::min(store.RunCount(), 8); ++r) {
    store.RunFirst(r);
    store.RunLast(r);
    store.RunDuration(r);
    store.RunStartTime(r);
    store.RunStartDate(r);
    store.RunSession(r);
    store.GetRunNote(r);
    store.SelectRun(r);
    int64_t n = int64_t(store.RunLast(r)) - store.RunFirst(r) + 1;
    if (!store.IsImage()) n *= store.Period();
    // The whole run, as the viewer walks it: a run claiming more time than its data holds shows
    // as a slow input. For the record encodings only the multiples of Period hold a record (the
    // positions between read nothing), so the walk takes those.
    const int64_t step = store.IsImage() ? 1 : std::max<int64_t>(store.Period(), 1);
    qvl::TLogSample sample;
    for (int64_t t = 0; t < n; t += step) store.ReadNext(t, sample);
    for (int64_t p = 0; p < n; p += 37 * step) {
      store.GetSample(p, sample);
      store.RunOfPosition(p);
      store.TimeInRun(p);
      store.TimeInSession(p);
      store.TimeFromStart(p);
    }
  }
  for (int s = 0; s < std::min(store.SessionCount(), 8); ++s) {
    int first, count;
    store.GetSession(s, first, count);
    store.SessionStartDate(s);
  }
  for (int c = -1; c <= 32; ++c) {
    store.ChannelGroup(c);
    store.ChannelPeriod(c);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvl::TController controller;
  qvl::TDataLogStore store;
  qvl::TLogFileInfo info;
  qvl::TByteViewStream stream(data, size);
  try {
    qvl::ReadLogFile(stream, controller, store, info);
  } catch (const qvl::Exception&) {
    Exercise(store);  // what was read before the failure stays usable
    return 0;
  }
  if (store.Encoding() != QVL_FUZZ_ENCODING) return 0;
  Exercise(store);

  // Writing back: the data section reads again to the same bytes (for sample records only when
  // none was discarded: a discarded record is written as the copy that replaced it, and the gaps
  // around it read differently the second time).
  qvl::TMemoryStream first;
  store.WriteData(first);
  first.SetPosition(0);
  qvl::TDataLogStore again;
  again.SetGroups(store.Groups());
  again.ReadData(first);
  qvl::TMemoryStream second;
  again.WriteData(second);
  const bool replaced = store.Encoding() == qvl::kTagSampleRecords && store.DiscardedCount() > 0;
  if (!replaced && second.Bytes() != first.Bytes()) std::abort();
  try {
    qvl::TMemoryStream saved;
    qvl::WriteSavedLogFile(saved, controller, store, info);
  } catch (const qvl::Exception&) {
    // "Too many notes"
  }
  return 0;
}
