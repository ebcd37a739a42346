#include "model/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {

bool FdOutputFile::Write(const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd_, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      // The reader gives up on a failed write; the reason (a full disk, a
      // file too large for the output's file system) is the output's.
      NoteProblem(std::string("the output could not be written: ") + std::strerror(errno));
      return false;
    }
    p += n;
    length -= static_cast<std::size_t>(n);
    Count(static_cast<std::size_t>(n));
  }
  return true;
}

bool FdOutputFile::SetLength(std::uint64_t length) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  // A pipe or terminal cannot be cut; writers that stream to one write the
  // exact bytes instead.
  if (!S_ISREG(st.st_mode)) return static_cast<std::uint64_t>(BytesWritten()) == length;
  return ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

bool MemoryOutputFile::Write(const void* data, std::size_t length) {
  if (length > limit_ - bytes_.size()) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + length);
  Count(length);
  return true;
}

bool MemoryOutputFile::SetLength(std::uint64_t length) {
  if (length > limit_) return false;
  bytes_.resize(static_cast<std::size_t>(length));
  return true;
}

bool CopyFileData(OutputFile& out, ProgressSink* progress, std::uint64_t total, std::uint32_t bufferSize,
                  const ReadFilePiece& read, std::uint64_t& written) {
  written = 0;
  if (progress && IsStopRequested()) return false;
  const bool bar = progress && progress->HasBar(ProgressBar::File);
  if (bar) {
    progress->SetRange(ProgressBar::File, 0, total);
    progress->SetPos(ProgressBar::File, 0);
  }
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize, std::max<std::uint64_t>(total, 1))));
  while (written < total) {
    std::uint32_t delivered = 0;
    const bool ok = read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), delivered);
    if (progress && IsStopRequested()) return false;
    if (delivered > 0 && !out.Write(buffer.data(), delivered)) {
      out.NoteProblem("the output could not be written after " + std::to_string(written) + " bytes");
      return false;
    }
    written += delivered;
    if (bar) progress->SetPos(ProgressBar::File, written);
    if (!ok || delivered == 0) break;
  }
  return true;
}

void NoteShortData(OutputFile& out, std::uint64_t written, std::uint64_t total, DataStop stop,
                   std::uint64_t failedSector, std::uint64_t firstCluster) {
  const std::string saved = "saved " + std::to_string(written) + " of " + std::to_string(total) + " bytes";
  switch (stop) {
    case DataStop::ReadFailed:
      out.NoteProblem("sector " + std::to_string(failedSector) + " of the volume could not be read: " + saved);
      break;
    case DataStop::PastVolumeEnd:
      out.NoteProblem("the file runs past the end of the volume: " + saved);
      break;
    case DataStop::ChainEnded:
      out.NoteProblem("the file's cluster chain ends before its data does: " + saved);
      break;
    case DataStop::NoStartCluster:
      out.NoteProblem("the file's first cluster " + std::to_string(firstCluster) +
                      " is not a data cluster of the volume: " + saved);
      break;
    case DataStop::None:
      out.NoteProblem("the data ended early: " + saved);
      break;
  }
}

}  // namespace relictor
