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
  if (size < 512 || size > fuzz::kMaxImage) return 0;
  auto source = fuzz::PaddedSource(data, size, fuzz::ClaimedVolumeBytes(data, size));
  CFATDriver volume;
  volume.SetDevice(source);
  if (!volume.Open('C', kDriveFixed, "C:\\", false)) return 0;
  fuzz::Walk walk;
  fuzz::ReadTree(*volume.GetRoot(), walk, 0);
  fuzz::SearchAndCount(volume);

  // A deep scan of up to 2048 clusters: enough for a rule that walked the
  // rest of the range from every header to show.
  const std::uint64_t first = volume.FirstCluster();
  const std::uint64_t last = std::min(volume.LastCluster(), first + 2047);
  if (first <= last) {
    volume.SetScanRange(first, last);
    const std::uint64_t before = source->ReadCalls();
    DeepScan(volume, nullptr);
    const std::uint64_t clusters = last - first + 1;
    fuzz::CheckWork(source->ReadCalls() - before <= 24 * clusters + 2048, "deep scan");
  }
  return 0;
}
