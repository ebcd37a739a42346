#pragma once
// MBR (with extended and logical partitions) and GPT partition tables of
// whole disks and disk images. Every value read from the table is checked
// against the disk: entries past its end, overlapping entries, EBR chains
// that loop, and GPT headers or entry arrays with a wrong CRC are reported
// as problems, never followed blindly.

#include <cstdint>
#include <string>
#include <vector>

#include "volume/sector_source.h"

namespace relictor {

enum class TableKind { None, Mbr, Gpt };

struct PartitionEntry {
  int number = 0;                // 1-based as the table numbers it (logical MBR partitions from 5)
  std::uint64_t startSector = 0;  // in sectors of the disk
  std::uint64_t sectorCount = 0;
  std::uint8_t mbrType = 0;     // MBR partition type; 0 for GPT entries
  std::string gptTypeGuid;      // GPT partition type, empty for MBR entries
  std::string name;             // GPT partition name (UTF-8)
  bool logical = false;         // inside an MBR extended partition
};

struct PartitionTable {
  TableKind kind = TableKind::None;
  std::uint32_t sectorSize = 512;
  std::vector<PartitionEntry> partitions;  // the usable ones, in table order
  std::vector<std::string> problems;       // one sentence each
};

// Reads the partition table of a whole disk. A first sector that is itself
// a FAT or NTFS boot sector (a disk formatted without a table) gives
// TableKind::None.
PartitionTable ReadPartitionTable(SectorSource& disk);

// CRC-32 as GPT uses it (the reflected 0xEDB88320 polynomial).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0);

}  // namespace relictor
