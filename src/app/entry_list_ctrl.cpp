#include "app/entry_list_ctrl.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QSettings>
#include <QStackedLayout>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "app/thumbnails.h"

namespace relictor {
namespace {

// Header widths by sort key (FileName, Path, Size, Type, Modified Date,
// Status) before anything is measured.
constexpr int kWidths[] = {140, 140, 80, 110, 130, 70};
// Setting names of the widths the user set, by sort key.
const char* const kWidthKeys[] = {"FileName", "Path", "Size", "Type", "ModifiedDate", "Status"};
// How many rows a folder's columns are measured on: the first ones, which
// are seen first, and as many spread over the rest.
constexpr int kMeasuredRows = 100;
// The side of a Large Icons icon, and of the thumbnails shown in its place.
constexpr int kThumbnailSide = 64;
// Room beside a cell's text for the focus frame and the grid.
constexpr int kCellPadding = 12;

QSettings WidthSettings() { return QSettings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor")); }

// Forwards context menu requests of a view (from its viewport for the
// mouse, from the view itself for the keyboard) to the list, and tells the
// list when the user clicks into a view or moves the focus there.
class ContextMenuFilter : public QObject {
 public:
  ContextMenuFilter(CEntryListCtrl* list, QAbstractItemView* view) : QObject(list), list_(list), view_(view) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress) {
      emit list_->Engaged();
      return false;
    }
    if (event->type() != QEvent::ContextMenu) return false;
    auto* e = static_cast<QContextMenuEvent*>(event);
    if (e->reason() == QContextMenuEvent::Keyboard) {
      list_->ShowContextMenu(QPoint(-1, -1));
    } else {
      auto* w = qobject_cast<QWidget*>(watched);
      list_->ShowContextMenu(list_->mapFromGlobal(w ? w->mapToGlobal(e->pos()) : e->globalPos()));
    }
    return true;
  }

 private:
  CEntryListCtrl* list_;
  QAbstractItemView* view_;
};

// Items of the icon view all take one size per mode, so that the view lays
// out any number of rows without asking each for its text, and names are
// given the room of the grid rather than that of the first row.
class FixedSizeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void SetSize(QSize size, bool centred) { size_ = size, centred_ = centred; }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return size_; }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    // Names stand centred under large icons.
    if (centred_) option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
  }

 private:
  QSize size_{150, 20};
  bool centred_ = false;
};

}  // namespace

