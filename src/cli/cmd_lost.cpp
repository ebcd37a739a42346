// relictor-cli lost: walk a whole disk or disk image for FAT, exFAT and NTFS
// volumes that no partition table lists any more.

#include <algorithm>
#include <cstdio>

#include "cli/cli.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/sources.h"
#include "volume/drive_list.h"
#include "scan/physical_driver.h"
#include "worker/worker.h"

namespace relictor::cli {
namespace {

class LostWalkTask final : public WorkerTask {
 public:
  LostWalkTask(CPhysicalDriver& disk, Host& host) : disk_(disk), host_(host) {}
  bool Step() override {
    completed_ = FindLostDrivers(disk_, &volumes_, MakeReaderFactory(), Progress(), &found_, nullptr, nullptr, &host_);
    return true;
  }
  bool Completed() const { return completed_; }
  const std::vector<LostVolume>& Found() const { return found_; }

 private:
  CPhysicalDriver& disk_;
  Host& host_;
  std::vector<std::unique_ptr<CVolumeDriver>> volumes_;
  std::vector<LostVolume> found_;
  bool completed_ = false;
};

// For each find, whether the disk's partition table (or, on a disk without
// one, the disk itself) already has a volume at its start, compared in
// bytes since the table's sectors may differ in size from the walk's.
std::vector<bool> ListedInTable(const std::string& path, const CPhysicalDriver& disk,
                                const std::vector<LostVolume>& found) {
  std::vector<bool> listed(found.size(), false);
  const SourceReport report = ExamineSource(path);
  std::vector<std::uint64_t> starts;
  for (const auto& p : report.table.partitions) starts.push_back(p.startSector * report.table.sectorSize);
  for (const auto& v : report.volumes) starts.push_back(v.startSector * report.table.sectorSize);
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::uint64_t at = found[i].startSector * disk.BytesPerSector();
    listed[i] = std::find(starts.begin(), starts.end(), at) != starts.end();
  }
  return listed;
}

int RunLost(Context& context, const Args& args) {
  const Command& self = CommandNamed("lost");
  if (args.Positionals().size() != 1) return UsageError(self, "give one DISK (a whole disk or disk image)");
  PhysicalDriveList disks;
  EnumPhysicalDrives(disks, {args.Positionals()[0]}, false);
  if (disks.disks.empty()) {
    PrintError(disks.problems.empty() ? args.Positionals()[0] + ": cannot open" : disks.problems.front());
    return kExitError;
  }
  CPhysicalDriver& disk = *disks.disks.front();
  std::uint64_t start = 0, end = disk.TotalSectors();
  if (args.Has("--start") && !ParseUnsigned(args.Value("--start"), start)) {
    return UsageError(self, "--start takes a sector number");
  }
  if (args.Has("--end") && !ParseUnsigned(args.Value("--end"), end)) {
    return UsageError(self, "--end takes a sector number");
  }
  if (end > disk.TotalSectors()) {
    return UsageError(self, "--end lies past the end of the disk (" + std::to_string(disk.TotalSectors()) +
                                " sectors)");
  }
  if (end < start) return UsageError(self, "the end sector lies before the start sector");
  // --end names the last sector looked at; the walk stops in front of its
  // end, which may be the disk's end itself.
  disk.SetScanRange(start, std::min(end + 1, disk.TotalSectors()));

  LostWalkTask task(disk, context.host);
  JobInfo info{JobKind::LostVolumes, "Find Lost Drivers...", disk.GetDisplayName(), disk.BytesPerSector()};
  context.jobs->Run(task, info);

  // The walk finds every volume by its boot sector, those the partition
  // table lists too: they are marked, so that the others stand out.
  const std::vector<bool> listed = ListedInTable(args.Positionals()[0], disk, task.Found());
  std::size_t listedCount = 0;
  for (bool l : listed) listedCount += l ? 1 : 0;

  OutputBuffer out;
  if (args.Has("--json")) {
    JsonArrayWriter json(out);
    for (std::size_t i = 0; i < task.Found().size(); ++i) {
      const LostVolume& v = task.Found()[i];
      json.BeginObject();
      json.Add("name", v.name)
          .Add("start_sector", v.startSector)
          .Add("fs", v.fsName)
          .Add("sectors", v.sectors)
          .Add("opened", v.opened)
          .Add("listed", static_cast<bool>(listed[i]))
          .Add("volume", args.Positionals()[0] + "@lost:" + std::to_string(v.startSector));
      json.EndObject();
    }
    json.Close();
  } else {
    std::fflush(stdout);
    for (std::size_t i = 0; i < task.Found().size(); ++i) {
      const LostVolume& v = task.Found()[i];
      double mib = static_cast<double>(v.sectors) * disk.BytesPerSector() / (1024.0 * 1024.0);
      std::printf("%-20s start %12llu  %-5s  %12llu sectors (%.1f MiB)%s%s   %s@lost:%llu\n", v.name.c_str(),
                  static_cast<unsigned long long>(v.startSector), v.fsName.c_str(),
                  static_cast<unsigned long long>(v.sectors), mib, v.opened ? "" : "  [cannot be opened]",
                  listed[i] ? "  [in the partition table]" : "", args.Positionals()[0].c_str(),
                  static_cast<unsigned long long>(v.startSector));
    }
  }
  if (out.Failed() || !out.Flush()) return FinishOutput(out, kExitError);
  if (!task.Completed()) return kExitStopped;
  std::fprintf(stderr, "%zu volume%s found on %s, %zu of them in the partition table\n", task.Found().size(),
               task.Found().size() == 1 ? "" : "s", disk.GetDisplayName().c_str(), listedCount);
  return kExitOk;
}

const CommandRegistrar registrar({
    "lost",
    "lost DISK [--start S] [--end E] [--json]",
    "Walk a whole disk or disk image sector by sector (S to E) for FAT, exFAT and NTFS volumes by their boot sectors, "
    "to find those that no partition table lists; the ones the table lists are marked. Use a find as "
    "DISK@lost:S.",
    {{"--start", 1}, {"--end", 1}, {"--json", 0}},
    RunLost,
});

}  // namespace
}  // namespace relictor::cli
