// relictor-cli ls and cat, end to end through the built program, on FAT
// images made with mkfs.fat and mtools.

#include <gtest/gtest.h>

#include <filesystem>

#include "fat/fat_fixture.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;

struct Shared {
  std::unique_ptr<TempDir> dir;
  std::string image, doc, nested, disk;
  std::vector<std::uint8_t> docBytes, nestedBytes;
};

Shared& S() {
  static Shared s;
  return s;
}

class CliLsCatTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Shared& s = S();
    s.dir = std::make_unique<TempDir>();
    s.image = *s.dir / "vol.img";
    MakeFat(s.image, 16, "32M", "-s 4 -n CLIVOL");
    Mmd(s.image, "/My Documents");
    Mmd(s.image, "/My Documents/Sub");
    Mmd(s.image, "/OLD");
    s.docBytes = RandomBytes(9000, 1);
    s.nestedBytes = RandomBytes(70000, 2);
    WriteFile(*s.dir / "doc", s.docBytes);
    WriteFile(*s.dir / "nested", s.nestedBytes);
    Mcopy(s.image, *s.dir / "doc", "/DOCUMENT.TXT");
    Mcopy(s.image, *s.dir / "nested", "/My Documents/Sub/Report é.bin");
    Mcopy(s.image, *s.dir / "doc", "/OLD/INNER.TXT");
    Mcopy(s.image, *s.dir / "doc", "/KEPT.TXT");
    Mdel(s.image, "/DOCUMENT.TXT");
    Mdel(s.image, "/My Documents/Sub/Report é.bin");
    Mdeltree(s.image, "/OLD");
  }
  static void TearDownTestSuite() { S().dir.reset(); }

  static CommandResult Cli(const std::string& args) { return test::Run(Quote(CliPath()) + " " + args); }
};

TEST_F(CliLsCatTest, LsShowsTheRootAsTheFileListDoes) {
  auto r = Cli("ls " + Quote(S().image));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("LostFiles\\"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("My Documents\\"), std::string::npos);
  EXPECT_NE(r.out.find("_OCUMENT.TXT"), std::string::npos);
  EXPECT_NE(r.out.find("_LD\\"), std::string::npos);
  EXPECT_EQ(r.out.find("KEPT.TXT"), std::string::npos) << "existing files are not listed";
  // The deleted document: a file, deleted, 8 KB, type TXT, status Good.
  std::string line;
  for (std::size_t at = 0, end; at < r.out.size(); at = end + 1) {
    end = r.out.find('\n', at);
    if (end == std::string::npos) end = r.out.size();
    std::string l = r.out.substr(at, end - at);
    if (l.find("_OCUMENT.TXT") != std::string::npos) line = l;
  }
  EXPECT_EQ(line.rfind("FILE del", 0), 0u) << line;
  EXPECT_NE(line.find("8 KB"), std::string::npos) << line;
  EXPECT_NE(line.find("TXT"), std::string::npos) << line;
  EXPECT_NE(line.find("Good"), std::string::npos) << line;
}

TEST_F(CliLsCatTest, LsPathsTakeEitherSeparator) {
  for (const char* path : {"My Documents/Sub", "My Documents\\Sub", "/my documents/SUB/"}) {
    auto r = Cli("ls " + Quote(S().image) + " " + Quote(path));
    ASSERT_EQ(r.exitCode, 0) << path << ": " << r.err;
    EXPECT_NE(r.out.find("Report é.bin"), std::string::npos) << path << ": " << r.out;
  }
  auto missing = Cli("ls " + Quote(S().image) + " 'No Such Folder'");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("no entry named 'No Such Folder'"), std::string::npos) << missing.err;
}

