#include "core/device/log_record.h"

#include "core/util/endian.h"

namespace qvl {

TLogRecord DecodeLogRecord(const uint8_t* p) {
  TLogRecord r;
  r.tick = GetI32(p);
  r.frontCount = p[4];
  r.rearCount = p[5];
  r.frontValue = GetI16(p + 6);
  r.rearValue = GetI16(p + 8);
  for (size_t i = 0; i < r.values.size(); ++i) r.values[i] = GetI16(p + 10 + 2 * i);
  r.spare = GetI16(p + 20);
  return r;
}

void EncodeLogRecord(const TLogRecord& r, uint8_t* p) {
  PutI32(p, r.tick);
  p[4] = r.frontCount;
  p[5] = r.rearCount;
  PutI16(p + 6, r.frontValue);
  PutI16(p + 8, r.rearValue);
  for (size_t i = 0; i < r.values.size(); ++i) PutI16(p + 10 + 2 * i, r.values[i]);
  PutI16(p + 20, r.spare);
}

double DeviceTimeToDate(uint32_t deviceTime) {
  // 2000-01-01 is day 36526; a day holds 84375 units of 1.024 s.
  return 36526.0 + double(deviceTime) / 84375.0;
}

}  // namespace qvl
