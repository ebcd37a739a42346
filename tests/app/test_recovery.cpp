// Recovering a selection from a FAT image through the two dialogs as a
// user does: the output folder typed or browsed (and created when it is
// new), the overwrite questions answered Yes, Yes to All and No, the saved
// bytes compared with the originals, the summary at the end; Cancel while
// counting and while saving, with the window serving events all along.

#include <unistd.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMessageBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/list_test_support.h"
#include "app/entry_list_ctrl.h"
#include "app/recovery_dlg.h"
#include "model/output_file.h"
#include "recovery/tree_doubles.h"
#include "support/test_support.h"
#include "ui/history_combo.h"
#include "ui/job_runner.h"
#include "ui/worker_dlg.h"
#include "worker/worker.h"

using namespace relictor;
using namespace relictor::test;
namespace fs = std::filesystem;

namespace {

// A folder whose reading takes a while, as on a slow disk.
class SlowFolder final : public CDirectory {
 public:
  explicit SlowFolder(std::string n, int depth) : depth_(depth) { name = std::move(n); }
  bool HasSubfolders(bool) override { return depth_ > 0; }
  void Populate(bool, bool, bool) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (depth_ > 0)
      for (int i = 0; i < 4; ++i) Append(std::make_unique<SlowFolder>("sub" + std::to_string(i), depth_ - 1));
    populated = true;
  }

 private:
  int depth_;
};

// A file whose data comes in slowly, in blocks, as on a slow disk: it
// drives the file bar and stops at a stop request like the readers do.
class SlowFile final : public CFSFile {
 public:
  SlowFile(std::string n, std::vector<std::uint8_t> d) : data(std::move(d)) {
    name = std::move(n);
    size = data.size();
  }
  bool SaveData(OutputFile& out, ProgressSink* progress) override {
    if (progress) progress->SetRange(ProgressBar::File, 0, data.size());
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
      if (progress && IsStopRequested()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
      std::size_t n = std::min(kBlock, data.size() - at);
      if (!out.Write(data.data() + at, n)) return false;
      if (progress) progress->SetPos(ProgressBar::File, at + n);
    }
    AdvanceFileCounter(progress);
    return true;
  }
  static constexpr std::size_t kBlock = 16384;
  std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> Bytes(const std::string& path) { return ReadFile(path); }

// Counts timer ticks while long work runs: the window keeps serving events.
class Heartbeat {
 public:
  Heartbeat() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { ++ticks; });
    timer_.start(20);
  }
  int ticks = 0;

 private:
  QTimer timer_;
};

// Closes the summary that ends a recovery with OK, or with Open Folder,
// and keeps what it said.
class SummaryReader : public QObject {
 public:
  explicit SummaryReader(bool openFolder = false) : openFolder_(openFolder) {
    connect(&timer_, &QTimer::timeout, this, &SummaryReader::Poll);
    timer_.start(20);
  }
  int shown = 0;
  QString text, details;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box->objectName() != "SavingSummary" || box == last_) return;
    last_ = box;
    ++shown;
    text = box->text();
    details = box->detailedText();
    MaybeShoot(box, "saving-summary-" + QString::number(shown));
    QAbstractButton* button = openFolder_ ? FindButton(box, "Open Folder") : box->button(QMessageBox::Ok);
    QTimer::singleShot(0, box, [button, box] {
      if (button) QTest::mouseClick(button, Qt::LeftButton);
      else box->reject();
    });
  }
  bool openFolder_;
  QTimer timer_;
  QPointer<QMessageBox> last_;
};

}  // namespace

// Stands in for the desktop's file manager and browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
  Q_INVOKABLE void Open(const QUrl& url) { opened << url; }
};

class RecoveryTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::string image_;
  std::map<std::string, std::vector<std::uint8_t>> originals_;
  Host host_;
  std::unique_ptr<QtJobRunner> runner_;
  std::unique_ptr<CVolumeDriver> volume_;
  std::unique_ptr<QSettings> settings_;

  std::string Out(const std::string& name) { return *dir_ / ("out/" + name); }

  // The root folder's list with the named entries selected by clicks.
  void Select(CEntryListCtrl& list, const QStringList& names) {
    QWidget* vp = list.DetailsView()->viewport();
    list.DetailsView()->clearSelection();
    for (int r = 0; r < list.Count(); ++r) {
      if (!names.contains(list.Model()->index(r, 0).data().toString())) continue;
      QRect rect = list.DetailsView()->visualRect(list.Model()->index(r, 0));
      QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rect.center());
    }
    QCOMPARE(list.SelectedCount(), names.size());
  }

  SavingReport Recover(CEntryListCtrl& list, bool openFolder = false) {
    SavingReport report;
    SummaryReader summary(openFolder);
    const bool saved = RecoverEntries(list.SelectedEntries(), *settings_, *runner_, &list, &report);
    if (!saved) report.outcome = SavingOutcome::Failed;
    lastSummary_ = summary.text;
    summaries_ += summary.shown;
    return report;
  }
  QString lastSummary_;
  int summaries_ = 0;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<TempDir>();
    image_ = *dir_ / "fat.img";
    const std::string img = Quote(image_);
    QVERIFY(Sh("truncate -s 32M " + img + " && mkfs.fat -F 16 -s 4 -n RECOVER " + img));
    const std::vector<std::pair<std::string, std::size_t>> files{
        {"a.bin", 100000}, {"b.txt", 1234}, {"docs/c.bin", 70000}, {"docs/sub/d.bin", 4096}, {"gone.bin", 9000}};
    // The FAT reader lists the deleted files of folders below the root;
    // c.bin is one.
    QVERIFY(Sh("mmd -i " + img + " ::/docs ::/docs/sub"));
    std::uint64_t seed = 1;
    for (const auto& [name, size] : files) {
      originals_[name] = RandomBytes(size, seed++);
      const std::string host = *dir_ / ("src" + std::to_string(seed));
      WriteFile(host, originals_[name]);
      QVERIFY(Sh("mcopy -i " + img + " " + Quote(host) + " " + Quote("::/" + name)));
    }
    QVERIFY(Sh("mdel -i " + img + " ::/gone.bin ::/docs/c.bin"));
    fs::create_directories(*dir_ / "out");
    settings_ = std::make_unique<QSettings>(QString::fromStdString(*dir_ / "relictor.ini"), QSettings::IniFormat);
    runner_ = std::make_unique<QtJobRunner>();
    host_.jobs = runner_.get();
    volume_ = OpenFatImage(image_, &host_);
    QVERIFY(volume_);
    volume_->GetRoot()->Populate(true, false, false);
  }

  void savesASelectionAndKeepsTheFolderInTheHistory() {
    CEntryListCtrl list;
    list.resize(700, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&volume_->GetRoot()->children);
    Select(list, {"A.BIN", "B.TXT", "DOCS", "_ONE.BIN"});
    ModalDriver driver;
    QString location, counter;
    driver.Then(SaveInto(QString::fromStdString(*dir_ / "out")));
    // The saving is over too fast to be polled; the dialog is caught as it
    // is shown.
    WindowWatcher watcher([&](QWidget* w) {
      if (w->objectName() == "CWorkerDlg" && w->windowTitle() == "File Saving...")
        location = w->findChild<QLineEdit*>("location")->text();
    });
    SavingReport report = Recover(list);
    QCOMPARE(driver.Left(), std::size_t(0));
    QCOMPARE(location, QString::fromStdString(*dir_ / "out/"));
    QCOMPARE(int(report.outcome), int(SavingOutcome::Finished));
    QCOMPARE(report.total, 4u);
    QCOMPARE(Bytes(Out("A.BIN")), originals_["a.bin"]);
    QCOMPARE(Bytes(Out("B.TXT")), originals_["b.txt"]);
    QCOMPARE(Bytes(Out("DOCS/_.BIN")), originals_["docs/c.bin"]);
    QVERIFY(fs::is_directory(Out("DOCS/SUB")));
    // The deleted file comes back under its name with the replacement
    // character.
    QCOMPARE(Bytes(Out("_ONE.BIN")), originals_["gone.bin"]);

    // The folder went into the history, which the next dialog offers.
    settings_->sync();
    QCOMPARE(settings_->value("Settings/HistoryCombo").toString(), QString::fromStdString(*dir_ / "out"));
    QCOMPARE(settings_->value("Settings/HistoryCombo0").toString(), QString::fromStdString(*dir_ / "out"));
    CRecoveryDlg again(*settings_);
    QCOMPARE(again.Combo()->currentText(), QString::fromStdString(*dir_ / "out"));
    QCOMPARE(again.Combo()->count(), 1);
  }

  void aNewNestedFolderIsCreatedAndTheSummaryOpensIt() {
    CEntryListCtrl list;
    list.resize(700, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&volume_->GetRoot()->children);
    Select(list, {"A.BIN", "B.TXT"});
    const std::string nested = *dir_ / "new/holiday 2020/photos";
    UrlRecorder desktop;
    QDesktopServices::setUrlHandler("file", &desktop, "Open");
    {
      ModalDriver driver;
      driver.Then(SaveInto(QString::fromStdString(nested)));
      const int before = summaries_;
      SavingReport report = Recover(list, true);
      QCOMPARE(driver.Left(), std::size_t(0));
      QCOMPARE(summaries_, before + 1);
      QCOMPARE(int(report.outcome), int(SavingOutcome::Finished));
      QCOMPARE(lastSummary_, QString::fromStdString("2 files saved to " + nested + "."));
      QCOMPARE(Bytes(nested + "/A.BIN"), originals_["a.bin"]);
      QCOMPARE(Bytes(nested + "/B.TXT"), originals_["b.txt"]);
    }
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(nested))});

    // A folder that cannot be made (a file stands in its path), and a name
    // with a control character: one clear message each, and the dialog
    // stays for another choice.
    WriteFile(*dir_ / "blocker", "x");
    const struct {
      std::string folder;
      QString says;
    } refused[] = {{*dir_ / "blocker/sub", "cannot be created"}, {*dir_ / "tab\there", "control characters"}};
    for (const auto& c : refused) {
      ModalDriver driver;
      QString message;
      bool stayed = false;
      // Typed text cannot hold a tab (the key moves the focus); it comes
      // with a paste.
      driver.Then([&](QWidget* w) {
        if (w->objectName() != "CRecoveryDlg") return false;
        QTimer::singleShot(0, w, [w, &c] {
          w->findChild<QComboBox*>("outputFolder")->lineEdit()->setText(QString::fromStdString(c.folder));
          QTest::mouseClick(w->findChild<QPushButton*>("save"), Qt::LeftButton);
        });
        return true;
      });
      driver.Then([&](QWidget* w) {
        MaybeShoot(w, "output-folder-refused");
        return AnswerBox("OK", &message)(w);
      });
      driver.Then([&](QWidget* w) {
        if (w->objectName() != "CRecoveryDlg") return false;
        stayed = true;
        static_cast<QDialog*>(w)->reject();
        return true;
      });
      QCOMPARE(int(Recover(list).outcome), int(SavingOutcome::Failed));  // the dialog was cancelled
      QCOMPARE(driver.Left(), std::size_t(0));
      QVERIFY2(message.contains(c.says), qPrintable(message));
      QVERIFY(stayed);
    }
    QVERIFY(!fs::exists(*dir_ / "blocker/sub"));
  }

  void theSummaryCountsWhatWasSavedShortSkippedAndLeftUnstarted() {
    SavingReport r;
    r.total = 6;
    r.saved.push_back({"C:\\a", "/out/a", 10, 10, {}});
    r.saved.push_back({"C:\\b", "/out/b", 10, 4, {"sector 7 could not be read"}});
    r.skipped.push_back({"C:\\c", "/out/c", "a file of that name exists", false});
    r.incomplete.push_back({"C:\\d", "/out/d", "saving was stopped after 5 of 10 bytes", false});
    QString details;
    r.outcome = SavingOutcome::Stopped;
    QCOMPARE(SavingSummaryText(r, "/out/", &details),
             QString("Saving was cancelled. 1 file had been saved to /out before it.\n"
                     "1 file saved short: parts of them could not be read.\n1 skipped.\n"
                     "1 file left incomplete and removed.\n2 files not started."));
    QCOMPARE(details.split('\n').size(), 3);
    QVERIFY(details.contains("/out/b: sector 7 could not be read"));
    r.outcome = SavingOutcome::Failed;
    r.failure = "/out/d: no space left on device";
    QVERIFY(SavingSummaryText(r, "/out").startsWith("Saving stopped at an error: /out/d: no space left on device\n"
                                                     "1 file had been saved to /out before it."));
    r.outcome = SavingOutcome::Finished;
    r.incomplete.clear();
    QVERIFY(!SavingSummaryText(r, "/").contains("not started"));
    QVERIFY(SavingSummaryText(r, "/").startsWith("1 file saved to /."));
  }

  void overwriteQuestionsAnsweredYesNoAndYesToAll() {
    CEntryListCtrl list;
    list.resize(700, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.SetEntries(&volume_->GetRoot()->children);
    const std::vector<std::uint8_t> junk(10, 0x55);
    auto spoil = [&] {
      WriteFile(Out("A.BIN"), junk);
      WriteFile(Out("B.TXT"), junk);
      WriteFile(Out("DOCS/_.BIN"), junk);
    };

    // Yes: the file is replaced.
    spoil();
    Select(list, {"A.BIN"});
    {
      ModalDriver driver;
      QString question, title;
      driver.Then(SaveInto(QString::fromStdString(*dir_ / "out")));
      driver.Then(AnswerBox("&Yes", &question, &title));
      Recover(list);
      QCOMPARE(driver.Left(), std::size_t(0));
      QCOMPARE(title, QString("Kalvor Relictor"));
      QVERIFY2(question.startsWith("This folder already contains a file called 'A.BIN'"), qPrintable(question));
      QCOMPARE(Bytes(Out("A.BIN")), originals_["a.bin"]);
    }

    // No for the first file, Yes for the second.
    spoil();
    Select(list, {"A.BIN", "B.TXT"});
    {
      ModalDriver driver;
      driver.Then(SaveInto(QString::fromStdString(*dir_ / "out")));
      driver.Then(AnswerBox("&No"));
      driver.Then(AnswerBox("&Yes"));
      SavingReport report = Recover(list);
      QCOMPARE(driver.Left(), std::size_t(0));
      QCOMPARE(Bytes(Out("A.BIN")), junk);
      QCOMPARE(Bytes(Out("B.TXT")), originals_["b.txt"]);
      QCOMPARE(report.saved.size(), std::size_t(1));
    }

    // Yes to All for files: one question for two files; then a folder
    // question is still asked, and Yes to All there writes into it. Sorted
    // descending, the files come before the folder.
    spoil();
    {
      QHeaderView* h = list.DetailsView()->header();
      QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionSize(0) / 2, h->height() / 2));
      QCOMPARE(list.SortDirection(), Qt::DescendingOrder);
    }
    Select(list, {"A.BIN", "B.TXT", "DOCS"});
    {
      ModalDriver driver;
      QString folderQuestion, extra;
      driver.Then(SaveInto(QString::fromStdString(*dir_ / "out")));
      QString fileQuestion;
      driver.Then(AnswerBox("Y&es to All", &fileQuestion));
      driver.Then(AnswerBox("Y&es to All", &folderQuestion));
      // Nothing more may be asked; this step stays unused.
      driver.Then(AnswerBox("&No", &extra));
      Recover(list);
      QCOMPARE(driver.Left(), std::size_t(1));
      QVERIFY(extra.isEmpty());
      QVERIFY2(fileQuestion.startsWith("This folder already contains a file called 'B.TXT'"), qPrintable(fileQuestion));
      QVERIFY2(folderQuestion.startsWith("This folder already contains a folder called 'DOCS'"),
               qPrintable(folderQuestion));
      QCOMPARE(Bytes(Out("A.BIN")), originals_["a.bin"]);
      QCOMPARE(Bytes(Out("B.TXT")), originals_["b.txt"]);
      QCOMPARE(Bytes(Out("DOCS/_.BIN")), originals_["docs/c.bin"]);
    }
  }

  void browseChoosesTheFolder() {
    const std::string other = *dir_ / "browsed";
    fs::create_directories(other);
    CRecoveryDlg dialog(*settings_);
    dialog.show();
    MaybeShoot(&dialog, "files-recovery");
    ModalDriver driver;
    QString title;
    driver.Then([&](QWidget* w) {
      auto* chooser = qobject_cast<QFileDialog*>(w);
      if (!chooser) return false;
      title = chooser->windowTitle();
      QTimer::singleShot(0, chooser, [chooser, other] {
        auto* edit = chooser->findChild<QLineEdit*>("fileNameEdit");
        if (edit) {
          edit->clear();
          QTest::keyClicks(edit, QString::fromStdString(other));
        }
        QTest::keyClick(edit ? static_cast<QWidget*>(edit) : chooser, Qt::Key_Return);
      });
      return true;
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>("browse"), Qt::LeftButton);
    QCOMPARE(title, QString("Select folder"));
    QCOMPARE(dialog.Combo()->currentText(), QString::fromStdString(other + "/"));
    QCOMPARE(dialog.Combo()->itemText(0), QString::fromStdString(other + "/"));
    // A typed folder without its final separator is used as if it had one.
    dialog.Combo()->lineEdit()->clear();
    QTest::keyClicks(dialog.Combo()->lineEdit(), QString::fromStdString(other));
    QTest::mouseClick(dialog.findChild<QPushButton*>("save"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.OutputFolder(), QString::fromStdString(other + "/"));

    // An empty folder is refused with a notice; the dialog stays.
    CRecoveryDlg empty(*settings_);
    empty.show();
    empty.Combo()->lineEdit()->clear();
    ModalDriver notice;
    QString text;
    notice.Then(AnswerBox("OK", &text));
    QTest::mouseClick(empty.findChild<QPushButton*>("save"), Qt::LeftButton);
    QVERIFY(!text.isEmpty());
    QVERIFY(empty.isVisible());
    QVERIFY(empty.OutputFolder().isEmpty());
  }

  void cancelWhileCounting() {
    SlowFolder deep("deep", 5);  // 1365 folders of 20 ms each to count
    const std::string out = *dir_ / "cancel1";
    fs::create_directories(out);
    ModalDriver driver;
    QString status;
    Heartbeat beat;
    // Cancel once the window has served a few timer events while the
    // worker counts.
    driver.Then(OnProgress("File Saving...", [&](QWidget* w) {
      auto* dlg = static_cast<CWorkerDlg*>(w);
      status = dlg->StatusText();
      return status == "Calculating files count..." && !dlg->CurrentItemText().isEmpty() && beat.ticks >= 5;
    }));
    auto started = std::chrono::steady_clock::now();
    SavingReport report = SaveEntries({&deep}, QString::fromStdString(out + "/"), *runner_);
    auto took = std::chrono::steady_clock::now() - started;
    QCOMPARE(driver.Left(), std::size_t(0));
    QVERIFY(runner_->WasCancelled());
    QCOMPARE(int(report.outcome), int(SavingOutcome::Stopped));
    QVERIFY(took < std::chrono::seconds(20));
    QVERIFY(fs::is_empty(out));
    QVERIFY(!IsWorkerRunning());
  }

  void cancelWhileSaving() {
    FakeFolder folder("slow");
    std::vector<SlowFile*> files;
    for (int i = 0; i < 12; ++i)
      files.push_back(folder.Append(std::make_unique<SlowFile>("f" + std::to_string(i) + ".bin",
                                                               RandomBytes(400000, 100 + std::uint64_t(i)))));
    const std::string out = *dir_ / "cancel2";
    ModalDriver driver;
    Heartbeat beat;
    QString counter, fileBar;
    driver.Then(SaveInto(QString::fromStdString(out)));
    driver.Then(OnProgress("File Saving...", [&](QWidget* w) {
      auto* dlg = static_cast<CWorkerDlg*>(w);
      counter = dlg->CounterText();
      if (counter != "3/12" || beat.ticks < 3) return false;
      MaybeShoot(w, "file-saving");
      auto* bar = dlg->findChild<QProgressBar*>("overallBar");
      fileBar = QString::number(bar->maximum());
      return true;
    }));
    SavingReport report;
    SummaryReader summary;
    QVERIFY(RecoverEntries({&folder}, *settings_, *runner_, nullptr, &report));
    QCOMPARE(driver.Left(), std::size_t(0));
    QCOMPARE(fileBar, QString("12"));
    QCOMPARE(int(report.outcome), int(SavingOutcome::Stopped));
    // The files saved before the stop are whole and come first, in order;
    // the one being written is gone again, so that nothing in the folder
    // looks saved that is not; nothing after it was started.
    int whole = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string path = out + "/slow/f" + std::to_string(i) + ".bin";
      if (!fs::exists(path)) continue;
      QCOMPARE(Bytes(path), files[i]->data);
      QCOMPARE(int(i), whole++);
    }
    QVERIFY(whole >= 3);
    QVERIFY(whole < 12);
    QCOMPARE(report.saved.size(), std::size_t(whole));
    QCOMPARE(report.incomplete.size(), std::size_t(1));
    QCOMPARE(summary.shown, 1);
    QCOMPARE(summary.text, QString("Saving was cancelled. %1 files had been saved to %2 before it.\n"
                                   "1 file left incomplete and removed.\n%3 files not started.")
                               .arg(whole)
                               .arg(QString::fromStdString(out))
                               .arg(12 - whole - 1));
    QVERIFY(summary.details.contains(QString::fromStdString(out + "/slow/f" + std::to_string(whole) + ".bin")));
  }

  void anEmptySelectionClosesAtOnce() {
    const std::string out = *dir_ / "none";
    fs::create_directories(out);
    ModalDriver driver;
    driver.Then(OnProgress("File Saving..."));
    SavingReport report = SaveEntries({}, QString::fromStdString(out + "/"), *runner_);
    QCOMPARE(int(report.outcome), int(SavingOutcome::Finished));
    QCOMPARE(report.total, 0u);
    QVERIFY(fs::is_empty(out));
  }

  // An NTFS image mounted with ntfs-3g while the window reads it: Recover
  // into the mount is refused with a notice, before anything is written.
  void anOutputFolderInsideTheMountedImageIsRefused() {
    if (::geteuid() != 0 || !fs::exists("/dev/fuse") || !Sh("command -v ntfs-3g >/dev/null")) {
      QSKIP("mounting the image needs root, /dev/fuse and ntfs-3g");
    }
    const std::string image = *dir_ / "ntfs.img", mnt = *dir_ / "mnt";
    fs::create_directories(mnt);
    QVERIFY(Sh("truncate -s 8M " + Quote(image) + " && mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 0 -S 0 " + Quote(image)));
    QVERIFY(Sh("ntfs-3g " + Quote(image) + " " + Quote(mnt) + " && head -c 5000 /dev/urandom >" +
               Quote(mnt + "/kept.bin") + " && umount " + Quote(mnt)));
    const std::string hash = Sha256(image);
    Host host;
    host.jobs = runner_.get();
    auto volume = OpenNtfsImage(image, &host);
    QVERIFY(volume);
    volume->SetSourcePath(image);  // as the drive list names it
    CDirEntry* kept = ChildNamed(volume->GetRoot(), "kept.bin");
    QVERIFY(kept);
    QVERIFY(Sh("ntfs-3g " + Quote(image) + " " + Quote(mnt)));
    ModalDriver driver;
    QString notice;
    driver.Then(SaveInto(QString::fromStdString(mnt + "/out")));
    driver.Then(AnswerBox("OK", &notice));
    SavingReport report;
    const bool saved = RecoverEntries({kept}, *settings_, *runner_, nullptr, &report);
    const bool written = fs::exists(mnt + "/out");
    Sh("umount " + Quote(mnt));
    QVERIFY(!saved);
    QCOMPARE(driver.Left(), std::size_t(0));
    QVERIFY2(notice.contains("lies on " + QString::fromStdString(image)), qPrintable(notice));
    QVERIFY(!written);
    QCOMPARE(Sha256(image), hash);
  }

  void cleanupTestCase() {
    volume_.reset();
    settings_.reset();
    dir_.reset();
  }
};

RELICTOR_WINDOW_TEST_MAIN(RecoveryTest)
#include "test_recovery.moc"
