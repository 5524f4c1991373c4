// qvl config new / config show: write the default configuration, and report what a
// configuration (or a log file's configuration) holds.
#include <cmath>
#include <ostream>

#include "cli/command.h"
#include "cli/config_source.h"
#include "cli/json.h"
#include "core/device/controller.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

TJson SensorJson(TSensor& sensor, int slot, int kind) {
  TJson j = TJson::Object();
  j["slot"] = slot;
  j["kind"] = kind;
  j["class"] = sensor.ClassName();
  j["text"] = Cp1252ToUtf8(sensor.Name);
  j["channel"] = sensor.Channel;
  j["tag"] = sensor.Tag;
  if (auto* p = dynamic_cast<TProportionalSensor*>(&sensor)) {
    j["raw_zero"] = p->RawZeroValue();
    j["raw_full"] = p->RawFull();
    j["full_scale"] = p->FullScale();
  }
  return j;
}

std::string Hz(int32_t periodUs) {
  if (periodUs <= 0) return "not logged";
  return Format("%g Hz (%d us)", 1e6 / periodUs, periodUs);
}

int ConfigNew(const TArgs& args, std::ostream& out, std::ostream&) {
  std::string file = args.Get("-o");
  if (file.empty() && !args.positional.empty()) file = args.positional[0];
  if (file.empty()) throw Exception("config new needs -o FILE.QVLcf");
  TController controller;
  controller.SaveToFile(file);
  out << "wrote " << file << "\n";
  return 0;
}

TJson ConfigJson(TController& c) {
  TJson j = TJson::Object();
  j["controller_type"] = c.ControllerType();
  j["config_block_hex"] = HexBytes(c.ConfigBlock().bytes.data(), kConfigBlockSize);
  j["log_control_hex"] = HexBytes(c.LogControl().bytes.data(), kLogControlSize);
  j["identity"] = c.HasConfigIdentity() ? TJson(HexBytes(c.ConfigIdentity().data(), 16)) : TJson();
  j["timestamp"] = c.ConfigTimestamp();
  TJson refs = TJson::Array();
  for (float v : c.ReferenceValues()) refs.Push(v);
  j["reference_values"] = refs;
  TJson sensors = TJson::Array();
  for (int slot = 0; slot < kFixedSlotCount; ++slot)
    if (TSensor* s = c.FixedSensor(slot)) sensors.Push(SensorJson(*s, slot, slot));
  j["sensors"] = sensors;
  TJson custom = TJson::Array();
  for (size_t i = 0; i < c.CustomSensors().size(); ++i)
    if (c.CustomSensors()[i]) custom.Push(SensorJson(*c.CustomSensors()[i], int(i), kSlotCustom));
  j["custom_sensors"] = custom;
  try {
    c.BuildLoggingGroups();
    auto groups = c.LoggingGroupBytes();
    j["logging_groups_hex"] = HexBytes(groups.data(), groups.size());
    j["channel_map_hex"] = HexBytes(c.ChannelMap().data(), kChannelMapSize);
  } catch (const Exception& e) {
    j["logging_groups_error"] = e.what();
  }
  return j;
}

