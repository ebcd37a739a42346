#include "ntfs/ntfs_file_name.h"

#include "volume/text.h"

namespace relictor {
bool ParseFileName(ByteSpan v, NtfsFileName& f) {
  f = NtfsFileName{};
  if (v.size() < kNtfsFileNameHeader) return false;
  f.parent = leN(v, 0, 6);
  f.parentSequence = le16(v, 6);
  f.created = le64(v, 8);
  f.modified = le64(v, 16);
  f.mftChanged = le64(v, 24);
  f.accessed = le64(v, 32);
  f.allocatedSize = le64(v, 40);
  f.realSize = le64(v, 48);
  f.flags = le32(v, 56);
  f.nameLength = le8(v, 64);
  f.nameSpace = le8(v, 65);
  const std::size_t bytes = static_cast<std::size_t>(f.nameLength) * 2;
  if (!InBounds(v, kNtfsFileNameHeader, bytes)) return false;
  f.name = v.subspan(kNtfsFileNameHeader, bytes);
  return true;
}

EntryTime FileTimeToEntryTime(std::uint64_t fileTime) {
  if (fileTime == 0) return kNoTime;
  // 369 years lie between 1601 and 1970, 89 of them leap years.
  constexpr std::int64_t kEpochDifference = 11644473600;
  return static_cast<EntryTime>(fileTime / 10000000) - kEpochDifference;
}

std::string NtfsNameToUtf8(ByteSpan utf16) { return Utf16LeToUtf8(utf16, false); }

}  // namespace relictor
