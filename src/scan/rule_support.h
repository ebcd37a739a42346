#pragma once
// What the length rules share: a reader over the cluster stream that fails
// once one step has failed, reads at offsets of a file, and the length of a
// walk from where it ended.

#include <cstddef>
#include <cstdint>

#include "scan/cluster_stream.h"
#include "volume/walk_memo.h"

namespace relictor {

// A small reader over the stream for the rules: every step fails the rule
// once one read or skip has failed.
class RuleInput {
 public:
  explicit RuleInput(ClusterStream& stream) : s_(stream) {}
  bool Skip(std::uint64_t n) { return ok_ && (ok_ = s_.Skip(n) >= 0); }
  bool Byte(std::uint8_t& v) { return ok_ && (ok_ = s_.Read(&v, 1) == 1); }
  bool Bytes(void* out, std::uint64_t n) { return ok_ && (ok_ = s_.Read(out, n) == n); }
  bool BigEndian16(std::uint16_t& v) {
    std::uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    v = be16(ByteSpan(b, 2), 0);
    return true;
  }
  bool Le32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    v = le32(ByteSpan(b, 4), 0);
    return true;
  }
  // Searches and adds the bytes up to the end of the match to `length`.
  bool Find(const char* pattern, std::size_t n, bool ignoreCase, std::uint64_t& length) {
    if (!ok_) return false;
    std::int64_t r = s_.FindPattern(reinterpret_cast<const std::uint8_t*>(pattern), n, ignoreCase);
    if (r < 0) return ok_ = false;
    length += static_cast<std::uint64_t>(r);
    return true;
  }

 private:
  ClusterStream& s_;
  bool ok_ = true;
};

// Searches for an end marker behind a fixed-size head that is skipped.
bool SearchRule(ClusterStream& s, std::uint64_t k, std::uint64_t head, const char* pattern, std::size_t n,
                bool ignoreCase, std::uint64_t& length);

// Where the stream stands, as the end of a walk that found its file.
WalkEnd EndHere(const ClusterStream& s);

// Puts the stream where an earlier walk stopped.
bool MoveTo(ClusterStream& s, std::uint64_t cluster, std::uint64_t offset);

// The walking rules count each byte they pass, so a file's length is the
// distance from its first cluster to where its walk ended.
bool LengthOf(const CDriver& volume, std::uint64_t k, const WalkEnd& end, std::uint64_t& length);

namespace rules {

// The bytes of a file that starts at cluster k, read at offsets from its
// start. Reads that go forward only skip to the cluster they need (the
// clusters in between are not read); a read behind the last one starts
// over from cluster k. Nothing past the scan range is ever read.
class FileBytes {
 public:
  FileBytes(CDriver& volume, std::uint64_t k)
      : volume_(volume), stream_(volume), k_(k), limit_(BytesToRangeEnd(volume, k)) {
    stream_.DrawOnAllowance();
  }

  // How many bytes from the file's start the scan range holds.
  std::uint64_t Limit() const { return limit_; }
  std::uint64_t ClusterSize() const { return ClusterStream::ClusterSize(volume_); }

  // Copies n bytes at offset `at`; false when one of them lies past the
  // range or its cluster cannot be read.
  bool Read(std::uint64_t at, void* out, std::uint64_t n) {
    if (n == 0) return true;
    if (at > limit_ || n > limit_ - at) return false;
    if (!started_ || at < pos_) {
      started_ = stream_.Begin(k_);
      pos_ = 0;
      if (!started_) return false;
    }
    if (at > pos_ && stream_.Skip(at - pos_) < 0) {
      started_ = false;
      return false;
    }
    pos_ = at;
    if (stream_.Read(out, n) != n) {
      started_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }

 private:
  CDriver& volume_;
  ClusterStream stream_;
  std::uint64_t k_;
  std::uint64_t limit_;
  std::uint64_t pos_ = 0;
  bool started_ = false;
};

}  // namespace rules
}  // namespace relictor
