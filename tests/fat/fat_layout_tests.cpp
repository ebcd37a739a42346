// Geometry and allocation table of the FAT reader: boot sector checks, the
// FAT type by cluster count, the FAT12 entry that straddles two sectors,
// cluster sizes from 512 bytes to 32 KiB, a FAT32 root away from cluster
// 2, volumes inside partitioned disks, and the end of the volume.

#include <gtest/gtest.h>

#include "fat/fat_fixture.h"
#include "volume/drive_list.h"

namespace relictor::test {
namespace {

std::unique_ptr<CFATDriver> OpenBoot(const BootFields& f) {
  auto bytes = MakeBootSector(f);
  bytes.resize(4096, 0);
  return OpenFatBytes(bytes);
}

TEST(FatGeometryTest, TypeFollowsTheClusterCountAlone) {
  struct Case {
    std::uint32_t clusters;
    bool fat32Layout;
    const char* type;
  } cases[] = {{4084, false, "FAT12"}, {4085, false, "FAT16"}, {65524, false, "FAT16"},
               {65525, true, "FAT32"}, {65524, true, "FAT16"}, {4084, true, "FAT12"}};
  for (const auto& c : cases) {
    BootFields f;
    f.fat32Layout = c.fat32Layout;
    f.fatSize = c.fat32Layout ? 520 : 260;
    f.reserved = c.fat32Layout ? 32 : 1;
    f.totalSectors = TotalForClusters(f, c.clusters);
    auto v = OpenBoot(f);
    ASSERT_TRUE(v) << c.clusters;
    EXPECT_EQ(v->ClusterCount(), c.clusters);
    EXPECT_EQ(v->FileSystemName(), c.type) << c.clusters << (c.fat32Layout ? " (FAT32 layout)" : "");
    EXPECT_EQ(v->LastCluster(), c.clusters + 1u);
    EXPECT_EQ(v->LastDataCluster(), c.clusters + 1u);
    EXPECT_EQ(v->FirstDataCluster(), 2u);
  }
}

TEST(FatGeometryTest, BootSectorChecks) {
  BootFields good;
  good.totalSectors = 4000;
  ASSERT_TRUE(OpenBoot(good));

  auto refuses = [](std::vector<std::uint8_t> b, const char* why) {
    b.resize(4096, 0);
    auto d = std::make_unique<CFATDriver>();
    d->SetDevice(std::make_shared<MemorySource>(b));
    EXPECT_FALSE(d->Open('C', kDriveFixed, "C:\\", false)) << why;
    EXPECT_FALSE(d->OpenError().empty()) << why;
  };
  auto boot = MakeBootSector(good);
  auto edit = [&](std::size_t at, std::uint8_t v) {
    auto b = boot;
    b[at] = v;
    return b;
  };
  refuses(edit(510, 0), "no signature");
  refuses(edit(13, 0), "SecPerClus 0");
  refuses(edit(13, 3), "SecPerClus 3");
  refuses(edit(13, 128), "cluster of 65536 bytes");
  auto noBps = boot;
  noBps[11] = noBps[12] = 0;
  refuses(noBps, "BytsPerSec 0");
  refuses(edit(16, 0), "no FAT");

  BootFields big = good;
  big.sectorsPerCluster = 64;  // 32768 bytes: the largest cluster allowed
  big.totalSectors = 64 * 100 + 40;
  auto v = OpenBoot(big);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->BytesPerCluster(), 32768u);

  // A data area that starts past the end.
  BootFields past = good;
  past.totalSectors = 10;
  EXPECT_FALSE(OpenBoot(past));

  // More clusters than FAT32 can number.
  BootFields huge;
  huge.fat32Layout = true;
  huge.reserved = 32;
  huge.fatSize = 8;
  huge.totalSectors = 0xFFFFFFF0u;
  EXPECT_FALSE(OpenBoot(huge));
}

TEST(FatGeometryTest, TotalSectors32IsTakenWhenTheSmallFieldIsZero) {
  BootFields f;
  f.fatSize = 260;
  f.sectorsPerCluster = 2;
  f.totalSectors = 70000;  // above 65535: written to TotSec32 with TotSec16 0
  auto v = OpenBoot(f);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->FileSystemName(), "FAT16");
  EXPECT_EQ(v->Geometry().totalSectors, 70000u);
}

