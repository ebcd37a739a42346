// The search panes in the window, driven as a user drives them: patterns,
// size and date filters, recursion, the lost-files folder, Cancel in the
// middle of a search, a search that goes on while the user opens folders of
// the same volume (run under ThreadSanitizer too), saving found files, and
// a volume whose folder contains itself.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <set>
#include <tuple>

#include "app/entry_list_ctrl.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/recovery_dlg.h"
#include "app/relictor_app.h"
#include "app/search_gate.h"
#include "app/search_panes.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "panes_support.h"
#include "search/search.h"
#include "ui/history_combo.h"

using namespace relictor;
using relictor::test::Quote;

namespace {

std::string Fixture() { return relictor::test::NtfsFixturePath(); }

bool MakeNtfs(const std::string& image, const std::string& size, const std::string& script) {
  const std::string file = image + ".script";
  relictor::test::WriteFile(file, script);
  return apptest::Shell("rm -f " + Quote(image) + " && truncate -s " + size + " " + Quote(image) +
                        " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L SRCH " + Quote(image) +
                        " >/dev/null 2>&1 && SOURCE_DATE_EPOCH=1700000000 " + Quote(Fixture()) + " " +
                        Quote(image) + " " + Quote(file));
}

// The hits a search must give, in the order the walk meets them.
void Expected(CDirectory& folder, const SearchCriteria& c, std::vector<std::string>& out, int depth = 0) {
  if (!folder.populated) folder.Populate(true, true, true);
  for (auto& child : folder.children) {
    if (!child || child.get() == folder.volume->GetLostFiles()) continue;
    if (MatchesCriteria(*child, c)) out.push_back(child->name);
    if (c.recurse && child->IsFolder() && depth < 20) Expected(static_cast<CDirectory&>(*child), c, out, depth + 1);
  }
}

}  // namespace

class SearchPanesTest : public QObject {
  Q_OBJECT

 private:
  std::string small_, big_;
  std::unique_ptr<apptest::Window> window_;

  CMainFrame* Frame() { return window_->Frame(); }
  CSearchDlg* Pane() { return qobject_cast<CSearchDlg*>(window_->Frame()->SearchPane()); }
  CSearchResultDlg* Results() { return qobject_cast<CSearchResultDlg*>(window_->Frame()->SearchResultPane()); }

  void Open(const std::string& image) {
    window_.reset();
    window_ = std::make_unique<apptest::Window>(QStringList{QString::fromStdString(image)});
    Frame()->show();
    // The Search command shows the "Search" tab.
    Frame()->Action(CMainFrame::Command::kSearch)->trigger();
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    EntryListModel* m = Results()->List()->Model();
    for (int i = 0; i < m->rowCount(); ++i) out.push_back(m->EntryAt(i)->name);
    return out;
  }

  void SetPattern(const QString& text) {
    QLineEdit* e = Pane()->PatternEdit();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
  }

  void SetBox(QCheckBox* box, bool on) {
    if (box->isChecked() != on) QTest::mouseClick(box, Qt::LeftButton);
  }

  // Clicks Search and waits for the button to come back.
  std::vector<std::string> Search(const QString& pattern) {
    SetPattern(pattern);
    QTest::mouseClick(Pane()->SearchButton(), Qt::LeftButton);
    relictor::test::panes::WaitFor([this] { return !Pane()->Searching(); });
    return Rows();
  }

  std::vector<std::string> Reference(const QString& pattern) {
    SearchCriteria c = Pane()->Criteria();
    c.pattern = pattern.isEmpty() ? "*" : pattern.toStdString();
    std::vector<std::string> out;
    auto* root = window_->Frame()->Document()->GetDrives().front()->GetRoot();
    Expected(*root, c, out);
    return out;
  }

 private slots:
  void initTestCase() {
    InstallPaneHooks(DefaultFrameHooks());
    small_ = apptest::Scratch() / "search.img";
    QVERIFY(MakeNtfs(small_, "16M",
                     "mkdirs /docs/deep\n"
                     "text /a aaaaaaaaaa\n"
                     "fill /a.txt 1024 1\nfill /xyz 1025 2\nfill /xz 1023 3\nfill /abc.dat 500 4\n"
                     "fill /docs/a1.jpg 2000 5\nfill /docs/deep/x1z.jpg 3000 6\nfill /gone.jpg 700 8\n"
                     "touch /xyz 1600000000\ndelete /gone.jpg\n"));
    big_ = apptest::Scratch() / "big.img";
    std::string script;
    for (int d = 1; d <= 4; ++d) script += "mkdirs /d" + std::to_string(d) + "/inner\nmkfiles /d" + std::to_string(d) + " 1500 f 0\n";
    script += "mkfiles /d1/inner 1000 g 0\n";
    QVERIFY(MakeNtfs(big_, "64M", script));
    Open(small_);
  }

