#include "app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
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
#include "app/close_relay.h"
#include "app/cluster_range_dlg.h"
#include "app/recovery_dlg.h"
#include "ui/job_runner.h"
#include "app/folders_tree_dlg.h"
#include "app/entry_list_ctrl.h"
#include "app/entry_list_model.h"
#include "app/preview_pane.h"
#include "app/relictor_app.h"
#include "app/search_gate.h"
#include "app/source_opener.h"
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
  setWindowTitle(tr("Kalvor Relictor"));
  setWindowIcon(OwnIcon("relictor"));
  jobs_ = std::make_unique<relictor::QtJobRunner>(this);
  // A scan or a save owns the volumes: no thumbnail is read meanwhile.
  jobs_->SetGuard([] { return std::make_shared<relictor::SearchPause>(nullptr); });
  ranges_ = std::make_unique<relictor::QtClusterRangeChooser>(this);
  if (auto* app = CRelictorApp::Instance()) {
    host_ = &app->GetHost();
    host_->jobs = jobs_.get();
    host_->rangeChooser = ranges_.get();
  }
  document_ = new CVeskDoc(sources);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  view_ = new CVeskView(this);
  setCentralWidget(view_);
  connect(view_, &CVeskView::StatusTextChanged, this, &CMainFrame::SetStatusText);
  ConnectListCommands(view_->List());
  // Backspace in the file list goes up a folder, as Alt+Up does.
  auto* up = new QShortcut(QKeySequence(Qt::Key_Backspace), view_->List(), this, [this] {
    if (navigation_ && navigation_->CanGoToParent()) OnGoToParent();
  }, Qt::WidgetWithChildrenShortcut);
  up->setObjectName(QStringLiteral("BackspaceToParent"));
  CreateDocks();
  navigation_->BuildTree();
  navigation_->Tree()->setFocus();
  // The enable rules and check marks follow what changes them: the folder
  // selected, the lists' selections and rows, the page the view shows,
  // the docks and the tool bar shown or hidden.
  connect(navigation_->Tree(), &QTreeWidget::currentItemChanged, this, &CMainFrame::UpdateCommandUI);
  WatchList(view_->List());
  connect(view_, &QStackedWidget::currentChanged, this, &CMainFrame::UpdateCommandUI);
  connect(leftTabs_, &QTabWidget::currentChanged, this, &CMainFrame::UpdateCommandUI);
  for (QDockWidget* dock : {leftBar_, bottomBar_, previewBar_})
    connect(dock, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandUI);
  connect(toolBar_, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateCommandUI);
  // The lock keys' lights change with those keys, or elsewhere while the
  // window is not active.
  qApp->installEventFilter(this);
  resize(960, 640);
  closeRelay_ = std::make_unique<CloseRelay>(this);
  UpdateCommandUI();
  UpdateLockIndicators();
  created_ = true;
}

CMainFrame::~CMainFrame() {
  // Docks that go emit their signals; the rules no longer run.
  destroying_ = true;
  qApp->removeEventFilter(this);
  // The widgets that point into the entry tree go before the document
  // that owns it.
  delete leftBar_;
  delete bottomBar_;
  delete previewBar_;
  delete takeCentralWidget();
  delete document_;
  if (host_) {
    if (host_->jobs == jobs_.get()) host_->jobs = nullptr;
    if (host_->rangeChooser == ranges_.get()) host_->rangeChooser = nullptr;
  }
}

QAction* CMainFrame::MakeAction(Command id, const QString& text, const QString& tip, void (CMainFrame::*handler)()) {
  auto* action = new QAction(text, this);
  action->setObjectName(QStringLiteral("command%1").arg(static_cast<int>(id)));
  action->setData(static_cast<int>(id));
  action->setStatusTip(tip);
  if (handler) connect(action, &QAction::triggered, this, handler);
  actions_[static_cast<std::size_t>(id)] = action;
  return action;
}

