#include <gtest/gtest.h>

#include "readers/reader_factory.h"
#include "model/entry.h"
#include "scan/physical_driver.h"
#include "support/test_support.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {
namespace {

using test::MustRun;
using test::Quote;
using test::TempDir;

// Writes a volume made in a file of its own into the disk at `start`.
void Place(const std::string& disk, const std::string& volume, std::uint64_t start) {
  MustRun("dd if=" + Quote(volume) + " of=" + Quote(disk) + " bs=512 seek=" + std::to_string(start) +
          " conv=notrunc status=none");
}

std::string NewVolume(const TempDir& dir, const std::string& name, std::uint64_t sectors, const std::string& make) {
  std::string path = dir / name;
  test::MakeSparseFile(path, sectors * 512);
  MustRun(make + " " + Quote(path));
  return path;
}

struct Walk {
  std::vector<std::unique_ptr<CVolumeDriver>> volumes;
  std::vector<LostVolume> found;
  bool completed = false;
};

Walk WalkDisk(const std::string& path, std::uint64_t first = 0, std::uint64_t last = ~std::uint64_t{0}) {
  PhysicalDriveList disks;
  EnumPhysicalDrives(disks, {path}, false);
  Walk w;
  if (disks.disks.empty()) {
    ADD_FAILURE() << "cannot open " << path;
    return w;
  }
  CPhysicalDriver& disk = *disks.disks[0];
  disk.SetScanRange(first, std::min(last, disk.TotalSectors()));
  w.completed = FindLostDrivers(disk, &w.volumes, MakeReaderFactory(), nullptr, &w.found);
  return w;
}

// One disk with no partition table and volumes of every kind at several
// offsets: an NTFS volume at 2048, a FAT32 volume at 63 of its own
// partition-less stretch, FAT16 and FAT12 further on.
class LostDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    disk_ = *dir_ / "disk.img";
    test::MakeSparseFile(disk_, 160ull << 20);
    // FAT32 at sector 63, 32 reserved sectors (mkfs.fat writes them into the
    // disk at the offset, hidden sectors 63).
    MustRun("mkfs.fat -F 32 -R 32 -h 63 -n LOST32 --offset 63 " + Quote(disk_) + " 36864");
    // NTFS at 73791, right behind the FAT32 volume (63 + 73728).
    auto ntfs = NewVolume(*dir_, "ntfs.img", 40960, "mkntfs -F -Q -q -p 73791 -H 0 -S 0 -L LOSTNT");
    Place(disk_, ntfs, 73791);
    MustRun("mkfs.fat -F 16 -n LOST16 --offset 131072 " + Quote(disk_) + " 32768");
    MustRun("mkfs.fat -F 12 -n LOST12 --offset 200704 " + Quote(disk_) + " 4096");
    // An exFAT volume, found as exFAT and not taken for FAT.
    auto exfat = NewVolume(*dir_, "exfat.img", 32768, "mkfs.exfat");
    Place(disk_, exfat, 262144);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempDir* dir_;
  static std::string disk_;
};
TempDir* LostDisk::dir_ = nullptr;
std::string LostDisk::disk_;

TEST_F(LostDisk, FindsEveryVolumeWithItsNameAndKind) {
  Walk w = WalkDisk(disk_);
  EXPECT_TRUE(w.completed);
  ASSERT_EQ(w.found.size(), 5u);
  EXPECT_EQ(w.found[0].name, "LostDriver_64");
  EXPECT_EQ(w.found[0].startSector, 63u);
  EXPECT_EQ(w.found[0].fsName, "FAT32");
  EXPECT_EQ(w.found[1].name, "LostDriver_73792");
  EXPECT_EQ(w.found[1].kind, FsKind::Ntfs);
  EXPECT_EQ(w.found[2].fsName, "FAT16");
  EXPECT_EQ(w.found[2].startSector, 131072u);
  EXPECT_EQ(w.found[3].fsName, "FAT12");
  EXPECT_EQ(w.found[3].startSector, 200704u);
  EXPECT_EQ(w.found[4].fsName, "exFAT");
  EXPECT_EQ(w.found[4].startSector, 262144u);
  EXPECT_TRUE(w.found[4].opened);
  ASSERT_EQ(w.volumes.size(), 5u);
  for (std::size_t i = 0; i < w.volumes.size(); ++i) {
    EXPECT_TRUE(w.volumes[i]->IsBorrowed());
    EXPECT_EQ(w.volumes[i]->GetDisplayName(), w.found[i].name);
  }
  EXPECT_EQ(w.volumes[0]->PartitionStart(), 63u);
  EXPECT_TRUE(w.found[0].opened);
  EXPECT_EQ(w.volumes[0]->VolumeLabel(), "LOST32");
}

