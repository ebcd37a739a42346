#pragma once
// A large block of zeroed memory, for an image of on-disk structures that a
// reader holds whole (the NTFS master file table). The memory comes zeroed
// from the system without being written first, and on Linux it is asked
// for in huge pages: filling hundreds of megabytes page by page costs a
// fault per 4 KiB page, which on virtual machines is much of the load.

#include <cstddef>
#include <cstdint>

namespace relictor {

class ZeroedMemory {
 public:
  ZeroedMemory() = default;
  ~ZeroedMemory() { Reset(); }
  ZeroedMemory(const ZeroedMemory&) = delete;
  ZeroedMemory& operator=(const ZeroedMemory&) = delete;

  // Replaces the block with a zeroed one of `size` bytes; false (and no
  // block) when the memory cannot be had.
  bool Allocate(std::size_t size);
  void Reset();
  std::uint8_t* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  std::uint8_t* data_ = nullptr;
  void* base_ = nullptr;     // what the system handed out
  std::size_t mapped_ = 0;   // its length, when it is a mapping
};

}  // namespace relictor
