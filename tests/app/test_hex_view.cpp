// The hex viewer as a user meets it: files read from a real FAT image,
// rows and addresses, the caret keys at the edges, the wheel, an edit in
// every radix on the private copy, a file larger than the viewer's bound,
// and a file whose clusters cannot be read.

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "app/hex_dump_ctrl.h"
#include "app/hex_view_dlg.h"
#include "panes_support.h"

using namespace relictor;
using namespace relictor::test;
using namespace relictor::test::panes;

namespace {

// A file entry whose SaveData writes a pattern of any length, for sizes no
// image in a test could hold.
class PatternFile final : public CFSFile {
 public:
  explicit PatternFile(std::uint64_t bytes) {
    size = bytes;
    allocatedSize = bytes;
    name = "HUGE.BIN";
  }
  bool SaveData(OutputFile& out, ProgressSink*) override {
    std::vector<std::uint8_t> block(1 << 16);
    for (std::uint64_t done = 0; done < size;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
      for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<std::uint8_t>((done + i) % 251);
      if (!out.Write(block.data(), n)) return false;
      done += n;
      ++writes;
    }
    return true;
  }
  int writes = 0;
};

}  // namespace

class HexViewTest : public QObject {
  Q_OBJECT

 private:
  TempDir dir_;
  std::string image_;
  std::unique_ptr<CFATDriver> volume_;
  std::vector<std::uint8_t> big_;

  CFSFile* File(const std::string& path) {
    return dynamic_cast<CFSFile*>(FindPath(*volume_->GetRoot(), path));
  }

  // Opens the viewer on `file` and runs `check` on it while it is shown;
  // `check` must not close it (the helper does, with the Close button).
  bool View(CFSFile* file, const std::function<void(CHexViewDlg&)>& check, std::uint64_t limit = kHexViewLimit) {
    bool seen = false;
    WhenModal([&](QWidget* w) {
      auto* dlg = qobject_cast<CHexViewDlg*>(w);
      if (dlg) {
        seen = true;
        check(*dlg);
        QTest::mouseClick(dlg->findChild<QPushButton*>("close"), Qt::LeftButton);
      } else {
        w->close();
      }
    });
    bool shown = ViewWithHex(file, nullptr, nullptr, limit);
    return shown && seen;
  }

 private slots:
  void initTestCase() {
    image_ = dir_ / "hex.img";
    QVERIFY(MakeFatImage(image_, 16, "16M", "-s 4"));
    QVERIFY(PutBytes(image_, "/ONE.BIN", {0x41}, dir_.Path().string()));
    big_ = RandomBytes(0x10001, 7);
    QVERIFY(PutBytes(image_, "/EXACT.BIN", std::vector<std::uint8_t>(big_.begin(), big_.begin() + 0x10000),
                     dir_.Path().string()));
    QVERIFY(PutBytes(image_, "/PLUS.BIN", big_, dir_.Path().string()));
    QVERIFY(PutBytes(image_, "/EMPTY.BIN", {}, dir_.Path().string()));
    std::vector<std::uint8_t> every(256);
    for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
    QVERIFY(PutBytes(image_, "/EVERY.BIN", every, dir_.Path().string()));
    QVERIFY(MakeDir(image_, "/SUB"));
    // A FAT volume lists its folders and deleted files: the files are
    // deleted, and their data stay where they were.
    for (const char* f : {"/ONE.BIN", "/EXACT.BIN", "/PLUS.BIN", "/EMPTY.BIN", "/EVERY.BIN"}) QVERIFY(DeleteFile(image_, f));
    volume_ = OpenFatImage(image_);
    QVERIFY(volume_);
  }

