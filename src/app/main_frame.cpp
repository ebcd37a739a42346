#include "app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "app/app_icons.h"
#include "app/cluster_range_dlg.h"
#include "app/recovery_dlg.h"
#include "ui/job_runner.h"
#include "app/folders_tree_dlg.h"
#include "app/entry_list_ctrl.h"
#include "app/preview_pane.h"
#include "app/relictor_app.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "model/entry.h"
#include "worker/worker.h"

using relictor::CDirEntry;
using relictor::CFSFile;
using relictor::CEntryListCtrl;

FrameHooks& DefaultFrameHooks() {
  static FrameHooks hooks;
  return hooks;
}

CMainFrame::CMainFrame(const QStringList& sources, QWidget* parent) : QMainWindow(parent), hooks_(DefaultFrameHooks()) {
  setObjectName(QStringLiteral("MainFrame"));
  if (auto* app = CRelictorApp::Instance()) app->mainFrame = this;
  setWindowTitle(QStringLiteral("Kalvor Relictor"));
  setWindowIcon(OwnIcon("relictor"));
  jobs_ = std::make_unique<relictor::QtJobRunner>(this);
  ranges_ = std::make_unique<relictor::QtClusterRangeChooser>(this);
  if (auto* app = CRelictorApp::Instance()) {
    app->GetHost().jobs = jobs_.get();
    app->GetHost().rangeChooser = ranges_.get();
  }
  document_ = new CVeskDoc(sources);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  view_ = new CVeskView(this);
  setCentralWidget(view_);
  ConnectListCommands(view_->List());
  // Backspace in the file list goes up a folder, as Alt+Up does.
  auto* up = new QShortcut(QKeySequence(Qt::Key_Backspace), view_->List(), this, [this] {
    if (navigation_ && navigation_->CanGoToParent()) OnGoToParent();
  }, Qt::WidgetWithChildrenShortcut);
  up->setObjectName(QStringLiteral("BackspaceToParent"));
  CreateDocks();
  navigation_->BuildTree();
  navigation_->Tree()->setFocus();
  // The enable rules follow the tree's and the list's selection at once.
  connect(navigation_->Tree(), &QTreeWidget::currentItemChanged, this, &CMainFrame::UpdateCommandUI);
  connect(view_->List(), &CEntryListCtrl::SelectionCountChanged, this, &CMainFrame::UpdateCommandUI);
  resize(960, 640);

  // A light timer catches what no signal tells (a dock closed with its
  // own button, a lock key).
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] {
    UpdateCommandUI();
    UpdateLockIndicators();
  });
  timer->start(250);
  UpdateCommandUI();
  UpdateLockIndicators();
  created_ = true;
}

CMainFrame::~CMainFrame() {
  // The widgets that point into the entry tree go before the document
  // that owns it.
  delete leftBar_;
  delete bottomBar_;
  delete previewBar_;
  delete takeCentralWidget();
  delete document_;
  if (auto* app = CRelictorApp::Instance()) {
    if (app->GetHost().jobs == jobs_.get()) app->GetHost().jobs = nullptr;
    if (app->GetHost().rangeChooser == ranges_.get()) app->GetHost().rangeChooser = nullptr;
    if (app->mainFrame == this) app->mainFrame = nullptr;
  }
}

QAction* CMainFrame::MakeAction(int id, const QString& text, const QString& tip, void (CMainFrame::*handler)()) {
  auto* action = new QAction(text, this);
  action->setObjectName(QStringLiteral("command%1").arg(id));
  action->setData(id);
  action->setStatusTip(tip);
  if (handler) connect(action, &QAction::triggered, this, handler);
  actions_[id] = action;
  return action;
}

