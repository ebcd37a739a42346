// The extended message box as the user sees it: its buttons in order, the
// results they give, the caption, the icon, the sound, the desktop's own
// box for system-modal stops, and questions asked from the worker thread.

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>

#include "app/list_test_support.h"
#include "ui/prompter.h"
#include "ui/xmessagebox.h"
#include "worker/frontend.h"
#include "worker/worker.h"

using namespace relictor;
using relictor::test::ModalDriver;

namespace {

struct Shown {
  QString title, text;
  QStringList buttons;  // left to right
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString objectName;
  QWidget* parent = nullptr;
};

// Shows a box with `style`, records what it shows, and presses `press`
// (or Escape when `press` is empty). Returns the result.
int ShowAndPress(QWidget* owner, const QString& caption, std::uint32_t style, const QString& press, Shown& shown) {
  ModalDriver driver;
  driver.Then([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return false;
    shown.title = box->windowTitle();
    shown.text = box->text();
    shown.icon = box->icon();
    shown.objectName = box->objectName();
    shown.parent = box->parentWidget();
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(),
              [](QAbstractButton* a, QAbstractButton* b) { return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x(); });
    for (QAbstractButton* b : buttons) shown.buttons << b->text();
    QTimer::singleShot(0, box, [box, press] {
      if (press.isEmpty()) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        QAbstractButton* b = relictor::test::FindButton(box, press);
        if (b) QTest::mouseClick(b, Qt::LeftButton);
      }
    });
    return true;
  });
  return XMessageBox(owner, "Some text", caption, style);
}

}  // namespace

class MessageBoxTest : public QObject {
  Q_OBJECT

  std::vector<std::uint32_t> beeps_;

 private slots:
  void init() {
    beeps_.clear();
    SetMessageBeep([this](std::uint32_t sound) { beeps_.push_back(sound); });
  }
  void cleanupTestCase() { SetMessageBeep({}); }

  void theOverwriteQuestion() {
    const QStringList order{"&Yes", "Y&es to All", "&No"};
    const std::vector<std::pair<QString, int>> presses{{"&Yes", 6}, {"Y&es to All", 19}, {"&No", 7}, {"", 7}};
    for (const auto& [press, result] : presses) {
      Shown shown;
      QCOMPARE(ShowAndPress(nullptr, "Kalvor Relictor", msgbox::kOverwriteQuestion, press, shown), result);
      QCOMPARE(shown.buttons, order);
      QCOMPARE(shown.title, QString("Kalvor Relictor"));
      QCOMPARE(shown.text, QString("Some text"));
      QCOMPARE(shown.icon, QMessageBox::Warning);
      QCOMPARE(shown.objectName, QString("XMessageBox"));
    }
    // Each box beeped with the exclamation sound.
    QCOMPARE(beeps_, (std::vector<std::uint32_t>(4, 0x30)));
  }

  void theNoticeAndOtherButtonSets() {
    Shown notice;
    QCOMPARE(ShowAndPress(nullptr, "Kalvor Relictor", msgbox::kNotice, "OK", notice), 1);
    QCOMPARE(notice.buttons, QStringList{"OK"});
    QCOMPARE(notice.icon, QMessageBox::Warning);
    Shown escaped;
    QCOMPARE(ShowAndPress(nullptr, "x", msgbox::kNotice, "", escaped), 1);

    Shown noToAll;
    QCOMPARE(ShowAndPress(nullptr, "x", msgbox::kYesNo | msgbox::kNoToAll | msgbox::kYesToAll, "N&o to All", noToAll),
             20);
    QCOMPARE(noToAll.buttons, (QStringList{"&Yes", "Y&es to All", "&No", "N&o to All"}));
    QCOMPARE(noToAll.icon, QMessageBox::NoIcon);
    // "to All" buttons need the button they extend.
    Shown plain;
    QCOMPARE(ShowAndPress(nullptr, "x", msgbox::kOk | msgbox::kYesToAll | msgbox::kNoToAll, "OK", plain), 1);
    QCOMPARE(plain.buttons, QStringList{"OK"});
    Shown yesNoCancel;
    QCOMPARE(ShowAndPress(nullptr, "x", 3 | 0x20, "", yesNoCancel), 2);
    QCOMPARE(yesNoCancel.buttons, (QStringList{"&Yes", "&No", "Cancel"}));
    QCOMPARE(yesNoCancel.icon, QMessageBox::Question);
  }

