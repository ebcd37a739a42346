// The exFAT structures byte by byte, and damaged volumes: a volume made by
// mkfs.exfat and the fixture tool, with single fields edited in place to
// hit each rule about what is trusted and what is not.

#include <gtest/gtest.h>

#include <cstring>

#include "exfat/exfat_fixture.h"
#include "scan/deep_scan.h"
#include "volume/boot_sector.h"

namespace relictor::test {
namespace {

// Writes the `width` low bytes of `v` at `at`, little-endian.
void SetLe(std::vector<std::uint8_t>& b, std::size_t at, int width, std::uint64_t v) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A 4 MiB volume with 4 KiB clusters holding one folder and two files, made
// once; each test edits a copy.
class ExFatCrafted : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string image = *dir_ / "base.img";
    MakeExFat(image, "4M", "-c 4K -L BASE");
    data_ = RandomBytes(10000, 31);
    WriteFile(*dir_ / "data", data_);
    WriteExFat(image, "mkdir\t/Sub\nput\t/file.bin\t" + (*dir_ / "data") + "\nput\t/Sub/gone.bin\t" + (*dir_ / "data") +
                          "\tnofat\nrm\t/Sub/gone.bin\n");
    base_ = ReadFile(image);
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override { img_ = base_; }

  ByteSpan Boot() const { return ByteSpan(img_.data(), 512); }
  std::uint64_t ClusterOffset(std::uint32_t c) const {
    return static_cast<std::uint64_t>(le32(Boot(), 88)) * 512 + static_cast<std::uint64_t>(c - 2) * 4096;
  }
  // The offset of the first entry of the root's cluster that `match` takes.
  template <typename Match>
  std::size_t RootEntry(Match match) const {
    const std::size_t root = static_cast<std::size_t>(ClusterOffset(le32(Boot(), 96)));
    for (std::size_t at = root; at < root + 4096; at += 32) {
      if (match(at)) return at;
    }
    ADD_FAILURE() << "no such entry in the root";
    return 0;
  }
  // The offset of the File entry of the set named `name` (ASCII) in the root.
  std::size_t RootSet(const std::string& name) const {
    return RootEntry([&](std::size_t at) {
      if ((img_[at] & 0x7F) != 0x05) return false;
      std::string n;
      for (std::size_t k = 0; k < img_[at + 32 + 3] && k < 15; ++k) n += static_cast<char>(img_[at + 66 + 2 * k]);
      return n == name;
    });
  }
  void Reseal(std::size_t set) {
    const std::size_t bytes = (1 + static_cast<std::size_t>(img_[set + 1])) * 32;
    const std::uint16_t sum = ExFatSetChecksum(ByteSpan(img_.data() + set, bytes));
    img_[set + 2] = static_cast<std::uint8_t>(sum), img_[set + 3] = static_cast<std::uint8_t>(sum >> 8);
  }
  std::unique_ptr<CExFATDriver> Open() { return OpenExFatBytes(img_); }

