#pragma once
// Read-only sources of sectors: disk and volume image files, Linux block
// devices, and memory buffers for tests and fuzzing. Nothing in this layer
// can write: files and devices are opened O_RDONLY and no write call exists.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace relictor {

class SectorSource {
 public:
  virtual ~SectorSource() = default;

  // Reads `length` bytes at byte `offset`. All or nothing: a read that
  // reaches past the end of the source, or that the system fails, gives
  // false (the buffer contents are then undefined).
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  // Size of the source in bytes.
  virtual std::uint64_t Size() const = 0;
  // Logical sector size: from the device for block devices, 512 otherwise.
  virtual std::uint32_t SectorSize() const = 0;
  // The path or a short description, for messages.
  virtual std::string Describe() const = 0;
  // Whether this is a block device (as opposed to an image file or memory).
  virtual bool IsBlockDevice() const { return false; }
};

using SectorSourcePtr = std::shared_ptr<SectorSource>;

// Asked for a device that the user may not open directly (the system
// refused with EACCES or EPERM). Returns an open read-only descriptor, or
// -1: with `error` set, the one sentence to show; with `error` empty, the
// opener could not help and the usual message stands.
using DeviceOpener = std::function<int(const std::string& path, bool listing, std::string& error)>;
// Sets the opener for the whole program (a front end sets it at start);
// an empty function removes it.
void SetDeviceOpener(DeviceOpener opener);

// A source held in memory; tests and fuzzers use it.
class MemorySource final : public SectorSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes, std::uint32_t sectorSize = 512,
                        std::string name = "memory");
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  std::uint64_t Size() const override { return bytes_.size(); }
  std::uint32_t SectorSize() const override { return sectorSize_; }
  std::string Describe() const override { return name_; }
  // Tests make reads fail inside a byte range to stand in for bad sectors.
  void FailReadsIn(std::uint64_t begin, std::uint64_t end);
  std::uint64_t ReadCalls() const { return readCalls_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t sectorSize_;
  std::string name_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> failing_;
  std::uint64_t readCalls_ = 0;
};

// An image file or a block device, opened read-only. Small reads go through
// a read-ahead cache of a few aligned blocks, shared by every reader of the
// source, so that walking a volume cluster by cluster costs one system call
// per block instead of one per cluster.
class FileSource final : public SectorSource {
 public:
  // Opens `path` read-only. On failure returns null and sets `error` to one
  // sentence for the user. A device this user may not open goes to the
  // device opener, when one is set (see SetDeviceOpener); `listing` tells
  // it that the program is only looking through the system's devices, not
  // opening one the user named.
  static std::shared_ptr<FileSource> Open(const std::string& path, std::string& error, bool listing = false);
  // Takes over `fd`, an open descriptor of `path` (closed on failure too).
  // Refuses a descriptor that allows writing. The size comes from the
  // descriptor itself, never from what anyone said about the device.
  static std::shared_ptr<FileSource> FromDescriptor(int fd, const std::string& path, std::string& error);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  std::uint64_t Size() const override { return size_; }
  std::uint32_t SectorSize() const override { return sectorSize_; }
  std::string Describe() const override { return path_; }
  bool IsBlockDevice() const override { return blockDevice_; }

  // Number of read system calls issued so far.
  std::uint64_t ReadCalls() const { return readCalls_; }
  // True when the descriptor was opened without write access (for tests).
  bool HandleIsReadOnly() const;

  static constexpr std::size_t kSequentialBlock = 1 << 20;
  static constexpr std::size_t kRandomBlock = 64 << 10;
  static constexpr std::size_t kCacheSlots = 6;  // two for sequential walks, the rest for scattered reads

 private:
  FileSource(int fd, std::string path, std::uint64_t size, std::uint32_t sectorSize, bool blockDevice);
  bool ReadSystem(std::uint64_t offset, void* buffer, std::size_t length);

  struct Block {
    std::uint64_t base = 0;
    // Allocated once at the size of a sequential block and reused, so that
    // a miss costs the read and nothing else.
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t length = 0;  // 0 when the slot is unused
    std::uint64_t lastUse = 0;
  };
  const Block* Fetch(std::uint64_t offset);

  int fd_;
  std::string path_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
  bool blockDevice_;
  std::uint64_t readCalls_ = 0;

  std::mutex cacheMutex_;
  std::vector<Block> cache_;
  std::uint64_t useClock_ = 0;
  std::uint64_t lastMissEnd_ = ~std::uint64_t{0};
  // A sequential walk takes turns between the first two slots, so that its
  // blocks stay warm in the processor's cache and never evict the small
  // blocks of scattered reads.
  std::size_t sequentialTurn_ = 0;
};

}  // namespace relictor
