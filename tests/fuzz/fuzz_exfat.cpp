// libFuzzer target: an exFAT volume image. Open it (through the backup boot
// region where the main one is damaged), read the tree with its deleted
// sets to a bounded depth, save the files, search and count as the command
// line does, and deep-scan a stretch of clusters.

#include <cstddef>
#include <cstdint>

#include "exfat/exfat_driver.h"
#include "fuzz_support.h"
#include "scan/deep_scan.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto volume = fuzz::OpenVolume<CExFATDriver>(data, size);
  if (!volume) return 0;
  (void)volume->VolumeLabel();
  fuzz::Walk walk;
  fuzz::ReadTree(*volume->GetRoot(), walk, 0);
  fuzz::SearchAndCount(*volume);

  std::uint64_t first = 0, last = 0;
  if (fuzz::ScanFirstClusters(*volume, first, last)) {
    DeepScan(*volume, nullptr);
    // Lost folders the scan rebuilt are read like any other.
    fuzz::ReadTree(*volume->GetLostFiles(), walk, 0);
  }
  return 0;
}
