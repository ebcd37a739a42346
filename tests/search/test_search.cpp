#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "search/search.h"
#include "volume/driver.h"

namespace relictor {
namespace {

TEST(MatchWildcard, TheDocumentedExamples) {
  EXPECT_TRUE(MatchWildcard("anything.txt", "*", false));
  EXPECT_TRUE(MatchWildcard("", "*", false));
  EXPECT_TRUE(MatchWildcard("a.b", "*.*", false));
  EXPECT_FALSE(MatchWildcard("README", "*.*", false));
  EXPECT_TRUE(MatchWildcard("a", "a*", false));
  EXPECT_FALSE(MatchWildcard("a", "a**", false));
  EXPECT_TRUE(MatchWildcard("ab", "a**", false));
  EXPECT_TRUE(MatchWildcard("xyz", "*xyz", false));
  EXPECT_TRUE(MatchWildcard("xyz", "x?z", false));
  EXPECT_FALSE(MatchWildcard("xz", "x?z", false));
  EXPECT_TRUE(MatchWildcard("", "", false));
  EXPECT_FALSE(MatchWildcard("a", "", false));
}

TEST(MatchWildcard, CaseAndTheQuestionMarkAtTheEnd) {
  EXPECT_TRUE(MatchWildcard("Photo.JPG", "photo.jpg", false));
  EXPECT_FALSE(MatchWildcard("Photo.JPG", "photo.jpg", true));
  EXPECT_TRUE(MatchWildcard("Photo.JPG", "Photo.JPG", true));
  EXPECT_FALSE(MatchWildcard("abc", "ab", false));
  EXPECT_FALSE(MatchWildcard("ab", "abc", false));
  // A "?" past the last name character passes, and a "*" after it still
  // ends the match successfully: the rule as the program has always had it.
  EXPECT_FALSE(MatchWildcard("a", "a?", false));
  EXPECT_TRUE(MatchWildcard("a", "a?*", false));
  EXPECT_FALSE(MatchWildcard("a", "a??*", false));
  // Bytes above 0x7F compare as they are.
  EXPECT_TRUE(MatchWildcard("caf\xC3\xA9", "CAF\xC3\xA9", false));
  EXPECT_FALSE(MatchWildcard("caf\xC3\xA9", "CAF\xC3\x89", false));
}

TEST(MatchWildcard, ManyStarsStayFast) {
  std::string name(200, 'a');
  std::string pattern;
  for (int i = 0; i < 30; ++i) pattern += "a*";
  pattern += "b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchWildcard(name, pattern, false));
  EXPECT_TRUE(MatchWildcard(name + "b", pattern, false));
  // Exponential backtracking would take far longer than this.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A small tree with a lost-files folder under the root.
class Folder final : public CDirectory {
 public:
  bool HasSubfolders(bool) override { return false; }
  void Populate(bool, bool, bool force) override {
    populateForced = force;
    ++populates;
    populated = true;
  }
  int populates = 0;
  bool populateForced = false;
};
class File final : public CFSFile {
 public:
  bool SaveData(OutputFile&, ProgressSink*) override { return true; }
};
class Volume final : public CVolumeDriver {
 public:
  Volume() {
    letter_ = 'C';
    root_ = std::make_unique<Folder>();
    root_->volume = this;
    root_->populated = true;
    auto lost = std::make_unique<Folder>();
    lost->name = "LostFiles";
    lost->volume = this;
    lostFiles_ = root_->Append(std::move(lost));
  }
  bool Attach(SectorSourcePtr, ByteSpan, std::uint64_t) override { return false; }
  std::string FileSystemName() const override { return "TEST"; }
};

template <typename T>
T* Add(CDirectory* parent, const std::string& name, std::uint64_t size = 0, EntryTime created = 0,
       EntryTime modified = 0) {
  auto e = std::make_unique<T>();
  e->name = name;
  e->size = size;
  e->created = created;
  e->modified = modified;
  e->volume = parent->volume;
  return parent->Append(std::move(e));
}

struct Hits final : SearchResultSink {
  void AddResult(std::uint32_t index, CDirEntry* e) override {
    EXPECT_EQ(index, names.size());
    names.push_back(e->GetLocation() + e->name);
  }
  std::vector<std::string> names;
};

class SearchTree : public ::testing::Test {
 protected:
  void SetUp() override {
    CDirectory* root = v.GetRoot();
    Add<File>(v.GetLostFiles(), "Cluster_9.JPG", 5000);
    docs = Add<Folder>(root, "Docs", 0, 100, 100);
    docs->populated = true;
    Add<File>(docs, "letter.txt", 1024, 1000, 2000);
    Add<File>(docs, "notes.txt", 1025, 3000, 4000);
    deep = Add<Folder>(docs, "Deep.txt", 0, 100, 100);  // a folder whose name matches too
    Add<File>(deep, "inner.txt", 10, 5000, 6000);
    Add<File>(root, "top.jpg", 0, 7000, 8000);
  }
  std::vector<std::string> Run(SearchCriteria c, bool* completed = nullptr) {
    Hits hits;
    std::uint32_t counter = 0;
    bool ok = Search(*v.GetRoot(), c, &hits, counter);
    if (completed) *completed = ok;
    EXPECT_EQ(counter, hits.names.size());
    return hits.names;
  }
  Volume v;
  Folder* docs = nullptr;
  Folder* deep = nullptr;
};

TEST_F(SearchTree, RecurseOnAndOffAndLostFilesNeverListed) {
  SearchCriteria c;
  c.pattern = "*";
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs", "C:\\top.jpg"}));
  c.recurse = true;
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs", "C:\\Docs\\letter.txt", "C:\\Docs\\notes.txt",
                                              "C:\\Docs\\Deep.txt", "C:\\Docs\\Deep.txt\\inner.txt",
                                              "C:\\top.jpg"}));
  c.pattern = "*.txt";
  EXPECT_EQ(Run(c).size(), 4u) << "a folder whose name matches is listed, and searched into";
  c.pattern = "";
  EXPECT_EQ(Run(c).size(), 6u) << "an empty pattern searches with *";
}

