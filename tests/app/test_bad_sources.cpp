// Sources that fail, lie or overwhelm: a path that cannot be opened, bytes
// that hold no volume, a FAT whose chains loop, a folder past the end of a
// truncated image, names with control characters and invalid UTF-8, and a
// folder of 100,000 files. The window neither crashes nor hangs, and tells
// the user what to do where the user must act.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "support/test_support.h"
#include "volume/driver.h"

using apptest::ChildTexts;
using apptest::ClickNode;
using apptest::FindNode;
using relictor::test::Quote;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The offset of the first occurrence of `pattern` in `bytes` at or after
// `from`, or npos.
std::size_t Find(const Bytes& bytes, const std::string& pattern, std::size_t from = 0) {
  auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), pattern.begin(), pattern.end());
  return it == bytes.end() ? std::string::npos : static_cast<std::size_t>(it - bytes.begin());
}

QString Path(const std::string& p) { return QString::fromStdString(p); }

bool NoControlCharacters(const QString& text) {
  return std::none_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

}  // namespace

class BadSourcesTest : public QObject {
  Q_OBJECT

 private slots:
  void aPathThatCannotBeOpenedIsNamedInOneMessage() {
    apptest::Window window({QStringLiteral("/nonexistent/disk.img")});
    QCOMPARE(window.Problems().size(), 1);
    QVERIFY2(window.Problems().front().contains(QStringLiteral("/nonexistent/disk.img: no such file or device")),
             qPrintable(window.Problems().front()));
    QCOMPARE(window.Frame()->NavigationPane()->RootItem()->childCount(), 0);
    QVERIFY(!window.Frame()->View()->IsListShown());
  }

  void aDeviceTheUserMayNotReadSaysHowToGoOn() {
    // Root reads every file, so the engine's sentence for a refused open
    // is given as the engine words it.
    QString text = ExplainOpenProblem(
        QStringLiteral("/dev/sdb: permission denied: run as root, or open an image of the device"));
    QVERIFY(text.startsWith(QStringLiteral("You may not read /dev/sdb.")));
    QVERIFY(text.contains(QStringLiteral("with the rights to read it")));
    QVERIFY(text.contains(QStringLiteral("dd if=/dev/sdb of=disk.img")));
    QVERIFY(text.contains(QStringLiteral("File > Open Image...")));
    QCOMPARE(ExplainOpenProblem(QStringLiteral("x.img: no such file or device")),
             QStringLiteral("x.img: no such file or device"));
  }

  void blockDevicesTheUserMayNotOpenAreNamed() {
    // A system folder with three devices: one readable, one refused, one
    // whose node is missing. Only the refused one is named.
    std::string sys = apptest::Scratch() / "sysblock";
    std::string dev = apptest::Scratch() / "devnodes";
    QVERIFY(QDir().mkpath(QString::fromStdString(sys + "/sdx")) && QDir().mkpath(QString::fromStdString(sys + "/sdy")) &&
            QDir().mkpath(QString::fromStdString(sys + "/sdz")) && QDir().mkpath(QString::fromStdString(dev)));
    relictor::test::WriteFile(dev + "/sdx", std::string("readable"));
    relictor::test::WriteFile(dev + "/sdy", std::string("refused"));
    QVERIFY(::chmod((dev + "/sdx").c_str(), 0644) == 0);
    QVERIFY(::chmod((dev + "/sdy").c_str(), 0) == 0);
    QVERIFY(::chmod(apptest::Scratch().Path().c_str(), 0755) == 0);
    auto check = [&] {
      QStringList refused = RefusedBlockDevices(QString::fromStdString(sys), QString::fromStdString(dev));
      return refused == QStringList{QString::fromStdString(dev + "/sdy")};
    };
    if (::geteuid() != 0) {
      QVERIFY(check());
      return;
    }
    // Root opens everything: the check runs in a child that drops to an
    // unprivileged user first.
    pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
      bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
  }

  void bytesThatHoldNoVolumeAreReportedAndTheOtherSourcesStillOpen() {
    std::string noise = apptest::Scratch() / "noise.img";
    relictor::test::WriteFile(noise, relictor::test::RandomBytes(1 << 20, 7));
    std::string fat = apptest::Scratch() / "fat-a.img";
    QVERIFY(apptest::MakeFatImage(fat));
    apptest::Window window({Path(noise), Path(fat)});
    QCOMPARE(window.Problems().size(), 1);
    QVERIFY2(window.Problems().front().contains(QStringLiteral("no FAT or NTFS volume")),
             qPrintable(window.Problems().front()));
    QCOMPARE(ChildTexts(window.Frame()->NavigationPane()->RootItem()), QStringList{QStringLiteral("C:\\ (TESTFAT)")});
  }

