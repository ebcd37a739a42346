// The deep scan: what it finds in the free clusters of a real FAT volume,
// which clusters it examines, the chosen range, stopping half way, its
// progress steps and the rules of the range chooser.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "fat/fat_fixture.h"
#include "scan/deep_scan.h"
#include "scan/real_files.h"
#include "support/test_support.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor::test {
namespace {

// The FAT reader, remembering every cluster the scan hands it.
class SpyFat final : public CFATDriver {
 public:
  bool ScanCluster(std::uint64_t c, ClusterBitmap& bitmap, ProgressSink* progress) override {
    examined.push_back(c);
    return CFATDriver::ScanCluster(c, bitmap, progress);
  }
  std::vector<std::uint64_t> examined;
};

class PlainFolder final : public CDirectory {
 public:
  bool HasSubfolders(bool) override { return false; }
  void Populate(bool, bool, bool) override { populated = true; }
};

// A volume of blank clusters that only counts what it is asked.
class CountingVolume final : public CVolumeDriver {
 public:
  explicit CountingVolume(std::uint64_t clusters) {
    root_ = std::make_unique<PlainFolder>();
    lostFiles_ = root_->Append(std::make_unique<PlainFolder>());
    bytesPerSector_ = 512;
    sectorsPerCluster_ = 1;
    bytesPerCluster_ = 512;
    clusterCount_ = clusters;
    firstCluster_ = 0;
    lastCluster_ = clusters - 1;
    clusterBuffer_.assign(512, 0);
    device_ = std::make_shared<MemorySource>(std::vector<std::uint8_t>(clusters * 512));
  }
  std::uint64_t FirstDataCluster() const override { return 0; }
  std::uint64_t ClusterToSector(std::uint64_t c) const override { return c; }
  bool ScanCluster(std::uint64_t c, ClusterBitmap&, ProgressSink*) override {
    examined.push_back(c);
    return false;
  }
  bool Attach(SectorSourcePtr, ByteSpan, std::uint64_t) override { return false; }
  std::string FileSystemName() const override { return "TEST"; }
  std::vector<std::uint64_t> examined;
};

class Recorder final : public ProgressSink {
 public:
  void SetText(ProgressText which, const std::string& text) override {
    (which == ProgressText::Status ? statuses : counters).push_back(text);
  }
  void SetRange(ProgressBar, std::uint64_t, std::uint64_t) override {}
  void SetPos(ProgressBar which, std::uint64_t pos) override {
    if (which == ProgressBar::Overall && stopAt && pos >= stopAt) RequestStopHere();
  }
  // Signals the stop event of the worker this sink reports for.
  void RequestStopHere() {
    if (auto event = CurrentStopEvent()) event->Signal();
  }
  std::vector<std::string> statuses, counters;
  std::uint64_t stopAt = 0;  // position (clusters from the first) at which the user cancels
};

class FixedRange final : public ClusterRangeChooser {
 public:
  FixedRange(std::uint64_t s, std::uint64_t e) : start_(s), end_(e) {}
  bool Choose(std::uint64_t, std::uint64_t, std::uint32_t, std::uint64_t& s, std::uint64_t& e) override {
    s = start_, e = end_;
    return true;
  }

 private:
  std::uint64_t start_, end_;
};

// Runs long work on the real worker thread and waits for it, as a front
// end with a progress dialog does.
class WorkerRunner final : public JobRunner {
 public:
  explicit WorkerRunner(ProgressSink* sink) : sink_(sink) {}
  bool Run(WorkerTask& task, const JobInfo& info) override {
    EXPECT_EQ(info.title, "Find Lost Files...");
    task.SetProgress(sink_);
    if (!StartWorker(task)) return false;
    while (IsWorkerRunning()) std::this_thread::yield();
    StopWorker();
    return true;
  }