TEST_F(CliLsCatTest, RecursiveListingSkipsLostFiles) {
  auto r = Cli("ls -r " + Quote(S().image));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("C:\\My Documents\\Sub\\Report é.bin"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("C:\\_LD\\_NNER.TXT"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("C:\\LostFiles\\"), std::string::npos);
  EXPECT_EQ(r.out.find("Cluster_"), std::string::npos) << "no deep scan may run";
  EXPECT_EQ(r.err.find("Find Lost Files"), std::string::npos) << r.err;
}

TEST_F(CliLsCatTest, JsonHasEveryKey) {
  auto r = Cli("ls --json -r " + Quote(S().image));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out.front(), '[');
  std::size_t objects = 0;
  for (std::size_t at = r.out.find('{'); at != std::string::npos; at = r.out.find('{', at + 1)) {
    std::string obj = r.out.substr(at, r.out.find('}', at) - at);
    ++objects;
    for (const char* key : {"name", "path", "kind", "deleted", "status", "size", "size_on_disk", "type", "created",
                            "modified", "accessed", "attributes"}) {
      EXPECT_NE(obj.find(std::string("\"") + key + "\":"), std::string::npos) << key << " in " << obj;
    }
  }
  EXPECT_GE(objects, 6u);
  EXPECT_NE(r.out.find("\"name\": \"Report é.bin\", \"path\": \"C:\\\\My Documents\\\\Sub\\\\\", \"kind\": \"file\", "
                       "\"deleted\": true"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"size\": 70000, \"size_on_disk\": 71680"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"first_cluster\": "), std::string::npos);
  EXPECT_NE(r.out.find("\"kind\": \"folder\""), std::string::npos);
}

TEST_F(CliLsCatTest, CatWritesTheDeletedFileExactly) {
  std::string out = *S().dir / "out.bin";
  auto r = Cli("cat " + Quote(S().image) + " _OCUMENT.TXT >" + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out), S().docBytes);
  r = Cli("cat " + Quote(S().image) + " 'my documents\\Sub\\Report é.bin' >" + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out), S().nestedBytes);
  r = Cli("cat --replace-char '#' " + Quote(S().image) + " '#OCUMENT.TXT' >" + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out), S().docBytes);
}

TEST_F(CliLsCatTest, CatRefusesFoldersAndMissingEntries) {
  auto r = Cli("cat " + Quote(S().image) + " 'My Documents'");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  r = Cli("cat " + Quote(S().image) + " KEPT.TXT");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("no entry named 'KEPT.TXT'"), std::string::npos) << r.err;
  r = Cli("cat " + Quote(S().image) + " _OCUMENT.TXT/x");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is a file, not a folder"), std::string::npos) << r.err;
}

TEST_F(CliLsCatTest, CatOfAFileCutShortReportsItAndFails) {
  // A deleted file whose size runs past the end of the volume.
  CraftedFat12 img(100);
  auto a = RandomBytes(1024, 7);
  img.Put(img.ClusterOffset(100), a);
  img.PutEntries(img.RootOffset(), {ShortEntry("\xE5" "UTOFF  BIN", 0x20, 100, 5000)});
  std::string path = *S().dir / "short.img";
  WriteFile(path, img.bytes);
  std::string out = *S().dir / "short.out";
  auto r = Cli("cat " + Quote(path) + " _UTOFF.BIN >" + Quote(out));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("past the end of the volume"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out), a) << "the bytes that could be read stay written";
}

TEST_F(CliLsCatTest, UnreadableSourcesAndBadUsage) {
  std::string junk = *S().dir / "junk.img";
  WriteFile(junk, RandomBytes(1 << 16, 9));
  auto r = Cli("ls " + Quote(junk));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("relictor-cli: "), std::string::npos);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  r = Cli("cat " + Quote(*S().dir / "does-not-exist.img") + " X");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.err.empty());
  // A FAT boot sector whose geometry the reader refuses.
  auto boot = ReadFile(S().image);
  boot.resize(1 << 20);
  boot[13] = 128;  // 64 KiB clusters
  std::string bad = *S().dir / "bad.img";
  WriteFile(bad, boot);
  r = Cli("ls " + Quote(bad));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(Cli("ls").exitCode, 2);
  EXPECT_EQ(Cli("cat " + Quote(S().image)).exitCode, 2);
  EXPECT_EQ(Cli("ls " + Quote(S().image) + " a b").exitCode, 2);
  EXPECT_EQ(Cli("ls --bogus " + Quote(S().image)).exitCode, 2);
  // A malformed volume number is bad usage like any other; a replacement
  // character that separates names would make names no PATH can reach.
  for (const std::string& args : {"ls " + Quote(S().image + "@0"), "ls " + Quote(S().image + "@x"),
                                  "cat " + Quote(S().image + "@0") + " KEPT.TXT", "ls --replace-char / " +
                                  Quote(S().image), "ls --replace-char '\\' " + Quote(S().image)}) {
    r = Cli(args);
    EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.err;
    EXPECT_FALSE(r.err.empty());
  }
}

