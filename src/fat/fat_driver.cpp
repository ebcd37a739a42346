// The FAT reader's volume side: opening, the geometry, and the entries of
// the file allocation table.

#include "fat/fat_driver.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "fat/fat_names.h"

namespace relictor {

CFATDriver::CFATDriver() = default;

// The tree goes first (CVolumeDriver does it), then the sector caches.
CFATDriver::~CFATDriver() = default;

bool CFATDriver::ReadBootSector() {
  if (!ReadFirstSector()) return false;
  if (le16(ByteSpan(bootSector_), 510) != 0xAA55) return Fail("no boot sector signature");
  std::uint32_t clusterBytes = static_cast<std::uint32_t>(le16(ByteSpan(bootSector_), 11)) * le8(ByteSpan(bootSector_), 13);
  if (clusterBytes > 32768) return Fail("cluster larger than 32768 bytes");
  return true;
}

bool CFATDriver::Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) {
  if (!CVolumeDriver::Open(letter, driveType, displayName, borrowed)) return false;
  if (!borrowed && !ReadBootSector()) return false;
  if (!haveBootSector_) return Fail("no boot sector");
  std::string reason;
  if (!ParseFatBootSector(ByteSpan(bootSector_), geometry_, reason)) return Fail(reason);

  const FatGeometry& g = geometry_;
  // FAT32 table entries hold 28 bits, and the values from 0x0FFFFFF7 up
  // are markers: a volume with more clusters than that cannot exist.
  if (g.fatType == kFat32 && g.clusterCount > 0x0FFFFFF5) return Fail("more clusters than FAT32 can number");
  bytesPerSector_ = g.bytesPerSector;
  sectorsPerCluster_ = g.sectorsPerCluster;
  bytesPerCluster_ = g.bytesPerSector * g.sectorsPerCluster;
  clusterCount_ = g.clusterCount;
  fatBuffer_.assign(static_cast<std::size_t>(g.bytesPerSector) * 2, 0);
  dirBuffer_.assign(g.bytesPerSector, 0);
  dataBuffer_.assign(static_cast<std::size_t>(g.bytesPerSector) * 2, 0);
  fatValid_ = dirValid_ = dataValid_ = false;

  firstClusterNumber_ = g.fatType == kFat32 ? 2 : 0;
  rootCluster_ = g.fatType == kFat32 ? g.rootCluster : 0;
  rootDirSector_ = g.fatType == kFat32 ? ClusterToSector(rootCluster_) : g.fatAreaEnd;
  // Data clusters are numbered 2 to clusterCount + 1; the scan range
  // covers all of them, so that the last one can be read and scanned.
  firstCluster_ = 2;
  lastCluster_ = clusterCount_ + 1;
  clusterBuffer_.assign(bytesPerCluster_, 0);
  bufferedCluster_ = kNoCluster;
  CreateRootEntries();
  return true;
}

void CFATDriver::CreateRootEntries() {
  auto root = std::make_unique<CFATDirectory>();
  root->volume = this;
  root->name = displayName_;
  root->status = kStatusExisting;
  root->startCluster = rootCluster_;
  root->startSector = rootDirSector_;
  root_ = std::move(root);

  auto lost = std::make_unique<CFATDirectory>();
  lost->volume = this;
  lost->name = "LostFiles";
  EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  lost->created = lost->modified = lost->accessed = now;
  lost->attributes = 0;
  lost->deleted = true;
  lost->status = kStatusExisting;
  lostFiles_ = root_->Append(std::move(lost));
}

std::string CFATDriver::FileSystemName() const {
  switch (geometry_.fatType) {
    case kFat12:
      return "FAT12";
    case kFat16:
      return "FAT16";
    default:
      return "FAT32";
  }
}

