// The file list as a user meets it: columns and their texts, icons and the
// deleted mark, every sort rule through header clicks, the four view
// modes, selection commands, double clicks, the context menu, and a folder
// of 100,000 entries.

#include <QAbstractButton>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTreeView>

#include "app/list_test_support.h"
#include "app/entry_list_ctrl.h"
#include "recovery/tree_doubles.h"

using namespace relictor;
using relictor::test::FakeFile;
using relictor::test::FakeFolder;

namespace {

// A file that counts how often the list asks for its texts.
class CountingFile final : public CFSFile {
 public:
  explicit CountingFile(std::string n, int* asked) : asked_(asked) { name = std::move(n); }
  bool SaveData(OutputFile&, ProgressSink*) override { return false; }
  std::string GetSizeText(bool withBytes) override {
    ++*asked_;
    return CFSFile::GetSizeText(withBytes);
  }

 private:
  int* asked_;
};

FakeFile* AddFile(FakeFolder& f, const std::string& name, std::uint64_t size, std::uint32_t status, EntryTime modified,
                  bool deleted = false, const std::string& type = {}) {
  FakeFile* file = f.File(name, {});
  file->size = size;
  file->status = status;
  file->modified = modified;
  file->deleted = deleted;
  file->typeText = type.empty() ? TypeTextFromName(name) : type;
  return file;
}

QStringList Column(CEntryListCtrl& list, int column) {
  QStringList out;
  for (int r = 0; r < list.Model()->rowCount(); ++r) out << list.Model()->index(r, column).data().toString();
  return out;
}

void ClickHeader(CEntryListCtrl& list, int column) {
  QHeaderView* h = list.DetailsView()->header();
  QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
}

// A double click as the mouse makes it: a click, then a second press that
// the system reports as a double click, then its release.
void DoubleClick(QWidget* w, QPoint at) {
  QTest::mouseClick(w, Qt::LeftButton, {}, at);
  QTest::mouseDClick(w, Qt::LeftButton, {}, at);
  QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

// Every text of a column fits its width, with the icon of FileName.
bool ShownWhole(CEntryListCtrl& list, int column) {
  QTreeView* v = list.DetailsView();
  const int width = v->header()->sectionSize(column);
  for (int r = 0; r < list.Model()->rowCount(); ++r) {
    const QString text = list.Model()->index(r, column).data().toString();
    const int icon = column == 0 ? 16 : 0;
    if (v->fontMetrics().horizontalAdvance(text) + icon > width) {
      qWarning("%s is wider than its column (%d)", qPrintable(text), width);
      return false;
    }
  }
  return true;
}

int SumOfColumns(CEntryListCtrl& list) {
  int sum = 0;
  for (int c = 0; c < list.Model()->columnCount(); ++c) sum += list.DetailsView()->header()->sectionSize(c);
  return sum;
}

// Drags the right edge of a header section by `dx` pixels, as a mouse does.
void DragSectionEdge(CEntryListCtrl& list, int column, int dx) {
  QHeaderView* h = list.DetailsView()->header();
  const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) - 1, h->height() / 2);
  QTest::mousePress(h->viewport(), Qt::LeftButton, {}, at);
  for (int step = 1; step <= 4; ++step) QTest::mouseMove(h->viewport(), at + QPoint(dx * step / 4, 0));
  QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, at + QPoint(dx, 0));
}

QPoint RowPoint(CEntryListCtrl& list, int row) {
  QAbstractItemView* v = list.CurrentView();
  return v->visualRect(list.Model()->index(row, 0)).center();
}

}  // namespace

class EntryListTest : public QObject {
  Q_OBJECT

  FakeFolder folder_{"root"};

