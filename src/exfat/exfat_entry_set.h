#pragma once
// Directory entry sets: a File entry followed by its secondary entries, a
// Stream Extension (where the data lies and how long it is) and File Name
// entries of 15 characters each, closed by a checksum over the whole set.
// A deleted set keeps every byte; only the in-use bit of each entry's type
// is cleared, so its whole name and both lengths are still there.

#include <cstdint>
#include <string>

#include "model/entry.h"
#include "volume/endian.h"

namespace relictor {

class ExFatUpcaseTable;

inline constexpr std::size_t kExFatEntrySize = 32;

// Entry types with the in-use bit (0x80) set; a deleted entry has the
// same type without it.
enum ExFatEntryType : std::uint8_t {
  kExFatEndOfDirectory = 0x00,
  kExFatInUse = 0x80,
  kExFatBitmapEntry = 0x81,
  kExFatUpcaseEntry = 0x82,
  kExFatLabelEntry = 0x83,
  kExFatFileEntry = 0x85,
  kExFatGuidEntry = 0xA0,
  kExFatStreamEntry = 0xC0,
  kExFatNameEntry = 0xC1,
};

inline constexpr std::uint16_t kExFatAttrDirectory = 0x10;
inline constexpr std::uint8_t kExFatAllocationPossible = 0x01;
inline constexpr std::uint8_t kExFatNoFatChain = 0x02;

// A File entry's time: the packed local date and time (two-second steps),
// the 10 ms steps that add up to 1.99 s, and the offset from UTC in
// 15-minute steps (bit 7 says whether the offset is known).
struct ExFatTimestamp {
  std::uint32_t packed = 0;
  std::uint8_t tenMs = 0;
  std::uint8_t utcOffset = 0;
};

// Seconds since 1970 UTC; the local time of this machine when the volume
// kept no offset; kNoTime for a date of 0 or one that does not exist.
EntryTime ExFatTimeToEntryTime(const ExFatTimestamp& t);
// The time as the volume keeps it, "2023/05/06 07:08:09.57 UTC+02:00", with
// "local" in place of the offset when the volume kept none; empty for a
// date of 0.
std::string ExFatTimeText(const ExFatTimestamp& t);
// Milliseconds within the second, 0 to 1990, for displays that show them.
std::uint32_t ExFatTimeMilliseconds(const ExFatTimestamp& t);

struct ExFatEntrySet {
  bool deleted = false;
  std::uint32_t entryCount = 0;  // the File entry and its secondaries
  std::uint16_t attributes = 0;
  ExFatTimestamp created, modified, accessed;
  std::uint8_t streamFlags = 0;
  std::uint8_t nameLength = 0;
  std::uint16_t nameHash = 0;
  std::uint64_t validDataLength = 0;
  std::uint32_t firstCluster = 0;
  std::uint64_t dataLength = 0;
  std::u16string name16;
  std::string name;  // UTF-8
  std::uint16_t storedChecksum = 0;
  std::uint16_t computedChecksum = 0;

  bool IsFolder() const { return (attributes & kExFatAttrDirectory) != 0; }
  bool NoFatChain() const { return (streamFlags & kExFatNoFatChain) != 0; }
  bool ChecksumMatches() const { return storedChecksum == computedChecksum; }
};

enum class ExFatSetResult {
  NotASet,  // the entry is no File entry (in use or deleted)
  Damaged,  // a File entry whose secondaries do not make a readable set
  Ok,
};

// Reads the set whose File entry starts `entries` (the rest of a folder's
// entries). A set is read when the Stream Extension follows the File
// entry and enough File Name entries follow it for the name's length, all
// in the same state (in use or deleted) as the File entry. The secondary
// count is not trusted beyond that: a count too small for the name, or
// running past the end of the folder, makes the set damaged. A checksum
// that does not match is reported in the set, not rejected here.
ExFatSetResult ParseExFatEntrySet(ByteSpan entries, ExFatEntrySet& out, std::string& reason);

// The checksum of a set's bytes (the File entry's own checksum field left
// out).
std::uint16_t ExFatSetChecksum(ByteSpan set);

// Whether the byte is the type of an entry a folder can hold, in use or
// deleted (the deep scan judges clusters by it).
bool IsKnownExFatEntryType(std::uint8_t type);

}  // namespace relictor
