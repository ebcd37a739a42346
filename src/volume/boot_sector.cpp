#include "volume/boot_sector.h"

#include <cstring>

#include "exfat/exfat_boot_sector.h"

namespace relictor {
namespace {

bool HasSignature(ByteSpan b) { return b.size() >= 512 && le16(b, 510) == 0xAA55; }

bool OemIs(ByteSpan b, const char* oem) { return b.size() >= 11 && std::memcmp(b.data() + 3, oem, 8) == 0; }

}  // namespace

bool ParseFatBootSector(ByteSpan b, FatGeometry& g, std::string& reason) {
  g = FatGeometry{};
  if (b.size() < 512) return reason = "boot sector shorter than 512 bytes", false;
  if (!HasSignature(b)) return reason = "no boot sector signature", false;
  if (OemIs(b, "EXFAT   ")) return reason = "exFAT volume", false;
  if (OemIs(b, "NTFS    ")) return reason = "NTFS volume", false;

  g.bytesPerSector = le16(b, 11);
  g.sectorsPerCluster = le8(b, 13);
  g.reservedSectors = le16(b, 14);
  g.numFats = le8(b, 16);
  g.rootEntryCount = le16(b, 17);
  std::uint32_t tot16 = le16(b, 19);
  std::uint32_t fat16 = le16(b, 22);
  g.totalSectors = tot16 != 0 ? tot16 : le32(b, 32);
  g.fatSize = fat16 != 0 ? fat16 : le32(b, 36);

  if (!IsPowerOfTwo(g.bytesPerSector) || g.bytesPerSector < 512 || g.bytesPerSector > 32768) {
    return reason = "bytes per sector " + std::to_string(g.bytesPerSector) + " is not a FAT sector size", false;
  }
  if (!IsPowerOfTwo(g.sectorsPerCluster)) {
    return reason = "sectors per cluster " + std::to_string(g.sectorsPerCluster) + " is not a power of two", false;
  }
  if (g.sectorsPerCluster * g.bytesPerSector > 32768) return reason = "cluster larger than 32768 bytes", false;
  if (g.numFats == 0) return reason = "no FAT copy", false;
  if (g.reservedSectors == 0) return reason = "no reserved sectors", false;
  if (g.fatSize == 0) return reason = "FAT size 0", false;

  // 64-bit sums: a hostile FAT size times the FAT count must not wrap
  // around and place the data area inside the volume.
  std::uint64_t rootDirSectors = (static_cast<std::uint64_t>(g.rootEntryCount) * 32 + g.bytesPerSector - 1) /
                                 g.bytesPerSector;
  std::uint64_t fatAreaEnd = g.reservedSectors + static_cast<std::uint64_t>(g.numFats) * g.fatSize;
  std::uint64_t firstData = fatAreaEnd + rootDirSectors;
  if (firstData >= g.totalSectors) return reason = "data area starts past the end of the volume", false;

  g.rootDirSectors = static_cast<std::uint32_t>(rootDirSectors);
  g.fatAreaEnd = static_cast<std::uint32_t>(fatAreaEnd);
  g.firstDataSector = static_cast<std::uint32_t>(firstData);
  g.dataSectorCount = g.totalSectors - g.firstDataSector;
  g.clusterCount = g.dataSectorCount / g.sectorsPerCluster;
  if (g.clusterCount == 0) return reason = "no data clusters", false;
  g.fatType = g.clusterCount < 4085 ? kFat12 : (g.clusterCount < 65525 ? kFat16 : kFat32);
  g.rootCluster = g.fatType == kFat32 ? le32(b, 44) : 0;
  return true;
}

bool ParseNtfsBootSector(ByteSpan b, NtfsGeometry& g, std::string& reason) {
  g = NtfsGeometry{};
  if (b.size() < 512) return reason = "boot sector shorter than 512 bytes", false;
  if (!OemIs(b, "NTFS    ")) return reason = "not an NTFS boot sector", false;
  g.bytesPerSector = le16(b, 11);
  g.sectorsPerCluster = le8(b, 13);
  if (g.bytesPerSector != 512 && g.bytesPerSector != 1024) {
    return reason = "NTFS bytes per sector " + std::to_string(g.bytesPerSector) + " not supported", false;
  }
  if (!IsPowerOfTwo(g.sectorsPerCluster)) {
    return reason = "NTFS sectors per cluster " + std::to_string(g.sectorsPerCluster) + " is not a power of two",
           false;
  }
  if (!HasSignature(b)) return reason = "no boot sector signature", false;
  g.bytesPerCluster = g.bytesPerSector * g.sectorsPerCluster;
  g.hiddenSectors = le32(b, 28);
  g.totalSectors = le64(b, 40);
  g.clusterCount = g.totalSectors / g.sectorsPerCluster;
  g.mftCluster = le64(b, 48);

  // Clusters per record: a positive count of clusters, or, as a negative
  // byte, the power of two of the record size in bytes (0xF6 gives 1024).
  std::uint32_t v = le32(b, 64);
  std::uint64_t recordSize = 0;
  if (v < 128) {
    recordSize = static_cast<std::uint64_t>(v) * g.bytesPerCluster;
  } else {
    auto shift = 256 - static_cast<int>(v & 0xFF);
    if ((v & 0xFF) >= 128 && shift <= 31) recordSize = std::uint64_t{1} << shift;
  }
  if (!IsPowerOfTwo(recordSize) || recordSize < 256 || recordSize > 65536) {
    return reason = "MFT record size not supported", false;
  }
  g.recordSize = static_cast<std::uint32_t>(recordSize);
  if (g.clusterCount == 0) return reason = "NTFS volume with no clusters", false;
  return true;
}

BootSectorInfo IdentifyBootSector(ByteSpan sector) {
  BootSectorInfo info;
  std::string ntfsReason;
  NtfsGeometry ng;
  if (ParseNtfsBootSector(sector, ng, ntfsReason)) {
    info.kind = FsKind::Ntfs;
    info.fsName = "NTFS";
    info.bytesPerSector = ng.bytesPerSector;
    info.bytesPerCluster = ng.bytesPerCluster;
    info.clusterCount = ng.clusterCount;
    info.totalSectors = ng.totalSectors;
    return info;
  }
  ExFatGeometry xg;
  std::string exfatReason;
  if (ParseExFatBootSector(sector, xg, exfatReason)) {
    info.kind = FsKind::ExFat;
    info.fsName = "exFAT";
    info.bytesPerSector = xg.BytesPerSector();
    info.bytesPerCluster = xg.BytesPerCluster();
    info.clusterCount = xg.clusterCount;
    info.totalSectors = xg.volumeLength;
    return info;
  }
  if (HasExFatSignature(sector)) {
    info.reason = exfatReason;
    return info;
  }
  FatGeometry fg;
  std::string fatReason;
  if (ParseFatBootSector(sector, fg, fatReason)) {
    info.kind = FsKind::Fat;
    info.fsName = fg.fatType == kFat12 ? "FAT12" : fg.fatType == kFat16 ? "FAT16" : "FAT32";
    info.bytesPerSector = fg.bytesPerSector;
    info.bytesPerCluster = fg.bytesPerSector * fg.sectorsPerCluster;
    info.clusterCount = fg.clusterCount;
    info.totalSectors = fg.totalSectors;
    return info;
  }
  info.reason = OemIs(sector, "NTFS    ") ? ntfsReason : fatReason;
  return info;
}

}  // namespace relictor
