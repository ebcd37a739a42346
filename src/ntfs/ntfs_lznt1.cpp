#include "ntfs/ntfs_lznt1.h"

#include <algorithm>
#include <cstring>

namespace relictor {
namespace {

constexpr std::size_t kChunkSize = 4096;

// Decompresses one compressed chunk body into `out` (at most 4096 bytes);
// returns the bytes produced, or -1 when the chunk is damaged.
std::ptrdiff_t DecompressChunk(ByteSpan in, std::uint8_t* out, std::size_t capacity) {
  std::size_t ip = 0, op = 0;
  while (ip < in.size() && op < capacity) {
    const std::uint8_t flags = in[ip++];
    for (int bit = 0; bit < 8 && ip < in.size() && op < capacity; ++bit) {
      if (!(flags & (1u << bit))) {
        out[op++] = in[ip++];
        continue;
      }
      if (ip + 2 > in.size()) return -1;
      const std::uint16_t token = le16(in, ip);
      ip += 2;
      // The further into the chunk, the more bits the offset takes: as
      // many as the position needs, at least four, and the length keeps
      // the rest of the sixteen.
      unsigned lengthBits = 12;
      for (std::size_t pos = op - 1; op > 0 && pos >= 0x10; pos >>= 1) --lengthBits;
      const std::size_t offset = static_cast<std::size_t>(token >> lengthBits) + 1;
      std::size_t length = static_cast<std::size_t>(token & ((1u << lengthBits) - 1)) + 3;
      if (offset > op) return -1;
      length = std::min(length, capacity - op);
      // The source may overlap what is being written: copy byte by byte.
      for (std::size_t i = 0; i < length; ++i, ++op) out[op] = out[op - offset];
    }
  }
  return static_cast<std::ptrdiff_t>(op);
}

}  // namespace

bool DecompressLznt1(ByteSpan in, std::span<std::uint8_t> out) {
  std::size_t ip = 0, op = 0;
  bool ok = true;
  while (op < out.size()) {
    if (ip + 2 > in.size()) break;
    const std::uint16_t header = le16(in, ip);
    if (header == 0) break;
    const std::size_t size = static_cast<std::size_t>(header & 0x0FFF) + 1;
    ip += 2;
    if (ip + size > in.size()) {
      ok = false;
      break;
    }
    ByteSpan body = in.subspan(ip, size);
    ip += size;
    const std::size_t room = std::min(kChunkSize, out.size() - op);
    if (header & 0x8000) {
      std::ptrdiff_t n = DecompressChunk(body, out.data() + op, room);
      if (n < 0) {
        ok = false;
        break;
      }
      // A chunk that decompresses to less than 4096 bytes is the last one
      // with data; the rest of its 4096 bytes are zeros.
      std::memset(out.data() + op + n, 0, room - static_cast<std::size_t>(n));
      op += room;
    } else {
      // A chunk stored as it is holds exactly 4096 bytes.
      std::size_t n = std::min(size, room);
      std::memcpy(out.data() + op, body.data(), n);
      std::memset(out.data() + op + n, 0, room - n);
      op += room;
    }
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(op), out.end(), 0);
  return ok;
}

}  // namespace relictor
