#include <gtest/gtest.h>

#include "support/test_support.h"
#include "volume/boot_sector.h"

namespace relictor {
namespace {

using test::MustRun;
using test::Quote;
using test::TempDir;

std::vector<std::uint8_t> FirstSector(const std::string& makeCommand, std::uint64_t bytes) {
  TempDir dir;
  std::string path = dir / "v.img";
  test::MakeSparseFile(path, bytes);
  MustRun(makeCommand + " " + Quote(path));
  auto all = test::ReadFile(path);
  all.resize(512);
  return all;
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

TEST(BootSector, RealFatVolumesAreRecognisedWithTheirType) {
  struct Case {
    const char* command;
    std::uint64_t bytes;
    const char* fs;
  } cases[] = {{"mkfs.fat -F 12 -s 4", 4 << 20, "FAT12"},
               {"mkfs.fat -F 16 -s 4", 32 << 20, "FAT16"},
               {"mkfs.fat -F 32 -s 1", 64 << 20, "FAT32"}};
  for (const auto& c : cases) {
    auto s = FirstSector(c.command, c.bytes);
    auto info = IdentifyBootSector(ByteSpan(s));
    EXPECT_EQ(info.kind, FsKind::Fat) << c.command;
    EXPECT_EQ(info.fsName, c.fs) << c.command;
    EXPECT_EQ(info.bytesPerSector, 512u);
    FatGeometry g;
    std::string reason;
    ASSERT_TRUE(ParseFatBootSector(ByteSpan(s), g, reason)) << reason;
    EXPECT_EQ(g.totalSectors, c.bytes / 512);
    EXPECT_EQ(g.clusterCount, (g.totalSectors - g.firstDataSector) / g.sectorsPerCluster);
  }
}

TEST(BootSector, NtfsIsRecognisedAndOtherFileSystemsAreNot) {
  auto ntfs = FirstSector("mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 0 -S 0", 16 << 20);
  auto info = IdentifyBootSector(ByteSpan(ntfs));
  EXPECT_EQ(info.kind, FsKind::Ntfs);
  EXPECT_EQ(info.bytesPerCluster, 4096u);
  NtfsGeometry g;
  std::string reason;
  ASSERT_TRUE(ParseNtfsBootSector(ByteSpan(ntfs), g, reason));
  EXPECT_EQ(g.recordSize, 1024u);
  EXPECT_EQ(g.clusterCount, g.totalSectors / 8);

  auto exfat = FirstSector("mkfs.exfat", 16 << 20);
  EXPECT_EQ(IdentifyBootSector(ByteSpan(exfat)).kind, FsKind::ExFat);
  EXPECT_EQ(IdentifyBootSector(ByteSpan(exfat)).fsName, "exFAT");
  auto ext4 = FirstSector("mkfs.ext4 -q -F", 16 << 20);
  EXPECT_EQ(IdentifyBootSector(ByteSpan(ext4)).kind, FsKind::None);
}

TEST(BootSector, FatGeometryValuesTheFormatDoesNotAllowAreRejected) {
  const auto good = FirstSector("mkfs.fat -F 16 -s 4", 32 << 20);
  FatGeometry g;
  std::string reason;
  auto edited = [&](auto edit) {
    auto b = good;
    edit(b);
    return ParseFatBootSector(ByteSpan(b), g, reason);
  };
  EXPECT_TRUE(edited([](auto&) {}));
  EXPECT_FALSE(edited([](auto& b) { Put16(b, 11, 0); }));    // no bytes per sector
  EXPECT_FALSE(edited([](auto& b) { Put16(b, 11, 600); }));  // not a power of two
  EXPECT_FALSE(edited([](auto& b) { b[13] = 0; }));          // no sectors per cluster
  EXPECT_FALSE(edited([](auto& b) { b[13] = 3; }));
  EXPECT_TRUE(edited([](auto& b) { b[13] = 64; }));          // 32768-byte clusters
  EXPECT_FALSE(edited([](auto& b) { b[13] = 128; }));        // 65536-byte clusters
  EXPECT_FALSE(edited([](auto& b) { b[16] = 0; }));          // no FAT
  EXPECT_FALSE(edited([](auto& b) { b[510] = 0; }));         // no signature
  EXPECT_FALSE(edited([](auto& b) { Put16(b, 22, 0xFFFF); }));  // FATs reach past the end
  EXPECT_NE(reason.find("past the end"), std::string::npos);
}

TEST(BootSector, TotSec16OfZeroTakesTotSec32) {
  auto b = FirstSector("mkfs.fat -F 12", 4 << 20);
  FatGeometry g;
  std::string reason;
  std::uint32_t total = b[19] | (b[20] << 8);
  ASSERT_EQ(total, 8192u);
  Put16(b, 19, 0);
  b[32] = static_cast<std::uint8_t>(total), b[33] = static_cast<std::uint8_t>(total >> 8), b[34] = 0, b[35] = 0;
  ASSERT_TRUE(ParseFatBootSector(ByteSpan(b), g, reason)) << reason;
  EXPECT_EQ(g.totalSectors, 8192u);
  // A FAT16 volume of more than 65535 sectors has only TotSec32.
  auto big = FirstSector("mkfs.fat -F 16", 64 << 20);
  ASSERT_TRUE(ParseFatBootSector(ByteSpan(big), g, reason)) << reason;
  EXPECT_EQ(g.totalSectors, (64u << 20) / 512);
  EXPECT_EQ(g.fatType, kFat16);
}

TEST(BootSector, NtfsSizesOutsideTheAllowedValuesAreRejected) {
  const auto good = FirstSector("mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 0 -S 0", 16 << 20);
  NtfsGeometry g;
  std::string reason;
  auto edited = [&](auto edit) {
    auto b = good;
    edit(b);
    return ParseNtfsBootSector(ByteSpan(b), g, reason);
  };
  EXPECT_FALSE(edited([](auto& b) { Put16(b, 11, 2048); }));
  EXPECT_FALSE(edited([](auto& b) { b[13] = 3; }));
  EXPECT_TRUE(edited([](auto& b) { b[13] = 128; }));
  EXPECT_TRUE(edited([](auto& b) { b[64] = 2, b[65] = b[66] = b[67] = 0; }));  // 2 clusters of 4096
  EXPECT_EQ(g.recordSize, 8192u);
  EXPECT_FALSE(edited([](auto& b) { b[64] = 0, b[65] = b[66] = b[67] = 0; }));
  EXPECT_FALSE(edited([](auto& b) { b[64] = 0x80; }));  // 2^128 bytes
}

TEST(BootSector, RandomSectorsNeverPassForRealGeometryByAccident) {
  std::uint64_t seed = 99;
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    auto s = test::RandomBytes(512, ++seed);
    if (i % 2) s[510] = 0x55, s[511] = 0xAA;
    auto info = IdentifyBootSector(ByteSpan(s));
    if (info.kind == FsKind::Fat) {
      ++accepted;
      FatGeometry g;
      std::string reason;
      ASSERT_TRUE(ParseFatBootSector(ByteSpan(s), g, reason));
      ASSERT_LT(g.firstDataSector, g.totalSectors);
      ASSERT_GT(g.clusterCount, 0u);
    }
  }
  EXPECT_LT(accepted, 200);
}

}  // namespace
}  // namespace relictor
