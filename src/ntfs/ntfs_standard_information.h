#pragma once
// The $STANDARD_INFORMATION attribute: the time stamps and attribute flags
// of a file as the file system keeps them up to date. A $FILE_NAME holds a
// copy of the same fields, but Windows refreshes that copy only when the
// file is created, renamed or moved, so after an edit only this attribute
// tells the time the desktop shows.

#include <cstdint>
#include <optional>

#include "volume/endian.h"

namespace relictor {

// The smallest value the file system writes (its first version's layout);
// anything shorter is damaged, even where the fields read here would fit.
inline constexpr std::size_t kNtfsStandardInformationMinimum = 48;

struct NtfsStandardInformation {
  std::uint64_t created = 0;  // FILETIME: 100 ns units since 1601
  std::uint64_t modified = 0;
  std::uint64_t mftChanged = 0;
  std::uint64_t accessed = 0;
  std::uint32_t flags = 0;  // Windows FILE_ATTRIBUTE_ bits
};

// Parses a $STANDARD_INFORMATION value; false when it is shorter than the
// smallest one the file system writes.
bool ParseStandardInformation(ByteSpan value, NtfsStandardInformation& out);

// The record's own $STANDARD_INFORMATION, when it has a sound one: the
// first attribute of that type, unnamed, resident and long enough. None
// otherwise (also for extension records, which never hold one).
std::optional<NtfsStandardInformation> FindStandardInformation(ByteSpan record);

}  // namespace relictor
