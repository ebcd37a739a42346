#pragma once
// The base of every reader: a device (or image) handle, the sector and
// cluster geometry the concrete reader worked out, sector reads by 64-bit
// sector number, and the progress texts of long scans. CVolumeDriver adds
// the entry tree of a volume.
//
// A reader either owns its device, or borrows the device of a whole disk
// (a partition of a disk image, a volume found by the lost-volume walk) and
// then adds its partition start to every sector it reads. The device is
// shared: a borrowed reader keeps the disk's source alive but never closes
// it, the source closes when its last user is gone.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "volume/cluster_bitmap.h"
#include "volume/endian.h"
#include "volume/host.h"
#include "volume/sector_source.h"
#include "volume/walk_memo.h"

namespace relictor {

class CDirectory;
class ProgressSink;

inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr unsigned char kNoLetter = 0xFF;

class CDriver {
 public:
  CDriver();
  virtual ~CDriver();
  CDriver(const CDriver&) = delete;
  CDriver& operator=(const CDriver&) = delete;

  virtual const char* ClassName() const { return "CDriver"; }

  // First sector of a cluster, relative to the volume.
  virtual std::uint64_t ClusterToSector(std::uint64_t cluster) const;
  // Deep-scan examination of one cluster that no known entry accounts for;
  // true when a lost file was found there and added.
  virtual bool ScanCluster(std::uint64_t cluster, ClusterBitmap& bitmap, ProgressSink* progress);
  virtual void AddToDriveCombo(DriveListSink& sink);
  virtual void AddToFolderTree(FolderTreeSink& tree, FolderTreeSink::Item parent);
  // Reads and checks the boot sector; the base only asks the device for
  // its sector size.
  virtual bool ReadBootSector();
  // Creates the root folder and the lost-files folder.
  virtual void CreateRootEntries();

  // Stores the drive type and display name; always true.
  bool SetIdentity(std::uint32_t driveType, std::string_view displayName);
  // The image or device that OpenDevice opens.
  void SetSourcePath(std::string path) { sourcePath_ = std::move(path); }
  // Hands the reader an already open source that it then owns like its
  // own device.
  void SetDevice(SectorSourcePtr device) { device_ = std::move(device); }
  // Opens the source path read-only (nothing when a device was set).
  bool OpenDevice();
  // Asks the device for its sector size; false without a device or when it
  // reports 0.
  bool QueryGeometry();
  // Reads `count` sectors of `bytesPerSector` bytes from sector `sector` of
  // the volume. A borrowed reader adds its partition start (in sectors of
  // the disk). Reading 0 sectors succeeds without a request.
  bool ReadSectors(std::uint64_t sector, void* buffer, std::uint32_t bytesPerSector, std::uint32_t count);
  // Reads one cluster into the cluster buffer; false outside the scan range
  // [firstCluster, lastCluster].
  bool ReadCluster(std::uint64_t cluster);

  // Progress of a deep scan or a lost-volume walk.
  void BeginCountProgress(ProgressSink* progress) const;
  void BeginScanProgress(ProgressSink* progress) const;
  void ReportScanProgress(ProgressSink* progress, std::uint64_t cluster) const;

  std::uint32_t GetDriveType() const { return driveType_; }
  const std::string& GetDisplayName() const { return displayName_; }
  const std::string& GetSourcePath() const { return sourcePath_; }
  const SectorSourcePtr& GetDevice() const { return device_; }
  std::uint32_t BytesPerSector() const { return bytesPerSector_; }
  std::uint32_t SectorsPerCluster() const { return sectorsPerCluster_; }
  std::uint32_t BytesPerCluster() const { return bytesPerCluster_; }
  std::uint64_t ClusterCount() const { return clusterCount_; }
  std::uint64_t FirstCluster() const { return firstCluster_; }
  std::uint64_t LastCluster() const { return lastCluster_; }
  // The deep scan's range dialog narrows the range for the rest of the
  // reader's life.
  void SetScanRange(std::uint64_t first, std::uint64_t last) {
    firstCluster_ = first;
    lastCluster_ = last;
    walks_.Clear();
  }
  // Whether the deep scan examines the clusters that existing entries
  // account for too (MarkKnownClusters is then not asked).
  void SetScanAllClusters(bool all) { scanAllClusters_ = all; }
  bool ScansAllClusters() const { return scanAllClusters_; }
  // What the length rules remember of earlier walks over this volume.
  WalkMemo& Walks() { return walks_; }
  const std::vector<std::uint8_t>& ClusterBuffer() const { return clusterBuffer_; }
  // Whoever takes the buffer to write to it makes it hold no cluster.
  std::vector<std::uint8_t>& ClusterBuffer() {
    bufferedCluster_ = kNoCluster;
    return clusterBuffer_;
  }
  bool IsBorrowed() const { return borrowed_; }
  std::uint64_t PartitionStart() const { return partitionStart_; }
  unsigned char Letter() const { return letter_; }
  // Why the last Open failed, in one sentence for the user (readers keep
  // no error codes, but a front end needs to say what was wrong).
  const std::string& OpenError() const { return openError_; }

