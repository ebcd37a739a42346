#pragma once
// Deterministic pseudo-random bytes (xorshift64*), for file contents: the
// tests and the exFAT fixture tool make the same bytes from the same seed.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace relictor::test {

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint64_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint64_t x = seed ? seed : 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    bytes[i] = static_cast<std::uint8_t>((x * 0x2545F4914F6CDD1Dull) >> 56);
  }
  return bytes;
}

}  // namespace relictor::test
