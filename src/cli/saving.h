#pragma once
// Saving entries from the command line: what `recover` does, and `scan -o`
// with the files a deep scan found. Defined in cmd_recover.cpp.

#include <string>
#include <vector>

#include "cli/cli.h"
#include "model/entry.h"
#include "volume/driver.h"

namespace relictor::cli {

struct SaveOptions {
  bool overwrite = false;  // start with both replace flags set
  bool skip = false;       // answer No to every question
  // Where the lines of what was saved go: standard error when standard
  // output carries a listing that must stay whole (scan --json).
  bool reportOnStderr = false;
};

// Reads --overwrite and --skip; false with `error` when both are given.
bool ReadSaveOptions(const Args& args, SaveOptions& out, std::string& error);

// Refuses an output folder on the disk being read, when that can be told.
// Returns kExitOk, or kExitUsage after printing why not.
int CheckOutputFolder(const std::string& sourceSpec, const std::string& outputFolder);
// Creates the output folder with its parents. Returns kExitOk, or
// kExitError after printing why not.
int CreateOutputFolder(const std::string& outputFolder);

// Saves the entries into the output folder as long work, asking on the
// terminal when standard input is one (unless the options decide), then
// prints what was saved, skipped and saved short, and the totals. Returns
// the exit code: 0 when everything was saved whole, 1 when a file was
// saved short or the saving failed, 130 when it was stopped.
int SaveEntries(Context& context, CVolumeDriver& volume, const std::vector<CDirEntry*>& entries,
                const std::string& outputFolder, const SaveOptions& options);

}  // namespace relictor::cli
