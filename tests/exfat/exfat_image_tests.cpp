// The exFAT reader over volumes made by mkfs.exfat and filled by the
// fixture tool: what it lists, how it rates, what it saves, and what the
// deep scan finds after a quick format. Every volume is made once per
// suite, with 4 KiB and with 128 KiB clusters.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>

#include "exfat/exfat_fixture.h"
#include "scan/deep_scan.h"

namespace relictor::test {
namespace {

struct Kind {
  const char* name;
  const char* size;
  const char* options;
  std::size_t clusterBytes;
};

const Kind kKinds[] = {
    {"Cluster4K", "8M", "-c 4K -L CARD4K", 4096},
    {"Cluster128K", "40M", "-c 128K -L CARD128K", 131072},
};

// A name of 255 characters, mixing scripts so that every one of its 17
// name entries holds more than ASCII.
std::string LongName() {
  std::string name;
  for (int i = 0; name.size() < 240; ++i) name += "é" + std::to_string(i % 10);
  std::size_t chars = 0;
  for (unsigned char c : name) chars += (c & 0xC0) != 0x80;
  while (chars < 255) name += "x", ++chars;
  return name;
}

const std::string kUnicodeName = "Ωmega ünïcode ✓ 日本語 😀.txt";

struct Suite {
  TempDir dir;
  std::string image;
  std::map<std::string, std::vector<std::uint8_t>> files;  // host copies by path on the volume
  std::vector<std::uint8_t> jpeg;
};

class ExFatImageTest : public ::testing::TestWithParam<Kind> {
 protected:
  static std::map<std::string, std::unique_ptr<Suite>>& Suites() {
    static std::map<std::string, std::unique_ptr<Suite>> suites;
    return suites;
  }

  static void SetUpTestSuite() {
    for (const Kind& k : kKinds) {
      auto s = std::make_unique<Suite>();
      s->image = s->dir / "card.img";
      MakeExFat(s->image, k.size, k.options);
      s->jpeg = ReadFile(SourceDir() + "/tests/fixtures/tga_inside.jpg");
      const std::size_t c = k.clusterBytes;
      auto host = [&](const std::string& name, std::vector<std::uint8_t> bytes) {
        WriteFile(s->dir / name, bytes);
        return s->dir / name;
      };
      std::string cmd = "time\t2023-05-06 07:08:09\t57\t8\nmkdir\t/DCIM\n";
      auto put = [&](const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& extra) {
        s->files[path] = bytes;
        cmd += "put\t" + path + "\t" + host("f" + std::to_string(s->files.size()), bytes) + extra + "\n";
      };
      put("/DCIM/photo.jpg", s->jpeg, "");
      put("/spacer.bin", RandomBytes(c, 1), "");
      put("/fragmented.bin", RandomBytes(5 * c - 100, 2), "\tfrag");
      put("/after-fragments.bin", RandomBytes(3 * c + 1, 3), "");
      put("/" + kUnicodeName, RandomBytes(2 * c + 7, 4), "\tnofat");
      put("/" + LongName(), RandomBytes(100, 5), "");
      put("/empty.txt", {}, "");
      put("/flags.txt", RandomBytes(10, 6), "\tattr=23");
      std::vector<std::uint8_t> half = RandomBytes(2 * c + 300, 7);
      s->files["/half.bin"] = half;
      cmd += "put\t/half.bin\t" + host("half", half) + "\tvalid=" + std::to_string(c + 5) + "\n";
      std::fill(s->files["/half.bin"].begin() + static_cast<std::ptrdiff_t>(c + 5), s->files["/half.bin"].end(), 0);
      cmd += "mkdir\t/Trash\nmkdir\t/Trash/Inner\n";
      put("/Trash/a.bin", RandomBytes(c + 9, 8), "");
      put("/Trash/Inner/b.jpg", s->jpeg, "\tnofat");
      put("/deleted.jpg", s->jpeg, "\tnofat");
      put("/deleted.bin", RandomBytes(3 * c, 9), "");
      cmd += "rm\t/deleted.jpg\nrm\t/deleted.bin\nrm\t/Trash\n";
      WriteExFat(s->image, cmd);
      Suites()[k.name] = std::move(s);
    }
  }
  static void TearDownTestSuite() { Suites().clear(); }

  void SetUp() override {
    suite_ = Suites()[GetParam().name].get();
    ASSERT_NE(suite_, nullptr);
    volume_ = OpenExFatFile(suite_->image);
    ASSERT_NE(volume_, nullptr);
  }

  CDirEntry* At(const std::string& path) {
    CDirectory* d = volume_->GetRoot();
    std::size_t from = 1;
    for (;;) {
      const std::size_t slash = path.find('/', from);
      const std::string part = path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
      CDirEntry* e = Child(d, part);
      if (slash == std::string::npos || !e) return e;
      d = dynamic_cast<CDirectory*>(e);
      from = slash + 1;
    }
  }