TEST(FatTableTest, EntriesAndClassesOfCraftedTables) {
  CraftedFat12 img(300);
  img.SetFat(2, 3);
  img.SetFat(3, 0xFFF);
  img.SetFat(4, 0xFF7);
  img.SetFat(5, 0xFF0);
  img.SetFat(301, 0xFF8);
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->ReadFatEntry(2, 0), 3u);
  EXPECT_EQ(v->ReadFatEntry(3, 0), 0xFFFu);
  EXPECT_EQ(v->ClassifyFatValue(v->ReadFatEntry(2, 0)), kFatNext);
  EXPECT_EQ(v->ClassifyFatValue(v->ReadFatEntry(4, 0)), kFatReserved);
  EXPECT_EQ(v->ClassifyFatValue(v->ReadFatEntry(5, 0)), kFatNext);  // 0xFF0 names a cluster
  EXPECT_EQ(v->ClassifyFatValue(v->ReadFatEntry(6, 0)), kFatFree);
  EXPECT_EQ(v->ClassifyFatValue(0xFF8), kFatEnd);
  EXPECT_TRUE(v->IsChainEnd(0xFF8));
  EXPECT_FALSE(v->IsChainEnd(0xFF7));
  // The last data cluster is readable; anything outside 2 to count + 1
  // gives 0 without a read.
  EXPECT_EQ(v->ReadFatEntry(301, 0), 0xFF8u);
  EXPECT_EQ(v->ReadFatEntry(0, 0), 0u);
  EXPECT_EQ(v->ReadFatEntry(1, 0), 0u);
  EXPECT_EQ(v->ReadFatEntry(302, 0), 0u);
  // The second copy differs where only the first was edited.
  img.SetFat(7, 0xFF7, 1);
  auto w = OpenFatBytes(img.bytes);
  EXPECT_EQ(w->ReadFatEntry(7, 0), 0xFF7u);
  EXPECT_EQ(w->ReadFatEntry(7, 1), 0u);
  EXPECT_EQ(w->ReadFatEntry(7, 2), 0u);  // a copy the volume does not have
}

TEST(FatTableTest, Fat12EntryStraddlingTwoSectors) {
  // Cluster 341 starts at byte 511 of the first FAT sector: its low byte
  // is the sector's last byte and its high nibble the next sector's first.
  CraftedFat12 img(1000);
  img.SetFat(340, 0x123);
  img.SetFat(341, 0xABC);
  img.SetFat(342, 0x456);
  ASSERT_EQ(img.bytes[img.FatOffset(0) + 511], 0xC0 | (0x123 >> 8));
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->ReadFatEntry(341, 0), 0xABCu);
  EXPECT_EQ(v->ReadFatEntry(340, 0), 0x123u);
  EXPECT_EQ(v->ReadFatEntry(342, 0), 0x456u);
  EXPECT_EQ(v->ReadFatEntry(341, 0), 0xABCu);
  EXPECT_EQ(v->ReadFatEntry(341, 1), 0xABCu);
}

TEST(FatTableTest, RealFat12ChainAcrossTheStraddlingEntry) {
  TempDir dir;
  std::string img = dir / "f12.img";
  MakeFat(img, 12, "2M", "-s 1");
  WriteFile(dir / "big", RandomBytes(400 * 512, 3));
  Mcopy(img, dir / "big", "/BIG.BIN");
  auto v = OpenFatFile(img);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->FileSystemName(), "FAT12");
  for (std::uint32_t c = 2; c < 401; ++c) ASSERT_EQ(v->ReadFatEntry(c, 0), c + 1) << c;
  EXPECT_TRUE(v->IsChainEnd(v->ReadFatEntry(401, 0)));
  ClusterBitmap bitmap(v->FirstCluster(), v->LastCluster());
  ASSERT_TRUE(v->MarkKnownClusters(bitmap, nullptr));
  for (std::uint64_t c = 2; c <= 401; ++c) EXPECT_TRUE(bitmap.Test(c)) << c;
  EXPECT_FALSE(bitmap.Test(402));
}

// A deleted file on volumes of every cluster size the format allows, with
// 512- and 4096-byte sectors.
TEST(FatClusterSizeTest, DeletedFilesComeBackOnEveryClusterSize) {
  TempDir dir;
  for (int sectorSize : {512, 4096}) {
    for (int spc = 1; spc * sectorSize <= 32768; spc *= 2) {
      const std::uint64_t cluster = static_cast<std::uint64_t>(spc) * sectorSize;
      std::string img = dir / ("c" + std::to_string(cluster) + "_" + std::to_string(sectorSize) + ".img");
      std::uint64_t size = std::max<std::uint64_t>(cluster * 700, 1 << 20);
      MakeFat(img, 12, std::to_string(size), "-S " + std::to_string(sectorSize) + " -s " + std::to_string(spc));
      auto data = RandomBytes(static_cast<std::size_t>(cluster * 3 + 77), static_cast<std::uint64_t>(cluster));
      WriteFile(dir / "data", data);
      Mmd(img, "/D");
      Mcopy(img, dir / "data", "/D/DATA.BIN");
      Mdel(img, "/D/DATA.BIN");
      auto v = OpenFatFile(img);
      ASSERT_TRUE(v) << img;
      EXPECT_EQ(v->BytesPerCluster(), cluster);
      EXPECT_EQ(v->BytesPerSector(), static_cast<std::uint32_t>(sectorSize));
      CFATFile* f = FileIn(SubFolder(v->GetRoot(), "D"), "_ATA.BIN");
      ASSERT_TRUE(f) << img;
      EXPECT_EQ(SaveBytes(f), data) << img;
      EXPECT_EQ(f->allocatedSize, cluster * 4);
    }
  }
}

