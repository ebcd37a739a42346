// Walks over a FAT volume whose folder entries form a diamond: every level
// holds twelve folder entries that all name the next level's folder, so a
// walk that follows every entry would see 12^12 paths. Search, count, save
// and the lost-file marking must each enter every folder once; the bound
// is on sector reads of the in-memory device.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fat_fixture.h"
#include "recovery/recovery.h"
#include "search/search.h"
#include "support/test_support.h"

namespace relictor {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kLevels = 12;
constexpr int kFan = 12;

std::string LevelName(int level) { return "L" + std::to_string(level); }
std::string FanName(int n) {
  char name[8];
  std::snprintf(name, sizeof name, "D%02d", n);
  return name;
}

struct Geometry {
  std::uint64_t bytesPerSector, sectorsPerCluster, rootStart, rootBytes, dataStart;
};

Geometry Read(const Bytes& b) {
  Geometry g{};
  g.bytesPerSector = b[11] | (b[12] << 8);
  g.sectorsPerCluster = b[13];
  const std::uint64_t reserved = b[14] | (b[15] << 8);
  const std::uint64_t fats = b[16];
  const std::uint64_t rootEntries = b[17] | (b[18] << 8);
  const std::uint64_t fatSectors = b[22] | (b[23] << 8);
  g.rootStart = (reserved + fats * fatSectors) * g.bytesPerSector;
  g.rootBytes = rootEntries * 32;
  g.dataStart = g.rootStart + (g.rootBytes + g.bytesPerSector - 1) / g.bytesPerSector * g.bytesPerSector;
  return g;
}

std::string ShortName(const std::string& name) {
  std::string s = name;
  s.resize(11, ' ');
  return s;
}

// The offset of the 32-byte entry named `name` among `count` entries at
// `at`, or 0.
std::uint64_t FindEntry(const Bytes& b, std::uint64_t at, std::uint64_t bytes, const std::string& name) {
  const std::string want = ShortName(name);
  for (std::uint64_t e = at; e + 32 <= at + bytes; e += 32) {
    if (std::string(b.begin() + static_cast<std::ptrdiff_t>(e), b.begin() + static_cast<std::ptrdiff_t>(e + 11)) == want) {
      return e;
    }
  }
  return 0;
}

std::uint32_t FirstCluster(const Bytes& b, std::uint64_t entry) { return b[entry + 26] | (b[entry + 27] << 8); }

// A FAT12 volume: folders L1 to L12 in the root, each holding the folders
// D01 to D12, and a deleted file in L12. Then every D entry of level k is made to
// name L(k+1)'s cluster.
Bytes DiamondImage() {
  test::TempDir dir;
  const std::string image = dir / "diamond.img";
  test::MakeFat(image, 12, "2M", "-s 1");
  std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; ";
  for (int level = 1; level <= kLevels; ++level) {
    script += "mmd -i " + test::Quote(image) + " ::/" + LevelName(level) + "; ";
    for (int n = 1; n <= kFan; ++n) script += "mmd -i " + test::Quote(image) + " ::/" + LevelName(level) + "/" + FanName(n) + "; ";
  }
  const std::string file = dir / "bottom.txt";
  test::WriteFile(file, std::string("the bottom of the diamond"));
  // Deleted, since forced reads (search, count, save) list deleted files.
  script += "mcopy -i " + test::Quote(image) + " " + test::Quote(file) + " ::/L12/BOTTOM.TXT; ";
  script += "mdel -i " + test::Quote(image) + " ::/L12/BOTTOM.TXT";
  test::MustRun("bash -c " + test::Quote(script));
  Bytes b = test::ReadFile(image);
  const Geometry g = Read(b);
  const std::uint64_t bpc = g.bytesPerSector * g.sectorsPerCluster;
  std::vector<std::uint32_t> levelCluster(kLevels + 2, 0);
  for (int level = 1; level <= kLevels; ++level) {
    const std::uint64_t e = FindEntry(b, g.rootStart, g.rootBytes, LevelName(level));
    EXPECT_NE(e, 0u) << level;
    levelCluster[level] = FirstCluster(b, e);
  }
  for (int level = 1; level < kLevels; ++level) {
    const std::uint64_t folder = g.dataStart + (levelCluster[level] - 2) * bpc;
    for (int n = 1; n <= kFan; ++n) {
      const std::uint64_t e = FindEntry(b, folder, bpc, FanName(n));
      EXPECT_NE(e, 0u) << level << " " << n;
      b[e + 26] = static_cast<std::uint8_t>(levelCluster[level + 1] & 0xFF);
      b[e + 27] = static_cast<std::uint8_t>(levelCluster[level + 1] >> 8);
    }
  }
  return b;
}

struct Collect final : SearchResultSink {
  void AddResult(std::uint32_t, CDirEntry* e) override { names.push_back(e->GetLocation() + e->name); }
  std::vector<std::string> names;
};

class FatDiamond : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = new Bytes(DiamondImage()); }
  static void TearDownTestSuite() {
    delete image_;
    image_ = nullptr;
  }
  void SetUp() override {
    source_ = std::make_shared<MemorySource>(*image_);
    volume_ = test::OpenFat(source_);
    ASSERT_TRUE(volume_);
  }
  std::uint64_t Reads() const { return source_->ReadCalls(); }

  static Bytes* image_;
  std::shared_ptr<MemorySource> source_;
  std::unique_ptr<CFATDriver> volume_;
};
Bytes* FatDiamond::image_ = nullptr;