  Suite* suite_ = nullptr;
  std::unique_ptr<CExFATDriver> volume_;
};

TEST_P(ExFatImageTest, VolumeIsReadCleanly) {
  EXPECT_EQ(volume_->FileSystemName(), "exFAT");
  EXPECT_EQ(volume_->VolumeLabel(), std::string(GetParam().options).substr(std::string(GetParam().options).rfind(' ') + 1));
  EXPECT_EQ(volume_->BytesPerCluster(), GetParam().clusterBytes);
  EXPECT_TRUE(volume_->BootChecksumMatches());
  EXPECT_FALSE(volume_->UsedBackupBootRegion());
  EXPECT_TRUE(volume_->Problems().empty()) << volume_->Problems().front();
  EXPECT_TRUE(volume_->Bitmap().Loaded());
}

TEST_P(ExFatImageTest, EveryFileComesBackByteForByteUnderItsWholeName) {
  for (const auto& [path, bytes] : suite_->files) {
    SCOPED_TRACE(path);
    CDirEntry* e = At(path);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetSize(), bytes.size());
    std::vector<std::string> problems;
    EXPECT_EQ(ExSave(e, &problems), bytes);
    EXPECT_TRUE(problems.empty());
  }
}

TEST_P(ExFatImageTest, DeletedEntriesAreMarkedAndRated) {
  struct Expect {
    std::string path;
    bool deleted;
    std::uint32_t status;
  };
  const Expect expected[] = {
      {"/DCIM/photo.jpg", false, kStatusExisting},
      {"/fragmented.bin", false, kStatusExisting},
      {"/deleted.jpg", true, kStatusExcellent},
      {"/deleted.bin", true, kStatusGood},
      {"/Trash", true, kStatusGood},
      {"/Trash/Inner/b.jpg", true, kStatusExcellent},
  };
  for (const Expect& x : expected) {
    SCOPED_TRACE(x.path);
    CDirEntry* e = At(x.path);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->deleted, x.deleted);
    EXPECT_EQ(e->status, x.status);
  }
}

TEST_P(ExFatImageTest, DeletedFileWhoseClustersWereTakenIsPoor) {
  TempDir dir;
  const std::string image = dir / "reused.img";
  MakeExFat(image, GetParam().size, std::string("-c ") + (GetParam().clusterBytes == 4096 ? "4K" : "128K"));
  WriteFile(dir / "jpg", suite_->jpeg);
  WriteExFat(image, "put\t/old.jpg\t" + (dir / "jpg") + "\nrm\t/old.jpg\nput\t/new.jpg\t" + (dir / "jpg") + "\n");
  auto volume = OpenExFatFile(image);
  ASSERT_NE(volume, nullptr);
  CDirEntry* old = Child(volume->GetRoot(), "old.jpg");
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->status, kStatusPoor);
}

TEST_P(ExFatImageTest, TimesKeepTheirOffsetAndAttributesAreRead) {
  std::tm tm{};
  tm.tm_year = 123, tm.tm_mon = 4, tm.tm_mday = 6, tm.tm_hour = 7, tm.tm_min = 8, tm.tm_sec = 9;
  // Written at 07:08:09.57 two hours east of UTC.
  const EntryTime expected = static_cast<EntryTime>(timegm(&tm)) - 2 * 3600;
  CDirEntry* flags = At("/flags.txt");
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->modified, expected);
  EXPECT_EQ(flags->created, expected);
  EXPECT_EQ(flags->attributes, 0x23u);
  auto* file = dynamic_cast<CExFATFile*>(flags);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ExFatTimeMilliseconds(file->entrySet.modified), 570u);
  EXPECT_EQ(At("/DCIM")->attributes & kExFatAttrDirectory, kExFatAttrDirectory);
}

TEST_P(ExFatImageTest, DeepScanFindsNothingTheTreeAlreadyHolds) {
  ASSERT_TRUE(DeepScan(*volume_, nullptr));
  // The deleted files and folders are listed in the tree; a scan must not
  // list their clusters again as lost finds.
  EXPECT_TRUE(volume_->GetLostFiles()->children.empty());
}

INSTANTIATE_TEST_SUITE_P(Clusters, ExFatImageTest, ::testing::ValuesIn(kKinds),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ExFatQuickFormatTest, DeepScanRebuildsTheLostFolderAndFindsTheLostFile) {
  TempDir dir;
  const std::string image = dir / "formatted.img";
  MakeExFat(image, "8M", "-c 4K");
  const std::vector<std::uint8_t> jpeg = ReadFile(SourceDir() + "/tests/fixtures/tga_inside.jpg");
  const std::vector<std::uint8_t> data = RandomBytes(20000, 11);
  const std::vector<std::uint8_t> gone = RandomBytes(5000, 12);
  WriteFile(dir / "jpg", jpeg);
  WriteFile(dir / "data", data);
  WriteFile(dir / "gone", gone);
  WriteExFat(image, "mkdir\t/Holiday Photos\nput\t/Holiday Photos/beach.jpg\t" + (dir / "jpg") +
                        "\tnofat\nput\t/Holiday Photos/notes.bin\t" + (dir / "data") + "\nput\t/Holiday Photos/gone.bin\t" +
                        (dir / "gone") + "\nput\t/top.jpg\t" + (dir / "jpg") + "\tnofat\nrm\t/Holiday Photos/gone.bin\n");
  MustRun("mkfs.exfat -c 4K " + Quote(image) + " >/dev/null");

  auto volume = OpenExFatFile(image);
  ASSERT_NE(volume, nullptr);
  ASSERT_TRUE(DeepScan(*volume, nullptr));
  CDirectory* lost = volume->GetLostFiles();
  CDirectory* folder = nullptr;
  CDirEntry* foundJpeg = nullptr;
  for (auto& c : lost->children) {
    if (auto* d = dynamic_cast<CDirectory*>(c.get()); d && Child(d, "beach.jpg")) folder = d;
    if (c->typeText == "JPG") foundJpeg = c.get();
  }
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->name.rfind("Cluster_", 0), 0u);
  EXPECT_EQ(ExSave(Child(folder, "beach.jpg")), jpeg);
  EXPECT_EQ(ExSave(Child(folder, "notes.bin")), data);
  EXPECT_EQ(ExSave(Child(folder, "gone.bin")), gone);
  // The photo at the top was in the root folder, which the format wrote
  // over: only its contents find it.
  ASSERT_NE(foundJpeg, nullptr);
  EXPECT_EQ(ExSave(foundJpeg), jpeg);
}

}  // namespace
}  // namespace relictor::test