void CMainFrame::CreateActions() {
  MakeAction(Command::kOpenImage, tr("&Open Image..."),
             tr("Opens a disk or volume image, or a device, and shows its volumes."),
             &CMainFrame::OnOpenImage)
      ->setShortcut(QKeySequence::Open);
  MakeAction(Command::kRecover, tr("Recover..."), tr("Recover the selected files and folders."),
             &CMainFrame::OnRecover);
  MakeAction(Command::kFindLostFiles, tr("Find Lost Files..."),
             tr("Search the free clusters of the drive for lost files."), &CMainFrame::OnFindLostFiles);
  MakeAction(Command::kFindLostDrivers, tr("Find Lost Drivers..."),
             tr("Search a whole disk for lost drives."), &CMainFrame::OnFindLostDrivers);
  MakeAction(Command::kViewHex, tr("View With Hex..."), tr("View the data of the selected file."),
             &CMainFrame::OnViewHex);
  MakeAction(Command::kProperties, tr("P&roperties..."), tr("Show the properties of the selected item."),
             &CMainFrame::OnProperties);
  MakeAction(Command::kExit, tr("E&xit"), tr("Quit the application."), &CMainFrame::OnExit);
  MakeAction(Command::kSelectAll, tr("Select &All"), tr("Select all items."), &CMainFrame::OnSelectAll)
      ->setShortcut(QKeySequence::SelectAll);
  MakeAction(Command::kInvertSelection, tr("In&vert Selection"),
             tr("Reverse which items are selected and which are not."), &CMainFrame::OnInvertSelection);
  MakeAction(Command::kSearch, tr("Searc&h"), tr("Search for files and folders."), &CMainFrame::OnSearch)
      ->setCheckable(true);
  MakeAction(Command::kToolbar, tr("&Toolbar"), tr("Show or hide the toolbar."), &CMainFrame::OnToolbar)
      ->setCheckable(true);
  MakeAction(Command::kStatusBar, tr("&Status Bar"), tr("Show or hide the status bar."),
             &CMainFrame::OnStatusBar)
      ->setCheckable(true);
  MakeAction(Command::kNavigation, tr("Navigation"), tr("Show or hide the Navigation"),
             &CMainFrame::OnNavigation)
      ->setCheckable(true);
  MakeAction(Command::kSearchResult, tr("Search Result"), tr("Show or hide the Search Result"),
             &CMainFrame::OnSearchResult)
      ->setCheckable(true);
  MakeAction(Command::kPreview, tr("&Preview"), tr("Show or hide the preview of the selected file"),
             &CMainFrame::OnPreview)
      ->setCheckable(true);
  MakeAction(Command::kLargeIcons, tr("Lar&ge Icons"), tr("Displays items by using large icons."),
             &CMainFrame::OnLargeIcons)
      ->setCheckable(true);
  MakeAction(Command::kSmallIcons, tr("S&mall Icons"), tr("Displays items by using small icons."),
             &CMainFrame::OnSmallIcons)
      ->setCheckable(true);
  MakeAction(Command::kList, tr("&List"), tr("Displays items in a list."), &CMainFrame::OnListMode)
      ->setCheckable(true);
  MakeAction(Command::kDetails, tr("&Details"), tr("Displays items by using details."),
             &CMainFrame::OnDetails)
      ->setCheckable(true);
  MakeAction(Command::kViewType, tr("View"), tr("Change the way the items are displayed."),
             &CMainFrame::OnViewType);
  MakeAction(Command::kGoToParent, tr("Go To Parent"), tr("Go to the parent folder."),
             &CMainFrame::OnGoToParent)
      ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
  MakeAction(Command::kOptions, tr("&Options..."), tr("Change the settings of the program."),
             &CMainFrame::OnOptions);
  MakeAction(Command::kCheckForUpdates, tr("Check for Updates"),
             tr("Look for a newer release of the program."), &CMainFrame::OnCheckForUpdates);
  MakeAction(Command::kHelpTopics, tr("&Help Topics"), tr("List Help topics."),
             &CMainFrame::OnHelpTopics)
      ->setShortcut(QKeySequence::HelpContents);
  MakeAction(Command::kAbout, tr("&About Kalvor Relictor"),
             tr("Display program information, version number and copyright."), &CMainFrame::OnAbout);

  Action(Command::kRecover)->setIcon(AppIcon("document-save", "recover"));
  Action(Command::kProperties)->setIcon(AppIcon("document-properties", "properties"));
  Action(Command::kViewHex)->setIcon(OwnIcon("view-hex"));
  Action(Command::kFindLostFiles)->setIcon(OwnIcon("find-lost-files"));
  Action(Command::kFindLostDrivers)->setIcon(OwnIcon("find-lost-drivers"));
  Action(Command::kSearch)->setIcon(AppIcon("edit-find", "search"));
  Action(Command::kNavigation)->setIcon(OwnIcon("navigation"));
  Action(Command::kViewType)->setIcon(OwnIcon("view-type"));
  Action(Command::kOptions)->setIcon(AppIcon("preferences-system", "options"));
  Action(Command::kHelpTopics)->setIcon(AppIcon("help-contents", "help"));
  Action(Command::kGoToParent)->setIcon(AppIcon("go-up", "go-up"));
}

