#include "scan/cluster_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan/identify.h"
#include "scan/walk_trail.h"
#include "volume/driver.h"

namespace relictor {

std::uint64_t ClusterStream::ClusterSize(const CDriver& volume) {
  std::uint64_t size = volume.BytesPerCluster();
  std::uint64_t geometry = static_cast<std::uint64_t>(volume.BytesPerSector()) * volume.SectorsPerCluster();
  if (size == 0 || size != geometry || volume.ClusterBuffer().size() < size) return 0;
  return size;
}

bool ClusterStream::Load() {
  if (loaded_) return true;
  if ((allowance_ && !MemoOf(volume_).SpendLoad()) || !volume_.ReadCluster(cluster_)) {
    valid_ = false;
    return false;
  }
  loaded_ = true;
  return true;
}

// At the end of a cluster the stream moves to the start of the next one,
// which is read only when one of its bytes is wanted.
bool ClusterStream::StepOverBoundary() {
  if (offset_ < ClusterSize(volume_)) return true;
  if (cluster_ == std::numeric_limits<std::uint64_t>::max()) {
    valid_ = false;
    return false;
  }
  ++cluster_;
  offset_ = 0;
  loaded_ = false;
  return true;
}

bool ClusterStream::Begin(std::uint64_t cluster) {
  valid_ = false;
  loaded_ = false;
  cluster_ = cluster;
  offset_ = 0;
  if (ClusterSize(volume_) == 0 || !Load()) return false;
  valid_ = true;
  return true;
}

std::int64_t ClusterStream::Skip(std::uint64_t n) {
  const std::uint64_t size = ClusterSize(volume_);
  if (!valid_ || size == 0) return -1;
  if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -1;
  std::uint64_t advance = n / size;
  std::uint64_t offset = offset_ + n % size;
  if (offset >= size) {
    offset -= size;
    ++advance;
  }
  if (advance > std::numeric_limits<std::uint64_t>::max() - cluster_) return -1;
  const std::uint64_t target = cluster_ + advance;
  if (advance > 0) {
    // Clusters past the scan range can never be loaded; the start of the
    // cluster just behind it is still a valid end position.
    if (target - 1 > volume_.LastCluster() || (offset != 0 && target > volume_.LastCluster())) {
      valid_ = false;
      return -1;
    }
    cluster_ = target;
    loaded_ = false;
  }
  offset_ = offset;
  if (offset_ != 0 && !Load()) return -1;
  return static_cast<std::int64_t>(n);
}

ByteSpan ClusterStream::Window() {
  const std::uint64_t size = ClusterSize(volume_);
  if (!valid_ || size == 0 || !StepOverBoundary() || !Load()) return {};
  return ByteSpan(std::as_const(volume_).ClusterBuffer().data() + offset_, static_cast<std::size_t>(size - offset_));
}

std::uint64_t ClusterStream::Read(void* buffer, std::uint64_t n) {
  const std::uint64_t size = ClusterSize(volume_);
  if (!valid_ || size == 0 || n == 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  // Most reads of the walks are a few bytes inside the loaded cluster:
  // they are copied without the loop.
  if (loaded_ && offset_ < size && n < size - offset_) {
    const std::uint8_t* from = std::as_const(volume_).ClusterBuffer().data() + offset_;
    if (n == 1) {
      *out = *from;
    } else {
      std::memcpy(out, from, static_cast<std::size_t>(n));
    }
    offset_ += n;
    return n;
  }
  std::uint64_t left = n;
  while (left > 0) {
    if (!Load()) return 0;
    std::uint64_t chunk = std::min(left, size - offset_);
    std::memcpy(out, std::as_const(volume_).ClusterBuffer().data() + offset_, static_cast<std::size_t>(chunk));
    out += chunk;
    left -= chunk;
    offset_ += chunk;
    if (!StepOverBoundary()) return 0;
  }
  return n;
}

namespace {

bool IsZeroCluster(ByteSpan b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
}

bool TailMatches(const std::uint8_t* data, const std::uint8_t* pattern, std::size_t length, bool ignoreCase) {
  for (std::size_t i = 1; i < length; ++i) {
    std::uint8_t c = data[i];
    if (ignoreCase && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
    if (c != pattern[i]) return false;
  }
  return true;
}

// The next start from `pos` to `last` whose first byte is the pattern's,
// and whose second byte is too where that is compared exactly; last + 1
// when there is none. Two bytes in a row are met far less often than one
// (an FF in JPEG data, a 'P' in compressed data), so where the processor
// compares 16 bytes at once both are looked for together.
std::uint64_t NextCandidate(const std::uint8_t* data, std::uint64_t pos, std::uint64_t last,
                            const std::uint8_t* pattern, std::size_t length, bool ignoreCase) {
#if defined(__SSE2__)
  const bool pair = length >= 2 && !(ignoreCase && pattern[1] >= 'a' && pattern[1] <= 'z');
  if (pair) {
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i second = _mm_set1_epi8(static_cast<char>(pattern[1]));
    // Sixteen starts at a time, all at most `last`; their second bytes end
    // at last + 1 at the latest, which lies inside the data.
    while (pos <= last && last - pos >= 15) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos + 1));
      const auto mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, first), _mm_cmpeq_epi8(y, second))));
      if (mask != 0) return pos + static_cast<unsigned>(__builtin_ctz(mask));
      pos += 16;
    }
  }