  void textsAndAddressDigits() {
    QCOMPARE(AddressDigits(0, 1), 4);
    QCOMPARE(AddressDigits(0, 0x10000), 4);
    QCOMPARE(AddressDigits(0, 0x10001), 5);
    QCOMPARE(AddressDigits(0, 0x100001), 6);
    QCOMPARE(AddressDigits(0xFFFFFFFFFFFFFFFFull, 2), 16);  // no wrap past 64 bits
    QCOMPARE(AddressText(0x12345, 4), std::string(" 2345 "));
    QCOMPARE(ValueText(DumpColumn::Hex, 0x0A, 1), std::string("0A"));
    QCOMPARE(ValueText(DumpColumn::Hex, 0x0A, 2), std::string("000A"));
    QCOMPARE(ValueText(DumpColumn::Dec, 200, 1), std::string("200"));
    QCOMPARE(ValueText(DumpColumn::Bin, 5, 1), std::string("00000101"));
    QCOMPARE(ValueText(DumpColumn::Bin, 0x1234, 2), std::string("00010010-00110100"));
    QCOMPARE(ValueText(DumpColumn::Oct, 15, 1), std::string("17"));
    QCOMPARE(ValueText(DumpColumn::Ascii, 0x01, 1, '.'), std::string("."));
    std::uint32_t v = 0;
    QVERIFY(!ParseEditText(DumpColumn::Dec, "256", 1, v));  // does not fit a byte
    QVERIFY(ParseEditText(DumpColumn::Hex, "fF", 1, v) && v == 0xFF);
    QVERIFY(!ParseEditText(DumpColumn::Oct, "8", 1, v));
  }

  void layoutRule() {
    // 8-pixel characters, Addr + Hex + Ascii: addr (4+2)*8 = 48; hex 24 per
    // unit + 8; ascii 9 per unit + 15. 48 + 8 + 15 + 16 * 33 = 599.
    DumpLayout l = ComputeDumpLayout(dump::kViewerOptions, 8, 599, 0, 100);
    QCOMPARE(l.unitsPerRow, std::uint64_t{16});
    QCOMPARE(l.rows, std::uint64_t{7});
    QCOMPARE(ComputeDumpLayout(dump::kViewerOptions, 8, 598, 0, 100).unitsPerRow, std::uint64_t{15});
    QCOMPARE(ComputeDumpLayout(dump::kViewerOptions, 8, 40, 0, 100).unitsPerRow, std::uint64_t{0});
  }

  void oneByteFile() {
    QVERIFY(View(File("/_NE.BIN"), [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      QVERIFY(dlg.NoteLabel()->isHidden());
      QCOMPARE(d->Units(), std::uint64_t{1});
      QVERIFY(d->Layout().unitsPerRow >= 8);
      QCOMPARE(d->Layout().rows, std::uint64_t{1});
      QCOMPARE(d->RowText(0), std::string("0000 | 41 | A"));
      QCOMPARE(d->Options(), dump::kViewerOptions);
    }));
  }

  // Every byte value once: control characters (tab and line feeds among
  // them) are dots, and each row's character column keeps one cell a byte.
  void controlBytesAreDotsInTheCharacterColumn() {
    QVERIFY(View(File("/_VERY.BIN"), [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      const std::uint64_t perRow = d->Layout().unitsPerRow;
      QVERIFY(perRow > 0);
      QString shown;
      for (std::uint64_t row = 0; row < d->Layout().rows; ++row) {
        const std::string text = d->RowText(row);
        const std::string chars = text.substr(text.rfind(" | ") + 3);
        QCOMPARE(chars.size(), static_cast<std::size_t>(std::min<std::uint64_t>(perRow, 256 - row * perRow)));
        shown += QString::fromLatin1(chars.data(), static_cast<qsizetype>(chars.size()));
      }
      QCOMPARE(shown.size(), 256);
      for (int b = 0; b < 256; ++b) {
        const bool control = b < 0x20 || (b >= 0x7F && b <= 0x9F);
        QVERIFY2(shown[b] == (control ? QChar('.') : QChar(b)), qPrintable(QString::number(b, 16)));
      }
    }));
  }

