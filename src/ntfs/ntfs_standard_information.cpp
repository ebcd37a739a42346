#include "ntfs/ntfs_standard_information.h"

#include "ntfs/ntfs_attribute.h"

namespace relictor {

bool ParseStandardInformation(ByteSpan v, NtfsStandardInformation& s) {
  s = NtfsStandardInformation{};
  if (v.size() < kNtfsStandardInformationMinimum) return false;
  s.created = le64(v, 0);
  s.modified = le64(v, 8);
  s.mftChanged = le64(v, 16);
  s.accessed = le64(v, 24);
  s.flags = le32(v, 32);
  return true;
}

std::optional<NtfsStandardInformation> FindStandardInformation(ByteSpan record) {
  // The file system writes this attribute first in every base record; a
  // second one, or one that is named or non-resident, is damage, and the
  // first decides so that a damaged copy is never passed over for another.
  NtfsAttributeWalk walk(record);
  NtfsAttribute a;
  while (walk.Next(a)) {
    if (a.type != kNtfsStandardInformation) continue;
    NtfsStandardInformation s;
    if (a.nonResident || a.nameLength != 0 || !ParseStandardInformation(a.Value(), s)) return std::nullopt;
    return s;
  }
  return std::nullopt;
}

}  // namespace relictor
