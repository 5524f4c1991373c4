// qvl firmware: program the logger with an Intel HEX image through its bootloader, or check
// what a HEX file holds.
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/logger_session.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"
#include "tool/firmware_programmer.h"
#include "tool/hex_code_rows.h"
#include "tool/link_factory.h"
#include "tool/tool_settings.h"

namespace qvl::cli {
namespace {

int Check(const std::string& file, bool json, std::ostream& out) {
  Tp33CodeRows rows;
  rows.LoadFromFile(file);
  int first = -1, last = -1;
  for (const TCodeRow& r : rows.Rows) {
    if (first < 0 || r.number < first) first = r.number;
    if (r.number > last) last = r.number;
  }
  if (json) {
    TJson j = TJson::Object();
    j["rows"] = rows.Rows.size();
    j["first_row"] = first;
    j["last_row"] = last;
    TJson ranges = TJson::Array();
    for (const TExtendedRange& r : rows.Ranges) {
      TJson e = TJson::Object();
      e["word_base"] = r.wordBase;
      e["first_row"] = r.firstRow;
      e["last_row"] = r.lastRow;
      ranges.Push(e);
    }
    j["extended_ranges"] = ranges;
    out << j.Dump() << "\n";
    return 0;
  }
  out << "Rows:        " << rows.Rows.size() << "\n"
      << "First row:   " << first << "\n"
      << "Last row:    " << last << "\n";
  for (const TExtendedRange& r : rows.Ranges) {
    out << "Extended address " << Format("0x%08X", r.wordBase) << " words: ";
    if (r.firstRow < 0)
      out << "no data\n";
    else
      out << "rows " << r.firstRow << " to " << r.lastRow << "\n";
  }
  return 0;
}

// The log text as lines: the window's memo starts a new line at each carriage return.
class TLogLines {
 public:
  void Add(const std::string& text) {
    for (char c : text) {
      if (c == '\r') {
        lines_.push_back(current_);
        current_.clear();
      } else {
        current_ += c;
      }
    }
  }
  std::vector<std::string> All() const {
    auto all = lines_;
    if (!current_.empty()) all.push_back(current_);
    return all;
  }
  const std::string& Current() const { return current_; }

 private:
  std::vector<std::string> lines_;
  std::string current_;
};

int Program(const std::string& file, bool json, std::ostream& out, std::ostream& err) {
  // The bootloader is talked to directly: no polling thread, which would take the
  // bootloader's answer for a logger that is not a QVL.
  TCommChannelPtr link = CreateLinkChannel(ChosenLink());
  OpenLoggerLink(*link);
  if (!link->IsOpen()) throw Exception(link->GetLastErrorText());
  link->SetTimeOut(kProgrammingTimeOut);
  TFirmwareProgrammer programmer(link);
  // Who is there first, as the window's identification timer would have found out: a logger
  // left in its bootloader by a failed run is programmed without switching it out again.
  programmer.Identify();
  TLogLines log;
  // The bar goes to a terminal only; it is finished at 100 % when the phase's next log text
  // arrives.
  const bool bar = !json && ::isatty(2);
  int lastPercent = -1;
  auto finishBar = [&] {
    if (lastPercent < 0) return;
    err << "\r[" << std::string(40, '#') << "] 100%\n" << std::flush;
    lastPercent = -1;
  };
  bool ok = programmer.Program(
      file,
      [&](const std::string& text) {
        log.Add(text);
        if (json) return;
        finishBar();
        for (char c : text) out << (c == '\r' ? '\n' : c);
        out << std::flush;
      },
      [&](int percent) {
        if (!bar || percent == lastPercent) return;
        lastPercent = percent;
        int filled = percent * 40 / 100;
        err << "\r[" << std::string(size_t(filled), '#') << std::string(size_t(40 - filled), '.')
            << "] " << percent << "%" << std::flush;
      });
  finishBar();
  auto lines = log.All();
  if (json) {
    TJson j = TJson::Object();
    j["ok"] = ok;
    j["file"] = file;
    TJson l = TJson::Array();
    for (const auto& line : lines) l.Push(line);
    j["log"] = l;
    out << j.Dump() << "\n";
  } else if (!log.Current().empty()) {
    out << "\n";
  }
  return ok ? 0 : 1;
}

// The file to program: the one given, else the one chosen last (as the firmware window opens
// with it). An existing file given is remembered in the tool's settings as its full path. A
// settings file that cannot be read or written is reported but does not stop the programming;
// one that cannot be read is left as it is.
std::string ChosenFirmwareFile(const TArgs& args, std::ostream& err) {
  const std::string settingsFile = ToolSettingsFileName();
  TIniFile settings;
  if (args.positional.empty()) {
    LoadSettingsFile(settings, settingsFile);
    std::string stored = StoredFirmwareFileName(settings);
    if (stored.empty()) throw Exception("firmware needs a FILE.hex (none was programmed before)");
    return stored;
  }
  std::error_code error;
  std::filesystem::path file = std::filesystem::absolute(args.positional[0], error);
  if (error || !std::filesystem::is_regular_file(file, error)) return args.positional[0];
  const std::string chosen = file.lexically_normal().string();
  try {
    LoadSettingsFile(settings, settingsFile);
    StoreFirmwareFileName(settings, chosen);
    SaveSettingsFile(settings, settingsFile);
  } catch (const std::exception& e) {
    err << "qvl: warning: " << e.what() << "\n";
  }
  return chosen;
}

int Firmware(const TArgs& args, std::ostream& out, std::ostream& err) {
  if (args.positional.size() > 1) throw Exception("firmware takes one FILE.hex");
  if (args.Has("--check")) {
    if (args.positional.empty()) throw Exception("firmware --check needs a FILE.hex");
    return Check(args.positional[0], args.Has("--json"), out);
  }
  return Program(ChosenFirmwareFile(args, err), args.Has("--json"), out, err);
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "firmware",
    .usage = "[--check] [FILE.hex] [--json]",
    .summary = "program the logger's firmware from an Intel HEX file",
    .help = "Switches the logger on the chosen link into its bootloader, erases, writes and\n"
            "verifies every row of FILE.hex, and switches back to the application, showing the\n"
            "log lines and a progress bar. Exit status 0 only after a verified write.\n"
            "FILE.hex is remembered in the tool's settings (section \"Flash\", key \"File\");\n"
            "without FILE.hex the file programmed last is used again.\n"
            "--check only parses FILE.hex and prints its rows (count, first and last row\n"
            "numbers, extended-address ranges); a malformed line fails with \"Line N\".",
    .valueOptions = {},
    .flagOptions = {"--check", "--json"},
    .run = Firmware,
});

}  // namespace qvl::cli
