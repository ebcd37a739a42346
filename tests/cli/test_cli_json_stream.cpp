// The --json output of every command, end to end through the built
// relictor-cli: it parses with a strict parser (Python's json module, with
// invalid UTF-8, duplicate keys and NaN refused) on volumes whose names
// carry control characters, invalid UTF-8, quotes and backslashes; it says
// what the text listing says; and it stays one valid array when the run is
// stopped with Ctrl-C midway or cannot write its output.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli/json.h"
#include "fat/fat_fixture.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;

// Checks a file of JSON strictly and prints, one per line, each object's
// path and name (and a folder's "\" behind it) as an ASCII JSON string;
// with a second file, the text listing of the same entries, it checks
// that each object says what the line of the table says.
constexpr const char* kChecker = R"PY(
import json, sys

def no_duplicates(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key")
    return dict(pairs)

def no_constants(name):
    raise ValueError("not JSON: " + name)

raw = open(sys.argv[1], "rb").read()
items = json.loads(raw.decode("utf-8"), object_pairs_hook=no_duplicates, parse_constant=no_constants)
assert isinstance(items, list), "not an array"
for o in items:
    assert isinstance(o, dict), "not an object"
    if "kind" in o:
        suffix = "\\" if o["kind"] == "folder" else ""
        print(json.dumps(o["path"] + o["name"] + suffix))
    else:
        print(json.dumps(o["name"]))
if len(sys.argv) > 2:
    # Each line of the table, rebuilt byte for byte from its object.
    def safe(text):
        return bytes(63 if b < 0x20 or b == 0x7F else b for b in text.encode("utf-8"))
    def left(b, width):
        return b + b" " * (width - len(b))
    lines = open(sys.argv[2], "rb").read().split(b"\n")[:-1]
    assert len(lines) == len(items), "%d lines, %d objects" % (len(lines), len(items))
    for line, o in zip(lines, items):
        folder = o["kind"] == "folder"
        size = o["size"]
        size_text = b"" if folder else b"%d KB" % (1 if 0 < size < 1024 else size // 1024)
        name = safe(o["path"] + o["name"]) + (b"\\" if folder else b"")
        want = (left(b"DIR" if folder else b"FILE", 4) + b" " + left(b"del" if o["deleted"] else b"", 3) + b" " +
                b" " * (14 - len(size_text)) + size_text + b"  " + left(safe(o["type"]), 6) + b" " +
                left(o["modified"].encode(), 19) + b"  " + left(o["status"].encode(), 9) + b"  " + name)
        if folder and o["name"] in ("LostFiles", "DeletedFiles"):
            # The reader makes these folders with the time it reads the
            # volume, which the two runs may see a second apart.
            want = want[:32] + line[32:51] + want[51:]
        assert line == want, "%r != %r" % (line, want)
)PY";

class CliJsonStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    WriteFile(*dir_ / "check.py", kChecker);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static CommandResult Cli(const std::string& args) { return test::Run("TZ=UTC " + Quote(CliPath()) + " " + args); }

  // Runs a command with its output in a file; checks the output strictly
  // and returns the paths and names it lists (as ASCII JSON strings).
  static std::vector<std::string> StrictJson(const std::string& args, int wantExit = 0,
                                             const std::string& textArgs = {}) {
    const std::string out = *dir_ / "out.json";
    auto r = test::Run("TZ=UTC " + Quote(CliPath()) + " " + args + " > " + Quote(out));
    EXPECT_EQ(r.exitCode, wantExit) << args << ": " << r.err;
    std::string check = "python3 " + Quote(*dir_ / "check.py") + " " + Quote(out);
    if (!textArgs.empty()) {
      const std::string text = *dir_ / "out.txt";
      MustRun("TZ=UTC " + Quote(CliPath()) + " " + textArgs + " > " + Quote(text));
      check += " " + Quote(text);
    }
    auto c = test::Run(check);
    EXPECT_EQ(c.exitCode, 0) << args << ": " << c.err;
    std::vector<std::string> names;
    for (std::size_t at = 0, end; at < c.out.size(); at = end + 1) {
      end = c.out.find('\n', at);
      if (end == std::string::npos) end = c.out.size();
      names.push_back(c.out.substr(at, end - at));
    }
    return names;
  }

  static bool Has(const std::vector<std::string>& names, const std::string& want) {
    return std::find(names.begin(), names.end(), want) != names.end();
  }

  static TempDir* dir_;
};