TEST_F(LostDisk, AVolumeRightBehindAnotherIsNotSteppedOver) {
  // The NTFS volume starts on the sector after the FAT32 volume's last one;
  // its boot sector must be read although the FAT32 volume has 32 reserved
  // sectors and the NTFS volume 73791 hidden ones.
  Walk w = WalkDisk(disk_, 0, 140000);
  ASSERT_GE(w.found.size(), 2u);
  EXPECT_EQ(w.found[1].startSector, 73791u);
}

TEST_F(LostDisk, RunningTheWalkTwiceListsEachVolumeTwice) {
  PhysicalDriveList disks;
  EnumPhysicalDrives(disks, {disk_}, false);
  ASSERT_EQ(disks.disks.size(), 1u);
  std::vector<std::unique_ptr<CVolumeDriver>> volumes;
  ASSERT_TRUE(FindLostDrivers(*disks.disks[0], &volumes, MakeReaderFactory(), nullptr));
  ASSERT_TRUE(FindLostDrivers(*disks.disks[0], &volumes, MakeReaderFactory(), nullptr));
  EXPECT_EQ(volumes.size(), 10u);
  EXPECT_FALSE(FindLostDrivers(*disks.disks[0], nullptr, MakeReaderFactory(), nullptr))
      << "no volume list";
}

TEST_F(LostDisk, TheRangeLimitsTheWalk) {
  // From 120000 on: past the NTFS volume and its backup boot sector.
  Walk w = WalkDisk(disk_, 120000, 210000);
  ASSERT_EQ(w.found.size(), 2u);
  EXPECT_EQ(w.found[0].fsName, "FAT16");
}

TEST_F(LostDisk, AStopHalfWayKeepsTheVolumesFoundSoFar) {
  class StopAt final : public ProgressSink {
   public:
    explicit StopAt(std::uint64_t at) : at_(at) {}
    void SetText(ProgressText, const std::string&) override {}
    void SetRange(ProgressBar, std::uint64_t, std::uint64_t) override {}
    void SetPos(ProgressBar, std::uint64_t pos) override {
      if (pos >= at_) event->Signal();
    }
    std::shared_ptr<StopEvent> event = std::make_shared<StopEvent>();

   private:
    std::uint64_t at_;
  } sink(100000);
  StopScope scope(sink.event);
  PhysicalDriveList disks;
  EnumPhysicalDrives(disks, {disk_}, false);
  std::vector<std::unique_ptr<CVolumeDriver>> volumes;
  std::vector<LostVolume> found;
  EXPECT_FALSE(FindLostDrivers(*disks.disks[0], &volumes, MakeReaderFactory(), &sink, &found));
  EXPECT_EQ(found.size(), 2u);
}

TEST(LostVolumes, BootSectorTestsOfTheWalk) {
  TempDir dir;
  auto ntfs = test::ReadFile(NewVolume(dir, "n.img", 8192, "mkntfs -F -Q -q -p 0 -H 0 -S 0"));
  ntfs.resize(512);
  EXPECT_TRUE(LooksLikeLostNtfs(ByteSpan(ntfs)));
  auto edited = ntfs;
  edited[36] = 0x81;  // not 80 00 80 00
  EXPECT_FALSE(LooksLikeLostNtfs(ByteSpan(edited)));
  edited = ntfs;
  edited[11] = 0, edited[12] = 8;  // 2048 bytes per sector: not NTFS, but it can pass for FAT
  EXPECT_FALSE(LooksLikeLostNtfs(ByteSpan(edited)));
  EXPECT_TRUE(LooksLikeLostFat(ByteSpan(edited)));
  edited = ntfs;
  edited[0] = 0xE9;
  EXPECT_FALSE(LooksLikeLostNtfs(ByteSpan(edited)));
  EXPECT_FALSE(LooksLikeLostFat(ByteSpan(edited)));

  auto exfat = test::ReadFile(NewVolume(dir, "e.img", 16384, "mkfs.exfat"));
  exfat.resize(512);
  EXPECT_FALSE(LooksLikeLostFat(ByteSpan(exfat)));
  EXPECT_FALSE(LooksLikeLostNtfs(ByteSpan(exfat)));
  EXPECT_TRUE(LooksLikeLostExFat(ByteSpan(exfat)));
}