// mkfs.fat always puts the FAT32 root at cluster 2; this moves it to the
// last cluster of the volume, which also shows that cluster is readable.
TEST(FatRootClusterTest, Fat32RootAwayFromClusterTwo) {
  TempDir dir;
  std::string img = dir / "f32.img";
  MakeFat(img, 32, "40M", "-s 1 -n MOVED");
  Mmd(img, "/SUB");
  auto data = RandomBytes(1500, 9);
  WriteFile(dir / "d", data);
  Mcopy(img, dir / "d", "/GONE.DAT");
  Mdel(img, "/GONE.DAT");
  auto bytes = ReadFile(img);
  Layout l = ReadLayout(bytes);
  ASSERT_EQ(l.rootCluster, 2u);
  std::uint32_t total = le32(ByteSpan(bytes), 32);
  std::uint32_t dataStart = l.reserved + l.fats * l.fatSize;
  std::uint32_t last = (total - dataStart) / l.spc + 1;
  auto clusterAt = [&](std::uint32_t c) { return (dataStart + static_cast<std::uint64_t>(c - 2) * l.spc) * l.bps; };
  ASSERT_EQ(le32(ByteSpan(bytes), l.FatOffset() + last * 4), 0u) << "last cluster must be free";
  std::memcpy(bytes.data() + clusterAt(last), bytes.data() + clusterAt(2), l.spc * l.bps);
  std::memset(bytes.data() + clusterAt(2), 0, l.spc * l.bps);
  for (std::uint32_t copy = 0; copy < l.fats; ++copy) {
    Put32(bytes, l.FatOffset(static_cast<int>(copy)) + last * 4, 0x0FFFFFFF);
    Put32(bytes, l.FatOffset(static_cast<int>(copy)) + 2 * 4, 0);
  }
  Put32(bytes, 44, last);
  WriteFile(img, bytes);

  auto v = OpenFatFile(img);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->FileSystemName(), "FAT32");
  EXPECT_EQ(v->RootCluster(), last);
  EXPECT_EQ(v->VolumeLabel(), "MOVED");
  EXPECT_TRUE(SubFolder(v->GetRoot(), "SUB"));
  CFATFile* f = FileIn(v->GetRoot(), "_ONE.DAT");
  ASSERT_TRUE(f);
  EXPECT_EQ(SaveBytes(f), data);
  ClusterBitmap bitmap(v->FirstCluster(), v->LastCluster());
  ASSERT_TRUE(v->MarkKnownClusters(bitmap, nullptr));
  EXPECT_TRUE(bitmap.Test(last));
  EXPECT_FALSE(bitmap.Test(2));
}

TEST(FatPartitionTest, VolumeInsideAPartitionedDiskIsReadThroughTheDisk) {
  TempDir dir;
  std::string disk = dir / "disk.img";
  MakeSparseFile(disk, 48ull << 20);
  MustRun("printf 'label: dos\\nstart=2048, type=c\\n' | sfdisk -q " + Quote(disk));
  MustRun("mkfs.fat -F 32 -s 1 -n PARTVOL --offset 2048 " + Quote(disk) + " 45000");
  auto data = RandomBytes(4321, 4);
  WriteFile(dir / "d", data);
  MustRun("mcopy -i " + Quote(disk + "@@1M") + " " + Quote(dir / "d") + " ::/LOST.BIN");
  MustRun("mdel -i " + Quote(disk + "@@1M") + " ::/LOST.BIN");

  SourceReport report = ExamineSource(disk);
  ASSERT_EQ(report.volumes.size(), 1u);
  DriveList list;
  list.Build({report}, [](FsKind k) -> std::unique_ptr<CVolumeDriver> {
    return k == FsKind::Fat ? std::make_unique<CFATDriver>() : nullptr;
  });
  ASSERT_EQ(list.Drives().size(), 1u) << (list.Failures().empty() ? "" : list.Failures().front().error);
  auto* v = dynamic_cast<CFATDriver*>(list.Drives().front().reader.get());
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->IsBorrowed());
  EXPECT_EQ(v->PartitionStart(), 2048u);
  EXPECT_EQ(v->VolumeLabel(), "PARTVOL");
  EXPECT_EQ(v->GetDisplayName(), "C:\\ (PARTVOL)");
  CFATFile* f = FileIn(v->GetRoot(), "_OST.BIN");
  ASSERT_TRUE(f);
  EXPECT_EQ(SaveBytes(f), data);
}

