#include "ntfs/ntfs_file_name.h"

namespace relictor {
namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

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

std::string NtfsNameToUtf8(ByteSpan utf16) {
  std::string out;
  out.reserve(utf16.size());
  const std::size_t units = utf16.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = le16(utf16, i * 2);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      std::uint32_t low = le16(utf16, (i + 1) * 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

}  // namespace relictor
