// relictor-cli drives: the volumes the program would show.

#include <cstdio>
#include <optional>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/sources.h"
#include "platform/udisks.h"
#include "volume/drive_list.h"

namespace relictor::cli {
namespace {

// The size of a drive's volume in bytes: as its boot sector says, but never
// more than its source holds from the volume's start.
std::uint64_t VolumeBytes(const std::vector<SourceReport>& sources, const DriveList::Drive& d) {
  for (const auto& source : sources) {
    if (source.path != d.sourcePath || !source.source) continue;
    if (d.indexInSource < 1 || d.indexInSource > static_cast<int>(source.volumes.size())) return 0;
    const VolumeCandidate& c = source.volumes[static_cast<std::size_t>(d.indexInSource - 1)];
    std::uint64_t held = source.source->Size();
    std::uint64_t sectorSize = source.source->SectorSize();
    std::uint64_t start = c.startSector <= held / sectorSize ? c.startSector * sectorSize : held;
    std::uint64_t room = held - start;
    std::uint64_t bps = c.boot.bytesPerSector;
    if (bps == 0 || c.boot.totalSectors > room / bps) return room;
    return c.boot.totalSectors * bps;
  }
  return 0;
}

int RunDrives(Context& context, const Args& args) {
  std::vector<SourceReport> sources;
  if (args.Positionals().empty()) {
    sources = ExamineSystemVolumes();
  } else {
    for (const auto& path : args.Positionals()) sources.push_back(ExamineSource(path));
  }
  DriveList list;
  list.Build(sources, MakeReaderFactory(), &context.host);
  // Devices the disk service would not open for this user.
  std::vector<std::string> refused = platform::TakeListingProblems();

  bool json = args.Has("--json");
  OutputBuffer out;
  std::optional<JsonArrayWriter> rows;
  if (json) rows.emplace(out);
  int index = 0;
  for (const auto& d : list.Drives()) {
    ++index;
    CVolumeDriver& v = *d.reader;
    std::string letter = v.Letter() >= 'A' && v.Letter() <= 'Z' ? std::string(1, static_cast<char>(v.Letter())) : "";
    std::string volumeName = d.sourcePath + "@" + std::to_string(d.indexInSource);
    if (json) {
      JsonArrayWriter& o = *rows;
      o.BeginObject();
      o.Add("index", index)
          .Add("letter", letter)
          .Add("name", v.GetDisplayName())
          .Add("label", v.VolumeLabel())
          .Add("size", VolumeBytes(sources, d))
          .Add("fs", v.FileSystemName())
          .Add("bytes_per_sector", v.BytesPerSector())
          .Add("bytes_per_cluster", v.BytesPerCluster())
          .Add("cluster_count", v.ClusterCount())
          .Add("source", d.sourcePath)
          .Add("start_sector", d.startSector)
          .Add("volume", volumeName);
      o.EndObject();
    } else {
      std::printf("%2d  %-1s  %-28s %-5s  %5u B/sector  %6u B/cluster  %10llu clusters  %s  start %llu\n", index,
                  letter.c_str(), v.GetDisplayName().c_str(), v.FileSystemName().c_str(), v.BytesPerSector(),
                  v.BytesPerCluster(), static_cast<unsigned long long>(v.ClusterCount()), volumeName.c_str(),
                  static_cast<unsigned long long>(d.startSector));
    }
  }
  if (rows) rows->Close();
  if (!out.Flush()) return FinishOutput(out, kExitError);
  for (const auto& p : list.Problems()) PrintError(p);
  for (const auto& f : list.Failures()) PrintError(f.error);
  for (const auto& r : refused) PrintError(r);
  if (!json && list.Drives().empty() && args.Positionals().empty() && list.Problems().empty() && list.Failures().empty() &&
      refused.empty()) {
    std::fprintf(stderr, "relictor-cli: no readable FAT or NTFS volume on this system's block devices\n");
  }
  return list.Problems().empty() && list.Failures().empty() && refused.empty() ? kExitOk : kExitError;
}

const CommandRegistrar registrar({
    "drives",
    "drives [SOURCE...] [--json]",
    "List the FAT, exFAT and NTFS volumes of the named images and devices, or of the system's block devices.",
    {{"--json", 0}},
    RunDrives,
});

}  // namespace
}  // namespace relictor::cli
