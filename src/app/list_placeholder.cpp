#include "app/list_placeholder.h"

#include <QItemSelectionModel>

void PlaceholderEntryModel::SetEntries(const std::vector<std::unique_ptr<relictor::CDirEntry>>* entries) {
  beginResetModel();
  entries_ = entries;
  endResetModel();
}

relictor::CDirEntry* PlaceholderEntryModel::EntryAt(int row) const {
  if (!entries_ || row < 0 || static_cast<std::size_t>(row) >= entries_->size()) return nullptr;
  return (*entries_)[static_cast<std::size_t>(row)].get();
}

int PlaceholderEntryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !entries_ ? 0 : static_cast<int>(entries_->size());
}

int PlaceholderEntryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant PlaceholderEntryModel::data(const QModelIndex& index, int role) const {
  auto* e = EntryAt(index.row());
  if (!e || role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case 0:
      return QString::fromStdString(e->GetName());
    case 1:
      return QString::fromStdString(e->GetSizeText(false));
    case 2:
      return QString::fromStdString(e->GetTypeText());
    case 3:
      return QString::fromStdString(e->GetModifiedText());
    default:
      return QString::fromStdString(e->GetStatusText());
  }
}

QVariant PlaceholderEntryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const names[] = {"FileName", "Size", "Type", "Modified Date", "Status"};
  return section >= 0 && section < 5 ? QString::fromLatin1(names[section]) : QVariant();
}

namespace relictor {
CEntryListCtrl::CEntryListCtrl(bool, QWidget* parent) : QTreeView(parent), model_(new PlaceholderEntryModel(this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex& i) {
    if (auto* d = dynamic_cast<CDirectory*>(EntryAt(i.row()))) emit FolderActivated(d);
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    emit SelectionCountChanged(SelectedCount(), QStringLiteral("%1 Files Selected").arg(SelectedCount()));
  });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this] { emit ContextMenuRequested(); });
}

void CEntryListCtrl::SetEntries(const std::vector<std::unique_ptr<CDirEntry>>* entries) { model_->SetEntries(entries); }
CDirEntry* CEntryListCtrl::EntryAt(int row) const { return model_->EntryAt(row); }
int CEntryListCtrl::Count() const { return model_->rowCount(); }
std::vector<CDirEntry*> CEntryListCtrl::SelectedEntries() const {
  std::vector<CDirEntry*> out;
  for (const auto& i : selectionModel()->selectedRows()) out.push_back(EntryAt(i.row()));
  return out;
}
int CEntryListCtrl::SelectedCount() const { return static_cast<int>(selectionModel()->selectedRows().size()); }
void CEntryListCtrl::SelectAll() {
  setFocus();
  QTreeView::selectAll();
}
void CEntryListCtrl::InvertSelection() {
  setFocus();
  if (Count() == 0) return;
  QItemSelection all(model_->index(0, 0), model_->index(Count() - 1, model_->columnCount() - 1));
  selectionModel()->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}
}  // namespace relictor
