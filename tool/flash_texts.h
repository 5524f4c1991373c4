// The texts of the flash download window: session and run nodes, lengths, durations, offsets,
// sizes and the description of a selection.
#pragma once

#include <cstdint>
#include <string>

#include "tool/flash_contents.h"

namespace qvl {

// The formats dates and times are shown with: a session's start (the default date-time format)
// and a run's start (the long time format).
inline constexpr const char kSessionDateFormat[] = "yyyy-mm-dd hh:nn:ss";
inline constexpr const char kRunTimeFormat[] = "hh:nn:ss";

// Seconds per page read: with the USB link adapter's fast transfer, and without.
constexpr double kFastPageSeconds = 0.212992;
constexpr double kSlowPageSeconds = 0.7822222222222223;

// Rounds half to even, as the window's arithmetic does.
int64_t RoundEven(double value);

// A duration in seconds: "%dsec.", "%dmin." or "%dm%ss" (above 240 s whole minutes, from two
// minutes on seconds in steps of 4).
std::string FlashDurationText(double seconds);
// A tick offset in ms: "%dsec.", "%dm%ss", "%dmin." or "%dh%sm".
std::string FlashOffsetText(uint32_t tickMs);
// A byte count: "%dBytes", "%dKB", "%dMB" or "%.1fMB".
std::string FlashSizeText(uint64_t bytes);
// A run of lengthMs at the configuration's data rate (bytes per second): the duration of
// 2048 / rate + length seconds, "~" in front when it is below 12288 / rate. Without a data rate
// (0 or negative) the duration is the length alone, without "~".
std::string FlashLengthText(uint32_t lengthMs, int32_t dataRate);
// "LOG%.3d.QVL", or "none" for 0.
std::string SdCardFileName(uint16_t number);

// The node text of the session at `index` of the window's list (0 = the current session); the
// session is in its list form (SessionForList).
std::string FlashSessionText(int index, const TSessionData& session);
// The node text of run k (from 1) of a session in its list form.
std::string FlashRunText(int k, const TSessionData& session, const TRunEntry& run,
                         int32_t dataRate);

// The device time at which a run starts (base + start tick / 1024), for a session in list form.
uint32_t RunDeviceTime(const TSessionData& session, const TRunEntry& run);

// "Size: %s    Download time: %s" and two carriage returns, for a number of pages.
std::string FlashSelectionSizeText(int64_t pages, bool fastTransfer);
// What follows it: "Not saved previously on this computer", or where the file was saved.
std::string SavedDownloadText(const std::string* fileName);

}  // namespace qvl
