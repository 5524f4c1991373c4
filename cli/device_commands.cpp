// qvl identify / status / read-config / burn / set-clock / watch: talking to a logger over the
// link chosen with --link or --port.
#include <cmath>
#include <ostream>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/logger_session.h"
#include "core/device/controller.h"
#include "core/device/device_time.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

std::string DeviceTimeText(uint32_t units) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss", DeviceTimeToDateTime(units));
}

// The first unit a parameter offers (0 when it offers none).
int FirstUnit(int code) {
  const uint32_t units = kEcuParams[size_t(code)].units;
  for (int u = 0; u < kUnitCount; ++u)
    if (units & (1u << u)) return u;
  return 0;
}

std::string SdFileName(uint16_t number) {
  if (number == 0 || number >= 256) return "";
  return Format("LOG%.3d.QVL", number);
}

TJson IdentifyJson(TController& c) {
  TJson j = TJson::Object();
  j["id"] = Cp1252ToUtf8(c.IdentificationString());
  j["version"] = c.Version();
  j["flash_size"] = c.FlashSize();
  j["sector_size"] = c.EraseSectorSize();
  j["session_start"] = c.SessionStartAddress();
  j["session_sector"] = c.SessionSector();
  j["session_time"] = c.SessionTime();
  j["marker_position"] = c.MarkerPosition();
  j["current_session_address"] = (long long)c.CurrentSessionStartAddress();
  return j;
}

int Identify(const TArgs& args, std::ostream& out, std::ostream&) {
  TLoggerSession session;
  session.Connect();
  TController& c = session.Controller();
  if (args.Has("--json")) {
    out << IdentifyJson(c).Dump() << "\n";
    return 0;
  }
  out << "Identification:   " << Cp1252ToUtf8(c.IdentificationString()) << "\n"
      << "Version:          " << c.Version() << "\n"
      << "Flash size:       " << c.FlashSize() << " bytes\n"
      << "Erase sector:     " << c.EraseSectorSize() << " bytes\n"
      << "Session start:    " << Format("0x%08X", c.SessionStartAddress()) << "\n"
      << "Session sector:   " << c.SessionSector();
  if (c.SessionSector() == -1) out << " (overwritten)";
  if (c.SessionSector() == -2) out << " (unknown)";
  out << "\n"
      << "Session time:     " << c.SessionTime();
  if (c.SessionTime()) out << " (" << DeviceTimeText(c.SessionTime()) << ")";
  out << "\n"
      << "Marker position:  " << c.MarkerPosition() << "\n";
  return 0;
}

TJson StatusJson(TController& c) {
  const auto& b = c.RealtimeBlock();
  TJson rt = TJson::Object();
  rt["front_counter"] = b[0];
  rt["rear_counter"] = b[1];
  rt["front_pulse_time"] = GetU16(&b[2]);
  rt["rear_pulse_time"] = GetU16(&b[4]);
  rt["timer"] = GetU16(&b[6]);
  rt["status"] = b[10];
  rt["logging_state"] = LoggingStateName(b[10] & 0x0F);
  rt["flash_full"] = bool(b[10] & 0x10);
  rt["clock_set"] = bool(b[10] & 0x20);
  rt["sd_present"] = bool(b[10] & 0x80);
  rt["flash_write_address"] = GetU32(&b[12]);
  rt["sd_buffer_count"] = GetU16(&b[16]);
  rt["flash_buffer_count"] = GetU16(&b[18]);
  rt["sync_state"] = GetU16(&b[20]);
  rt["log_buffer"] = GetU16(&b[22]);
  rt["sd_log_buffer"] = GetU16(&b[24]);
  rt["log_number"] = GetU16(&b[26]);
  rt["clock"] = GetU32(&b[30]);
  rt["clock_text"] = DeviceTimeText(GetU32(&b[30]));
  rt["run_start"] = GetU32(&b[34]);
  rt["sd_file_number"] = GetU16(&b[38]);
  rt["sd_file"] = SdFileName(GetU16(&b[38]));
  TJson j = TJson::Object();
  j["realtime"] = rt;
  TJson raw = TJson::Array();
  for (int i = 0; i < c.AnalogInputCount(); ++i) raw.Push(c.RawValue(i));
  j["analog_raw"] = raw;
  TJson params = TJson::Array();
  for (int code = 1; code < kParamCount; ++code) {
    if (code == kParamCustom && c.CustomSensors().empty()) continue;
    const int unit = FirstUnit(code);
    TJson p = TJson::Object();
    p["code"] = code;
    p["name"] = Cp1252ToUtf8(kEcuParams[size_t(code)].name);
    p["unit"] = unit;
    p["text"] = Cp1252ToUtf8(c.GetValueText(code, unit));
    params.Push(p);
  }
  j["parameters"] = params;
  return j;
}

