#pragma once
// The command-line front end: commands register themselves here, parse
// their options with Args, and reach the core through the Context.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "volume/host.h"

namespace relictor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

struct OptionSpec {
  std::string name;  // "--json", "-o", ...
  int values = 0;    // how many values follow it
};

class Args {
 public:
  // Splits `argv` into options of `known` and positionals; "--" ends the
  // options. False with `error` on an unknown option or a missing value.
  bool Parse(const std::vector<std::string>& argv, const std::vector<OptionSpec>& known, std::string& error);
  bool Has(const std::string& name) const { return options_.count(name) != 0; }
  // The values of the last occurrence of an option.
  const std::vector<std::string>& Values(const std::string& name) const;
  std::string Value(const std::string& name, const std::string& fallback = {}) const;
  const std::vector<std::string>& Positionals() const { return positionals_; }

 private:
  std::map<std::string, std::vector<std::string>> options_;
  std::vector<std::string> positionals_;
};

// Parses a decimal unsigned number; false when it is not one or overflows.
bool ParseUnsigned(const std::string& text, std::uint64_t& out);

class CliJobRunner;
class CliRangeChooser;

// What every command runs with.
struct Context {
  Host host;
  CliJobRunner* jobs = nullptr;
  CliRangeChooser* ranges = nullptr;
  bool stderrIsTerminal = false;
  bool stdinIsTerminal = false;
};

struct Command {
  std::string name;
  std::string usage;    // one line: "drives [SOURCE...] [--json]"
  std::string summary;  // one sentence for --help
  std::vector<OptionSpec> options;
  int (*run)(Context& context, const Args& args) = nullptr;
};

// Commands register themselves from their own source files.
struct CommandRegistrar {
  explicit CommandRegistrar(Command command);
};
const std::vector<Command>& Commands();
// The registered command of that name (which must exist).
const Command& CommandNamed(const std::string& name);

// One line on standard error: "relictor-cli: <text>".
void PrintError(const std::string& text);
// The usage line of a command on standard error; returns kExitUsage.
int UsageError(const Command& command, const std::string& text);

}  // namespace relictor::cli
