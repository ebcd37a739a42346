#pragma once
// The NTFS reader: the boot sector and the master file table (MFT), which
// it reads through once, in one streaming pass, the first time a folder is
// read, keeping a compact index of its records (each record's folder and
// kind); record contents are read again when needed, through a bounded
// cache of record blocks. The folder tree is built from that index, with deleted files and folders, the
// "DeletedFiles" folder for deleted records whose folder is gone, and
// "LostFiles" for what the deep scan finds; and file data, read through
// the data runs of each file's unnamed $DATA attribute. It reads the volume
// and never writes to it.

#include <array>
#include <cstdlib>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/entry.h"
#include "ntfs/ntfs_attribute.h"
#include "ntfs/ntfs_data_runs.h"
#include "ntfs/ntfs_file_name.h"
#include "ntfs/ntfs_record.h"
#include "ntfs/ntfs_record_cache.h"
#include "volume/boot_sector.h"
#include "volume/driver.h"

namespace relictor {

class CNTFSDirectory;
class CNTFSFile;

// Record numbers of the special folders and files.
inline constexpr std::uint64_t kNtfsLostFilesReference = 0;
inline constexpr std::uint64_t kNtfsDeletedFilesReference = 1;
inline constexpr std::uint64_t kNtfsVolumeRecord = 3;
inline constexpr std::uint64_t kNtfsRootRecord = 5;
inline constexpr std::uint64_t kNtfsBitmapRecord = 6;

// The unnamed $DATA attribute of a file, gathered from all its extents
// (a long run list is split over several attribute records, often in
// extension records named by the file's $ATTRIBUTE_LIST).
struct NtfsDataStream {
  bool found = false;
  bool resident = false;
  std::vector<std::uint8_t> value;  // the data of a resident attribute
  std::uint64_t realSize = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t initializedSize = 0;
  std::uint16_t flags = 0;
  std::uint16_t compressionUnit = 0;
  std::vector<NtfsRun> runs;         // sorted by VCN, without gaps from VCN 0
  std::uint64_t mappedClusters = 0;  // the VCNs the runs cover from 0
  int extents = 0;
  bool listed = false;  // the base record has an attribute list

  bool IsCompressed() const { return (flags & kNtfsAttrCompressionMask) != 0; }
  bool IsEncrypted() const { return (flags & kNtfsAttrEncrypted) != 0; }
};

// One name of a record, copied out of the record that holds it.
struct NtfsName {
  NtfsFileName fields;  // its `name` span is not kept
  std::string name;     // UTF-8
  bool startsHidden = false;  // the name begins with "$" or "."
};

// Joins the extents of an unnamed $DATA attribute, sorted by their first
// VCN, into `out` (whose `listed` the caller sets); false when the first
// does not start at VCN 0. Without `withValue` a resident attribute gives
// its sizes but not a copy of its value.
bool JoinDataExtents(std::span<const NtfsAttribute* const> parts, NtfsDataStream& out, bool withValue);

class CNTFSDriver : public CVolumeDriver {
 public:
  CNTFSDriver();
  ~CNTFSDriver() override;

  const char* ClassName() const override { return "CNTFSDriver"; }

  bool Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) override;
  bool ReadBootSector() override;
  void CreateRootEntries() override;

  std::string FileSystemName() const override { return "NTFS"; }
  // The name in the $VOLUME_NAME attribute of the $Volume file.
  std::string VolumeLabel() override;
  bool KeepsAccessTimeOfDay() const override { return true; }
  // The deep scan may look at every cluster behind the boot sector's
  // first two, up to the volume's last cluster.
  std::uint64_t FirstDataCluster() const override { return 2; }
  std::uint64_t LastDataCluster() const override { return clusterCount_ > 0 ? clusterCount_ - 1 : 0; }

