#include "app/vesk_doc.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <utility>

#include "app/relictor_app.h"
#include "platform/udisks.h"
#include "readers/reader_factory.h"

using relictor::CPhysicalDriver;
using relictor::CVolumeDriver;

CVeskDoc::CVeskDoc(QStringList sources) : sources_(std::move(sources)) {
  // Devices this user may not open are asked of the desktop's disk service.
  relictor::platform::InstallDeviceOpener();
}

CVeskDoc::~CVeskDoc() {
  // Volume readers may read through a disk's source; they go first.
  drives_.Drives().clear();
  physicalDrives_.clear();
}

std::vector<CVolumeDriver*> CVeskDoc::GetDrives() {
  Fill();
  std::vector<CVolumeDriver*> out;
  out.reserve(drives_.Drives().size());
  for (auto& d : drives_.Drives()) out.push_back(d.reader.get());
  return out;
}

std::vector<CPhysicalDriver*> CVeskDoc::GetPhysicalDrives() {
  if (!physicalFilled_) {
    physicalFilled_ = true;
    relictor::PhysicalDriveList list;
    std::vector<std::string> named;
    for (const QString& s : sources_) named.push_back(s.toStdString());
    relictor::EnumPhysicalDrives(list, named, true);
    for (auto& disk : list.disks) physicalDrives_.push_back(std::move(disk));
    for (const auto& p : list.problems) problems_ << ExplainOpenProblem(QString::fromStdString(p));
    for (const QString& path : std::exchange(opened_, {})) AddPhysicalSource(path);
  }
  std::vector<CPhysicalDriver*> out;
  for (auto& d : physicalDrives_) out.push_back(d.get());
  return out;
}

void CVeskDoc::Fill() {
  if (filled_) return;
  filled_ = true;
  std::vector<relictor::SourceReport> reports;
  if (sources_.isEmpty()) {
    // The disk service, when there is one, names the drives.
    std::string error;
    if (auto client = relictor::platform::UDisksClient::Connect(error); client && client->ServiceAvailable()) {
      std::vector<relictor::platform::BlockDevice> devices;
      if (client->List(devices, error)) {
        for (const auto& d : devices) {
          SetDriveName(QString::fromStdString(d.device), QString::fromStdString(d.vendor.empty() ? d.model : d.vendor + " " + d.model));
        }
      }
    }
    reports = relictor::ExamineSystemVolumes();
    for (const auto& p : relictor::platform::TakeListingProblems()) problems_ << QString::fromStdString(p);
    // The system list leaves out the devices this user may not read; when
    // that leaves nothing, the user hears why and how to go on.
    if (reports.empty()) {
      QStringList refused = RefusedBlockDevices();
      if (!refused.isEmpty()) {
        problems_ << QCoreApplication::translate(
                         "CVeskDoc",
                         "You may not read this computer's disks (%1). Start Kalvor Relictor with the rights to read "
                         "them (for example with sudo), or make an image of a disk (dd if=/dev/sdX of=disk.img) and "
                         "open the image with File > Open Image...")
                         .arg(refused.join(QStringLiteral(", ")));
      }
    }
  } else {
    for (const QString& s : sources_) reports.push_back(relictor::ExamineSource(s.toStdString()));
  }
  Examine(reports, nullptr);
}

std::vector<CVolumeDriver*> CVeskDoc::AddExamined(relictor::SourceReport report) {
  Fill();
  const QString path = QString::fromStdString(report.path);
  std::vector<CVolumeDriver*> added;
  std::vector<relictor::SourceReport> reports;
  reports.push_back(std::move(report));
  Examine(reports, &added);
  // An image whose volumes are not found (its partition table lost) is
  // just the one to walk for lost volumes.
  AddPhysicalSource(path);
  return added;
}

