// The length rules of MP3, Ogg, MP4/QuickTime/M4A, MPEG program streams,
// PDF and zip-based documents on real files, their ratings, the photo with a
// TGA-looking cluster inside, and hostile headers for each new rule.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>

#include "model/entry.h"
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

constexpr std::uint64_t kStart = 3;

Bytes Filler(std::size_t size, std::uint64_t seed) {
  Bytes b = test::RandomBytes(size, seed);
  for (auto& c : b) c = static_cast<std::uint8_t>('a' + c % 26);
  return b;
}

// The file at cluster kStart, letters before and behind it, `after`
// clusters behind its last one.
ClusterImage Layout(const Bytes& file, std::uint32_t bpc, std::uint64_t after = 2) {
  ClusterImage image(bpc);
  const std::uint64_t clusters = kStart + image.ClustersFor(file.size()) + after;
  image.Put(0, Filler(static_cast<std::size_t>(clusters * bpc), file.size() + bpc));
  image.Put(kStart, file);
  return image;
}

LostFileGuess Scan(MemoryVolume& volume, std::uint64_t cluster = kStart) { return ScanForLostFile(volume, cluster); }

struct Sample {
  const char* file;  // a real file, or "pdf", "updated pdf"
  const char* type;  // the name the detector must give
  // Whether the rule reads the file's last bytes (an end marker, a
  // checksum). The MP3, MP4 and MPEG walks read record headers and trust
  // the last record's length, so they cannot tell that the clusters behind
  // the last header were overwritten.
  bool readsTheEnd;
};

const Sample kSamples[] = {
    {"sound.mp3", "MP3", false},    {"sound.ogg", "OGG", true},      {"sound.m4a", "M4A", false},
    {"movie.mp4", "MP4", false},    {"movie.mov", "MOV", false},     {"movie.mpg", "MPG", false},
    {"movie1.mpg", "MPG", false},   {"letter.docx", "DOCX", true},   {"sheet.xlsx", "XLSX", true},
    {"slides.pptx", "PPTX", true},  {"letter.odt", "ODT", true},     {"sheet.ods", "ODS", true},
    {"slides.odp", "ODP", true},    {"book.epub", "EPUB", true},     {"pdf", "PDF", true},
    {"updated pdf", "PDF", true},   {"archive.zip", "ZIP", true},
};

Bytes Make(const Sample& s) {
  const std::string name = s.file;
  if (name == "pdf") return test::BuildPdf({});
  if (name == "updated pdf") {
    test::PdfOptions o;
    o.update = true;
    return test::BuildPdf(o);
  }
  return RealFile(name);
}

TEST(MediaRules, EveryNewTypeIsMeasuredToItsSizeAndNamedByItsContent) {
  for (const Sample& s : kSamples) {
    const Bytes file = Make(s);
    ASSERT_GT(file.size(), 3u * 512) << s.file << ": the end must lie clusters on";
    for (std::uint32_t bpc : {512u, 1024u, 4096u}) {
      MemoryVolume volume(Layout(file, bpc), bpc / 512);
      const LostFileGuess g = Scan(volume);
      EXPECT_TRUE(g.found) << s.file << " bpc " << bpc;
      EXPECT_EQ(g.typeName, s.type) << s.file;
      EXPECT_EQ(g.length, file.size()) << s.file << " bpc " << bpc;
    }
  }
}

TEST(MediaRules, TheEndIsFoundWhateverFollows) {
  const Bytes png = RealFile("picture.png");
  for (const Sample& s : kSamples) {
    const Bytes file = Make(s);
    // Another file in the very next cluster, zeros, or the end of the
    // scan range right behind the file's last cluster.
    ClusterImage followed = Layout(file, 512);
    followed.Put(kStart + followed.ClustersFor(file.size()), png);
    MemoryVolume next(followed, 1);
    LostFileGuess g = Scan(next);
    EXPECT_TRUE(g.found && g.length == file.size()) << s.file << " followed by a PNG: " << g.length;

    // A second file of the same kind in the next cluster (MPEG program
    // streams of 2048-byte packs end exactly at a cluster boundary, and
    // every cluster of theirs starts with a pack header).
    ClusterImage twice = Layout(file, 512);
    twice.Put(kStart + twice.ClustersFor(file.size()), file);
    MemoryVolume same(twice, 1);
    g = Scan(same);
    EXPECT_TRUE(g.found && g.length == file.size()) << s.file << " followed by another of its kind: " << g.length;

    ClusterImage zeroed = Layout(file, 512);
    const std::uint64_t used = zeroed.ClustersFor(file.size());
    Bytes slack(static_cast<std::size_t>(used * 512 - file.size()) + 2 * 512, 0);
    zeroed.PutAt(kStart * 512 + file.size(), slack);
    MemoryVolume zeros(zeroed, 1);
    g = Scan(zeros);
    EXPECT_TRUE(g.found && g.length == file.size()) << s.file << " followed by zeros: " << g.length;

    MemoryVolume ranged(Layout(file, 512), 1);
    ranged.SetScanRange(0, kStart + used - 1);
    g = Scan(ranged);
    EXPECT_TRUE(g.found && g.length == file.size()) << s.file << " at the end of the range: " << g.length;
  }
}

