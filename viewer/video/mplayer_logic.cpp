#include "viewer/video/mplayer_logic.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace qvl {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char a = text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 32) : text[i];
    const char b = prefix[i] >= 'a' && prefix[i] <= 'z' ? char(prefix[i] - 32) : prefix[i];
    if (a != b) return false;
  }
  return true;
}

std::string Quoted(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// The value of an "ANS_..." line: the trimmed text after the first "=", when the line begins
// with `prefix` and has an "=" after it.
bool AnswerValue(const std::string& line, const char* prefix, std::string& value) {
  if (!StartsWithNoCase(line, prefix)) return false;
  const size_t eq = line.find('=', std::strlen(prefix));
  if (eq == std::string::npos) return false;
  value = TrimText(line.substr(eq + 1));
  return true;
}

// A whole number of at most `maxDigits` digits in [16, 4095].
bool VideoDimension(const std::string& text, int& out) {
  if (text.empty() || text.size() > 5) return false;
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (v < 16 || v > 4095) return false;
  out = v;
  return true;
}

}  // namespace

std::string MediaArgument(const std::string& path) {
  return !path.empty() && path[0] == '-' ? "./" + path : path;
}

TCommandLine BuildCommandLine(const TCommandLineOptions& o) {
  TCommandLine c;
  c.program = o.playerProgram;
  c.text = Quoted(o.playerProgram);
  auto add = [&c](std::initializer_list<std::string> args) {
    for (const std::string& a : args) {
      c.arguments.push_back(a);
      c.text += " " + Quoted(a);
    }
  };
  // -nolirc: the remote-control support otherwise announces "Failed to open LIRC support",
  // which would read as a failed open.
  add({"-vo", "xv,x11,", "-quiet", "-slave", "-identify", "-nolirc"});
  add({"-wid", std::to_string(o.windowId)});
  add({"-colorkey", "0x101010"});
  add({"-nokeepaspect", "-framedrop", "-autosync", "100"});
  // Without the video extension the plain X11 output scales only when asked to.
  add({"-zoom"});
  if (!o.sound) add({"-nosound"});
  if (!o.fontPath.empty()) add({"-font", o.fontPath});
  if (o.reIndex) add({"-idx"});
  switch (o.audioOut) {
    case TMPlayerAudioOut::maoNoSound:
      add({"-nosound"});
      break;
    case TMPlayerAudioOut::maoNull:
      add({"-ao", "null"});
      break;
    // The outputs are tried in turn, the silent one last, so a machine without sound plays
    // the picture at once. (The player's own list of the rest would also ask the network sound
    // server of the X display, which takes 5 s to give up when there is none.)
    case TMPlayerAudioOut::maoWin32:
      add({"-ao", "pulse,alsa,sdl,oss,null"});
      break;
    case TMPlayerAudioOut::maoDsSound:
      add({"-ao", "alsa,pulse,sdl,oss,null"});
      break;
  }
  switch (o.aspect) {
    case TMPlayerAspect::mpaAutoDetect:
      break;
    case TMPlayerAspect::mpa40_30:
      add({"-aspect", "4:3"});
      break;
    case TMPlayerAspect::mpa160_90:
      add({"-aspect", "16:9"});
      break;
    case TMPlayerAspect::mpa235_10:
      add({"-aspect", "2.35:1"});
      break;
  }
  if (!o.params.empty()) {
    size_t i = 0;
    while (i < o.params.size()) {
      while (i < o.params.size() && IsBlank(o.params[i])) ++i;
      size_t j = i;
      while (j < o.params.size() && !IsBlank(o.params[j])) ++j;
      if (j > i) c.arguments.push_back(o.params.substr(i, j - i));
      i = j;
    }
    c.text += " " + o.params;
  }
  add({MediaArgument(o.mediaAddr)});
  return c;
}

std::string FormatPlayerNumber(double value) {
  if (!std::isfinite(value)) value = 0;
  const double scaled = std::round(std::fabs(value) * 100);
  const unsigned long long n =
      scaled >= 1e18 ? 1000000000000000000ULL : static_cast<unsigned long long>(scaled);
  std::string digits = std::to_string(n);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  digits.insert(digits.size() - 2, ".");
  return (value < 0 && n != 0 ? "-" : "+") + digits;
}

bool ParsePlayerNumber(const std::string& text, double& value) {
  const std::string t = TrimText(text);
  if (t.empty()) return false;
  const char* begin = t.data();
  if (*begin == '+') ++begin;  // a leading plus reads as the number
  double v = 0;
  const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return false;
  const double r = std::round(v * 100) / 100;
  if (!std::isfinite(r)) return false;
  value = r;
  return true;
}

// --- property list ---

void TMediaPropList::Clear() {
  items_.clear();
  if (onChange) onChange(-1);
}

void TMediaPropList::Set(const std::string& name, const std::string& value) {
  const int i = IndexOf(name);
  if (i >= 0) {
    if (items_[size_t(i)].value == value) return;
    items_[size_t(i)].value = value;
    if (onChange) onChange(i);
    return;
  }
  if (items_.size() >= kMaxProps) return;
  items_.push_back({name, value});
  if (onChange) onChange(int(items_.size()) - 1);
}

