// The FAT and the data it links: following a chain or a run of clusters
// to read a stream, and measuring the root folder's chain.

#include "exfat/exfat_fat.h"

#include <algorithm>
#include <cstring>

#include "exfat/exfat_driver.h"

namespace relictor {

std::uint32_t CExFATDriver::ReadFatEntry(std::uint32_t cluster) {
  if (!IsDataCluster(cluster) || bytesPerSector_ == 0) return 0;
  // A block of FAT sectors at a time: chains mostly run forward, so the
  // next entry is usually in the block already read.
  constexpr std::uint32_t kBlockBytes = 65536;
  const std::uint32_t perBlock = std::max<std::uint32_t>(1, kBlockBytes / bytesPerSector_);
  const std::uint64_t offset = static_cast<std::uint64_t>(cluster) * 4;
  const std::uint64_t sectorInFat = offset / bytesPerSector_;
  if (sectorInFat >= geometry_.fatLength) return 0;
  const std::uint64_t blockFirst = sectorInFat / perBlock * perBlock;
  if (!fat_.valid || fat_.firstSector != blockFirst) {
    const std::uint32_t count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(perBlock, geometry_.fatLength - blockFirst));
    fat_.bytes.resize(static_cast<std::size_t>(count) * bytesPerSector_);
    fat_.valid = ReadSectors(geometry_.fatOffset + blockFirst, fat_.bytes.data(), bytesPerSector_, count);
    if (!fat_.valid) {
      // A block that cannot be read whole is read sector by sector, and
      // what stays unreadable reads as free.
      for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* at = fat_.bytes.data() + static_cast<std::size_t>(i) * bytesPerSector_;
        if (!ReadSectors(geometry_.fatOffset + blockFirst + i, at, bytesPerSector_, 1)) {
          std::memset(at, 0, bytesPerSector_);
        }
      }
      fat_.valid = true;
    }
    fat_.firstSector = blockFirst;
    fat_.sectors = count;
  }
  return le32(ByteSpan(fat_.bytes), static_cast<std::size_t>(offset - blockFirst * bytesPerSector_));
}

ExFatStream CExFATDriver::RootStream() {
  ExFatStream s;
  s.firstCluster = geometry_.rootCluster;
  if (!IsDataCluster(s.firstCluster)) return s;
  // The root folder has no entry that gives its length: its chain does.
  const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxFolderBytes / std::max(bytesPerCluster_, 1u));
  std::uint64_t clusters = 1;
  ChainLoopGuard loop;
  for (std::uint32_t c = s.firstCluster; clusters < maxClusters && clusters <= clusterCount_; ++clusters) {
    const std::uint32_t next = ReadFatEntry(c);
    if (!IsDataCluster(next) || loop.Loops(next)) break;
    c = next;
  }
  s.dataLength = s.validDataLength = clusters * bytesPerCluster_;
  return s;
}