QAction* CMainFrame::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::CreateActions() {
  MakeAction(kOpenImage, QStringLiteral("&Open Image..."),
             QStringLiteral("Opens a disk or volume image, or a device, and shows its volumes."),
             &CMainFrame::OnOpenImage)
      ->setShortcut(QKeySequence::Open);
  MakeAction(kRecover, QStringLiteral("Recover..."), QStringLiteral("Recover the selected files and folders."),
             &CMainFrame::OnRecover);
  MakeAction(kFindLostFiles, QStringLiteral("Find Lost Files..."),
             QStringLiteral("Search the free clusters of the drive for lost files."), &CMainFrame::OnFindLostFiles);
  MakeAction(kFindLostDrivers, QStringLiteral("Find Lost Drivers..."),
             QStringLiteral("Search a whole disk for lost drives."), &CMainFrame::OnFindLostDrivers);
  MakeAction(kViewHex, QStringLiteral("View With Hex..."), QStringLiteral("View the data of the selected file."),
             &CMainFrame::OnViewHex);
  MakeAction(kProperties, QStringLiteral("P&roperties..."), QStringLiteral("Show the properties of the selected item."),
             &CMainFrame::OnProperties);
  MakeAction(kExit, QStringLiteral("E&xit"), QStringLiteral("Quit the application."), &CMainFrame::OnExit);
  MakeAction(kSelectAll, QStringLiteral("Select &All"), QStringLiteral("Select all items."), &CMainFrame::OnSelectAll)
      ->setShortcut(QKeySequence::SelectAll);
  MakeAction(kInvertSelection, QStringLiteral("In&vert Selection"),
             QStringLiteral("Reverse which items are selected and which are not."), &CMainFrame::OnInvertSelection);
  MakeAction(kSearch, QStringLiteral("Searc&h"), QStringLiteral("Search for files and folders."), &CMainFrame::OnSearch)
      ->setCheckable(true);
  MakeAction(kToolbar, QStringLiteral("&Toolbar"), QStringLiteral("Show or hide the toolbar."), &CMainFrame::OnToolbar)
      ->setCheckable(true);
  MakeAction(kStatusBar, QStringLiteral("&Status Bar"), QStringLiteral("Show or hide the status bar."),
             &CMainFrame::OnStatusBar)
      ->setCheckable(true);
  MakeAction(kNavigation, QStringLiteral("Navigation"), QStringLiteral("Show or hide the Navigation"),
             &CMainFrame::OnNavigation)
      ->setCheckable(true);
  MakeAction(kSearchResult, QStringLiteral("Search Result"), QStringLiteral("Show or hide the Search Result"),
             &CMainFrame::OnSearchResult)
      ->setCheckable(true);
  MakeAction(kPreview, QStringLiteral("&Preview"), QStringLiteral("Show or hide the preview of the selected file"),
             &CMainFrame::OnPreview)
      ->setCheckable(true);
  MakeAction(kLargeIcons, QStringLiteral("Lar&ge Icons"), QStringLiteral("Displays items by using large icons."),
             &CMainFrame::OnLargeIcons)
      ->setCheckable(true);
  MakeAction(kSmallIcons, QStringLiteral("S&mall Icons"), QStringLiteral("Displays items by using small icons."),
             &CMainFrame::OnSmallIcons)
      ->setCheckable(true);
  MakeAction(kList, QStringLiteral("&List"), QStringLiteral("Displays items in a list."), &CMainFrame::OnListMode)
      ->setCheckable(true);
  MakeAction(kDetails, QStringLiteral("&Details"), QStringLiteral("Displays items by using details."),
             &CMainFrame::OnDetails)
      ->setCheckable(true);
  MakeAction(kViewType, QStringLiteral("View"), QStringLiteral("Change the way the items are displayed."),
             &CMainFrame::OnViewType);
  MakeAction(kGoToParent, QStringLiteral("Go To Parent"), QStringLiteral("Go to the parent folder."),
             &CMainFrame::OnGoToParent)
      ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
  MakeAction(kOptions, QStringLiteral("&Options..."), QStringLiteral("Change the settings of the program."),
             &CMainFrame::OnOptions);
  MakeAction(kCheckForUpdates, QStringLiteral("Check for Updates"),
             QStringLiteral("Look for a newer release of the program."), &CMainFrame::OnCheckForUpdates);
  MakeAction(kHelpTopics, QStringLiteral("&Help Topics"), QStringLiteral("List Help topics."),
             &CMainFrame::OnHelpTopics)
      ->setShortcut(QKeySequence::HelpContents);
  MakeAction(kAbout, QStringLiteral("&About Kalvor Relictor"),
             QStringLiteral("Display program information, version number and copyright."), &CMainFrame::OnAbout);

  Action(kRecover)->setIcon(AppIcon("document-save", "recover"));
  Action(kProperties)->setIcon(AppIcon("document-properties", "properties"));
  Action(kViewHex)->setIcon(OwnIcon("view-hex"));
  Action(kFindLostFiles)->setIcon(OwnIcon("find-lost-files"));
  Action(kFindLostDrivers)->setIcon(OwnIcon("find-lost-drivers"));
  Action(kSearch)->setIcon(AppIcon("edit-find", "search"));
  Action(kNavigation)->setIcon(OwnIcon("navigation"));
  Action(kViewType)->setIcon(OwnIcon("view-type"));
  Action(kOptions)->setIcon(AppIcon("preferences-system", "options"));
  Action(kHelpTopics)->setIcon(AppIcon("help-contents", "help"));
  Action(kGoToParent)->setIcon(AppIcon("go-up", "go-up"));
}

