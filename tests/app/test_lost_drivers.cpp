// Find Lost Drivers in the window: a whole-disk image whose partition
// table is gone, holding a FAT and an NTFS volume, walked through the
// disk, range and progress dialogs; the volumes found are browsed in the
// tree, get a "Look in:" line, and are searched; a walk over random bytes
// ends quietly.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/cluster_range_dlg.h"
#include "app/entry_list_ctrl.h"
#include "app/lost_drivers_dlg.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/relictor_app.h"
#include "app/search_panes.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "panes_support.h"

using namespace relictor;
using relictor::test::Quote;

class LostDriversTest : public QObject {
  Q_OBJECT

 private:
  std::string disk_;

  // Walks the disk `image` through the three dialogs, choosing the disk
  // whose source is `image`. Returns the number of volumes added; what a
  // message box said at the end goes to `said`.
  int Walk(CMainFrame* frame, const std::string& image, QString* said = nullptr) {
    bool chose = false, ranged = false;
    relictor::test::panes::WhenModal([&](QWidget* w) {
      auto* dlg = qobject_cast<CFindLostDriversDlg*>(w);
      QVERIFY(dlg);
      QCOMPARE(dlg->windowTitle(), QString("Find Lost Drivers"));
      QComboBox* box = dlg->DiskBox();
      QVERIFY(box->count() >= 1);
      QCOMPARE(box->currentIndex(), 0);
      for (int i = 0; i < box->count(); ++i) {
        box->setCurrentIndex(i);
        if (dlg->Selected() && dlg->Selected()->GetSourcePath() == image) break;
      }
      QCOMPARE(dlg->Selected()->GetSourcePath(), image);
      chose = true;
      relictor::test::panes::WhenModal([&](QWidget* r) {
        auto* range = qobject_cast<CClusterRangeDlg*>(r);
        QVERIFY(range);
        QCOMPARE(range->Start(), std::uint64_t{0});
        ranged = true;
        range->accept();
      });
      QTest::mouseClick(dlg->findChild<QPushButton*>("ok"), Qt::LeftButton);
    });
    const int before = static_cast<int>(frame->Document()->GetDrives().size());
    const QString text = apptest::RunAndCloseMessageBox([frame] { frame->Action(CMainFrame::Command::kFindLostDrivers)->trigger(); });
    if (said) *said = text;
    relictor::test::panes::WaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 60000);
    if (!chose || !ranged) return -1;
    return static_cast<int>(frame->Document()->GetDrives().size()) - before;
  }

 private slots:
  void initTestCase() {
    InstallPaneHooks(DefaultFrameHooks());
    const std::string dir = apptest::Scratch().Path().string();
    disk_ = dir + "/disk.img";
    const std::string d = Quote(disk_);
    // FAT16 at sector 2048 with a folder and a deleted photo, NTFS at
    // sector 40960 with a file; then the partition table is wiped.
    QVERIFY(apptest::Shell("rm -f " + d + " && truncate -s 64M " + d +
                           " && printf 'label: dos\\nstart=2048, size=32768, type=6\\nstart=40960, size=32768, type=7\\n'"
                           " | sfdisk -q " + d));
    QVERIFY(apptest::Shell("mkfs.fat -F 16 --offset 2048 " + d + " 16384 >/dev/null"));
    relictor::test::WriteFile(dir + "/photo.jpg", relictor::test::RandomBytes(30000, 4));
    relictor::test::WriteFile(dir + "/keep.txt", std::string("kept\n"));
    QVERIFY(apptest::Shell("export MTOOLS_SKIP_CHECK=1; mmd -i " + d + "@@1M ::/PHOTOS && mcopy -i " + d + "@@1M " +
                           Quote(dir + "/photo.jpg") + " ::/PHOTOS/PHOTO.JPG && mcopy -i " + d + "@@1M " +
                           Quote(dir + "/keep.txt") + " ::/PHOTOS/KEEP.TXT && mdel -i " + d +
                           "@@1M ::/PHOTOS/PHOTO.JPG"));
    const std::string n = Quote(dir + "/n.img");
    relictor::test::WriteFile(dir + "/n.script", std::string("mkdirs /music\nfill /music/song.mp3 5000 9\n"));
    QVERIFY(apptest::Shell("rm -f " + n + " && truncate -s 16M " + n + " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L LOSTN " +
                           n + " >/dev/null 2>&1 && SOURCE_DATE_EPOCH=1700000000 " + Quote(relictor::test::NtfsFixturePath()) +
                           " " + n + " " + Quote(dir + "/n.script") + " && dd if=" + n + " of=" + d +
                           " bs=512 seek=40960 conv=notrunc status=none"));
    QVERIFY(apptest::Shell("dd if=/dev/zero of=" + d + " bs=1 seek=446 count=64 conv=notrunc status=none"));
  }

  void findsBothVolumesAndBrowsesThem() {
    apptest::Window window({QString::fromStdString(disk_)});
    CMainFrame* frame = window.Frame();
    frame->show();
    auto* search = qobject_cast<CSearchDlg*>(window.Frame()->SearchPane());
    QVERIFY(search);
    const int lines = search->LookIn()->count();
    QCOMPARE(Walk(frame, disk_), 2);
    std::vector<CVolumeDriver*> drives = frame->Document()->GetDrives();
    CVolumeDriver* fat = drives[drives.size() - 2];
    CVolumeDriver* ntfs = drives.back();
    QCOMPARE(QString::fromStdString(fat->GetRoot()->name).left(15), QString("LostDriver_2049"));
    QCOMPARE(QString::fromStdString(ntfs->GetRoot()->name).left(16), QString("LostDriver_40961"));
    QCOMPARE(ntfs->FileSystemName(), std::string("NTFS"));

    // Each found volume has a "Look in:" line at its place among the drives.
    QCOMPARE(search->LookIn()->count(), lines + 2);
    QCOMPARE(search->LookIn()->itemText(frame->Document()->IndexOf(ntfs)).left(16), QString("LostDriver_40961"));

    // Browse the FAT volume: its folder and the deleted photo.
    QTreeWidgetItem* node = apptest::FindNode(frame, {"LostDriver_2049"});
    QVERIFY(node);
    apptest::ExpandNode(frame, node);
    QTreeWidgetItem* photos = apptest::FindNode(frame, {"LostDriver_2049", "PHOTOS"});
    QVERIFY(photos);
    apptest::ClickNode(frame, photos);
    QVERIFY(apptest::RowOf(frame, "_HOTO.JPG") >= 0);
    // Selecting the found drive's root selects its own line.
    apptest::ClickNode(frame, node);
    QCOMPARE(search->LookIn()->currentIndex(), frame->Document()->IndexOf(fat));
    QCOMPARE(search->LookIn()->count(), lines + 2);

    // And search the NTFS one.
    search->LookIn()->setCurrentIndex(frame->Document()->IndexOf(ntfs));
    QTest::mouseClick(search->RecurseBox(), Qt::LeftButton);
    search->PatternEdit()->setText("*.mp3");
    QTest::mouseClick(search->SearchButton(), Qt::LeftButton);
    QVERIFY(relictor::test::panes::WaitFor([&] { return !search->Searching(); }));
    auto* results = qobject_cast<CSearchResultDlg*>(window.Frame()->SearchResultPane());
    QCOMPARE(results->List()->Count(), 1);
    QCOMPARE(results->List()->Model()->EntryAt(0)->name, std::string("song.mp3"));
    QCOMPARE(results->List()->Model()->EntryAt(0)->GetLocation(), std::string("LostDriver_40961\\music\\"));

    // A second walk finds the same volumes, which the window holds already:
    // nothing is added, the user hears so, and the first is selected.
    QString said;
    QCOMPARE(Walk(frame, disk_, &said), 0);
    QCOMPARE(search->LookIn()->count(), lines + 2);
    QVERIFY2(said.contains("already open") && said.contains("LostDriver_2049") && said.contains("LostDriver_40961"),
             qPrintable(said));
    QCOMPARE(frame->NavigationPane()->SelectedNode(), node);
  }

  void anImageOpenedLaterIsOfferedToo() {
    const std::string other = apptest::Scratch() / "other.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(other) + " && mkfs.fat -C -F 12 " + Quote(other) + " 2048 >/dev/null"));
    apptest::Window window({QString::fromStdString(other)});
    CMainFrame* frame = window.Frame();
    // The disk's table is gone, so opening it finds no volume; it is the
    // disk to walk all the same, and it is offered once however often it
    // is opened.
    for (int i = 0; i < 2; ++i) {
      apptest::RunAndCloseMessageBox([&] { frame->OpenImage(QString::fromStdString(disk_)); });
    }
    int offered = 0;
    for (CPhysicalDriver* d : frame->Document()->GetPhysicalDrives()) offered += d->GetSourcePath() == disk_ ? 1 : 0;
    QCOMPARE(offered, 1);
    QCOMPARE(Walk(frame, disk_), 2);
    // An image opened after the disks were first listed joins the list.
    const std::string late = apptest::Scratch() / "late.img";
    QVERIFY(apptest::Shell("cp " + Quote(disk_) + " " + Quote(late)));
    apptest::RunAndCloseMessageBox([&] { frame->OpenImage(QString::fromStdString(late)); });
    QCOMPARE(Walk(frame, late), 2);
  }

  void randomBytesEndQuietly() {
    const std::string noise = apptest::Scratch() / "noise.img";
    relictor::test::WriteFile(noise, relictor::test::RandomBytes(8 << 20, 99));
    apptest::Window window({QString::fromStdString(noise)});
    window.Frame()->show();
    const int found = Walk(window.Frame(), noise);
    QVERIFY(found >= 0);
    // Whatever passed the tests opened or not; the window still answers.
    QVERIFY(window.Frame()->isVisible());
    apptest::ClickNode(window.Frame(), window.Frame()->NavigationPane()->RootItem());
  }
};

RELICTOR_APP_TEST_MAIN(LostDriversTest)
#include "test_lost_drivers.moc"
