// Recovered files keep the modification and access times of their NTFS
// records, deleted or not.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "ntfs/ntfs_helpers.h"
#include "recovery/recovery.h"

namespace relictor::test {
namespace {

TEST(RecoverNtfsTimes, DeletedAndExistingFilesKeepTheirTimes) {
  TempDir dir;
  const std::string image = dir / "vol.img";
  MakeNtfs(image, "16M", 4096);
  constexpr std::time_t kStamp = 1300000000;  // 2011-03-13 07:06:40 UTC
  RunFixture(image,
             "mkdir /docs\n"
             "fill /docs/kept.bin 9000 1\n"
             "fill /docs/gone.bin 12000 2\n"
             "touch /docs/kept.bin " + std::to_string(kStamp) + "\n"
             "touch /docs/gone.bin " + std::to_string(kStamp + 86400 + 7) + "\n"
             "delete /docs/gone.bin\n");
  Host host;
  auto ntfs = OpenNtfsFile(image, &host);
  ASSERT_TRUE(ntfs);
  CDirEntry* kept = Find(*ntfs, "/docs/kept.bin");
  CDirEntry* gone = Find(*ntfs, "/docs/gone.bin");
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(gone, nullptr);
  ASSERT_TRUE(gone->deleted);
  const std::string out = dir / "out";
  std::filesystem::create_directory(out);
  SavingRun run(out, nullptr, nullptr);
  run.Save({kept, gone});
  ASSERT_EQ(run.Report().outcome, SavingOutcome::Finished) << run.Report().failure;
  struct stat st {};
  ASSERT_EQ(::stat((out + "/kept.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kStamp);
  EXPECT_EQ(st.st_atime, kStamp);
  ASSERT_EQ(::stat((out + "/gone.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kStamp + 86400 + 7);
  EXPECT_EQ(st.st_atime, kStamp + 86400 + 7);
  // Only now: reading a file may move its access time.
  EXPECT_EQ(ReadFile(out + "/gone.bin"), Gen(12000, 2));

  // Turned off in the settings: the files carry the time they were saved.
  const std::time_t before = std::time(nullptr);
  host.settings.keepTimes = false;
  const std::string fresh = dir / "fresh";
  std::filesystem::create_directory(fresh);
  SavingRun again(fresh, nullptr, nullptr);
  again.Save({gone});
  ASSERT_EQ(::stat((fresh + "/gone.bin").c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before - 1);
}

}  // namespace
}  // namespace relictor::test
