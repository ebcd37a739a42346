// FAT file data, read from the consecutive clusters that follow a file's
// first cluster, and the FAT side of the deep scan: which clusters the
// directory tree accounts for, and what an unaccounted cluster holds.

#include <algorithm>
#include <cstring>
#include <ctime>

#include "fat/fat_driver.h"
#include "fat/fat_names.h"
#include "model/output_file.h"
#include "scan/signatures.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {

bool CFATDriver::ReadFileData(std::uint8_t* buffer, std::uint32_t capacity, std::uint64_t size,
                              FatDataCursor& cursor, std::uint32_t& delivered) {
  delivered = 0;
  if (cursor.offset > size) return false;
  if (cursor.offset == size) return true;
  if (cursor.stop != FatDataCursor::Stop::None) return false;
  if (!IsDataCluster(cursor.cluster) || bytesPerSector_ == 0 || sectorsPerCluster_ == 0) {
    cursor.stop = FatDataCursor::Stop::NoStartCluster;
    return false;
  }
  std::uint64_t n = std::min<std::uint64_t>(capacity, size - cursor.offset);
  std::uint64_t s = (cursor.offset / bytesPerSector_) % sectorsPerCluster_;
  std::uint64_t p = cursor.offset % bytesPerSector_;
  std::uint64_t room = bytesPerSector_ - p;
  while (n > 0) {
    // Whole sectors go straight into the caller's buffer with one read: the
    // data clusters lie one after another, so the file's next sectors up to
    // the end of the volume are consecutive. Should that read fail, the
    // sector-by-sector path below finds the sector that cannot be read.
    if (p == 0 && n >= bytesPerSector_) {
      std::uint64_t toVolumeEnd = (clusterCount_ + 1 - cursor.cluster) * sectorsPerCluster_ + (sectorsPerCluster_ - s);
      std::uint64_t k = std::min<std::uint64_t>(n / bytesPerSector_, toVolumeEnd);
      std::uint64_t first = ClusterToSector(cursor.cluster) + s;
      if (ReadSectors(first, buffer + delivered, bytesPerSector_, static_cast<std::uint32_t>(k))) {
        std::uint64_t bytes = k * bytesPerSector_;
        cursor.offset += bytes;
        delivered += static_cast<std::uint32_t>(bytes);
        n -= bytes;
        std::uint64_t along = s + k;
        if (k == toVolumeEnd) {
          // The last sector of the volume was read: stay on its cluster,
          // as the sector-by-sector walk does.
          cursor.cluster = clusterCount_ + 1;
          s = 0;
          if (cursor.offset < size) {
            cursor.stop = FatDataCursor::Stop::PastVolumeEnd;
            break;
          }
        } else {
          cursor.cluster += along / sectorsPerCluster_;
          s = along % sectorsPerCluster_;
        }
        continue;
      }
    }
    std::uint64_t chunk = std::min(n, room);
    std::uint64_t sector = ClusterToSector(cursor.cluster) + s;
    if (!ReadCachedSector(sector, dataBuffer_, 0, dataSector_, dataValid_)) {
      // What the sector holds is unknown: nothing of it is delivered, and
      // the file ends here, short.
      cursor.stop = FatDataCursor::Stop::ReadFailed;
      cursor.failedSector = sector;
      break;
    }
    std::memcpy(buffer + delivered, dataBuffer_.data() + p, static_cast<std::size_t>(chunk));
    cursor.offset += chunk;
    delivered += static_cast<std::uint32_t>(chunk);
    n -= chunk;
    if (p + chunk == bytesPerSector_ && ++s == sectorsPerCluster_) {
      s = 0;
      if (cursor.cluster >= clusterCount_ + 1) {
        // The volume ends here. Bytes the file still claims are not on it;
        // reading the last cluster again would only corrupt the output.
        if (cursor.offset < size) {
          cursor.stop = FatDataCursor::Stop::PastVolumeEnd;
          break;
        }
      } else {
        ++cursor.cluster;
      }
    }
    p = 0;
    room = bytesPerSector_;
  }
  return true;
}

bool CFATFile::SaveData(OutputFile& out, ProgressSink* progress) {
  auto* d = dynamic_cast<CFATDriver*>(volume);
  if (!d) return false;
  constexpr std::uint32_t kBufferSize = 65536;
  FatDataCursor cursor;
  cursor.cluster = startCluster;
  const auto read = [&](std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered) {
    return d->ReadFileData(buffer, capacity, size, cursor, delivered);
  };
  std::uint64_t written = 0;
  if (!CopyFileData(out, progress, size, kBufferSize, read, written)) return false;
  if (written < size) NoteShortData(out, written, size, cursor.stop, cursor.failedSector, startCluster);
  if (progress) progress->AdvanceFileCounter();
  return true;
}

