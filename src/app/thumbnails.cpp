#include "app/thumbnails.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cctype>

#include "app/hex_view_dlg.h"
#include "app/search_gate.h"
#include "model/entry.h"
#include "worker/worker.h"

namespace relictor {
namespace {

// How often queued files are read: often enough to fill a screen of
// icons in a moment, seldom enough to leave the window responsive.
constexpr int kReadInterval = 15;
// While a worker holds the readers, the queue waits this long between
// looks.
constexpr int kBusyInterval = 250;
// At most this many thumbnails are kept (a large-icon screenful is a few
// dozen).
constexpr int kCachedThumbnails = 2000;

}  // namespace

bool IsPictureName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* known : {"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tga", "pcx"})
    if (ext == known) return true;
  return false;
}

QImage DecodePicture(const QByteArray& bytes, QSize box) {
  QByteArray data = bytes;  // the buffer needs a byte array of its own
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  const QSize size = reader.size();
  // The header's own claim is checked before a single pixel is made.
  if (!size.isValid() || size.isEmpty() || qint64{size.width()} * size.height() > kThumbnailMaxPixels) return {};
  // A format that can decode at a smaller size (JPEG) does so, which is
  // much faster for photos; the last step below scales smoothly.
  if (reader.supportsOption(QImageIOHandler::ScaledSize) && (size.width() > 2 * box.width() || size.height() > 2 * box.height()))
    reader.setScaledSize(size.scaled(box * 2, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.width() > box.width() || image.height() > box.height())
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

CThumbnailer::CThumbnailer(QSize box, QObject* parent) : QObject(parent), box_(box) {
  made_.setMaxCost(kCachedThumbnails);
  timer_.setInterval(kReadInterval);
  connect(&timer_, &QTimer::timeout, this, &CThumbnailer::ReadNext);
  decoder_ = std::thread([this] { DecodeLoop(); });
}

CThumbnailer::~CThumbnailer() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  decoder_.join();
}

QString CThumbnailer::KeyOf(CFSFile& file) const {
  // The address tells entries apart while they live; the name, size and
  // time keep a new entry at a freed address from taking an old picture.
  return QStringLiteral("%1|%2|%3|%4")
      .arg(reinterpret_cast<quintptr>(&file), 0, 16)
      .arg(QString::fromStdString(file.name))
      .arg(file.size)
      .arg(static_cast<qint64>(file.modified));
}

QPixmap CThumbnailer::Thumbnail(CFSFile* file, bool* failed) {
  if (failed) *failed = false;
  if (!file) return {};
  const QString key = KeyOf(*file);
  if (QPixmap* made = made_.object(key)) {
    if (failed) *failed = made->isNull();
    return *made;
  }
  if (!waiting_.contains(key)) {
    waiting_.insert(key);
    toRead_.emplace_back(file, key);
    if (!timer_.isActive()) timer_.start(kReadInterval);
  }
  return {};
}

void CThumbnailer::CancelPending() {
  for (const auto& [file, key] : toRead_) waiting_.remove(key);
  toRead_.clear();
}

bool CThumbnailer::Idle() const {
  std::lock_guard lock(mutex_);
  return waiting_.isEmpty() && toDecode_.empty() && decoded_.empty() && !decoding_;
}

void CThumbnailer::Finish(const QString& key, const QPixmap& pixmap) {
  waiting_.remove(key);
  made_.insert(key, new QPixmap(pixmap));
}

void CThumbnailer::ReadNext() {
  if (toRead_.empty()) {
    timer_.stop();
    return;
  }
  // A worker other than a search owns the readers (a scan, a save): the
  // files wait until it is done. A search lets go of them at a pause.
  if (IsWorkerRunning() && !search_gate::IsSearching()) {
    timer_.setInterval(kBusyInterval);
    return;
  }
  timer_.setInterval(kReadInterval);
  auto [file, key] = toRead_.front();
  toRead_.pop_front();
  std::uint64_t size = 0;
  {
    SearchPause pause(nullptr);
    size = file->GetSize();
  }
  QByteArray bytes;
  if (size != 0 && size <= kThumbnailMaxBytes) {
    HexViewData data = ReadForHexView(*file, kThumbnailMaxBytes, nullptr);
    if (!data.failed && !data.stopped && !data.truncated && !data.bytes.empty())
      bytes = QByteArray(reinterpret_cast<const char*>(data.bytes.data()), static_cast<qsizetype>(data.bytes.size()));
  }
  if (bytes.isEmpty()) {
    Finish(key, QPixmap());
    emit ThumbnailsChanged();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    toDecode_.push_back(Job{key, std::move(bytes)});
  }
  wake_.notify_one();
}

void CThumbnailer::DecodeLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !toDecode_.empty(); });
    if (quit_) return;
    Job job = std::move(toDecode_.front());
    toDecode_.pop_front();
    decoding_ = true;
    lock.unlock();
    QImage image = DecodePicture(job.bytes, box_);
    job.bytes.clear();
    lock.lock();
    decoding_ = false;
    decoded_.push_back(Done{std::move(job.key), std::move(image)});
    lock.unlock();
    // The call carries nothing: the results wait under the mutex.
    QMetaObject::invokeMethod(this, "DeliverDecoded", Qt::QueuedConnection);
    lock.lock();
  }
}

void CThumbnailer::DeliverDecoded() {
  std::deque<Done> done;
  {
    std::lock_guard lock(mutex_);
    done.swap(decoded_);
  }
  if (done.empty()) return;
  for (Done& d : done) Finish(d.key, d.image.isNull() ? QPixmap() : QPixmap::fromImage(d.image));
  emit ThumbnailsChanged();
}

}  // namespace relictor
