#include "exfat/exfat_upcase.h"

namespace relictor {

bool ExFatUpcaseTable::Parse(ByteSpan stored, std::string& reason) {
  map_.clear();
  if (stored.size() < 2) return reason = "the up-case table is empty", false;
  std::vector<char16_t> map;
  map.reserve(65536);
  const std::size_t count = stored.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t v = le16(stored, i * 2);
    // 0xFFFF starts a run of characters that are their own upper case,
    // except as the last value, where it is character 0xFFFF's own.
    if (v == 0xFFFF && i + 1 < count) {
      const std::size_t run = le16(stored, (i + 1) * 2);
      ++i;
      if (map.size() + run > 65536) return reason = "the up-case table maps more than 65536 characters", false;
      for (std::size_t k = 0; k < run; ++k) map.push_back(static_cast<char16_t>(map.size()));
      continue;
    }
    if (map.size() >= 65536) return reason = "the up-case table maps more than 65536 characters", false;
    map.push_back(static_cast<char16_t>(v));
  }
  map_ = std::move(map);
  return true;
}

void ExFatUpcaseTable::UseAsciiOnly() {
  map_.resize(128);
  for (std::size_t c = 0; c < 128; ++c) {
    map_[c] = static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
}

std::uint32_t ExFatUpcaseChecksum(ByteSpan stored) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : stored) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + b;
  return sum;
}

std::uint16_t ExFatNameHash(const std::u16string& name, const ExFatUpcaseTable& upcase) {
  std::uint16_t hash = 0;
  for (char16_t c : name) {
    const char16_t u = upcase.Upper(c);
    for (std::uint8_t b : {static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8)}) {
      hash = static_cast<std::uint16_t>(((hash & 1) ? 0x8000u : 0u) + (hash >> 1) + b);
    }
  }
  return hash;
}

}  // namespace relictor
