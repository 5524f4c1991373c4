// Device time, the logger's clock: an unsigned 32-bit count of 1.024-second units since
// 2000-01-01 00:00 (84375 units per day). Also the millisecond tick that the link's time-outs
// and the polling grid are measured with, replaceable so that tests can run on a fake clock.
#pragma once

#include <cstdint>

#include "core/util/date_time.h"

namespace qvl {

constexpr double kDeviceEpochDays = 36526.0;  // 2000-01-01 as days since 1899-12-30
constexpr double kDeviceUnitsPerDay = 84375.0;

// round((D - 36526) x 84375); dates before 2000 give 0, dates past the counter's range its
// largest value.
uint32_t DateTimeToDeviceTime(TDateTime value);
// units / 84375 + 36526.
TDateTime DeviceTimeToDateTime(uint32_t units);

// The FAT (MS-DOS) date and time of a device time: date = (year - 1980) << 9 | month << 5 | day,
// time = hour << 11 | minute << 5 | second / 2.
void DeviceTimeToFat(uint32_t units, uint16_t& fatDate, uint16_t& fatTime);

// A millisecond tick and a sleep on it.
class ITickClock {
 public:
  virtual ~ITickClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The steady system clock and a real sleep.
ITickClock& SystemTickClock();

}  // namespace qvl
