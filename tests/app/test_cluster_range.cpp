// "Select cluster range" as the user drives it (edits, sliders, the
// summary, the refusal of an empty range) and the "Find Lost Files..." run
// it starts on a quick-formatted FAT image, whose lost photo comes back
// byte for byte.

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <filesystem>
#include <thread>

#include "app/list_test_support.h"
#include "app/cluster_range_dlg.h"
#include "app/recovery_dlg.h"
#include "support/test_support.h"
#include "ui/job_runner.h"
#include "ui/worker_dlg.h"
#include "worker/worker.h"

using namespace relictor;
using namespace relictor::test;

namespace {

struct RangeDlgParts {
  QDoubleSpinBox* start;
  QDoubleSpinBox* end;
  QSlider* startSlider;
  QSlider* endSlider;
  QLabel* summary;
};

RangeDlgParts Parts(QWidget* w) {
  return {w->findChild<QDoubleSpinBox*>("startEdit"), w->findChild<QDoubleSpinBox*>("endEdit"),
          w->findChild<QSlider*>("startSlider"), w->findChild<QSlider*>("endSlider"),
          w->findChild<QLabel*>("summary")};
}

void TypeValue(QDoubleSpinBox* edit, const QString& value) {
  QLineEdit* line = edit->findChild<QLineEdit*>();
  line->selectAll();
  QTest::keyClicks(line, value);
}

QPushButton* Ok(QWidget* w) { return w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok); }
QPushButton* Cancel(QWidget* w) { return w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel); }

// A step that answers "Select cluster range" as a user does: `prepare`
// fills it in, then `button` is pressed.
ModalDriver::Step AnswerRange(QPushButton* (*button)(QWidget*), std::function<void(QWidget*)> prepare = {}) {
  return [button, prepare](QWidget* w) {
    if (w->objectName() != "CClusterRangeDlg") return false;
    QTimer::singleShot(0, w, [w, button, prepare] {
      if (prepare) prepare(w);
      QTest::mouseClick(button(w), Qt::LeftButton);
    });
    return true;
  };
}

}  // namespace

class ClusterRangeTest : public QObject {
  Q_OBJECT