TEST(FatLabelTest, LabelFromRootElseBootSectorElseNone) {
  TempDir dir;
  std::string img = dir / "l.img";
  MakeFat(img, 16, "32M", "-s 4 -n ROOTLBL");
  auto bytes = ReadFile(img);
  Layout l = ReadLayout(bytes);
  ASSERT_EQ(std::memcmp(bytes.data() + l.RootOffset(), "ROOTLBL    ", 11), 0);
  {
    auto v = OpenFatFile(img);
    EXPECT_EQ(v->VolumeLabel(), "ROOTLBL");
  }
  // A different label in the root entry wins over the boot sector's.
  std::memcpy(bytes.data() + l.RootOffset(), "FROMROOT   ", 11);
  auto v = OpenFatBytes(bytes);
  EXPECT_EQ(v->VolumeLabel(), "FROMROOT");
  // Without a root label entry, the boot sector's field.
  bytes[l.RootOffset()] = 0xE5;
  v = OpenFatBytes(bytes);
  EXPECT_EQ(v->VolumeLabel(), "ROOTLBL");
  // "NO NAME" is no label.
  std::memcpy(bytes.data() + 43, "NO NAME    ", 11);
  v = OpenFatBytes(bytes);
  EXPECT_EQ(v->VolumeLabel(), "");
  // Without the extended boot signature the field is not a label.
  std::memcpy(bytes.data() + 43, "OTHER      ", 11);
  bytes[38] = 0;
  v = OpenFatBytes(bytes);
  EXPECT_EQ(v->VolumeLabel(), "");
}

TEST(FatDataTest, FileRunningPastTheLastClusterIsSavedShortWithANote) {
  CraftedFat12 img(100);
  // Clusters 100 and 101 (the last) hold data; the deleted file claims a
  // third cluster beyond the end of the volume.
  auto a = RandomBytes(512, 1), b = RandomBytes(512, 2);
  img.Put(img.ClusterOffset(100), a);
  img.Put(img.ClusterOffset(101), b);
  img.PutEntries(img.RootOffset(), {ShortEntry("\xE5" "AST    BIN", 0x20, 100, 1400)});
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  CFATFile* f = FileIn(v->GetRoot(), "_AST.BIN");
  ASSERT_TRUE(f);
  std::vector<std::string> problems;
  bool ok = false;
  auto got = SaveBytes(f, &problems, &ok);
  EXPECT_TRUE(ok);
  std::vector<std::uint8_t> want = a;
  want.insert(want.end(), b.begin(), b.end());
  EXPECT_EQ(got, want);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("past the end of the volume"), std::string::npos) << problems[0];
}

TEST(FatDataTest, UnreadableSectorEndsTheFileWithANote) {
  CraftedFat12 img(100);
  auto data = RandomBytes(2048, 3);
  img.Put(img.ClusterOffset(10), data);
  img.PutEntries(img.RootOffset(), {ShortEntry("\xE5" "ROKEN  BIN", 0x20, 10, 2048)});
  auto source = std::make_shared<MemorySource>(img.bytes);
  source->FailReadsIn(img.ClusterOffset(12), img.ClusterOffset(12) + 512);
  auto v = OpenFat(source);
  ASSERT_TRUE(v);
  CFATFile* f = FileIn(v->GetRoot(), "_ROKEN.BIN");
  ASSERT_TRUE(f);
  std::vector<std::string> problems;
  auto got = SaveBytes(f, &problems);
  EXPECT_EQ(got, std::vector<std::uint8_t>(data.begin(), data.begin() + 1024));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("could not be read"), std::string::npos) << problems[0];
  // A file with no first cluster but a size cannot be read at all.
  img.PutEntries(img.RootOffset(), {ShortEntry("\xE5" "OSTART BIN", 0x20, 0, 10)});
  auto w = OpenFatBytes(img.bytes);
  problems.clear();
  EXPECT_TRUE(SaveBytes(FileIn(w->GetRoot(), "_OSTART.BIN"), &problems).empty());
  EXPECT_EQ(problems.size(), 1u);
}

}  // namespace
}  // namespace relictor::test
