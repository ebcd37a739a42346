// Folders the deep scan rebuilds from clusters that still hold directory
// entries, and which clusters the scan leaves alone. Nothing in the
// volume's tree names a rebuilt folder any more (a quick format, a deleted
// parent), so every entry it holds is lost, live or deleted. The folder is
// read once, when the scan finds it: each file is rated by what its first
// cluster holds, and the clusters of a file that will come back from its
// entry are claimed, so that the carve neither looks inside them nor lists
// the same data a second time. A file whose data cannot be had where its
// entry says is rated "Poor" and its clusters stay open to the carve.

#include <algorithm>
#include <cstring>
#include <ctime>

#include "fat/fat_driver.h"
#include "fat/fat_names.h"
#include "model/entry.h"
#include "scan/cluster_stream.h"
#include "scan/signatures.h"
#include "volume/text.h"

namespace relictor {
namespace {

// The detector's name for the files an extension names, where the two
// differ.
std::string CanonicalType(const std::string& upper) {
  static const std::pair<const char*, const char*> kSame[] = {
      {"JPEG", "JPG"}, {"JPE", "JPG"}, {"JFIF", "JPG"}, {"TIF", "TIFF"}, {"HTML", "HTM"},
      {"MPEG", "MPG"}, {"MPE", "MPG"}, {"MIDI", "MID"}, {"QT", "MOV"},
  };
  for (const auto& [from, to] : kSame) {
    if (upper == from) return to;
  }
  return upper;
}

// Kinds of file that share one container, so that the detector may name a
// file by the container or by a neighbour of its extension.
std::string TypeFamily(const std::string& canonical) {
  static const std::pair<const char*, const char*> kFamily[] = {
      {"MP4", "ISO"},    {"M4A", "ISO"},  {"M4V", "ISO"},  {"MOV", "ISO"},  {"3GP", "ISO"},
      {"DOC", "CFB"},    {"XLS", "CFB"},  {"PPT", "CFB"},  {"VSD", "CFB"},  {"DOT", "CFB"},
      {"XLT", "CFB"},    {"POT", "CFB"},  {"MSG", "CFB"},  {"MSI", "CFB"},  {"OFFICE", "CFB"},
      {"MSCOMP", "CFB"}, {"DOCX", "ZIP"}, {"XLSX", "ZIP"}, {"PPTX", "ZIP"}, {"ODT", "ZIP"},
      {"ODS", "ZIP"},    {"ODP", "ZIP"},  {"EPUB", "ZIP"}, {"JAR", "ZIP"},  {"APK", "ZIP"},
  };
  for (const auto& [type, family] : kFamily) {
    if (canonical == type) return family;
  }
  return canonical;
}

bool IsDetectedType(const std::string& canonical) {
  for (const char* name : kTypeNames) {
    if (canonical == name) return true;
  }
  return false;
}

void SetEntryRecord(CDirEntry& entry, const FatRawEntry& e, const std::string& name) {
  ByteSpan s(e);
  entry.name = name;
  entry.created = DosDateTimeToTime(le16(s, 16), le16(s, 14));
  entry.modified = DosDateTimeToTime(le16(s, 24), le16(s, 22));
  entry.accessed = DosDateTimeToTime(le16(s, 18), 0);
  entry.attributes = e[11];
  // Whatever the entry said, the folder that held it is gone.
  entry.deleted = true;
}

}  // namespace

std::uint64_t CFATDriver::LastClusterOnDevice() const {
  std::uint64_t last = clusterCount_ + 1;
  if (device_ && bytesPerCluster_ != 0) last = std::min<std::uint64_t>(last, 2 + device_->Size() / bytesPerCluster_);
  return last;
}

void CFATDriver::StartScanState(std::uint64_t lastOnDevice) {
  scan_ = std::make_unique<ScanState>();
  scan_->claims = std::make_unique<ClusterBitmap>(2, std::max<std::uint64_t>(2, lastOnDevice));
  // Most overlap tests stop at the first claimed cluster; past this many
  // bytes of the bitmap looked at, none are made any more.
  const std::uint64_t clusters = lastOnDevice >= 2 ? lastOnDevice - 1 : 1;
  scan_->claimWorkLimit = 64 * (clusters / 8 + 1) + (std::uint64_t{1} << 20);
  const std::uint64_t range = lastCluster_ >= firstCluster_ ? lastCluster_ - firstCluster_ + 1 : 0;
  scan_->folderProbesLeft = 4 * std::min(range, clusters) + 1024;
}

bool CFATDriver::MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) {
  // Every cluster of the volume the tree accounts for, not only those of
  // the scan range: a rebuilt folder's file may lie outside the range and
  // still overlap a file of the tree.
  StartScanState(LastClusterOnDevice());
  ClusterBitmap& claims = *scan_->claims;
  if (!MarkDirectoryTree(claims.First(), claims.Last(), claims, rootCluster_, rootDirSector_, progress)) return false;
  const std::uint64_t lo = std::max(bitmap.First(), claims.First()), hi = std::min(bitmap.Last(), claims.Last());
  for (std::uint64_t c = lo; c <= hi && lo <= hi; ++c) {
    if (claims.Test(c)) bitmap.Set(c);
  }
  return true;
}

