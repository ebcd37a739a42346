#include "volume/drive_list.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "volume/checked.h"

namespace relictor {
namespace {

namespace fs = std::filesystem;

bool ReadSysfsLine(const fs::path& path, std::string& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, out);
  return true;
}

std::uint32_t RemovableTypeAt(const fs::path& sysDevice) {
  std::string value;
  fs::path dir = sysDevice;
  // A partition's own folder has no removable flag; its disk's has.
  if (!fs::exists(dir / "removable") && fs::exists(dir / "partition")) dir = dir.parent_path();
  if (ReadSysfsLine(dir / "removable", value) && value == "1") return kDriveRemovable;
  return kDriveFixed;
}

void AddCandidate(SourceReport& r, std::uint64_t start, std::uint64_t count, int number, bool partitioned,
                  std::uint32_t driveType) {
  std::uint32_t ss = r.source->SectorSize();
  std::vector<std::uint8_t> sector(std::max<std::uint32_t>(ss, 512));
  // The start comes from a partition table; its byte offset must not wrap.
  const std::optional<std::uint64_t> startByte = CheckedMul(start, ss);
  if (!startByte || !r.source->ReadAt(*startByte, sector.data(), sector.size())) {
    if (partitioned) r.problems.push_back(r.path + ": partition " + std::to_string(number) + " cannot be read");
    return;
  }
  VolumeCandidate c;
  c.boot = IdentifyBootSector(ByteSpan(sector.data(), 512));
  if (c.boot.kind == FsKind::None) return;
  c.sourcePath = r.path;
  c.source = r.source;
  c.partitioned = partitioned;
  c.partitionNumber = number;
  c.startSector = start;
  c.sectorCount = count;
  c.driveType = driveType;
  c.bootSector.assign(sector.begin(), sector.begin() + 512);
  // A volume that claims more sectors than the source holds is usually a
  // truncated image: it is still listed, since much of it may be readable.
  std::uint64_t have = r.source->Size() - std::min(r.source->Size(), *startByte);
  const std::optional<std::uint64_t> need = CheckedMul(c.boot.totalSectors, c.boot.bytesPerSector);
  if (need && *need > have) {
    r.problems.push_back(r.path + (partitioned ? ": partition " + std::to_string(number) : std::string()) +
                         ": the " + c.boot.fsName + " volume needs " + std::to_string(*need) + " bytes but only " +
                         std::to_string(have) + " are there (truncated image?)");
  }
  r.volumes.push_back(std::move(c));
}

}  // namespace

std::uint32_t DriveTypeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return kDriveFixed;
  fs::path sys = fs::path("/sys/dev/block") / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  std::error_code ec;
  fs::path real = fs::canonical(sys, ec);
  return ec ? kDriveFixed : RemovableTypeAt(real);
}

SourceReport ExamineSource(const std::string& path) {
  std::string error;
  auto source = FileSource::Open(path, error);
  if (!source) {
    SourceReport r;
    r.path = path;
    r.problems.push_back(error);
    return r;
  }
  return ExamineSource(source, path, DriveTypeOf(path));
}

SourceReport ExamineSource(SectorSourcePtr source, const std::string& path, std::uint32_t driveType) {
  SourceReport r;
  r.path = path;
  r.source = std::move(source);
  if (r.source->Size() < 512) {
    r.problems.push_back(path + ": too small to hold a volume (" + std::to_string(r.source->Size()) + " bytes)");
    return r;
  }
  r.table = ReadPartitionTable(*r.source);
  for (const auto& p : r.table.problems) r.problems.push_back(path + ": " + p);
  if (r.table.kind == TableKind::None) {
    AddCandidate(r, 0, r.source->Size() / r.source->SectorSize(), 0, false, driveType);
    if (r.volumes.empty()) {
      std::vector<std::uint8_t> s0(512);
      BootSectorInfo info;
      if (r.source->ReadAt(0, s0.data(), s0.size())) info = IdentifyBootSector(ByteSpan(s0));
      r.problems.push_back(path + ": no FAT or NTFS volume and no partition table found (" +
                           (info.reason.empty() ? std::string("first sector unreadable") : info.reason) + ")");
    }
    return r;
  }
  for (const auto& p : r.table.partitions) AddCandidate(r, p.startSector, p.sectorCount, p.number, true, driveType);
  if (r.volumes.empty() && r.table.problems.empty()) {
    r.problems.push_back(path + ": none of its " + std::to_string(r.table.partitions.size()) +
                         " partitions holds a FAT or NTFS volume");
  }
  return r;
}