void CMainFrame::CreateMenus() {
  auto updateOnShow = [this](QMenu* menu) { connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI); };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("menuFile"));
  file->addAction(Action(kOpenImage));
  file->addSeparator();
  file->addAction(Action(kRecover));
  file->addAction(Action(kFindLostFiles));
  file->addAction(Action(kFindLostDrivers));
  file->addSeparator();
  file->addAction(Action(kViewHex));
  file->addAction(Action(kProperties));
  file->addSeparator();
  file->addAction(Action(kExit));
  updateOnShow(file);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("menuEdit"));
  edit->addAction(Action(kSelectAll));
  edit->addAction(Action(kInvertSelection));
  edit->addSeparator();
  edit->addAction(Action(kSearch));
  updateOnShow(edit);

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("menuView"));
  for (int id : {kToolbar, kStatusBar, kNavigation, kSearchResult, kPreview}) view->addAction(Action(id));
  view->addSeparator();
  for (int id : {kLargeIcons, kSmallIcons, kList, kDetails}) view->addAction(Action(id));
  view->addSeparator();
  view->addAction(Action(kGoToParent));
  updateOnShow(view);

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("menuTools"));
  tools->addAction(Action(kOptions));
  updateOnShow(tools);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("menuHelp"));
  help->addAction(Action(kCheckForUpdates));
  help->addSeparator();
  help->addAction(Action(kHelpTopics));
  help->addAction(Action(kAbout));
  updateOnShow(help);

  // The drop-down of the ViewType button.
  viewTypeMenu_ = new QMenu(this);
  viewTypeMenu_->setObjectName(QStringLiteral("menuViewType"));
  for (int id : {kLargeIcons, kSmallIcons, kList, kDetails}) viewTypeMenu_->addAction(Action(id));
  updateOnShow(viewTypeMenu_);
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Toolbar"));
  toolBar_->setObjectName(QStringLiteral("ToolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->addAction(Action(kGoToParent));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kRecover));
  toolBar_->addAction(Action(kProperties));
  toolBar_->addAction(Action(kViewHex));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kFindLostFiles));
  toolBar_->addAction(Action(kFindLostDrivers));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kSearch));
  toolBar_->addAction(Action(kNavigation));
  toolBar_->addAction(Action(kViewType));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kOptions));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kHelpTopics));
  // The ViewType button steps to the next view mode; its arrow opens the
  // view modes, one pixel below the button.
  viewTypeButton_ = qobject_cast<QToolButton*>(toolBar_->widgetForAction(Action(kViewType)));
  if (viewTypeButton_) {
    viewTypeButton_->setPopupMode(QToolButton::MenuButtonPopup);
    viewTypeButton_->setMenu(viewTypeMenu_);
    viewTypeButton_->setObjectName(QStringLiteral("ViewTypeButton"));
  }
}

