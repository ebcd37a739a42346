// Directories the real tools will not write, made byte by byte: odd short
// names, long names with surrogates and neighbouring runs, folders that
// point at themselves, chains that loop, and the deep-scan side of the
// reader (lost files, lost folders, clusters the table marks bad). Also a
// quick-formatted real volume, whose files only the deep scan finds.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "fat/fat_fixture.h"
#include "fat/fat_names.h"
#include "scan/deep_scan.h"

namespace relictor::test {
namespace {

TEST(FatNameTest, RepairOfDeletedShortNames) {
  EXPECT_EQ(RepairDeletedShortName("\xE5OCUMENT.TXT", '_'), "_OCUMENT.TXT");
  // A double-byte first character loses both bytes to one replacement.
  EXPECT_EQ(RepairDeletedShortName("\xE5\x81" "BC.TXT", '_'), "_BC.TXT");
  EXPECT_EQ(RepairDeletedShortName("\xE5", '_'), "_");
  EXPECT_EQ(RepairDeletedShortName("", '_'), "");
  EXPECT_EQ(RepairDeletedShortName("\xE5X", '$'), "$X");
}

TEST(FatNameTest, ConversionsToUtf8) {
  EXPECT_EQ(Cp437ToUtf8("CAF\x82"), "CAFé");
  EXPECT_EQ(Cp437ToUtf8("\xE5\xFF"), "σ\u00A0");
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83D\xDE00" "b"), "a😀b");
  EXPECT_EQ(Utf16ToUtf8(u"x\xD800y"), "x\uFFFDy");
  EXPECT_EQ(Utf16ToUtf8(u"x\xDC00"), "x\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
}

TEST(FatNameTest, DosTimes) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  // 2000-01-01 12:34:56.
  EXPECT_EQ(DosDateTimeToTime((20 << 9) | (1 << 5) | 1, (12 << 11) | (34 << 5) | 28), 946730096);
  EXPECT_EQ(DosDateTimeToTime(0, 0x1234), kNoTime);
  // Day 0 rolls back into the month before.
  EXPECT_EQ(DosDateTimeToTime((20 << 9) | (2 << 5) | 0, 0), 946684800 + 30 * 86400);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(FatDirectoryTest, ShortNamesAsTheListShowsThem) {
  CraftedFat12 img;
  img.PutDotEntries(10, 0);
  img.PutDotEntries(11, 0);
  img.PutDotEntries(12, 0);
  img.SetFat(10, 0xFFF);
  img.SetFat(11, 0xFFF);
  img.SetFat(12, 0xFFF);
  img.PutEntries(img.RootOffset(), {
                                       ShortEntry("MY DIR     ", 0x10, 10, 0),
                                       ShortEntry("\x05" "BC     D  ", 0x10, 11, 0),
                                       ShortEntry("CAF\x82    TXT", 0x10, 12, 0),
                                       ShortEntry("\xE5Y FILE TXT", 0x20, 20, 10),
                                       ShortEntry("\xE5\x81" "BCDEF TXT", 0x20, 21, 10),
                                       ShortEntry("\xE5          ", 0x20, 22, 10),
                                       ShortEntry("LIVE    TXT", 0x20, 23, 10),
                                       ShortEntry("VOLUME     ", 0x08, 0, 0),
                                   });
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  EXPECT_EQ(ChildNames(v->GetRoot()), (std::vector<std::string>{"LostFiles", "MYDIR", "σBC.D", "CAFé.TXT",
                                                                "_YFILE.TXT", "_BCDEF.TXT", "_"}));
  EXPECT_EQ(v->VolumeLabel(), "VOLUME");
  EXPECT_EQ(FileIn(v->GetRoot(), "_")->typeText, "_");
}

TEST(FatDirectoryTest, LongNamesWithSurrogatesAndNeighbouringRuns) {
  CraftedFat12 img;
  img.PutEntries(img.RootOffset(),
                 {
                     // A deleted run whose name holds a surrogate pair and an
                     // unpaired surrogate.
                     LongEntry(0xE5, u"\xD83D\xDE00-\xD800.txt", 0x11),
                     ShortEntry("\xE5" "SMILE  TXT", 0x20, 30, 5),
                     // A run cut short: its short entry was overwritten by the
                     // start of another run with another checksum.
                     LongEntry(0xE5, u"cut off name", 0x22),
                     LongEntry(0xE5, u"second.txt", 0x33),
                     ShortEntry("\xE5" "ECOND  TXT", 0x20, 31, 5),
                     // A run with no short entry behind it: the directory ends.
                     LongEntry(0x41, u"dangling", 0x44),
                 });
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  EXPECT_EQ(ChildNames(v->GetRoot()),
            (std::vector<std::string>{"LostFiles", "😀-\uFFFD.txt", "second.txt"}));
}

TEST(FatDirectoryTest, FoldersPointingAtThemselvesOrAboveAreNotListed) {
  CraftedFat12 img;
  img.SetFat(10, 0xFFF);
  img.SetFat(11, 0xFFF);
  img.PutEntries(img.RootOffset(), {ShortEntry("A          ", 0x10, 10, 0)});
  img.PutDotEntries(10, 0);
  img.PutEntries(img.ClusterOffset(10) + 64,
                 {ShortEntry("SELF       ", 0x10, 10, 0), ShortEntry("B          ", 0x10, 11, 0)});
  img.PutDotEntries(11, 10);
  img.PutEntries(img.ClusterOffset(11) + 64, {ShortEntry("UP         ", 0x10, 10, 0)});
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  auto* a = SubFolder(v->GetRoot(), "A");
  ASSERT_TRUE(a);
  EXPECT_EQ(ChildNames(a), (std::vector<std::string>{"B"}));
  auto* b = SubFolder(a, "B");
  EXPECT_TRUE(ChildNames(b).empty());
  EXPECT_FALSE(b->HasSubfolders(true));
  EXPECT_TRUE(a->HasSubfolders(true));
  ClusterBitmap bitmap(v->FirstCluster(), v->LastCluster());
  EXPECT_TRUE(v->MarkKnownClusters(bitmap, nullptr));
  EXPECT_TRUE(bitmap.Test(10));
  EXPECT_TRUE(bitmap.Test(11));
}

TEST(FatDirectoryTest, LoopingChainsEnd) {
  CraftedFat12 img;
  // A folder whose two clusters point at each other, full of entries.
  img.SetFat(10, 11);
  img.SetFat(11, 10);
  img.PutEntries(img.RootOffset(), {ShortEntry("LOOP       ", 0x10, 10, 0), ShortEntry("FILE    BIN", 0x20, 40, 9999)});
  img.PutDotEntries(10, 0);
  for (std::uint32_t i = 2; i < 32; ++i) {
    std::string n = "\xE5" "ILE" + std::to_string(100 + i) + " BIN";
    img.Put(img.ClusterOffset(10) + (i % 16) * 32 + (i / 16) * 512, ShortEntry(n.c_str(), 0x20, 0, 0));
  }
  // An existing file whose chain loops.
  img.SetFat(40, 41);
  img.SetFat(41, 40);
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  auto* loop = SubFolder(v->GetRoot(), "LOOP");
  ASSERT_TRUE(loop);
  loop->Populate(true, true, true);
  EXPECT_LE(loop->children.size(), 90u);
  EXPECT_GE(loop->children.size(), 30u);
  ClusterBitmap bitmap(v->FirstCluster(), v->LastCluster());
  EXPECT_TRUE(v->MarkKnownClusters(bitmap, nullptr));
  EXPECT_TRUE(bitmap.Test(40));
  EXPECT_TRUE(bitmap.Test(41));
  EXPECT_FALSE(bitmap.Test(42));
}

std::vector<std::uint8_t> WaveHeader(std::uint32_t dataBytes) {
  std::vector<std::uint8_t> w(44, 0);
  std::memcpy(w.data(), "RIFF", 4);
  Put32(w, 4, 36 + dataBytes);
  std::memcpy(w.data() + 8, "WAVEfmt ", 8);
  return w;
}

TEST(FatScanTest, LostFilesFoldersAndBadClusters) {
  CraftedFat12 img;
  auto wave = WaveHeader(1000);  // 1044 bytes: three clusters
  img.Put(img.ClusterOffset(50), wave);
  img.Put(img.ClusterOffset(60), wave);
  img.SetFat(60, 0xFF7, 2);  // bad in both copies
  img.Put(img.ClusterOffset(80), wave);
  img.SetFat(80, 0xFF7, 1);  // bad in the first copy only: the second decides
  // A lost folder with an existing and a deleted file, and one whose only
  // entries are "." and "..".
  img.PutDotEntries(70, 0);
  img.PutEntries(img.ClusterOffset(70) + 64,
                 {ShortEntry("KEEP    TXT", 0x20, 0, 0), ShortEntry("\xE5" "OUND   WAV", 0x20, 50, 1044)});
  img.PutDotEntries(90, 0);

  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  CDirectory* lost = v->GetLostFiles();
  ClusterBitmap bitmap(v->FirstCluster(), v->LastCluster());
  EXPECT_FALSE(v->ScanCluster(60, bitmap, nullptr));
  EXPECT_TRUE(v->ScanCluster(80, bitmap, nullptr));
  EXPECT_TRUE(v->ScanCluster(50, bitmap, nullptr));
  EXPECT_TRUE(bitmap.Test(51) && bitmap.Test(52));
  EXPECT_FALSE(bitmap.Test(53));
  EXPECT_FALSE(v->ScanCluster(70, bitmap, nullptr));
  EXPECT_FALSE(v->ScanCluster(90, bitmap, nullptr));
  EXPECT_EQ(ChildNames(lost), (std::vector<std::string>{"Cluster_80.WAV", "Cluster_50.WAV", "Cluster_70"}));
  auto* found = FileIn(lost, "Cluster_50.WAV");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->size, 1044u);
  EXPECT_EQ(found->allocatedSize, 1536u);
  EXPECT_EQ(found->GetStatusText(), "Excellent");
  auto bytes = SaveBytes(found);
  ASSERT_EQ(bytes.size(), 1044u);
  EXPECT_TRUE(std::equal(wave.begin(), wave.end(), bytes.begin()));
  auto* folder = SubFolder(lost, "Cluster_70");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->GetStatusText(), "Good");
  // A rebuilt folder lists what it names, live or not: all of it is lost.
  EXPECT_EQ(ChildNames(folder), (std::vector<std::string>{"KEEP.TXT", "_OUND.WAV"}));
}

TEST(FatScanTest, ExpandingLostFilesRunsTheDeepScan) {
  CraftedFat12 img;
  auto wave = WaveHeader(100);
  img.Put(img.ClusterOffset(201), wave);  // the last cluster
  // A deleted file's first cluster is known and is not examined.
  img.Put(img.ClusterOffset(30), wave);
  img.PutEntries(img.RootOffset(), {ShortEntry("\xE5" "NOWN   WAV", 0x20, 30, 144)});
  auto v = OpenFatBytes(img.bytes);
  ASSERT_TRUE(v);
  CDirectory* lost = v->GetLostFiles();
  lost->Populate(true, true, true);
  EXPECT_TRUE(lost->populated);
  EXPECT_TRUE(lost->children.empty());
  lost->populated = false;
  lost->Populate(true, true, false);
  EXPECT_TRUE(lost->populated);
  EXPECT_EQ(ChildNames(lost), (std::vector<std::string>{"Cluster_201.WAV"}));
}

TEST(FatScanTest, QuickFormattedVolumeGivesItsFilesToTheDeepScan) {
  TempDir dir;
  std::string img = dir / "q.img";
  MakeFat(img, 16, "32M", "-s 4");
  MustRun("/usr/bin/convert -size 64x48 gradient:red-blue " + Quote(dir / "p.jpg"));
  auto jpeg = ReadFile(dir / "p.jpg");
  Mmd(img, "/FOLDER");
  WriteFile(dir / "t", RandomBytes(3000, 5));
  Mcopy(img, dir / "t", "/FOLDER/NOTE.TXT");
  Mcopy(img, dir / "t", "/FOLDER/GONE.TXT");
  Mcopy(img, dir / "p.jpg", "/P.JPG");
  Mdel(img, "/FOLDER/GONE.TXT");
  MustRun("mkfs.fat -F 16 -s 4 -i 1234ABCD " + Quote(img));
  auto v = OpenFatFile(img);
  ASSERT_TRUE(v);
  EXPECT_EQ(ChildNames(v->GetRoot()), (std::vector<std::string>{"LostFiles"}));
  ASSERT_TRUE(DeepScan(*v, nullptr));
  CDirectory* lost = v->GetLostFiles();
  CFATFile* photo = nullptr;
  CDirectory* folder = nullptr;
  for (auto& c : lost->children) {
    if (c->name.size() > 4 && c->name.compare(c->name.size() - 4, 4, ".JPG") == 0) photo = dynamic_cast<CFATFile*>(c.get());
    if (c->IsFolder()) folder = dynamic_cast<CDirectory*>(c.get());
  }
  ASSERT_TRUE(photo) << ::testing::PrintToString(ChildNames(lost));
  EXPECT_EQ(SaveBytes(photo), jpeg);
  ASSERT_TRUE(folder) << ::testing::PrintToString(ChildNames(lost));
  EXPECT_EQ(folder->name.rfind("Cluster_", 0), 0u);
  EXPECT_EQ(ChildNames(folder), (std::vector<std::string>{"NOTE.TXT", "_ONE.TXT"}));
  EXPECT_EQ(SaveBytes(FileIn(folder, "NOTE.TXT")), RandomBytes(3000, 5));
  EXPECT_EQ(SaveBytes(FileIn(folder, "_ONE.TXT")), RandomBytes(3000, 5));
}

}  // namespace
}  // namespace relictor::test
