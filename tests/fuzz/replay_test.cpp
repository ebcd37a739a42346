// Runs one fuzz target's harness, as an ordinary test, over every input
// kept under tests/fuzz/regressions/<name>/ (inputs that once found a
// fault) and over its seed corpus. A fault comes back as a crash, a
// sanitizer report in the asan build, or the harness's abort on unbounded
// work.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  return files;
}

TEST(FuzzReplay, RegressionInputsAndSeeds) {
  const fs::path root = fs::path(relictor::test::SourceDir()) / "tests" / "fuzz";
  std::size_t inputs = 0;
  for (const char* kind : {"regressions", "corpus"}) {
    for (const fs::path& file : InputsIn(root / kind / RELICTOR_FUZZ_NAME)) {
      SCOPED_TRACE(file.string());
      const std::vector<std::uint8_t> bytes = relictor::test::ReadFile(file.string());
      EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0u) << "no inputs for " << RELICTOR_FUZZ_NAME;
}

}  // namespace