TempDir* CliJsonStream::dir_ = nullptr;

std::uint8_t Checksum(const char* n11) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(n11[i]));
  }
  return sum;
}

// A FAT12 volume made byte by byte whose deleted entries have names with
// every kind of byte a JSON string must escape or replace.
std::string HostileFat(const TempDir& dir) {
  CraftedFat12 v;
  std::vector<std::vector<std::uint8_t>> root;
  auto deleted = [&](const std::u16string& lfn, const char* n11, std::uint32_t cluster, std::uint8_t attr,
                     std::vector<std::vector<std::uint8_t>>& entries) {
    if (!lfn.empty()) entries.push_back(LongEntry(0xE5, lfn, Checksum(n11)));
    auto e = ShortEntry(n11, attr, cluster, attr == 0x10 ? 0 : 3);
    e[0] = 0xE5;
    entries.push_back(e);
  };
  // (Each long name fits one long-name entry: 13 characters.)
  deleted(u"q\"u\\b\x01\x1f\x7f.txt", "QUOTE   TXT", 10, 0x20, root);
  deleted(u"lone \xD800.txt", "LONE    TXT", 12, 0x20, root);
  // A short name with bytes of the OEM code page that are no UTF-8.
  deleted(u"", "X\xFF\x80\xC3Q   BIN", 14, 0x20, root);
  // A deleted folder with a control character in its name, and a file in it.
  deleted(u"tab\there", "TABHERE    ", 20, 0x10, root);
  v.SetFat(20, 0xFFF);
  v.PutDotEntries(20, 0);
  std::vector<std::vector<std::uint8_t>> inner;
  deleted(u"in\"side\n.txt", "INSIDE  TXT", 16, 0x20, inner);
  v.PutEntries(v.ClusterOffset(20) + 64, inner);
  v.PutEntries(v.RootOffset(), root);
  const std::string image = dir / "hostile-fat.img";
  WriteFile(image, v.bytes);
  return image;
}