int Status(const TArgs& args, std::ostream& out, std::ostream&) {
  TLoggerSession session;
  session.Connect();
  if (!session.WaitForValues(1, 3000)) throw Exception("no real-time values from the logger");
  TController& c = session.Controller();
  TJson j = StatusJson(c);
  if (args.Has("--json")) {
    out << j.Dump() << "\n";
    return 0;
  }
  const auto& b = c.RealtimeBlock();
  out << "Logging state:    " << LoggingStateName(b[10] & 0x0F) << "\n"
      << "Status:           " << Format("0x%02X", b[10]) << ((b[10] & 0x10) ? " flash-full" : "")
      << ((b[10] & 0x20) ? " clock-set" : "") << ((b[10] & 0x80) ? " sd-card" : "") << "\n"
      << "Logger clock:     " << DeviceTimeText(GetU32(&b[30])) << "\n"
      << "Run time:         " << int64_t(GetU32(&b[30])) - int64_t(GetU32(&b[34])) << " units\n"
      << "Flash write addr: " << Format("0x%08X", GetU32(&b[12])) << "\n"
      << "SD log file:      " << SdFileName(GetU16(&b[38])) << "\n"
      << "Wheel counters:   " << int(b[0]) << " / " << int(b[1]) << "\n"
      << "Analog raw:      ";
  for (int i = 0; i < c.AnalogInputCount(); ++i) out << " " << c.RawValue(i);
  out << "\n";
  for (int code = 1; code < kParamCount; ++code) {
    if (code == kParamCustom && c.CustomSensors().empty()) continue;
    std::string name = Cp1252ToUtf8(kEcuParams[size_t(code)].name);
    out << name << ":" << std::string(name.size() < 22 ? 22 - name.size() : 1, ' ')
        << Cp1252ToUtf8(c.GetValueText(code, FirstUnit(code))) << "\n";
  }
  return 0;
}

int ReadConfig(const TArgs& args, std::ostream& out, std::ostream&) {
  std::string file = args.Get("-o");
  if (file.empty() && !args.positional.empty()) file = args.positional[0];
  if (file.empty()) throw Exception("read-config needs -o FILE.QVLcf");
  TLoggerSession session;
  session.Connect();
  TController& c = session.Controller();
  // The configuration stream exactly as the logger keeps it.
  c.PausePolling();
  std::vector<uint8_t> bytes;
  try {
    c.Transact(0x32, nullptr, 0, 0);
    uint8_t lengthBytes[2];
    session.Channel().Read(lengthBytes, 2);
    bytes.resize(GetU16(lengthBytes));
    if (!bytes.empty()) session.Channel().Read(bytes.data(), int(bytes.size()));
  } catch (...) {
    c.ResumePolling();
    throw;
  }
  c.ResumePolling();
  TFileStream f(file, TFileStream::Create);
  f.WriteBuffer(bytes.data(), bytes.size());
  f.Close();
  out << "wrote " << file << " (" << bytes.size() << " bytes)\n";
  return 0;
}

int Burn(const TArgs& args, std::ostream& out, std::ostream&) {
  if (args.positional.empty()) throw Exception("burn needs FILE.QVLcf");
  const std::string file = args.positional[0];
  TLoggerSession session;
  session.Connect();
  TController& c = session.Controller();
  // Wait for one poll so that the flash write address is known for the session marker.
  session.WaitForValues(1, 3000);
  c.LoadFromFile(file);
  c.Burn();
  out << "burned " << file << " (" << c.ConfigImage().Bytes().size() << " bytes)\n"
      << "session sector " << c.SessionSector() << ", marker position " << c.MarkerPosition()
      << "\n";
  return 0;
}

