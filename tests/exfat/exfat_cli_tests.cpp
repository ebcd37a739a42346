// exFAT through relictor-cli: volumes as whole images, as MBR (type 0x07)
// and GPT (basic data) partitions, and as lost volumes found by their main
// or their backup boot region; listing and saving them.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "exfat/exfat_fixture.h"

namespace relictor::test {
namespace {

CommandResult Cli(const std::string& args) { return Run("TZ=UTC " + Quote(CliPath()) + " " + args); }

class ExFatCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    volume_ = *dir_ / "volume.img";
    MakeExFat(volume_, "8M", "-c 4K -L CLICARD");
    data_ = RandomBytes(30000, 21);
    WriteFile(*dir_ / "data", data_);
    WriteExFat(volume_, "time\t2022-02-03 04:05:06\t0\t0\nmkdir\t/Photos\nput\t/Photos/kept.bin\t" + (*dir_ / "data") +
                            "\tfrag\nput\t/Photos/gone.bin\t" + (*dir_ / "data") + "\tnofat\nrm\t/Photos/gone.bin\n");
  }
  static void TearDownTestSuite() { delete dir_; }

  // A 12 MiB disk with the volume at 1 MiB under the given table.
  static std::string Disk(const std::string& name, const std::string& table) {
    const std::string disk = *dir_ / name;
    MustRun("rm -f " + Quote(disk) + " && truncate -s 12M " + Quote(disk));
    if (!table.empty()) MustRun("sfdisk -q " + Quote(disk), table);
    MustRun("dd if=" + Quote(volume_) + " of=" + Quote(disk) + " bs=1M seek=1 conv=notrunc status=none");
    return disk;
  }

  static TempDir* dir_;
  static std::string volume_;
  static std::vector<std::uint8_t> data_;
};
TempDir* ExFatCliTest::dir_ = nullptr;
std::string ExFatCliTest::volume_;
std::vector<std::uint8_t> ExFatCliTest::data_;

TEST_F(ExFatCliTest, VolumesAreFoundWholeAndInPartitionTablesAndSaved) {
  struct Case {
    const char* name;
    std::string source;
  };
  const Case cases[] = {
      {"whole volume", volume_},
      {"MBR", Disk("mbr.img", "label: dos\nstart=2048, size=16384, type=7\n")},
      {"GPT", Disk("gpt.img", "label: gpt\nstart=2048, size=16384, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandResult drives = Cli("drives " + Quote(c.source));
    ASSERT_EQ(drives.exitCode, 0) << drives.err;
    EXPECT_NE(drives.out.find("exFAT"), std::string::npos) << drives.out;
    EXPECT_NE(drives.out.find("CLICARD"), std::string::npos) << drives.out;

    const CommandResult ls = Cli("ls " + Quote(c.source) + " -r");
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_NE(ls.out.find("kept.bin"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("gone.bin"), std::string::npos) << ls.out;

    const std::string out = *dir_ / (std::string("out-") + c.name);
    const CommandResult saved = Cli("recover " + Quote(c.source) + " / -o " + Quote(out));
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(ReadFile(out + "/Photos/kept.bin"), data_);
    EXPECT_EQ(ReadFile(out + "/Photos/gone.bin"), data_);
    struct stat st {};
    ASSERT_EQ(::stat((out + "/Photos/kept.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1643861106);  // 2022-02-03 04:05:06 UTC
  }
}

TEST_F(ExFatCliTest, LostVolumeIsFoundByItsMainOrItsBackupBootRegion) {
  const std::string disk = Disk("lost.img", "");
  for (bool mainGone : {false, true}) {
    SCOPED_TRACE(mainGone ? "backup only" : "main");
    if (mainGone) MustRun("dd if=/dev/zero of=" + Quote(disk) + " bs=512 seek=2048 count=1 conv=notrunc status=none");
    const CommandResult lost = Cli("lost " + Quote(disk));
    ASSERT_EQ(lost.exitCode, 0) << lost.err;
    EXPECT_NE(lost.out.find("LostDriver_2049"), std::string::npos) << lost.out;
    EXPECT_NE(lost.out.find("exFAT"), std::string::npos) << lost.out;
    const CommandResult cat = Cli("cat " + Quote(disk + "@lost:2048") + " /Photos/kept.bin > " + Quote(*dir_ / "cat"));
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(ReadFile(*dir_ / "cat"), data_);
  }
}

}  // namespace
}  // namespace relictor::test
