#include "scan/physical_driver.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "exfat/exfat_boot_sector.h"
#include "volume/checked.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {
namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t')) s.pop_back();
  std::size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : s.substr(start);
}

bool IsWholeDiskName(const std::string& n) {
  auto starts = [&](const char* p) { return n.rfind(p, 0) == 0; };
  return starts("sd") || starts("nvme") || starts("mmcblk") || starts("vd") || starts("hd") || starts("xvd") ||
         starts("loop");
}

std::string LostName(std::uint64_t start) { return "LostDriver_" + std::to_string(start + 1); }

}  // namespace

CPhysicalDriver::CPhysicalDriver(int number, std::string path) : number_(number) {
  sourcePath_ = std::move(path);
  letter_ = static_cast<unsigned char>(number);
}

void CPhysicalDriver::AddToDriveCombo(DriveListSink& sink) { sink.AddDrive(displayName_, this, nullptr); }

std::string DiskModelName(const std::string& sysBlock, const std::string& disk) {
  fs::path dir = fs::path(sysBlock) / disk;
  std::string model = ReadLine(dir / "device" / "model");
  if (model.empty()) model = ReadLine(dir / "device" / "name");  // SD and MMC cards
  if (model.empty()) {
    std::string backing = ReadLine(dir / "loop" / "backing_file");
    if (!backing.empty()) model = "Loop device of " + fs::path(backing).filename().string();
  }
  return model.empty() ? disk : model + " (" + disk + ")";
}

bool CPhysicalDriver::ProbeDisk() {
  if (!OpenDevice()) return false;
  std::uint32_t sectorSize = device_->SectorSize();
  if (sectorSize == 0) return Fail("the disk reports no sector size");
  std::uint64_t total = device_->Size() / sectorSize;
  if (total == 0) return Fail("the disk is empty");
  std::uint32_t type = kDriveFixed;
  std::string name;
  if (device_->IsBlockDevice()) {
    type = DriveTypeOf(sourcePath_);
    std::string base = fs::path(sourcePath_).filename().string();
    std::error_code ec;
    fs::path real = fs::canonical(sourcePath_, ec);
    if (!ec) base = real.filename().string();
    name = DiskModelName("/sys/block", base);
  } else {
    name = fs::path(sourcePath_).filename().string();
  }
  if (name.empty()) name = sourcePath_;
  bytesPerSector_ = sectorSize;
  sectorsPerCluster_ = 1;
  bytesPerCluster_ = sectorSize;
  clusterCount_ = total;
  firstCluster_ = 0;
  lastCluster_ = total;
  return Open(number_, type, name);
}

bool CPhysicalDriver::Open(int number, std::uint32_t driveType, const std::string& displayName) {
  number_ = number;
  letter_ = static_cast<unsigned char>(number);
  SetIdentity(driveType, displayName);
  clusterBuffer_.assign(bytesPerSector_ ? bytesPerSector_ : 512, 0);
  bufferedCluster_ = kNoCluster;
  return true;
}

void EnumPhysicalDrives(PhysicalDriveList& list, const std::vector<std::string>& named, bool includeSystem,
                        const std::string& sysBlock) {
  if (!list.disks.empty()) return;
  int number = 0;
  if (includeSystem) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(sysBlock, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      if (number >= 128 || !IsWholeDiskName(n)) continue;
      if (n.rfind("loop", 0) == 0 && ReadLine(fs::path(sysBlock) / n / "loop" / "backing_file").empty()) continue;
      if (ReadLine(fs::path(sysBlock) / n / "size") == "0") continue;
      auto disk = std::make_unique<CPhysicalDriver>(number, "/dev/" + n);
      if (disk->ProbeDisk()) {
        list.disks.push_back(std::move(disk));
        ++number;
      }
    }
  }
  for (const auto& path : named) {
    if (number >= 128) {
      list.problems.push_back(path + ": more than 128 disks");
      break;
    }
    auto disk = std::make_unique<CPhysicalDriver>(number, path);
    if (!disk->ProbeDisk()) {
      list.problems.push_back(disk->OpenError().empty() ? path + ": cannot open" : disk->OpenError());
      continue;
    }
    list.disks.push_back(std::move(disk));
    ++number;
  }
}

bool LooksLikeLostNtfs(ByteSpan b) {
  if (b.size() < 512 || le8(b, 0) != 0xEB) return false;
  if (std::memcmp(b.data() + 3, "NTFS    ", 8) != 0) return false;
  std::uint16_t bps = le16(b, 11);
  if (bps != 512 && bps != 1024) return false;
  if (!IsPowerOfTwo(le8(b, 13))) return false;
  if (le8(b, 16) != 0 || le8(b, 17) != 0 || le8(b, 18) != 0) return false;
  if (le32(b, 36) != 0x00800080) return false;
  return le16(b, 510) == 0xAA55;
}

bool LooksLikeLostExFat(ByteSpan b) {
  ExFatGeometry g;
  std::string reason;
  return ParseExFatBootSector(b, g, reason);
}