 protected:
  bool Fail(std::string reason) {
    if (openError_.empty()) openError_ = std::move(reason);
    return false;
  }

  std::uint32_t driveType_ = kDriveFixed;
  std::string displayName_;
  std::string sourcePath_;
  SectorSourcePtr device_;
  bool scanAllClusters_ = false;
  std::uint32_t bytesPerCluster_ = 0;
  std::uint32_t sectorsPerCluster_ = 0;
  std::uint32_t bytesPerSector_ = 0;
  std::uint64_t clusterCount_ = 0;
  std::uint64_t firstCluster_ = 0;
  std::uint64_t lastCluster_ = 0;
  std::vector<std::uint8_t> clusterBuffer_;
  // The cluster the buffer holds as ReadCluster left it, so that reading
  // it again (every length rule starts at the cluster just examined) costs
  // nothing.
  static constexpr std::uint64_t kNoCluster = ~std::uint64_t{0};
  std::uint64_t bufferedCluster_ = kNoCluster;
  bool borrowed_ = false;
  std::uint64_t partitionStart_ = 0;
  unsigned char letter_ = kNoLetter;
  std::string openError_;
  WalkMemo walks_;
};

class CVolumeDriver : public CDriver {
 public:
  CVolumeDriver();
  ~CVolumeDriver() override;

  const char* ClassName() const override { return "CVolumeDriver"; }
  void AddToDriveCombo(DriveListSink& sink) override;
  void AddToFolderTree(FolderTreeSink& tree, FolderTreeSink::Item parent) override;

  // Opens the volume: stores the letter, the identity and the borrowed
  // flag; a reader that is not borrowed must open its device. The
  // concrete readers call this first.
  virtual bool Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed);
  // Borrowed mode: the disk's source, the volume's boot sector (512 bytes)
  // and its start sector on the disk. The readers keep the boot sector and
  // skip their own boot sector read when they open.
  virtual bool Attach(SectorSourcePtr device, ByteSpan bootSector, std::uint64_t startSector);

  // "FAT12", "FAT16", "FAT32" or "NTFS".
  virtual std::string FileSystemName() const = 0;
  // The volume label, empty when there is none.
  virtual std::string VolumeLabel() { return {}; }
  // Whether entry access times keep the time of day (NTFS does, FAT keeps
  // a date only).
  virtual bool KeepsAccessTimeOfDay() const { return false; }
  // Marks in the bitmap every cluster that the directory tree accounts
  // for, before a deep scan examines the rest; false when stopped. Readers
  // whose scan examines every cluster mark nothing.
  virtual bool MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress);
  // Called once when a deep scan that marked its known clusters ends,
  // finished or stopped.
  virtual void FinishScan() {}
  // The range of cluster numbers that hold data, which the range dialog of
  // the deep scan offers.
  virtual std::uint64_t FirstDataCluster() const { return 2; }
  virtual std::uint64_t LastDataCluster() const { return clusterCount_ + 1; }

  // Renames the volume (display name and root folder), for example once
  // its label is known.
  void Rename(const std::string& displayName);

  CDirectory* GetRoot() const { return root_.get(); }
  CDirectory* GetLostFiles() const { return lostFiles_; }
  // The text GetLocation puts in front of a path: the letter and ":\" for
  // a lettered volume, else the display name and "\".
  std::string RootPath() const;

  Host& GetHost() const { return *host_; }
  void SetHost(Host* host) { host_ = host ? host : &DefaultHost(); }

 protected:
  // Reads the volume's first 512 bytes into the boot sector copy: whole
  // device sectors, so a device sector smaller than 512 bytes still gives
  // the whole boot sector.
  bool ReadFirstSector();

  std::array<std::uint8_t, 512> bootSector_{};
  bool haveBootSector_ = false;
  std::unique_ptr<CDirectory> root_;
  CDirectory* lostFiles_ = nullptr;
  Host* host_;
};

}  // namespace relictor
