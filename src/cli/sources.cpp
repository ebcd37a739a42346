#include "cli/sources.h"

#include <sys/stat.h>

#include "cli/cli.h"
#include "scan/physical_driver.h"

namespace relictor::cli {

bool ParseVolumeSpec(const std::string& text, VolumeSpec& out, std::string& error) {
  out = VolumeSpec{};
  struct stat st {};
  auto at = text.rfind('@');
  if (at == std::string::npos || ::stat(text.c_str(), &st) == 0) {
    out.path = text;
    return true;
  }
  std::uint64_t n = 0;
  std::string tail = text.substr(at + 1);
  if (tail.rfind("lost:", 0) == 0) {
    if (!ParseUnsigned(tail.substr(5), out.lostStart)) {
      error = "bad start sector in " + text + " (use DISK@lost:S with S the start sector `lost` printed)";
      return false;
    }
    out.path = text.substr(0, at);
    out.lost = true;
    return true;
  }
  if (!ParseUnsigned(tail, n) || n == 0 || n > 1000000) {
    error = "bad volume number '" + tail + "' in " + text + " (use SOURCE@N with N from 1)";
    return false;
  }
  out.path = text.substr(0, at);
  out.index = static_cast<int>(n);
  return true;
}

bool OpenVolumeSpec(const std::string& text, Host& host, OpenedVolume& out, std::string& error) {
  VolumeSpec named;
  out.failure = kExitError;
  if (!ParseVolumeSpec(text, named, error)) {
    out.failure = kExitUsage;
    return false;
  }
  if (named.lost) {
    PhysicalDriveList disks;
    EnumPhysicalDrives(disks, {named.path}, false);
    if (disks.disks.empty()) {
      error = disks.problems.empty() ? named.path + ": cannot open" : disks.problems.front();
      return false;
    }
    std::shared_ptr<CPhysicalDriver> disk(std::move(disks.disks.front()));
    auto volume = OpenLostVolume(*disk, named.lostStart, MakeReaderFactory(), &host, error);
    if (!volume) return false;
    out.disk = disk;
    out.volume = volume.get();
    out.lostVolume = std::move(volume);
    return true;
  }
  auto opened = std::make_unique<OpenedSource>();
  opened->report = ExamineSource(named.path);
  if (!opened->report.source) {
    error = opened->report.problems.empty() ? named.path + ": cannot open" : opened->report.problems.front();
    return false;
  }
  const auto& volumes = opened->report.volumes;
  if (volumes.empty()) {
    error = opened->report.problems.empty() ? named.path + ": no FAT or NTFS volume found"
                                            : opened->report.problems.front();
    return false;
  }
  if (named.index == 0 && volumes.size() > 1) {
    error = named.path + " holds " + std::to_string(volumes.size()) + " volumes: name one as " + named.path +
            "@N (see `relictor-cli drives " + named.path + "`)";
    return false;
  }
  int index = named.index == 0 ? 1 : named.index;
  if (index > static_cast<int>(volumes.size())) {
    error = named.path + " holds " + std::to_string(volumes.size()) + " volume" + (volumes.size() > 1 ? "s" : "") +
            ", not " + std::to_string(index);
    return false;
  }
  opened->drives.Build({opened->report}, MakeReaderFactory(), &host);
  for (auto& d : opened->drives.Drives()) {
    if (d.indexInSource == index) out.volume = d.reader.get();
  }
  if (!out.volume) {
    // The volume was found but its reader refused it: say why.
    error = named.path + ": volume " + std::to_string(index) + " cannot be read";
    for (const auto& f : opened->drives.Failures()) {
      if (f.indexInSource == index) error = f.error;
    }
    return false;
  }
  for (const auto& p : opened->drives.Problems()) out.warnings.push_back(p);
  out.source = std::move(opened);
  return true;
}

bool OpenVolumeForCommand(const std::string& text, Host& host, OpenedVolume& out) {
  std::string error;
  if (!OpenVolumeSpec(text, host, out, error)) {
    PrintError(error);
    return false;
  }
  for (const auto& w : out.warnings) PrintError("warning: " + w);
  return true;
}

}  // namespace relictor::cli
