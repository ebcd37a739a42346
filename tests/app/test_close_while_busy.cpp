// Closing the main window while a scan's progress dialog is up (the
// window manager's close box ends in the same close() through the X11
// relay): the window asks whether to stop the scan and close. No carries on with the scan and keeps the window; Yes cancels the
// scan, waits for the worker and closes.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/vesk_doc.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "support/test_support.h"
#include "ui/job_runner.h"
#include "volume/driver.h"
#include "worker/worker.h"

using relictor::test::Quote;

class CloseWhileBusyTest : public QObject {
  Q_OBJECT

  std::unique_ptr<apptest::Window> window_;
  CMainFrame* Frame() { return window_->Frame(); }
  relictor::CDirectory* LostFiles() { return Frame()->Document()->GetDrives().front()->GetLostFiles(); }

  struct Outcome {
    bool asked = false;
    bool runningWhenAsked = false;
    bool closeAccepted = false;
    QString question;
  };

  // Selects the lost-files folder, accepts the range, and as soon as the
  // scan's progress shows closes the frame; the question is answered with
  // `answer`.
  void ScanAndClose(QMessageBox::StandardButton answer, Outcome& out) {
    auto ranged = apptest::WhenDialogShows(QStringLiteral("CClusterRangeDlg"), [&out, answer, this](QDialog* d) {
      d->accept();
      apptest::WhenDialogShows(QStringLiteral("CWorkerDlg"), [&out, answer, this](QDialog*) {
        apptest::WhenDialogShows(QStringLiteral("StopAndClose"), [&out, answer](QDialog* box) {
          out.asked = true;
          out.runningWhenAsked = relictor::IsWorkerRunning();
          out.question = static_cast<QMessageBox*>(box)->text();
          box->done(answer);
        });
        out.closeAccepted = Frame()->close();
      });
    });
    Frame()->Action(CMainFrame::Command::kFindLostFiles)->trigger();
    QVERIFY(*ranged);
  }

 private slots:
  void initTestCase() {
    // A large, nearly empty FAT32 volume: its deep scan runs long enough
    // to be closed over.
    const std::string img = apptest::Scratch() / "big.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(img) + " && truncate -s 1G " + Quote(img) + " && mkfs.fat -F 32 -n BIG " +
                           Quote(img) + " >/dev/null && echo hello > " + Quote(img + ".txt") + " && mcopy -i " +
                           Quote(img) + " " + Quote(img + ".txt") + " ::/hello.txt"));
    window_ = std::make_unique<apptest::Window>(QStringList{QString::fromStdString(img)});
    QVERIFY2(window_->Problems().isEmpty(), qPrintable(window_->Problems().join('\n')));
    apptest::ClickNode(Frame(), apptest::FindNode(Frame(), {"C:\\"}));
  }
  void cleanupTestCase() { window_.reset(); }

  void noCarriesOnWithTheScan() {
    Outcome out;
    ScanAndClose(QMessageBox::No, out);
    QVERIFY(out.asked);
    QCOMPARE(out.question, QStringLiteral("Stop the scan and close Relictor?"));
    QVERIFY(!out.closeAccepted);
    QVERIFY(Frame()->isVisible());
    QVERIFY(!relictor::IsWorkerRunning());
    QVERIFY(!Frame()->JobRunner()->WasCancelled());
    QVERIFY(LostFiles()->populated);
  }

  void yesStopsTheScanAndCloses() {
    // The same scan again, from the start.
    apptest::ClickNode(Frame(), apptest::FindNode(Frame(), {"C:\\"}));
    LostFiles()->ClearChildren();
    LostFiles()->populated = false;
    Outcome out;
    ScanAndClose(QMessageBox::Yes, out);
    QVERIFY(out.asked);
    QVERIFY(out.closeAccepted);
    QVERIFY(!relictor::IsWorkerRunning());
    QVERIFY(!Frame()->isVisible());
    qInfo() << "the scan was running when the question came:" << out.runningWhenAsked;
    // A scan stopped part-way leaves the folder to be read anew.
    QVERIFY(Frame()->JobRunner()->WasCancelled());
    QVERIFY(!LostFiles()->populated);
  }
};

RELICTOR_APP_TEST_MAIN(CloseWhileBusyTest)
#include "test_close_while_busy.moc"
