#pragma once
// The $ATTRIBUTE_LIST of a file whose attributes do not all fit in its
// base record: one entry per attribute (or per extent of a long
// non-resident attribute), naming the record that holds it.

#include <cstddef>
#include <cstdint>

#include "volume/endian.h"

namespace relictor {

// The fixed part of an entry, in front of its name.
inline constexpr std::size_t kNtfsAttributeListEntryHeader = 26;

struct NtfsAttributeListEntry {
  std::uint32_t type = 0;
  std::uint16_t length = 0;
  std::uint8_t nameLength = 0;
  std::uint8_t nameOffset = 0;
  std::uint64_t startVcn = 0;
  std::uint64_t record = 0;  // 48-bit number of the record holding it
  std::uint16_t sequence = 0;
  std::uint16_t id = 0;  // the attribute's instance number in that record
};

// Walks the entries of an attribute list value. The walk ends at the end of
// the value, or at an entry whose length is shorter than its fixed part or
// runs past the value (then Damaged() is true): it can neither loop nor
// read outside the value.
class NtfsAttributeListWalk {
 public:
  explicit NtfsAttributeListWalk(ByteSpan list) : list_(list) {}
  bool Next(NtfsAttributeListEntry& out);
  bool Damaged() const { return damaged_; }

 private:
  ByteSpan list_;
  std::size_t offset_ = 0;
  bool damaged_ = false;
};

}  // namespace relictor
