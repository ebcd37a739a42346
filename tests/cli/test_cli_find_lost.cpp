// End-to-end checks of relictor-cli find and lost.

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace relictor {
namespace {

using test::CliPath;
using test::MustRun;
using test::Quote;
using test::Run;
using test::TempDir;

test::CommandResult Cli(const std::string& args) { return Run("TZ=UTC " + Quote(CliPath()) + " " + args); }

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A FAT16 volume with files of known sizes and times, one of them deleted.
class CliFind : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    image_ = *dir_ / "fat.img";
    test::MakeSparseFile(image_, 32 << 20);
    MustRun("mkfs.fat -F 16 -n FINDME " + Quote(image_));
    auto put = [&](const std::string& name, std::size_t size, const std::string& stamp, const std::string& to) {
      std::string host = *dir_ / name;
      test::WriteFile(host, test::RandomBytes(size, size));
      MustRun("TZ=UTC touch -m -d " + Quote(stamp) + " " + Quote(host));
      MustRun("TZ=UTC mcopy -m -i " + Quote(image_) + " " + Quote(host) + " " + Quote("::" + to));
    };
    MustRun("mmd -i " + Quote(image_) + " ::/Photos ::/Photos/2023");
    put("a.jpg", 5000, "2023-01-10 10:00:00", "/Photos/a.jpg");
    put("b.jpg", 20000, "2023-06-10 10:00:00", "/Photos/2023/b.jpg");
    put("notes.txt", 100, "2023-03-01 12:00:00", "/notes.txt");
    put("gone.jpg", 7000, "2023-04-01 08:00:00", "/gone.jpg");
    MustRun("mdel -i " + Quote(image_) + " ::/gone.jpg");
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir* dir_;
  static std::string image_;
};
TempDir* CliFind::dir_ = nullptr;
std::string CliFind::image_;

TEST_F(CliFind, PatternAndRecurse) {
  auto top = Cli("find " + Quote(image_) + " '*.jpg'");
  ASSERT_EQ(top.exitCode, 0) << top.err;
  EXPECT_EQ(Count(top.out, ".JPG"), 1u) << top.out;  // only the deleted _ONE.JPG at the top
  EXPECT_NE(top.out.find("_ONE.JPG"), std::string::npos) << top.out;
  EXPECT_NE(top.err.find("Finded 1 Object(s)"), std::string::npos) << top.err;
  auto all = Cli("find " + Quote(image_) + " '*.jpg' -r");
  ASSERT_EQ(all.exitCode, 0);
  EXPECT_NE(all.err.find("Finded 1 Object(s)"), std::string::npos)
      << "FAT folders list their deleted files only: " << all.out;
  auto any = Cli("find " + Quote(image_) + " -r");
  EXPECT_NE(any.out.find("C:\\Photos\\2023\\"), std::string::npos) << any.out;
  EXPECT_EQ(any.out.find("LostFiles"), std::string::npos) << "LostFiles is never listed";
  auto none = Cli("find " + Quote(image_) + " 'nothing*' -r");
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_NE(none.err.find("Finded 0 Object(s)"), std::string::npos);
}

TEST_F(CliFind, SizeAndDateFiltersAndJson) {
  auto sized = Cli("find " + Quote(image_) + " -r --size-between 6999 7001 --json");
  ASSERT_EQ(sized.exitCode, 0) << sized.err;
  EXPECT_NE(sized.out.find("\"name\": \"_ONE.JPG\""), std::string::npos) << sized.out;
  EXPECT_NE(sized.out.find("\"size\": 7000"), std::string::npos);
  EXPECT_NE(sized.out.find("\"deleted\": true"), std::string::npos);
  EXPECT_NE(sized.out.find("\"path\": \"C:\\\\\""), std::string::npos);
  auto strict = Cli("find " + Quote(image_) + " -r --size-between 7000 8000");
  EXPECT_NE(strict.err.find("Finded 0 Object(s)"), std::string::npos) << "the bounds are strict";

  // Dates as find's own form and as the listings print them; the bounds
  // are strict.
  const struct {
    const char* from;
    const char* to;
    int hits;
  } dates[] = {
      {"2023-03-31", "2023-04-02", 1},
      {"2023/03/31", "2023/04/02", 1},
      {"'2023/04/01 07:59:59'", "'2023/04/01 08:00:01'", 1},
      {"2023-04-01T08:00:00", "2023-04-02", 0},
      {"'2023/04/01 08:00:00'", "2023/04/02", 0},
  };
  for (const auto& d : dates) {
    auto dated = Cli("find " + Quote(image_) + " -r --modified " + d.from + " " + d.to);
    EXPECT_EQ(dated.exitCode, 0) << d.from << "\n" << dated.err;
    EXPECT_NE(dated.err.find("Finded " + std::to_string(d.hits) + " Object(s)"), std::string::npos)
        << d.from << " " << d.to << "\n" << dated.out << dated.err;
  }
}

TEST_F(CliFind, BadUsage) {
  EXPECT_EQ(Cli("find").exitCode, 2);
  EXPECT_EQ(Cli("find " + Quote(image_) + " --size-between 1").exitCode, 2);
  EXPECT_EQ(Cli("find " + Quote(image_) + " --modified 2023-13-01 2023-12-01").exitCode, 2);
  EXPECT_EQ(Cli("find " + Quote(image_) + " --created 2023-01-01 2023-02-01 --modified 2023-01-01 2023-02-01")
                .exitCode,
            2);
  auto missing = Cli("find " + Quote(*dir_ / "none.img"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos);
}

TEST(CliLost, FindsVolumesAndTheyCanBeUsedByOtherCommands) {
  TempDir dir;
  std::string disk = dir / "disk.img";
  test::MakeSparseFile(disk, 64 << 20);
  MustRun("mkfs.fat -F 16 -n LOSTONE --offset 2048 " + Quote(disk) + " 16384");
  MustRun("mkfs.fat -F 12 -n LOSTTWO --offset 34816 " + Quote(disk) + " 4096");
  MustRun("mmd -i " + Quote(disk + "@@1M") + " ::/Inside");
  std::string before = test::Sha256(disk);

  auto r = Cli("lost " + Quote(disk) + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* key : {"\"name\": \"LostDriver_2049\"", "\"start_sector\": 2048", "\"fs\": \"FAT16\"",
                          "\"sectors\": 32768", "\"opened\": true", "\"name\": \"LostDriver_34817\"",
                          "\"fs\": \"FAT12\""}) {
    EXPECT_NE(r.out.find(key), std::string::npos) << key << "\n" << r.out;
  }
  EXPECT_NE(r.err.find("2 volumes found"), std::string::npos);

  auto ls = Cli("ls " + Quote(disk + "@lost:2048"));
  ASSERT_EQ(ls.exitCode, 0) << ls.err;
  EXPECT_NE(ls.out.find("Inside"), std::string::npos) << ls.out;
  // A found volume has no drive; its paths start with its name, which a
  // PATH may carry too.
  for (const char* path : {"'LostDriver_2049\\Inside'", "LostDriver_2049/Inside"}) {
    auto named = Cli("ls " + Quote(disk + "@lost:2048") + " " + path);
    EXPECT_EQ(named.exitCode, 0) << path << "\n" << named.err;
  }
  auto nothing = Cli("ls " + Quote(disk + "@lost:100"));
  EXPECT_EQ(nothing.exitCode, 1);
  EXPECT_NE(nothing.err.find("no FAT, exFAT or NTFS boot sector at sector 100"), std::string::npos) << nothing.err;

  auto ranged = Cli("lost " + Quote(disk) + " --start 3000 --end 60000");
  EXPECT_EQ(ranged.exitCode, 0);
  EXPECT_EQ(ranged.out.find("LostDriver_2049"), std::string::npos);
  EXPECT_NE(ranged.out.find("LostDriver_34817"), std::string::npos);
  // The end sector is looked at too: a range of one sector finds the
  // volume that starts there. An end before the start is refused in
  // sectors, the unit of the walk.
  auto one = Cli("lost " + Quote(disk) + " --start 2048 --end 2048");
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_NE(one.out.find("LostDriver_2049"), std::string::npos) << one.out;
  EXPECT_EQ(one.out.find("LostDriver_34817"), std::string::npos) << one.out;
  auto backwards = Cli("lost " + Quote(disk) + " --start 101 --end 100");
  EXPECT_EQ(backwards.exitCode, 2);
  EXPECT_NE(backwards.err.find("sector"), std::string::npos) << backwards.err;
  EXPECT_EQ(backwards.err.find("cluster"), std::string::npos) << backwards.err;
  EXPECT_EQ(Cli("lost " + Quote(disk) + " --end 999999999").exitCode, 2);
  EXPECT_EQ(test::Sha256(disk), before);
}

// The walk finds the volumes the partition table lists as well as the
// others; the listed ones are marked, in the text and in the JSON.
TEST(CliLost, VolumesThePartitionTableListsAreMarked) {
  TempDir dir;
  std::string disk = dir / "disk.img";
  test::MakeSparseFile(disk, 64 << 20);
  MustRun("sfdisk -q " + Quote(disk), "label: dos\nstart=2048, size=32768, type=6\n");
  MustRun("mkfs.fat -F 16 -n LISTED --offset 2048 " + Quote(disk) + " 16384");
  MustRun("mkfs.fat -F 12 -n UNLISTED --offset 34816 " + Quote(disk) + " 4096");
  auto json = Cli("lost " + Quote(disk) + " --json");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto listed = json.out.find("\"name\": \"LostDriver_2049\""),
             unlisted = json.out.find("\"name\": \"LostDriver_34817\"");
  ASSERT_NE(listed, std::string::npos) << json.out;
  ASSERT_NE(unlisted, std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"listed\": true", listed), std::string::npos) << json.out;
  EXPECT_LT(json.out.find("\"listed\": true", listed), unlisted) << json.out;
  EXPECT_NE(json.out.find("\"listed\": false", unlisted), std::string::npos) << json.out;
  EXPECT_NE(json.err.find("2 volumes found"), std::string::npos) << json.err;
  EXPECT_NE(json.err.find("1 of them in the partition table"), std::string::npos) << json.err;

  auto text = Cli("lost " + Quote(disk));
  ASSERT_EQ(text.exitCode, 0) << text.err;
  std::istringstream lines(text.out);
  std::string line;
  int marked = 0;
  while (std::getline(lines, line)) {
    const bool mark = line.find("[in the partition table]") != std::string::npos;
    marked += mark ? 1 : 0;
    if (line.find("LostDriver_") == 0) {
      EXPECT_EQ(mark, line.find("LostDriver_2049") == 0) << line;
    }
  }
  EXPECT_EQ(marked, 1) << text.out;
}

}  // namespace
}  // namespace relictor
