// relictor-cli recover and scan, end to end through the built program: the
// bytes that come back, the image left untouched, existing names, hostile
// names, files saved short, the scan's range rules, questions on a
// terminal and Ctrl-C.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fat/fat_fixture.h"
#include "scan/real_files.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;

struct Shared {
  std::unique_ptr<TempDir> dir;
  std::string image;
  std::uint64_t pngCluster = 1500;
};

Shared& S() {
  static Shared s;
  return s;
}

// What each planted file holds: seeded random bytes of its size.
const std::vector<std::pair<std::string, std::size_t>> kFiles = {
    {"/Docs/Report one.txt", 9000}, {"/Docs/Sub/Deep file.bin", 70000}, {"/Loose file.bin", 4097},
    {"/First file.bin", 3000},      {"/Third file.bin", 100},
};

std::vector<std::uint8_t> Bytes(std::size_t i) { return RandomBytes(kFiles[i].second, i + 1); }

CommandResult Cli(const std::string& args) { return Run(Quote(CliPath()) + " " + args); }

std::string Text(const std::string& path) {
  auto b = ReadFile(path);
  return {b.begin(), b.end()};
}

class CliRecoverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Shared& s = S();
    s.dir = std::make_unique<TempDir>();
    s.image = *s.dir / "vol.img";
    MakeFat(s.image, 12, "4M", "-s 4");
    Mmd(s.image, "/Docs");
    Mmd(s.image, "/Docs/Sub");
    // Everything is copied before anything is deleted: mtools reuses the
    // entries and clusters that a deletion frees.
    for (std::size_t i = 0; i < kFiles.size(); ++i) {
      WriteFile(*s.dir / "src", Bytes(i));
      Mcopy(s.image, *s.dir / "src", kFiles[i].first);
    }
    for (const auto& f : kFiles) Mdel(s.image, f.first);
    // A PNG whose entry is gone, for the scan.
    Layout layout = ReadLayout(ReadFile(s.image));
    std::fstream f(s.image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(layout.ClusterOffset(static_cast<std::uint32_t>(s.pngCluster))));
    const auto& png = RealFile("picture.png");
    f.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  }
  static void TearDownTestSuite() { S().dir.reset(); }

  TempDir work;
};

TEST_F(CliRecoverTest, SavesFoldersAndFilesByteForByteAndNeverTouchesTheImage) {
  const std::string before = Sha256(S().image);
  const std::string out = work / "out";
  auto r = Cli("recover " + Quote(S().image) + " /Docs '/Loose file.bin' -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out + "/Docs/Report one.txt"), Bytes(0));
  EXPECT_EQ(ReadFile(out + "/Docs/Sub/Deep file.bin"), Bytes(1));
  EXPECT_EQ(ReadFile(out + "/Loose file.bin"), Bytes(2));
  EXPECT_NE(r.out.find("saved            9000  " + out + "/Docs/Report one.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 of 3 files saved whole (83097 bytes)"), std::string::npos) << r.out;

  // The root's contents straight into a folder that is made with its parents.
  const std::string deep = work / "new/deeper";
  r = Cli("recover " + Quote(S().image) + " / -o " + Quote(deep));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (std::size_t i = 0; i < kFiles.size(); ++i) EXPECT_EQ(ReadFile(deep + kFiles[i].first), Bytes(i)) << i;
  EXPECT_FALSE(fs::exists(deep + "/LostFiles"));

  r = Cli("scan " + Quote(S().image) + " -o " + Quote(work / "found"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string name = "Cluster_" + std::to_string(S().pngCluster) + ".PNG";
  EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(work / ("found/" + name)), RealFile("picture.png"));
  EXPECT_EQ(Sha256(S().image), before);
}

TEST_F(CliRecoverTest, ExistingNamesAreKeptUnlessOverwriteIsGiven) {
  const std::string out = work.Path().string();
  WriteFile(out + "/Loose file.bin", "old");
  fs::create_directory(out + "/Docs");
  const std::string args = "recover " + Quote(S().image) + " /Docs '/Loose file.bin' -o " + Quote(out);
  for (const char* flag : {"", " --skip"}) {
    auto r = Cli(args + flag);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Text(out + "/Loose file.bin"), "old");
    EXPECT_EQ(ReadFile(out + "/Docs/Report one.txt"), Bytes(0)) << "an existing folder is entered";
    EXPECT_NE(r.out.find("skipped                " + out + "/Loose file.bin: a file of that name exists"),
              std::string::npos)
        << r.out;
  }
  auto r = Cli(args + " --overwrite");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out + "/Loose file.bin"), Bytes(2));
  EXPECT_EQ(ReadFile(out + "/Docs/Sub/Deep file.bin"), Bytes(1));

  EXPECT_EQ(Cli(args + " --overwrite --skip").exitCode, 2);
  EXPECT_EQ(Cli("recover " + Quote(S().image) + " /Docs").exitCode, 2);
  r = Cli("recover " + Quote(S().image) + " /Nothing -o " + Quote(out));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("no entry named 'Nothing'"), std::string::npos) << r.err;
}

