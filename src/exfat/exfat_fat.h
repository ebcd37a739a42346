#pragma once
// The exFAT file allocation table: 32-bit entries that link the clusters of
// fragmented data. Contiguous data written without a chain leaves its
// entries untouched, so only the allocation bitmap says what is in use.

#include <cstdint>
#include <vector>

namespace relictor {

inline constexpr std::uint32_t kExFatBadCluster = 0xFFFFFFF7u;
inline constexpr std::uint32_t kExFatEndOfChain = 0xFFFFFFFFu;

// A window of FAT sectors kept in memory, so that walking a chain reads
// each FAT block once.
struct ExFatFatCache {
  std::vector<std::uint8_t> bytes;
  std::uint64_t firstSector = 0;
  std::uint32_t sectors = 0;
  bool valid = false;
};

}  // namespace relictor
