#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"
#include "volume/drive_list.h"

namespace relictor {
namespace {

using test::MustRun;
using test::Quote;
using test::TempDir;

// Stands in for the real readers: it opens a volume from its boot sector
// alone and takes the label from the boot sector's label field.
class BootSectorOnly final : public CVolumeDriver {
 public:
  explicit BootSectorOnly(FsKind kind) : kind_(kind) {}
  bool Attach(SectorSourcePtr device, ByteSpan boot, std::uint64_t start) override {
    device_ = std::move(device);
    partitionStart_ = start;
    boot_.assign(boot.begin(), boot.end());
    return true;
  }
  bool Open(unsigned char letter, std::uint32_t type, std::string_view name, bool borrowed) override {
    if (!CVolumeDriver::Open(letter, type, name, borrowed)) return false;
    std::vector<std::uint8_t> s(512);
    if (!ReadSectors(0, s.data(), 512, 1)) return Fail("unreadable");
    info_ = IdentifyBootSector(ByteSpan(s));
    if (info_.kind != kind_) return Fail("not this file system");
    boot_ = s;
    bytesPerSector_ = info_.bytesPerSector;
    bytesPerCluster_ = info_.bytesPerCluster;
    clusterCount_ = info_.clusterCount;
    ++opens;
    return true;
  }
  std::string FileSystemName() const override { return info_.fsName; }
  std::string VolumeLabel() override {
    if (kind_ != FsKind::Fat) return {};
    std::size_t at = info_.fsName == "FAT32" ? 71 : 43;
    std::string label(boot_.begin() + static_cast<long>(at), boot_.begin() + static_cast<long>(at) + 11);
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label == "NO NAME" ? "" : label;
  }
  static inline int opens = 0;