std::vector<SourceReport> ExamineSystemVolumes(const std::string& sysBlock, const std::string& devRoot) {
  std::vector<SourceReport> out;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(sysBlock, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    // RAM disks and optical drives are never shown.
    if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0 || name.rfind("sr", 0) == 0) continue;
    std::string size;
    if (!ReadSysfsLine(fs::path(sysBlock) / name / "size", size) || size == "0") continue;
    std::string dev = devRoot + "/" + name;
    std::string error;
    auto source = FileSource::Open(dev, error, true);
    if (!source) continue;  // not readable by this user: left out
    std::error_code ec2;
    fs::path real = fs::canonical(fs::path(sysBlock) / name, ec2);
    std::uint32_t type = ec2 ? kDriveFixed : RemovableTypeAt(real);
    std::vector<std::uint8_t> s0(std::max<std::uint32_t>(512, source->SectorSize()));
    if (!source->ReadAt(0, s0.data(), s0.size())) continue;
    if (!IsKnownBootSector(ByteSpan(s0.data(), 512))) continue;
    SourceReport r;
    r.path = dev;
    r.source = source;
    AddCandidate(r, 0, source->Size() / source->SectorSize(), 0, false, type);
    if (!r.volumes.empty()) out.push_back(std::move(r));
  }
  return out;
}

std::string VolumeDisplayName(const std::string& root, const std::string& label) {
  return label.empty() ? root : root + " (" + label + ")";
}

std::unique_ptr<CVolumeDriver> OpenVolume(const VolumeCandidate& c, const ReaderFactory& factory,
                                          unsigned char letter, const std::string& displayName, Host* host,
                                          std::string& error) {
  auto reader = factory ? factory(c.boot.kind) : nullptr;
  if (!reader) {
    error = c.sourcePath + ": no reader for " + c.boot.fsName + " volumes";
    return nullptr;
  }
  reader->SetHost(host);
  reader->SetSourcePath(c.sourcePath);
  bool ok;
  if (c.partitioned) {
    ok = reader->Attach(c.source, ByteSpan(c.bootSector), c.startSector) &&
         reader->Open(letter, c.driveType, displayName, true);
  } else {
    reader->SetDevice(c.source);
    ok = reader->Open(letter, c.driveType, displayName, false);
  }
  if (!ok) {
    error = c.sourcePath + (c.partitioned ? ": partition " + std::to_string(c.partitionNumber) : std::string()) +
            ": cannot open the " + c.boot.fsName + " volume" +
            (reader->OpenError().empty() ? std::string() : ": " + reader->OpenError());
    return nullptr;
  }
  return reader;
}

void DriveList::Build(const std::vector<SourceReport>& sources, const ReaderFactory& factory, Host* host) {
  if (!drives_.empty()) return;
  for (const auto& source : sources) Add(source, factory, host);
}

std::vector<CVolumeDriver*> DriveList::Add(const SourceReport& source, const ReaderFactory& factory, Host* host) {
  std::vector<CVolumeDriver*> added;
  for (const auto& p : source.problems) problems_.push_back(p);
  int index = 0;
  for (const auto& c : source.volumes) {
    ++index;
    // Past Z there are no letters; such volumes go by their names.
    unsigned char l = nextLetter_ <= 'Z' ? nextLetter_ : kNoLetter;
    std::string root = l != kNoLetter ? std::string(1, static_cast<char>(l)) + ":\\"
                                      : "Volume" + std::to_string(drives_.size() + 1) + "\\";
    std::string error;
    auto reader = OpenVolume(c, factory, l, root, host, error);
    if (!reader) {
      failures_.push_back({source.path, index, error});
      continue;
    }
    reader->Rename(VolumeDisplayName(root, reader->VolumeLabel()));
    if (nextLetter_ <= 'Z') ++nextLetter_;
    added.push_back(reader.get());
    drives_.push_back({std::move(reader), source.path, index, c.partitionNumber, c.startSector});
  }
  return added;
}

CVolumeDriver* DriveList::Adopt(std::unique_ptr<CVolumeDriver> reader) {
  if (!reader) return nullptr;
  CVolumeDriver* raw = reader.get();
  std::string path = raw->GetSourcePath();
  drives_.push_back({std::move(reader), std::move(path)});
  return raw;
}

}  // namespace relictor
