// The cluster stream: reads, skips and searches over consecutive clusters,
// limited to the scan range, with clusters loaded only when needed.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scan/cluster_stream.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"
#include "support/test_support.h"

namespace relictor {
namespace {

using test::ClusterImage;
using test::MemoryVolume;

// Clusters of random lower-case letters: no cluster of it starts with a
// recognised signature, and no pattern with a '#' occurs by chance.
ClusterImage LetterImage(std::uint32_t bytesPerCluster, std::uint64_t clusters, std::uint64_t seed = 7) {
  ClusterImage image(bytesPerCluster);
  std::vector<std::uint8_t> bytes = test::RandomBytes(bytesPerCluster * clusters, seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>('a' + b % 26);
  image.Put(0, bytes);
  return image;
}

void PutText(ClusterImage& image, std::uint64_t offset, const std::string& text) {
  image.PutAt(offset, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::int64_t Find(ClusterStream& s, const std::string& pattern, bool ignoreCase = false) {
  return s.FindPattern(reinterpret_cast<const std::uint8_t*>(pattern.data()), pattern.size(), ignoreCase);
}

// A search of the image as it is now, from the start of `cluster`.
std::int64_t FindFrom(const ClusterImage& image, std::uint64_t cluster, const std::string& pattern) {
  MemoryVolume volume(image, 1);
  ClusterStream s(volume);
  if (!s.Begin(cluster)) return -2;
  return Find(s, pattern);
}

TEST(ClusterStream, BeginLoadsOnlyClustersInsideTheScanRange) {
  ClusterImage image = LetterImage(512, 8);
  MemoryVolume volume(image, 1);
  volume.SetScanRange(2, 5);
  ClusterStream s(volume);
  EXPECT_FALSE(s.Begin(1));
  EXPECT_FALSE(s.Begin(6));
  ASSERT_TRUE(s.Begin(5));
  EXPECT_EQ(0, std::memcmp(volume.ClusterBuffer().data(), image.Bytes().data() + 5 * 512, 512));
  EXPECT_EQ(s.Cluster(), 5u);
  EXPECT_EQ(s.Offset(), 0u);
  // Nothing works on a stream whose Begin failed.
  EXPECT_FALSE(s.Begin(0));
  std::uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0u);
  EXPECT_EQ(s.Skip(1), -1);
  EXPECT_EQ(Find(s, "a"), -1);
}

TEST(ClusterStream, RefusesAVolumeWhoseClusterSizeDisagreesWithItsGeometry) {
  MemoryVolume volume(LetterImage(1024, 4), 2);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(1));
  volume.SetBytesPerCluster(2048);  // larger than the buffer and the geometry
  EXPECT_FALSE(s.Begin(1));
  volume.SetBytesPerCluster(0);
  EXPECT_FALSE(s.Begin(1));
}

TEST(ClusterStream, ReadsAcrossClusterBoundaries) {
  for (std::uint32_t spc : {1u, 2u, 8u}) {
    const std::uint32_t bpc = 512 * spc;
    ClusterImage image = LetterImage(bpc, 6, spc);
    MemoryVolume volume(image, spc);
    ClusterStream s(volume);
    ASSERT_TRUE(s.Begin(1));
    ASSERT_EQ(s.Skip(100), 100);
    // The rest of cluster 1, all of clusters 2 and 3, and the head of 4.
    std::vector<std::uint8_t> got(bpc * 3);
    ASSERT_EQ(s.Read(got.data(), got.size()), got.size());
    EXPECT_EQ(0, std::memcmp(got.data(), image.Bytes().data() + bpc + 100, got.size())) << spc;
    EXPECT_EQ(s.Cluster(), 4u);
    EXPECT_EQ(s.Offset(), 100u);
    std::uint8_t next = 0;
    ASSERT_EQ(s.Read(&next, 1), 1u);
    EXPECT_EQ(next, image.Bytes()[4 * bpc + 100]);
  }
}

TEST(ClusterStream, AReadThatEndsAtTheRangeEndSucceedsAndTheNextOneFails) {
  ClusterImage image = LetterImage(512, 6);
  MemoryVolume volume(image, 1);
  volume.SetScanRange(1, 3);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(2));
  std::vector<std::uint8_t> got(1024);
  ASSERT_EQ(s.Read(got.data(), got.size()), got.size());
  EXPECT_EQ(s.Cluster(), 4u);
  EXPECT_EQ(s.Offset(), 0u);
  std::uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0u);

