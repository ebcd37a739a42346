#include "volume/partition_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "volume/boot_sector.h"
#include "volume/checked.h"
#include "volume/endian.h"
#include "volume/text.h"

namespace relictor {
namespace {

constexpr std::uint32_t kMaxGptEntries = 1024;
constexpr int kMaxLogical = 128;

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::string GuidText(ByteSpan b, std::size_t at) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", le32(b, at),
                le16(b, at + 4), le16(b, at + 6), le8(b, at + 8), le8(b, at + 9), le8(b, at + 10), le8(b, at + 11),
                le8(b, at + 12), le8(b, at + 13), le8(b, at + 14), le8(b, at + 15));
  return buf;
}

bool AllZero(ByteSpan b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

struct MbrSlot {
  std::uint8_t status, type;
  std::uint32_t start, count;
};

MbrSlot ReadSlot(ByteSpan sector, int i) {
  std::size_t at = 446 + 16 * static_cast<std::size_t>(i);
  return {le8(sector, at), le8(sector, at + 4), le32(sector, at + 8), le32(sector, at + 12)};
}

class TableReader {
 public:
  TableReader(SectorSource& disk, PartitionTable& table) : disk_(disk), t_(table) {
    t_.sectorSize = disk.SectorSize() ? disk.SectorSize() : 512;
    totalSectors_ = disk.Size() / t_.sectorSize;
  }

  bool ReadSector(std::uint64_t lba, std::vector<std::uint8_t>& out, std::uint32_t count = 1) {
    out.assign(static_cast<std::size_t>(t_.sectorSize) * count, 0);
    // The sector number comes from the disk (a GPT's entry array, an
    // extended partition's link): its byte offset must not wrap.
    const std::optional<std::uint64_t> offset = CheckedMul(lba, t_.sectorSize);
    return offset && disk_.ReadAt(*offset, out.data(), out.size());
  }

  void Problem(std::string text) { t_.problems.push_back(std::move(text)); }

  // A partition that starts on the disk but reaches past its end is kept,
  // cut to the end: a partial image of a failing disk still holds what
  // was copied. `count` is then the part that is there.
  bool CheckRange(const char* what, int number, std::uint64_t start, std::uint64_t& count) {
    if (count == 0) return false;
    if (start >= totalSectors_ || count > totalSectors_ - start) {
      const std::string where = std::string(what) + " partition " + std::to_string(number) + " (sectors " +
                                std::to_string(start) + " to " + std::to_string(start + count - 1) + ")";
      if (start >= totalSectors_) {
        Problem(where + " lies past the end of the disk (" + std::to_string(totalSectors_) + " sectors)");
        return false;
      }
      count = totalSectors_ - start;
      Problem(where + " reaches past the end of the disk (" + std::to_string(totalSectors_) +
              " sectors): the disk or image is cut short, and only the partition's first " + std::to_string(count) +
              " sectors can be read");
    }
    return true;
  }

  bool TryGpt(std::uint64_t headerLba, bool backup) {
    std::vector<std::uint8_t> h;
    if (!ReadSector(headerLba, h)) return false;
    ByteSpan hb(h);
    if (std::memcmp(h.data(), "EFI PART", 8) != 0) return false;
    std::uint32_t headerSize = le32(hb, 12);
    const char* which = backup ? "backup GPT header" : "GPT header";
    if (headerSize < 92 || headerSize > h.size()) {
      Problem(std::string(which) + " has an impossible size");
      return false;
    }
    std::vector<std::uint8_t> copy(h.begin(), h.begin() + headerSize);
    std::fill(copy.begin() + 16, copy.begin() + 20, 0);
    if (Crc32(copy.data(), copy.size()) != le32(hb, 16)) {
      Problem(std::string(which) + " CRC is wrong");
      return false;
    }
    std::uint64_t entriesLba = le64(hb, 72);
    std::uint32_t entryCount = le32(hb, 80);
    std::uint32_t entrySize = le32(hb, 84);
    if (entrySize < 128 || entrySize > 4096 || entrySize % 8 != 0 || entryCount > kMaxGptEntries) {
      Problem(std::string(which) + " describes an impossible entry array");
      return false;
    }
    std::uint64_t bytes = static_cast<std::uint64_t>(entryCount) * entrySize;
    std::uint32_t sectors = static_cast<std::uint32_t>((bytes + t_.sectorSize - 1) / t_.sectorSize);
    if (entriesLba >= totalSectors_ || sectors > totalSectors_ - entriesLba) {
      Problem(std::string(which) + " entry array lies past the end of the disk");
      return false;
    }
    std::vector<std::uint8_t> entries;
    if (!ReadSector(entriesLba, entries, sectors)) {
      Problem(std::string(which) + " entry array cannot be read");
      return false;
    }
    if (Crc32(entries.data(), static_cast<std::size_t>(bytes)) != le32(hb, 88)) {
      Problem(std::string(which) + " entry array CRC is wrong");
      return false;
    }
    ByteSpan eb(entries);
    for (std::uint32_t i = 0; i < entryCount; ++i) {
      std::size_t at = static_cast<std::size_t>(i) * entrySize;
      if (AllZero(eb.subspan(at, 16))) continue;
      PartitionEntry e;
      e.number = static_cast<int>(i + 1);
      e.gptTypeGuid = GuidText(eb, at);
      std::uint64_t first = le64(eb, at + 32), last = le64(eb, at + 40);
      if (last < first) {
        Problem("GPT partition " + std::to_string(e.number) + " ends before it starts");
        continue;
      }
      e.startSector = first;
      e.sectorCount = last - first + 1;
      e.name = Utf16LeToUtf8(eb.subspan(at + 56, 72), true);
      if (CheckRange("GPT", e.number, e.startSector, e.sectorCount)) t_.partitions.push_back(e);
    }
    t_.kind = TableKind::Gpt;
    return true;
  }

  void ReadLogical(const MbrSlot& ext, int extNumber) {
    std::uint64_t extStart = ext.start;
    std::uint64_t extEnd = extStart + ext.count;
    std::uint64_t ebr = extStart;
    std::set<std::uint64_t> seen;
    int number = 5;
    std::vector<std::uint8_t> s;
    for (int n = 0; n < kMaxLogical; ++n) {
      if (!seen.insert(ebr).second) {
        Problem("extended partition " + std::to_string(extNumber) + " has a loop in its chain of logical partitions");
        return;
      }
      if (ebr < extStart || ebr >= extEnd || !ReadSector(ebr, s) || le16(ByteSpan(s), 510) != 0xAA55) {
        Problem("extended partition " + std::to_string(extNumber) + " has a broken logical partition table at sector " +
                std::to_string(ebr));
        return;
      }
      ByteSpan sb(s);
      MbrSlot data = ReadSlot(sb, 0), next = ReadSlot(sb, 1);
      if (data.type != 0 && data.count != 0) {
        PartitionEntry e;
        e.number = number++;
        e.startSector = ebr + data.start;
        e.sectorCount = data.count;
        e.mbrType = data.type;
        e.logical = true;
        if (e.startSector + e.sectorCount > extEnd) {
          Problem("logical partition " + std::to_string(e.number) + " reaches past its extended partition");
        } else if (CheckRange("logical", e.number, e.startSector, e.sectorCount)) {
          t_.partitions.push_back(e);
        }
      }
      if (!IsExtended(next.type) || next.count == 0) return;
      ebr = extStart + next.start;
    }
    Problem("extended partition " + std::to_string(extNumber) + " holds more than " + std::to_string(kMaxLogical) +
            " logical partitions");
  }

  void Run() {
    std::vector<std::uint8_t> s0;
    if (!ReadSector(0, s0)) return;
    ByteSpan b(s0);
    if (le16(b, 510) != 0xAA55) return;

    bool protective = false;
    for (int i = 0; i < 4; ++i) protective |= ReadSlot(b, i).type == 0xEE;
    if (protective) {
      if (TryGpt(1, false)) return;
      if (totalSectors_ > 1 && TryGpt(totalSectors_ - 1, true)) {
        Problem("primary GPT is damaged; the backup GPT at the end of the disk was used");
        return;
      }
      t_.kind = TableKind::Gpt;
      Problem("the GPT partition table is damaged and has no usable backup");
      return;
    }
    if (IsKnownBootSector(b)) return;  // a volume without a table

    std::array<MbrSlot, 4> slots{};
    bool any = false;
    for (int i = 0; i < 4; ++i) {
      slots[i] = ReadSlot(b, i);
      if (slots[i].status != 0x00 && slots[i].status != 0x80) return;  // not an MBR
      any |= slots[i].type != 0 && slots[i].count != 0;
    }
    if (!any) return;
    t_.kind = TableKind::Mbr;
    for (int i = 0; i < 4; ++i) {
      const MbrSlot& m = slots[i];
      if (m.type == 0 || m.count == 0) continue;
      std::uint64_t count = m.count;
      if (!CheckRange("MBR", i + 1, m.start, count)) continue;
      if (IsExtended(m.type)) {
        // Its logical partitions are checked against its size as the table
        // gives it, and each is cut to the disk's end on its own.
        ReadLogical(m, i + 1);
        continue;
      }
      PartitionEntry e;
      e.number = i + 1;
      e.startSector = m.start;
      e.sectorCount = count;
      e.mbrType = m.type;
      t_.partitions.push_back(e);
    }
  }

  void CheckOverlaps() {
    auto& p = t_.partitions;
    std::vector<const PartitionEntry*> sorted;
    for (const auto& e : p) sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(),
              [](const PartitionEntry* a, const PartitionEntry* b) { return a->startSector < b->startSector; });
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      const auto* a = sorted[i - 1];
      const auto* c = sorted[i];
      if (a->startSector + a->sectorCount > c->startSector) {
        Problem("partitions " + std::to_string(a->number) + " and " + std::to_string(c->number) + " overlap");
      }
    }
  }

 private:
  SectorSource& disk_;
  PartitionTable& t_;
  std::uint64_t totalSectors_ = 0;
};

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

PartitionTable ReadPartitionTable(SectorSource& disk) {
  PartitionTable table;
  TableReader reader(disk, table);
  reader.Run();
  reader.CheckOverlaps();
  return table;
}

}  // namespace relictor
