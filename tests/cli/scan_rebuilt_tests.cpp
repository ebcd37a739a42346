// relictor-cli scan over folders that the deep scan rebuilds from hostile
// entries: folders that name each other or themselves, files beyond the
// volume, of 4 GiB, inside the folder's own cluster or each other, and
// names that are no file names. The scan ends, rates what cannot come back
// "Poor", writes nothing outside the output folder, and with --json gives
// standard output to the listing alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "fat/fat_fixture.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;

CommandResult Cli(const std::string& args) { return Run(Quote(CliPath()) + " " + args); }

// Each object of a JSON array on one line: its path and name as a JSON
// string, its status and its kind.
constexpr const char* kLister = R"PY(
import json, sys
for o in json.loads(open(sys.argv[1], "rb").read().decode("utf-8")):
    print(json.dumps(o["path"] + o["name"]), o["status"], o["kind"])
)PY";

std::vector<std::uint8_t> LongNamed(const std::u16string& name, const char* shortName, std::uint8_t attr,
                                    std::uint32_t cluster, std::uint32_t size) {
  std::vector<std::uint8_t> run = LongEntry(0x41, name, 0x5A);
  auto e = ShortEntry(shortName, attr, cluster, size);
  run.insert(run.end(), e.begin(), e.end());
  return run;
}

TEST(CliScanRebuilt, HostileEntriesOfARebuiltFolderAreBoundedRatedAndSavedInsideTheOutputFolder) {
  CraftedFat12 img;
  // The lost folder: its first cluster holds "." and "..", and no folder
  // of the tree names it.
  img.PutDotEntries(70, 0);
  std::vector<std::vector<std::uint8_t>> entries = {
      ShortEntry("SELF       ", 0x10, 70, 0),           // the folder itself
      ShortEntry("A          ", 0x10, 80, 0),           // A and B name each other
      ShortEntry("EARLY      ", 0x10, 60, 0),           // found by the scan before this folder
      ShortEntry("FAR     BIN", 0x20, 5000, 100),       // beyond the volume
      ShortEntry("HUGE    BIN", 0x20, 100, 0xFFFFFFFF), // 4 GiB from cluster 100
      ShortEntry("OWN     BIN", 0x20, 70, 100),         // inside the folder's own cluster
      ShortEntry("ONE     BIN", 0x20, 110, 1500),       // clusters 110 to 112
      ShortEntry("TWO     BIN", 0x20, 111, 500),        // inside ONE.BIN
      LongNamed(u"..", "DOTDOT  BIN", 0x20, 120, 10),
      LongNamed(u"up/../../out", "SLASH   BIN", 0x20, 121, 10),
      LongNamed(u"bell\u0007\u001b[2J", "CTRL    BIN", 0x20, 122, 10),
  };
  std::size_t at = img.ClusterOffset(70) + 64;
  for (const auto& e : entries) {
    img.Put(at, e);
    at += e.size();
  }
  img.PutDotEntries(60, 70);
  img.PutEntries(img.ClusterOffset(60) + 64, {ShortEntry("E_FILE  TXT", 0x20, 140, 100)});
  img.PutDotEntries(80, 70);
  img.PutEntries(img.ClusterOffset(80) + 64, {ShortEntry("B          ", 0x10, 90, 0)});
  img.PutDotEntries(90, 80);
  img.PutEntries(img.ClusterOffset(90) + 64,
                 {ShortEntry("A          ", 0x10, 80, 0), ShortEntry("IN_B    TXT", 0x20, 130, 700)});
  for (std::uint32_t c : {110u, 111u, 112u, 120u, 121u, 122u, 130u, 131u, 140u}) {
    img.Put(img.ClusterOffset(c), std::vector<std::uint8_t>(512, static_cast<std::uint8_t>(c)));
  }

  TempDir dir;
  const std::string image = dir / "hostile.img";
  WriteFile(image, img.bytes);
  const std::string out = dir / "out";
  auto r = Cli("scan " + Quote(image) + " --json -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 1) << r.err;  // HUGE.BIN can only be saved short
  // Standard output is the JSON listing alone; what was saved is told on
  // standard error.
  WriteFile(dir / "listing.json", r.out);
  WriteFile(dir / "lister.py", std::string(kLister));
  auto listed = test::Run("python3 " + Quote(dir / "lister.py") + " " + Quote(dir / "listing.json"));
  ASSERT_EQ(listed.exitCode, 0) << r.out << listed.err;
  EXPECT_EQ(r.out.find("saved"), std::string::npos);
  EXPECT_NE(r.err.find("saved "), std::string::npos) << r.err;

  std::map<std::string, std::string> status;  // path and name -> "status kind"
  std::istringstream lines(listed.out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t end = line.rfind('"');
    status[line.substr(1, end - 1)] = line.substr(end + 2);
  }
  auto statusOf = [&](const std::string& rest) {
    for (const auto& [name, s] : status) {
      if (name.size() >= rest.size() && name.compare(name.size() - rest.size(), rest.size(), rest) == 0) return s;
    }
    return std::string("(not listed)");
  };
  const std::map<std::string, std::string> expected = {
      {"Cluster_70\\\\A", "Good folder"},
      {"Cluster_70\\\\A\\\\B", "Good folder"},
      {"Cluster_70\\\\A\\\\B\\\\IN_B.TXT", "Good file"},
      {"Cluster_70\\\\EARLY", "Good folder"},
      {"Cluster_70\\\\EARLY\\\\E_FILE.TXT", "Good file"},
      {"Cluster_70\\\\FAR.BIN", "Poor file"},
      {"Cluster_70\\\\HUGE.BIN", "Poor file"},
      {"Cluster_70\\\\OWN.BIN", "Poor file"},
      {"Cluster_70\\\\ONE.BIN", "Good file"},
      {"Cluster_70\\\\TWO.BIN", "Poor file"},
      {"Cluster_70\\\\..", "Good file"},
      {"Cluster_70\\\\up/../../out", "Good file"},
      {"Cluster_70\\\\bell\\u0007\\u001b[2J", "Good file"},
  };
  for (const auto& [rest, s] : expected) EXPECT_EQ(statusOf(rest), s) << rest << "\n" << listed.out;
  EXPECT_EQ(statusOf("SELF"), "(not listed)");
  EXPECT_EQ(statusOf("B\\\\A"), "(not listed)") << "a folder naming the one above it is not followed";
  // The folders A and B were reached from the folder that names them and
  // are not rebuilt a second time on their own.
  EXPECT_EQ(statusOf("Cluster_60"), "(not listed)") << "it moved under the folder that names it";
  EXPECT_EQ(statusOf("Cluster_80"), "(not listed)");
  EXPECT_EQ(statusOf("Cluster_90"), "(not listed)");

  // Everything written lies inside the output folder, under plain names.
  std::size_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
    const std::string p = e.path().string();
    if (p == image || p == out || p.rfind(out + "/", 0) == 0 || e.path().extension() == ".json" ||
        e.path().extension() == ".py") {
      if (e.is_regular_file() && p.rfind(out + "/", 0) == 0) ++written;
      continue;
    }
    ADD_FAILURE() << "written outside the output folder: " << p;
  }
  EXPECT_EQ(written, 10u);  // every file listed, the short ones included
  EXPECT_EQ(ReadFile(out + "/Cluster_70/ONE.BIN").size(), 1500u);
  EXPECT_TRUE(fs::exists(out + "/Cluster_70/A/B/IN_B.TXT"));
  EXPECT_TRUE(fs::exists(out + "/Cluster_70/__"));  // ".."
  EXPECT_TRUE(fs::exists(out + "/Cluster_70/up_.._.._out"));
}