void CMainFrame::CreateMenus() {
  auto updateOnShow = [this](QMenu* menu) { connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI); };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->setObjectName(QStringLiteral("menuFile"));
  file->addAction(Action(Command::kOpenImage));
  file->addSeparator();
  file->addAction(Action(Command::kRecover));
  file->addAction(Action(Command::kFindLostFiles));
  file->addAction(Action(Command::kFindLostDrivers));
  file->addSeparator();
  file->addAction(Action(Command::kViewHex));
  file->addAction(Action(Command::kProperties));
  file->addSeparator();
  file->addAction(Action(Command::kExit));
  updateOnShow(file);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  edit->setObjectName(QStringLiteral("menuEdit"));
  edit->addAction(Action(Command::kSelectAll));
  edit->addAction(Action(Command::kInvertSelection));
  edit->addSeparator();
  edit->addAction(Action(Command::kSearch));
  updateOnShow(edit);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  view->setObjectName(QStringLiteral("menuView"));
  for (Command id : {Command::kToolbar, Command::kStatusBar, Command::kNavigation, Command::kSearchResult, Command::kPreview}) view->addAction(Action(id));
  view->addSeparator();
  for (Command id : {Command::kLargeIcons, Command::kSmallIcons, Command::kList, Command::kDetails}) view->addAction(Action(id));
  view->addSeparator();
  view->addAction(Action(Command::kGoToParent));
  updateOnShow(view);

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  tools->setObjectName(QStringLiteral("menuTools"));
  tools->addAction(Action(Command::kOptions));
  updateOnShow(tools);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->setObjectName(QStringLiteral("menuHelp"));
  help->addAction(Action(Command::kCheckForUpdates));
  help->addSeparator();
  help->addAction(Action(Command::kHelpTopics));
  help->addAction(Action(Command::kAbout));
  updateOnShow(help);

  // The drop-down of the ViewType button.
  viewTypeMenu_ = new QMenu(this);
  viewTypeMenu_->setObjectName(QStringLiteral("menuViewType"));
  for (Command id : {Command::kLargeIcons, Command::kSmallIcons, Command::kList, Command::kDetails}) viewTypeMenu_->addAction(Action(id));
  updateOnShow(viewTypeMenu_);
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar(tr("Toolbar"));
  toolBar_->setObjectName(QStringLiteral("ToolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->addAction(Action(Command::kGoToParent));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kRecover));
  toolBar_->addAction(Action(Command::kProperties));
  toolBar_->addAction(Action(Command::kViewHex));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kFindLostFiles));
  toolBar_->addAction(Action(Command::kFindLostDrivers));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kSearch));
  toolBar_->addAction(Action(Command::kNavigation));
  toolBar_->addAction(Action(Command::kViewType));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kOptions));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kHelpTopics));
  // The ViewType button steps to the next view mode; its arrow opens the
  // view modes, one pixel below the button.
  viewTypeButton_ = qobject_cast<QToolButton*>(toolBar_->widgetForAction(Action(Command::kViewType)));
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
  navigation_ = new CFoldersTreeDlg(*document_, *view_, this);
  connect(navigation_, &CFoldersTreeDlg::StatusTextChanged, this, &CMainFrame::SetStatusText);
  connect(navigation_, &CFoldersTreeDlg::OpenProblemsMet, this, &CMainFrame::ReportOpenProblems);
  // Rows of the search results below a folder read anew would point at
  // freed entries.
  connect(navigation_, &CFoldersTreeDlg::FolderAboutToBeRead, this, [this](relictor::CDirectory* folder) {
    if (searchResultList_) searchResultList_->Model()->RemoveEntriesUnder(folder);
  });
  connect(view_, &CVeskView::FolderOpened, navigation_, [this](relictor::CDirectory* folder) {
    if (QTreeWidgetItem* node = navigation_->FindChildOfSelection(folder)) navigation_->SelectNode(node);
  });
  leftTabs_ = new QTabWidget(this);
  leftTabs_->setObjectName(QStringLiteral("LeftTabs"));
  leftTabs_->setTabPosition(QTabWidget::South);
  leftTabs_->addTab(navigation_, CFolderTreeCtrl().ImageIcon(CFolderTreeCtrl::kProgram, false),
                    tr("Drivers"));
  if (hooks_.searchPage) searchPage_ = hooks_.searchPage(*this, leftTabs_);
  if (searchPage_ == nullptr) {
    auto* placeholder = new QLabel(tr("The search pane is not part of this build."), leftTabs_);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    searchPage_ = placeholder;
  }
  leftTabs_->addTab(searchPage_, OwnIcon("search"), QStringLiteral("Search"));

  const auto features =
      QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable | QDockWidget::DockWidgetClosable;
  leftBar_ = new QDockWidget(tr("Navigation"), this);
  leftBar_->setObjectName(QStringLiteral("LeftBar"));
  leftBar_->setFeatures(features);
  leftBar_->setAllowedAreas(Qt::AllDockWidgetAreas);
  leftBar_->setWidget(leftTabs_);
  addDockWidget(Qt::LeftDockWidgetArea, leftBar_);
  resizeDocks({leftBar_}, {240}, Qt::Horizontal);

  bottomBar_ = new QDockWidget(tr("Search Result"), this);
  bottomBar_->setObjectName(QStringLiteral("BottomBar"));
  bottomBar_->setFeatures(features);
  bottomBar_->setAllowedAreas(Qt::AllDockWidgetAreas);
  QWidget* results = hooks_.searchResultPage ? hooks_.searchResultPage(*this, bottomBar_) : nullptr;
  if (results == nullptr) {
    auto* placeholder = new QLabel(tr("No search results."), bottomBar_);
    placeholder->setAlignment(Qt::AlignCenter);
    results = placeholder;
  }
  searchResults_ = results;
  bottomBar_->setWidget(results);
  addDockWidget(Qt::BottomDockWidgetArea, bottomBar_);
  resizeDocks({bottomBar_}, {200}, Qt::Vertical);
  bottomBar_->hide();
  leftTabs_->setCurrentWidget(navigation_);

  previewBar_ = new QDockWidget(tr("Preview"), this);
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
  if (searchResultList_)
    connect(searchResultList_, &CEntryListCtrl::SelectionCountChanged, this, &CMainFrame::UpdatePreview);
}

