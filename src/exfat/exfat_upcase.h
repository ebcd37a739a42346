#pragma once
// The up-case table: the file system's own rule for comparing names
// without regard to case, which every name hash is computed through. On
// disk it is a list of 16-bit values in which 0xFFFF followed by a count
// stands for that many characters that are their own upper case.

#include <cstdint>
#include <string>
#include <vector>

#include "volume/endian.h"

namespace relictor {

class ExFatUpcaseTable {
 public:
  // Expands the table as stored; false with a reason when it is empty,
  // ends inside a run marker or maps more than 65536 characters. What
  // the table leaves out maps to itself.
  bool Parse(ByteSpan stored, std::string& reason);
  // The table as if the volume had none: ASCII letters only.
  void UseAsciiOnly();

  char16_t Upper(char16_t c) const { return c < map_.size() ? map_[c] : c; }
  bool Empty() const { return map_.empty(); }

 private:
  std::vector<char16_t> map_;
};

// The checksum stored with the up-case table, over its bytes as stored.
std::uint32_t ExFatUpcaseChecksum(ByteSpan stored);

// The hash of a name as the stream extension keeps it: over the name's
// upper-case characters, low byte first.
std::uint16_t ExFatNameHash(const std::u16string& name, const ExFatUpcaseTable& upcase);

}  // namespace relictor
