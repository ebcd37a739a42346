// The NTFS reader over volumes made by mkntfs and the fixture tool, with
// 4 KiB and 512-byte clusters and 1 KiB and 4 KiB records: the tree it
// shows (existing and deleted entries, "DeletedFiles"), the names, sizes,
// times and status it gives, and the bytes it recovers, compared with what
// was put in.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "ntfs_helpers.h"
#include "volume/cluster_bitmap.h"
#include "volume/endian.h"

namespace relictor::test {
namespace {

struct Kind {
  const char* name;
  int cluster;
  int sector;  // mkntfs's sector size; 4096 gives 4 KiB records
};

const Kind kKinds[] = {
    {"c4096_r1024", 4096, 512},
    {"c512_r1024", 512, 512},
    {"c4096_r4096", 4096, 4096},
};

struct Scenario {
  std::unique_ptr<TempDir> dir;
  std::string image;
  Bytes jpeg, text;
  std::uint64_t reusedRecord = 0;
  std::map<std::string, std::string> many;  // fixture info of /many.bin
  std::map<std::string, std::string> packed;
  std::map<std::string, std::string> big;
};

std::map<std::string, Scenario>& Scenarios() {
  static std::map<std::string, Scenario> s;
  return s;
}

class NtfsImage : public ::testing::TestWithParam<Kind> {
 protected:
  // The images are made by the first test that runs, so that a failure to
  // make them fails that test instead of skipping the suite.
  static void Make() {
    for (const Kind& k : kKinds) {
      Scenario s;
      s.dir = std::make_unique<TempDir>();
      s.image = *s.dir / "vol.img";
      MakeScenarioVolume(*s.dir, s.image, "24M", k.cluster, k.sector, "TESTVOL");
      s.jpeg = ReadFile(*s.dir / "photo.jpg");
      s.text = ReadFile(*s.dir / "text.txt");
      s.reusedRecord = std::stoull(FixtureInfo(s.image, "/newcomer.txt")["record"]);
      s.many = FixtureInfo(s.image, "/many.bin");
      s.packed = FixtureInfo(s.image, "/docs/packed.txt");
      s.big = FixtureInfo(s.image, "/docs/big.bin");
      if (k.sector != 512) {
        // The reader takes 512 and 1024-byte sectors only: the same volume
        // described in 512-byte sectors, clusters and records unchanged.
        Bytes b = ReadFile(s.image);
        const std::uint32_t factor = static_cast<std::uint32_t>(k.sector / 512);
        Put16(b, 11, 512);
        b[13] = static_cast<std::uint8_t>(b[13] * factor);
        Put64(b, 40, le64(ByteSpan(b), 40) * factor);
        WriteFile(s.image, b);
      }
      Scenarios()[k.name] = std::move(s);
    }
  }
  static void TearDownTestSuite() { Scenarios().clear(); }

  void SetUp() override {
    if (Scenarios().empty()) Make();
    ASSERT_EQ(Scenarios().size(), std::size(kKinds));
    s_ = &Scenarios()[GetParam().name];
    ASSERT_NE(s_->reusedRecord, 0u) << "the image could not be made";
    d_ = OpenNtfsFile(s_->image);
    ASSERT_TRUE(d_);
  }

  // Bytes a file entry saves, which must come without problems.
  Bytes Saved(const std::string& path) {
    CDirEntry* e = Find(*d_, path);
    EXPECT_TRUE(e) << path;
    if (!e) return {};
    relictor::test::Saved s = Save(e);
    EXPECT_TRUE(s.ok) << path;
    EXPECT_TRUE(s.problems.empty()) << path << ": " << (s.problems.empty() ? "" : s.problems[0]);
    return s.bytes;
  }

