#include "ntfs/ntfs_attribute_list.h"

#include "ntfs/ntfs_record.h"

namespace relictor {

bool NtfsAttributeListWalk::Next(NtfsAttributeListEntry& e) {
  e = NtfsAttributeListEntry{};
  if (damaged_ || offset_ >= list_.size()) return false;
  const std::size_t left = list_.size() - offset_;
  if (left < kNtfsAttributeListEntryHeader) {
    // Padding at the end of a list is zeros; anything else is damage.
    damaged_ = le32(list_, offset_) != 0;
    offset_ = list_.size();
    return false;
  }
  ByteSpan s = list_.subspan(offset_);
  e.type = le32(s, 0);
  e.length = le16(s, 4);
  if (e.type == 0 && e.length == 0) {
    offset_ = list_.size();
    return false;
  }
  if (e.length < kNtfsAttributeListEntryHeader || e.length > left) {
    damaged_ = true;
    return false;
  }
  e.nameLength = le8(s, 6);
  e.nameOffset = le8(s, 7);
  if (e.nameLength != 0 && !InBounds(s.first(e.length), e.nameOffset, static_cast<std::size_t>(e.nameLength) * 2)) {
    damaged_ = true;
    return false;
  }
  e.startVcn = le64(s, 8);
  const std::uint64_t reference = le64(s, 16);
  e.record = NtfsRecordOfReference(reference);
  e.sequence = static_cast<std::uint16_t>(reference >> 48);
  e.id = le16(s, 24);
  offset_ += e.length;
  return true;
}

}  // namespace relictor
