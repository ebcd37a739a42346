#pragma once
// The main frame: menu bar, tool bar, status bar, the left dock with the
// "Drivers" and "Search" tabs, the bottom "Search Result" dock, and the
// frame-level commands with their enable rules and check marks.

#include <functional>
#include <map>
#include <memory>

#include <QMainWindow>
#include <QStringList>

namespace relictor {
class CEntryListCtrl;
class CPreviewPane;
class CDirEntry;
class CFSFile;
class QtClusterRangeChooser;
class QtJobRunner;
}  // namespace relictor

class CFoldersTreeDlg;
class CVeskDoc;
class CVeskView;
class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QTabWidget;
class QToolButton;

// What other parts of the window plug into the frame: the search panes
// and the dialogs of the commands that they build. A command whose hook is
// empty does nothing.
struct FrameHooks {
  // The "Search" tab's page and the "Search Result" dock's content.
  std::function<QWidget*(QWidget* parent)> searchPage;
  std::function<QWidget*(QWidget* parent)> searchResultPage;
  // The dialogs: properties of one entry, the options, the hex viewer of
  // a file entry, and the lost-volume search.
  std::function<void(QWidget* parent, relictor::CDirEntry* entry)> properties;
  std::function<void(QWidget* parent)> options;
  std::function<void(QWidget* parent, relictor::CFSFile* file)> viewHex;
  std::function<void(QWidget* parent)> findLostDrivers;
  // Saving the selected entries of a list; empty: the recovery dialogs
  // ("Files Recovery", then "File Saving...").
  std::function<void(QWidget* parent, relictor::CEntryListCtrl* list)> recover;
};

// The hooks the frame is built with; set them before the frame is made.
FrameHooks& DefaultFrameHooks();

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Command ids, as the command table numbers them.
  enum Command {
    kRecover = 32773,
    kFindLostFiles = 32791,
    kFindLostDrivers = 32802,
    kViewHex = 32803,
    kProperties = 32781,
    kExit = 57665,
    kSelectAll = 57642,
    kInvertSelection = 32779,
    kSearch = 32775,
    kToolbar = 59392,
    kStatusBar = 59393,
    kNavigation = 32776,
    kSearchResult = 32777,
    kLargeIcons = 32771,
    kSmallIcons = 32772,
    kList = 32789,
    kDetails = 32790,
    kViewType = 32795,
    kGoToParent = 32792,
    kOptions = 32796,
    kCheckForUpdates = 32801,
    kHelpTopics = 57667,
    kAbout = 57664,
    kOpenImage = 32900,
    kPreview = 32901,
  };

  // `sources`: the images and devices named on the command line (empty:
  // the system's volumes).
  explicit CMainFrame(const QStringList& sources, QWidget* parent = nullptr);
  ~CMainFrame() override;

  bool IsCreated() const { return created_; }

  // Status-bar pane 0.
  void SetStatusText(const QString& text);
  QString StatusText() const;

  QAction* Action(int id) const;
  // Runs the enable rules and check marks of every command (the menus do
  // this before they open, the frame a few times a second).
  void UpdateCommandUI();

  // The list the list commands act on.
  relictor::CEntryListCtrl* ActiveList() const;
  // Routes the commands of a list's context menu to the frame's commands.
  void ConnectListCommands(relictor::CEntryListCtrl* list);

  // Shows every problem met while opening sources since the last call in
  // one message box.
  void ReportOpenProblems();
  // File > Open Image... with the path already chosen.
  void OpenImage(const QString& path);

  CVeskDoc* Document() const { return document_; }
  relictor::QtJobRunner* JobRunner() const { return jobs_.get(); }
  CVeskView* View() const { return view_; }
  CFoldersTreeDlg* NavigationPane() const { return navigation_; }
  QDockWidget* LeftBar() const { return leftBar_; }
  QDockWidget* BottomBar() const { return bottomBar_; }
  QDockWidget* PreviewBar() const { return previewBar_; }
  QTabWidget* LeftTabs() const { return leftTabs_; }
  QToolBar* ToolBar() const { return toolBar_; }
  QToolButton* ViewTypeButton() const { return viewTypeButton_; }
  QMenu* ViewTypeMenu() const { return viewTypeMenu_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* MakeAction(int id, const QString& text, const QString& tip, void (CMainFrame::*handler)());
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateDocks();
  void UpdateLockIndicators();

  void OnRecover();
  void OnFindLostFiles();
  void OnFindLostDrivers();
  void OnViewHex();
  void OnProperties();
  void OnExit();
  void OnSelectAll();
  void OnInvertSelection();
  void OnSearch();
  void OnToolbar();
  void OnStatusBar();
  void OnNavigation();
  void OnSearchResult();
  void OnPreview();
  // Shows the active list's selected file in the preview pane, when shown.
  void UpdatePreview();
  void OnLargeIcons();
  void OnSmallIcons();
  void OnListMode();
  void OnDetails();
  void OnViewType();
  void OnGoToParent();
  void OnOptions();
  void OnCheckForUpdates();
  void OnHelpTopics();
  void OnAbout();
  void OnOpenImage();

  bool created_ = false;
  FrameHooks hooks_;
  CVeskDoc* document_ = nullptr;
  CVeskView* view_ = nullptr;
  CFoldersTreeDlg* navigation_ = nullptr;
  QDockWidget* leftBar_ = nullptr;
  QDockWidget* bottomBar_ = nullptr;
  QDockWidget* previewBar_ = nullptr;
  relictor::CPreviewPane* preview_ = nullptr;
  QTabWidget* leftTabs_ = nullptr;
  QWidget* searchPage_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QToolButton* viewTypeButton_ = nullptr;
  QMenu* viewTypeMenu_ = nullptr;
  QLabel* messagePane_ = nullptr;
  QLabel* capsPane_ = nullptr;
  QLabel* numPane_ = nullptr;
  QLabel* scrollPane_ = nullptr;
  std::map<int, QAction*> actions_;
  // Long work of the readers runs behind the window's progress dialogs,
  // and the deep scan asks for its range in the window's dialog.
  std::unique_ptr<relictor::QtJobRunner> jobs_;
  std::unique_ptr<relictor::QtClusterRangeChooser> ranges_;
};