  Scenario* s_ = nullptr;
  std::unique_ptr<CNTFSDriver> d_;
};

TEST_P(NtfsImage, TheRootListsTheSpecialFoldersFirstAndNoMetadata) {
  EXPECT_EQ(d_->VolumeLabel(), "TESTVOL");
  EXPECT_EQ(d_->RecordSize(), GetParam().sector == 4096 ? 4096u : 1024u);
  auto names = ChildNames(d_->GetRoot());
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "LostFiles");
  EXPECT_EQ(names[1], "DeletedFiles");
  std::set<std::string> rest(names.begin() + 2, names.end());
  EXPECT_EQ(rest, (std::set<std::string>{"docs", "deep", "links", "attr", "many.bin", "pics", "trash", "newcomer.txt"}));
  EXPECT_EQ(rest.size(), names.size() - 2) << "a name is listed twice";
  for (const auto& n : names) EXPECT_NE(n[0], '$') << n;
}

TEST_P(NtfsImage, FilesComeBackWithTheirBytesSizesAndTimes) {
  EXPECT_EQ(Saved("/docs/resident.txt"), (Bytes{'s', 'm', 'a', 'l', 'l', ' ', 'a', 'n', 'd', ' ', 'r', 'e', 's',
                                                 'i', 'd', 'e', 'n', 't'}));
  EXPECT_EQ(Saved("/docs/big.bin"), Gen(300000, 1)) << "the named stream must not be mixed in";
  EXPECT_TRUE(Saved("/docs/empty.bin").empty());
  EXPECT_EQ(Saved("/docs/tiny.bin"), Gen(20, 2));
  Bytes sparse(2 << 20, 0);
  auto put = [&](std::size_t at, const Bytes& b) { std::copy(b.begin(), b.end(), sparse.begin() + at); };
  put(0, Gen(5000, 3));
  put(1 << 20, Gen(100, 4));
  put(0x1FF000, Gen(4096, 5));
  EXPECT_TRUE(Saved("/docs/sparse.bin") == sparse);
  EXPECT_EQ(Saved("/docs/frag.bin"), Gen(400000, 6));
  EXPECT_EQ(Saved(std::string("/docs/") + kScenarioUnicodeName), (Bytes{'u', 'n', 'i', 'c', 'o', 'd', 'e'}));
  EXPECT_EQ(Saved("/docs/LongFileName.txt").size(), 16u);
  EXPECT_EQ(Saved("/deep/a/b/c/d/e/f/g/h/i/j/k/l/leaf.txt"), (Bytes{'l', 'e', 'a', 'f'}));
  EXPECT_EQ(Saved("/many.bin"), Gen(1200000, 10));
  EXPECT_EQ(Saved("/pics/photo.jpg"), s_->jpeg);
  EXPECT_TRUE(Saved("/docs/packed.txt") == s_->text);
  EXPECT_LT(std::stoull(s_->packed["ondisk"]), s_->text.size()) << "the fixture did not compress";

  CNTFSFile* big = FindFile(*d_, "/docs/big.bin");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->GetSize(), 300000u);
  EXPECT_EQ(big->GetSizeOnDisk(), std::stoull(s_->big["alloc"]));
  EXPECT_EQ(big->status, kStatusExisting);
  EXPECT_FALSE(big->deleted);
  EXPECT_EQ(big->typeText, "bin");
  std::uint64_t cluster = 0;
  ASSERT_TRUE(big->GetFirstCluster(cluster));
  const std::string runlist = s_->big["runlist"];
  EXPECT_EQ(std::to_string(cluster), runlist.substr(2, runlist.find(':', 2) - 2));
  EXPECT_EQ(FindFile(*d_, "/docs/resident.txt")->modified, 1000000000);
  EXPECT_EQ(FindFile(*d_, "/docs/resident.txt")->accessed, 1000000000);
  EXPECT_EQ(FindFile(*d_, "/docs/tiny.bin")->created, 1700000000);
  EXPECT_EQ(FindFile(*d_, "/docs/resident.txt")->GetAccessedText().size(), 19u) << "no time of day";
  // Times and flags of an edited file are those the file system keeps up
  // to date, not the copies in its names; so for a deleted file, and for a
  // file whose names lie in an extension record.
  struct Expected {
    const char* path;
    EntryTime created, modified, accessed;
    std::uint32_t flags;
  };
  for (const Expected& x : {Expected{"/docs/LongFileName.txt", 1500000000, 1600000000, 1650000000, 0x23},
                            Expected{"/attr/named.txt", 1300000000, 1300000001, 1300000002, 0x20}}) {
    SCOPED_TRACE(x.path);
    CNTFSFile* f = FindFile(*d_, x.path);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->created, x.created);
    EXPECT_EQ(f->modified, x.modified);
    EXPECT_EQ(f->accessed, x.accessed);
    EXPECT_EQ(f->attributes, x.flags);
  }
  CNTFSDirectory* trash = FindDir(*d_, "/trash");
  ASSERT_TRUE(trash);
  CNTFSFile* gone = dynamic_cast<CNTFSFile*>(Child(trash, "gone.txt"));
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->deleted);
  EXPECT_EQ(gone->created, 1400000000);
  EXPECT_EQ(gone->modified, 1400000600);
  EXPECT_EQ(gone->accessed, 1400001200);
  EXPECT_EQ(gone->attributes, 0x21u);
  EXPECT_EQ(gone->GetSize(), 3u);
  // A file whose two copies agree shows the one time of both.
  EXPECT_EQ(FindFile(*d_, "/docs/tiny.bin")->modified, 1700000000);
  CNTFSFile* empty = FindFile(*d_, "/docs/empty.bin");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->GetSize(), 0u);
  EXPECT_EQ(empty->GetSizeOnDisk(), d_->BytesPerCluster());
}

