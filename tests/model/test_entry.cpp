#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <vector>

#include "model/entry.h"
#include "volume/driver.h"

namespace relictor {
namespace {

class Folder final : public CDirectory {
 public:
  explicit Folder(int* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Folder() override {
    if (destroyed_) ++*destroyed_;
  }
  bool HasSubfolders(bool) override { return false; }
  void Populate(bool, bool, bool) override { populated = true; }

 private:
  int* destroyed_;
};

class File final : public CFSFile {
 public:
  explicit File(int* destroyed = nullptr) : destroyed_(destroyed) {}
  ~File() override {
    if (destroyed_) ++*destroyed_;
  }
  bool SaveData(OutputFile&, ProgressSink*) override { return true; }

 private:
  int* destroyed_;
};

class Volume final : public CVolumeDriver {
 public:
  explicit Volume(unsigned char letter, bool accessTimeOfDay = false, int* destroyed = nullptr)
      : accessTimeOfDay_(accessTimeOfDay) {
    letter_ = letter;
    root_ = std::make_unique<Folder>(destroyed);
    root_->volume = this;
    root_->name = std::string(1, static_cast<char>(letter)) + ":\\";
  }
  bool Attach(SectorSourcePtr, ByteSpan, std::uint64_t) override { return false; }
  std::string FileSystemName() const override { return "TEST"; }
  bool KeepsAccessTimeOfDay() const override { return accessTimeOfDay_; }

 private:
  bool accessTimeOfDay_;
};

template <typename T>
T* Add(CDirectory* parent, const std::string& name, int* destroyed = nullptr) {
  auto e = std::make_unique<T>(destroyed);
  e->name = name;
  e->volume = parent->volume;
  return parent->Append(std::move(e));
}

class LocalTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    had_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

TEST(Entry, LocationWalksUpToTheVolumeRoot) {
  Volume d('D');
  auto* work = Add<Folder>(d.GetRoot(), "Work");
  auto* deep = Add<Folder>(work, "Deep");
  auto* file = Add<File>(deep, "a.txt");
  auto* top = Add<File>(d.GetRoot(), "top.txt");
  EXPECT_EQ(file->GetLocation(), "D:\\Work\\Deep\\");
  EXPECT_EQ(top->GetLocation(), "D:\\");
  EXPECT_EQ(d.GetRoot()->GetLocation(), "");
  EXPECT_EQ(file->GetLocation(work), "Deep\\");
  EXPECT_EQ(file->GetLocation(deep), "");
  // A stop folder that is not an ancestor: the walk runs to the root.
  Volume e('E');
  EXPECT_EQ(file->GetLocation(e.GetRoot()), "D:\\Work\\Deep\\");
}

TEST(Entry, SizeTexts) {
  Volume c('C');
  auto* f = Add<File>(c.GetRoot(), "f");
  struct Case {
    std::uint64_t v;
    const char* plain;
    const char* bytes;
  } cases[] = {{0, "0 KB", "0 KB (0 Bytes)"},
               {1, "1 KB", "1 KB (1 Bytes)"},
               {1023, "1 KB", "1 KB (1023 Bytes)"},
               {1024, "1 KB", "1 KB (1024 Bytes)"},
               {5000, "4 KB", "4 KB (5000 Bytes)"},
               {2147483648ull, "2097152 KB", "2097152 KB (2147483648 Bytes)"},
               {5ull << 32, "20971520 KB", "20971520 KB (21474836480 Bytes)"}};
  for (const auto& k : cases) {
    f->size = k.v;
    f->allocatedSize = k.v;
    EXPECT_EQ(f->GetSizeText(false), k.plain);
    EXPECT_EQ(f->GetSizeText(true), k.bytes);
    EXPECT_EQ(f->GetSizeOnDiskText(true), k.bytes);
  }
  auto* folder = Add<Folder>(c.GetRoot(), "dir");
  folder->size = 5000;
  folder->allocatedSize = 8192;
  EXPECT_EQ(folder->GetSizeText(true), "");
  EXPECT_EQ(folder->GetSizeOnDiskText(false), "");
}

TEST(Entry, StatusTextsAndAnalyse) {
  Volume c('C');
  auto* f = Add<File>(c.GetRoot(), "f");
  EXPECT_EQ(f->status, kStatusPoor);  // the constructor's value
  EXPECT_FALSE(f->analysed);
  EXPECT_EQ(f->GetStatusText(), "Poor");
  EXPECT_TRUE(f->analysed);
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "Existing"}, {1, "Excellent"}, {2, "Good"}, {3, "Poor"}, {4, "Existing"}, {0xFFFFFFFF, "Existing"}};
  for (auto [value, text] : cases) {
    f->status = value;
    EXPECT_EQ(f->GetStatusText(), text);
  }
}

TEST(Entry, KindsAndTypeText) {
  Volume c('C');
  auto* folder = Add<Folder>(c.GetRoot(), "Photos.2024");
  auto* file = Add<File>(c.GetRoot(), "report.final.DOC");
  file->typeText = TypeTextFromName(file->name);
  EXPECT_TRUE(folder->IsFolder());
  EXPECT_FALSE(file->IsFolder());
  EXPECT_TRUE(file->IsKindOf<CFSFile>());
  EXPECT_FALSE(folder->IsKindOf<CFSFile>());
  EXPECT_EQ(file->GetTypeText(), "DOC");
  EXPECT_EQ(TypeTextFromName("README"), "README");
  EXPECT_EQ(TypeTextFromName("archive."), "");
  EXPECT_EQ(folder->GetTypeText(), "");
  SetFolderTypeName("File folder");
  EXPECT_EQ(folder->GetTypeText(), "File folder");
  SetFolderTypeName("");
}

TEST_F(LocalTime, DateTextsInLocalTime) {
  Volume fat('C', false), ntfs('D', true);
  auto* a = Add<File>(fat.GetRoot(), "a");
  auto* b = Add<File>(ntfs.GetRoot(), "b");
  // 2023-03-04 05:06:07 UTC
  const EntryTime t = 1677906367;
  a->created = a->modified = a->accessed = t;
  b->accessed = t;
  EXPECT_EQ(a->GetCreatedText(), "2023/03/04 05:06:07");
  EXPECT_EQ(a->GetModifiedText(), "2023/03/04 05:06:07");
  EXPECT_EQ(a->GetAccessedText(), "2023/03/04") << "FAT keeps no access time of day";
  EXPECT_EQ(b->GetAccessedText(), "2023/03/04 05:06:07");
  // Unset times give empty texts.
  EXPECT_EQ(b->GetCreatedText(), "");
  // Another zone shifts the text.
  setenv("TZ", "UTC-2", 1);
  tzset();
  EXPECT_EQ(a->GetModifiedText(), "2023/03/04 07:06:07");
}

// What the date texts were before the offset cache: the C library's local
// time of every single time stamp.
std::string LibraryText(EntryTime t, bool withTime) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  if (!localtime_r(&tt, &tm)) return {};
  char buf[64];
  if (withTime) {
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
  } else {
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  }
  return buf;
}

