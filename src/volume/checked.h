#pragma once
// Arithmetic on values read from a disk. A product of two on-disk fields
// (a cluster count and a cluster size, a start sector and a sector size)
// can wrap in 64 bits on a damaged or hostile volume; a wrapped product
// would pass every later bounds check with a small, wrong value.

#include <cstdint>
#include <optional>

namespace relictor {

// a × b, or nothing when the product does not fit in 64 bits.
inline std::optional<std::uint64_t> CheckedMul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

// a + b, or nothing when the sum does not fit in 64 bits.
inline std::optional<std::uint64_t> CheckedAdd(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

}  // namespace relictor