  // One byte more than the range holds fails as a whole.
  ASSERT_TRUE(s.Begin(2));
  got.resize(1025);
  EXPECT_EQ(s.Read(got.data(), got.size()), 0u);
}

TEST(ClusterStream, ABoundaryDoesNotReadTheNextClusterUntilItsBytesAreWanted) {
  ClusterImage image = LetterImage(512, 6);
  MemoryVolume volume(image, 1);
  volume.Source().FailReadsIn(4 * 512, 5 * 512);  // cluster 4 is unreadable
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(3));
  std::vector<std::uint8_t> got(512);
  EXPECT_EQ(s.Read(got.data(), got.size()), got.size());
  std::uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0u);

  ASSERT_TRUE(s.Begin(3));
  EXPECT_EQ(s.Skip(512), 512);  // lands on the start of cluster 4
  EXPECT_EQ(s.Read(&b, 1), 0u);
}

TEST(ClusterStream, SkipLoadsOnlyTheClusterItReaches) {
  ClusterImage image = LetterImage(512, 8);
  MemoryVolume volume(image, 1);
  volume.Source().FailReadsIn(3 * 512, 4 * 512);  // cluster 3 is unreadable
  volume.SetScanRange(0, 6);
  ClusterStream s(volume);

  // Over the bad cluster into cluster 4: fine.
  ASSERT_TRUE(s.Begin(2));
  ASSERT_EQ(s.Skip(2 * 512 + 10), 2 * 512 + 10);
  std::uint8_t b = 0;
  ASSERT_EQ(s.Read(&b, 1), 1u);
  EXPECT_EQ(b, image.Bytes()[4 * 512 + 10]);

  // Into the bad cluster: -1.
  ASSERT_TRUE(s.Begin(2));
  EXPECT_EQ(s.Skip(512 + 1), -1);

  // Past the scan range: -1, but the very end of the range is a place.
  ASSERT_TRUE(s.Begin(4));
  EXPECT_EQ(s.Skip(3 * 512 + 1), -1);
  ASSERT_TRUE(s.Begin(4));
  EXPECT_EQ(s.Skip(3 * 512), 3 * 512);
  EXPECT_EQ(s.Cluster(), 7u);
  EXPECT_EQ(s.Read(&b, 1), 0u);

  // Absurd skips fail instead of wrapping around.
  ASSERT_TRUE(s.Begin(4));
  EXPECT_EQ(s.Skip(~std::uint64_t{0}), -1);
  ASSERT_TRUE(s.Begin(4));
  EXPECT_EQ(s.Skip(std::uint64_t{1} << 62), -1);
  ASSERT_TRUE(s.Begin(4));
  EXPECT_EQ(s.Skip(0), 0);
  ASSERT_EQ(s.Read(&b, 1), 1u);
  EXPECT_EQ(b, image.Bytes()[4 * 512]);
}

TEST(ClusterStream, FindPatternCountsFromTheStartingPointToTheEndOfTheMatch) {
  ClusterImage image = LetterImage(512, 6);
  PutText(image, 1 * 512 + 40, "#END#");  // before the start: never seen
  PutText(image, 1 * 512 + 300, "#END#");
  PutText(image, 3 * 512 + 17, "#END#");
  MemoryVolume volume(image, 1);
  ClusterStream s(volume);

  ASSERT_TRUE(s.Begin(1));
  ASSERT_EQ(s.Skip(100), 100);
  EXPECT_EQ(Find(s, "#END#"), 300 - 100 + 5);
  EXPECT_EQ(s.Cluster(), 1u);
  EXPECT_EQ(s.Offset(), 305u);
  // The next search goes on behind the match, across two clusters.
  EXPECT_EQ(Find(s, "#END#"), (512 - 305) + 512 + 17 + 5);
  EXPECT_EQ(s.Cluster(), 3u);
  EXPECT_EQ(s.Offset(), 22u);
  std::uint8_t b = 0;
  ASSERT_EQ(s.Read(&b, 1), 1u);
  EXPECT_EQ(b, image.Bytes()[3 * 512 + 22]);
  // Nothing more up to the end of the range.
  EXPECT_EQ(Find(s, "#END#"), -1);
}

TEST(ClusterStream, FindPatternFindsAMatchAtEveryOffsetFromEveryStart) {
  // The search compares many starting points at once; a match at any
  // offset of a cluster, near its end or near the starting point, must be
  // found exactly where a byte-by-byte search finds it, and the bytes of a
  // pattern's first two must be told from near misses ("#E" without the
  // rest, "E#").
  const std::string pattern = "#E#";
  for (const bool decoys : {false, true}) {
    for (std::uint64_t at = 0; at + pattern.size() <= 64; ++at) {
      ClusterImage image = LetterImage(64, 2);
      for (std::uint64_t decoy = 0; decoys && decoy + 3 <= at; decoy += 7) PutText(image, decoy, decoy % 2 ? "#E" : "E#");
      PutText(image, at, pattern);
      MemoryVolume volume(image, 1);
      for (std::uint64_t from = 0; from <= at; ++from) {
        ClusterStream s(volume);
        ASSERT_TRUE(s.Begin(0));
        if (from > 0) {
          ASSERT_EQ(s.Skip(from), static_cast<std::int64_t>(from));
        }
        EXPECT_EQ(Find(s, pattern), static_cast<std::int64_t>(at - from + pattern.size()))
            << at << " " << from << " " << decoys;
      }
    }
  }
}

