#include "ntfs/ntfs_attribute.h"

namespace relictor {
namespace {

// Header sizes: resident attributes have 24 bytes before their name and
// value, non-resident ones 64.
constexpr std::size_t kResidentHeader = 24;
constexpr std::size_t kNonResidentHeader = 64;

bool WantsUnnamed(std::uint32_t type) { return type == kNtfsFileName || type == kNtfsData; }

}  // namespace

NtfsParse ParseAttribute(ByteSpan b, NtfsAttribute& a) {
  a = NtfsAttribute{};
  if (b.size() < 8) return NtfsParse::Damaged;
  a.type = le32(b, 0);
  if (a.type == kNtfsEndMarker) return NtfsParse::NotThisStructure;
  a.length = le32(b, 4);
  if (a.length < kResidentHeader || a.length > b.size()) return NtfsParse::Damaged;
  ByteSpan s = b.first(a.length);
  a.nonResident = le8(s, 8) != 0;
  a.nameLength = le8(s, 9);
  a.nameOffset = le16(s, 10);
  a.flags = le16(s, 12);
  a.id = le16(s, 14);
  if (a.nameLength != 0 && !InBounds(s, a.nameOffset, static_cast<std::size_t>(a.nameLength) * 2)) {
    return NtfsParse::Damaged;
  }
  if (!a.nonResident) {
    a.valueLength = le32(s, 16);
    a.valueOffset = le16(s, 20);
    if (a.valueOffset < kResidentHeader && a.valueLength != 0) return NtfsParse::Damaged;
    if (!InBounds(s, a.valueOffset, a.valueLength)) return NtfsParse::Damaged;
  } else {
    if (a.length < kNonResidentHeader) return NtfsParse::Damaged;
    a.startVcn = le64(s, 16);
    a.lastVcn = le64(s, 24);
    a.runsOffset = le16(s, 32);
    a.compressionUnit = le16(s, 34);
    a.allocatedSize = le64(s, 40);
    a.realSize = le64(s, 48);
    a.initializedSize = le64(s, 56);
    // An extent that ends before it starts holds no clusters; the empty
    // range (last VCN one below the start, as in empty files) is allowed.
    if (a.lastVcn != ~std::uint64_t{0} && a.lastVcn + 1 < a.startVcn) return NtfsParse::Damaged;
    if (a.runsOffset < kNonResidentHeader || a.runsOffset > a.length) return NtfsParse::Damaged;
  }
  a.bytes = s;
  return NtfsParse::Ok;
}

NtfsAttributeWalk::NtfsAttributeWalk(ByteSpan record) : record_(record) {
  NtfsRecordHeader h;
  if (ParseRecordHeader(record, h) != NtfsParse::Ok) {
    done_ = true;
    damaged_ = HasFileSignature(record);
    return;
  }
  offset_ = h.firstAttribute;
  limit_ = h.attributeLimit;
}

bool NtfsAttributeWalk::Next(NtfsAttribute& out) {
  if (done_) return false;
  // Each attribute is at least a resident header long, so the walk moves
  // forward by at least that much and ends at the used size.
  if (offset_ + 4 > limit_) {
    done_ = true;
    return false;
  }
  if (le32(record_, offset_) == kNtfsEndMarker) {
    done_ = true;
    return false;
  }
  NtfsParse p = ParseAttribute(record_.subspan(offset_, limit_ - offset_), out);
  if (p != NtfsParse::Ok) {
    done_ = true;
    damaged_ = true;
    return false;
  }
  offset_ += out.length;
  return true;
}

std::optional<NtfsAttribute> FindAttribute(ByteSpan record, std::uint32_t type) {
  NtfsAttributeWalk walk(record);
  NtfsAttribute a;
  while (walk.Next(a)) {
    if (a.type != type) continue;
    if (WantsUnnamed(type) && a.nameLength != 0) continue;
    return a;
  }
  return std::nullopt;
}

std::optional<NtfsAttribute> FindAttributeById(ByteSpan record, std::uint32_t type, std::uint16_t id) {
  NtfsAttributeWalk walk(record);
  NtfsAttribute a;
  while (walk.Next(a)) {
    if (a.type == type && a.id == id) return a;
  }
  return std::nullopt;
}

}  // namespace relictor
