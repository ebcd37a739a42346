#include "ntfs/ntfs_record_cache.h"

#include <algorithm>
#include <cstring>

namespace relictor {

void NtfsRecordCache::Configure(std::uint32_t recordSize, std::uint64_t recordCount, std::size_t blockBytes,
                                std::size_t maxBlocks, BlockReader reader, bool readerFillsAll) {
  std::lock_guard lock(mutex_);
  recordSize_ = recordSize;
  recordCount_ = recordCount;
  blockRecords_ = recordSize == 0 ? 1 : std::max<std::uint64_t>(1, blockBytes / recordSize);
  maxBlocks_ = std::max<std::size_t>(1, maxBlocks);
  reader_ = std::move(reader);
  readerFillsAll_ = readerFillsAll && reader_ != nullptr;
  blocks_.clear();
  blocks_.shrink_to_fit();
  lastHit_ = 0;
}

void NtfsRecordCache::Clear() {
  std::lock_guard lock(mutex_);
  blocks_.clear();
  blocks_.shrink_to_fit();
  lastHit_ = 0;
}

std::size_t NtfsRecordCache::HeldBytes() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const Block& b : blocks_) n += b.bytes.size();
  return n;
}

std::uint64_t NtfsRecordCache::BlockReads() const {
  std::lock_guard lock(mutex_);
  return blockReads_;
}

NtfsRecordCache::Block& NtfsRecordCache::Fetch(std::uint64_t blockIndex) {
  if (lastHit_ < blocks_.size() && blocks_[lastHit_].index == blockIndex) return blocks_[lastHit_];
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    if (blocks_[i].index == blockIndex) {
      lastHit_ = i;
      return blocks_[i];
    }
  }
  std::size_t slot = blocks_.size();
  if (blocks_.size() < maxBlocks_) {
    blocks_.emplace_back();
  } else {
    slot = 0;
    for (std::size_t i = 1; i < blocks_.size(); ++i) {
      if (blocks_[i].lastUse < blocks_[slot].lastUse) slot = i;
    }
  }
  Block& b = blocks_[slot];
  const std::uint64_t first = blockIndex * blockRecords_;
  const std::uint64_t count = std::min(blockRecords_, recordCount_ - first);
  if (readerFillsAll_) {
    b.bytes.resize(static_cast<std::size_t>(count * recordSize_));
  } else {
    b.bytes.assign(static_cast<std::size_t>(count * recordSize_), 0);
  }
  b.index = blockIndex;
  if (reader_) reader_(first, count, b.bytes.data());
  ++blockReads_;
  lastHit_ = slot;
  return b;
}

bool NtfsRecordCache::Copy(std::uint64_t n, std::vector<std::uint8_t>& out) {
  out.clear();
  std::lock_guard lock(mutex_);
  if (n >= recordCount_ || recordSize_ == 0) return false;
  Block& b = Fetch(n / blockRecords_);
  b.lastUse = ++clock_;
  const std::size_t at = static_cast<std::size_t>((n % blockRecords_) * recordSize_);
  if (at + recordSize_ > b.bytes.size() || std::memcmp(b.bytes.data() + at, "FILE", 4) != 0) return false;
  out.assign(b.bytes.begin() + static_cast<std::ptrdiff_t>(at),
             b.bytes.begin() + static_cast<std::ptrdiff_t>(at + recordSize_));
  return true;
}

}  // namespace relictor
