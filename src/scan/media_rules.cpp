// Length rules of audio and video containers: RIFF files (AVI, WAV, CDR)
// by their header, MP3 audio, Ogg streams, MP4 and QuickTime movies and
// MPEG program streams by walking their frames, pages, boxes or packs. The
// walks move forward by at least a few bytes per step and stop at the end
// of the range, so their cost grows with the bytes they pass, whatever the
// headers claim.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "scan/identify.h"
#include "scan/length_rules.h"
#include "scan/rule_support.h"
#include "volume/driver.h"

namespace relictor::rules {

bool RiffLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  if (!s.Begin(k)) return false;
  length = std::uint64_t{le32(LoadedCluster(volume), 4)} + 8;
  return true;
}

namespace {

struct MpegAudioFrame {
  unsigned version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  unsigned layer = 0;    // 3 layer I, 2 layer II, 1 layer III (as the header codes them)
  unsigned rateIndex = 0;
  std::uint32_t length = 0;
};

// Parses an MPEG audio frame header. Free-format frames (bit rate index 0)
// carry no length and are refused, as are the reserved values.
bool ParseMpegAudioHeader(const std::uint8_t* h, MpegAudioFrame& f) {
  const std::uint32_t v = be32(ByteSpan(h, 4), 0);
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

bool Mp3Length(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
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

bool OggLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
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
    const std::uint32_t serial = le32(ByteSpan(page), 14);
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
    if (crc != le32(ByteSpan(page), 22)) return false;
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
    std::uint64_t size = be32(ByteSpan(box), 0);
    if (size == 1) {
      std::uint8_t large[8];
      if (!f.Read(pos + 8, large, sizeof large)) return false;
      size = (std::uint64_t{be32(ByteSpan(large), 0)} << 32) | be32(ByteSpan(large), 4);
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

bool MpegProgramLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
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
      size = 6 + std::uint64_t{be16(ByteSpan(h), 4)};
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
}  // namespace relictor::rules
