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
  // Sets [lo, hi] clipped to the range.
  void SetRange(std::uint64_t lo, std::uint64_t hi) {
    if (lo < first_) lo = first_;
    if (hi > last_) hi = last_;
    for (std::uint64_t c = lo; c <= hi && lo <= hi; ++c) {
      if ((c - first_) % 8 == 0 && c + 7 <= hi) {
        bits_[static_cast<std::size_t>((c - first_) >> 3)] = 0xFF;
        c += 7;
      } else {
        Set(c);
      }
    }
  }
  // Whether any cluster of [lo, hi] is set (those outside the range are).
  // `work` grows by the bytes looked at.
  bool AnySet(std::uint64_t lo, std::uint64_t hi, std::uint64_t& work) const {
    if (lo > hi) return false;
    if (lo < first_ || hi > last_) return true;
    for (std::uint64_t c = lo; c <= hi; ++c) {
      ++work;
      if ((c - first_) % 8 == 0 && c + 7 <= hi) {
        if (bits_[static_cast<std::size_t>((c - first_) >> 3)] != 0) return true;
        c += 7;
      } else if (Test(c)) {
        return true;
      }
    }
    return false;
  }
  std::uint64_t First() const { return first_; }
  std::uint64_t Last() const { return last_; }

 private:
  std::uint64_t first_;
  std::uint64_t last_;
  std::vector<std::uint8_t> bits_;
};

}  // namespace relictor