int SetClock(const TArgs&, std::ostream& out, std::ostream&) {
  TLoggerSession session;
  session.Connect();
  TController& c = session.Controller();
  c.PausePolling();
  const uint32_t now = DateTimeToDeviceTime(c.PcNow());
  try {
    TMemoryStream& buffer = c.CommandBuffer();
    buffer.SetPosition(0);
    buffer.WriteU8(0x01);
    buffer.WriteU8(0x50);
    buffer.WriteU32(now);
    c.SendCommand(0x3C, 0);
  } catch (...) {
    c.ResumePolling();
    throw;
  }
  c.ResumePolling();
  out << "set the logger clock to " << DeviceTimeText(now) << " (" << now << ")\n";
  if (session.WaitForValues(1, 3000))
    out << "logger clock now " << DeviceTimeText(c.LoggerClock()) << "\n";
  return 0;
}

int Watch(const TArgs& args, std::ostream& out, std::ostream& err) {
  const long long count = args.GetInt("--count", 0);
  TLoggerSession session;
  session.Connect();
  TController& c = session.Controller();
  size_t errorsShown = 0;
  for (long long n = 0; count <= 0 || n < count; ++n) {
    if (!session.WaitForValues(1, 5000)) {
      if (!c.Connected()) {
        err << "qvl: connection lost, waiting for the logger\n";
        session.Idle(0);
        if (!session.WaitForValues(1, 10000)) throw Exception("the logger did not come back");
      } else {
        throw Exception("no real-time values from the logger");
      }
    }
    for (; errorsShown < session.Errors().size(); ++errorsShown)
      err << "qvl: " << session.Errors()[errorsShown] << "\n";
    const auto& b = c.RealtimeBlock();
    out << DeviceTimeText(GetU32(&b[30])) << "  " << LoggingStateName(b[10] & 0x0F) << "  front "
        << c.GetValueText(kParamFrontSpeed, kUnitKmh) << " "
        << c.GetValueText(kParamFrontTravel, kUnitMm) << "  rear "
        << c.GetValueText(kParamRearSpeed, kUnitKmh) << " "
        << c.GetValueText(kParamRearTravel, kUnitMm) << "  battery "
        << c.GetValueText(kParamBatteryVolt, kUnitVolt1) << "\n";
    out.flush();
  }
  return 0;
}

QVL_CLI_COMMAND({
    .name = "identify",
    .usage = "[--json]",
    .summary = "connect to the logger and show its identification and flash facts",
    .help = "Waits for the logger on the chosen link, runs the connect sequence and shows the\n"
            "identification string, version, flash size, erase sector size, session start\n"
            "address, session sector, session time and marker position.",
    .valueOptions = {},
    .flagOptions = {"--json"},
    .run = Identify,
});

QVL_CLI_COMMAND({
    .name = "status",
    .usage = "[--json]",
    .summary = "connect, poll once and show the real-time block, raw inputs and parameters",
    .help = "After connecting, one real-time poll: the decoded real-time block, the raw analog\n"
            "values and every parameter in its first unit.",
    .valueOptions = {},
    .flagOptions = {"--json"},
    .run = Status,
});

QVL_CLI_COMMAND({
    .name = "read-config",
    .usage = "-o FILE.QVLcf",
    .summary = "save the logger's configuration as a configuration file",
    .help = "",
    .valueOptions = {"-o"},
    .flagOptions = {},
    .run = ReadConfig,
});

QVL_CLI_COMMAND({
    .name = "burn",
    .usage = "FILE.QVLcf",
    .summary = "write a configuration file into the logger (and set a session marker)",
    .help = "",
    .valueOptions = {},
    .flagOptions = {},
    .run = Burn,
});

QVL_CLI_COMMAND({
    .name = "set-clock",
    .usage = "",
    .summary = "set the logger's clock to this computer's time",
    .help = "",
    .valueOptions = {},
    .flagOptions = {},
    .run = SetClock,
});

QVL_CLI_COMMAND({
    .name = "watch",
    .usage = "[--count N]",
    .summary = "poll the logger and print one line per real-time update",
    .help = "",
    .valueOptions = {"--count"},
    .flagOptions = {},
    .run = Watch,
});

}  // namespace
}  // namespace qvl::cli
