#include "app/entry_list_model.h"

#include "app/thumbnails.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace relictor {
namespace {

// Header texts and widths of the columns, by sort key.
struct ColumnInfo {
  const char* header;
  int width;
  Qt::Alignment alignment;
};
constexpr ColumnInfo kColumns[] = {
    {QT_TRANSLATE_NOOP("EntryListModel", "FileName"), 140, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("EntryListModel", "Path"), 140, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("EntryListModel", "Size"), 80, Qt::AlignRight | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("EntryListModel", "Type"), 110, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("EntryListModel", "Modified Date"), 130, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("EntryListModel", "Status"), 70, Qt::AlignLeft | Qt::AlignVCenter},
};

const QString kFolderKey = QStringLiteral("inode/directory");

// One row during a sort: its key, whether it is a folder, its entry and
// the row it came from (so that selections follow their entries).
template <typename K>
struct SortRow {
  K key;
  bool folder;
  CDirEntry* entry;
  int from;
};

// Sorts rows whose key is made by `keyOf`. `keyFirst` says which of two
// rows of the same kind comes first in ascending order.
template <typename K, typename KeyOf, typename Less>
std::vector<std::pair<CDirEntry*, int>> SortBy(const std::vector<CDirEntry*>& rows, bool ascending, KeyOf keyOf,
                                              Less keyFirst) {
  std::vector<SortRow<K>> v;
  v.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    v.push_back({keyOf(*rows[i]), rows[i]->IsFolder(), rows[i], static_cast<int>(i)});
  if (ascending) {
    std::sort(v.begin(), v.end(), [&](const SortRow<K>& a, const SortRow<K>& b) {
      if (a.folder != b.folder) return a.folder;
      return keyFirst(a.key, b.key);
    });
  } else {
    std::sort(v.begin(), v.end(), [&](const SortRow<K>& a, const SortRow<K>& b) {
      if (a.folder != b.folder) return b.folder;
      return keyFirst(b.key, a.key);
    });
  }
  std::vector<std::pair<CDirEntry*, int>> out;
  out.reserve(v.size());
  for (auto& r : v) out.emplace_back(r.entry, r.from);
  return out;
}

QString FoldedKey(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())).toCaseFolded(); }

}  // namespace

QString DisplayText(const std::string& bytes) {
  QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) c = QChar(QChar::ReplacementCharacter);
  }
  return text;
}

EntryIconProvider::EntryIconProvider() {
  folderTypeName_ = mimes_.mimeTypeForName(kFolderKey).comment();
  if (folderTypeName_.isEmpty()) folderTypeName_ = QCoreApplication::translate("EntryListModel", "Folder");
}

QString EntryIconProvider::TypeKey(const CDirEntry& entry) const {
  if (entry.IsFolder()) return kFolderKey;
  const QString name = QString::fromUtf8(entry.name.data(), qsizetype(entry.name.size())).toLower();
  // Names are looked up by what follows their first dot ("tar.gz" is not
  // "gz"); a name without one is looked up whole.
  const qsizetype dot = name.indexOf(u'.');
  const QString suffix = dot < 0 ? name : name.mid(dot);
  auto found = keyBySuffix_.constFind(suffix);
  if (found != keyBySuffix_.constEnd()) return *found;
  QString key = mimes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
  // A folder of random names would otherwise grow the table without end.
  if (keyBySuffix_.size() > 4096) keyBySuffix_.clear();
  keyBySuffix_.insert(suffix, key);
  return key;
}

QIcon EntryIconProvider::BaseIcon(const QString& typeKey) const {
  const QMimeType mime = mimes_.mimeTypeForName(typeKey);
  QIcon icon;
  if (mime.isValid()) {
    icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
  }
  if (icon.isNull()) {
    QStyle* style = QApplication::style();
    icon = style->standardIcon(typeKey == kFolderKey ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
  }
  return icon;
}

QPixmap EntryIconProvider::DeletedOverlay(int size) {
  // A red disc with a white cross, the mark of a deleted entry.
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xD0, 0x10, 0x10));
  p.drawEllipse(QRectF(0, 0, size, size));
  QPen cross(Qt::white);
  cross.setWidthF(std::max(1.0, size / 6.0));
  p.setPen(cross);
  const double m = size * 0.3;
  p.drawLine(QPointF(m, m), QPointF(size - m, size - m));
  p.drawLine(QPointF(size - m, m), QPointF(m, size - m));
  return pm;
}

