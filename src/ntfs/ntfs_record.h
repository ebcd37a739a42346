#pragma once
// The header of an MFT record and its update sequence ("fixups"). Every
// record of the master file table starts with "FILE" and a small header;
// the last two bytes of each 512-byte stride of the record are kept in an
// array near the start while the record lies on disk, and a check value
// stands in their place, so that a record written only in part can be told
// from a whole one.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "volume/endian.h"

namespace relictor {

inline constexpr std::uint16_t kNtfsRecordInUse = 0x0001;
inline constexpr std::uint16_t kNtfsRecordDirectory = 0x0002;
// The stride of the update sequence is 512 bytes whatever the sector size.
inline constexpr std::size_t kNtfsFixupStride = 512;
// Smallest header that holds every field up to the first attribute offset
// and the flags (older records end their header at 0x2A).
inline constexpr std::size_t kNtfsMinRecordHeader = 0x2A;

// A 48-bit record number from a 64-bit file reference (the top 16 bits are
// the sequence number).
inline constexpr std::uint64_t NtfsRecordOfReference(std::uint64_t reference) {
  return reference & 0x0000FFFFFFFFFFFFull;
}

enum class NtfsParse {
  Ok,
  NotThisStructure,  // no "FILE" signature, or not a record at all
  Damaged,           // looks like one, but its fields contradict each other
};

struct NtfsRecordHeader {
  std::uint16_t usaOffset = 0;
  std::uint16_t usaCount = 0;
  std::uint16_t sequence = 0;
  std::uint16_t linkCount = 0;
  std::uint16_t firstAttribute = 0;
  std::uint16_t flags = 0;
  std::uint32_t usedSize = 0;
  std::uint32_t allocatedSize = 0;
  // The file reference of the base record, 0 in a base record. The
  // extensions of the $MFT file itself name record 0 with a sequence
  // number, so it is the whole reference that tells them apart.
  std::uint64_t baseReference = 0;
  std::uint64_t baseRecord = 0;  // its 48-bit record number
  bool hasRecordNumber = false;  // the header is long enough for offset 44
  std::uint32_t recordNumber = 0;
  // Where the attribute walk must end: the used size, never past the
  // record's buffer.
  std::size_t attributeLimit = 0;

  bool InUse() const { return (flags & kNtfsRecordInUse) != 0; }
  bool IsDirectory() const { return (flags & kNtfsRecordDirectory) != 0; }
  bool IsExtension() const { return baseReference != 0; }
};

// Whether the bytes start with the "FILE" signature.
bool HasFileSignature(ByteSpan record);

// Parses the header of a record whose fixups have been applied. A record
// whose first attribute lies outside it, or whose used size does not
// leave room for the end marker, is damaged; a used size larger than the
// record is cut to the record.
NtfsParse ParseRecordHeader(ByteSpan record, NtfsRecordHeader& out, std::string* reason = nullptr);

struct NtfsFixupResult {
  NtfsParse status = NtfsParse::Ok;
  // Bytes from the start of the record that are known to be written
  // together: the whole record, or the strides before the first one whose
  // check value does not match (a torn record).
  std::size_t intactBytes = 0;
  bool torn = false;
};

// Restores the last two bytes of every 512-byte stride from the update
// sequence array, in place.
//
// A stride whose check value differs from the update sequence number was
// not written together with the first one: the record was torn by an
// interrupted write, and what lies from that stride on may belong to an
// older version of the record. Such a record is kept up to its first torn
// stride: its used size in this copy is lowered to there, so every later
// walk over it ends before the stale part. A record whose own first stride
// does not check, or whose update sequence array does not fit, is not
// taken for a record: its signature is cleared in this copy.
NtfsFixupResult ApplyFixups(std::span<std::uint8_t> record);

}  // namespace relictor
