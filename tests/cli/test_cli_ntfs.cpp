// Every command of relictor-cli on NTFS volumes made with mkntfs and the
// fixture tool, end to end through the built program: drives, ls, cat,
// recover, scan and find, and the message for a volume that cannot be read.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "ntfs/ntfs_helpers.h"

namespace relictor::test {
namespace {

struct Shared {
  std::unique_ptr<TempDir> dir;
  std::string image, jpegPath, hash;
  Bytes jpeg;
  std::uint64_t reused = 0;
};

Shared& S() {
  static Shared s;
  return s;
}

class CliNtfsTest : public ::testing::Test {
 protected:
  // The image is made by the first test that runs, so that a failure to
  // make it fails that test instead of skipping the suite.
  void SetUp() override {
    if (!S().dir) Make();
    ASSERT_FALSE(S().hash.empty()) << "the shared image could not be made";
  }
  static void Make() {
    Shared& s = S();
    s.dir = std::make_unique<TempDir>();
    s.image = *s.dir / "ntfs.img";
    s.jpegPath = *s.dir / "photo.jpg";
    MustRun("/usr/bin/convert -seed 5 -size 200x150 plasma:green-yellow -quality 90 " + Quote(s.jpegPath));
    s.jpeg = ReadFile(s.jpegPath);
    MakeNtfs(s.image, "16M", 4096, 512, "CLINTFS");
    RunFixture(s.image,
               "mkdir /Documents\n"
               "fill \"/Documents/report 2024.bin\" 250000 21\n"
               "text /Documents/note.txt \"a short note\"\n"
               "mkdir /Documents/Sub\n"
               "fill /Documents/Sub/inner.bin 70000 22\n"
               "mkdir /Photos\n"
               "put /Photos/kept.jpg \"" + s.jpegPath + "\"\n"
               "put /Photos/lost.jpg \"" + s.jpegPath + "\"\n"
               "mkdir /Old\n"
               "fill /Old/orphan.bin 30000 23\n"
               "delete /Photos/lost.jpg\n"
               "delete /Old/orphan.bin\n"
               "reuse /Old\n"
               "delete /Old\n"
               "text /taker.txt taker\n");
    s.reused = std::stoull(FixtureInfo(s.image, "/taker.txt")["record"]);
    s.hash = Sha256(s.image);
  }
  static void TearDownTestSuite() { S().dir.reset(); }

  static CommandResult Cli(const std::string& args) { return test::Run(Quote(CliPath()) + " " + args); }
  static std::string Img() { return Quote(S().image); }
};

TEST_F(CliNtfsTest, DrivesNamesTheVolumeWithItsLabel) {
  auto r = Cli("drives " + Img() + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"fs\": \"NTFS\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(CLINTFS)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"bytes_per_cluster\": 4096"), std::string::npos) << r.out;
}

TEST_F(CliNtfsTest, LsListsExistingAndDeletedEntriesWithTheirRealSizes) {
  auto r = Cli("ls " + Img());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lost = r.out.find("LostFiles\\"), deleted = r.out.find("DeletedFiles\\"), docs = r.out.find("Documents\\");
  ASSERT_NE(lost, std::string::npos) << r.out;
  EXPECT_LT(lost, deleted);
  EXPECT_LT(deleted, docs);
  EXPECT_NE(r.out.find("taker.txt"), std::string::npos);
  EXPECT_EQ(r.out.find("$MFT"), std::string::npos);

  r = Cli("ls " + Img() + " /Photos --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The deleted JPEG: its size is that of its data, and it rates
  // "Excellent" against its first cluster.
  EXPECT_NE(r.out.find("{\"name\": \"lost.jpg\", \"path\": \"C:\\\\Photos\\\\\", \"kind\": \"file\", \"deleted\": true, "
                       "\"status\": \"Excellent\", \"size\": " +
                       std::to_string(S().jpeg.size())),
            std::string::npos)
      << r.out;

  r = Cli("ls -r " + Img());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("C:\\Documents\\Sub\\inner.bin"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("C:\\DeletedFiles\\Cluster_" + std::to_string(S().reused) + "\\orphan.bin"), std::string::npos)
      << r.out;
}

TEST_F(CliNtfsTest, CatWritesExactlyTheFileToAPipe) {
  auto r = Cli("cat " + Img() + " \"/Documents/report 2024.bin\"");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == Gen(250000, 21));
  r = Cli("cat " + Img() + " /Photos/lost.jpg");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == S().jpeg);
  r = Cli("cat " + Img() + " /DeletedFiles/Cluster_" + std::to_string(S().reused) + "/orphan.bin");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == Gen(30000, 23));
  r = Cli("cat " + Img() + " /Documents");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
}