QIcon EntryIconProvider::IconForType(const QString& typeKey, bool deleted) const {
  auto& cache = deleted ? marked_ : plain_;
  auto found = cache.constFind(typeKey);
  if (found != cache.constEnd()) return *found;
  QIcon icon = BaseIcon(typeKey);
  if (deleted) {
    QIcon markedIcon;
    for (int size : {16, 24, 32, 48}) {
      QPixmap pm = icon.pixmap(size, size);
      if (pm.isNull()) continue;
      QPainter p(&pm);
      const int mark = std::max(6, size / 2);
      p.drawPixmap(0, pm.height() - mark, DeletedOverlay(mark));
      p.end();
      markedIcon.addPixmap(pm);
    }
    icon = markedIcon;
  }
  cache.insert(typeKey, icon);
  return icon;
}

QIcon EntryIconProvider::Icon(const CDirEntry& entry) const { return IconForType(TypeKey(entry), entry.deleted); }

EntryListModel::EntryListModel(bool withPath, QObject* parent) : QAbstractTableModel(parent), withPath_(withPath) {}

void EntryListModel::SetEntries(const std::vector<std::unique_ptr<CDirEntry>>* children) {
  std::vector<CDirEntry*> rows;
  if (children) {
    rows.reserve(children->size());
    for (const auto& c : *children) rows.push_back(c.get());
  }
  SetEntries(std::move(rows));
}

void EntryListModel::SetThumbnails(CThumbnailer* thumbnails) {
  if (thumbnails == thumbnails_) return;
  disconnect(thumbnailsChanged_);
  // What the old one had queued is not wanted any more, and its entries
  // may be freed without this model telling it.
  if (thumbnails_) thumbnails_->CancelPending();
  thumbnails_ = thumbnails;
  if (thumbnails_) {
    // New thumbnails can be anywhere; the view repaints what it shows.
    thumbnailsChanged_ = connect(thumbnails_, &CThumbnailer::ThumbnailsChanged, this, [this] {
      if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole, ThumbnailRole});
    });
  }
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole, ThumbnailRole});
}

QPixmap EntryListModel::ThumbnailOf(CDirEntry& entry) const {
  if (!thumbnails_ || !IsPictureName(entry.name)) return {};
  auto* file = dynamic_cast<CFSFile*>(&entry);
  return file ? thumbnails_->Thumbnail(file) : QPixmap();
}

void EntryListModel::SetEntries(std::vector<CDirEntry*> entries) {
  // Files queued for a thumbnail may be freed once they are not shown.
  if (thumbnails_) thumbnails_->CancelPending();
  beginResetModel();
  rows_ = std::move(entries);
  endResetModel();
}

void EntryListModel::Clear() { SetEntries(std::vector<CDirEntry*>{}); }

bool EntryListModel::RemoveEntriesUnder(const CDirectory* folder) {
  if (folder == nullptr) return false;
  auto under = [folder](const CDirEntry* entry) {
    for (const CDirectory* up = entry ? entry->parent : nullptr; up != nullptr; up = up->parent) {
      if (up == folder) return true;
    }
    return false;
  };
  if (std::none_of(rows_.begin(), rows_.end(), under)) return false;
  if (thumbnails_) thumbnails_->CancelPending();
  beginResetModel();
  std::erase_if(rows_, under);
  endResetModel();
  return true;
}

void EntryListModel::InsertEntry(int row, CDirEntry* entry) {
  const int count = static_cast<int>(std::min<std::size_t>(rows_.size(), INT32_MAX));
  if (entry == nullptr || count == INT32_MAX) return;
  row = std::clamp(row, 0, count);
  beginInsertRows(QModelIndex(), row, row);
  rows_.insert(rows_.begin() + row, entry);
  endInsertRows();
}

CDirEntry* EntryListModel::EntryAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return rows_[static_cast<std::size_t>(row)];
}

