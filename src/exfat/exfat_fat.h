#pragma once
// The exFAT file allocation table: 32-bit entries that link the clusters of
// fragmented data. Contiguous data written without a chain leaves its
// entries untouched, so only the allocation bitmap says what is in use.

#include <cstdint>
#include <vector>

namespace relictor {

inline constexpr std::uint32_t kExFatBadCluster = 0xFFFFFFF7u;
inline constexpr std::uint32_t kExFatEndOfChain = 0xFFFFFFFFu;

// Notices a chain that comes back to a cluster it passed, in at most about
// twice the length of the chain: it keeps one cluster of the walk and
// moves it forward at doubling intervals.
struct ExFatLoopGuard {
  std::uint64_t checkpoint = ~std::uint64_t{0};
  std::uint64_t lap = 0;
  std::uint64_t lapLimit = 1;

  // True when `next`, the cluster the walk moves to, closes a loop.
  bool Loops(std::uint64_t next) {
    if (next == checkpoint) return true;
    if (++lap >= lapLimit) {
      checkpoint = next;
      lap = 0;
      lapLimit *= 2;
    }
    return false;
  }
};

// A window of FAT sectors kept in memory, so that walking a chain reads
// each FAT block once.
struct ExFatFatCache {
  std::vector<std::uint8_t> bytes;
  std::uint64_t firstSector = 0;
  std::uint32_t sectors = 0;
  bool valid = false;
};

}  // namespace relictor