// Keeping existing names keeps existing files but enters existing
// folders, with --skip and where nobody can be asked alike: a second run
// brings back what is missing from the first one's folder.
TEST_F(CliRecoverTest, SkippingKeepsExistingFilesAndFillsInExistingFolders) {
  for (const char* flag : {" --skip", ""}) {
    SCOPED_TRACE(flag);
    TempDir dir;
    const std::string out = dir.Path().string();
    const std::string args = "recover " + Quote(S().image) + " /Docs -o " + Quote(out);
    ASSERT_EQ(Cli(args).exitCode, 0);
    fs::remove(out + "/Docs/Sub/Deep file.bin");
    WriteFile(out + "/Docs/Report one.txt", "old");
    auto r = Cli(args + flag);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(out + "/Docs/Sub/Deep file.bin"), Bytes(1));
    EXPECT_EQ(Text(out + "/Docs/Report one.txt"), "old");
    EXPECT_NE(r.out.find("1 of 2 files saved whole"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(out + "/Docs/Report one.txt: a file of that name exists"), std::string::npos) << r.out;
  }
}

// Naming LostFiles runs the deep scan that fills it, and saves its finds.
TEST_F(CliRecoverTest, RecoveringLostFilesScansFirst) {
  const std::string out = work / "out";
  auto r = Cli("recover " + Quote(S().image) + " /LostFiles -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string name = "Cluster_" + std::to_string(S().pngCluster) + ".PNG";
  EXPECT_EQ(ReadFile(out + "/LostFiles/" + name), RealFile("picture.png")) << r.out;
  EXPECT_EQ(r.out.find("0 of 0 files"), std::string::npos) << r.out;
}

TEST_F(CliRecoverTest, ScanRangesFollowTheRangeDialog) {
  auto r = Cli("scan " + Quote(S().image) + " --start 101 --end 100");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("The end cluster can not less start cluster."), std::string::npos) << r.err;
  r = Cli("scan " + Quote(S().image) + " --start 100 --end 101");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("scanned clusters 100-101(0Mb): 0 lost files"), std::string::npos) << r.err;
  // A range of one cluster is a range.
  r = Cli("scan " + Quote(S().image) + " --start 100 --end 100");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("scanned clusters 100-100(0Mb): 0 lost files"), std::string::npos) << r.err;
  EXPECT_EQ(Cli("scan " + Quote(S().image) + " --end 99999999").exitCode, 2);
  EXPECT_EQ(Cli("scan " + Quote(S().image) + " --start x").exitCode, 2);
  r = Cli("scan " + Quote(S().image) + " --json --start " + std::to_string(S().pngCluster - 10));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"Cluster_" + std::to_string(S().pngCluster) + ".PNG\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"size\": " + std::to_string(RealFile("picture.png").size())), std::string::npos);
}

TEST_F(CliRecoverTest, AnOutputFolderOnTheDiskBeingReadIsRefused) {
  struct stat here {};
  ASSERT_EQ(::stat(work.Path().c_str(), &here), 0);
  std::string device;
  std::error_code ec;
  for (auto& e : fs::directory_iterator("/dev", ec)) {
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == here.st_dev) device = e.path();
  }
  if (device.empty()) GTEST_SKIP() << "no block device node for the temporary folder's file system";
  auto r = Cli("recover " + Quote(device) + " / -o " + Quote(work / "out"));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("lies on " + device), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(work / "out"));
}

