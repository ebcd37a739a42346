#pragma once
// The rows of a file list: a flat table over a vector of entries that the
// list does not own (a folder's children, or the finds of a search). The
// model keeps one pointer per row and nothing else; every text and icon is
// made when a view asks for it, so a folder of 100,000 entries is shown as
// soon as its pointers are copied.

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPixmap>

#include <cstdint>
#include <memory>
#include <vector>

#include "model/entry.h"

namespace relictor {

class CThumbnailer;

// The icons of the list, looked up by name only: a file's type comes from
// its name through the MIME database, its picture from the desktop's icon
// theme with a generic picture where the theme has none. Nothing here
// touches a disk, so a deleted file whose name no longer exists anywhere
// gets the icon of its kind. Icons are kept per type, plain and with the
// deleted mark.
class EntryIconProvider {
 public:
  EntryIconProvider();

  // The MIME type name the icon of an entry is chosen by
  // ("inode/directory" for folders).
  QString TypeKey(const CDirEntry& entry) const;
  QIcon Icon(const CDirEntry& entry) const;
  // The icon of a type with or without the deleted mark.
  QIcon IconForType(const QString& typeKey, bool deleted) const;
  // The picture laid over the icon of a deleted entry.
  static QPixmap DeletedOverlay(int size);
  // The desktop's name of a folder, shown in the Type column for folders.
  QString FolderTypeName() const { return folderTypeName_; }

 private:
  QIcon BaseIcon(const QString& typeKey) const;

  QMimeDatabase mimes_;
  QString folderTypeName_;
  mutable QHash<QString, QString> keyBySuffix_;
  mutable QHash<QString, QIcon> plain_;
  mutable QHash<QString, QIcon> marked_;
};

class EntryListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The columns by what they show. With the Path column (the search result
  // list) the numbering of the views shifts by one after FileName.
  enum Key { kName = 0, kPath = 1, kSize = 2, kType = 3, kModified = 4, kStatus = 5 };
  // Roles beyond Qt's for the views and tests.
  enum Role {
    EntryRole = Qt::UserRole + 1,  // the CDirEntry* as a quintptr
    DeletedRole,                   // whether the entry is deleted
    IconKeyRole,                   // the type name the icon was chosen by
    ThumbnailRole,                 // the picture's thumbnail (a QPixmap) once made
  };

  explicit EntryListModel(bool withPath, QObject* parent = nullptr);

  bool WithPath() const { return withPath_; }
  // Shows the children of a folder (null or empty: nothing). The pointers
  // are copied; the entries must outlive the model's use of them, and the
  // model must be given them again when the folder's children change.
  void SetEntries(const std::vector<std::unique_ptr<CDirEntry>>* children);
  // Shows a vector of entries (the finds of a search).
  void SetEntries(std::vector<CDirEntry*> entries);
  void Clear();
  // Inserts one row at `row` (at the end when past it), the way search
  // results arrive one by one.
  void InsertEntry(int row, CDirEntry* entry);
  // Drops the rows of entries that lie anywhere below `folder`, before
  // that folder's children are freed. Returns whether any row went.
  bool RemoveEntriesUnder(const CDirectory* folder);

  CDirEntry* EntryAt(int row) const;
  const std::vector<CDirEntry*>& Entries() const { return rows_; }

  // The sort key of a view column, and back.
  Key KeyOfColumn(int column) const;
  int ColumnOfKey(Key key) const;

  // Sorts the rows by a view column: ascending puts folders before files,
  // descending files before folders, and between two of a kind the
  // column's key decides (Status ascending puts "Poor" first). Equal rows
  // keep no particular order.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // With a thumbnailer, picture files show their thumbnails in place of
  // their icons once made (null: icons only). The model does not own it.
  void SetThumbnails(CThumbnailer* thumbnails);

  const EntryIconProvider& Icons() const { return icons_; }
  // The text of a cell as the list shows it.
  QString CellText(CDirEntry& entry, Key key) const;

 private:
  QPixmap ThumbnailOf(CDirEntry& entry) const;

  bool withPath_;
  CThumbnailer* thumbnails_ = nullptr;
  QMetaObject::Connection thumbnailsChanged_;
  std::vector<CDirEntry*> rows_;
  EntryIconProvider icons_;
};

// Text made of an entry's bytes for display: names come from damaged
// volumes too, so bytes that are not UTF-8 and control characters are
// shown as replacement characters instead of reaching the widgets.
QString DisplayText(const std::string& bytes);

}  // namespace relictor