TEST(ClusterStream, IgnoringCaseFindsALetterSecondByteInEitherCase) {
  ClusterImage image = LetterImage(512, 2);
  PutText(image, 200, "<HTML>");
  MemoryVolume volume(image, 1);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(0));
  EXPECT_EQ(Find(s, "<html>", true), 206);
  ASSERT_TRUE(s.Begin(0));
  EXPECT_EQ(Find(s, "<html>", false), -1);
}

TEST(ClusterStream, AMatchMustLieInsideOneCluster) {
  ClusterImage image = LetterImage(512, 6);
  PutText(image, 2 * 512 - 3, "#END#");  // straddles clusters 1 and 2
  EXPECT_EQ(FindFrom(image, 1, "#END#"), -1);

  // A later whole match is found; the straddling one is passed over.
  PutText(image, 4 * 512 + 8, "#END#");
  EXPECT_EQ(FindFrom(image, 1, "#END#"), 3 * 512 + 8 + 5);
  // A match that ends exactly at the end of a cluster is whole.
  PutText(image, 2 * 512 - 5, "#END#");
  MemoryVolume third(image, 1);
  ClusterStream u(third);
  ASSERT_TRUE(u.Begin(1));
  EXPECT_EQ(Find(u, "#END#"), 512);
  EXPECT_EQ(u.Cluster(), 2u);
  EXPECT_EQ(u.Offset(), 0u);
}

TEST(ClusterStream, FindPatternStopsAtAClusterThatStartsAnotherFile) {
  ClusterImage image = LetterImage(512, 8);
  PutText(image, 5 * 512 + 100, "#END#");
  EXPECT_EQ(FindFrom(image, 1, "#END#"), 4 * 512 + 100 + 5);

  // Cluster 3 starts like a PNG: the search ends there, even though the
  // pattern follows later.
  PutText(image, 3 * 512, "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(FindFrom(image, 1, "#END#"), -1);

  // A cluster of zeros is free space and stops it too; one zero byte
  // less and it is ordinary data that the search passes.
  image.PutAt(3 * 512, std::vector<std::uint8_t>(512, 0));
  EXPECT_EQ(FindFrom(image, 1, "#END#"), -1);
  PutText(image, 3 * 512 + 50, "x");
  EXPECT_EQ(FindFrom(image, 1, "#END#"), 4 * 512 + 100 + 5);

  // The cluster the search starts in may hold any signature.
  PutText(image, 3 * 512, "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(FindFrom(image, 3, "#END#"), 2 * 512 + 100 + 5);
}

TEST(ClusterStream, IgnoringCaseLowersTheDataButComparesTheFirstByteExactly) {
  ClusterImage image = LetterImage(512, 4);
  PutText(image, 512 + 10, "</HtMl>");
  PutText(image, 512 + 200, "Qrs#");
  MemoryVolume volume(image, 1);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "</html>", true), 17);
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "</html>", false), -1);
  // 'Q' is the first byte: it must match exactly.
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "qrs#", true), -1);
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "QRS#", true), -1);  // the data is lowered, not the pattern
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "Qrs#", true), 204);
}

TEST(ClusterStream, FindPatternRejectsEmptyAndOversizedPatterns) {
  MemoryVolume volume(LetterImage(512, 2), 1);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(0));
  EXPECT_EQ(s.FindPattern(nullptr, 0, false), -1);
  std::string big(513, 'a');
  ASSERT_TRUE(s.Begin(0));
  EXPECT_EQ(Find(s, big), -1);
}

TEST(ClusterStream, FindPatternFailsAtAnUnreadableCluster) {
  ClusterImage image = LetterImage(512, 6);
  PutText(image, 4 * 512 + 3, "#END#");
  MemoryVolume volume(image, 1);
  volume.Source().FailReadsIn(3 * 512 + 100, 3 * 512 + 101);
  ClusterStream s(volume);
  ASSERT_TRUE(s.Begin(1));
  EXPECT_EQ(Find(s, "#END#"), -1);
}

}  // namespace
}  // namespace relictor
