#pragma once
// Recognition of FAT, exFAT and NTFS boot sectors and the geometry they describe.
// The readers open volumes from these values; the drive list uses them to
// decide which volumes to keep.

#include <cstdint>
#include <string>

#include "volume/endian.h"

namespace relictor {

enum class FsKind { None, Fat, Ntfs, ExFat };

enum FatType : std::uint32_t { kFat12 = 0, kFat16 = 1, kFat32 = 2 };

struct FatGeometry {
  std::uint32_t bytesPerSector = 0;     // BytsPerSec
  std::uint32_t sectorsPerCluster = 0;  // SecPerClus
  std::uint32_t reservedSectors = 0;    // RsvdSecCnt
  std::uint32_t numFats = 0;            // NumFATs
  std::uint32_t rootEntryCount = 0;     // RootEntCnt
  std::uint32_t totalSectors = 0;       // TotSec16, else TotSec32
  std::uint32_t fatSize = 0;            // FATSz16, else FATSz32
  std::uint32_t rootCluster = 0;        // RootClus as stored (FAT32 only)
  std::uint32_t rootDirSectors = 0;     // sectors of the fixed root region
  std::uint32_t fatAreaEnd = 0;         // sector after the last FAT copy
  std::uint32_t firstDataSector = 0;    // first sector of cluster 2
  std::uint32_t dataSectorCount = 0;
  std::uint32_t clusterCount = 0;
  FatType fatType = kFat12;  // by the cluster count alone
};

// Checks a FAT12/16/32 boot sector and works out the volume's geometry.
// Rejects (with a reason) what cannot be a readable FAT volume: a missing
// 0xAA55 signature, a sector or cluster size of 0 or not a power of two, a
// cluster larger than 32768 bytes, no FAT copy, no reserved sector, a FAT
// of size 0, or a data area that starts at or past the end of the volume.
// exFAT and NTFS boot sectors are never taken for FAT.
bool ParseFatBootSector(ByteSpan boot, FatGeometry& out, std::string& reason);

struct NtfsGeometry {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t bytesPerCluster = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t clusterCount = 0;  // total sectors / sectors per cluster
  std::uint64_t mftCluster = 0;
  std::uint32_t recordSize = 0;    // bytes per MFT record
};

// Checks an NTFS boot sector: "NTFS    " at offset 3, 512 or 1024 bytes per
// sector, 1 to 128 sectors per cluster (a power of two), 0xAA55, and an MFT
// record size that is a power of two between 256 bytes and 64 KiB.
bool ParseNtfsBootSector(ByteSpan boot, NtfsGeometry& out, std::string& reason);

struct BootSectorInfo {
  FsKind kind = FsKind::None;
  std::string fsName;  // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS"
  std::uint32_t bytesPerSector = 0;
  std::uint32_t bytesPerCluster = 0;
  std::uint64_t clusterCount = 0;
  std::uint64_t totalSectors = 0;
  std::string reason;  // why it is neither, when kind is None
};

// Tells what file system a volume's first sector belongs to.
BootSectorInfo IdentifyBootSector(ByteSpan sector);

// Whether the 512 bytes look like any boot sector this program knows
// (FAT, exFAT or NTFS).
inline bool IsKnownBootSector(ByteSpan sector) { return IdentifyBootSector(sector).kind != FsKind::None; }

}  // namespace relictor
