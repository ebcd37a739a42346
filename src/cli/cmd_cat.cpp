// relictor-cli cat: the data of one file entry on standard output, exactly
// as the entry's reader saves it.

#include <unistd.h>

#include <cstdio>

#include "cli/cli.h"
#include "cli/entries.h"
#include "cli/paths.h"
#include "cli/sources.h"
#include "model/output_file.h"

namespace relictor::cli {
namespace {

int RunCat(Context& context, const Args& args);

const Command kCat{
    "cat",
    "cat SOURCE PATH",
    "Write the data of one file entry (deleted or found) to standard output.",
    {},
    RunCat,
};

int RunCat(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.size() != 2) return UsageError(kCat, "cat takes a SOURCE and the PATH of one file");
  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return opened.failure;
  std::string error;
  CDirEntry* entry = FindEntryByPath(*opened.volume, pos[1], error);
  if (!entry) {
    PrintError(error);
    return kExitError;
  }
  const std::string shown = TerminalSafe(entry->GetLocation() + entry->GetName());
  auto* file = dynamic_cast<CFSFile*>(entry);
  if (!file) {
    PrintError(shown + " is a folder: cat writes the data of one file");
    return kExitError;
  }
  std::fflush(stdout);
  FdOutputFile out(STDOUT_FILENO);
  bool ok = file->SaveData(out, nullptr);
  for (const auto& problem : out.Problems()) PrintError(shown + ": " + problem);
  if (!ok) {
    PrintError(shown + ": the data could not be written out in full (" + std::to_string(out.BytesWritten()) +
               " bytes written)");
    return kExitError;
  }
  return out.Problems().empty() ? kExitOk : kExitError;
}

const CommandRegistrar registrar(kCat);

}  // namespace
}  // namespace relictor::cli