int TMediaPropList::IndexOf(const std::string& name) const {
  const std::string wanted = TrimText(name);
  for (size_t i = 0; i < items_.size(); ++i)
    if (TrimText(items_[i].name) == wanted) return int(i);
  return -1;
}

std::string TMediaPropList::Value(const std::string& name) const {
  const int i = IndexOf(name);
  return i < 0 ? std::string() : items_[size_t(i)].value;
}

// --- output lines ---

void TAnswerLineBuffer::Append(const char* data, size_t size) {
  const void* nul = std::memchr(data, 0, size);
  if (nul) size = size_t(static_cast<const char*>(nul) - data);
  text_.append(data, size);
  const size_t lastBreak = text_.rfind('\n');
  const size_t tail = lastBreak == std::string::npos ? text_.size() : text_.size() - lastBreak - 1;
  if (tail > kMaxLine) text_.erase(text_.size() - tail);
}

std::vector<std::string> TAnswerLineBuffer::TakeLines() {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl = text_.find('\n'); nl != std::string::npos; nl = text_.find('\n', start)) {
    lines.push_back(text_.substr(start, nl - start));
    start = nl + 1;
  }
  text_.erase(0, start);
  return lines;
}

// --- answer lines ---

TAnswerEvent TAnswerParser::Dispatch(const std::string& line) {
  if (state_.failed) return TAnswerEvent::aeNone;
  std::string v;
  double x = 0;
  if (AnswerValue(line, "ANS_TIME_POSITION", v)) {
    if (!ParsePlayerNumber(v, x)) return TAnswerEvent::aeNone;
    state_.timePos = x;
    return TAnswerEvent::aeTimePosition;
  }
  if (AnswerValue(line, "ANS_PERCENT_POSITION", v)) {
    if (!ParsePlayerNumber(v, x)) return TAnswerEvent::aeNone;
    state_.percentPos = int(std::clamp(std::round(x), -1e9, 1e9));
    return TAnswerEvent::aePercentPosition;
  }
  if (AnswerValue(line, "ANS_MUTE", v) && !v.empty()) {
    std::string upper = v;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = char(c - 32);
    state_.muted = upper != "NO";
    return TAnswerEvent::aeMute;
  }
  if (AnswerValue(line, "ANS_SPEED", v)) {
    if (!ParsePlayerNumber(v, x)) return TAnswerEvent::aeNone;
    state_.speed = x;
    state_.speedChanged = x != 1;
    return TAnswerEvent::aeSpeed;
  }
  if (AnswerValue(line, "ANS_FRAMEDROPPING", v) && v.size() == 1 && v[0] >= '0' && v[0] <= '2') {
    state_.frameDrop = v[0] == '0'   ? TFrameDrop::fdNone
                       : v[0] == '1' ? TFrameDrop::fdSoft
                                     : TFrameDrop::fdHard;
    return TAnswerEvent::aeFrameDrop;
  }
  if (AnswerValue(line, "ANS_VOLUME", v)) {
    if (!ParsePlayerNumber(v, x)) return TAnswerEvent::aeNone;
    state_.volume = x;
    return TAnswerEvent::aeVolume;
  }
  if (StartsWithNoCase(line, "STARTING PLAYBACK") && line.size() > 16)
    return TAnswerEvent::aeStartPlay;
  if (AnswerValue(line, "ANS_AUDIO_DELAY", v)) {
    if (!ParsePlayerNumber(v, x)) return TAnswerEvent::aeNone;
    state_.audioDelay = x;
    return TAnswerEvent::aeAudioDelay;
  }
  // The start time: the text after "=" (a line end the player adds is trimmed away).
  if (line.rfind("ID_START_TIME=", 0) == 0 && ParsePlayerNumber(line.substr(14), x))
    state_.startTime = x;
  ParseProperty(line);
  if (TrimText(line).rfind("Failed to open", 0) == 0) {
    state_.failed = true;
    return TAnswerEvent::aeFailedOpen;
  }
  return TAnswerEvent::aeNone;
}

void TAnswerParser::ParseProperty(const std::string& line) {
  if (line.rfind("VO: [", 0) == 0) {
    const size_t arrow = line.find(" => ");
    if (arrow == std::string::npos) return;
    const size_t from = arrow + 4;
    const size_t space = line.find(' ', from);
    const std::string size = line.substr(from, space == std::string::npos ? space : space - from);
    const size_t x = size.find('x');
    if (x == std::string::npos) return;
    int w = 0, h = 0;
    if (!VideoDimension(size.substr(0, x), w) || !VideoDimension(size.substr(x + 1, 5), h)) return;
    props_.Set(kPropVideoWidth, std::to_string(w));
    props_.Set(kPropVideoHeight, std::to_string(h));
    return;
  }
  const std::string t = TrimText(line);
  if (t.size() <= 5 || t.rfind("ID_", 0) != 0) return;
  const size_t eq = t.find('=');
  if (eq == std::string::npos || eq < 4 || eq + 1 >= t.size()) return;
  const std::string name = TrimText(TrimText(t.substr(0, eq)).substr(3));
  const std::string value = TrimText(t.substr(eq + 1));
  if (!name.empty() && !value.empty()) props_.Set(name, value);
}

}  // namespace qvl
