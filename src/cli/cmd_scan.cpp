// relictor-cli scan: the deep scan of a cluster range for files whose
// directory entries are gone, the way the first read of LostFiles runs it,
// and optionally the recovery of what it found.

#include <cstdio>

#include "cli/cli.h"
#include "cli/entries.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/saving.h"
#include "cli/sources.h"
#include "scan/deep_scan.h"

namespace relictor::cli {
namespace {

int RunScan(Context& context, const Args& args);

// Rebuilt folders nest no deeper than the readers walk; this only bounds
// the listing's recursion.
constexpr int kMaxListDepth = 256;

struct FindCounts {
  std::size_t files = 0, folders = 0;
};

// Writes the entries of a folder the scan left in LostFiles, then what
// each rebuilt folder among them holds, folder by folder below it. The
// scan reads rebuilt folders as it finds them, so nothing is read here.
void ListFinds(EntryListing& listing, CDirectory& folder, FindCounts& counts, int depth) {
  for (auto& child : folder.children) {
    if (!child || InterruptRequested() || listing.Failed()) return;
    (child->IsFolder() ? counts.folders : counts.files) += 1;
    listing.Write(*child);
  }
  if (depth >= kMaxListDepth) return;
  for (auto& child : folder.children) {
    auto* sub = dynamic_cast<CDirectory*>(child.get());
    if (sub && sub->populated) ListFinds(listing, *sub, counts, depth + 1);
  }
}

const Command kScan{
    "scan",
    "scan SOURCE [--start N] [--end M] [--all-clusters] [--json] [-o OUTDIR [--overwrite | --skip]]",
    "Deep-scan clusters N to M (by default every data cluster) for lost files of the recognised types, list "
    "them as Cluster_N.TYPE, and with -o save them into OUTDIR. On FAT, clusters that still hold folder entries "
    "become the folders Cluster_N, listed with every file and folder they name; each entry is listed after its "
    "folder, with the folder in its path. With --json the listing is one array of objects (name, path, kind, "
    "deleted, status, size, size_on_disk, type, created, modified, accessed, attributes, first_cluster) on "
    "standard output and everything else, the lines of what -o saved included, goes to standard error. Clusters "
    "that existing files use are skipped; --all-clusters examines them too.",
    {{"--start", 1}, {"--end", 1}, {"--all-clusters", 0}, {"--json", 0}, {"-o", 1}, {"--overwrite", 0}, {"--skip", 0}},
    RunScan,
};

int RunScan(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.size() != 1) return UsageError(kScan, "scan takes one SOURCE");
  std::uint64_t start = 0, end = 0;
  const bool hasStart = args.Has("--start"), hasEnd = args.Has("--end");
  if (hasStart && !ParseUnsigned(args.Value("--start"), start)) return UsageError(kScan, "--start takes a cluster number");
  if (hasEnd && !ParseUnsigned(args.Value("--end"), end)) return UsageError(kScan, "--end takes a cluster number");
  SaveOptions options;
  std::string error;
  if (!ReadSaveOptions(args, options, error)) return UsageError(kScan, error);
  const bool save = args.Has("-o");
  if (save && args.Value("-o").empty()) return UsageError(kScan, "-o takes the output folder");
  if (!save && (options.overwrite || options.skip)) return UsageError(kScan, "--overwrite and --skip go with -o");

  if (save) {
    int rc = CheckOutputFolder(pos[0], args.Value("-o"));
    if (rc != kExitOk) return rc;
  }

  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return opened.failure;
  CVolumeDriver& volume = *opened.volume;
  CDirectory* lost = volume.GetLostFiles();
  if (!lost) {
    PrintError("the volume has no LostFiles folder to scan into");
    return kExitError;
  }
  // A bad output folder is refused before the scan, not after it.
  if (save) {
    int rc = CreateOutputFolder(args.Value("-o"));
    if (rc != kExitOk) return rc;
  }

  // The same way as the window: the range chooser, then LostFiles is
  // emptied and the scan runs as long work.
  context.ranges->Preset(hasStart, start, hasEnd, end, args.Has("--all-clusters"));
  if (!ExpandLostFiles(volume)) {
    if (!context.ranges->Refusal().empty()) {
      PrintError(context.ranges->Refusal());
      return kExitUsage;
    }
    PrintError("the scan could not be started");
    return kExitError;
  }

  std::vector<CDirEntry*> finds;
  for (auto& child : lost->children) {
    if (child) finds.push_back(child.get());
  }
  // The finds are written out as the scan left them in LostFiles; the
  // listing adds only one buffer to them.
  const bool json = args.Has("--json");
  OutputBuffer out;
  EntryListing listing(out, json, true);
  FindCounts counts;
  ListFinds(listing, *lost, counts, 0);
  listing.Close();
  if (out.Failed()) return FinishOutput(out, kExitError);
  const bool completed = lost->populated && !InterruptRequested();
  std::fprintf(stderr, "%s clusters %s: %zu lost file%s, %zu lost folder%s\n", completed ? "scanned" : "stopped in",
               ClusterRangeSummary(volume.FirstCluster(), volume.LastCluster(), volume.BytesPerCluster()).c_str(),
               counts.files, counts.files == 1 ? "" : "s", counts.folders, counts.folders == 1 ? "" : "s");
  // With --json standard output holds the listing alone.
  options.reportOnStderr = json;
  if (!completed) return kExitStopped;
  if (!save) return kExitOk;
  return SaveEntries(context, volume, finds, args.Value("-o"), options);
}

const CommandRegistrar registrar(kScan);

}  // namespace
}  // namespace relictor::cli
