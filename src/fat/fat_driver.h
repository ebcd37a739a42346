#pragma once
// The FAT12/16/32 reader: the boot sector and the allocation table, the
// directory tree with the deleted entries and their long names restored,
// file data read from consecutive clusters, and the FAT side of the deep
// scan. It reads the volume sector by sector and never writes to it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/entry.h"
#include "volume/boot_sector.h"
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

// Notices a chain that comes back to a cluster it passed, in at most about
// twice the length of the chain: it keeps one cluster of the walk and
// moves it forward at doubling intervals. A chain without a loop never
// meets the cluster it keeps.
struct ChainLoopGuard {
  std::uint64_t checkpoint = ~std::uint64_t{0};
  std::uint64_t lap = 0;
  std::uint64_t lapLimit = 1;

  explicit ChainLoopGuard(std::uint64_t start = ~std::uint64_t{0}) : checkpoint(start) {}
  // True when `next`, the cluster the walk moves to, closes a loop.
  bool Loops(std::uint64_t next) {
    if (next == checkpoint) return true;
    if (++lap >= lapLimit) {
      checkpoint = next;
      lap = 0;
      lapLimit *= 2;
    }
    return false;
  }
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
  enum class Stop { None, ReadFailed, PastVolumeEnd, NoStartCluster };
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

  // How deep MarkDirectoryTree goes below the folder it starts at.
  static constexpr int kMaxTreeDepth = 128;

 private:
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
};

class CFATDirectory : public CDirectory {
 public:
  const char* ClassName() const override { return "CFATDirectory"; }
  bool HasSubfolders(bool includeDeleted) override;
  void Populate(bool includeDeleted, bool deletedFilesOnly, bool force) override;
  bool GetFirstCluster(std::uint64_t& cluster) const override;

  std::uint32_t startCluster = 0;  // 0 for the fixed root region and the lost-files folder
  std::uint64_t startSector = 0;   // first sector of the fixed root region, else 0

 private:
  CFATDriver* Driver() const;
  bool IsLostFilesFolder() const;
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
