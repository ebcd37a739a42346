#include "app/vesk_doc.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>

#include "app/relictor_app.h"
#include "readers/reader_factory.h"

using relictor::CPhysicalDriver;
using relictor::CVolumeDriver;

CVeskDoc::CVeskDoc(QStringList sources) : sources_(std::move(sources)) {
  if (auto* app = CRelictorApp::Instance()) app->document = this;
}

CVeskDoc::~CVeskDoc() {
  if (auto* app = CRelictorApp::Instance(); app && app->document == this) app->document = nullptr;
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
    reports = relictor::ExamineSystemVolumes();
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
  auto factory = relictor::MakeReaderFactory();
  for (const auto& report : reports) {
    std::size_t problemsBefore = drives_.Problems().size();
    std::size_t failuresBefore = drives_.Failures().size();
    auto readers = drives_.Add(report, factory, host);
    for (std::size_t i = problemsBefore; i < drives_.Problems().size(); ++i) {
      problems_ << ExplainOpenProblem(QString::fromStdString(drives_.Problems()[i]));
    }
    for (std::size_t i = failuresBefore; i < drives_.Failures().size(); ++i) {
      problems_ << ExplainOpenProblem(QString::fromStdString(drives_.Failures()[i].error));
    }
    if (added) added->insert(added->end(), readers.begin(), readers.end());
  }
}

CVolumeDriver* CVeskDoc::AddDrive(std::unique_ptr<CVolumeDriver> reader) {
  Fill();
  return drives_.Adopt(std::move(reader));
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
