// "Scanning..." while an NTFS volume's MFT of 100,000 files is read: the
// dialog shows the volume, the counter and the bar; Cancel leaves the
// folder unread and the next expansion starts again from the beginning;
// the folder's 100,000 entries then show in the list at once.

#include <QProgressBar>
#include <QPushButton>

#include "app/list_test_support.h"
#include "app/entry_list_ctrl.h"
#include "ntfs/ntfs_driver.h"
#include "support/test_support.h"
#include "ui/job_runner.h"
#include "ui/worker_dlg.h"
#include "worker/worker.h"

using namespace relictor;
using namespace relictor::test;

class ScanningTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::string image_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    image_ = *dir_ / "big.img";
    const std::string script = *dir_ / "script";
    WriteFile(script, std::string("mkdir /big\nmkfiles /big 100000 f 0\ntext /big/note.txt hello\n"));
    QVERIFY(Sh("truncate -s 400M " + Quote(image_) + " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L BIG " +
               Quote(image_) + " 2>&1"));
    QVERIFY(Sh("SOURCE_DATE_EPOCH=1700000000 " + Quote(NtfsFixturePath()) + " " + Quote(image_) + " " + Quote(script)));
  }

  void cancelThenLoadAndList() {
    QtJobRunner runner;
    Host host;
    host.jobs = &runner;
    auto volume = OpenNtfsImage(image_, &host);
    QVERIFY(volume);
    auto* ntfs = static_cast<CNTFSDriver*>(volume.get());
    CDirectory* root = volume->GetRoot();

    // Cancel as soon as the dialog is up: the root stays unread.
    QString title;
    bool cancelledWhileRunning = false;
    {
      WindowWatcher watcher([&](QWidget* w) {
        if (w->objectName() != "CWorkerDlg") return;
        title = w->windowTitle();
        auto* cancel = w->findChild<QPushButton*>("cancel");
        QTimer::singleShot(0, cancel, [&cancelledWhileRunning, cancel] {
          cancelledWhileRunning = IsWorkerRunning();
          QTest::mouseClick(cancel, Qt::LeftButton);
        });
      });
      root->Populate(true, false, false);
    }
    QCOMPARE(title, QString("Scanning..."));
    QVERIFY(!IsWorkerRunning());
    qInfo() << "cancelled while the load ran:" << cancelledWhileRunning;
    if (cancelledWhileRunning) {
      QVERIFY(runner.WasCancelled());
      QVERIFY(!ntfs->IsMftLoaded());
      QVERIFY(!root->populated);
    }

    // The whole load: the volume's name, the counter "%d/%d" that ends at
    // the total, and the bar at its end when the dialog goes.
    QString item, counter;
    int barValue = -1, barMax = -2;
    {
      WindowWatcher watcher({}, [&](QWidget* w) {
            auto* d = qobject_cast<CWorkerDlg*>(w);
            if (!d) return;
            item = d->CurrentItemText();
            counter = d->CounterText();
            auto* bar = d->findChild<QProgressBar*>("overallBar");
            barValue = bar->value(), barMax = bar->maximum();
          });
      root->Populate(true, false, false);
    }
    QVERIFY(ntfs->IsMftLoaded());
    QVERIFY(root->populated);
    QCOMPARE(ntfs->MftLoads(), 1);
    QCOMPARE(item, QString::fromStdString(volume->GetDisplayName()));
    const QStringList parts = counter.split('/');
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0], parts[1]);
    QVERIFY(parts[1].toULongLong() >= 100000 * 1024ull / 4096);
    QCOMPARE(barValue, barMax);

    CDirectory* big = nullptr;
    for (auto& c : root->children)
      if (c->name == "big") big = static_cast<CDirectory*>(c.get());
    QVERIFY(big);
    big->Populate(true, false, false);
    CEntryListCtrl list;
    list.resize(800, 600);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&big->children);
    QCOMPARE(list.Count(), 100001);
    list.grab();
    QCOMPARE(list.Model()->index(0, 0).data().toString(), QString("f000001"));
    QCOMPARE(list.Model()->index(100000, 0).data().toString(), QString("note.txt"));
  }
};

RELICTOR_WINDOW_TEST_MAIN(ScanningTest)
#include "test_scanning.moc"