#else
  (void)length;
  (void)ignoreCase;
#endif
  if (pos > last) return last + 1;
  const void* hit = std::memchr(data + pos, pattern[0], static_cast<std::size_t>(last - pos + 1));
  return hit == nullptr ? last + 1 : static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - data);
}

}  // namespace

std::int64_t ClusterStream::FindPattern(const std::uint8_t* pattern, std::size_t length, bool ignoreCase) {
  const std::uint64_t size = ClusterSize(volume_);
  if (!valid_ || size == 0 || pattern == nullptr || length == 0 || length > size) return -1;
  // Every arrival at the start of a following cluster is a point another
  // search for the same pattern may reach too; from there both find the
  // same match or fail at the same cluster.
  WalkTrail trail(volume_, *this, kWalkSearch);
  const std::uint64_t key = PatternKey(pattern, length, ignoreCase);
  std::uint64_t passed = 0;
  for (;;) {
    if (!Load()) {
      trail.Fail();
      return -1;
    }
    const std::uint8_t* data = std::as_const(volume_).ClusterBuffer().data();
    if (size - offset_ >= length) {
      const std::uint64_t lastStart = size - length;
      std::uint64_t pos = offset_;
      while (pos <= lastStart) {
        pos = NextCandidate(data, pos, lastStart, pattern, length, ignoreCase);
        if (pos > lastStart) break;
        if (TailMatches(data + pos, pattern, length, ignoreCase)) {
          std::uint64_t result = passed + (pos - offset_) + length;
          offset_ = pos + length;
          if (!StepOverBoundary()) {
            trail.Fail();
            return -1;
          }
          trail.End(WalkEnd{true, cluster_, offset_, 0, 0});
          if (result > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -1;
          return static_cast<std::int64_t>(result);
        }
        ++pos;
      }
    }
    passed += size - offset_;
    offset_ = size;
    if (!StepOverBoundary()) {
      trail.Fail();
      return -1;
    }
    if (const std::optional<WalkEnd> known = trail.AtPoint(cluster_, 0, key, 0)) {
      const std::optional<std::uint64_t> rest = Distance(cluster_, known->cluster, known->offset, size);
      if (!known->found || !rest || *rest > std::numeric_limits<std::uint64_t>::max() - passed) {
        trail.Fail();
        valid_ = false;
        return -1;
      }
      trail.End(*known);
      cluster_ = known->cluster;
      offset_ = known->offset;
      loaded_ = false;
      const std::uint64_t result = passed + *rest;
      if (result > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return -1;
      return static_cast<std::int64_t>(result);
    }
    if (!Load()) {
      trail.Fail();
      return -1;
    }
    // Another file starts here, so the one being measured cannot go on. A
    // weak start (a TGA, PCX or DBF test passed by chance) does not count:
    // the end marker the rule looks for knows better. A cluster of zeros
    // ends the search too: it is free space, not the inside of a file
    // still waiting for its end marker.
    const ByteSpan next(std::as_const(volume_).ClusterBuffer().data(), static_cast<std::size_t>(size));
    if (StartsWithStrongSignature(next) || IsZeroCluster(next)) {
      trail.Fail();
      valid_ = false;
      return -1;
    }
  }
}

std::uint64_t BytesToRangeEnd(const CDriver& volume, std::uint64_t k) {
  const std::uint64_t size = ClusterStream::ClusterSize(volume);
  if (size == 0 || k < volume.FirstCluster() || k > volume.LastCluster()) return 0;
  const std::uint64_t clusters = volume.LastCluster() - k;  // one less than the count
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (clusters >= max / size) return max;
  return (clusters + 1) * size;
}

ByteSpan LoadedCluster(const CDriver& volume) {
  return ByteSpan(volume.ClusterBuffer().data(), static_cast<std::size_t>(ClusterStream::ClusterSize(volume)));
}

}  // namespace relictor
