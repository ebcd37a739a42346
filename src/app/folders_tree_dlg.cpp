#include "app/folders_tree_dlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QVBoxLayout>

#include <memory>

#include "app/app_icons.h"
#include "app/entry_list_ctrl.h"
#include "app/entry_list_model.h"
#include "app/search_gate.h"
#include "app/source_opener.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "model/entry.h"
#include "ui/job_runner.h"
#include "volume/driver.h"
#include "worker/worker.h"

using relictor::CDirectory;
using relictor::CDirEntry;
using relictor::CVolumeDriver;

namespace {

constexpr int kEntryRole = Qt::UserRole;
constexpr int kNodesMadeRole = Qt::UserRole + 1;

// Shows the wait cursor while a folder is read.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

QString DisplayText(const std::string& name) {
  QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QChar::ReplacementCharacter;
  }
  return text;
}

CFolderTreeCtrl::CFolderTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  header()->hide();
  setRootIsDecorated(true);
  setDragEnabled(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setMouseTracking(true);
}

QIcon CFolderTreeCtrl::ImageIcon(int image, bool deleted) const {
  static const QIcon computer = AppIcon("computer", "computer");
  static const QIcon program = OwnIcon("relictor");
  static const QIcon fixed = AppIcon("drive-harddisk", "drive-fixed");
  static const QIcon removable = AppIcon("drive-removable-media", "drive-removable");
  static const QIcon folder = AppIcon("folder", "folder");
  static const QIcon openFolder = AppIcon("folder-open", "folder-open");
  QIcon icon;
  switch (image) {
    case kMyComputer:
      icon = computer;
      break;
    case kProgram:
      icon = program;
      break;
    case kFixedDrive:
      icon = fixed;
      break;
    case kRemovableDrive:
      icon = removable;
      break;
    case kOpenFolder:
      icon = openFolder;
      break;
    default:
      icon = folder;
      break;
  }
  return deleted ? WithDeletedOverlay(icon) : icon;
}

CFoldersTreeDlg::CFoldersTreeDlg(CVeskDoc& document, CVeskView& view, QWidget* parent)
    : QWidget(parent), document_(document), view_(view), tree_(new CFolderTreeCtrl(this)) {
  setObjectName(QStringLiteral("Drivers"));
  tree_->setObjectName(QStringLiteral("FolderTree"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  connect(tree_, &QTreeWidget::itemExpanded, this, &CFoldersTreeDlg::OnItemExpanded);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnSelectionChanged(current); });
}

CFoldersTreeDlg::~CFoldersTreeDlg() {
  watcher_.Stop();
}

CDirEntry* CFoldersTreeDlg::EntryOf(const QTreeWidgetItem* node) {
  if (node == nullptr) return nullptr;
  return reinterpret_cast<CDirEntry*>(node->data(0, kEntryRole).value<quintptr>());
}

void CFoldersTreeDlg::BuildTree() {
  tree_->clear();
  rootItem_ = new QTreeWidgetItem(QStringList(tr("My Computer")));
  rootItem_->setIcon(0, tree_->ImageIcon(CFolderTreeCtrl::kMyComputer, false));
  tree_->addTopLevelItem(rootItem_);
  for (CVolumeDriver* reader : document_.GetDrives()) AddReader(reader);
  if (document_.ShowsSystemVolumes()) WatchDevices();
  rootItem_->setExpanded(true);
  SelectNode(rootItem_);
}

QTreeWidgetItem* CFoldersTreeDlg::AddReader(CVolumeDriver* reader) {
  if (reader == nullptr || rootItem_ == nullptr) return nullptr;
  reader->AddToFolderTree(*this, rootItem_);
  QTreeWidgetItem* node = FindChildNode(rootItem_, reader->GetRoot());
  if (node != nullptr) {
    QString details = document_.DetailsOf(reader);
    if (!details.isEmpty()) node->setToolTip(0, node->text(0) + QStringLiteral("\n") + details);
  }
  return node;
}

void CFoldersTreeDlg::WatchDevices() {
  std::string error;
  // Without the disk service the tree shows what was there at the start.
  watcher_.Start(
      [this](const relictor::platform::DeviceWatcher::Change& change) {
        // The watcher's thread: the change is handled on the window's.
        QMetaObject::invokeMethod(this, [this, change] { OnDeviceChange(change); }, Qt::QueuedConnection);
      },
      error);
}