  void openImageAddsItsVolumesAndSelectsTheFirst() {
    std::string fat = apptest::Scratch() / "fat-b.img";
    QVERIFY(apptest::MakeFatImage(fat));
    QVERIFY(apptest::Shell("MTOOLS_SKIP_CHECK=1 mlabel -i " + Quote(fat) + " ::SECOND"));
    apptest::Window window({Path(apptest::Scratch() / "fat-a.img")});
    CMainFrame* frame = window.Frame();
    frame->OpenImage(Path(fat));
    QCOMPARE(ChildTexts(frame->NavigationPane()->RootItem()),
             (QStringList{QStringLiteral("C:\\ (TESTFAT)"), QStringLiteral("D:\\ (SECOND)")}));
    QTreeWidgetItem* selected = frame->NavigationPane()->SelectedNode();
    QCOMPARE(selected->text(0), QStringLiteral("D:\\ (SECOND)"));
    QVERIFY(frame->View()->IsListShown());
    QCOMPARE(frame->Document()->SourceOf(frame->Document()->GetDrives().back()), Path(fat));
    // Opening a path that fails adds nothing and says why.
    QString message = apptest::RunAndCloseMessageBox([frame] { frame->OpenImage(QStringLiteral("/no/such.img")); });
    QVERIFY(message.contains(QStringLiteral("/no/such.img")));
    QCOMPARE(frame->NavigationPane()->RootItem()->childCount(), 2);
  }

