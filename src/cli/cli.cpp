#include "cli/cli.h"

#include <cstdio>
#include <cstdlib>

namespace relictor::cli {
namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

CommandRegistrar::CommandRegistrar(Command command) { Registry().push_back(std::move(command)); }

const std::vector<Command>& Commands() { return Registry(); }

const Command& CommandNamed(const std::string& name) {
  for (const auto& c : Registry()) {
    if (c.name == name) return c;
  }
  std::abort();  // a command asked for itself under a name it never registered
}

bool Args::Parse(const std::vector<std::string>& argv, const std::vector<OptionSpec>& known, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      positionals_.push_back(a);
      continue;
    }
    std::string name = a, inlineValue;
    bool hasInline = false;
    if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      inlineValue = a.substr(eq + 1);
      hasInline = true;
    }
    const OptionSpec* found = nullptr;
    for (const auto& s : known) {
      if (s.name == name) found = &s;
    }
    if (!found) {
      error = "unknown option " + name;
      return false;
    }
    std::vector<std::string> values;
    if (hasInline) {
      if (found->values != 1) {
        error = "option " + name + " takes " + std::to_string(found->values) + " values";
        return false;
      }
      values.push_back(inlineValue);
    } else {
      for (int k = 0; k < found->values; ++k) {
        if (i + 1 >= argv.size()) {
          error = "option " + name + " needs " + std::to_string(found->values) + " value" +
                  (found->values > 1 ? "s" : "");
          return false;
        }
        values.push_back(argv[++i]);
      }
    }
    options_[name] = std::move(values);
  }
  return true;
}

const std::vector<std::string>& Args::Values(const std::string& name) const {
  static const std::vector<std::string> none;
  auto it = options_.find(name);
  return it == options_.end() ? none : it->second;
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  const auto& v = Values(name);
  return v.empty() ? fallback : v.front();
}

bool ParseUnsigned(const std::string& text, std::uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

void PrintError(const std::string& text) { std::fprintf(stderr, "relictor-cli: %s\n", text.c_str()); }

int UsageError(const Command& command, const std::string& text) {
  PrintError(text);
  std::fprintf(stderr, "usage: relictor-cli %s\n", command.usage.c_str());
  return kExitUsage;
}

}  // namespace relictor::cli
