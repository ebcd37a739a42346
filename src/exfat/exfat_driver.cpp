// The exFAT reader's volume side: opening through the main or the backup
// boot region, and the root folder's entries that place the allocation
// bitmap and the up-case table and hold the label.

#include "exfat/exfat_driver.h"

#include <algorithm>
#include <ctime>

#include "exfat/exfat_label.h"
#include "scan/signatures.h"
#include "volume/checked.h"

namespace relictor {

CExFATDriver::CExFATDriver() = default;

CExFATDriver::~CExFATDriver() = default;

bool CExFATDriver::ReadBootSector() { return ReadFirstSector(); }

void CExFATDriver::NoteProblem(std::string text) {
  if (problems_.size() < kMaxProblems) problems_.push_back(std::move(text));
}

bool CExFATDriver::TryBootRegion(std::uint64_t firstSector, std::uint32_t bps, ExFatGeometry& g) {
  std::vector<std::uint8_t> region(static_cast<std::size_t>(bps) * kExFatBootRegionSectors);
  if (!ReadSectors(firstSector, region.data(), bps, kExFatBootRegionSectors)) return false;
  if (!ExFatBootRegionIsValid(ByteSpan(region), bps)) return false;
  std::string reason;
  ExFatGeometry found;
  if (!ParseExFatBootSector(ByteSpan(region.data(), 512), found, reason) || found.BytesPerSector() != bps) {
    return false;
  }
  g = found;
  std::copy_n(region.begin(), bootSector_.size(), bootSector_.begin());
  return true;
}

bool CExFATDriver::Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) {
  if (!CVolumeDriver::Open(letter, driveType, displayName, borrowed)) return false;
  if (!borrowed && !ReadBootSector()) return false;
  if (!haveBootSector_) return Fail("no boot sector");

  ExFatGeometry g;
  std::string reason;
  const bool mainParses = ParseExFatBootSector(ByteSpan(bootSector_), g, reason);
  bootChecksumOk_ = mainParses && TryBootRegion(0, g.BytesPerSector(), g);
  if (!bootChecksumOk_) {
    // The backup region has the volume's sector size too; when the main
    // boot sector cannot say what that is, every size is tried.
    bool found = false;
    for (std::uint32_t shift = 9; shift <= 12 && !found; ++shift) {
      const std::uint32_t bps = 1u << shift;
      if (mainParses && bps != g.BytesPerSector()) continue;
      found = TryBootRegion(kExFatBootRegionSectors, bps, g);
    }
    if (found) {
      usedBackup_ = true;
      NoteProblem("the main boot region is damaged; the backup boot region was read");
    } else if (mainParses) {
      NoteProblem("the boot region checksum does not match; the boot sector was read as it is");
    } else {
      return Fail(reason);
    }
  }
  geometry_ = g;
  bytesPerSector_ = g.BytesPerSector();
  sectorsPerCluster_ = g.SectorsPerCluster();
  bytesPerCluster_ = g.BytesPerCluster();
  clusterCount_ = g.clusterCount;
  firstCluster_ = 2;
  lastCluster_ = clusterCount_ + 1;
  clusterBuffer_.assign(bytesPerCluster_, 0);
  bufferedCluster_ = kNoCluster;
  fat_ = ExFatFatCache{};
  ReadRootMetadata();
  CreateRootEntries();
  return true;
}

