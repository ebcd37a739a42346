#pragma once
// Helpers of the FAT tests: images made with mkfs.fat and mtools, opening
// them with the FAT reader, walking the entry tree, and small boot sectors
// and images made byte by byte for what the real tools will not make.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fat/fat_driver.h"
#include "model/output_file.h"
#include "support/entry_tree.h"
#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor::test {

inline void MakeFat(const std::string& image, int bits, const std::string& size, const std::string& options) {
  MustRun("rm -f " + Quote(image) + " && truncate -s " + size + " " + Quote(image) + " && mkfs.fat -F " +
          std::to_string(bits) + " -i 1234ABCD " + options + " " + Quote(image));
}

inline void Mmd(const std::string& image, const std::string& dir) {
  MustRun("mmd -i " + Quote(image) + " " + Quote("::" + dir));
}

inline void Mcopy(const std::string& image, const std::string& hostFile, const std::string& dest) {
  MustRun("mcopy -i " + Quote(image) + " " + Quote(hostFile) + " " + Quote("::" + dest));
}

inline void Mdel(const std::string& image, const std::string& path) {
  MustRun("mdel -i " + Quote(image) + " " + Quote("::" + path));
}

inline void Mdeltree(const std::string& image, const std::string& path) {
  MustRun("mdeltree -i " + Quote(image) + " " + Quote("::" + path));
}

inline std::unique_ptr<CFATDriver> OpenFat(SectorSourcePtr source, Host* host = nullptr) {
  auto d = std::make_unique<CFATDriver>();
  d->SetHost(host);
  d->SetDevice(std::move(source));
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return d;
}

inline std::unique_ptr<CFATDriver> OpenFatFile(const std::string& path, Host* host = nullptr) {
  std::string error;
  auto source = FileSource::Open(path, error);
  EXPECT_TRUE(source) << error;
  if (!source) return nullptr;
  return OpenFat(source, host);
}

inline std::unique_ptr<CFATDriver> OpenFatBytes(std::vector<std::uint8_t> bytes, Host* host = nullptr) {
  return OpenFat(std::make_shared<MemorySource>(std::move(bytes)), host);
}

inline CFATFile* FileIn(CDirectory* d, const std::string& name) { return dynamic_cast<CFATFile*>(Child(d, name)); }

// The bytes SaveData gives for a file; `problems` collects what it noted.
inline std::vector<std::uint8_t> SaveBytes(CFSFile* f, std::vector<std::string>* problems = nullptr,
                                           bool* ok = nullptr) {
  MemoryOutputFile out;
  bool r = f->SaveData(out, nullptr);
  if (ok) *ok = r;
  if (problems) *problems = out.Problems();
  return out.Bytes();
}

// A FAT boot sector with the given geometry, for FAT12/16 unless fatSize32
// is set (then FATSz16 is 0 and FATSz32 holds the size).
struct BootFields {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 1;
  std::uint16_t reserved = 1;
  std::uint8_t numFats = 2;
  std::uint16_t rootEntries = 512;
  std::uint32_t totalSectors = 0;
  std::uint32_t fatSize = 1;
  bool fat32Layout = false;
  std::uint32_t rootCluster = 2;
};

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::vector<std::uint8_t> MakeBootSector(const BootFields& f) {
  std::vector<std::uint8_t> b(512, 0);
  b[0] = 0xEB, b[1] = 0x3C, b[2] = 0x90;
  std::memcpy(b.data() + 3, "MSWIN4.1", 8);
  Put16(b, 11, f.bytesPerSector);
  b[13] = f.sectorsPerCluster;
  Put16(b, 14, f.reserved);
  b[16] = f.numFats;
  Put16(b, 17, f.fat32Layout ? 0 : f.rootEntries);
  if (f.totalSectors < 0x10000 && !f.fat32Layout) {
    Put16(b, 19, f.totalSectors);
  } else {
    Put32(b, 32, f.totalSectors);
  }
  b[21] = 0xF8;
  if (f.fat32Layout) {
    Put32(b, 36, f.fatSize);
    Put32(b, 44, f.rootCluster);
  } else {
    Put16(b, 22, f.fatSize);
  }
  b[510] = 0x55, b[511] = 0xAA;
  return b;
}

// Total sectors that give exactly `clusters` data clusters.
inline std::uint32_t TotalForClusters(const BootFields& f, std::uint32_t clusters) {
  std::uint32_t rootSectors = f.fat32Layout ? 0 : (f.rootEntries * 32u + f.bytesPerSector - 1) / f.bytesPerSector;
  return f.reserved + f.numFats * f.fatSize + rootSectors + clusters * f.sectorsPerCluster;
}

// Offsets of a FAT12/16 image's regions, read from its boot sector.
struct Layout {
  std::uint32_t bps = 0, spc = 0, reserved = 0, fats = 0, fatSize = 0, rootDirSectors = 0, rootCluster = 0;
  std::uint64_t FatOffset(int copy = 0) const { return (reserved + static_cast<std::uint64_t>(copy) * fatSize) * bps; }
  std::uint64_t RootOffset() const { return (reserved + static_cast<std::uint64_t>(fats) * fatSize) * bps; }
  std::uint64_t ClusterOffset(std::uint32_t c) const {
    return (reserved + static_cast<std::uint64_t>(fats) * fatSize + rootDirSectors +
            static_cast<std::uint64_t>(c - 2) * spc) *
           bps;
  }
};

