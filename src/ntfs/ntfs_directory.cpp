// The NTFS folder tree, made from the index of the MFT's records: which
// records belong to which folder, their names (read again through the
// record cache), and the special folders "DeletedFiles" (with a
// "Cluster_%d" placeholder for each lost parent) and "LostFiles".

#include <algorithm>
#include <ctime>
#include <optional>
#include <set>

#include "ntfs/ntfs_attribute_list.h"
#include "ntfs/ntfs_driver.h"
#include "ntfs/ntfs_standard_information.h"
#include "scan/deep_scan.h"

namespace relictor {

void CNTFSDriver::CollectFileNames(std::uint64_t record, ByteSpan base, std::vector<NtfsName>& out, bool firstOnly,
                                   bool memoryOnly) {
  auto add = [&](const NtfsAttribute& a) {
    NtfsFileName f;
    if (a.nonResident || a.nameLength != 0 || !ParseFileName(a.Value(), f)) return false;
    NtfsName n;
    n.name = NtfsNameToUtf8(f.name);
    n.startsHidden = f.StartsWith(u'$') || f.StartsWith(u'.');
    n.fields = f;
    n.fields.name = {};
    out.push_back(std::move(n));
    return true;
  };
  // A record with an attribute list gives its names in the list's order,
  // which is the file's own order of attributes: once the names have
  // spilled into extension records, the first name in the base record is
  // not the file's first name any more. Names in extension records count
  // only where the extension names this record as its base: a deleted
  // file's extension records may since have gone to another file.
  std::vector<std::uint8_t> list;
  std::vector<std::uint16_t> listedHere;
  if (ReadAttributeList(base, list, memoryOnly)) {
    NtfsAttributeListWalk entries{ByteSpan(list)};
    NtfsAttributeListEntry e;
    std::vector<std::uint8_t> scratch;
    while (entries.Next(e)) {
      if (e.type != kNtfsFileName) continue;
      ByteSpan holder = base;
      if (e.record == record) {
        listedHere.push_back(e.id);
      } else {
        holder = GetRecord(e.record, scratch, memoryOnly);
        NtfsRecordHeader h;
        if (holder.empty() || ParseRecordHeader(holder, h) != NtfsParse::Ok) continue;
        if (!h.IsExtension() || h.baseRecord != record) continue;
      }
      auto fn = FindAttributeById(holder, kNtfsFileName, e.id);
      if (fn && add(*fn) && firstOnly) return;
    }
  }
  // Names of the base record that no list names (all of them, without a
  // list) follow in the record's order.
  NtfsAttributeWalk walk(base);
  NtfsAttribute a;
  while (walk.Next(a)) {
    if (a.type != kNtfsFileName) continue;
    if (std::find(listedHere.begin(), listedHere.end(), a.id) != listedHere.end()) continue;
    if (add(a) && firstOnly) return;
  }
}

bool CNTFSDriver::ListableRecord(std::uint64_t record, NtfsRecordHeader& header, NtfsName& firstName) {
  std::vector<std::uint8_t> scratch;
  ByteSpan r = CachedRecord(record, scratch);
  if (r.empty()) return false;
  return ListableBytes(record, r, header, firstName);
}

bool CNTFSDriver::ListableBytes(std::uint64_t record, ByteSpan r, NtfsRecordHeader& header, NtfsName& firstName,
                                bool withName) {
  if (ParseRecordHeader(r, header) != NtfsParse::Ok) return false;
  // An extension record holds attributes of its base record's file and
  // is never an entry of its own.
  if (header.IsExtension()) return false;
  // Most records have no attribute list: their first name is the first
  // one in the record, found in one walk.
  NtfsAttributeWalk walk(r);
  NtfsAttribute a;
  bool hasList = false;
  while (walk.Next(a)) {
    if (a.type == kNtfsAttributeList) hasList = true;
    if (hasList || a.type != kNtfsFileName || a.nameLength != 0 || a.nonResident) continue;
    NtfsFileName f;
    if (!ParseFileName(a.Value(), f)) continue;
    if (withName) firstName.name = NtfsNameToUtf8(f.name);
    firstName.startsHidden = f.StartsWith(u'$') || f.StartsWith(u'.');
    firstName.fields = f;
    firstName.fields.name = {};
    return true;
  }
  if (!hasList) return false;
  std::vector<NtfsName> names;
  CollectFileNames(record, r, names, true);
  if (names.empty()) return false;
  firstName = std::move(names.front());
  return true;
}

namespace {

bool TestBit(const std::vector<std::uint64_t>& bits, std::uint64_t n) {
  return n / 64 < bits.size() && (bits[static_cast<std::size_t>(n / 64)] >> (n % 64) & 1) != 0;
}

void SetBit(std::vector<std::uint64_t>& bits, std::uint64_t n) {
  if (n / 64 < bits.size()) bits[static_cast<std::size_t>(n / 64)] |= std::uint64_t{1} << (n % 64);
}

}  // namespace

void CNTFSDriver::ClearIndex() {
  mftLoaded_ = false;
  std::deque<ChildLink>().swap(pendingChildren_);
  std::vector<ChildLink>().swap(children_);
  std::vector<std::uint64_t>().swap(foldersWithSubfolders_);
  std::vector<DeletedFilesItem>().swap(deletedItems_);
  // Two bits a record while the pass runs: whether it is a folder, and
  // whether it is deleted (the second goes when the index is finished).
  const std::size_t words = static_cast<std::size_t>(recordCount_ / 64 + 1);
  folderBits_.assign(words, 0);
  deletedBits_.assign(words, 0);
}

void CNTFSDriver::IndexRecord(std::uint64_t i, ByteSpan r) {
  NtfsRecordHeader h;
  if (!HasFileSignature(r) || ParseRecordHeader(r, h) != NtfsParse::Ok) return;
  if (h.IsDirectory()) SetBit(folderBits_, i);
  NtfsName fn;
  if (!ListableBytes(i, r, h, fn, false)) return;
  const std::uint64_t parent = fn.fields.parent;
  // A record cannot be its own folder (the root names itself "." and is
  // not listed); listing it would nest it in itself without end. Nor is
  // the root ever a child: a damaged root whose name gives one of its
  // own subfolders as its parent would nest the whole tree into itself.
  if (parent == i || i == kNtfsRootRecord) return;
  pendingChildren_.push_back({parent, i});
  if (h.IsDirectory() && !(fn.fields.flags & kNtfsFileAttrSystem)) foldersWithSubfolders_.push_back(parent);
  if (!h.InUse()) SetBit(deletedBits_, i);
}

void CNTFSDriver::FinishIndex() {
  // The links move into their vector as the deque gives its blocks back.
  children_.reserve(pendingChildren_.size());
  while (!pendingChildren_.empty()) {
    children_.push_back(pendingChildren_.front());
    pendingChildren_.pop_front();
  }
  std::deque<ChildLink>().swap(pendingChildren_);
  // The items of "DeletedFiles" in record order, which the children still
  // have: a deleted record whose folder record is no folder any more (it
  // was reused by a file, or holds no record at all) is reached through a
  // placeholder, one for each lost parent.
  std::vector<std::uint64_t> placeholderSeen;
  std::set<std::uint64_t> placeholderSeenFar;
  for (const ChildLink& c : children_) {
    if (TestBit(deletedBits_, c.record) && !TestBit(folderBits_, c.parent)) {
      bool first;
      if (c.parent < recordCount_) {
        if (placeholderSeen.empty()) placeholderSeen.assign(folderBits_.size(), 0);
        first = !TestBit(placeholderSeen, c.parent);
        SetBit(placeholderSeen, c.parent);
      } else {
        first = placeholderSeenFar.insert(c.parent).second;
      }
      if (first) deletedItems_.push_back({true, c.parent});
    }
    if (c.parent == kNtfsDeletedFilesReference) deletedItems_.push_back({false, c.record});
  }
  std::vector<std::uint64_t>().swap(deletedBits_);
  // Records are unique, so sorting by folder and then record keeps each
  // folder's records in record order.
  std::sort(children_.begin(), children_.end(), [](const ChildLink& a, const ChildLink& b) {
    return a.parent != b.parent ? a.parent < b.parent : a.record < b.record;
  });
  std::sort(foldersWithSubfolders_.begin(), foldersWithSubfolders_.end());
  foldersWithSubfolders_.erase(std::unique(foldersWithSubfolders_.begin(), foldersWithSubfolders_.end()),
                               foldersWithSubfolders_.end());
  foldersWithSubfolders_.shrink_to_fit();
  mftLoaded_ = true;
  ++mftLoads_;
}

std::uint64_t CNTFSDriver::IndexBytes() const {
  return (children_.capacity() + pendingChildren_.size()) * sizeof(ChildLink) +
         foldersWithSubfolders_.capacity() * sizeof(std::uint64_t) +
         deletedItems_.capacity() * sizeof(DeletedFilesItem) +
         (folderBits_.capacity() + deletedBits_.capacity()) * sizeof(std::uint64_t);
}

std::vector<std::uint64_t> CNTFSDriver::ChildrenOf(std::uint64_t folder) const {
  auto lo = std::lower_bound(children_.begin(), children_.end(), folder,
                             [](const ChildLink& c, std::uint64_t p) { return c.parent < p; });
  std::vector<std::uint64_t> out;
  for (auto it = lo; it != children_.end() && it->parent == folder; ++it) out.push_back(it->record);
  return out;
}

bool CNTFSDriver::FolderHasSubfolders(std::uint64_t folder) const {
  return std::binary_search(foldersWithSubfolders_.begin(), foldersWithSubfolders_.end(), folder);
}

namespace {

// The records of the folder itself and of the folders above it.
std::vector<std::uint64_t> OwnAndAncestorRecords(const CNTFSDirectory* folder) {
  std::vector<std::uint64_t> records;
  int depth = 0;
  for (const CDirEntry* f = folder; f != nullptr && depth < 4096; f = f->parent, ++depth) {
    if (auto* d = dynamic_cast<const CNTFSDirectory*>(f)) records.push_back(d->reference);
  }
  return records;
}

// What an entry is made of, gathered in one walk over a base record:
// whether it has an attribute list (then its names and data may lie in
// other records, and this is not enough), its first $STANDARD_INFORMATION,
// its first unnamed $DATA, its first name, and the first long name in the
// same folder as that one.
struct EntryAttributes {
  bool hasList = false;
  bool standardInformationSeen = false;
  std::optional<NtfsStandardInformation> standardInformation;
  std::optional<NtfsAttribute> data;
  std::optional<NtfsFileName> first;
  std::optional<NtfsFileName> firstWin32;
};

void GatherEntryAttributes(ByteSpan r, EntryAttributes& out) {
  NtfsAttributeWalk walk(r);
  NtfsAttribute a;
  while (walk.Next(a)) {
    switch (a.type) {
      case kNtfsAttributeList:
        out.hasList = true;
        return;
      case kNtfsStandardInformation:
        // As FindStandardInformation: the first one decides.
        if (!out.standardInformationSeen) {
          out.standardInformationSeen = true;
          NtfsStandardInformation si;
          if (!a.nonResident && a.nameLength == 0 && ParseStandardInformation(a.Value(), si)) {
            out.standardInformation = si;
          }
        }
        break;
      case kNtfsData:
        if (!out.data && a.nameLength == 0) out.data = a;
        break;
      case kNtfsFileName: {
        NtfsFileName f;
        if (a.nonResident || a.nameLength != 0 || !ParseFileName(a.Value(), f)) break;
        if (!out.first) out.first = f;
        if (!out.firstWin32 && f.IsWin32() && f.parent == out.first->parent) out.firstWin32 = f;
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace

CNTFSDriver* CNTFSDirectory::Driver() const { return dynamic_cast<CNTFSDriver*>(volume); }

bool CNTFSDirectory::HasSubfolders(bool) {
  CNTFSDriver* d = Driver();
  if (!d) return false;
  if (this == d->GetRoot()) return true;
  if (!d->LoadMft()) return false;
  if (this == d->GetLostFiles() || this == d->GetDeletedFiles()) return true;
  return d->FolderHasSubfolders(reference);
}

void CNTFSDirectory::Populate(bool, bool, bool force) {
  CNTFSDriver* d = Driver();
  if (!d) return;
  if (!d->LoadMft()) return;
  if (this == d->GetLostFiles()) {
    // The finds of the deep scan are made by the scan; a forced read (the
    // search, the saving) takes what an earlier scan left.
    if (!force) {
      ExpandLostFiles(*d);
    } else {
      populated = true;
    }
    return;
  }
  populated = true;
  std::vector<std::uint8_t> scratch;
  if (this == d->GetDeletedFiles()) {
    std::set<std::uint64_t> folders;
    const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
    for (const auto& item : d->DeletedFilesItems()) {
      if (item.placeholder) {
        if (!folders.insert(item.value).second) continue;
        auto dir = std::make_unique<CNTFSDirectory>();
        dir->volume = d;
        dir->parent = this;
        dir->name = "Cluster_" + std::to_string(item.value);
        dir->created = dir->modified = dir->accessed = now;
        dir->attributes = 0;
        dir->deleted = true;
        dir->status = kStatusGood;
        dir->reference = item.value;
        Append(std::move(dir));
        continue;
      }
      auto entry = MakeEntry(*d, item.value, scratch);
      if (!entry) continue;
      if (auto* dir = dynamic_cast<CNTFSDirectory*>(entry.get())) folders.insert(dir->reference);
      Append(std::move(entry));
    }
    return;
  }
  MakeRecordEntries(*d, [this](std::unique_ptr<CDirEntry> entry) {
    Append(std::move(entry));
    return true;
  });
}

bool CNTFSDirectory::StreamEntries(bool, bool, const EntryTaker& take) {
  CNTFSDriver* d = Driver();
  if (!d || this == d->GetRoot() || this == d->GetLostFiles() || this == d->GetDeletedFiles()) return false;
  if (d->LoadMft()) MakeRecordEntries(*d, take);
  return true;
}

void CNTFSDirectory::MakeRecordEntries(CNTFSDriver& d, const EntryTaker& take) {
  std::vector<std::uint8_t> scratch;
  // A folder never appears inside itself or inside a folder below it.
  const std::vector<std::uint64_t> ownAndAbove = OwnAndAncestorRecords(this);
  for (std::uint64_t record : d.ChildrenOf(reference)) {
    if (std::find(ownAndAbove.begin(), ownAndAbove.end(), record) != ownAndAbove.end()) continue;
    auto entry = MakeEntry(d, record, scratch);
    if (entry && !take(std::move(entry))) return;
  }
}

std::unique_ptr<CDirEntry> CNTFSDirectory::MakeEntry(CNTFSDriver& d, std::uint64_t record,
                                                     std::vector<std::uint8_t>& scratch) {
  ByteSpan r = d.CachedRecord(record, scratch);
  NtfsRecordHeader h;
  if (r.empty() || ParseRecordHeader(r, h) != NtfsParse::Ok) return nullptr;
  // Most records have no attribute list: one walk over the record gives
  // its names, times and data. A record with one gathers its names from
  // the records the list names.
  EntryAttributes parts;
  GatherEntryAttributes(r, parts);
  NtfsFileName first, chosen;
  std::string shown;
  std::optional<NtfsStandardInformation> si;
  if (!parts.hasList) {
    if (!parts.first) return nullptr;
    first = *parts.first;
    // Metadata files ("$MFT", "$Extend", ...) and dot names are not shown.
    if (first.StartsWith(u'$') || first.StartsWith(u'.')) return nullptr;
    // The long name Windows shows, when the first name is a short or
    // POSIX one: another name of the record in the same folder. Without
    // one, the first name stands (files made on Linux have POSIX names
    // only).
    chosen = parts.firstWin32 ? *parts.firstWin32 : first;
    shown = NtfsNameToUtf8(chosen.name);
    si = parts.standardInformation;
  } else {
    std::vector<NtfsName> names;
    d.CollectFileNames(record, r, names, false);
    if (names.empty() || names.front().startsHidden) return nullptr;
    const NtfsName* pick = &names.front();
    if (!pick->fields.IsWin32()) {
      for (const NtfsName& n : names) {
        if (n.fields.IsWin32() && n.fields.parent == names.front().fields.parent) {
          pick = &n;
          break;
        }
      }
    }
    first = names.front().fields;
    chosen = pick->fields;
    shown = pick->name;
    si = FindStandardInformation(r);
  }
  if (shown.empty()) shown = "Record_" + std::to_string(record);
  const bool deletedRecord = !h.InUse();
  // Times and attribute flags come from $STANDARD_INFORMATION, which the
  // file system keeps current; the copies in $FILE_NAME are refreshed only
  // when the file is created, renamed or moved, so they would show an
  // edited file with its creation time as its modification time. They
  // stand in only where the record has no sound $STANDARD_INFORMATION.
  NtfsStandardInformation times;
  times.created = first.created;
  times.modified = first.modified;
  times.accessed = first.accessed;
  times.flags = chosen.flags;
  if (si) {
    times = *si;
    // Only the $FILE_NAME copy carries the bit that marks a folder (one with
    // a name index); it is kept, so a folder's flags still say it is one.
    times.flags |= chosen.flags & kNtfsFileAttrNameIndex;
  }
  auto setCommon = [&](CDirEntry& e) {
    e.volume = &d;
    e.parent = this;
    e.created = FileTimeToEntryTime(times.created);
    e.modified = FileTimeToEntryTime(times.modified);
    e.accessed = FileTimeToEntryTime(times.accessed);
    e.attributes = times.flags;
    e.deleted = deletedRecord;
  };
  if (h.IsDirectory()) {
    auto dir = std::make_unique<CNTFSDirectory>();
    setCommon(*dir);
    dir->name = std::move(shown);
    dir->reference = record;
    dir->status = kStatusExisting;
    return dir;
  }
  auto file = std::make_unique<CNTFSFile>();
  setCommon(*file);
  file->typeText = TypeTextFromName(shown);
  file->name = std::move(shown);
  file->mftRecord = record;
  file->size = chosen.realSize;
  file->allocatedSize = chosen.allocatedSize;
  // The sizes and the first cluster come from the $DATA of the record at
  // hand, so the listing needs no second read of it; with an attribute
  // list that takes other records, which only a deleted file's rating
  // needs at once (other files read theirs when asked).
  NtfsDataStream data;
  bool dataHere = false;
  if (!parts.hasList) {
    if (parts.data && !h.IsExtension()) {
      const NtfsAttribute* only = &*parts.data;
      dataHere = JoinDataExtents(std::span(&only, 1), data, false);
    }
  } else {
    dataHere = deletedRecord && d.FindDataAttributeIn(record, r, data);
  }
  if (dataHere) file->TakeDataStream(data, d.BytesPerCluster());
  file->status = FileStatus(d, *file, deletedRecord, dataHere ? &data : nullptr);
  return file;
}

}  // namespace relictor