TEST_F(FatDiamond, TheSearchEntersEveryFolderOnce) {
  const std::uint64_t before = Reads();
  SearchCriteria c;
  c.recurse = true;
  c.pattern = "*";
  Collect hits;
  std::uint32_t counter = 0;
  ASSERT_TRUE(Search(*volume_->GetRoot(), c, &hits, counter));
  // The twelve levels, the twelve entries of each level listed once (in
  // the first folder that reached it), and the file at the bottom.
  EXPECT_EQ(hits.names.size(), static_cast<std::size_t>(kLevels + kLevels * kFan + 1));
  const std::set<std::string> distinct(hits.names.begin(), hits.names.end());
  EXPECT_EQ(distinct.size(), hits.names.size());
  EXPECT_EQ(std::count_if(hits.names.begin(), hits.names.end(),
                          [](const std::string& n) { return n.find("OTTOM.TXT") != std::string::npos; }),
            1);
  EXPECT_LT(Reads() - before, 2000u);
}

TEST_F(FatDiamond, CountingAndSavingEnterEveryFolderOnce) {
  const std::uint64_t before = Reads();
  EXPECT_EQ(CountFiles(*volume_->GetRoot(), nullptr), 1);
  EXPECT_LT(Reads() - before, 2000u);

  test::TempDir dir;
  const std::string out = dir / "out";
  test::MustRun("mkdir -p " + test::Quote(out));
  SavingRun run(out, nullptr, nullptr);
  std::vector<CDirEntry*> selection;
  CDirEntry* level1 = test::Child(volume_->GetRoot(), "L1");
  ASSERT_TRUE(level1);
  selection.push_back(level1);
  run.Save(selection);
  const SavingReport& report = run.Report();
  EXPECT_EQ(report.outcome, SavingOutcome::Finished);
  ASSERT_EQ(report.saved.size(), 1u);
  const std::string text = "the bottom of the diamond";
  EXPECT_EQ(test::MustRun("cat " + test::Quote(report.saved[0].outputPath)), text) << report.saved[0].outputPath;
  // Folders written: the output folder, L1, the first D folder of levels
  // 1 to 11 (each the same folder as the level below), and the twelve
  // empty D folders of L12; the other entries are skipped with a reason.
  const std::string folders = test::MustRun("find " + test::Quote(out) + " -type d | wc -l");
  EXPECT_EQ(std::stoi(folders), 2 + (kLevels - 1) + kFan);
  EXPECT_GE(report.skipped.size(), static_cast<std::size_t>((kLevels - 1) * (kFan - 1)));
  EXPECT_LT(Reads() - before, 4000u);
}

}  // namespace
}  // namespace relictor
