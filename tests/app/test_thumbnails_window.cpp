// Thumbnails of a folder of photos on a slow card, in the whole window: the
// files are read on the thumbnailer's thread, never on the window's, so the
// event loop keeps turning while a large photo comes in; and meanwhile the
// user opens folders, the hex view and the preview, saves a file and runs a
// search, each with its usual result. The card tells when two threads read
// it at once, and ThreadSanitizer any other use of the volume by two.

#include <QBuffer>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/entry_list_ctrl.h"
#include "app/entry_list_model.h"
#include "app/hex_dump_ctrl.h"
#include "app/hex_view_dlg.h"
#include "app/main_frame.h"
#include "app/panes.h"
#include "app/preview_pane.h"
#include "app/search_panes.h"
#include "app/thumbnails.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app/list_test_support.h"
#include "app_test_support.h"
#include "panes_support.h"
#include "volume/sector_source.h"

using namespace relictor;
using namespace relictor::test;

namespace {

// A card that gives about 2 MB a second. It counts the reads made on the
// window's thread, and the reads that began while another thread's read
// was under way: the volume's reader is never to be used by two threads at
// once.
class SlowCard final : public SectorSource {
 public:
  explicit SlowCard(SectorSourcePtr inner) : inner_(std::move(inner)) {}
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) ++windowReads;
    if (inUse_.fetch_add(1) > 0) ++overlaps;
    std::this_thread::sleep_for(std::chrono::microseconds(length / 2));
    const bool ok = inner_->ReadAt(offset, buffer, length);
    --inUse_;
    return ok;
  }
  std::uint64_t Size() const override { return inner_->Size(); }
  std::uint32_t SectorSize() const override { return inner_->SectorSize(); }
  std::string Describe() const override { return inner_->Describe(); }

  std::atomic<int> windowReads{0};
  std::atomic<int> overlaps{0};

 private:
  SectorSourcePtr inner_;
  std::atomic<int> inUse_{0};
};

QByteArray Encoded(const QImage& image, const char* format, int quality) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return out;
}

// A photo of noise, which no encoder makes small.
QImage Noise(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  quint32 x = 12345;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      x = x * 1103515245u + 12345u;
      image.setPixel(c, r, qRgb((x >> 8) & 0xFF, (x >> 16) & 0xFF, ((x >> 24) + c) & 0xFF));
    }
  return image;
}