TEST_P(NtfsImage, NamesInEveryNameSpaceAndPlace) {
  auto docs = ChildNames(FindDir(*d_, "/docs"));
  EXPECT_NE(std::find(docs.begin(), docs.end(), "LongFileName.txt"), docs.end());
  EXPECT_EQ(std::find(docs.begin(), docs.end(), "LONGFI~1.TXT"), docs.end());
  EXPECT_NE(std::find(docs.begin(), docs.end(), kScenarioUnicodeName), docs.end());
  // Ten names in all, an attribute list among them: one entry, under the
  // file's first name.
  EXPECT_EQ(ChildNames(FindDir(*d_, "/links")), (std::vector<std::string>{"file"}));
  EXPECT_EQ(Saved("/links/file"), Gen(5000, 8));
  // Data and names moved to extension records.
  EXPECT_EQ(Saved("/attr/moved.bin"), Gen(20000, 9));
  EXPECT_EQ(Saved("/attr/named.txt"), (Bytes{'n', 'a', 'm', 'e', 'd'}));
  auto listed = ChildNames(FindDir(*d_, "/attr/listed"));
  EXPECT_EQ(listed.size(), 20u);
  EXPECT_EQ(Saved("/attr/listed/f000007"), Gen(100, 7));
  EXPECT_TRUE(FindDir(*d_, "/attr")->HasSubfolders(true));
  if (GetParam().sector == 512 && GetParam().cluster == 4096) {
    EXPECT_GE(std::stoi(s_->many["extents"]), 2) << "the run list of many.bin fits one record: make it longer";
  }
}

TEST_P(NtfsImage, DeletedFilesAndFoldersAreListedRatedAndRecovered) {
  // A deleted folder in its parent, with its deleted children.
  CNTFSDirectory* trash = FindDir(*d_, "/trash");
  ASSERT_TRUE(trash);
  EXPECT_TRUE(trash->deleted);
  EXPECT_EQ(trash->status, kStatusExisting);
  auto names = ChildNames(trash);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"gone.bin", "gone.txt", "sub"}));
  CNTFSFile* gone = FindFile(*d_, "/trash/gone.bin");
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->deleted);
  EXPECT_EQ(gone->status, kStatusGood);
  EXPECT_EQ(gone->GetSize(), 12000u);
  EXPECT_EQ(Saved("/trash/gone.bin"), Gen(12000, 11));
  EXPECT_EQ(FindFile(*d_, "/trash/gone.txt")->status, kStatusGood);
  EXPECT_EQ(Saved("/trash/sub/inner.txt"), (Bytes{'i', 'n', 'n', 'e', 'r'}));
  EXPECT_TRUE(FindDir(*d_, "/trash/sub")->deleted);
  EXPECT_TRUE(trash->HasSubfolders(true));

  // A deleted JPEG whose first cluster still holds it: its real size is
  // that of its data (ntfs-3g leaves the name's size at 0).
  CNTFSFile* jpeg = FindFile(*d_, "/pics/deleted.jpg");
  ASSERT_TRUE(jpeg);
  EXPECT_TRUE(jpeg->deleted);
  EXPECT_EQ(jpeg->status, kStatusExcellent);
  EXPECT_EQ(Saved("/pics/deleted.jpg"), s_->jpeg);

  // The folder whose record a file took: its deleted children are found
  // in a placeholder named after that record.
  const std::string placeholder = "/DeletedFiles/Cluster_" + std::to_string(s_->reusedRecord);
  CNTFSDirectory* lost = FindDir(*d_, placeholder);
  ASSERT_TRUE(lost) << placeholder;
  EXPECT_EQ(ChildNames(d_->GetDeletedFiles()),
            (std::vector<std::string>{"Cluster_" + std::to_string(s_->reusedRecord)}));
  const auto orphans = ChildNames(lost);
  EXPECT_EQ(std::set<std::string>(orphans.begin(), orphans.end()), (std::set<std::string>{"orphan.bin", "orphan.txt"}));
  EXPECT_EQ(Saved(placeholder + "/orphan.bin"), Gen(9000, 12));
  EXPECT_EQ(Saved(placeholder + "/orphan.txt"), (Bytes{'o', 'r', 'p', 'h', 'a', 'n'}));
  EXPECT_EQ(Saved("/newcomer.txt").size(), 24u);
}