  std::uint64_t ClusterToSector(std::uint64_t cluster) const override;
  bool ScanCluster(std::uint64_t cluster, ClusterBitmap& bitmap, ProgressSink* progress) override;
  // Marks the clusters that $Bitmap says are in use.
  bool MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) override;

  // The MFT.
  // Works out the record size, reads record 0 (the $MFT file itself) and
  // the run lists of its data, which say where every other record lies.
  bool SetupMft();
  // Reads the whole MFT once, as long work through the host's job runner,
  // and builds the index of records the tree is made from; true when the
  // index is there (now or before). A stopped pass leaves nothing behind,
  // and the next call starts again from the beginning.
  bool LoadMft();
  bool IsMftLoaded() const { return mftLoaded_; }
  // Reads record `n` from the volume into `target` (resized to the record
  // size) and applies its fixups; false when it cannot be read or is no
  // record.
  bool ReadMftRecord(std::uint64_t n, std::vector<std::uint8_t>& target);
  // Record `n` through the record cache, fixed up, copied into `scratch`;
  // empty when `n` lies past the MFT or the record has no "FILE"
  // signature.
  ByteSpan CachedRecord(std::uint64_t n, std::vector<std::uint8_t>& scratch);
  // Record `n` from the cache, or else read alone from the volume (unless
  // `memoryOnly`); empty when neither has it.
  ByteSpan GetRecord(std::uint64_t n, std::vector<std::uint8_t>& scratch, bool memoryOnly = false);

  // Reads `count` clusters from `lcn` on; false when a cluster lies
  // outside the volume or the read fails.
  bool ReadClusters(std::uint64_t lcn, std::uint64_t count, std::uint8_t* buffer);
  // Reads `count` clusters of an attribute from `vcn` on through its runs
  // (holes as zeros). False, with what was read so far in the buffer, when
  // a VCN has no run or a read fails.
  bool ReadRuns(const std::vector<NtfsRun>& runs, std::uint64_t vcn, std::uint64_t count, std::uint8_t* buffer);
  // The value of an attribute (resident) or its data up to the real size
  // (non-resident), at most `limit` bytes; false when it is larger or
  // cannot be read.
  bool ReadAttributeData(const NtfsAttribute& attribute, std::vector<std::uint8_t>& out,
                         std::uint64_t limit = kMaxAttributeListBytes);

  // The unnamed $DATA attribute of a record, from the base record and
  // through its $ATTRIBUTE_LIST. With `memoryOnly` nothing but MFT records
  // is read (false where a non-resident attribute list would be needed).
  bool FindDataAttribute(std::uint64_t record, NtfsDataStream& out, bool memoryOnly = false);
  // The same from the base record's bytes already in hand.
  bool FindDataAttributeIn(std::uint64_t record, ByteSpan base, NtfsDataStream& out, bool memoryOnly = false);
  // The names of a record in their order: those in the base record, then
  // those its attribute list places in extension records. With
  // `firstOnly` the walk ends at the first name.
  void CollectFileNames(std::uint64_t record, ByteSpan base, std::vector<NtfsName>& out, bool firstOnly,
                        bool memoryOnly = false);
  // Whether a record counts as an entry of the tree: a base record (not an
  // extension of another) with a name. Fills the header and the first
  // name.
  bool ListableRecord(std::uint64_t record, NtfsRecordHeader& header, NtfsName& firstName);

  // What the tree needs from the MFT, built by the pass over it: the
  // records of each folder in record order, the folders that have
  // subfolders, and the items of "DeletedFiles".
  struct DeletedFilesItem {
    bool placeholder = false;  // a "Cluster_%d" folder for a lost parent
    std::uint64_t value = 0;   // the parent's number, or the record to list
  };
  std::vector<std::uint64_t> ChildrenOf(std::uint64_t folder) const;
  bool FolderHasSubfolders(std::uint64_t folder) const;
  const std::vector<DeletedFilesItem>& DeletedFilesItems() const { return deletedItems_; }

  const NtfsGeometry& Geometry() const { return geometry_; }
  std::uint32_t RecordSize() const { return recordSize_; }
  std::uint64_t RecordCount() const { return recordCount_; }
  const std::vector<NtfsRun>& MftRuns() const { return mftRuns_; }
  CNTFSDirectory* GetDeletedFiles() const { return deletedFiles_; }
  // How many times the MFT was read through and indexed.
  int MftLoads() const { return mftLoads_; }
  // Bytes the index of records holds (not counting the record cache).
  std::uint64_t IndexBytes() const;
  NtfsRecordCache& RecordCache() { return cache_; }
  // The record cache's blocks and how many it holds at most; takes effect
  // on the next open.
  void SetRecordCacheShape(std::size_t blockBytes, std::size_t maxBlocks) {
    cacheBlockBytes_ = blockBytes;
    cacheBlocks_ = maxBlocks;
  }

  // Streams the volume's cluster allocation bitmap (the unnamed $DATA of
  // the $Bitmap file) in pieces of at most kBitmapPieceBytes: `visit` gets
  // the number of the first cluster a piece describes, its bytes (bit i of
  // byte j is cluster first + 8 * j + i, set when in use) and the number of
  // clusters it describes, never past the volume's last cluster. A bitmap
  // longer than the volume needs is read only as far as the volume
  // reaches. False when the bitmap cannot be found or read that far (the
  // pieces handed out so far stand), or when `visit` returns false.
  bool StreamClusterBitmap(const std::function<bool(std::uint64_t firstCluster, ByteSpan bits,
                                                    std::uint64_t clusters)>& visit);
  static constexpr std::size_t kBitmapPieceBytes = 1u << 20;

  // A cap on attribute lists read from the volume: the file system keeps
  // them within 256 KiB, and a damaged size must not make every record's
  // reading cost megabytes.
  static constexpr std::uint64_t kMaxAttributeListBytes = 256u << 10;
  // The buffer that file data are streamed through.
  static constexpr std::size_t kSaveBufferBytes = 4u << 20;

 private:
  friend class MftLoadTask;
  bool ReadAttributeList(ByteSpan base, std::vector<std::uint8_t>& list, bool memoryOnly);
  // Fills `out` with records `first` to first + count - 1 read through the
  // MFT's runs in large pieces, each record with its fixups applied; what
  // cannot be read is zeros.
  void ReadRecordBlock(std::uint64_t first, std::uint64_t count, std::uint8_t* out);
  // ListableRecord on a record's bytes, which nothing else may change
  // while it runs. Without `withName` the first name's text may be left
  // empty (the index needs its fields only).
  bool ListableBytes(std::uint64_t record, ByteSpan r, NtfsRecordHeader& header, NtfsName& firstName,
                     bool withName = true);
  // Takes one record of the pass over the MFT into the index.
  void IndexRecord(std::uint64_t record, ByteSpan r);
  bool GatherMftExtents();
  // Reads a record through the MFT's runs, before the record count is
  // known (for the MFT's own extension records).
  bool ReadRecordThroughRuns(std::uint64_t n, std::vector<std::uint8_t>& target);
  void ClearIndex();
  void FinishIndex();

  NtfsGeometry geometry_;
  std::uint32_t recordSize_ = 0;
  std::vector<std::uint8_t> record0_;
  std::vector<NtfsRun> mftRuns_;
  std::uint64_t mftMappedClusters_ = 0;
  std::uint64_t recordCount_ = 0;
  bool mftLoaded_ = false;
  int mftLoads_ = 0;
  NtfsRecordCache cache_;
  std::size_t cacheBlockBytes_ = 256u << 10;
  std::size_t cacheBlocks_ = 16;

  // The index. While the pass runs the links go into a deque, which grows
  // without moving what it holds; at its end they move into a vector of
  // exactly their number, block by block as the deque gives its blocks
  // back, so the index never needs twice its size at once, and they are
  // sorted there (sorting through a deque's iterators costs twice as much).
  struct ChildLink {
    std::uint64_t parent;
    std::uint64_t record;
  };
  std::deque<ChildLink> pendingChildren_;             // in record order
  std::vector<ChildLink> children_;                   // sorted by parent, then record
  std::vector<std::uint64_t> foldersWithSubfolders_;  // sorted, unique
  std::vector<DeletedFilesItem> deletedItems_;
  // One bit a record: the record is a folder (a sound header with the
  // folder flag), for telling a deleted file's lost parent.
  std::vector<std::uint64_t> folderBits_;
  std::vector<std::uint64_t> deletedBits_;  // while the pass runs

  CNTFSDirectory* deletedFiles_ = nullptr;
};