  void addressDigitsAtTheEdge() {
    QVERIFY(View(File("/_XACT.BIN"), [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      QCOMPARE(d->Layout().addressDigits, 4);
      QTest::keyClick(d, Qt::Key_End, Qt::ControlModifier);
      QCOMPARE(d->Caret(), std::uint64_t{0xFFFF});
      const std::uint64_t lastRow = d->Layout().rows - 1;
      QVERIFY(d->RowText(lastRow).rfind(ValueText(DumpColumn::Hex, static_cast<std::uint32_t>(0xFFFF - 0xFFFF % d->Layout().unitsPerRow), 2), 0) == 0);
    }));
    QVERIFY(View(File("/_LUS.BIN"), [this](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      QCOMPARE(d->Layout().addressDigits, 5);
      const std::uint64_t upr = d->Layout().unitsPerRow;
      QCOMPARE(d->Layout().rows, (0x10001 + upr - 1) / upr);
      QVERIFY(d->RowText(0).rfind("00000 | ", 0) == 0);
      // The bytes are the file's.
      std::uint32_t v = 0;
      QVERIFY(d->ReadUnit(0x10000, false, v));
      QCOMPARE(v, std::uint32_t{big_[0x10000]});
    }));
  }

  void caretKeysAtTheEdges() {
    QVERIFY(View(File("/_LUS.BIN"), [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      const std::uint64_t upr = d->Layout().unitsPerRow;
      const std::uint64_t units = d->Units();
      d->setFocus();
      QTest::keyClick(d, Qt::Key_Left);
      QCOMPARE(d->Caret(), std::uint64_t{0});
      QTest::keyClick(d, Qt::Key_Up);
      QCOMPARE(d->Caret(), std::uint64_t{0});
      QTest::keyClick(d, Qt::Key_PageUp);
      QCOMPARE(d->Caret(), std::uint64_t{0});
      QTest::keyClick(d, Qt::Key_End);
      QCOMPARE(d->Caret(), upr - 1);
      QTest::keyClick(d, Qt::Key_Right);
      QCOMPARE(d->Caret(), upr);
      QTest::keyClick(d, Qt::Key_Home);
      QCOMPARE(d->Caret(), upr);
      QTest::keyClick(d, Qt::Key_Down);
      QCOMPARE(d->Caret(), 2 * upr);
      QTest::keyClick(d, Qt::Key_PageDown);
      QCOMPARE(d->Caret(), 2 * upr + upr * d->VisibleRows());
      QVERIFY(d->TopRow() > 0);
      QCOMPARE(d->TopUnit() % upr, std::uint64_t{0});
      QTest::keyClick(d, Qt::Key_End, Qt::ControlModifier);
      QCOMPARE(d->Caret(), units - 1);
      QCOMPARE(d->TopRow() + d->VisibleRows(), d->Layout().rows);  // the last row is on screen
      QTest::keyClick(d, Qt::Key_Right);
      QCOMPARE(d->Caret(), units - 1);
      QTest::keyClick(d, Qt::Key_Down);
      QCOMPARE(d->Caret(), units - 1);
      QTest::keyClick(d, Qt::Key_PageDown);
      QCOMPARE(d->Caret(), units - 1);
      QTest::keyClick(d, Qt::Key_End);
      QCOMPARE(d->Caret(), units - 1);
      QTest::keyClick(d, Qt::Key_Home);
      QCOMPARE(d->Caret(), (units - 1) - (units - 1) % upr);
      QTest::keyClick(d, Qt::Key_Home, Qt::ControlModifier);
      QCOMPARE(d->Caret(), std::uint64_t{0});
      QCOMPARE(d->TopRow(), std::uint64_t{0});
    }));
  }

