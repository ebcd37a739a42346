#pragma once
// A bounded cache of MFT records. Records are read in blocks of
// consecutive records, so that walking a folder's records in record order
// reads the MFT ahead in large pieces; the least recently used block makes
// room for the next. The cache never holds more than its bound, and it
// hands out copies under its lock, so that the interface thread and a
// worker may read records at the same time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "volume/endian.h"

namespace relictor {

class NtfsRecordCache {
 public:
  // Fills `out` (count * record size bytes) with records `first` to
  // first + count - 1, their fixups applied; what cannot be read is zeros.
  using BlockReader = std::function<void(std::uint64_t first, std::uint64_t count, std::uint8_t* out)>;

  // Sets the geometry and forgets every block. Blocks hold
  // max(1, blockBytes / recordSize) records; at most `maxBlocks` (at
  // least one) are held at once. With `readerFillsAll` the reader writes
  // every byte it is given, so a reused block is not cleared before it.
  void Configure(std::uint32_t recordSize, std::uint64_t recordCount, std::size_t blockBytes, std::size_t maxBlocks,
                 BlockReader reader, bool readerFillsAll = false);
  // Forgets every block and gives back their memory.
  void Clear();

  // Copies record `n` into `out`; false (with `out` empty) when `n` lies
  // past the MFT or the record has no "FILE" signature.
  bool Copy(std::uint64_t n, std::vector<std::uint8_t>& out);

  std::size_t BoundBytes() const { return maxBlocks_ * blockRecords_ * recordSize_; }
  std::size_t HeldBytes() const;
  std::uint64_t BlockReads() const;

 private:
  struct Block {
    std::uint64_t index = ~std::uint64_t{0};  // block number, or none
    std::uint64_t lastUse = 0;
    std::vector<std::uint8_t> bytes;
  };
  Block& Fetch(std::uint64_t blockIndex);

  mutable std::mutex mutex_;
  std::uint32_t recordSize_ = 0;
  std::uint64_t recordCount_ = 0;
  std::uint64_t blockRecords_ = 1;
  std::size_t maxBlocks_ = 1;
  BlockReader reader_;
  bool readerFillsAll_ = false;
  std::vector<Block> blocks_;
  std::size_t lastHit_ = 0;
  std::uint64_t clock_ = 0;
  std::uint64_t blockReads_ = 0;
};

}  // namespace relictor