bool CExFATDriver::ReadStream(const ExFatStream& st, ExFatDataCursor& cur, std::uint8_t* buffer,
                              std::uint32_t capacity, std::uint32_t& delivered) {
  delivered = 0;
  if (cur.offset >= st.dataLength) return cur.offset == st.dataLength;
  if (cur.stop != ExFatDataCursor::Stop::None) return false;
  if (bytesPerCluster_ == 0) {
    cur.stop = ExFatDataCursor::Stop::NoStartCluster;
    return false;
  }
  const std::uint64_t bpc = bytesPerCluster_;
  const std::uint64_t valid = std::min(st.validDataLength, st.dataLength);
  std::uint64_t want = std::min<std::uint64_t>(capacity, st.dataLength - cur.offset);
  while (want > 0) {
    if (cur.offset >= valid) {
      // Past the valid data length the file system promises zeros, and
      // the clusters there may hold anything.
      std::memset(buffer + delivered, 0, static_cast<std::size_t>(want));
      cur.offset += want;
      delivered += static_cast<std::uint32_t>(want);
      break;
    }
    if (!cur.started) {
      cur.started = true;
      cur.cluster = st.firstCluster;
      if (!IsDataCluster(cur.cluster)) {
        cur.stop = ExFatDataCursor::Stop::NoStartCluster;
        return false;
      }
    }
    const std::uint64_t upto = std::min(want, valid - cur.offset);
    const std::uint64_t inCluster = cur.offset % bpc;
    const std::uint64_t need = (inCluster + upto + bpc - 1) / bpc;
    // The run of consecutive clusters from the current one that this read
    // can use: all of them for a contiguous stream (up to the end of the
    // volume), as far as each FAT entry names the next cluster otherwise.
    std::uint64_t run = 1;
    const std::uint64_t toVolumeEnd = clusterCount_ + 2 - cur.cluster;
    if (st.contiguous) {
      run = std::min(need, toVolumeEnd);
    } else {
      for (std::uint32_t last = cur.cluster; run < need && run < toVolumeEnd && ReadFatEntry(last) == last + 1; ++last) {
        ++run;
      }
    }
    const std::uint64_t bytes = std::min(upto, run * bpc - inCluster);
    const std::uint64_t firstSector = ClusterToSector(cur.cluster) + inCluster / bytesPerSector_;
    const std::uint64_t skip = inCluster % bytesPerSector_;
    const std::uint64_t sectors = (skip + bytes + bytesPerSector_ - 1) / bytesPerSector_;
    bool ok;
    if (skip == 0 && bytes % bytesPerSector_ == 0) {
      ok = ReadSectors(firstSector, buffer + delivered, bytesPerSector_, static_cast<std::uint32_t>(sectors));
    } else {
      scratch_.resize(static_cast<std::size_t>(sectors * bytesPerSector_));
      ok = ReadSectors(firstSector, scratch_.data(), bytesPerSector_, static_cast<std::uint32_t>(sectors));
      if (ok) std::memcpy(buffer + delivered, scratch_.data() + skip, static_cast<std::size_t>(bytes));
    }
    if (!ok) {
      // Sector by sector, to deliver what can be read before the sector
      // that cannot.
      std::vector<std::uint8_t> one(bytesPerSector_);
      std::uint64_t done = 0;
      for (std::uint64_t i = 0; i < sectors; ++i) {
        if (!ReadSectors(firstSector + i, one.data(), bytesPerSector_, 1)) {
          cur.failedSector = firstSector + i;
          break;
        }
        const std::uint64_t from = i == 0 ? skip : 0;
        const std::uint64_t n = std::min<std::uint64_t>(bytesPerSector_ - from, bytes - done);
        std::memcpy(buffer + delivered + done, one.data() + from, static_cast<std::size_t>(n));
        done += n;
      }
      cur.offset += done;
      delivered += static_cast<std::uint32_t>(done);
      cur.stop = ExFatDataCursor::Stop::ReadFailed;
      return false;
    }
    cur.offset += bytes;
    delivered += static_cast<std::uint32_t>(bytes);
    want -= bytes;
    // Whole clusters behind the current one were used up: move on to the
    // cluster that holds the next byte.
    const std::uint64_t passed = (inCluster + bytes) / bpc;
    if (passed == 0) continue;
    const std::uint32_t last = static_cast<std::uint32_t>(cur.cluster + passed - 1);
    cur.steps += passed;
    if (cur.offset >= valid) continue;
    if (st.contiguous) {
      if (!IsDataCluster(static_cast<std::uint64_t>(last) + 1)) {
        cur.stop = ExFatDataCursor::Stop::PastVolumeEnd;
        return false;
      }
      cur.cluster = last + 1;
    } else {
      const std::uint32_t next = ReadFatEntry(last);
      if (!IsDataCluster(next) || cur.steps > clusterCount_ || (next != last + 1 && cur.loop.Loops(next))) {
        cur.stop = ExFatDataCursor::Stop::ChainEnded;
        return false;
      }
      cur.cluster = next;
    }
  }
  return true;
}

std::vector<std::uint8_t> CExFATDriver::ReadWholeStream(const ExFatStream& stream, std::uint64_t limit) {
  std::vector<std::uint8_t> out;
  ExFatStream s = stream;
  s.dataLength = std::min(s.dataLength, limit);
  s.validDataLength = std::min(s.validDataLength, s.dataLength);
  ExFatDataCursor cursor;
  constexpr std::uint32_t kChunk = 1u << 20;
  // Grown as it is read, so a damaged length costs no more memory than
  // the bytes that are really there.
  while (cursor.offset < s.dataLength) {
    const std::size_t at = out.size();
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, s.dataLength - cursor.offset));
    out.resize(at + n);
    std::uint32_t got = 0;
    const bool ok = ReadStream(s, cursor, out.data() + at, n, got);
    out.resize(at + got);
    if (!ok || got == 0) break;
  }
  return out;
}

std::vector<std::uint8_t> CExFATDriver::ReadFolder(const ExFatStream& stream) {
  std::vector<std::uint8_t> bytes = ReadWholeStream(stream, kMaxFolderBytes);
  bytes.resize(bytes.size() / kExFatEntrySize * kExFatEntrySize);
  return bytes;
}

}  // namespace relictor
