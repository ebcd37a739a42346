// Thumbnails in Large Icons and the preview pane, from deleted files of a
// real FAT image: the pictures shown are decodes of the original files'
// bytes; pictures that lie about their size, are cut short or are no
// pictures keep their usual icons; text files preview their first bytes.

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTest>

#include <atomic>

#include "app/entry_list_ctrl.h"
#include "app/hex_view_dlg.h"
#include "app/list_test_support.h"
#include "app/preview_pane.h"
#include "app/thumbnails.h"
#include "panes_support.h"
#include "worker/worker.h"

using namespace relictor;
using namespace relictor::test;
using namespace relictor::test::panes;

namespace {

quint32 Crc32(const QByteArray& bytes) {
  quint32 crc = 0xFFFFFFFFu;
  for (char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<std::uint8_t> Bytes(const QByteArray& a) { return {a.begin(), a.end()}; }

QByteArray Encoded(const QImage& image, const char* format) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, 90);
  return out;
}

// A picture with detail in both directions, so a wrong scale or a shifted
// byte shows in the pixels.
QImage Drawing(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x ^ y) & 0xFF));
  return image;
}

// A PNG whose header claims `side` by `side` pixels and holds nothing more.
QByteArray PngClaiming(quint32 side) {
  QByteArray ihdr("IHDR");
  for (quint32 v : {side, side}) {
    for (int s = 24; s >= 0; s -= 8) ihdr.append(static_cast<char>((v >> s) & 0xFF));
  }
  ihdr.append("\x08\x02\x00\x00\x00", 5);
  QByteArray png("\x89PNG\r\n\x1a\n", 8);
  png.append(QByteArray("\x00\x00\x00\x0d", 4));
  png.append(ihdr);
  const quint32 crc = Crc32(ihdr);
  for (int s = 24; s >= 0; s -= 8) png.append(static_cast<char>((crc >> s) & 0xFF));
  return png;
}

QImage Pixels(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_RGB32); }
QImage Pixels(const QImage& i) { return i.convertToFormat(QImage::Format_RGB32); }

}  // namespace

class ThumbnailTest : public QObject {
  Q_OBJECT

  TempDir dir_;
  std::string image_;
  std::unique_ptr<CFATDriver> volume_;
  QByteArray png_, jpeg_, bmp_;
  const QByteArray text_ = "Shopping list\n\tbread\r\n\tmilk \xc3\xa9\xc3\xa8\n";

  QModelIndex RowNamed(CEntryListCtrl& list, const QString& name) {
    for (int r = 0; r < list.Model()->rowCount(); ++r)
      if (list.Model()->index(r, 0).data().toString() == name) return list.Model()->index(r, 0);
    return {};
  }

 private slots:
  void initTestCase() {
    image_ = dir_ / "pictures.img";
    QVERIFY(MakeFatImage(image_, 16, "16M", "-s 4"));
    png_ = Encoded(Drawing(300, 200), "PNG");
    jpeg_ = Encoded(Drawing(640, 480), "JPG");
    bmp_ = Encoded(Drawing(50, 40), "BMP");
    QVERIFY(!png_.isEmpty() && !jpeg_.isEmpty() && !bmp_.isEmpty());
    const std::string work = dir_.Path().string();
    QVERIFY(PutBytes(image_, "/BEACH.PNG", Bytes(png_), work));
    QVERIFY(PutBytes(image_, "/PHOTO.JPG", Bytes(jpeg_), work));
    QVERIFY(PutBytes(image_, "/SMALL.BMP", Bytes(bmp_), work));
    QVERIFY(PutBytes(image_, "/HUGE.PNG", Bytes(PngClaiming(100000)), work));
    QVERIFY(PutBytes(image_, "/CUT.JPG", Bytes(jpeg_.left(300)), work));
    QVERIFY(PutBytes(image_, "/NOT.GIF", RandomBytes(5000, 3), work));
    QVERIFY(PutBytes(image_, "/NOTES.TXT", Bytes(text_), work));
    QVERIFY(PutBytes(image_, "/DATA.BIN", RandomBytes(9000, 5), work));
    // The list shows a FAT volume's deleted files: every file is deleted.
    for (const char* f : {"/BEACH.PNG", "/PHOTO.JPG", "/SMALL.BMP", "/HUGE.PNG", "/CUT.JPG", "/NOT.GIF", "/NOTES.TXT",
                          "/DATA.BIN"})
      QVERIFY(DeleteFile(image_, f));
    volume_ = OpenFatImage(image_);
    QVERIFY(volume_);
  }

