// The window on an NTFS volume of 100,000 files in folders of 1,000,
// driven as a user would: choosing the drive shows "Scanning..." while the
// event loop keeps running, Cancel leaves the drive unread and the next
// choice reads it again, and the folders then open from the index.
//
// With RELICTOR_BIG_NTFS naming an image made the same way (say with
// 1,000,000 files), that image is used instead and the longest pause of the
// event loop in each step is printed.

#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/list_test_support.h"
#include "app/main_frame.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "support/test_support.h"
#include "ui/worker_dlg.h"
#include "worker/worker.h"

using relictor::CWorkerDlg;
using namespace relictor::test;

namespace {

int ListCount(CMainFrame* frame) { return frame->View()->List()->Count(); }

}  // namespace

class BigNtfsWindowTest : public QObject {
  Q_OBJECT

  std::string image_;
  int files_ = 100000;
  apptest::Heartbeat heart_;

  void report(const char* step) { qInfo("%s: longest pause of the event loop %lld ms", step, heart_.Longest()); }

 private slots:
  void initTestCase() {
    if (!qEnvironmentVariableIsEmpty("RELICTOR_BIG_NTFS")) {
      image_ = qEnvironmentVariable("RELICTOR_BIG_NTFS").toStdString();
      files_ = 0;
      return;
    }
    image_ = apptest::Scratch() / "big.img";
    const std::string script = apptest::Scratch() / "big.script";
    WriteFile(script, "mkdir /r\nrawfiles /r " + std::to_string(files_) + " f 1000\n");
    QVERIFY(apptest::Shell("truncate -s 264M " + Quote(image_) + " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 " +
                           "-S 0 -L BIG " + Quote(image_) + " >/dev/null 2>&1"));
    QVERIFY(apptest::Shell("SOURCE_DATE_EPOCH=1700000000 " + Quote(NtfsFixturePath()) + " " + Quote(image_) + " " +
                           Quote(script)));
  }

  void scanningKeepsTheWindowLiveAndCancels() {
    apptest::Window window({QString::fromStdString(image_)});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = apptest::FindNode(frame, {"C:"});
    QVERIFY(drive);

    // Cancel as soon as "Scanning..." shows: the drive stays unread.
    QString title;
    bool cancelledWhileRunning = false;
    {
      WindowWatcher watcher([&](QWidget* w) {
        auto* d = qobject_cast<CWorkerDlg*>(w);
        if (!d) return;
        title = d->windowTitle();
        auto* cancel = d->findChild<QPushButton*>("cancel");
        QTimer::singleShot(0, cancel, [&cancelledWhileRunning, cancel] {
          cancelledWhileRunning = relictor::IsWorkerRunning();
          QTest::mouseClick(cancel, Qt::LeftButton);
        });
      });
      apptest::ClickNode(frame, drive);
    }
    QCOMPARE(title, QString("Scanning..."));
    QVERIFY(!relictor::IsWorkerRunning());
    qInfo() << "cancelled while the load ran:" << cancelledWhileRunning;
    if (cancelledWhileRunning) QCOMPARE(apptest::RowOf(frame, "r"), -1);

    // Choosing the drive again reads it whole; the event loop turns while
    // the dialog is up.
    int beatsAtShow = -1, beatsAtHide = -1;
    QElapsedTimer shown;
    qint64 upFor = 0;
    {
      WindowWatcher watcher(
          [&](QWidget* w) {
            if (!qobject_cast<CWorkerDlg*>(w)) return;
            beatsAtShow = heart_.Beats();
            shown.start();
          },
          [&](QWidget* w) {
            if (!qobject_cast<CWorkerDlg*>(w)) return;
            beatsAtHide = heart_.Beats();
            upFor = shown.elapsed();
          });
      apptest::ClickNode(frame, frame->NavigationPane()->RootItem());
      heart_.Restart();
      apptest::ClickNode(frame, apptest::FindNode(frame, {"C:"}));
      report("reading the MFT");
    }
    QVERIFY(beatsAtShow >= 0);
    QVERIFY(beatsAtHide >= beatsAtShow);
    qInfo("the dialog was up %lld ms, %d turns of the event loop", upFor, beatsAtHide - beatsAtShow);
    // Every 5 ms tick that fell due while the dialog was up is served by
    // its event loop; a window blocked by the load would serve none.
    if (upFor >= 50) QVERIFY(beatsAtHide - beatsAtShow >= 1);
    QVERIFY(apptest::RowOf(frame, "r") >= 0);

    // The folders open from the index: 1,000 subfolders, then 1,000 files.
    apptest::ExpandNode(frame, apptest::FindNode(frame, {"C:"}));
    QTreeWidgetItem* r = apptest::FindNode(frame, {"C:", "r"});
    QVERIFY(r);
    heart_.Restart();
    apptest::ExpandNode(frame, r);
    report("the folder of folders");
    if (files_ > 0) QCOMPARE(ListCount(frame), files_ / 1000);
    QTreeWidgetItem* first = apptest::FindNode(frame, {"C:", "r", "f_00001"});
    QVERIFY(first);
    heart_.Restart();
    apptest::ClickNode(frame, first);
    report("a folder of files");
    if (files_ > 0) {
      QCOMPARE(ListCount(frame), 1000);
      QVERIFY(apptest::RowOf(frame, "f0000001") >= 0);
    }
    QTreeWidgetItem* deleted = apptest::FindNode(frame, {"C:", "DeletedFiles"});
    QVERIFY(deleted);
    heart_.Restart();
    apptest::ClickNode(frame, deleted);
    report("DeletedFiles");
    QCOMPARE(ListCount(frame), 0);
  }
};

RELICTOR_APP_TEST_MAIN(BigNtfsWindowTest)
#include "test_big_ntfs_window.moc"