CEntryListCtrl::CEntryListCtrl(bool withPath, QWidget* parent)
    : QWidget(parent), model_(new EntryListModel(withPath, this)) {
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);

  details_ = new QTreeView(this);
  details_->setObjectName(QStringLiteral("details"));
  details_->setRootIsDecorated(false);
  details_->setItemsExpandable(false);
  details_->setUniformRowHeights(true);
  details_->setAllColumnsShowFocus(true);
  details_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  details_->setSelectionBehavior(QAbstractItemView::SelectRows);
  details_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  details_->setModel(model_);
  selection_ = details_->selectionModel();
  QHeaderView* header = details_->header();
  header->setStretchLastSection(false);
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setSortIndicatorShown(true);
  widthsGroup_ = withPath ? QStringLiteral("SearchResultColumns") : QStringLiteral("ListColumns");
  {
    QSettings settings = WidthSettings();
    settings.beginGroup(widthsGroup_);
    for (int key = 0; key < static_cast<int>(userWidth_.size()); ++key) {
      const int w = settings.value(QString::fromLatin1(kWidthKeys[key]), 0).toInt();
      // A width from an edited file that no one could have dragged is ignored.
      if (w >= 16 && w <= 4000) userWidth_[static_cast<std::size_t>(key)] = w;
    }
  }
  fitting_ = true;
  for (int c = 0; c < model_->columnCount(); ++c) {
    const auto key = static_cast<std::size_t>(model_->KeyOfColumn(c));
    header->resizeSection(c, userWidth_[key] != 0 ? userWidth_[key] : kWidths[key]);
  }
  fitting_ = false;
  connect(header, &QHeaderView::sectionClicked, this, &CEntryListCtrl::OnColumnClick);
  connect(header, &QHeaderView::sectionResized, this, &CEntryListCtrl::OnSectionResized);
  details_->viewport()->installEventFilter(this);

  icons_ = new QListView(this);
  icons_->setObjectName(QStringLiteral("icons"));
  icons_->setModel(model_);
  // Both views share the one selection.
  QItemSelectionModel* own = icons_->selectionModel();
  icons_->setSelectionModel(selection_);
  delete own;
  icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  icons_->setUniformItemSizes(true);
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setLayoutMode(QListView::Batched);
  icons_->setBatchSize(2000);
  icons_->setItemDelegate(new FixedSizeDelegate(icons_));

  stack_->addWidget(details_);
  stack_->addWidget(icons_);
  stack_->setCurrentWidget(details_);
  setFocusProxy(details_);

  for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(details_), static_cast<QAbstractItemView*>(icons_)}) {
    auto* filter = new ContextMenuFilter(this, v);
    v->installEventFilter(filter);
    v->viewport()->installEventFilter(filter);
    connect(v, &QAbstractItemView::activated, this, &CEntryListCtrl::OnActivated);
  }
  connect(selection_, &QItemSelectionModel::selectionChanged, this, &CEntryListCtrl::OnSelectionChanged);
  connect(model_, &QAbstractItemModel::modelReset, this, &CEntryListCtrl::OnSelectionChanged);

  menu_ = new QMenu(this);
  menu_->setObjectName(QStringLiteral("entryListMenu"));
  recover_ = menu_->addAction(tr("Recover..."));
  viewHex_ = menu_->addAction(tr("View With Hex..."));
  menu_->addSeparator();
  selectAll_ = menu_->addAction(tr("Select &All"));
  invert_ = menu_->addAction(tr("In&vert Selection"));
  menu_->addSeparator();
  properties_ = menu_->addAction(tr("Properties..."));
  connect(recover_, &QAction::triggered, this, &CEntryListCtrl::RecoverRequested);
  connect(viewHex_, &QAction::triggered, this, &CEntryListCtrl::ViewHexRequested);
  connect(properties_, &QAction::triggered, this, &CEntryListCtrl::PropertiesRequested);
  connect(selectAll_, &QAction::triggered, this, &CEntryListCtrl::SelectAll);
  connect(invert_, &QAction::triggered, this, &CEntryListCtrl::InvertSelection);

  ShowSortArrow();
}

void CEntryListCtrl::SetEntries(const std::vector<std::unique_ptr<CDirEntry>>* children) {
  model_->SetEntries(children);
  Sort(sortColumn_, sortDirection_);
  MeasureContent();
  FitColumns();
}

void CEntryListCtrl::SetEntries(std::vector<CDirEntry*> entries) {
  model_->SetEntries(std::move(entries));
  Sort(sortColumn_, sortDirection_);
  MeasureContent();
  FitColumns();
}

void CEntryListCtrl::Clear() { model_->Clear(); }

void CEntryListCtrl::InsertEntry(int row, CDirEntry* entry) {
  model_->InsertEntry(row, entry);
  // Search results come one by one: the columns widen as longer ones come.
  const std::array<int, 6> before = contentWidth_;
  MeasureRow(row);
  if (contentWidth_ != before) FitColumns();
}

void CEntryListCtrl::MeasureContent() {
  contentWidth_.fill(0);
  QHeaderView* header = details_->header();
  for (int c = 0; c < model_->columnCount(); ++c)
    contentWidth_[static_cast<std::size_t>(model_->KeyOfColumn(c))] = header->sectionSizeHint(c);
  const int rows = model_->rowCount();
  const int first = std::min(rows, kMeasuredRows);
  for (int row = 0; row < first; ++row) MeasureRow(row);
  if (rows > first) {
    const int step = std::max(1, (rows - first) / kMeasuredRows);
    for (int row = first; row < rows; row += step) MeasureRow(row);
  }
}

void CEntryListCtrl::MeasureRow(int row) {
  QStyleOptionViewItem option;
  option.initFrom(details_);
  option.font = details_->font();
  option.fontMetrics = details_->fontMetrics();
  const int icon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, details_);
  option.decorationSize = details_->iconSize().isValid() ? details_->iconSize() : QSize(icon, icon);
  QAbstractItemDelegate* delegate = details_->itemDelegate();
  for (int c = 0; c < model_->columnCount(); ++c) {
    int& width = contentWidth_[static_cast<std::size_t>(model_->KeyOfColumn(c))];
    width = std::max(width, delegate->sizeHint(option, model_->index(row, c)).width() + kCellPadding);
  }
}

