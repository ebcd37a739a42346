#pragma once
// Attribute headers of MFT records and the walk over a record's
// attributes. A record holds its attributes one after another, each
// starting with its type and its length, up to the end marker 0xFFFFFFFF.
// Resident attributes carry their value inside the record; non-resident
// ones carry the sizes of their data and a list of data runs that says
// which clusters hold it.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ntfs/ntfs_record.h"
#include "volume/endian.h"

namespace relictor {

inline constexpr std::uint32_t kNtfsStandardInformation = 0x10;
inline constexpr std::uint32_t kNtfsAttributeList = 0x20;
inline constexpr std::uint32_t kNtfsFileName = 0x30;
inline constexpr std::uint32_t kNtfsVolumeName = 0x60;
inline constexpr std::uint32_t kNtfsData = 0x80;
inline constexpr std::uint32_t kNtfsBitmap = 0xB0;
inline constexpr std::uint32_t kNtfsEndMarker = 0xFFFFFFFF;

// Attribute header flags.
inline constexpr std::uint16_t kNtfsAttrCompressionMask = 0x00FF;
inline constexpr std::uint16_t kNtfsAttrEncrypted = 0x4000;
inline constexpr std::uint16_t kNtfsAttrSparse = 0x8000;

struct NtfsAttribute {
  std::uint32_t type = 0;
  std::uint32_t length = 0;
  bool nonResident = false;
  std::uint8_t nameLength = 0;  // in UTF-16 units
  std::uint16_t nameOffset = 0;
  std::uint16_t flags = 0;
  std::uint16_t id = 0;

  // Resident attributes.
  std::uint32_t valueLength = 0;
  std::uint16_t valueOffset = 0;

  // Non-resident attributes.
  std::uint64_t startVcn = 0;
  std::uint64_t lastVcn = 0;
  std::uint16_t runsOffset = 0;
  std::uint16_t compressionUnit = 0;  // log2 of the clusters of one unit
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint64_t initializedSize = 0;

  ByteSpan bytes;  // the whole attribute, inside its record

  ByteSpan Value() const { return nonResident ? ByteSpan() : bytes.subspan(valueOffset, valueLength); }
  ByteSpan Runs() const { return nonResident ? bytes.subspan(runsOffset) : ByteSpan(); }
  ByteSpan Name() const { return bytes.subspan(nameOffset, static_cast<std::size_t>(nameLength) * 2); }
  bool IsCompressed() const { return (flags & kNtfsAttrCompressionMask) != 0; }
  bool IsEncrypted() const { return (flags & kNtfsAttrEncrypted) != 0; }
  bool IsSparse() const { return (flags & kNtfsAttrSparse) != 0; }

  // The attribute's sizes: a non-resident attribute's allocated and real
  // size; a resident one's value length for both.
  std::uint64_t AllocatedSize() const { return nonResident ? allocatedSize : valueLength; }
  std::uint64_t RealSize() const { return nonResident ? realSize : valueLength; }
};

// Parses one attribute that starts at the beginning of `bytes` (which runs
// to the end of the record's used part). Every offset and length inside
// the attribute is checked against the attribute's own length, and that
// length against `bytes`.
NtfsParse ParseAttribute(ByteSpan bytes, NtfsAttribute& out);

// Walks the attributes of a record from its first attribute offset. The
// walk ends at the end marker, at the record's used size, or at the first
// attribute whose length is too small or runs past the used size: it can
// neither loop nor read outside the record.
class NtfsAttributeWalk {
 public:
  explicit NtfsAttributeWalk(ByteSpan record);
  // The next attribute; false at the end of the walk.
  bool Next(NtfsAttribute& out);
  // Whether the walk ended at a damaged attribute rather than the end
  // marker or the used size.
  bool Damaged() const { return damaged_; }

 private:
  ByteSpan record_;
  std::size_t offset_ = 0;
  std::size_t limit_ = 0;
  bool done_ = false;
  bool damaged_ = false;
};

// The first attribute of `type` in the record. $FILE_NAME and $DATA must
// also be unnamed: names belong to other kinds of attribute (index names)
// and to the named streams of a file, never to its main data.
std::optional<NtfsAttribute> FindAttribute(ByteSpan record, std::uint32_t type);

// The attribute of `type` whose instance number is `id`, as an attribute
// list names it.
std::optional<NtfsAttribute> FindAttributeById(ByteSpan record, std::uint32_t type, std::uint16_t id);

}  // namespace relictor
