// Compound documents and RAR archives, made by the test's own writers.

#include <gtest/gtest.h>

#include <string>

#include "scan/file_builders.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"
#include "support/test_support.h"

namespace relictor {
namespace {

using test::Bytes;
using test::ClusterImage;
using test::CompoundLayout;
using test::CompoundOptions;
using test::MemoryVolume;

constexpr std::uint64_t kStart = 2;

// The document at cluster kStart with `after` clusters of letters behind
// it (letters start no signature).
MemoryVolume Place(const Bytes& file, std::uint32_t spc, std::uint64_t after = 2) {
  ClusterImage image(512 * spc);
  Bytes filler = test::RandomBytes((kStart + image.ClustersFor(file.size()) + after) * 512 * spc, 99);
  for (auto& c : filler) c = static_cast<std::uint8_t>('a' + c % 26);
  image.Put(0, filler);
  image.Put(kStart, file);
  return MemoryVolume(image);
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(CompoundDocument, TheStreamNameTellsTheKindOfDocument) {
  const std::pair<const char*, const char*> kinds[] = {{"Workbook", "XLS"},
                                                       {"WordDocument", "DOC"},
                                                       {"PowerPoint Document", "PPT"},
                                                       {"VisioDocument", "VSD"},
                                                       {"Contents", "MSCOMP"},
                                                       {"WordDocumenT", "MSCOMP"},
                                                       {"Workbook2", "MSCOMP"}};
  for (const auto& [stream, type] : kinds) {
    CompoundOptions o;
    o.streamName = stream;
    o.streamSize = 6000;
    Bytes doc = test::BuildCompoundDocument(o);
    for (std::uint32_t spc : {1u, 4u}) {
      MemoryVolume volume = Place(doc, spc);
      LostFileGuess g = ScanForLostFile(volume, kStart);
      EXPECT_TRUE(g.found) << stream;
      EXPECT_EQ(g.typeName, type) << stream;
      EXPECT_EQ(g.length, doc.size()) << stream << " spc " << spc;
    }
  }
}

TEST(CompoundDocument, TheDirectoryChainIsFollowedAcrossAllocationSectors) {
  CompoundOptions o;
  o.streamName = "Workbook";
  o.streamSize = 200000;
  o.fillerStreams = 6;  // the named stream's entry is in the second directory sector
  o.splitDirectory = true;
  CompoundLayout layout;
  Bytes doc = test::BuildCompoundDocument(o, &layout);
  ASSERT_GE(layout.fatSectors, 3u);
  ASSERT_EQ(layout.directorySectors, 2u);
  ASSERT_EQ(layout.firstDirectory, 0u);
  MemoryVolume volume = Place(doc, 2);
  LostFileGuess g = ScanForLostFile(volume, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "XLS");
  EXPECT_EQ(g.length, doc.size());

  // Cut the chain after the first directory sector: the name is never
  // seen, the document is still measured.
  Bytes cut = doc;
  const std::size_t firstFat = static_cast<std::size_t>(layout.firstFatSector + 1) * 512;
  ASSERT_NE(Le32(cut, firstFat), 0xFFFFFFFEu);
  PutLe32(cut, firstFat, 0xFFFFFFFE);
  MemoryVolume broken = Place(cut, 2);
  g = ScanForLostFile(broken, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "MSCOMP");
  EXPECT_EQ(g.length, doc.size());
}

TEST(CompoundDocument, AllocationSectorsBeyondTheHeaderComeFromTheIndexSectors) {
  CompoundOptions o;
  o.streamName = "PowerPoint Document";
  o.streamSize = 7300000;  // more than 109 allocation sectors of 512 bytes
  o.fillerStreams = 2;
  CompoundLayout layout;
  Bytes doc = test::BuildCompoundDocument(o, &layout);
  ASSERT_GT(layout.fatSectors, 109u);
  ASSERT_GE(layout.difatSectors, 1u);
  MemoryVolume volume = Place(doc, 8);
  LostFileGuess g = ScanForLostFile(volume, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "PPT");
  EXPECT_EQ(g.length, doc.size());

  // Without the index sectors the document looks shorter: the header's 109
  // sectors alone describe less than the whole file.
  Bytes noIndex = doc;
  PutLe32(noIndex, 72, 0);
  MemoryVolume shorter = Place(noIndex, 8);
  g = ScanForLostFile(shorter, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_LT(g.length, doc.size());

  // An index chain that points at itself, with an absurd count, ends.
  Bytes loop = doc;
  const std::size_t index = static_cast<std::size_t>(layout.firstDifatSector + 1) * 512;
  PutLe32(loop, index + 508, layout.firstDifatSector);
  PutLe32(loop, 72, 0xFFFFFFFF);
  for (std::size_t e = 0; e < 127; ++e) PutLe32(loop, index + 4 * e, layout.firstFatSector + 3);
  MemoryVolume looping = Place(loop, 8);
  const std::uint64_t before = looping.Source().ReadCalls();
  g = ScanForLostFile(looping, kStart);
  EXPECT_FALSE(g.found);
  // Each allocation sector costs two cluster reads; the walk gives up once
  // more allocation sectors are named than the range could need.
  const std::uint64_t clusters = looping.LastCluster() - kStart + 1;
  EXPECT_LT(looping.Source().ReadCalls() - before, 2 * (clusters * 4096 / 512 / 128 + 8) + 16);
}

TEST(CompoundDocument, LargeSectorsCountTheWholeHeaderSector) {
  CompoundOptions o;
  o.shift = 12;
  o.streamName = "VisioDocument";
  o.streamSize = 50000;
  o.fillerStreams = 40;  // a directory of two 4096-byte sectors
  CompoundLayout layout;
  Bytes doc = test::BuildCompoundDocument(o, &layout);
  ASSERT_EQ(layout.directorySectors, 2u);
  ASSERT_EQ(doc.size() % 4096, 0u);
  MemoryVolume volume = Place(doc, 8);
  LostFileGuess g = ScanForLostFile(volume, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "VSD");
  // The header of a version-4 document fills a whole 4096-byte sector.
  EXPECT_EQ(g.length, doc.size());
}

TEST(CompoundDocument, HostileHeadersAreRefused) {
  CompoundOptions o;
  o.streamSize = 5000;
  CompoundLayout layout;
  const Bytes doc = test::BuildCompoundDocument(o, &layout);
  auto scan = [](const Bytes& file) {
    MemoryVolume volume = Place(file, 1);
    return ScanForLostFile(volume, kStart);
  };
  ASSERT_TRUE(scan(doc).found);
  for (int shift : {0, 6, 17, 40, 0xFFFF}) {
    Bytes b = doc;
    b[30] = static_cast<std::uint8_t>(shift);
    b[31] = static_cast<std::uint8_t>(shift >> 8);
    LostFileGuess g = scan(b);
    EXPECT_FALSE(g.found) << shift;
    EXPECT_EQ(g.typeName, "OFFICE");
  }
  // An allocation sector beyond the range.
  Bytes farFat = doc;
  PutLe32(farFat, 76, 0x00FFFFFF);
  EXPECT_FALSE(scan(farFat).found);
  // Special values as allocation sectors.
  for (std::uint32_t special : {0xFFFFFFFEu, 0xFFFFFFFDu, 0xFFFFFFFAu}) {
    Bytes b = doc;
    PutLe32(b, 76, special);
    EXPECT_FALSE(scan(b).found) << special;
  }
  // A directory sector beyond the range: measured, named "MSCOMP", not found.
  Bytes farDirectory = doc;
  PutLe32(farDirectory, 48, 0x00FFFFFF);
  LostFileGuess g = scan(farDirectory);
  EXPECT_FALSE(g.found);
  EXPECT_EQ(g.typeName, "MSCOMP");
  // No directory at all: found, with the name it has without one.
  Bytes noDirectory = doc;
  PutLe32(noDirectory, 48, 0xFFFFFFFE);
  g = scan(noDirectory);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "MSCOMP");
  // The same allocation sector named 109 times makes a longer file than
  // the range holds.
  Bytes repeated = doc;
  for (std::size_t i = 0; i < 109; ++i) PutLe32(repeated, 76 + 4 * i, layout.firstFatSector);
  EXPECT_FALSE(scan(repeated).found);
  // Index sectors named but their chain ends at once.
  Bytes emptyIndex = doc;
  PutLe32(emptyIndex, 72, 5);
  PutLe32(emptyIndex, 68, 0xFFFFFFFE);
  g = scan(emptyIndex);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.length, doc.size());
}

TEST(CompoundDocument, ADocumentLargerThanTheRestOfTheRangeIsNotFound) {
  CompoundOptions o;
  o.streamSize = 20000;
  Bytes doc = test::BuildCompoundDocument(o);
  MemoryVolume volume = Place(doc, 1, 0);
  const std::uint64_t last = kStart + (doc.size() - 1) / 512;
  volume.SetScanRange(0, last);
  EXPECT_TRUE(ScanForLostFile(volume, kStart).found);
  volume.SetScanRange(0, last - 1);
  EXPECT_FALSE(ScanForLostFile(volume, kStart).found);
}

TEST(RarArchive, TheWriterEndsWithTheRealEndOfArchiveBlock) {
  // The end block's CRC is fixed by the format; getting it from our own
  // CRC code shows the writer's headers are checksummed right.
  const Bytes expected = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
  EXPECT_EQ(test::RarEndBlock(), expected);
  // The CRC of the standard check string.
  const std::string check = "123456789";
  EXPECT_EQ(test::Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
}

TEST(RarArchive, IsMeasuredUpToItsEndBlock) {
  Bytes data = test::RandomBytes(3000, 5);
  Bytes rar = test::BuildRarArchive({{"a.bin", data}, {"b.txt", Bytes(700, 'x')}});
  MemoryVolume volume = Place(rar, 1);
  LostFileGuess g = ScanForLostFile(volume, kStart);
  EXPECT_TRUE(g.found);
  EXPECT_EQ(g.typeName, "RAR");
  EXPECT_EQ(g.length, rar.size());
  // Without its end block the archive is not found.
  Bytes open(rar.begin(), rar.end() - 7);
  MemoryVolume cut = Place(open, 1);
  g = ScanForLostFile(cut, kStart);
  EXPECT_FALSE(g.found);
  EXPECT_EQ(g.typeName, "RAR");
}

}  // namespace
}  // namespace relictor
