#pragma once
// The exFAT reader: the boot region (with its checksum, falling back on the
// backup region), the FAT, the allocation bitmap, the up-case table and the
// volume label, the folder tree with existing and deleted entry sets, file
// data read through the FAT chain or as one run of clusters, and the exFAT
// side of the deep scan. It reads the volume and never writes to it.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "exfat/exfat_bitmap.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_entry_set.h"
#include "exfat/exfat_fat.h"
#include "exfat/exfat_upcase.h"
#include "model/entry.h"
#include "model/output_file.h"
#include "volume/chain_loop_guard.h"
#include "volume/driver.h"

namespace relictor {

class CExFATDirectory;
class CExFATFile;

// Where the bytes of a file or folder lie.
struct ExFatStream {
  std::uint32_t firstCluster = 0;
  std::uint64_t dataLength = 0;
  std::uint64_t validDataLength = 0;  // bytes behind it read as zeros
  // One run of clusters from the first: data written without a chain, and
  // deleted or orphaned data, whose chain (if it had one) is gone.
  bool contiguous = false;
};

// Where a sequential read of a stream stands, and why it stopped early.
struct ExFatDataCursor {
  using Stop = DataStop;
  std::uint64_t offset = 0;  // bytes of the stream delivered so far
  std::uint32_t cluster = 0; // the cluster holding the byte at `offset`
  bool started = false;
  std::uint64_t steps = 0;   // clusters moved on so far
  ChainLoopGuard loop;
  Stop stop = Stop::None;
  std::uint64_t failedSector = 0;
};

class CExFATDriver : public CVolumeDriver {
 public:
  CExFATDriver();
  ~CExFATDriver() override;

  const char* ClassName() const override { return "CExFATDriver"; }

  bool Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) override;
  bool ReadBootSector() override;
  void CreateRootEntries() override;

  std::string FileSystemName() const override { return "exFAT"; }
  std::string VolumeLabel() override { return label_; }
  bool MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) override;
  std::uint64_t FirstDataCluster() const override { return 2; }
  std::uint64_t LastDataCluster() const override { return clusterCount_ + 1; }
  std::uint64_t ClusterToSector(std::uint64_t cluster) const override;
  bool ScanCluster(std::uint64_t cluster, ClusterBitmap& bitmap, ProgressSink* progress) override;

  bool IsDataCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster <= clusterCount_ + 1; }
  // The FAT entry of a data cluster (first FAT); 0 for any other cluster or
  // a FAT sector that cannot be read.
  std::uint32_t ReadFatEntry(std::uint32_t cluster);

  // Reads up to `capacity` bytes of a stream from the cursor on, through
  // the FAT chain or the run of clusters. Bytes past the valid data length
  // are zeros. False when the stream stopped early (the cursor says why).
  bool ReadStream(const ExFatStream& stream, ExFatDataCursor& cursor, std::uint8_t* buffer, std::uint32_t capacity,
                  std::uint32_t& delivered);
  // The entries of a folder, at most kMaxFolderBytes; a folder that cannot
  // be read to its end gives what could be read.
  std::vector<std::uint8_t> ReadFolder(const ExFatStream& stream);
  // The root folder's stream: its chain, measured through the FAT.
  ExFatStream RootStream();

  // Whether a set read from a folder may be listed: its checksum matches,
  // or else its name hash does (the name at least belongs to the stream).
  // A set that fails both is counted among the volume's problems.
  bool AcceptSet(const ExFatEntrySet& set);
  // The rating of a deleted file or folder.
  std::uint32_t RateDeleted(const ExFatStream& stream, CDirEntry* file);
  // Whether every cluster of a run is free in the bitmap and on the volume.
  bool RunIsFree(std::uint32_t first, std::uint64_t clusters) const;
  // Clusters a stream of this length takes.
  std::uint64_t ClustersFor(std::uint64_t bytes) const;

  const ExFatGeometry& Geometry() const { return geometry_; }
  const ExFatAllocationBitmap& Bitmap() const { return bitmap_; }
  const ExFatUpcaseTable& Upcase() const { return upcase_; }
  std::uint32_t RootCluster() const { return geometry_.rootCluster; }
  // Whether the main boot region's checksum matched, and whether the
  // backup region was read instead.
  bool BootChecksumMatches() const { return bootChecksumOk_; }
  bool UsedBackupBootRegion() const { return usedBackup_; }
  // What was found wrong with the volume, one sentence each (at most
  // kMaxProblems are kept).
  const std::vector<std::string>& Problems() const { return problems_; }
  std::uint64_t SkippedSets() const { return skippedSets_; }
  void NoteProblem(std::string text);

  // The largest folder the format allows.
  static constexpr std::uint64_t kMaxFolderBytes = 256ull << 20;
  static constexpr std::size_t kMaxProblems = 100;
  static constexpr int kMaxTreeDepth = 128;
  // The most clusters one lost folder of the deep scan takes in.
  static constexpr std::uint64_t kMaxLostFolderClusters = 4096;

 private:
  bool TryBootRegion(std::uint64_t firstSector, std::uint32_t bytesPerSector, ExFatGeometry& g);
  void ReadRootMetadata();
  std::vector<std::uint8_t> ReadWholeStream(const ExFatStream& stream, std::uint64_t limit);
  bool LooksLikeFolderCluster(std::uint64_t cluster, bool& holdsVolumeEntries);
  void MarkRun(std::uint32_t first, std::uint64_t clusters, ClusterBitmap& bitmap) const;
  // Marks the runs of the deleted (or, in a lost folder, all) files and
  // folders a folder names, and walks into its subfolders.
  bool MarkFolder(const ExFatStream& folder, bool orphaned, ClusterBitmap& bitmap, ProgressSink* progress,
                  std::vector<std::uint32_t>& walked, int depth);

  ExFatGeometry geometry_;
  bool bootChecksumOk_ = false;
  bool usedBackup_ = false;
  std::string label_;
  ExFatAllocationBitmap bitmap_;
  ExFatUpcaseTable upcase_;
  std::vector<std::string> problems_;
  std::uint64_t skippedSets_ = 0;
  ExFatFatCache fat_;
  std::vector<std::uint8_t> scratch_;
};

