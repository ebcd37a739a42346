#include "scan/signatures.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/entry.h"
#include "scan/media_rules.h"
#include "volume/checked.h"
#include "volume/driver.h"
#include "volume/walk_memo.h"

namespace relictor {

const char* const kTypeNames[kTypeNameCount] = {
    "BMP", "JPG", "GIF", "TGA", "TIFF", "PCX", "PNG", "OFFICE", "DOC", "XLS", "PPT", "VSD", "MDB",
    "PDF", "DBF", "HTM", "HTML", "AVI", "WAV", "CDR", "MID", "MOV", "ZIP", "RAR", "TAR",
    "MP3", "OGG", "MP4", "M4A", "MPG", "DOCX", "XLSX", "PPTX", "ODT", "ODS", "ODP", "EPUB",
};

namespace {

bool Bytes(ByteSpan b, std::size_t at, const char* text, std::size_t n) {
  return InBounds(b, at, n) && std::memcmp(b.data() + at, text, n) == 0;
}

bool IsBmpHeader(ByteSpan b) {
  if (le16(b, 0) != 0x4D42 || le16(b, 6) != 0 || le16(b, 8) != 0) return false;
  std::uint32_t compression = le32(b, 30);
  std::uint16_t bpp = le16(b, 28);
  bool bppOk = bpp == 0 || bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
  return compression <= 5 && bppOk && le16(b, 26) == 1;
}

bool EqualsIgnoringCase(ByteSpan b, std::size_t at, const char* lower, std::size_t n) {
  if (!InBounds(b, at, n)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t c = b[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
    if (c != static_cast<std::uint8_t>(lower[i])) return false;
  }
  return true;
}

// A TGA header has few valid values in its first 18 bytes: the colour-map
// type is 0 or 1 and agrees with the image type (1 and 9 are colour-mapped,
// 2 and 10 true-colour, 3 and 11 grey), an image without a colour map
// leaves the colour-map fields 0, the pixel depth suits the image type,
// the image is not 0 pixels wide or high, and the two top bits of the
// descriptor are 0. Two bytes alone would be met inside every few hundred
// clusters of a photo.
bool IsTgaHeader(ByteSpan b) {
  if (!InBounds(b, 0, 18)) return false;
  const std::uint8_t mapType = le8(b, 1), type = le8(b, 2), depth = le8(b, 16);
  const bool mapped = type == 1 || type == 9;
  const bool trueColour = type == 2 || type == 10;
  const bool grey = type == 3 || type == 11;
  if (!mapped && !trueColour && !grey) return false;
  if (mapType > 1 || (mapped && mapType != 1)) return false;
  if (mapType == 0) {
    for (std::size_t i = 3; i <= 7; ++i) {
      if (le8(b, i) != 0) return false;
    }
  } else {
    const std::uint8_t entryBits = le8(b, 7);
    if (le16(b, 5) == 0 || (entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32)) return false;
  }
  if (le16(b, 12) == 0 || le16(b, 14) == 0) return false;
  if ((le8(b, 17) & 0xC0) != 0) return false;
  if (trueColour) return depth == 15 || depth == 16 || depth == 24 || depth == 32;
  return depth == 8 || depth == 16;
}

bool IsId3Start(ByteSpan b) {
  if (!Bytes(b, 0, "ID3", 3) || !InBounds(b, 0, 10)) return false;
  const std::uint8_t version = le8(b, 3);
  if (version < 2 || version > 4 || le8(b, 4) == 0xFF) return false;
  for (std::size_t i = 6; i < 10; ++i) {
    if (le8(b, i) & 0x80) return false;
  }
  return true;
}

// The first page of an Ogg stream: version 0, the beginning-of-stream flag.
bool IsOggStart(ByteSpan b) {
  return Bytes(b, 0, "OggS", 4) && InBounds(b, 0, 27) && le8(b, 4) == 0 && (le8(b, 5) & 0x02) != 0;
}

// An MP4 or QuickTime movie starts with its file-type box, which is small.
bool IsFileTypeBox(ByteSpan b) {
  if (!Bytes(b, 4, "ftyp", 4) || !InBounds(b, 0, 12)) return false;
  const std::uint32_t size = (std::uint32_t{le8(b, 0)} << 24) | (std::uint32_t{le8(b, 1)} << 16) |
                             (std::uint32_t{le8(b, 2)} << 8) | le8(b, 3);
  return size >= 12 && size <= 4096;
}

// A pack header of an MPEG-1 or MPEG-2 program stream.
bool IsPackHeader(ByteSpan b) {
  if (!Bytes(b, 0, "\0\0\x01\xBA", 4) || !InBounds(b, 0, 5)) return false;
  const std::uint8_t mark = le8(b, 4);
  return (mark & 0xC0) == 0x40 || (mark & 0xF0) == 0x20;
}

}  // namespace

std::uint16_t IdentifySignature(ByteSpan cluster) {
  ByteSpan b = cluster.first(std::min<std::size_t>(cluster.size(), 263));
  auto at = [&](std::size_t i) -> std::uint8_t { return le8(b, i); };
  if (b.size() < 2) return kNoType;
  if (at(0) == 0xFF && at(1) == 0xD8) return kTypeJpg;
  if (Bytes(b, 0, "RIFF", 4)) {
    if (Bytes(b, 8, "AVI", 3)) return kTypeAvi;
    if (Bytes(b, 8, "WAVE", 4)) return kTypeWav;
    if (Bytes(b, 8, "CDR", 3)) return kTypeCdr;
  }
  if (IsBmpHeader(b)) return kTypeBmp;
  if (Bytes(b, 0, "GIF8", 4) && (at(4) == '9' || at(4) == '7') && at(5) == 'a') return kTypeGif;
  if (IsTgaHeader(b)) return kTypeTga;
  if (Bytes(b, 0, "II*\0", 4) || Bytes(b, 0, "MM\0*", 4)) return kTypeTiff;
  if (b.size() > 69 && at(0) == 0x0A && at(2) == 1) {
    std::uint8_t version = at(1), bits = at(3);
    std::uint16_t planesInfo = le16(b, 68);
    bool versionOk = version == 0 || (version >= 2 && version <= 5);
    bool bitsOk = bits == 1 || bits == 2 || bits == 4 || bits == 8;
    if (versionOk && bitsOk && at(64) == 0 && (planesInfo == 1 || planesInfo == 2)) return kTypePcx;
  }
  if (Bytes(b, 0, "\x89PNG\r\n\x1A\n", 8)) return kTypePng;
  if (Bytes(b, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return kTypeOffice;
  if (Bytes(b, 0, "%PDF-", 5)) return kTypePdf;
  if (b.size() >= 32) {
    std::uint8_t v = at(0);
    if ((v == 0x03 || v == 0x83 || v == 0xF5 || v == 0x8B || v == 0x8E) && at(12) == 0 && at(13) == 0 &&
        at(30) == 0 && at(31) == 0) {
      return kTypeDbf;
    }
  }
  if (at(0) == '<' && EqualsIgnoringCase(b, 1, "html", 4) && at(5) == '>') return kTypeHtm;
  if (Bytes(b, 0, "MThd", 4)) return kTypeMid;
  if (Bytes(b, 0, "moov", 4)) return kTypeMov;
  if (InBounds(b, 0, 4) && le32(b, 0) == 0x04034B50) return kTypeZip;
  if (Bytes(b, 0, "Rar!\x1A\x07\0", 7)) return kTypeRar;
  if (Bytes(b, 257, "ustar\0", 6)) return kTypeTar;
  if (IsId3Start(b)) return kTypeMp3;
  if (IsOggStart(b)) return kTypeOgg;
  if (IsFileTypeBox(b)) return kTypeMp4;
  if (IsPackHeader(b)) return kTypeMpg;
  return kNoType;
}

bool StartsWithStrongSignature(ByteSpan cluster) {
  switch (IdentifySignature(cluster)) {
    case kNoType:
    case kTypeTga:
    case kTypePcx:
    case kTypeDbf: return false;
    // Two bytes are too few: a JPEG start is only believed with the FF of
    // its first marker behind them.
    case kTypeJpg: return InBounds(cluster, 0, 3) && le8(cluster, 2) == 0xFF;
    default: return true;
  }
}


// ---------------------------------------------------------------------------
// Remembered walks

namespace {

// Rules that note their walks in the volume's memo. Searches are told
// apart by their pattern, hashed into the point's state.
enum WalkRule : std::uint32_t { kWalkGif = 1, kWalkJpeg = 2, kWalkPcx = 3, kWalkSearch = 4 };

WalkMemo& MemoOf(CDriver& volume) {
  return volume.Walks().For(volume.FirstCluster(), volume.LastCluster(), ClusterStream::ClusterSize(volume));
}

// The points one walk passes, and what it learns from earlier walks. Only
// the first resumable point in each group of kGroup clusters is looked up
// and noted: two walks that met somewhere inside a group go on alike and
// meet again at the first such point of the next group they both enter, so
// the memo holds at most one point per group and walk, and a walk that
// joins an earlier one repeats at most a group's worth of its work.
class WalkTrail {
 public:
  WalkTrail(CDriver& volume, const ClusterStream& stream, std::uint32_t rule)
      : memo_(MemoOf(volume)), s_(stream), rule_(rule) {}

  // At a point where the walk could be resumed in parser state `state`,
  // having counted `counted` so far: the end an earlier walk met from
  // here, if any.
  std::optional<WalkEnd> At(std::uint64_t state, std::uint64_t counted = 0) {
    return AtPoint(s_.Cluster(), s_.Offset(), state, counted);
  }
  std::optional<WalkEnd> AtPoint(std::uint64_t cluster, std::uint64_t offset, std::uint64_t state,
                                 std::uint64_t counted) {
    if (noted_ && cluster / kGroup == lastGroup_) return std::nullopt;
    noted_ = true;
    lastGroup_ = cluster / kGroup;
    const WalkPoint point{cluster, offset, state, rule_};
    if (const WalkEnd* end = memo_.Find(point)) {
      hit_ = {point, counted};
      return *end;
    }
    points_.push_back({point, counted});
    return std::nullopt;
  }

  // A walk that took an earlier walk's end from the point At() just gave
  // and then goes on from that end (a decode with more left to do) notes
  // the point too, so that it is remembered with where this walk ends.
  // Without this, every later walk would hop from end to end of all the
  // walks before it.
  void GoesOnFromHit() { points_.push_back(hit_); }

  // Remembers the end for every point passed; `end.counted` is the total
  // counted from the start of the walk.
  void End(const WalkEnd& end) {
    for (const Noted& n : points_) {
      WalkEnd fromHere = end;
      fromHere.counted = end.counted >= n.counted ? end.counted - n.counted : 0;
      memo_.Remember(n.point, fromHere);
    }
    points_.clear();
  }
  void Fail() { End(WalkEnd{}); }

 private:
  struct Noted {
    WalkPoint point;
    std::uint64_t counted;
  };
  WalkMemo& memo_;
  const ClusterStream& s_;
  std::uint32_t rule_;
  static constexpr std::uint64_t kGroup = 4;
  bool noted_ = false;
  std::uint64_t lastGroup_ = 0;
  std::vector<Noted> points_;
  Noted hit_{};
};

// Bytes from offset 0 of cluster `from` to (cluster, offset), or nothing
// when that cannot be told in 64 bits.
std::optional<std::uint64_t> Distance(std::uint64_t from, std::uint64_t cluster, std::uint64_t offset,
                                      std::uint64_t clusterSize) {
  if (cluster < from) return std::nullopt;
  const std::optional<std::uint64_t> whole = CheckedMul(cluster - from, clusterSize);
  if (!whole || *whole > std::numeric_limits<std::uint64_t>::max() - offset) return std::nullopt;
  return *whole + offset;
}

std::uint64_t PatternKey(const std::uint8_t* pattern, std::size_t length, bool ignoreCase) {
  std::uint64_t h = 0xCBF29CE484222325ull ^ (ignoreCase ? 1u : 0u);
  for (std::size_t i = 0; i < length; ++i) h = (h ^ pattern[i]) * 0x100000001B3ull;
  return (h ^ length) * 0x100000001B3ull;
}

}  // namespace

// ---------------------------------------------------------------------------
// Cluster stream

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

// ---------------------------------------------------------------------------
// Length rules

namespace {

// Sane maxima for walks that real files never come near; they only keep a
// hostile cluster from costing more than the scan range already allows.
constexpr std::uint64_t kMaxHuffmanTablesPerSegment = 64;
constexpr std::size_t kMaxDirectorySectors = 4096;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;

// Bytes from the start of cluster k to the end of the scan range (saturated).
std::uint64_t BytesToRangeEnd(const CDriver& volume, std::uint64_t k) {
  const std::uint64_t size = ClusterStream::ClusterSize(volume);
  if (size == 0 || k < volume.FirstCluster() || k > volume.LastCluster()) return 0;
  const std::uint64_t clusters = volume.LastCluster() - k;  // one less than the count
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (clusters >= max / size) return max;
  return (clusters + 1) * size;
}

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
    v = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
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

// The bytes of the cluster the stream loaded last.
ByteSpan LoadedCluster(const CDriver& volume) {
  return ByteSpan(volume.ClusterBuffer().data(), static_cast<std::size_t>(ClusterStream::ClusterSize(volume)));
}

// Searches for an end marker behind a fixed-size head that is skipped.
bool SearchRule(ClusterStream& s, std::uint64_t k, std::uint64_t head, const char* pattern, std::size_t n,
                bool ignoreCase, std::uint64_t& length) {
  if (!s.Begin(k)) return false;
  RuleInput in(s);
  length = head;
  return in.Skip(head) && in.Find(pattern, n, ignoreCase, length);
}

// Where the stream stands, as the end of a walk that found its file.
WalkEnd EndHere(const ClusterStream& s) { return WalkEnd{true, s.Cluster(), s.Offset(), 0, 0}; }

// Puts the stream where an earlier walk stopped.
bool MoveTo(ClusterStream& s, std::uint64_t cluster, std::uint64_t offset) {
  return s.Begin(cluster) && (offset == 0 || s.Skip(offset) >= 0);
}

// Every rule below counts each byte it passes, so a file's length is the
// distance from its first cluster to where its walk ended.
bool LengthOf(const CDriver& volume, std::uint64_t k, const WalkEnd& end, std::uint64_t& length) {
  if (!end.found) return false;
  const std::optional<std::uint64_t> d = Distance(k, end.cluster, end.offset, ClusterStream::ClusterSize(volume));
  if (!d) return false;
  length = *d;
  return true;
}

// The marker walk of a JPEG. Every marker takes at least three bytes, so
// the walk ends at the end of the scan range at the latest; the state at a
// marker is whether its FF prefix was already consumed.
WalkEnd JpegWalk(ClusterStream& s, WalkTrail& trail) {
  RuleInput in(s);
  if (!in.Skip(2)) return {};
  bool prefixConsumed = false;
  for (;;) {
    if (const std::optional<WalkEnd> known = trail.At(prefixConsumed ? 1 : 0)) return *known;
    if (!prefixConsumed && !in.Skip(1)) return {};
    prefixConsumed = false;
    std::uint8_t marker = 0;
    if (!in.Byte(marker)) return {};
    if (marker == 0xD9) return {};  // an image without any scan
    if (marker == 0xDA) {
      std::uint64_t searched = 0;
      if (!in.Find("\xFF\xD9", 2, false, searched)) return {};
      return EndHere(s);
    }
    std::uint16_t size = 0;
    if (!in.BigEndian16(size)) return {};
    if (marker == 0xC4 && size >= 208) {
      // A segment that holds several Huffman tables is walked table by
      // table up to the FF of the next marker, which is then consumed.
      std::uint8_t tableId = 0;
      if (!in.Byte(tableId)) return {};
      for (std::uint64_t tables = 0; tableId < 0xFF; ++tables) {
        if (tables >= kMaxHuffmanTablesPerSegment) return {};
        std::uint8_t counts[16];
        if (!in.Bytes(counts, sizeof counts)) return {};
        std::uint64_t symbols = 0;
        for (std::uint8_t c : counts) symbols += c;
        if (!in.Skip(symbols) || !in.Byte(tableId)) return {};
      }
      prefixConsumed = true;
      continue;
    }
    // A segment length below 2 cannot even cover its own length field.
    if (size < 2 || !in.Skip(size - 2u)) return {};
  }
}

bool JpegRule(CDriver& volume, ClusterStream& s, std::uint64_t k, std::uint64_t& length) {
  s.DrawOnAllowance();  // see GifRule
  if (!s.Begin(k)) return false;
  WalkTrail trail(volume, s, kWalkJpeg);
  const WalkEnd end = JpegWalk(s, trail);
  trail.End(end);
  return LengthOf(volume, k, end, length);
}

// GIF parser states at which a walk can be resumed.
constexpr std::uint64_t kGifBlock = 0;     // before a block introducer
constexpr std::uint64_t kGifSubBlock = 1;  // before a sub-block size byte

// Walks GIF data sub-blocks (a size byte, then that many bytes) up to the
// closing 0. False when a read fails or when an earlier walk's end was met
// (then in `known`).
bool GifSubBlocks(RuleInput& in, WalkTrail& trail, std::optional<WalkEnd>& known) {
  for (;;) {
    if ((known = trail.At(kGifSubBlock))) return false;
    std::uint8_t size = 0;
    if (!in.Byte(size)) return false;
    if (size == 0) return true;
    if (!in.Skip(size)) return false;
  }
}

std::uint64_t GifColourTableBytes(std::uint8_t packed) {
  return (packed & 0x80) ? 3u * (1u << ((packed & 7) + 1)) : 0;
}

WalkEnd GifWalk(ClusterStream& s, RuleInput& in, WalkTrail& trail) {
  std::optional<WalkEnd> known;
  for (;;) {
    if ((known = trail.At(kGifBlock))) return *known;
    std::uint8_t x = 0;
    if (!in.Byte(x)) return {};
    if (x == 0x21) {
      std::uint8_t label = 0;
      if (!in.Byte(label)) return {};
      if (label == 0xF9) {
        std::uint8_t terminator = 0xFF;
        if (!in.Skip(5) || !in.Byte(terminator) || terminator != 0) return {};
      } else if (!GifSubBlocks(in, trail, known)) {
        return known ? *known : WalkEnd{};
      }
    } else if (x == 0x2C) {
      std::uint8_t packed = 0;
      if (!in.Skip(8) || !in.Byte(packed)) return {};
      if (!in.Skip(GifColourTableBytes(packed)) || !in.Skip(1)) return {};
      if (!GifSubBlocks(in, trail, known)) return known ? *known : WalkEnd{};
    } else if (x == 0x3B) {
      return EndHere(s);
    }
    // Any other byte is passed over.
  }
}

bool GifRule(CDriver& volume, ClusterStream& s, std::uint64_t k, std::uint64_t& length) {
  // Walks meet only when they parse the same bytes alike. Over data that
  // repeats, walks that start at different places of the repetition can
  // stay out of step for good, each as long as the range; there can be as
  // many of them as the repetition has bytes. Their loads therefore come
  // from the range's allowance too, as the JPEG and PCX walks' do.
  s.DrawOnAllowance();
  if (!s.Begin(k)) return false;
  RuleInput in(s);
  if (!in.Skip(13 + GifColourTableBytes(le8(LoadedCluster(volume), 10)))) return false;
  WalkTrail trail(volume, s, kWalkGif);
  const WalkEnd end = GifWalk(s, in, trail);
  trail.End(end);
  return LengthOf(volume, k, end, length);
}

// How a PCX decode stopped (the kind of its end): on a failed read, with
// every byte decoded, or on a run longer than what was left (the run's count
// is added to the kind).
constexpr std::uint32_t kPcxRanOut = 0;
constexpr std::uint32_t kPcxDone = 1;
constexpr std::uint32_t kPcxOvershoot = 2;

// Decodes `left` bytes of run-length data. A token (a literal byte, or a
// run byte and its data byte) is parsed the same way whatever is left to
// decode, so walks that meet at a token boundary decode the same tokens
// from there; the memo holds how many bytes the tokens up to an earlier
// walk's stop decoded, which a later walk can take whole when it still has
// at least that many to go.
WalkEnd PcxDecode(ClusterStream& s, RuleInput& in, WalkTrail& trail, std::uint64_t left) {
  std::uint64_t decoded = 0;
  while (left > 0) {
    // Each pass decodes the tokens that lie whole in one cluster; the
    // first token boundary of every cluster is a point of the walk.
    const ByteSpan window = s.Window();
    if (window.empty()) return WalkEnd{false, s.Cluster(), s.Offset(), decoded, kPcxRanOut};
    if (const std::optional<WalkEnd> known = trail.At(0, decoded)) {
      const std::uint64_t c = known->counted;
      if (c == left) return WalkEnd{true, known->cluster, known->offset, decoded + c, kPcxDone};
      if (c < left) {
        // This walk reaches the same stop with more to decode: it fails
        // there as the earlier one did, or decodes on from there.
        const WalkEnd sameStop{false, known->cluster, known->offset, decoded + c, known->kind};
        if (known->kind == kPcxRanOut) return sameStop;
        if (known->kind >= kPcxOvershoot && known->kind - kPcxOvershoot > left - c) return sameStop;
        trail.GoesOnFromHit();
        if (!MoveTo(s, known->cluster, known->offset)) return WalkEnd{false, known->cluster, known->offset, decoded + c, kPcxRanOut};
        left -= c;
        decoded += c;
        continue;
      }
      // The earlier walk went further than this one may: decode here.
    }
    const std::uint8_t* const begin = window.data();
    const std::uint8_t* const end = begin + window.size();
    const std::uint8_t* p = begin;
    while (left > 0 && p != end) {
      const std::uint8_t c = *p;
      if (c < 0xC0) {
        ++p;
        --left;
        ++decoded;
        continue;
      }
      if (end - p < 2) break;  // a run whose data byte is in the next cluster
      const std::uint64_t count = c & 0x3Fu;
      if (count > left) {
        s.Advance(static_cast<std::size_t>(p - begin));
        return WalkEnd{false, s.Cluster(), s.Offset(), decoded, kPcxOvershoot + static_cast<std::uint32_t>(count)};
      }
      p += 2;
      left -= count;
      decoded += count;
    }
    s.Advance(static_cast<std::size_t>(p - begin));
    if (left == 0 || p == end) continue;
    // The run that straddles two clusters.
    const WalkEnd here{false, s.Cluster(), s.Offset(), decoded, kPcxRanOut};
    std::uint8_t c = 0;
    std::uint8_t data = 0;
    if (!in.Byte(c) || !in.Byte(data)) return here;
    const std::uint64_t count = c & 0x3Fu;
    if (count > left) return WalkEnd{false, here.cluster, here.offset, decoded, kPcxOvershoot + static_cast<std::uint32_t>(count)};
    left -= count;
    decoded += count;
  }
  return WalkEnd{true, s.Cluster(), s.Offset(), decoded, kPcxDone};
}

bool PcxRule(CDriver& volume, ClusterStream& s, std::uint64_t k, std::uint64_t& length) {
  // A remembered decode helps a later one only when that one has at least
  // as much left to decode, and decodes out of step never meet (see
  // GifRule); their loads come from the range's allowance, so that many
  // such headers cannot add up.
  s.DrawOnAllowance();
  if (!s.Begin(k)) return false;
  const ByteSpan head = LoadedCluster(volume);
  const std::int64_t rows = static_cast<std::int64_t>(le16(head, 10)) - le16(head, 6) + 1;
  const auto planes = static_cast<std::int8_t>(le8(head, 65));
  const std::int64_t left = rows * le16(head, 66) * planes;
  // A negative count (rows or planes below zero) could never be decoded to
  // its end; the image is taken as broken rather than read to the end of
  // the scan range.
  if (left < 0) return false;
  const bool paletteImage = le8(head, 1) == 5 && le8(head, 3) == 8 && planes == 1;
  RuleInput in(s);
  if (!in.Skip(128)) return false;
  WalkTrail trail(volume, s, kWalkPcx);
  const WalkEnd end = PcxDecode(s, in, trail, static_cast<std::uint64_t>(left));
  trail.End(end);
  if (!LengthOf(volume, k, end, length)) return false;
  // A 256-colour image keeps its palette behind the pixel data: a 0x0C
  // byte and 768 colour bytes. Without them the recovered image would lose
  // its colours, so they belong to the file when they are there. (A stop
  // taken from an earlier walk leaves the stream elsewhere, so it is moved
  // to the end first.)
  if (paletteImage && (s.Cluster() == end.cluster && s.Offset() == end.offset ? true : MoveTo(s, end.cluster, end.offset))) {
    ClusterStream probe = s;
    RuleInput tail(probe);
    std::uint8_t mark = 0;
    if (tail.Byte(mark) && mark == 0x0C && tail.Skip(768)) length += 769;
  }
  return true;
}

// Compound documents: the length comes from the sector allocation table,
// the kind of document from the names in its directory.
class CompoundDocument {
 public:
  CompoundDocument(CDriver& volume, ClusterStream& s, std::uint64_t k) : volume_(volume), s_(s), k_(k) {
    s_.DrawOnAllowance();
  }

  bool Measure(std::uint64_t& length, std::string& name) {
    if (!s_.Begin(k_)) return false;
    if (s_.Read(header_.data(), header_.size()) != header_.size()) return false;
    // Sector sizes outside 128 bytes to 64 KiB are refused: the shift is
    // not trusted to stay within what a sector buffer may hold.
    const std::uint16_t shift = le16(header_, 30);
    if (shift < 7 || shift > 16) return false;
    sectorSize_ = std::uint64_t{1} << shift;
    entriesPerSector_ = sectorSize_ / 4;
    // The header takes a whole sector when sectors are larger than it.
    length_ = std::max<std::uint64_t>(512, sectorSize_);
    // A document cannot have more allocation sectors than the sectors of
    // the scan range would need.
    maxFatSectors_ = BytesToRangeEnd(volume_, k_) / sectorSize_ / entriesPerSector_ + 1;
    directoryNow_ = le32(header_, 48);
    directories_.push_back(directoryNow_);
    listed_.insert(directoryNow_);

    for (std::size_t i = 0; i < 109; ++i) {
      const std::uint32_t f = le32(header_, 76 + 4 * i);
      if (f == kFreeSector) break;
      if (!VisitFatSector(f)) return false;
    }
    if (!WalkIndexSectors()) return false;

    name = "MSCOMP";
    if (!FindStreamName(name)) return false;
    length = length_;
    return true;
  }

 private:
  bool SeekSector(std::uint64_t sector) {
    return s_.Begin(k_) && s_.Skip((sector + 1) * sectorSize_) >= 0;
  }

  bool VisitFatSector(std::uint32_t f) {
    if (++fatSectorsVisited_ > maxFatSectors_) return false;
    if (!SeekSector(f)) return false;
    RuleInput in(s_);
    std::uint64_t lastUsed = 0;
    for (std::uint64_t i = 0; i < entriesPerSector_; ++i) {
      std::uint32_t v = 0;
      if (!in.Le32(v)) return false;
      if (v == kFreeSector) continue;
      if (base_ + i == directoryNow_) {
        directoryNow_ = v;
        // A chain that comes back to a sector it named before adds nothing
        // the name search would not have read already; without this, a
        // looping chain would have every sector read thousands of times.
        if (directories_.size() < kMaxDirectorySectors && listed_.insert(v).second) directories_.push_back(v);
      }
      lastUsed = i;
    }
    length_ += (lastUsed + 1) * sectorSize_;
    base_ += lastUsed + 1;
    return true;
  }

  // The allocation sectors beyond the 109 of the header are listed in
  // chained index sectors. Unused slots hold the free value, which ends the
  // list; the chain is followed at most as often as the header says and
  // never for more allocation sectors than the range allows.
  bool WalkIndexSectors() {
    const std::uint32_t count = le32(header_, 72);
    if (count == 0) return true;
    std::vector<std::uint8_t> index(static_cast<std::size_t>(sectorSize_));
    std::uint32_t next = le32(header_, 68);
    for (std::uint32_t n = 0; n < count; ++n) {
      if (next == kFreeSector || next == kEndOfChain) return true;
      if (!SeekSector(next) || s_.Read(index.data(), index.size()) != index.size()) return false;
      const ByteSpan sector(index);
      for (std::uint64_t e = 0; e + 1 < entriesPerSector_; ++e) {
        const std::uint32_t f = le32(sector, static_cast<std::size_t>(4 * e));
        if (f == kFreeSector) return true;
        if (!VisitFatSector(f)) return false;
      }
      next = le32(sector, static_cast<std::size_t>(sectorSize_ - 4));
    }
    return true;
  }

  bool FindStreamName(std::string& name) {
    struct Known {
      const char* stream;
      const char* type;
    };
    static constexpr Known kKnown[] = {
        {"Workbook", "XLS"}, {"WordDocument", "DOC"}, {"PowerPoint Document", "PPT"}, {"VisioDocument", "VSD"}};
    for (std::uint32_t sector : directories_) {
      if (sector == kEndOfChain) break;
      if (!SeekSector(sector)) return false;
      for (std::uint64_t e = 0; e < sectorSize_ / 128; ++e) {
        std::uint8_t entry[128];
        if (s_.Read(entry, sizeof entry) != sizeof entry) return false;
        const ByteSpan bytes(entry, sizeof entry);
        if (le16(bytes, 64) == 0) continue;
        for (const Known& known : kKnown) {
          if (NameFieldIs(bytes, known.stream)) {
            name = known.type;
            return true;
          }
        }
      }
    }
    return true;
  }

  // The 64-byte UTF-16 name field, zero-padded, and the name size in bytes
  // with the terminating zero.
  static bool NameFieldIs(ByteSpan entry, const char* stream) {
    std::uint8_t expected[66] = {};
    std::size_t n = std::strlen(stream);
    for (std::size_t i = 0; i < n; ++i) expected[2 * i] = static_cast<std::uint8_t>(stream[i]);
    const auto size = static_cast<std::uint16_t>((n + 1) * 2);
    expected[64] = static_cast<std::uint8_t>(size & 0xFF);
    expected[65] = static_cast<std::uint8_t>(size >> 8);
    return std::memcmp(entry.data(), expected, sizeof expected) == 0;
  }

  CDriver& volume_;
  ClusterStream& s_;
  std::uint64_t k_;
  std::array<std::uint8_t, 512> header_{};
  std::uint64_t sectorSize_ = 0;
  std::uint64_t entriesPerSector_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t maxFatSectors_ = 0;
  std::uint64_t fatSectorsVisited_ = 0;
  std::uint64_t base_ = 0;
  std::uint32_t directoryNow_ = 0;
  std::vector<std::uint32_t> directories_;
  std::unordered_set<std::uint32_t> listed_;
};

bool RiffRule(CDriver& volume, ClusterStream& s, std::uint64_t k, std::uint64_t& length) {
  if (!s.Begin(k)) return false;
  length = std::uint64_t{le32(LoadedCluster(volume), 4)} + 8;
  return true;
}

bool BmpRule(CDriver& volume, ClusterStream& s, std::uint64_t k, std::uint64_t& length) {
  if (!s.Begin(k) || !IsBmpHeader(LoadedCluster(volume))) return false;
  length = le32(LoadedCluster(volume), 2);
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

LostFileGuess DetectLostFile(CDriver& volume, std::uint64_t cluster) {
  LostFileGuess guess;
  if (ClusterStream::ClusterSize(volume) == 0) return guess;
  const std::uint16_t code = IdentifySignature(LoadedCluster(volume));
  if (code >= kTypeNameCount) return guess;
  guess.typeName = kTypeNames[code];
  ClusterStream s(volume);
  std::uint64_t length = 0;
  bool measured = false;
  switch (code) {
    case kTypeBmp: measured = BmpRule(volume, s, cluster, length); break;
    case kTypeJpg: measured = JpegRule(volume, s, cluster, length); break;
    case kTypeGif: measured = GifRule(volume, s, cluster, length); break;
    case kTypeTga: measured = SearchRule(s, cluster, 3, "UEVISION-XFILE.\0", 16, false, length); break;
    case kTypePcx: measured = PcxRule(volume, s, cluster, length); break;
    case kTypePng: measured = SearchRule(s, cluster, 8, "\0\0\0\0IEND\xAE\x42\x60\x82", 12, false, length); break;
    case kTypeOffice: measured = CompoundDocument(volume, s, cluster).Measure(length, guess.typeName); break;
    case kTypeHtm: measured = SearchRule(s, cluster, 6, "</html>", 7, true, length); break;
    case kTypeAvi:
    case kTypeWav:
    case kTypeCdr: measured = RiffRule(volume, s, cluster, length); break;
    case kTypeZip:
      // The end record counts without its comment, unless the record can
      // be read: then the comment counts too, and the archive's members
      // may tell the kind of document it is.
      measured = SearchRule(s, cluster, 4, "PK\x05\x06", 4, false, length);
      if (measured) {
        const std::uint64_t record = length - 4;
        length += 18;
        rules::ZipEnd(volume, cluster, record, length, guess.typeName);
      }
      break;
    case kTypePdf: measured = rules::PdfLength(volume, cluster, length); break;
    case kTypeMp3: measured = rules::Mp3Length(volume, cluster, length); break;
    case kTypeOgg: measured = rules::OggLength(volume, cluster, length); break;
    case kTypeMp4: measured = rules::Mp4Length(volume, cluster, length, guess.typeName); break;
    case kTypeMpg: measured = rules::MpegProgramLength(volume, cluster, length); break;
    case kTypeRar: measured = SearchRule(s, cluster, 7, "\xC4\x3D\x7B\x00\x40\x07\x00", 7, false, length); break;
    default: break;  // recognised, but there is no way to tell its length
  }
  // A length that reaches past the scan range belongs to a damaged header
  // or to a file that is not all there; either way it is not a find.
  if (!measured || length > BytesToRangeEnd(volume, cluster)) return guess;
  guess.found = true;
  guess.length = length;
  return guess;
}

LostFileGuess ScanForLostFile(CDriver& volume, std::uint64_t cluster) {
  if (!volume.ReadCluster(cluster)) return {};
  return DetectLostFile(volume, cluster);
}

std::uint32_t RateDeletedFile(CDriver& volume, std::uint64_t firstCluster, CDirEntry* file) {
  if (file == nullptr) return kStatusGood;
  const std::string type = Upper(file->GetTypeText());
  // Many deleted entries may name the same first cluster (a damaged folder
  // easily does); the detector's answer for a cluster is remembered so
  // that each is measured once.
  WalkMemo& memo = MemoOf(volume);
  LostFileGuess guess;
  if (const RememberedGuess* known = memo.FindGuess(firstCluster)) {
    guess.found = known->found;
    guess.typeName = known->typeName;
    guess.length = known->length;
  } else {
    guess = ScanForLostFile(volume, firstCluster);
    memo.RememberGuess(firstCluster, RememberedGuess{guess.found, guess.typeName, guess.length});
  }
  if (guess.found) {
    return Upper(guess.typeName) == type && guess.length == file->GetSize() ? kStatusExcellent : kStatusGood;
  }
  for (const char* name : kTypeNames) {
    if (type == name) return kStatusPoor;
  }
  return kStatusGood;
}

}  // namespace relictor