  void loopingFatChainsNeitherHangNorCrash() {
    std::string img = apptest::Scratch() / "loop32.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(img) + " && truncate -s 40M " + Quote(img) + " && mkfs.fat -F 32 -s 1 -n LOOPS " +
                           Quote(img) + " >/dev/null && mmd -i " + Quote(img) + " ::/A ::/A/B && printf x > " +
                           Quote(img + ".txt") + " && mcopy -i " + Quote(img) + " " + Quote(img + ".txt") +
                           " ::/A/B/f.txt"));
    Bytes bytes = relictor::test::ReadFile(img);
    QVERIFY(bytes.size() > 4096);
    std::size_t reserved = bytes[14] | (bytes[15] << 8);
    std::size_t fat = reserved * 512;
    // The root's chain (cluster 2) and folder A's chain (cluster 3) each
    // point back at themselves.
    for (std::size_t cluster : {2u, 3u}) {
      std::uint32_t self = static_cast<std::uint32_t>(cluster);
      std::memcpy(&bytes[fat + cluster * 4], &self, 4);
    }
    relictor::test::WriteFile(img, bytes);
    apptest::Window window({Path(img)});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = FindNode(frame, {"C:\\"});
    QVERIFY(drive);
    QElapsedTimer clock;
    clock.start();
    apptest::ExpandNode(frame, drive);
    // Every folder but the lost-files folder, whose first read asks for a
    // scan range.
    for (int i = 0; i < drive->childCount(); ++i) {
      if (drive->child(i)->text(0) != QStringLiteral("LostFiles")) apptest::ExpandNode(frame, drive->child(i));
    }
    QTreeWidgetItem* a = FindNode(frame, {"C:\\", "A"});
    if (a) {
      ClickNode(frame, a);
      QVERIFY(frame->View()->IsListShown());
    }
    QVERIFY(clock.elapsed() < 60000);
  }

  void aFolderPastTheEndOfATruncatedImageShowsEmpty() {
    std::string img = apptest::Scratch() / "cut.img";
    std::string filler = apptest::Scratch() / "filler.bin";
    std::string note = apptest::Scratch() / "note.txt";
    relictor::test::WriteFile(filler, relictor::test::RandomBytes(8 << 20, 3));
    relictor::test::WriteFile(note, std::string("late\n"));
    QVERIFY(apptest::Shell("rm -f " + Quote(img) + " && truncate -s 32M " + Quote(img) + " && mkfs.fat -F 16 -s 4 -n CUT " +
                           Quote(img) + " >/dev/null && mcopy -i " + Quote(img) + " " + Quote(filler) +
                           " ::/filler.bin && mmd -i " + Quote(img) + " ::/LATE && mcopy -i " + Quote(img) + " " +
                           Quote(note) + " ::/LATE/gone.txt && mdel -i " + Quote(img) + " ::/LATE/gone.txt"));
    // LATE's own cluster begins with its "." entry; the image is cut just
    // before it, so reading the folder fails.
    Bytes bytes = relictor::test::ReadFile(img);
    std::size_t dot = Find(bytes, std::string(".          \x10", 12), 1 << 20);
    QVERIFY(dot != std::string::npos);
    bytes.resize(dot / 512 * 512);
    relictor::test::WriteFile(img, bytes);
    apptest::Window window({Path(img)});
    // The truncation is told at start; the volume still opens.
    QCOMPARE(window.Problems().size(), 1);
    QVERIFY2(window.Problems().front().contains(QStringLiteral("truncated")), qPrintable(window.Problems().front()));
    CMainFrame* frame = window.Frame();
    apptest::ExpandNode(frame, FindNode(frame, {"C:\\"}));
    QTreeWidgetItem* late = FindNode(frame, {"C:\\", "LATE"});
    QVERIFY(late);
    ClickNode(frame, late);
    QCOMPARE(frame->NavigationPane()->SelectedNode(), late);
    QVERIFY(frame->View()->IsListShown());
    QCOMPARE(frame->View()->List()->Count(), 0);
    QCOMPARE(frame->StatusText(), QStringLiteral("0 Object(s)"));
    apptest::ExpandNode(frame, late);
    QCOMPARE(late->childCount(), 0);
  }

  void controlCharactersAndInvalidUtf8InNamesAreShownSafely() {
    std::string img = apptest::Scratch() / "names.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(img) + " && truncate -s 4M " + Quote(img) + " && mkfs.fat -F 12 -s 4 -n NAMES " +
                           Quote(img) + " >/dev/null && mmd -i " + Quote(img) + " ::/QQQQQQQQ ::/QQQQQQQQ/RRRRRRRR"));
    Bytes bytes = relictor::test::ReadFile(img);
    for (const char* shortName : {"QQQQQQQQ   ", "RRRRRRRR   "}) {
      std::size_t at = Find(bytes, shortName);
      QVERIFY(at != std::string::npos);
      // A control character, a lone continuation byte and a lone lead
      // byte in the middle of the short name.
      bytes[at + 1] = 0x07;
      bytes[at + 2] = 0x80;
      bytes[at + 3] = 0xE2;
      bytes[at + 4] = 0x0A;
    }
    relictor::test::WriteFile(img, bytes);
    apptest::Window window({Path(img)});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = FindNode(frame, {"C:\\"});
    apptest::ExpandNode(frame, drive);
    QTreeWidgetItem* odd = nullptr;
    for (int i = 0; i < drive->childCount(); ++i) {
      if (drive->child(i)->text(0).startsWith('Q')) odd = drive->child(i);
    }
    QVERIFY2(odd, qPrintable(ChildTexts(drive).join('|')));
    QVERIFY(NoControlCharacters(odd->text(0)));
    apptest::ExpandNode(frame, odd);
    QCOMPARE(odd->childCount(), 1);
    QVERIFY(NoControlCharacters(odd->child(0)->text(0)));
    ClickNode(frame, odd);
    QCOMPARE(frame->View()->List()->Count(), 1);
    QString row = frame->View()->List()->Model()->index(0, 0).data().toString();
    QVERIFY(row.startsWith('R'));
    QVERIFY(NoControlCharacters(row));
    apptest::DoubleClickRow(frame, 0);
    QCOMPARE(frame->NavigationPane()->SelectedNode(), odd->child(0));
  }

  void aFolderOfAHundredThousandFilesShowsAtOnce() {
    std::string img = apptest::Scratch() / "big.img";
    QVERIFY(apptest::Shell("rm -f " + Quote(img) + " && truncate -s 400M " + Quote(img) +
                           " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L BIG " + Quote(img) + " 2>&1"));
    std::string script = apptest::Scratch() / "big.script";
    relictor::test::WriteFile(script, std::string("mkdir /big\nmkfiles /big 100000 f 0\nmkdir /big/inner\n"
                                                  "delete /big/f000500\n"));
    QVERIFY(apptest::Shell("SOURCE_DATE_EPOCH=1700000000 " + Quote(relictor::test::NtfsFixturePath()) + " " +
                           Quote(img) + " " + Quote(script)));
    apptest::Window window({Path(img)});
    CMainFrame* frame = window.Frame();
    QTreeWidgetItem* drive = FindNode(frame, {"C:\\"});
    QVERIFY(drive);
    // Reading the root loads the MFT behind "Scanning...", which closes
    // by itself when done.
    apptest::ExpandNode(frame, drive);
    QTreeWidgetItem* big = FindNode(frame, {"C:\\", "big"});
    QVERIFY2(big, qPrintable(ChildTexts(drive).join('|')));
    ClickNode(frame, big);
    auto* folder = dynamic_cast<relictor::CDirectory*>(CFoldersTreeDlg::EntryOf(big));
    QVERIFY(folder);
    QCOMPARE(folder->children.size(), std::size_t{100001});
    QCOMPARE(frame->View()->List()->Count(), 100001);
    QCOMPARE(frame->StatusText(), QStringLiteral("100001 Object(s)"));
    // Folders come first; the one deleted file is there, marked.
    QCOMPARE(frame->View()->List()->Model()->index(0, 0).data().toString(), QStringLiteral("inner"));
    QVERIFY(apptest::RowOf(frame, QStringLiteral("f000500")) > 0);
    apptest::ExpandNode(frame, big);
    QCOMPARE(ChildTexts(big), QStringList{QStringLiteral("inner")});
    frame->Action(CMainFrame::Command::kSelectAll)->trigger();
    QCOMPARE(frame->View()->List()->SelectedCount(), 100001);
  }
};

RELICTOR_APP_TEST_MAIN(BadSourcesTest)
#include "test_bad_sources.moc"