// The records each folder should list, from a plain pass over every
// record, to hold the index against.
std::vector<std::uint64_t> FullPassChildren(CNTFSDriver& d, std::uint64_t folder) {
  std::vector<std::uint64_t> out;
  for (std::uint64_t i = 0; i < d.RecordCount(); ++i) {
    NtfsRecordHeader h;
    NtfsName fn;
    if (!d.ListableRecord(i, h, fn) || fn.fields.parent != folder || fn.fields.parent == i || fn.startsHidden) continue;
    out.push_back(i);
  }
  return out;
}

std::uint64_t RecordOf(CDirEntry* e) {
  if (auto* f = dynamic_cast<CNTFSFile*>(e)) return f->mftRecord;
  if (auto* dir = dynamic_cast<CNTFSDirectory*>(e)) return dir->reference;
  return ~std::uint64_t{0};
}

TEST_P(NtfsImage, EveryFolderListsWhatAPassOverAllRecordsFinds) {
  std::function<void(CNTFSDirectory*, int)> check = [&](CNTFSDirectory* folder, int depth) {
    ASSERT_LT(depth, 32);
    Populated(folder);
    std::vector<std::uint64_t> got;
    bool subfolder = false;
    for (auto& c : folder->children) {
      if (c.get() == d_->GetLostFiles() || c.get() == d_->GetDeletedFiles()) continue;
      got.push_back(RecordOf(c.get()));
      auto* sub = dynamic_cast<CNTFSDirectory*>(c.get());
      if (sub && !(sub->attributes & kNtfsFileAttrSystem)) subfolder = true;
    }
    if (folder->parent != d_->GetDeletedFiles()) {
      EXPECT_EQ(got, FullPassChildren(*d_, folder->reference)) << folder->name;
    }
    if (folder != d_->GetRoot()) {
      EXPECT_EQ(folder->HasSubfolders(true), subfolder) << folder->name;
    }
    for (auto& c : folder->children) {
      auto* sub = dynamic_cast<CNTFSDirectory*>(c.get());
      if (sub && sub != d_->GetLostFiles() && sub != d_->GetDeletedFiles()) check(sub, depth + 1);
    }
  };
  check(dynamic_cast<CNTFSDirectory*>(d_->GetRoot()), 0);
}

// The clusters in use, as $Bitmap gives them to the deep scan: those of
// an existing file and of the MFT are marked, those a deleted file left
// are not. A $Bitmap record that cannot be read marks nothing, so that
// every cluster is examined rather than none.
TEST(NtfsClustersInUse, BitmapMarksWhatIsInUse) {
  TempDir dir;
  const std::string image = dir / "bits.img";
  MakeNtfs(image, "16M", 4096);
  RunFixture(image, "fill /live.bin 40000 1\nfill /gone.bin 40000 2\n");
  auto firstLcn = [&](const std::string& path) {
    const std::string runs = FixtureInfo(image, path)["runlist"];
    return std::stoull(runs.substr(2, runs.find(':', 2) - 2));
  };
  const std::uint64_t live = firstLcn("/live.bin"), gone = firstLcn("/gone.bin");
  RunFixture(image, "delete /gone.bin\n");
  Bytes bytes = ReadFile(image);
  const std::uint64_t mft = le64(ByteSpan(bytes), 0x30);
  Bytes damaged = bytes;
  PutBytes(damaged, static_cast<std::size_t>(mft * 4096 + kNtfsBitmapRecord * 1024), Bytes{'B', 'A', 'A', 'D'});
  const struct {
    const char* name;
    Bytes image;
    bool marks;
  } cases[] = {{"intact", bytes, true}, {"damaged $Bitmap record", damaged, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = OpenNtfsBytes(c.image);
    ASSERT_TRUE(d);
    ClusterBitmap inUse(d->FirstDataCluster(), d->LastDataCluster());
    ASSERT_TRUE(d->MarkKnownClusters(inUse, nullptr));
    EXPECT_EQ(inUse.Test(live), c.marks);
    EXPECT_EQ(inUse.Test(live + 9), c.marks);
    EXPECT_EQ(inUse.Test(mft), c.marks);
    EXPECT_FALSE(inUse.Test(gone));
    EXPECT_FALSE(inUse.Test(gone + 9));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NtfsImage, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace relictor::test
