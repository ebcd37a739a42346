// The FAT reader over images made by mkfs.fat and mtools: the tree it
// shows, the deleted names it restores, the status it gives and the bytes
// it recovers, on FAT12, FAT16 and FAT32 alike.

#include <gtest/gtest.h>

#include <map>

#include "fat/fat_fixture.h"

namespace relictor::test {
namespace {

struct FatKind {
  int bits;
  const char* size;
  const char* options;
  const char* name;
};

const FatKind kKinds[] = {
    {12, "4M", "-s 4", "FAT12"},
    {16, "32M", "-s 4", "FAT16"},
    {32, "40M", "-s 1", "FAT32"},
};

// One image per FAT type, made once: files and folders are all created
// first and deleted last, so that mtools cannot reuse a deleted entry's
// slot or clusters (except where a test wants exactly that).
struct Scenario {
  std::unique_ptr<TempDir> dir;
  std::string image;
  std::map<std::string, std::vector<std::uint8_t>> originals;
};

std::map<int, Scenario>& Scenarios() {
  static std::map<int, Scenario> s;
  return s;
}

const std::string kLong221(221, 'L');  // 17 long-name entries
const std::string kLong230 = std::string(229, 'M') + "z";  // 18 entries
const std::string kLong250 = "HEAD26charactersABCDEFGHIJ" + std::string(224, 'n');  // 20 entries

class FatImageTest : public ::testing::TestWithParam<FatKind> {
 protected:
  static void SetUpTestSuite() {
    for (const FatKind& k : kKinds) {
      Scenario s;
      s.dir = std::make_unique<TempDir>();
      s.image = *s.dir / "vol.img";
      MakeFat(s.image, k.bits, k.size, std::string(k.options) + " -n TESTVOL");
      auto put = [&](const std::string& dest, std::vector<std::uint8_t> bytes) {
        std::string host = *s.dir / ("f" + std::to_string(s.originals.size()));
        WriteFile(host, bytes);
        Mcopy(s.image, host, dest);
        s.originals[dest] = std::move(bytes);
      };
      Mmd(s.image, "/DCIM");
      Mmd(s.image, "/My Documents");
      Mmd(s.image, "/My Documents/Sub");
      Mmd(s.image, "/OLD");
      Mmd(s.image, "/LONG");
      Mmd(s.image, "/" + kLong230);
      put("/DCIM/KEEP.BIN", RandomBytes(3000, 1));
      put("/DOCUMENT.TXT", RandomBytes(5000, 2));
      put("/My Documents/Long name é.txt", RandomBytes(70000, 3));
      put("/My Documents/Sub/日本語の名前.dat", RandomBytes(100, 4));
      put("/My Documents/Ωmega ü.txt", RandomBytes(1, 5));
      put("/EMPTY.TXT", {});
      put("/OLD/INSIDE.TXT", RandomBytes(2100, 6));
      put("/LONG/" + kLong221, RandomBytes(10, 7));
      put("/LONG/" + kLong230, RandomBytes(11, 8));
      put("/LONG/" + kLong250, RandomBytes(12, 9));
      put("/EXACT64K.BIN", RandomBytes(65536, 10));
      put("/ODD65535.BIN", RandomBytes(65535, 11));
      MustRun("/usr/bin/convert -size 40x30 xc:red -quality 90 " + Quote(*s.dir / "red.jpg"));
      auto jpeg = ReadFile(*s.dir / "red.jpg");
      put("/PHOTO.JPG", jpeg);
      put("/PHOTO.JPEG", jpeg);

      for (const char* p : {"/DOCUMENT.TXT", "/EMPTY.TXT", "/EXACT64K.BIN", "/ODD65535.BIN", "/PHOTO.JPG",
                            "/PHOTO.JPEG"}) {
        Mdel(s.image, p);
      }
      Mdel(s.image, "/My Documents/Long name é.txt");
      Mdel(s.image, "/My Documents/Ωmega ü.txt");
      Mdel(s.image, "/My Documents/Sub/日本語の名前.dat");
      for (const std::string& p : {kLong221, kLong230, kLong250}) Mdel(s.image, "/LONG/" + p);
      Mdeltree(s.image, "/OLD");
      Scenarios()[k.bits] = std::move(s);
    }
  }
  static void TearDownTestSuite() { Scenarios().clear(); }

  void SetUp() override {
    scenario_ = &Scenarios()[GetParam().bits];
    volume_ = OpenFatFile(scenario_->image, &host_);
    ASSERT_TRUE(volume_);
    root_ = volume_->GetRoot();
  }

  const std::vector<std::uint8_t>& Original(const std::string& dest) { return scenario_->originals.at(dest); }

