#pragma once
// Whole disks as readers whose clusters are sectors, and the walk over a
// disk for FAT, exFAT and NTFS volumes that no partition table lists any more.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/drive_list.h"
#include "volume/driver.h"

namespace relictor {

class CPhysicalDriver final : public CDriver {
 public:
  // Disk number `number` (0 to 127) read from `path`, a whole-disk block
  // device or a disk image.
  CPhysicalDriver(int number, std::string path);

  const char* ClassName() const override { return "CDriver"; }
  std::uint64_t ClusterToSector(std::uint64_t cluster) const override { return cluster; }
  void AddToDriveCombo(DriveListSink& sink) override;

  // Opens the disk and fills the geometry (sector size, one sector per
  // cluster, total sectors), the drive type and the display name.
  bool ProbeDisk();
  // Sets the disk number and identity and allocates the sector buffer; the
  // device was opened by ProbeDisk.
  bool Open(int number, std::uint32_t driveType, const std::string& displayName);

  int Number() const { return number_; }
  std::uint64_t TotalSectors() const { return clusterCount_; }

 private:
  int number_;
};

// Every whole disk of the system (from sysfs: sd, nvme, mmcblk, vd, and
// loop devices with a backing file) that the user may read, then every
// disk or image in `named`, numbered 0, 1, ... in that order. Disks that
// cannot be opened are left out; named ones that fail add a problem.
struct PhysicalDriveList {
  std::vector<std::unique_ptr<CPhysicalDriver>> disks;
  std::vector<std::string> problems;
};
void EnumPhysicalDrives(PhysicalDriveList& list, const std::vector<std::string>& named, bool includeSystem = true,
                        const std::string& sysBlock = "/sys/block");

// The display name of a whole disk from sysfs: its model (or its name),
// never empty.
std::string DiskModelName(const std::string& sysBlock, const std::string& disk);

// A volume found by the walk.
struct LostVolume {
  std::string name;          // "LostDriver_%d" with the start sector + 1
  std::uint64_t startSector = 0;
  FsKind kind = FsKind::None;
  std::string fsName;        // "NTFS", "FAT12", "exFAT", ...; "FAT"/"NTFS"/"exFAT" when the open failed
  std::uint64_t sectors = 0;  // from the boot sector
  bool opened = false;
  CVolumeDriver* reader = nullptr;  // the reader in the volume list
};

// The boot-sector tests of the walk.
bool LooksLikeLostNtfs(ByteSpan sector);
bool LooksLikeLostFat(ByteSpan sector);
bool LooksLikeLostExFat(ByteSpan sector);

// Walks the disk's scan range [FirstCluster(), LastCluster()) sector by
// sector for volume boot sectors. Each volume found becomes a reader made
// by `factory`, attached to the disk at its start sector and opened
// borrowed under the name "LostDriver_%d"; it is appended to `volumes`
// (and to `tree` under `treeParent` when given) whether or not it opened.
// True when the whole range was searched; false when stopped or when there
// is no volume list.
bool FindLostDrivers(CPhysicalDriver& disk, std::vector<std::unique_ptr<CVolumeDriver>>* volumes,
                     const ReaderFactory& factory, ProgressSink* progress, std::vector<LostVolume>* found = nullptr,
                     FolderTreeSink* tree = nullptr, FolderTreeSink::Item treeParent = nullptr, Host* host = nullptr);

// Opens the volume whose boot sector lies at `startSector` of `disk`
// borrowed, named as the walk names it. Null with `error` when there is no
// volume there or it cannot be opened.
std::unique_ptr<CVolumeDriver> OpenLostVolume(CPhysicalDriver& disk, std::uint64_t startSector,
                                              const ReaderFactory& factory, Host* host, std::string& error);

}  // namespace relictor
