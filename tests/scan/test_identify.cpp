// Recognition of a file type by the bytes at the start of a cluster.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scan/real_files.h"
#include "scan/signatures.h"

namespace relictor {
namespace {

// A cluster that starts with `head`; the rest is 0x55 (no signature).
std::vector<std::uint8_t> Cluster(const std::string& head, std::size_t size = 512) {
  std::vector<std::uint8_t> b(size, 0x55);
  std::memcpy(b.data(), head.data(), head.size());
  return b;
}

std::uint16_t Id(const std::vector<std::uint8_t>& b) { return IdentifySignature(ByteSpan(b)); }

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(IdentifySignature, TheTableKeepsTheFirstTwentyFiveCodesAndAddsTheNewTypesBehind) {
  const char* expected[] = {"BMP", "JPG",  "GIF",  "TGA",  "TIFF", "PCX", "PNG", "OFFICE", "DOC", "XLS",
                            "PPT", "VSD",  "MDB",  "PDF",  "DBF",  "HTM", "HTML", "AVI",   "WAV", "CDR",
                            "MID", "MOV",  "ZIP",  "RAR",  "TAR",  "MP3", "OGG", "MP4",    "M4A", "MPG",
                            "DOCX", "XLSX", "PPTX", "ODT", "ODS",  "ODP", "EPUB"};
  ASSERT_EQ(kTypeNameCount, 37);
  for (int i = 0; i < kTypeNameCount; ++i) EXPECT_STREQ(kTypeNames[i], expected[i]) << i;
}

TEST(IdentifySignature, RecognisesEachSimpleSignature) {
  EXPECT_EQ(Id(Cluster("\xFF\xD8\xFF\xE0")), kTypeJpg);
  EXPECT_EQ(Id(Cluster(std::string("RIFF\x10\0\0\0AVI LIST", 16))), kTypeAvi);
  EXPECT_EQ(Id(Cluster(std::string("RIFF\x10\0\0\0WAVEfmt ", 16))), kTypeWav);
  EXPECT_EQ(Id(Cluster(std::string("RIFF\x10\0\0\0CDR9", 12))), kTypeCdr);
  EXPECT_EQ(Id(Cluster("GIF89a")), kTypeGif);
  EXPECT_EQ(Id(Cluster("GIF87a")), kTypeGif);
  EXPECT_EQ(Id(Cluster(std::string("II*\0", 4))), kTypeTiff);
  EXPECT_EQ(Id(Cluster(std::string("MM\0*", 4))), kTypeTiff);
  EXPECT_EQ(Id(Cluster("\x89PNG\r\n\x1A\n")), kTypePng);
  EXPECT_EQ(Id(Cluster("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")), kTypeOffice);
  EXPECT_EQ(Id(Cluster("%PDF-1.4")), kTypePdf);
  EXPECT_EQ(Id(Cluster("<html>")), kTypeHtm);
  EXPECT_EQ(Id(Cluster("<HtMl>")), kTypeHtm);
  EXPECT_EQ(Id(Cluster("MThd")), kTypeMid);
  EXPECT_EQ(Id(Cluster("moov")), kTypeMov);
  EXPECT_EQ(Id(Cluster("PK\x03\x04")), kTypeZip);
  EXPECT_EQ(Id(Cluster(std::string("Rar!\x1A\x07\0", 7))), kTypeRar);
  auto tar = Cluster("name.txt");
  std::memcpy(tar.data() + 257, "ustar", 6);
  EXPECT_EQ(Id(tar), kTypeTar);
}

TEST(IdentifySignature, NearMissesAreNotRecognised) {
  EXPECT_EQ(Id(Cluster(std::string("RIFF\x10\0\0\0WAVX", 12))), kNoType);
  EXPECT_EQ(Id(Cluster("GIF88a")), kNoType);
  EXPECT_EQ(Id(Cluster("GIF89b")), kNoType);
  EXPECT_EQ(Id(Cluster("\x89PNG\r\n\x1A\r")), kNoType);
  EXPECT_EQ(Id(Cluster("<html ")), kNoType);
  EXPECT_EQ(Id(Cluster("<h\xD4ml>")), kNoType);  // only A to Z fold
  EXPECT_EQ(Id(Cluster("%PDF+")), kNoType);
  EXPECT_EQ(Id(Cluster("PK\x05\x06")), kNoType);
  EXPECT_EQ(Id(Cluster(std::string("Rar!\x1A\x07\x01", 7))), kNoType);
  auto tar = Cluster("name.txt");
  std::memcpy(tar.data() + 257, "ustar ", 6);
  EXPECT_EQ(Id(tar), kNoType);
  // The TAR magic lies at byte 257: a buffer of 262 bytes cannot hold it.
  auto shortTar = Cluster("name.txt", 263);
  std::memcpy(shortTar.data() + 257, "ustar", 6);
  EXPECT_EQ(Id(shortTar), kTypeTar);
  shortTar.resize(262);
  EXPECT_EQ(Id(shortTar), kNoType);
  // Only the first 263 bytes count.
  auto late = Cluster("", 4096);
  late[1] = 0x11;
  std::memcpy(late.data() + 300, "ustar", 6);
  EXPECT_EQ(Id(late), kNoType);
}

TEST(IdentifySignature, BitmapsNeedTheirHeaderFieldsInRange) {
  auto bmp = Cluster("BM");
  Put32(bmp, 2, 1000);
  Put32(bmp, 6, 0);
  Put16(bmp, 26, 1);
  Put16(bmp, 28, 24);
  Put32(bmp, 30, 0);
  EXPECT_EQ(Id(bmp), kTypeBmp);
  for (int bpp : {0, 1, 4, 8, 16, 32}) {
    auto b = bmp;
    Put16(b, 28, static_cast<std::uint16_t>(bpp));
    EXPECT_EQ(Id(b), kTypeBmp) << bpp;
  }
  auto edit = [&](std::size_t at, std::uint32_t v, int width) {
    auto b = bmp;
    if (width == 2) Put16(b, at, static_cast<std::uint16_t>(v));
    else Put32(b, at, v);
    return Id(b);
  };
  EXPECT_EQ(edit(30, 5, 4), kTypeBmp);
  EXPECT_NE(edit(30, 6, 4), kTypeBmp);   // compression
  EXPECT_NE(edit(28, 2, 2), kTypeBmp);   // bits per pixel
  EXPECT_NE(edit(28, 24 + 256, 2), kTypeBmp);
  EXPECT_NE(edit(26, 2, 2), kTypeBmp);   // planes
  EXPECT_NE(edit(6, 1, 2), kTypeBmp);    // reserved words
  EXPECT_NE(edit(8, 1, 2), kTypeBmp);
}

TEST(IdentifySignature, PcxNeedsEveryHeaderField) {
  auto pcx = Cluster(std::string("\x0A\x05\x01\x08", 4));
  pcx[64] = 0;
  Put16(pcx, 68, 1);
  EXPECT_EQ(Id(pcx), kTypePcx);
  for (int version : {2, 3, 4, 5}) {
    auto b = pcx;
    b[1] = static_cast<std::uint8_t>(version);
    EXPECT_EQ(Id(b), kTypePcx) << version;
  }
  // Version 0 is allowed too (a 0 then a 1 is no TGA header by itself).
  auto v0 = pcx;
  v0[1] = 0;
  EXPECT_EQ(Id(v0), kTypePcx);
  auto with = [&](std::size_t at, std::uint8_t v) {
    auto b = pcx;
    b[at] = v;
    return Id(b);
  };
  EXPECT_NE(with(1, 1), kTypePcx);
  EXPECT_NE(with(1, 6), kTypePcx);
  EXPECT_NE(with(2, 0), kTypePcx);
  EXPECT_NE(with(3, 3), kTypePcx);
  EXPECT_NE(with(64, 1), kTypePcx);
  EXPECT_EQ(with(68, 2), kTypePcx);
  EXPECT_NE(with(68, 3), kTypePcx);
}

TEST(IdentifySignature, DbfNeedsItsZeroBytes) {
  for (int v : {0x03, 0x83, 0xF5, 0x8B, 0x8E}) {
    auto b = Cluster("");
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = 0x7C;  // not a TGA
    for (std::size_t at : {12u, 13u, 30u, 31u}) b[at] = 0;
    EXPECT_EQ(Id(b), kTypeDbf) << v;
    b[31] = 1;
    EXPECT_EQ(Id(b), kNoType) << v;
  }
}

TEST(IdentifySignature, ATgaNeedsAWholeHeaderOfValidFields) {
  // Zeros, and the two bytes the old test looked at, are no TGA any more.
  EXPECT_EQ(Id(std::vector<std::uint8_t>(512, 0)), kNoType);
  EXPECT_EQ(Id(Cluster(std::string("\0\0\x02", 3))), kNoType);
  // An image the real tool wrote is one.
  const auto& real = test::RealFile("picture.tga");
  ASSERT_GE(real.size(), 18u);
  EXPECT_EQ(Id(std::vector<std::uint8_t>(real.begin(), real.begin() + 263)), kTypeTga);

  // A true-colour header, then one field at a time made invalid.
  auto tga = Cluster(std::string(18, '\0'));
  tga[2] = 2;
  Put16(tga, 12, 48);
  Put16(tga, 14, 40);
  tga[16] = 24;
  tga[17] = 0x20;
  EXPECT_EQ(Id(tga), kTypeTga);
  auto with = [&](std::size_t at, std::uint8_t v) {
    auto b = tga;
    b[at] = v;
    return Id(b);
  };
  for (int type : {0, 4, 8, 12, 0x55}) EXPECT_NE(with(2, static_cast<std::uint8_t>(type)), kTypeTga) << type;
  for (int type : {3, 10, 11}) {
    auto b = tga;
    b[2] = static_cast<std::uint8_t>(type);
    b[16] = type == 10 ? 32 : 8;
    EXPECT_EQ(Id(b), kTypeTga) << type;
  }
  EXPECT_NE(with(1, 2), kTypeTga);     // colour-map type
  EXPECT_NE(with(5, 1), kTypeTga);     // colour-map length without a colour map
  EXPECT_NE(with(12, 0), kTypeTga);    // width 0 (both bytes)
  EXPECT_NE(with(14, 0), kTypeTga);    // height 0
  EXPECT_NE(with(16, 7), kTypeTga);    // pixel depth
  EXPECT_NE(with(16, 8), kTypeTga);    // 8 bits is not true colour
  EXPECT_NE(with(17, 0x60), kTypeTga); // interleaving bits
  // A colour-mapped image needs its colour map.
  auto mapped = tga;
  mapped[2] = 1;
  mapped[16] = 8;
  EXPECT_NE(Id(mapped), kTypeTga);
  mapped[1] = 1;
  Put16(mapped, 5, 256);
  mapped[7] = 24;
  EXPECT_EQ(Id(mapped), kTypeTga);

  // A DBF header whose second byte is 0 and third 1 stays a DBF.
  auto dbf = Cluster(std::string("\x03\x00\x01", 3));
  for (std::size_t at : {12u, 13u, 30u, 31u}) dbf[at] = 0;
  EXPECT_EQ(Id(dbf), kTypeDbf);
  // The tests run in order: JPEG comes first even over a TGA-looking start.
  auto jpegLike = tga;
  jpegLike[0] = 0xFF;
  jpegLike[1] = 0xD8;
  EXPECT_EQ(Id(jpegLike), kTypeJpg);
}

TEST(IdentifySignature, WeakStartsAndLoneJpegBytesAreNotStrong) {
  auto strong = [](const std::vector<std::uint8_t>& b) { return StartsWithStrongSignature(ByteSpan(b)); };
  EXPECT_FALSE(strong(Cluster("")));
  EXPECT_TRUE(strong(Cluster("\x89PNG\r\n\x1A\n")));
  EXPECT_TRUE(strong(Cluster("%PDF-1.4")));
  EXPECT_TRUE(strong(Cluster(std::string("\xFF\xD8\xFF\xE0", 4))));
  EXPECT_FALSE(strong(Cluster(std::string("\xFF\xD8\x12\x34", 4))));
  EXPECT_EQ(Id(Cluster(std::string("\xFF\xD8\x12\x34", 4))), kTypeJpg);
  auto dbf = Cluster(std::string("\x03\x7C", 2));
  for (std::size_t at : {12u, 13u, 30u, 31u}) dbf[at] = 0;
  EXPECT_EQ(Id(dbf), kTypeDbf);
  EXPECT_FALSE(strong(dbf));
  const auto& tga = test::RealFile("picture.tga");
  std::vector<std::uint8_t> head(tga.begin(), tga.begin() + 263);
  EXPECT_EQ(Id(head), kTypeTga);
  EXPECT_FALSE(strong(head));
}

TEST(IdentifySignature, RecognisesTheNewTypes) {
  auto id3 = Cluster(std::string("ID3\x04\x00\x00\x00\x00\x01\x7F", 10));
  EXPECT_EQ(Id(id3), kTypeMp3);
  id3[8] = 0x80;  // sizes are 7 bits a byte
  EXPECT_NE(Id(id3), kTypeMp3);
  auto v1 = Cluster(std::string("ID3\x01\x00", 5));
  EXPECT_NE(Id(v1), kTypeMp3);

  auto ogg = Cluster(std::string("OggS\x00\x02", 6));
  EXPECT_EQ(Id(ogg), kTypeOgg);
  ogg[5] = 0;  // not the first page of a stream
  EXPECT_NE(Id(ogg), kTypeOgg);
  ogg[5] = 2;
  ogg[4] = 1;  // unknown version
  EXPECT_NE(Id(ogg), kTypeOgg);

  auto mp4 = Cluster(std::string("\0\0\0\x20" "ftypisom", 12));
  EXPECT_EQ(Id(mp4), kTypeMp4);
  mp4[3] = 8;  // too small for a brand
  EXPECT_NE(Id(mp4), kTypeMp4);
  mp4[3] = 0x20;
  mp4[1] = 1;  // 64 KiB: no file-type box is that large
  EXPECT_NE(Id(mp4), kTypeMp4);

  auto mpeg2 = Cluster(std::string("\0\0\x01\xBA\x44", 5));
  EXPECT_EQ(Id(mpeg2), kTypeMpg);
  auto mpeg1 = Cluster(std::string("\0\0\x01\xBA\x21", 5));
  EXPECT_EQ(Id(mpeg1), kTypeMpg);
  auto other = Cluster(std::string("\0\0\x01\xB3\x44", 5));  // a video sequence header
  EXPECT_NE(Id(other), kTypeMpg);
}

TEST(IdentifySignature, TooShortBuffersAreSafe) {
  EXPECT_EQ(IdentifySignature(ByteSpan()), kNoType);
  std::uint8_t one = 0xFF;
  EXPECT_EQ(IdentifySignature(ByteSpan(&one, 1)), kNoType);
  std::uint8_t jpeg[2] = {0xFF, 0xD8};
  EXPECT_EQ(IdentifySignature(ByteSpan(jpeg, 2)), kTypeJpg);
}

}  // namespace
}  // namespace relictor