TEST(MediaRules, ATruncatedFileIsNeverTakenForAWholeOne) {
  const Bytes jpeg = RealFile("photo.jpg");
  for (const Sample& s : kSamples) {
    const Bytes file = Make(s);
    const std::uint64_t clusters = (file.size() + 511) / 512;
    for (std::uint64_t keep : {std::uint64_t{1}, clusters / 2, clusters - 1}) {
      if (keep == clusters - 1 && !s.readsTheEnd) continue;
      Bytes head(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep * 512));
      // The rest overwritten by another file, or by letters.
      ClusterImage overwritten = Layout(head, 512, 8);
      overwritten.Put(kStart + keep, jpeg);
      MemoryVolume a(overwritten, 1);
      LostFileGuess g = Scan(a);
      EXPECT_FALSE(g.found && g.length >= file.size()) << s.file << " keep " << keep;
      ClusterImage lettered = Layout(head, 512, clusters);
      MemoryVolume b(lettered, 1);
      g = Scan(b);
      EXPECT_FALSE(g.found && g.length >= file.size()) << s.file << " keep " << keep;
      // Cut by the end of the scan range.
      MemoryVolume c(Layout(file, 512), 1);
      c.SetScanRange(0, kStart + keep - 1);
      g = Scan(c);
      EXPECT_FALSE(g.found && g.length >= file.size()) << s.file << " keep " << keep;
      if (g.found) {
        EXPECT_LE(g.length, keep * 512) << s.file;
      }
    }
  }
}

TEST(MediaRules, ALinearizedPdfIsMeasuredByItsDeclaredLength) {
  test::PdfOptions o;
  o.linearizedBody = 300 * 1024;  // more than the window behind an end marker
  const Bytes pdf = test::BuildPdf(o);
  MemoryVolume volume(Layout(pdf, 4096), 8);
  LostFileGuess g = Scan(volume);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, pdf.size());
  // A declared length where no end marker stands is not believed: the
  // first page's end marker is all that is left then.
  Bytes wrong = pdf;
  const char* tag = "/L 0";
  auto at = std::search(wrong.begin(), wrong.end(), tag, tag + 4);
  ASSERT_NE(at, wrong.end());
  at[3] = '1';
  MemoryVolume misdeclared(Layout(wrong, 4096), 8);
  g = Scan(misdeclared);
  EXPECT_TRUE(g.found);
  EXPECT_LT(g.length, 4096u);
}

TEST(MediaRules, ZipArchivesKeepTheirCommentAndPlainOnesStayZip) {
  Bytes zip = RealFile("archive.zip");
  // The end record's comment length is its last field.
  std::string comment = "a comment that belongs to the archive.";
  while (comment.size() < 600) comment += " It goes on.";
  zip[zip.size() - 2] = static_cast<std::uint8_t>(comment.size() & 0xFF);
  zip[zip.size() - 1] = static_cast<std::uint8_t>(comment.size() >> 8);
  zip.insert(zip.end(), comment.begin(), comment.end());
  MemoryVolume volume(Layout(zip, 512), 1);
  LostFileGuess g = Scan(volume);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "ZIP");
  EXPECT_EQ(g.length, zip.size());
  // A comment the range cannot hold is left out, as the record alone was.
  MemoryVolume cut(Layout(zip, 512, 0), 1);
  cut.SetScanRange(0, kStart + (zip.size() - comment.size() - 1) / 512);
  g = Scan(cut);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, zip.size() - comment.size());
}

// A deleted file entry as a directory reader makes it.
std::uint32_t Rate(MemoryVolume& volume, const std::string& name, std::uint64_t size) {
  CDirEntry entry;
  entry.name = name;
  entry.typeText = TypeTextFromName(name);
  entry.size = size;
  entry.deleted = true;
  return RateDeletedFile(volume, kStart, &entry);
}