void CMainFrame::CreateStatusBar() {
  messagePane_ = new QLabel(this);
  messagePane_->setObjectName(QStringLiteral("MessagePane"));
  statusBar()->addWidget(messagePane_, 1);
  auto indicator = [this](const QString& text) {
    auto* label = new QLabel(text, this);
    label->setObjectName(text);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12);
    statusBar()->addPermanentWidget(label);
    return label;
  };
  capsPane_ = indicator(QStringLiteral("CAP"));
  numPane_ = indicator(QStringLiteral("NUM"));
  scrollPane_ = indicator(QStringLiteral("SCRL"));
  // The message pane shows a command's prompt while its menu item is
  // highlighted, as the status tips do, and the last status text after.
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
    messagePane_->setVisible(message.isEmpty());
  });
}

void CMainFrame::CreateDocks() {
  navigation_ = new CFoldersTreeDlg(this);
  leftTabs_ = new QTabWidget(this);
  leftTabs_->setObjectName(QStringLiteral("LeftTabs"));
  leftTabs_->setTabPosition(QTabWidget::South);
  leftTabs_->addTab(navigation_, CFolderTreeCtrl().ImageIcon(CFolderTreeCtrl::kProgram, false),
                    QStringLiteral("Drivers"));
  if (hooks_.searchPage) searchPage_ = hooks_.searchPage(leftTabs_);
  if (searchPage_ == nullptr) {
    auto* placeholder = new QLabel(QStringLiteral("The search pane is not part of this build."), leftTabs_);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    searchPage_ = placeholder;
  }
  if (auto* app = CRelictorApp::Instance()) app->searchPane = searchPage_;
  leftTabs_->addTab(searchPage_, OwnIcon("search"), QStringLiteral("Search"));

  const auto features =
      QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable | QDockWidget::DockWidgetClosable;
  leftBar_ = new QDockWidget(QStringLiteral("Navigation"), this);
  leftBar_->setObjectName(QStringLiteral("LeftBar"));
  leftBar_->setFeatures(features);
  leftBar_->setAllowedAreas(Qt::AllDockWidgetAreas);
  leftBar_->setWidget(leftTabs_);
  addDockWidget(Qt::LeftDockWidgetArea, leftBar_);
  resizeDocks({leftBar_}, {240}, Qt::Horizontal);

  bottomBar_ = new QDockWidget(QStringLiteral("Search Result"), this);
  bottomBar_->setObjectName(QStringLiteral("BottomBar"));
  bottomBar_->setFeatures(features);
  bottomBar_->setAllowedAreas(Qt::AllDockWidgetAreas);
  QWidget* results = hooks_.searchResultPage ? hooks_.searchResultPage(bottomBar_) : nullptr;
  if (results == nullptr) {
    auto* placeholder = new QLabel(QStringLiteral("No search results."), bottomBar_);
    placeholder->setAlignment(Qt::AlignCenter);
    results = placeholder;
  }
  if (auto* app = CRelictorApp::Instance()) app->searchResultPane = results;
  bottomBar_->setWidget(results);
  addDockWidget(Qt::BottomDockWidgetArea, bottomBar_);
  resizeDocks({bottomBar_}, {200}, Qt::Vertical);
  bottomBar_->hide();
  leftTabs_->setCurrentWidget(navigation_);

  previewBar_ = new QDockWidget(QStringLiteral("Preview"), this);
  previewBar_->setObjectName(QStringLiteral("PreviewBar"));
  previewBar_->setFeatures(features);
  previewBar_->setAllowedAreas(Qt::AllDockWidgetAreas);
  preview_ = new relictor::CPreviewPane(previewBar_);
  previewBar_->setWidget(preview_);
  addDockWidget(Qt::RightDockWidgetArea, previewBar_);
  resizeDocks({previewBar_}, {320}, Qt::Horizontal);
  previewBar_->hide();
  connect(previewBar_, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdatePreview);
  connect(view_->List(), &CEntryListCtrl::SelectionCountChanged, this, &CMainFrame::UpdatePreview);
  if (auto* app = CRelictorApp::Instance(); app && app->searchResultList)
    connect(app->searchResultList, &CEntryListCtrl::SelectionCountChanged, this, &CMainFrame::UpdatePreview);
}

