#include "app/thumbnails.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cctype>

#include "app/search_gate.h"
#include "model/entry.h"
#include "model/output_file.h"
#include "worker/worker.h"

namespace relictor {
namespace {

// At most this many thumbnails are kept (a large-icon screenful is a few
// dozen).
constexpr int kCachedThumbnails = 2000;

// Memory that keeps what a reader's SaveData writes, up to the cap, and
// where the read stops at a safe point after each piece: the window may
// take the volumes there, and a stop ends the read.
class PictureOutput final : public OutputFile {
 public:
  explicit PictureOutput(search_gate::BackgroundRead& read) : read_(read) {}
  bool Write(const void* data, std::size_t length) override {
    if (length > kThumbnailMaxBytes - bytes_.size()) {
      tooLarge_ = true;
      return false;
    }
    bytes_.append(static_cast<const char*>(data), static_cast<qsizetype>(length));
    Count(length);
    // A failed write makes the reader return at once, touching neither the
    // entry nor the volume again.
    return read_.SafePoint();
  }
  bool SetLength(std::uint64_t length) override {
    if (length > kThumbnailMaxBytes) {
      tooLarge_ = true;
      return false;
    }
    bytes_.resize(static_cast<qsizetype>(length), '\0');
    return true;
  }
  bool TooLarge() const { return tooLarge_; }
  QByteArray& Bytes() { return bytes_; }

 private:
  search_gate::BackgroundRead& read_;
  QByteArray bytes_;
  bool tooLarge_ = false;
};

// Reads `file` into memory, on the thumbnailer's thread; empty when it is
// empty, larger than the cap, cannot be read, or `stop` was signalled.
QByteArray ReadPicture(CFSFile& file, const std::shared_ptr<StopEvent>& stop) {
  // The readers' own stop tests answer from this read's event.
  StopScope scope(stop);
  search_gate::BackgroundRead read(*stop);
  if (!read.Holding()) return {};
  const std::uint64_t size = file.GetSize();
  if (size == 0 || size > kThumbnailMaxBytes) return {};
  PictureOutput out(read);
  const bool ok = file.SaveData(out, nullptr);
  if (!ok || out.TooLarge() || stop->IsSignalled()) return {};
  return std::move(out.Bytes());
}

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
  thread_ = std::thread([this] { WorkLoop(); });
}

CThumbnailer::~CThumbnailer() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    if (stop_) stop_->Signal();
  }
  wake_.notify_all();
  thread_.join();
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
    {
      std::lock_guard lock(mutex_);
      toRead_.push_back(Job{file, key});
    }
    wake_.notify_one();
  }
  return {};
}

void CThumbnailer::CancelPending() {
  std::unique_lock lock(mutex_);
  for (const Job& job : toRead_) waiting_.remove(job.key);
  toRead_.clear();
  if (!reading_) return;
  // The read ends at its next safe point, parked or not; no result comes
  // of it.
  waiting_.remove(readingKey_);
  stop_->Signal();
  letGo_.wait(lock, [this] { return reading_ == nullptr; });
}

bool CThumbnailer::Idle() const {
  std::lock_guard lock(mutex_);
  return waiting_.isEmpty() && toRead_.empty() && decoded_.empty() && !busy_;
}

void CThumbnailer::Finish(const QString& key, const QPixmap& pixmap) {
  waiting_.remove(key);
  made_.insert(key, new QPixmap(pixmap));
}

void CThumbnailer::WorkLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !toRead_.empty(); });
    if (quit_) return;
    Job job = std::move(toRead_.front());
    toRead_.pop_front();
    auto stop = std::make_shared<StopEvent>();
    reading_ = job.file;
    readingKey_ = job.key;
    stop_ = stop;
    busy_ = true;
    lock.unlock();
    QByteArray bytes = ReadPicture(*job.file, stop);
    lock.lock();
    reading_ = nullptr;
    stop_.reset();
    letGo_.notify_all();
    if (stop->IsSignalled()) {
      // Cancelled: the key is no longer waited for.
      busy_ = false;
      continue;
    }
    lock.unlock();
    QImage image = bytes.isEmpty() ? QImage() : DecodePicture(bytes, box_);
    bytes.clear();
    lock.lock();
    busy_ = false;
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
