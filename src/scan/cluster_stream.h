#pragma once
// Reading a file that starts at a cluster: the stream of its bytes through
// the volume's cluster buffer, and the bounds of the scan range.

#include <cstddef>
#include <cstdint>

#include "volume/endian.h"

namespace relictor {

class CDriver;

// Bytes of consecutive clusters, read one cluster at a time through the
// volume's cluster buffer (so only clusters inside the volume's scan range
// can be read).
//
// A cluster is loaded only when one of its bytes is needed: an operation
// that ends exactly at a cluster boundary leaves the stream at offset 0 of
// the next cluster without reading it, so a file that ends at the last
// cluster of the scan range can still be measured.
class ClusterStream {
 public:
  explicit ClusterStream(CDriver& volume) : volume_(volume) {}
  // Starts at offset 0 of cluster k; false if it cannot be loaded.
  bool Begin(std::uint64_t cluster);
  // Advances n bytes, loading the cluster reached; -1 on failure, else n.
  std::int64_t Skip(std::uint64_t n);
  // Copies n bytes and advances; 0 on failure, else n.
  std::uint64_t Read(void* buffer, std::uint64_t n);
  // Searches the pattern from the current position to the end of the
  // cluster, then in the following clusters; a match must lie inside one
  // cluster. Returns the bytes from the starting point to the end of the
  // match, or -1 when a cluster cannot be loaded or the next cluster starts
  // with a recognised signature. With `ignoreCase` every pattern byte but
  // the first is compared with the data byte lowered (A to Z only), so the
  // pattern must be written in lower case.
  std::int64_t FindPattern(const std::uint8_t* pattern, std::size_t length, bool ignoreCase);

  // The bytes from the current position to the end of the loaded cluster,
  // stepping into the next cluster first when the position is at the end
  // of one; empty when that cluster cannot be loaded. Walks that look at
  // every byte work on the window and then Advance() over what they used.
  ByteSpan Window();
  void Advance(std::size_t n) { offset_ += n; }

  std::uint64_t Cluster() const { return cluster_; }
  std::uint64_t Offset() const { return offset_; }

  // From now on every cluster this stream loads is taken from the range's
  // allowance for walks that cannot be remembered; a load fails once it is
  // spent.
  void DrawOnAllowance() { allowance_ = true; }

  // The size of a cluster as the stream sees it: the volume's bytes per
  // cluster when its geometry and buffer agree, else 0 (nothing can be
  // read).
  static std::uint64_t ClusterSize(const CDriver& volume);

 private:
  bool Load();
  bool StepOverBoundary();

  CDriver& volume_;
  std::uint64_t cluster_ = 0;
  std::uint64_t offset_ = 0;
  bool loaded_ = false;  // the cluster buffer holds cluster_
  bool valid_ = false;   // Begin succeeded and no load has failed since
  bool allowance_ = false;
};

// Bytes from the start of cluster k to the end of the scan range (saturated).
std::uint64_t BytesToRangeEnd(const CDriver& volume, std::uint64_t k);

// The bytes of the cluster the stream loaded last.
ByteSpan LoadedCluster(const CDriver& volume);

}  // namespace relictor
