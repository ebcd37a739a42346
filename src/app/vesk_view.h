#pragma once
// The main view: the start page, with the file list laid over it while a
// folder is shown. The list shows the children of the folder selected in
// the navigation pane.

#include <QStackedWidget>

namespace relictor {
class CDirectory;
class CDirEntry;
}  // namespace relictor

class CEntryListCtrl;
class QTextBrowser;

class CVeskView : public QStackedWidget {
  Q_OBJECT
 public:
  explicit CVeskView(QWidget* parent = nullptr);
  ~CVeskView() override;

  // Shows the list over the start page, or the start page alone.
  void ShowList(bool show);
  bool IsListShown() const;
  // Shows the children of `folder` (nothing when null).
  void SetEntries(relictor::CDirectory* folder);
  relictor::CDirectory* ShownFolder() const { return folder_; }

  CEntryListCtrl* List() const { return list_; }
  QTextBrowser* StartPage() const { return startPage_; }

 private:
  void OnEntryActivated(relictor::CDirEntry* entry);
  void OnSelectionCount(int count);
  void OnContextMenu(const QPoint& position);
  void LoadStartPage();

  QTextBrowser* startPage_;
  CEntryListCtrl* list_;
  relictor::CDirectory* folder_ = nullptr;
};
