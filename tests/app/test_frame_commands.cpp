// The frame's commands as a user gives them: which list the list commands
// act on after clicks and focus moves between the file list and the search
// results, whichever way the command comes; commands greyed out where they
// would do nothing; the Help buttons and Help without a browser; the Views
// button; Backspace in the file list.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/list_test_support.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/property_sheet.h"
#include "app/relictor_app.h"
#include "app/search_panes.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "panes_support.h"
#include "support/test_support.h"

using relictor::CDirEntry;
using relictor::CEntryListCtrl;

// Stands in for the desktop's browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
  Q_INVOKABLE void Open(const QUrl& url) { opened << url; }
};

class FrameCommandsTest : public QObject {
  Q_OBJECT

 private:
  std::string image_;
  // What the command hooks were given.
  CEntryListCtrl* recoveredFrom_ = nullptr;
  std::vector<CDirEntry*> recovered_;
  CDirEntry* propertiesOf_ = nullptr;
  std::unique_ptr<apptest::Window> window_;

  CMainFrame* Frame() { return window_->Frame(); }
  CEntryListCtrl* Main() { return Frame()->View()->List(); }
  CEntryListCtrl* Results() { return window_->Frame()->SearchResultList(); }

  static QPoint RowPoint(CEntryListCtrl* list, const QString& name) {
    for (int r = 0; r < list->Count(); ++r) {
      QModelIndex index = list->Model()->index(r, 0);
      if (index.data().toString() == name) {
        list->DetailsView()->scrollTo(index);
        return list->DetailsView()->visualRect(index).center();
      }
    }
    return {-1, -1};
  }
  static void ClickRow(CEntryListCtrl* list, const QString& name) {
    QPoint at = RowPoint(list, name);
    QVERIFY2(at.x() >= 0, qPrintable(name));
    QTest::mouseClick(list->DetailsView()->viewport(), Qt::LeftButton, {}, at);
  }
  static QStringList SelectedNames(CEntryListCtrl* list) {
    QStringList names;
    for (CDirEntry* e : list->SelectedEntries()) names << QString::fromStdString(e->name);
    return names;
  }
  // Right-clicks a row and returns the list's context menu, open.
  static QMenu* RightClickRow(CEntryListCtrl* list, const QString& name) {
    QWidget* vp = list->DetailsView()->viewport();
    QPoint at = RowPoint(list, name);
    QTest::mouseClick(vp, Qt::RightButton, {}, at);
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, vp->mapToGlobal(at));
    QCoreApplication::sendEvent(vp, &e);
    return list->ContextMenu();
  }
  void ShowDocs() {
    apptest::ExpandNode(Frame(), apptest::FindNode(Frame(), {"C:\\"}));
    apptest::ClickNode(Frame(), apptest::FindNode(Frame(), {"C:\\", "DOCS"}));
  }

 private slots:
  void initTestCase() {
    image_ = apptest::Scratch() / "commands.img";
    QVERIFY(apptest::MakeFatImage(image_));
    // Two more deleted files in DOCS (they take the place of gone.txt's
    // entry).
    const std::string src = apptest::Scratch() / "fatsrc";
    QVERIFY(apptest::Shell("cd " + relictor::test::Quote(src) +
                           " && printf 'memo\\n' > memo.txt && printf 'note\\n' > note.txt && mcopy -i " +
                           relictor::test::Quote(image_) + " memo.txt note.txt ::/DOCS/ && mdel -i " +
                           relictor::test::Quote(image_) + " ::/DOCS/memo.txt ::/DOCS/note.txt"));
    InstallPaneHooks(DefaultFrameHooks());
    DefaultFrameHooks().recover = [this](QWidget*, CEntryListCtrl* list) {
      recoveredFrom_ = list;
      recovered_ = list->SelectedEntries();
    };
    DefaultFrameHooks().properties = [this](QWidget*, CDirEntry* entry) { propertiesOf_ = entry; };
    window_ = std::make_unique<apptest::Window>(QStringList{QString::fromStdString(image_)});
    Frame()->resize(1000, 700);
    // Keys and shortcuts reach the active window only.
    Frame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Frame()));
  }

  void cleanupTestCase() { window_.reset(); }

  void theListClickedOrFocusedLastIsTheOneCommandsActOn() {
    ShowDocs();
    // Search the volume for text files: the results dock fills.
    Frame()->Action(CMainFrame::Command::kSearch)->trigger();
    auto* search = qobject_cast<relictor::CSearchDlg*>(window_->Frame()->SearchPane());
    QVERIFY(search);
    search->LookIn()->setCurrentIndex(0);
    if (!search->RecurseBox()->isChecked()) QTest::mouseClick(search->RecurseBox(), Qt::LeftButton);
    search->PatternEdit()->setText("*.TXT");
    QTest::mouseClick(search->SearchButton(), Qt::LeftButton);
    QVERIFY(relictor::test::panes::WaitFor([search] { return !search->Searching(); }));
    QVERIFY(Results()->Count() >= 3);
    QVERIFY(Frame()->BottomBar()->isVisible());

    auto* recoverButton =
        qobject_cast<QToolButton*>(Frame()->ToolBar()->widgetForAction(Frame()->Action(CMainFrame::Command::kRecover)));
    QVERIFY(recoverButton);

    // A row of the results, then a row of the file list: the tool bar's
    // Recover saves the file list's row.
    ClickRow(Results(), "_EMO.TXT");
    ClickRow(Main(), "_OTE.TXT");
    QCOMPARE(Frame()->StatusText(), QString("1 Files Selected"));
    QTest::mouseClick(recoverButton, Qt::LeftButton);
    QCOMPARE(recoveredFrom_, Main());
    QCOMPARE(recovered_.size(), std::size_t{1});
    QCOMPARE(recovered_.front()->name, std::string("_OTE.TXT"));

    // Back in the results: the File menu's Properties shows its row.
    ClickRow(Results(), "_EMO.TXT");
    Frame()->Action(CMainFrame::Command::kProperties)->trigger();
    QVERIFY(propertiesOf_);
    QCOMPARE(propertiesOf_->name, std::string("_EMO.TXT"));

    // The focus moved to the file list from the keyboard, then Select All
    // from the keyboard and Invert Selection from the Edit menu: both act
    // on the file list; the results keep their one row.
    Main()->DetailsView()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Main()->DetailsView(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Main()->SelectedCount(), Main()->Count());
    Frame()->Action(CMainFrame::Command::kInvertSelection)->trigger();
    QCOMPARE(Main()->SelectedCount(), 0);
    QCOMPARE(SelectedNames(Results()), QStringList{"_EMO.TXT"});

    // The results' context menu makes them the list again, for the menu
    // and for the tool bar after it.
    ClickRow(Main(), "_OTE.TXT");
    QMenu* menu = RightClickRow(Results(), "_EMO.TXT");
    QVERIFY(menu->isVisible());
    menu->hide();
    QTest::mouseClick(recoverButton, Qt::LeftButton);
    QCOMPARE(recoveredFrom_, Results());
    QCOMPARE(recovered_.front()->name, std::string("_EMO.TXT"));
    Frame()->Action(CMainFrame::Command::kSelectAll)->trigger();
    QCOMPARE(Results()->SelectedCount(), Results()->Count());
    QCOMPARE(SelectedNames(Main()), QStringList{"_OTE.TXT"});
    Frame()->BottomBar()->hide();
  }

  void commandsThatCannotActAreGreyedOut() {
    ShowDocs();
    Main()->setFocus();
    // A folder: View With Hex is grey in the File menu and in the context
    // menu alike; a file with data enables both.
    struct Case {
      const char* row;
      bool hex;
    } cases[] = {{"SUB", false}, {"_OTE.TXT", true}};
    for (const Case& c : cases) {
      ClickRow(Main(), c.row);
      Frame()->UpdateCommandUI();
      QCOMPARE(Frame()->Action(CMainFrame::Command::kViewHex)->isEnabled(), c.hex);
      QMenu* menu = RightClickRow(Main(), c.row);
      QCOMPARE(Main()->ViewHexAction()->isEnabled(), c.hex);
      QVERIFY(Main()->RecoverAction()->isEnabled());
      menu->hide();
    }
  }

  void theViewsButtonStepsThroughTheModesAndBackspaceGoesUp() {
    ShowDocs();
    QToolButton* views = Frame()->ViewTypeButton();
    QVERIFY(views);
    // The button's main part, away from its arrow.
    const QPoint main(4, views->height() / 2);
    QCOMPARE(Main()->GetViewMode(), CEntryListCtrl::kDetails);
    QList<int> seen;
    for (int i = 0; i < 4; ++i) {
      QTest::mouseClick(views, Qt::LeftButton, {}, main);
      seen << Main()->GetViewMode();
    }
    QCOMPARE(seen, (QList<int>{CEntryListCtrl::kLargeIcons, CEntryListCtrl::kSmallIcons, CEntryListCtrl::kList,
                               CEntryListCtrl::kDetails}));
    QVERIFY(Frame()->Action(CMainFrame::Command::kDetails)->isChecked());

    // Backspace in the list: up to the drive, and no further than the
    // computer's node.
    ClickRow(Main(), "_OTE.TXT");
    QTest::keyClick(Main()->DetailsView(), Qt::Key_Backspace);
    QCOMPARE(Frame()->NavigationPane()->SelectedNode(), apptest::FindNode(Frame(), {"C:\\"}));
    QVERIFY(apptest::RowOf(Frame(), "DOCS") >= 0);
    Main()->DetailsView()->setFocus();
    QTest::keyClick(Main()->DetailsView(), Qt::Key_Backspace);
    QTest::keyClick(Main()->DetailsView(), Qt::Key_Backspace);
    QCOMPARE(Frame()->NavigationPane()->SelectedNode(), Frame()->NavigationPane()->RootItem());
  }

  void helpOpensTheMatchingPageOrSaysWhyNot() {
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(relictor::test::SourceDir() + "/data"));
    UrlRecorder browser;
    QDesktopServices::setUrlHandler("file", &browser, "Open");
    // Help Topics, and the Help buttons of Properties and Options.
    Frame()->Action(CMainFrame::Command::kHelpTopics)->trigger();
    for (const QString& sheetName : {QString("Properties"), QString("Options")}) {
      bool clicked = false;
      relictor::test::panes::WhenModal([&](QWidget* w) {
        auto* sheet = qobject_cast<relictor::CFilePropertySheet*>(w);
        if (sheet) {
          relictor::test::MaybeShoot(sheet, sheetName);
          QTest::mouseClick(sheet->HelpButton(), Qt::LeftButton);
          clicked = true;
        }
        w->close();
      });
      if (sheetName == "Options") {
        Frame()->Action(CMainFrame::Command::kOptions)->trigger();
      } else {
        ShowDocs();
        ClickRow(Main(), "_OTE.TXT");
        relictor::ShowProperties(Main()->SelectedEntries().front(), Frame());
      }
      QVERIFY(clicked);
    }
    QDesktopServices::unsetUrlHandler("file");
    QStringList pages;
    for (const QUrl& url : browser.opened) {
      QVERIFY(QFileInfo(url.toLocalFile()).isFile());
      pages << QFileInfo(url.toLocalFile()).fileName();
    }
    QCOMPARE(pages, (QStringList{"index.html", "properties.html", "options.html"}));

    // With no browser to start (the test platform has none), one message
    // says so and names the page.
    const QString said =
        apptest::RunAndCloseMessageBox([this] { Frame()->Action(CMainFrame::Command::kHelpTopics)->trigger(); });
    QVERIFY2(said.contains("No web browser") && said.contains("index.html"), qPrintable(said));
    QDir::setCurrent(previous);
  }
};

RELICTOR_APP_TEST_MAIN(FrameCommandsTest)
#include "test_frame_commands.moc"