 private slots:
  void opensOnTheWholeRange() {
    CClusterRangeDlg dialog(2, 5000, 4096);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("Select cluster range"));
    RangeDlgParts p = Parts(&dialog);
    QVERIFY(p.start && p.end && p.startSlider && p.endSlider && p.summary);
    QCOMPARE(p.start->value(), 2.0);
    QCOMPARE(p.end->value(), 5000.0);
    QCOMPARE(p.start->minimum(), 2.0);
    QCOMPARE(p.end->maximum(), 5000.0);
    QCOMPARE(p.startSlider->value(), p.startSlider->minimum());
    QCOMPARE(p.endSlider->value(), p.endSlider->maximum());
    for (const char* label : {"Start Cluster:", " End Cluster:", "Cluster to scan:"}) {
      bool found = false;
      for (QLabel* l : dialog.findChildren<QLabel*>()) found |= l->text() == label;
      QVERIFY2(found, label);
    }
  }

  // The summary tells the range and its size in whole units of 1024
  // clusters; values past the sliders' int range are taken too.
  void summaryTellsTheRangeAndItsSize_data() {
    QTest::addColumn<qulonglong>("last");
    QTest::addColumn<int>("clusterBytes");
    QTest::addColumn<QString>("start");  // typed, when not empty
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("summary");
    // 4999 clusters: 4 whole units of 1024 clusters of 4 KiB, 16 MiB.
    QTest::newRow("whole range") << 5000ull << 4096 << "" << "" << "2-5000(16Mb)";
    // 1000 clusters are less than one unit: 0 Mb.
    QTest::newRow("less than a unit") << 5000ull << 4096 << "100" << "1099" << "100-1099(0Mb)";
    QTest::newRow("two units") << 5000ull << 4096 << "100" << "2147" << "100-2147(8Mb)";
    QTest::newRow("beyond int") << 4294967295ull << 65536 << "4294967294" << "" << "4294967294-4294967295(0Mb)";
  }

  void summaryTellsTheRangeAndItsSize() {
    QFETCH(qulonglong, last);
    QFETCH(int, clusterBytes);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, summary);
    CClusterRangeDlg dialog(2, last, static_cast<std::uint32_t>(clusterBytes));
    dialog.show();
    RangeDlgParts p = Parts(&dialog);
    if (!start.isEmpty()) TypeValue(p.start, start);
    if (!end.isEmpty()) TypeValue(p.end, end);
    QCOMPARE(static_cast<qulonglong>(dialog.Start()), start.isEmpty() ? 2ull : start.toULongLong());
    QCOMPARE(static_cast<qulonglong>(dialog.End()), end.isEmpty() ? last : end.toULongLong());
    QCOMPARE(p.summary->text(), summary);
  }

  void editsAndSlidersFollowEachOther() {
    CClusterRangeDlg dialog(2, 5000, 4096);
    dialog.show();
    RangeDlgParts p = Parts(&dialog);
    TypeValue(p.start, "100");
    QCOMPARE(dialog.Start(), 100u);
    QCOMPARE(p.startSlider->value(), 98);
    TypeValue(p.end, "2147");
    MaybeShoot(&dialog, "cluster-range");
    // Values outside the volume's clusters are not taken.
    TypeValue(p.end, "9999");
    QVERIFY(dialog.End() <= 5000u);
    // Moving a slider writes its value into its edit.
    p.endSlider->setFocus();
    QTest::keyClick(p.endSlider, Qt::Key_End);
    QCOMPARE(dialog.End(), 5000u);
    QTest::keyClick(p.startSlider, Qt::Key_Home);
    QCOMPARE(dialog.Start(), 2u);
    QCOMPARE(p.start->value(), 2.0);
    QCOMPARE(p.summary->text(), QString("2-5000(16Mb)"));
  }

  void anEmptyRangeIsRefused() {
    CClusterRangeDlg dialog(2, 5000, 4096);
    dialog.show();
    RangeDlgParts p = Parts(&dialog);
    TypeValue(p.start, "100");
    TypeValue(p.end, "99");
    ModalDriver driver;
    QString text;
    driver.Then(AnswerBox("OK", &text));
    QTest::mouseClick(Ok(&dialog), Qt::LeftButton);
    QCOMPARE(text, QString("The end cluster can not less start cluster."));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    // One cluster is a range.
    TypeValue(p.end, "100");
    QTest::mouseClick(Ok(&dialog), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Start(), 100u);
    QCOMPARE(dialog.End(), 100u);
  }

  // The scan skips what existing files use unless the box is ticked; the
  // box is offered for a deep scan only.
  void theScanExaminesClustersInUseOnlyWhenAsked() {
    QVERIFY(!CClusterRangeDlg(2, 5000, 4096).findChild<QCheckBox*>("allClusters"));
    TempDir dir;
    const std::string img = dir / "fat.img", photo = dir / "photo.jpg";
    QVERIFY(Sh("convert -size 300x200 plasma:fractal -quality 92 " + Quote(photo)));
    QVERIFY(Sh("truncate -s 32M " + Quote(img) + " && mkfs.fat -F 16 -s 4 " + Quote(img)));
    QVERIFY(Sh("mcopy -i " + Quote(img) + " " + Quote(photo) + " ::/photo.jpg"));
    QtJobRunner runner;
    QtClusterRangeChooser chooser;
    Host host;
    host.jobs = &runner;
    host.rangeChooser = &chooser;
    auto volume = OpenFatImage(img, &host);
    QVERIFY(volume);
    CDirectory* lost = volume->GetLostFiles();
    QVERIFY(lost);
    for (bool all : {false, true}) {
      ModalDriver driver;
      driver.Then(AnswerRange(Ok, [all](QWidget* w) {
        auto* box = w->findChild<QCheckBox*>("allClusters");
        QVERIFY(box);
        if (all) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
      }));
      lost->ClearChildren();
      lost->populated = false;
      lost->Populate(true, false, false);
      QCOMPARE(driver.Left(), std::size_t(0));
      QVERIFY(lost->populated);
      QCOMPARE(lost->children.size(), std::size_t(all ? 1 : 0));
    }
    QCOMPARE(lost->children.front()->GetSize(), std::uint64_t(ReadFile(photo).size()));
  }

  void clusterNumbersBeyondTheSlidersInt() {
    const std::uint64_t max = 4294967295u;
    CClusterRangeDlg dialog(2, max, 65536);
    dialog.show();
    RangeDlgParts p = Parts(&dialog);
    QCOMPARE(dialog.End(), max);
    QCOMPARE(p.end->text(), QString("4294967295"));
    QTest::keyClick(p.endSlider, Qt::Key_Home);
    QCOMPARE(dialog.End(), 2u);
    QTest::keyClick(p.endSlider, Qt::Key_End);
    QCOMPARE(dialog.End(), max);
  }

  void theChooserAsksFromTheWorker() {
    QtClusterRangeChooser chooser;
    struct Asking final : WorkerTask {
      QtClusterRangeChooser* chooser;
      std::atomic<bool> chosen{false};
      std::atomic<std::uint64_t> start{0}, end{0};
      bool Step() override {
        std::uint64_t s = 0, e = 0;
        chosen = chooser->Choose(10, 900, 512, s, e);
        start = s, end = e;
        return true;
      }
    } task;
    task.chooser = &chooser;
    ModalDriver driver;
    driver.Then(AnswerRange(Ok, [](QWidget* w) { TypeValue(Parts(w).start, "20"); }));
    QVERIFY(StartWorker(task));
    QVERIFY(WaitFor([] { return !IsWorkerRunning(); }));
    StopWorker();
    QVERIFY(task.chosen.load());
    QCOMPARE(task.start.load(), 20u);
    QCOMPARE(task.end.load(), 900u);
  }

  void findLostFilesOnAQuickFormattedVolume() {
    TempDir dir;
    const std::string img = dir / "fat.img", photo = dir / "photo.jpg";
    QVERIFY(Sh("convert -size 300x200 plasma:fractal -quality 92 " + Quote(photo)));
    QVERIFY(Sh("truncate -s 32M " + Quote(img) + " && mkfs.fat -F 16 -s 4 -i 12345678 " + Quote(img)));
    QVERIFY(Sh("mcopy -i " + Quote(img) + " " + Quote(photo) + " ::/photo.jpg"));
    // A quick format takes the directory and the table; the data stays.
    QVERIFY(Sh("mkfs.fat -F 16 -s 4 -i 12345678 " + Quote(img)));
    const auto original = ReadFile(photo);

    QtJobRunner runner;
    QtClusterRangeChooser chooser;
    Host host;
    host.jobs = &runner;
    host.rangeChooser = &chooser;
    auto volume = OpenFatImage(img, &host);
    QVERIFY(volume);
    CDirectory* lost = volume->GetLostFiles();
    QVERIFY(lost);

    // Cancel in the range dialog: nothing is scanned.
    {
      ModalDriver driver;
      driver.Then(AnswerRange(Cancel));
      lost->Populate(true, false, false);
      QCOMPARE(driver.Left(), std::size_t(0));
      QVERIFY(!lost->populated);
      QVERIFY(lost->children.empty());
    }

    // OK: the progress dialog shows the scan, and the photo is found.
    QString title, status, counter;
    WindowWatcher watcher(
        [&](QWidget* w) {
          if (w->objectName() == "CWorkerDlg") title = w->windowTitle();
        },
        [&](QWidget* w) {
          if (auto* d = qobject_cast<CWorkerDlg*>(w)) status = d->StatusText(), counter = d->CounterText();
        });
    ModalDriver driver;
    driver.Then(AnswerRange(Ok));
    lost->Populate(true, false, false);
    QCOMPARE(driver.Left(), std::size_t(0));
    QCOMPARE(title, QString("Find Lost Files..."));
    QCOMPARE(status, QString("Scanning..."));
    QVERIFY2(counter.endsWith("/" + QString::number(volume->LastDataCluster())), qPrintable(counter));
    QVERIFY(lost->populated);
    CDirEntry* found = nullptr;
    for (auto& c : lost->children)
      if (QString::fromStdString(c->name).endsWith(".JPG")) found = c.get();
    QVERIFY(found);
    QVERIFY(QString::fromStdString(found->name).startsWith("Cluster_"));
    QCOMPARE(found->GetSize(), std::uint64_t(original.size()));

    // And saved through the window, byte for byte.
    const std::string out = dir / "out";
    std::filesystem::create_directories(out);
    SavingReport report = SaveEntries({found}, QString::fromStdString(out + "/"), runner);
    QCOMPARE(int(report.outcome), int(SavingOutcome::Finished));
    QCOMPARE(ReadFile(out + "/" + found->name), original);
  }
};

RELICTOR_WINDOW_TEST_MAIN(ClusterRangeTest)
#include "test_cluster_range.moc"