  Host host_;
  Scenario* scenario_ = nullptr;
  std::unique_ptr<CFATDriver> volume_;
  CDirectory* root_ = nullptr;
};

TEST_P(FatImageTest, TypeAndLabelComeFromTheVolume) {
  EXPECT_EQ(volume_->FileSystemName(), GetParam().name);
  EXPECT_EQ(volume_->VolumeLabel(), "TESTVOL");
  EXPECT_STREQ(volume_->ClassName(), "CFATDriver");
  EXPECT_STREQ(root_->ClassName(), "CFATDirectory");
  EXPECT_EQ(volume_->FirstCluster(), 2u);
  EXPECT_EQ(volume_->LastCluster(), volume_->ClusterCount() + 1);
}

TEST_P(FatImageTest, RootShowsFoldersAndDeletedFilesOnly) {
  auto names = ChildNames(root_);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "LostFiles");
  EXPECT_EQ(root_->children.front().get(), volume_->GetLostFiles());
  for (const char* n : {"DCIM", "My Documents", "_OCUMENT.TXT", "_MPTY.TXT", "_XACT64K.BIN", "_DD65535.BIN",
                        "_HOTO.JPG"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
  }
  // Existing files are never listed.
  EXPECT_EQ(Child(SubFolder(root_, "DCIM"), "KEEP.BIN"), nullptr);
  auto* dcim = SubFolder(root_, "DCIM");
  ASSERT_TRUE(dcim);
  EXPECT_FALSE(dcim->deleted);
  EXPECT_EQ(dcim->GetStatusText(), "Existing");
  EXPECT_STREQ(dcim->ClassName(), "CFATDirectory");
}

TEST_P(FatImageTest, DeletedFilesComeBackByteForByte) {
  struct Case {
    const char* folder;
    std::string shown, dest;
  };
  const Case cases[] = {
      {"", "_OCUMENT.TXT", "/DOCUMENT.TXT"},
      {"", "_XACT64K.BIN", "/EXACT64K.BIN"},
      {"", "_DD65535.BIN", "/ODD65535.BIN"},
      {"My Documents", "Long name é.txt", "/My Documents/Long name é.txt"},
      {"My Documents", "Ωmega ü.txt", "/My Documents/Ωmega ü.txt"},
  };
  for (const auto& c : cases) {
    CDirectory* folder = *c.folder ? SubFolder(root_, c.folder) : root_;
    CFATFile* f = FileIn(folder, c.shown);
    ASSERT_TRUE(f) << c.shown;
    EXPECT_TRUE(f->deleted);
    EXPECT_STREQ(f->ClassName(), "CFATFile");
    std::vector<std::string> problems;
    bool ok = false;
    EXPECT_EQ(SaveBytes(f, &problems, &ok), Original(c.dest)) << c.shown;
    EXPECT_TRUE(ok);
    EXPECT_TRUE(problems.empty()) << c.shown;
    EXPECT_EQ(f->size, Original(c.dest).size());
    std::uint64_t bpc = volume_->BytesPerCluster();
    EXPECT_EQ(f->allocatedSize, (f->size + bpc - 1) / bpc * bpc);
  }
  CFATFile* empty = FileIn(root_, "_MPTY.TXT");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(SaveBytes(empty).empty());
  EXPECT_EQ(empty->allocatedSize, 0u);
}

TEST_P(FatImageTest, DeletedFolderKeepsItsDeletedContents) {
  auto* old = SubFolder(root_, "_LD");
  ASSERT_TRUE(old) << "deleted folder OLD";
  EXPECT_TRUE(old->deleted);
  EXPECT_EQ(old->GetStatusText(), "Good");
  EXPECT_TRUE(root_->HasSubfolders(true));
  CFATFile* inside = FileIn(old, "_NSIDE.TXT");
  ASSERT_TRUE(inside);
  EXPECT_EQ(SaveBytes(inside), Original("/OLD/INSIDE.TXT"));
  EXPECT_EQ(inside->GetLocation(), "C:\\_LD\\");
}

TEST_P(FatImageTest, LongNamesUpToSeventeenEntriesAreRestored) {
  auto* old = SubFolder(root_, "LONG");
  ASSERT_TRUE(old);
  auto names = ChildNames(old);
  // 17 entries: the whole long name.
  EXPECT_NE(std::find(names.begin(), names.end(), kLong221), names.end());
  // Exactly 18 entries: the name is not taken and the repaired short name
  // shows instead.
  EXPECT_EQ(std::find(names.begin(), names.end(), kLong230), names.end());
  bool repairedShort = false;
  for (const auto& n : names) repairedShort |= n.rfind("_MMMMM~", 0) == 0;
  EXPECT_TRUE(repairedShort) << ::testing::PrintToString(names);
  // 20 entries: after the 18th, the remaining two entries of the deleted
  // run give the name's first 26 characters.
  EXPECT_NE(std::find(names.begin(), names.end(), kLong250.substr(0, 26)), names.end())
      << ::testing::PrintToString(names);
  // An existing folder whose name needs 18 entries shows its short name.
  bool shortFolder = false;
  for (auto& c : root_->children) shortFolder |= c->IsFolder() && c->name.rfind("MMMMMM~", 0) == 0;
  EXPECT_TRUE(shortFolder) << ::testing::PrintToString(ChildNames(root_));
}

TEST_P(FatImageTest, NonAsciiLongNamesAreUtf8) {
  auto* sub = SubFolder(SubFolder(root_, "My Documents"), "Sub");
  ASSERT_TRUE(sub);
  CFATFile* f = FileIn(sub, "日本語の名前.dat");
  ASSERT_TRUE(f) << ::testing::PrintToString(ChildNames(sub));
  EXPECT_EQ(f->typeText, "dat");
  EXPECT_EQ(SaveBytes(f), Original("/My Documents/Sub/日本語の名前.dat"));
}

TEST_P(FatImageTest, StatusComesFromTheFirstCluster) {
  // A JPEG under its own extension whose length the detector measures is
  // Excellent; under the extension "JPEG" it is only Good.
  CFATFile* jpg = FileIn(root_, "_HOTO.JPG");
  CFATFile* jpeg = FileIn(root_, "PHOTO.JPEG");  // a long name: kept whole
  ASSERT_TRUE(jpg && jpeg);
  EXPECT_EQ(jpg->GetStatusText(), "Excellent");
  EXPECT_EQ(jpeg->GetStatusText(), "Good");
  // A text file is neither in the type table nor recognised: Good.
  EXPECT_EQ(FileIn(root_, "_OCUMENT.TXT")->GetStatusText(), "Good");
  // An empty file has no first cluster: Poor.
  EXPECT_EQ(FileIn(root_, "_MPTY.TXT")->GetStatusText(), "Poor");
}

TEST_P(FatImageTest, TimesAreSetAndAccessShowsTheDateOnly) {
  CFATFile* f = FileIn(root_, "_OCUMENT.TXT");
  ASSERT_TRUE(f);
  EXPECT_NE(f->modified, kNoTime);
  EXPECT_NE(f->created, kNoTime);
  EXPECT_EQ(f->GetModifiedText().size(), 19u);
  EXPECT_EQ(f->GetAccessedText().size(), 10u);
  EXPECT_EQ(root_->modified, kNoTime);
}

TEST_P(FatImageTest, ReplacementCharacterIsReadWhenNamesAreRepaired) {
  host_.settings.replaceChar = '#';
  auto other = OpenFatFile(scenario_->image, &host_);
  ASSERT_TRUE(other);
  auto names = ChildNames(other->GetRoot());
  EXPECT_NE(std::find(names.begin(), names.end(), "#OCUMENT.TXT"), names.end());
}

TEST_P(FatImageTest, DeepScanMarksEveryKnownCluster) {
  ClusterBitmap bitmap(volume_->FirstCluster(), volume_->LastCluster());
  ASSERT_TRUE(volume_->MarkKnownClusters(bitmap, nullptr));
  // The first cluster of every deleted file and every folder is marked.
  for (auto& c : Populated(root_)->children) {
    std::uint64_t cluster = 0;
    if (c->GetFirstCluster(cluster) && cluster >= 2) {
      EXPECT_TRUE(bitmap.Test(cluster)) << c->name;
    }
  }
  std::uint64_t marked = 0;
  for (std::uint64_t c = bitmap.First(); c <= bitmap.Last(); ++c) marked += bitmap.Test(c);
  EXPECT_LT(marked, volume_->ClusterCount() / 2);
  EXPECT_GT(marked, 3u);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FatImageTest, ::testing::ValuesIn(kKinds),
                         [](const auto& param) { return std::string(param.param.name); });

// mtools gives a new file the lowest free cluster, so a file written after
// a deletion takes the deleted file's clusters.
TEST(FatReuseTest, DeletedFileWhoseClusterWasReusedIsPoor) {
  TempDir dir;
  std::string img = dir / "reuse.img";
  MakeFat(img, 12, "2M", "-s 1");
  Mmd(img, "/A");
  WriteFile(dir / "a", RandomBytes(800, 20));
  WriteFile(dir / "b", RandomBytes(900, 21));
  Mcopy(img, dir / "a", "/A/FIRST.DOC");
  Mdel(img, "/A/FIRST.DOC");
  Mcopy(img, dir / "b", "/SECOND.BIN");
  auto v = OpenFatFile(img);
  ASSERT_TRUE(v);
  CFATFile* f = FileIn(SubFolder(v->GetRoot(), "A"), "_IRST.DOC");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->GetStatusText(), "Poor");
  // What the reader gives is the newer file's data, which proves that the
  // cluster was taken.
  auto got = SaveBytes(f);
  auto b = RandomBytes(900, 21);
  ASSERT_EQ(got.size(), 800u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), b.begin()));
}

}  // namespace
}  // namespace relictor::test
