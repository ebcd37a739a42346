#pragma once
// The preview pane (View > Preview): the selected picture, or the start of
// the selected text file, from what a recovery of the entry would write.

#include <QPixmap>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QStackedLayout;

namespace relictor {

class CDirEntry;
class CFSFile;
class CThumbnailer;

// How much of a text file the pane shows.
inline constexpr std::uint64_t kPreviewTextBytes = 4096;

class CPreviewPane : public QWidget {
  Q_OBJECT

 public:
  explicit CPreviewPane(QWidget* parent = nullptr);

  // Shows `entry` (null, a folder or several selected: a short note).
  void ShowEntry(CDirEntry* entry);
  // What the pane shows now.
  enum class Showing { Note, Picture, Text };
  Showing Shows() const { return showing_; }
  QLabel* Picture() const { return picture_; }
  // The picture as decoded, before it is fitted into the pane.
  const QPixmap& ShownPicture() const { return shown_; }
  QPlainTextEdit* Text() const { return text_; }
  QLabel* Note() const { return note_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitPicture();
  void ShowNote(const QString& text);
  void ShowPicture();
  void ShowText(CFSFile& file);

  QStackedLayout* stack_;
  QLabel* note_;
  QLabel* picture_;
  QPlainTextEdit* text_;
  CThumbnailer* pictures_;
  CFSFile* file_ = nullptr;  // the picture being waited for
  QPixmap shown_;
  Showing showing_ = Showing::Note;
};

// Whether bytes look like text: no NUL and valid UTF-8, except for a
// character cut off at the end.
bool LooksLikeText(const QByteArray& bytes);

}  // namespace relictor
