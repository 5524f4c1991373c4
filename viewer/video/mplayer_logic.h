// The media player's slave-mode conversation without a window or a process: the command line
// that starts the player, the number format of the slave commands, the answer lines split out of
// the player's output and turned into playback state and media properties.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/util/ini_file.h"  // TrimText

namespace qvl {

enum class TMPlayerAspect { mpaAutoDetect, mpa40_30, mpa160_90, mpa235_10 };
// maoWin32 and maoDsSound are the desktop's two sound systems (PulseAudio and ALSA here).
enum class TMPlayerAudioOut { maoNoSound, maoNull, maoWin32, maoDsSound };
enum class TFrameDrop { fdNone, fdSoft, fdHard };

// The colour of the control's background, also the player's colour key.
constexpr uint32_t kPlayerColorKey = 0x101010;

// What the command line is made of.
struct TCommandLineOptions {
  std::string playerProgram = "mplayer";  // path of the player, or its name to look up on PATH
  uint64_t windowId = 0;                  // the window the player draws into
  bool sound = true;
  std::string fontPath;  // empty: no font option
  bool reIndex = false;
  TMPlayerAudioOut audioOut = TMPlayerAudioOut::maoWin32;
  TMPlayerAspect aspect = TMPlayerAspect::mpaAutoDetect;
  std::string params;     // extra options, split at blanks
  std::string mediaAddr;  // the video file
};

struct TCommandLine {
  std::string program;
  std::vector<std::string> arguments;  // one element per argument, as the player receives them
  std::string text;                    // the whole line as logged, paths with a blank quoted
};

TCommandLine BuildCommandLine(const TCommandLineOptions& options);

// The video file as an argument the player cannot take for an option: a name beginning with "-"
// gets "./" in front of it.
std::string MediaArgument(const std::string& path);

// A number for a slave command: sign, at least three digits of round(|x| * 100), "." before the
// last two ("+1.50", "-0.05", "+0.00"). A value that is not finite is written as zero.
std::string FormatPlayerNumber(double value);

// An answer number: the trimmed text read with "." as decimal separator whatever the locale,
// rounded to two decimals. False (and `value` untouched) when it does not read as a finite number.
bool ParsePlayerNumber(const std::string& text, double& value);

// A media property reported by the player.
struct TMediaProp {
  std::string name;
  std::string value;
};

// The media properties in the order first reported. The change callback gets the changed item's
// index, or -1 after a clear. At most kMaxProps names are kept (a player that reports more does
// not grow the list without bound).
class TMediaPropList {
 public:
  static constexpr size_t kMaxProps = 512;

  std::function<void(int)> onChange;

  void Clear();
  // Sets a property: an existing name changes its value (callback only when it differs), a new
  // name is appended.
  void Set(const std::string& name, const std::string& value);
  // Index of the first property whose trimmed name equals `name`, or -1.
  int IndexOf(const std::string& name) const;
  // The value of a property, empty when absent.
  std::string Value(const std::string& name) const;
  const std::vector<TMediaProp>& Items() const { return items_; }
  int Count() const { return int(items_.size()); }

 private:
  std::vector<TMediaProp> items_;
};

// The player's output cut into lines: chunks are appended (each up to its first NUL byte) and
// every complete line is taken out without its "\n" (a "\r" before it stays). A line that grows
// past kMaxLine bytes without an end is dropped, so a player that writes without line breaks
// cannot fill the memory.
class TAnswerLineBuffer {
 public:
  static constexpr size_t kMaxLine = 64 * 1024;

  void Append(const char* data, size_t size);
  std::vector<std::string> TakeLines();
  void Clear() { text_.clear(); }

 private:
  std::string text_;
};

// The playback state the answer lines change; reset on every open and at the end of playback.
struct TPlaybackState {
  double timePos = 0;
  int percentPos = 0;
  double startTime = 0;
  double speed = 1;
  bool speedChanged = false;
  double volume = 10;
  double audioDelay = 0;
  bool muted = false;
  TFrameDrop frameDrop = TFrameDrop::fdSoft;
  int osdLevel = 1;
  bool failed = false;
};

// What one answer line did.
enum class TAnswerEvent {
  aeNone,
  aeTimePosition,
  aePercentPosition,
  aeMute,
  aeSpeed,
  aeFrameDrop,
  aeVolume,
  aeStartPlay,
  aeAudioDelay,
  aeFailedOpen,  // the line told that the file cannot be opened
};

// Property names the player's answers fill in.
inline constexpr const char* kPropVideoWidth = "VIDEONATIVE_WIDTH";
inline constexpr const char* kPropVideoHeight = "VIDEONATIVE_HEIGHT";
inline constexpr const char* kPropLength = "LENGTH";
inline constexpr const char* kPropVideoFps = "VIDEO_FPS";

// Dispatches the player's answer lines into the playback state and the property list. Once a
// line has said that the file cannot be opened, nothing changes until the next Reset.
class TAnswerParser {
 public:
  explicit TAnswerParser(TMediaPropList& props) : props_(props) {}

  void Reset() { state_ = TPlaybackState{}; }
  TAnswerEvent Dispatch(const std::string& line);
  const TPlaybackState& State() const { return state_; }
  TPlaybackState& MutableState() { return state_; }

 private:
  void ParseProperty(const std::string& line);

  TMediaPropList& props_;
  TPlaybackState state_;
};

}  // namespace qvl
