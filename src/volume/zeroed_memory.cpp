#include "volume/zeroed_memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace relictor {

bool ZeroedMemory::Allocate(std::size_t size) {
  Reset();
  if (size == 0) return false;
#if defined(__linux__)
  // Huge pages need blocks aligned to their size: map one huge page more
  // and start at the first boundary inside.
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size >= kHuge && size <= SIZE_MAX - kHuge) {
    void* p = mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      base_ = p;
      mapped_ = size + kHuge;
      const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
      data_ = reinterpret_cast<std::uint8_t*>(at);
      // Only advice: without huge pages the block works the same.
      madvise(data_, size, MADV_HUGEPAGE);
      return true;
    }
  }
#endif
  base_ = std::calloc(size, 1);
  data_ = static_cast<std::uint8_t*>(base_);
  return data_ != nullptr;
}

void ZeroedMemory::Reset() {
#if defined(__linux__)
  if (mapped_ != 0) {
    munmap(base_, mapped_);
    base_ = nullptr;
    mapped_ = 0;
    data_ = nullptr;
    return;
  }
#endif
  std::free(base_);
  base_ = nullptr;
  data_ = nullptr;
}

}  // namespace relictor