// Every path the listings print can be given back: `ls -r` and `find`
// write the drive in front, and PATH takes it with either separator.
TEST_F(CliLsCatTest, PathsAsTheListingsPrintThemNameTheSameFiles) {
  auto find = Cli("find " + Quote(S().image) + " '_OCUMENT.TXT'");
  ASSERT_EQ(find.exitCode, 0) << find.err;
  const auto drive = find.out.find(":\\_OCUMENT.TXT");
  ASSERT_NE(drive, std::string::npos) << find.out;
  const std::string letter = find.out.substr(drive - 1, 1);
  const std::string other = letter == "Z" ? "Y" : "Z";
  const struct {
    std::string path;
    int exitCode;
  } cases[] = {
      {letter + ":\\_OCUMENT.TXT", 0},
      {letter + ":/_OCUMENT.TXT", 0},
      {letter + ":\\My Documents\\..\\_OCUMENT.TXT", 0},
      {(letter == "C" ? "c" : letter) + ":/_OCUMENT.TXT", 0},
      {other + ":\\_OCUMENT.TXT", 1},
  };
  for (const auto& c : cases) {
    auto r = Cli("cat " + Quote(S().image) + " " + Quote(c.path));
    EXPECT_EQ(r.exitCode, c.exitCode) << c.path << "\n" << r.err;
    if (c.exitCode == 0) {
      EXPECT_TRUE(std::vector<std::uint8_t>(r.out.begin(), r.out.end()) == S().docBytes) << c.path;
    } else {
      EXPECT_NE(r.err.find("drive " + other + ":"), std::string::npos) << r.err;
    }
  }
  // And every file `ls -r` lists, by the path and name it prints.
  auto ls = Cli("ls -r " + Quote(S().image) + " --json");
  ASSERT_EQ(ls.exitCode, 0) << ls.err;
  auto value = [&](const std::string& key, std::size_t from) {
    std::string text;
    std::size_t at = ls.out.find("\"" + key + "\": \"", from);
    if (at == std::string::npos) return text;
    for (std::size_t i = at + key.size() + 5; i < ls.out.size() && ls.out[i] != '"'; ++i) {
      if (ls.out[i] == '\\') ++i;  // "\\" and "\"" stand for one character
      text += ls.out[i];
    }
    return text;
  };
  std::size_t files = 0;
  for (std::size_t at = ls.out.find("\"name\": "); at != std::string::npos; at = ls.out.find("\"name\": ", at + 1)) {
    if (value("kind", at) != "file") continue;
    const std::string path = value("path", at) + value("name", at);
    auto r = Cli("cat " + Quote(S().image) + " " + Quote(path) + " >/dev/null");
    EXPECT_EQ(r.exitCode, 0) << path << "\n" << r.err;
    ++files;
  }
  EXPECT_GE(files, 3u) << ls.out;
}

TEST_F(CliLsCatTest, SameNamedDeletedFilesArePickedByNumber) {
  TempDir dir;
  std::string img = dir / "dup.img";
  MakeFat(img, 12, "2M", "-s 1");
  WriteFile(dir / "a", RandomBytes(700, 1));
  WriteFile(dir / "b", RandomBytes(800, 2));
  Mcopy(img, dir / "a", "/AFILE.TXT");
  Mcopy(img, dir / "b", "/BFILE.TXT");
  Mdel(img, "/AFILE.TXT");
  Mdel(img, "/BFILE.TXT");
  auto r = Cli("cat " + Quote(img) + " _FILE.TXT");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("2 entries are named '_FILE.TXT'"), std::string::npos) << r.err;
  std::string out = dir / "o";
  ASSERT_EQ(Cli("cat " + Quote(img) + " '_FILE.TXT#2' >" + Quote(out)).exitCode, 0);
  EXPECT_EQ(ReadFile(out), RandomBytes(800, 2));
  ASSERT_EQ(Cli("cat " + Quote(img) + " '_FILE.TXT#1' >" + Quote(out)).exitCode, 0);
  EXPECT_EQ(ReadFile(out), RandomBytes(700, 1));
  EXPECT_EQ(Cli("cat " + Quote(img) + " '_FILE.TXT#3'").exitCode, 1);
}