void PrintConfig(TController& c, std::ostream& out) {
  const TConfigBlock& b = c.ConfigBlock();
  auto metres = [](float v) { return FormatFixed(v, 7, 4) + " m"; };
  out << "Controller type          " << c.ControllerType() << "\n";
  out << "Identity                 "
      << (c.HasConfigIdentity() ? HexBytes(c.ConfigIdentity().data(), 16) : "(none)") << "\n";
  out << "Timestamp                "
      << (c.ConfigTimestamp() != 0 ? FormatDateTime("yyyy-mm-dd hh:nn:ss", c.ConfigTimestamp())
                                   : "(none)")
      << "\n\n";
  out << "Wheels                   front " << int(b.U8(cfg::kFrontPulses)) << " pulses/turn, "
      << metres(b.F32(cfg::kFrontCircumference)) << " circumference; rear "
      << int(b.U8(cfg::kRearPulses)) << " pulses/turn, " << metres(b.F32(cfg::kRearCircumference))
      << "\n";
  out << "Travel                   front " << metres(b.F32(cfg::kFrontTravel)) << ", rear "
      << metres(b.F32(cfg::kRearTravel)) << "\n";
  out << "Potentiometer zero       front " << b.U16(cfg::kFrontZero) << ", rear "
      << b.U16(cfg::kRearZero) << " counts\n";
  out << "Electrical span          front " << metres(b.F32(cfg::kFrontElectricalSpan)) << ", rear "
      << metres(b.F32(cfg::kRearElectricalSpan)) << "\n";
  out << "Mechanical range         front " << metres(b.F32(cfg::kFrontMechanicalRange)) << ", rear "
      << metres(b.F32(cfg::kRearMechanicalRange)) << "\n";
  out << "Suspension rate          " << Hz(b.I32(cfg::kSuspensionPeriod)) << "\n";
  out << "Acceleration rate        " << Hz(b.I32(cfg::kAccelPeriod)) << "\n";
  out << "Inputs 21-23 rate        " << Hz(b.I32(cfg::kAuxPeriod)) << "\n";
  out << "Magnetometer rate        " << Hz(b.I32(cfg::kMagPeriod)) << "\n";
  out << "Data rate                " << b.I32(cfg::kDataRate) << " bytes/s\n";
  const TLogControlBlock& l = c.LogControl();
  out << "Logging control          mode " << int(l.U8(logctl::kMode)) << ", period "
      << l.U32(logctl::kPeriod) << " us\n\n";
  out << "Accelerometer calibration (X Y Z per position)\n";
  for (int p = 0; p < 6; ++p) {
    out << "  position " << p << "            ";
    for (int a = 0; a < 3; ++a)
      out << " " << FormatFixed(b.F32(cfg::kAccelCalibration + size_t(p * 3 + a) * 4), 7, 1);
    out << "\n";
  }
  out << "\nSensors\n";
  auto sensorLine = [&](const std::string& role, TSensor& s) {
    out << "  " << role << std::string(role.size() < 23 ? 23 - role.size() : 1, ' ')
        << Cp1252ToUtf8(s.Name) << " (" << s.ClassName() << ") on input " << s.Channel;
    if (auto* p = dynamic_cast<TProportionalSensor*>(&s))
      out << ", raw " << p->RawZeroValue() << " -> 0, raw " << p->RawFull() << " -> "
          << FormatFixed(p->FullScale(), 7, 4);
    if (s.Tag > 0) out << ", " << Hz(s.Tag);
    out << "\n";
  };
  for (int slot = 0; slot < kFixedSlotCount; ++slot)
    if (TSensor* s = c.FixedSensor(slot)) sensorLine(kSlotRoles[size_t(slot)], *s);
  for (size_t i = 0; i < c.CustomSensors().size(); ++i)
    if (c.CustomSensors()[i]) sensorLine("Custom " + std::to_string(i), *c.CustomSensors()[i]);
  out << "\nLogging groups\n";
  try {
    c.BuildLoggingGroups();
    for (int g = 0; g < c.LoggingGroupCount(); ++g) {
      const TLoggingGroup& group = c.LoggingGroups()[size_t(g)];
      out << "  group " << g << "                " << group.periodMs << " ms ("
          << Format("%g", group.periodMs ? 1000.0 / group.periodMs : 0.0) << " Hz), "
          << int(group.channelCount) << " channels, inputs";
      for (int input = 0; input < kChannelMapSize; ++input)
        if ((c.ChannelMap()[size_t(input)] & 0x1F) == g) out << " " << input;
      out << "\n";
    }
  } catch (const Exception& e) {
    out << "  " << e.what() << "\n";
  }
}

int ConfigShow(const TArgs& args, std::ostream& out, std::ostream&) {
  if (args.positional.size() != 1) throw Exception("config show needs one FILE");
  TController controller;
  LoadConfiguration(args.positional[0], controller);
  if (args.Has("--json"))
    out << ConfigJson(controller).Dump() << "\n";
  else
    PrintConfig(controller, out);
  return 0;
}

}  // namespace

QVL_CLI_COMMAND({
    .name = "config new",
    .usage = "-o FILE.QVLcf",
    .summary = "write the configuration of a new logger",
    .help = "Writes the default configuration (rates, wheels, travel, sensors) of a new logger\n"
            "as a configuration file.",
    .valueOptions = {"-o"},
    .flagOptions = {},
    .run = ConfigNew,
});

QVL_CLI_COMMAND({
    .name = "config show",
    .usage = "FILE [--json]",
    .summary = "show a configuration file's (or a log file's) configuration",
    .help = "Reads FILE and shows its configuration block, logging control block, identity,\n"
            "timestamp, reference values, sensors and the logging groups computed from them.\n"
            "--json prints one JSON object with the keys controller_type, config_block_hex,\n"
            "log_control_hex, identity, timestamp, reference_values, sensors, custom_sensors,\n"
            "logging_groups_hex and channel_map_hex (or logging_groups_error).",
    .valueOptions = {},
    .flagOptions = {"--json"},
    .run = ConfigShow,
});

}  // namespace qvl::cli
