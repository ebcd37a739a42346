// Damaged and hostile FAT volumes: a real volume with its boot sector,
// tables and directories mutated at random (fixed seeds), and boot
// sectors of random geometry. Every case is opened and read the way the
// program reads a volume: the tree, the names, every file's data, the
// known clusters and a sample of the deep scan. None may crash, hang or
// take unbounded memory (the sanitizer build checks the first).

#include <gtest/gtest.h>

#include <random>

#include "fat/fat_fixture.h"

namespace relictor::test {
namespace {

std::vector<std::uint8_t>& BaseImage() {
  static std::vector<std::uint8_t> image;
  return image;
}

class FatFuzzTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TempDir dir;
    std::string img = dir / "base.img";
    MakeFat(img, 12, "200K", "-s 1 -r 64 -n FUZZ");
    Mmd(img, "/A");
    Mmd(img, "/A/Deeper folder name");
    Mmd(img, "/B");
    for (int i = 0; i < 12; ++i) {
      std::string host = dir / ("f" + std::to_string(i));
      WriteFile(host, RandomBytes(static_cast<std::size_t>(100 + i * 700), static_cast<std::uint64_t>(i)));
      std::string dest = (i % 3 == 0 ? "/A/" : i % 3 == 1 ? "/A/Deeper folder name/" : "/") +
                         std::string("file number ") + std::to_string(i) + ".dat";
      Mcopy(img, host, dest);
    }
    for (int i = 0; i < 12; i += 2) {
      std::string dest = (i % 3 == 0 ? "/A/" : i % 3 == 1 ? "/A/Deeper folder name/" : "/") +
                         std::string("file number ") + std::to_string(i) + ".dat";
      Mdel(img, dest);
    }
    Mdeltree(img, "/B");
    BaseImage() = ReadFile(img);
  }

  // How far the damaged images got: a loop that passes because every
  // mutation is refused at the boot sector tests nothing.
  struct Reach {
    int opened = 0;
    std::size_t entries = 0;
  };

  // Reads everything a user could ask of the volume, within fixed bounds.
  static void Exercise(std::vector<std::uint8_t> bytes, Reach* reach = nullptr) {
    auto v = OpenFatBytes(std::move(bytes));
    if (!v) return;
    if (reach) ++reach->opened;
    (void)v->VolumeLabel();
    (void)v->FileSystemName();
    struct Item {
      CDirectory* dir;
      int depth;
    };
    std::vector<Item> stack{{v->GetRoot(), 0}};
    int folders = 0;
    std::size_t files = 0;
    while (!stack.empty() && folders < 64) {
      Item item = stack.back();
      stack.pop_back();
      ++folders;
      (void)item.dir->HasSubfolders(true);
      item.dir->Populate(true, true, true);
      if (reach) reach->entries += item.dir->children.size();
      for (auto& child : item.dir->children) {
        (void)child->GetStatusText();
        (void)child->GetModifiedText();
        if (auto* sub = dynamic_cast<CDirectory*>(child.get())) {
          if (item.depth < 8) stack.push_back({sub, item.depth + 1});
        } else if (auto* f = dynamic_cast<CFSFile*>(child.get()); f && files++ < 64) {
          MemoryOutputFile out(1 << 20);
          (void)f->SaveData(out, nullptr);
          ASSERT_LE(out.BytesWritten(), f->size);
        }
      }
    }
    // The scan range is narrowed as the range dialog would, so that the
    // bitmap stays small whatever the boot sector claims.
    std::uint64_t first = v->FirstCluster();
    std::uint64_t last = std::min<std::uint64_t>(v->LastCluster(), first + 4095);
    v->SetScanRange(first, last);
    ClusterBitmap bitmap(first, last);
    (void)v->MarkKnownClusters(bitmap, nullptr);
    int scanned = 0;
    for (std::uint64_t c = first; c <= last && scanned < 48; ++c) {
      if (bitmap.Test(c)) continue;
      bitmap.Set(c);
      ++scanned;
      (void)v->ScanCluster(c, bitmap, nullptr);
    }
    for (auto& found : v->GetLostFiles()->children) {
      if (auto* d = dynamic_cast<CDirectory*>(found.get())) d->Populate(true, true, true);
    }
  }
};

TEST_F(FatFuzzTest, BaseImageIsReadWhole) {
  auto v = OpenFatBytes(BaseImage());
  ASSERT_TRUE(v);
  EXPECT_EQ(v->VolumeLabel(), "FUZZ");
  auto* a = SubFolder(v->GetRoot(), "A");
  ASSERT_TRUE(a);
  EXPECT_NE(FileIn(a, "file number 0.dat"), nullptr);
  EXPECT_NE(FileIn(SubFolder(a, "Deeper folder name"), "file number 4.dat"), nullptr);
}