void CMainFrame::SetStatusText(const QString& text) {
  if (messagePane_) messagePane_->setText(text);
}

QString CMainFrame::StatusText() const { return messagePane_ ? messagePane_->text() : QString(); }

CEntryListCtrl* CMainFrame::ActiveList() const {
  CRelictorApp* app = CRelictorApp::Instance();
  if (app && app->searchResultsActive && app->searchResultList) return app->searchResultList;
  return view_ ? view_->List() : nullptr;
}

void CMainFrame::UpdateCommandUI() {
  CEntryListCtrl* list = ActiveList();
  bool listShown = list != nullptr && (list != view_->List() || view_->IsListShown());
  int selected = listShown ? list->SelectedCount() : 0;
  int rows = listShown ? list->Count() : 0;
  Action(kRecover)->setEnabled(selected > 0);
  Action(kProperties)->setEnabled(selected > 0);
  Action(kSelectAll)->setEnabled(rows > 0);
  Action(kInvertSelection)->setEnabled(rows > 0);
  Action(kViewHex)->setEnabled(selected > 0 && list->CanViewHex());
  QTreeWidgetItem* node = navigation_ ? navigation_->SelectedNode() : nullptr;
  Action(kFindLostFiles)->setEnabled(node != nullptr && node != navigation_->RootItem());
  Action(kGoToParent)->setEnabled(navigation_ && navigation_->CanGoToParent());

  bool leftVisible = leftBar_ && leftBar_->isVisible();
  Action(kSearch)->setChecked(leftVisible && leftTabs_->currentWidget() == searchPage_);
  Action(kNavigation)->setChecked(leftVisible);
  Action(kSearchResult)->setChecked(bottomBar_ && bottomBar_->isVisible());
  Action(kPreview)->setChecked(previewBar_ && previewBar_->isVisible());
  Action(kToolbar)->setChecked(toolBar_->isVisible());
  Action(kStatusBar)->setChecked(statusBar()->isVisible());
  auto mode = view_->List()->GetViewMode();
  Action(kLargeIcons)->setChecked(mode == CEntryListCtrl::kLargeIcons);
  Action(kSmallIcons)->setChecked(mode == CEntryListCtrl::kSmallIcons);
  Action(kList)->setChecked(mode == CEntryListCtrl::kList);
  Action(kDetails)->setChecked(mode == CEntryListCtrl::kDetails);
}

void CMainFrame::UpdateLockIndicators() {
  // The lock states are those of the keyboard's lights, which the kernel
  // shows under /sys/class/leds; without them the indicators stay dim.
  auto lit = [](const char* suffix) {
    QDir leds(QStringLiteral("/sys/class/leds"));
    const auto names = leds.entryList({QStringLiteral("*::") + QString::fromLatin1(suffix)}, QDir::Dirs | QDir::System);
    for (const QString& name : names) {
      QFile f(leds.absoluteFilePath(name + QStringLiteral("/brightness")));
      if (f.open(QIODevice::ReadOnly) && f.readAll().trimmed() != "0") return true;
    }
    return false;
  };
  capsPane_->setEnabled(lit("capslock"));
  numPane_->setEnabled(lit("numlock"));
  scrollPane_->setEnabled(lit("scrolllock"));
}

