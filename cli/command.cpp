#include "cli/command.h"

#include <algorithm>
#include <sstream>

#include "core/util/exceptions.h"
#include "core/util/number_format.h"

namespace qvl::cli {
namespace {

std::string& LinkOption() {
  static std::string link;
  return link;
}

// Takes the global options --link LINK and --port PATH (also written --link=LINK) out of the
// arguments, wherever they stand.
std::vector<std::string> TakeGlobalOptions(const std::vector<std::string>& arguments) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    bool taken = false;
    for (const std::string option : {"--link", "--port"}) {
      const std::string prefix = option == "--port" ? "serial:" : "";
      if (a == option) {
        if (i + 1 >= arguments.size()) throw Exception("option " + option + " needs a value");
        LinkOption() = prefix + arguments[++i];
        taken = true;
      } else if (a.rfind(option + "=", 0) == 0) {
        LinkOption() = prefix + a.substr(option.size() + 1);
        taken = true;
      }
      if (taken) break;
    }
    if (!taken) rest.push_back(a);
  }
  return rest;
}

std::vector<TCommand>& Table() {
  static std::vector<TCommand> table;
  return table;
}

std::vector<std::string> Words(const std::string& name) {
  std::vector<std::string> words;
  std::istringstream in(name);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

void PrintOverview(std::ostream& out, const std::string& group) {
  out << "usage: qvl [--link LINK | --port PATH] COMMAND [OPTIONS]\n"
         "       qvl COMMAND --help\n\n"
         "Links: serial:PATH (a serial port or the simulator's pseudo-terminal; --port PATH\n"
         "       is the same), sim (the simulated logger, in-process), hid (the USB link\n"
         "       adapter), tevraw (the wireless link adapter), sim-hid and sim-tevraw (the\n"
         "       simulated logger behind a simulated USB link or wireless adapter), sim-season\n"
         "       (the simulated logger with a season of rides in its flash)\n\n"
         "Commands:\n";
  auto commands = Table();
  std::sort(commands.begin(), commands.end(),
            [](const TCommand& a, const TCommand& b) { return a.name < b.name; });
  for (const TCommand& c : commands) {
    if (!group.empty() && Words(c.name)[0] != group) continue;
    std::string head = "  " + c.name + (c.usage.empty() ? "" : " " + c.usage);
    out << head;
    if (head.size() < 40)
      out << std::string(40 - head.size(), ' ');
    else
      out << "\n" << std::string(40, ' ');
    out << c.summary << "\n";
  }
}

}  // namespace

std::string TArgs::Get(const std::string& option, const std::string& fallback) const {
  auto it = options.find(option);
  return it == options.end() ? fallback : it->second;
}

long long TArgs::GetInt(const std::string& option, long long fallback) const {
  auto it = options.find(option);
  if (it == options.end()) return fallback;
  long long v;
  if (!TryParseInt(it->second, v)) throw Exception(option + " expects a number");
  return v;
}

std::vector<std::string> TArgs::GetAll(const std::string& option) const {
  std::vector<std::string> values;
  for (const auto& [name, value] : sequence)
    if (name == option) values.push_back(value);
  return values;
}

bool RegisterCommand(TCommand command) {
  Table().push_back(std::move(command));
  return true;
}

const std::vector<TCommand>& Commands() {
  return Table();
}

const std::string& ChosenLink() {
  return LinkOption();
}

int RunCli(const std::vector<std::string>& allArguments, std::ostream& out, std::ostream& err) {
  LinkOption().clear();
  try {
    const std::vector<std::string> arguments = TakeGlobalOptions(allArguments);
    // Find the command whose words begin the arguments (the longest such name).
    const TCommand* command = nullptr;
    size_t used = 0;
    for (const TCommand& c : Table()) {
      auto words = Words(c.name);
      if (words.size() > arguments.size() || words.size() <= used) continue;
      if (std::equal(words.begin(), words.end(), arguments.begin())) {
        command = &c;
        used = words.size();
      }
    }
    bool wantsHelp = std::find(arguments.begin(), arguments.end(), "--help") != arguments.end() ||
                     std::find(arguments.begin(), arguments.end(), "-h") != arguments.end();
    if (!command) {
      if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" ||
          arguments[0] == "help") {
        PrintOverview(out, "");
        return arguments.empty() ? 1 : 0;
      }
      bool isGroup = std::any_of(Table().begin(), Table().end(), [&](const TCommand& c) {
        return Words(c.name)[0] == arguments[0];
      });
      if (isGroup) {
        PrintOverview(wantsHelp ? out : err, arguments[0]);
        return wantsHelp ? 0 : 1;
      }
      throw Exception("unknown command '" + arguments[0] + "' (see qvl --help)");
    }
    if (wantsHelp) {
      out << "usage: qvl " << command->name << (command->usage.empty() ? "" : " ") << command->usage
          << "\n\n"
          << command->summary << "\n";
      if (!command->help.empty()) out << "\n" << command->help << "\n";
      return 0;
    }
    TArgs args;
    for (size_t i = used; i < arguments.size(); ++i) {
      const std::string& a = arguments[i];
      if (a.size() > 1 && a[0] == '-' && !(a.size() > 1 && std::isdigit(uint8_t(a[1])))) {
        std::string name = a, value;
        size_t eq = a.find('=');
        bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
          name = a.substr(0, eq);
          value = a.substr(eq + 1);
        }
        const auto& vo = command->valueOptions;
        const auto& fo = command->flagOptions;
        if (std::find(vo.begin(), vo.end(), name) != vo.end()) {
          if (!inlineValue) {
            if (i + 1 >= arguments.size()) throw Exception("option " + name + " needs a value");
            value = arguments[++i];
          }
          args.options[name] = value;
          args.sequence.emplace_back(name, value);
        } else if (std::find(fo.begin(), fo.end(), name) != fo.end() && !inlineValue) {
          args.options[name] = "";
          args.sequence.emplace_back(name, "");
        } else {
          throw Exception("unknown option " + name + " for 'qvl " + command->name + "'");
        }
      } else {
        args.positional.push_back(a);
      }
    }
    return command->run(args, out, err);
  } catch (const std::exception& e) {
    out.flush();
    err << "qvl: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace qvl::cli
