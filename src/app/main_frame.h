#pragma once
// The main frame: menu bar, tool bar, status bar, the left dock with the
// "Drivers" and "Search" tabs, the bottom "Search Result" dock, and the
// frame-level commands with their enable rules and check marks.
//
// The frame owns the document, the view and the panes. It gives each what
// it needs when it makes it, and they talk back through their signals
// (status text, folder opened, list engaged, selection changed); no part
// of the window reaches a sibling any other way.

#include <array>
#include <cstddef>
#include <functional>
#include <memory>

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include "app/entry_list_ctrl.h"

namespace relictor {
class CEntryListCtrl;
class CPreviewPane;
class CDirEntry;
class CFSFile;
class QtClusterRangeChooser;
class QtJobRunner;
struct Host;
}  // namespace relictor

class CFoldersTreeDlg;
class CloseRelay;
class CMainFrame;
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
  // The "Search" tab's page and the "Search Result" dock's content, made
  // in this order once the document, the view and the navigation pane
  // exist; they plug themselves into `frame` through its public calls.
  std::function<QWidget*(CMainFrame& frame, QWidget* parent)> searchPage;
  std::function<QWidget*(CMainFrame& frame, QWidget* parent)> searchResultPage;
  // The dialogs: properties of one entry, the options, the hex viewer of
  // a file entry, and the lost-volume search.
  std::function<void(QWidget* parent, relictor::CDirEntry* entry)> properties;
  std::function<void(QWidget* parent)> options;
  std::function<void(QWidget* parent, relictor::CFSFile* file)> viewHex;
  std::function<void(CMainFrame& frame)> findLostDrivers;
  // Saving the selected entries of a list; empty: the recovery dialogs
  // ("Files Recovery", then "File Saving...").
  std::function<void(QWidget* parent, relictor::CEntryListCtrl* list)> recover;
};

// The hooks the frame is built with; set them before the frame is made.
FrameHooks& DefaultFrameHooks();

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // The frame's commands, each one action of the menus and the tool bar.
  enum class Command {
    kOpenImage,
    kRecover,
    kFindLostFiles,
    kFindLostDrivers,
    kViewHex,
    kProperties,
    kExit,
    kSelectAll,
    kInvertSelection,
    kSearch,
    kToolbar,
    kStatusBar,
    kNavigation,
    kSearchResult,
    kPreview,
    kLargeIcons,
    kSmallIcons,
    kList,
    kDetails,
    kViewType,
    kGoToParent,
    kOptions,
    kCheckForUpdates,
    kHelpTopics,
    kAbout,
  };
  static constexpr int kCommandCount = static_cast<int>(Command::kAbout) + 1;

  // `sources`: the images and devices named on the command line (empty:
  // the system's volumes).
  explicit CMainFrame(const QStringList& sources, QWidget* parent = nullptr);
  ~CMainFrame() override;

  bool IsCreated() const { return created_; }

  // Status-bar pane 0.
  void SetStatusText(const QString& text);
  QString StatusText() const;

  // The action of `id`; its data() is the command as an int.
  QAction* Action(Command id) const { return actions_[static_cast<std::size_t>(id)]; }
  // Runs the enable rules and check marks of every command. The frame
  // runs them when something they depend on changes (a selection, the
  // folder shown, the rows of a list, the list the commands act on, a dock
  // shown or hidden); the menus run them before they open.
  void UpdateCommandUI();

  // The list the list commands act on: the one the user clicked, focused
  // or opened the menu of last (the main file list at first).
  relictor::CEntryListCtrl* ActiveList() const;
  void SetActiveList(relictor::CEntryListCtrl* list);
  // The list of the search result pane: its commands, selection and
  // activation are the frame's from now on. The search result hook calls
  // it once.
  void SetSearchResultList(relictor::CEntryListCtrl* list);
  relictor::CEntryListCtrl* SearchResultList() const { return searchResultList_; }

  // Shows every problem met while opening sources since the last call in
  // one message box.
  void ReportOpenProblems();
  // File > Open Image... with the path already chosen.
  void OpenImage(const QString& path);

  CVeskDoc* Document() const { return document_; }
  relictor::QtJobRunner* JobRunner() const { return jobs_.get(); }
  CVeskView* View() const { return view_; }
  CFoldersTreeDlg* NavigationPane() const { return navigation_; }
  QWidget* SearchPane() const { return searchPage_; }
  QWidget* SearchResultPane() const { return searchResults_; }
  // The application's host (settings, job runner, range chooser) that the
  // readers are given; null without an application object.
  relictor::Host* Host() const { return host_; }
  QDockWidget* LeftBar() const { return leftBar_; }
  QDockWidget* BottomBar() const { return bottomBar_; }
  QDockWidget* PreviewBar() const { return previewBar_; }
  QTabWidget* LeftTabs() const { return leftTabs_; }
  QToolBar* ToolBar() const { return toolBar_; }
  QToolButton* ViewTypeButton() const { return viewTypeButton_; }
  QMenu* ViewTypeMenu() const { return viewTypeMenu_; }

 protected:
  // Asks before stopping long work whose progress is up; waits at most
  // kStopTimeoutMs for the worker to end.
  void closeEvent(QCloseEvent* event) override;
  static constexpr int kStopTimeoutMs = 15000;

 private:
  QAction* MakeAction(Command id, const QString& text, const QString& tip, void (CMainFrame::*handler)());
  // Runs UpdateCommandUI once, after the current event, however many
  // changes ask for it meanwhile.
  void ScheduleCommandUI();
  // Keeps the enable rules in step with `list`: its selection and rows.
  void WatchList(relictor::CEntryListCtrl* list);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateDocks();
  void UpdateLockIndicators();
  // Routes the commands of a list's context menu to the frame's commands.
  void ConnectListCommands(relictor::CEntryListCtrl* list);

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
  QWidget* searchResults_ = nullptr;
  QPointer<relictor::CEntryListCtrl> searchResultList_;
  QPointer<relictor::CEntryListCtrl> activeList_;
  relictor::Host* host_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QToolButton* viewTypeButton_ = nullptr;
  QMenu* viewTypeMenu_ = nullptr;
  QLabel* messagePane_ = nullptr;
  QLabel* capsPane_ = nullptr;
  QLabel* numPane_ = nullptr;
  QLabel* scrollPane_ = nullptr;
  std::array<QAction*, kCommandCount> actions_{};
  bool commandUIScheduled_ = false;
  bool destroying_ = false;
  // Long work of the readers runs behind the window's progress dialogs,
  // and the deep scan asks for its range in the window's dialog.
  std::unique_ptr<relictor::QtJobRunner> jobs_;
  std::unique_ptr<relictor::QtClusterRangeChooser> ranges_;
  std::unique_ptr<CloseRelay> closeRelay_;
};
