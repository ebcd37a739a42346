#pragma once
// The FAT12/16/32 reader: the boot sector and the allocation table, the
// directory tree with the deleted entries and their long names restored,
// file data read from consecutive clusters, and the FAT side of the deep
// scan. It reads the volume sector by sector and never writes to it.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/entry.h"
#include "model/output_file.h"
#include "volume/boot_sector.h"
#include "volume/chain_loop_guard.h"
#include "volume/driver.h"

namespace relictor {

class CFATDirectory;
class CFATFile;

// Classes of a FAT entry value (ClassifyFatValue).
enum FatValueClass : std::uint32_t {
  kFatNext = 1,
  kFatFree = 2,
  kFatReserved = 4,  // reserved or bad
  kFatEnd = 8,
};

// Where one walk through a directory stands. A chained directory walks its
// clusters through the allocation table; the fixed root region of FAT12
// and FAT16 (cluster 0) walks its sectors. The walk also keeps what it
// needs to end on a chain that loops back on itself.
struct FatDirCursor {
  std::uint32_t cluster = 0;
  std::uint64_t sector = 0;
  std::uint32_t index = 0;  // next entry within the current cluster or sector

  std::uint64_t steps = 0;  // clusters moved on so far
  ChainLoopGuard loop;
};

// Where a read of file data stands, and why it stopped early.
struct FatDataCursor {
  using Stop = DataStop;
  std::uint64_t cluster = 0;
  std::uint64_t offset = 0;  // bytes of the file delivered so far
  Stop stop = Stop::None;
  std::uint64_t failedSector = 0;
};

using FatRawEntry = std::array<std::uint8_t, 32>;

class CFATDriver : public CVolumeDriver {
 public:
  CFATDriver();
  ~CFATDriver() override;

  const char* ClassName() const override { return "CFATDriver"; }

  bool Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) override;
  bool ReadBootSector() override;
  void CreateRootEntries() override;