void CMainFrame::ConnectListCommands(CEntryListCtrl* list) {
  // The list the user clicked, focused or opened the menu of last is the
  // one every list command acts on, from the tool bar, the menus, the
  // keyboard or the context menu alike.
  connect(list, &CEntryListCtrl::Engaged, this, [this, list] {
    if (auto* app = CRelictorApp::Instance()) app->searchResultsActive = list != view_->List();
    UpdateCommandUI();
  });
  connect(list, &CEntryListCtrl::RecoverRequested, Action(kRecover), &QAction::trigger);
  connect(list, &CEntryListCtrl::ViewHexRequested, Action(kViewHex), &QAction::trigger);
  connect(list, &CEntryListCtrl::PropertiesRequested, Action(kProperties), &QAction::trigger);
}

void CMainFrame::ReportOpenProblems() {
  QStringList problems = document_->TakeProblems();
  if (problems.isEmpty()) return;
  problems.removeDuplicates();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Kalvor Relictor"),
                  problems.size() == 1 ? problems.front() : QStringLiteral("Some sources could not be opened."),
                  QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("OpenProblems"));
  if (problems.size() > 1) box.setDetailedText(problems.join(QLatin1Char('\n')));
  box.exec();
}

void CMainFrame::OpenImage(const QString& path) {
  if (path.isEmpty()) return;
  auto added = document_->OpenSource(path);
  QTreeWidgetItem* first = nullptr;
  for (auto* reader : added) {
    QTreeWidgetItem* node = navigation_->AddReader(reader);
    if (first == nullptr) first = node;
  }
  ReportOpenProblems();
  if (first) navigation_->SelectNode(first);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // A running search ends before the tree it reads goes away.
  relictor::StopWorker(&relictor::QtJobRunner::PumpEvents);
  QMainWindow::closeEvent(event);
}

void CMainFrame::OnOpenImage() {
  QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Image"), QString(),
                                              QStringLiteral("Disk and volume images (*.img *.dd *.bin *.raw *.iso *.ima *.vhd);;All files (*)"));
  OpenImage(path);
}

void CMainFrame::OnRecover() {
  CEntryListCtrl* list = ActiveList();
  if (list == nullptr || list->SelectedCount() == 0) return;
  // Saving runs on the worker and reads folders that may not be read yet:
  // one worker at a time, so whatever runs (a search) ends first.
  relictor::StopWorker(&relictor::QtJobRunner::PumpEvents);
  if (hooks_.recover) {
    hooks_.recover(this, list);
    return;
  }
  QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
  relictor::RecoverEntries(list->SelectedEntries(), settings, *jobs_, this);
}

void CMainFrame::OnFindLostFiles() { navigation_->FindLostFiles(); }

void CMainFrame::OnFindLostDrivers() {
  if (!hooks_.findLostDrivers) return;
  // The walk runs on the worker and adds volumes: whatever runs ends first.
  relictor::StopWorker(&relictor::QtJobRunner::PumpEvents);
  hooks_.findLostDrivers(this);
}

void CMainFrame::OnViewHex() {
  CEntryListCtrl* list = ActiveList();
  if (list == nullptr || !hooks_.viewHex) return;
  auto entries = list->SelectedEntries();
  auto* file = entries.empty() ? nullptr : dynamic_cast<CFSFile*>(entries.front());
  if (file == nullptr || file->GetSize() == 0) return;
  hooks_.viewHex(this, file);
}

void CMainFrame::OnProperties() {
  CEntryListCtrl* list = ActiveList();
  if (list == nullptr || list->SelectedCount() != 1 || !hooks_.properties) return;
  hooks_.properties(this, list->SelectedEntries().front());
}

void CMainFrame::OnExit() { close(); }

void CMainFrame::OnSelectAll() {
  if (CEntryListCtrl* list = ActiveList()) list->SelectAll();
}

void CMainFrame::OnInvertSelection() {
  if (CEntryListCtrl* list = ActiveList()) list->InvertSelection();
}