namespace {

// The disk sectors in one sector of an exFAT volume; 0 when the volume's
// sectors are smaller than the disk's, which cannot be.
std::uint64_t DiskSectorsPerVolumeSector(const CPhysicalDriver& disk, ByteSpan boot) {
  const std::uint32_t diskBytes = disk.BytesPerSector();
  const std::uint32_t shift = le8(boot, 108);
  if (diskBytes == 0 || shift < 9 || shift > 12 || (1u << shift) < diskBytes) return 0;
  return (1u << shift) / diskBytes;
}

// Whether the exFAT boot sector found at disk sector `at` is the first of
// its volume's two boot regions: the volume's FAT then starts where the
// boot sector says, with the media entry and an end-of-chain entry. The
// backup region lies twelve volume sectors further on, and its FAT
// offset, counted from the backup, points past the FAT.
bool FatFollowsBootSectorAt(CPhysicalDriver& disk, ByteSpan boot, std::uint64_t at) {
  const std::uint64_t ratio = DiskSectorsPerVolumeSector(disk, boot);
  if (ratio == 0) return false;
  const std::optional<std::uint64_t> fatSector = CheckedAdd(at, static_cast<std::uint64_t>(le32(boot, 80)) * ratio);
  if (!fatSector) return false;
  std::vector<std::uint8_t> sector(std::max<std::uint32_t>(512, disk.BytesPerSector()));
  if (!disk.ReadSectors(*fatSector, sector.data(), disk.BytesPerSector(), 1)) return false;
  const ByteSpan fat(sector);
  return (le32(fat, 0) & 0xFFFFFF00u) == 0xFFFFFF00u && le32(fat, 4) == 0xFFFFFFFFu;
}

// The start of the volume whose exFAT boot sector lies at disk sector
// `at`: `at` itself for a main boot sector, twelve volume sectors earlier
// for a backup whose main region is gone.
std::uint64_t ExFatVolumeStart(CPhysicalDriver& disk, ByteSpan boot, std::uint64_t at) {
  const std::uint64_t back = DiskSectorsPerVolumeSector(disk, boot) * kExFatBootRegionSectors;
  if (back == 0 || at < back || FatFollowsBootSectorAt(disk, boot, at)) return at;
  return FatFollowsBootSectorAt(disk, boot, at - back) ? at - back : at;
}

}  // namespace

bool LooksLikeLostFat(ByteSpan b) {
  if (b.size() < 512 || le8(b, 0) != 0xEB) return false;
  std::uint16_t bps = le16(b, 11);
  if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
  return le8(b, 510) == 0x55 && le8(b, 511) == 0xAA;
}

std::unique_ptr<CVolumeDriver> OpenLostVolume(CPhysicalDriver& disk, std::uint64_t start, const ReaderFactory& factory,
                                              Host* host, std::string& error) {
  std::vector<std::uint8_t> sector(std::max<std::uint32_t>(512, disk.BytesPerSector()));
  if (!disk.ReadSectors(start, sector.data(), disk.BytesPerSector(), 1)) {
    error = disk.GetSourcePath() + ": sector " + std::to_string(start) + " cannot be read";
    return nullptr;
  }
  ByteSpan boot(sector.data(), 512);
  FsKind kind = LooksLikeLostNtfs(boot)    ? FsKind::Ntfs
                : LooksLikeLostExFat(boot) ? FsKind::ExFat
                : LooksLikeLostFat(boot)   ? FsKind::Fat
                                           : FsKind::None;
  if (kind == FsKind::None) {
    // An exFAT volume whose main boot region is damaged is found by its
    // backup, twelve of its sectors on; the volume still starts here.
    for (std::uint32_t volumeBytes = 512; volumeBytes <= 4096 && kind == FsKind::None; volumeBytes *= 2) {
      if (volumeBytes < disk.BytesPerSector()) continue;
      const std::uint64_t backup = start + kExFatBootRegionSectors * (volumeBytes / disk.BytesPerSector());
      if (disk.ReadSectors(backup, sector.data(), disk.BytesPerSector(), 1) && LooksLikeLostExFat(boot) &&
          (1u << le8(boot, 108)) == volumeBytes) {
        kind = FsKind::ExFat;
      }
    }
  }
  if (kind == FsKind::None) {
    error = disk.GetSourcePath() + ": no FAT, exFAT or NTFS boot sector at sector " + std::to_string(start);
    return nullptr;
  }
  auto reader = factory ? factory(kind) : nullptr;
  if (!reader) {
    error = disk.GetSourcePath() + ": no reader for the volume at sector " + std::to_string(start);
    return nullptr;
  }
  reader->SetHost(host);
  reader->Attach(disk.GetDevice(), boot, start);
  reader->SetSourcePath(disk.GetSourcePath());  // for the output folder check
  if (!reader->Open(static_cast<unsigned char>(disk.Number()), disk.GetDriveType(), LostName(start), true)) {
    error = disk.GetSourcePath() + ": the volume at sector " + std::to_string(start) + " cannot be opened" +
            (reader->OpenError().empty() ? std::string() : ": " + reader->OpenError());
    return nullptr;
  }
  return reader;
}

