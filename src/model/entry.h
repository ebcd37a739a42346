#pragma once
// The entry tree that every reader fills and every view, search and
// recovery reads: folders own their children, a volume reader owns its
// root folder, so destroying a reader destroys its whole tree.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relictor {

class CVolumeDriver;
class CDirectory;
class OutputFile;
class ProgressSink;

// Points in time of one-second resolution since 1970-01-01 00:00 UTC.
using EntryTime = std::int64_t;
// A time the reader never set (the root folder's, or one it could not
// convert); its text is empty.
inline constexpr EntryTime kNoTime = INT64_MIN;

// Recoverability of an entry.
enum EntryStatus : std::uint32_t {
  kStatusExisting = 0,
  kStatusExcellent = 1,
  kStatusGood = 2,
  kStatusPoor = 3,
};

class CDirEntry {
 public:
  CDirEntry() = default;
  virtual ~CDirEntry() = default;
  CDirEntry(const CDirEntry&) = delete;
  CDirEntry& operator=(const CDirEntry&) = delete;

  // The runtime class name ("CDirEntry", "CFATFile", ...).
  virtual const char* ClassName() const { return "CDirEntry"; }

  // The folder path above the entry, from the volume root ("D:\Work\") or
  // from below `stop` when `stop` is an ancestor. A root gets "".
  virtual std::string GetLocation(const CDirectory* stop = nullptr) const;
  virtual std::uint64_t GetSize() { return size; }
  virtual std::uint64_t GetSizeOnDisk() { return allocatedSize; }
  // "4 KB" or "4 KB (5000 Bytes)"; empty for folders.
  virtual std::string GetSizeText(bool withBytes);
  virtual std::string GetSizeOnDiskText(bool withBytes);
  // "Existing", "Excellent", "Good" or "Poor".
  virtual std::string GetStatusText();
  virtual void Analyse() { analysed = true; }
  // The first cluster of the entry's data, where the reader has one.
  virtual bool GetFirstCluster(std::uint64_t& cluster) const {
    (void)cluster;
    return false;
  }

  std::string GetName() const { return name; }
  // Whether the entry is a CDirectory (known from its construction, so
  // that asking costs nothing in long listings).
  bool IsFolder() const { return folder_; }
  // Files: the type text; folders: the folder type name the front end set
  // (SetFolderTypeName), empty by default.
  std::string GetTypeText() const;
  // Local time as "%04d/%02d/%02d %02d:%02d:%02d"; empty when unset.
  std::string GetCreatedText() const;
  std::string GetModifiedText() const;
  // As above on volumes that keep the access time of day (NTFS); the date
  // alone ("%04d/%02d/%02d") on every other volume.
  std::string GetAccessedText() const;
  // GetAccessedText into a buffer of kDateTextCapacity bytes; its length.
  std::size_t GetAccessedTextTo(char* out) const;

  template <typename T>
  bool IsKindOf() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }

  // The entry's record, set by the reader that makes it.
  std::string name;
  std::string typeText;
  std::uint64_t size = 0;
  std::uint64_t allocatedSize = 0;
  EntryTime created = kNoTime;
  EntryTime modified = kNoTime;
  EntryTime accessed = kNoTime;
  std::uint32_t attributes = 0;
  bool deleted = false;
  std::uint32_t status = kStatusPoor;
  CVolumeDriver* volume = nullptr;  // not owned
  CDirectory* parent = nullptr;     // not owned; null for a root folder
  bool analysed = false;

 protected:
  explicit CDirEntry(bool folder) : folder_(folder) {}

 private:
  const bool folder_ = false;
};

class CDirectory : public CDirEntry {
 public:
  CDirectory() : CDirEntry(true) {}
  const char* ClassName() const override { return "CDirectory"; }
  std::string GetSizeText(bool) override { return {}; }
  std::string GetSizeOnDiskText(bool) override { return {}; }

  // Whether the navigation tree shows an expand button.
  virtual bool HasSubfolders(bool includeDeleted) = 0;
  // Reads the children and sets `populated`. `force` is true when the
  // search, the file count or the saving ask; a lost-files folder then
  // does not start a deep scan.
  virtual void Populate(bool includeDeleted, bool deletedFilesOnly, bool force) = 0;