void CEntryListCtrl::FitColumns() {
  QHeaderView* header = details_->header();
  const int nameColumn = model_->ColumnOfKey(EntryListModel::kName);
  const int room = details_->viewport()->width();
  int others = 0;
  fitting_ = true;
  for (int c = 0; c < model_->columnCount(); ++c) {
    if (c == nameColumn) continue;
    const auto key = static_cast<std::size_t>(model_->KeyOfColumn(c));
    int w = userWidth_[key] != 0 ? userWidth_[key] : contentWidth_[key];
    // A path can be as long as a folder tree is deep: it gets at most half.
    if (key == EntryListModel::kPath && userWidth_[key] == 0) w = std::min(w, std::max(room / 2, kWidths[key]));
    header->resizeSection(c, w);
    others += w;
  }
  const int nameContent = contentWidth_[EntryListModel::kName];
  int name = userWidth_[EntryListModel::kName];
  // The name takes the spare room, and its whole text when that is wider
  // (up to the list's width; the list then scrolls sideways).
  if (name == 0) name = std::max(room - others, std::min(nameContent, std::max(room, kWidths[EntryListModel::kName])));
  header->resizeSection(nameColumn, name);
  fitting_ = false;
}

void CEntryListCtrl::OnSectionResized(int column, int, int newSize) {
  if (fitting_) return;
  const auto key = static_cast<std::size_t>(model_->KeyOfColumn(column));
  userWidth_[key] = newSize;
  QSettings settings = WidthSettings();
  settings.beginGroup(widthsGroup_);
  settings.setValue(QString::fromLatin1(kWidthKeys[key]), newSize);
}

bool CEntryListCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == details_->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QWidget::eventFilter(watched, event);
}

void CEntryListCtrl::Sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= model_->columnCount()) column = 0;
  sortColumn_ = column;
  sortDirection_ = order;
  model_->sort(column, order);
  ShowSortArrow();
}

void CEntryListCtrl::OnColumnClick(int column) {
  Qt::SortOrder order = Qt::AscendingOrder;
  if (column == sortColumn_)
    order = sortDirection_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  Sort(column, order);
  CurrentView()->viewport()->update();
}

void CEntryListCtrl::ShowSortArrow() {
  QHeaderView* header = details_->header();
  const QSignalBlocker block(header);
  header->setSortIndicator(sortColumn_, sortDirection_);
}

void CEntryListCtrl::SetViewMode(ViewMode mode) {
  mode_ = mode;
  // Pictures show as thumbnails in Large Icons only: the other modes'
  // icons are too small for them to tell anything.
  if (mode == kLargeIcons && !thumbnails_) thumbnails_ = new CThumbnailer(QSize(kThumbnailSide, kThumbnailSide), this);
  model_->SetThumbnails(mode == kLargeIcons ? thumbnails_ : nullptr);
  if (mode == kDetails) {
    stack_->setCurrentWidget(details_);
    setFocusProxy(details_);
    return;
  }
  if (mode == kLargeIcons) {
    icons_->setViewMode(QListView::IconMode);
    icons_->setFlow(QListView::LeftToRight);
    icons_->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    icons_->setGridSize(QSize(112, kThumbnailSide + 40));
    static_cast<FixedSizeDelegate*>(icons_->itemDelegate())->SetSize(QSize(108, kThumbnailSide + 36), true);
    icons_->setWordWrap(true);
  } else {
    icons_->setViewMode(QListView::ListMode);
    icons_->setIconSize(QSize(16, 16));
    icons_->setGridSize(mode == kSmallIcons ? QSize(150, 20) : QSize());
    static_cast<FixedSizeDelegate*>(icons_->itemDelegate())->SetSize(QSize(mode == kSmallIcons ? 146 : 190, 20), false);
    icons_->setWordWrap(false);
    // Small icons fill rows from left to right, the list fills columns
    // from top to bottom.
    icons_->setFlow(mode == kSmallIcons ? QListView::LeftToRight : QListView::TopToBottom);
  }
  icons_->setWrapping(true);
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  stack_->setCurrentWidget(icons_);
  setFocusProxy(icons_);
}