void CFATDriver::MarkChain(std::uint32_t first, std::uint64_t lo, std::uint64_t hi, ClusterBitmap& bitmap) {
  ChainLoopGuard loop(first);
  std::uint32_t c = first;
  for (std::uint64_t steps = 0; IsDataCluster(c) && steps <= clusterCount_; ++steps) {
    if (c >= lo && c <= hi) {
      // A marked cluster was reached by an earlier walk, which went on
      // from it along the same table: nothing more to mark.
      if (bitmap.Test(c)) return;
      bitmap.Set(c);
    }
    std::uint32_t next = ReadFatEntry(c, 0);
    if (ClassifyFatValue(next) != kFatNext || loop.Loops(next)) return;
    c = next;
  }
}

bool CFATDriver::MarkDirectoryTree(std::uint64_t first, std::uint64_t last, ClusterBitmap& bitmap,
                                   std::uint32_t dirCluster, std::uint64_t dirSector, ProgressSink* progress,
                                   int depth) {
  auto inRange = [&](std::uint64_t c) { return IsDataCluster(c) && c >= first && c <= last; };
  if (inRange(dirCluster)) bitmap.Set(dirCluster);
  FatDirCursor cursor = StartCursor(dirCluster, dirSector);
  std::uint32_t previous = dirCluster;
  FatRawEntry e;
  std::string name;
  for (;;) {
    if (progress && IsStopRequested()) return false;
    bool ok = ReadEntry(cursor, e, name, true);
    if (cursor.cluster != 0) {
      if (!inRange(cursor.cluster)) break;
      if (cursor.cluster != previous) {
        bitmap.Set(cursor.cluster);
        previous = cursor.cluster;
      }
    }
    if (!ok) break;
    const std::uint8_t attr = e[11];
    if (IsLongNameAttr(attr)) continue;
    const std::uint32_t f = EntryFirstCluster(e);
    if (IsFolderAttr(attr)) {
      const bool dot = IsDotEntry(e);
      // A folder already marked was walked before (or lies in a loop of
      // folders); below the depth limit the tree is not followed further.
      if (!dot && inRange(f) && !bitmap.Test(f) && depth < kMaxTreeDepth && IsDirectoryCluster(f)) {
        if (!MarkDirectoryTree(first, last, bitmap, f, 0, progress, depth + 1)) return false;
      }
    } else if (IsFileAttr(attr)) {
      // An existing file marks its whole chain; a deleted one its first
      // cluster, whose table entry is free (or belongs to a newer file),
      // and the clusters after it when they still hold it whole.
      MarkChain(f, first, last, bitmap);
      if (e[0] == 0xE5) MarkIntactRun(e, name, first, last, bitmap);
    }
  }
  return true;
}

bool CFATDriver::IsEmptyDirectory(std::uint32_t cluster) {
  FatDirCursor cursor = StartCursor(cluster, 0, 2);
  FatRawEntry e;
  std::string name;
  return !ReadEntry(cursor, e, name, false);
}

bool CFATDriver::EntryPassesChecks(const FatRawEntry& e) const {
  ByteSpan s(e);
  static const char kBad[] = "\"*+,./:;<=>?[\\]|";
  for (std::size_t i = 0; i < 10; ++i) {
    std::uint8_t b = e[i];
    if (b < 0x20 && !(i == 0 && b == 0x05)) return false;
    if (b != 0 && std::strchr(kBad, b) != nullptr) return false;
  }
  const std::uint8_t attr = e[11];
  const std::uint32_t first = EntryFirstCluster(e);
  const std::uint32_t size = le32(s, 28);
  if (attr & 0x08) {
    if (first != 0) return false;
  } else if (!IsDataCluster(first) && !(first == 0 && size == 0)) {
    // An empty file has no cluster; any other entry names a data cluster.
    return false;
  }
  if (attr > 0x3F) return false;
  if (size / 512 > geometry_.dataSectorCount) return false;
  for (std::size_t off : {std::size_t{14}, std::size_t{22}}) {
    std::uint16_t t = le16(s, off);
    if (t != 0 && ((t & 0x1F) > 29 || ((t >> 5) & 0x3F) > 59 || (t >> 11) > 23)) return false;
  }
  for (std::size_t off : {std::size_t{16}, std::size_t{18}, std::size_t{24}}) {
    std::uint16_t d = le16(s, off);
    if (d == 0) continue;
    std::uint32_t day = d & 0x1F, month = (d >> 5) & 0x0F, year = d >> 9;
    if (day == 0 || month > 12 || (month == 0 && year == 0)) return false;
  }
  return true;
}

bool CFATDriver::LooksLikeDirectoryContent(std::uint32_t cluster) {
  if (!IsDataCluster(cluster) || !ReadDirSector(ClusterToSector(cluster))) return false;
  if (dirBuffer_.size() < 512 || dirBuffer_[0] == 0) return false;
  // The first 512 bytes as 16 entries, up to the end marker. Every entry
  // must look like one a file system wrote, or the cluster is taken for
  // file data. A long name may have begun in the folder's cluster before.
  bool previousWasLongName = true;
  for (std::size_t i = 0; i < 16; ++i) {
    FatRawEntry e;
    std::memcpy(e.data(), dirBuffer_.data() + i * 32, e.size());
    if (e[0] == 0) break;
    bool longName = e[11] == 0x0F && le16(ByteSpan(e), 26) == 0;
    if (longName && ((e[0] & 0x40) || previousWasLongName)) {
      previousWasLongName = true;
      continue;
    }
    previousWasLongName = false;
    if (!EntryPassesChecks(e)) return false;
  }
  return true;
}

