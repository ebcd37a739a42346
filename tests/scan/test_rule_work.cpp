// The work the length rules and the rating do on hostile volumes, counted
// in cluster reads of the in-memory device. A header in every cluster whose
// walk never finds its end, or many deleted entries that name one first
// cluster, must cost about one pass over the volume, not one per header or
// entry. Results on the same volumes are checked against what the rules
// give a fresh reader, so remembering walks changes no answer.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "scan/file_builders.h"
#include "scan/real_files.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"

namespace relictor {
namespace {

using test::Bytes;
using test::ClusterImage;
using test::MemoryVolume;

constexpr std::uint32_t kCluster = 512;
constexpr std::uint64_t kClusters = 2048;  // a 1 MiB volume

using Heads = std::function<Bytes(std::uint64_t)>;

// A volume of `kClusters` clusters: `head(c)` gives the bytes put at the
// start of cluster c (empty for none); everything else repeats `fill`.
MemoryVolume Volume(const Heads& head, const Bytes& fill) {
  ClusterImage image(kCluster);
  Bytes all(kClusters * kCluster);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = fill[i % fill.size()];
  image.Put(0, all);
  for (std::uint64_t c = 0; c < kClusters; ++c) {
    const Bytes b = head(c);
    if (!b.empty()) image.Put(c, b);
  }
  return MemoryVolume(image);
}

Bytes Text(const char* text, std::size_t n) { return Bytes(text, text + n); }

// A GIF header without a colour table.
Bytes GifHead() {
  Bytes b = Text("GIF89a", 6);
  b.resize(13, 0);
  b[6] = 1;
  b[8] = 1;
  return b;
}

// Every cluster examined, as the deep scan does on a volume it knows
// nothing of; returns the reads it took.
std::uint64_t ScanAll(MemoryVolume& volume, std::vector<LostFileGuess>* guesses = nullptr) {
  const std::uint64_t before = volume.Source().ReadCalls();
  for (std::uint64_t c = 0; c < kClusters; ++c) {
    LostFileGuess g = ScanForLostFile(volume, c);
    if (guesses) guesses->push_back(std::move(g));
  }
  return volume.Source().ReadCalls() - before;
}

void ExpectSameAsAFreshReader(const Heads& head, const Bytes& fill,
                              const std::vector<LostFileGuess>& guesses, const std::vector<std::uint64_t>& probes) {
  for (std::uint64_t c : probes) {
    MemoryVolume fresh = Volume(head, fill);
    const LostFileGuess g = ScanForLostFile(fresh, c);
    EXPECT_EQ(g.found, guesses[c].found) << c;
    EXPECT_EQ(g.length, guesses[c].length) << c;
    EXPECT_EQ(g.typeName, guesses[c].typeName) << c;
  }
}

TEST(RuleWork, GifHeadersWithoutTrailerCostOnePass) {
  // A GIF header in every other cluster and bytes that are never a block
  // introducer or trailer: each walk used to run to the end of the volume.
  auto head = [](std::uint64_t c) { return c % 2 == 0 ? GifHead() : Bytes{}; };
  MemoryVolume volume = Volume(head, {'a'});
  std::vector<LostFileGuess> guesses;
  const std::uint64_t reads = ScanAll(volume, &guesses);
  EXPECT_LT(reads, 8 * kClusters);
  EXPECT_FALSE(guesses[0].found);
  EXPECT_EQ(guesses[0].typeName, "GIF");
  ExpectSameAsAFreshReader(head, {'a'}, guesses, {0, 2, 1000, 2046});
}

TEST(RuleWork, GifHeadersSharingOneTrailerAreMeasuredAlike) {
  // The same, but a trailer at the very end: every header's walk meets the
  // first one's and takes its end.
  auto head = [](std::uint64_t c) {
    if (c == kClusters - 1) return Bytes{';'};
    return c % 3 == 0 ? GifHead() : Bytes{};
  };
  MemoryVolume volume = Volume(head, {'a'});
  std::vector<LostFileGuess> guesses;
  EXPECT_LT(ScanAll(volume, &guesses), 8 * kClusters);
  ASSERT_TRUE(guesses[0].found);
  EXPECT_EQ(guesses[0].length, (kClusters - 1) * kCluster + 1);
  ASSERT_TRUE(guesses[3].found);
  EXPECT_EQ(guesses[3].length, (kClusters - 4) * kCluster + 1);
  ExpectSameAsAFreshReader(head, {'a'}, guesses, {0, 3, 999, 2043});
}

TEST(RuleWork, GifSubBlockChainsAreRememberedToo) {
  // Headers whose data is one endless chain of 255-byte sub-blocks.
  auto head = [](std::uint64_t c) {
    if (c % 4 != 0) return Bytes{};
    Bytes b = GifHead();
    const Bytes image = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 8};
    b.insert(b.end(), image.begin(), image.end());
    return b;
  };
  MemoryVolume volume = Volume(head, {0xFF});
  std::vector<LostFileGuess> guesses;
  EXPECT_LT(ScanAll(volume, &guesses), 8 * kClusters);
  ExpectSameAsAFreshReader(head, {0xFF}, guesses, {0, 4, 1024});
}

TEST(RuleWork, JpegSegmentsJumpingIntoTheSameDataCostOnePass) {
  // JPEG headers in the first half whose first segment jumps 64 KiB ahead
  // into one long run of empty segments (FF 01 00 02) that never reaches a
  // scan: every header's walk lands in the same chain.
  auto head = [](std::uint64_t c) {
    return c < kClusters / 2 ? Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xF0} : Bytes{};
  };
  const Bytes fill = {0xFF, 0x01, 0x00, 0x02};
  MemoryVolume volume = Volume(head, fill);
  std::vector<LostFileGuess> guesses;
  // Each jump reads the cluster it lands in, and walks that jump never
  // meet; what is remembered is the chain behind the jumps, which every
  // walk used to follow to the end of the volume (over a million reads).
  EXPECT_LT(ScanAll(volume, &guesses), 20 * kClusters);
  EXPECT_EQ(guesses[0].typeName, "JPG");
  ExpectSameAsAFreshReader(head, fill, guesses, {0, 1, 500, 1023});
}

