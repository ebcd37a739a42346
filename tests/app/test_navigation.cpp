// The window on a FAT image made by mkfs.fat and mtools, driven as a user
// would: the tree, lazy folder nodes, the list beside it, double clicks,
// Go To Parent, Find Lost Files, and the commands' enable rules and check
// marks.

#include <QAction>
#include <QDialog>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>

#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/preview_pane.h"
#include "app/relictor_app.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "support/test_support.h"
#include "volume/driver.h"

#include "app/entry_list_ctrl.h"

using apptest::ChildTexts;
using apptest::ClickNode;
using apptest::FindNode;

class NavigationTest : public QObject {
  Q_OBJECT

 private:
  std::string image_;
  std::unique_ptr<apptest::Window> window_;
  CMainFrame* frame() { return window_->Frame(); }
  relictor::CVolumeDriver* reader() { return frame()->Document()->GetDrives().front(); }
  QAction* action(CMainFrame::Command id) { return frame()->Action(id); }
  // The enable rules as the menus show them: a menu runs them before it
  // opens.
  bool enabled(CMainFrame::Command id) {
    frame()->UpdateCommandUI();
    return action(id)->isEnabled();
  }
  void clickToolButton(CMainFrame::Command id) {
    auto* button = qobject_cast<QToolButton*>(frame()->ToolBar()->widgetForAction(action(id)));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    image_ = apptest::Scratch() / "fat16.img";
    QVERIFY(apptest::MakeFatImage(image_));
    window_ = std::make_unique<apptest::Window>(QStringList{QString::fromStdString(image_)});
    QVERIFY2(window_->Problems().isEmpty(), qPrintable(window_->Problems().join('\n')));
  }
  void cleanupTestCase() { window_.reset(); }

