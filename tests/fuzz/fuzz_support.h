#pragma once
// Shared pieces of the fuzz targets: turning the input into a disk image,
// walking a reader's tree to a bounded depth the way the command line does
// (forced reads, so that a lost-files folder never starts a deep scan),
// and the checks that turn unbounded work into a crash the fuzzer keeps.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

#include "model/entry.h"
#include "model/output_file.h"
#include "recovery/recovery.h"
#include "search/search.h"
#include "volume/driver.h"
#include "volume/endian.h"
#include "volume/sector_source.h"

namespace relictor::fuzz {

// Inputs up to this size are taken.
inline constexpr std::uint64_t kMaxImage = 4u << 20;
// Images are read as given but padded with zeros up to the size their
// boot sector claims (at most this much), so that a seed of a few KiB can
// stand for a whole small volume and a scan meets enough clusters to show
// work that grows faster than the volume.
inline constexpr std::uint64_t kMaxPadded = 1u << 20;

// Whether an input is of a size the disk and volume targets take: at least
// a sector, at most kMaxImage.
inline bool SizeTaken(std::size_t size) { return size >= 512 && size <= kMaxImage; }

inline std::shared_ptr<MemorySource> PaddedSource(const std::uint8_t* data, std::size_t size,
                                                  std::uint64_t claimedBytes) {
  std::vector<std::uint8_t> bytes(data, data + size);
  const std::uint64_t want = std::max<std::uint64_t>(std::min<std::uint64_t>(claimedBytes, kMaxPadded), size);
  if (want > bytes.size()) bytes.resize(static_cast<std::size_t>(want), 0);
  return std::make_shared<MemorySource>(std::move(bytes));
}

// The size a FAT or NTFS boot sector claims, 0 when it claims nothing
// sensible.
inline std::uint64_t ClaimedVolumeBytes(const std::uint8_t* data, std::size_t size) {
  ByteSpan b(data, size);
  if (InBounds(b, 3, 8) && std::equal(data + 3, data + 11, "EXFAT   ")) {
    const std::uint32_t shift = le8(b, 108);
    if (shift < 9 || shift > 12) return 0;
    const std::uint64_t sectors = le64(b, 72);
    if (sectors > (kMaxImage >> shift)) return kMaxImage;
    return sectors << shift;
  }
  const std::uint64_t bps = le16(b, 11);
  if (bps < 512 || bps > 4096) return 0;
  std::uint64_t sectors = 0;
  if (InBounds(b, 3, 4) && std::equal(data + 3, data + 7, "NTFS")) {
    sectors = le64(b, 40) + 1;
  } else {
    sectors = le16(b, 19) != 0 ? le16(b, 19) : le32(b, 32);
  }
  if (sectors > kMaxImage) return kMaxImage;
  return sectors * bps;
}

// The volume a reader's target works on: the input, padded to the size its
// boot sector claims, opened by a new `Reader`. Null when the input's size
// is not taken or the reader refuses the volume. `source`, when given,
// receives the device, for counting its reads.
template <typename Reader>
std::unique_ptr<Reader> OpenVolume(const std::uint8_t* data, std::size_t size,
                                   std::shared_ptr<MemorySource>* source = nullptr) {
  if (!SizeTaken(size)) return nullptr;
  auto padded = PaddedSource(data, size, ClaimedVolumeBytes(data, size));
  if (source) *source = padded;
  auto volume = std::make_unique<Reader>();
  volume->SetDevice(padded);
  if (!volume->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return volume;
}

// Sets the scan range to the volume's first clusters, up to 2048: enough
// for a rule that walked the rest of the range from every header to show.
// False when the volume has no cluster to scan.
inline bool ScanFirstClusters(CVolumeDriver& volume, std::uint64_t& first, std::uint64_t& last) {
  first = volume.FirstCluster();
  last = std::min(volume.LastCluster(), first + 2047);
  if (first > last) return false;
  volume.SetScanRange(first, last);
  return true;
}

// Aborts (so the fuzzer keeps the input) when work went past its bound.
inline void CheckWork(bool withinBound, const char* what) {
  if (withinBound) return;
  std::fprintf(stderr, "unbounded work: %s\n", what);
  std::abort();
}

struct Walk {
  int maxDepth = 6;
  std::size_t maxFiles = 256;
  std::size_t maxFolders = 512;
  std::size_t files = 0;
  std::size_t folders = 0;
  std::set<std::uint64_t> entered;  // folder keys, as the command line's walks keep them
};

// Reads folders to a bounded depth and saves every file found into memory,
// at most a few MiB each.
inline void ReadTree(CDirectory& folder, Walk& walk, int depth) {
  if (walk.folders++ >= walk.maxFolders) return;
  std::uint64_t key = 0;
  if (folder.GetFolderKey(key) && !walk.entered.insert(key).second) return;
  if (!folder.populated) folder.Populate(true, false, true);
  for (std::size_t i = 0; i < folder.children.size(); ++i) {
    CDirEntry* e = folder.children[i].get();
    if (!e) continue;
    (void)e->GetLocation();
    (void)e->GetSizeText(true);
    (void)e->GetStatusText();
    (void)e->GetModifiedText();
    std::uint64_t cluster = 0;
    (void)e->GetFirstCluster(cluster);
    if (auto* sub = dynamic_cast<CDirectory*>(e)) {
      (void)sub->HasSubfolders(true);
      if (depth + 1 < walk.maxDepth && sub != folder.volume->GetLostFiles()) ReadTree(*sub, walk, depth + 1);
    } else if (auto* file = dynamic_cast<CFSFile*>(e)) {
      if (walk.files++ >= walk.maxFiles) continue;
      MemoryOutputFile out(4u << 20);
      (void)file->SaveData(out, nullptr);
    }
  }
}

// A look at a volume's root folder, as the drive list gives it: two
// levels and a few files.
inline void ReadRootFolder(CVolumeDriver& volume) {
  Walk walk;
  walk.maxDepth = 2;
  walk.maxFiles = 16;
  ReadTree(*volume.GetRoot(), walk, 0);
}

struct CountingSink final : SearchResultSink {
  void AddResult(std::uint32_t, CDirEntry*) override { ++hits; }
  std::uint64_t hits = 0;
};

// What the command line's find -r and recover do before they write.
inline void SearchAndCount(CVolumeDriver& volume) {
  SearchCriteria c;
  c.recurse = true;
  c.pattern = "*";
  CountingSink sink;
  std::uint32_t counter = 0;
  (void)Search(*volume.GetRoot(), c, &sink, counter);
  (void)CountFiles(*volume.GetRoot(), nullptr);
}

}  // namespace relictor::fuzz