TEST_F(CliLsCatTest, VolumeOfAPartitionedDisk) {
  TempDir dir;
  std::string disk = dir / "disk.img";
  MakeSparseFile(disk, 8ull << 20);
  MustRun("printf 'label: dos\\nstart=2048, type=6\\n' | sfdisk -q " + Quote(disk));
  MustRun("mkfs.fat -F 16 -s 1 --offset 2048 " + Quote(disk) + " 6000");
  WriteFile(dir / "d", RandomBytes(3333, 3));
  MustRun("mcopy -i " + Quote(disk + "@@1M") + " " + Quote(dir / "d") + " ::/PART.BIN");
  MustRun("mdel -i " + Quote(disk + "@@1M") + " ::/PART.BIN");
  std::string out = dir / "o";
  auto r = Cli("cat " + Quote(disk + "@1") + " _ART.BIN >" + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(out), RandomBytes(3333, 3));
}

// A whole-disk image cut short, as imaging a failing card gives it: the
// partition reaches past the image's end. Every command opens it with a
// warning; what lies inside the image comes back whole, a file behind its
// end is saved short.
TEST_F(CliLsCatTest, ACutShortDiskImageGivesWhatItHolds) {
  TempDir dir;
  const std::string full = dir / "full.img", cut = dir / "cut.img";
  MakeSparseFile(full, 40ull << 20);
  MustRun("printf 'label: dos\\nstart=2048, type=6\\n' | sfdisk -q " + Quote(full));
  MustRun("mkfs.fat -F 16 -s 4 --offset 2048 " + Quote(full) + " 38912");
  const auto early = RandomBytes(5000, 31), late = RandomBytes(7000, 32);
  WriteFile(dir / "Early file.bin", early);
  WriteFile(dir / "Filler.bin", RandomBytes(20u << 20, 33));
  WriteFile(dir / "Late file.bin", late);
  for (const char* name : {"Early file.bin", "Filler.bin", "Late file.bin"}) {
    MustRun("mcopy -i " + Quote(full + "@@1M") + " " + Quote(dir / name) + " " + Quote(std::string("::/") + name));
  }
  MustRun("mdel -i " + Quote(full + "@@1M") + " '::/Early file.bin' '::/Late file.bin'");
  MustRun("head -c 16M " + Quote(full) + " >" + Quote(cut));
  const std::string hash = Sha256(cut);

  // drives lists the volume and, as for any source with a problem, ends
  // with 1.
  const struct {
    std::string args;
    int exitCode;
    const char* out;
  } cases[] = {
      {"drives " + Quote(cut), 1, "FAT16"},
      {"ls " + Quote(cut), 0, "Late file.bin"},
      {"scan " + Quote(cut), 0, ""},
      {"recover " + Quote(cut) + " '/Early file.bin' '/Late file.bin' -o " + Quote(dir / "out"), 1, "1 saved short"},
  };
  for (const auto& c : cases) {
    auto r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args << "\n" << r.out;
    EXPECT_NE(r.err.find("reaches past the end of the disk"), std::string::npos) << c.args << "\n" << r.err;
  }
  auto r = Cli("cat " + Quote(cut) + " '/Early file.bin'");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::vector<std::uint8_t>(r.out.begin(), r.out.end()) == early);
  EXPECT_EQ(ReadFile(dir / "out/Early file.bin"), early);
  EXPECT_TRUE(fs::exists(dir / "out/Late file.bin"));
  EXPECT_EQ(Sha256(cut), hash);
}

}  // namespace
}  // namespace relictor::test