 private:
  ProgressSink* sink_;
};

struct Plant {
  Plant(const char* f, const char* t) : file(f), type(t) {}
  const char* file;
  const char* type;  // the find's type, or null when nothing must be found
  std::uint64_t cluster = 0;
  std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> Html() {
  std::string t = "<html><head><title>lost</title></head><body>";
  for (int i = 0; i < 300; ++i) t += "<p>paragraph " + std::to_string(i) + "</p>\n";
  t += "</body></html>";
  return {t.begin(), t.end()};
}

// A FAT16 volume of 2048-byte clusters: an existing JPEG, a deleted JPEG
// whose entry survives, and files written straight into free clusters
// with no entry at all. Made once for the suite.
class DeepScanFat : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kCluster = 2048;
  // Free clusters between two planted files: more than the 32 clusters
  // between two progress reports, so that a stop can fall between finds.
  static constexpr std::uint64_t kGap = 64;
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    image_ = *dir_ / "vol.img";
    MakeFat(image_, 16, "32M", "-s 4");
    WriteFile(*dir_ / "kept.jpg", RealFile("photo.jpg"));
    WriteFile(*dir_ / "gone.jpg", RealFile("standard.jpg"));
    Mcopy(image_, *dir_ / "kept.jpg", "/KEPT.JPG");
    Mcopy(image_, *dir_ / "gone.jpg", "/GONE.JPG");
    Mdel(image_, "/GONE.JPG");
    plants_ = new std::vector<Plant>{
        {"photo.jpg", "JPG"}, {"picture.png", "PNG"}, {"picture.bmp", "BMP"}, {"anim.gif", "GIF"},
        {"archive.zip", "ZIP"}, {"sound.wav", "WAV"}, {"page.html", "HTM"}, {"picture.tif", nullptr},
    };
    Layout layout = ReadLayout(ReadFile(image_));
    std::fstream out(image_, std::ios::in | std::ios::out | std::ios::binary);
    std::uint64_t cluster = 3000;
    for (Plant& p : *plants_) {
      p.bytes = std::string(p.file) == "page.html" ? Html() : RealFile(p.file);
      p.cluster = cluster;
      out.seekp(static_cast<std::streamoff>(layout.ClusterOffset(static_cast<std::uint32_t>(cluster))));
      out.write(reinterpret_cast<const char*>(p.bytes.data()), static_cast<std::streamsize>(p.bytes.size()));
      cluster += (p.bytes.size() + kCluster - 1) / kCluster + kGap;
    }
  }
  static void TearDownTestSuite() {
    delete plants_;
    delete dir_;
  }

  std::unique_ptr<SpyFat> Open(Host& host) {
    std::string error;
    auto d = std::make_unique<SpyFat>();
    d->SetHost(&host);
    d->SetDevice(FileSource::Open(image_, error));
    EXPECT_TRUE(d->Open('C', kDriveFixed, "C:\\", false)) << d->OpenError();
    return d;
  }
  static std::map<std::string, CDirEntry*> Finds(CVolumeDriver& v) {
    std::map<std::string, CDirEntry*> out;
    for (auto& c : v.GetLostFiles()->children) out[c->name] = c.get();
    return out;
  }
  static std::uint64_t FirstClusterOf(CVolumeDriver& v, const std::string& name) {
    std::uint64_t c = 0;
    CDirEntry* e = Child(v.GetRoot(), name);
    EXPECT_TRUE(e && e->GetFirstCluster(c)) << name;
    return c;
  }

  static TempDir* dir_;
  static std::string image_;
  static std::vector<Plant>* plants_;
};
TempDir* DeepScanFat::dir_ = nullptr;
std::string DeepScanFat::image_;
std::vector<Plant>* DeepScanFat::plants_ = nullptr;

