#include "app/vesk_doc.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>

#include "app/relictor_app.h"
#include "cli/sources.h"
#include "platform/udisks.h"

using relictor::CPhysicalDriver;
using relictor::CVolumeDriver;

CVeskDoc::CVeskDoc(QStringList sources) : sources_(std::move(sources)) {
  if (auto* app = CRelictorApp::Instance()) app->document = this;
  // Devices this user may not open are asked of the desktop's disk service.
  relictor::platform::InstallDeviceOpener();
}

CVeskDoc::~CVeskDoc() {
  if (auto* app = CRelictorApp::Instance(); app && app->document == this) app->document = nullptr;
  // Volume readers may read through a disk's source; they go first.
  drives_.clear();
  physicalDrives_.clear();
}

std::vector<CVolumeDriver*> CVeskDoc::GetDrives() {
  Fill();
  std::vector<CVolumeDriver*> out;
  out.reserve(drives_.size());
  for (auto& d : drives_) out.push_back(d.reader.get());
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
        problems_ << QStringLiteral(
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

std::vector<CVolumeDriver*> CVeskDoc::OpenSource(const QString& path) {
  Fill();
  std::vector<CVolumeDriver*> added;
  Examine({relictor::ExamineSource(path.toStdString())}, &added);
  return added;
}

void CVeskDoc::Examine(const std::vector<relictor::SourceReport>& reports, std::vector<CVolumeDriver*>* added) {
  relictor::Host* host = CRelictorApp::Instance() ? &CRelictorApp::Instance()->GetHost() : nullptr;
  auto factory = relictor::cli::MakeReaderFactory();
  for (const auto& report : reports) {
    for (const auto& p : report.problems) problems_ << ExplainOpenProblem(QString::fromStdString(p));
    for (const auto& candidate : report.volumes) {
      // Letters go on across every source the window opens, so that two
      // volumes never share a root path.
      unsigned char letter = nextLetter_ <= 'Z' ? nextLetter_ : relictor::kNoLetter;
      std::string root = letter != relictor::kNoLetter ? std::string(1, static_cast<char>(letter)) + ":\\"
                                                       : "Volume" + std::to_string(drives_.size() + 1) + "\\";
      std::string error;
      auto reader = relictor::OpenVolume(candidate, factory, letter, root, host, error);
      if (!reader) {
        problems_ << ExplainOpenProblem(QString::fromStdString(error));
        continue;
      }
      reader->Rename(relictor::VolumeDisplayName(root, reader->VolumeLabel()));
      if (nextLetter_ <= 'Z') ++nextLetter_;
      if (added) added->push_back(reader.get());
      // The size the device itself gives, never one read from the disk.
      std::uint64_t sectorSize = candidate.source ? candidate.source->SectorSize() : 512;
      std::uint64_t held = candidate.source ? candidate.source->Size() / sectorSize : 0;
      std::uint64_t start = std::min(candidate.startSector, held);
      std::uint64_t bytes = std::min(candidate.sectorCount, held - start) * sectorSize;
      QString source = QString::fromStdString(report.path);
      QString details = QString::fromStdString(relictor::platform::SizeText(bytes));
      if (QString name = driveNames_.value(source).trimmed(); !name.isEmpty()) details = name + QStringLiteral(", ") + details;
      drives_.push_back({std::move(reader), source, details});
    }
  }
}

CVolumeDriver* CVeskDoc::AddDrive(std::unique_ptr<CVolumeDriver> reader) {
  Fill();
  if (!reader) return nullptr;
  CVolumeDriver* raw = reader.get();
  drives_.push_back({std::move(reader), QString::fromStdString(raw->GetSourcePath()), QString(), false});
  return raw;
}

QStringList CVeskDoc::TakeProblems() {
  QStringList out;
  out.swap(problems_);
  return out;
}

QString CVeskDoc::SourceOf(const CVolumeDriver* reader) const {
  for (const auto& d : drives_) {
    if (d.reader.get() == reader) return d.source;
  }
  return {};
}

int CVeskDoc::IndexOf(const CVolumeDriver* reader) const {
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (drives_[i].reader.get() == reader) return static_cast<int>(i);
  }
  return -1;
}

QString CVeskDoc::DetailsOf(const CVolumeDriver* reader) const {
  for (const auto& d : drives_) {
    if (d.reader.get() == reader) return d.details;
  }
  return {};
}

void CVeskDoc::SetDriveName(const QString& device, const QString& name) {
  if (!device.isEmpty()) driveNames_.insert(device, name);
}

bool CVeskDoc::HasLiveDriveOn(const QString& device) const {
  for (const auto& d : drives_) {
    if (d.source == device && !d.gone) return true;
  }
  return false;
}

std::vector<CVolumeDriver*> CVeskDoc::MarkGone(const QString& device) {
  std::vector<CVolumeDriver*> out;
  for (auto& d : drives_) {
    if (d.source == device && !d.gone) {
      d.gone = true;
      out.push_back(d.reader.get());
    }
  }
  return out;
}

bool CVeskDoc::IsGone(const CVolumeDriver* reader) const {
  for (const auto& d : drives_) {
    if (d.reader.get() == reader) return d.gone;
  }
  return false;
}

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
    return QStringLiteral(
               "You may not read %1. Start Kalvor Relictor with the rights to read it (for example with sudo), "
               "or make an image of it (dd if=%1 of=disk.img) and open the image with File > Open Image...")
        .arg(path);
  }
  return problem;
}
