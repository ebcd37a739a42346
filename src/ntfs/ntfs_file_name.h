#pragma once
// The $FILE_NAME attribute: a name of a file in one folder (a file has one
// per hard link, and often a short DOS name beside its long one), with the
// folder's record number, time stamps, sizes and attribute flags as the
// folder's index last saw them. Also the conversions of its fields: NTFS
// times to seconds since 1970, UTF-16 names to UTF-8.

#include <cstdint>
#include <string>

#include "model/entry.h"
#include "volume/endian.h"

namespace relictor {

enum NtfsNameSpace : std::uint8_t {
  kNtfsPosixName = 0,
  kNtfsWin32Name = 1,
  kNtfsDosName = 2,
  kNtfsWin32AndDosName = 3,
};

inline constexpr std::uint32_t kNtfsFileAttrSystem = 0x0004;
// Set in a folder's $FILE_NAME flags: the folder has an index of names.
inline constexpr std::uint32_t kNtfsFileAttrNameIndex = 0x10000000;

// The fixed part of a $FILE_NAME value, in front of the name.
inline constexpr std::size_t kNtfsFileNameHeader = 66;

struct NtfsFileName {
  std::uint64_t parent = 0;  // 48-bit record number of the folder
  std::uint16_t parentSequence = 0;
  std::uint64_t created = 0;  // FILETIME: 100 ns units since 1601
  std::uint64_t modified = 0;
  std::uint64_t mftChanged = 0;
  std::uint64_t accessed = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint32_t flags = 0;
  std::uint8_t nameLength = 0;  // UTF-16 units
  std::uint8_t nameSpace = 0;
  ByteSpan name;  // UTF-16LE, nameLength units, inside the value

  // A long name that Windows shows (Win32, or Win32 and DOS at once).
  bool IsWin32() const { return nameSpace == kNtfsWin32Name || nameSpace == kNtfsWin32AndDosName; }
  bool StartsWith(char16_t c) const { return nameLength > 0 && le16(name, 0) == c; }
};

// Parses a $FILE_NAME value; false when it is shorter than its fixed part
// or than the name it announces.
bool ParseFileName(ByteSpan value, NtfsFileName& out);

// Seconds since 1970-01-01 UTC of an NTFS time (rounded down to the
// second); kNoTime for 0, which stands for "never set".
EntryTime FileTimeToEntryTime(std::uint64_t fileTime);

// UTF-16LE to UTF-8. A surrogate half without its partner becomes U+FFFD.
std::string NtfsNameToUtf8(ByteSpan utf16);

}  // namespace relictor