  void captionOwnerAndSound() {
    Shown shown;
    ShowAndPress(nullptr, "", msgbox::kNotice | msgbox::kNoBeep, "OK", shown);
    QCOMPARE(shown.title, QString("Error"));
    QVERIFY(beeps_.empty());
    ShowAndPress(nullptr, "", 0x40, "OK", shown);
    QCOMPARE(beeps_, std::vector<std::uint32_t>{0x40});

    // Without an owner, the active modal dialog owns the box.
    QDialog dialog;
    dialog.setWindowTitle("owner");
    int result = 0;
    Shown inner;
    QTimer::singleShot(0, &dialog, [&] {
      result = ShowAndPress(nullptr, "Kalvor Relictor", msgbox::kOverwriteQuestion, "&Yes", inner);
      dialog.accept();
    });
    dialog.exec();
    QCOMPARE(result, 6);
    QCOMPARE(inner.parent, &dialog);
  }

  void systemModalStopsUseTheDesktopsBox() {
    for (std::uint32_t style : {0x1010u, 0x1030u}) {
      Shown shown;
      QCOMPARE(ShowAndPress(nullptr, "Kalvor Relictor", style, "OK", shown), 1);
      QCOMPARE(shown.objectName, QString("StandardMessageBox"));
      QCOMPARE(shown.title, QString("Kalvor Relictor"));
    }
    Shown yesNo;
    QCOMPARE(ShowAndPress(nullptr, "t", 0x1014 | msgbox::kYesToAll, "&No", yesNo), 7);
    QCOMPARE(yesNo.objectName, QString("StandardMessageBox"));
    QCOMPARE(yesNo.buttons.size(), 2);
    // Without the system-modal bit the box is the program's own.
    Shown own;
    ShowAndPress(nullptr, "t", 0x0010, "OK", own);
    QCOMPARE(own.objectName, QString("XMessageBox"));
    QCOMPARE(own.icon, QMessageBox::Critical);
  }

  // The core asks on the worker thread; the box appears in the window and
  // the answer goes back to the worker.
  void questionsFromTheWorker() {
    struct Asking final : WorkerTask {
      QtPrompter* prompter;
      std::atomic<int> answer{0};
      std::atomic<int> afterStop{0};
      bool Step() override {
        answer = prompter->Ask("This folder already contains a file called 'x'", "Kalvor Relictor",
                               msgbox::kOverwriteQuestion);
        RequestStop();
        afterStop = prompter->Ask("asked after a stop", "Kalvor Relictor", msgbox::kOverwriteQuestion);
        return true;
      }
    };
    QtPrompter prompter;
    Asking task;
    task.prompter = &prompter;
    ModalDriver driver;
    QString text;
    driver.Then(relictor::test::AnswerBox("Y&es to All", &text));
    QVERIFY(StartWorker(task));
    QVERIFY(relictor::test::WaitFor([] { return !IsWorkerRunning(); }));
    StopWorker();
    QCOMPARE(task.answer.load(), 19);
    QCOMPARE(text, QString("This folder already contains a file called 'x'"));
    // After a stop nothing more is asked; the answer that changes nothing
    // on disk is given.
    QCOMPARE(task.afterStop.load(), 7);
    QCOMPARE(beeps_.size(), std::size_t(1));
  }
};

RELICTOR_WINDOW_TEST_MAIN(MessageBoxTest)
#include "test_message_box.moc"