TEST(MediaRules, IntactFilesOfEveryNewTypeAreRatedExcellent) {
  const std::map<std::string, std::string> names = {{"pdf", "report.pdf"}, {"updated pdf", "form.pdf"}};
  for (const Sample& s : kSamples) {
    const Bytes file = Make(s);
    const std::string name = names.count(s.file) ? names.at(s.file) : std::string(s.file);
    MemoryVolume volume(Layout(file, 4096), 8);
    EXPECT_EQ(Rate(volume, name, file.size()), kStatusExcellent) << name;
    EXPECT_EQ(Rate(volume, name, file.size() + 1), kStatusGood) << name;
    // The first cluster overwritten: the new names are known types too.
    MemoryVolume gone(Layout(Filler(100, 3), 4096), 8);
    EXPECT_EQ(Rate(gone, name, file.size()), kStatusPoor) << name;
  }
}

// The fixture photo holds, at offset 4096 inside its scan data, a cluster
// that starts with a complete TGA header.
const Bytes& PhotoWithTgaInside() {
  static const Bytes bytes = test::ReadFile(test::SourceDir() + "/tests/fixtures/tga_inside.jpg");
  return bytes;
}

TEST(MediaRules, APhotoWithATgaLookingClusterInsideIsFoundWholeAndRatedExcellent) {
  const Bytes& jpeg = PhotoWithTgaInside();
  ASSERT_GT(jpeg.size(), 4096u + 512);
  const Bytes inside(jpeg.begin() + 4096, jpeg.end());
  ASSERT_EQ(IdentifySignature(ByteSpan(inside)), kTypeTga) << "the fixture must keep its point";
  for (std::uint32_t bpc : {512u, 4096u}) {
    MemoryVolume volume(Layout(jpeg, bpc), bpc / 512);
    LostFileGuess g = Scan(volume);
    EXPECT_TRUE(g.found) << bpc;
    EXPECT_EQ(g.length, jpeg.size()) << bpc;
    EXPECT_EQ(Rate(volume, "IMG_0042.JPG", jpeg.size()), kStatusExcellent) << bpc;
  }
  // A strong start in the same place still ends the photo: a PNG there
  // means the photo's clusters were given to another file.
  Bytes spliced = jpeg;
  const Bytes& png = RealFile("picture.png");
  std::copy(png.begin(), png.begin() + 512, spliced.begin() + 4096);
  MemoryVolume overwritten(Layout(spliced, 4096), 8);
  EXPECT_FALSE(Scan(overwritten).found);
  EXPECT_EQ(Rate(overwritten, "IMG_0042.JPG", jpeg.size()), kStatusPoor);
}

// ---------------------------------------------------------------------------
// Hostile headers. Each case lays a crafted file on a volume of 4096-byte
// clusters and checks that the detector ends quickly, finds nothing or a
// file inside the range, and never more than the range.

void Put32Be(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

Bytes Box(const char* type, std::uint32_t size, std::size_t body = 0) {
  Bytes b(8 + body, 0);
  Put32Be(b, 0, size);
  std::memcpy(b.data() + 4, type, 4);
  return b;
}

Bytes Append(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// In place, for the loops that build long streams.
void AppendTo(Bytes& a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); }

Bytes FileType() {
  Bytes b = Box("ftyp", 16, 8);
  std::memcpy(b.data() + 8, "isom", 4);
  return b;
}

LostFileGuess ScanBounded(const Bytes& file, std::uint64_t rangeClusters) {
  ClusterImage image(4096);
  image.Put(kStart, file);
  image.EnsureClusters(kStart + rangeClusters);
  MemoryVolume volume(image, 8);
  volume.SetScanRange(0, kStart + rangeClusters - 1);
  const auto begin = std::chrono::steady_clock::now();
  LostFileGuess g = Scan(volume);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 10.0);
  if (g.found) {
    EXPECT_LE(g.length, rangeClusters * 4096);
  }
  return g;
}

