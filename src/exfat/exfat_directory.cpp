// exFAT folders: reading their entry sets, existing and deleted, into
// folder and file entries.

#include <algorithm>

#include "exfat/exfat_driver.h"
#include "scan/deep_scan.h"

namespace relictor {

CExFATDriver* CExFATDirectory::Driver() const { return dynamic_cast<CExFATDriver*>(volume); }

bool CExFATDirectory::IsLostFilesFolder() const { return volume != nullptr && volume->GetLostFiles() == this; }

bool CExFATDirectory::GetFirstCluster(std::uint64_t& cluster) const {
  if (stream.firstCluster < 2 || IsLostFilesFolder()) return false;
  cluster = stream.firstCluster;
  return true;
}

namespace {

// Whether a folder entry naming `cluster` would be the folder itself or
// one above it, which would make the tree endless.
bool IsOwnOrAncestorCluster(const CExFATDirectory* folder, std::uint32_t cluster) {
  return IsSelfOrAncestor(folder, [&](const CDirEntry& f) {
    auto* d = dynamic_cast<const CExFATDirectory*>(&f);
    return d && d->stream.firstCluster == cluster && d->volume && d->volume->GetLostFiles() != d;
  });
}

// Calls `visit` for every readable set of a folder's entries, up to the
// end-of-folder entry.
template <typename Visit>
void ForEachSet(CExFATDriver& d, ByteSpan all, Visit visit) {
  std::size_t at = 0;
  while (at + kExFatEntrySize <= all.size()) {
    const std::uint8_t type = all[at];
    if (type == kExFatEndOfDirectory) break;
    ExFatEntrySet set;
    std::string reason;
    if (ParseExFatEntrySet(all.subspan(at), set, reason) == ExFatSetResult::Ok && d.AcceptSet(set)) {
      visit(set);
      at += static_cast<std::size_t>(set.entryCount) * kExFatEntrySize;
    } else {
      at += kExFatEntrySize;
    }
  }
}

ExFatStream StreamOf(const ExFatEntrySet& set, bool orphaned) {
  ExFatStream s;
  s.firstCluster = set.firstCluster;
  s.dataLength = set.dataLength;
  s.validDataLength = std::min(set.validDataLength, set.dataLength);
  s.contiguous = set.NoFatChain() || set.deleted || orphaned;
  return s;
}

void FillTimes(CDirEntry& e, const ExFatEntrySet& set) {
  e.created = ExFatTimeToEntryTime(set.created);
  e.modified = ExFatTimeToEntryTime(set.modified);
  e.accessed = ExFatTimeToEntryTime(set.accessed);
}

}  // namespace

bool CExFATDirectory::HasSubfolders(bool) {
  if (IsLostFilesFolder()) return true;
  CExFATDriver* d = Driver();
  if (!d) return false;
  const std::vector<std::uint8_t> bytes = d->ReadFolder(stream);
  bool found = false;
  ForEachSet(*d, ByteSpan(bytes), [&](const ExFatEntrySet& set) {
    if (found || !set.IsFolder() || IsOwnOrAncestorCluster(this, set.firstCluster)) return;
    found = true;
  });
  return found;
}

// As on NTFS, existing files are listed beside the deleted ones whatever
// the caller asks: a card the system can no longer mount still gives up
// every file through this list.
void CExFATDirectory::Populate(bool, bool, bool force) {
  if (!StartPopulate(*this, force)) return;
  CExFATDriver* d = Driver();
  if (!d) return;
  MakeEntries(*d, [this](std::unique_ptr<CDirEntry> entry) {
    Append(std::move(entry));
    return true;
  });
}

bool CExFATDirectory::StreamEntries(bool, bool, const EntryTaker& take) {
  CExFATDriver* d = Driver();
  if (!d || populated || isRoot || orphaned || IsLostFilesFolder() || this == d->GetRoot()) return false;
  MakeEntries(*d, take);
  return true;
}

void CExFATDirectory::MakeEntries(CExFATDriver& dr, const EntryTaker& take) {
  CExFATDriver* d = &dr;
  const std::vector<std::uint8_t> bytes = d->ReadFolder(stream);
  const std::uint64_t bpc = d->BytesPerCluster();
  bool stopped = false;
  ForEachSet(*d, ByteSpan(bytes), [&](const ExFatEntrySet& set) {
    if (stopped) return;
    // In a rebuilt folder every entry is lost data, whatever its set says.
    const bool wasDeleted = set.deleted || orphaned;
    const ExFatStream s = StreamOf(set, orphaned);
    if (set.IsFolder()) {
      if (IsOwnOrAncestorCluster(this, set.firstCluster)) return;
      auto dir = std::make_unique<CExFATDirectory>();
      dir->volume = d;
      dir->parent = this;
      dir->name = set.name;
      FillTimes(*dir, set);
      dir->attributes = set.attributes;
      dir->deleted = wasDeleted;
      dir->orphaned = orphaned;
      dir->stream = s;
      dir->entrySet = set;
      dir->status = wasDeleted ? d->RateDeleted(s, nullptr) : kStatusExisting;
      stopped = !take(std::move(dir));
      return;
    }
    auto file = std::make_unique<CExFATFile>();
    file->volume = d;
    file->parent = this;
    file->name = set.name;
    file->typeText = TypeTextFromName(set.name);
    FillTimes(*file, set);
    file->attributes = set.attributes;
    file->deleted = wasDeleted;
    file->stream = s;
    file->entrySet = set;
    file->size = set.dataLength;
    const std::uint64_t clusters = d->ClustersFor(set.dataLength);
    file->allocatedSize = bpc != 0 && clusters <= UINT64_MAX / bpc ? clusters * bpc : set.dataLength;
    file->status = wasDeleted ? d->RateDeleted(s, file.get()) : kStatusExisting;
    stopped = !take(std::move(file));
  });
}

std::vector<std::pair<std::string, std::string>> ExFatEntryDetails(const CDirEntry& entry) {
  const ExFatStream* stream = nullptr;
  const ExFatEntrySet* set = nullptr;
  if (auto* f = dynamic_cast<const CExFATFile*>(&entry)) {
    stream = &f->stream, set = &f->entrySet;
  } else if (auto* d = dynamic_cast<const CExFATDirectory*>(&entry)) {
    if (d->isRoot || (d->volume && d->volume->GetLostFiles() == d)) return {};
    stream = &d->stream, set = &d->entrySet;
  } else {
    return {};
  }
  std::vector<std::pair<std::string, std::string>> out;
  out.emplace_back("First cluster:", std::to_string(stream->firstCluster));
  out.emplace_back("Data length:", std::to_string(stream->dataLength) + " bytes");
  out.emplace_back("Valid data length:", std::to_string(stream->validDataLength) + " bytes");
  // What the deep scan found by its contents has no entry set at all.
  if (set->entryCount == 0) {
    out.emplace_back("Allocation:", "one run, found by the deep scan");
    return out;
  }
  std::string allocation = set->NoFatChain() ? "one run, no FAT chain" : "FAT chain";
  if (stream->contiguous && !set->NoFatChain()) allocation += " (read as one run: the chain is gone)";
  out.emplace_back("Allocation:", allocation);
  out.emplace_back("Entry set:", std::to_string(set->entryCount) + " entries, checksum " +
                                     (set->ChecksumMatches() ? "matches" : "does not match"));
  out.emplace_back("Created (volume):", ExFatTimeText(set->created));
  out.emplace_back("Modified (volume):", ExFatTimeText(set->modified));
  out.emplace_back("Accessed (volume):", ExFatTimeText(set->accessed));
  return out;
}

}  // namespace relictor
