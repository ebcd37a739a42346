#pragma once
// "View With Hex": a file entry's bytes, read into memory exactly as a
// recovery would write them, shown in the dump control. Edits change only
// the command's private copy and are gone when the viewer closes.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "model/entry.h"
#include "model/output_file.h"
#include "worker/frontend.h"

class QLabel;
class QPushButton;

namespace relictor {

class MFCDumpCtrl;

// The viewer reads at most this much of a file. A larger file opens with
// its first part and a note saying so, instead of allocating the whole.
inline constexpr std::uint64_t kHexViewLimit = std::uint64_t{256} << 20;
// Files above this size are read on the worker behind a progress display
// that can stop the read; smaller ones are read at once.
inline constexpr std::uint64_t kHexViewWorkerThreshold = std::uint64_t{16} << 20;

// Memory that keeps the first `limit` bytes written to it. A write past the
// limit keeps what fits and fails, which ends the reader's copy early; the
// caller then knows from Truncated() that this was the limit and not a
// failing disk.
class BoundedMemoryOutput final : public OutputFile {
 public:
  BoundedMemoryOutput(std::uint64_t limit, std::uint64_t expected);
  bool Write(const void* data, std::size_t length) override;
  bool SetLength(std::uint64_t length) override;
  bool Truncated() const { return truncated_; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  std::uint64_t limit_;
  bool truncated_ = false;
  std::vector<std::uint8_t> bytes_;
};

// What the viewer shows of a file.
struct HexViewData {
  std::vector<std::uint8_t> bytes;  // the command's private copy
  std::uint64_t fileSize = 0;       // the entry's size, all 64 bits of it
  bool truncated = false;           // only the first kHexViewLimit bytes were read
  bool stopped = false;             // the user stopped the read
  bool failed = false;              // nothing could be read
  std::vector<std::string> problems;  // the reader's words about a short read
  // The note above the dump (empty when the whole file is shown), or the
  // message when nothing could be read.
  std::string Note() const;
};

// Reads up to `limit` bytes of `file` through its SaveData; large files go
// through `runner` (when given) so that the read shows progress and can be
// stopped.
HexViewData ReadForHexView(CFSFile& file, std::uint64_t limit = kHexViewLimit, JobRunner* runner = nullptr);

class CHexViewDlg final : public QDialog {
  Q_OBJECT

 public:
  // `bytes` is borrowed and must outlive the dialog; `note` is shown above
  // the dump when not empty.
  CHexViewDlg(std::uint8_t* bytes, std::uint64_t length, const QString& note, QWidget* parent = nullptr);
  MFCDumpCtrl* Dump() const { return dump_; }
  QLabel* NoteLabel() const { return note_; }

 private:
  MFCDumpCtrl* dump_;
  QLabel* note_;
  QPushButton* close_;
};

// The "View With Hex..." command on one entry: does nothing for a folder,
// an empty file or one without allocated size; reads the file; shows a
// clear message when nothing could be read; otherwise runs the viewer
// modally. True when the viewer was shown.
bool ViewWithHex(CDirEntry* entry, QWidget* parent, JobRunner* runner = nullptr,
                 std::uint64_t limit = kHexViewLimit);

// Whether the command is enabled for an entry: a file whose size is not 0.
bool CanViewWithHex(CDirEntry* entry);

}  // namespace relictor