TEST(MediaRulesHostile, Mp4BoxesWithAbsurdOrZeroSizesAreRefused) {
  const Bytes movie = Box("moov", 64, 56);
  // A box larger than the range, in 32 and 64 bits.
  EXPECT_FALSE(ScanBounded(Append(Append(FileType(), movie), Box("mdat", 0xFFFFFFFF)), 16).found);
  Bytes large = Box("mdat", 1, 8);
  Put32Be(large, 8, 0x7FFFFFFF);
  EXPECT_FALSE(ScanBounded(Append(Append(FileType(), movie), large), 16).found);
  Put32Be(large, 8, 0);
  Put32Be(large, 12, 15);  // a 64-bit size below its own header
  EXPECT_FALSE(ScanBounded(Append(Append(FileType(), movie), large), 16).found);
  // A box that runs "to the end of the file".
  EXPECT_FALSE(ScanBounded(Append(Append(FileType(), movie), Box("mdat", 0)), 16).found);
  // Without a movie box there is no movie.
  EXPECT_FALSE(ScanBounded(Append(FileType(), Box("mdat", 4000, 3992)), 16).found);
  // A box whose size cannot hold its header ends the walk.
  const Bytes whole = Append(FileType(), movie);
  LostFileGuess g = ScanBounded(Append(whole, Box("free", 4)), 16);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, whole.size());
  // Thousands of empty boxes are walked in bounded time up to the range.
  Bytes many = Append(FileType(), movie);
  while (many.size() < 64 * 4096) AppendTo(many, Box("free", 8));
  g = ScanBounded(many, 64);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, 64u * 4096);
}

Bytes OggPage(std::uint8_t flags, std::uint32_t serial, const std::vector<std::uint8_t>& lacing) {
  Bytes p(27, 0);
  std::memcpy(p.data(), "OggS", 4);
  p[5] = flags;
  for (int i = 0; i < 4; ++i) p[14 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(serial >> (8 * i));
  p[26] = static_cast<std::uint8_t>(lacing.size());
  p.insert(p.end(), lacing.begin(), lacing.end());
  std::size_t body = 0;
  for (auto l : lacing) body += l;
  p.resize(p.size() + body, 0x11);
  // The page checksum: CRC-32, polynomial 0x04C11DB7, not reflected.
  std::uint32_t crc = 0;
  for (std::uint8_t byte : p) {
    crc ^= std::uint32_t{byte} << 24;
    for (int j = 0; j < 8; ++j) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  for (int i = 0; i < 4; ++i) p[22 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
  return p;
}

TEST(MediaRulesHostile, OggPageChainsWithoutAnEndAreRefused) {
  // Empty pages up to the end of the range, never ending the stream.
  Bytes pages = OggPage(2, 7, {});
  while (pages.size() < 32 * 4096) AppendTo(pages, OggPage(0, 7, {}));
  EXPECT_FALSE(ScanBounded(pages, 32).found);
  // A page whose segments reach past the range.
  EXPECT_FALSE(ScanBounded(Append(OggPage(2, 7, {}), OggPage(4, 7, std::vector<std::uint8_t>(255, 255))), 4).found);
  // The end of a stream that never began, and a page of a stranger.
  EXPECT_FALSE(ScanBounded(Append(OggPage(2, 7, {}), OggPage(4, 8, {})), 4).found);
  // More streams opened than any file has.
  Bytes crowd;
  for (std::uint32_t s = 0; s < 300; ++s) AppendTo(crowd, OggPage(2, s, {}));
  EXPECT_FALSE(ScanBounded(crowd, 4).found);
  // Two streams that both end: found, up to the last end page.
  Bytes two = Append(Append(OggPage(2, 1, {10}), OggPage(2, 2, {20})), OggPage(4, 1, {5}));
  AppendTo(two, OggPage(4, 2, {}));
  LostFileGuess g = ScanBounded(Append(two, Bytes(100, 0x55)), 4);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, two.size());
  // One byte changed in a page's body: its checksum no longer holds.
  Bytes damaged = two;
  damaged[27 + 1 + 3] ^= 0x40;
  EXPECT_FALSE(ScanBounded(damaged, 4).found);
  const Bytes& real = RealFile("sound.ogg");
  Bytes flipped = real;
  flipped[real.size() / 2] ^= 0x01;
  EXPECT_FALSE(ScanBounded(flipped, 4).found);
}

TEST(MediaRulesHostile, Mp3TagsAndFramesThatClaimTooMuchStayInsideTheRange) {
  // A tag of the largest size a tag can state, far past the range.
  Bytes tag = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_FALSE(ScanBounded(Append(tag, Bytes(100, 0)), 4).found);
  // A tag and no frame.
  Bytes empty = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ScanBounded(Append(empty, Bytes(100, 0x55)), 4).found);
  // The smallest frames (MPEG-2.5 layer III, 8 kbit/s at 8 kHz: 72 bytes)
  // repeated to the end of the range, the last one cut.
  const Bytes frame = [] {
    Bytes f(72, 0x22);
    f[0] = 0xFF;
    f[1] = 0xE3;  // MPEG-2.5, layer III, no CRC
    f[2] = 0x18;  // 8 kbit/s, 8000 Hz, no padding
    f[3] = 0xC4;
    return f;
  }();
  // The walk ends behind the last whole frame: what can be measured.
  Bytes frames = empty;
  while (frames.size() < 8 * 4096 + 40) AppendTo(frames, frame);
  LostFileGuess cut = ScanBounded(frames, 8);
  EXPECT_TRUE(cut.found);
  EXPECT_EQ(cut.length, 10 + (8 * 4096 - 10) / 72 * 72);
  // The same frames, ending inside the range.
  Bytes fewer = empty;
  for (int i = 0; i < 300; ++i) AppendTo(fewer, frame);
  LostFileGuess g = ScanBounded(Append(fewer, Bytes(64, 0)), 8);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, fewer.size());
  // A frame of another stream (MPEG-1) ends the walk.
  Bytes mixed = fewer;
  Bytes other = frame;
  other[1] = 0xFB;
  AppendTo(mixed, other);
  g = ScanBounded(Append(mixed, Bytes(1000, 0)), 8);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, fewer.size());
}

