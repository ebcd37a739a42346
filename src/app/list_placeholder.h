#pragma once
// A stand-in for the file list until the real list control is merged:
// the same calls, a plain table of the folder's children.

#include <memory>
#include <vector>

#include <QAbstractTableModel>
#include <QTreeView>

#include "model/entry.h"

class PlaceholderEntryModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void SetEntries(const std::vector<std::unique_ptr<relictor::CDirEntry>>* entries);
  relictor::CDirEntry* EntryAt(int row) const;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const std::vector<std::unique_ptr<relictor::CDirEntry>>* entries_ = nullptr;
};

namespace relictor {
class CEntryListCtrl : public QTreeView {
  Q_OBJECT
 public:
  enum ViewMode { kLargeIcons, kSmallIcons, kList, kDetails };
  explicit CEntryListCtrl(bool withPath = false, QWidget* parent = nullptr);
  void SetEntries(const std::vector<std::unique_ptr<relictor::CDirEntry>>* entries);
  relictor::CDirEntry* EntryAt(int row) const;
  int Count() const;
  std::vector<relictor::CDirEntry*> SelectedEntries() const;
  int SelectedCount() const;
  void SelectAll();
  void InvertSelection();
  void SetViewMode(ViewMode mode) { mode_ = mode; }
  ViewMode GetViewMode() const { return mode_; }
  QAbstractItemView* CurrentView() { return this; }

 signals:
  void FolderActivated(relictor::CDirectory* folder);
  void SelectionCountChanged(int count, const QString& text);
  void ContextMenuRequested();
  void RecoverRequested();
  void ViewHexRequested();
  void PropertiesRequested();

 private:
  PlaceholderEntryModel* model_;
  ViewMode mode_ = kDetails;
};
}  // namespace relictor