TEST(LostVolumes, AnNtfsTotalIsReadWholeAndAHugeOneEndsTheWalk) {
  // The NTFS total is a 64-bit field. A damaged one whose low half is
  // small must not make the walk step over a few sectors only and find
  // the volume's insides; one that reaches past the end of the disk (or
  // past 64 bits) ends the walk.
  TempDir dir;
  std::string disk = dir / "huge.img";
  test::MakeSparseFile(disk, 16 << 20);
  auto ntfs = NewVolume(dir, "n.img", 8192, "mkntfs -F -Q -q -p 2048 -H 0 -S 0");
  Place(disk, ntfs, 2048);
  MustRun("mkfs.fat -F 12 -n BEHIND --offset 16384 " + Quote(disk) + " 4096");
  // Total sectors 2^32 + 16 at offset 40 of the NTFS boot sector.
  MustRun("printf '\\020\\000\\000\\000\\001\\000\\000\\000' | dd of=" + Quote(disk) +
          " bs=1 seek=$((2048*512+40)) conv=notrunc status=none");
  Walk w = WalkDisk(disk);
  ASSERT_EQ(w.found.size(), 1u);
  EXPECT_EQ(w.found[0].startSector, 2048u);
  EXPECT_EQ(w.found[0].sectors, (std::uint64_t{1} << 32) + 16);
  // All ones: the end of the volume does not fit in 64 bits.
  MustRun("printf '\\377\\377\\377\\377\\377\\377\\377\\377' | dd of=" + Quote(disk) +
          " bs=1 seek=$((2048*512+40)) conv=notrunc status=none");
  Walk all = WalkDisk(disk);
  ASSERT_EQ(all.found.size(), 1u);
  EXPECT_TRUE(all.completed);
}

TEST(LostVolumes, AWipedPartitionTableAndADamagedVolume) {
  TempDir dir;
  std::string disk = dir / "wiped.img";
  test::MakeSparseFile(disk, 96 << 20);
  MustRun("sfdisk -q " + Quote(disk), "label: dos\nstart=2048, size=40960, type=e\nstart=43008, size=40960, type=c\n");
  MustRun("mkfs.fat -F 16 -h 2048 -n FIRST --offset 2048 " + Quote(disk) + " 20480");
  MustRun("mkfs.fat -F 16 -h 43008 -n SECOND --offset 43008 " + Quote(disk) + " 20480");
  // The partition table goes, and the first volume's geometry is damaged
  // (no FAT copies): it is still found, cannot be opened, and the walk goes
  // on to the second one.
  MustRun("dd if=/dev/zero of=" + Quote(disk) + " bs=512 count=1 conv=notrunc status=none");
  MustRun("printf '\\000' | dd of=" + Quote(disk) + " bs=1 seek=$((2048*512+16)) conv=notrunc status=none");
  Walk w = WalkDisk(disk);
  ASSERT_EQ(w.found.size(), 2u);
  EXPECT_EQ(w.found[0].startSector, 2048u);
  EXPECT_FALSE(w.found[0].opened);
  EXPECT_EQ(w.found[0].fsName, "FAT");
  EXPECT_EQ(w.found[1].startSector, 43008u);
  EXPECT_TRUE(w.found[1].opened);
  EXPECT_EQ(w.found[1].fsName, "FAT16");
  EXPECT_EQ(w.volumes.size(), 2u) << "a volume that fails to open is still added";
}

TEST(LostVolumes, ImagesAreNumberedAfterTheSystemsDisksAndNamedByFile) {
  TempDir dir;
  std::string a = dir / "first.img", b = dir / "second.img";
  test::MakeSparseFile(a, 1 << 20);
  test::MakeSparseFile(b, 2 << 20);
  PhysicalDriveList list;
  EnumPhysicalDrives(list, {a, dir / "missing.img", b}, false);
  ASSERT_EQ(list.disks.size(), 2u);
  EXPECT_EQ(list.disks[0]->Number(), 0);
  EXPECT_EQ(list.disks[1]->Number(), 1);
  EXPECT_EQ(list.disks[0]->GetDisplayName(), "first.img");
  EXPECT_EQ(list.disks[1]->TotalSectors(), 4096u);
  EXPECT_EQ(list.disks[1]->BytesPerCluster(), 512u);
  EXPECT_EQ(list.problems.size(), 1u);
  // A second enumeration while the list holds disks changes nothing.
  EnumPhysicalDrives(list, {a}, false);
  EXPECT_EQ(list.disks.size(), 2u);

  PhysicalDriveList system;
  EnumPhysicalDrives(system, {a});
  ASSERT_FALSE(system.disks.empty());
  EXPECT_EQ(system.disks.back()->GetDisplayName(), "first.img");
  EXPECT_EQ(system.disks.back()->Number(), static_cast<int>(system.disks.size()) - 1);
  for (const auto& d : system.disks) EXPECT_FALSE(d->GetDisplayName().empty());
}

}  // namespace
}  // namespace relictor