  // What tells this folder apart from every other folder of its volume,
  // where the reader knows it: the first cluster of a FAT folder, the
  // record number of an NTFS one. Walks over the tree (search, count,
  // save, list) enter each folder once by this key, so a damaged volume
  // whose folder entries share a folder costs no more than a tree.
  virtual bool GetFolderKey(std::uint64_t& key) const { return GetFirstCluster(key); }

  // Makes the entries that Populate would (with the same choices) one at
  // a time and hands each to `take`, which owns it from then on, instead
  // of keeping them as children: a walk that needs each entry once holds
  // one at a time, however large the folder. `take` returns false to stop.
  // False when the reader cannot do this for the folder and handed out
  // nothing: the caller populates it instead. The folder's children and
  // `populated` stay as they were.
  using EntryTaker = std::function<bool(std::unique_ptr<CDirEntry>)>;
  virtual bool StreamEntries(bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) {
    (void)includeDeleted, (void)deletedFilesOnly, (void)take;
    return false;
  }

  // Appends a child, taking ownership; returns it.
  CDirEntry* Append(std::unique_ptr<CDirEntry> child);
  template <typename T>
  T* Append(std::unique_ptr<T> child) {
    T* raw = child.get();
    Append(std::unique_ptr<CDirEntry>(std::move(child)));
    return raw;
  }
  // Destroys every child.
  void ClearChildren();

  bool populated = false;
  std::vector<std::unique_ptr<CDirEntry>> children;
};

class CFSFile : public CDirEntry {
 public:
  const char* ClassName() const override { return "CFSFile"; }
  // Writes the file's data into an output file the caller opened; true when
  // the whole file was written. With a progress display it drives the file
  // bar, stops at a stop request and advances the saved-files counter.
  virtual bool SaveData(OutputFile& out, ProgressSink* progress) = 0;
};

// Whether `match` holds for `folder` or a folder above it. A reader asks
// this of a folder entry's first cluster before it lists the entry: one
// that names the folder itself or an ancestor would make the tree endless.
// The walk up is bounded, whatever the parent links hold.
template <typename Match>
bool IsSelfOrAncestor(const CDirEntry* folder, Match match) {
  int depth = 0;
  for (const CDirEntry* f = folder; f != nullptr && depth < 4096; f = f->parent, ++depth) {
    if (match(*f)) return true;
  }
  return false;
}

// The folder type name that GetTypeText gives for folders; a front end
// with a file list sets it (the shell's name of a folder).
void SetFolderTypeName(std::string name);

// The size text of a value: "1 KB" below 1024 bytes (but not for 0), else
// the value in whole KB; with bytes, followed by " (%d Bytes)".
std::string FormatSizeText(std::uint64_t value, bool withBytes);
// "Excellent", "Good", "Poor"; any other value "Existing".
std::string StatusText(std::uint32_t status);
// Local time texts; empty when the time is unset or cannot be converted.
std::string FormatDateTime(EntryTime t);
std::string FormatDate(EntryTime t);
// The same texts written into a buffer of kDateTextCapacity bytes, with a
// terminating zero; they return the text's length (0 when empty). Long
// listings use these: they reuse one buffer and look the zone's offset up
// once per hour of time stamps rather than once per time.
inline constexpr std::size_t kDateTextCapacity = 64;
std::size_t FormatDateTimeTo(EntryTime t, char* out);
// Seconds since 1970 UTC of a local time given as calendar fields, as
// mktime gives them with tm_isdst = -1 (fields past their ranges carry
// over); kNoTime where it gives -1. For long listings: away from changes
// of offset, the offset is looked up once per hour of local time.
EntryTime LocalFieldsToEntryTime(std::tm fields);
std::size_t FormatDateTo(EntryTime t, char* out);
// The type text of a file name: the text after its last ".", or the whole
// name when it has none.
std::string TypeTextFromName(const std::string& name);

}  // namespace relictor