class CNTFSDirectory : public CDirectory {
 public:
  const char* ClassName() const override { return "CNTFSDirectory"; }
  bool HasSubfolders(bool includeDeleted) override;
  void Populate(bool includeDeleted, bool deletedFilesOnly, bool force) override;
  // Ordinary folders only: the root and the special folders hold entries
  // that are not made from records.
  bool StreamEntries(bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) override;
  bool GetFolderKey(std::uint64_t& key) const override {
    key = reference;
    return true;
  }

  // The folder's record number (48 bits; for a "Cluster_%d" placeholder the
  // lost parent's number, for "LostFiles" 0 and "DeletedFiles" 1).
  std::uint64_t reference = 0;

 private:
  CNTFSDriver* Driver() const;
  // Makes the entries of the folder's records in record order and hands
  // each to `take` until it returns false.
  void MakeRecordEntries(CNTFSDriver& d, const EntryTaker& take);
  // Makes the entry of one record of this folder, or null when the record
  // is not shown (metadata files, dot names).
  // `scratch` holds the record's bytes.
  std::unique_ptr<CDirEntry> MakeEntry(CNTFSDriver& d, std::uint64_t record, std::vector<std::uint8_t>& scratch);
};

class CNTFSFile : public CFSFile {
 public:
  const char* ClassName() const override { return "CNTFSFile"; }
  std::uint64_t GetSize() override;
  std::uint64_t GetSizeOnDisk() override;
  std::string GetSizeText(bool withBytes) override;
  std::string GetSizeOnDiskText(bool withBytes) override;
  // The status is set when the entry is made.
  void Analyse() override { analysed = true; }
  bool SaveData(OutputFile& out, ProgressSink* progress) override;
  // Deep-scan finds: their first cluster. Files of the MFT: the first
  // cluster of non-resident data, once the MFT is indexed, when its
  // records tell it without a read of other data.
  bool GetFirstCluster(std::uint64_t& cluster) const override;