  void cleanupTestCase() { window_.reset(); }

  void controlsStartAsTheyShould() {
    CSearchDlg* p = Pane();
    QVERIFY(p->isVisible());
    QTRY_VERIFY(p->PatternEdit()->hasFocus() || QApplication::focusWidget() == p->PatternEdit() ||
                !Frame()->isActiveWindow());
    QCOMPARE(p->SearchButton()->text(), QString("Search"));
    QCOMPARE(p->LookIn()->currentIndex(), 0);
    QCOMPARE(p->LookIn()->count(), 1);
    QVERIFY(!p->SizeLowEdit()->isEnabled() && !p->SizeHighEdit()->isEnabled());
    QVERIFY(!p->DateKindBox()->isEnabled() && !p->DateFromEdit()->isEnabled() && !p->DateToEdit()->isEnabled());
    QCOMPARE(p->DateKindBox()->itemText(0), QString("Create Date"));
    QCOMPARE(p->DateKindBox()->itemText(1), QString("Modify Date"));
    QVERIFY(!Frame()->BottomBar()->isVisible());
    SetBox(p->SizeBox(), true);
    QVERIFY(p->SizeLowEdit()->isEnabled() && p->SizeHighEdit()->isEnabled());
    SetBox(p->SizeBox(), false);
    QVERIFY(!p->SizeLowEdit()->isEnabled());
    SetBox(p->DateBox(), true);
    QVERIFY(p->DateKindBox()->isEnabled() && p->DateToEdit()->isEnabled());
    SetBox(p->DateBox(), false);

    // The resize rule.
    p->resize(300, 400);
    const QRect list = p->LookIn()->geometry();
    const QRect button = p->SearchButton()->geometry();
    const QRect pattern = p->PatternEdit()->geometry();
    QCOMPARE(list.topLeft(), QPoint(0, 20));
    QCOMPARE(list.width(), 300);
    QCOMPARE(button.right() + 1, 300);
    QCOMPARE(button.top(), list.bottom() + 1 + 25);
    QCOMPARE(pattern.topLeft(), QPoint(0, button.top()));
    QCOMPARE(pattern.height(), button.height());
    QCOMPARE(pattern.right() + 1, button.left() - 6);
  }

  void patterns() {
    // "*" lists every child of the root but the lost-files folder, in
    // child order; the result dock shows and the count goes to the status
    // bar.
    std::vector<std::string> all = Search("");
    QCOMPARE(all, (std::vector<std::string>{"DeletedFiles", "docs", "a", "a.txt", "xyz", "xz", "abc.dat", "gone.jpg"}));
    QVERIFY(Frame()->BottomBar()->isVisible());
    QCOMPARE(Frame()->StatusText(), QString("Finded 8 Object(s)"));
    QCOMPARE(Search("*"), all);
    QCOMPARE(Search("*.*"), (std::vector<std::string>{"a.txt", "abc.dat", "gone.jpg"}));
    QCOMPARE(Search("a*"), (std::vector<std::string>{"a", "a.txt", "abc.dat"}));
    QCOMPARE(Search("a**"), (std::vector<std::string>{"a.txt", "abc.dat"}));
    QCOMPARE(Search("x?z"), (std::vector<std::string>{"xyz"}));
    QCOMPARE(Search("*XYZ"), (std::vector<std::string>{"xyz"}));
    SetBox(Pane()->MatchCaseBox(), true);
    QCOMPARE(Search("*XYZ"), std::vector<std::string>{});
    QCOMPARE(Frame()->StatusText(), QString("Finded 0 Object(s)"));
    SetBox(Pane()->MatchCaseBox(), false);
    // The deleted file's row carries the deleted mark.
    Search("gone.jpg");
    QCOMPARE(Rows().size(), std::size_t{1});
    QVERIFY(Results()->List()->Model()->index(0, 0).data(EntryListModel::DeletedRole).toBool());
    QCOMPARE(Results()->List()->Model()->index(0, 1).data().toString(), QString("C:\\"));
  }