 private:
  FsKind kind_;
  BootSectorInfo info_;
  std::vector<std::uint8_t> boot_;
};

ReaderFactory Factory() {
  return [](FsKind k) -> std::unique_ptr<CVolumeDriver> { return std::make_unique<BootSectorOnly>(k); };
}

// A 4 MiB FAT12 image in `dir`, mkfs.fat given `options` too.
std::string MakeSmallFat(const TempDir& dir, const std::string& name, const std::string& options = "") {
  std::string path = dir / name;
  test::MakeSparseFile(path, 4 << 20);
  MustRun("mkfs.fat -F 12 " + options + " " + Quote(path));
  return path;
}

// A 96 MiB disk: FAT32, NTFS, ext4 and exFAT partitions, then a FAT16 in a
// logical partition.
std::string MakeMixedDisk(const TempDir& dir) {
  std::string disk = dir / "disk.img";
  test::MakeSparseFile(disk, 96 << 20);
  MustRun("sfdisk -q " + Quote(disk),
          "label: dos\nstart=2048, size=69632, type=c\nstart=71680, size=32768, type=7\n"
          "start=104448, size=16384, type=83\nstart=120832, size=75776, type=5\n"
          "start=122880, size=16384, type=7\nstart=141312, size=40960, type=6\n");
  MustRun("mkfs.fat -F 32 -s 1 -n PHOTOS --offset 2048 " + Quote(disk) + " 34816");
  std::string part = dir / "part.img";
  auto place = [&](const std::string& make, std::uint64_t sectors, std::uint64_t start) {
    test::MakeSparseFile(part, sectors * 512);
    MustRun(make + " " + Quote(part));
    MustRun("dd if=" + Quote(part) + " of=" + Quote(disk) + " bs=512 seek=" + std::to_string(start) +
            " conv=notrunc status=none");
  };
  place("mkntfs -F -Q -q -p 71680 -H 0 -S 0 -L DOCS", 32768, 71680);
  place("mkfs.ext4 -q -F", 16384, 104448);
  place("mkfs.exfat", 16384, 122880);
  MustRun("mkfs.fat -F 16 -n ARCHIVE --offset 141312 " + Quote(disk) + " 20480");
  return disk;
}

TEST(DriveList, KeepsFatExFatAndNtfsVolumesOfADiskInDiskOrder) {
  TempDir dir;
  std::string disk = MakeMixedDisk(dir);
  auto report = ExamineSource(disk);
  EXPECT_TRUE(report.problems.empty()) << report.problems.front();
  ASSERT_EQ(report.volumes.size(), 4u);
  EXPECT_EQ(report.volumes[0].boot.fsName, "FAT32");
  EXPECT_EQ(report.volumes[0].startSector, 2048u);
  EXPECT_EQ(report.volumes[1].boot.fsName, "NTFS");
  EXPECT_EQ(report.volumes[1].startSector, 71680u);
  EXPECT_EQ(report.volumes[2].boot.fsName, "exFAT");
  EXPECT_EQ(report.volumes[2].partitionNumber, 5);
  EXPECT_EQ(report.volumes[3].boot.fsName, "FAT16");
  EXPECT_EQ(report.volumes[3].partitionNumber, 6);
  for (const auto& v : report.volumes) EXPECT_TRUE(v.partitioned);

  DriveList list;
  list.Build({report}, Factory());
  ASSERT_EQ(list.Drives().size(), 4u);
  EXPECT_EQ(list.Drives()[0].reader->GetDisplayName(), "C:\\ (PHOTOS)");
  EXPECT_EQ(list.Drives()[0].reader->Letter(), 'C');
  EXPECT_EQ(list.Drives()[1].reader->GetDisplayName(), "D:\\");
  EXPECT_EQ(list.Drives()[3].reader->GetDisplayName(), "F:\\ (ARCHIVE)");
  EXPECT_EQ(list.Drives()[3].indexInSource, 4);
  EXPECT_TRUE(list.Drives()[0].reader->IsBorrowed());
  EXPECT_EQ(list.Drives()[0].reader->PartitionStart(), 2048u);
}

TEST(DriveList, ASecondBuildChangesNothing) {
  TempDir dir;
  auto report = ExamineSource(MakeSmallFat(dir, "fat12.img", "-n FLOPPY"));
  DriveList list;
  BootSectorOnly::opens = 0;
  list.Build({report}, Factory());
  ASSERT_EQ(list.Drives().size(), 1u);
  CVolumeDriver* first = list.Drives()[0].reader.get();
  list.Build({report, report}, Factory());
  ASSERT_EQ(list.Drives().size(), 1u);
  EXPECT_EQ(list.Drives()[0].reader.get(), first);
  EXPECT_EQ(BootSectorOnly::opens, 1);
  EXPECT_FALSE(first->IsBorrowed());
  EXPECT_EQ(first->GetDisplayName(), "C:\\ (FLOPPY)");
}

TEST(DriveList, LettersRunOnAcrossSources) {
  TempDir dir;
  std::vector<SourceReport> reports;
  for (int i = 0; i < 3; ++i) reports.push_back(ExamineSource(MakeSmallFat(dir, "v" + std::to_string(i) + ".img")));
  DriveList list;
  list.Build(reports, Factory());
  ASSERT_EQ(list.Drives().size(), 3u);
  EXPECT_EQ(list.Drives()[2].reader->Letter(), 'E');
  EXPECT_EQ(list.Drives()[2].reader->GetDisplayName(), "E:\\");
}

TEST(DriveList, AddingASourceCarriesTheLettersOnToZ) {
  TempDir dir;
  std::vector<SourceReport> reports;
  for (int i = 0; i < 2; ++i) reports.push_back(ExamineSource(MakeSmallFat(dir, "v" + std::to_string(i) + ".img")));
  DriveList list;
  list.Build({reports[0]}, Factory());
  // A reader made elsewhere takes no letter but counts for the names of
  // volumes past Z.
  auto lost = Factory()(FsKind::Fat);
  lost->SetSourcePath(reports[0].path);
  CVolumeDriver* adopted = list.Adopt(std::move(lost));
  ASSERT_EQ(list.Drives().size(), 2u);
  EXPECT_EQ(list.Drives()[1].reader.get(), adopted);
  EXPECT_EQ(list.Drives()[1].sourcePath, reports[0].path);
  EXPECT_EQ(list.Adopt(nullptr), nullptr);

  auto added = list.Add(reports[1], Factory());
  ASSERT_EQ(added.size(), 1u);
  ASSERT_EQ(list.Drives().size(), 3u);
  EXPECT_EQ(list.Drives()[2].reader.get(), added[0]);
  EXPECT_EQ(added[0]->Letter(), 'D');
  EXPECT_EQ(list.Drives()[2].sourcePath, reports[1].path);
  EXPECT_EQ(list.Drives()[2].indexInSource, 1);

  // A source that fails adds its problems and failures, and no letter is
  // used up by the volume that could not be opened.
  SourceReport broken = reports[1];
  broken.problems.push_back("broken: partition 2 cannot be read");
  EXPECT_TRUE(list.Add(broken, [](FsKind) { return std::unique_ptr<CVolumeDriver>(); }).empty());
  ASSERT_EQ(list.Problems().size(), 1u);
  ASSERT_EQ(list.Failures().size(), 1u);
  EXPECT_EQ(list.Add(reports[0], Factory()).at(0)->Letter(), 'E');

  // Letters end at Z; later volumes go by their number among all, the
  // adopted reader counted.
  for (char want = 'F'; want <= 'Z'; ++want) ASSERT_EQ(list.Add(reports[0], Factory()).at(0)->Letter(), want);
  CVolumeDriver* past = list.Add(reports[0], Factory()).at(0);
  EXPECT_EQ(past->Letter(), kNoLetter);
  EXPECT_EQ(past->GetDisplayName(), "Volume26\\");
}

TEST(DriveList, BadSourcesGiveOneClearProblemEach) {
  TempDir dir;
  std::string text = dir / "notes.txt";
  test::WriteFile(text, std::string(5000, 'x'));
  auto r = ExamineSource(text);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("no FAT or NTFS volume"), std::string::npos) << r.problems[0];
  EXPECT_TRUE(r.volumes.empty());

