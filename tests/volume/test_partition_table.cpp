#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"
#include "volume/endian.h"
#include "volume/partition_table.h"

namespace relictor {
namespace {

using test::MustRun;
using test::Quote;
using test::TempDir;

// A disk image partitioned by sfdisk from a script.
std::vector<std::uint8_t> Partitioned(const std::string& script, std::uint64_t mib = 64) {
  TempDir dir;
  std::string path = dir / "disk.img";
  test::MakeSparseFile(path, mib << 20);
  MustRun("sfdisk --no-reread --no-tell-kernel -q " + Quote(path), script);
  return test::ReadFile(path);
}

PartitionTable TableOf(const std::vector<std::uint8_t>& bytes) {
  MemorySource source(bytes);
  return ReadPartitionTable(source);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(PartitionTable, MbrWithExtendedAndLogicalPartitions) {
  auto disk = Partitioned(
      "label: dos\n"
      "start=2048, size=8192, type=c\n"
      "start=10240, size=8192, type=7\n"
      "start=18432, size=40960, type=5\n"
      "start=20480, size=4096, type=6\n"
      "start=26624, size=4096, type=83\n"
      "start=32768, size=8192, type=b\n");
  auto t = TableOf(disk);
  EXPECT_EQ(t.kind, TableKind::Mbr);
  EXPECT_TRUE(t.problems.empty()) << t.problems.front();
  ASSERT_EQ(t.partitions.size(), 5u);
  struct Want {
    int number;
    std::uint64_t start, count;
    std::uint8_t type;
    bool logical;
  };
  const Want want[] = {{1, 2048, 8192, 0x0c, false},
                       {2, 10240, 8192, 0x07, false},
                       {5, 20480, 4096, 0x06, true},
                       {6, 26624, 4096, 0x83, true},
                       {7, 32768, 8192, 0x0b, true}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(t.partitions[i].number, want[i].number);
    EXPECT_EQ(t.partitions[i].startSector, want[i].start) << i;
    EXPECT_EQ(t.partitions[i].sectorCount, want[i].count) << i;
    EXPECT_EQ(t.partitions[i].mbrType, want[i].type) << i;
    EXPECT_EQ(t.partitions[i].logical, want[i].logical) << i;
  }
}

TEST(PartitionTable, GptPartitionsWithNames) {
  auto disk = Partitioned(
      "label: gpt\n"
      "start=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"photos\"\n"
      "start=12288, size=16384, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n");
  auto t = TableOf(disk);
  EXPECT_EQ(t.kind, TableKind::Gpt);
  EXPECT_TRUE(t.problems.empty());
  ASSERT_EQ(t.partitions.size(), 2u);
  EXPECT_EQ(t.partitions[0].startSector, 2048u);
  EXPECT_EQ(t.partitions[0].sectorCount, 8192u);
  EXPECT_EQ(t.partitions[0].name, "photos");
  EXPECT_EQ(t.partitions[0].gptTypeGuid, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
  EXPECT_EQ(t.partitions[1].startSector, 12288u);
}

TEST(PartitionTable, GptWithAWrongCrcFallsBackToTheBackupOrFails) {
  auto disk = Partitioned("label: gpt\nstart=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n");
  // A flipped byte in the primary entry array (LBA 2): its CRC no longer
  // matches, the backup at the end of the disk is still good.
  auto primaryBroken = disk;
  primaryBroken[2 * 512 + 40] ^= 0xFF;
  auto t = TableOf(primaryBroken);
  EXPECT_EQ(t.kind, TableKind::Gpt);
  ASSERT_EQ(t.partitions.size(), 1u);
  EXPECT_EQ(t.partitions[0].startSector, 2048u);
  ASSERT_FALSE(t.problems.empty());
  EXPECT_NE(t.problems.front().find("CRC"), std::string::npos);

  // Both copies broken: no partitions, and a clear problem.
  auto bothBroken = primaryBroken;
  std::uint64_t backupHeader = bothBroken.size() / 512 - 1;
  bothBroken[backupHeader * 512 + 30] ^= 0x01;  // inside the backup header itself
  t = TableOf(bothBroken);
  EXPECT_TRUE(t.partitions.empty());
  ASSERT_FALSE(t.problems.empty());
  EXPECT_NE(t.problems.back().find("damaged"), std::string::npos);
}

// An entry that starts past the end of the disk is not used; one that
// starts on the disk and reaches past its end (a partial image) is cut to
// the end, with a problem that says so.
TEST(PartitionTable, EntriesReachingPastTheEndOfTheDisk) {
  const struct {
    std::size_t field;  // of the second entry
    std::uint32_t value;
    std::size_t used;
    const char* problem;
  } cases[] = {
      {8, 0x7FFFFFFF, 1, "lies past the end of the disk"},
      {12, 0x7FFFFFFF, 2, "reaches past the end of the disk"},
  };
  for (const auto& c : cases) {
    auto disk = Partitioned("label: dos\nstart=2048, size=8192, type=c\nstart=10240, size=8192, type=7\n");
    Put32(disk, 446 + 16 + c.field, c.value);
    auto t = TableOf(disk);
    ASSERT_EQ(t.partitions.size(), c.used) << c.problem;
    EXPECT_EQ(t.partitions[0].number, 1);
    ASSERT_EQ(t.problems.size(), 1u);
    EXPECT_NE(t.problems[0].find(c.problem), std::string::npos) << t.problems[0];
    if (c.used == 2) {
      EXPECT_EQ(t.partitions[1].sectorCount, disk.size() / 512 - 10240);
    }
  }
}

TEST(PartitionTable, OverlappingPartitionsAreReported) {
  auto disk = Partitioned("label: dos\nstart=2048, size=8192, type=c\nstart=10240, size=8192, type=7\n");
  Put32(disk, 446 + 16 + 8, 6000);  // the second now starts inside the first
  auto t = TableOf(disk);
  ASSERT_FALSE(t.problems.empty());
  EXPECT_NE(t.problems.back().find("overlap"), std::string::npos);
}

TEST(PartitionTable, ALoopInTheLogicalPartitionChainEnds) {
  auto disk = Partitioned(
      "label: dos\nstart=2048, size=40960, type=5\nstart=4096, size=2048, type=6\nstart=8192, size=2048, type=6\n");
  auto t = TableOf(disk);
  ASSERT_EQ(t.partitions.size(), 2u);
  // The second EBR's link points back at the first EBR.
  std::uint64_t secondEbr = 2048 + le32(ByteSpan(disk), 2048 * 512 + 446 + 16 + 8);
  Put32(disk, secondEbr * 512 + 446 + 16 + 8, 0);
  Put32(disk, secondEbr * 512 + 446 + 16 + 12, 4096);
  disk[secondEbr * 512 + 446 + 16 + 4] = 0x05;
  t = TableOf(disk);
  EXPECT_EQ(t.partitions.size(), 2u);
  ASSERT_FALSE(t.problems.empty());
  EXPECT_NE(t.problems.back().find("loop"), std::string::npos);
}

TEST(PartitionTable, AVolumeWithoutTableAndGarbageGiveNoTable) {
  TempDir dir;
  std::string path = dir / "fat.img";
  test::MakeSparseFile(path, 4 << 20);
  MustRun("mkfs.fat -F 12 " + Quote(path));
  EXPECT_EQ(TableOf(test::ReadFile(path)).kind, TableKind::None);
  EXPECT_EQ(TableOf(test::RandomBytes(1 << 16, 3)).kind, TableKind::None);
  EXPECT_EQ(TableOf(std::vector<std::uint8_t>(100, 0)).kind, TableKind::None);
}

TEST(PartitionTable, MutatedTablesNeverCrashOrHang) {
  // Small disks keep the thousands of copies cheap.
  const auto mbr = Partitioned(
      "label: dos\nstart=64, size=512, type=c\nstart=1024, size=2048, type=5\nstart=1100, size=256, "
      "type=6\nstart=1600, size=256, type=7\n",
      2);
  const auto gpt = Partitioned("label: gpt\nstart=64, size=512\nstart=1024, size=1024\n", 2);
  std::uint64_t seed = 12345;
  auto next = [&] {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    return seed;
  };
  for (int round = 0; round < 3000; ++round) {
    auto disk = (round % 2) ? gpt : mbr;
    // Mutate the sectors where tables live: the MBR, the GPT header and
    // entries, and the EBRs.
    const std::size_t hot[] = {0, 512, 1024, 1024 * 512, 1099 * 512, (2 << 20) - 512};
    int edits = 1 + static_cast<int>(next() % 8);
    for (int e = 0; e < edits; ++e) {
      std::size_t base = hot[next() % 6];
      std::size_t at = std::min(disk.size() - 1, base + static_cast<std::size_t>(next() % 512));
      disk[at] = static_cast<std::uint8_t>(next());
    }
    MemorySource source(std::move(disk));
    auto t = ReadPartitionTable(source);
    for (const auto& p : t.partitions) {
      ASSERT_LE(p.startSector + p.sectorCount, source.Size() / 512);
    }
  }
}

}  // namespace
}  // namespace relictor