TEST(RuleWork, JpegScansWithoutEndMarkerCostOnePass) {
  // Every JPEG of the first half jumps 64 KiB ahead onto a start-of-scan
  // marker whose end marker never comes: the search for it is remembered
  // from its first arrival at a cluster on.
  ClusterImage image(kCluster);
  Bytes all(kClusters * kCluster, 'b');
  const Bytes h = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xF0};
  for (std::uint64_t c = 0; c < kClusters / 2; ++c) std::memcpy(all.data() + c * kCluster, h.data(), h.size());
  for (std::uint64_t c = 0; c < kClusters / 2; ++c) {
    const std::uint64_t land = c * kCluster + 6 + 0xFFF0 - 2;
    if (all[land] == 'b' && all[land + 1] == 'b') {
      all[land] = 0xFF;
      all[land + 1] = 0xDA;
    }
  }
  image.Put(0, all);
  MemoryVolume volume(image);
  const std::uint64_t before = volume.Source().ReadCalls();
  for (std::uint64_t c = 0; c < kClusters; ++c) {
    const LostFileGuess g = ScanForLostFile(volume, c);
    if (c < kClusters / 2) {
      EXPECT_EQ(g.typeName, "JPG");
    }
    EXPECT_FALSE(g.found);
  }
  EXPECT_LT(volume.Source().ReadCalls() - before, 8 * kClusters);
}

// A PCX header of 1000 rows of 1000 bytes, far more than the volume holds.
Bytes PcxHead() {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = 1;
  b[3] = 8;
  b[10] = 0xE7;  // last row 999
  b[11] = 0x03;
  b[65] = 1;
  b[66] = 0xE8;  // 1000 bytes a row
  b[67] = 0x03;
  b[68] = 1;
  return b;
}