// A quick format of NTFS writes a new master file table over the start of
// the old one; the old records behind it and the files' data stay in
// clusters the new volume calls free. The carve gives back every file of a
// recognised type that lay in one run.
TEST(CliScanQuickFormat, NtfsFilesOfKnownTypesAreCarvedAfterTheFormat) {
  TempDir dir;
  const std::string image = dir / "n.img";
  const std::string mkntfs = "mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 0 -S 0 -L OLD " + Quote(image) + " 2>/dev/null";
  MakeSparseFile(image, 32u << 20);
  MustRun(mkntfs);
  const std::string jpeg = dir / "photo.jpg", png = dir / "chart.png";
  MustRun("/usr/bin/convert -size 400x300 plasma: " + Quote(jpeg) + " && /usr/bin/convert -size 300x200 gradient:red-blue " +
          Quote(png));
  WriteFile(dir / "script", "mkdir /Pictures\nput /Pictures/photo.jpg " + jpeg + "\nput /Pictures/chart.png " + png +
                                "\nput /small.bin " + jpeg + "\n");
  MustRun(Quote(NtfsFixturePath()) + " " + Quote(image) + " " + Quote(dir / "script"));
  MustRun(mkntfs);
  const std::string out = dir / "out";
  auto r = Cli("scan " + Quote(image) + " -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::vector<std::uint8_t>, int> saved;
  for (const auto& e : fs::directory_iterator(out)) saved[ReadFile(e.path())] += 1;
  EXPECT_EQ(saved[ReadFile(jpeg)], 2) << r.out;  // the photo was put in twice
  EXPECT_EQ(saved[ReadFile(png)], 1) << r.out;
}

}  // namespace
}  // namespace relictor::test