  static TempDir* dir_;
  static std::vector<std::uint8_t> base_;
  static std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> img_;
};
TempDir* ExFatCrafted::dir_ = nullptr;
std::vector<std::uint8_t> ExFatCrafted::base_;
std::vector<std::uint8_t> ExFatCrafted::data_;

TEST_F(ExFatCrafted, BootSectorsWithGeometryTheFormatDoesNotAllowAreRefused) {
  struct Edit {
    const char* what;
    std::size_t at;
    int width;
    std::uint64_t value;
    const char* reason;
  };
  const Edit edits[] = {
      {"sector shift 8", 108, 1, 8, "sector size"},
      {"sector shift 13", 108, 1, 13, "sector size"},
      {"cluster of 64 MiB", 109, 1, 17, "32 MiB"},
      {"no FAT", 110, 1, 0, "FAT count"},
      {"three FATs", 110, 1, 3, "FAT count"},
      {"FAT inside the boot regions", 80, 4, 12, "boot regions"},
      {"no clusters", 92, 4, 0, "no data clusters"},
      {"more clusters than numbers", 92, 4, 0xFFFFFFF7u, "more clusters"},
      {"cluster count past the volume", 92, 4, 100000, "FAT is too small"},
      {"FAT too small", 84, 4, 1, "FAT is too small"},
      {"heap over the FAT", 88, 4, 30, "overlaps the FAT"},
      {"volume shorter than the heap", 72, 8, 100, "does not fit the volume"},
      {"root cluster 1", 96, 4, 1, "root folder cluster"},
      {"root cluster past the end", 96, 4, 0x7FFFFFFF, "root folder cluster"},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    std::vector<std::uint8_t> b(base_.begin(), base_.begin() + 512);
    SetLe(b, e.at, e.width, e.value);
    ExFatGeometry g;
    std::string reason;
    EXPECT_FALSE(ParseExFatBootSector(ByteSpan(b), g, reason));
    EXPECT_NE(reason.find(e.reason), std::string::npos) << reason;
    // Neither is it taken for any other file system.
    EXPECT_EQ(IdentifyBootSector(ByteSpan(b)).kind, FsKind::None);
  }
  std::vector<std::uint8_t> b(base_.begin(), base_.begin() + 512);
  EXPECT_EQ(IdentifyBootSector(ByteSpan(b)).kind, FsKind::ExFat);
  b[20] = 1;  // where FAT keeps its parameters, exFAT keeps zeros
  EXPECT_FALSE(HasExFatSignature(ByteSpan(b)));
}

TEST_F(ExFatCrafted, BootRegionChecksumFallsBackOnTheBackup) {
  // The flags and the percentage in use change on a mounted volume and are
  // not summed.
  img_[106] ^= 1, img_[112] = 77;
  EXPECT_TRUE(ExFatBootRegionIsValid(ByteSpan(img_), 512));
  img_[600] ^= 0xFF;  // in the first extended boot sector
  auto backup = Open();
  ASSERT_NE(backup, nullptr);
  EXPECT_FALSE(backup->BootChecksumMatches());
  EXPECT_TRUE(backup->UsedBackupBootRegion());
  EXPECT_EQ(ExSave(Child(backup->GetRoot(), "file.bin")), data_);

  img_[12 * 512 + 600] ^= 0xFF;  // and in the backup's
  auto neither = Open();
  ASSERT_NE(neither, nullptr);
  EXPECT_FALSE(neither->UsedBackupBootRegion());
  ASSERT_FALSE(neither->Problems().empty());
  EXPECT_NE(neither->Problems().front().find("checksum does not match"), std::string::npos);
  EXPECT_EQ(ExSave(Child(neither->GetRoot(), "file.bin")), data_);

  std::memset(img_.data(), 0, 512);  // main boot sector gone: the backup serves
  auto fromBackup = Open();
  EXPECT_EQ(fromBackup, nullptr);  // the backup region is damaged too
  img_[12 * 512 + 600] ^= 0xFF;
  fromBackup = Open();
  ASSERT_NE(fromBackup, nullptr);
  EXPECT_TRUE(fromBackup->UsedBackupBootRegion());
}

TEST_F(ExFatCrafted, DamagedSetsAreSkippedOrReadWithCare) {
  // A byte of the set set to `value` (or flipped by it), the checksum
  // made to match again or not.
  struct Damage {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    bool flip, reseal, listed;
  };
  const Damage damages[] = {
      {"secondary count 255", 1, 255, false, true, false},
      {"name longer than the set", 32 + 3, 200, false, true, false},
      {"stream missing", 32, 0xC1, false, true, false},
      {"checksum wrong, name hash right", 8, 1, true, false, true},
      {"checksum and name hash wrong", 66, 'F', false, false, false},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    img_ = base_;
    const std::size_t set = RootSet("file.bin");
    img_[set + d.at] = d.flip ? static_cast<std::uint8_t>(img_[set + d.at] ^ d.value) : d.value;
    if (d.reseal) Reseal(set);
    auto v = Open();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Child(v->GetRoot(), "file.bin") != nullptr, d.listed);
    // The sets behind the damaged one are still read.
    EXPECT_NE(Child(v->GetRoot(), "Sub"), nullptr);
  }
}

TEST_F(ExFatCrafted, HostileLengthsAndChainsEndInBoundedWork) {
  const std::size_t set = RootSet("file.bin");
  const std::uint32_t first = le32(ByteSpan(img_), set + 32 + 20);
  const std::uint64_t fat = static_cast<std::uint64_t>(le32(Boot(), 80)) * 512;

  // A data length of 2^64-1 with the valid length left alone: the saved
  // output stops at what the volume could hold.
  SetLe(img_, set + 32 + 24, 8, ~std::uint64_t{0});
  Reseal(set);
  auto huge = Open();
  ASSERT_NE(huge, nullptr);
  std::vector<std::string> problems;
  const std::vector<std::uint8_t> saved = ExSave(Child(huge->GetRoot(), "file.bin"), &problems);
  EXPECT_LE(saved.size(), huge->ClusterCount() * huge->BytesPerCluster());
  EXPECT_TRUE(std::equal(data_.begin(), data_.end(), saved.begin()));
  EXPECT_FALSE(problems.empty());

  // A chain that comes back to its first cluster, under a length that would
  // need far more clusters than it has.
  img_ = base_;
  SetLe(img_, set + 32 + 8, 8, 1u << 20);
  SetLe(img_, set + 32 + 24, 8, 1u << 20);
  Reseal(set);
  SetLe(img_, static_cast<std::size_t>(fat + 4ull * (first + 2)), 4, first);
  auto loop = Open();
  ASSERT_NE(loop, nullptr);
  const std::vector<std::uint8_t> looped = ExSave(Child(loop->GetRoot(), "file.bin"), &problems);
  EXPECT_LE(looped.size(), 64u * 4096);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems.front().find("chain"), std::string::npos) << problems.front();
}

