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
  void SetEntries(std::vector<std::unique_ptr<relictor::CDirEntry>>* entries);
  relictor::CDirEntry* EntryAt(int row) const;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<std::unique_ptr<relictor::CDirEntry>>* entries_ = nullptr;
};

class CEntryListCtrl : public QTreeView {
  Q_OBJECT
 public:
  enum class ViewMode { LargeIcons, SmallIcons, List, Details };
  explicit CEntryListCtrl(QWidget* parent = nullptr);
  void SetEntries(std::vector<std::unique_ptr<relictor::CDirEntry>>* entries);
  relictor::CDirEntry* EntryAt(int row) const;
  int RowCount() const;
  std::vector<relictor::CDirEntry*> SelectedEntries() const;
  int SelectedCount() const;
  void SelectAllRows();
  void InvertSelection();
  void SetViewMode(ViewMode mode) { mode_ = mode; }
  ViewMode GetViewMode() const { return mode_; }

 signals:
  void EntryActivated(relictor::CDirEntry* entry);
  void SelectionCountChanged(int count);

 private:
  PlaceholderEntryModel* model_;
  ViewMode mode_ = ViewMode::Details;
};
