// Speed of the lost-volume walk over a disk image of more than 2 GiB that
// holds FAT and NTFS volumes at several offsets, as a ratio against reading
// the same image sequentially in 1 MiB blocks in the same run.
//
//   lost_walk_bench [WORKDIR]
//
// The image is made once in WORKDIR (default: ./bench-work) and reused.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "readers/reader_factory.h"
#include "scan/physical_driver.h"
#include "bench_support.h"
#include "worker/frontend.h"

namespace {

using relictor::bench::Clock;
using relictor::bench::SequentialSeconds;
using relictor::bench::Shell;
using relictor::bench::StoringSink;
namespace fs = std::filesystem;
using namespace relictor;


// 2.25 GiB of pseudo-random bytes with volumes every few hundred MiB.
bool MakeImage(const std::string& dir, const std::string& image) {
  if (fs::exists(image)) return true;
  fs::create_directories(dir);
  std::string tmp = image + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  std::vector<std::uint64_t> block((1 << 20) / 8);
  std::uint64_t x = 0x1234567;
  for (int mib = 0; mib < 2304; ++mib) {
    for (auto& w : block) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      w = x;
    }
    std::fwrite(block.data(), 1, block.size() * 8, f);
  }
  std::fclose(f);
  const std::string q = "'" + tmp + "'";
  const std::string part = "'" + dir + "/ntfs-part.img'";
  // NTFS volumes are made in a file of their own, then copied into place.
  auto ntfs = [&](std::uint64_t start, std::uint64_t sectors) {
    return Shell("rm -f " + part + " && truncate -s " + std::to_string(sectors * 512) + " " + part +
                 " && mkntfs -F -Q -q -p " + std::to_string(start) + " -H 0 -S 0 " + part +
                 " >/dev/null 2>&1 && dd if=" + part + " of=" + q + " bs=1M seek=" + std::to_string(start * 512) +
                 " oflag=seek_bytes conv=notrunc status=none") == 0;
  };
  auto fat = [&](const char* type, std::uint64_t start, std::uint64_t kib) {
    return Shell(std::string("mkfs.fat -F ") + type + " -h " + std::to_string(start) + " --offset " +
                 std::to_string(start) + " " + q + " " + std::to_string(kib) + " >/dev/null 2>&1") == 0;
  };
  bool ok = fat("32", 2048, 300 << 10) && ntfs(2048 + 600 * 2048, 200 * 2048) &&
            fat("16", 2048 + 1000 * 2048, 100 << 10) && fat("12", 2048 + 1400 * 2048, 4 << 10) &&
            ntfs(2048 + 1800 * 2048, 300 * 2048);
  if (!ok) return false;
  fs::rename(tmp, image);
  return true;
}



double WalkSeconds(const std::string& image, ProgressSink* sink, std::size_t& found) {
  PhysicalDriveList disks;
  EnumPhysicalDrives(disks, {image}, false);
  if (disks.disks.empty()) return -1;
  std::vector<std::unique_ptr<CVolumeDriver>> volumes;
  std::vector<LostVolume> lost;
  auto t0 = Clock::now();
  FindLostDrivers(*disks.disks[0], &volumes, MakeReaderFactory(), sink, &lost);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  found = lost.size();
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "bench-work";
  std::string image = dir + "/lost-walk.img";
  if (!MakeImage(dir, image)) return 1;
  std::uint64_t bytes = 0;
  SequentialSeconds(image, bytes);  // brings the image into the page cache
  double seq = SequentialSeconds(image, bytes);
  std::size_t found = 0;
  double quiet = WalkSeconds(image, nullptr, found);
  StoringSink sink;
  std::size_t found2 = 0;
  double shown = WalkSeconds(image, &sink, found2);
  double mb = static_cast<double>(bytes) / 1e6;
  std::printf("image: %.0f MB, %zu volumes found\n", mb, found);
  std::printf("sequential read, 1 MiB blocks: %8.1f MB/s (baseline 1.00)\n", mb / seq);
  std::printf("lost-volume walk, no display:  %8.1f MB/s (%.2f of the baseline)\n", mb / quiet, seq / quiet);
  std::printf("lost-volume walk, with display:%8.1f MB/s (%.2f of the baseline)\n", mb / shown, seq / shown);
  return found == 5 && found2 == 5 ? 0 : 2;
}