TEST_F(CliNtfsTest, RecoverSavesFoldersAndDeletedFilesWithoutTouchingTheImage) {
  TempDir out;
  auto r = Cli("recover " + Img() + " /Documents /Photos/lost.jpg /DeletedFiles -o " + Quote(out.Path().string()));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(out / "Documents/report 2024.bin"), Gen(250000, 21));
  EXPECT_EQ(ReadFile(out / "Documents/Sub/inner.bin"), Gen(70000, 22));
  EXPECT_EQ(ReadFile(out / "lost.jpg"), S().jpeg);
  EXPECT_EQ(ReadFile(out / ("DeletedFiles/Cluster_" + std::to_string(S().reused) + "/orphan.bin")), Gen(30000, 23));
  EXPECT_EQ(Sha256(S().image), S().hash) << "the image was written to";
}

// The scan skips the clusters $Bitmap marks in use: of the two copies of
// the JPEG only the deleted one is a find, unless every cluster is asked
// for. Naming LostFiles in recover runs the same scan and saves its finds.
TEST_F(CliNtfsTest, ScanFindsTheLostJpegAndSkipsTheExistingOne) {
  const struct {
    std::string command;
    const char* folder;
    std::size_t finds;
  } cases[] = {
      {"scan " + Img() + " --json -o ", "", 1},
      {"scan " + Img() + " --all-clusters -o ", "", 2},
      {"recover " + Img() + " /LostFiles -o ", "LostFiles", 1},
  };
  for (const auto& c : cases) {
    TempDir out;
    auto r = Cli(c.command + Quote(out.Path().string()));
    ASSERT_EQ(r.exitCode, 0) << c.command << "\n" << r.out << r.err;
    std::size_t finds = 0;
    for (const auto& e : std::filesystem::directory_iterator(out.Path() / c.folder)) {
      if (e.path().extension() == ".JPG") {
        ++finds;
        EXPECT_EQ(ReadFile(e.path().string()), S().jpeg) << e.path();
      }
    }
    EXPECT_EQ(finds, c.finds) << c.command << "\n" << r.out;
  }
  EXPECT_EQ(Sha256(S().image), S().hash);
}

// The image mounted with ntfs-3g, on the file itself and through a loop
// device, while the program reads the image or the loop device: an output
// folder inside the mount is refused before anything is created, and the
// image keeps its bytes. Needs root, FUSE and ntfs-3g; the loop cases
// need a free loop device.
TEST_F(CliNtfsTest, AnOutputFolderInsideTheMountedImageIsRefused) {
  if (::geteuid() != 0 || !std::filesystem::exists("/dev/fuse") || test::Run("command -v ntfs-3g").exitCode != 0) {
    GTEST_SKIP() << "mounting the image needs root, /dev/fuse and ntfs-3g";
  }
  TempDir dir;
  const std::string image = dir / "mounted.img", mnt = dir / "mnt";
  std::filesystem::copy_file(S().image, image);
  std::filesystem::create_directory(mnt);
  // Undoes the mount and the loop device whatever the test does.
  struct Mounts {
    std::string mnt, loop;
    bool mounted = false;
    void Unmount() {
      if (mounted) test::Run("umount " + Quote(mnt));
      mounted = false;
    }
    ~Mounts() {
      Unmount();
      if (!loop.empty()) test::Run("losetup -d " + Quote(loop));
    }
  } mounts{mnt, {}};
  auto loop = test::Run("losetup --find --show " + Quote(image));
  if (loop.exitCode == 0) mounts.loop = loop.out.substr(0, loop.out.find('\n'));
  const struct {
    const char* how;
    std::string mountSource, readSource;
  } cases[] = {
      {"ntfs-3g on the image file", image, image},
      {"ntfs-3g on a loop device over the image", mounts.loop, image},
      {"the loop device read, the image file mounted", image, mounts.loop},
  };
  const std::string hash = Sha256(image);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    if (c.mountSource.empty() || c.readSource.empty()) {
      std::printf("skipped \"%s\": no loop device (%s)\n", c.how, loop.err.c_str());
      continue;
    }
    auto m = test::Run("ntfs-3g " + Quote(c.mountSource) + " " + Quote(mnt));
    ASSERT_EQ(m.exitCode, 0) << m.err;
    mounts.mounted = true;
    for (const std::string& command : {"recover " + Quote(c.readSource) + " /Documents -o " + Quote(mnt + "/out"),
                                       "scan " + Quote(c.readSource) + " -o " + Quote(mnt + "/out")}) {
      auto r = Cli(command);
      EXPECT_EQ(r.exitCode, 2) << command << "\n" << r.out << r.err;
      EXPECT_NE(r.err.find("lies on " + c.readSource), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("another drive"), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(std::filesystem::exists(mnt + "/out"));
    }
    mounts.Unmount();
    EXPECT_EQ(Sha256(image), hash) << "the image was written to";
  }
}

