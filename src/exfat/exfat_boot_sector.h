#pragma once
// The exFAT boot sector and the boot region around it: the geometry the
// main boot sector describes, and the checksum sector that closes each of
// the two boot regions (the main one at sector 0, the backup at sector 12).

#include <cstdint>
#include <string>

#include "volume/endian.h"

namespace relictor {

struct ExFatGeometry {
  std::uint64_t partitionOffset = 0;   // sectors, as the volume recorded it
  std::uint64_t volumeLength = 0;      // sectors
  std::uint32_t fatOffset = 0;         // sectors
  std::uint32_t fatLength = 0;         // sectors of one FAT
  std::uint32_t clusterHeapOffset = 0; // sectors
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t serialNumber = 0;
  std::uint16_t revision = 0;          // major in the high byte
  std::uint16_t volumeFlags = 0;
  std::uint32_t bytesPerSectorShift = 0;
  std::uint32_t sectorsPerClusterShift = 0;
  std::uint32_t numberOfFats = 0;
  std::uint32_t percentInUse = 0;      // 0xFF when unknown

  std::uint32_t BytesPerSector() const { return 1u << bytesPerSectorShift; }
  std::uint32_t SectorsPerCluster() const { return 1u << sectorsPerClusterShift; }
  std::uint32_t BytesPerCluster() const { return 1u << (bytesPerSectorShift + sectorsPerClusterShift); }
};

// Sectors in one boot region: the boot sector, eight extended boot
// sectors, the OEM parameters, a reserved sector and the checksum sector.
inline constexpr std::uint32_t kExFatBootRegionSectors = 12;

// Whether the 512 bytes carry the exFAT name and the zeroed field where
// FAT keeps its BIOS parameters; says nothing about the values.
bool HasExFatSignature(ByteSpan boot);

// Checks an exFAT boot sector and reads the geometry it describes. Only
// geometry the format allows is accepted: sectors of 512 to 4096 bytes,
// clusters up to 32 MiB, one or two FATs, a FAT that holds an entry for
// every cluster, FATs and cluster heap that lie inside the volume in that
// order, and a root folder cluster that exists.
bool ParseExFatBootSector(ByteSpan boot, ExFatGeometry& out, std::string& reason);

// The checksum of a boot region's first eleven sectors, `region` holding
// at least 11 * bytesPerSector bytes. The volume flags and the percentage
// in use change while a volume is mounted and are left out of the sum.
std::uint32_t ExFatBootChecksum(ByteSpan region, std::uint32_t bytesPerSector);

// Whether a whole boot region (12 sectors) has a checksum sector that
// repeats the checksum of its first eleven sectors.
bool ExFatBootRegionIsValid(ByteSpan region, std::uint32_t bytesPerSector);

}  // namespace relictor
