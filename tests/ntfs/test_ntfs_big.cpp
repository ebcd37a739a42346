// A folder of 100,000 files made by the fixture tool whose own name has
// moved to an extension record, as happens to large folders: every file is
// listed, in record order, and the folder keeps its place in the tree. The
// image is made once for the whole binary.

#include <gtest/gtest.h>

#include <set>

#include "ntfs_helpers.h"

namespace relictor::test {
namespace {

constexpr int kFiles = 100000;

class NtfsBigFolder : public ::testing::Test {
 protected:
  // The image is made by the first test that runs, so that a failure to
  // make it fails that test instead of skipping the suite.
  void SetUp() override {
    if (!dir_) Make();
    ASSERT_FALSE(info_->empty()) << "the image could not be made";
  }
  static void Make() {
    dir_ = new TempDir;
    image_ = new std::string(*dir_ / "big.img");
    MakeNtfs(*image_, "400M", 4096);
    RunFixture(*image_,
               "mkdir /big\n"
               "mkfiles /big " + std::to_string(kFiles) + " f 0\n"
               "attrlist /big\n"
               "mkdir /big/inner\n"
               "text /big/inner/deep.txt deep\n"
               "fill /big/extra.bin 50000 3\n"
               "mkfiles /big/inner 3 g 100\n"
               "delete /big/f000500\n");
    info_ = new std::map<std::string, std::string>(FixtureInfo(*image_, "/big"));
  }
  static void TearDownTestSuite() {
    delete info_;
    delete image_;
    delete dir_;
  }
  static TempDir* dir_;
  static std::string* image_;
  static std::map<std::string, std::string>* info_;
};

TempDir* NtfsBigFolder::dir_ = nullptr;
std::string* NtfsBigFolder::image_ = nullptr;
std::map<std::string, std::string>* NtfsBigFolder::info_ = nullptr;

TEST_F(NtfsBigFolder, EveryFileOfAFolderWhoseNameMovedOutIsListed) {
  ASSERT_EQ((*info_)["attrlist"], "1") << "the fixture did not move the folder's name";
  auto d = OpenNtfsFile(*image_);
  ASSERT_TRUE(d);
  auto root = ChildNames(d->GetRoot());
  EXPECT_EQ(root, (std::vector<std::string>{"LostFiles", "DeletedFiles", "big"}));
  CNTFSDirectory* big = FindDir(*d, "/big");
  ASSERT_TRUE(big);
  EXPECT_TRUE(big->HasSubfolders(true));
  auto names = ChildNames(big);
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kFiles) + 2);
  std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(unique.size(), names.size());
  char expected[16];
  std::snprintf(expected, sizeof expected, "f%06d", kFiles);
  EXPECT_TRUE(unique.count(expected));
  EXPECT_TRUE(unique.count("f000001"));
  EXPECT_TRUE(unique.count("inner"));
  // The deleted file is still there, marked deleted.
  CNTFSFile* gone = FindFile(*d, "/big/f000500");
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->deleted);
  EXPECT_FALSE(FindFile(*d, "/big/f000501")->deleted);
  // Entries come in record order, which is creation order here.
  std::uint64_t previous = 0;
  for (auto& c : big->children) {
    auto* f = dynamic_cast<CNTFSFile*>(c.get());
    if (!f) continue;
    EXPECT_GT(f->mftRecord, previous);
    previous = f->mftRecord;
  }
  EXPECT_EQ(Save(Find(*d, "/big/extra.bin")).bytes, Gen(50000, 3));
  EXPECT_EQ(Save(Find(*d, "/big/inner/g000002")).bytes, Gen(100, 2));
  EXPECT_EQ(ChildNames(FindDir(*d, "/big/inner")).size(), 4u);
  EXPECT_EQ(d->MftLoads(), 1);
}

}  // namespace
}  // namespace relictor::test