TEST_F(DeepScanFat, FindsEveryPlantedTypeWithALengthRuleAndNeverLooksInsideAFind) {
  Host host;
  auto fat = Open(host);
  fat->GetRoot()->Populate(true, false, true);  // existing files too
  std::uint64_t kept = FirstClusterOf(*fat, "KEPT.JPG"), gone = FirstClusterOf(*fat, "_ONE.JPG");
  ASSERT_TRUE(ExpandLostFiles(*fat));
  EXPECT_TRUE(fat->GetLostFiles()->populated);
  auto finds = Finds(*fat);
  std::set<std::uint64_t> examined(fat->examined.begin(), fat->examined.end());
  EXPECT_EQ(examined.size(), fat->examined.size()) << "a cluster was examined twice";
  std::size_t expected = 0;
  for (const Plant& p : *plants_) {
    const std::string name = "Cluster_" + std::to_string(p.cluster) + "." + (p.type ? p.type : "TIFF");
    if (!p.type) {
      EXPECT_EQ(finds.count(name), 0u) << name;
      continue;
    }
    ++expected;
    auto* file = dynamic_cast<CFSFile*>(finds[name]);
    ASSERT_TRUE(file) << name;
    EXPECT_EQ(file->GetSize(), p.bytes.size()) << name;
    EXPECT_EQ(file->GetTypeText(), p.type);
    EXPECT_EQ(file->status, kStatusExcellent);
    EXPECT_EQ(SaveBytes(file), p.bytes) << name;
    EXPECT_TRUE(examined.count(p.cluster));
    for (std::uint64_t c = p.cluster + 1; c < p.cluster + (p.bytes.size() + kCluster - 1) / kCluster; ++c) {
      EXPECT_FALSE(examined.count(c)) << name << " cluster " << c;
    }
  }
  EXPECT_EQ(finds.size(), expected);
  // Clusters that the directory accounts for are never examined: the
  // existing file's chain, and the clusters of the deleted file whose data
  // is still whole (a carve inside them would give a piece of it again).
  EXPECT_FALSE(examined.count(kept));
  EXPECT_FALSE(examined.count(kept + 1));
  const std::uint64_t goneClusters = (RealFile("standard.jpg").size() + kCluster - 1) / kCluster;
  ASSERT_GT(goneClusters, 1u);
  EXPECT_EQ(Child(fat->GetRoot(), "_ONE.JPG")->status, kStatusExcellent);
  for (std::uint64_t c = gone; c < gone + goneClusters; ++c) EXPECT_FALSE(examined.count(c)) << c;
  EXPECT_TRUE(examined.count(gone + goneClusters));
  EXPECT_EQ(*examined.rbegin(), fat->ClusterCount() + 1);
}

TEST_F(DeepScanFat, ScansOnlyTheChosenRangeAndKeepsItNarrowed) {
  const Plant& png = (*plants_)[1];
  const Plant& bmp = (*plants_)[2];
  // From the PNG to one cluster short of the BMP's end: the BMP reaches
  // past the range and is no find.
  const std::uint64_t start = png.cluster, end = bmp.cluster + bmp.bytes.size() / kCluster - 1;
  FixedRange range(start, end);
  Host host;
  host.rangeChooser = &range;
  auto fat = Open(host);
  ASSERT_TRUE(ExpandLostFiles(*fat));
  auto finds = Finds(*fat);
  ASSERT_EQ(finds.size(), 1u);
  EXPECT_EQ(finds.begin()->first, "Cluster_" + std::to_string(png.cluster) + ".PNG");
  EXPECT_EQ(*std::min_element(fat->examined.begin(), fat->examined.end()), start);
  EXPECT_EQ(*std::max_element(fat->examined.begin(), fat->examined.end()), end);
  EXPECT_EQ(fat->FirstCluster(), start);
  EXPECT_EQ(fat->LastCluster(), end);
}

