#include "model/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

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

}  // namespace relictor
