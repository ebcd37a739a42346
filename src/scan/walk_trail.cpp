#include "scan/walk_trail.h"

#include <limits>

#include "volume/checked.h"
#include "volume/driver.h"

namespace relictor {

WalkMemo& MemoOf(CDriver& volume) {
  return volume.Walks().For(volume.FirstCluster(), volume.LastCluster(), ClusterStream::ClusterSize(volume));
}

std::optional<std::uint64_t> Distance(std::uint64_t from, std::uint64_t cluster, std::uint64_t offset,
                                      std::uint64_t clusterSize) {
  if (cluster < from) return std::nullopt;
  const std::optional<std::uint64_t> whole = CheckedMul(cluster - from, clusterSize);
  if (!whole || *whole > std::numeric_limits<std::uint64_t>::max() - offset) return std::nullopt;
  return *whole + offset;
}

std::uint64_t PatternKey(const std::uint8_t* pattern, std::size_t length, bool ignoreCase) {
  std::uint64_t h = 0xCBF29CE484222325ull ^ (ignoreCase ? 1u : 0u);
  for (std::size_t i = 0; i < length; ++i) h = (h ^ pattern[i]) * 0x100000001B3ull;
  return (h ^ length) * 0x100000001B3ull;
}

}  // namespace relictor
