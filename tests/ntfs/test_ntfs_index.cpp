// The index of MFT records and the record cache: a volume made by mkntfs
// and the fixture tool (half-kilobyte clusters, so records straddle
// clusters) lists every entry exactly as the reader did when it held the
// whole MFT in memory, whatever the cache's shape; the cache keeps to its
// bound; and the cluster bitmap streams in pieces.
//
// data/listing_before_index.tsv holds the listing the whole-MFT reader
// gave of this volume, made the same way: mkntfs -T and fixed time stamps
// make the image the same byte for byte on every run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>
#include <sstream>

#include "ntfs_helpers.h"

namespace relictor::test {
namespace {

class NtfsIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!dir_) Make();
    ASSERT_TRUE(made_) << "the image could not be made";
    // The listing's times are in UTC.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  static void Make() {
    dir_ = new TempDir;
    image_ = new std::string(*dir_ / "vol.img");
    MakeScenarioVolume(*dir_, *image_, "40M", 512, 512, "GOLD", "mkdir /bulk\nmkfiles /bulk 300 g 10\n");
    made_ = true;
  }
  static void TearDownTestSuite() {
    delete image_;
    delete dir_;
  }

  // One line per entry, as the command line's recursive listing walks the
  // tree: path, kind, deletion, status, sizes, type, times, attributes and
  // first cluster. Folders the reader makes at the time of reading have
  // "-" for their times. With `streamed`, folders that can hand out their
  // entries one at a time do so, as the command line's listing takes them.
  static std::vector<std::string> Listing(CNTFSDriver& d, bool streamed = false) {
    std::vector<std::string> lines;
    std::set<std::uint64_t> seen;
    std::function<void(CDirectory&, const std::string&, int)> walk = [&](CDirectory& folder,
                                                                         const std::string& path, int depth) {
      std::vector<std::pair<CDirectory*, std::string>> subfolders;
      std::vector<std::unique_ptr<CDirEntry>> streamedFolders;
      auto list = [&](CDirEntry& e) {
        const bool isFolder = e.IsFolder();
        const bool madeNow = &folder == d.GetRoot() ? (&e == d.GetLostFiles() || &e == d.GetDeletedFiles())
                                                    : &folder == d.GetDeletedFiles() && isFolder;
        char date[kDateTextCapacity];
        std::ostringstream s;
        s << path + e.name << '\t' << (isFolder ? "folder" : "file") << '\t' << e.deleted << '\t'
          << e.GetStatusText() << '\t' << (isFolder ? e.size : e.GetSize()) << '\t'
          << (isFolder ? e.allocatedSize : e.GetSizeOnDisk()) << '\t' << (isFolder ? e.GetTypeText() : e.typeText);
        if (madeNow) {
          s << "\t-\t-\t-";
        } else {
          s << '\t' << std::string(date, FormatDateTimeTo(e.created, date));
          s << '\t' << std::string(date, FormatDateTimeTo(e.modified, date));
          s << '\t' << std::string(date, e.GetAccessedTextTo(date));
        }
        std::uint64_t cluster = 0;
        s << '\t' << e.attributes << '\t' << (e.GetFirstCluster(cluster) ? std::to_string(cluster) : "-");
        lines.push_back(s.str());
        auto* sub = dynamic_cast<CDirectory*>(&e);
        if (sub && sub != d.GetLostFiles()) subfolders.push_back({sub, path + e.name + "\\"});
      };
      const bool wasStreamed = streamed && folder.StreamEntries(true, true, [&](std::unique_ptr<CDirEntry> e) {
        list(*e);
        if (e->IsFolder()) streamedFolders.push_back(std::move(e));
        return true;
      });
      if (!wasStreamed) {
        if (!folder.populated) folder.Populate(true, true, false);
        for (auto& child : folder.children) list(*child);
      }
      if (depth >= 64) return;
      for (auto& [sub, subPath] : subfolders) {
        std::uint64_t key = 0;
        if (sub->GetFolderKey(key) && !seen.insert(key).second) continue;
        walk(*sub, subPath, depth + 1);
      }
    };
    walk(*d.GetRoot(), "", 0);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  static std::vector<std::string> Before() {
    std::vector<std::string> lines;
    const Bytes bytes = ReadFile(SourceDir() + "/tests/ntfs/data/listing_before_index.tsv");
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }

  static void ExpectSameListing(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    EXPECT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
      ASSERT_EQ(got[i], want[i]) << "first differing entry, line " << i;
    }
  }

  static TempDir* dir_;
  static std::string* image_;
  static bool made_;
};

