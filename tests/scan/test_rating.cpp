// The rating of deleted files by what their first cluster still holds.

#include <gtest/gtest.h>

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

constexpr std::uint64_t kStart = 2;

MemoryVolume Place(const Bytes& file) {
  ClusterImage image(1024);
  Bytes filler = test::RandomBytes((kStart + image.ClustersFor(file.size()) + 2) * 1024, 5);
  for (auto& c : filler) c = static_cast<std::uint8_t>('a' + c % 26);
  image.Put(0, filler);
  image.Put(kStart, file);
  return MemoryVolume(image);
}

// A deleted file entry as a directory reader makes it.
struct Deleted {
  CDirEntry entry;
  Deleted(const std::string& name, std::uint64_t size) {
    entry.name = name;
    entry.typeText = TypeTextFromName(name);
    entry.size = size;
    entry.deleted = true;
  }
};

std::uint32_t Rate(MemoryVolume& volume, const std::string& name, std::uint64_t size) {
  Deleted d(name, size);
  return RateDeletedFile(volume, kStart, &d.entry);
}

TEST(RateDeletedFile, AMatchingTypeAndSizeIsExcellent) {
  const Bytes jpeg = test::RealFile("photo.jpg");
  MemoryVolume volume = Place(jpeg);
  EXPECT_EQ(Rate(volume, "holiday.jpg", jpeg.size()), kStatusExcellent);
  EXPECT_EQ(Rate(volume, "HOLIDAY.JPG", jpeg.size()), kStatusExcellent);
  EXPECT_EQ(Rate(volume, "holiday.JpG", jpeg.size()), kStatusExcellent);
}

TEST(RateDeletedFile, AFoundFileOfAnotherTypeOrSizeIsGood) {
  const Bytes jpeg = test::RealFile("photo.jpg");
  MemoryVolume volume = Place(jpeg);
  // "JPEG" is not the detector's "JPG".
  EXPECT_EQ(Rate(volume, "holiday.jpeg", jpeg.size()), kStatusGood);
  EXPECT_EQ(Rate(volume, "holiday.png", jpeg.size()), kStatusGood);
  EXPECT_EQ(Rate(volume, "holiday.jpg", jpeg.size() + 1), kStatusGood);
  EXPECT_EQ(Rate(volume, "holiday.jpg", jpeg.size() - 1), kStatusGood);
  // The whole 64-bit size counts: high bits set can never match.
  EXPECT_EQ(Rate(volume, "holiday.jpg", jpeg.size() + (std::uint64_t{1} << 32)), kStatusGood);
}

TEST(RateDeletedFile, CompoundDocumentsAreRatedByTheirStreamName) {
  test::CompoundOptions o;
  o.streamName = "Workbook";
  o.streamSize = 7000;
  const Bytes xls = test::BuildCompoundDocument(o);
  MemoryVolume volume = Place(xls);
  EXPECT_EQ(Rate(volume, "budget.xls", xls.size()), kStatusExcellent);
  EXPECT_EQ(Rate(volume, "budget.doc", xls.size()), kStatusGood);
}

TEST(RateDeletedFile, AnOverwrittenFirstClusterIsPoorOnlyForKnownTypes) {
  MemoryVolume volume = Place(Bytes(100, 'q'));
  EXPECT_EQ(Rate(volume, "letter.doc", 5000), kStatusPoor);
  EXPECT_EQ(Rate(volume, "letter.DOC", 5000), kStatusPoor);
  EXPECT_EQ(Rate(volume, "clip.mdb", 5000), kStatusPoor);
  EXPECT_EQ(Rate(volume, "page.html", 5000), kStatusPoor);
  EXPECT_EQ(Rate(volume, "letter.xyz", 5000), kStatusGood);
  EXPECT_EQ(Rate(volume, "letter.jpeg", 5000), kStatusGood);
  EXPECT_EQ(Rate(volume, "README", 5000), kStatusGood);  // the type is the whole name
  // "OFFICE" is a table name too, if an odd extension.
  EXPECT_EQ(Rate(volume, "x.office", 5000), kStatusPoor);
}

TEST(RateDeletedFile, ARecognisedStartWithoutALengthIsRatedLikeNoFind) {
  // A TIFF is recognised but never found: a ".tif" file is not in the
  // table ("TIFF" is), so it is Good; a ".tiff" file is Poor.
  const Bytes tif = test::RealFile("picture.tif");
  MemoryVolume volume = Place(tif);
  EXPECT_EQ(Rate(volume, "scan.tif", tif.size()), kStatusGood);
  EXPECT_EQ(Rate(volume, "scan.tiff", tif.size()), kStatusPoor);
}

TEST(RateDeletedFile, NoFileIsGoodAndClustersOutsideTheRangeAreNotRead) {
  const Bytes png = test::RealFile("picture.png");
  MemoryVolume volume = Place(png);
  EXPECT_EQ(RateDeletedFile(volume, kStart, nullptr), kStatusGood);
  EXPECT_EQ(Rate(volume, "p.png", png.size()), kStatusExcellent);
  // After a deep scan of a narrowed range the same file cannot be read.
  volume.SetScanRange(kStart + 1, volume.LastCluster());
  EXPECT_EQ(Rate(volume, "p.png", png.size()), kStatusPoor);
}

}  // namespace
}  // namespace relictor
