#include "volume/driver.h"

#include <cstring>
#include <limits>

#include "model/entry.h"
#include "worker/frontend.h"

namespace relictor {

Host& DefaultHost() {
  static Host host;
  return host;
}

CDriver::CDriver() = default;

// The device goes with the last reader that holds it; a borrowed reader
// only drops its share.
CDriver::~CDriver() = default;

std::uint64_t CDriver::ClusterToSector(std::uint64_t) const { return 0; }

bool CDriver::ScanCluster(std::uint64_t, ClusterBitmap&, ProgressSink*) { return false; }

void CDriver::AddToDriveCombo(DriveListSink&) {}

void CDriver::AddToFolderTree(FolderTreeSink&, FolderTreeSink::Item) {}

bool CDriver::ReadBootSector() { return QueryGeometry(); }

void CDriver::CreateRootEntries() {}

bool CDriver::SetIdentity(std::uint32_t driveType, std::string_view displayName) {
  driveType_ = driveType;
  displayName_ = std::string(displayName);
  return true;
}

bool CDriver::OpenDevice() {
  if (device_) return true;
  if (sourcePath_.empty()) return Fail("no device or image given");
  std::string error;
  auto source = FileSource::Open(sourcePath_, error);
  if (!source) return Fail(error);
  device_ = std::move(source);
  return true;
}

bool CDriver::QueryGeometry() {
  if (!device_) return false;
  bytesPerSector_ = device_->SectorSize();
  return bytesPerSector_ != 0;
}

bool CDriver::ReadSectors(std::uint64_t sector, void* buffer, std::uint32_t bytesPerSector, std::uint32_t count) {
  if (count == 0) return true;
  if (!device_ || bytesPerSector == 0) return false;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t base = 0;
  if (borrowed_) {
    std::uint64_t diskSector = device_->SectorSize();
    if (partitionStart_ > kMax / diskSector) return false;
    base = partitionStart_ * diskSector;
  }
  if (sector > (kMax - base) / bytesPerSector) return false;
  std::uint64_t offset = base + sector * bytesPerSector;
  std::uint64_t length = static_cast<std::uint64_t>(bytesPerSector) * count;
  if (length > std::numeric_limits<std::size_t>::max()) return false;
  return device_->ReadAt(offset, buffer, static_cast<std::size_t>(length));
}

bool CDriver::ReadCluster(std::uint64_t cluster) {
  if (cluster < firstCluster_ || cluster > lastCluster_) return false;
  if (clusterBuffer_.size() < static_cast<std::size_t>(bytesPerSector_) * sectorsPerCluster_) return false;
  if (cluster == bufferedCluster_) return true;
  bufferedCluster_ = kNoCluster;
  if (!ReadSectors(ClusterToSector(cluster), clusterBuffer_.data(), bytesPerSector_, sectorsPerCluster_)) return false;
  bufferedCluster_ = cluster;
  return true;
}

namespace {
std::string CounterText(std::uint64_t a, std::uint64_t b) { return std::to_string(a) + "/" + std::to_string(b); }
}  // namespace

void CDriver::BeginCountProgress(ProgressSink* progress) const {
  if (!progress) return;
  if (progress->HasText(ProgressText::Status)) progress->SetText(ProgressText::Status, "Calculating...");
  if (progress->HasText(ProgressText::Counter)) {
    progress->SetText(ProgressText::Counter, CounterText(firstCluster_, lastCluster_));
  }
  if (progress->HasBar(ProgressBar::Overall)) {
    progress->SetRange(ProgressBar::Overall, 0, lastCluster_ >= firstCluster_ ? lastCluster_ - firstCluster_ : 0);
  }
}

void CDriver::BeginScanProgress(ProgressSink* progress) const {
  if (!progress) return;
  if (progress->HasText(ProgressText::Status)) progress->SetText(ProgressText::Status, "Scanning...");
  if (progress->HasBar(ProgressBar::Overall)) progress->SetPos(ProgressBar::Overall, 0);
}

void CDriver::ReportScanProgress(ProgressSink* progress, std::uint64_t cluster) const {
  if (!progress) return;
  if (progress->HasText(ProgressText::Counter)) {
    progress->SetText(ProgressText::Counter, CounterText(cluster, lastCluster_));
  }
  if (progress->HasBar(ProgressBar::Overall)) {
    progress->SetPos(ProgressBar::Overall, cluster >= firstCluster_ ? cluster - firstCluster_ : 0);
  }
}

CVolumeDriver::CVolumeDriver() : host_(&DefaultHost()) {}

// The tree goes first, while the reader it points to is still whole.
CVolumeDriver::~CVolumeDriver() {
  lostFiles_ = nullptr;
  root_.reset();
}

void CVolumeDriver::AddToDriveCombo(DriveListSink& sink) {
  if (root_) sink.AddDrive(root_->name, this, root_.get());
}

void CVolumeDriver::AddToFolderTree(FolderTreeSink& tree, FolderTreeSink::Item parent) {
  if (!root_) return;
  int image = driveType_ == kDriveRemovable ? 3 : 2;
  tree.InsertFolder(parent, root_.get(), root_->name, image, image, true);
}

bool CVolumeDriver::Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) {
  letter_ = letter;
  SetIdentity(driveType, displayName);
  borrowed_ = borrowed;
  if (borrowed) return device_ != nullptr || Fail("no disk to read the volume through");
  return OpenDevice();
}

bool CVolumeDriver::Attach(SectorSourcePtr device, ByteSpan bootSector, std::uint64_t startSector) {
  if (bootSector.size() < bootSector_.size()) return Fail("boot sector shorter than 512 bytes");
  device_ = std::move(device);
  std::memcpy(bootSector_.data(), bootSector.data(), bootSector_.size());
  haveBootSector_ = true;
  partitionStart_ = startSector;
  return true;
}

bool CVolumeDriver::ReadFirstSector() {
  if (!QueryGeometry()) return Fail("cannot tell the sector size of the device");
  const auto count = static_cast<std::uint32_t>((bootSector_.size() + bytesPerSector_ - 1) / bytesPerSector_);
  std::vector<std::uint8_t> sector(static_cast<std::size_t>(count) * bytesPerSector_);
  if (!ReadSectors(0, sector.data(), bytesPerSector_, count)) return Fail("cannot read the boot sector");
  std::memcpy(bootSector_.data(), sector.data(), bootSector_.size());
  haveBootSector_ = true;
  return true;
}

bool CVolumeDriver::MarkKnownClusters(ClusterBitmap&, ProgressSink*) { return true; }

void CVolumeDriver::Rename(const std::string& displayName) {
  SetIdentity(driveType_, displayName);
  if (root_) root_->name = displayName;
}

std::string CVolumeDriver::RootPath() const {
  if (letter_ >= 'A' && letter_ <= 'Z') return std::string(1, static_cast<char>(letter_)) + ":\\";
  return displayName_ + "\\";
}

}  // namespace relictor