inline Layout ReadLayout(const std::vector<std::uint8_t>& img) {
  ByteSpan b(img);
  Layout l;
  l.bps = le16(b, 11);
  l.spc = le8(b, 13);
  l.reserved = le16(b, 14);
  l.fats = le8(b, 16);
  std::uint32_t rootEntries = le16(b, 17);
  l.fatSize = le16(b, 22) ? le16(b, 22) : le32(b, 36);
  l.rootDirSectors = (rootEntries * 32 + l.bps - 1) / l.bps;
  l.rootCluster = le32(b, 44);
  return l;
}

// The offset of the first 32-byte entry at or after `from` whose 11 name
// bytes equal `name11`, or SIZE_MAX.
inline std::size_t FindShortEntry(const std::vector<std::uint8_t>& img, const char* name11, std::size_t from = 0) {
  for (std::size_t at = from - from % 32; at + 32 <= img.size(); at += 32) {
    if (std::memcmp(img.data() + at, name11, 11) == 0) return at;
  }
  return SIZE_MAX;
}

// A short directory entry.
inline std::vector<std::uint8_t> ShortEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster,
                                            std::uint32_t size, std::uint16_t date = 0x5A21,
                                            std::uint16_t time = 0x6000) {
  std::vector<std::uint8_t> e(32, 0);
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  Put16(e, 14, time);
  Put16(e, 16, date);
  Put16(e, 18, date);
  Put16(e, 20, cluster >> 16);
  Put16(e, 22, time);
  Put16(e, 24, date);
  Put16(e, 26, cluster & 0xFFFF);
  Put32(e, 28, size);
  return e;
}

// A long-name entry holding 13 characters (padded as the format pads).
inline std::vector<std::uint8_t> LongEntry(std::uint8_t ordinal, const std::u16string& part, std::uint8_t checksum) {
  static const std::size_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::vector<std::uint8_t> e(32, 0);
  e[0] = ordinal;
  e[11] = 0x0F;
  e[13] = checksum;
  for (std::size_t i = 0; i < 13; ++i) {
    char16_t c = i < part.size() ? part[i] : (i == part.size() ? u'\0' : u'\xFFFF');
    Put16(e, offsets[i], c);
  }
  return e;
}

// A small FAT12 volume made byte by byte: 512-byte sectors and clusters,
// two FATs of 2 sectors, a fixed root of 32 entries, `clusters` data
// clusters. The caller fills the FAT and the regions.
struct CraftedFat12 {
  static constexpr std::uint32_t kBps = 512;
  std::uint32_t clusters = 200;
  std::vector<std::uint8_t> bytes;
  BootFields fields;

  explicit CraftedFat12(std::uint32_t count = 200) : clusters(count) {
    fields.rootEntries = 32;
    fields.fatSize = 2;
    fields.totalSectors = TotalForClusters(fields, clusters);
    bytes = MakeBootSector(fields);
    bytes.resize(static_cast<std::size_t>(fields.totalSectors) * kBps, 0);
    SetFat(0, 0xFF8);
    SetFat(1, 0xFFF);
  }
  std::size_t FatOffset(int copy) const { return (1 + static_cast<std::size_t>(copy) * 2) * kBps; }
  std::size_t RootOffset() const { return 5 * kBps; }
  std::size_t ClusterOffset(std::uint32_t c) const { return (7 + static_cast<std::size_t>(c) - 2) * kBps; }
  void SetFat(std::uint32_t cluster, std::uint32_t value, int copies = 2) {
    for (int copy = 0; copy < copies; ++copy) {
      std::size_t at = FatOffset(copy) + cluster + cluster / 2;
      std::uint16_t old = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
      std::uint16_t v = (cluster & 1) ? static_cast<std::uint16_t>((old & 0x000F) | (value << 4))
                                      : static_cast<std::uint16_t>((old & 0xF000) | (value & 0x0FFF));
      bytes[at] = static_cast<std::uint8_t>(v);
      bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
  void Put(std::size_t at, const std::vector<std::uint8_t>& data) {
    std::memcpy(bytes.data() + at, data.data(), data.size());
  }
  // Writes entries one after another from `at`.
  void PutEntries(std::size_t at, const std::vector<std::vector<std::uint8_t>>& entries) {
    for (const auto& e : entries) {
      Put(at, e);
      at += e.size();
    }
  }
  // A subdirectory's "." and ".." at the start of a cluster.
  void PutDotEntries(std::uint32_t cluster, std::uint32_t parent) {
    PutEntries(ClusterOffset(cluster), {ShortEntry(".          ", 0x10, cluster, 0),
                                        ShortEntry("..         ", 0x10, parent, 0)});
  }
};

}  // namespace relictor::test