EntryListModel::Key EntryListModel::KeyOfColumn(int column) const {
  if (!withPath_ && column >= 1) ++column;
  return column >= kName && column <= kStatus ? static_cast<Key>(column) : kName;
}

int EntryListModel::ColumnOfKey(Key key) const {
  if (withPath_) return key;
  if (key == kPath) return -1;
  return key == kName ? 0 : key - 1;
}

int EntryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(std::min<std::size_t>(rows_.size(), INT32_MAX));
}

int EntryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : withPath_ ? 6 : 5; }

QString EntryListModel::CellText(CDirEntry& entry, Key key) const {
  switch (key) {
    case kName:
      return DisplayText(entry.GetName());
    case kPath:
      return DisplayText(entry.GetLocation());
    case kSize:
      return QString::fromStdString(entry.GetSizeText(false));
    case kType:
      return entry.IsFolder() ? icons_.FolderTypeName() : DisplayText(entry.GetTypeText());
    case kModified:
      return QString::fromStdString(entry.GetModifiedText());
    case kStatus:
      return QString::fromStdString(entry.GetStatusText());
  }
  return {};
}

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
  CDirEntry* e = index.isValid() ? EntryAt(index.row()) : nullptr;
  if (!e) return {};
  const Key key = KeyOfColumn(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return CellText(*e, key);
    case Qt::DecorationRole:
      if (key != kName) return {};
      if (QPixmap thumbnail = ThumbnailOf(*e); !thumbnail.isNull()) return QIcon(thumbnail);
      return icons_.Icon(*e);
    case ThumbnailRole:
      if (key != kName) return {};
      if (QPixmap thumbnail = ThumbnailOf(*e); !thumbnail.isNull()) return thumbnail;
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(kColumns[key].alignment);
    case EntryRole:
      return QVariant::fromValue(reinterpret_cast<quintptr>(e));
    case DeletedRole:
      return e->deleted;
    case IconKeyRole:
      return icons_.TypeKey(*e);
    default:
      return {};
  }
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const ColumnInfo& c = kColumns[KeyOfColumn(section)];
  switch (role) {
    case Qt::DisplayRole:
      return QCoreApplication::translate("EntryListModel", c.header);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(c.alignment);
    default:
      return {};
  }
}

Qt::ItemFlags EntryListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void EntryListModel::sort(int column, Qt::SortOrder order) {
  const bool ascending = order == Qt::AscendingOrder;
  std::vector<std::pair<CDirEntry*, int>> sorted;
  switch (KeyOfColumn(column)) {
    case kName:
      sorted = SortBy<QString>(
          rows_, ascending, [](CDirEntry& e) { return FoldedKey(e.name); },
          [](const QString& a, const QString& b) { return a < b; });
      break;
    case kPath:
      sorted = SortBy<QString>(
          rows_, ascending, [](CDirEntry& e) { return FoldedKey(e.GetLocation()); },
          [](const QString& a, const QString& b) { return a < b; });
      break;
    case kSize:
      sorted = SortBy<std::uint64_t>(
          rows_, ascending, [](CDirEntry& e) { return e.GetSize(); },
          [](std::uint64_t a, std::uint64_t b) { return a < b; });
      break;
    case kType:
      sorted = SortBy<QString>(
          rows_, ascending,
          [this](CDirEntry& e) {
            return e.IsFolder() ? icons_.FolderTypeName().toCaseFolded() : FoldedKey(e.GetTypeText());
          },
          [](const QString& a, const QString& b) { return a < b; });
      break;
    case kModified:
      sorted = SortBy<EntryTime>(
          rows_, ascending, [](CDirEntry& e) { return e.modified; }, [](EntryTime a, EntryTime b) { return a < b; });
      break;
    case kStatus:
      // A larger status comes first in ascending order, so that the files
      // least likely to come back ("Poor") lead.
      sorted = SortBy<std::uint32_t>(
          rows_, ascending, [](CDirEntry& e) { return e.status; },
          [](std::uint32_t a, std::uint32_t b) { return a > b; });
      break;
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newRow(rows_.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    rows_[i] = sorted[i].first;
    newRow[static_cast<std::size_t>(sorted[i].second)] = static_cast<int>(i);
  }
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from) to.append(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace relictor