TEST(RuleWork, PcxDecodesThatRunOutCostOnePass) {
  // Runs of length 0 decode nothing, so every header's decode runs to the
  // end of the volume.
  auto head = [](std::uint64_t c) { return c % 2 == 0 ? PcxHead() : Bytes{}; };
  const Bytes fill = {0xC0, 0x00};
  MemoryVolume volume = Volume(head, fill);
  std::vector<LostFileGuess> guesses;
  EXPECT_LT(ScanAll(volume, &guesses), 8 * kClusters);
  EXPECT_EQ(guesses[0].typeName, "PCX");
  EXPECT_FALSE(guesses[0].found);
  ExpectSameAsAFreshReader(head, fill, guesses, {0, 2, 1000, 2046});
}

TEST(RuleWork, PcxDecodesThatGoOnFromAnEarlierEndDoNotHopThroughEveryEnd) {
  // Equal headers in every cluster of the first half, each decoding about
  // half the volume: every walk meets the one before it, takes that one's
  // end and decodes a little further. A later walk must go to the last end
  // at once, not hop through the ends of all the walks before it.
  auto head = [](std::uint64_t c) -> Bytes {
    if (c >= kClusters / 2) return {};
    Bytes b = PcxHead();
    b[10] = 0xFF;  // 256 rows
    b[11] = 0;
    b[66] = 0;  // of 1024 bytes
    b[67] = 4;
    return b;
  };
  const Bytes fill = {0xC1, 0x00};
  MemoryVolume volume = Volume(head, fill);
  std::vector<LostFileGuess> guesses;
  EXPECT_LT(ScanAll(volume, &guesses), 8 * kClusters);
  EXPECT_TRUE(guesses[0].found);
  EXPECT_TRUE(guesses[kClusters / 2 - 1].found);
  ExpectSameAsAFreshReader(head, fill, guesses, {0, 1, 2, 500, kClusters / 2 - 1});
}

TEST(RuleWork, PcxDecodesThatMeetKeepTheirOwnLengths) {
  // Literal bytes only: each header's decode ends 1000 × 1000 bytes on, so
  // walks meet and take over each other's decoded counts and stops.
  auto head = [](std::uint64_t c) { return c % 64 == 0 ? PcxHead() : Bytes{}; };
  const Bytes fill = {0x01};
  MemoryVolume volume = Volume(head, fill);
  std::vector<LostFileGuess> guesses;
  ScanAll(volume, &guesses);
  ExpectSameAsAFreshReader(head, fill, guesses, {0, 64, 640, 1024});
  // A smaller image from a later header decodes less than an earlier walk
  // did from the same place: it must still stop at its own end.
  auto small = [](std::uint64_t c) {
    Bytes b = PcxHead();
    if (c == 8) {
      b[10] = 9;  // 10 rows
      b[11] = 0;
    }
    return c == 0 || c == 8 ? b : Bytes{};
  };
  MemoryVolume both = Volume(small, fill);
  const LostFileGuess big = ScanForLostFile(both, 0);
  const LostFileGuess g = ScanForLostFile(both, 8);
  ASSERT_TRUE(g.found);
  // 128 header bytes and 10 × 1000 literal bytes.
  EXPECT_EQ(g.length, 128u + 10000u);
  // The other order on a fresh reader gives the same answers.
  MemoryVolume other = Volume(small, fill);
  EXPECT_EQ(ScanForLostFile(other, 8).length, g.length);
  const LostFileGuess again = ScanForLostFile(other, 0);
  ASSERT_TRUE(big.found);
  EXPECT_TRUE(again.found);
  EXPECT_EQ(again.length, big.length);
}

// A deleted entry as a directory reader makes it.
struct Deleted {
  CDirEntry entry;
  Deleted(const std::string& name, std::uint64_t size) {
    entry.name = name;
    entry.typeText = TypeTextFromName(name);
    entry.size = size;
    entry.deleted = true;
  }
};

