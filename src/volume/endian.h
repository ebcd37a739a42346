#pragma once
// Little-endian field reads over byte spans. Every read checks that the
// field lies inside the span; a field that does not gives 0, so a damaged
// structure can never make the parser read outside its buffer. Callers that
// must tell "absent" from "zero" check the size themselves first.

#include <cstddef>
#include <cstdint>
#include <span>

namespace relictor {

using ByteSpan = std::span<const std::uint8_t>;

inline bool InBounds(ByteSpan s, std::size_t offset, std::size_t width) {
  return offset <= s.size() && width <= s.size() - offset;
}

inline std::uint8_t le8(ByteSpan s, std::size_t offset) {
  return InBounds(s, offset, 1) ? s[offset] : 0;
}

inline std::uint16_t le16(ByteSpan s, std::size_t offset) {
  if (!InBounds(s, offset, 2)) return 0;
  return static_cast<std::uint16_t>(s[offset] | (s[offset + 1] << 8));
}

inline std::uint32_t le32(ByteSpan s, std::size_t offset) {
  if (!InBounds(s, offset, 4)) return 0;
  return static_cast<std::uint32_t>(s[offset]) | (static_cast<std::uint32_t>(s[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(s[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(s[offset + 3]) << 24);
}

inline std::uint64_t le64(ByteSpan s, std::size_t offset) {
  if (!InBounds(s, offset, 8)) return 0;
  return static_cast<std::uint64_t>(le32(s, offset)) |
         (static_cast<std::uint64_t>(le32(s, offset + 4)) << 32);
}

// Unsigned little-endian value of `width` bytes (0 to 8).
inline std::uint64_t leN(ByteSpan s, std::size_t offset, std::size_t width) {
  if (width > 8 || !InBounds(s, offset, width)) return 0;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(s[offset + i]) << (8 * i);
  return v;
}

// Signed little-endian value of `width` bytes (1 to 8), sign-extended from
// its top byte.
inline std::int64_t leSignedN(ByteSpan s, std::size_t offset, std::size_t width) {
  if (width == 0 || width > 8 || !InBounds(s, offset, width)) return 0;
  std::uint64_t v = leN(s, offset, width);
  if (width < 8 && (s[offset + width - 1] & 0x80)) v |= ~std::uint64_t{0} << (8 * width);
  return static_cast<std::int64_t>(v);
}

inline std::uint16_t be16(ByteSpan s, std::size_t offset) {
  if (!InBounds(s, offset, 2)) return 0;
  return static_cast<std::uint16_t>((s[offset] << 8) | s[offset + 1]);
}

inline std::uint32_t be32(ByteSpan s, std::size_t offset) {
  if (!InBounds(s, offset, 4)) return 0;
  return (static_cast<std::uint32_t>(s[offset]) << 24) | (static_cast<std::uint32_t>(s[offset + 1]) << 16) |
         (static_cast<std::uint32_t>(s[offset + 2]) << 8) | static_cast<std::uint32_t>(s[offset + 3]);
}

inline bool IsPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace relictor
