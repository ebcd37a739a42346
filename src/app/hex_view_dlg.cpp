#include "app/hex_view_dlg.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

#include "app/hex_dump_ctrl.h"
#include "app/search_gate.h"
#include "volume/driver.h"

namespace relictor {
namespace {

// One step reads the whole file.
class HexReadTask final : public WorkerTask {
 public:
  HexReadTask(CFSFile& file, BoundedMemoryOutput& out) : WorkerTask(true), file_(file), out_(out) {}
  bool Step() override {
    ok_ = file_.SaveData(out_, Progress());
    return true;
  }
  bool Ok() const { return ok_; }

 private:
  CFSFile& file_;
  BoundedMemoryOutput& out_;
  bool ok_ = false;
};


}  // namespace

BoundedMemoryOutput::BoundedMemoryOutput(std::uint64_t limit, std::uint64_t expected) : limit_(limit) {
  bytes_.reserve(static_cast<std::size_t>(std::min(limit, expected)));
}

bool BoundedMemoryOutput::Write(const void* data, std::size_t length) {
  const std::uint64_t room = limit_ - bytes_.size();
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(room, length));
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + take);
  Count(take);
  if (take < length) {
    // The rest is not wanted; failing the write ends the reader's copy
    // instead of letting it read a file of any size to the end.
    truncated_ = true;
    return false;
  }
  return true;
}

bool BoundedMemoryOutput::SetLength(std::uint64_t length) {
  if (length > limit_) {
    truncated_ = true;
    length = limit_;
  }
  bytes_.resize(static_cast<std::size_t>(length));
  return true;
}

std::string HexViewData::Note() const {
  if (failed) {
    if (problems.empty()) return QCoreApplication::translate("HexView", "The data of this file could not be read.").toStdString();
    return QCoreApplication::translate("HexView", "The data of this file could not be read: %1.")
        .arg(QString::fromStdString(problems.front()))
        .toStdString();
  }
  std::string note;
  if (truncated) {
    note = QCoreApplication::translate("HexView", "This file is %1 bytes long; the viewer shows its first %2 MiB (%3 bytes).")
               .arg(fileSize)
               .arg(static_cast<qulonglong>(bytes.size() >> 20))
               .arg(static_cast<qulonglong>(bytes.size()))
               .toStdString();
  }
  if (!problems.empty()) {
    if (!note.empty()) note += " ";
    note += QCoreApplication::translate("HexView", "Only %1 of its %2 bytes could be read (%3).")
                .arg(static_cast<qulonglong>(bytes.size()))
                .arg(fileSize)
                .arg(QString::fromStdString(problems.front()))
                .toStdString();
  }
  return note;
}

HexViewData ReadForHexView(CFSFile& file, std::uint64_t limit, JobRunner* runner) {
  HexViewData data;
  {
    SearchPause pause(file.volume);
    data.fileSize = file.GetSize();
  }
  const std::uint64_t wanted = std::min(data.fileSize, limit);
  BoundedMemoryOutput out(wanted, wanted);
  HexReadTask task(file, out);
  bool finished = true;
  if (runner && wanted > kHexViewWorkerThreshold) {
    JobInfo info;
    info.kind = JobKind::Saving;
    info.title = "View With Hex";
    info.volumeName = file.volume ? file.volume->GetDisplayName() : std::string();
    finished = runner->Run(task, info);
  } else {
    // A small file is read at once, holding a search on its volume.
    SearchPause pause(file.volume);
    InlineJobRunner inline_;
    finished = inline_.Run(task, JobInfo{});
  }
  data.stopped = !finished;
  // The limit ends the copy with a failed write; that is not a failure of
  // the file. Neither is a reader that wrote more than the entry's size.
  data.truncated = out.Truncated() && data.fileSize > limit;
  for (const std::string& p : out.Problems()) {
    if (out.Truncated() && p.rfind("the output could not be written", 0) == 0) continue;
    data.problems.push_back(p);
  }
  data.bytes = std::move(out.Bytes());
  if (!task.Ok() && !out.Truncated() && !data.stopped) data.failed = true;
  if (data.bytes.empty() && data.fileSize > 0 && !data.stopped) data.failed = true;
  return data;
}

CHexViewDlg::CHexViewDlg(std::uint8_t* bytes, std::uint64_t length, const QString& note, QWidget* parent)
    : QDialog(parent) {
  setObjectName("ViewWithHex");
  setWindowTitle(tr("View With Hex"));
  auto* layout = new QVBoxLayout(this);
  note_ = new QLabel(note, this);
  note_->setObjectName("hexNote");
  note_->setWordWrap(true);
  note_->setVisible(!note.isEmpty());
  layout->addWidget(note_);

  dump_ = new MFCDumpCtrl(this);
  dump_->setObjectName("hexDump");
  dump_->SetOptions(dump::kSeparators, 0, false);
  // Control bytes show as dots in the character column, as in any dump.
  dump_->SetReplacementChar('.');
  dump_->SetData(length, bytes, nullptr, true);
  layout->addWidget(dump_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  close_ = new QPushButton(tr("Close"), this);
  close_->setObjectName("close");
  close_->setAutoDefault(false);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(close_);
  // The template's Cancel button exists but is never shown; Escape still
  // closes the viewer.
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName("cancel");
  cancel->hide();
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addLayout(buttons);

  // The viewer is not resized, so the bytes per row are the same for every
  // file.
  setFixedSize(660, 400);
  dump_->setFocus();
}

bool CanViewWithHex(CDirEntry* entry) {
  return entry && entry->IsKindOf<CFSFile>() && entry->GetSize() != 0;
}

bool ViewWithHex(CDirEntry* entry, QWidget* parent, JobRunner* runner, std::uint64_t limit) {
  auto* file = dynamic_cast<CFSFile*>(entry);
  if (!file) return false;
  {
    SearchPause pause(file->volume);
    if (file->GetSize() == 0 || file->GetSizeOnDisk() == 0) return false;
  }
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  HexViewData data = ReadForHexView(*file, limit, runner);
  QGuiApplication::restoreOverrideCursor();
  if (data.stopped) return false;
  if (data.failed) {
    QMessageBox::warning(parent, msgbox::kCaption, QString::fromStdString(data.Note()));
    return false;
  }
  CHexViewDlg dlg(data.bytes.data(), data.bytes.size(), QString::fromStdString(data.Note()), parent);
  dlg.exec();
  return true;
}

}  // namespace relictor
