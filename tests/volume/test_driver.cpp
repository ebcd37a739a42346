#include <gtest/gtest.h>

#include <numeric>

#include "model/entry.h"
#include "volume/driver.h"
#include "worker/frontend.h"

namespace relictor {
namespace {

class Folder final : public CDirectory {
 public:
  explicit Folder(bool* destroyedWithReaderAlive = nullptr, const CVolumeDriver* reader = nullptr)
      : flag_(destroyedWithReaderAlive), reader_(reader) {}
  ~Folder() override {
    // The reader must still be whole while its tree goes.
    if (flag_) *flag_ = reader_ && reader_->BytesPerSector() == 512;
  }
  bool HasSubfolders(bool) override { return false; }
  void Populate(bool, bool, bool) override { populated = true; }

 private:
  bool* flag_;
  const CVolumeDriver* reader_;
};

// A reader whose clusters are runs of sectors, for the base class alone.
class PlainVolume final : public CVolumeDriver {
 public:
  std::uint64_t ClusterToSector(std::uint64_t c) const override { return c * sectorsPerCluster_; }
  bool Attach(SectorSourcePtr device, ByteSpan, std::uint64_t start) override {
    device_ = std::move(device);
    partitionStart_ = start;
    return true;
  }
  std::string FileSystemName() const override { return "PLAIN"; }
  void Geometry(std::uint32_t bps, std::uint32_t spc, std::uint64_t first, std::uint64_t last) {
    bytesPerSector_ = bps, sectorsPerCluster_ = spc, bytesPerCluster_ = bps * spc;
    firstCluster_ = first, lastCluster_ = last, clusterCount_ = last;
    clusterBuffer_.assign(bytesPerCluster_, 0);
  }
  void MakeRoot(bool* flag) {
    root_ = std::make_unique<Folder>(flag, this);
    root_->volume = this;
    root_->name = displayName_;
  }
};

std::shared_ptr<MemorySource> NumberedSectors(std::size_t sectors) {
  // Each 512-byte sector holds its own number in every u32.
  std::vector<std::uint8_t> bytes(sectors * 512);
  for (std::size_t s = 0; s < sectors; ++s) {
    for (std::size_t i = 0; i < 512; i += 4) {
      for (int k = 0; k < 4; ++k) bytes[s * 512 + i + k] = static_cast<std::uint8_t>(s >> (8 * k));
    }
  }
  return std::make_shared<MemorySource>(std::move(bytes));
}

std::uint32_t SectorNumberIn(const std::vector<std::uint8_t>& b, std::size_t at = 0) {
  return le32(ByteSpan(b), at);
}

TEST(Driver, BorrowedReadsAddThePartitionStart) {
  auto disk = NumberedSectors(256);
  PlainVolume v;
  ASSERT_TRUE(v.Attach(disk, {}, 100));
  ASSERT_TRUE(v.Open('D', kDriveFixed, "D:\\", true));
  EXPECT_TRUE(v.IsBorrowed());
  std::vector<std::uint8_t> buf(1024);
  ASSERT_TRUE(v.ReadSectors(5, buf.data(), 512, 2));
  EXPECT_EQ(SectorNumberIn(buf), 105u);
  EXPECT_EQ(SectorNumberIn(buf, 512), 106u);
  EXPECT_FALSE(v.ReadSectors(200, buf.data(), 512, 1)) << "past the end of the disk";
  EXPECT_TRUE(v.ReadSectors(~std::uint64_t{0}, buf.data(), 512, 0)) << "reading nothing needs no request";
  EXPECT_FALSE(v.ReadSectors(~std::uint64_t{0} / 256, buf.data(), 512, 1)) << "a byte offset that wraps around";
}

TEST(Driver, ABorrowedReaderNeverClosesTheDiskItReadsThrough) {
  auto disk = NumberedSectors(16);
  {
    PlainVolume v;
    v.Attach(disk, {}, 2);
    ASSERT_TRUE(v.Open('E', kDriveFixed, "E:\\", true));
  }
  std::uint8_t buf[512];
  EXPECT_TRUE(disk->ReadAt(0, buf, sizeof buf));
  EXPECT_EQ(disk.use_count(), 1);
}

TEST(Driver, OpeningWithoutADeviceFailsWithAReason) {
  PlainVolume v;
  EXPECT_FALSE(v.Open('C', kDriveFixed, "C:\\", false));
  EXPECT_FALSE(v.OpenError().empty());
  PlainVolume w;
  w.SetSourcePath("/nonexistent/disk.img");
  EXPECT_FALSE(w.Open('C', kDriveFixed, "C:\\", false));
  EXPECT_NE(w.OpenError().find("no such file"), std::string::npos);
}

TEST(Driver, ReadClusterKeepsToTheScanRange) {
  auto disk = NumberedSectors(64);
  PlainVolume v;
  v.SetDevice(disk);
  ASSERT_TRUE(v.Open('C', kDriveFixed, "C:\\", false));
  v.Geometry(512, 2, 2, 20);
  ASSERT_TRUE(v.ReadCluster(2));
  EXPECT_EQ(SectorNumberIn(v.ClusterBuffer()), 4u);
  EXPECT_EQ(SectorNumberIn(v.ClusterBuffer(), 512), 5u);
  ASSERT_TRUE(v.ReadCluster(20));
  EXPECT_FALSE(v.ReadCluster(1));
  EXPECT_FALSE(v.ReadCluster(21));
  v.SetScanRange(10, 12);
  EXPECT_FALSE(v.ReadCluster(9));
  EXPECT_TRUE(v.ReadCluster(12));
  EXPECT_FALSE(v.ReadCluster(13));
}

TEST(Driver, DestroyingAReaderDestroysItsTreeFirst) {
  bool rootSawWholeReader = false;
  {
    PlainVolume v;
    v.SetDevice(NumberedSectors(4));
    ASSERT_TRUE(v.Open('C', kDriveFixed, "C:\\", false));
    v.Geometry(512, 1, 2, 3);
    v.MakeRoot(&rootSawWholeReader);
  }
  EXPECT_TRUE(rootSawWholeReader);
}

TEST(Driver, DriveComboAndFolderTreeGetTheRootWithTheDriveIcon) {
  struct Combo final : DriveListSink {
    void AddDrive(const std::string& t, CDriver* d, CDirectory* r) override { text = t, driver = d, root = r; }
    std::string text;
    CDriver* driver = nullptr;
    CDirectory* root = nullptr;
  } combo;
  struct Tree final : FolderTreeSink {
    Item InsertFolder(Item, CDirectory* f, const std::string& t, int i, int s, bool c) override {
      folder = f, text = t, image = i, selected = s, children = c;
      return f;
    }
    CDirectory* folder = nullptr;
    std::string text;
    int image = 0, selected = 0;
    bool children = false;
  } tree;
  PlainVolume v;
  v.SetDevice(NumberedSectors(4));
  ASSERT_TRUE(v.Open('F', kDriveRemovable, "F:\\ (CARD)", false));
  v.Geometry(512, 1, 2, 3);
  v.MakeRoot(nullptr);
  v.AddToDriveCombo(combo);
  EXPECT_EQ(combo.text, "F:\\ (CARD)");
  EXPECT_EQ(combo.root, v.GetRoot());
  v.AddToFolderTree(tree, nullptr);
  EXPECT_EQ(tree.folder, v.GetRoot());
  EXPECT_EQ(tree.image, 3);
  EXPECT_EQ(tree.selected, 3);
  EXPECT_TRUE(tree.children);
  PlainVolume fixed;
  fixed.SetDevice(NumberedSectors(4));
  ASSERT_TRUE(fixed.Open('G', kDriveFixed, "G:\\", false));
  fixed.MakeRoot(nullptr);
  fixed.AddToFolderTree(tree, nullptr);
  EXPECT_EQ(tree.image, 2);
}

class RecordingSink final : public ProgressSink {
 public:
  bool HasText(ProgressText t) const override { return t != ProgressText::CurrentItem; }
  void SetText(ProgressText t, const std::string& s) override {
    (t == ProgressText::Status ? status : counter) = s;
  }
  void SetRange(ProgressBar, std::uint64_t lo, std::uint64_t hi) override { low = lo, high = hi; }
  void SetPos(ProgressBar, std::uint64_t p) override { pos = p; }
  std::string status, counter;
  std::uint64_t low = 9, high = 9, pos = 9;
};

TEST(Driver, ScanProgressTexts) {
  PlainVolume v;
  v.Geometry(512, 1, 100, 500);
  RecordingSink sink;
  v.BeginCountProgress(&sink);
  EXPECT_EQ(sink.status, "Calculating...");
  EXPECT_EQ(sink.counter, "100/500");
  EXPECT_EQ(sink.low, 0u);
  EXPECT_EQ(sink.high, 400u);
  v.BeginScanProgress(&sink);
  EXPECT_EQ(sink.status, "Scanning...");
  EXPECT_EQ(sink.counter, "100/500");
  EXPECT_EQ(sink.pos, 0u);
  v.ReportScanProgress(&sink, 320);
  EXPECT_EQ(sink.counter, "320/500");
  EXPECT_EQ(sink.pos, 220u);
  EXPECT_EQ(sink.status, "Scanning...");
  v.ReportScanProgress(nullptr, 321);  // no display: nothing to do
}

TEST(Driver, RootPathUsesTheLetterOrTheName) {
  PlainVolume v;
  v.SetDevice(NumberedSectors(1));
  ASSERT_TRUE(v.Open('D', kDriveFixed, "D:\\ (WORK)", false));
  EXPECT_EQ(v.RootPath(), "D:\\");
  PlainVolume lost;
  lost.Attach(NumberedSectors(1), {}, 0);
  ASSERT_TRUE(lost.Open(kNoLetter, kDriveFixed, "LostDriver_64", true));
  EXPECT_EQ(lost.RootPath(), "LostDriver_64\\");
}

}  // namespace
}  // namespace relictor