  std::string tiny = dir / "tiny.img";
  test::WriteFile(tiny, std::string(100, '\0'));
  r = ExamineSource(tiny);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("too small"), std::string::npos);

  r = ExamineSource(dir / "missing.img");
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("no such file"), std::string::npos);

  // A truncated image is still listed, with a warning.
  std::string cut = dir / "cut.img";
  test::MakeSparseFile(cut, 32 << 20);
  MustRun("mkfs.fat -F 16 " + Quote(cut));
  std::filesystem::resize_file(cut, 1 << 20);
  r = ExamineSource(cut);
  ASSERT_EQ(r.volumes.size(), 1u);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("truncated"), std::string::npos) << r.problems[0];

  // An ext4 image: not a volume this program reads.
  std::string ext = dir / "ext.img";
  test::MakeSparseFile(ext, 16 << 20);
  MustRun("mkfs.ext4 -q -F " + Quote(ext));
  r = ExamineSource(ext);
  EXPECT_TRUE(r.volumes.empty());
  EXPECT_EQ(r.problems.size(), 1u);
}

TEST(DriveList, AFailedOpenIsReportedAndTheVolumeLeftOut) {
  TempDir dir;
  DriveList list;
  list.Build({ExamineSource(MakeSmallFat(dir, "fat.img"))}, [](FsKind) { return std::unique_ptr<CVolumeDriver>(); });
  EXPECT_TRUE(list.Drives().empty());
  ASSERT_EQ(list.Failures().size(), 1u);
  EXPECT_EQ(list.Failures()[0].indexInSource, 1);
}

TEST(DriveList, SystemBlockDevicesAreListedWhenReadable) {
  TempDir dir;
  std::string path = dir / "loop.img";
  test::MakeSparseFile(path, 16 << 20);
  MustRun("mkfs.fat -F 16 -n LOOPVOL " + Quote(path));
  auto attach = test::Run("losetup -f --show -r " + Quote(path));
  if (attach.exitCode != 0) GTEST_SKIP() << "loop devices are not available here: " << attach.err;
  std::string dev = attach.out.substr(0, attach.out.find('\n'));
  auto volumes = ExamineSystemVolumes();
  test::Run("losetup -d " + Quote(dev));
  auto it = std::find_if(volumes.begin(), volumes.end(), [&](const SourceReport& r) { return r.path == dev; });
  ASSERT_NE(it, volumes.end()) << dev << " is missing from the system's volumes";
  ASSERT_EQ(it->volumes.size(), 1u);
  EXPECT_EQ(it->volumes[0].boot.fsName, "FAT16");
  EXPECT_EQ(it->volumes[0].driveType, kDriveFixed);
  EXPECT_TRUE(it->source->IsBlockDevice());
}

}  // namespace
}  // namespace relictor