  // Reads the real and allocated size from the file's $DATA attribute,
  // once. Deep-scan finds keep the sizes they were found with.
  void RefreshSizes();
  bool IsDeepScanFile() const;
  // Takes the sizes from the file's $DATA attribute, and the first
  // cluster where the base record alone tells it, so that neither needs
  // the record again.
  void TakeDataStream(const NtfsDataStream& s, std::uint64_t bytesPerCluster);

  bool sizesLoaded = false;
  // The file's MFT record number; for a deep-scan find its first cluster.
  std::uint64_t mftRecord = 0;

 private:
  CNTFSDriver* Driver() const;
  bool SaveConsecutiveClusters(CNTFSDriver& d, OutputFile& out, ProgressSink* progress);
  bool sizesTried_ = false;
  bool firstClusterKnown_ = false;
  bool hasFirstCluster_ = false;
  std::uint64_t firstCluster_ = 0;
};

// The recoverability of a file from its record: 0 "Existing" when it is in
// use; for a deleted file, the rating of its first cluster, or 2 "Good"
// when its data are resident or it has none.
// `known`: the file's $DATA attribute when it was found already.
std::uint32_t FileStatus(CNTFSDriver& volume, CNTFSFile& file, bool deleted, const NtfsDataStream* known = nullptr);

}  // namespace relictor