void CFoldersTreeDlg::OnDeviceChange(const relictor::platform::DeviceWatcher::Change& change) {
  if (rootItem_ == nullptr) return;
  CVeskDoc* doc = &document_;
  QString device = QString::fromStdString(change.device.device);
  if (!change.added) {
    opening_.remove(device);
    for (CVolumeDriver* reader : doc->MarkGone(device)) {
      // A search of the volume ends here rather than fail read by read.
      if (relictor::search_gate::IsSearching(reader)) relictor::StopWorker(&relictor::QtJobRunner::PumpEvents);
      QTreeWidgetItem* node = FindChildNode(rootItem_, reader->GetRoot());
      if (node == nullptr) continue;
      QString gone = tr("%1 was taken out. Put it in again to read it.")
                         .arg(DisplayText(reader->GetDisplayName()));
      // The list must not go on showing entries that can no longer be read.
      bool shown = false;
      for (QTreeWidgetItem* at = tree_->currentItem(); at != nullptr; at = at->parent()) shown = shown || at == node;
      if (shown) {
        SelectNode(rootItem_);
        emit StatusTextChanged(gone);
      }
      node->setText(0, node->text(0) + tr(" - removed"));
      node->setToolTip(0, gone);
      node->setDisabled(true);
      node->setExpanded(false);
    }
    return;
  }
  if (!relictor::platform::IsReadableFileSystem(change.device.idType) || doc->HasLiveDriveOn(device)) return;
  const auto& d = change.device;
  doc->SetDriveName(device, QString::fromStdString(d.vendor.empty() ? d.model : d.vendor + " " + d.model));
  OpenNewDevice(device);
}

void CFoldersTreeDlg::OpenNewDevice(const QString& device) {
  if (opening_.contains(device)) return;
  opening_.insert(device);
  // The window adopts the report once the device is open; a window closed
  // meanwhile simply drops it.
  ExamineInBackground(device, this, [this, device](relictor::SourceReport report) {
    // Not there any more when the card was pulled out while it was opened.
    if (!opening_.remove(device)) return;
    if (rootItem_ == nullptr || document_.HasLiveDriveOn(device)) return;
    for (CVolumeDriver* reader : document_.AddExamined(std::move(report))) AddReader(reader);
    // A card the system would not let this user read is said so once.
    emit OpenProblemsMet();
  });
}

relictor::FolderTreeSink::Item CFoldersTreeDlg::InsertFolder(Item parent, CDirectory* folder, const std::string& text,
                                                             int image, int selectedImage, bool hasChildren) {
  auto* parentItem = static_cast<QTreeWidgetItem*>(parent);
  if (parentItem == nullptr || folder == nullptr) return nullptr;
  QString label = DisplayText(text);
  auto* item = new QTreeWidgetItem(QStringList(label));
  item->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(folder)));
  item->setData(0, kNodesMadeRole, false);
  item->setToolTip(0, label);
  QIcon icon;
  QIcon normal = tree_->ImageIcon(image, folder->deleted);
  QIcon selected = tree_->ImageIcon(selectedImage, folder->deleted);
  for (const QSize& size : normal.availableSizes()) {
    icon.addPixmap(normal.pixmap(size), QIcon::Normal);
    icon.addPixmap(selected.pixmap(size), QIcon::Selected);
  }
  item->setIcon(0, icon);
  item->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                            : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  // Sorted insertion: before the first sibling whose text sorts after it,
  // so that equal names keep the order they came in.
  int at = parentItem->childCount();
  for (int i = 0; i < parentItem->childCount(); ++i) {
    if (QString::compare(parentItem->child(i)->text(0), label, Qt::CaseInsensitive) > 0) {
      at = i;
      break;
    }
  }
  parentItem->insertChild(at, item);
  return item;
}

bool CFoldersTreeDlg::ReadFolder(CDirectory* folder) {
  // A background search may be reading this volume: it is held at a safe
  // point while the callers hold a SearchPause, so the reader and its
  // folders are never used by two threads at once.
  if (folder->populated) return true;
  WaitCursor wait;
  // A folder not read yet may still hold children (a cancelled scan's
  // lost files), and reading it frees them (the lost files are scanned
  // anew) while the event loop runs: the list and the search results let
  // go of them first, so that no row points at a freed entry.
  for (const CDirectory* shown = view_.ShownFolder(); shown != nullptr; shown = shown->parent) {
    if (shown == folder) {
      view_.SetEntries(nullptr);
      break;
    }
  }
  emit FolderAboutToBeRead(folder);
  ++reading_;
  folder->Populate(true, true, false);
  --reading_;
  return folder->populated;
}

