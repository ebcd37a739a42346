#pragma once
// The main view: the start page, with the file list laid over it while a
// folder is shown. The list shows the children of the folder selected in
// the navigation pane; the view tells the frame what it shows through its
// signals.

#include <QStackedWidget>

namespace relictor {
class CEntryListCtrl;
class CDirectory;
class CDirEntry;
}  // namespace relictor

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

  relictor::CEntryListCtrl* List() const { return list_; }
  QTextBrowser* StartPage() const { return startPage_; }

 signals:
  // The status-bar text for the list's selection.
  void StatusTextChanged(const QString& text);
  // A folder of the list was opened (double-click, Enter): the navigation
  // pane selects its node.
  void FolderOpened(relictor::CDirectory* folder);

 private:
  void LoadStartPage();

  QTextBrowser* startPage_;
  relictor::CEntryListCtrl* list_;
  relictor::CDirectory* folder_ = nullptr;
};