// A FAT12 volume made byte by byte whose deleted files carry names that
// try to leave the output folder or steer the terminal, two that are
// equal, and one whose data would run past the end of the volume.
// The newer carved types reach the scan's listing and JSON, and saved files
// keep their entries' times unless --no-keep-times is given.
TEST(CliRecoverNewer, ScanListsTheNewTypesAndRecoverKeepsTimes) {
  TempDir dir;
  const std::string image = dir / "vol.img";
  MakeFat(image, 16, "16M", "-s 4");
  const std::string src = dir / "Old letter.txt";
  WriteFile(src, RandomBytes(5000, 77));
  constexpr long kStamp = 1400000000;  // 2014-05-13 16:53:20 UTC
  MustRun("touch -d @" + std::to_string(kStamp) + " " + Quote(src));
  MustRun("mcopy -m -i " + Quote(image) + " " + Quote(src) + " ::/");
  Mdel(image, "/Old letter.txt");
  // An MP3 and a DOCX whose entries are gone.
  Layout layout = ReadLayout(ReadFile(image));
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  const std::uint32_t mp3Cluster = 1000, docxCluster = 1200;
  for (auto [cluster, name] : {std::pair{mp3Cluster, "sound.mp3"}, std::pair{docxCluster, "letter.docx"}}) {
    f.seekp(static_cast<std::streamoff>(layout.ClusterOffset(cluster)));
    const auto& bytes = RealFile(name);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  f.close();

  auto r = Cli("scan " + Quote(image) + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"Cluster_" + std::to_string(mp3Cluster) + ".MP3\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"name\": \"Cluster_" + std::to_string(docxCluster) + ".DOCX\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"size\": " + std::to_string(RealFile("letter.docx").size())), std::string::npos);

  const std::string kept = dir / "kept";
  r = Cli("recover " + Quote(image) + " '/Old letter.txt' -o " + Quote(kept));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(::stat((kept + "/Old letter.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kStamp);
  const long before = static_cast<long>(std::time(nullptr));
  const std::string fresh = dir / "fresh";
  r = Cli("recover " + Quote(image) + " '/Old letter.txt' -o " + Quote(fresh) + " --no-keep-times");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(::stat((fresh + "/Old letter.txt").c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before - 1);
  EXPECT_EQ(ReadFile(fresh + "/Old letter.txt"), RandomBytes(5000, 77));
}

TEST(CliRecoverHostile, NamesStayInsideTheOutputFolderAndShortFilesAreReported) {
  CraftedFat12 v;
  auto checksum = [](const char* n11) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(n11[i]));
    return sum;
  };
  std::vector<std::vector<std::uint8_t>> root;
  std::vector<std::pair<std::string, std::string>> expect;  // output path, content
  auto deletedFile = [&](const std::u16string& lfn, const char* n11, std::uint32_t cluster, const std::string& body,
                         std::vector<std::vector<std::uint8_t>>& entries) {
    if (!lfn.empty()) entries.push_back(LongEntry(0xE5, lfn, checksum(n11)));
    auto e = ShortEntry(n11, 0x20, cluster, static_cast<std::uint32_t>(body.size()));
    e[0] = 0xE5;
    entries.push_back(e);
    v.Put(v.ClusterOffset(cluster), std::vector<std::uint8_t>(body.begin(), body.end()));
  };
  // A folder whose long name is "..", holding a file that climbs up.
  root.push_back(LongEntry(0x41, u"..", checksum("DOTDOT     ")));
  root.push_back(ShortEntry("DOTDOT     ", 0x10, 50, 0));
  v.SetFat(50, 0xFFF);
  v.PutDotEntries(50, 0);
  std::vector<std::vector<std::uint8_t>> inner;
  deletedFile(u"../up.txt", "UP      TXT", 60, "up", inner);
  v.PutEntries(v.ClusterOffset(50) + 64, inner);
  expect.push_back({"__/.._up.txt", "up"});
  deletedFile(u"../../x.txt", "X       TXT", 10, "x", root);
  expect.push_back({".._.._x.txt", "x"});
  deletedFile(u"a\\b.txt", "AB      TXT", 12, "ab", root);
  expect.push_back({"a_b.txt", "ab"});
  deletedFile(u"..", "DOTS       ", 14, "dots", root);
  expect.push_back({"__ (2)", "dots"});
  deletedFile(u"c\x01\x1b[2J.txt", "C       TXT", 16, "ctl", root);
  expect.push_back({"c__[2J.txt", "ctl"});
  deletedFile(u"/etc/passwd", "PASSWD     ", 18, "pw", root);
  expect.push_back({"_etc_passwd", "pw"});
  deletedFile(u"", "DOCUMENTTXT", 20, "first", root);
  expect.push_back({"_OCUMENT.TXT", "first"});
  deletedFile(u"", "DOCUMENTTXT", 22, "second", root);
  expect.push_back({"_OCUMENT (2).TXT", "second"});
  // The last data cluster is 201: three clusters from there run off the volume.
  deletedFile(u"", "SHORT   BIN", 201, std::string(512, 's'), root);
  root.back()[28] = 0, root.back()[29] = 6;  // size 1536
  v.PutEntries(v.RootOffset(), root);

  TempDir dir;
  WriteFile(dir / "hostile.img", v.bytes);
  fs::create_directory(dir.Path() / "inside");
  const std::string out = dir / "inside/out";
  auto r = Cli("recover " + Quote(dir / "hostile.img") + " / -o " + Quote(out));
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.out.find("SHORT             512  " + out + "/_HORT.BIN (of 1536 bytes)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("past the end of the volume"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("1 file was saved short"), std::string::npos) << r.err;
  for (const auto& [path, content] : expect) EXPECT_EQ(Text(out + "/" + path), content) << path;
  std::size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(dir.Path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, expect.size() + 2);  // the found files, the short one and the image: nothing elsewhere
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "a name reached the terminal raw";
}

// Runs the CLI on a pseudo-terminal, so that it asks its questions there.
// `react` sees everything the program wrote so far and may answer (its
// result is written to the terminal) or interrupt it.
struct TerminalRun {
  int exitCode = -1;
  std::string output;
};

TerminalRun RunOnTerminal(const std::vector<std::string>& args,
                          const std::function<std::string(const std::string&, pid_t)>& react) {
  TerminalRun run;
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv;
    std::string cli = CliPath();
    argv.push_back(cli.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
  }
  EXPECT_GT(pid, 0);
  if (pid <= 0) return run;
  for (int idle = 0; idle < 200;) {  // 20 s without output ends the wait
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) {
      ++idle;
      continue;
    }
    char buf[4096];
    ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    idle = 0;
    run.output.append(buf, static_cast<std::size_t>(n));
    std::string answer = react(run.output, pid);
    if (!answer.empty()) {
      EXPECT_EQ(::write(master, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(CliRecoverTest, OnATerminalTheQuestionsAreAskedAndCtrlCStopsKeepingWhatWasSaved) {
  const std::string out = work.Path().string();
  WriteFile(out + "/Loose file.bin", "old");
  WriteFile(out + "/Third file.bin", "old");
  bool answered = false;
  auto yesToAll = RunOnTerminal({"recover", S().image, "/Loose file.bin", "/Third file.bin", "-o", out},
                                [&](const std::string& text, pid_t) -> std::string {
                                  if (answered || text.find("[n] No:") == std::string::npos) return {};
                                  answered = true;
                                  return "a\n";
                                });
  EXPECT_EQ(yesToAll.exitCode, 0) << yesToAll.output;
  EXPECT_EQ(Occurrences(yesToAll.output, "Would you like to replace the existing file?"), 1u) << yesToAll.output;
  EXPECT_NE(yesToAll.output.find("a file called 'Loose file.bin'"), std::string::npos);
  EXPECT_EQ(ReadFile(out + "/Loose file.bin"), Bytes(2));
  EXPECT_EQ(ReadFile(out + "/Third file.bin"), Bytes(4));

  // The first file is saved, the second is asked about, and Ctrl-C comes
  // while the question waits: the third is never saved.
  WriteFile(out + "/Loose file.bin", "old");
  fs::remove(out + "/Third file.bin");
  bool interrupted = false;
  auto stopped = RunOnTerminal({"recover", S().image, "/First file.bin", "/Loose file.bin", "/Third file.bin", "-o",
                                out + "/"},
                               [&](const std::string& text, pid_t pid) -> std::string {
                                 if (!interrupted && text.find("[n] No:") != std::string::npos) {
                                   interrupted = true;
                                   ::kill(pid, SIGINT);
                                 }
                                 return {};
                               });
  EXPECT_EQ(stopped.exitCode, 130) << stopped.output;
  EXPECT_EQ(ReadFile(out + "/First file.bin"), Bytes(3));
  EXPECT_EQ(Text(out + "/Loose file.bin"), "old");
  EXPECT_FALSE(fs::exists(out + "/Third file.bin"));
  EXPECT_NE(stopped.output.find("stopped: the files saved so far stay in"), std::string::npos) << stopped.output;
}

}  // namespace
}  // namespace relictor::test
