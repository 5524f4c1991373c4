#include "core/device/device_time.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace qvl {

uint32_t DateTimeToDeviceTime(TDateTime value) {
  double units = std::round((value - kDeviceEpochDays) * kDeviceUnitsPerDay);
  if (!(units > 0)) return 0;
  if (units >= 4294967295.0) return 0xFFFFFFFFu;
  return uint32_t(units);
}

TDateTime DeviceTimeToDateTime(uint32_t units) {
  return double(units) / kDeviceUnitsPerDay + kDeviceEpochDays;
}

void DeviceTimeToFat(uint32_t units, uint16_t& fatDate, uint16_t& fatTime) {
  TDateTimeParts p = DecodeDateTime(DeviceTimeToDateTime(units));
  int year = p.year < 1980 ? 0 : p.year - 1980;
  if (year > 127) year = 127;
  fatDate = uint16_t((year << 9) | (p.month << 5) | p.day);
  fatTime = uint16_t((p.hour << 11) | (p.minute << 5) | (p.second / 2));
}

namespace {

class TSystemTickClock : public ITickClock {
 public:
  uint64_t NowMs() override {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

ITickClock& SystemTickClock() {
  static TSystemTickClock clock;
  return clock;
}

}  // namespace qvl