class CExFATDirectory : public CDirectory {
 public:
  const char* ClassName() const override { return "CExFATDirectory"; }
  bool HasSubfolders(bool includeDeleted) override;
  void Populate(bool includeDeleted, bool deletedFilesOnly, bool force) override;
  // Folders of the volume's tree only: the root holds the lost-files
  // folder, and orphaned folders are made by the deep scan.
  bool StreamEntries(bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) override;
  bool GetFirstCluster(std::uint64_t& cluster) const override;

  ExFatStream stream;
  bool isRoot = false;
  // A folder the deep scan rebuilt from entries no folder names any more,
  // or a folder inside one: what it names is read as deleted data.
  bool orphaned = false;
  ExFatEntrySet entrySet;  // the entry set that named it (not for the root)

 private:
  CExFATDriver* Driver() const;
  bool IsLostFilesFolder() const;
  // Makes the entries of the folder's entry sets in their order and hands
  // each to `take` until it returns false.
  void MakeEntries(CExFATDriver& d, const EntryTaker& take);
};

class CExFATFile : public CFSFile {
 public:
  const char* ClassName() const override { return "CExFATFile"; }
  bool SaveData(OutputFile& out, ProgressSink* progress) override;
  bool GetFirstCluster(std::uint64_t& cluster) const override {
    cluster = stream.firstCluster;
    return stream.firstCluster >= 2;
  }

  ExFatStream stream;
  ExFatEntrySet entrySet;  // the entry set that named it; empty for a found file
};

// What the properties of an exFAT entry show beyond the common fields, as
// label and value: where its data lies and how it is read, both lengths,
// the set's checksum, and the times as the volume keeps them (hundredths
// of a second and the offset from UTC). Empty for entries of other readers.
std::vector<std::pair<std::string, std::string>> ExFatEntryDetails(const CDirEntry& entry);

}  // namespace relictor
