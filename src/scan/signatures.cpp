#include "scan/signatures.h"

#include <cstring>

namespace relictor {

const char* const kTypeNames[kTypeNameCount] = {
    "BMP", "JPG", "GIF", "TGA", "TIFF", "PCX", "PNG", "OFFICE", "DOC", "XLS", "PPT", "VSD", "MDB",
    "PDF", "DBF", "HTM", "HTML", "AVI", "WAV", "CDR", "MID", "MOV", "ZIP", "RAR", "TAR",
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
  // A weak test that comes early on purpose: a cluster of zeros is "TGA".
  if (b.size() >= 3 && at(1) == 0) {
    std::uint8_t t = at(2);
    if (t <= 3 || t == 9 || t == 10 || t == 11) return kTypeTga;
  }
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
  return kNoType;
}

}  // namespace relictor
