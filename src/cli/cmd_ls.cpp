// relictor-cli ls: the folders and deleted files of a folder, the way the
// file list shows them.

#include <cstdio>
#include <set>

#include "cli/cli.h"
#include "cli/entries.h"
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
  std::vector<CDirEntry*> rows;
  // Folders already listed, by folder key, so that a damaged volume
  // whose folders point at each other is listed once.
  std::set<std::uint64_t> seen;
};

void Collect(Walk& walk, CDirectory& folder, int depth) {
  if (!folder.populated) folder.Populate(true, true, false);
  std::vector<CDirectory*> subfolders;
  for (auto& child : folder.children) {
    if (!child) continue;
    walk.rows.push_back(child.get());
    auto* sub = dynamic_cast<CDirectory*>(child.get());
    // LostFiles is listed but not read: reading it starts a deep scan.
    if (sub && sub != walk.volume->GetLostFiles()) subfolders.push_back(sub);
  }
  if (!walk.recursive || depth >= kMaxDepth) return;
  for (CDirectory* sub : subfolders) {
    std::uint64_t cluster = 0;
    if (sub->GetFolderKey(cluster) && !walk.seen.insert(cluster).second) continue;
    Collect(walk, *sub, depth + 1);
  }
}

int RunLs(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.empty() || pos.size() > 2) return UsageError(kLs, "ls takes a SOURCE and at most one PATH");
  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return kExitError;
  std::string error;
  CDirEntry* start = FindEntryByPath(*opened.volume, pos.size() > 1 ? pos[1] : std::string(), error);
  if (!start) {
    PrintError(error);
    return kExitError;
  }
  Walk walk;
  walk.volume = opened.volume;
  walk.recursive = args.Has("-r");
  if (auto* folder = dynamic_cast<CDirectory*>(start)) {
    std::uint64_t cluster = 0;
    if (folder->GetFolderKey(cluster)) walk.seen.insert(cluster);
    Collect(walk, *folder, 0);
  } else {
    walk.rows.push_back(start);
  }
  if (args.Has("--json")) {
    std::vector<JsonObject> items;
    items.reserve(walk.rows.size());
    for (CDirEntry* e : walk.rows) items.push_back(EntryJson(*e));
    PrintJsonArray(items);
  } else {
    PrintEntryTable(walk.rows, walk.recursive);
  }
  return kExitOk;
}

const CommandRegistrar registrar(kLs);

}  // namespace
}  // namespace relictor::cli
