#include "app/lost_drivers_dlg.h"

#include <QCoreApplication>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_icons.h"
#include "app/folders_tree_dlg.h"
#include "app/search_panes.h"
#include "app/vesk_doc.h"
#include "readers/reader_factory.h"
#include "worker/frontend.h"

namespace relictor {
namespace {

// The walk as background work: one step walks the disk's range. The
// readers it makes are kept here and handed to the window on the
// interface thread when the walk has ended, found volumes staying when it
// was cancelled.
class LostWalkTask final : public WorkerTask {
 public:
  LostWalkTask(CPhysicalDriver& disk, Host& host) : WorkerTask(true), disk_(disk), host_(host) {}
  bool Step() override {
    FindLostDrivers(disk_, &volumes_, MakeReaderFactory(), Progress(), &found_, nullptr, nullptr, &host_);
    return true;
  }
  std::vector<std::unique_ptr<CVolumeDriver>>& Volumes() { return volumes_; }

 private:
  CPhysicalDriver& disk_;
  Host& host_;
  std::vector<std::unique_ptr<CVolumeDriver>> volumes_;
  std::vector<LostVolume> found_;
};

}  // namespace

CFindLostDriversDlg::CFindLostDriversDlg(const std::vector<CPhysicalDriver*>& disks, QWidget* parent)
    : QDialog(parent) {
  setObjectName("FindLostDrivers");
  setWindowTitle(tr("Find Lost Drivers"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Select physical drivers to find:"), this));
  auto* group = new QGroupBox(tr("Drivers"), this);
  auto* inner = new QVBoxLayout(group);
  disks_ = new QComboBox(group);
  disks_->setObjectName("disks");
  disks_->setMinimumWidth(320);
  inner->addWidget(disks_);
  layout->addWidget(group);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &CFindLostDriversDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  disks_->clear();
  for (CPhysicalDriver* disk : disks) {
    if (disk) disk->AddToDriveCombo(*this);
  }
  if (disks_->count() > 0) disks_->setCurrentIndex(0);
}

void CFindLostDriversDlg::AddDrive(const std::string& text, CDriver* driver, CDirectory*) {
  // A disk without a name still gets a line the user can tell apart.
  QString shown = QString::fromStdString(text);
  if (shown.isEmpty()) shown = QStringLiteral("PhysicalDriver%1").arg(disks_->count(), 2, 10, QLatin1Char('0'));
  disks_->addItem(OwnIcon("drive-fixed"), shown, QVariant::fromValue(reinterpret_cast<quintptr>(driver)));
}

CPhysicalDriver* CFindLostDriversDlg::Selected() const {
  if (disks_->currentIndex() < 0) return nullptr;
  return dynamic_cast<CPhysicalDriver*>(
      reinterpret_cast<CDriver*>(disks_->currentData().value<quintptr>()));
}

void CFindLostDriversDlg::accept() {
  if (Selected() == nullptr) return;
  QDialog::accept();
}

int RunFindLostDrivers(QWidget* parent, CVeskDoc& document, CFoldersTreeDlg* tree, CSearchDlg* search, Host& host) {
  CPhysicalDriver* disk = nullptr;
  {
    CFindLostDriversDlg dlg(document.GetPhysicalDrives(), parent);
    if (dlg.exec() != QDialog::Accepted) return 0;
    disk = dlg.Selected();
  }
  if (disk == nullptr || disk->TotalSectors() == 0) return 0;

  // The range dialog counts sectors: one sector is one "cluster" of a disk.
  std::uint64_t start = 0, end = disk->TotalSectors();
  if (host.rangeChooser &&
      !host.rangeChooser->Choose(0, disk->TotalSectors(), disk->BytesPerSector(), start, end)) {
    return 0;
  }
  disk->SetScanRange(start, end);

  LostWalkTask task(*disk, host);
  JobInfo info;
  info.kind = JobKind::LostVolumes;
  info.title = "Find Lost Drivers...";
  info.volumeName = disk->GetDisplayName();
  info.bytesPerStep = disk->BytesPerSector();
  if (host.jobs) {
    host.jobs->Run(task, info);
  } else {
    InlineJobRunner here;
    here.Run(task, info);
  }

  // Found volumes stay whether or not the walk ran to its end. A volume
  // the window holds already (the same disk, the same start) is not added
  // a second time: the user hears so and finds it selected.
  const QString source = QString::fromStdString(disk->GetSourcePath());
  int added = 0;
  QStringList held;
  CVolumeDriver* firstHeld = nullptr;
  for (auto& reader : task.Volumes()) {
    if (!reader) continue;
    if (CVolumeDriver* known = document.HeldVolume(source, reader->PartitionStart())) {
      held << QString::fromStdString(known->GetDisplayName());
      if (firstHeld == nullptr) firstHeld = known;
      continue;
    }
    CVolumeDriver* volume = document.AddDrive(std::move(reader), source);
    if (volume == nullptr) continue;
    ++added;
    if (tree) tree->AddReader(volume);
    if (search) search->InsertVolume(document.IndexOf(volume), volume);
  }
  if (firstHeld != nullptr) {
    if (tree) {
      if (QTreeWidgetItem* node = tree->FindDriveNode(firstHeld)) tree->SelectNode(node);
    }
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(msgbox::kCaption),
                    held.size() == 1 ? QCoreApplication::translate("CLostDriversDlg", "The volume found is already open: %1.").arg(held.front())
                                     : QCoreApplication::translate("CLostDriversDlg", "%1 of the volumes found are already open: %2.")
                                           .arg(held.size())
                                           .arg(held.join(", ")),
                    QMessageBox::Ok, parent);
    box.setObjectName("AlreadyOpen");
    box.exec();
  }
  return added;
}

}  // namespace relictor
