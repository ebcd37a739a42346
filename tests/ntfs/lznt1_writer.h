#pragma once
// A writer of NTFS's LZNT1 compressed form for the tests, so that the
// reader's decompression can be checked on any data: greedy matching over
// a short hash chain, each 4096-byte chunk stored compressed or, when that
// does not save anything, as it is.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace relictor::test {

inline std::vector<std::uint8_t> Lznt1Compress(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  for (std::size_t start = 0; start < data.size(); start += 4096) {
    const std::size_t n = std::min<std::size_t>(4096, data.size() - start);
    const std::uint8_t* c = data.data() + start;
    std::vector<std::uint8_t> body;
    std::vector<int> head(1 << 12, -1), prev(n, -1);
    auto hash = [&](std::size_t p) { return ((c[p] << 8) ^ (c[p + 1] << 4) ^ c[p + 2]) & 0xFFF; };
    std::size_t p = 0;
    while (p < n) {
      const std::size_t flagAt = body.size();
      body.push_back(0);
      for (int bit = 0; bit < 8 && p < n; ++bit) {
        unsigned lengthBits = 12;
        for (std::size_t q = p - 1; p > 0 && q >= 0x10; q >>= 1) --lengthBits;
        const std::size_t maxOffset = std::size_t{1} << (16 - lengthBits);
        const std::size_t maxLength = (std::size_t{1} << lengthBits) + 2;
        std::size_t bestLength = 0, bestOffset = 0;
        if (p + 3 <= n) {
          int cand = head[hash(p)];
          for (int tries = 0; cand >= 0 && tries < 64; ++tries, cand = prev[static_cast<std::size_t>(cand)]) {
            const std::size_t off = p - static_cast<std::size_t>(cand);
            if (off > maxOffset) break;
            std::size_t len = 0;
            while (len < maxLength && p + len < n && c[static_cast<std::size_t>(cand) + len] == c[p + len]) ++len;
            if (len > bestLength) bestLength = len, bestOffset = off;
          }
        }
        std::size_t step = 1;
        if (bestLength >= 3) {
          const std::uint16_t token =
              static_cast<std::uint16_t>(((bestOffset - 1) << lengthBits) | (bestLength - 3));
          body.push_back(static_cast<std::uint8_t>(token));
          body.push_back(static_cast<std::uint8_t>(token >> 8));
          body[flagAt] = static_cast<std::uint8_t>(body[flagAt] | (1u << bit));
          step = bestLength;
        } else {
          body.push_back(c[p]);
        }
        for (std::size_t i = 0; i < step; ++i, ++p) {
          if (p + 3 <= n) {
            prev[p] = head[hash(p)];
            head[hash(p)] = static_cast<int>(p);
          }
        }
      }
    }
    if (body.size() >= 4096 && n == 4096) {
      out.push_back(0xFF);
      out.push_back(0x3F);
      out.insert(out.end(), c, c + n);
    } else {
      const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (body.size() - 1));
      out.push_back(static_cast<std::uint8_t>(header));
      out.push_back(static_cast<std::uint8_t>(header >> 8));
      out.insert(out.end(), body.begin(), body.end());
    }
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

}  // namespace relictor::test
