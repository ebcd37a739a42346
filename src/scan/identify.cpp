#include "scan/identify.h"

#include <algorithm>
#include <cstring>

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

bool IsBmpHeader(ByteSpan b) {
  if (le16(b, 0) != 0x4D42 || le16(b, 6) != 0 || le16(b, 8) != 0) return false;
  std::uint32_t compression = le32(b, 30);
  std::uint16_t bpp = le16(b, 28);
  bool bppOk = bpp == 0 || bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
  return compression <= 5 && bppOk && le16(b, 26) == 1;
}

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

}  // namespace relictor
