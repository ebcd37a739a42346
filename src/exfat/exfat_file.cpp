// exFAT file data, and the exFAT side of the deep scan: which clusters are
// accounted for (the allocation bitmap, and the runs of the deleted entries
// the tree lists), and what an unaccounted cluster holds: the entry sets of
// a folder nothing names any more, or the start of a lost file.

#include <algorithm>
#include <cstring>
#include <ctime>

#include "exfat/exfat_driver.h"
#include "model/output_file.h"
#include "scan/signatures.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {

bool CExFATFile::SaveData(OutputFile& out, ProgressSink* progress) {
  auto* d = dynamic_cast<CExFATDriver*>(volume);
  if (!d) return false;
  constexpr std::uint32_t kBufferSize = 1u << 20;
  // No file is larger than the cluster heap; a damaged length is saved
  // only as far as the volume could hold it.
  const std::uint64_t heapBytes = d->ClusterCount() * d->BytesPerCluster();
  ExFatStream s = stream;
  if (s.dataLength > heapBytes) {
    out.NoteProblem("the file claims " + std::to_string(s.dataLength) + " bytes, more than the volume holds; " +
                    std::to_string(heapBytes) + " bytes were saved at most");
    s.dataLength = heapBytes;
  }
  s.validDataLength = std::min(s.validDataLength, s.dataLength);
  ExFatDataCursor cursor;
  const auto read = [&](std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered) {
    return d->ReadStream(s, cursor, buffer, capacity, delivered);
  };
  std::uint64_t written = 0;
  if (!CopyFileData(out, progress, s.dataLength, kBufferSize, read, written)) return false;
  if (written < s.dataLength) {
    NoteShortData(out, written, s.dataLength, cursor.stop, cursor.failedSector, stream.firstCluster);
  }
  if (progress) progress->AdvanceFileCounter();
  return true;
}

void CExFATDriver::MarkRun(std::uint32_t first, std::uint64_t clusters, ClusterBitmap& bitmap) const {
  if (!IsDataCluster(first)) return;
  const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(first) + clusters, clusterCount_ + 2);
  for (std::uint64_t c = std::max<std::uint64_t>(first, bitmap.First()); c < end && c <= bitmap.Last(); ++c) {
    bitmap.Set(c);
  }
}

bool CExFATDriver::MarkFolder(const ExFatStream& folder, bool orphaned, ClusterBitmap& bitmap,
                              ProgressSink* progress, std::vector<std::uint32_t>& walked, int depth) {
  if (std::find(walked.begin(), walked.end(), folder.firstCluster) != walked.end()) return true;
  walked.push_back(folder.firstCluster);
  const std::vector<std::uint8_t> bytes = ReadFolder(folder);
  const ByteSpan all(bytes);
  std::size_t at = 0;
  while (at + kExFatEntrySize <= all.size()) {
    if (progress && IsStopRequested()) return false;
    if (all[at] == kExFatEndOfDirectory) break;
    ExFatEntrySet set;
    std::string reason;
    if (ParseExFatEntrySet(all.subspan(at), set, reason) != ExFatSetResult::Ok || !AcceptSet(set)) {
      at += kExFatEntrySize;
      continue;
    }
    at += static_cast<std::size_t>(set.entryCount) * kExFatEntrySize;
    const bool lost = set.deleted || orphaned;
    ExFatStream s{set.firstCluster, set.dataLength, std::min(set.validDataLength, set.dataLength),
                  set.NoFatChain() || lost};
    // Data in use is in the bitmap already; deleted data is marked as the
    // run it is read from, where it is still free.
    if (lost && RunIsFree(s.firstCluster, ClustersFor(s.dataLength))) MarkRun(s.firstCluster, ClustersFor(s.dataLength), bitmap);
    if (set.IsFolder() && depth < kMaxTreeDepth && IsDataCluster(s.firstCluster)) {
      if (!MarkFolder(s, lost, bitmap, progress, walked, depth + 1)) return false;
    }
  }
  return true;
}