TEST_F(ExFatCrafted, BitmapThatDoesNotFitIsNotTrusted) {
  const std::size_t entry = RootEntry([&](std::size_t at) { return img_[at] == 0x81; });
  ASSERT_NE(entry, 0u);
  const struct {
    const char* what;
    std::size_t at;
    int width;
    std::uint64_t value;
  } edits[] = {
      {"one byte long", 24, 8, 1},
      {"2^64-1 bytes long", 24, 8, ~std::uint64_t{0}},
      {"first cluster past the last", 20, 4, 0xFFFFFFF0u},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.what);
    img_ = base_;
    SetLe(img_, entry + e.at, e.width, e.value);
    auto v = Open();
    ASSERT_NE(v, nullptr);
    EXPECT_FALSE(v->Bitmap().Loaded());
    EXPECT_FALSE(v->Problems().empty());
    // Without a bitmap nothing counts as free, and the scan still ends.
    EXPECT_TRUE(DeepScan(*v, nullptr));
  }
}

TEST_F(ExFatCrafted, TruncatedImageOpensAndReadsWhatIsThere) {
  img_.resize(img_.size() * 3 / 4);
  auto v = Open();
  ASSERT_NE(v, nullptr);
  EXPECT_NE(Child(v->GetRoot(), "file.bin"), nullptr);
  EXPECT_TRUE(DeepScan(*v, nullptr));
}

TEST(ExFatStructures, TimestampsTakeTheirTenMillisecondsAndOffset) {
  // 2020-02-29 23:59:58 local, packed.
  const std::uint32_t packed = (40u << 25) | (2u << 21) | (29u << 16) | (23u << 11) | (59u << 5) | 29u;
  std::tm tm{};
  tm.tm_year = 120, tm.tm_mon = 1, tm.tm_mday = 29, tm.tm_hour = 23, tm.tm_min = 59, tm.tm_sec = 58;
  const EntryTime local = static_cast<EntryTime>(timegm(&tm));
  struct Case {
    std::uint8_t tenMs, offset;
    EntryTime expected;
  };
  const Case cases[] = {
      {0, 0x80, local},                  // UTC
      {199, 0x80, local + 1},            // 1.99 s more
      {0, 0x80 | 4, local - 3600},       // one hour east
      {0, 0x80 | 0x7C, local + 3600},    // one hour west (-4 quarters)
      {200, 0x80, kNoTime},              // no such fraction
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExFatTimeToEntryTime(ExFatTimestamp{packed, c.tenMs, c.offset}), c.expected)
        << int(c.tenMs) << " " << int(c.offset);
  }
  EXPECT_EQ(ExFatTimeToEntryTime(ExFatTimestamp{packed & ~(0x1Fu << 16), 0, 0x80}), kNoTime);  // day 0
  EXPECT_EQ(ExFatTimeMilliseconds(ExFatTimestamp{packed, 157, 0}), 570u);
}

TEST(ExFatStructures, UpcaseTableExpandsRunsAndRefusesOverflow) {
  auto table = [](std::initializer_list<std::uint16_t> values) {
    std::vector<std::uint8_t> b;
    for (std::uint16_t v : values) b.push_back(static_cast<std::uint8_t>(v)), b.push_back(static_cast<std::uint8_t>(v >> 8));
    return b;
  };
  ExFatUpcaseTable t;
  std::string reason;
  const auto stored = table({0xFFFF, 0x61, 'A', 'B', 'C'});
  ASSERT_TRUE(t.Parse(ByteSpan(stored), reason)) << reason;
  EXPECT_EQ(t.Upper('a'), u'A');
  EXPECT_EQ(t.Upper('c'), u'C');
  EXPECT_EQ(t.Upper('d'), u'd');  // past the table
  EXPECT_EQ(t.Upper('0'), u'0');
  const auto tooMany = table({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
  EXPECT_FALSE(t.Parse(ByteSpan(tooMany), reason));
  // The same name hashes alike in either case.
  ASSERT_TRUE(t.Parse(ByteSpan(stored), reason));
  EXPECT_EQ(ExFatNameHash(u"abc", t), ExFatNameHash(u"ABC", t));
}

}  // namespace
}  // namespace relictor::test
