#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor {
namespace {

using test::TempDir;

TEST(FileSource, ReadsBeyondFourGigaSectorsOfASparseImage) {
  TempDir dir;
  std::string path = dir / "huge.img";
  // 2^32 + 16 sectors of 512 bytes, nearly all of it a hole.
  const std::uint64_t sectors = (std::uint64_t{1} << 32) + 16;
  test::MakeSparseFile(path, sectors * 512);
  {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const char mark[] = "far beyond four giga-sectors";
    ASSERT_EQ(::pwrite(fd, mark, sizeof mark, static_cast<off_t>((sectors - 3) * 512)), static_cast<ssize_t>(sizeof mark));
    ::close(fd);
  }
  std::string error;
  auto source = FileSource::Open(path, error);
  ASSERT_TRUE(source) << error;
  EXPECT_EQ(source->Size(), sectors * 512);
  EXPECT_EQ(source->SectorSize(), 512u);
  char buf[512] = {};
  ASSERT_TRUE(source->ReadAt((sectors - 3) * 512, buf, sizeof buf));
  EXPECT_STREQ(buf, "far beyond four giga-sectors");
  // The last sector reads; one byte past the end does not.
  EXPECT_TRUE(source->ReadAt((sectors - 1) * 512, buf, 512));
  EXPECT_FALSE(source->ReadAt((sectors - 1) * 512 + 1, buf, 512));
  EXPECT_FALSE(source->ReadAt(~std::uint64_t{0} - 10, buf, 512));
}

TEST(FileSource, OpensReadOnlyAndLeavesTheImageUnchanged) {
  TempDir dir;
  std::string path = dir / "ro.img";
  test::WriteFile(path, test::RandomBytes(1 << 20, 7));
  std::string before = test::Sha256(path);
  ::chmod(path.c_str(), 0444);
  std::string error;
  auto source = FileSource::Open(path, error);
  ASSERT_TRUE(source) << error;
  EXPECT_TRUE(source->HandleIsReadOnly());
  std::vector<std::uint8_t> buf(4096);
  for (std::uint64_t off = 0; off < (1 << 20); off += 4096) ASSERT_TRUE(source->ReadAt(off, buf.data(), buf.size()));
  source.reset();
  EXPECT_EQ(test::Sha256(path), before);
}

TEST(FileSource, OpenErrorsAreOneClearSentence) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(FileSource::Open(dir / "missing.img", error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
  EXPECT_FALSE(FileSource::Open(dir.Path().string(), error));
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  EXPECT_FALSE(FileSource::Open("/dev/null", error));
  EXPECT_NE(error.find("not a disk image"), std::string::npos) << error;
  // A named pipe nobody writes to is refused at once rather than waited on.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(FileSource::Open(dir / "pipe", error));
  EXPECT_NE(error.find("not a disk image"), std::string::npos) << error;
}

TEST(FileSource, CacheServesSmallSequentialReadsWithFewSystemCalls) {
  TempDir dir;
  std::string path = dir / "seq.img";
  auto bytes = test::RandomBytes(8 << 20, 11);
  test::WriteFile(path, bytes);
  std::string error;
  auto source = FileSource::Open(path, error);
  ASSERT_TRUE(source);
  std::vector<std::uint8_t> cluster(4096);
  std::size_t clusters = bytes.size() / cluster.size();
  for (std::size_t i = 0; i < clusters; ++i) {
    ASSERT_TRUE(source->ReadAt(i * cluster.size(), cluster.data(), cluster.size()));
    ASSERT_EQ(std::memcmp(cluster.data(), bytes.data() + i * cluster.size(), cluster.size()), 0) << i;
  }
  // 2048 cluster reads: a handful of small blocks while the walk is new,
  // then one read per megabyte.
  EXPECT_LT(source->ReadCalls(), 24u) << "cluster reads must not each cost a system call";
}

TEST(FileSource, ReadsThatStraddleCacheBlocksAreExact) {
  TempDir dir;
  std::string path = dir / "straddle.img";
  auto bytes = test::RandomBytes(3 << 20, 5);
  test::WriteFile(path, bytes);
  std::string error;
  auto source = FileSource::Open(path, error);
  ASSERT_TRUE(source);
  std::vector<std::uint8_t> buf(FileSource::kRandomBlock * 2);
  for (std::uint64_t boundary : {std::uint64_t{FileSource::kRandomBlock}, std::uint64_t{FileSource::kSequentialBlock},
                                 std::uint64_t{2 * FileSource::kSequentialBlock}}) {
    for (std::size_t len : {std::size_t{1}, std::size_t{513}, std::size_t{4096}, std::size_t{60000}, buf.size()}) {
      if (boundary < len) continue;
      std::uint64_t at = boundary - len / 2 - 1;
      ASSERT_TRUE(source->ReadAt(at, buf.data(), len));
      ASSERT_EQ(std::memcmp(buf.data(), bytes.data() + at, len), 0) << "at " << at << " len " << len;
    }
  }
  // A read that ends exactly at the end of the file, and one past it.
  ASSERT_TRUE(source->ReadAt(bytes.size() - 100, buf.data(), 100));
  EXPECT_EQ(std::memcmp(buf.data(), bytes.data() + bytes.size() - 100, 100), 0);
  EXPECT_FALSE(source->ReadAt(bytes.size() - 100, buf.data(), 101));
}

TEST(MemorySource, FailingRangesStandInForBadSectors) {
  MemorySource source(std::vector<std::uint8_t>(4096, 0xAB));
  std::uint8_t buf[512];
  source.FailReadsIn(1024, 1536);
  EXPECT_TRUE(source.ReadAt(0, buf, 512));
  EXPECT_FALSE(source.ReadAt(1024, buf, 512));
  EXPECT_FALSE(source.ReadAt(1000, buf, 100));
  EXPECT_TRUE(source.ReadAt(1536, buf, 512));
  EXPECT_FALSE(source.ReadAt(4000, buf, 512));
}

}  // namespace
}  // namespace relictor
