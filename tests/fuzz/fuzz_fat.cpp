// libFuzzer target: a FAT volume image. Open it, read the tree with its
// deleted entries to a bounded depth, save the files, search and count as
// the command line does, and deep-scan a stretch of clusters.

#include <cstddef>
#include <cstdint>

#include "fat/fat_driver.h"
#include "fuzz_support.h"
#include "scan/deep_scan.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<MemorySource> source;
  auto volume = fuzz::OpenVolume<CFATDriver>(data, size, &source);
  if (!volume) return 0;
  fuzz::Walk walk;
  fuzz::ReadTree(*volume->GetRoot(), walk, 0);
  fuzz::SearchAndCount(*volume);

  std::uint64_t first = 0, last = 0;
  if (fuzz::ScanFirstClusters(*volume, first, last)) {
    const std::uint64_t before = source->ReadCalls();
    DeepScan(*volume, nullptr);
    const std::uint64_t clusters = last - first + 1;
    fuzz::CheckWork(source->ReadCalls() - before <= 24 * clusters + 2048, "deep scan");
  }
  return 0;
}
