#pragma once
// The allocation bitmap: one bit per cluster, from cluster 2 on, set where
// the cluster belongs to a file or folder. exFAT keeps allocation here
// rather than in the FAT, which only links clusters of fragmented data.

#include <cstdint>
#include <string>
#include <vector>

#include "volume/endian.h"

namespace relictor {

// The root folder's entry that places the bitmap.
struct ExFatBitmapEntry {
  std::uint8_t flags = 0;  // bit 0: which of two bitmaps (for two FATs)
  std::uint32_t firstCluster = 0;
  std::uint64_t dataLength = 0;
};

// Reads an in-use bitmap entry; false for any other entry.
bool ParseExFatBitmapEntry(ByteSpan entry, ExFatBitmapEntry& out);

class ExFatAllocationBitmap {
 public:
  // Takes the bitmap's bytes for a volume of `clusterCount` clusters;
  // false with a reason when they are too few to cover every cluster.
  bool Load(std::vector<std::uint8_t> bytes, std::uint32_t clusterCount, std::string& reason);
  bool Loaded() const { return loaded_; }
  // Whether a data cluster is in use. Clusters the bitmap does not cover
  // count as in use: nothing is known to be free there.
  bool InUse(std::uint64_t cluster) const {
    if (!loaded_ || cluster < 2 || cluster - 2 >= clusterCount_) return true;
    const std::uint64_t i = cluster - 2;
    return (bits_[static_cast<std::size_t>(i >> 3)] >> (i & 7)) & 1;
  }
  // The number of clusters in use.
  std::uint64_t CountInUse() const;

 private:
  std::vector<std::uint8_t> bits_;
  std::uint32_t clusterCount_ = 0;
  bool loaded_ = false;
};

}  // namespace relictor
