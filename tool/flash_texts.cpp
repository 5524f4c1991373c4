#include "tool/flash_texts.h"

#include <cmath>
#include <filesystem>

#include "core/device/device_time.h"
#include "core/util/date_time.h"
#include "core/util/number_format.h"

namespace qvl {

int64_t RoundEven(double value) {
  return int64_t(std::nearbyint(value));
}

std::string FlashDurationText(double seconds) {
  int64_t minutes, secs;
  if (seconds > 240) {
    minutes = RoundEven(seconds / 60);
    secs = 0;
  } else {
    const int64_t s = RoundEven(seconds);
    minutes = s / 60;
    secs = s % 60;
    if (minutes >= 2) secs = RoundEven(double(s % 60) / 4) * 4;
  }
  if (minutes < 1) return Format("%dsec.", int(secs));
  if (secs < 1) return Format("%dmin.", int(minutes));
  return Format("%dm%ss", int(minutes), Format("%.2d", int(secs)).c_str());
}

std::string FlashOffsetText(uint32_t tickMs) {
  const int64_t a = RoundEven(double(tickMs) / 1000);
  if (a <= 59) return Format("%dsec.", int(a));
  if (a <= 599) return Format("%dm%ss", int(a / 60), Format("%.2d", int(a % 60)).c_str());
  if (a <= 3599) return Format("%dmin.", int(RoundEven(double(a) / 60)));
  return Format("%dh%sm", int(a / 3600),
                Format("%.2d", int(RoundEven(double(a % 3600) / 60))).c_str());
}

std::string FlashSizeText(uint64_t bytes) {
  if (bytes <= 4095) return Format("%lluBytes", (unsigned long long)bytes);
  if (bytes <= 0xFFFFF) return Format("%lluKB", (unsigned long long)(bytes / 1024));
  const double m = double(bytes / 1024) / 1024;
  if (m >= 10) return Format("%dMB", int(RoundEven(m)));
  return Format("%.1fMB", m);
}

std::string FlashLengthText(uint32_t lengthMs, int32_t dataRate) {
  // Without a data rate the estimate of the page the logger still held is left out (the
  // configuration of a logger that was never set up by the editor carries 0).
  if (dataRate <= 0) return FlashDurationText(double(lengthMs) / 1000);
  const double x = 2048.0 / dataRate + double(lengthMs) / 1000;
  const std::string text = FlashDurationText(x);
  return x < 12288.0 / dataRate ? "~" + text : text;
}

std::string SdCardFileName(uint16_t number) {
  if (number == 0) return "none";
  return Format("LOG%.3d.QVL", int(number));
}

std::string FlashSessionText(int index, const TSessionData& session) {
  std::string text;
  if (index == 0) {
    text = "Current session:";
    if (session.runs.empty()) text += " (no data recorded yet)";
  } else {
    const std::string start =
        session.hasTime ? FormatDateTime(kSessionDateFormat, DeviceTimeToDateTime(session.base))
                        : std::string("(unknown start time)");
    text = Format("Session %d: %s", -index, start.c_str());
  }
  if (session.partial) text += " (partial)";
  return text;
}

uint32_t RunDeviceTime(const TSessionData& session, const TRunEntry& run) {
  return session.base + run.startTick / 1024;
}

std::string FlashRunText(int k, const TSessionData& session, const TRunEntry& run,
                         int32_t dataRate) {
  const std::string length = FlashLengthText(run.endTick - run.startTick, dataRate);
  const std::string sd = SdCardFileName(run.sdNumber);
  std::string text;
  if (session.hasTime) {
    const TDateTime start =
        DeviceTimeToDateTime(session.base) + double(run.startTick) / 1024 / kDeviceUnitsPerDay;
    text = Format("Run %d: %s, Length=%s, SDCard file name = %s", k,
                  FormatDateTime(kRunTimeFormat, start).c_str(), length.c_str(), sd.c_str());
  } else {
    text = Format("Run %d: + %s, Length=%s, SDCard file name = %s", k,
                  FlashOffsetText(run.startTick).c_str(), length.c_str(), sd.c_str());
  }
  if (run.partial) text += " (partial)";
  return text;
}

std::string FlashSelectionSizeText(int64_t pages, bool fastTransfer) {
  const double perPage = fastTransfer ? kFastPageSeconds : kSlowPageSeconds;
  const std::string size = FlashSizeText(uint64_t(std::max<int64_t>(pages, 0)) * 4096);
  const std::string time = FlashDurationText(double(RoundEven(double(pages) * perPage)));
  return Format("Size: %s    Download time: %s", size.c_str(), time.c_str()) + "\r\r";
}

std::string SavedDownloadText(const std::string* fileName) {
  if (!fileName) return "Not saved previously on this computer";
  const std::filesystem::path path(*fileName);
  return "Saved in \"" + path.filename().string() + "\"\rFolder '" + path.parent_path().string() +
         "'";
}

}  // namespace qvl
