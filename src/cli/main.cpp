// relictor-cli: the recovery engine without a window, for scripts,
// servers, tests and benchmarks.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/jobs.h"
#include "platform/udisks.h"

using namespace relictor::cli;

#ifndef RELICTOR_PRODUCT_VERSION
#define RELICTOR_PRODUCT_VERSION RELICTOR_VERSION
#endif

namespace {

void PrintHelp() {
  std::printf(
      "relictor-cli %s: find and recover deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes.\n"
      "It only ever reads the images and devices it is given.\n\n"
      "usage: relictor-cli COMMAND [ARGUMENTS]\n\n"
      "A SOURCE is a disk image, volume image or block device. SOURCE@N names its N-th\n"
      "volume as `drives` numbers them; a source with one volume needs no @N.\n"
      "A PATH names an entry inside the volume as `ls` shows it, with / or \\ between\n"
      "names; it may start with the volume's drive, as in C:\\Docs\\a.txt or C:/Docs/a.txt,\n"
      "the way `ls -r`, `find` and --json print paths.\n\n"
      "commands:\n",
      RELICTOR_PRODUCT_VERSION);
  for (const auto& c : Commands()) std::printf("  %s\n      %s\n", c.usage.c_str(), c.summary.c_str());
  std::printf(
      "\noptions of every command:\n"
      "  --replace-char C   character that stands in for the lost first letter of deleted\n"
      "                     FAT short names (default _)\n"
      "  --no-keep-times    saved files and folders get the time they were written instead\n"
      "                     of their entry's modification and access times\n"
      "\nexit codes: 0 done, 1 error, 2 bad usage, 130 stopped (Ctrl-C)\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp();
    return kExitOk;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::printf("relictor-cli %s\n", RELICTOR_PRODUCT_VERSION);
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const auto& c : Commands()) {
    if (c.name == args[0]) command = &c;
  }
  if (!command) {
    PrintError("unknown command '" + args[0] + "' (see relictor-cli --help)");
    return kExitUsage;
  }
  // Devices this user may not open are asked of the desktop's disk service.
  relictor::platform::InstallDeviceOpener();
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const auto& a : rest) {
    if (a == "--help" || a == "-h") {
      std::printf("usage: relictor-cli %s\n%s\n", command->usage.c_str(), command->summary.c_str());
      return kExitOk;
    }
  }
  auto known = command->options;
  known.push_back({"--replace-char", 1});
  known.push_back({"--no-keep-times", 0});
  Args parsed;
  std::string error;
  if (!parsed.Parse(rest, known, error)) return UsageError(*command, error);

  Context context;
  context.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
  context.stdinIsTerminal = ::isatty(STDIN_FILENO) == 1;
  if (parsed.Has("--replace-char")) {
    std::string c = parsed.Value("--replace-char");
    // A separator would make names that no PATH can address.
    if (c.size() != 1 || c[0] < 0x21 || c[0] > 0x7E || c[0] == '/' || c[0] == '\\') {
      return UsageError(*command, "--replace-char takes one printable ASCII character other than / and \\");
    }
    context.host.settings.replaceChar = c[0];
  }
  if (parsed.Has("--no-keep-times")) context.host.settings.keepTimes = false;
  CliJobRunner jobs(context.stderrIsTerminal);
  CliRangeChooser ranges;
  context.jobs = &jobs;
  context.ranges = &ranges;
  context.host.jobs = &jobs;
  context.host.rangeChooser = &ranges;
  InstallInterruptHandler();
  int rc;
  try {
    rc = command->run(context, parsed);
  } catch (const std::exception& e) {
    // A command that fails midway (memory ran out) has, while unwinding,
    // closed the JSON array it was writing; the failure goes to stderr.
    std::fflush(stdout);
    PrintError(std::string("stopped by an internal error: ") + e.what());
    return kExitError;
  }
  std::fflush(stdout);
  if (rc == kExitOk && jobs.WasStopped()) rc = kExitStopped;
  return rc;
}
