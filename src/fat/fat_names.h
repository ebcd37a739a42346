#pragma once
// Names and times of FAT directory entries: the 8.3 short name, the repair
// of a deleted short name, the long name held in UTF-16 long-name entries,
// and DOS dates and times. Names come out as UTF-8.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "model/entry.h"
#include "volume/endian.h"
#include "volume/text.h"

namespace relictor {

// Kinds of 32-byte directory entries, by their attribute byte: a piece of
// a long name, a folder (not the volume label), a file (neither).
inline bool IsLongNameAttr(std::uint8_t attr) { return (attr & 0x3F) == 0x0F; }
inline bool IsFolderAttr(std::uint8_t attr) { return (attr & 0x10) && !(attr & 0x08); }
inline bool IsFileAttr(std::uint8_t attr) { return !(attr & 0x18); }

// "." and ".." as they stand on disk, space-padded to 11 bytes.
inline bool IsDotEntry(ByteSpan entry) {
  return entry.size() >= 11 && (std::memcmp(entry.data(), ".          ", 11) == 0 ||
                                std::memcmp(entry.data(), "..         ", 11) == 0);
}

// The raw bytes of an 8.3 name: the 8 name bytes without their spaces,
// then "." and the extension bytes without their spaces when the extension
// is not empty. The bytes are not decoded; `entry` is one 32-byte entry.
std::string ShortNameBytes(ByteSpan entry);

// Gives a deleted short name (raw bytes, first byte lost) its replacement
// character: a second byte of 0x80 or above belongs to a double-byte first
// character, which loses both of its bytes to the one replacement.
std::string RepairDeletedShortName(const std::string& raw, char replacement);

// Decodes short-name bytes for display: bytes of 0x80 and above are code
// page 437 characters, the rest are taken as they are.
std::string Cp437ToUtf8(std::string_view bytes);

// A DOS date and time read as local time (daylight saving unknown, fields
// out of range rolling over into the next unit). A date of 0 means the
// time was never set and gives kNoTime.
EntryTime DosDateTimeToTime(std::uint16_t date, std::uint16_t time);

}  // namespace relictor