  void startsOnMyComputerWithTheStartPage() {
    QCOMPARE(frame()->windowTitle(), QStringLiteral("Kalvor Relictor"));
    QTreeWidgetItem* root = frame()->NavigationPane()->RootItem();
    QCOMPARE(root->text(0), QStringLiteral("My Computer"));
    QCOMPARE(frame()->NavigationPane()->SelectedNode(), root);
    QVERIFY(root->isExpanded());
    QCOMPARE(ChildTexts(root), QStringList{QStringLiteral("C:\\ (TESTFAT)")});
    QCOMPARE(root->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QVERIFY(!frame()->View()->IsListShown());
    QVERIFY(frame()->LeftBar()->isVisible());
    QCOMPARE(frame()->LeftTabs()->tabText(0), QStringLiteral("Drivers"));
    QCOMPARE(frame()->LeftTabs()->tabText(1), QStringLiteral("Search"));
    QCOMPARE(frame()->LeftTabs()->currentIndex(), 0);
    QVERIFY(!frame()->BottomBar()->isVisible());
    QCOMPARE(frame()->BottomBar()->windowTitle(), QStringLiteral("Search Result"));
    // Nothing is read before a node is chosen.
    QVERIFY(!reader()->GetRoot()->populated);
  }

  void menusHoldEveryCommandInOrder() {
    QStringList menus;
    for (QAction* a : frame()->menuBar()->actions()) menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&View", "&Tools", "&Help"}));
    auto texts = [](QAction* menuAction) {
      QStringList out;
      for (QAction* a : menuAction->menu()->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
      return out;
    };
    auto bar = frame()->menuBar()->actions();
    QCOMPARE(texts(bar[0]), (QStringList{"&Open Image...", "-", "Recover...", "Find Lost Files...", "Find Lost Drivers...",
                                         "-", "View With Hex...", "P&roperties...", "-", "E&xit"}));
    QCOMPARE(texts(bar[1]), (QStringList{"Select &All", "In&vert Selection", "-", "Searc&h"}));
    QCOMPARE(texts(bar[2]), (QStringList{"&Toolbar", "&Status Bar", "Navigation", "Search Result", "&Preview", "-", "Lar&ge Icons",
                                         "S&mall Icons", "&List", "&Details", "-", "Go To Parent"}));
    QCOMPARE(texts(bar[3]), (QStringList{"&Options..."}));
    QCOMPARE(texts(bar[4]), (QStringList{"Check for Updates", "-", "&Help Topics", "&About Kalvor Relictor"}));
    QCOMPARE(action(CMainFrame::Command::kNavigation)->statusTip(), QStringLiteral("Show or hide the Navigation"));
    QCOMPARE(action(CMainFrame::Command::kDetails)->statusTip(), QStringLiteral("Displays items by using details."));
  }

  void toolBarButtonsComeInOrderAndNoneIsBlank() {
    // Separators as -1.
    QList<int> ids;
    for (QAction* a : frame()->ToolBar()->actions()) {
      ids << (a->isSeparator() ? -1 : a->data().toInt());
      if (!a->isSeparator()) {
        QImage picture = a->icon().pixmap(16, 16).toImage();
        QVERIFY2(!picture.isNull(), qPrintable(a->text()));
        bool painted = false;
        for (int y = 0; y < picture.height() && !painted; ++y) {
          for (int x = 0; x < picture.width() && !painted; ++x) painted = qAlpha(picture.pixel(x, y)) > 0;
        }
        QVERIFY2(painted, qPrintable(a->text()));
      }
    }
    using C = CMainFrame::Command;
    auto id = [](C c) { return static_cast<int>(c); };
    QCOMPARE(ids, (QList<int>{id(C::kGoToParent), -1, id(C::kRecover), id(C::kProperties),
                              id(C::kViewHex), -1, id(C::kFindLostFiles), id(C::kFindLostDrivers), -1,
                              id(C::kSearch), id(C::kNavigation), id(C::kViewType), -1,
                              id(C::kOptions), -1, id(C::kHelpTopics)}));
    QVERIFY(frame()->ViewTypeButton());
    QCOMPARE(frame()->ViewTypeButton()->popupMode(), QToolButton::MenuButtonPopup);
    QCOMPARE(frame()->ViewTypeMenu()->actions().size(), 4);
  }

  void commandsNeedingASelectionAreOffOnMyComputer() {
    QVERIFY(!enabled(CMainFrame::Command::kFindLostFiles));
    QVERIFY(!enabled(CMainFrame::Command::kGoToParent));
    QVERIFY(!enabled(CMainFrame::Command::kRecover));
    QVERIFY(!enabled(CMainFrame::Command::kProperties));
    QVERIFY(!enabled(CMainFrame::Command::kSelectAll));
    QVERIFY(!enabled(CMainFrame::Command::kInvertSelection));
    QVERIFY(!enabled(CMainFrame::Command::kViewHex));
    QVERIFY(enabled(CMainFrame::Command::kFindLostDrivers));
    QVERIFY(enabled(CMainFrame::Command::kOptions));
    QVERIFY(enabled(CMainFrame::Command::kHelpTopics));
  }

  void selectingADriveReadsItsRootAndShowsTheList() {
    QTreeWidgetItem* drive = FindNode(frame(), {"C:\\"});
    QVERIFY(drive);
    ClickNode(frame(), drive);
    QCOMPARE(frame()->NavigationPane()->SelectedNode(), drive);
    QVERIFY(reader()->GetRoot()->populated);
    QVERIFY(frame()->View()->IsListShown());
    auto& children = reader()->GetRoot()->children;
    QCOMPARE(frame()->View()->List()->Count(), static_cast<int>(children.size()));
    QCOMPARE(frame()->StatusText(), QStringLiteral("%1 Object(s)").arg(children.size()));
    // The root lists its folders, the deleted folder and picture (their
    // lost first letter shown as '_') and the lost-files folder; the
    // existing readme is not a deleted file.
    for (const char* name : {"DOCS", "EMPTY", "_LD", "LostFiles", "_HOTO.JPG"}) {
      QVERIFY2(apptest::RowOf(frame(), QString::fromLatin1(name)) >= 0, name);
    }
    QCOMPARE(apptest::RowOf(frame(), "README.TXT"), -1);
    QVERIFY(enabled(CMainFrame::Command::kFindLostFiles));
    QVERIFY(enabled(CMainFrame::Command::kGoToParent));
    QVERIFY(enabled(CMainFrame::Command::kSelectAll));
    QVERIFY(!enabled(CMainFrame::Command::kRecover));
  }

  void expandingMakesSortedFolderNodesWithTheirButtonsAndOverlay() {
    QTreeWidgetItem* drive = FindNode(frame(), {"C:\\"});
    apptest::ExpandNode(frame(), drive);
    QVERIFY(drive->isExpanded());
    QStringList names = ChildTexts(drive);
    QCOMPARE(names, (QStringList{"_LD", "DOCS", "EMPTY", "LostFiles"}));
    QTreeWidgetItem* docs = FindNode(frame(), {"C:\\", "DOCS"});
    QTreeWidgetItem* empty = FindNode(frame(), {"C:\\", "EMPTY"});
    QTreeWidgetItem* old = FindNode(frame(), {"C:\\", "_LD"});
    QCOMPARE(docs->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    // The deleted folder wears the mark; the others do not.
    QImage plain = docs->icon(0).pixmap(16, 16).toImage();
    QImage marked = old->icon(0).pixmap(16, 16).toImage();
    QCOMPARE(empty->icon(0).pixmap(16, 16).toImage(), plain);
    QVERIFY(marked != plain);
    // A second expansion makes no second set of nodes.
    drive->setExpanded(false);
    drive->setExpanded(true);
    QCOMPARE(ChildTexts(drive), names);
  }

  void doubleClickingAFolderRowOpensItsNode() {
    QTreeWidgetItem* docs = FindNode(frame(), {"C:\\", "DOCS"});
    ClickNode(frame(), docs);
    auto* folder = dynamic_cast<relictor::CDirectory*>(CFoldersTreeDlg::EntryOf(docs));
    QVERIFY(folder && folder->populated);
    QCOMPARE(frame()->StatusText(), QStringLiteral("%1 Object(s)").arg(folder->children.size()));
    int sub = apptest::RowOf(frame(), "SUB");
    QVERIFY(sub >= 0);
    // A deleted file of the folder is listed and marked deleted.
    bool gone = false;
    for (auto& c : folder->children) gone |= c->deleted && !c->IsFolder();
    QVERIFY(gone);
    apptest::DoubleClickRow(frame(), sub);
    QTreeWidgetItem* selected = frame()->NavigationPane()->SelectedNode();
    QVERIFY(selected);
    QCOMPARE(selected->text(0), QStringLiteral("SUB"));
    QCOMPARE(selected->parent(), docs);
    QCOMPARE(frame()->View()->ShownFolder(), CFoldersTreeDlg::EntryOf(selected));
    // A file row's double click changes nothing.
    int rows = frame()->View()->List()->Count();
    if (rows > 0) {
      apptest::DoubleClickRow(frame(), 0);
      QCOMPARE(frame()->NavigationPane()->SelectedNode(), selected);
    }
  }

  void selectAllAndInvertSelectionActOnTheList() {
    ClickNode(frame(), FindNode(frame(), {"C:\\", "DOCS"}));
    auto* list = frame()->View()->List();
    QVERIFY(list->Count() >= 2);
    action(CMainFrame::Command::kSelectAll)->trigger();
    QCOMPARE(list->SelectedCount(), list->Count());
    QCOMPARE(frame()->StatusText(), QStringLiteral("%1 Files Selected").arg(list->Count()));
    QVERIFY(enabled(CMainFrame::Command::kRecover));
    QVERIFY(enabled(CMainFrame::Command::kProperties));
    action(CMainFrame::Command::kInvertSelection)->trigger();
    QCOMPARE(list->SelectedCount(), 0);
    QVERIFY(!enabled(CMainFrame::Command::kRecover));
    action(CMainFrame::Command::kInvertSelection)->trigger();
    QCOMPARE(list->SelectedCount(), list->Count());
  }

  void goToParentClimbsToMyComputer() {
    ClickNode(frame(), FindNode(frame(), {"C:\\", "DOCS", "SUB"}));
    clickToolButton(CMainFrame::Command::kGoToParent);
    QCOMPARE(frame()->NavigationPane()->SelectedNode()->text(0), QStringLiteral("DOCS"));
    clickToolButton(CMainFrame::Command::kGoToParent);
    QCOMPARE(frame()->NavigationPane()->SelectedNode(), FindNode(frame(), {"C:\\"}));
    QVERIFY(frame()->View()->IsListShown());
    clickToolButton(CMainFrame::Command::kGoToParent);
    QCOMPARE(frame()->NavigationPane()->SelectedNode(), frame()->NavigationPane()->RootItem());
    QVERIFY(!frame()->View()->IsListShown());
    QVERIFY(!enabled(CMainFrame::Command::kGoToParent));
    QVERIFY(!enabled(CMainFrame::Command::kSelectAll));
  }

  void findLostFilesAsksForARangeAndScans() {
    ClickNode(frame(), FindNode(frame(), {"C:\\", "DOCS", "SUB"}));
    // Cancelling the range dialog leaves the folder unread and empty.
    auto asked = apptest::WhenDialogShows(QStringLiteral("CClusterRangeDlg"), [](QDialog* d) { d->reject(); });
    clickToolButton(CMainFrame::Command::kFindLostFiles);
    QVERIFY(*asked);
    QTreeWidgetItem* selected = frame()->NavigationPane()->SelectedNode();
    QCOMPARE(selected->text(0), QStringLiteral("LostFiles"));
    QCOMPARE(CFoldersTreeDlg::EntryOf(selected), reader()->GetLostFiles());
    QVERIFY(!reader()->GetLostFiles()->populated);
    QCOMPARE(frame()->View()->List()->Count(), 0);
    // The next selection asks again; OK runs the scan behind its progress
    // dialog, and the list shows what it found.
    ClickNode(frame(), FindNode(frame(), {"C:\\", "DOCS"}));
    asked = apptest::WhenDialogShows(QStringLiteral("CClusterRangeDlg"), [](QDialog* d) { d->accept(); });
    ClickNode(frame(), selected);
    QVERIFY(*asked);
    QVERIFY(reader()->GetLostFiles()->populated);
    QCOMPARE(frame()->NavigationPane()->SelectedNode(), selected);
    QCOMPARE(frame()->View()->List()->Count(), static_cast<int>(reader()->GetLostFiles()->children.size()));
    QCOMPARE(frame()->StatusText(), QStringLiteral("%1 Object(s)").arg(reader()->GetLostFiles()->children.size()));
  }

  void dockCommandsShowHideAndSwitchTabs() {
    QAction* navigation = action(CMainFrame::Command::kNavigation);
    QAction* search = action(CMainFrame::Command::kSearch);
    frame()->UpdateCommandUI();
    QVERIFY(navigation->isChecked());
    QVERIFY(!search->isChecked());
    navigation->trigger();
    QVERIFY(!frame()->LeftBar()->isVisible());
    QVERIFY(!navigation->isChecked());
    // Search while the bar is hidden shows it and switches its page.
    search->trigger();
    QVERIFY(frame()->LeftBar()->isVisible());
    QCOMPARE(frame()->LeftTabs()->currentIndex(), 1);
    QVERIFY(search->isChecked());
    search->trigger();
    QCOMPARE(frame()->LeftTabs()->currentIndex(), 0);
    QVERIFY(!search->isChecked());
    QAction* results = action(CMainFrame::Command::kSearchResult);
    QVERIFY(!results->isChecked());
    results->trigger();
    QVERIFY(frame()->BottomBar()->isVisible());
    QVERIFY(results->isChecked());
    results->trigger();
    QVERIFY(!frame()->BottomBar()->isVisible());
    // View > Preview follows the list's selection while it is shown.
    QAction* preview = action(CMainFrame::Command::kPreview);
    preview->trigger();
    QVERIFY(frame()->PreviewBar()->isVisible());
    QVERIFY(preview->isChecked());
    auto* pane = frame()->PreviewBar()->findChild<relictor::CPreviewPane*>();
    QVERIFY(pane);
    const QString idle = pane->Note()->text();
    ClickNode(frame(), FindNode(frame(), {"C:\\"}));
    QTreeView* details = frame()->View()->List()->DetailsView();
    const QModelIndex photo = details->model()->index(apptest::RowOf(frame(), "_HOTO.JPG"), 0);
    QTest::mouseClick(details->viewport(), Qt::LeftButton, {}, details->visualRect(photo).center());
    QVERIFY2(photo.isValid(), qPrintable(QString::number(apptest::RowOf(frame(), "_HOTO.JPG"))));
    QCOMPARE(frame()->View()->List()->SelectedEntries().size(), std::size_t{1});
    QVERIFY2(pane->Shows() != relictor::CPreviewPane::Showing::Note || pane->Note()->text() != idle,
             qPrintable(pane->Note()->text()));
    preview->trigger();
    QVERIFY(!frame()->PreviewBar()->isVisible());
    QVERIFY(frame()->LeftBar()->features().testFlag(QDockWidget::DockWidgetFloatable));
    QVERIFY(frame()->LeftBar()->features().testFlag(QDockWidget::DockWidgetClosable));
    QVERIFY(frame()->LeftBar()->features().testFlag(QDockWidget::DockWidgetMovable));
    action(CMainFrame::Command::kToolbar)->trigger();
    QVERIFY(!frame()->ToolBar()->isVisible());
    QVERIFY(!action(CMainFrame::Command::kToolbar)->isChecked());
    action(CMainFrame::Command::kToolbar)->trigger();
    QVERIFY(frame()->ToolBar()->isVisible());
  }

  void viewModesCarryOneCheckMark() {
    using C = CMainFrame::Command;
    const C modes[] = {C::kLargeIcons, C::kSmallIcons, C::kList, C::kDetails};
    frame()->UpdateCommandUI();
    QVERIFY(action(CMainFrame::Command::kDetails)->isChecked());
    for (C chosen : modes) {
      action(chosen)->trigger();
      for (C m : modes) QCOMPARE(action(m)->isChecked(), m == chosen);
    }
  }
};

RELICTOR_APP_TEST_MAIN(NavigationTest)
#include "test_navigation.moc"
