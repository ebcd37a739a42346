#include "exfat/exfat_boot_sector.h"

#include <cstring>

#include "volume/checked.h"

namespace relictor {

bool HasExFatSignature(ByteSpan b) {
  if (b.size() < 512 || std::memcmp(b.data() + 3, "EXFAT   ", 8) != 0) return false;
  // Where FAT keeps its BIOS parameter block, exFAT has 53 zero bytes; a
  // FAT driver that reads such a sector finds sector size 0 and gives up.
  for (std::size_t i = 11; i < 64; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

bool ParseExFatBootSector(ByteSpan b, ExFatGeometry& g, std::string& reason) {
  g = ExFatGeometry{};
  if (b.size() < 512) return reason = "boot sector shorter than 512 bytes", false;
  if (!HasExFatSignature(b)) return reason = "not an exFAT boot sector", false;
  if (le16(b, 510) != 0xAA55) return reason = "no boot sector signature", false;
  g.partitionOffset = le64(b, 64);
  g.volumeLength = le64(b, 72);
  g.fatOffset = le32(b, 80);
  g.fatLength = le32(b, 84);
  g.clusterHeapOffset = le32(b, 88);
  g.clusterCount = le32(b, 92);
  g.rootCluster = le32(b, 96);
  g.serialNumber = le32(b, 100);
  g.revision = le16(b, 104);
  g.volumeFlags = le16(b, 106);
  g.bytesPerSectorShift = le8(b, 108);
  g.sectorsPerClusterShift = le8(b, 109);
  g.numberOfFats = le8(b, 110);
  g.percentInUse = le8(b, 112);

  if (g.bytesPerSectorShift < 9 || g.bytesPerSectorShift > 12) {
    return reason = "exFAT sector size shift " + std::to_string(g.bytesPerSectorShift) + " not supported", false;
  }
  if (g.sectorsPerClusterShift > 25 - g.bytesPerSectorShift) {
    return reason = "exFAT cluster larger than 32 MiB", false;
  }
  if (g.numberOfFats != 1 && g.numberOfFats != 2) {
    return reason = "exFAT FAT count " + std::to_string(g.numberOfFats) + " not supported", false;
  }
  if (g.fatOffset < 2 * kExFatBootRegionSectors) return reason = "the FAT overlaps the boot regions", false;
  if (g.clusterCount == 0) return reason = "no data clusters", false;
  // Cluster numbers from 0xFFFFFFF7 up are markers in the FAT.
  if (g.clusterCount > 0xFFFFFFF5u) return reason = "more clusters than exFAT can number", false;
  const std::uint64_t fatBytesNeeded = (static_cast<std::uint64_t>(g.clusterCount) + 2) * 4;
  if (static_cast<std::uint64_t>(g.fatLength) << g.bytesPerSectorShift < fatBytesNeeded) {
    return reason = "the FAT is too small for the cluster count", false;
  }
  const std::uint64_t fatsEnd = g.fatOffset + static_cast<std::uint64_t>(g.fatLength) * g.numberOfFats;
  if (g.clusterHeapOffset < fatsEnd) return reason = "the cluster heap overlaps the FAT", false;
  const std::uint64_t heapSectors = static_cast<std::uint64_t>(g.clusterCount) << g.sectorsPerClusterShift;
  const auto heapEnd = CheckedAdd(g.clusterHeapOffset, heapSectors);
  if (!heapEnd || *heapEnd > g.volumeLength) {
    return reason = "the cluster count does not fit the volume", false;
  }
  if (g.rootCluster < 2 || g.rootCluster > static_cast<std::uint64_t>(g.clusterCount) + 1) {
    return reason = "the root folder cluster is not a data cluster", false;
  }
  return true;
}

std::uint32_t ExFatBootChecksum(ByteSpan region, std::uint32_t bytesPerSector) {
  const std::uint64_t length = static_cast<std::uint64_t>(bytesPerSector) * 11;
  std::uint32_t sum = 0;
  for (std::uint64_t i = 0; i < length && i < region.size(); ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[static_cast<std::size_t>(i)];
  }
  return sum;
}

bool ExFatBootRegionIsValid(ByteSpan region, std::uint32_t bytesPerSector) {
  if (bytesPerSector < 512 || region.size() < static_cast<std::size_t>(bytesPerSector) * 12) return false;
  const std::uint32_t sum = ExFatBootChecksum(region, bytesPerSector);
  const std::size_t at = static_cast<std::size_t>(bytesPerSector) * 11;
  for (std::size_t i = 0; i < bytesPerSector; i += 4) {
    if (le32(region, at + i) != sum) return false;
  }
  return true;
}

}  // namespace relictor
