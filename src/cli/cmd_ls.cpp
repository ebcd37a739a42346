// relictor-cli ls: the folders and deleted files of a folder, the way the
// file list shows them.

#include <cstdio>
#include <memory>
#include <set>

#include "cli/cli.h"
#include "cli/entries.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/paths.h"
#include "cli/sources.h"

namespace relictor::cli {
namespace {

int RunLs(Context& context, const Args& args);

const Command kLs{
    "ls",
    "ls SOURCE [PATH] [-r] [--json]",
    "List a folder of a volume (the root by default): its folders and its deleted files, with size, type, "
    "modified time and status; -r descends into every folder but LostFiles.",
    {{"-r", 0}, {"--json", 0}},
    RunLs,
};

// Deeper than any path a FAT or NTFS volume can name.
constexpr int kMaxDepth = 256;

struct Walk {
  CVolumeDriver* volume = nullptr;
  bool recursive = false;
  EntryListing* listing = nullptr;
  // Ctrl-C, or standard output that cannot be written any more.
  bool stopped = false;
  // Folders already listed, by folder key, so that a damaged volume
  // whose folders point at each other is listed once.
  std::set<std::uint64_t> seen;

  bool Emit(CDirEntry& entry) {
    if (stopped || InterruptRequested() || listing->Failed()) {
      stopped = true;
      return false;
    }
    listing->Write(entry);
    return true;
  }
  // A folder whose listing is done gives its entries back, so that the
  // walk holds only the folders on its way down, however many it lists.
  void Release(CDirectory& folder) {
    folder.ClearChildren();
    folder.populated = false;
    listing->ForgetLocations();
  }
};

void Collect(Walk& walk, CDirectory& folder, int depth) {
  // The subfolders to descend into. Where the reader hands the folder's
  // entries out one at a time, each file goes as soon as it is written and
  // the walk keeps the subfolders alone, so a folder of any size costs one
  // entry's memory; otherwise the folder is populated and its children
  // listed.
  std::vector<CDirectory*> subfolders;
  std::vector<std::unique_ptr<CDirEntry>> streamedFolders;
  auto list = [&](CDirEntry& child) {
    if (!walk.Emit(child)) return false;
    // LostFiles is listed but not read: reading it starts a deep scan.
    if (child.IsFolder() && &child != walk.volume->GetLostFiles()) {
      subfolders.push_back(static_cast<CDirectory*>(&child));
    }
    return true;
  };
  const bool streamed = !folder.populated && folder.StreamEntries(true, true, [&](std::unique_ptr<CDirEntry> child) {
    if (!list(*child)) return false;
    if (child->IsFolder()) streamedFolders.push_back(std::move(child));
    return true;
  });
  if (!streamed) {
    if (!folder.populated) folder.Populate(true, true, false);
    for (auto& child : folder.children) {
      if (child && !list(*child)) return;
    }
  }
  if (walk.stopped || !walk.recursive || depth >= kMaxDepth) return;
  for (CDirectory* sub : subfolders) {
    if (walk.stopped) return;
    std::uint64_t cluster = 0;
    if (sub->GetFolderKey(cluster) && !walk.seen.insert(cluster).second) continue;
    Collect(walk, *sub, depth + 1);
    walk.Release(*sub);
  }
}

int RunLs(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.empty() || pos.size() > 2) return UsageError(kLs, "ls takes a SOURCE and at most one PATH");
  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return opened.failure;
  std::string error;
  CDirEntry* start = FindEntryByPath(*opened.volume, pos.size() > 1 ? pos[1] : std::string(), error);
  if (!start) {
    PrintError(error);
    return kExitError;
  }
  OutputBuffer out;
  EntryListing listing(out, args.Has("--json"), args.Has("-r"));
  Walk walk;
  walk.volume = opened.volume;
  walk.recursive = args.Has("-r");
  walk.listing = &listing;
  if (auto* folder = dynamic_cast<CDirectory*>(start)) {
    std::uint64_t cluster = 0;
    if (folder->GetFolderKey(cluster)) walk.seen.insert(cluster);
    Collect(walk, *folder, 0);
  } else {
    walk.Emit(*start);
  }
  listing.Close();
  return FinishOutput(out, walk.stopped && !listing.Failed() ? kExitStopped : kExitOk);
}

const CommandRegistrar registrar(kLs);

}  // namespace
}  // namespace relictor::cli
