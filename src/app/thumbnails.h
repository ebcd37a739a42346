#pragma once
// Thumbnails and previews of pictures, made from what a recovery of the
// entry would write.
//
// The entry's data are read on the interface thread, one file per timer
// tick, and only when no worker holds the readers (or, during a search,
// inside a SearchPause): an entry and its reader are never used by two
// threads at once. The bytes, a private copy, then go to a decoding thread
// of the thumbnailer's own, so a slow or hostile picture never stops the
// window. Requests and results cross between the two threads under the
// thumbnailer's mutex only; the interface thread is told by a queued call
// by name that carries nothing.

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QSize>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace relictor {

class CFSFile;

// Pictures are read into memory only up to this size, and decoded only
// up to this many pixels; anything larger keeps its usual icon.
inline constexpr std::uint64_t kThumbnailMaxBytes = 32ull << 20;
inline constexpr qint64 kThumbnailMaxPixels = 64ll << 20;

// Whether a file of this name is one of the picture types thumbnails are
// made of (by its extension).
bool IsPictureName(const std::string& name);

// Decodes a picture from memory, scaled down to fit `box` (not enlarged);
// a null image when the bytes are no picture Qt reads, claim more pixels
// than allowed, or do not decode.
QImage DecodePicture(const QByteArray& bytes, QSize box);

class CThumbnailer : public QObject {
  Q_OBJECT

 public:
  explicit CThumbnailer(QSize box, QObject* parent = nullptr);
  ~CThumbnailer() override;
  CThumbnailer(const CThumbnailer&) = delete;
  CThumbnailer& operator=(const CThumbnailer&) = delete;

  QSize Box() const { return box_; }

  // The thumbnail of `file` when it is made; otherwise a null pixmap, and
  // the file is queued (once). `*failed` (when given) tells a file that
  // gave no picture apart from one still waiting.
  QPixmap Thumbnail(CFSFile* file, bool* failed = nullptr);
  // Drops the queued files that are not read yet: the entries they name
  // may go away once the list shows something else.
  void CancelPending();
  // Whether nothing is queued, being read or being decoded.
  bool Idle() const;

 signals:
  // Some thumbnails were made (or found impossible) since the last time.
  void ThumbnailsChanged();

 private slots:
  void ReadNext();
  void DeliverDecoded();

 private:
  struct Job {
    QString key;
    QByteArray bytes;
  };
  struct Done {
    QString key;
    QImage image;
  };
  QString KeyOf(CFSFile& file) const;
  void Finish(const QString& key, const QPixmap& pixmap);
  void DecodeLoop();

  QSize box_;
  // Interface thread only.
  QCache<QString, QPixmap> made_;  // a null pixmap: the file gave none
  QSet<QString> waiting_;          // queued, being read or being decoded
  std::deque<std::pair<CFSFile*, QString>> toRead_;
  QTimer timer_;

  // Shared with the decoding thread, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> toDecode_;
  std::deque<Done> decoded_;
  bool decoding_ = false;
  bool quit_ = false;
  std::thread decoder_;
};

}  // namespace relictor
