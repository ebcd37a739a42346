#include "exfat/exfat_bitmap.h"

#include <bit>

#include "exfat/exfat_entry_set.h"

namespace relictor {

bool ParseExFatBitmapEntry(ByteSpan e, ExFatBitmapEntry& out) {
  if (e.size() < kExFatEntrySize || e[0] != kExFatBitmapEntry) return false;
  out.flags = le8(e, 1);
  out.firstCluster = le32(e, 20);
  out.dataLength = le64(e, 24);
  return true;
}

bool ExFatAllocationBitmap::Load(std::vector<std::uint8_t> bytes, std::uint32_t clusterCount, std::string& reason) {
  loaded_ = false;
  const std::uint64_t need = (static_cast<std::uint64_t>(clusterCount) + 7) / 8;
  if (bytes.size() < need) return reason = "the allocation bitmap is shorter than the cluster count needs", false;
  bytes.resize(static_cast<std::size_t>(need));
  bits_ = std::move(bytes);
  clusterCount_ = clusterCount;
  loaded_ = true;
  return true;
}

std::uint64_t ExFatAllocationBitmap::CountInUse() const {
  if (!loaded_) return 0;
  std::uint64_t n = 0;
  for (std::uint8_t b : bits_) n += static_cast<std::uint64_t>(std::popcount(b));
  // Bits past the last cluster do not count.
  const std::uint32_t tail = clusterCount_ % 8;
  if (tail != 0 && !bits_.empty()) n -= static_cast<std::uint64_t>(std::popcount(static_cast<std::uint8_t>(bits_.back() >> tail)));
  return n;
}

}  // namespace relictor