TEST_F(DeepScanFat, AStopHalfWayKeepsTheFindsButAsksAgainNextTime) {
  Recorder progress;
  // The user cancels in the gap between the GIF and the ZIP.
  const std::uint64_t stopCluster = (*plants_)[4].cluster - kGap + 2;
  progress.stopAt = stopCluster - 2;  // positions count from the first cluster, 2
  WorkerRunner runner(&progress);
  Host host;
  host.jobs = &runner;
  auto fat = Open(host);
  ASSERT_TRUE(ExpandLostFiles(*fat));
  EXPECT_FALSE(fat->GetLostFiles()->populated);
  EXPECT_EQ(Finds(*fat).size(), 4u);
  EXPECT_LT(*std::max_element(fat->examined.begin(), fat->examined.end()), (*plants_)[4].cluster);

  progress.stopAt = 0;
  fat->examined.clear();
  ASSERT_TRUE(ExpandLostFiles(*fat));
  EXPECT_TRUE(fat->GetLostFiles()->populated);
  EXPECT_EQ(Finds(*fat).size(), 7u);  // afresh: the earlier finds are not listed twice
}

// A deleted folder of 40 files whose entries fill three clusters of 1 KiB
// that are not adjacent (each file's data was written between them). Only
// the first cluster is reached from the folder's entry once the deletion
// freed its chain; the deep scan finds the other two as lost folders, and
// every file comes back from one of the three.
TEST(DeepScanOrphans, LaterClustersOfADeletedFolderAreFoundWithTheirEntries) {
  TempDir dir;
  const std::string image = dir / "vol.img";
  MakeFat(image, 16, "32M", "-s 2");
  Mmd(image, "/Holiday");
  const std::string src = dir / "src";
  std::map<std::string, std::vector<std::uint8_t>> planted;
  for (int i = 0; i < 40; ++i) {
    // A long name of up to 13 characters takes two entries, so 40 files
    // and the two dots take 82 entries: three clusters of 32, each holding
    // whole name runs.
    const std::string name = "Pic " + std::to_string(100 + i) + ".raw";
    planted[name] = RandomBytes(900 + static_cast<std::size_t>(i) * 37, 500 + static_cast<std::uint64_t>(i));
    WriteFile(src, planted[name]);
    Mcopy(image, src, "/Holiday/" + name);
  }
  Mdeltree(image, "/Holiday");

  Host host;
  auto fat = OpenFatFile(image, &host);
  ASSERT_TRUE(fat);
  auto* folder = dynamic_cast<CFATDirectory*>(Child(fat->GetRoot(), "Holiday"));
  ASSERT_NE(folder, nullptr);
  std::map<std::string, CFSFile*> found;
  auto collect = [&](CDirectory* d) {
    for (auto& c : Populated(d)->children) {
      if (auto* f = dynamic_cast<CFSFile*>(c.get())) found[f->name] = f;
    }
  };
  collect(folder);
  const std::size_t fromFirstCluster = found.size();
  EXPECT_GT(fromFirstCluster, 0u);
  EXPECT_LT(fromFirstCluster, 40u) << "the folder's later clusters must not be reachable from its entry";

  ASSERT_TRUE(ExpandLostFiles(*fat));
  std::vector<std::uint32_t> orphans;
  for (auto& c : fat->GetLostFiles()->children) {
    auto* lost = dynamic_cast<CFATDirectory*>(c.get());
    if (!lost) continue;
    EXPECT_EQ(lost->name, "Cluster_" + std::to_string(lost->startCluster));
    EXPECT_EQ(lost->status, kStatusGood);
    orphans.push_back(lost->startCluster);
    collect(lost);
  }
  ASSERT_EQ(orphans.size(), 2u);
  std::sort(orphans.begin(), orphans.end());
  EXPECT_GT(orphans[0], folder->startCluster + 1);
  EXPECT_GT(orphans[1], orphans[0] + 1) << "the test wants clusters that are not adjacent";
  ASSERT_EQ(found.size(), 40u);
  for (const auto& [name, bytes] : planted) {
    ASSERT_TRUE(found.count(name)) << name;
    EXPECT_TRUE(found[name]->deleted);
    EXPECT_EQ(SaveBytes(found[name]), bytes) << name;
  }
}