  void recursion() {
    SetBox(Pane()->RecurseBox(), false);
    QCOMPARE(Search("*.jpg"), (std::vector<std::string>{"gone.jpg"}));
    SetBox(Pane()->RecurseBox(), true);
    std::vector<std::string> deep = Search("*.jpg");
    QCOMPARE(deep, Reference("*.jpg"));
    QCOMPARE(std::set<std::string>(deep.begin(), deep.end()), (std::set<std::string>{"gone.jpg", "a1.jpg", "x1z.jpg"}));
    // A folder is listed when its name matches, and searched into either way.
    std::vector<std::string> x = Search("x*");
    QCOMPARE(x, Reference("x*"));
    QVERIFY(std::find(x.begin(), x.end(), "x1z.jpg") != x.end());
    QCOMPARE(Search("d*"), (std::vector<std::string>{"DeletedFiles", "docs", "deep"}));
    // The lost-files folder is never listed nor searched into.
    QCOMPARE(Search("LostFiles"), std::vector<std::string>{});
    SetBox(Pane()->RecurseBox(), false);
  }

  void lookInFollowsTheTree() {
    QTreeWidgetItem* docs = apptest::FindNode(Frame(), {"C:"});
    QVERIFY(docs);
    apptest::ExpandNode(Frame(), docs);
    QTreeWidgetItem* sub = apptest::FindNode(Frame(), {"C:", "docs"});
    QVERIFY(sub);
    apptest::ClickNode(Frame(), sub);
    QCOMPARE(Pane()->LookIn()->count(), 2);
    QCOMPARE(Pane()->LookIn()->currentText(), QString("docs"));
    QCOMPARE(Search("*"), (std::vector<std::string>{"deep", "a1.jpg"}));
    apptest::ClickNode(Frame(), Frame()->NavigationPane()->RootItem());
    QCOMPARE(Pane()->LookIn()->count(), 1);
    QCOMPARE(Pane()->LookIn()->currentIndex(), 0);
  }