void CExFATDriver::ReadRootMetadata() {
  const std::vector<std::uint8_t> root = ReadFolder(RootStream());
  const ByteSpan all(root);
  bool haveBitmap = false, haveUpcase = false;
  for (std::size_t at = 0; at + kExFatEntrySize <= all.size(); at += kExFatEntrySize) {
    const ByteSpan e = all.subspan(at, kExFatEntrySize);
    if (e[0] == kExFatEndOfDirectory) break;
    if (e[0] == kExFatLabelEntry && label_.empty()) {
      label_ = ParseExFatLabel(e);
    } else if (e[0] == kExFatBitmapEntry && !haveBitmap) {
      ExFatBitmapEntry entry;
      // With two FATs there are two bitmaps; the first is the one in use
      // unless the volume flags say otherwise, and either describes the
      // volume well enough for reading.
      if (!ParseExFatBitmapEntry(e, entry)) continue;
      haveBitmap = true;
      const std::uint64_t need = (static_cast<std::uint64_t>(clusterCount_) + 7) / 8;
      const std::uint64_t deviceBytes = device_ ? device_->Size() : 0;
      // The bitmap holds one bit per cluster, rounded up to whole bytes;
      // a length beyond the clusters that hold it is no bitmap's.
      const std::uint64_t bpc = bytesPerCluster_;
      if (entry.dataLength < need || entry.dataLength > (need + bpc - 1) / bpc * bpc || need > deviceBytes) {
        NoteProblem("the allocation bitmap does not cover the volume's clusters");
        continue;
      }
      ExFatStream s{entry.firstCluster, need, need, false};
      std::string why;
      if (!bitmap_.Load(ReadWholeStream(s, need), static_cast<std::uint32_t>(clusterCount_), why)) NoteProblem(why);
    } else if (e[0] == kExFatUpcaseEntry && !haveUpcase) {
      haveUpcase = true;
      const std::uint32_t checksum = le32(e, 4);
      const std::uint32_t first = le32(e, 20);
      const std::uint64_t length = le64(e, 24);
      // A full table has 65536 entries of two bytes; nothing larger is a
      // table.
      if (length == 0 || length > 2 * 65536) {
        NoteProblem("the up-case table has an impossible length");
        continue;
      }
      const std::vector<std::uint8_t> stored = ReadWholeStream(ExFatStream{first, length, length, false}, length);
      std::string why;
      if (stored.size() != length) {
        NoteProblem("the up-case table cannot be read");
      } else if (ExFatUpcaseChecksum(ByteSpan(stored)) != checksum) {
        NoteProblem("the up-case table checksum does not match");
      } else if (!upcase_.Parse(ByteSpan(stored), why)) {
        NoteProblem(why);
      }
    }
  }
  if (!haveBitmap) NoteProblem("the root folder names no allocation bitmap");
  if (upcase_.Empty()) upcase_.UseAsciiOnly();
}

void CExFATDriver::CreateRootEntries() {
  auto root = std::make_unique<CExFATDirectory>();
  root->volume = this;
  root->name = displayName_;
  root->status = kStatusExisting;
  root->isRoot = true;
  root->stream = RootStream();
  root->attributes = kExFatAttrDirectory;
  root_ = std::move(root);

  auto lost = std::make_unique<CExFATDirectory>();
  lost->volume = this;
  lost->name = "LostFiles";
  const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  lost->created = lost->modified = lost->accessed = now;
  lost->deleted = true;
  lost->status = kStatusExisting;
  lostFiles_ = root_->Append(std::move(lost));
}

std::uint64_t CExFATDriver::ClusterToSector(std::uint64_t cluster) const {
  if (!IsDataCluster(cluster)) return ~std::uint64_t{0};
  return geometry_.clusterHeapOffset + ((cluster - 2) << geometry_.sectorsPerClusterShift);
}

std::uint64_t CExFATDriver::ClustersFor(std::uint64_t bytes) const {
  if (bytesPerCluster_ == 0) return 0;
  return bytes / bytesPerCluster_ + (bytes % bytesPerCluster_ != 0 ? 1 : 0);
}

bool CExFATDriver::AcceptSet(const ExFatEntrySet& set) {
  if (set.ChecksumMatches()) return true;
  if (ExFatNameHash(set.name16, upcase_) == set.nameHash) return true;
  ++skippedSets_;
  if (skippedSets_ == 1) NoteProblem("entry sets whose checksum and name hash do not match were skipped");
  return false;
}

bool CExFATDriver::RunIsFree(std::uint32_t first, std::uint64_t clusters) const {
  if (!IsDataCluster(first)) return false;
  if (clusters > clusterCount_ + 2 - first) return false;
  for (std::uint64_t i = 0; i < clusters; ++i) {
    if (bitmap_.InUse(first + i)) return false;
  }
  return true;
}

std::uint32_t CExFATDriver::RateDeleted(const ExFatStream& stream, CDirEntry* file) {
  if (stream.dataLength == 0) return kStatusGood;
  if (!IsDataCluster(stream.firstCluster)) return kStatusPoor;
  // Any cluster of the run that a newer file took, or a run that would
  // reach past the volume, leaves the data incomplete.
  if (bitmap_.Loaded() && !RunIsFree(stream.firstCluster, ClustersFor(stream.dataLength))) return kStatusPoor;
  if (!file) return kStatusGood;
  return RateDeletedFile(*this, stream.firstCluster, file);
}

}  // namespace relictor