TEST_F(CliJsonStream, HostileFatNamesParseStrictlyInEveryCommand) {
  const std::string image = HostileFat(*dir_);
  auto names = StrictJson("ls -r --json " + Quote(image));
  EXPECT_TRUE(Has(names, R"("C:\\q\"u\\b\u0001\u001f\u007f.txt")")) << ::testing::PrintToString(names);
  EXPECT_TRUE(Has(names, R"("C:\\tab\there\\")")) << ::testing::PrintToString(names);
  EXPECT_TRUE(Has(names, R"("C:\\tab\there\\in\"side\n.txt")")) << ::testing::PrintToString(names);
  // A lone surrogate half comes out as a replacement character.
  EXPECT_TRUE(Has(names, R"("C:\\lone \ufffd.txt")")) << ::testing::PrintToString(names);
  // Short names are read in the OEM code page, whatever their bytes.
  EXPECT_TRUE(Has(names, R"("C:\\_\u00c7\u251cQ.BIN")")) << ::testing::PrintToString(names);
  EXPECT_EQ(names.size(), 6u) << ::testing::PrintToString(names);  // LostFiles and the five
  // The search finds the same entries (all but the special folder).
  auto found = StrictJson("find --json -r " + Quote(image) + " '*'");
  EXPECT_EQ(found.size(), 5u) << ::testing::PrintToString(found);
  for (const auto& n : found) EXPECT_TRUE(Has(names, n)) << n;
  StrictJson("scan --json " + Quote(image));
  auto drives = StrictJson("drives --json " + Quote(image));
  EXPECT_EQ(drives.size(), 1u);
  StrictJson("lost --json " + Quote(image));
}

TEST_F(CliJsonStream, AnyBytesMakeStrictJsonAndAnUnfinishedObjectIsDropped) {
  const std::string path = *dir_ / "writer.json";
  std::vector<std::string> texts;
  for (int b = 0; b < 256; ++b) texts.push_back(std::string(1, static_cast<char>(b)) + "x");
  texts.insert(texts.end(), {"\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
                             "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"\\/\b\f\n\r\t"});
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    {
      cli::OutputBuffer out(f);
      cli::JsonArrayWriter json(out);
      for (const auto& t : texts) {
        json.BeginObject();
        json.Add("name", t)
            .Add(cli::JsonKey(t), std::int64_t{-9223372036854775807 - 1})
            .Add("u", std::uint64_t{18446744073709551615u});
        json.EndObject();
      }
      // Ended some other way midway through an object: the writer closes
      // the array without it.
      json.BeginObject();
      json.Add("name", "half");
    }
    std::fclose(f);
  }
  auto c = test::Run("python3 " + Quote(*dir_ / "check.py") + " " + Quote(path));
  ASSERT_EQ(c.exitCode, 0) << c.err;
  std::vector<std::string> names;
  for (std::size_t at = 0, end; at < c.out.size(); at = end + 1) {
    end = c.out.find('\n', at);
    names.push_back(c.out.substr(at, end - at));
  }
  ASSERT_EQ(names.size(), texts.size());
  EXPECT_EQ(names[0], R"("\u0000x")");
  EXPECT_EQ(names[0x7F], R"("\u007fx")");
  EXPECT_EQ(names[0x80], R"("\ufffdx")");
  EXPECT_EQ(names[256 + 3], R"("\ufffd\ufffd\ufffd")") << "a surrogate in UTF-8 is no character";
  EXPECT_EQ(names[256 + 6], R"("caf\u00e9 \u20ac \ud83d\ude00")");
}

// Each kind of byte a JSON string must escape or replace, at every place
// in and past a word of eight between plain bytes (the writer copies
// plain runs eight bytes at a time), and numbers at their limits, byte
// for byte.
TEST(JsonWriter, StringsAndNumbersComeOutExactly) {
  const struct {
    std::string in, out;
  } kinds[] = {
      {"\"", "\\\""},          {"\\", "\\\\"},           {"\x01", "\\u0001"},
      {std::string(1, '\0'), "\\u0000"}, {"\x1f", "\\u001f"},   {"\x7f", "\\u007f"},
      {"\x80", "\xEF\xBF\xBD"},  {"\xff", "\xEF\xBF\xBD"},   {"\xC3", "\xEF\xBF\xBD"},
      {"\xC3\xA9", "\xC3\xA9"},   {"\xE2\x82\xAC", "\xE2\x82\xAC"}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const auto& k : kinds) {
    for (std::size_t at = 0; at <= 17; ++at) {
      // Plain bytes at both ends of their range around the one tested.
      const std::string before(at, ' '), after(17 - at, '~');
      EXPECT_EQ(cli::JsonString(before + k.in + after), "\"" + before + k.out + after + "\"")
          << "byte " << static_cast<int>(static_cast<unsigned char>(k.in[0])) << " at " << at;
    }
  }
  std::string plain;
  for (int c = 0x20; c < 0x7F; ++c) {
    if (c != '"' && c != '\\') plain += static_cast<char>(c);
  }
  EXPECT_EQ(cli::JsonString(plain + plain), "\"" + plain + plain + "\"");
  EXPECT_EQ(cli::JsonString(""), "\"\"");

  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  {
    cli::OutputBuffer out(f);
    cli::JsonArrayWriter json(out);
    json.BeginObject();
    json.Add("min", std::int64_t{-9223372036854775807 - 1})
        .Add("max", std::int64_t{9223372036854775807})
        .Add("u", std::uint64_t{18446744073709551615u})
        .Add("zero", std::uint64_t{0})
        .Add("minus", -1)
        .Add("yes", true)
        .AddNull("none")
        .Add(cli::JsonKey(std::string_view("q\"\\\x01")), 1)
        .Add("long", std::string(100000, 'x'));
    json.EndObject();
    ASSERT_TRUE(json.Close());
  }
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  EXPECT_EQ(text, "[\n {\"min\": -9223372036854775808, \"max\": 9223372036854775807, \"u\": 18446744073709551615, "
                  "\"zero\": 0, \"minus\": -1, \"yes\": true, \"none\": null, \"q\\\"\\\\\\u0001\": 1, \"long\": \"" +
                      std::string(100000, 'x') + "\"}\n]\n");
}

// An NTFS volume made with mkntfs and the fixture tool: names with quotes,
// backslashes and control characters, deleted ones among them, and a
// folder of many files for a run to be stopped in.
std::string HostileNtfs(const TempDir& dir, int many) {
  const std::string image = dir / "hostile-ntfs.img";
  MustRun("truncate -s 48M " + Quote(image) + " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L " +
          Quote("la\"bel") + " " + Quote(image) + " 2>&1");
  const std::string script = dir / "hostile.script";
  WriteFile(script,
            "mkdir \"/q\\\"uoted \\\\ folder\"\n"
            "text \"/q\\\"uoted \\\\ folder/tab\\there\\nnewline.txt\" one\n"
            "text \"/q\\\"uoted \\\\ folder/gone \\\"x\\\".txt\" two\n"
            "text /plain.txt three\n"
            "sitimes /plain.txt 1500000000 1600000000 1650000000\n"
            "mkdir /many\n"
            "mkfiles /many " + std::to_string(many) + " f 0\n"
            "delete \"/q\\\"uoted \\\\ folder/gone \\\"x\\\".txt\"\n");
  MustRun("SOURCE_DATE_EPOCH=1700000000 " + Quote(NtfsFixturePath()) + " " + Quote(image) + " " + Quote(script));
  return image;
}

TEST_F(CliJsonStream, NtfsNamesParseStrictlyAndSayWhatTheTableSays) {
  const std::string image = HostileNtfs(*dir_, 300);
  auto names = StrictJson("ls -r --json " + Quote(image), 0, "ls -r " + Quote(image));
  EXPECT_TRUE(Has(names, R"("C:\\q\"uoted \\ folder\\tab\there\nnewline.txt")")) << ::testing::PrintToString(names);
  EXPECT_TRUE(Has(names, R"("C:\\q\"uoted \\ folder\\gone \"x\".txt")"));
  EXPECT_EQ(names.size(), 2u + 3u + 2u + 300u);  // special folders, root entries, the folder's two, many
  auto found = StrictJson("find --json -r " + Quote(image) + " '*.txt'");
  EXPECT_EQ(found.size(), 3u);
  // The times of an edited file are those the desktop shows, in the search
  // filter as in the listing.
  auto r = Cli("find --json " + Quote(image) + " --modified 2020-09-13 2020-09-14");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"plain.txt\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"modified\": \"2020/09/13 12:26:40\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"created\": \"2017/07/14 02:40:00\""), std::string::npos) << r.out;
  auto drives = StrictJson("drives --json " + Quote(image));
  EXPECT_EQ(drives.size(), 1u);
  StrictJson("scan --json --start 1000 --end 1100 " + Quote(image));
}

// Starts the CLI with its output on a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child Start(const std::vector<std::string>& args) {
  int p[2];
  if (::pipe(p) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(p[1], STDOUT_FILENO);
    ::close(p[0]);
    ::close(p[1]);
    setenv("TZ", "UTC", 1);
    std::vector<char*> argv;
    const std::string cli = CliPath();
    argv.push_back(const_cast<char*>(cli.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(p[1]);
  return {pid, p[0]};
}

std::string ReadSome(int fd, std::size_t want) {
  std::string got;
  char buf[4096];
  while (got.size() < want) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

TEST_F(CliJsonStream, ACtrlCMidwayLeavesOneValidArrayAndExitCode130) {
  const int many = 20000;
  const std::string image = HostileNtfs(*dir_, many);
  Child c = Start({"ls", "-r", "--json", image});
  ASSERT_GT(c.pid, 0);
  // The first objects arrive before the listing is done; then the reader
  // stops reading, the pipe fills, and the program waits in a write when
  // the interrupt comes.
  std::string out = ReadSome(c.out, 1);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], '[');
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(c.pid, SIGINT), 0);
  out += ReadSome(c.out, SIZE_MAX);
  ::close(c.out);
  int status = 0;
  ::waitpid(c.pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  WriteFile(*dir_ / "stopped.json", out);
  auto r = test::Run("python3 " + Quote(*dir_ / "check.py") + " " + Quote(*dir_ / "stopped.json") + " | wc -l");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const int listed = std::stoi(r.out);
  EXPECT_GT(listed, 0);
  EXPECT_LT(listed, many) << "the run was not stopped midway";
}

TEST_F(CliJsonStream, OutputThatCannotBeWrittenIsAnErrorOnStderr) {
  const std::string image = HostileNtfs(*dir_, 2000);
  for (const char* command : {"ls -r --json", "ls -r", "find -r --json"}) {
    auto r = test::Run(Quote(CliPath()) + " " + command + " " + Quote(image) + " > /dev/full");
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << command << ": " << r.err;
  }
}

}  // namespace
}  // namespace relictor::test