  void largeIconsShowDecodesOfTheFilesOwnData() {
    CEntryListCtrl list;
    list.resize(700, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    CDirectory* root = volume_->GetRoot();
    FindPath(*root, "_MALL.BMP");  // reads the folder
    list.SetEntries(&root->children);
    // Details make no thumbnails.
    QVERIFY(!list.Thumbnails());
    list.SetViewMode(CEntryListCtrl::kLargeIcons);
    QVERIFY(list.Thumbnails());
    list.grab();  // the view asks for the icons it paints
    QVERIFY(panes::WaitFor([&] { return list.Thumbnails()->Idle(); }, 20000));

    const QSize box = list.Thumbnails()->Box();
    auto thumbnail = [&](const char* name) { return RowNamed(list, name).data(EntryListModel::ThumbnailRole).value<QPixmap>(); };
    // A picture smaller than the box: exactly the original's pixels.
    QVERIFY(!thumbnail("_MALL.BMP").isNull());
    QCOMPARE(Pixels(thumbnail("_MALL.BMP")), Pixels(QImage::fromData(bmp_)));
    // Larger ones: the decode of the original file's bytes, scaled down.
    for (auto [name, bytes] : {std::pair{"_EACH.PNG", png_}, std::pair{"_HOTO.JPG", jpeg_}}) {
      QVERIFY2(!thumbnail(name).isNull(), name);
      QCOMPARE(Pixels(thumbnail(name)), Pixels(DecodePicture(bytes, box)));
    }
    QCOMPARE(thumbnail("_HOTO.JPG").size(), QSize(64, 48));
    QCOMPARE(thumbnail("_EACH.PNG").width(), 64);
    // The icon the view draws is the thumbnail.
    QCOMPARE(Pixels(RowNamed(list, "_EACH.PNG").data(Qt::DecorationRole).value<QIcon>().pixmap(box)), Pixels(thumbnail("_EACH.PNG")));
    // What does not decode keeps its icon.
    for (const char* name : {"_UGE.PNG", "_UT.JPG", "_OT.GIF", "_ATA.BIN", "_OTES.TXT"})
      QVERIFY2(thumbnail(name).isNull(), name);
    relictor::test::MaybeShoot(&list, "large-icons-thumbnails");

    // Back in Details, icons again; a new folder drops what was queued.
    list.SetViewMode(CEntryListCtrl::kDetails);
    QVERIFY(RowNamed(list, "_EACH.PNG").data(EntryListModel::ThumbnailRole).isNull());
  }

  // While a worker reads the volume (a save, a scan), the list reads none
  // of its files for thumbnails; they are made once it has ended. Under
  // ThreadSanitizer a read from both threads would be reported.
  void noThumbnailIsReadWhileAWorkerHoldsTheReaders() {
    class ReadingTask : public WorkerTask {
     public:
      ReadingTask(std::vector<CFSFile*> files, std::atomic<bool>& release) : files_(std::move(files)), release_(release) {}
      bool Step() override {
        for (CFSFile* f : files_) {
          BoundedMemoryOutput out(1 << 20, 1 << 20);
          f->SaveData(out, nullptr);
        }
        return release_.load();
      }

     private:
      std::vector<CFSFile*> files_;
      std::atomic<bool>& release_;
    };
    CDirectory* root = volume_->GetRoot();
    FindPath(*root, "_MALL.BMP");
    std::vector<CFSFile*> files;
    for (auto& c : root->children)
      if (auto* f = dynamic_cast<CFSFile*>(c.get())) files.push_back(f);
    std::atomic<bool> release{false};
    ReadingTask task(files, release);
    CEntryListCtrl list;
    list.resize(700, 400);
    list.show();
    list.SetEntries(&root->children);
    QVERIFY(StartWorker(task));
    list.SetViewMode(CEntryListCtrl::kLargeIcons);
    list.grab();
    QTest::qWait(300);
    QVERIFY(!list.Thumbnails()->Idle());
    QVERIFY(RowNamed(list, "_EACH.PNG").data(EntryListModel::ThumbnailRole).isNull());
    release = true;
    QVERIFY(panes::WaitFor([] { return !IsWorkerRunning(); }, 20000));
    StopWorker();  // joins the ended worker's thread
    QVERIFY(panes::WaitFor([&] { return list.Thumbnails()->Idle(); }, 20000));
    QVERIFY(!RowNamed(list, "_EACH.PNG").data(EntryListModel::ThumbnailRole).isNull());
  }

  void decodingIsBoundedInPixels() {
    const QSize box(64, 64);
    QVERIFY(DecodePicture(PngClaiming(100000), box).isNull());
    QVERIFY(DecodePicture(PngClaiming(0), box).isNull());
    QVERIFY(DecodePicture(QByteArray(), box).isNull());
    QVERIFY(!DecodePicture(png_, box).isNull());
  }

  void previewShowsPicturesAndTheStartOfTextFiles() {
    CPreviewPane pane;
    pane.resize(400, 300);
    pane.show();
    CDirectory* root = volume_->GetRoot();

    pane.ShowEntry(FindPath(*root, "_OTES.TXT"));
    QCOMPARE(pane.Shows(), CPreviewPane::Showing::Text);
    QCOMPARE(pane.Text()->toPlainText(), QString::fromUtf8(text_).replace("\r\n", "\n"));

    pane.ShowEntry(FindPath(*root, "_EACH.PNG"));
    QVERIFY(panes::WaitFor([&] { return pane.Shows() == CPreviewPane::Showing::Picture; }, 20000));
    QCOMPARE(Pixels(pane.ShownPicture()), Pixels(QImage::fromData(png_)));
    // A pane smaller than the picture shows all of it, scaled down.
    pane.resize(200, 300);
    QVERIFY(pane.Picture()->pixmap().width() <= 200);
    QVERIFY(pane.Picture()->pixmap().height() < 200);
    relictor::test::MaybeShoot(&pane, "preview-picture");

    for (const char* name : {"_ATA.BIN", "_UGE.PNG"}) {
      pane.ShowEntry(FindPath(*root, name));
      QVERIFY(panes::WaitFor([&] { return pane.Shows() == CPreviewPane::Showing::Note && !pane.Note()->text().startsWith("Reading"); }, 20000));
    }
    pane.ShowEntry(root);
    QCOMPARE(pane.Shows(), CPreviewPane::Showing::Note);
  }

  void textIsToldFromBinary_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("text");
    QTest::newRow("plain") << QByteArray("abc\r\n\tdef\f") << true;
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << true;
    QTest::newRow("cut in a character") << QByteArray("caf\xc3") << true;
    QTest::newRow("cut in a long character") << QByteArray("x\xe2\x82") << true;
    QTest::newRow("NUL") << QByteArray("ab\0cd", 5) << false;
    QTest::newRow("Latin-1") << QByteArray("caf\xe9 au lait") << false;
    QTest::newRow("escape") << QByteArray("a\x1b[0m") << false;
  }
  void textIsToldFromBinary() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, text);
    QCOMPARE(LooksLikeText(bytes), text);
  }
};

RELICTOR_PANES_TEST_MAIN(ThumbnailTest)
#include "test_thumbnails.moc"