 private slots:
  void initTestCase() {
    // Folders, files of several types and states, names that differ only
    // in case, a time before 1970 and a size beyond 4 GiB.
    folder_.Folder("Photos");
    folder_.Folder("archive");
    AddFile(folder_, "b.jpg", 10000, kStatusGood, 1600000000, true);
    AddFile(folder_, "A.txt", 100, kStatusExisting, 1500000000);
    AddFile(folder_, "c.doc", 5ull << 30, kStatusPoor, -86400, true);
    AddFile(folder_, "d.zip", 0, kStatusExcellent, 1700000000, true);
  }

  void columnsWidthsAndTexts() {
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    list.SetEntries(&folder_.children);
    auto* m = list.Model();
    QCOMPARE(m->columnCount(), 5);
    QStringList headers;
    for (int c = 0; c < 5; ++c) headers << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"FileName", "Size", "Type", "Modified Date", "Status"}));
    QVERIFY(m->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    QVERIFY(m->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);

    // Folders first, then files, by name without regard to case.
    QCOMPARE(Column(list, 0), (QStringList{"archive", "Photos", "A.txt", "b.jpg", "c.doc", "d.zip"}));
    relictor::test::MaybeShoot(&list, "list-details");
    QCOMPARE(Column(list, 1).mid(2), (QStringList{QString::fromStdString(FormatSizeText(100, false)),
                                                  QString::fromStdString(FormatSizeText(10000, false)),
                                                  QString::fromStdString(FormatSizeText(5ull << 30, false)),
                                                  QString::fromStdString(FormatSizeText(0, false))}));
    QCOMPARE(Column(list, 1).at(0), QString());  // folders have no size
    QCOMPARE(Column(list, 2).mid(2), (QStringList{"txt", "jpg", "doc", "zip"}));
    QVERIFY(!Column(list, 2).at(0).isEmpty());
    QCOMPARE(Column(list, 2).at(0), Column(list, 2).at(1));
    QCOMPARE(Column(list, 3).at(3), QString::fromStdString(FormatDateTime(1600000000)));
    QCOMPARE(Column(list, 4).mid(2), (QStringList{"Existing", "Good", "Poor", "Excellent"}));

    // The search result list has the Path column after FileName.
    CEntryListCtrl withPath(true);
    withPath.SetEntries(std::vector<CDirEntry*>{folder_.children[2].get()});
    QCOMPARE(withPath.Model()->columnCount(), 6);
    QCOMPARE(withPath.Model()->headerData(1, Qt::Horizontal).toString(), QString("Path"));
    QVERIFY(ShownWhole(withPath, 1));
    QCOMPARE(withPath.Model()->index(0, 1).data().toString(),
             QString::fromStdString(folder_.children[2]->GetLocation()));
    QCOMPARE(withPath.Model()->index(0, 5).data().toString(), QString("Good"));
  }

  // A folder of long names and dates: every column shows its texts whole,
  // FileName takes the room left over, and a width the user drags stays,
  // also for the next list made (the next start).
  void columnsFitTheirContentAndKeepTheUsersWidths() {
    FakeFolder photos("DCIM");
    for (int i = 0; i < 40; ++i)
      AddFile(photos, "IMG_20191224_1830" + std::to_string(10 + i) + "_HDR_Christmas_Eve_at_grandmother's.jpg",
              2617000 + i, kStatusExcellent, 1603771260 + i, true);
    CEntryListCtrl list;
    list.resize(1200, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&photos.children);
    for (int c = 0; c < list.Model()->columnCount(); ++c) QVERIFY2(ShownWhole(list, c), qPrintable(QString::number(c)));
    QCOMPARE(SumOfColumns(list), list.DetailsView()->viewport()->width());
    relictor::test::MaybeShoot(&list, "list-long-names");

    // A wider window gives FileName the new room.
    const int name = list.DetailsView()->header()->sectionSize(0);
    list.resize(1400, 400);
    QTest::qWait(20);
    QVERIFY(list.DetailsView()->header()->sectionSize(0) > name + 150);
    QCOMPARE(SumOfColumns(list), list.DetailsView()->viewport()->width());

    // Narrower than the texts: names stay whole and the list scrolls.
    list.resize(500, 400);
    QTest::qWait(20);
    QVERIFY(ShownWhole(list, 0));

    const int size = list.DetailsView()->header()->sectionSize(1);
    DragSectionEdge(list, 1, 60);
    QCOMPARE(list.DetailsView()->header()->sectionSize(1), size + 60);
    list.SetEntries(&folder_.children);
    QCOMPARE(list.DetailsView()->header()->sectionSize(1), size + 60);
    CEntryListCtrl next;
    next.resize(800, 400);
    next.show();
    next.SetEntries(&folder_.children);
    QCOMPARE(next.DetailsView()->header()->sectionSize(1), size + 60);
    // The search result list keeps its own widths.
    CEntryListCtrl results(true);
    results.SetEntries(std::vector<CDirEntry*>{photos.children[0].get()});
    QVERIFY(results.DetailsView()->header()->sectionSize(2) != size + 60);
    QSettings("Kalvor", "Kalvor Relictor").remove("ListColumns");
  }

  void namesThatAreNotTextAreShownSafely() {
    FakeFolder f("odd");  // declared before the list, so it outlives it
    f.File(std::string("bad\xff\xfename"), {});
    f.File(std::string("tab\tand\x01" "bell"), {});
    CEntryListCtrl list;
    list.SetEntries(&f.children);
    for (const QString& name : Column(list, 0)) {
      for (QChar c : name) QVERIFY2(c.unicode() >= 0x20, qPrintable(name));
      QVERIFY(name.contains(QChar(QChar::ReplacementCharacter)));
    }
  }

  void iconsByTypeWithTheDeletedMark() {
    FakeFolder f("x");
    CEntryListCtrl list;
    list.SetEntries(&folder_.children);
    auto* m = list.Model();
    QCOMPARE(m->index(0, 0).data(EntryListModel::IconKeyRole).toString(), QString("inode/directory"));
    QCOMPARE(m->index(3, 0).data(EntryListModel::IconKeyRole).toString(), QString("image/jpeg"));
    QCOMPARE(m->index(2, 0).data(EntryListModel::IconKeyRole).toString(), QString("text/plain"));
    QVERIFY(m->index(5, 0).data(EntryListModel::IconKeyRole).toString() != "text/plain");
    for (int r = 0; r < m->rowCount(); ++r) {
      QVERIFY(!m->index(r, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
      QVERIFY(!m->index(r, 1).data(Qt::DecorationRole).isValid());  // icons only by the name
    }
    // The deleted mark: a red disc in the lower left corner of the icon
    // of a deleted file, and nothing of it on an existing one.
    auto redAt = [](const QIcon& icon) {
      QImage img = icon.pixmap(32, 32).toImage();
      QColor c = img.pixelColor(3, img.height() - 8);
      return c.red() > 180 && c.green() < 80 && c.blue() < 80;
    };
    const QIcon deletedJpeg = m->index(3, 0).data(Qt::DecorationRole).value<QIcon>();
    const QIcon existingText = m->index(2, 0).data(Qt::DecorationRole).value<QIcon>();
    QVERIFY(m->index(3, 0).data(EntryListModel::DeletedRole).toBool());
    QVERIFY(redAt(deletedJpeg));
    QVERIFY(!redAt(existingText));
    QVERIFY(!redAt(m->Icons().IconForType("image/jpeg", false)));
    QVERIFY(redAt(m->Icons().IconForType("text/plain", true)));
    // A name that exists nowhere still gets the icon of its kind.
    AddFile(f, "holiday.png", 1, kStatusGood, 0, true);
    list.SetEntries(&f.children);
    QCOMPARE(m->index(0, 0).data(EntryListModel::IconKeyRole).toString(), QString("image/png"));
  }

  void everySortRuleThroughTheHeader() {
    FakeFolder other("other");  // outlives the list that shows it
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&folder_.children);
    QHeaderView* h = list.DetailsView()->header();
    QVERIFY(h->isSortIndicatorShown());
    QCOMPARE(h->sortIndicatorSection(), 0);
    QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);

    // The same column again: descending, files before folders.
    QSignalSpy clicks(h, &QHeaderView::sectionClicked);
    ClickHeader(list, 0);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(list.SortDirection(), Qt::DescendingOrder);
    QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(Column(list, 0), (QStringList{"d.zip", "c.doc", "b.jpg", "A.txt", "Photos", "archive"}));

    // Another column always starts ascending: sizes as 64-bit numbers.
    ClickHeader(list, 1);
    QCOMPARE(list.SortColumn(), 1);
    QCOMPARE(h->sortIndicatorSection(), 1);
    QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(Column(list, 0).mid(2), (QStringList{"d.zip", "A.txt", "b.jpg", "c.doc"}));
    ClickHeader(list, 1);
    QCOMPARE(Column(list, 0).mid(0, 4), (QStringList{"c.doc", "b.jpg", "A.txt", "d.zip"}));

    // Type, by its text without regard to case.
    ClickHeader(list, 2);
    QCOMPARE(Column(list, 0).mid(2), (QStringList{"c.doc", "b.jpg", "A.txt", "d.zip"}));

    // Modified: signed seconds, so a time before 1970 comes first.
    ClickHeader(list, 3);
    QCOMPARE(Column(list, 0).mid(2), (QStringList{"c.doc", "A.txt", "b.jpg", "d.zip"}));

    // Status ascending puts "Poor" first; descending "Existing".
    ClickHeader(list, 4);
    QCOMPARE(Column(list, 4).mid(2), (QStringList{"Poor", "Good", "Excellent", "Existing"}));
    QCOMPARE(list.Model()->EntryAt(0)->IsFolder(), true);
    ClickHeader(list, 4);
    QCOMPARE(Column(list, 4).mid(0, 4), (QStringList{"Existing", "Excellent", "Good", "Poor"}));
    QCOMPARE(list.Model()->EntryAt(5)->IsFolder(), true);

    // Another folder keeps the user's sort: column and direction.
    ClickHeader(list, 1);
    other.File("x", {1, 2, 3});
    other.File("y", {1});
    other.Folder("sub");
    list.SetEntries(&other.children);
    QCOMPARE(list.SortColumn(), 1);
    QCOMPARE(h->sortIndicatorSection(), 1);
    QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(Column(list, 0), (QStringList{"sub", "y", "x"}));
  }

  // Before a folder is read again (the lost files scanned anew) its
  // entries go from the search results, at any depth below it; finds
  // elsewhere stay, selected or not.
  void searchResultsLetGoOfAFolderAboutToBeRead() {
    FakeFolder root("root");
    FakeFolder* lost = root.Folder("LostFiles");
    FakeFolder* inner = lost->Folder("Dir1");
    FakeFile* shallow = lost->File("File1.txt", {});
    FakeFile* deep = inner->File("File2.txt", {});
    FakeFile* elsewhere = root.File("kept.txt", {});
    CEntryListCtrl results(true);
    results.resize(800, 400);
    results.show();
    QVERIFY(QTest::qWaitForWindowExposed(&results));
    results.SetEntries(std::vector<CDirEntry*>{deep, elsewhere, shallow, inner});
    results.SelectAll();
    QVERIFY(!results.Model()->RemoveEntriesUnder(inner->Folder("Empty")));
    QCOMPARE(results.Count(), 4);
    QVERIFY(results.Model()->RemoveEntriesUnder(lost));
    QCOMPARE(results.Model()->Entries(), std::vector<CDirEntry*>{elsewhere});
    QCOMPARE(results.SelectedEntries(), std::vector<CDirEntry*>{});
    QVERIFY(!results.Model()->RemoveEntriesUnder(nullptr));
    QCOMPARE(results.Count(), 1);
  }

  void selectionFollowsItsEntriesThroughASort() {
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&folder_.children);
    QTest::mouseClick(list.DetailsView()->viewport(), Qt::LeftButton, {}, RowPoint(list, 3));
    QCOMPARE(list.SelectedEntries(), std::vector<CDirEntry*>{list.Model()->EntryAt(3)});
    CDirEntry* chosen = list.Model()->EntryAt(3);
    ClickHeader(list, 0);
    QCOMPARE(list.SelectedEntries(), std::vector<CDirEntry*>{chosen});
  }

  void selectAllInvertAndTheCounts() {
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy counts(&list, &CEntryListCtrl::SelectionCountChanged);
    list.SetEntries(&folder_.children);
    QCOMPARE(list.ObjectCountText(), QString("6 Object(s)"));
    QWidget* vp = list.DetailsView()->viewport();
    QTest::mouseClick(vp, Qt::LeftButton, {}, RowPoint(list, 1));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, RowPoint(list, 4));
    QCOMPARE(counts.last().at(1).toString(), QString("2 Files Selected"));
    QCOMPARE(list.SelectionCountText(), QString("2 Files Selected"));
    auto* m = list.Model();
    QCOMPARE(list.SelectedEntries(), (std::vector<CDirEntry*>{m->EntryAt(1), m->EntryAt(4)}));

    // Invert Selection from the context menu of the list, opened on a
    // selected row (which keeps the selection).
    QSignalSpy opened(&list, &CEntryListCtrl::ContextMenuRequested);
    QTest::mouseClick(vp, Qt::RightButton, {}, RowPoint(list, 4));
    QContextMenuEvent e(QContextMenuEvent::Mouse, RowPoint(list, 4), vp->mapToGlobal(RowPoint(list, 4)));
    QCoreApplication::sendEvent(vp, &e);
    QCOMPARE(opened.count(), 1);
    QMenu* menu = list.ContextMenu();
    QVERIFY(menu->isVisible());
    QStringList items;
    for (QAction* a : menu->actions()) items << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(items, (QStringList{"Recover...", "View With Hex...", "-", "Select &All", "In&vert Selection", "-",
                                 "Properties..."}));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(list.InvertSelectionAction()).center());
    QCOMPARE(list.SelectedEntries(),
             (std::vector<CDirEntry*>{m->EntryAt(0), m->EntryAt(2), m->EntryAt(3), m->EntryAt(5)}));
    QCOMPARE(counts.last().at(0).toInt(), 4);
    QVERIFY(list.DetailsView()->hasFocus());

    // Select All, in another view mode: the selection is shared.
    list.SetViewMode(CEntryListCtrl::kList);
    list.SelectAll();
    QCOMPARE(list.SelectedCount(), 6);
    list.SetViewMode(CEntryListCtrl::kDetails);
    QCOMPARE(list.DetailsView()->selectionModel()->selectedRows().size(), 6);
    list.InvertSelection();
    QCOMPARE(list.SelectedCount(), 0);
    QCOMPARE(list.SelectionCountText(), QString("0 Files Selected"));

    // From the keyboard the menu opens near the top-left corner.
    list.DetailsView()->setFocus();
    QContextMenuEvent k(QContextMenuEvent::Keyboard, QPoint(0, 0), list.DetailsView()->mapToGlobal(QPoint(0, 0)));
    QCoreApplication::sendEvent(list.DetailsView(), &k);
    QCOMPARE(opened.count(), 2);
    QCOMPARE(menu->pos(), list.mapToGlobal(QPoint(5, 5)));
    menu->hide();
  }

  void doubleClickOpensFoldersOnly() {
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&folder_.children);
    QSignalSpy opened(&list, &CEntryListCtrl::FolderActivated);
    QWidget* vp = list.DetailsView()->viewport();
    DoubleClick(vp, RowPoint(list, 3));
    QCOMPARE(opened.count(), 0);
    DoubleClick(vp, RowPoint(list, 1));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).value<CDirectory*>(), static_cast<CDirectory*>(list.Model()->EntryAt(1)));
    // The same in the icon view.
    list.SetViewMode(CEntryListCtrl::kLargeIcons);
    QTest::qWait(50);
    DoubleClick(list.IconView()->viewport(), RowPoint(list, 0));
    QCOMPARE(opened.count(), 2);
  }

  void fourViewModes() {
    CEntryListCtrl list;
    list.resize(800, 400);
    list.show();
    list.SetEntries(&folder_.children);
    QCOMPARE(list.GetViewMode(), CEntryListCtrl::kDetails);
    QCOMPARE(list.CurrentView(), static_cast<QAbstractItemView*>(list.DetailsView()));
    QVERIFY(list.DetailsView()->isVisible());

    list.SetViewMode(CEntryListCtrl::kLargeIcons);
    QListView* v = list.IconView();
    QCOMPARE(list.CurrentView(), static_cast<QAbstractItemView*>(v));
    QVERIFY(v->isVisible() && !list.DetailsView()->isVisible());
    QCOMPARE(v->viewMode(), QListView::IconMode);
    QVERIFY(v->iconSize().width() >= 32);
    QTest::qWait(50);
    relictor::test::MaybeShoot(&list, "list-large-icons");
    // Icons are laid out in rows.
    QVERIFY(v->visualRect(list.Model()->index(0, 0)).top() == v->visualRect(list.Model()->index(1, 0)).top());

    list.SetViewMode(CEntryListCtrl::kSmallIcons);
    QCOMPARE(v->viewMode(), QListView::ListMode);
    QCOMPARE(v->flow(), QListView::LeftToRight);
    QCOMPARE(v->iconSize(), QSize(16, 16));

    list.SetViewMode(CEntryListCtrl::kList);
    QCOMPARE(v->flow(), QListView::TopToBottom);
    QTest::qWait(50);
    // The list fills columns from the top.
    QVERIFY(v->visualRect(list.Model()->index(0, 0)).left() == v->visualRect(list.Model()->index(1, 0)).left());
    QVERIFY(v->visualRect(list.Model()->index(0, 0)).top() < v->visualRect(list.Model()->index(1, 0)).top());

    list.SetViewMode(CEntryListCtrl::kDetails);
    QVERIFY(list.DetailsView()->isVisible() && !v->isVisible());
  }

  void aHundredThousandEntriesAreAskedForOnlyWhenShown() {
    FakeFolder big("big");
    int asked = 0;
    constexpr int kCount = 100000;
    for (int i = 0; i < kCount; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%06d.dat", kCount - i);
      big.Append(std::make_unique<CountingFile>(name, &asked));
    }
    big.Folder("zz folder");
    CEntryListCtrl list;
    list.resize(800, 600);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&big.children);
    QCOMPARE(list.Count(), kCount + 1);
    QCOMPARE(list.ObjectCountText(), QString("100001 Object(s)"));
    list.grab();  // paints the visible rows
    QVERIFY(asked > 0);
    QVERIFY2(asked < 500, qPrintable(QString::number(asked)));
    QCOMPARE(Column(list, 0).mid(0, 3), (QStringList{"zz folder", "f000001.dat", "f000002.dat"}));
    // Selecting everything and inverting it does not need the rows either.
    asked = 0;
    list.SelectAll();
    QCOMPARE(list.SelectedCount(), kCount + 1);
    list.InvertSelection();
    QCOMPARE(list.SelectedCount(), 0);
    ClickHeader(list, 0);
    QCOMPARE(list.Model()->index(0, 0).data().toString(), QString("f100000.dat"));
    QCOMPARE(list.Model()->index(kCount, 0).data().toString(), QString("zz folder"));
    QVERIFY(asked < 500);
    list.SetViewMode(CEntryListCtrl::kList);
    list.grab();
    list.SetEntries(nullptr);
    QCOMPARE(list.Count(), 0);
  }
};

RELICTOR_WINDOW_TEST_MAIN(EntryListTest)
#include "test_entry_list.moc"