void CFATDriver::FinishScan() {
  if (lostFiles_) {
    auto& children = lostFiles_->children;
    children.erase(std::remove(children.begin(), children.end(), nullptr), children.end());
  }
  scan_.reset();
}

void CFATDriver::MarkIntactRun(const FatRawEntry& e, const std::string& name, std::uint64_t first, std::uint64_t last,
                               ClusterBitmap& bitmap) {
  // A deleted file whose first cluster still starts a file of its type and
  // size lies in the clusters that follow: a carve that starts inside them
  // would only give a piece of it again.
  const std::uint32_t f = EntryFirstCluster(e);
  const std::uint64_t size = le32(ByteSpan(e), 28);
  const std::uint64_t bpc = bytesPerCluster_;
  if (bpc == 0 || size <= bpc || !IsDataCluster(f) || ReadFatEntry(f, 0) != 0) return;
  const std::uint64_t n = (size + bpc - 1) / bpc;
  if (n - 1 > clusterCount_ + 1 - f) return;
  CFATFile probe;
  probe.name = name;
  probe.typeText = TypeTextFromName(name);
  probe.size = size;
  if (RateDeletedFile(*this, f, &probe) != kStatusExcellent) return;
  bitmap.SetRange(std::max<std::uint64_t>(f, first), std::min<std::uint64_t>(f + n - 1, last));
}

std::uint32_t CFATDriver::RateByContent(std::uint32_t first, const CFATFile& file) {
  WalkMemo& memo = Walks().For(FirstCluster(), LastCluster(), ClusterStream::ClusterSize(*this));
  LostFileGuess guess;
  if (const RememberedGuess* known = memo.FindGuess(first)) {
    guess.found = known->found;
    guess.typeName = known->typeName;
    guess.length = known->length;
  } else {
    guess = ScanForLostFile(*this, first);
    memo.RememberGuess(first, RememberedGuess{guess.found, guess.typeName, guess.length});
  }
  const std::string named = CanonicalType(AsciiUpper(file.typeText));
  if (guess.found) {
    const std::string detected = CanonicalType(AsciiUpper(guess.typeName));
    if (detected == named) return guess.length == file.size ? kStatusExcellent : kStatusGood;
    // Another kind of file starts there: the cluster was written again.
    return TypeFamily(detected) == TypeFamily(named) ? kStatusGood : kStatusPoor;
  }
  // A type the detector knows would have been recognised.
  return IsDetectedType(named) ? kStatusPoor : kStatusGood;
}

void CFATDriver::PopulateRebuilt(CFATDirectory& folder, ClusterBitmap* scanBitmap, int depth) {
  folder.populated = true;
  folder.rebuilt = true;
  // Outside a scan the folder's entries are still checked against each
  // other and against its own clusters.
  const bool ownState = !scan_;
  if (ownState) {
    StartScanState(LastClusterOnDevice());
    scanBitmap = nullptr;
  }
  ClusterBitmap& claims = *scan_->claims;

  // The folder's own clusters first, so that no file of it can claim them;
  // the walk ends where it would enter a cluster something else accounts
  // for (a chain that runs into another folder).
  struct Raw {
    FatRawEntry e;
    std::string name;
  };
  std::vector<Raw> entries;
  FatDirCursor cursor = StartCursor(folder.startCluster, 0);
  std::uint32_t current = 0;
  FatRawEntry e;
  std::string name;
  for (;;) {
    const bool ok = ReadEntry(cursor, e, name, true);
    if (cursor.cluster != current) {
      if (!IsDataCluster(cursor.cluster) || (current != 0 && claims.Test(cursor.cluster))) break;
      current = cursor.cluster;
      claims.Set(current);
      if (scanBitmap) scanBitmap->Set(current);
    }
    if (!ok) break;
    if (IsLongNameAttr(e[11]) || IsDotEntry(e)) continue;
    entries.push_back(Raw{e, name});
  }
  for (const Raw& r : entries) {
    if (IsFolderAttr(r.e[11])) {
      AddRebuiltFolder(folder, r.e, r.name, scanBitmap, depth);
    } else if (IsFileAttr(r.e[11])) {
      AddRebuiltFile(folder, r.e, r.name, scanBitmap);
    }
  }
  if (ownState) scan_.reset();
}

