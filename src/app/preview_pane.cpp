#include "app/preview_pane.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QStringDecoder>

#include "app/entry_list_model.h"
#include "app/hex_view_dlg.h"
#include "app/search_gate.h"
#include "app/thumbnails.h"
#include "model/entry.h"
#include "worker/worker.h"

namespace relictor {
namespace {

// Pictures are decoded for the pane at up to this size.
constexpr int kPreviewSide = 640;

}  // namespace

bool LooksLikeText(const QByteArray& bytes) {
  if (bytes.contains('\0')) return false;
  // A multi-byte character may be cut off at the end of what was read.
  qsizetype end = bytes.size();
  for (qsizetype back = 1; back <= 3 && back <= end; ++back) {
    const auto b = static_cast<unsigned char>(bytes[end - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (b >= 0xC0) end -= back;        // the start of a character that may be cut off
    break;
  }
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes.left(end));
  if (decoder.hasError()) return false;
  // Control characters other than tabs, line ends and form feeds say binary.
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') return false;
  }
  return true;
}

CPreviewPane::CPreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("previewPane"));
  stack_ = new QStackedLayout(this);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("previewNote"));
  note_->setAlignment(Qt::AlignCenter);
  note_->setWordWrap(true);
  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("previewPicture"));
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(1, 1);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("previewText"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  stack_->addWidget(note_);
  stack_->addWidget(picture_);
  stack_->addWidget(text_);
  pictures_ = new CThumbnailer(QSize(kPreviewSide, kPreviewSide), this);
  connect(pictures_, &CThumbnailer::ThumbnailsChanged, this, &CPreviewPane::ShowPicture);
  ShowNote(tr("Select a file to preview it."));
}

void CPreviewPane::ShowNote(const QString& text) {
  shown_ = QPixmap();
  picture_->clear();
  note_->setText(text);
  stack_->setCurrentWidget(note_);
  showing_ = Showing::Note;
}

void CPreviewPane::ShowEntry(CDirEntry* entry) {
  pictures_->CancelPending();
  file_ = nullptr;
  auto* file = dynamic_cast<CFSFile*>(entry);
  if (!file) {
    ShowNote(tr("Select a file to preview it."));
    return;
  }
  std::uint64_t size = 0;
  {
    SearchPause pause(nullptr);
    size = file->GetSize();
  }
  if (size == 0) {
    ShowNote(tr("The file is empty."));
    return;
  }
  if (IsPictureName(file->name)) {
    file_ = file;
    ShowNote(tr("Reading the picture..."));
    ShowPicture();
    return;
  }
  ShowText(*file);
}

void CPreviewPane::ShowPicture() {
  if (!file_) return;
  bool failed = false;
  QPixmap picture = pictures_->Thumbnail(file_, &failed);
  if (failed) {
    file_ = nullptr;
    ShowNote(tr("This picture cannot be shown: its data do not decode (the file may be overwritten or too large)."));
    return;
  }
  if (picture.isNull()) return;  // still being read or decoded
  file_ = nullptr;
  shown_ = picture;
  stack_->setCurrentWidget(picture_);
  showing_ = Showing::Picture;
  FitPicture();
}

void CPreviewPane::FitPicture() {
  if (shown_.isNull()) return;
  // Smaller than the pane: as it is; larger: scaled down to fit.
  const QSize room = picture_->contentsRect().size().boundedTo(size());
  if (room.isEmpty() || (shown_.width() <= room.width() && shown_.height() <= room.height()))
    picture_->setPixmap(shown_);
  else
    picture_->setPixmap(shown_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void CPreviewPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitPicture();
}

void CPreviewPane::ShowText(CFSFile& file) {
  // A worker other than a search owns the readers (a scan, a save).
  if (IsWorkerRunning() && !search_gate::IsSearching()) {
    ShowNote(tr("No preview while the program is busy."));
    return;
  }
  HexViewData read = ReadForHexView(file, kPreviewTextBytes, nullptr);
  const QByteArray bytes(reinterpret_cast<const char*>(read.bytes.data()), static_cast<qsizetype>(read.bytes.size()));
  if (read.failed || bytes.isEmpty()) {
    ShowNote(tr("The file's data cannot be read."));
    return;
  }
  if (!LooksLikeText(bytes)) {
    ShowNote(tr("No preview for this kind of file."));
    return;
  }
  text_->setPlainText(QString::fromUtf8(bytes));
  stack_->setCurrentWidget(text_);
  showing_ = Showing::Text;
}

}  // namespace relictor
