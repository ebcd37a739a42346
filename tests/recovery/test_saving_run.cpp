// The saving run over an in-memory tree: counting, the questions and the
// two replace flags, where files land, equal and hostile names, things in
// the way of an output file, short and failed files, and stopping.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/test_support.h"
#include "tree_doubles.h"

namespace relictor::test {
namespace {

namespace fs = std::filesystem;
using msgbox::kIdNo;
using msgbox::kIdYes;
using msgbox::kIdYesToAll;

class SavingRunTest : public ::testing::Test {
 protected:
  // Runs a saving task over the selection on this thread with its own stop
  // event, the way a job runner would.
  SavingReport Save(const std::vector<CDirEntry*>& selection, Prompter* prompter, bool replaceAll = false) {
    SavingTask task(selection, out.Path().string(), prompter, replaceAll);
    task.SetProgress(&progress);
    RunTaskHere(task, stop);
    EXPECT_TRUE(task.Ran());
    return task.Report();
  }
  std::string Read(const std::string& rel) {
    auto b = ReadFile((out.Path() / rel).string());
    return {b.begin(), b.end()};
  }
  bool Exists(const std::string& rel) { return fs::exists(fs::symlink_status(out.Path() / rel)); }

  TempDir out;
  FakeFolder tree{"root"};
  RecordingProgress progress;
  std::shared_ptr<StopEvent> stop = std::make_shared<StopEvent>();
};

TEST_F(SavingRunTest, CountsFilesAtAnyDepthAndSavesFoldersBelowTheirNames) {
  FakeFolder* a = tree.Folder("A");
  a->File("one.txt", Text("1"));
  FakeFolder* b = a->Folder("B");
  b->File("two.txt", Text("22"));
  b->Folder("C")->File("three.txt", Text("333"));
  FakeFile* top = tree.File("top.txt", Text("top"));
  SavingReport r = Save({a, top}, nullptr);
  EXPECT_EQ(r.outcome, SavingOutcome::Finished);
  EXPECT_EQ(r.total, 4u);
  EXPECT_EQ(progress.counter, "4/4");
  EXPECT_EQ(progress.overallHigh, 4u);
  EXPECT_EQ(progress.statuses, (std::vector<std::string>{"Calculating files count...", "Saving file..."}));
  EXPECT_EQ(Read("A/one.txt"), "1");
  EXPECT_EQ(Read("A/B/two.txt"), "22");
  EXPECT_EQ(Read("A/B/C/three.txt"), "333");
  EXPECT_EQ(Read("top.txt"), "top");
  EXPECT_EQ(r.bytesWritten, 9u);
  EXPECT_EQ(r.saved.size(), 4u);
  EXPECT_EQ(a->populateCalls, 1);  // counted and saved from one read
}

TEST_F(SavingRunTest, NoSelectionCountsZeroOfZero) {
  SavingReport r = Save({}, nullptr);
  EXPECT_EQ(r.outcome, SavingOutcome::Finished);
  EXPECT_EQ(progress.counter, "0/0");
  EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(SavingRunTest, AnsweringNoForAFolderSkipsItAndTurnsFileReplacingOff) {
  FakeFolder* a = tree.Folder("A");
  a->File("x.txt", Text("new"));
  FakeFile* f = tree.File("f.txt", Text("new"));
  fs::create_directory(out.Path() / "A");
  WriteFile(out / "A/x.txt", "old");
  WriteFile(out / "f.txt", "old");
  ScriptedPrompter ask({kIdNo, kIdNo});
  SavingReport r = Save({a, f}, &ask);
  ASSERT_EQ(ask.asked.size(), 2u);
  EXPECT_EQ(ask.asked[0].text,
            "This folder already contains a folder called 'A' \nIf the files in the existing folder have the same "
            "name as files you are saving, \ndo you want to replace the existing files?");
  EXPECT_EQ(ask.asked[0].caption, "Kalvor Relictor");
  EXPECT_EQ(ask.asked[0].style, 0x08000034u);
  EXPECT_EQ(ask.asked[1].text, "This folder already contains a file called 'f.txt' \nWould you like to replace the existing file?");
  EXPECT_EQ(Read("A/x.txt"), "old");
  EXPECT_EQ(Read("f.txt"), "old");
  EXPECT_EQ(r.skipped.size(), 2u);
  EXPECT_EQ(progress.counter, "0/2");  // skipped files do not advance the counter
}

TEST_F(SavingRunTest, YesForAFolderReplacesLaterFilesWithoutAsking) {
  FakeFolder* a = tree.Folder("A");
  a->File("x.txt", Text("new"));
  FakeFile* f = tree.File("f.txt", Text("new"));
  fs::create_directory(out.Path() / "A");
  WriteFile(out / "A/x.txt", "old");
  WriteFile(out / "f.txt", "old");
  ScriptedPrompter ask({kIdYes});
  Save({a, f}, &ask);
  EXPECT_EQ(ask.asked.size(), 1u);
  EXPECT_EQ(Read("A/x.txt"), "new");
  EXPECT_EQ(Read("f.txt"), "new");
}

TEST_F(SavingRunTest, YesToAllForFilesStillLeavesFolderQuestions) {
  FakeFile* f = tree.File("f.txt", Text("new"));
  FakeFile* g = tree.File("g.txt", Text("new"));
  FakeFolder* a = tree.Folder("A");
  a->File("x.txt", Text("new"));
  FakeFolder* b = tree.Folder("B");
  b->File("y.txt", Text("new"));
  FakeFile* h = tree.File("h.txt", Text("new"));
  for (const char* n : {"f.txt", "g.txt", "h.txt"}) WriteFile(out / n, "old");
  fs::create_directory(out.Path() / "A");
  fs::create_directory(out.Path() / "B");
  // Files: Yes to All. Folder A: Yes to All, so B is not asked about.
  ScriptedPrompter ask({kIdYesToAll, kIdYesToAll});
  SavingReport r = Save({f, g, a, b, h}, &ask);
  ASSERT_EQ(ask.asked.size(), 2u);
  EXPECT_NE(ask.asked[0].text.find("a file called 'f.txt'"), std::string::npos);
  EXPECT_NE(ask.asked[1].text.find("a folder called 'A'"), std::string::npos);
  for (const char* n : {"f.txt", "g.txt", "h.txt", "A/x.txt", "B/y.txt"}) EXPECT_EQ(Read(n), "new") << n;
  EXPECT_TRUE(r.skipped.empty());
}

TEST_F(SavingRunTest, WithoutAPrompterExistingNamesAreKeptAndWithReplaceAllReplaced) {
  FakeFolder* a = tree.Folder("A");
  a->File("x.txt", Text("new"));
  FakeFile* f = tree.File("f.txt", Text("new"));
  fs::create_directory(out.Path() / "A");
  WriteFile(out / "f.txt", "old");
  SavingReport r = Save({a, f}, nullptr);
  EXPECT_FALSE(Exists("A/x.txt"));
  EXPECT_EQ(Read("f.txt"), "old");
  EXPECT_EQ(r.skipped.size(), 2u);
  ScriptedPrompter ask;
  Save({a, f}, &ask, true);
  EXPECT_TRUE(ask.asked.empty());
  EXPECT_EQ(Read("A/x.txt"), "new");
  EXPECT_EQ(Read("f.txt"), "new");
}

TEST_F(SavingRunTest, EqualAndHostileNamesStayApartAndInsideTheOutputFolder) {
  FakeFolder* dir = tree.Folder("..");
  dir->File("_OCUMENT.TXT", Text("first"));
  dir->File("_OCUMENT.TXT", Text("second"));
  dir->File("_ocument.txt", Text("third"));
  dir->File("../../escape", Text("e"));
  dir->File("a\\b", Text("b"));
  dir->File("tab\there\x1b[31m\x7f", Text("c"));
  dir->File("", Text("empty"));
  dir->File(".", Text("dot"));
  FakeFolder* slash = tree.Folder("/etc");
  slash->File("passwd", Text("p"));
  SavingReport r = Save({dir, slash}, nullptr);
  EXPECT_EQ(r.outcome, SavingOutcome::Finished);
  EXPECT_EQ(Read("__/_OCUMENT.TXT"), "first");
  EXPECT_EQ(Read("__/_OCUMENT (2).TXT"), "second");
  EXPECT_EQ(Read("__/_ocument (3).txt"), "third");
  EXPECT_EQ(Read("__/.._.._escape"), "e");
  EXPECT_EQ(Read("__/a_b"), "b");
  EXPECT_EQ(Read("__/tab_here_[31m_"), "c");
  EXPECT_EQ(Read("__/_"), "empty");
  EXPECT_EQ(Read("__/_ (2)"), "dot");
  EXPECT_EQ(Read("_etc/passwd"), "p");
  std::size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(out.Path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 9u);
}

TEST_F(SavingRunTest, ALinkOrAFileInTheWayStopsWithOneNoticeAndWritesNothingOutside) {
  TempDir elsewhere;
  WriteFile(elsewhere / "target", "precious");
  fs::create_symlink(elsewhere / "target", out.Path() / "f.txt");
  FakeFile* f = tree.File("f.txt", Text("new"));
  FakeFile* g = tree.File("g.txt", Text("new"));
  ScriptedPrompter ask({kIdYes});
  SavingReport r = Save({f, g}, &ask);
  EXPECT_EQ(r.outcome, SavingOutcome::Failed);
  ASSERT_EQ(ask.asked.size(), 2u);  // the question, then the notice
  EXPECT_EQ(ask.asked[1].style, 48u);
  EXPECT_NE(ask.asked[1].text.find("symbolic link"), std::string::npos) << ask.asked[1].text;
  EXPECT_TRUE(r.failureShown);
  auto kept = ReadFile(elsewhere / "target");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");
  EXPECT_FALSE(Exists("g.txt"));  // the saving stopped at the failure

  // A folder that is a link to a folder elsewhere is not written into; a
  // regular file where a folder should go fails the same way.
  fs::create_directory_symlink(elsewhere.Path(), out.Path() / "L");
  WriteFile(out / "F", "a file");
  FakeFolder* l = tree.Folder("L");
  l->File("x.txt", Text("x"));
  FakeFolder* ff = tree.Folder("F");
  ff->File("y.txt", Text("y"));
  for (FakeFolder* folder : {l, ff}) {
    ScriptedPrompter none;
    r = Save({folder}, &none, true);
    EXPECT_EQ(r.outcome, SavingOutcome::Failed);
    EXPECT_EQ(none.asked.size(), 1u);
  }
  EXPECT_EQ(fs::directory_entry(elsewhere / "target").file_size(), 8u);
  EXPECT_FALSE(fs::exists(elsewhere / "x.txt"));

  // A file replaced in the output folder may be a hard link to one
  // outside it, which keeps its data.
  fs::create_hard_link(elsewhere / "target", out.Path() / "h.txt");
  r = Save({tree.File("h.txt", Text("new"))}, nullptr, true);
  EXPECT_EQ(r.outcome, SavingOutcome::Finished);
  EXPECT_EQ(Read("h.txt"), "new");
  kept = ReadFile(elsewhere / "target");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");

  // A pipe in the way is refused, not opened (which could block).
  ASSERT_EQ(::mkfifo((out / "pipe").c_str(), 0666), 0);
  r = Save({tree.File("pipe", Text("p"))}, nullptr, true);
  EXPECT_EQ(r.outcome, SavingOutcome::Failed);
  EXPECT_FALSE(r.failureShown);
  EXPECT_NE(r.failure.find("pipe"), std::string::npos);
}

TEST_F(SavingRunTest, ShortFilesAreReportedAndFailedReadsEndTheRunWithoutANotice) {
  FakeFile* s = tree.File("short.bin", RandomBytes(1000, 1));
  s->shortAt = 600;
  FakeFile* bad = tree.File("bad.bin", RandomBytes(10, 2));
  bad->fail = true;
  FakeFile* after = tree.File("after.bin", RandomBytes(10, 3));
  ScriptedPrompter ask;
  SavingReport r = Save({s, bad, after}, &ask);
  EXPECT_EQ(r.outcome, SavingOutcome::Failed);
  EXPECT_TRUE(ask.asked.empty());
  EXPECT_FALSE(r.failureShown);
  ASSERT_EQ(r.saved.size(), 1u);
  EXPECT_EQ(r.saved[0].written, 600u);
  EXPECT_EQ(r.saved[0].problems, std::vector<std::string>{"sector 7 could not be read"});
  EXPECT_EQ(r.ShortCount(), 1u);
  // The file the reader gave up on is not left behind looking saved.
  EXPECT_FALSE(Exists("bad.bin"));
  ASSERT_EQ(r.incomplete.size(), 1u);
  EXPECT_EQ(r.incomplete[0].outputPath, (out.Path() / "bad.bin").string());
  EXPECT_NE(r.failure.find("removed"), std::string::npos) << r.failure;
  EXPECT_EQ(r.NotStarted(), 1u);
  EXPECT_FALSE(Exists("after.bin"));
}

TEST_F(SavingRunTest, AFullOutputEndsTheRunWithItsReasonAndRemovesTheCutFile) {
  // The output's file system refuses data past 1000 bytes, as a full disk
  // refuses the next block.
  struct rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  FakeFile* fits = tree.File("fits.bin", RandomBytes(600, 1));
  FakeFile* big = tree.File("big.bin", RandomBytes(4000, 2));
  SavingReport r = Save({fits, big}, nullptr);
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.outcome, SavingOutcome::Failed);
  EXPECT_NE(r.failure.find("could not be written"), std::string::npos) << r.failure;
  EXPECT_EQ(Read("fits.bin").size(), 600u);
  EXPECT_FALSE(Exists("big.bin"));
  ASSERT_EQ(r.incomplete.size(), 1u);
  EXPECT_EQ(r.saved.size(), 1u);
}

TEST_F(SavingRunTest, AStopHalfWayKeepsTheWholeFilesAndRemovesTheCutOne) {
  FakeFile* a = tree.File("a.bin", RandomBytes(100, 1));
  FakeFile* b = tree.File("b.bin", RandomBytes(100, 2));
  b->stop = stop;
  FakeFolder* rest = tree.Folder("rest");
  rest->File("c.bin", RandomBytes(100, 3));
  rest->File("d.bin", RandomBytes(100, 4));
  SavingReport r = Save({a, b, rest}, nullptr);
  EXPECT_EQ(r.outcome, SavingOutcome::Stopped);
  EXPECT_EQ(Read("a.bin").size(), 100u);
  EXPECT_FALSE(Exists("b.bin"));
  EXPECT_FALSE(Exists("rest"));
  ASSERT_EQ(r.saved.size(), 1u);
  ASSERT_EQ(r.incomplete.size(), 1u);
  EXPECT_NE(r.incomplete[0].reason.find("stopped after 50 of 100 bytes"), std::string::npos) << r.incomplete[0].reason;
  EXPECT_EQ(r.total, 4u);
  EXPECT_EQ(r.NotStarted(), 2u);
  EXPECT_EQ(r.bytesWritten, 100u);
}

TEST_F(SavingRunTest, OneFolderListedTwiceBelowItselfIsSavedOnce) {
  // A damaged volume where every folder lists the same child folder twice
  // would double the work at every level.
  FakeFolder* top = tree.Folder("top", 10);
  FakeFolder* level = top;
  for (int i = 0; i < 40; ++i) {
    FakeFolder* next = level->Folder("d", 100 + i);
    level->Append(std::make_unique<FakeFolder>("d", 100 + i))->File("f", Text("again"));
    next->File("f", Text("x"));
    level = next;
  }
  EXPECT_EQ(CountFiles(*top, nullptr), 40);
  SavingReport r = Save({top}, nullptr);
  EXPECT_EQ(r.outcome, SavingOutcome::Finished);
  EXPECT_EQ(r.saved.size(), 40u);
  EXPECT_EQ(r.skipped.size(), 40u);
}

TEST(SavingRunFolder, GetsAFinalSeparatorAndAnEmptyOneIsTheCurrentFolder) {
  EXPECT_EQ(SavingRun("/tmp/out", nullptr, nullptr).OutputPath(), "/tmp/out/");
  EXPECT_EQ(SavingRun("/tmp/out/", nullptr, nullptr).OutputPath(), "/tmp/out/");
  EXPECT_EQ(SavingRun("", nullptr, nullptr).OutputPath(), "./");
}

}  // namespace
}  // namespace relictor::test
