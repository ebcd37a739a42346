#include "volume/sector_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace relictor {

MemorySource::MemorySource(std::vector<std::uint8_t> bytes, std::uint32_t sectorSize, std::string name)
    : bytes_(std::move(bytes)), sectorSize_(sectorSize), name_(std::move(name)) {}

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  ++readCalls_;
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  for (const auto& [begin, end] : failing_) {
    if (offset < end && offset + length > begin) return false;
  }
  if (length) std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

void MemorySource::FailReadsIn(std::uint64_t begin, std::uint64_t end) { failing_.emplace_back(begin, end); }

namespace {

std::string OpenErrorText(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return "permission denied: run as root, or open an image of the device";
    case ENOENT:
      return "no such file or device";
    case EISDIR:
      return "is a folder, not a disk image or device";
    case ENOMEDIUM:
      return "no medium in the drive";
    default:
      return std::strerror(err);
  }
}

DeviceOpener& Opener() {
  static DeviceOpener opener;
  return opener;
}

}  // namespace

void SetDeviceOpener(DeviceOpener opener) { Opener() = std::move(opener); }

std::shared_ptr<FileSource> FileSource::Open(const std::string& path, std::string& error, bool listing) {
  // Without O_NONBLOCK a named pipe would hold the open until someone
  // writes to it; it is refused below like any other thing that is not a
  // disk or an image. Files and devices do not heed the flag, and it is
  // cleared again for them.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  if (fd < 0) {
    int err = errno;
    if ((err == EACCES || err == EPERM) && Opener()) {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        std::string why;
        int given = Opener()(path, listing, why);
        if (given >= 0) return FromDescriptor(given, path, error);
        if (!why.empty()) {
          error = why;
          return nullptr;
        }
      }
    }
    error = path + ": " + OpenErrorText(err);
    return nullptr;
  }
  return FromDescriptor(fd, path, error);
}

std::shared_ptr<FileSource> FileSource::FromDescriptor(int fd, const std::string& path, std::string& error) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) {
    // Whoever handed it over gave more than reading: this program never
    // holds a device it could write to.
    error = path + ": the descriptor given for it allows writing; refused";
    ::close(fd);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = path + ": " + OpenErrorText(errno);
    ::close(fd);
    return nullptr;
  }
  std::uint64_t size = 0;
  std::uint32_t sectorSize = 512;
  bool blockDevice = false;
  if (S_ISBLK(st.st_mode)) {
    blockDevice = true;
    int logical = 0;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) sectorSize = static_cast<std::uint32_t>(logical);
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
      error = path + ": cannot read the device size: " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    size = bytes;
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
  } else {
    error = path + (S_ISDIR(st.st_mode) ? ": is a folder, not a disk image or device"
                                        : ": not a disk image or block device");
    ::close(fd);
    return nullptr;
  }
  return std::shared_ptr<FileSource>(new FileSource(fd, path, size, sectorSize, blockDevice));
}

FileSource::FileSource(int fd, std::string path, std::uint64_t size, std::uint32_t sectorSize, bool blockDevice)
    : fd_(fd), path_(std::move(path)), size_(size), sectorSize_(sectorSize), blockDevice_(blockDevice),
      cache_(kCacheSlots) {}

FileSource::~FileSource() { ::close(fd_); }

bool FileSource::HandleIsReadOnly() const {
  int flags = ::fcntl(fd_, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
}

bool FileSource::ReadSystem(std::uint64_t offset, void* buffer, std::size_t length) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (length > 0) {
    ++readCalls_;
    ssize_t got = ::pread(fd_, out, length, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return false;  // the file ended early (it shrank, or a device error)
    out += got;
    offset += static_cast<std::uint64_t>(got);
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

const FileSource::Block* FileSource::Fetch(std::uint64_t offset) {
  for (auto& block : cache_) {
    if (block.length != 0 && offset >= block.base && offset - block.base < block.length) {
      block.lastUse = ++useClock_;
      return &block;
    }
  }
  // A miss right behind the previous miss means a sequential walk: read a
  // large block ahead. Scattered misses (FAT entries, MFT records) read a
  // small block so that random access does not pay for a megabyte each time.
  bool sequential = lastMissEnd_ != ~std::uint64_t{0} && offset >= lastMissEnd_ &&
                    offset - lastMissEnd_ < kSequentialBlock;
  std::size_t blockSize = sequential ? kSequentialBlock : kRandomBlock;
  std::uint64_t base = offset - offset % blockSize;
  std::uint64_t length = std::min<std::uint64_t>(blockSize, size_ - base);

  Block* victim = nullptr;
  if (sequential) {
    sequentialTurn_ ^= 1;
    victim = &cache_[sequentialTurn_];
  } else {
    victim = &cache_[2];
    for (std::size_t i = 2; i < cache_.size(); ++i) {
      Block& block = cache_[i];
      if (block.length == 0) {
        victim = &block;
        break;
      }
      if (block.lastUse < victim->lastUse) victim = &block;
    }
  }
  if (!victim->data) victim->data = std::make_unique_for_overwrite<std::uint8_t[]>(kSequentialBlock);
  victim->length = 0;
  if (!ReadSystem(base, victim->data.get(), static_cast<std::size_t>(length))) {
    lastMissEnd_ = ~std::uint64_t{0};
    return nullptr;
  }
  victim->base = base;
  victim->length = static_cast<std::size_t>(length);
  victim->lastUse = ++useClock_;
  lastMissEnd_ = base + length;
  return victim;
}

bool FileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  if (length == 0) return true;
  // Large reads gain nothing from the cache and would only evict it.
  if (length >= kRandomBlock) {
    std::lock_guard lock(cacheMutex_);
    return ReadSystem(offset, buffer, length);
  }
  std::lock_guard lock(cacheMutex_);
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (length > 0) {
    const Block* block = Fetch(offset);
    if (!block) {
      // A bad region inside the block: fall back to the exact request so
      // that good sectors next to a bad one still read.
      return ReadSystem(offset, out, length);
    }
    std::size_t at = static_cast<std::size_t>(offset - block->base);
    std::size_t n = std::min(length, block->length - at);
    std::memcpy(out, block->data.get() + at, n);
    out += n;
    offset += n;
    length -= n;
  }
  return true;
}

}  // namespace relictor
