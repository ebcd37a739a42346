#pragma once
// Recognition of files by the bytes at the start of a cluster: the table of
// type names and codes, and the tests that tell a type's first bytes.

#include <cstdint>

#include "volume/endian.h"

namespace relictor {

// Type codes index this table of names. Codes 0 to 24 are the original
// table; the ones behind it were added later and keep their place.
inline constexpr int kTypeNameCount = 37;
extern const char* const kTypeNames[kTypeNameCount];
inline constexpr std::uint16_t kNoType = 0xFFFF;

enum TypeCode : std::uint16_t {
  kTypeBmp = 0, kTypeJpg = 1, kTypeGif = 2, kTypeTga = 3, kTypeTiff = 4, kTypePcx = 5, kTypePng = 6,
  kTypeOffice = 7, kTypeDoc = 8, kTypeXls = 9, kTypePpt = 10, kTypeVsd = 11, kTypeMdb = 12, kTypePdf = 13,
  kTypeDbf = 14, kTypeHtm = 15, kTypeHtml = 16, kTypeAvi = 17, kTypeWav = 18, kTypeCdr = 19, kTypeMid = 20,
  kTypeMov = 21, kTypeZip = 22, kTypeRar = 23, kTypeTar = 24,
  // Recognised by their own signatures.
  kTypeMp3 = 25, kTypeOgg = 26, kTypeMp4 = 27,
  // Named by what the MP4 rule reads (the file's brand).
  kTypeM4a = 28,
  kTypeMpg = 29,
  // Zip archives named by their content.
  kTypeDocx = 30, kTypeXlsx = 31, kTypePptx = 32, kTypeOdt = 33, kTypeOds = 34, kTypeOdp = 35, kTypeEpub = 36,
};

// The type whose signature starts `cluster` (only its first 263 bytes are
// looked at), or kNoType.
std::uint16_t IdentifySignature(ByteSpan cluster);

// Whether a cluster starts with a signature that ordinary file data hardly
// ever holds by chance. The tests of a few types (TGA, PCX, DBF) rest on a
// handful of bits that the inside of a photo or an archive meets now and
// then; such a start must not end a file whose own structure says where it
// ends, so the end-marker searches stop only at strong starts.
bool StartsWithStrongSignature(ByteSpan cluster);

// Whether `b` starts with a BMP file header whose fields have usable values.
bool IsBmpHeader(ByteSpan b);

}  // namespace relictor
