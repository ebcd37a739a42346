// relictor-cli lost: walk a whole disk or disk image for FAT, exFAT and NTFS
// volumes that no partition table lists any more.

#include <cstdio>

#include "cli/cli.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/sources.h"
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
  if (end <= start) return UsageError(self, "The end cluster can not less start cluster.");
  disk.SetScanRange(start, end);

  LostWalkTask task(disk, context.host);
  JobInfo info{JobKind::LostVolumes, "Find Lost Drivers...", disk.GetDisplayName(), disk.BytesPerSector()};
  context.jobs->Run(task, info);

  OutputBuffer out;
  if (args.Has("--json")) {
    JsonArrayWriter json(out);
    for (const auto& v : task.Found()) {
      json.BeginObject();
      json.Add("name", v.name)
          .Add("start_sector", v.startSector)
          .Add("fs", v.fsName)
          .Add("sectors", v.sectors)
          .Add("opened", v.opened)
          .Add("volume", args.Positionals()[0] + "@lost:" + std::to_string(v.startSector));
      json.EndObject();
    }
    json.Close();
  } else {
    std::fflush(stdout);
    for (const auto& v : task.Found()) {
      double mib = static_cast<double>(v.sectors) * disk.BytesPerSector() / (1024.0 * 1024.0);
      std::printf("%-20s start %12llu  %-5s  %12llu sectors (%.1f MiB)%s   %s@lost:%llu\n", v.name.c_str(),
                  static_cast<unsigned long long>(v.startSector), v.fsName.c_str(),
                  static_cast<unsigned long long>(v.sectors), mib, v.opened ? "" : "  [cannot be opened]",
                  args.Positionals()[0].c_str(), static_cast<unsigned long long>(v.startSector));
    }
  }
  if (out.Failed() || !out.Flush()) return FinishOutput(out, kExitError);
  if (!task.Completed()) return kExitStopped;
  std::fprintf(stderr, "%zu volume%s found on %s\n", task.Found().size(), task.Found().size() == 1 ? "" : "s",
               disk.GetDisplayName().c_str());
  return kExitOk;
}

const CommandRegistrar registrar({
    "lost",
    "lost DISK [--start S] [--end E] [--json]",
    "Walk a whole disk or disk image sector by sector for FAT, exFAT and NTFS volumes that no partition table lists; "
    "use a find as DISK@lost:S.",
    {{"--start", 1}, {"--end", 1}, {"--json", 0}},
    RunLost,
});

}  // namespace
}  // namespace relictor::cli