TEST_F(LocalTime, DateTextsAgreeWithTheLibraryInEveryZoneAcrossItsChanges) {
  // Zones with summer time, half-hour and 45-minute offsets, a half-hour
  // summer shift, offsets in seconds (local mean times before 1972), leap
  // seconds, and a plain fixed offset; switched within one program.
  const char* zones[] = {"Europe/Berlin",      "America/St_Johns", "Asia/Kathmandu", "Australia/Lord_Howe",
                         "Africa/Monrovia",    "right/UTC",        "UTC-2",          "America/New_York",
                         "Pacific/Kiritimati", "Europe/Berlin"};
  std::vector<EntryTime> times = {0, -1, 1, 59, 3599, 3600, -86400, 951782400 /* 2000-02-29 */,
                                  -62135596800 /* 0001-01-01 */, 253402300799 /* 9999-12-31 23:59:59 */,
                                  253402300800, -62135596801, 78796799 /* a leap second's neighbour */, 78796800,
                                  -2208988800 /* 1900 */, 1711846800 /* a summer time change in Berlin */};
  // Every few minutes across a year with changes in all the zones, and
  // scattered times over five centuries.
  for (EntryTime t = 1711500000; t < 1711500000 + 366 * 86400; t += 1201) times.push_back(t);
  std::uint64_t x = 88172645463325252ull;
  for (int i = 0; i < 8000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    times.push_back(static_cast<EntryTime>(x % (16000000000ull)) - 6000000000);
  }
  for (const char* zone : zones) {
    setenv("TZ", zone, 1);
    tzset();
    SCOPED_TRACE(zone);
    int wrong = 0;
    for (EntryTime t : times) {
      // Twice: the first fills the cache, the second is served from it.
      for (int pass = 0; pass < 2; ++pass) {
        if (FormatDateTime(t) != LibraryText(t, true) || FormatDate(t) != LibraryText(t, false)) {
          if (++wrong < 5) ADD_FAILURE() << t << ": " << FormatDateTime(t) << " != " << LibraryText(t, true);
        }
      }
      char buf[kDateTextCapacity];
      ASSERT_EQ(FormatDateTimeTo(t, buf), LibraryText(t, true).size());
      // Back from local fields to the instant, as the library does it:
      // the fields of this time, and fields past their ranges as FAT
      // entries hold them (day 0, hour 31, second 62, month 13 or 0).
      const std::time_t tt = static_cast<std::time_t>(t);
      std::tm local{};
      if (!localtime_r(&tt, &local)) continue;
      std::tm variants[] = {local, local, local, local, local, local};
      variants[1].tm_mday = 0;
      variants[2].tm_hour = 31;
      variants[3].tm_sec = 62;
      variants[4].tm_mon = 12;
      variants[5].tm_mon = -1;
      for (const std::tm& v : variants) {
        std::tm copy = v;
        copy.tm_isdst = -1;
        const std::time_t want = std::mktime(&copy);
        const EntryTime got = LocalFieldsToEntryTime(v);
        if (got != (want == static_cast<std::time_t>(-1) ? kNoTime : static_cast<EntryTime>(want))) {
          if (++wrong < 5) ADD_FAILURE() << t << ": back " << got << " != " << want;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
  char buf[kDateTextCapacity];
  EXPECT_EQ(FormatDateTimeTo(kNoTime, buf), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(Entry, FoldersOwnTheirChildrenAndReadersOwnTheirTree) {
  int destroyed = 0;
  {
    Volume c('C', false, &destroyed);
    auto* f = Add<Folder>(c.GetRoot(), "f", &destroyed);
    Add<File>(f, "x", &destroyed);
    Add<File>(c.GetRoot(), "y", &destroyed);
    EXPECT_EQ(f->parent, c.GetRoot());
    EXPECT_EQ(c.GetRoot()->children.size(), 2u);
  }
  EXPECT_EQ(destroyed, 4);  // root, f, x, y

  destroyed = 0;
  Volume d('D');
  auto* g = Add<Folder>(d.GetRoot(), "g");
  Add<File>(g, "1", &destroyed);
  Add<File>(g, "2", &destroyed);
  g->ClearChildren();
  EXPECT_EQ(destroyed, 2);
  EXPECT_TRUE(g->children.empty());
}

}  // namespace
}  // namespace relictor
