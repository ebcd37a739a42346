// Output names made from entry names, and which disk an output folder
// lies on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "recovery/output_device.h"
#include "recovery/output_names.h"
#include "support/test_support.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST(OutputNames, ReplaceWhatCouldLeaveOrSteerTheFolder) {
  EXPECT_EQ(SafeOutputName("Report.doc"), "Report.doc");
  EXPECT_EQ(SafeOutputName("../x"), ".._x");
  EXPECT_EQ(SafeOutputName("a\\b/c"), "a_b_c");
  EXPECT_EQ(SafeOutputName(std::string("n\0ul", 4)), "n_ul");
  EXPECT_EQ(SafeOutputName("\x01\x1f\x7f"), "___");
  EXPECT_EQ(SafeOutputName("."), "_");
  EXPECT_EQ(SafeOutputName(".."), "__");
  EXPECT_EQ(SafeOutputName("..."), "...");
  EXPECT_EQ(SafeOutputName(""), "_");
  EXPECT_EQ(SafeOutputName("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(OutputNames, LongNamesAreCutKeepingTheExtensionAndWholeCharacters) {
  std::string e;
  for (int i = 0; i < 200; ++i) e += "\xc3\xa9";  // 400 bytes of two-byte characters
  for (const std::string& name : {e + ".jpeg", "x" + e + ".jpeg", std::string(300, 'a')}) {
    std::string safe = SafeOutputName(name);
    EXPECT_LE(safe.size(), 255u);
    EXPECT_GE(safe.size(), 250u);
    EXPECT_TRUE(IsValidUtf8(safe));
    if (name.back() == 'g') {
      EXPECT_EQ(safe.substr(safe.size() - 5), ".jpeg");
    }
    std::string numbered = NumberedOutputName(safe, 12, false);
    EXPECT_LE(numbered.size(), 255u);
    EXPECT_TRUE(IsValidUtf8(numbered));
  }
  // A dot far from the end is no extension to keep.
  std::string odd = "a." + std::string(300, 'b');
  EXPECT_EQ(SafeOutputName(odd), odd.substr(0, 255));
}

TEST(OutputNames, EqualNamesOfOneFolderAreNumberedIgnoringCase) {
  OutputNameSet set;
  EXPECT_EQ(set.Claim("_OCUMENT.TXT", false), "_OCUMENT.TXT");
  EXPECT_EQ(set.Claim("_OCUMENT.TXT", false), "_OCUMENT (2).TXT");
  EXPECT_EQ(set.Claim("_ocument.txt", false), "_ocument (3).txt");
  EXPECT_EQ(set.Claim("_OCUMENT (2).TXT", false), "_OCUMENT (2) (2).TXT");
  EXPECT_EQ(set.Claim("my.folder", true), "my.folder");
  EXPECT_EQ(set.Claim("my.folder", true), "my.folder (2)");
  EXPECT_EQ(set.Claim(".profile", false), ".profile");
  EXPECT_EQ(set.Claim(".profile", false), ".profile (2)");
  for (int i = 0; i < 5000; ++i) set.Claim("same", false);
  EXPECT_EQ(set.Claim("same", false), "same (5001)");
}

// A sysfs tree as the kernel lays it out for a disk with two partitions,
// one of them holding a device-mapper volume.
TEST(OutputDevice, TheDevicesOfADiskAreItsPartitionsAndWhatIsStackedOnThem) {
  TempDir sys;
  auto dir = [&](const std::string& p) { fs::create_directories(sys.Path() / p); };
  dir("dev/block");
  dir("devices/pci/sdb/sdb1/holders");
  dir("devices/pci/sdb/sdb2");
  dir("devices/pci/sdb/queue");
  dir("devices/virtual/dm-0/holders");
  WriteFile(sys / "devices/pci/sdb/dev", "8:16\n");
  WriteFile(sys / "devices/pci/sdb/sdb1/dev", "8:17\n");
  WriteFile(sys / "devices/pci/sdb/sdb1/partition", "1\n");
  WriteFile(sys / "devices/pci/sdb/sdb2/dev", "8:18\n");
  WriteFile(sys / "devices/pci/sdb/sdb2/partition", "2\n");
  WriteFile(sys / "devices/virtual/dm-0/dev", "254:0\n");
  fs::create_directory_symlink("../../../../virtual/dm-0", sys.Path() / "devices/pci/sdb/sdb1/holders/dm-0");
  fs::create_directory_symlink("../../devices/pci/sdb", sys.Path() / "dev/block/8:16");
  fs::create_directory_symlink("../../devices/pci/sdb/sdb1", sys.Path() / "dev/block/8:17");
  // A holder that points back up must not send the walk round in circles.
  fs::create_directory_symlink("../../../../pci/sdb", sys.Path() / "devices/virtual/dm-0/holders/loop");

  auto disk = DevicesStoredOn(makedev(8, 16), sys.Path().string());
  std::sort(disk.begin(), disk.end());
  std::vector<std::uint64_t> want{makedev(8, 16), makedev(8, 17), makedev(8, 18), makedev(254, 0)};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(disk, want);
  auto part = DevicesStoredOn(makedev(8, 17), sys.Path().string());
  EXPECT_NE(std::find(part.begin(), part.end(), makedev(254, 0)), part.end());
  EXPECT_EQ(part.front(), makedev(8, 17));
  EXPECT_EQ(DevicesStoredOn(makedev(9, 9), sys.Path().string()), std::vector<std::uint64_t>{makedev(9, 9)});
}

TEST(OutputDevice, ImagesNeverCountAsTheOutputDisk) {
  TempDir d;
  WriteFile(d / "disk.img", "x");
  std::string why;
  EXPECT_FALSE(FolderLiesOnSource(d / "disk.img", d / "out/new/deeper", why));
  EXPECT_TRUE(why.empty());
}

// An image is found behind every way of mounting it: a loop device over
// the file (or a partition of that device) whose number is the folder's
// file system, and a mount whose source names the file (as a FUSE mount
// does), with the blanks the mount table escapes. A hard link to the
// image is the same file; a copy is not.
TEST(OutputDevice, AnImageIsFoundBehindItsLoopDevicesAndMounts) {
  TempDir d;
  fs::create_directories(d / "out dir");
  WriteFile(d / "my disk.img", "x");
  WriteFile(d / "copy.img", "x");
  fs::create_hard_link(d / "my disk.img", d / "link.img");
  struct stat here {};
  ASSERT_EQ(::stat((d / "out dir").c_str(), &here), 0);
  const std::string number = std::to_string(major(here.st_dev)) + ":" + std::to_string(minor(here.st_dev));

  // sysfs: loop5 over the image holds the folder's file system, either
  // itself or as its first partition.
  auto makeSysfs = [&](const std::string& root, bool onPartition) {
    fs::create_directories(root + "/devices/virtual/block/loop5/loop");
    fs::create_directories(root + "/devices/virtual/block/loop5/loop5p1");
    fs::create_directories(root + "/block");
    fs::create_directories(root + "/dev/block");
    WriteFile(root + "/devices/virtual/block/loop5/loop/backing_file", (d / "my disk.img") + "\n");
    WriteFile(root + "/devices/virtual/block/loop5/dev", onPartition ? "7:5\n" : number + "\n");
    WriteFile(root + "/devices/virtual/block/loop5/loop5p1/dev", onPartition ? number + "\n" : "259:9\n");
    WriteFile(root + "/devices/virtual/block/loop5/loop5p1/partition", "1\n");
    fs::create_directory_symlink("../devices/virtual/block/loop5", root + "/block/loop5");
    fs::create_directory_symlink("../../devices/virtual/block/loop5", root + "/dev/block/" +
                                                                          (onPartition ? "7:5" : number));
  };
  const std::string noSysfs = d / "nosys", noMounts = d / "nomounts";
  makeSysfs(d / "sys-whole", false);
  makeSysfs(d / "sys-part", true);
  std::string escaped = d / "my disk.img";
  escaped.replace(escaped.find(' '), 1, "\\040");
  const std::string fuse = d / "mountinfo";
  WriteFile(fuse, "21 26 0:20 / /proc rw,relatime - proc proc rw\n44 26 " + number +
                      " / /media/x rw,relatime shared:1 - fuse " + escaped + " rw,user_id=0\n");

  const struct {
    std::string source, sysfs, mountinfo;
    bool refused;
  } cases[] = {
      {d / "my disk.img", d / "sys-whole", noMounts, true},
      {d / "my disk.img", d / "sys-part", noMounts, true},
      {d / "my disk.img", noSysfs, fuse, true},
      {d / "link.img", noSysfs, fuse, true},
      {d / "copy.img", d / "sys-whole", fuse, false},
      {d / "my disk.img", noSysfs, noMounts, false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(FolderLiesOnSource(c.source, d / "out dir/new", why, c.sysfs, c.mountinfo), c.refused)
        << c.source << " " << c.sysfs << " " << c.mountinfo;
    EXPECT_EQ(why.find("lies on " + c.source) != std::string::npos, c.refused) << why;
  }
  std::string why;
  ASSERT_TRUE(FolderLiesOnSource(d / "my disk.img", d / "out dir", why, noSysfs, fuse));
  EXPECT_NE(why.find("(mounted at /media/x)"), std::string::npos) << why;
}

// The block device that holds the temporary folder's file system, when
// this machine lets us see one.
TEST(OutputDevice, AFolderOnTheDiskBeingReadIsRecognised) {
  TempDir d;
  struct stat here {};
  ASSERT_EQ(::stat(d.Path().c_str(), &here), 0);
  std::string device;
  std::error_code ec;
  for (auto& e : fs::directory_iterator("/dev", ec)) {
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == here.st_dev) device = e.path();
  }
  if (device.empty()) GTEST_SKIP() << "no block device node for the temporary folder's file system";
  std::string why;
  EXPECT_TRUE(FolderLiesOnSource(device, d / "not/made/yet", why));
  EXPECT_NE(why.find(device), std::string::npos);
}

}  // namespace
}  // namespace relictor::test
