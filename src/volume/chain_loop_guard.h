#pragma once
// Ends walks along cluster chains (FAT, exFAT) that loop.

#include <cstdint>

namespace relictor {

// Notices a chain that comes back to a cluster it passed, in at most about
// twice the length of the chain: it keeps one cluster of the walk and
// moves it forward at doubling intervals. A chain without a loop never
// meets the cluster it keeps.
struct ChainLoopGuard {
  std::uint64_t checkpoint = ~std::uint64_t{0};
  std::uint64_t lap = 0;
  std::uint64_t lapLimit = 1;

  explicit ChainLoopGuard(std::uint64_t start = ~std::uint64_t{0}) : checkpoint(start) {}
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

}  // namespace relictor