namespace {

// One name for one file, however it was reached.
QString SameFileKey(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

}  // namespace

void CVeskDoc::AddPhysicalSource(const QString& path) {
  if (path.isEmpty()) return;
  if (!physicalFilled_) {
    opened_ << path;
    return;
  }
  const QString key = SameFileKey(path);
  for (const auto& disk : physicalDrives_) {
    if (SameFileKey(QString::fromStdString(disk->GetSourcePath())) == key) return;
  }
  // Disk numbers go up to 127, as the system's disks are numbered.
  const int number = static_cast<int>(physicalDrives_.size());
  if (number >= 128) return;
  auto disk = std::make_unique<CPhysicalDriver>(number, path.toStdString());
  // A source that cannot be read as a disk was reported when it was
  // opened; it is simply not offered.
  if (disk->ProbeDisk()) physicalDrives_.push_back(std::move(disk));
}

CVolumeDriver* CVeskDoc::HeldVolume(const QString& source, std::uint64_t startSector) const {
  const QString key = SameFileKey(source);
  for (const auto& d : drives_.Drives()) {
    if (d.reader->PartitionStart() == startSector && !d.sourcePath.empty() &&
        SameFileKey(QString::fromStdString(d.sourcePath)) == key) {
      return d.reader.get();
    }
  }
  return nullptr;
}

void CVeskDoc::Examine(const std::vector<relictor::SourceReport>& reports, std::vector<CVolumeDriver*>* added) {
  relictor::Host* host = CRelictorApp::Instance() ? &CRelictorApp::Instance()->GetHost() : nullptr;
  auto factory = relictor::MakeReaderFactory();
  for (const auto& report : reports) {
    std::size_t problemsBefore = drives_.Problems().size();
    std::size_t failuresBefore = drives_.Failures().size();
    auto readers = drives_.Add(report, factory, host);
    const QString source = QString::fromStdString(report.path);
    for (CVolumeDriver* reader : readers) {
      // The size the device itself gives, never one read from the disk.
      std::uint64_t bytes = 0;
      for (const auto& candidate : report.volumes) {
        if (candidate.startSector != reader->PartitionStart()) continue;
        std::uint64_t sectorSize = candidate.source ? candidate.source->SectorSize() : 512;
        std::uint64_t held = candidate.source ? candidate.source->Size() / sectorSize : 0;
        std::uint64_t start = std::min(candidate.startSector, held);
        bytes = std::min(candidate.sectorCount, held - start) * sectorSize;
        break;
      }
      QString details = QString::fromStdString(relictor::platform::SizeText(bytes));
      if (QString name = driveNames_.value(source).trimmed(); !name.isEmpty()) details = name + QStringLiteral(", ") + details;
      states_.insert(reader, {details, false});
    }
    for (std::size_t i = problemsBefore; i < drives_.Problems().size(); ++i) {
      problems_ << ExplainOpenProblem(QString::fromStdString(drives_.Problems()[i]));
    }
    for (std::size_t i = failuresBefore; i < drives_.Failures().size(); ++i) {
      problems_ << ExplainOpenProblem(QString::fromStdString(drives_.Failures()[i].error));
    }
    if (added) added->insert(added->end(), readers.begin(), readers.end());
  }
}

CVolumeDriver* CVeskDoc::AddDrive(std::unique_ptr<CVolumeDriver> reader, const QString& source) {
  Fill();
  CVolumeDriver* raw = drives_.Adopt(std::move(reader));
  if (raw && !source.isEmpty()) drives_.Drives().back().sourcePath = source.toStdString();
  return raw;
}

QStringList CVeskDoc::TakeProblems() {
  QStringList out;
  out.swap(problems_);
  return out;
}

QString CVeskDoc::SourceOf(const CVolumeDriver* reader) const {
  for (const auto& d : drives_.Drives()) {
    if (d.reader.get() == reader) return QString::fromStdString(d.sourcePath);
  }
  return {};
}

int CVeskDoc::IndexOf(const CVolumeDriver* reader) const {
  const auto& drives = drives_.Drives();
  for (std::size_t i = 0; i < drives.size(); ++i) {
    if (drives[i].reader.get() == reader) return static_cast<int>(i);
  }
  return -1;
}

QString CVeskDoc::DetailsOf(const CVolumeDriver* reader) const { return states_.value(reader).details; }

void CVeskDoc::SetDriveName(const QString& device, const QString& name) {
  if (!device.isEmpty()) driveNames_.insert(device, name);
}

bool CVeskDoc::HasLiveDriveOn(const QString& device) const {
  for (const auto& d : drives_.Drives()) {
    if (QString::fromStdString(d.sourcePath) == device && !states_.value(d.reader.get()).gone) return true;
  }
  return false;
}

std::vector<CVolumeDriver*> CVeskDoc::MarkGone(const QString& device) {
  std::vector<CVolumeDriver*> out;
  for (auto& d : drives_.Drives()) {
    if (QString::fromStdString(d.sourcePath) != device) continue;
    DriveState& state = states_[d.reader.get()];
    if (state.gone) continue;
    state.gone = true;
    out.push_back(d.reader.get());
  }
  return out;
}

bool CVeskDoc::IsGone(const CVolumeDriver* reader) const { return states_.value(reader).gone; }

QStringList RefusedBlockDevices(const QString& sysBlock, const QString& devRoot) {
  QStringList refused;
  const auto names = QDir(sysBlock).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
  for (const QString& name : names) {
    if (name.startsWith(QStringLiteral("ram")) || name.startsWith(QStringLiteral("zram")) ||
        name.startsWith(QStringLiteral("loop")) || name.startsWith(QStringLiteral("sr"))) {
      continue;
    }
    QByteArray path = QStringLiteral("%1/%2").arg(devRoot, name).toLocal8Bit();
    int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno == EACCES || errno == EPERM) {
      refused << QString::fromLocal8Bit(path);
    }
  }
  return refused;
}

QString ExplainOpenProblem(const QString& problem) {
  if (problem.contains(QStringLiteral("permission denied"))) {
    QString path = problem.section(QStringLiteral(": "), 0, 0);
    return QCoreApplication::translate(
               "CVeskDoc",
               "You may not read %1. Start Kalvor Relictor with the rights to read it (for example with sudo), "
               "or make an image of it (dd if=%1 of=disk.img) and open the image with File > Open Image...")
        .arg(path);
  }
  return problem;
}
