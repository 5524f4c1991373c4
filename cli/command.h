// The command table of `qvl`. Each command lives in its own file and registers itself with
// QVL_CLI_COMMAND; `qvl --help` and `qvl COMMAND --help` are built from the table.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qvl::cli {

struct TArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--json" -> "", "-o" -> "file.QVLcf"
  // Every option in the order given, repeated ones included.
  std::vector<std::pair<std::string, std::string>> sequence;

  bool Has(const std::string& option) const { return options.count(option) != 0; }
  std::string Get(const std::string& option, const std::string& fallback = "") const;
  // The option's value as a whole number; raises Exception "<option> expects a number".
  long long GetInt(const std::string& option, long long fallback) const;
  // The values of an option given several times, in order.
  std::vector<std::string> GetAll(const std::string& option) const;
};

struct TCommand {
  std::string name;     // one or two words: "config show"
  std::string usage;    // "FILE [--json]"
  std::string summary;  // one line for `qvl --help`
  std::string help;     // the full description for `qvl NAME --help`
  // Options that take a value ("-o", "--link"); every other option is a flag.
  std::vector<std::string> valueOptions;
  std::vector<std::string> flagOptions;
  std::function<int(const TArgs& args, std::ostream& out, std::ostream& err)> run;
};

// Adds a command to the table; returns true so that it can initialise a static.
bool RegisterCommand(TCommand command);
const std::vector<TCommand>& Commands();

// The link chosen with the global option --link LINK (or --port PATH, the same as
// --link serial:PATH) of the current run; empty when none was given.
const std::string& ChosenLink();

// Runs `qvl` with its arguments (argv[0] excluded). Failures print "qvl: <message>" on err
// and give exit status 1.
int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace qvl::cli

#define QVL_CLI_CONCAT2(a, b) a##b
#define QVL_CLI_CONCAT(a, b) QVL_CLI_CONCAT2(a, b)
// Registers a command at program start: QVL_CLI_COMMAND({ .name = ..., ... });
#define QVL_CLI_COMMAND(...)                                                      \
  static const bool QVL_CLI_CONCAT(qvlCliRegistered, __LINE__) [[maybe_unused]] = \
      ::qvl::cli::RegisterCommand(::qvl::cli::TCommand __VA_ARGS__)
