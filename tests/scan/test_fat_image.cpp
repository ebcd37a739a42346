// The detector on real FAT volumes made by mkfs.fat and filled with
// mtools: files copied and then deleted are found at their first cluster
// with their real size, and their bytes on the image are the originals.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "model/entry.h"
#include "scan/file_builders.h"
#include "scan/real_files.h"
#include "scan/signatures.h"
#include "support/test_support.h"
#include "volume/boot_sector.h"
#include "volume/driver.h"

namespace relictor {
namespace {

using test::Bytes;

// A FAT image read with the geometry of its boot sector: just enough of a
// volume for the detector, which only reads clusters.
class FatImage final : public CVolumeDriver {
 public:
  explicit FatImage(const std::string& path) {
    SetSourcePath(path);
    if (!OpenDevice()) return;
    std::vector<std::uint8_t> boot(512);
    std::string reason;
    if (!device_->ReadAt(0, boot.data(), boot.size()) || !ParseFatBootSector(ByteSpan(boot), geometry_, reason)) {
      return;
    }
    bytesPerSector_ = geometry_.bytesPerSector;
    sectorsPerCluster_ = geometry_.sectorsPerCluster;
    bytesPerCluster_ = bytesPerSector_ * sectorsPerCluster_;
    clusterCount_ = geometry_.clusterCount;
    firstCluster_ = 2;
    lastCluster_ = clusterCount_ + 1;
    clusterBuffer_.assign(bytesPerCluster_, 0);
    ok_ = true;
  }
  std::uint64_t ClusterToSector(std::uint64_t cluster) const override {
    return geometry_.firstDataSector + (cluster - 2) * sectorsPerCluster_;
  }
  bool Attach(SectorSourcePtr, ByteSpan, std::uint64_t) override { return false; }
  std::string FileSystemName() const override { return "FAT"; }

  bool ok() const { return ok_; }
  const FatGeometry& Geometry() const { return geometry_; }

 private:
  FatGeometry geometry_;
  bool ok_ = false;
};

struct RootEntry {
  std::string name;  // "NAME.EXT", first byte as stored (0xE5 when deleted)
  bool deleted = false;
  std::uint32_t cluster = 0;
  std::uint32_t size = 0;
};

// `size` bytes of the image file at `offset`, read past the reader.
Bytes ReadImage(const std::string& path, std::uint64_t offset, std::size_t size) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  Bytes b(size);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::size_t>(in.gcount()) != size) b.clear();
  return b;
}

// The short entries of a FAT12/16 root folder.
std::vector<RootEntry> ReadRoot(const std::string& path, const FatGeometry& g) {
  std::vector<RootEntry> out;
  const Bytes root = ReadImage(path, std::uint64_t{g.fatAreaEnd} * g.bytesPerSector, 32 * g.rootEntryCount);
  for (std::size_t i = 0; i < root.size() / 32; ++i) {
    const std::uint8_t* e = root.data() + 32 * i;
    if (e[0] == 0) break;
    if (e[11] == 0x0F || (e[11] & 0x08)) continue;
    RootEntry r;
    r.deleted = e[0] == 0xE5;
    std::string base(reinterpret_cast<const char*>(e), 8), ext(reinterpret_cast<const char*>(e) + 8, 3);
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    r.name = base + "." + ext;
    r.cluster = static_cast<std::uint32_t>(e[26] | e[27] << 8);
    r.size = static_cast<std::uint32_t>(e[28] | e[29] << 8 | e[30] << 16 | e[31] << 24);
    out.push_back(r);
  }
  return out;
}

struct Member {
  const char* name;  // as copied, an 8.3 name in capitals
  const char* type;  // what the detector calls it
  Bytes bytes;
};

class SignaturesOnFatImage : public ::testing::TestWithParam<const char*> {};

TEST_P(SignaturesOnFatImage, DeletedFilesAreFoundAtTheirFirstClusterWithTheirSize) {
  test::TempDir dir;
  test::CompoundOptions doc;
  doc.streamName = "WordDocument";
  doc.streamSize = 12000;
  const std::vector<Member> members = {
      {"PHOTO.JPG", "JPG", test::RealFile("photo.jpg")},
      {"PICTURE.PNG", "PNG", test::RealFile("picture.png")},
      {"ANIM.GIF", "GIF", test::RealFile("anim.gif")},
      {"SOUND.WAV", "WAV", test::RealFile("sound.wav")},
      {"ARCHIVE.ZIP", "ZIP", test::RealFile("archive.zip")},
      {"PICTURE.BMP", "BMP", test::RealFile("picture.bmp")},
      {"LETTER.DOC", "DOC", test::BuildCompoundDocument(doc)},
      {"PAGES.RAR", "RAR", test::BuildRarArchive({{"page.txt", Bytes(3000, 'r')}})},
  };
  const std::string img = dir / "volume.img";
  std::string format = GetParam();
  for (std::size_t at; (at = format.find("IMG")) != std::string::npos;) format.replace(at, 3, test::Quote(img));
  ASSERT_EQ(test::Run(format + " " + test::Quote(img)).exitCode, 0) << format;
  for (const Member& m : members) {
    test::WriteFile(dir / m.name, m.bytes);
    test::MustRun("mcopy -i " + test::Quote(img) + " " + test::Quote(dir / m.name) + " ::/" + m.name);
  }
  // Every other file is deleted; all of them stay where they were.
  for (std::size_t i = 0; i < members.size(); i += 2) {
    test::MustRun("mdel -i " + test::Quote(img) + " ::/" + members[i].name);
  }

  FatImage volume(img);
  ASSERT_TRUE(volume.ok());
  const std::vector<RootEntry> root = ReadRoot(img, volume.Geometry());
  ASSERT_EQ(root.size(), members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    const RootEntry& r = root[i];
    EXPECT_EQ(r.deleted, i % 2 == 0) << m.name;
    EXPECT_EQ(r.name.substr(1), std::string(m.name).substr(1));
    ASSERT_EQ(r.size, m.bytes.size()) << m.name;

    LostFileGuess g = ScanForLostFile(volume, r.cluster);
    EXPECT_TRUE(g.found) << m.name;
    EXPECT_EQ(g.typeName, m.type) << m.name;
    EXPECT_EQ(g.length, m.bytes.size()) << m.name;
    // The bytes the find covers are the file's.
    const std::uint64_t offset = volume.ClusterToSector(r.cluster) * volume.BytesPerSector();
    EXPECT_EQ(ReadImage(img, offset, m.bytes.size()), m.bytes) << m.name;

    CDirEntry entry;
    entry.name = r.name;
    entry.typeText = TypeTextFromName(r.name);
    entry.size = r.size;
    entry.deleted = r.deleted;
    EXPECT_EQ(RateDeletedFile(volume, r.cluster, &entry), kStatusExcellent) << m.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, SignaturesOnFatImage,
                         ::testing::Values("truncate -s 1M IMG && mkfs.fat -F 12 -s 1 -n SIGNS",
                                           "truncate -s 16M IMG && mkfs.fat -F 16 -s 2 -n SIGNS"));

}  // namespace
}  // namespace relictor
