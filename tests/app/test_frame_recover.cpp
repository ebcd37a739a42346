// Recover from the frame as a user does it, on a FAT volume made by
// mkfs.fat and mtools and on an exFAT card: choose a folder in the tree,
// select its rows with Ctrl+A, press the tool bar's Recover, name the
// output folder in "Files Recovery" and let "File Saving..." run to its
// summary. The saved bytes are the originals, deleted files included. The
// exFAT card's Properties add the exFAT lines.

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidgetItem>
#include <filesystem>

#include "app/entry_list_ctrl.h"
#include "app/main_frame.h"
#include "app/property_sheet.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "support/test_support.h"

using relictor::test::Quote;

class FrameRecoverTest : public QObject {
  Q_OBJECT

  std::string fatImage_, exfatImage_, exfatData_;

 private slots:
  void initTestCase() {
    fatImage_ = apptest::Scratch() / "recover.img";
    QVERIFY(apptest::MakeFatImage(fatImage_));
    QCOMPARE(relictor::test::ReadFile(apptest::Scratch() / "fatsrc/gone.txt").size(), std::size_t{5000});
    // The card: a fragmented file that stays and a contiguous one that
    // is deleted, both of the same bytes.
    exfatImage_ = apptest::Scratch() / "card.img";
    exfatData_ = apptest::Scratch() / "card-data";
    relictor::test::WriteFile(exfatData_, relictor::test::RandomBytes(50000, 41));
    QVERIFY(apptest::Shell("rm -f " + Quote(exfatImage_) + " && truncate -s 8M " + Quote(exfatImage_) +
                           " && mkfs.exfat -c 4K -L WINCARD " + Quote(exfatImage_) + " >/dev/null"));
    QVERIFY(apptest::Shell("printf 'mkdir\\t/Photos\\nput\\t/Photos/kept.bin\\t%s\\tfrag\\nput\\t/Photos/gone.bin\\t%s\\tnofat\\n"
                           "rm\\t/Photos/gone.bin\\n' " + Quote(exfatData_) + " " + Quote(exfatData_) + " | " +
                           Quote(relictor::test::ExFatFixturePath()) + " " + Quote(exfatImage_)));
  }

  void recoverSavesTheSelectedRowsIntoTheChosenFolder_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("label");      // part of the drive node's text
    QTest::addColumn<QString>("folder");     // under the drive
    QTest::addColumn<int>("rows");           // the folder's rows, at least
    QTest::addColumn<QString>("original");   // the bytes every saved file below is compared with
    QTest::addColumn<QStringList>("saved");  // output files with those bytes; "*": some file
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("FAT16, a deleted file among others")
        << QString::fromStdString(fatImage_) << QString() << "DOCS" << 2
        << QString::fromStdString(apptest::Scratch() / "fatsrc/gone.txt") << QStringList{"*"} << QStringList{"SUB"};
    QTest::newRow("exFAT card, a kept fragmented file and a deleted one")
        << QString::fromStdString(exfatImage_) << "WINCARD" << "Photos" << 2 << QString::fromStdString(exfatData_)
        << QStringList{"kept.bin", "gone.bin"} << QStringList{};
  }

  void recoverSavesTheSelectedRowsIntoTheChosenFolder() {
    QFETCH(QString, image);
    QFETCH(QString, label);
    QFETCH(QString, folder);
    QFETCH(int, rows);
    QFETCH(QString, original);
    QFETCH(QStringList, saved);
    QFETCH(QStringList, folders);
    const auto bytes = relictor::test::ReadFile(original.toStdString());
    static int run = 0;
    const std::string out = apptest::Scratch() / ("out-" + std::to_string(++run));
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);

    apptest::Window window({image});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = apptest::FindNode(frame, {"C:\\"});
    QVERIFY(drive);
    QVERIFY(drive->text(0).contains(label));
    apptest::ExpandNode(frame, drive);
    QVERIFY(apptest::ChildTexts(drive).contains(folder));
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:\\", folder}));
    auto* list = frame->View()->List();
    QVERIFY(list->Count() >= rows);
    list->CurrentView()->setFocus();
    QTest::keyClick(list->CurrentView(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(list->SelectedCount(), list->Count());
    QVERIFY(frame->Action(CMainFrame::Command::kRecover)->isEnabled());

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
    auto* button =
        qobject_cast<QToolButton*>(frame->ToolBar()->widgetForAction(frame->Action(CMainFrame::Command::kRecover)));
    QVERIFY(button);
    // The saving ends with its summary.
    QString summary;
    auto summed = apptest::WhenDialogShows(QStringLiteral("SavingSummary"), [&summary](QDialog* d) {
      summary = static_cast<QMessageBox*>(d)->text();
      d->accept();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(*asked);
    QVERIFY(*summed);
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) files += e.is_regular_file() ? 1 : 0;
    QCOMPARE(summary, (files == 1 ? QString("1 file") : QString("%1 files").arg(files)) + " saved to " +
                          QString::fromStdString(out) + ".");

    // Deleted files come back whole under their shown names, the folders
    // with what the reader lists in them.
    for (const QString& name : saved) {
      if (name != "*") {
        QVERIFY2(relictor::test::ReadFile(out + "/" + name.toStdString()) == bytes, qPrintable(name));
        continue;
      }
      bool found = false;
      for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
        if (e.is_regular_file() && relictor::test::ReadFile(e.path().string()) == bytes) found = true;
      }
      QVERIFY(found);
    }
    for (const QString& sub : folders) QVERIFY(std::filesystem::is_directory(out + "/" + sub.toStdString()));
    // The window is still there and still answers.
    QVERIFY(frame->isVisible());
    QCOMPARE(list->SelectedCount(), list->Count());
  }

  // Properties of the card's fragmented file tell how its data is kept.
  void exfatPropertiesAddTheExFatLines() {
    apptest::Window window({QString::fromStdString(exfatImage_)});
    CMainFrame* frame = window.Frame();
    apptest::ExpandNode(frame, apptest::FindNode(frame, {"C:\\"}));
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:\\", "Photos"}));
    auto* list = frame->View()->List();
    QCOMPARE(list->Count(), 2);
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
  }
};

RELICTOR_APP_TEST_MAIN(FrameRecoverTest)
#include "test_frame_recover.moc"