void CFoldersTreeDlg::MakeChildNodes(QTreeWidgetItem* item) {
  if (item == nullptr || item == rootItem_ || item->childCount() > 0) return;
  if (item->data(0, kNodesMadeRole).toBool()) return;
  auto* folder = dynamic_cast<CDirectory*>(EntryOf(item));
  if (folder == nullptr) return;
  relictor::SearchPause pause(folder->volume);
  if (!ReadFolder(folder)) {
    // Left unread (a cancelled range dialog): read again next time.
    return;
  }
  item->setData(0, kNodesMadeRole, true);
  for (auto& child : folder->children) {
    auto* sub = dynamic_cast<CDirectory*>(child.get());
    if (sub == nullptr) continue;
    InsertFolder(item, sub, sub->name, CFolderTreeCtrl::kFolder, CFolderTreeCtrl::kOpenFolder,
                 sub->HasSubfolders(true));
  }
  if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void CFoldersTreeDlg::OnItemExpanded(QTreeWidgetItem* item) {
  // A node expanded while a folder is being read (the scan's progress
  // dialog keeps events flowing) waits for its next expansion.
  if (reading_ > 0) return;
  MakeChildNodes(item);
}

void CFoldersTreeDlg::SelectNode(QTreeWidgetItem* node) {
  if (node == nullptr) return;
  if (tree_->currentItem() == node) {
    OnSelectionChanged(node);
    return;
  }
  tree_->setCurrentItem(node);
  tree_->scrollToItem(node);
}

void CFoldersTreeDlg::OnSelectionChanged(QTreeWidgetItem* current) {
  if (current == nullptr || reading_ > 0) return;
  view_.ShowList(current != rootItem_);
  if (current == rootItem_) {
    view_.SetEntries(nullptr);
    UpdateLookIn(current);
    emit StatusTextChanged(QString());
    return;
  }
  auto* folder = dynamic_cast<CDirectory*>(EntryOf(current));
  if (folder == nullptr) return;
  relictor::SearchPause pause(folder->volume);
  ReadFolder(folder);
  // The list reads only fields that are filled: a search or a thumbnail may
  // be reading the volume on another thread while it shows them.
  for (auto& child : folder->children) {
    if (child) relictor::PrepareForDisplay(*child);
  }
  // The folder may have been read without its nodes (by the search or
  // the saving); once read, its expand button follows its subfolders.
  if (current->childCount() == 0 && !current->data(0, kNodesMadeRole).toBool() && folder->populated &&
      !folder->HasSubfolders(true)) {
    current->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  }
  view_.SetEntries(folder);
  emit StatusTextChanged(tr("%1 Object(s)").arg(folder->children.size()));
  UpdateLookIn(current);
}

void CFoldersTreeDlg::UpdateLookIn(QTreeWidgetItem* item) {
  if (lookIn_ == nullptr) return;
  int drives = static_cast<int>(document_.GetDrives().size());
  if (lookIn_->Count() > drives) lookIn_->RemoveLast();
  if (item == rootItem_) {
    lookIn_->Select(0);
    return;
  }
  auto* folder = dynamic_cast<CDirectory*>(EntryOf(item));
  if (folder == nullptr) return;
  if (folder->volume == nullptr || folder->volume->GetRoot() != folder) {
    lookIn_->AppendFolder(DisplayText(folder->name), folder);
    return;
  }
  // A drive's line lies at its reader's position among the drives; a
  // drive added after the box was filled has none, and its root shows as
  // an extra line like a folder.
  int index = document_.IndexOf(folder->volume);
  if (index >= 0 && index < lookIn_->Count()) {
    lookIn_->Select(index);
  } else {
    lookIn_->AppendFolder(DisplayText(folder->name), folder);
  }
}

QTreeWidgetItem* CFoldersTreeDlg::FindDriveNode(const CVolumeDriver* reader) {
  if (rootItem_ == nullptr || reader == nullptr) return nullptr;
  for (int i = 0; i < rootItem_->childCount(); ++i) {
    QTreeWidgetItem* node = rootItem_->child(i);
    CDirEntry* entry = EntryOf(node);
    if (entry != nullptr && entry->volume == reader) {
      node->setExpanded(true);
      MakeChildNodes(node);
      return node;
    }
  }
  return nullptr;
}

QTreeWidgetItem* CFoldersTreeDlg::FindChildNode(QTreeWidgetItem* parentNode, const CDirEntry* entry) const {
  if (parentNode == nullptr) return nullptr;
  for (int i = 0; i < parentNode->childCount(); ++i) {
    if (EntryOf(parentNode->child(i)) == entry) return parentNode->child(i);
  }
  return nullptr;
}

QTreeWidgetItem* CFoldersTreeDlg::FindChildOfSelection(const CDirEntry* entry) {
  QTreeWidgetItem* selected = tree_->currentItem();
  if (selected == nullptr) return nullptr;
  tree_->setUpdatesEnabled(false);
  selected->setExpanded(true);
  MakeChildNodes(selected);
  tree_->setUpdatesEnabled(true);
  return FindChildNode(selected, entry);
}

void CFoldersTreeDlg::FindLostFiles() {
  CDirEntry* entry = EntryOf(tree_->currentItem());
  if (entry == nullptr || entry->volume == nullptr) return;
  CVolumeDriver* reader = entry->volume;
  QTreeWidgetItem* drive = FindDriveNode(reader);
  QTreeWidgetItem* lost = FindChildNode(drive, reader->GetLostFiles());
  if (lost != nullptr) SelectNode(lost);
}

bool CFoldersTreeDlg::CanGoToParent() const {
  QTreeWidgetItem* node = tree_->currentItem();
  return node != nullptr && node->parent() != nullptr;
}

void CFoldersTreeDlg::GoToParent() {
  QTreeWidgetItem* node = tree_->currentItem();
  if (node == nullptr || node->parent() == nullptr) return;
  QTreeWidgetItem* parentNode = node->parent();
  if (parentNode == rootItem_) {
    view_.ShowList(false);
    SelectNode(rootItem_);
    return;
  }
  view_.ShowList(true);
  if (dynamic_cast<CDirectory*>(EntryOf(parentNode)) != nullptr) SelectNode(parentNode);
}