TEST(MediaRulesHostile, MpegPacketsThatClaimTooMuchEndTheStream) {
  Bytes pack = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0, 3, 0xFF};  // 7 stuffing bytes
  pack.resize(pack.size() + 7, 0xFF);
  // A packet that reaches past the range ends the stream before it.
  Bytes big = {0, 0, 1, 0xE0, 0xFF, 0xFF};
  LostFileGuess cut = ScanBounded(Append(pack, big), 1);
  EXPECT_TRUE(cut.found);
  EXPECT_EQ(cut.length, pack.size());
  // Empty packets (6 bytes each) up to the end of the range.
  Bytes packets = pack;
  const Bytes empty = {0, 0, 1, 0xBE, 0, 0};
  while (packets.size() < 16 * 4096) AppendTo(packets, empty);
  LostFileGuess g = ScanBounded(packets, 16);
  EXPECT_TRUE(g.found);
  EXPECT_GE(g.length, 16u * 4096 - 6);
  // A pack header with neither marker pattern is no pack.
  Bytes bad = pack;
  bad[4] = 0x84;
  EXPECT_FALSE(ScanBounded(bad, 4).found);
}

TEST(MediaRulesHostile, PdfEndMarkersEverywhereStayInsideTheRangeAndTheWindow) {
  std::string text = "%PDF-1.4\n";
  while (text.size() < 256 * 4096) text += "%%EOF\n";
  LostFileGuess g = ScanBounded(Bytes(text.begin(), text.end()), 256);
  EXPECT_TRUE(g.found);
  EXPECT_LE(g.length, 256u * 4096);
  // No end marker at all.
  std::string none = "%PDF-1.4\n" + std::string(3 * 4096, 'x');
  EXPECT_FALSE(ScanBounded(Bytes(none.begin(), none.end()), 4).found);
  // An absurd declared length is not believed.
  std::string declared = "%PDF-1.4\n1 0 obj << /Linearized 1 /L 99999999999999 >> endobj\n%%EOF\n";
  g = ScanBounded(Bytes(declared.begin(), declared.end()), 4);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, declared.size());
}

TEST(MediaRulesHostile, MutatedRealFilesNeverPassTheRange) {
  std::uint64_t seed = 1;
  for (const Sample& s : kSamples) {
    const Bytes file = Make(s);
    for (int round = 0; round < 40; ++round) {
      Bytes mutated = file;
      const Bytes noise = test::RandomBytes(16, ++seed);
      for (std::size_t i = 0; i + 1 < noise.size(); i += 2) {
        // Most edits hit the headers, where the sizes are.
        const std::size_t span = (noise[i] & 1) ? std::min<std::size_t>(mutated.size(), 256) : mutated.size();
        mutated[(noise[i] * 131u + noise[i + 1] * 7u + static_cast<std::size_t>(round) * 977u) % span] = noise[i + 1];
      }
      const std::uint64_t clusters = (mutated.size() + 4095) / 4096;
      ScanBounded(mutated, clusters);
      ScanBounded(mutated, clusters + 2);
    }
  }
}

}  // namespace
}  // namespace relictor