bool CExFATDriver::MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) {
  if (bitmap_.Loaded()) {
    const std::uint64_t last = std::min<std::uint64_t>(bitmap.Last(), clusterCount_ + 1);
    for (std::uint64_t c = std::max<std::uint64_t>(bitmap.First(), 2); c <= last; ++c) {
      if (bitmap_.InUse(c)) bitmap.Set(c);
      if ((c & 0xFFFF) == 0 && progress && IsStopRequested()) return false;
    }
  }
  std::vector<std::uint32_t> walked;
  return MarkFolder(RootStream(), false, bitmap, progress, walked, 0);
}

bool CExFATDriver::LooksLikeFolderCluster(std::uint64_t cluster, bool& holdsVolumeEntries) {
  holdsVolumeEntries = false;
  if (!ReadCluster(cluster)) return false;
  const ByteSpan all(clusterBuffer_);
  std::uint64_t sets = 0;
  std::size_t at = 0;
  // Every entry up to the end marker must be of a type a folder holds, and
  // at least one whole set must check out: file data seldom passes both.
  while (at + kExFatEntrySize <= all.size()) {
    const std::uint8_t type = all[at];
    if (type == kExFatEndOfDirectory) break;
    if (!IsKnownExFatEntryType(type)) return false;
    if (type == kExFatBitmapEntry || type == kExFatUpcaseEntry) holdsVolumeEntries = true;
    ExFatEntrySet set;
    std::string reason;
    if (ParseExFatEntrySet(all.subspan(at), set, reason) == ExFatSetResult::Ok && set.ChecksumMatches()) {
      ++sets;
      at += static_cast<std::size_t>(set.entryCount) * kExFatEntrySize;
      continue;
    }
    at += kExFatEntrySize;
  }
  return sets > 0;
}

bool CExFATDriver::ScanCluster(std::uint64_t c64, ClusterBitmap& bitmap, ProgressSink* progress) {
  if (!IsDataCluster(c64) || !lostFiles_) return false;
  const auto c = static_cast<std::uint32_t>(c64);
  const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  bool rootLike = false;
  if (LooksLikeFolderCluster(c, rootLike)) {
    // The folder takes in the clusters behind it that hold entries too: a
    // folder written in one piece keeps its clusters together.
    std::uint64_t clusters = 1;
    bool ignored = false;
    while (clusters < kMaxLostFolderClusters && c64 + clusters <= lastCluster_ && !bitmap.Test(c64 + clusters) &&
           LooksLikeFolderCluster(c64 + clusters, ignored)) {
      ++clusters;
    }
    auto dir = std::make_unique<CExFATDirectory>();
    dir->volume = this;
    dir->name = "Cluster_" + std::to_string(c) + (rootLike ? " (Root)" : "");
    dir->created = dir->modified = dir->accessed = now;
    dir->deleted = true;
    dir->orphaned = true;
    dir->status = kStatusGood;
    dir->stream = ExFatStream{c, clusters * bytesPerCluster_, clusters * bytesPerCluster_, true};
    const ExFatStream s = dir->stream;
    lostFiles_->Append(std::move(dir));
    MarkRun(c, clusters, bitmap);
    std::vector<std::uint32_t> walked;
    MarkFolder(s, true, bitmap, progress, walked, 0);
    return false;
  }
  LostFileGuess guess = ScanForLostFile(*this, c);
  if (!guess.found) return false;
  auto file = std::make_unique<CExFATFile>();
  file->volume = this;
  file->name = "Cluster_" + std::to_string(c) + "." + guess.typeName;
  file->typeText = guess.typeName;
  file->created = file->modified = file->accessed = now;
  file->deleted = true;
  file->status = kStatusExcellent;
  file->stream = ExFatStream{c, guess.length, guess.length, true};
  file->size = guess.length;
  const std::uint64_t clusters = ClustersFor(guess.length);
  file->allocatedSize = clusters * bytesPerCluster_;
  lostFiles_->Append(std::move(file));
  MarkRun(c, clusters, bitmap);
  return true;
}

}  // namespace relictor