bool CFATDriver::LooksLikeRootCluster(std::uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  FatDirCursor cursor = StartCursor(cluster, 0);
  FatRawEntry e;
  bool flag = false;
  const std::uint64_t limit = static_cast<std::uint64_t>(sectorsPerCluster_) * 16;
  for (std::uint64_t i = 0; i < limit && ReadRawEntry(cursor, e); ++i) {
    ByteSpan s(e);
    if (e[11] == 0x0F && le16(s, 26) == 0 && (e[0] & 0x40)) {
      if (le16(s, 20) == 0) {
        if (flag) return false;
        flag = true;
      }
    } else {
      flag = false;
    }
  }
  return flag;
}

bool CFATDriver::LooksLikeOrphanedEntries(std::uint32_t cluster) {
  if (!LooksLikeDirectoryContent(cluster)) return false;
  FatDirCursor cursor = StartCursor(cluster, 0);
  FatRawEntry e;
  const std::uint64_t perCluster = bytesPerCluster_ / 32;
  bool previousWasLongName = true;
  std::uint64_t named = 0;
  for (std::uint64_t i = 0; i < perCluster && ReadRawEntry(cursor, e) && cursor.cluster == cluster; ++i) {
    if (e[0] == 0) break;
    const bool longName = e[11] == 0x0F && le16(ByteSpan(e), 26) == 0;
    if (longName && ((e[0] & 0x40) || previousWasLongName)) {
      previousWasLongName = true;
      continue;
    }
    previousWasLongName = false;
    if (!EntryPassesChecks(e) || e[0] == '.') return false;
    if (!(e[11] & 0x08)) ++named;
  }
  return named > 0;
}

bool CFATDriver::ScanCluster(std::uint64_t c64, ClusterBitmap& bitmap, ProgressSink* progress) {
  if (!IsDataCluster(c64)) return false;
  const auto c = static_cast<std::uint32_t>(c64);
  // Clusters the table marks reserved or bad hold no file. The second copy
  // is asked, since the first may have been rewritten by the deletion;
  // a volume with one FAT has only the first.
  const std::uint8_t copy = geometry_.numFats > 1 ? 1 : 0;
  if (ClassifyFatValue(ReadFatEntry(c, copy)) == kFatReserved) return false;

  const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  std::string folderName;
  if (IsDirectoryCluster(c) && !IsEmptyDirectory(c)) {
    folderName = "Cluster_" + std::to_string(c);
  } else if (LooksLikeDirectoryContent(c) && LooksLikeRootCluster(c)) {
    folderName = "Cluster_" + std::to_string(c) + " (Root)";
  } else if (LooksLikeOrphanedEntries(c)) {
    // The entries of a deleted folder's later cluster: listed as a lost
    // folder of their own, so that the files they name can be saved too.
    folderName = "Cluster_" + std::to_string(c);
  } else {
    LostFileGuess guess = ScanForLostFile(*this, c);
    if (!guess.found || !lostFiles_) return false;
    auto file = std::make_unique<CFATFile>();
    file->volume = this;
    file->name = "Cluster_" + std::to_string(c) + "." + guess.typeName;
    file->typeText = guess.typeName;
    file->created = file->modified = file->accessed = now;
    file->attributes = 0;
    file->deleted = true;
    file->status = kStatusExcellent;
    file->startCluster = c;
    file->size = guess.length;
    const std::uint64_t bpc = bytesPerCluster_;
    const std::uint64_t clusters = bpc == 0 ? 0 : (guess.length + bpc - 1) / bpc;
    file->allocatedSize = clusters * bpc;
    if (scan_) scan_->carved[c64] = lostFiles_->children.size();
    lostFiles_->Append(std::move(file));
    for (std::uint64_t i = 0; i < clusters && c64 + i <= lastCluster_; ++i) {
      if (c64 + i >= firstCluster_) bitmap.Set(c64 + i);
    }
    return true;
  }
  if (!lostFiles_) return false;
  auto dir = std::make_unique<CFATDirectory>();
  dir->volume = this;
  dir->name = folderName;
  dir->created = dir->modified = dir->accessed = now;
  dir->attributes = 0;
  dir->deleted = true;
  dir->status = kStatusGood;
  dir->startCluster = c;
  dir->startSector = 0;
  if (scan_) scan_->rebuiltTop[c] = lostFiles_->children.size();
  CFATDirectory* added = lostFiles_->Append(std::move(dir));
  (void)progress;
  PopulateRebuilt(*added, scan_ ? &bitmap : nullptr, 0);
  return false;
}

}  // namespace relictor
