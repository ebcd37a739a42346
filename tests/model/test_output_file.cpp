#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "model/output_file.h"
#include "support/test_support.h"

namespace relictor {
namespace {

TEST(OutputFile, FdOutputWritesAndCutsToLength) {
  test::TempDir dir;
  std::string path = dir / "out.bin";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  FdOutputFile out(fd);
  auto bytes = test::RandomBytes(8192, 1);
  ASSERT_TRUE(out.Write(bytes.data(), bytes.size()));
  EXPECT_EQ(out.BytesWritten(), 8192u);
  ASSERT_TRUE(out.SetLength(5000));
  ::close(fd);
  auto back = test::ReadFile(path);
  ASSERT_EQ(back.size(), 5000u);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin()));
}

TEST(OutputFile, APipeCannotBeCutSoOnlyTheExactLengthSucceeds) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  FdOutputFile out(fds[1]);
  ASSERT_TRUE(out.Write("abcd", 4));
  EXPECT_TRUE(out.SetLength(4));
  EXPECT_FALSE(out.SetLength(2));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(OutputFile, MemoryOutputKeepsToItsLimitAndCollectsProblems) {
  MemoryOutputFile out(10);
  EXPECT_TRUE(out.Write("0123456789", 10));
  EXPECT_FALSE(out.Write("x", 1));
  EXPECT_TRUE(out.SetLength(4));
  EXPECT_EQ(out.Bytes().size(), 4u);
  out.NoteProblem("short read");
  ASSERT_EQ(out.Problems().size(), 1u);
}

}  // namespace
}  // namespace relictor