TEST_F(CliNtfsTest, FindSearchesExistingAndDeletedEntries) {
  auto r = Cli("find " + Img() + " \"*.jpg\" -r");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("C:\\Photos\\kept.jpg"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("C:\\Photos\\lost.jpg"), std::string::npos) << r.out;
  r = Cli("find " + Img() + " \"*.bin\" -r --size-between 60000 260000");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("report 2024.bin"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("inner.bin"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("orphan.bin"), std::string::npos) << r.out;
}

TEST_F(CliNtfsTest, AVolumeInAPartitionIsReadThroughTheDisk) {
  // The same volume as the second partition of a disk image, 1 MiB behind
  // a FAT partition.
  TempDir dir;
  const std::string disk = dir / "disk.img";
  const Bytes volume = ReadFile(S().image);
  MustRun("truncate -s 40M " + Quote(disk) + " && printf 'label: dos\\nstart=64, size=1984, type=1\\nstart=2048, size=" +
          std::to_string(volume.size() / 512) + ", type=7\\n' | sfdisk -q " + Quote(disk) + " && dd if=" +
          Quote(S().image) + " of=" + Quote(disk) + " bs=1M seek=1 conv=notrunc status=none");
  auto r = Cli("drives " + Quote(disk) + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"start_sector\": 2048"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(CLINTFS)"), std::string::npos) << r.out;
  const std::string volumeName = Quote(disk + "@1");
  r = Cli("cat " + volumeName + " /Photos/lost.jpg");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == S().jpeg);
}

TEST_F(CliNtfsTest, VolumesThatCannotBeReadGiveAClearMessage) {
  TempDir dir;
  // The boot sector places the MFT past the end of the volume.
  Bytes b = ReadFile(S().image);
  Put64(b, 48, le64(ByteSpan(b), 40) + 100);
  WriteFile(dir / "badmft.img", b);
  auto r = Cli("ls " + Quote(dir / "badmft.img"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot open the NTFS volume: the MFT lies past the end of the volume"), std::string::npos)
      << r.err;
  // The image ends before the MFT: record 0 cannot be read.
  Bytes cut = ReadFile(S().image);
  cut.resize(static_cast<std::size_t>(le64(ByteSpan(cut), 48) * 4096));
  WriteFile(dir / "cut.img", cut);
  r = Cli("ls " + Quote(dir / "cut.img"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot read the first MFT record"), std::string::npos) << r.err;
}

TEST_F(CliNtfsTest, FilesThatCannotBeReadWholeAreSavedWithZerosAndReported) {
  // The image ends inside the report's clusters: cat writes the file's full
  // length, zeros where the image has nothing, and says so.
  TempDir dir;
  auto info = FixtureInfo(S().image, "/Documents/report 2024.bin");
  const std::string runlist = info["runlist"];
  const std::uint64_t lcn = std::stoull(runlist.substr(2, runlist.find(':', 2) - 2));
  Bytes cut = ReadFile(S().image);
  cut.resize(static_cast<std::size_t>((lcn + 10) * 4096));
  WriteFile(dir / "cut.img", cut);
  auto r = Cli("cat " + Quote(dir / "cut.img") + " \"/Documents/report 2024.bin\"");
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.out.size(), 250000u);
  Bytes expected = Gen(250000, 21);
  std::fill(expected.begin() + 10 * 4096, expected.end(), 0);
  EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == expected);
  EXPECT_NE(r.err.find("bytes could not be read and were saved as zeros (the first at byte 40960"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace relictor::test