TEST_F(SearchTree, SizeBoundsAreStrictAndInBytes) {
  SearchCriteria c;
  c.recurse = true;
  c.sizeFilter = true;
  EXPECT_TRUE(Run(c).empty()) << "both bounds 0 match nothing";
  c.sizeLow = 1024;
  c.sizeHigh = 5000;
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs\\notes.txt"}));
  c.sizeLow = 1023;
  c.sizeHigh = 1025;
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs\\letter.txt"}));
}

TEST_F(SearchTree, DateBoundsAreStrict) {
  SearchCriteria c;
  c.recurse = true;
  c.dateFilter = true;
  c.dateFrom = c.dateTo = 3000;
  EXPECT_TRUE(Run(c).empty()) << "equal bounds match nothing";
  c.dateFrom = 1000;
  c.dateTo = 5000;
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs\\notes.txt"}));
  c.dateKind = kDateModified;
  c.dateFrom = 1999;
  c.dateTo = 6001;
  EXPECT_EQ(Run(c), (std::vector<std::string>{"C:\\Docs\\letter.txt", "C:\\Docs\\notes.txt",
                                              "C:\\Docs\\Deep.txt\\inner.txt"}));
}

TEST_F(SearchTree, UnpopulatedFoldersArePopulatedWithForce) {
  auto* later = Add<Folder>(v.GetRoot(), "Later");
  SearchCriteria c;
  c.recurse = true;
  Run(c);
  EXPECT_EQ(later->populates, 1);
  EXPECT_TRUE(later->populateForced);
  EXPECT_EQ(static_cast<Folder*>(v.GetLostFiles())->populates, 0) << "LostFiles is never read by a search";
}

TEST_F(SearchTree, AStopHalfWayEndsTheWalkAndKeepsTheHits) {
  struct StopAfterTwo final : SearchResultSink {
    void AddResult(std::uint32_t, CDirEntry*) override {
      if (++count == 2) event->Signal();
    }
    int count = 0;
    std::shared_ptr<StopEvent> event = std::make_shared<StopEvent>();
  } sink;
  StopScope scope(sink.event);
  SearchCriteria c;
  c.recurse = true;
  std::uint32_t counter = 0;
  EXPECT_FALSE(Search(*v.GetRoot(), c, &sink, counter));
  EXPECT_EQ(counter, 2u);
}

TEST_F(SearchTree, TheTaskReportsTheCountOnlyWhenItRanToTheEnd) {
  Hits first, hits;
  SearchCriteria c;
  c.pattern = "*.jpg";
  SearchTask task(*v.GetRoot(), c, &first);
  EXPECT_FALSE(task.AutoStart());
  ASSERT_TRUE(StartWorker(task));
  StopWorker();  // may stop it before or after it finished
  EXPECT_EQ(task.Completed(), !task.StatusText().empty());
  SearchTask again(*v.GetRoot(), c, &hits);
  EXPECT_TRUE(RunTaskHere(again));
  EXPECT_TRUE(again.Completed());
  EXPECT_EQ(again.StatusText(), "Finded 1 Object(s)");
  SearchCriteria none;
  none.pattern = "nothing-like-this";
  Hits nothing;
  SearchTask empty(*v.GetRoot(), none, &nothing);
  RunTaskHere(empty);
  EXPECT_EQ(empty.StatusText(), "Finded 0 Object(s)");
}

TEST_F(SearchTree, AFolderThatHoldsItselfEndsAtTheDepthLimit) {
  // A damaged FAT directory can name its own cluster as a subfolder; such a
  // tree grows as it is read.
  class Endless final : public CDirectory {
   public:
    bool HasSubfolders(bool) override { return true; }
    void Populate(bool, bool, bool) override {
      populated = true;
      auto child = std::make_unique<Endless>();
      child->name = "again";
      child->volume = volume;
      Append(std::move(child));
    }
  };
  auto loop = std::make_unique<Endless>();
  loop->name = "loop";
  loop->volume = &v;
  v.GetRoot()->Append(std::move(loop));
  SearchCriteria c;
  c.recurse = true;
  c.pattern = "again";
  auto hits = Run(c);
  EXPECT_EQ(hits.size(), static_cast<std::size_t>(kMaxSearchDepth));
}

}  // namespace
}  // namespace relictor