  void recoverFromTheResults() {
    SetBox(Pane()->RecurseBox(), true);
    QCOMPARE(Search("x1z.jpg"), (std::vector<std::string>{"x1z.jpg"}));
    SetBox(Pane()->RecurseBox(), false);
    CEntryListCtrl* list = Results()->List();
    list->SelectAll();
    // The context menu makes the result list the active one; choose Recover.
    Frame()->SetActiveList(Frame()->View()->List());
    QTimer::singleShot(50, [] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) menu->close();
    });
    list->ShowContextMenu(QPoint(-1, -1));
    QCOMPARE(Frame()->ActiveList(), list);
    const std::string out = apptest::Scratch() / "saved";
    QVERIFY(apptest::Shell("rm -rf " + Quote(out) + " && mkdir -p " + Quote(out)));
    relictor::test::panes::WhenModal([&](QWidget* w) {
      auto* dlg = qobject_cast<CRecoveryDlg*>(w);
      if (!dlg) {
        w->close();
        return;
      }
      dlg->Combo()->setEditText(QString::fromStdString(out));
      dlg->accept();
    });
    Frame()->UpdateCommandUI();
    QVERIFY(Frame()->Action(CMainFrame::Command::kRecover)->isEnabled());
    auto summed = apptest::WhenDialogShows("SavingSummary", [](QDialog* d) { d->accept(); });
    Frame()->Action(CMainFrame::Command::kRecover)->trigger();
    QVERIFY(relictor::test::panes::WaitFor([&] { return std::filesystem::exists(out + "/x1z.jpg"); }, 30000));
    relictor::test::panes::WaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 30000);
    QVERIFY(*summed);
    auto bytes = relictor::test::ReadFile(out + "/x1z.jpg");
    QCOMPARE(bytes.size(), std::size_t{3000});
    relictor::test::CommandResult gen = relictor::test::Run(Quote(Fixture()) + " --gen 3000 6 > " + Quote(out + "/ref"));
    QCOMPARE(gen.exitCode, 0);
    QCOMPARE(bytes, relictor::test::ReadFile(out + "/ref"));
    Frame()->SetActiveList(Frame()->View()->List());
  }

  void cancelKeepsTheRows() {
    Open(big_);
    SetBox(Pane()->RecurseBox(), true);
    SetPattern("*");
    QTest::mouseClick(Pane()->SearchButton(), Qt::LeftButton);
    QCOMPARE(Pane()->SearchButton()->text(), QString("Cancel"));
    QVERIFY(relictor::test::panes::WaitFor([this] { return Rows().size() > 200 || !Pane()->Searching(); }));
    QVERIFY(Pane()->Searching());
    QTest::mouseClick(Pane()->SearchButton(), Qt::LeftButton);
    QCOMPARE(Pane()->SearchButton()->text(), QString("Search"));
    QVERIFY(!Pane()->Searching());
    QVERIFY(!search_gate::IsSearching());
    const std::size_t kept = Rows().size();
    QVERIFY(kept > 200);
    QVERIFY(kept < 7000);
    QTest::qWait(100);
    QCOMPARE(Rows().size(), kept);  // nothing arrives after Cancel
    QVERIFY(!Frame()->StatusText().startsWith("Finded"));
    // The rows are the walk's first ones, in its order.
    std::vector<std::string> reference = Reference("*");
    std::vector<std::string> rows = Rows();
    QVERIFY(std::equal(rows.begin(), rows.end(), reference.begin()));
  }

  void searchWhileTheUserOpensFolders() {
    SetPattern("f*");
    SetBox(Pane()->RecurseBox(), true);
    QTest::mouseClick(Pane()->SearchButton(), Qt::LeftButton);
    QVERIFY(Pane()->Searching());
    // The user opens folders of the same volume meanwhile.
    QTreeWidgetItem* drive = apptest::FindNode(Frame(), {"C:"});
    QVERIFY(drive);
    apptest::ExpandNode(Frame(), drive);
    bool overlapped = Pane()->Searching();
    for (const char* name : {"d4", "d2", "d1", "d3"}) {
      QTreeWidgetItem* node = apptest::FindNode(Frame(), {"C:", name});
      QVERIFY2(node, name);
      apptest::ClickNode(Frame(), node);
      apptest::ExpandNode(Frame(), node);
      QVERIFY(apptest::FindNode(Frame(), {"C:", name, "inner"}));
      QVERIFY(Frame()->View()->List()->Count() >= 1500);
    }
    QTreeWidgetItem* inner = apptest::FindNode(Frame(), {"C:", "d1", "inner"});
    apptest::ClickNode(Frame(), inner);
    QCOMPARE(Frame()->View()->List()->Count(), 1000);
    QVERIFY(relictor::test::panes::WaitFor([this] { return !Pane()->Searching(); }, 300000));
    QVERIFY2(overlapped, "the search ended before the folders were opened");
    const std::vector<std::string> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{6000});
    QCOMPARE(rows, Reference("f*"));
    QCOMPARE(Frame()->StatusText(), QString("Finded 6000 Object(s)"));
  }

  void aFolderThatHoldsItself() {
    // A FAT32 volume whose folder /LOOP names the root cluster as its own:
    // the folder then holds itself, without end.
    const std::string loop = apptest::Scratch() / "loop.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(loop) + " && truncate -s 40M " + Quote(loop) + " && mkfs.fat -F 32 -s 1 " +
                           Quote(loop) + " >/dev/null && MTOOLS_SKIP_CHECK=1 mmd -i " + Quote(loop) + " ::/LOOP"));
    // Find the LOOP entry in the root cluster and point it at cluster 2.
    auto bytes = relictor::test::ReadFile(loop);
    const std::uint32_t reserved = bytes[14] | (bytes[15] << 8);
    const std::uint32_t fatSize = bytes[36] | (bytes[37] << 8) | (bytes[38] << 16) | (static_cast<std::uint32_t>(bytes[39]) << 24);
    const std::size_t rootAt = (reserved + 2 * fatSize) * 512;
    bool patched = false;
    for (std::size_t at = rootAt; at < rootAt + 512; at += 32) {
      if (std::memcmp(&bytes[at], "LOOP       ", 11) == 0) {
        bytes[at + 20] = 0;
        bytes[at + 21] = 0;
        bytes[at + 26] = 2;
        bytes[at + 27] = 0;
        patched = true;
      }
    }
    QVERIFY(patched);
    relictor::test::WriteFile(loop, bytes);
    Open(loop);
    SetBox(Pane()->RecurseBox(), true);
    SetPattern("*");
    QTest::mouseClick(Pane()->SearchButton(), Qt::LeftButton);
    QVERIFY(relictor::test::panes::WaitFor([this] { return !Pane()->Searching(); }, 120000));
    QVERIFY(Frame()->StatusText().startsWith("Finded"));
    QVERIFY(Rows().size() <= kMaxSearchDepth + 2);
  }
  void sizeBoundsInKibAndDateBoundsInWholeDays() {
    // A FAT volume made by mtools, its files' sizes around 2 and 5 KiB and
    // their times around one day.
    const std::string dir = apptest::Scratch().Path().string() + "/bounds";
    const std::string image = apptest::Scratch().Path().string() + "/bounds.img";
    const std::vector<std::tuple<std::string, std::size_t, std::string>> files{
        {"EMPTY.BIN", 0, "2020-10-20 12:00:00"},     {"UNDER2.BIN", 2047, "2020-10-26 23:59:58"},
        {"AT2.BIN", 2048, "2020-10-27 00:00:00"},    {"MORNING.JPG", 3000, "2020-10-27 04:01:00"},
        {"AT5.BIN", 5120, "2020-10-27 23:59:58"},    {"OVER5.BIN", 5121, "2020-10-28 00:00:00"}};
    QVERIFY(apptest::Shell("rm -rf " + Quote(dir) + " && mkdir -p " + Quote(dir) + " && rm -f " + Quote(image) +
                           " && truncate -s 4M " + Quote(image) + " && mkfs.fat -F 12 -s 4 -n BOUNDS " +
                           Quote(image) + " >/dev/null"));
    // The FAT reader lists deleted files, which keep their size and times
    // and lose their first letter. All are copied before any is deleted,
    // so that none takes another's entry.
    std::string names;
    for (const auto& [name, size, time] : files) {
      const std::string host = dir + "/" + name;
      relictor::test::WriteFile(host, relictor::test::RandomBytes(size, size + 1));
      QVERIFY(apptest::Shell("touch -d " + Quote(time) + " " + Quote(host) + " && MTOOLS_SKIP_CHECK=1 mcopy -m -i " +
                             Quote(image) + " " + Quote(host) + " ::/" + name));
      names += " ::/" + name;
    }
    QVERIFY(apptest::Shell("MTOOLS_SKIP_CHECK=1 mdel -i " + Quote(image) + names));
    Open(image);
    auto searchWithSize = [this](const QString& low, const QString& high) {
      Pane()->SizeLowEdit()->setText(low);
      Pane()->SizeHighEdit()->setText(high);
      std::vector<std::string> rows = Search("*.*");
      std::sort(rows.begin(), rows.end());
      return rows;
    };
    SetBox(Pane()->SizeBox(), true);
    using Names = std::vector<std::string>;
    // The numbers are KiB and the bounds belong to the range.
    QCOMPARE(searchWithSize("2", "5"), (Names{"_ORNING.JPG", "_T2.BIN", "_T5.BIN"}));
    QCOMPARE(searchWithSize("0", "0"), (Names{"_MPTY.BIN"}));
    QCOMPARE(searchWithSize("3", "4"), Names{});
    QCOMPARE(searchWithSize("0", "4294967295").size(), files.size());
    QTest::keyClicks(Pane()->SizeHighEdit(), "x");  // digits only
    QCOMPARE(Pane()->SizeHighEdit()->text(), QString("4294967295"));
    SetBox(Pane()->SizeBox(), false);

    // From and To on the same day find that whole day's files, whatever
    // the time of day the pickers were made at.
    SetBox(Pane()->DateBox(), true);
    Pane()->DateKindBox()->setCurrentIndex(Pane()->DateKindBox()->findText("Modify Date"));
    Pane()->DateFromEdit()->setDate(QDate(2020, 10, 27));
    Pane()->DateToEdit()->setDate(QDate(2020, 10, 27));
    std::vector<std::string> day = Search("*.*");
    std::sort(day.begin(), day.end());
    QCOMPARE(day, (Names{"_ORNING.JPG", "_T2.BIN", "_T5.BIN"}));
    Pane()->DateToEdit()->setDate(QDate(2020, 10, 28));
    QCOMPARE(Search("*.*").size(), std::size_t{4});
    // A range that ends before it starts finds nothing.
    Pane()->DateFromEdit()->setDate(QDate(2020, 10, 28));
    Pane()->DateToEdit()->setDate(QDate(2020, 10, 27));
    QCOMPARE(Search("*.*"), Names{});
    SetBox(Pane()->DateBox(), false);
  }
};

RELICTOR_APP_TEST_MAIN(SearchPanesTest)
#include "test_search_panes.moc"
