// Saving deleted files and folders from FAT12, FAT16 and FAT32 images made
// with mkfs.fat and mtools: the saved bytes are the bytes that were put in.

#include <gtest/gtest.h>

#include <filesystem>

#include "fat/fat_fixture.h"
#include "recovery/recovery.h"
#include "tree_doubles.h"

namespace relictor::test {
namespace {

struct Planted {
  std::string dest;   // where mcopy put it
  std::string saved;  // where it must come back, below the output folder
  std::size_t size;
};

// Sizes around sector, cluster and 64 KiB read boundaries.
const std::vector<Planted> kFiles = {
    {"/Camera Roll/Holiday picture 1.bin", "Camera Roll/Holiday picture 1.bin", 65536},
    {"/Camera Roll/Holiday picture 2.bin", "Camera Roll/Holiday picture 2.bin", 65535},
    {"/Camera Roll/Inner/Deep file.bin", "Camera Roll/Inner/Deep file.bin", 200001},
    {"/Camera Roll/Inner/Empty file.bin", "Camera Roll/Inner/Empty file.bin", 0},
    {"/Notes/Short one.txt", "Notes/Short one.txt", 1},
    {"/Notes/Sector sized.txt", "Notes/Sector sized.txt", 512},
    {"/SHORT.TXT", "_HORT.TXT", 513},
};

class RecoverFatImage : public ::testing::TestWithParam<std::tuple<int, const char*, const char*>> {};

TEST_P(RecoverFatImage, DeletedFilesAndFoldersComeBackByteForByte) {
  auto [bits, size, options] = GetParam();
  TempDir dir;
  const std::string img = dir / "vol.img";
  MakeFat(img, bits, size, options);
  for (const char* folder : {"/Camera Roll", "/Camera Roll/Inner", "/Notes"}) Mmd(img, folder);
  std::uint64_t seed = 1;
  for (const Planted& p : kFiles) {
    std::string host = dir / ("src" + std::to_string(seed));
    WriteFile(host, RandomBytes(p.size, seed++));
    Mcopy(img, host, p.dest);
  }
  // The folder goes with everything in it; the notes stay, their files go.
  Mdeltree(img, "/Camera Roll");
  Mdel(img, "/Notes/Short one.txt");
  Mdel(img, "/Notes/Sector sized.txt");
  Mdel(img, "/SHORT.TXT");
  const std::string before = Sha256(img);

  auto fat = OpenFatFile(img);
  ASSERT_TRUE(fat);
  std::vector<CDirEntry*> selection;
  for (auto& child : Populated(fat->GetRoot())->children) {
    if (child.get() != fat->GetLostFiles()) selection.push_back(child.get());
  }
  RecordingProgress progress;
  SavingRun run((dir.Path() / "out").string(), &progress, nullptr);
  std::filesystem::create_directory(dir.Path() / "out");
  run.Save(selection);
  const SavingReport& r = run.Report();
  EXPECT_EQ(r.outcome, SavingOutcome::Finished) << r.failure;
  EXPECT_EQ(r.total, kFiles.size());
  EXPECT_EQ(progress.counter, "7/7");
  EXPECT_EQ(r.ShortCount(), 0u);
  seed = 1;
  for (const Planted& p : kFiles) {
    EXPECT_EQ(ReadFile(dir / ("out/" + p.saved)), RandomBytes(p.size, seed++)) << p.saved;
  }
  EXPECT_EQ(Sha256(img), before);
}

INSTANTIATE_TEST_SUITE_P(EveryFatType, RecoverFatImage,
                         ::testing::Values(std::make_tuple(12, "4M", "-s 4"), std::make_tuple(16, "32M", "-s 4"),
                                           std::make_tuple(32, "34M", "-s 1")),
                         [](const auto& p) { return "FAT" + std::to_string(std::get<0>(p.param)); });

}  // namespace
}  // namespace relictor::test