TempDir* NtfsIndex::dir_ = nullptr;
std::string* NtfsIndex::image_ = nullptr;
bool NtfsIndex::made_ = false;

// Records of 256 bytes that carry their own number, read by a reader that
// counts its calls.
TEST(NtfsRecordCacheTest, HoldsAtMostItsBoundAndReadsAheadInBlocks) {
  constexpr std::uint32_t kSize = 256;
  constexpr std::uint64_t kCount = 1000;
  std::uint64_t reads = 0, recordsRead = 0;
  NtfsRecordCache cache;
  cache.Configure(kSize, kCount, 16 * kSize, 4, [&](std::uint64_t first, std::uint64_t count, std::uint8_t* out) {
    ++reads;
    recordsRead += count;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t n = first + i;
      if (n % 7 == 3) continue;  // no record here
      std::memcpy(out + i * kSize, "FILE", 4);
      std::memcpy(out + i * kSize + 8, &n, sizeof n);
    }
  });
  EXPECT_EQ(cache.BoundBytes(), 4u * 16 * kSize);
  std::vector<std::uint8_t> r;
  auto check = [&](std::uint64_t n) {
    const bool got = cache.Copy(n, r);
    if (n >= kCount || n % 7 == 3) {
      EXPECT_FALSE(got) << n;
      EXPECT_TRUE(r.empty());
      return;
    }
    ASSERT_TRUE(got) << n;
    ASSERT_EQ(r.size(), kSize);
    std::uint64_t stored = 0;
    std::memcpy(&stored, r.data() + 8, sizeof stored);
    EXPECT_EQ(stored, n);
  };
  // In record order each block is read once.
  for (std::uint64_t n = 0; n < kCount; ++n) check(n);
  EXPECT_EQ(reads, (kCount + 15) / 16);
  EXPECT_EQ(recordsRead, kCount) << "the last block is cut at the MFT's end";
  // Scattered reads evict the least recently used blocks, never more.
  std::uint64_t x = 12345;
  for (int i = 0; i < 5000; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    check((x >> 33) % (kCount + 50));
    ASSERT_LE(cache.HeldBytes(), cache.BoundBytes());
  }
  // A block in steady use stays while others come and go.
  const std::uint64_t before = reads;
  for (std::uint64_t b = 1; b < 40; ++b) {
    check(5);
    check(b * 16 + 1);
  }
  EXPECT_LE(reads - before, 40u);
  check(kCount);
  check(~std::uint64_t{0});
}

