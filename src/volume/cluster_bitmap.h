#pragma once
// One bit per cluster of a scan range: set for clusters that a known entry
// or an earlier find accounts for. Clusters outside the range read as set,
// so nothing outside it is ever examined.

#include <cstdint>
#include <vector>

namespace relictor {

class ClusterBitmap {
 public:
  ClusterBitmap(std::uint64_t first, std::uint64_t last)
      : first_(first), last_(last), bits_(last >= first ? static_cast<std::size_t>((last - first) / 8 + 1) : 0) {}

  bool Contains(std::uint64_t c) const { return c >= first_ && c <= last_; }
  bool Test(std::uint64_t c) const {
    if (!Contains(c)) return true;
    std::uint64_t i = c - first_;
    return (bits_[static_cast<std::size_t>(i >> 3)] >> (i & 7)) & 1;
  }
  void Set(std::uint64_t c) {
    if (!Contains(c)) return;
    std::uint64_t i = c - first_;
    bits_[static_cast<std::size_t>(i >> 3)] = static_cast<std::uint8_t>(bits_[static_cast<std::size_t>(i >> 3)] | (1u << (i & 7)));
  }
  std::uint64_t First() const { return first_; }
  std::uint64_t Last() const { return last_; }

 private:
  std::uint64_t first_;
  std::uint64_t last_;
  std::vector<std::uint8_t> bits_;
};

}  // namespace relictor
