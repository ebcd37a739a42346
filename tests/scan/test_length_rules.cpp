// The length rules on real files made by real tools, laid out on
// in-memory volumes of several cluster sizes.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scan/file_builders.h"
#include "scan/real_files.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"
#include "support/test_support.h"

namespace relictor {
namespace {

using test::Bytes;
using test::ClusterImage;
using test::MemoryVolume;
using test::RealFile;

constexpr std::uint64_t kStart = 3;  // where the file under test starts

// Letters only: no cluster of the filler starts with a known signature and
// no end marker of any rule occurs in it.
Bytes Filler(std::size_t size, std::uint64_t seed) {
  Bytes b = test::RandomBytes(size, seed);
  for (auto& c : b) c = static_cast<std::uint8_t>('a' + c % 26);
  return b;
}

// The file at cluster kStart, filler before and behind it (`after` whole
// clusters behind the file's last one).
ClusterImage Layout(const Bytes& file, std::uint32_t spc, std::uint64_t after = 2) {
  const std::uint32_t bpc = 512 * spc;
  ClusterImage image(bpc);
  std::uint64_t clusters = kStart + image.ClustersFor(file.size()) + after;
  image.Put(0, Filler(static_cast<std::size_t>(clusters * bpc), spc + file.size()));
  image.Put(kStart, file);
  return image;
}

LostFileGuess Scan(MemoryVolume& volume, std::uint64_t cluster = kStart) { return ScanForLostFile(volume, cluster); }

struct Case {
  const char* label;
  Bytes (*make)();
  const char* type;
};

Bytes Jpeg() { return RealFile("photo.jpg"); }
Bytes ProgressiveJpeg() { return RealFile("progressive.jpg"); }
Bytes StandardJpeg() { return RealFile("standard.jpg"); }
Bytes MergedJpeg() { return test::MergeJpegHuffmanSegments(RealFile("standard.jpg")); }
Bytes Bmp() { return RealFile("picture.bmp"); }
Bytes Png() { return RealFile("picture.png"); }
Bytes Tga() { return test::AppendTgaFooter(RealFile("picture.tga")); }
Bytes TrueColourPcx() { return RealFile("truecolor.pcx"); }
Bytes PalettePcx() { return RealFile("palette.pcx"); }
Bytes AnimatedGif() { return RealFile("anim.gif"); }
Bytes StillGif() { return RealFile("still.gif"); }
Bytes Wav() { return RealFile("sound.wav"); }
Bytes Zip() { return RealFile("archive.zip"); }
Bytes Avi() { return test::BuildAvi(4, 1200, 11); }
Bytes Cdr() { return test::BuildRiff("CDR9", 3000, 12); }
Bytes Html() {
  std::string text = "<HTML>\n<head><title>Lost page</title></head>\n<body>\n";
  for (int i = 0; i < 60; ++i) text += "<p>Paragraph " + std::to_string(i) + " of a page that spans clusters.</p>\n";
  text += "</body>\n</Html>";
  return Bytes(text.begin(), text.end());
}
Bytes Rar() {
  return test::BuildRarArchive({{"notes.txt", Filler(1500, 3)}, {"data.bin", test::RandomBytes(2500, 4)}});
}
Bytes Doc() {
  test::CompoundOptions o;
  o.streamName = "WordDocument";
  o.streamSize = 9000;
  return test::BuildCompoundDocument(o);
}

const Case kCases[] = {
    {"jpeg", Jpeg, "JPG"},          {"standard-table jpeg", StandardJpeg, "JPG"},
    {"progressive jpeg", ProgressiveJpeg, "JPG"},
    {"merged-table jpeg", MergedJpeg, "JPG"}, {"bmp", Bmp, "BMP"},
    {"png", Png, "PNG"},            {"tga", Tga, "TGA"},
    {"true-colour pcx", TrueColourPcx, "PCX"}, {"palette pcx", PalettePcx, "PCX"},
    {"animated gif", AnimatedGif, "GIF"},     {"still gif", StillGif, "GIF"},
    {"wav", Wav, "WAV"},            {"zip", Zip, "ZIP"},
    {"avi", Avi, "AVI"},            {"cdr", Cdr, "CDR"},
    {"html", Html, "HTM"},          {"rar", Rar, "RAR"},
    {"compound document", Doc, "DOC"},
};

TEST(LengthRules, EveryRuleMeasuresARealFileToItsSize) {
  for (const Case& c : kCases) {
    const Bytes file = c.make();
    ASSERT_GT(file.size(), 0u) << c.label;
    for (std::uint32_t spc : {1u, 2u, 8u}) {
      MemoryVolume volume(Layout(file, spc), spc);
      LostFileGuess g = Scan(volume);
      EXPECT_TRUE(g.found) << c.label << " spc " << spc;
      EXPECT_EQ(g.typeName, c.type) << c.label;
      EXPECT_EQ(g.length, file.size()) << c.label << " spc " << spc;
    }
  }
}

TEST(LengthRules, FilesSpanSeveralClusters) {
  // The measurements above only mean something if the end lies clusters on.
  for (const Case& c : kCases) {
    if (std::string(c.label) == "still gif") continue;
    EXPECT_GT(c.make().size(), 3u * 512) << c.label;
  }
}

TEST(LengthRules, AFileCutByTheEndOfTheScanRangeIsNotFound) {
  for (const Case& c : kCases) {
    const Bytes file = c.make();
    if (file.size() <= 512) continue;
    MemoryVolume volume(Layout(file, 1), 1);
    const std::uint64_t lastOfFile = kStart + (file.size() - 1) / 512;
    // The range ends exactly with the file's last cluster: found.
    volume.SetScanRange(0, lastOfFile);
    EXPECT_TRUE(Scan(volume).found) << c.label;
    // One cluster less: every rule, including the header-size rules, fails
    // (a 256-colour PCX whose palette is cut is found without it, below).
    volume.SetScanRange(0, lastOfFile - 1);
    LostFileGuess g = Scan(volume);
    if (std::string(c.label) == "palette pcx") continue;
    EXPECT_FALSE(g.found) << c.label;
    // The recognised type stays; a compound document whose allocation
    // table cannot be read has not been told apart yet.
    const std::string type = std::string(c.type) == "DOC" ? "OFFICE" : c.type;
    EXPECT_EQ(g.typeName, type) << c.label;
  }
}

// A file cut after `keep` clusters and followed by `next`.
ClusterImage CutAndFollow(const Bytes& file, std::size_t keep, const Bytes& next) {
  Bytes head(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep * 512));
  ClusterImage image = Layout(head, 1, 4);
  image.Put(kStart + keep, next);
  return image;
}

TEST(LengthRules, AnEndMarkerSearchStopsAtAClusterThatStartsAnotherFile) {
  const Bytes png = Png();
  const Bytes jpegStart(RealFile("photo.jpg").begin(), RealFile("photo.jpg").begin() + 512);
  const Bytes zeros(512, 0);
  for (const Case& c : kCases) {
    const std::string type = c.type;
    if (type != "JPG" && type != "PNG" && type != "TGA" && type != "HTM" && type != "ZIP" && type != "RAR") continue;
    const Bytes file = c.make();
    const std::size_t keep = (file.size() - 1) / 512;  // all but the last cluster
    // Another file's start right behind the cut.
    const Bytes& next = type == "PNG" ? jpegStart : Bytes(png.begin(), png.begin() + 512);
    MemoryVolume other(CutAndFollow(file, keep, next), 1);
    EXPECT_FALSE(Scan(other).found) << c.label;
    // A cluster of zeros (free space) stops it just the same.
    MemoryVolume zero(CutAndFollow(file, keep, zeros), 1);
    EXPECT_FALSE(Scan(zero).found) << c.label;
    // A cluster in the middle of the file that starts like another file.
    if (keep >= 3) {
      Bytes spliced = file;
      std::copy(next.begin(), next.end(), spliced.begin() + 2 * 512);
      MemoryVolume middle(Layout(spliced, 1), 1);
      EXPECT_FALSE(Scan(middle).found) << c.label;
    }
  }
}

TEST(LengthRules, RiffLengthComesFromTheHeaderAloneWhateverFollows) {
  for (Bytes (*make)() : {Wav, Avi}) {
    const Bytes file = make();
    // Everything behind the first cluster is another file's start and then
    // zeros: the header's size is what counts.
    Bytes head(file.begin(), file.begin() + 512);
    ClusterImage image = Layout(head, 1, test::ClusterImage(512).ClustersFor(file.size()) + 2);
    image.Put(kStart + 1, RealFile("picture.png"));
    MemoryVolume volume(image, 1);
    LostFileGuess g = Scan(volume);
    EXPECT_TRUE(g.found);
    EXPECT_EQ(g.length, file.size());
  }
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(LengthRules, HeaderSizesLargerThanTheRestOfTheScanRangeAreRefused) {
  // The size fields of a RIFF file and a bitmap are taken only when the
  // file fits in the clusters from its start to the end of the range.
  for (Bytes (*make)() : {Wav, Bmp}) {
    Bytes file = make();
    const std::size_t field = file[0] == 'R' ? 4 : 2;
    const std::uint32_t extra = file[0] == 'R' ? 8 : 0;
    MemoryVolume probe(Layout(file, 1), 1);
    const std::uint64_t room = (probe.LastCluster() - kStart + 1) * 512;

    PutLe32(file, field, static_cast<std::uint32_t>(room - extra));
    MemoryVolume exact(Layout(file, 1), 1);
    LostFileGuess g = Scan(exact);
    EXPECT_TRUE(g.found);
    EXPECT_EQ(g.length, room);

    PutLe32(file, field, static_cast<std::uint32_t>(room - extra + 1));
    MemoryVolume over(Layout(file, 1), 1);
    EXPECT_FALSE(Scan(over).found);

    PutLe32(file, field, 0xFFFFFFFF);
    MemoryVolume huge(Layout(file, 1), 1);
    EXPECT_FALSE(Scan(huge).found);
  }
}

TEST(LengthRules, JpegHuffmanTablesInOneSegmentAreWalkedTableByTable) {
  const Bytes merged = MergedJpeg();
  bool large = false;
  for (const test::JpegSegment& s : test::JpegSegmentsBeforeScan(merged)) {
    if (s.marker == 0xC4) large = s.size - 2 >= 208;
  }
  ASSERT_TRUE(large) << "the merged segment must take the table walk";
  // The real encoder writes one table per segment, all below 208 bytes.
  for (const test::JpegSegment& s : test::JpegSegmentsBeforeScan(RealFile("standard.jpg"))) {
    if (s.marker == 0xC4) {
      EXPECT_LT(s.size - 2, 208u);
    }
  }
  // Such a segment is measured by its tables, not by its length field: a
  // wrong length there changes nothing, where skipping by it would run far
  // past the file.
  Bytes wrongLength = merged;
  for (const test::JpegSegment& s : test::JpegSegmentsBeforeScan(merged)) {
    if (s.marker == 0xC4) {
      wrongLength[s.offset + 2] = 0xFF;
      wrongLength[s.offset + 3] = 0xF0;
    }
  }
  MemoryVolume volume(Layout(wrongLength, 1), 1);
  LostFileGuess g = Scan(volume);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, merged.size());
}

TEST(LengthRules, JpegMarkerWalkFailures) {
  const Bytes jpeg = Jpeg();
  // An end-of-image marker before any scan.
  Bytes early(jpeg.begin(), jpeg.begin() + 2);
  early.push_back(0xFF);
  early.push_back(0xD9);
  MemoryVolume a(Layout(early, 1), 1);
  EXPECT_FALSE(Scan(a).found);
  // A segment length below 2.
  Bytes shortLength = jpeg;
  shortLength[4] = 0;
  shortLength[5] = 1;
  MemoryVolume b(Layout(shortLength, 1), 1);
  EXPECT_FALSE(Scan(b).found);
  // A segment that reaches past the scan range.
  Bytes longSegment = jpeg;
  longSegment[4] = 0xFF;
  longSegment[5] = 0xFF;
  MemoryVolume c(Layout(longSegment, 1, 0), 1);
  EXPECT_FALSE(Scan(c).found);
}

TEST(LengthRules, AnEndMarkerThatStraddlesTwoClustersIsNotFound) {
  // Padding the real files with a comment segment or a private chunk moves
  // their end marker across a cluster boundary.
  const Bytes jpeg = Jpeg();
  for (std::size_t endInCluster : {1u, 2u}) {
    std::size_t pad = (512 + endInCluster - (jpeg.size() + 4) % 512) % 512;
    Bytes file = test::InsertJpegComment(jpeg, pad);
    ASSERT_EQ(file.size() % 512, endInCluster);
    MemoryVolume volume(Layout(file, 1), 1);
    LostFileGuess g = Scan(volume);
    if (endInCluster == 1) {
      EXPECT_FALSE(g.found) << "FF ends one cluster, D9 starts the next";
    } else {
      EXPECT_TRUE(g.found);
      EXPECT_EQ(g.length, file.size());
    }
  }
  const Bytes png = Png();
  // The end chunk may start a cluster itself (its four zero bytes are no
  // TGA start), but the 12 bytes must not straddle two clusters.
  for (std::size_t endInCluster : {11u, 12u, 13u, 14u}) {
    std::size_t pad = (512 + endInCluster - (png.size() + 12) % 512) % 512;
    Bytes file = test::InsertPngChunk(png, pad);
    ASSERT_EQ(file.size() % 512, endInCluster);
    MemoryVolume volume(Layout(file, 1), 1);
    LostFileGuess g = Scan(volume);
    EXPECT_EQ(g.found, endInCluster >= 12) << endInCluster;
    if (g.found) {
      EXPECT_EQ(g.length, file.size());
    }
  }
}

TEST(LengthRules, GifExtensionsAndImagesAreWalked) {
  const Bytes gif = AnimatedGif();
  // The animation has the graphic control, application and comment
  // extensions and a frame with its own colour table.
  auto has = [&](std::uint8_t a, std::uint8_t b) {
    for (std::size_t i = 0; i + 1 < gif.size(); ++i) {
      if (gif[i] == a && gif[i + 1] == b) return true;
    }
    return false;
  };
  ASSERT_TRUE(has(0x21, 0xF9) && has(0x21, 0xFF) && has(0x21, 0xFE));
  // A graphic control block whose terminator is not 0 breaks the file.
  Bytes broken = gif;
  std::size_t header = 13 + ((gif[10] & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0);
  std::size_t gce = header;
  while (!(broken[gce] == 0x21 && broken[gce + 1] == 0xF9)) ++gce;
  ASSERT_EQ(broken[gce + 7], 0);
  broken[gce + 7] = 1;
  MemoryVolume volume(Layout(broken, 1), 1);
  EXPECT_FALSE(Scan(volume).found);
  // Without a trailer the walk runs to the end of the range.
  Bytes noTrailer(gif.begin(), gif.end() - 1);
  MemoryVolume open(Layout(noTrailer, 1), 1);
  EXPECT_FALSE(Scan(open).found);
}

TEST(LengthRules, PcxRunLengthDecoding) {
  const Bytes pcx = TrueColourPcx();
  // Each run counts its count, and the decoded bytes must come out even.
  std::size_t runs = 0;
  for (std::size_t i = 128; i < pcx.size(); ++i) {
    if (pcx[i] >= 0xC0) {
      ++runs;
      ++i;
    }
  }
  ASSERT_GT(runs, 10u);
  // One row fewer: the decoding ends a row early, with a shorter length.
  Bytes shorter = pcx;
  shorter[10] = static_cast<std::uint8_t>(shorter[10] - 1);
  MemoryVolume a(Layout(shorter, 1), 1);
  LostFileGuess g = Scan(a);
  EXPECT_TRUE(g.found);
  EXPECT_LT(g.length, pcx.size());
  EXPECT_GT(g.length, pcx.size() - 3u * 64 * 2);
  // A run longer than the bytes still to decode breaks the file; one that
  // ends exactly at the last byte completes it.
  Bytes tiny(pcx.begin(), pcx.begin() + 128);
  tiny[6] = tiny[7] = tiny[10] = tiny[11] = 0;  // one row
  tiny[65] = 1;                                // one plane
  tiny[66] = 4;                                // of four bytes
  tiny[67] = 0;
  for (int run : {0xC5, 0xC4}) {
    Bytes file = tiny;
    file.push_back(static_cast<std::uint8_t>(run));
    file.push_back(0x77);
    MemoryVolume t(Layout(file, 1), 1);
    g = Scan(t);
    EXPECT_EQ(g.found, run == 0xC4);
    if (g.found) {
      EXPECT_EQ(g.length, 130u);
    }
  }
  // Two single bytes and a run of two.
  Bytes mixed = tiny;
  for (int b : {0x10, 0x20, 0xC2, 0x30}) mixed.push_back(static_cast<std::uint8_t>(b));
  MemoryVolume m(Layout(mixed, 1), 1);
  g = Scan(m);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, 132u);
  // Rows below the first row, or negative planes, cannot be decoded.
  Bytes negative = pcx;
  negative[65] = 0xFD;  // -3 planes
  MemoryVolume b(Layout(negative, 1), 1);
  EXPECT_FALSE(Scan(b).found);
  Bytes upsideDown = pcx;
  upsideDown[6] = static_cast<std::uint8_t>(upsideDown[10] + 2);  // first row below the last
  upsideDown[7] = upsideDown[11];
  MemoryVolume d(Layout(upsideDown, 1), 1);
  EXPECT_FALSE(Scan(d).found);
  // An image with no decoded bytes is just its header.
  Bytes empty = pcx;
  empty[66] = empty[67] = 0;
  MemoryVolume c(Layout(empty, 1), 1);
  g = Scan(c);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, 128u);
}