TEST_F(NtfsIndex, EveryEntryIsListedAsByTheWholeMftReaderWhateverTheCachesShape) {
  const auto before = Before();
  ASSERT_GT(before.size(), 300u);
  struct Shape {
    const char* name;
    std::size_t blockBytes, blocks;
    bool streamed;
  };
  // The default; one record held at a time, so that every read of another
  // record evicts the one before; a few small blocks; and the entries of
  // folders handed out one at a time rather than kept.
  const Shape shapes[] = {{"default", 256u << 10, 16, false},
                          {"one record", 1, 1, false},
                          {"three blocks of 4", 4096, 3, false},
                          {"default, streamed", 256u << 10, 16, true},
                          {"one record, streamed", 1, 1, true}};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::string error;
    auto source = FileSource::Open(*image_, error);
    ASSERT_TRUE(source) << error;
    auto d = std::make_unique<CNTFSDriver>();
    d->SetRecordCacheShape(shape.blockBytes, shape.blocks);
    d->SetDevice(source);
    ASSERT_TRUE(d->Open('C', kDriveFixed, "C:\\", false)) << d->OpenError();
    ExpectSameListing(Listing(*d, shape.streamed), before);
    // A streamed folder keeps no entries of its own.
    auto bulk = std::find_if(d->GetRoot()->children.begin(), d->GetRoot()->children.end(),
                             [](const auto& c) { return c->name == "bulk"; });
    ASSERT_NE(bulk, d->GetRoot()->children.end());
    EXPECT_EQ(static_cast<CDirectory&>(**bulk).children.empty(), shape.streamed);
    EXPECT_EQ(d->MftLoads(), 1);
    NtfsRecordCache& cache = d->RecordCache();
    EXPECT_LE(cache.HeldBytes(), cache.BoundBytes());
    EXPECT_LE(cache.BoundBytes(), std::max<std::size_t>(shape.blockBytes, d->RecordSize()) * shape.blocks);
    // The saved bytes come through the same records.
    EXPECT_EQ(Save(Find(*d, "/many.bin")).bytes, Gen(1200000, 10));
    EXPECT_EQ(Save(Find(*d, "/attr/moved.bin")).bytes, Gen(20000, 9));
  }
}

TEST_F(NtfsIndex, TheIndexIsSmallBesideTheMft) {
  auto d = OpenNtfsFile(*image_);
  ASSERT_TRUE(d);
  ASSERT_TRUE(d->LoadMft());
  std::uint64_t listable = 0;
  for (std::uint64_t i = 0; i < d->RecordCount(); ++i) {
    NtfsRecordHeader h;
    NtfsName fn;
    listable += d->ListableRecord(i, h, fn);
  }
  ASSERT_GT(listable, 300u);
  EXPECT_LE(d->IndexBytes(), 32 * listable + d->RecordCount() / 8 + 4096);
}

TEST_F(NtfsIndex, TheClusterBitmapStreamsEveryClusterOnceWithTheFilesClustersInUse) {
  auto d = OpenNtfsFile(*image_);
  ASSERT_TRUE(d);
  std::vector<bool> used(static_cast<std::size_t>(d->ClusterCount()));
  std::uint64_t next = 0;
  const bool whole = d->StreamClusterBitmap([&](std::uint64_t first, ByteSpan bits, std::uint64_t clusters) {
    EXPECT_EQ(first, next);
    EXPECT_LE(bits.size(), CNTFSDriver::kBitmapPieceBytes);
    EXPECT_LE(clusters, bits.size() * 8);
    for (std::uint64_t c = 0; c < clusters; ++c) used[static_cast<std::size_t>(first + c)] = bits[c / 8] >> (c % 8) & 1;
    next = first + clusters;
    return true;
  });
  EXPECT_TRUE(whole);
  EXPECT_EQ(next, d->ClusterCount());
  // The runs of a file in use are in use; the boot sector is.
  EXPECT_TRUE(used[0]);
  const auto info = FixtureInfo(*image_, "/many.bin");
  std::istringstream runs(info.at("runlist"));
  int checked = 0;
  for (std::string run; std::getline(runs, run, ',');) {
    std::uint64_t vcn = 0, length = 0;
    long long lcn = 0;
    ASSERT_EQ(std::sscanf(run.c_str(), "%llu:%lld:%llu", reinterpret_cast<unsigned long long*>(&vcn), &lcn,
                          reinterpret_cast<unsigned long long*>(&length)),
              3);
    for (std::uint64_t c = 0; c < length; ++c) EXPECT_TRUE(used[static_cast<std::size_t>(lcn + c)]);
    ++checked;
  }
  EXPECT_GE(checked, 250);
  // Most of the 40 MiB volume is free.
  EXPECT_GT(std::count(used.begin(), used.end(), false), static_cast<long>(d->ClusterCount() / 2));
  // A visitor that stops ends the stream.
  int calls = 0;
  EXPECT_FALSE(d->StreamClusterBitmap([&](std::uint64_t, ByteSpan, std::uint64_t) { return ++calls > 1; }));
}

}  // namespace
}  // namespace relictor::test
