// End-to-end checks of relictor-cli drives, --help and --version, and of
// how the CLI answers bad sources.

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace relictor {
namespace {

using test::CliPath;
using test::MustRun;
using test::Quote;
using test::Run;
using test::TempDir;

test::CommandResult Cli(const std::string& args) { return Run(Quote(CliPath()) + " " + args); }

// A disk with a FAT32 and an NTFS partition and a FAT12 volume image.
class CliDrives : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    disk_ = *dir_ / "disk.img";
    test::MakeSparseFile(disk_, 64 << 20);
    MustRun("sfdisk -q " + Quote(disk_), "label: dos\nstart=2048, size=69632, type=c\nstart=71680, size=59392, type=7\n");
    MustRun("mkfs.fat -F 32 -s 1 -n CAMERA --offset 2048 " + Quote(disk_) + " 34816");
    std::string part = *dir_ / "ntfs.img";
    test::MakeSparseFile(part, 59392ull * 512);
    MustRun("mkntfs -F -Q -q -p 71680 -H 0 -S 0 -L WORK " + Quote(part));
    MustRun("dd if=" + Quote(part) + " of=" + Quote(disk_) + " bs=512 seek=71680 conv=notrunc status=none");
    floppy_ = *dir_ / "floppy.img";
    test::MakeSparseFile(floppy_, 1474560);
    MustRun("mkfs.fat -F 12 -n FLOPPY " + Quote(floppy_));
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir* dir_;
  static std::string disk_, floppy_;
};
TempDir* CliDrives::dir_ = nullptr;
std::string CliDrives::disk_, CliDrives::floppy_;

TEST_F(CliDrives, ListsEveryVolumeWithItsFigures) {
  auto r = Cli("drives " + Quote(disk_) + " " + Quote(floppy_));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("C:\\ (CAMERA)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FAT32"), std::string::npos);
  EXPECT_NE(r.out.find("D:\\ (WORK)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("NTFS"), std::string::npos);
  EXPECT_NE(r.out.find("E:\\ (FLOPPY)"), std::string::npos);
  EXPECT_NE(r.out.find("FAT12"), std::string::npos);
  EXPECT_NE(r.out.find(disk_ + "@2"), std::string::npos);
}

TEST_F(CliDrives, JsonHasTheDocumentedKeys) {
  auto r = Cli("drives --json " + Quote(disk_));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* key : {"\"index\": 1", "\"letter\": \"C\"", "\"name\": \"C:\\\\ (CAMERA)\"", "\"fs\": \"FAT32\"",
                          "\"bytes_per_sector\": 512", "\"bytes_per_cluster\": 512", "\"cluster_count\":",
                          "\"start_sector\": 2048", "\"start_sector\": 71680", "\"fs\": \"NTFS\"",
                          "\"bytes_per_cluster\": 4096", "\"label\": \"CAMERA\"", "\"size\": 35651584",
                          "\"label\": \"WORK\""}) {
    EXPECT_NE(r.out.find(key), std::string::npos) << key << "\n" << r.out;
  }
  EXPECT_NE(r.out.find("\"source\": " + std::string("\"") + disk_ + "\""), std::string::npos);
  EXPECT_EQ(r.out.front(), '[');
}

TEST_F(CliDrives, ReadingLeavesTheImageUnchanged) {
  std::string before = test::Sha256(disk_);
  ASSERT_EQ(Cli("drives " + Quote(disk_)).exitCode, 0);
  ASSERT_EQ(Cli("drives --json " + Quote(disk_)).exitCode, 0);
  EXPECT_EQ(test::Sha256(disk_), before);
}

TEST(Cli, HelpVersionAndUsage) {
  auto help = Cli("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("drives"), std::string::npos);
  EXPECT_NE(help.out.find("exit codes"), std::string::npos);
  auto version = Cli("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("relictor-cli ", 0), 0u);
  EXPECT_EQ(Cli("").exitCode, 2);
  auto unknown = Cli("frobnicate");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  auto option = Cli("drives --bogus");
  EXPECT_EQ(option.exitCode, 2);
  EXPECT_NE(option.err.find("usage: relictor-cli drives"), std::string::npos);
}

// Each bad source gives a clear one-line message and a non-zero exit code.
TEST(Cli, BadSourcesGiveOneClearLine) {
  TempDir dir;
  auto expectMessage = [&](const std::string& path, const std::string& words) {
    auto r = Cli("drives " + Quote(path));
    EXPECT_EQ(r.exitCode, 1) << path << ": " << r.err;
    EXPECT_NE(r.err.find(words), std::string::npos) << path << ": " << r.err;
    EXPECT_EQ(r.err.find("relictor-cli: "), 0u) << r.err;
  };
  std::string text = dir / "letter.txt";
  test::WriteFile(text, std::string(100000, 'a'));
  expectMessage(text, "no FAT or NTFS volume");
  expectMessage(dir / "missing.img", "no such file");

  std::string truncated = dir / "truncated.img";
  test::MakeSparseFile(truncated, 32 << 20);
  MustRun("mkfs.fat -F 16 " + Quote(truncated));
  std::filesystem::resize_file(truncated, 200 * 1024);
  expectMessage(truncated, "truncated");

  std::string past = dir / "past.img";
  test::MakeSparseFile(past, 8 << 20);
  MustRun("sfdisk -q " + Quote(past), "label: dos\nstart=2048, size=4096, type=c\n");
  MustRun("printf '\\377\\377\\377\\000' | dd of=" + Quote(past) +
          " bs=1 seek=458 conv=notrunc status=none");  // the first entry's sector count
  expectMessage(past, "past the end");

  std::string overlap = dir / "overlap.img";
  test::MakeSparseFile(overlap, 8 << 20);
  MustRun("sfdisk -q " + Quote(overlap), "label: dos\nstart=2048, size=4096, type=c\nstart=6144, size=4096, type=c\n");
  MustRun("printf '\\000\\020\\000\\000' | dd of=" + Quote(overlap) +
          " bs=1 seek=470 conv=notrunc status=none");  // the second entry now starts at 4096
  expectMessage(overlap, "overlap");

  std::string gpt = dir / "gpt.img";
  test::MakeSparseFile(gpt, 8 << 20);
  MustRun("sfdisk -q " + Quote(gpt), "label: gpt\nstart=2048, size=4096\n");
  MustRun("printf 'X' | dd of=" + Quote(gpt) + " bs=1 seek=600 conv=notrunc status=none");
  MustRun("printf 'X' | dd of=" + Quote(gpt) + " bs=1 seek=$((8*1024*1024-512+40)) conv=notrunc status=none");
  expectMessage(gpt, "CRC");

  std::string empty = dir / "empty.img";
  test::WriteFile(empty, std::string());
  expectMessage(empty, "too small");
}

}  // namespace
}  // namespace relictor