TEST(DeepScanOrphans, FileDataThatLooksLikeEntriesOnlyInPartIsNoFolder) {
  // One cluster of free space holds a real directory entry, then text.
  TempDir dir;
  const std::string image = dir / "vol.img";
  MakeFat(image, 16, "32M", "-s 4");
  auto bytes = ReadFile(image);
  const Layout layout = ReadLayout(bytes);
  const std::size_t at = static_cast<std::size_t>(layout.ClusterOffset(500));
  auto entry = ShortEntry("\xE5" "EPORT  TXT", 0x20, 501, 100);
  std::copy(entry.begin(), entry.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  const std::string text = "Dear reader, this is not a folder but a letter that goes on for a while.";
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 32));
  // A second copy where the rest of the cluster is left empty: a folder.
  const std::size_t at2 = static_cast<std::size_t>(layout.ClusterOffset(600));
  std::copy(entry.begin(), entry.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at2));
  auto fat = OpenFatBytes(bytes);
  ASSERT_TRUE(fat);
  EXPECT_FALSE(fat->LooksLikeOrphanedEntries(500));
  EXPECT_TRUE(fat->LooksLikeOrphanedEntries(600));
  EXPECT_FALSE(fat->LooksLikeOrphanedEntries(700));  // zeros
}

TEST(DeepScanProgress, CountsThenReportsEvery32ClustersAndTheLastTwo) {
  CountingVolume v(100);
  Recorder progress;
  std::uint32_t found = 7;
  EXPECT_TRUE(DeepScan(v, &progress, &found));
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(progress.statuses, (std::vector<std::string>{"Calculating...", "Scanning..."}));
  EXPECT_EQ(progress.counters,
            (std::vector<std::string>{"0/99", "0/99", "32/99", "64/99", "96/99", "98/99", "99/99"}));
  EXPECT_EQ(v.examined.size(), 100u);
}

TEST(DeepScanProgress, AStopBeforeTheFirstClusterEndsAtOnce) {
  CountingVolume v(100);
  auto event = std::make_shared<StopEvent>();
  event->Signal();
  StopScope scope(event);
  EXPECT_FALSE(DeepScan(v, nullptr));
  EXPECT_TRUE(v.examined.empty());
}

TEST(DeepScanProgress, ARangeBeyondTheDeviceEndsWithTheDevice) {
  // A damaged boot sector may claim 2^40 clusters on a device of 100.
  CountingVolume v(100);
  v.SetScanRange(0, std::uint64_t{1} << 40);
  EXPECT_TRUE(DeepScan(v, nullptr));
  EXPECT_LE(v.examined.size(), 101u);
  EXPECT_EQ(v.examined.front(), 0u);
}

TEST(ClusterRangeRules, SummaryAndRefusals) {
  EXPECT_EQ(ClusterRangeSummary(2, 1001, 4096), "2-1001(0Mb)");
  EXPECT_EQ(ClusterRangeSummary(2, 2049, 4096), "2-2049(8Mb)");
  EXPECT_EQ(ClusterRangeSummary(0, 4095, 512), "0-4095(2Mb)");
  EXPECT_EQ(CheckClusterRange(101, 100), "The end cluster can not less start cluster.");
  EXPECT_EQ(CheckClusterRange(100, 100), "");
  EXPECT_EQ(CheckClusterRange(100, 101), "");

  // Through the chooser, as the window asks: an end before the start is
  // refused and nothing changes; a range of one cluster scans exactly it.
  CountingVolume v(1000);
  Host host;
  v.SetHost(&host);
  FixedRange backwards(101, 100), one(100, 100);
  host.rangeChooser = &backwards;
  EXPECT_FALSE(ExpandLostFiles(v));
  EXPECT_TRUE(v.examined.empty());
  EXPECT_EQ(v.LastCluster(), 999u);
  host.rangeChooser = &one;
  EXPECT_TRUE(ExpandLostFiles(v));
  EXPECT_EQ(v.examined, (std::vector<std::uint64_t>{100}));
  EXPECT_TRUE(v.GetLostFiles()->populated);
}

}  // namespace
}  // namespace relictor::test
