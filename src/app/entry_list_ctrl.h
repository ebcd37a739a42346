#pragma once
// The file list: the entries of a folder (or the finds of a search) in four
// view modes, sortable by every column, with the list's context menu and
// selection commands. Large icons, small icons and list are one icon view;
// details is a table view; both show the same model and share one
// selection, so switching modes keeps what is selected.
//
// The list asks nothing of the window around it: it tells what happened
// through signals (a folder was double-clicked, the selection changed, a
// command of its context menu was chosen) and the window decides.

#include <QWidget>

#include <array>
#include <vector>

#include "app/entry_list_model.h"

class QAction;
class QItemSelectionModel;
class QListView;
class QMenu;
class QStackedLayout;
class QTreeView;
class QAbstractItemView;

namespace relictor {

class CThumbnailer;

class CEntryListCtrl : public QWidget {
  Q_OBJECT

 public:
  enum ViewMode { kLargeIcons, kSmallIcons, kList, kDetails };

  // The main list has no Path column; the search result list has one.
  explicit CEntryListCtrl(bool withPath = false, QWidget* parent = nullptr);

  // Shows the children of a folder (null: nothing), sorted as the user
  // last chose (FileName ascending at first).
  void SetEntries(const std::vector<std::unique_ptr<CDirEntry>>* children);
  // Shows a vector of entries (search results), sorted the same way.
  void SetEntries(std::vector<CDirEntry*> entries);
  void Clear();
  // Adds one row at `row` without sorting (a search result as it is found).
  void InsertEntry(int row, CDirEntry* entry);

  // Sorts on a view column in a direction and shows the header arrow.
  void Sort(int column, Qt::SortOrder order);
  // What a click on a column header does: another column starts
  // ascending, the same column turns the direction round.
  void OnColumnClick(int column);
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortDirection() const { return sortDirection_; }

  void SetViewMode(ViewMode mode);
  ViewMode GetViewMode() const { return mode_; }

  void SelectAll();
  void InvertSelection();
  // The selected entries in row order.
  std::vector<CDirEntry*> SelectedEntries() const;
  int SelectedCount() const;
  int Count() const { return model_->rowCount(); }
  // Whether View With Hex has something to show: the first selected row
  // is a file with data.
  bool CanViewHex() const;

  // "%d Files Selected" with the number of selected rows.
  QString SelectionCountText() const;
  // "%d Object(s)" with the number of rows.
  QString ObjectCountText() const;

  // Shows the context menu at a position of this widget; (-1, -1) is a
  // request from the keyboard, which opens it near the top-left corner.
  void ShowContextMenu(QPoint pos);
  QMenu* ContextMenu() const { return menu_; }

  EntryListModel* Model() const { return model_; }
  QTreeView* DetailsView() const { return details_; }
  QListView* IconView() const { return icons_; }
  // The view of the current mode.
  QAbstractItemView* CurrentView() const;
  // The thumbnails of Large Icons (null until that mode was first chosen).
  CThumbnailer* Thumbnails() const { return thumbnails_; }

  // The commands of the context menu, so the window can enable them and
  // route them.
  QAction* RecoverAction() const { return recover_; }
  QAction* ViewHexAction() const { return viewHex_; }
  QAction* SelectAllAction() const { return selectAll_; }
  QAction* InvertSelectionAction() const { return invert_; }
  QAction* PropertiesAction() const { return properties_; }

 signals:
  // A folder row was double-clicked (or entered with Return).
  void FolderActivated(relictor::CDirectory* folder);
  // The selection changed; `text` is "%d Files Selected".
  void SelectionCountChanged(int count, const QString& text);
  // The user clicked into the list, moved the focus there or asked for
  // its context menu: the window's list commands act on it from now on.
  void Engaged();
  // The context menu is about to open.
  void ContextMenuRequested();
  void RecoverRequested();
  void ViewHexRequested();
  void PropertiesRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Column widths: each column fits its content (measured on a sample of
  // rows, so a huge folder costs no more than a small one) and FileName
  // takes the spare width; a width the user drags is kept, here and in
  // the settings, and wins over the measured one.
  void MeasureContent();
  void MeasureRow(int row);
  void FitColumns();
  void OnSectionResized(int column, int oldSize, int newSize);
  void OnActivated(const QModelIndex& index);
  void OnSelectionChanged();
  void ShowSortArrow();

  EntryListModel* model_;
  QItemSelectionModel* selection_;
  QStackedLayout* stack_;
  QTreeView* details_;
  QListView* icons_;
  QMenu* menu_;
  QAction* recover_;
  QAction* viewHex_;
  QAction* selectAll_;
  QAction* invert_;
  QAction* properties_;
  CThumbnailer* thumbnails_ = nullptr;
  // By sort key: the measured content width, and the user's width (0: none).
  std::array<int, 6> contentWidth_{};
  std::array<int, 6> userWidth_{};
  QString widthsGroup_;
  bool fitting_ = false;
  ViewMode mode_ = kDetails;
  int sortColumn_ = 0;
  Qt::SortOrder sortDirection_ = Qt::AscendingOrder;
};

}  // namespace relictor
