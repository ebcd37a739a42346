#include "scan/media_rules.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "scan/signatures.h"
#include "volume/driver.h"

namespace relictor::rules {
namespace {

// Bytes from the start of cluster k to the end of the scan range
// (saturated), the most any file that starts there can hold.
std::uint64_t RangeBytes(const CDriver& volume, std::uint64_t k) {
  const std::uint64_t size = ClusterStream::ClusterSize(volume);
  if (size == 0 || k < volume.FirstCluster() || k > volume.LastCluster()) return 0;
  const std::uint64_t clusters = volume.LastCluster() - k;
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (clusters >= max / size) return max;
  return (clusters + 1) * size;
}

std::uint32_t Be32(const std::uint8_t* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}
std::uint16_t Be16(const std::uint8_t* b) { return static_cast<std::uint16_t>((b[0] << 8) | b[1]); }
std::uint32_t Le32(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}
std::uint16_t Le16(const std::uint8_t* b) { return static_cast<std::uint16_t>(b[0] | (b[1] << 8)); }

// The bytes of a file that starts at cluster k, read at offsets from its
// start. Reads that go forward only skip to the cluster they need (the
// clusters in between are not read); a read behind the last one starts
// over from cluster k. Nothing past the scan range is ever read.
class FileBytes {
 public:
  FileBytes(CDriver& volume, std::uint64_t k)
      : volume_(volume), stream_(volume), k_(k), limit_(RangeBytes(volume, k)) {
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

// ---------------------------------------------------------------------------
// MP3

struct MpegAudioFrame {
  unsigned version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  unsigned layer = 0;    // 3 layer I, 2 layer II, 1 layer III (as the header codes them)
  unsigned rateIndex = 0;
  std::uint32_t length = 0;
};

// Parses an MPEG audio frame header. Free-format frames (bit rate index 0)
// carry no length and are refused, as are the reserved values.
bool ParseMpegAudioHeader(const std::uint8_t* h, MpegAudioFrame& f) {
  const std::uint32_t v = Be32(h);
  if ((v >> 21) != 0x7FF) return false;
  f.version = (v >> 19) & 3;
  f.layer = (v >> 17) & 3;
  const unsigned bitrateIndex = (v >> 12) & 0xF;
  f.rateIndex = (v >> 10) & 3;
  const unsigned padding = (v >> 9) & 1;
  if (f.version == 1 || f.layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || f.rateIndex == 3) return false;
  static constexpr std::uint16_t kRates[3][3] = {{11025, 12000, 8000}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  static constexpr std::uint16_t kV1[3][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // layer II
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // layer I
  };
  static constexpr std::uint16_t kV2[2][15] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // layers II and III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // layer I
  };
  const unsigned rate = kRates[f.version == 3 ? 2 : (f.version == 2 ? 1 : 0)][f.rateIndex];
  const unsigned kbps = f.version == 3 ? kV1[f.layer - 1][bitrateIndex] : kV2[f.layer == 3 ? 1 : 0][bitrateIndex];
  const std::uint32_t bits = kbps * 1000u;
  if (f.layer == 3) {
    f.length = (12 * bits / rate + padding) * 4;
  } else if (f.layer == 1 && f.version != 3) {
    f.length = 72 * bits / rate + padding;
  } else {
    f.length = 144 * bits / rate + padding;
  }
  return f.length >= 4;
}

}  // namespace

bool Mp3Length(CDriver& volume, std::uint64_t k, std::uint64_t& length) {
  FileBytes f(volume, k);
  std::uint8_t h[10];
  if (!f.Read(0, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0) return false;
  for (int i = 6; i < 10; ++i) {
    if (h[i] & 0x80) return false;
  }
  const std::uint64_t tagSize =
      (std::uint64_t{h[6]} << 21) | (std::uint64_t{h[7]} << 14) | (std::uint64_t{h[8]} << 7) | h[9];
  // Version 4 tags may carry a copy of the header as a footer.
  std::uint64_t pos = 10 + tagSize + ((h[3] == 4 && (h[5] & 0x10)) ? 10 : 0);
  // Every frame must belong to the stream the first one starts: the same
  // MPEG version, layer and sampling rate. Bytes behind the end of the
  // file rarely pass that by chance.
  MpegAudioFrame first;
  std::uint64_t frames = 0;
  for (;;) {
    std::uint8_t head[4];
    if (pos == f.Limit() || !f.Read(pos, head, sizeof head)) break;
    MpegAudioFrame frame;
    if (!ParseMpegAudioHeader(head, frame)) break;
    if (frames == 0) {
      first = frame;
    } else if (frame.version != first.version || frame.layer != first.layer || frame.rateIndex != first.rateIndex) {
      break;
    }
    // A frame cut off by the end of the range ends what can be measured.
    // The walk does not fail there: a failed walk leaves its clusters to
    // be walked again from every later start.
    if (frame.length > f.Limit() - pos) break;
    pos += frame.length;
    ++frames;
  }
  if (frames == 0) return false;
  // An ID3v1 tag of 128 bytes may close the file.
  std::uint8_t tag[3];
  if (f.Limit() - pos >= 128 && f.Read(pos, tag, sizeof tag) && std::memcmp(tag, "TAG", 3) == 0) pos += 128;
  length = pos;
  return true;
}

namespace {

// The checksum of Ogg pages: CRC-32 with the polynomial 0x04C11DB7, not
// reflected, starting from 0.
std::uint32_t OggCrc(std::uint32_t crc, const std::uint8_t* data, std::size_t n) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int j = 0; j < 8; ++j) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  for (std::size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

}  // namespace

bool OggLength(CDriver& volume, std::uint64_t k, std::uint64_t& length) {
  FileBytes f(volume, k);
  // Logical streams that began and have not ended yet. Real files have a
  // few; a page chain that opens more is not taken for a file.
  constexpr std::size_t kMaxStreams = 256;
  std::vector<std::uint32_t> open;
  std::vector<std::uint8_t> content;
  std::uint64_t pos = 0;
  bool anyStream = false;
  for (;;) {
    std::uint8_t page[27];
    if (pos == f.Limit() || !f.Read(pos, page, sizeof page)) return false;
    if (std::memcmp(page, "OggS", 4) != 0 || page[4] != 0) return false;
    const std::uint8_t flags = page[5];
    const std::uint32_t serial = Le32(page + 14);
    const unsigned segments = page[26];
    std::uint8_t lacing[255];
    if (!f.Read(pos + 27, lacing, segments)) return false;
    std::uint64_t body = 0;
    for (unsigned i = 0; i < segments; ++i) body += lacing[i];
    const std::uint64_t pageLength = 27 + segments + body;
    if (pageLength > f.Limit() - pos) return false;
    // Every page carries a checksum over its bytes, which tells a page
    // whose tail was overwritten from a whole one.
    content.resize(static_cast<std::size_t>(body));
    if (!f.Read(pos + 27 + segments, content.data(), body)) return false;
    std::uint32_t crc = 0;
    std::uint8_t head[27];
    std::memcpy(head, page, sizeof head);
    std::memset(head + 22, 0, 4);
    crc = OggCrc(crc, head, sizeof head);
    crc = OggCrc(crc, lacing, segments);
    crc = OggCrc(crc, content.data(), content.size());
    if (crc != Le32(page + 22)) return false;
    auto it = std::find(open.begin(), open.end(), serial);
    if (flags & 0x02) {
      // A stream begins once; a second beginning is another file's.
      if (it != open.end() || open.size() >= kMaxStreams) return false;
      open.push_back(serial);
      it = open.end() - 1;
      anyStream = true;
    } else if (it == open.end()) {
      // A page of a stream that never began here: not this file's.
      return false;
    }
    pos += pageLength;
    if (flags & 0x04) {
      open.erase(it);
      if (open.empty()) {
        // A chained stream may follow at once; otherwise the file ends.
        std::uint8_t next[6];
        if (pos < f.Limit() && f.Read(pos, next, sizeof next) && std::memcmp(next, "OggS", 4) == 0 &&
            next[4] == 0 && (next[5] & 0x02)) {
          continue;
        }
        length = pos;
        return anyStream;
      }
    }
  }
}

namespace {

bool IsTopLevelBox(const std::uint8_t* type) {
  static constexpr const char* kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                           "pdin", "moof", "mfra", "sidx", "styp", "ssix", "prft", "emsg",
                                           "pnot", "junk", "udta", "PICT"};
  for (const char* t : kTypes) {
    if (std::memcmp(type, t, 4) == 0) return true;
  }
  return false;
}

}  // namespace

bool Mp4Length(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name) {
  FileBytes f(volume, k);
  std::uint8_t head[16];
  if (!f.Read(0, head, sizeof head) || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
  const std::uint8_t* brand = head + 8;
  if (std::memcmp(brand, "qt  ", 4) == 0) {
    name = kTypeNames[kTypeMov];
  } else if (std::memcmp(brand, "M4A ", 4) == 0 || std::memcmp(brand, "M4B ", 4) == 0 ||
             std::memcmp(brand, "M4P ", 4) == 0) {
    name = kTypeNames[kTypeM4a];
  } else {
    name = kTypeNames[kTypeMp4];
  }
  std::uint64_t pos = 0;
  bool movie = false;
  for (;;) {
    std::uint8_t box[8];
    if (pos == f.Limit() || !f.Read(pos, box, sizeof box) || !IsTopLevelBox(box + 4)) break;
    std::uint64_t size = Be32(box);
    if (size == 1) {
      std::uint8_t large[8];
      if (!f.Read(pos + 8, large, sizeof large)) return false;
      size = (std::uint64_t{Be32(large)} << 32) | Be32(large + 4);
      if (size < 16) return false;
    } else if (size == 0) {
      // A box that runs to the end of the file says nothing about where
      // that is.
      return false;
    } else if (size < 8) {
      break;  // cannot even hold its own header: no box
    }
    if (size > f.Limit() - pos) return false;  // cut off by the end of the range
    if (std::memcmp(box + 4, "moov", 4) == 0) movie = true;
    // A second file-type box starts another movie.
    if (pos > 0 && std::memcmp(box + 4, "ftyp", 4) == 0) break;
    pos += size;
  }
  if (!movie) return false;
  length = pos;
  return true;
}

bool MpegProgramLength(CDriver& volume, std::uint64_t k, std::uint64_t& length) {
  FileBytes f(volume, k);
  std::uint64_t pos = 0;
  std::uint64_t packs = 0;
  std::uint64_t lastClock = 0;
  for (;;) {
    // Many writers leave the end code out: the stream then ends where the
    // next bytes start no pack or packet (or where the range ends).
    std::uint8_t h[14];
    if (pos == f.Limit() || !f.Read(pos, h, 4) || h[0] != 0 || h[1] != 0 || h[2] != 1 ||
        (h[3] != 0xBA && h[3] != 0xB9 && h[3] < 0xBB)) {
      if (pos == 0) return false;
      length = pos;
      return true;
    }
    const std::uint8_t code = h[3];
    std::uint64_t size = 0;
    if (code == 0xB9) {
      length = pos + 4;
      return true;
    }
    if (code == 0xBA) {
      if (!f.Read(pos + 4, h + 4, 5)) return false;
      std::uint64_t clock = 0;
      if ((h[4] & 0xC0) == 0x40) {
        // MPEG-2 pack header: 14 bytes and up to 7 stuffing bytes.
        if (!f.Read(pos + 9, h + 9, 5)) return false;
        size = 14 + (h[13] & 7u);
        clock = (std::uint64_t{h[4] & 0x38u} << 27) | (std::uint64_t{h[4] & 0x03u} << 28) |
                (std::uint64_t{h[5]} << 20) | (std::uint64_t{h[6] & 0xF8u} << 12) |
                (std::uint64_t{h[6] & 0x03u} << 13) | (std::uint64_t{h[7]} << 5) | (h[8] >> 3);
      } else if ((h[4] & 0xF0) == 0x20) {
        size = 12;
        clock = (std::uint64_t{(h[4] >> 1) & 7u} << 30) | (std::uint64_t{h[5]} << 22) |
                ((std::uint64_t{h[6]} >> 1) << 15) | (std::uint64_t{h[7]} << 7) | (h[8] >> 1);
      } else {
        return false;
      }
      // The system clock of a stream's packs only grows. A pack whose clock
      // goes back starts another stream: a file that begins in the cluster
      // right behind this one's end.
      if (packs > 0 && clock < lastClock) {
        length = pos;
        return true;
      }
      lastClock = clock;
      ++packs;
    } else {
      if (!f.Read(pos + 4, h + 4, 2)) return false;
      size = 6 + std::uint64_t{Be16(h + 4)};
    }
    // A packet cut off by the end of the range ends the stream there, as
    // with MP3 frames.
    if (size > f.Limit() - pos) {
      length = pos;
      return true;
    }
    pos += size;
  }
}

namespace {

// Looks for `pattern` from offset `from` up to `from + window` (and never
// past the range), one cluster at a time; a match may straddle two
// clusters. The search gives up at a later cluster that starts another
// file, and, with `zeroClusterEnds`, at a cluster of zeros, which no file
// that goes on would hold. On a match `end` is the offset behind it.
bool SearchForward(FileBytes& f, std::uint64_t from, const char* pattern, std::size_t n, std::uint64_t window,
                   bool zeroClusterEnds, std::uint64_t& end) {
  const std::uint64_t cluster = f.ClusterSize();
  if (cluster == 0 || n == 0 || from > f.Limit()) return false;
  const std::uint64_t stop = window > f.Limit() - from ? f.Limit() : from + window;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cluster) + n);
  std::size_t carried = 0;  // bytes of the previous chunk kept for a straddling match
  std::uint64_t pos = from;
  while (pos < stop) {
    const std::uint64_t chunk = std::min(stop - pos, cluster - pos % cluster);
    std::uint8_t* data = buffer.data() + carried;
    if (!f.Read(pos, data, chunk)) return false;
    if (pos % cluster == 0 && pos != 0 && chunk == cluster) {
      const ByteSpan whole(data, static_cast<std::size_t>(chunk));
      if (StartsWithStrongSignature(whole)) return false;
      if (zeroClusterEnds && std::all_of(whole.begin(), whole.end(), [](std::uint8_t b) { return b == 0; })) {
        return false;
      }
    }
    const std::size_t have = carried + static_cast<std::size_t>(chunk);
    const auto* hit = std::search(buffer.data(), buffer.data() + have, pattern, pattern + n,
                                  [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    if (hit != buffer.data() + have) {
      const std::uint64_t at = pos - carried + static_cast<std::uint64_t>(hit - buffer.data());
      end = at + n;
      return true;
    }
    carried = std::min(n - 1, have);
    std::memmove(buffer.data(), buffer.data() + have - carried, carried);
    pos += chunk;
  }
  return false;
}

// The line end behind an end marker: CR, LF or CR LF.
std::uint64_t WithLineEnd(FileBytes& f, std::uint64_t at) {
  std::uint8_t c = 0;
  if (at >= f.Limit() || !f.Read(at, &c, 1)) return at;
  if (c == '\n') return at + 1;
  if (c != '\r') return at;
  if (at + 1 < f.Limit() && f.Read(at + 1, &c, 1) && c == '\n') return at + 2;
  return at + 1;
}

// The length a linearized document declares ("/L" of its linearization
// dictionary in the first kilobyte), or 0.
std::uint64_t LinearizedLength(FileBytes& f) {
  std::array<std::uint8_t, 1024> head{};
  const std::uint64_t n = std::min<std::uint64_t>(head.size(), std::min(f.Limit(), f.ClusterSize()));
  if (!f.Read(0, head.data(), n)) return 0;
  const auto* begin = head.data();
  const auto* endOfHead = head.data() + n;
  const char kTag[] = "/Linearized";
  const auto* at = std::search(begin, endOfHead, kTag, kTag + sizeof kTag - 1,
                               [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  if (at == endOfHead) return 0;
  // The dictionary closes with ">>"; "/L" must be the key itself, not the
  // start of "/Linearized" or of another key.
  for (const auto* p = at + sizeof kTag - 1; p + 3 < endOfHead; ++p) {
    if (p[0] == '>' && p[1] == '>') return 0;
    if (p[0] == '/' && p[1] == 'L' && (p[2] == ' ' || p[2] == '\r' || p[2] == '\n')) {
      std::uint64_t value = 0;
      const auto* d = p + 3;
      while (d < endOfHead && *d == ' ') ++d;
      int digits = 0;
      for (; d < endOfHead && *d >= '0' && *d <= '9' && digits < 15; ++d, ++digits) value = value * 10 + (*d - '0');
      return digits > 0 ? value : 0;
    }
  }
  return 0;
}

}  // namespace

bool PdfLength(CDriver& volume, std::uint64_t k, std::uint64_t& length) {
  // Incremental updates append a new body, cross-reference section and
  // end marker; they are rarely far apart. Further markers are looked for
  // within this window behind the last one, so that old data in the free
  // clusters behind a document is not taken for an update of it.
  constexpr std::uint64_t kUpdateWindow = 256 * 1024;
  constexpr std::uint64_t kMaxUpdates = 100000;
  FileBytes f(volume, k);
  std::uint64_t end = 0;
  // The first end marker is looked for as far as the range goes, up to
  // the start of another file or a cluster of zeros (free space).
  if (!SearchForward(f, 5, "%%EOF", 5, f.Limit(), true, end)) return false;
  // A linearized document ends its first page with an end marker of its
  // own; the length it declares leads past that to the real end.
  const std::uint64_t declared = LinearizedLength(f);
  if (declared > end && declared <= f.Limit() && declared >= 7) {
    std::uint8_t tail[7];
    if (f.Read(declared - 7, tail, sizeof tail)) {
      for (std::uint64_t eol = 0; eol <= 2; ++eol) {
        if (std::memcmp(tail + 2 - eol, "%%EOF", 5) == 0) {
          end = declared - eol;
          break;
        }
      }
    }
  }
  for (std::uint64_t updates = 0; updates < kMaxUpdates; ++updates) {
    std::uint64_t next = 0;
    if (!SearchForward(f, end, "%%EOF", 5, kUpdateWindow, true, next)) break;
    end = next;
  }
  length = WithLineEnd(f, end);
  return true;
}

bool ZipEnd(CDriver& volume, std::uint64_t k, std::uint64_t endRecord, std::uint64_t& length, std::string& name) {
  FileBytes f(volume, k);
  std::uint8_t record[22];
  if (!f.Read(endRecord, record, sizeof record) || Le32(record) != 0x06054B50) return false;
  const std::uint64_t recordEnd = endRecord + sizeof record;
  const std::uint16_t comment = Le16(record + 20);
  // The archive's comment is part of the file when the range holds it.
  length = comment <= f.Limit() - recordEnd ? recordEnd + comment : recordEnd;

  // Open document formats and e-books store "mimetype" first, uncompressed.
  std::uint8_t local[30];
  if (!f.Read(0, local, sizeof local)) return true;
  const std::uint16_t nameLength = Le16(local + 26);
  const std::uint16_t extraLength = Le16(local + 28);
  char first[32] = {};
  if (nameLength == 8 && f.Read(30, first, 8) && std::memcmp(first, "mimetype", 8) == 0) {
    const std::uint32_t stored = Le32(local + 18);
    char mime[64] = {};
    if (Le16(local + 8) != 0 || stored >= sizeof mime || !f.Read(30 + 8 + std::uint64_t{extraLength}, mime, stored)) {
      return true;
    }
    struct Kind {
      const char* mime;
      std::uint16_t code;
    };
    static constexpr Kind kKinds[] = {{"application/vnd.oasis.opendocument.text", kTypeOdt},
                                      {"application/vnd.oasis.opendocument.spreadsheet", kTypeOds},
                                      {"application/vnd.oasis.opendocument.presentation", kTypeOdp},
                                      {"application/epub+zip", kTypeEpub}};
    for (const Kind& kind : kKinds) {
      if (std::strlen(kind.mime) == stored && std::memcmp(mime, kind.mime, stored) == 0) name = kTypeNames[kind.code];
    }
    return true;
  }

  // Office Open XML documents list "[Content_Types].xml" and keep their
  // parts under "word/", "xl/" or "ppt/". The central directory names
  // every member, whichever comes first in the archive.
  const std::uint64_t cdSize = Le32(record + 12);
  const std::uint64_t cdOffset = Le32(record + 16);
  if (cdOffset > endRecord || cdSize > endRecord - cdOffset) return true;
  bool contentTypes = false;
  std::uint16_t kind = kNoType;
  for (std::uint64_t pos = cdOffset; pos + 46 <= cdOffset + cdSize && !(contentTypes && kind != kNoType);) {
    std::uint8_t entry[46];
    if (!f.Read(pos, entry, sizeof entry) || Le32(entry) != 0x02014B50) break;
    const std::uint16_t n = Le16(entry + 28);
    char member[20] = {};
    const std::uint64_t shown = std::min<std::uint64_t>(n, sizeof member - 1);
    if (!f.Read(pos + 46, member, shown)) break;
    if (n == 19 && std::memcmp(member, "[Content_Types].xml", 19) == 0) contentTypes = true;
    if (kind == kNoType) {
      if (std::strncmp(member, "word/", 5) == 0) kind = kTypeDocx;
      if (std::strncmp(member, "xl/", 3) == 0) kind = kTypeXlsx;
      if (std::strncmp(member, "ppt/", 4) == 0) kind = kTypePptx;
    }
    pos += 46 + std::uint64_t{n} + Le16(entry + 30) + Le16(entry + 32);
  }
  if (contentTypes && kind != kNoType) name = kTypeNames[kind];
  return true;
}

}  // namespace relictor::rules
