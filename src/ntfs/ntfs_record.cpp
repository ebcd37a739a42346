#include "ntfs/ntfs_record.h"

#include <algorithm>
#include <cstring>

namespace relictor {
namespace {

void SetReason(std::string* reason, const char* text) {
  if (reason) *reason = text;
}

void StoreLe32(std::span<std::uint8_t> s, std::size_t offset, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) s[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool HasFileSignature(ByteSpan record) { return record.size() >= 4 && std::memcmp(record.data(), "FILE", 4) == 0; }

NtfsParse ParseRecordHeader(ByteSpan r, NtfsRecordHeader& h, std::string* reason) {
  h = NtfsRecordHeader{};
  if (!HasFileSignature(r)) return SetReason(reason, "no FILE signature"), NtfsParse::NotThisStructure;
  if (r.size() < kNtfsMinRecordHeader) return SetReason(reason, "record shorter than its header"), NtfsParse::Damaged;
  h.usaOffset = le16(r, 4);
  h.usaCount = le16(r, 6);
  h.sequence = le16(r, 16);
  h.linkCount = le16(r, 18);
  h.firstAttribute = le16(r, 20);
  h.flags = le16(r, 22);
  h.usedSize = le32(r, 24);
  h.allocatedSize = le32(r, 28);
  h.baseReference = le64(r, 32);
  h.baseRecord = NtfsRecordOfReference(h.baseReference);
  // Records of older versions end their header at 0x2A, where the update
  // sequence array then starts; only a longer header holds the number.
  h.hasRecordNumber = h.usaOffset >= 48 && h.firstAttribute >= 48 && r.size() >= 48;
  h.recordNumber = h.hasRecordNumber ? le32(r, 44) : 0;

  if (h.firstAttribute < kNtfsMinRecordHeader || h.firstAttribute >= r.size()) {
    return SetReason(reason, "first attribute outside the record"), NtfsParse::Damaged;
  }
  std::size_t used = std::min<std::size_t>(h.usedSize, r.size());
  // The end marker (four bytes, usually eight) must fit behind the first
  // attribute offset.
  if (used < static_cast<std::size_t>(h.firstAttribute) + 4) {
    return SetReason(reason, "used size leaves no room for attributes"), NtfsParse::Damaged;
  }
  h.attributeLimit = used;
  return NtfsParse::Ok;
}

NtfsFixupResult ApplyFixups(std::span<std::uint8_t> r) {
  NtfsFixupResult result;
  auto reject = [&](NtfsParse status) {
    if (r.size() >= 4) std::memset(r.data(), 0, 4);
    result.status = status;
    result.intactBytes = 0;
    return result;
  };
  if (!HasFileSignature(r)) return reject(NtfsParse::NotThisStructure);
  if (r.size() < kNtfsMinRecordHeader) return reject(NtfsParse::Damaged);
  ByteSpan s(r.data(), r.size());
  const std::size_t a = le16(s, 4);
  const std::size_t n = le16(s, 6);
  const std::size_t strides = r.size() / kNtfsFixupStride;
  // The array holds the check value and one saved word per stride; it must
  // lie inside the header area and cannot name more strides than the
  // record has.
  if (n == 0 || n - 1 > strides || a < 0x28 || a + 2 * n > r.size() || a + 2 * n > kNtfsFixupStride - 2) {
    return reject(NtfsParse::Damaged);
  }
  const std::uint16_t check = le16(s, a);
  std::size_t intact = r.size();
  for (std::size_t i = 1; i < n; ++i) {
    const std::size_t at = i * kNtfsFixupStride - 2;
    if (le16(s, at) != check && intact == r.size()) intact = (i - 1) * kNtfsFixupStride;
    r[at] = r[a + 2 * i];
    r[at + 1] = r[a + 2 * i + 1];
  }
  if (intact == 0) return reject(NtfsParse::Damaged);
  result.intactBytes = intact;
  if (intact < r.size()) {
    result.torn = true;
    if (r.size() >= 28 && le32(s, 24) > intact) StoreLe32(r, 24, static_cast<std::uint32_t>(intact));
  }
  return result;
}

}  // namespace relictor