TEST(RuleWork, RatingManyEntriesOfOneClusterMeasuresItOnce) {
  // A thousand deleted entries that all name cluster 2, where a GIF starts
  // whose trailer never comes.
  auto head = [](std::uint64_t c) { return c == 2 ? GifHead() : Bytes{}; };
  MemoryVolume volume = Volume(head, {'a'});
  Deleted d("picture.gif", 1000);
  CDirEntry& entry = d.entry;
  const std::uint64_t before = volume.Source().ReadCalls();
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(RateDeletedFile(volume, 2, &entry), kStatusPoor);
  EXPECT_LT(volume.Source().ReadCalls() - before, 2 * kClusters);
}

TEST(RuleWork, RatingEntriesOfManyClustersCostsOnePass) {
  // Deleted entries naming every cluster of the first half, each holding a
  // header whose walk runs to the end: JPEG scans, GIF and PCX data.
  for (int kind = 0; kind < 3; ++kind) {
    auto head = [kind](std::uint64_t c) -> Bytes {
      if (c >= kClusters / 2) return {};
      if (kind == 0) return {0xFF, 0xD8, 0xFF, 0xDA};
      if (kind == 1) return GifHead();
      return PcxHead();
    };
    MemoryVolume volume = Volume(head, kind == 2 ? Bytes{0xC0, 0x00} : Bytes{'a'});
    Deleted d(kind == 0 ? "a.jpg" : kind == 1 ? "a.gif" : "a.pcx", 1000);
    CDirEntry& entry = d.entry;
    const std::uint64_t before = volume.Source().ReadCalls();
    for (std::uint64_t c = 0; c < kClusters / 2; ++c) {
      // JPEG searches stop at the next header; the others walk on.
      EXPECT_EQ(RateDeletedFile(volume, c, &entry), kStatusPoor) << kind << " " << c;
    }
    EXPECT_LT(volume.Source().ReadCalls() - before, 8 * kClusters) << kind;
  }
}

TEST(RuleWork, RealFilesAreStillMeasuredAfterHostileWalks) {
  // Real files behind hostile headers whose walks passed over them are
  // measured exactly, and narrowing the range forgets earlier walks.
  const Bytes gif = test::RealFile("anim.gif");
  const Bytes pcx = test::RealFile("palette.pcx");
  const Bytes jpg = test::RealFile("photo.jpg");
  auto head = [&](std::uint64_t c) {
    if (c == 1200) return gif;
    if (c == 1400) return pcx;
    if (c == 1700) return jpg;
    return c < 1000 && c % 2 == 0 ? GifHead() : Bytes{};
  };
  MemoryVolume volume = Volume(head, {'a'});
  std::vector<LostFileGuess> guesses;
  ScanAll(volume, &guesses);
  ASSERT_TRUE(guesses[1200].found);
  EXPECT_EQ(guesses[1200].length, gif.size());
  ASSERT_TRUE(guesses[1400].found);
  EXPECT_EQ(guesses[1400].length, pcx.size());
  ASSERT_TRUE(guesses[1700].found);
  EXPECT_EQ(guesses[1700].length, jpg.size());
  // The hostile GIFs before 1200 ended at the real GIF's trailer or at a
  // byte 0x3B in the files behind it, as a fresh reader says.
  ExpectSameAsAFreshReader(head, {'a'}, guesses, {0, 998});
  volume.SetScanRange(0, 1201);
  EXPECT_FALSE(ScanForLostFile(volume, 1200).found);  // the GIF no longer fits
}