void CFATDriver::AddRebuiltFile(CFATDirectory& folder, const FatRawEntry& e, const std::string& name,
                                ClusterBitmap* scanBitmap) {
  auto file = std::make_unique<CFATFile>();
  file->volume = this;
  SetEntryRecord(*file, e, name);
  file->typeText = TypeTextFromName(name);
  const std::uint32_t f = EntryFirstCluster(e);
  file->startCluster = f;
  file->size = le32(ByteSpan(e), 28);
  const std::uint64_t bpc = bytesPerCluster_;
  const std::uint64_t n = bpc == 0 ? 0 : (file->size + bpc - 1) / bpc;
  file->allocatedSize = n * bpc;
  ScanState& scan = *scan_;
  if (file->size == 0) {
    // Nothing to read: it comes back whole wherever it points.
    file->status = kStatusGood;
  } else if (bpc == 0 || !IsDataCluster(f) || n - 1 > clusterCount_ + 1 - f) {
    // Its first cluster, or its end, lies beyond the volume.
    file->status = kStatusPoor;
  } else if (scan.claimWork > scan.claimWorkLimit || scan.claims->AnySet(f, f + n - 1, scan.claimWork)) {
    // The folder's own clusters, another listed file or the volume's tree
    // accounts for part of it (or so many files overlapped that no more
    // are looked at).
    file->status = kStatusPoor;
  } else {
    file->status = RateByContent(f, *file);
  }
  if (file->status != kStatusPoor && n > 0) {
    const std::uint64_t lastCluster = f + n - 1;
    scan.claims->SetRange(f, lastCluster);
    if (scanBitmap) {
      scanBitmap->SetRange(f, lastCluster);
      // The carve came to these clusters before the folder was found: its
      // finds that start inside them are pieces of this file, or the file
      // itself without its name.
      CDirectory* lost = lostFiles_;
      for (auto it = scan.carved.lower_bound(f); it != scan.carved.end() && it->first <= lastCluster;) {
        if (lost && it->second < lost->children.size()) lost->children[it->second].reset();
        it = scan.carved.erase(it);
      }
    }
  }
  folder.Append(std::move(file));
}

void CFATDriver::AddRebuiltFolder(CFATDirectory& folder, const FatRawEntry& e, const std::string& name,
                                  ClusterBitmap* scanBitmap, int depth) {
  const std::uint32_t f = EntryFirstCluster(e);
  for (const CDirEntry* up = &folder; up != nullptr; up = up->parent) {
    auto* d = dynamic_cast<const CFATDirectory*>(up);
    // An entry naming the folder itself or one above it would make the
    // tree endless.
    if (!d || !d->rebuilt) break;
    if (d->startCluster == f) return;
  }
  ScanState& scan = *scan_;
  if (IsDataCluster(f) && scan.claims->Test(f)) {
    // Found by the scan before the folder that names it: it moves under
    // that folder and takes its name. Anything else that accounts for the
    // cluster lists it already.
    auto it = scan.rebuiltTop.find(f);
    if (it == scan.rebuiltTop.end() || !lostFiles_ || it->second >= lostFiles_->children.size()) return;
    std::unique_ptr<CDirEntry> moved = std::move(lostFiles_->children[it->second]);
    scan.rebuiltTop.erase(it);
    if (!moved) return;
    SetEntryRecord(*moved, e, name);
    folder.Append(std::move(moved));
    return;
  }
  auto dir = std::make_unique<CFATDirectory>();
  dir->volume = this;
  SetEntryRecord(*dir, e, name);
  dir->startCluster = f;
  dir->rebuilt = true;
  dir->populated = true;
  bool readable = IsDataCluster(f) && depth + 1 < kMaxTreeDepth && scan.folderProbesLeft > 0;
  if (readable) {
    --scan.folderProbesLeft;
    readable = IsDirectoryCluster(f);
  }
  // A folder whose first cluster no longer holds its entries is listed
  // empty, so that its name is not lost without a word.
  dir->status = readable ? kStatusGood : kStatusPoor;
  CFATDirectory* added = folder.Append(std::move(dir));
  if (readable) PopulateRebuilt(*added, scanBitmap, depth + 1);
}

}  // namespace relictor
