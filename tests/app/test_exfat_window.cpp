// An exFAT card in the window as a user meets it: the drive in the tree,
// its folder's existing and deleted files in the list, their Properties
// with the exFAT lines, and Recover from the tool bar saving the bytes.

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidgetItem>
#include <QAbstractItemView>
#include <QTest>
#include <filesystem>

#include "app/entry_list_ctrl.h"
#include "app/main_frame.h"
#include "app/property_sheet.h"
#include "app/relictor_app.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "support/test_support.h"

using relictor::test::Quote;

class ExFatWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void exfatCardIsBrowsedInspectedAndRecovered() {
    const std::string image = apptest::Scratch() / "card.img";
    const std::string data = apptest::Scratch() / "card-data";
    const std::vector<std::uint8_t> bytes = relictor::test::RandomBytes(50000, 41);
    relictor::test::WriteFile(data, bytes);
    QVERIFY(apptest::Shell("rm -f " + Quote(image) + " && truncate -s 8M " + Quote(image) + " && mkfs.exfat -c 4K -L WINCARD " +
                           Quote(image) + " >/dev/null"));
    QVERIFY(apptest::Shell("printf 'mkdir\\t/Photos\\nput\\t/Photos/kept.bin\\t%s\\tfrag\\nput\\t/Photos/gone.bin\\t%s\\tnofat\\n"
                           "rm\\t/Photos/gone.bin\\n' " + Quote(data) + " " + Quote(data) + " | " +
                           Quote(relictor::test::ExFatFixturePath()) + " " + Quote(image)));

    apptest::Window window({QString::fromStdString(image)});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = apptest::FindNode(frame, {"C:\\"});
    QVERIFY(drive);
    QVERIFY(drive->text(0).contains(QStringLiteral("WINCARD")));
    apptest::ExpandNode(frame, drive);
    QVERIFY(apptest::ChildTexts(drive).contains(QStringLiteral("Photos")));
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:\\", "Photos"}));
    auto* list = frame->View()->List();
    QCOMPARE(list->Count(), 2);

    // Properties of the fragmented file tell how its data is kept.
    list->SelectAll();
    relictor::CDirEntry* kept = nullptr;
    for (relictor::CDirEntry* e : list->SelectedEntries()) {
      if (e->name == "kept.bin") kept = e;
    }
    QVERIFY(kept);
    QStringList labels;
    auto shown = apptest::WhenDialogShows(QStringLiteral("Properties"), [&](QDialog* d) {
      for (QLabel* l : d->findChildren<QLabel*>()) labels << l->text();
      d->reject();
    });
    relictor::ShowProperties(kept, nullptr);
    QVERIFY(*shown);
    QVERIFY2(labels.contains(QStringLiteral("Allocation:")), qPrintable(labels.join(',')));
    QVERIFY(labels.contains(QStringLiteral("Valid data length:")));

    const std::string out = apptest::Scratch() / "exfat-out";
    std::filesystem::create_directories(out);
    list->CurrentView()->setFocus();
    QTest::keyClick(list->CurrentView(), Qt::Key_A, Qt::ControlModifier);
    auto asked = apptest::WhenDialogShows(QStringLiteral("CRecoveryDlg"), [out](QDialog* d) {
      auto* combo = d->findChild<QComboBox*>(QStringLiteral("outputFolder"));
      auto* save = d->findChild<QPushButton*>(QStringLiteral("save"));
      if (!combo || !save) {
        d->reject();
        return;
      }
      combo->lineEdit()->clear();
      QTest::keyClicks(combo->lineEdit(), QString::fromStdString(out));
      QTest::mouseClick(save, Qt::LeftButton);
    });
    auto* button = qobject_cast<QToolButton*>(frame->ToolBar()->widgetForAction(frame->Action(CMainFrame::Command::kRecover)));
    QVERIFY(button);
    // The saving ends with its summary.
    auto summed = apptest::WhenDialogShows(QStringLiteral("SavingSummary"), [](QDialog* d) { d->accept(); });
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(*asked);
    QVERIFY(*summed);
    QVERIFY(relictor::test::ReadFile(out + "/kept.bin") == bytes);
    QVERIFY(relictor::test::ReadFile(out + "/gone.bin") == bytes);
  }
};

RELICTOR_APP_TEST_MAIN(ExFatWindowTest)
#include "test_exfat_window.moc"
