// Folders the deep scan rebuilds after a quick format: real volumes filled
// with mcopy and formatted again with mkfs.fat over their data. Every file
// whose entry and data survived comes back by its name and byte for byte;
// the carve still finds what no surviving entry names.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "fat/fat_fixture.h"
#include "scan/deep_scan.h"
#include "scan/real_files.h"
#include "support/test_support.h"

namespace relictor::test {
namespace {

struct FormatCase {
  const char* label;
  int bits;
  const char* size;
  const char* options;
  int rootFiles;  // long-named files in the root (only FAT32's root survives a format in part)
  bool overwrite; // write a GIF over a named photo's clusters after the format
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c) { return os << c.label; }

// Every file below a folder, with the folder it hangs in.
void CollectFiles(CDirectory* folder, std::vector<CFATFile*>& out, int depth = 0) {
  ASSERT_LT(depth, 16);
  for (auto& child : folder->children) {
    if (auto* f = dynamic_cast<CFATFile*>(child.get())) out.push_back(f);
    if (auto* d = dynamic_cast<CDirectory*>(child.get())) {
      EXPECT_TRUE(d->populated) << d->name << ": a rebuilt folder is read when it is found";
      CollectFiles(d, out, depth + 1);
    }
  }
}

class RebuiltFolders : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RebuiltFolders, EveryFileWhoseEntryAndDataSurvivedComesBackByItsName) {
  const FormatCase& c = GetParam();
  TempDir dir;
  const std::string image = dir / "vol.img";
  const std::string mkfs = "mkfs.fat -F " + std::to_string(c.bits) + " -i 1234ABCD " + c.options + " " + Quote(image);
  MakeFat(image, c.bits, c.size, c.options);
  std::map<std::string, std::vector<std::uint8_t>> planted;  // long name -> bytes
  std::set<std::string> typed;                                // names the carve could find on its own

  // The root: names of 27 to 39 characters take four entries each, so a
  // name never runs across two clusters of 512 bytes.
  if (c.rootFiles > 0) {
    const std::string src = dir / "root";
    std::filesystem::create_directory(src);
    for (int i = 0; i < c.rootFiles; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "Report %04d of the lost card.txt", i);
      planted[name] = RandomBytes(700 + static_cast<std::size_t>(i % 37) * 61, 9000 + static_cast<std::uint64_t>(i));
      WriteFile(src + "/" + name, planted[name]);
    }
    MustRun("mcopy -i " + Quote(image) + " " + Quote(src) + "/* ::/");
  }
  // Folders below it, one inside another, with long and short names.
  Mmd(image, "/Documents of 2024");
  Mmd(image, "/Documents of 2024/Deeper still");
  Mmd(image, "/Pictures");
  const std::string file = dir / "one";
  auto put = [&](const std::string& path, const std::vector<std::uint8_t>& bytes, bool isTyped) {
    WriteFile(file, bytes);
    Mcopy(image, file, path);
    const std::string name = path.substr(path.rfind('/') + 1);
    planted[name] = bytes;
    if (isTyped) typed.insert(name);
  };
  // Forty letters with one mcopy: their entries fill several clusters.
  const std::string letters = dir / "letters";
  std::filesystem::create_directory(letters);
  for (int i = 0; i < 40; ++i) {
    const std::string name = "Letter number " + std::to_string(100 + i) + " to the bank.txt";
    planted[name] = RandomBytes(1500 + static_cast<std::size_t>(i) * 53, 700 + static_cast<std::uint64_t>(i));
    WriteFile(letters + "/" + name, planted[name]);
  }
  MustRun("mcopy -i " + Quote(image) + " " + Quote(letters) + "/* '::/Documents of 2024/'");
  put("/Documents of 2024/Deeper still/Notes of the day.txt", RandomBytes(5000, 1), false);
  put("/Pictures/Beach at noon.jpg", RealFile("photo.jpg"), true);
  put("/Pictures/Chart.png", RealFile("picture.png"), true);
  // A photo whose data lies before the folder that names it: the carve
  // reaches the data first, and the entry must still win.
  put("/Moved photo.jpg", RealFile("standard.jpg"), true);
  Mmd(image, "/Late folder");
  MustRun("mmove -i " + Quote(image) + " '::/Moved photo.jpg' '::/Late folder/'");