TEST(LengthRules, PaletteOfA256ColourPcxBelongsToTheFile) {
  const Bytes pcx = PalettePcx();
  ASSERT_EQ(pcx[pcx.size() - 769], 0x0C);
  MemoryVolume whole(Layout(pcx, 1), 1);
  EXPECT_EQ(Scan(whole).length, pcx.size());
  // Without the palette marker the image ends with its pixel data.
  Bytes bare = pcx;
  bare[bare.size() - 769] = 0x0B;
  MemoryVolume noMark(Layout(bare, 1), 1);
  LostFileGuess g = Scan(noMark);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, pcx.size() - 769);
  // A palette cut by the end of the range is left out, not read past it.
  MemoryVolume cut(Layout(pcx, 1, 0), 1);
  cut.SetScanRange(0, kStart + (pcx.size() - 2) / 512 - 1);
  std::uint64_t room = (cut.LastCluster() - kStart + 1) * 512;
  ASSERT_TRUE(room >= pcx.size() - 769 && room < pcx.size());
  g = Scan(cut);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, pcx.size() - 769);
}

TEST(LengthRules, TypesWithoutALengthRuleAreRecognisedButNeverFound) {
  struct Start {
    Bytes bytes;
    const char* type;
  };
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  Bytes tar = Filler(1024, 5);
  std::memcpy(tar.data() + 257, "ustar", 6);
  Bytes dbf = Filler(512, 6);
  dbf[0] = 0x03;
  dbf[12] = dbf[13] = dbf[30] = dbf[31] = 0;
  const Start starts[] = {
      {RealFile("picture.tif"), "TIFF"},         {text("%PDF-1.4\n%binary\n"), "PDF"}, {dbf, "DBF"},
      {text(std::string("MThd\0\0\0\x06", 8)), "MID"}, {text("moov\0\0\0\0"), "MOV"},      {tar, "TAR"},
  };
  for (const Start& s : starts) {
    MemoryVolume volume(Layout(s.bytes, 2), 2);
    LostFileGuess g = Scan(volume);
    EXPECT_FALSE(g.found) << s.type;
    EXPECT_EQ(g.typeName, s.type);
  }
}