void CMainFrame::SetStatusText(const QString& text) {
  if (messagePane_) messagePane_->setText(text);
}

QString CMainFrame::StatusText() const { return messagePane_ ? messagePane_->text() : QString(); }

CEntryListCtrl* CMainFrame::ActiveList() const {
  if (activeList_) return activeList_;
  return view_ ? view_->List() : nullptr;
}

void CMainFrame::SetActiveList(CEntryListCtrl* list) {
  activeList_ = list;
  UpdateCommandUI();
}

void CMainFrame::SetSearchResultList(CEntryListCtrl* list) {
  searchResultList_ = list;
  if (list == nullptr) return;
  ConnectListCommands(list);
  WatchList(list);
}

void CMainFrame::WatchList(CEntryListCtrl* list) {
  connect(list, &CEntryListCtrl::SelectionCountChanged, this, &CMainFrame::UpdateCommandUI);
  // Rows come one by one while a search runs: one update for a burst.
  QAbstractItemModel* model = list->Model();
  connect(model, &QAbstractItemModel::rowsInserted, this, &CMainFrame::ScheduleCommandUI);
  connect(model, &QAbstractItemModel::rowsRemoved, this, &CMainFrame::ScheduleCommandUI);
  connect(model, &QAbstractItemModel::modelReset, this, &CMainFrame::ScheduleCommandUI);
  // A list that goes (the search result pane's) is no longer the active one.
  connect(list, &QObject::destroyed, this, &CMainFrame::ScheduleCommandUI);
}