namespace {

// A label field of 11 bytes: trailing spaces go, "NO NAME" stands for no
// label, and control bytes are not kept.
std::string CleanLabel(const std::uint8_t* bytes) {
  std::string raw(reinterpret_cast<const char*>(bytes), 11);
  while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.pop_back();
  for (char& c : raw) {
    if (static_cast<std::uint8_t>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (raw == "NO NAME") return {};
  return Cp437ToUtf8(raw);
}

}  // namespace

std::string CFATDriver::LabelFromRoot() {
  FatDirCursor cursor = StartCursor(rootCluster_, rootDirSector_);
  FatRawEntry e;
  while (ReadRawEntry(cursor, e)) {
    if (e[0] == 0) break;
    if (e[0] == 0xE5) continue;
    std::uint8_t attr = e[11];
    if ((attr & 0x3F) == 0x0F) continue;
    if (attr & 0x08) return CleanLabel(e.data());
  }
  return {};
}

std::string CFATDriver::VolumeLabel() {
  if (!root_) return {};
  std::string label = LabelFromRoot();
  if (!label.empty()) return label;
  // The boot sector's label field is valid only behind the extended boot
  // signature 0x29; older boot sectors have other bytes there.
  ByteSpan b(bootSector_);
  std::size_t sigAt = geometry_.fatType == kFat32 ? 66 : 38;
  if (le8(b, sigAt) != 0x29) return {};
  return CleanLabel(bootSector_.data() + sigAt + 5);
}

std::uint64_t CFATDriver::ClusterToSector(std::uint64_t cluster) const {
  if (!IsDataCluster(cluster)) return ~std::uint64_t{0};
  return static_cast<std::uint64_t>(sectorsPerCluster_) * (cluster - 2) + geometry_.firstDataSector;
}

bool CFATDriver::ReadCachedSector(std::uint64_t sector, std::vector<std::uint8_t>& buffer, std::size_t at,
                                  std::uint64_t& cachedSector, bool& cacheValid) {
  if (cacheValid && cachedSector == sector) return true;
  if (buffer.size() < at + bytesPerSector_) return false;
  if (ReadSectors(sector, buffer.data() + at, bytesPerSector_, 1)) {
    cachedSector = sector;
    cacheValid = true;
    return true;
  }
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(at),
            buffer.begin() + static_cast<std::ptrdiff_t>(at + bytesPerSector_), 0);
  cacheValid = false;
  return false;
}

std::uint32_t CFATDriver::ReadFatEntry(std::uint32_t cluster, std::uint8_t copy) {
  const FatGeometry& g = geometry_;
  if (!IsDataCluster(cluster) || copy >= g.numFats || g.bytesPerSector == 0) return 0;
  std::uint64_t offset, width;
  switch (g.fatType) {
    case kFat12:
      offset = cluster + cluster / 2, width = 2;
      break;
    case kFat16:
      offset = static_cast<std::uint64_t>(cluster) * 2, width = 2;
      break;
    default:
      offset = static_cast<std::uint64_t>(cluster) * 4, width = 4;
      break;
  }
  // A boot sector may claim more clusters than its FAT has entries for;
  // such clusters read as free rather than from whatever follows the FAT.
  if (offset + width > static_cast<std::uint64_t>(g.fatSize) * g.bytesPerSector) return 0;
  std::uint64_t sector = g.reservedSectors + static_cast<std::uint64_t>(copy) * g.fatSize + offset / g.bytesPerSector;
  std::size_t at = static_cast<std::size_t>(offset % g.bytesPerSector);
  ReadCachedSector(sector, fatBuffer_, 0, fatSector_, fatValid_);
  if (at + width > g.bytesPerSector) {
    // A FAT12 entry at the last byte of a sector takes its second byte
    // from the next sector, which is read into the second half.
    if (!ReadSectors(sector + 1, fatBuffer_.data() + g.bytesPerSector, g.bytesPerSector, 1)) {
      std::fill(fatBuffer_.begin() + g.bytesPerSector, fatBuffer_.end(), 0);
    }
  }
  ByteSpan buf(fatBuffer_);
  switch (g.fatType) {
    case kFat12: {
      std::uint16_t v = le16(buf, at);
      return (cluster & 1) ? static_cast<std::uint32_t>(v >> 4) : static_cast<std::uint32_t>(v & 0x0FFF);
    }
    case kFat16:
      return le16(buf, at);
    default:
      return le32(buf, at) & 0x0FFFFFFF;
  }
}

FatValueClass CFATDriver::ClassifyFatValue(std::uint32_t value) const {
  std::uint32_t bad, end;
  switch (geometry_.fatType) {
    case kFat12:
      bad = 0xFF1, end = 0xFF8;
      break;
    case kFat16:
      bad = 0xFFF1, end = 0xFFF8;
      break;
    default:
      value &= 0x0FFFFFFF;
      bad = 0x0FFFFFF1, end = 0x0FFFFFF8;
      break;
  }
  if (value == 0) return kFatFree;
  if (value >= end) return kFatEnd;
  if (value >= bad) return kFatReserved;
  return kFatNext;
}

// Every end-of-chain value ends a chain, the lowest one (0xFF8 and its
// wider forms) included.
bool CFATDriver::IsChainEnd(std::uint32_t value) const { return ClassifyFatValue(value) == kFatEnd; }

std::uint32_t CFATDriver::EntryFirstCluster(const FatRawEntry& e) const {
  ByteSpan s(e);
  std::uint32_t low = le16(s, 26);
  if (geometry_.fatType != kFat32) return low;
  return (static_cast<std::uint32_t>(le16(s, 20)) << 16) | low;
}

}  // namespace relictor