TEST(LengthRules, AZeroClusterIsNoTgaAndATgaIsOnlyFoundWithItsFooter) {
  ClusterImage image = Layout(Bytes(512, 0), 1);
  MemoryVolume volume(image, 1);
  LostFileGuess g = Scan(volume);
  EXPECT_FALSE(g.found);
  EXPECT_EQ(g.typeName, "");
  // A true-colour TGA header, then data, then the footer.
  Bytes header(18, 0);
  header[2] = 2;
  header[12] = 20;
  header[14] = 10;
  header[16] = 24;
  Bytes body = Filler(582, 9);
  header.insert(header.end(), body.begin(), body.end());
  MemoryVolume bare(Layout(header, 1), 1);
  g = Scan(bare);
  EXPECT_FALSE(g.found);
  EXPECT_EQ(g.typeName, "TGA");
  Bytes withFooter = test::AppendTgaFooter(header);
  MemoryVolume footer(Layout(withFooter, 1), 1);
  g = Scan(footer);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, withFooter.size());
}

TEST(LengthRules, ScanForLostFileReadsTheClusterItselfAndKeepsToTheRange) {
  const Bytes png = Png();
  MemoryVolume volume(Layout(png, 1), 1);
  // Whatever the buffer held before does not count.
  std::fill(volume.ClusterBuffer().begin(), volume.ClusterBuffer().end(), 0xFF);
  EXPECT_TRUE(Scan(volume).found);
  // A cluster outside the range cannot be read: nothing at all.
  volume.SetScanRange(kStart + 1, volume.LastCluster());
  LostFileGuess g = Scan(volume);
  EXPECT_FALSE(g.found);
  EXPECT_EQ(g.typeName, "");
  // Nor can an unreadable one.
  MemoryVolume bad(Layout(png, 1), 1);
  bad.Source().FailReadsIn(kStart * 512, kStart * 512 + 1);
  EXPECT_FALSE(Scan(bad).found);
  // DetectLostFile looks at the bytes already in the buffer.
  MemoryVolume direct(Layout(png, 1), 1);
  ASSERT_TRUE(direct.ReadCluster(0));
  EXPECT_EQ(DetectLostFile(direct, kStart).typeName, "");
}

}  // namespace
}  // namespace relictor
