// The window as an ordinary user on the system's devices, run by
// udisks_window_test.sh: a card it may read only through the disk service is
// shown by its label with its size beside it, a card put in while the window
// is open appears in the tree, and one pulled out is marked and no longer
// read. The script plugs and pulls the card when this side says so. With a
// test double of the service in its place, the drive's maker and model show.

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTreeWidget>

#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "list_test_support.h"


using apptest::FindNode;

namespace {

// Tells the script what happened, and waits for it to act.
void Say(const QString& what) {
  QFile file(qEnvironmentVariable("RELICTOR_SYNC_DIR") + QLatin1Char('/') + what);
  QVERIFY(file.open(QIODevice::WriteOnly));
}

class WindowOnDiskServiceTest : public QObject {
  Q_OBJECT
 private slots:
  void cardsComeAndGo() {
    if (qEnvironmentVariableIsEmpty("RELICTOR_SYNC_DIR")) QSKIP("run by udisks_window_test.sh");
    apptest::Window window({});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* first = FindNode(frame, {QStringLiteral("C:\\ (FIRST)")});
    QVERIFY2(first, qPrintable(apptest::ChildTexts(frame->NavigationPane()->RootItem()).join('|') + " / " +
                               window.Problems().join('|')));
    QVERIFY2(first->toolTip(0).contains(QStringLiteral("41.9 MB")), qPrintable(first->toolTip(0)));

    Say(QStringLiteral("ready"));
    QTreeWidgetItem* card = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((card = FindNode(frame, {QStringLiteral("D:\\ (NEWCARD)")})) != nullptr, 20000);
    frame->NavigationPane()->SelectNode(card);
    Say(QStringLiteral("seen"));
    QTRY_VERIFY_WITH_TIMEOUT(card->isDisabled(), 20000);
    QVERIFY(card->text(0).endsWith(QStringLiteral(" - removed")));
    // The list no longer shows the card's entries, and the user hears why.
    QCOMPARE(frame->NavigationPane()->SelectedNode(), frame->NavigationPane()->RootItem());
    QVERIFY2(frame->StatusText().contains(QStringLiteral("was taken out")), qPrintable(frame->StatusText()));
    QVERIFY(!first->isDisabled());
  }

  // A card whose opening waits (as while the system asks for the user's
  // password) joins the tree when it is open; meanwhile the window goes on
  // handling its events. Opened on the interface thread, the longest pause
  // would be the whole wait.
  void slowOpenKeepsWindowLive() {
    if (qEnvironmentVariableIsEmpty("RELICTOR_SLOW_CARD")) QSKIP("run by udisks_window_test.sh");
    apptest::Window window({});
    apptest::Heartbeat heart;
    heart.Restart();
    Say(QStringLiteral("ready"));
    QTreeWidgetItem* card = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((card = FindNode(window.Frame(), {QStringLiteral("C:\\ (SLOWCARD)")})) != nullptr, 30000);
    QVERIFY2(heart.Elapsed() >= 4000, "the card came before the service answered");
    QVERIFY2(heart.Longest() < 2000, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(heart.Longest())));

    // The same card named with File > Open Image... waits as long. The
    // first try is given up with Cancel; the second is waited for, and only
    // its volume joins the tree.
    const QString device = qEnvironmentVariable("RELICTOR_SLOW_DEVICE");
    auto slowCards = [&] {
      return apptest::ChildTexts(window.Frame()->NavigationPane()->RootItem())
          .filter(QStringLiteral("(SLOWCARD)"))
          .size();
    };
    auto chooseDevice = [device](QWidget* w) {
      auto* chooser = qobject_cast<QFileDialog*>(w);
      if (!chooser) return false;
      QTimer::singleShot(0, chooser, [chooser, device] {
        auto* edit = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (edit) QTest::keyClicks(edit, device);
        QTest::keyClick(edit ? static_cast<QWidget*>(edit) : chooser, Qt::Key_Return);
      });
      return true;
    };
    for (bool cancel : {true, false}) {
      relictor::test::ModalDriver driver;
      bool opening = false;
      driver.Then(chooseDevice);
      driver.Then([&](QWidget* w) {
        auto* dialog = qobject_cast<QProgressDialog*>(w);
        if (!dialog || dialog->objectName() != QStringLiteral("OpeningSource")) return false;
        opening = dialog->labelText().contains(device);
        relictor::test::MaybeShoot(dialog->window(), QStringLiteral("opening-source"));
        if (cancel) QTimer::singleShot(0, dialog, [dialog] { QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton); });
        return true;
      });
      heart.Restart();
      window.Frame()->Action(CMainFrame::Command::kOpenImage)->trigger();
      QVERIFY2(opening, "no dialog said which source was being opened");
      QCOMPARE(slowCards(), cancel ? 1 : 2);
      QVERIFY2(heart.Longest() < 2000, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(heart.Longest())));
    }
  }

  // The service names the drive: its maker and model go beside the size.
  void driveModelInTooltip() {
    if (qEnvironmentVariableIsEmpty("RELICTOR_DRIVE_NAME")) QSKIP("run by udisks_window_test.sh");
    apptest::Window window({});
    QTreeWidgetItem* card = FindNode(window.Frame(), {QStringLiteral("C:\\ (FIRST)")});
    QVERIFY2(card, qPrintable(window.Problems().join('|')));
    QCOMPARE(card->toolTip(0), QStringLiteral("C:\\ (FIRST)\n%1, 41.9 MB").arg(qEnvironmentVariable("RELICTOR_DRIVE_NAME")));
  }
};

}  // namespace

RELICTOR_APP_TEST_MAIN(WindowOnDiskServiceTest)
#include "udisks_window_test.moc"
