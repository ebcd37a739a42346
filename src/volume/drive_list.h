#pragma once
// The list of volumes the program shows: every FAT or NTFS volume on the
// system's block devices that the user may read, or every such volume in
// the images and devices the user names. Disks and whole-disk images with
// an MBR or GPT give one volume per partition, read through the disk with
// the partition's start sector added.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "volume/boot_sector.h"
#include "volume/driver.h"
#include "volume/partition_table.h"
#include "volume/sector_source.h"

namespace relictor {

struct VolumeCandidate {
  std::string sourcePath;
  SectorSourcePtr source;
  bool partitioned = false;       // a partition of a disk: read through the disk
  int partitionNumber = 0;        // as the table numbers it; 0 for a whole source
  std::uint64_t startSector = 0;  // in sectors of the source
  std::uint64_t sectorCount = 0;  // from the table; the source size otherwise
  std::uint32_t driveType = kDriveFixed;
  BootSectorInfo boot;
  std::vector<std::uint8_t> bootSector;  // the volume's first 512 bytes
};

struct SourceReport {
  std::string path;
  SectorSourcePtr source;
  PartitionTable table;
  std::vector<VolumeCandidate> volumes;  // FAT and NTFS volumes, in disk order
  std::vector<std::string> problems;     // one sentence each, naming the source
};

// Opens an image or device read-only and finds its FAT and NTFS volumes.
SourceReport ExamineSource(const std::string& path);
SourceReport ExamineSource(SectorSourcePtr source, const std::string& path, std::uint32_t driveType);

// The block devices of the system that hold a FAT or NTFS volume and that
// the user may read (devices the user may not open are left out).
std::vector<SourceReport> ExamineSystemVolumes(const std::string& sysBlock = "/sys/class/block",
                                               const std::string& devRoot = "/dev");

// Drive type of a block device from sysfs: 2 when its disk is removable,
// 3 otherwise (also for image files).
std::uint32_t DriveTypeOf(const std::string& path);

// Makes the reader for a file system, or null for one the program cannot
// read. The front end supplies it, so that this layer needs no reader.
using ReaderFactory = std::function<std::unique_ptr<CVolumeDriver>(FsKind)>;

// Makes and opens the reader of one volume. On failure returns null and
// sets `error`.
std::unique_ptr<CVolumeDriver> OpenVolume(const VolumeCandidate& candidate, const ReaderFactory& factory,
                                          unsigned char letter, const std::string& displayName, Host* host,
                                          std::string& error);

// The display name of a volume: "%s (%s)" with the root ("D:\") and the
// label, or the root alone.
std::string VolumeDisplayName(const std::string& root, const std::string& label);

class DriveList {
 public:
  struct Drive {
    std::unique_ptr<CVolumeDriver> reader;
    std::string sourcePath;
    int indexInSource = 0;  // 1-based among the volumes of its source
    int partitionNumber = 0;
    std::uint64_t startSector = 0;
  };

  // Opens a reader for every candidate, giving letters from C in list
  // order. Fills the list once: while it holds readers it is not touched.
  void Build(const std::vector<SourceReport>& sources, const ReaderFactory& factory, Host* host = nullptr);
  // Opens a reader for every volume of one more source and appends them.
  // Letters go on from the last one given, so that two volumes never share
  // a root. The source's problems and the volumes that cannot be opened are
  // appended to Problems() and Failures(). Returns the readers added.
  std::vector<CVolumeDriver*> Add(const SourceReport& source, const ReaderFactory& factory, Host* host = nullptr);
  // Appends a reader made elsewhere (a volume the lost-volume search found
  // on a disk); the list owns it from now on.
  CVolumeDriver* Adopt(std::unique_ptr<CVolumeDriver> reader);

  const std::vector<Drive>& Drives() const { return drives_; }
  std::vector<Drive>& Drives() { return drives_; }
  const std::vector<std::string>& Problems() const { return problems_; }

  // Volumes that were found but whose reader could not open them.
  struct Failure {
    std::string sourcePath;
    int indexInSource = 0;
    std::string error;
  };
  const std::vector<Failure>& Failures() const { return failures_; }

 private:
  std::vector<Drive> drives_;
  std::vector<Failure> failures_;
  std::vector<std::string> problems_;
  unsigned char nextLetter_ = 'C';
};

}  // namespace relictor
