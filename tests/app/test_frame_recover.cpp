// Recover from the frame as a user does it: choose a folder in the tree,
// select its rows, press the tool bar's Recover, name the output folder in
// "Files Recovery" and let "File Saving..." run. The saved bytes are the
// deleted file's original bytes.

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <filesystem>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "support/test_support.h"

class FrameRecoverTest : public QObject {
  Q_OBJECT

 private slots:
  void recoverSavesTheSelectedRowsIntoTheChosenFolder() {
    std::string image = apptest::Scratch() / "recover.img";
    QVERIFY(apptest::MakeFatImage(image));
    auto original = relictor::test::ReadFile(apptest::Scratch() / "fatsrc/gone.txt");
    QCOMPARE(original.size(), std::size_t{5000});
    std::string out = apptest::Scratch() / "out";
    std::filesystem::create_directories(out);

    apptest::Window window({QString::fromStdString(image)});
    CMainFrame* frame = window.Frame();
    apptest::ExpandNode(frame, apptest::FindNode(frame, {"C:\\"}));
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:\\", "DOCS"}));
    auto* list = frame->View()->List();
    QVERIFY(list->Count() >= 2);
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
    auto* button = qobject_cast<QToolButton*>(frame->ToolBar()->widgetForAction(frame->Action(CMainFrame::Command::kRecover)));
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

    // The deleted file comes back whole under its shown name, the folder
    // with what the reader lists in it.
    bool found = false;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
      if (e.is_regular_file() && relictor::test::ReadFile(e.path().string()) == original) found = true;
    }
    QVERIFY(found);
    QVERIFY(std::filesystem::is_directory(std::filesystem::path(out) / "SUB"));
    // The window is still there and still answers.
    QVERIFY(frame->isVisible());
    QCOMPARE(list->SelectedCount(), list->Count());
  }
};

RELICTOR_APP_TEST_MAIN(FrameRecoverTest)
#include "test_frame_recover.moc"