  std::string FileSystemName() const override;
  std::string VolumeLabel() override;
  bool MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) override;
  void FinishScan() override;
  std::uint64_t FirstDataCluster() const override { return 2; }
  std::uint64_t LastDataCluster() const override { return clusterCount_ + 1; }

  // First sector of a data cluster. Clusters 0 and 1 and clusters past the
  // end of the volume have none: they give a sector number that no read
  // accepts.
  std::uint64_t ClusterToSector(std::uint64_t cluster) const override;
  bool ScanCluster(std::uint64_t cluster, ClusterBitmap& bitmap, ProgressSink* progress) override;

  // The value of a cluster's entry in FAT copy `copy` (0 is the first);
  // 0 for a cluster outside 2 to clusterCount + 1 or a copy the volume does
  // not have. A FAT sector that cannot be read reads as zeros.
  std::uint32_t ReadFatEntry(std::uint32_t cluster, std::uint8_t copy);
  FatValueClass ClassifyFatValue(std::uint32_t value) const;
  bool IsChainEnd(std::uint32_t value) const;
  // Whether a value names a data cluster of this volume.
  bool IsDataCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster <= clusterCount_ + 1; }

  // Directories.
  FatDirCursor StartCursor(std::uint32_t cluster, std::uint64_t sector, std::uint32_t index = 0) const;
  bool ReadRawEntry(FatDirCursor& cursor, FatRawEntry& entry);
  bool ReadEntry(FatDirCursor& cursor, FatRawEntry& entry, std::string& name, bool includeDeleted);
  bool IsDirectoryCluster(std::uint32_t cluster);
  std::uint32_t RateEntry(std::uint32_t cluster, bool deleted, CFATFile* file);
  // The first cluster an entry names (the high half only on FAT32, where
  // the other types keep other data there).
  std::uint32_t EntryFirstCluster(const FatRawEntry& entry) const;

  // File data.
  bool ReadFileData(std::uint8_t* buffer, std::uint32_t capacity, std::uint64_t size, FatDataCursor& cursor,
                    std::uint32_t& delivered);

  // The deep scan.
  bool MarkDirectoryTree(std::uint64_t first, std::uint64_t last, ClusterBitmap& bitmap, std::uint32_t dirCluster,
                         std::uint64_t dirSector, ProgressSink* progress, int depth = 0);
  bool IsEmptyDirectory(std::uint32_t cluster);
  bool LooksLikeDirectoryContent(std::uint32_t cluster);
  bool LooksLikeRootCluster(std::uint32_t cluster);
  // Whether a cluster holds folder entries that belong to no listed folder:
  // a later cluster of a deleted folder, whose chain the deletion freed.
  // Every entry up to the end marker must look like one a file system
  // wrote, at least one must name a file or folder, and there is no "."
  // or ".." (that would be a folder's first cluster).
  bool LooksLikeOrphanedEntries(std::uint32_t cluster);

  FatType GetFatType() const { return geometry_.fatType; }
  const FatGeometry& Geometry() const { return geometry_; }
  std::uint32_t RootCluster() const { return rootCluster_; }
  std::uint64_t RootDirSector() const { return rootDirSector_; }
  std::uint32_t FirstClusterNumber() const { return firstClusterNumber_; }

  // Reads a folder the deep scan rebuilt, and the folders below it: lists
  // every entry, live or deleted, as lost, rates each file by what its
  // clusters hold, and claims the clusters of each file that will come back
  // from its entry, so that the carve neither looks inside them nor lists
  // the file a second time. During a scan `scanBitmap` is the scan's
  // bitmap; without a scan it is null and only the folder is read.
  void PopulateRebuilt(CFATDirectory& folder, ClusterBitmap* scanBitmap, int depth);

  // How deep MarkDirectoryTree goes below the folder it starts at.
  static constexpr int kMaxTreeDepth = 128;

 private:
  // What one deep scan keeps beside its bitmap.
  struct ScanState {
    // Clusters that something listed accounts for, over every data cluster
    // on the device: the volume's tree, the rebuilt folders' own clusters,
    // and the runs their files claimed.
    std::unique_ptr<ClusterBitmap> claims;
    // Slots in LostFiles of the carve's finds by start cluster, and of the
    // rebuilt folders that hang there directly. A slot emptied during the
    // scan (a find that a listed file claims, a folder moved under the
    // folder that names it) is removed when the scan ends.
    std::map<std::uint64_t, std::size_t> carved;
    std::unordered_map<std::uint32_t, std::size_t> rebuiltTop;
    // Bytes of the claims bitmap looked at so far: overlap tests stop
    // being made past a bound, so that hostile entries cost linear time.
    std::uint64_t claimWork = 0;
    std::uint64_t claimWorkLimit = 0;
    // Reads left for telling whether a subfolder entry of a rebuilt folder
    // names a folder, a few per cluster of the scan range: past them such
    // entries are listed unread.
    std::uint64_t folderProbesLeft = 0;
  };
  void StartScanState(std::uint64_t lastOnDevice);
  // The last data cluster that can lie on the device.
  std::uint64_t LastClusterOnDevice() const;
  void MarkIntactRun(const FatRawEntry& e, const std::string& name, std::uint64_t first, std::uint64_t last,
                     ClusterBitmap& bitmap);
  void AddRebuiltFile(CFATDirectory& folder, const FatRawEntry& e, const std::string& name, ClusterBitmap* scanBitmap);
  void AddRebuiltFolder(CFATDirectory& folder, const FatRawEntry& e, const std::string& name, ClusterBitmap* scanBitmap,
                        int depth);
  std::uint32_t RateByContent(std::uint32_t first, const CFATFile& file);
  bool BuildLongName(FatDirCursor& cursor, FatRawEntry& entry, std::string& name, bool& ranIntoNextRun);
  // Reads one sector into a cache; a failed read leaves zeros and no
  // cached sector, so that stale bytes of another sector are never taken
  // for this one.
  bool ReadCachedSector(std::uint64_t sector, std::vector<std::uint8_t>& buffer, std::size_t at,
                        std::uint64_t& cachedSector, bool& cacheValid);
  bool ReadDirSector(std::uint64_t sector);
  void MarkChain(std::uint32_t first, std::uint64_t lo, std::uint64_t hi, ClusterBitmap& bitmap);
  bool EntryPassesChecks(const FatRawEntry& e) const;
  std::string LabelFromRoot();

  FatGeometry geometry_;
  std::uint32_t firstClusterNumber_ = 0;
  std::uint32_t rootCluster_ = 0;
  std::uint64_t rootDirSector_ = 0;

  std::vector<std::uint8_t> fatBuffer_;
  std::uint64_t fatSector_ = 0;
  bool fatValid_ = false;
  std::vector<std::uint8_t> dirBuffer_;
  std::uint64_t dirSector_ = 0;
  bool dirValid_ = false;
  std::vector<std::uint8_t> dataBuffer_;
  std::uint64_t dataSector_ = 0;
  bool dataValid_ = false;
  std::unique_ptr<ScanState> scan_;
};

class CFATDirectory : public CDirectory {
 public:
  const char* ClassName() const override { return "CFATDirectory"; }
  bool HasSubfolders(bool includeDeleted) override;
  void Populate(bool includeDeleted, bool deletedFilesOnly, bool force) override;
  // Folders of the volume's tree only: the root holds the lost-files
  // folder, and rebuilt folders are made by the deep scan.
  bool StreamEntries(bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take) override;
  bool GetFirstCluster(std::uint64_t& cluster) const override;

  std::uint32_t startCluster = 0;  // 0 for the fixed root region and the lost-files folder
  std::uint64_t startSector = 0;   // first sector of the fixed root region, else 0
  // A folder the deep scan rebuilt, or one below it: the volume's tree no
  // longer names it, so all it holds is lost, live entries included.
  bool rebuilt = false;

 private:
  CFATDriver* Driver() const;
  bool IsLostFilesFolder() const;
  // Makes the entries of the folder's directory entries in their order and
  // hands each to `take` until it returns false.
  void MakeEntries(CFATDriver& d, bool includeDeleted, bool deletedFilesOnly, const EntryTaker& take);
};

class CFATFile : public CFSFile {
 public:
  const char* ClassName() const override { return "CFATFile"; }
  bool SaveData(OutputFile& out, ProgressSink* progress) override;
  bool GetFirstCluster(std::uint64_t& cluster) const override {
    cluster = startCluster;
    return true;
  }

  std::uint32_t startCluster = 0;
};

}  // namespace relictor
