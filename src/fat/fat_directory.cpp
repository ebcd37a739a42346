// FAT directories: walking their entries, rebuilding long names and
// deleted short names, and turning them into folder and file entries.

#include <algorithm>
#include <cstring>

#include "fat/fat_driver.h"
#include "fat/fat_names.h"
#include "scan/deep_scan.h"
#include "scan/signatures.h"

namespace relictor {
namespace {

// Whether an entry can begin a long-name run.
bool StartsLongName(const FatRawEntry& e) {
  std::uint8_t attr = e[11];
  bool attrOk = attr == 0x0F || attr == 0x4F || attr == 0x8F || attr == 0xCF;
  return attrOk && le16(ByteSpan(e), 26) == 0 && (e[0] & 0x40);
}

// The 13 UTF-16 characters a long-name entry holds, in name order.
constexpr std::size_t kLongNameOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

constexpr int kMaxLongNameEntries = 18;

}  // namespace

FatDirCursor CFATDriver::StartCursor(std::uint32_t cluster, std::uint64_t sector, std::uint32_t index) const {
  FatDirCursor c;
  c.cluster = cluster;
  c.sector = sector;
  c.index = index;
  c.loop = ChainLoopGuard(cluster);
  return c;
}

bool CFATDriver::ReadDirSector(std::uint64_t sector) {
  return ReadCachedSector(sector, dirBuffer_, 0, dirSector_, dirValid_);
}

bool CFATDriver::ReadRawEntry(FatDirCursor& cursor, FatRawEntry& entry) {
  if (bytesPerSector_ < 32 || bytesPerCluster_ < 32) return false;
  const std::uint32_t perSector = bytesPerSector_ / 32;
  std::uint64_t sector;
  if (cursor.cluster != 0) {
    if (!IsDataCluster(cursor.cluster)) return false;
    if (cursor.index >= bytesPerCluster_ / 32) {
      // A chain ends at an end marker, at a value that names no cluster,
      // after as many clusters as the volume has, or where it loops.
      if (cursor.steps >= clusterCount_) return false;
      std::uint32_t next = ReadFatEntry(cursor.cluster, 0);
      if (!IsDataCluster(next) || IsChainEnd(next)) return false;
      ++cursor.steps;
      if (cursor.loop.Loops(next)) return false;
      cursor.cluster = next;
      cursor.index = 0;
    }
    sector = ClusterToSector(cursor.cluster) + (static_cast<std::uint64_t>(cursor.index) * 32) / bytesPerSector_;
  } else {
    // The fixed root region of FAT12 and FAT16, sector after sector.
    if (cursor.index >= perSector) {
      cursor.index = 0;
      ++cursor.sector;
    }
    if (cursor.sector < rootDirSector_ || cursor.sector >= rootDirSector_ + geometry_.rootDirSectors) return false;
    sector = cursor.sector;
  }
  // A sector that cannot be read ends the directory: its bytes are not
  // known, and guessing at them would make entries up.
  if (!ReadDirSector(sector)) return false;
  std::size_t at = static_cast<std::size_t>(cursor.index % perSector) * 32;
  std::memcpy(entry.data(), dirBuffer_.data() + at, entry.size());
  ++cursor.index;
  return true;
}

bool CFATDriver::BuildLongName(FatDirCursor& cursor, FatRawEntry& entry, std::string& name, bool& ranIntoNextRun) {
  ranIntoNextRun = false;
  if (!StartsLongName(entry)) return false;
  const std::uint8_t checksum = entry[13];
  std::u16string chars;
  bool lastReadOk = true;
  for (int taken = 0; taken < kMaxLongNameEntries;) {
    if (le16(ByteSpan(entry), 26) != 0 || entry[13] != checksum) {
      ranIntoNextRun = taken > 0 && StartsLongName(entry);
      break;
    }
    std::u16string part;
    for (std::size_t off : kLongNameOffsets) part += static_cast<char16_t>(le16(ByteSpan(entry), off));
    chars.insert(0, part);
    if (++taken == kMaxLongNameEntries) break;
    lastReadOk = ReadRawEntry(cursor, entry);
    if (!lastReadOk || !IsLongNameAttr(entry[11])) break;
  }
  name = Utf16ToUtf8(chars);
  return lastReadOk;
}

bool CFATDriver::ReadEntry(FatDirCursor& cursor, FatRawEntry& entry, std::string& name, bool includeDeleted) {
  for (;;) {
    if (!ReadRawEntry(cursor, entry)) return false;
    if (entry[0] == 0) return false;
    if (entry[0] != 0xE5 || includeDeleted) break;
  }
  const char replace = GetHost().settings.replaceChar;
  auto shortName = [&](const FatRawEntry& e) {
    bool deleted = e[0] == 0xE5;
    FatRawEntry shown = e;
    // A first byte of 0x05 stands for a name whose first character is
    // 0xE5, which would otherwise read as deleted.
    if (!deleted && shown[0] == 0x05) shown[0] = 0xE5;
    std::string raw = ShortNameBytes(ByteSpan(shown));
    if (deleted && includeDeleted) raw = RepairDeletedShortName(raw, replace);
    return Cp437ToUtf8(raw);
  };
  if (IsLongNameAttr(entry[11])) {
    std::string longName;
    bool ranIntoNextRun = false;
    bool built = BuildLongName(cursor, entry, longName, ranIntoNextRun);
    // A run that ends in the first entry of a run with another checksum
    // ran into the next name: that name is built afresh from there, so the
    // file behind it keeps its long name. Each build reads at least one
    // entry further, so this ends.
    while (built && ranIntoNextRun) built = BuildLongName(cursor, entry, longName, ranIntoNextRun);
    if (built) {
      // The entry after the run ends the directory when its first byte
      // is 0; its bytes are not an entry.
      if (entry[0] == 0) return false;
      name = longName.empty() ? shortName(entry) : longName;
      return true;
    }
    name = shortName(entry);
    return true;
  }
  name = shortName(entry);
  return true;
}

bool CFATDriver::IsDirectoryCluster(std::uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  FatDirCursor cursor = StartCursor(cluster, 0);
  FatRawEntry a, b;
  if (!ReadRawEntry(cursor, a) || !ReadRawEntry(cursor, b)) return false;
  return (a[11] & 0x10) && std::memcmp(a.data(), ".          ", 11) == 0 && (b[11] & 0x10) &&
         std::memcmp(b.data(), "..         ", 11) == 0;
}

std::uint32_t CFATDriver::RateEntry(std::uint32_t cluster, bool deleted, CFATFile* file) {
  if (!deleted) return kStatusExisting;
  // A first cluster past the end of the volume holds nothing to recover.
  if (!IsDataCluster(cluster)) return kStatusPoor;
  if (ReadFatEntry(cluster, 0) != 0) return kStatusPoor;
  if (!file) return kStatusGood;
  return RateDeletedFile(*this, cluster, file);
}

CFATDriver* CFATDirectory::Driver() const { return dynamic_cast<CFATDriver*>(volume); }

bool CFATDirectory::IsLostFilesFolder() const { return volume != nullptr && volume->GetLostFiles() == this; }

bool CFATDirectory::GetFirstCluster(std::uint64_t& cluster) const {
  if (startCluster < 2) return false;
  cluster = startCluster;
  return true;
}

namespace {

// Whether a folder entry pointing at `cluster` would be the folder itself
// or one of the folders above it: such an entry would make the tree
// endless, so it is not listed.
bool IsOwnOrAncestorCluster(const CFATDirectory* folder, std::uint32_t cluster) {
  return IsSelfOrAncestor(folder, [&](const CDirEntry& f) {
    auto* d = dynamic_cast<const CFATDirectory*>(&f);
    return d && d->startCluster == cluster;
  });
}

}  // namespace

bool CFATDirectory::HasSubfolders(bool includeDeleted) {
  if (IsLostFilesFolder()) return true;
  if (rebuilt && populated) {
    for (const auto& child : children) {
      if (child && child->IsFolder()) return true;
    }
    return false;
  }
  CFATDriver* d = Driver();
  if (!d) return false;
  FatDirCursor cursor = d->StartCursor(startCluster, startSector);
  FatRawEntry e;
  std::string entryName;
  while (d->ReadEntry(cursor, e, entryName, includeDeleted)) {
    if (!IsFolderAttr(e[11]) || IsLongNameAttr(e[11]) || IsDotEntry(e)) continue;
    std::uint32_t first = d->EntryFirstCluster(e);
    if (IsOwnOrAncestorCluster(this, first)) continue;
    if (e[0] != 0xE5 || d->IsDirectoryCluster(first)) return true;
  }
  return false;
}

void CFATDirectory::Populate(bool includeDeleted, bool deletedFilesOnly, bool force) {
  if (!StartPopulate(*this, force)) return;
  CFATDriver* d = Driver();
  if (!d) return;
  if (rebuilt) {
    d->PopulateRebuilt(*this, nullptr, 0);
    return;
  }
  MakeEntries(*d, includeDeleted, deletedFilesOnly, [this](std::unique_ptr<CDirEntry> entry) {
    Append(std::move(entry));
    return true;
  });
}

bool CFATDirectory::StreamEntries(bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) {
  CFATDriver* d = Driver();
  if (!d || populated || rebuilt || IsLostFilesFolder() || this == d->GetRoot()) return false;
  MakeEntries(*d, includeDeleted, deletedFilesOnly, take);
  return true;
}

void CFATDirectory::MakeEntries(CFATDriver& dr, bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) {
  CFATDriver* d = &dr;
  FatDirCursor cursor = d->StartCursor(startCluster, startSector);
  FatRawEntry e;
  std::string entryName;
  while (d->ReadEntry(cursor, e, entryName, includeDeleted)) {
    const std::uint8_t attr = e[11];
    if (IsLongNameAttr(attr)) continue;
    const bool wasDeleted = e[0] == 0xE5;
    const std::uint32_t first = d->EntryFirstCluster(e);
    ByteSpan s(e);
    const EntryTime tCreated = DosDateTimeToTime(le16(s, 16), le16(s, 14));
    const EntryTime tModified = DosDateTimeToTime(le16(s, 24), le16(s, 22));
    const EntryTime tAccessed = DosDateTimeToTime(le16(s, 18), 0);
    if (IsFolderAttr(attr)) {
      if (IsDotEntry(e)) continue;
      if (wasDeleted && !d->IsDirectoryCluster(first)) continue;
      if (IsOwnOrAncestorCluster(this, first)) continue;
      auto dir = std::make_unique<CFATDirectory>();
      dir->volume = d;
      dir->parent = this;
      dir->name = entryName;
      dir->created = tCreated;
      dir->modified = tModified;
      dir->accessed = tAccessed;
      dir->attributes = attr;
      dir->deleted = wasDeleted;
      dir->status = d->RateEntry(first, wasDeleted, nullptr);
      dir->startCluster = first;
      dir->startSector = 0;
      if (!take(std::move(dir))) return;
    } else if (IsFileAttr(attr)) {
      if (includeDeleted && deletedFilesOnly && !wasDeleted) continue;
      auto file = std::make_unique<CFATFile>();
      file->volume = d;
      file->parent = this;
      file->name = entryName;
      file->typeText = TypeTextFromName(entryName);
      file->created = tCreated;
      file->modified = tModified;
      file->accessed = tAccessed;
      file->attributes = attr;
      file->deleted = wasDeleted;
      file->startCluster = first;
      file->size = le32(s, 28);
      const std::uint64_t bpc = d->BytesPerCluster();
      file->allocatedSize = bpc == 0 ? file->size : (file->size + bpc - 1) / bpc * bpc;
      file->status = d->RateEntry(first, wasDeleted, file.get());
      if (!take(std::move(file))) return;
    }
  }
}

}  // namespace relictor