void CMainFrame::ScheduleCommandUI() {
  if (commandUIScheduled_) return;
  commandUIScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    commandUIScheduled_ = false;
    UpdateCommandUI();
  });
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyRelease: {
      int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock) UpdateLockIndicators();
      break;
    }
    case QEvent::ApplicationActivate:
      UpdateLockIndicators();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::UpdateCommandUI() {
  if (destroying_) return;
  CEntryListCtrl* list = ActiveList();
  bool listShown = list != nullptr && (list != view_->List() || view_->IsListShown());
  int selected = listShown ? list->SelectedCount() : 0;
  int rows = listShown ? list->Count() : 0;
  Action(Command::kRecover)->setEnabled(selected > 0);
  Action(Command::kProperties)->setEnabled(selected > 0);
  Action(Command::kSelectAll)->setEnabled(rows > 0);
  Action(Command::kInvertSelection)->setEnabled(rows > 0);
  Action(Command::kViewHex)->setEnabled(selected > 0 && list->CanViewHex());
  QTreeWidgetItem* node = navigation_ ? navigation_->SelectedNode() : nullptr;
  Action(Command::kFindLostFiles)->setEnabled(node != nullptr && node != navigation_->RootItem());
  Action(Command::kGoToParent)->setEnabled(navigation_ && navigation_->CanGoToParent());

  bool leftVisible = leftBar_ && leftBar_->isVisible();
  Action(Command::kSearch)->setChecked(leftVisible && leftTabs_->currentWidget() == searchPage_);
  Action(Command::kNavigation)->setChecked(leftVisible);
  Action(Command::kSearchResult)->setChecked(bottomBar_ && bottomBar_->isVisible());
  Action(Command::kPreview)->setChecked(previewBar_ && previewBar_->isVisible());
  Action(Command::kToolbar)->setChecked(toolBar_->isVisible());
  Action(Command::kStatusBar)->setChecked(statusBar()->isVisible());
  auto mode = view_->List()->GetViewMode();
  Action(Command::kLargeIcons)->setChecked(mode == CEntryListCtrl::kLargeIcons);
  Action(Command::kSmallIcons)->setChecked(mode == CEntryListCtrl::kSmallIcons);
  Action(Command::kList)->setChecked(mode == CEntryListCtrl::kList);
  Action(Command::kDetails)->setChecked(mode == CEntryListCtrl::kDetails);
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
  connect(list, &CEntryListCtrl::Engaged, this, [this, list] { SetActiveList(list); });
  connect(list, &CEntryListCtrl::RecoverRequested, Action(Command::kRecover), &QAction::trigger);
  connect(list, &CEntryListCtrl::ViewHexRequested, Action(Command::kViewHex), &QAction::trigger);
  connect(list, &CEntryListCtrl::PropertiesRequested, Action(Command::kProperties), &QAction::trigger);
}

void CMainFrame::ReportOpenProblems() {
  QStringList problems = document_->TakeProblems();
  if (problems.isEmpty()) return;
  problems.removeDuplicates();
  QMessageBox box(QMessageBox::Warning, tr("Kalvor Relictor"),
                  problems.size() == 1 ? problems.front() : tr("Some sources could not be opened."),
                  QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("OpenProblems"));
  if (problems.size() > 1) box.setDetailedText(problems.join(QLatin1Char('\n')));
  box.exec();
}

void CMainFrame::OpenImage(const QString& path) {
  if (path.isEmpty()) return;
  std::optional<relictor::SourceReport> report = ExamineWithProgress(this, path);
  if (!report) return;
  auto added = document_->AddExamined(std::move(*report));
  QTreeWidgetItem* first = nullptr;
  for (auto* reader : added) {
    QTreeWidgetItem* node = navigation_->AddReader(reader);
    if (first == nullptr) first = node;
  }
  ReportOpenProblems();
  if (first) navigation_->SelectNode(first);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Closing while long work shows its progress asks first; the answer Yes
  // stops the work as its Cancel button does.
  relictor::JobKind kind{};
  if (jobs_->Busy(&kind)) {
    QMessageBox box(QMessageBox::Question, tr("Kalvor Relictor"),
                    kind == relictor::JobKind::Saving ? tr("Stop saving the files and close Relictor?")
                                                      : tr("Stop the scan and close Relictor?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("StopAndClose"));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    jobs_->Cancel();
  }
  // Whatever runs on the worker (the job, a search) ends before the tree
  // it reads goes away. The window stays live meanwhile; a worker that does
  // not wind down in time keeps the window open rather than lose its tree.
  if (!relictor::QtJobRunner::WaitForWorkerEnd(kStopTimeoutMs)) {
    SetStatusText(tr("The work in progress is still stopping; close the window again in a moment."));
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void CMainFrame::OnOpenImage() {
  QString path = QFileDialog::getOpenFileName(this, tr("Open Image"), QString(),
                                              tr("Disk and volume images (*.img *.dd *.bin *.raw *.iso *.ima *.vhd);;All files (*)"));
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
  hooks_.findLostDrivers(*this);
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
  box.setWindowTitle(tr("About Kalvor Relictor"));
  box.setIconPixmap(OwnIcon("relictor").pixmap(48, 48));
  box.setTextFormat(Qt::RichText);
  box.setTextInteractionFlags(Qt::TextBrowserInteraction);
  box.setText(tr("<b>Kalvor Relictor</b> %1<br>Finds and recovers deleted files on FAT, exFAT and "
                             "NTFS volumes.<br><br><a href=\"%2\">%2</a>")
                  .arg(QStringLiteral(RELICTOR_PRODUCT_VERSION), QStringLiteral(RELICTOR_PROJECT_URL)));
  box.exec();
}
