// The length rule of compound documents (the container of the older office
// formats): the length comes from the sector allocation table, the kind of
// document from the names in its directory.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "scan/length_rules.h"
#include "scan/rule_support.h"
#include "volume/driver.h"

namespace relictor::rules {
namespace {

// Sane maxima for walks that real files never come near; they only keep a
// hostile cluster from costing more than the scan range already allows.
constexpr std::size_t kMaxDirectorySectors = 4096;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;

class CompoundDocument {
 public:
  CompoundDocument(CDriver& volume, ClusterStream& s, std::uint64_t k) : volume_(volume), s_(s), k_(k) {
    s_.DrawOnAllowance();
  }

  bool Measure(std::uint64_t& length, std::string& name) {
    if (!s_.Begin(k_)) return false;
    if (s_.Read(header_.data(), header_.size()) != header_.size()) return false;
    // Sector sizes outside 128 bytes to 64 KiB are refused: the shift is
    // not trusted to stay within what a sector buffer may hold.
    const std::uint16_t shift = le16(header_, 30);
    if (shift < 7 || shift > 16) return false;
    sectorSize_ = std::uint64_t{1} << shift;
    entriesPerSector_ = sectorSize_ / 4;
    // The header takes a whole sector when sectors are larger than it.
    length_ = std::max<std::uint64_t>(512, sectorSize_);
    // A document cannot have more allocation sectors than the sectors of
    // the scan range would need.
    maxFatSectors_ = BytesToRangeEnd(volume_, k_) / sectorSize_ / entriesPerSector_ + 1;
    directoryNow_ = le32(header_, 48);
    directories_.push_back(directoryNow_);
    listed_.insert(directoryNow_);

    for (std::size_t i = 0; i < 109; ++i) {
      const std::uint32_t f = le32(header_, 76 + 4 * i);
      if (f == kFreeSector) break;
      if (!VisitFatSector(f)) return false;
    }
    if (!WalkIndexSectors()) return false;

    name = "MSCOMP";
    if (!FindStreamName(name)) return false;
    length = length_;
    return true;
  }

 private:
  bool SeekSector(std::uint64_t sector) {
    return s_.Begin(k_) && s_.Skip((sector + 1) * sectorSize_) >= 0;
  }

  bool VisitFatSector(std::uint32_t f) {
    if (++fatSectorsVisited_ > maxFatSectors_) return false;
    if (!SeekSector(f)) return false;
    RuleInput in(s_);
    std::uint64_t lastUsed = 0;
    for (std::uint64_t i = 0; i < entriesPerSector_; ++i) {
      std::uint32_t v = 0;
      if (!in.Le32(v)) return false;
      if (v == kFreeSector) continue;
      if (base_ + i == directoryNow_) {
        directoryNow_ = v;
        // A chain that comes back to a sector it named before adds nothing
        // the name search would not have read already; without this, a
        // looping chain would have every sector read thousands of times.
        if (directories_.size() < kMaxDirectorySectors && listed_.insert(v).second) directories_.push_back(v);
      }
      lastUsed = i;
    }
    length_ += (lastUsed + 1) * sectorSize_;
    base_ += lastUsed + 1;
    return true;
  }

  // The allocation sectors beyond the 109 of the header are listed in
  // chained index sectors. Unused slots hold the free value, which ends the
  // list; the chain is followed at most as often as the header says and
  // never for more allocation sectors than the range allows.
  bool WalkIndexSectors() {
    const std::uint32_t count = le32(header_, 72);
    if (count == 0) return true;
    std::vector<std::uint8_t> index(static_cast<std::size_t>(sectorSize_));
    std::uint32_t next = le32(header_, 68);
    for (std::uint32_t n = 0; n < count; ++n) {
      if (next == kFreeSector || next == kEndOfChain) return true;
      if (!SeekSector(next) || s_.Read(index.data(), index.size()) != index.size()) return false;
      const ByteSpan sector(index);
      for (std::uint64_t e = 0; e + 1 < entriesPerSector_; ++e) {
        const std::uint32_t f = le32(sector, static_cast<std::size_t>(4 * e));
        if (f == kFreeSector) return true;
        if (!VisitFatSector(f)) return false;
      }
      next = le32(sector, static_cast<std::size_t>(sectorSize_ - 4));
    }
    return true;
  }

  bool FindStreamName(std::string& name) {
    struct Known {
      const char* stream;
      const char* type;
    };
    static constexpr Known kKnown[] = {
        {"Workbook", "XLS"}, {"WordDocument", "DOC"}, {"PowerPoint Document", "PPT"}, {"VisioDocument", "VSD"}};
    for (std::uint32_t sector : directories_) {
      if (sector == kEndOfChain) break;
      if (!SeekSector(sector)) return false;
      for (std::uint64_t e = 0; e < sectorSize_ / 128; ++e) {
        std::uint8_t entry[128];
        if (s_.Read(entry, sizeof entry) != sizeof entry) return false;
        const ByteSpan bytes(entry, sizeof entry);
        if (le16(bytes, 64) == 0) continue;
        for (const Known& known : kKnown) {
          if (NameFieldIs(bytes, known.stream)) {
            name = known.type;
            return true;
          }
        }
      }
    }
    return true;
  }

  // The 64-byte UTF-16 name field, zero-padded, and the name size in bytes
  // with the terminating zero.
  static bool NameFieldIs(ByteSpan entry, const char* stream) {
    std::uint8_t expected[66] = {};
    std::size_t n = std::strlen(stream);
    for (std::size_t i = 0; i < n; ++i) expected[2 * i] = static_cast<std::uint8_t>(stream[i]);
    const auto size = static_cast<std::uint16_t>((n + 1) * 2);
    expected[64] = static_cast<std::uint8_t>(size & 0xFF);
    expected[65] = static_cast<std::uint8_t>(size >> 8);
    return std::memcmp(entry.data(), expected, sizeof expected) == 0;
  }

  CDriver& volume_;
  ClusterStream& s_;
  std::uint64_t k_;
  std::array<std::uint8_t, 512> header_{};
  std::uint64_t sectorSize_ = 0;
  std::uint64_t entriesPerSector_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t maxFatSectors_ = 0;
  std::uint64_t fatSectorsVisited_ = 0;
  std::uint64_t base_ = 0;
  std::uint32_t directoryNow_ = 0;
  std::vector<std::uint32_t> directories_;
  std::unordered_set<std::uint32_t> listed_;
};

}  // namespace

bool CompoundDocumentLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name) {
  ClusterStream s(volume);
  return CompoundDocument(volume, s, k).Measure(length, name);
}

}  // namespace relictor::rules
