// Recovered files and folders keep the times of their FAT entries: the
// modification time, and the access date (FAT keeps no access time of day).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "fat/fat_fixture.h"
#include "recovery/recovery.h"
#include "tree_doubles.h"

namespace relictor::test {
namespace {

// Midnight (local time) of the day that `t` falls on: what a FAT access
// date comes back as.
std::time_t LocalMidnight(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

struct Times {
  std::time_t modified = 0;
  std::time_t accessed = 0;
};

Times TimesOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_mtime, st.st_atime};
}

class RecoverFatTimes : public ::testing::Test {
 protected:
  // A FAT32 volume with a deleted folder holding a deleted file, both
  // copied with their host times (an even number of seconds, which FAT
  // can hold).
  void SetUp() override {
    image_ = dir_ / "vol.img";
    MakeFat(image_, 32, "34M", "-s 1");
    const std::string folder = dir_ / "Trip";
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/Beach photo.jpg", RandomBytes(7000, 3));
    MustRun("touch -m -d @" + std::to_string(kFileTime) + " " + Quote(folder + "/Beach photo.jpg"));
    MustRun("touch -a -d @" + std::to_string(kAccessTime) + " " + Quote(folder + "/Beach photo.jpg"));
    MustRun("mcopy -s -m -i " + Quote(image_) + " " + Quote(folder) + " ::/");
    Mdeltree(image_, "/Trip");
  }

  SavingReport SaveTrip(Host& host, std::optional<bool> keep, const std::string& out) {
    fat_ = OpenFatFile(image_, &host);
    EXPECT_TRUE(fat_);
    CDirEntry* trip = Child(fat_->GetRoot(), "Trip");
    EXPECT_NE(trip, nullptr);
    std::filesystem::create_directory(out);
    SavingRun run(out, nullptr, nullptr);
    run.keepTimes = keep;
    run.Save({trip});
    return run.TakeReport();
  }

  static constexpr std::time_t kFileTime = 1561812896;    // 2019-06-29 12:54:56 UTC
  static constexpr std::time_t kAccessTime = 1562112000;  // 2019-07-03 00:00:00 UTC
  TempDir dir_;
  std::string image_;
  std::unique_ptr<CFATDriver> fat_;
};

TEST_F(RecoverFatTimes, FilesAndFoldersKeepTheirTimesByDefault) {
  Host host;
  const std::string out = dir_ / "out";
  SavingReport r = SaveTrip(host, std::nullopt, out);
  ASSERT_EQ(r.outcome, SavingOutcome::Finished) << r.failure;
  ASSERT_EQ(r.saved.size(), 1u);
  // The times first: reading the file may move its access time.
  Times file = TimesOf(out + "/Trip/Beach photo.jpg");
  EXPECT_EQ(file.modified, kFileTime);
  CDirEntry* entry = Child(dynamic_cast<CDirectory*>(Child(fat_->GetRoot(), "Trip")), "Beach photo.jpg");
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->accessed, kNoTime);
  // FAT keeps the day of the last access; the saved file gets its start.
  EXPECT_EQ(file.accessed, entry->accessed);
  EXPECT_EQ(file.accessed, LocalMidnight(entry->accessed));
  // The folder is stamped after its files were written into it (mcopy
  // gives the folder on the volume the time it was copied).
  CDirEntry* folder = Child(fat_->GetRoot(), "Trip");
  ASSERT_NE(folder->modified, kNoTime);
  EXPECT_EQ(TimesOf(out + "/Trip").modified, folder->modified);
  EXPECT_EQ(ReadFile(out + "/Trip/Beach photo.jpg"), RandomBytes(7000, 3));
}

TEST_F(RecoverFatTimes, TheSettingOrTheRunCanTurnItOff) {
  const std::time_t before = std::time(nullptr);
  Host off;
  off.settings.keepTimes = false;
  SavingReport r = SaveTrip(off, std::nullopt, dir_ / "off");
  ASSERT_EQ(r.outcome, SavingOutcome::Finished) << r.failure;
  EXPECT_GE(TimesOf(dir_ / "off/Trip/Beach photo.jpg").modified, before - 1);
  EXPECT_GE(TimesOf(dir_ / "off/Trip").modified, before - 1);
  EXPECT_EQ(ReadFile(dir_ / "off/Trip/Beach photo.jpg"), RandomBytes(7000, 3));
  // The run's own choice wins over the setting, either way.
  Host on;
  r = SaveTrip(on, false, dir_ / "forced-off");
  EXPECT_GE(TimesOf(dir_ / "forced-off/Trip/Beach photo.jpg").modified, before - 1);
  r = SaveTrip(off, true, dir_ / "forced-on");
  EXPECT_EQ(TimesOf(dir_ / "forced-on/Trip/Beach photo.jpg").modified, kFileTime);
}

}  // namespace
}  // namespace relictor::test