  void wheelScrollsWholeRows() {
    QVERIFY(View(File("/_LUS.BIN"), [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      const QPoint at = d->viewport()->rect().center();
      QWheelEvent down(at, d->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
      QApplication::sendEvent(d->viewport(), &down);
      QVERIFY(d->TopRow() > 0);
      QCOMPARE(d->TopUnit() % d->Layout().unitsPerRow, std::uint64_t{0});
      QCOMPARE(d->verticalScrollBar()->value(), static_cast<int>(d->TopRow()));
      QWheelEvent up(at, d->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
      QApplication::sendEvent(d->viewport(), &up);
      QCOMPARE(d->TopRow(), std::uint64_t{0});
    }));
  }

  void editInEveryRadixChangesOnlyTheCopy() {
    CFSFile* file = File("/_LUS.BIN");
    QVERIFY(View(file, [](CHexViewDlg& dlg) {
      MFCDumpCtrl* d = dlg.Dump();
      std::uint32_t v = 0;
      // Hex: double-click the first value, type lower case, Enter.
      QTest::mouseDClick(d->viewport(), Qt::LeftButton, Qt::NoModifier, d->CellCenter(DumpColumn::Hex, 0));
      QVERIFY(d->IsEditing());
      QLineEdit* ed = d->Editor();
      ed->selectAll();
      QTest::keyClicks(ed, "7g");  // g is not a hexadecimal digit
      QCOMPARE(ed->text(), QString("7"));
      QTest::keyClicks(ed, "f");
      QCOMPARE(ed->text(), QString("7F"));
      QTest::keyClick(ed, Qt::Key_Return);
      QVERIFY(!d->IsEditing());
      QVERIFY(dlg.isVisible());  // Enter did not close the viewer
      QVERIFY(d->ReadUnit(0, false, v) && v == 0x7F);
      // Dec on unit 1: Ctrl+D switches the editor's radix.
      QTest::mouseDClick(d->viewport(), Qt::LeftButton, Qt::NoModifier, d->CellCenter(DumpColumn::Hex, 1));
      ed = d->Editor();
      QTest::keyClick(ed, Qt::Key_D, Qt::ControlModifier);
      QCOMPARE(d->Editor()->Column(), DumpColumn::Dec);
      ed->selectAll();
      QTest::keyClicks(ed, "2a00");  // letters refused; "200" stays
      QCOMPARE(ed->text(), QString("200"));
      QTest::keyClick(ed, Qt::Key_Enter);
      QVERIFY(d->ReadUnit(1, false, v) && v == 200);
      // A decimal value that does not fit a byte keeps the editor open.
      QTest::mouseDClick(d->viewport(), Qt::LeftButton, Qt::NoModifier, d->CellCenter(DumpColumn::Hex, 2));
      ed = d->Editor();
      QTest::keyClick(ed, Qt::Key_D, Qt::ControlModifier);
      ed->selectAll();
      QTest::keyClicks(ed, "999");
      QTest::keyClick(ed, Qt::Key_Return);
      QVERIFY(d->IsEditing());
      // Bin.
      QTest::keyClick(ed, Qt::Key_B, Qt::ControlModifier);
      ed->selectAll();
      QTest::keyClicks(ed, "10201");
      QCOMPARE(ed->text(), QString("1001"));
      QTest::keyClick(ed, Qt::Key_Return);
      QVERIFY(d->ReadUnit(2, false, v) && v == 9);
      // Oct, then Tab commits and moves to the Ascii column of the same unit.
      QTest::mouseDClick(d->viewport(), Qt::LeftButton, Qt::NoModifier, d->CellCenter(DumpColumn::Hex, 3));
      ed = d->Editor();
      QVERIFY(ed->geometry().contains(d->CellCenter(DumpColumn::Hex, 3)));  // over its cell
      QVERIFY(!ed->geometry().contains(d->CellCenter(DumpColumn::Hex, 0)));
      QTest::keyClick(ed, Qt::Key_O, Qt::ControlModifier);
      ed->selectAll();
      QTest::keyClicks(ed, "1789");
      QCOMPARE(ed->text(), QString("17"));
      QTest::keyClick(ed, Qt::Key_Tab);
      QVERIFY(d->ReadUnit(3, false, v) && v == 15);
      QVERIFY(d->IsEditing());
      QCOMPARE(d->Editor()->Column(), DumpColumn::Ascii);
      QCOMPARE(d->Caret(), std::uint64_t{3});
      // Ascii via Ctrl+A on the next unit: any character.
      QTest::keyClick(d->Editor(), Qt::Key_Escape);
      QVERIFY(!d->IsEditing());
      QVERIFY(dlg.isVisible());  // Escape closed the editor, not the viewer
      QTest::mouseDClick(d->viewport(), Qt::LeftButton, Qt::NoModifier, d->CellCenter(DumpColumn::Hex, 4));
      ed = d->Editor();
      QTest::keyClick(ed, Qt::Key_A, Qt::ControlModifier);
      ed->selectAll();
      QTest::keyClicks(ed, "Zq");
      QCOMPARE(ed->text(), QString("Z"));
      QTest::keyClick(ed, Qt::Key_Return);
      QVERIFY(d->ReadUnit(4, false, v) && v == 'Z');
      QCOMPARE(d->RowText(0).substr(0, 23), std::string("00000 | 7F C8 09 0F 5A "));
    }));
    // The file and a second viewing are untouched.
    QVERIFY(View(file, [this](CHexViewDlg& dlg) {
      std::uint32_t v = 0;
      QVERIFY(dlg.Dump()->ReadUnit(0, false, v));
      QCOMPARE(v, std::uint32_t{big_[0]});
    }));
  }

  void foldersAndEmptyFilesAreNotViewed() {
    QVERIFY(!CanViewWithHex(FindPath(*volume_->GetRoot(), "/SUB")));
    QVERIFY(!CanViewWithHex(File("/_MPTY.BIN")));
    QVERIFY(CanViewWithHex(File("/_NE.BIN")));
    QVERIFY(!ViewWithHex(FindPath(*volume_->GetRoot(), "/SUB"), nullptr));
    QVERIFY(!ViewWithHex(File("/_MPTY.BIN"), nullptr));
  }

  void fileLargerThanTheBoundShowsItsFirstPart() {
    QVERIFY(View(File("/_LUS.BIN"), [this](CHexViewDlg& dlg) {
      QCOMPARE(dlg.Dump()->Units(), std::uint64_t{0x8000});
      QVERIFY(dlg.NoteLabel()->isVisible());
      QVERIFY(dlg.NoteLabel()->text().contains("65537 bytes long"));
      std::uint32_t v = 0;
      QVERIFY(dlg.Dump()->ReadUnit(0x7FFF, false, v) && v == big_[0x7FFF]);
    }, 0x8000));
  }

  void sizesAbove4GiBNeverWrap() {
    // 4 GiB + 16 bytes: the low 32 bits alone would say 16.
    PatternFile huge((std::uint64_t{1} << 32) + 16);
    HexViewData data = ReadForHexView(huge, 1 << 20);
    QCOMPARE(data.bytes.size(), std::size_t{1} << 20);
    QVERIFY(data.truncated);
    QVERIFY(!data.failed);
    QCOMPARE(data.fileSize, (std::uint64_t{1} << 32) + 16);
    QVERIFY(QString::fromStdString(data.Note()).contains("4294967312 bytes long"));
    QCOMPARE(huge.writes, 16);  // the read stopped at the bound
    QCOMPARE(data.bytes[300], std::uint8_t{300 % 251});
  }

  void unreadableClustersGiveAClearMessage() {
    // The file's clusters lie in the part of the image that is cut off.
    const std::string cut = dir_ / "cut.img";
    QVERIFY(MakeFatImage(cut, 16, "16M", "-s 4"));
    QVERIFY(PutBytes(cut, "/PAD.BIN", std::vector<std::uint8_t>(8 << 20, 1), dir_.Path().string()));
    QVERIFY(PutBytes(cut, "/LATE.BIN", RandomBytes(100000, 3), dir_.Path().string()));
    QVERIFY(DeleteFile(cut, "/LATE.BIN"));
    QVERIFY(Sh("truncate -s 8M " + Quote(cut)));
    auto vol = OpenFatImage(cut);
    QVERIFY(vol);
    auto* late = dynamic_cast<CFSFile*>(FindPath(*vol->GetRoot(), "/_ATE.BIN"));
    QVERIFY(late);
    QString message;
    WhenModal([&](QWidget* w) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) message = box->text();
      w->close();
    });
    QVERIFY(!ViewWithHex(late, nullptr));
    QVERIFY2(message.contains("could not be read"), qPrintable(message));
  }
};

RELICTOR_PANES_TEST_MAIN(HexViewTest)
#include "test_hex_view.moc"
