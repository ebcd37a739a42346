// libFuzzer target: the lost-volume walk over a small disk, and a look at
// the root folder of every volume it opens.

#include <cstddef>
#include <cstdint>

#include "readers/reader_factory.h"
#include "fuzz_support.h"
#include "scan/physical_driver.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::SizeTaken(size)) return 0;
  auto source = fuzz::PaddedSource(data, size, 1u << 20);
  CPhysicalDriver disk(1, "fuzz.img");
  disk.SetDevice(source);
  if (!disk.ProbeDisk()) return 0;
  disk.SetScanRange(0, disk.TotalSectors());
  std::vector<std::unique_ptr<CVolumeDriver>> volumes;
  std::vector<LostVolume> found;
  (void)FindLostDrivers(disk, &volumes, MakeReaderFactory(), nullptr, &found);
  for (const LostVolume& v : found) {
    if (v.opened && v.reader) fuzz::ReadRootFolder(*v.reader);
  }
  return 0;
}