TEST_F(FatFuzzTest, MutatedBootSectors) {
  std::mt19937_64 rng(0xB007);
  Reach reach;
  for (int i = 0; i < 3000; ++i) {
    auto bytes = BaseImage();
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits; ++k) bytes[11 + rng() % 60] = static_cast<std::uint8_t>(rng());
    if (rng() % 8 == 0) bytes[510] = static_cast<std::uint8_t>(rng());
    Exercise(std::move(bytes), &reach);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(reach.opened, 600) << "the mutations hardly ever left a volume to read";
  EXPECT_GT(reach.entries, 3000u);
}

TEST_F(FatFuzzTest, MutatedAllocationTables) {
  const Layout l = ReadLayout(BaseImage());
  const std::size_t fatBytes = static_cast<std::size_t>(l.fatSize) * l.bps * l.fats;
  std::mt19937_64 rng(0xFA7);
  Reach reach;
  for (int i = 0; i < 3000; ++i) {
    auto bytes = BaseImage();
    int edits = 1 + static_cast<int>(rng() % 16);
    for (int k = 0; k < edits; ++k) {
      std::size_t at = l.FatOffset() + rng() % fatBytes;
      // Small values make chains that loop back; random ones leave the
      // volume.
      bytes[at] = static_cast<std::uint8_t>(rng() % 2 ? rng() % 16 : rng());
    }
    Exercise(std::move(bytes), &reach);
    if (HasFatalFailure()) return;
  }
  // The boot sector is whole: every volume opens and its folders list.
  EXPECT_EQ(reach.opened, 3000);
  EXPECT_GT(reach.entries, 3000u * 4);
}

TEST_F(FatFuzzTest, MutatedDirectories) {
  const Layout l = ReadLayout(BaseImage());
  const std::size_t regionStart = l.RootOffset();
  const std::size_t regionLength = l.rootDirSectors * l.bps + 16 * l.spc * l.bps;
  std::mt19937_64 rng(0xD1);
  Reach reach;
  for (int i = 0; i < 3000; ++i) {
    auto bytes = BaseImage();
    int edits = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < edits; ++k) {
      std::size_t entry = (regionStart + rng() % regionLength) / 32 * 32;
      switch (rng() % 5) {
        case 0:  // attributes: long-name, folder, label bits
          bytes[entry + 11] = static_cast<std::uint8_t>(rng() % 2 ? 0x0F : rng());
          break;
        case 1:  // first byte: deleted, end, run start
          bytes[entry] = static_cast<std::uint8_t>((rng() % 3) == 0 ? 0xE5 : rng() % 2 ? 0x41 : rng());
          break;
        case 2:  // first cluster
          bytes[entry + 26 + rng() % 2] = static_cast<std::uint8_t>(rng());
          break;
        case 3:  // size
          bytes[entry + 28 + rng() % 4] = static_cast<std::uint8_t>(rng());
          break;
        default:
          bytes[entry + rng() % 32] = static_cast<std::uint8_t>(rng());
          break;
      }
    }
    Exercise(std::move(bytes), &reach);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(reach.opened, 3000);
  EXPECT_GT(reach.entries, 3000u * 4);
}

TEST_F(FatFuzzTest, RandomGeometries) {
  std::mt19937_64 rng(0x6E0);
  int opened = 0;
  for (int i = 0; i < 2000; ++i) {
    BootFields f;
    f.bytesPerSector = static_cast<std::uint16_t>(512u << (rng() % 4));
    f.sectorsPerCluster = static_cast<std::uint8_t>(1u << (rng() % 8));
    f.reserved = static_cast<std::uint16_t>(1 + rng() % 40);
    f.numFats = static_cast<std::uint8_t>(1 + rng() % 3);
    f.rootEntries = static_cast<std::uint16_t>(rng() % 2 ? 16 * (rng() % 64) : rng());
    f.fat32Layout = rng() % 3 == 0;
    f.fatSize = static_cast<std::uint32_t>(1 + rng() % (rng() % 2 ? 16 : 100000));
    f.rootCluster = static_cast<std::uint32_t>(rng() % 2 ? 2 + rng() % 64 : rng());
    f.totalSectors = static_cast<std::uint32_t>(rng() % 2 ? rng() % 5000 : rng());
    auto bytes = MakeBootSector(f);
    std::vector<std::uint8_t> rest = RandomBytes(static_cast<std::size_t>(rng() % 65536), rng());
    // Mostly zeros behind the boot sector, sometimes noise.
    if (rng() % 2) std::fill(rest.begin(), rest.end(), 0);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    auto probe = OpenFatBytes(bytes);
    opened += probe != nullptr;
    Exercise(std::move(bytes));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(opened, 100);  // the generator must reach the readers' code
}

}  // namespace
}  // namespace relictor::test