bool FindLostDrivers(CPhysicalDriver& disk, std::vector<std::unique_ptr<CVolumeDriver>>* volumes,
                     const ReaderFactory& factory, ProgressSink* progress, std::vector<LostVolume>* found,
                     FolderTreeSink* tree, FolderTreeSink::Item treeParent, Host* host) {
  disk.BeginCountProgress(progress);
  if (!volumes) return false;
  disk.BeginScanProgress(progress);
  const std::uint64_t last = std::min(disk.LastCluster(), disk.TotalSectors());
  const std::uint32_t bps = disk.BytesPerSector();
  // The walk looks at one sector per step, but reads the disk a block of
  // sectors at a time; a block that fails to read is read again sector by
  // sector, so that only the unreadable sectors themselves are passed over.
  const std::uint32_t blockSectors = std::max<std::uint32_t>(1, (1u << 20) / std::max<std::uint32_t>(bps, 1));
  std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSectors) * bps);
  std::uint64_t blockStart = 0, blockCount = 0;
  std::vector<std::uint8_t> sector(std::max<std::uint32_t>(512, bps));
  auto readSector = [&](std::uint64_t s) -> bool {
    if (s < blockStart || s >= blockStart + blockCount) {
      blockStart = s;
      blockCount = std::min<std::uint64_t>(blockSectors, last - s);
      if (!disk.ReadSectors(s, block.data(), bps, static_cast<std::uint32_t>(blockCount))) {
        blockCount = 0;
        return disk.ReadSectors(s, sector.data(), bps, 1);
      }
    }
    std::memcpy(sector.data(), block.data() + (s - blockStart) * bps, bps);
    return true;
  };
  for (std::uint64_t s = disk.FirstCluster(); s < last;) {
    if (IsStopRequested()) return false;
    disk.ReportScanProgress(progress, s);
    if (!readSector(s)) {
      ++s;
      continue;
    }
    ByteSpan b(sector.data(), 512);
    LostVolume v;
    std::uint64_t next = s;
    // The walk jumps over a volume it found by the volume's own size, so
    // that it does not read the whole volume. The size counts from the
    // boot sector: adding the reserved or hidden sectors as well would
    // step past the start of a volume that follows right behind.
    if (LooksLikeLostNtfs(b)) {
      v.kind = FsKind::Ntfs;
      // The total is a 64-bit field; a damaged one may be as large as it
      // likes, and then the walk simply ends.
      v.sectors = le64(b, 40);
      v.fsName = "NTFS";
      const std::optional<std::uint64_t> end = CheckedAdd(s, v.sectors);
      next = end ? *end : last;  // lands on the backup boot sector, which is passed
    } else if (LooksLikeLostExFat(b)) {
      v.kind = FsKind::ExFat;
      v.fsName = "exFAT";
      const std::uint64_t ratio = DiskSectorsPerVolumeSector(disk, b);
      const std::uint64_t start = ExFatVolumeStart(disk, b, s);
      v.startSector = start;
      const std::optional<std::uint64_t> sectors = CheckedMul(le64(b, 72), ratio);
      v.sectors = sectors ? *sectors : 0;
      const std::optional<std::uint64_t> end = sectors ? CheckedAdd(start, *sectors) : std::nullopt;
      // The walk goes on behind the volume; a length of 0 steps over the
      // boot regions alone.
      next = end && *end > s ? *end - 1 : s + kExFatBootRegionSectors * std::max<std::uint64_t>(ratio, 1);
    } else if (LooksLikeLostFat(b)) {
      v.kind = FsKind::Fat;
      std::uint32_t total32 = le32(b, 32);
      v.sectors = total32 != 0 ? total32 : le16(b, 19);
      v.fsName = "FAT";
      // A FAT12/16 boot sector without a 32-bit total only steps over its
      // reserved sectors and the walk goes on inside the volume.
      next = total32 != 0 ? s + total32 - 1 : s + le16(b, 14);
    }
    if (v.kind != FsKind::None) {
      if (v.kind != FsKind::ExFat) v.startSector = s;
      v.name = LostName(v.startSector);
      auto reader = factory ? factory(v.kind) : nullptr;
      if (reader) {
        reader->SetHost(host);
        reader->Attach(disk.GetDevice(), b, v.startSector);
        reader->SetSourcePath(disk.GetSourcePath());
        v.opened = reader->Open(static_cast<unsigned char>(disk.Number()), disk.GetDriveType(), v.name, true);
        if (v.opened) v.fsName = reader->FileSystemName();
        if (tree) reader->AddToFolderTree(*tree, treeParent);
        v.reader = reader.get();
        volumes->push_back(std::move(reader));
      }
      if (found) found->push_back(v);
    }
    if (next >= last) break;
    s = next + 1;
  }
  if (progress && last > disk.FirstCluster()) disk.ReportScanProgress(progress, last);
  return true;
}

}  // namespace relictor