// Little-endian 32-bit value at `at`.
void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(RuleWork, CompoundDocumentsWhoseStructureSpansTheRangeShareOneAllowance) {
  // Headers in the first half, each naming the same absolute allocation
  // sectors (sector numbers count from the header, so each names them by
  // other numbers) whose chain i -> i + 1 makes every following sector a
  // directory sector. Each header alone reads to the end of the range, and
  // a scan without a shared bound would read the half volume per header.
  constexpr std::uint64_t kFat = kClusters / 2;  // first allocation sector
  constexpr std::uint32_t kFatSectors = 17;
  auto head = [](std::uint64_t c) -> Bytes {
    if (c < kFat) {
      Bytes h(512, 0);
      const std::uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
      std::memcpy(h.data(), magic, sizeof magic);
      h[30] = 9;  // 512-byte sectors
      PutLe32(h, 44, kFatSectors);
      PutLe32(h, 48, 0);  // the directory starts right behind the header
      for (std::uint32_t j = 0; j < 109; ++j) {
        PutLe32(h, 76 + 4 * j, j < kFatSectors ? static_cast<std::uint32_t>(kFat + j - c - 1) : 0xFFFFFFFFu);
      }
      return h;
    }
    if (c < kFat + kFatSectors) {
      Bytes fat(512);
      const std::uint32_t base = static_cast<std::uint32_t>((c - kFat) * 128);
      for (std::uint32_t i = 0; i < 128; ++i) PutLe32(fat, 4 * i, base + i + 1);
      return fat;
    }
    return {};
  };
  MemoryVolume volume = Volume(head, {'a'});
  // One header alone does walk far: the structure is real.
  {
    MemoryVolume fresh = Volume(head, {'a'});
    const std::uint64_t before = fresh.Source().ReadCalls();
    (void)ScanForLostFile(fresh, 0);
    EXPECT_GT(fresh.Source().ReadCalls() - before, kClusters / 2);
  }
  EXPECT_LT(ScanAll(volume), 12 * kClusters);

  MemoryVolume rated = Volume(head, {'a'});
  Deleted d("a.doc", 1000);
  CDirEntry& entry = d.entry;
  const std::uint64_t before = rated.Source().ReadCalls();
  for (std::uint64_t c = 0; c < kFat; ++c) (void)RateDeletedFile(rated, c, &entry);
  EXPECT_LT(rated.Source().ReadCalls() - before, 12 * kClusters);
}

TEST(RuleWork, AudioFrameWalksToTheRangeEndShareOneAllowance) {
  // Deleted entries naming clusters of the first half, each an ID3 tag
  // whose frames start in the second half, which is one MPEG audio frame
  // chain up to the end: every walk is a find that runs to the range end.
  constexpr std::uint64_t kFrame = 417;  // 128 kbit/s, 44.1 kHz, layer III
  const Bytes frame = [] {
    Bytes f(kFrame, 0x55);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = 0x90;
    f[3] = 0x00;
    return f;
  }();
  auto head = [](std::uint64_t c) -> Bytes {
    if (c >= kClusters / 2) return {};
    const std::uint64_t start = c * kCluster;
    // The first frame at or behind the middle that lies on the chain.
    std::uint64_t target = (kClusters / 2) * kCluster;
    target += (kFrame - target % kFrame) % kFrame;
    const std::uint64_t tag = target - start - 10;
    Bytes h = {'I', 'D', '3', 3, 0, 0};
    for (int shift = 21; shift >= 0; shift -= 7) h.push_back(static_cast<std::uint8_t>((tag >> shift) & 0x7F));
    return h;
  };
  MemoryVolume volume = Volume(head, frame);
  {
    MemoryVolume fresh = Volume(head, frame);
    const LostFileGuess g = ScanForLostFile(fresh, 0);
    ASSERT_TRUE(g.found);
    EXPECT_GT(g.length, kClusters * kCluster - kFrame);
  }
  Deleted d("a.mp3", 1000);
  CDirEntry& entry = d.entry;
  const std::uint64_t before = volume.Source().ReadCalls();
  for (std::uint64_t c = 0; c < kClusters / 2; ++c) (void)RateDeletedFile(volume, c, &entry);
  EXPECT_LT(volume.Source().ReadCalls() - before, 12 * kClusters);
  // A new scan of the range starts with a whole allowance: the first
  // header is measured again.
  volume.SetScanRange(0, kClusters - 1);
  EXPECT_TRUE(ScanForLostFile(volume, 0).found);
}

}  // namespace
}  // namespace relictor