QAbstractItemView* CEntryListCtrl::CurrentView() const {
  if (mode_ == kDetails) return details_;
  return icons_;
}

void CEntryListCtrl::SelectAll() {
  CurrentView()->setFocus();
  const int rows = model_->rowCount();
  if (rows == 0) return;
  selection_->select(QItemSelection(model_->index(0, 0), model_->index(rows - 1, model_->columnCount() - 1)),
                     QItemSelectionModel::ClearAndSelect);
}

void CEntryListCtrl::InvertSelection() {
  CurrentView()->setFocus();
  const int rows = model_->rowCount();
  if (rows == 0) return;
  std::vector<bool> selected(static_cast<std::size_t>(rows), false);
  for (const QItemSelectionRange& r : selection_->selection())
    for (int row = r.top(); row <= r.bottom(); ++row) selected[static_cast<std::size_t>(row)] = true;
  // The unselected rows, as runs, replace the selection in one change.
  QItemSelection inverted;
  const int last = model_->columnCount() - 1;
  for (int row = 0; row < rows;) {
    if (selected[static_cast<std::size_t>(row)]) {
      ++row;
      continue;
    }
    int end = row;
    while (end + 1 < rows && !selected[static_cast<std::size_t>(end + 1)]) ++end;
    inverted.append(QItemSelectionRange(model_->index(row, 0), model_->index(end, last)));
    row = end + 1;
  }
  selection_->select(inverted, QItemSelectionModel::ClearAndSelect);
}

std::vector<CDirEntry*> CEntryListCtrl::SelectedEntries() const {
  const int rows = model_->rowCount();
  std::vector<bool> selected(static_cast<std::size_t>(rows), false);
  for (const QItemSelectionRange& r : selection_->selection())
    for (int row = r.top(); row <= r.bottom() && row < rows; ++row) selected[static_cast<std::size_t>(row)] = true;
  std::vector<CDirEntry*> out;
  for (int row = 0; row < rows; ++row)
    if (selected[static_cast<std::size_t>(row)]) out.push_back(model_->EntryAt(row));
  return out;
}

int CEntryListCtrl::SelectedCount() const {
  const int rows = model_->rowCount();
  std::vector<bool> selected(static_cast<std::size_t>(rows), false);
  int count = 0;
  for (const QItemSelectionRange& r : selection_->selection()) {
    for (int row = r.top(); row <= r.bottom() && row < rows; ++row) {
      if (!selected[static_cast<std::size_t>(row)]) ++count;
      selected[static_cast<std::size_t>(row)] = true;
    }
  }
  return count;
}

QString CEntryListCtrl::SelectionCountText() const {
  return tr("%1 Files Selected").arg(SelectedCount());
}

QString CEntryListCtrl::ObjectCountText() const { return tr("%1 Object(s)").arg(Count()); }

void CEntryListCtrl::OnSelectionChanged() {
  const int count = SelectedCount();
  emit SelectionCountChanged(count, tr("%1 Files Selected").arg(count));
}

void CEntryListCtrl::OnActivated(const QModelIndex& index) {
  CDirEntry* e = model_->EntryAt(index.row());
  if (e && e->IsFolder()) emit FolderActivated(static_cast<CDirectory*>(e));
}

bool CEntryListCtrl::CanViewHex() const {
  // The first selected row in list order is the one the viewer opens.
  const std::vector<CDirEntry*> entries = SelectedEntries();
  auto* file = entries.empty() ? nullptr : dynamic_cast<CFSFile*>(entries.front());
  return file != nullptr && file->GetSize() != 0;
}

void CEntryListCtrl::ShowContextMenu(QPoint pos) {
  if (pos == QPoint(-1, -1)) pos = QPoint(5, 5);
  emit Engaged();
  emit ContextMenuRequested();
  // The menu offers what the window's own commands would do for this
  // selection, and greys out the rest.
  const int selected = SelectedCount();
  recover_->setEnabled(selected > 0);
  viewHex_->setEnabled(CanViewHex());
  properties_->setEnabled(selected > 0);
  selectAll_->setEnabled(Count() > 0);
  invert_->setEnabled(Count() > 0);
  menu_->popup(mapToGlobal(pos));
}

}  // namespace relictor
