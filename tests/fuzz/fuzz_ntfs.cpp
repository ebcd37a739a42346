// libFuzzer target: an NTFS volume image. Open it, index the MFT, stream
// the cluster bitmap, read the tree (with DeletedFiles) to a bounded depth,
// save the files (resident, non-resident, compressed, spread over attribute
// lists), search and count.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "ntfs/ntfs_driver.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto volume = fuzz::OpenVolume<CNTFSDriver>(data, size);
  if (!volume || !volume->LoadMft()) return 0;
  (void)volume->VolumeLabel();
  std::uint64_t clusters = 0;
  (void)volume->StreamClusterBitmap([&](std::uint64_t, ByteSpan, std::uint64_t n) { return (clusters += n) > 0; });
  fuzz::Walk walk;
  fuzz::ReadTree(*volume->GetRoot(), walk, 0);
  if (CDirectory* deleted = volume->GetDeletedFiles()) fuzz::ReadTree(*deleted, walk, 0);
  fuzz::SearchAndCount(*volume);
  return 0;
}
