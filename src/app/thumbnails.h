#pragma once
// Thumbnails and previews of pictures, made from what a recovery of the
// entry would write.
//
// A thread of the thumbnailer's own reads each file (through its reader's
// SaveData, into memory) and decodes it, so a slow card or a hostile
// picture never stops the window. It reads inside a BackgroundRead
// (app/search_gate.h): it takes the volumes only when no other worker
// holds them, and parks between two pieces of a file whenever the window
// takes a SearchPause, so an entry and its reader are never used by two
// threads at once. The thread holds an entry only from the queue to the end
// of its read; CancelPending ends that read before the window lets go of
// the entries it shows, which may then be freed. Requests and results
// cross between the threads under the thumbnailer's mutex only; the
// interface thread is told by a queued call by name that carries nothing.

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace relictor {

class CFSFile;
class StopEvent;

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
  // Drops the queued files and ends the read under way (waiting for at
  // most one piece of it): the entries they name may go away once the
  // list shows something else.
  void CancelPending();
  // Whether nothing is queued, being read or being decoded.
  bool Idle() const;

 signals:
  // Some thumbnails were made (or found impossible) since the last time.
  void ThumbnailsChanged();

 private slots:
  void DeliverDecoded();

 private:
  struct Job {
    CFSFile* file;
    QString key;
  };
  struct Done {
    QString key;
    QImage image;
  };
  QString KeyOf(CFSFile& file) const;
  void Finish(const QString& key, const QPixmap& pixmap);
  void WorkLoop();

  QSize box_;
  // Interface thread only.
  QCache<QString, QPixmap> made_;  // a null pixmap: the file gave none
  QSet<QString> waiting_;          // queued, being read or being decoded

  // Shared with the thread, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;    // work queued, or the end
  std::condition_variable letGo_;   // the thread let go of the file it read
  std::deque<Job> toRead_;
  CFSFile* reading_ = nullptr;      // the file being read
  QString readingKey_;
  std::shared_ptr<StopEvent> stop_;  // ends the read under way
  std::deque<Done> decoded_;
  bool busy_ = false;               // a file is being read or decoded
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace relictor