std::vector<std::uint8_t> Bytes(const QByteArray& a) { return {a.begin(), a.end()}; }
QImage Pixels(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace

class ThumbnailsWindowTest : public QObject {
  Q_OBJECT

  std::string image_;
  QByteArray big_, beach_;
  const QByteArray notes_ = "Holiday 2024\nbeach, museum, harbour\n";

  static QModelIndex IndexOf(CEntryListCtrl* list, const QString& name) {
    for (int r = 0; r < list->Model()->rowCount(); ++r)
      if (list->Model()->index(r, 0).data().toString() == name) return list->Model()->index(r, 0);
    return {};
  }
  static void ClickRow(CEntryListCtrl* list, const QString& name) {
    QAbstractItemView* view = list->CurrentView();
    const QModelIndex index = IndexOf(list, name);
    QVERIFY2(index.isValid(), qPrintable(name));
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    QCOMPARE(list->SelectedCount(), 1);
  }
  static QPixmap ThumbnailOf(CEntryListCtrl* list, const QString& name) {
    return IndexOf(list, name).data(EntryListModel::ThumbnailRole).value<QPixmap>();
  }

 private slots:
  void initTestCase() {
    InstallPaneHooks(DefaultFrameHooks());
    image_ = apptest::Scratch() / "card.img";
    QVERIFY(panes::MakeFatImage(image_, 16, "32M", "-s 4"));
    big_ = Encoded(Noise(2000, 1500), "JPG", 98);
    beach_ = Encoded(Noise(300, 200), "PNG", -1);
    // Reading it takes the card well over a second.
    QVERIFY2(big_.size() > (3 << 20) && big_.size() < (16 << 20), qPrintable(QString::number(big_.size())));
    const std::string work = apptest::Scratch().Path().string();
    QVERIFY(panes::MakeDir(image_, "/DCIM"));
    QVERIFY(panes::MakeDir(image_, "/DOCS"));
    QVERIFY(panes::PutBytes(image_, "/DCIM/BIG.JPG", Bytes(big_), work));
    QVERIFY(panes::PutBytes(image_, "/DCIM/BEACH.PNG", Bytes(beach_), work));
    QVERIFY(panes::PutBytes(image_, "/DCIM/NOTES.TXT", Bytes(notes_), work));
    QVERIFY(panes::PutBytes(image_, "/DOCS/A.TXT", Bytes(notes_), work));
    for (const char* f : {"/DCIM/BIG.JPG", "/DCIM/BEACH.PNG", "/DCIM/NOTES.TXT", "/DOCS/A.TXT"})
      QVERIFY(panes::DeleteFile(image_, f));
  }

  void thumbnailsAreReadOffTheWindowWhileTheUserGoesOn() {
    apptest::Window window({QString::fromStdString(image_)});
    CMainFrame* frame = window.Frame();
    frame->resize(1000, 700);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    CVolumeDriver* volume = frame->Document()->GetDrives().front();
    auto card = std::make_shared<SlowCard>(volume->GetDevice());
    volume->SetDevice(card);

    QTreeWidgetItem* drive = apptest::FindNode(frame, {"C:"});
    QVERIFY(drive);
    apptest::ExpandNode(frame, drive);
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:", "DCIM"}));
    CEntryListCtrl* list = frame->View()->List();
    frame->Action(CMainFrame::Command::kLargeIcons)->trigger();
    QVERIFY(list->Thumbnails());
    apptest::Heartbeat heart;
    heart.Restart();

    // The pictures are being read, and the window reads nothing of them.
    card->windowReads = 0;
    QTest::qWait(400);
    QVERIFY(!list->Thumbnails()->Idle());
    QCOMPARE(card->windowReads.load(), 0);

    // Another folder and back: the read under way ends, the list follows.
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:", "DOCS"}));
    QVERIFY(IndexOf(list, "_.TXT").isValid());
    apptest::ClickNode(frame, apptest::FindNode(frame, {"C:", "DCIM"}));
    QVERIFY(IndexOf(list, "_IG.JPG").isValid());
    QVERIFY(!list->Thumbnails()->Idle());

    // The hex view of the text file shows its bytes.
    ClickRow(list, "_OTES.TXT");
    QByteArray dumped;
    auto hexShown = apptest::WhenDialogShows(QStringLiteral("ViewWithHex"), [&dumped](QDialog* d) {
      MFCDumpCtrl* dump = static_cast<CHexViewDlg*>(d)->Dump();
      for (std::uint64_t i = 0; i < dump->Units(); ++i) {
        std::uint32_t v = 0;
        if (dump->ReadUnit(i, false, v)) dumped.append(static_cast<char>(v));
      }
      d->accept();
    });
    frame->Action(CMainFrame::Command::kViewHex)->trigger();
    QVERIFY(*hexShown);
    QCOMPARE(dumped, notes_);

    // Saving it: the thumbnails wait while the save owns the card.
    const std::string out = apptest::Scratch() / "saved";
    auto asked = apptest::WhenDialogShows(QStringLiteral("CRecoveryDlg"), [out](QDialog* d) {
      auto* combo = d->findChild<QComboBox*>(QStringLiteral("outputFolder"));
      combo->lineEdit()->clear();
      QTest::keyClicks(combo->lineEdit(), QString::fromStdString(out));
      QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("save")), Qt::LeftButton);
    });
    auto summed = apptest::WhenDialogShows(QStringLiteral("SavingSummary"), [](QDialog* d) { d->accept(); });
    frame->Action(CMainFrame::Command::kRecover)->trigger();
    QVERIFY(*asked);
    QVERIFY(panes::WaitFor([&] { return *summed; }, 20000));
    QCOMPARE(ReadFile(out + "/_OTES.TXT"), Bytes(notes_));

    // The preview shows the small picture once its turn comes.
    frame->Action(CMainFrame::Command::kPreview)->trigger();
    auto* preview = frame->findChild<CPreviewPane*>();
    QVERIFY(preview);
    ClickRow(list, "_EACH.PNG");
    QVERIFY(panes::WaitFor([&] { return preview->Shows() == CPreviewPane::Showing::Picture; }, 30000));
    QCOMPARE(Pixels(preview->ShownPicture()), QImage::fromData(beach_).convertToFormat(QImage::Format_RGB32));

    // A search over the card finds both photos while the thumbnails go on.
    frame->Action(CMainFrame::Command::kSearch)->trigger();
    auto* search = qobject_cast<CSearchDlg*>(frame->SearchPane());
    QVERIFY(search);
    search->PatternEdit()->clear();
    QTest::keyClicks(search->PatternEdit(), "*.*G");
    QTest::mouseClick(search->SearchButton(), Qt::LeftButton);
    QVERIFY(panes::WaitFor([&] { return !search->Searching(); }, 30000));
    QStringList found;
    for (CDirEntry* e : frame->SearchResultList()->Model()->Entries()) found << QString::fromStdString(e->name);
    found.sort();
    QCOMPARE(found, (QStringList{"_EACH.PNG", "_IG.JPG"}));

    // Every thumbnail is a decode of its file's own bytes.
    QVERIFY(panes::WaitFor([&] { return list->Thumbnails()->Idle(); }, 60000));
    const QSize box = list->Thumbnails()->Box();
    QCOMPARE(Pixels(ThumbnailOf(list, "_IG.JPG")), Pixels(QPixmap::fromImage(DecodePicture(big_, box))));
    QCOMPARE(Pixels(ThumbnailOf(list, "_EACH.PNG")), Pixels(QPixmap::fromImage(DecodePicture(beach_, box))));
    QVERIFY(ThumbnailOf(list, "_OTES.TXT").isNull());
    QCOMPARE(card->overlaps.load(), 0);
    qInfo("longest pause of the event loop: %lld ms", heart.Longest());
    // The event loop never stood still for as long as the card takes to
    // give the large photo (well over a second).
    QVERIFY2(heart.Longest() < 1000, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(heart.Longest())));
    relictor::test::MaybeShoot(frame, "thumbnails-slow-card");
  }
};

RELICTOR_APP_TEST_MAIN(ThumbnailsWindowTest)
#include "test_thumbnails_window.moc"