  // Which entries the format overwrites, and where each file's data lies.
  std::set<std::string> lostEntries;
  std::map<std::string, std::uint32_t> firstCluster;
  {
    auto before = OpenFatFile(image);
    ASSERT_TRUE(before);
    FatDirCursor cursor = before->StartCursor(before->RootCluster(), before->RootDirSector());
    FatRawEntry e;
    std::string name;
    while (before->ReadEntry(cursor, e, name, false)) {
      // FAT32's root starts again in its first cluster; the fixed root
      // region of FAT12 and FAT16 is cleared whole.
      if (c.bits != 32 || cursor.cluster == before->RootCluster()) lostEntries.insert(name);
    }
    std::function<void(CDirectory*)> walk = [&](CDirectory* d) {
      d->Populate(true, false, true);  // existing files too
      for (auto& child : d->children) {
        if (auto* f = dynamic_cast<CFATFile*>(child.get())) firstCluster[f->name] = f->startCluster;
        if (auto* sub = dynamic_cast<CFATDirectory*>(child.get()); sub && sub->startCluster >= 2) walk(sub);
      }
    };
    walk(before->GetRoot());
  }
  MustRun(mkfs);
  std::string overwritten;
  if (c.overwrite) {
    // A file written after the format lands on a named photo's clusters
    // and is deleted again: the entry can no longer give the photo back.
    overwritten = "Beach at noon.jpg";
    ASSERT_GE(firstCluster[overwritten], 2u);
    auto bytes = ReadFile(image);
    const Layout layout = ReadLayout(bytes);
    const auto& gif = RealFile("anim.gif");
    std::copy(gif.begin(), gif.end(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.ClusterOffset(firstCluster[overwritten])));
    WriteFile(image, bytes);
  }

  Host host;
  auto fat = OpenFatFile(image, &host);
  ASSERT_TRUE(fat);
  ASSERT_TRUE(ExpandLostFiles(*fat));
  CDirectory* lost = fat->GetLostFiles();
  std::vector<CFATFile*> files;
  CollectFiles(lost, files);
  // A name may be listed twice (a moved file leaves a deleted entry
  // behind), but only one of its entries may claim the data.
  std::map<std::string, CFATFile*> byName;
  for (CFATFile* f : files) {
    if (f->parent == lost) continue;
    auto [it, added] = byName.emplace(f->name, f);
    if (added) continue;
    EXPECT_TRUE(it->second->status == kStatusPoor || f->status == kStatusPoor) << f->name << " claimed twice";
    if (it->second->status == kStatusPoor) it->second = f;
  }

  std::size_t survivors = 0;
  for (const auto& [name, bytes] : planted) {
    if (name == overwritten) continue;
    const bool entrySurvived = !lostEntries.count(name);
    auto it = byName.find(name);
    if (!entrySurvived) {
      EXPECT_EQ(it, byName.end()) << name << ": its entry was overwritten";
      continue;
    }
    ++survivors;
    ASSERT_NE(it, byName.end()) << name;
    EXPECT_TRUE(it->second->deleted) << name;
    EXPECT_NE(it->second->status, kStatusPoor) << name;
    if (typed.count(name)) {
      EXPECT_EQ(it->second->status, kStatusExcellent) << name;
    }
    EXPECT_EQ(SaveBytes(it->second), bytes) << name;
  }
  EXPECT_GE(survivors, c.bits == 32 ? static_cast<std::size_t>(c.rootFiles) : 40u);

  // The carve still finds the typed files no surviving entry names, and
  // finds nothing inside a file that an entry gives back.
  std::set<std::vector<std::uint8_t>> carved;
  for (auto& child : lost->children) {
    auto* f = dynamic_cast<CFATFile*>(child.get());
    if (!f) continue;
    carved.insert(SaveBytes(f));
    for (CFATFile* named : files) {
      if (named->parent == lost || named->status == kStatusPoor || named->size == 0) continue;
      const std::uint64_t clusters = (named->size + fat->BytesPerCluster() - 1) / fat->BytesPerCluster();
      EXPECT_FALSE(f->startCluster >= named->startCluster && f->startCluster < named->startCluster + clusters)
          << f->name << " lies inside " << named->name;
    }
  }
  for (const std::string& name : typed) {
    if (name != overwritten && lostEntries.count(name)) {
      EXPECT_TRUE(carved.count(planted[name])) << name;
    }
  }
  if (c.overwrite) {
    ASSERT_TRUE(byName.count(overwritten));
    EXPECT_EQ(byName[overwritten]->status, kStatusPoor);
    EXPECT_TRUE(carved.count(RealFile("anim.gif"))) << "the carve saves what was written over the photo";
  }
}

INSTANTIATE_TEST_SUITE_P(
    QuickFormat, RebuiltFolders,
    ::testing::Values(FormatCase{"FAT12", 12, "4M", "-s 4", 0, false},
                      FormatCase{"FAT16", 16, "32M", "-s 4", 0, true},
                      // 512-byte clusters: the root of 320 files spans 80 of them.
                      FormatCase{"FAT32", 32, "36M", "-s 1", 320, true}),
    [](const ::testing::TestParamInfo<FormatCase>& param) { return std::string(param.param.label); });

}  // namespace
}  // namespace relictor::test
