#include "exfat/exfat_entry_set.h"

#include <cstdio>
#include <ctime>

#include "volume/text.h"

namespace relictor {

EntryTime ExFatTimeToEntryTime(const ExFatTimestamp& t) {
  const std::uint32_t p = t.packed;
  if (p == 0) return kNoTime;
  std::tm tm{};
  tm.tm_sec = static_cast<int>(p & 0x1F) * 2 + t.tenMs / 100;
  tm.tm_min = static_cast<int>((p >> 5) & 0x3F);
  tm.tm_hour = static_cast<int>((p >> 11) & 0x1F);
  tm.tm_mday = static_cast<int>((p >> 16) & 0x1F);
  tm.tm_mon = static_cast<int>((p >> 21) & 0x0F) - 1;
  tm.tm_year = static_cast<int>(p >> 25) + 80;
  if (tm.tm_mday == 0 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      (p & 0x1F) > 29 || t.tenMs > 199) {
    return kNoTime;
  }
  if (t.utcOffset & 0x80) {
    // A 7-bit signed count of quarter hours east of UTC.
    int quarters = t.utcOffset & 0x7F;
    if (quarters >= 64) quarters -= 128;
    const std::time_t local = timegm(&tm);
    if (local == static_cast<std::time_t>(-1)) return kNoTime;
    return static_cast<EntryTime>(local) - static_cast<EntryTime>(quarters) * 15 * 60;
  }
  return LocalFieldsToEntryTime(tm);
}

std::string ExFatTimeText(const ExFatTimestamp& t) {
  const std::uint32_t p = t.packed;
  if (p == 0) return {};
  const unsigned seconds = (p & 0x1F) * 2 + t.tenMs / 100;
  char text[64];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u.%02u ", (p >> 25) + 1980u, (p >> 21) & 0x0Fu,
                (p >> 16) & 0x1Fu, (p >> 11) & 0x1Fu, (p >> 5) & 0x3Fu, seconds, t.tenMs % 100u);
  std::string out = text;
  if (!(t.utcOffset & 0x80)) return out + "local";
  int quarters = t.utcOffset & 0x7F;
  if (quarters >= 64) quarters -= 128;
  const int minutes = quarters < 0 ? -quarters * 15 : quarters * 15;
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d", quarters < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return out + text;
}

std::uint32_t ExFatTimeMilliseconds(const ExFatTimestamp& t) {
  if (t.tenMs > 199) return 0;
  return (t.tenMs % 100) * 10u;
}

std::uint16_t ExFatSetChecksum(ByteSpan set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000u : 0u) + (sum >> 1) + set[i]);
  }
  return sum;
}

bool IsKnownExFatEntryType(std::uint8_t type) {
  switch (type & 0x7F) {
    case 0x01:  // allocation bitmap
    case 0x02:  // up-case table
    case 0x03:  // volume label
    case 0x05:  // file
    case 0x20:  // volume GUID
    case 0x40:  // stream extension
    case 0x41:  // file name
    case 0x60:  // vendor extension
    case 0x61:  // vendor allocation
      return true;
    default:
      return false;
  }
}

namespace {

ExFatTimestamp ReadTimestamp(ByteSpan e, std::size_t at, std::size_t tenMsAt, std::size_t offsetAt) {
  ExFatTimestamp t;
  t.packed = le32(e, at);
  t.tenMs = tenMsAt != 0 ? le8(e, tenMsAt) : 0;
  t.utcOffset = le8(e, offsetAt);
  return t;
}

}  // namespace

ExFatSetResult ParseExFatEntrySet(ByteSpan entries, ExFatEntrySet& s, std::string& reason) {
  s = ExFatEntrySet{};
  if (entries.size() < kExFatEntrySize) return ExFatSetResult::NotASet;
  const std::uint8_t type = entries[0];
  if ((type & 0x7F) != (kExFatFileEntry & 0x7F)) return ExFatSetResult::NotASet;
  const std::uint8_t inUse = type & kExFatInUse;
  s.deleted = inUse == 0;
  const std::uint32_t secondaries = le8(entries, 1);
  const std::size_t available = entries.size() / kExFatEntrySize - 1;
  if (secondaries < 2) return reason = "a file entry with fewer than two secondary entries", ExFatSetResult::Damaged;
  if (available < 1) return reason = "the set runs past the end of the folder", ExFatSetResult::Damaged;
  const ByteSpan stream = entries.subspan(kExFatEntrySize, kExFatEntrySize);
  if (stream[0] != ((kExFatStreamEntry & 0x7F) | inUse)) {
    return reason = "the file entry is not followed by its stream extension", ExFatSetResult::Damaged;
  }
  s.attributes = le16(entries, 4);
  s.created = ReadTimestamp(entries, 8, 20, 22);
  s.modified = ReadTimestamp(entries, 12, 21, 23);
  s.accessed = ReadTimestamp(entries, 16, 0, 24);
  s.storedChecksum = le16(entries, 2);
  s.streamFlags = le8(stream, 1);
  s.nameLength = le8(stream, 3);
  s.nameHash = le16(stream, 4);
  s.validDataLength = le64(stream, 8);
  s.firstCluster = le32(stream, 20);
  s.dataLength = le64(stream, 24);
  if (s.nameLength == 0) return reason = "a set with an empty name", ExFatSetResult::Damaged;
  const std::uint32_t nameEntries = (s.nameLength + 14u) / 15u;
  if (nameEntries + 1 > secondaries) {
    return reason = "the name is longer than the set holds", ExFatSetResult::Damaged;
  }
  if (secondaries > available) return reason = "the set runs past the end of the folder", ExFatSetResult::Damaged;
  s.name16.reserve(s.nameLength);
  for (std::uint32_t i = 0; i < nameEntries; ++i) {
    const ByteSpan ne = entries.subspan((2 + i) * kExFatEntrySize, kExFatEntrySize);
    if (ne[0] != ((kExFatNameEntry & 0x7F) | inUse)) {
      return reason = "a file name entry of the set is missing", ExFatSetResult::Damaged;
    }
    for (std::size_t k = 0; k < 15 && s.name16.size() < s.nameLength; ++k) {
      s.name16.push_back(static_cast<char16_t>(le16(ne, 2 + k * 2)));
    }
  }
  // The remaining secondaries must at least be secondary entries of the
  // same state; a primary entry there means the count reaches into the
  // next set.
  for (std::uint32_t i = nameEntries + 1; i < secondaries; ++i) {
    const std::uint8_t t = entries[(1 + i) * kExFatEntrySize];
    if ((t & 0x40) == 0 || (t & kExFatInUse) != inUse) {
      return reason = "the secondary count reaches past the set", ExFatSetResult::Damaged;
    }
  }
  s.entryCount = secondaries + 1;
  s.name = Utf16ToUtf8(s.name16, false);
  s.computedChecksum = ExFatSetChecksum(entries.subspan(0, static_cast<std::size_t>(s.entryCount) * kExFatEntrySize));
  return ExFatSetResult::Ok;
}

}  // namespace relictor
