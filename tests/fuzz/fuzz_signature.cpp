// libFuzzer target: the file-type signatures over a run of clusters.
// The input (after a first byte that picks the cluster size) is repeated
// to fill a 128 KiB volume, so that a header in the input becomes a header
// in many clusters: every cluster is examined as the deep scan does, and
// deleted files of each known type are rated at the first clusters. Work
// is counted in cluster reads and must stay linear in the volume.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > (1u << 20)) return 0;
  const std::uint32_t sectorsPerCluster = 1u << (data[0] % 4);
  const std::uint8_t* body = data + 1;
  const std::size_t bodySize = size - 1;
  constexpr std::size_t kVolume = 128u << 10;
  std::vector<std::uint8_t> image(std::max(kVolume, bodySize));
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = body[i % bodySize];
  test::MemoryVolume volume(std::move(image), sectorsPerCluster);
  const std::uint64_t clusters = volume.ClusterCount();

  (void)IdentifySignature(ByteSpan(data, size));
  const std::uint64_t before = volume.Source().ReadCalls();
  for (std::uint64_t c = 0; c < clusters; ++c) (void)ScanForLostFile(volume, c);
  fuzz::CheckWork(volume.Source().ReadCalls() - before <= 24 * clusters + 512, "examining every cluster");

  const std::uint64_t rated = volume.Source().ReadCalls();
  static const char* const kNames[] = {"a.jpg", "a.gif", "a.pcx", "a.doc", "a.xls", "a.png", "a.zip",
                                       "a.htm", "a.bmp", "a.wav", "a.rar", "a.tga", "a.xyz"};
  for (std::uint64_t c = 0; c < std::min<std::uint64_t>(clusters, 64); ++c) {
    for (const char* name : kNames) {
      struct Entry final : CDirEntry {};
      Entry e;
      e.name = name;
      e.typeText = TypeTextFromName(name);
      e.size = bodySize;
      e.deleted = true;
      (void)RateDeletedFile(volume, c, &e);
    }
  }
  fuzz::CheckWork(volume.Source().ReadCalls() - rated <= 24 * clusters + 512, "rating deleted files");
  return 0;
}