void CMainFrame::OnSearch() {
  if (!leftBar_->isVisible()) leftBar_->show();
  if (leftTabs_->currentWidget() == navigation_) {
    leftTabs_->setCurrentWidget(searchPage_);
  } else {
    leftTabs_->setCurrentWidget(navigation_);
  }
  UpdateCommandUI();
}

void CMainFrame::OnToolbar() {
  toolBar_->setVisible(!toolBar_->isVisible());
  UpdateCommandUI();
}

void CMainFrame::OnStatusBar() {
  statusBar()->setVisible(!statusBar()->isVisible());
  UpdateCommandUI();
}

void CMainFrame::OnNavigation() {
  leftBar_->setVisible(!leftBar_->isVisible());
  UpdateCommandUI();
}

void CMainFrame::OnSearchResult() {
  bottomBar_->setVisible(!bottomBar_->isVisible());
  UpdateCommandUI();
}

void CMainFrame::OnPreview() {
  previewBar_->setVisible(!previewBar_->isVisible());
  UpdatePreview();
  UpdateCommandUI();
}

void CMainFrame::UpdatePreview() {
  if (!preview_) return;
  // A hidden pane lets go of its file, which may be freed meanwhile.
  if (!previewBar_->isVisible()) {
    preview_->ShowEntry(nullptr);
    return;
  }
  CEntryListCtrl* list = ActiveList();
  std::vector<CDirEntry*> selected = list ? list->SelectedEntries() : std::vector<CDirEntry*>{};
  preview_->ShowEntry(selected.size() == 1 ? selected.front() : nullptr);
}

void CMainFrame::OnLargeIcons() {
  view_->List()->SetViewMode(CEntryListCtrl::kLargeIcons);
  UpdateCommandUI();
}

void CMainFrame::OnSmallIcons() {
  view_->List()->SetViewMode(CEntryListCtrl::kSmallIcons);
  UpdateCommandUI();
}

void CMainFrame::OnListMode() {
  view_->List()->SetViewMode(CEntryListCtrl::kList);
  UpdateCommandUI();
}

void CMainFrame::OnDetails() {
  view_->List()->SetViewMode(CEntryListCtrl::kDetails);
  UpdateCommandUI();
}

void CMainFrame::OnViewType() {
  // The button itself steps through the modes in the order of its menu.
  static constexpr CEntryListCtrl::ViewMode kNext[] = {CEntryListCtrl::kSmallIcons, CEntryListCtrl::kList,
                                                       CEntryListCtrl::kDetails, CEntryListCtrl::kLargeIcons};
  view_->List()->SetViewMode(kNext[view_->List()->GetViewMode()]);
  UpdateCommandUI();
}

void CMainFrame::OnGoToParent() { navigation_->GoToParent(); }

void CMainFrame::OnOptions() {
  if (hooks_.options) hooks_.options(this);
}

void CMainFrame::OnCheckForUpdates() {
  if (auto* app = CRelictorApp::Instance()) app->LaunchPatchwell(false);
}

void CMainFrame::OnHelpTopics() {
  if (auto* app = CRelictorApp::Instance()) app->ShowHelp(this);
}

void CMainFrame::OnAbout() {
  QMessageBox box(this);
  box.setObjectName(QStringLiteral("AboutBox"));
  box.setWindowTitle(QStringLiteral("About Kalvor Relictor"));
  box.setIconPixmap(OwnIcon("relictor").pixmap(48, 48));
  box.setTextFormat(Qt::RichText);
  box.setTextInteractionFlags(Qt::TextBrowserInteraction);
  box.setText(QStringLiteral("<b>Kalvor Relictor</b> %1<br>Finds and recovers deleted files on FAT and NTFS "
                             "volumes.<br><br><a href=\"%2\">%2</a>")
                  .arg(QStringLiteral(RELICTOR_PRODUCT_VERSION), QStringLiteral(RELICTOR_PROJECT_URL)));
  box.exec();
}
