// NTFS file data: a file's unnamed $DATA attribute gathered from all its
// extents, its sizes, and saving it: resident, through its data runs (holes
// as zeros), decompressed when compressed, or as consecutive clusters for
// what the deep scan found. Also the NTFS side of the deep scan.

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>

#include "model/output_file.h"
#include "ntfs/ntfs_attribute_list.h"
#include "ntfs/ntfs_driver.h"
#include "ntfs/ntfs_lznt1.h"
#include "scan/signatures.h"
#include "volume/checked.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {
namespace {

std::uint64_t ClustersFor(std::uint64_t bytes, std::uint64_t clusterBytes) {
  return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

struct OwnedAttribute {
  std::vector<std::uint8_t> bytes;
  NtfsAttribute attribute;
};

void Keep(std::vector<OwnedAttribute>& out, const NtfsAttribute& a) {
  OwnedAttribute o;
  o.bytes.assign(a.bytes.begin(), a.bytes.end());
  if (ParseAttribute(ByteSpan(o.bytes), o.attribute) != NtfsParse::Ok) return;
  out.push_back(std::move(o));
}

}  // namespace

bool CNTFSDriver::FindDataAttribute(std::uint64_t record, NtfsDataStream& out, bool memoryOnly) {
  std::vector<std::uint8_t> scratch;
  return FindDataAttributeIn(record, GetRecord(record, scratch, memoryOnly), out, memoryOnly);
}

bool CNTFSDriver::FindDataAttributeIn(std::uint64_t record, ByteSpan base, NtfsDataStream& out, bool memoryOnly) {
  out = NtfsDataStream{};
  NtfsRecordHeader h;
  if (base.empty() || ParseRecordHeader(base, h) != NtfsParse::Ok || h.IsExtension()) return false;

  // Every extent of the unnamed $DATA, in the base record and in the
  // extension records the attribute list names (which must name this
  // record as their base).
  std::vector<OwnedAttribute> extents;
  std::vector<std::uint8_t> list;
  const auto listAttribute = FindAttribute(base, kNtfsAttributeList);
  out.listed = listAttribute.has_value();
  if (listAttribute && !(listAttribute->nonResident && memoryOnly) && ReadAttributeData(*listAttribute, list)) {
    NtfsAttributeListWalk walk{ByteSpan(list)};
    NtfsAttributeListEntry e;
    std::vector<std::uint8_t> extScratch;
    while (walk.Next(e)) {
      if (e.type != kNtfsData || e.nameLength != 0) continue;
      ByteSpan holder = base;
      if (e.record != record) {
        holder = GetRecord(e.record, extScratch, memoryOnly);
        NtfsRecordHeader eh;
        if (holder.empty() || ParseRecordHeader(holder, eh) != NtfsParse::Ok) continue;
        if (!eh.IsExtension() || eh.baseRecord != record) continue;
      }
      auto a = FindAttributeById(holder, kNtfsData, e.id);
      if (a && a->nameLength == 0) Keep(extents, *a);
    }
  }
  // Without a list the base record's own $DATA is the only extent, read
  // where it lies.
  if (extents.empty()) {
    const auto own = FindAttribute(base, kNtfsData);
    if (!own) return false;
    const NtfsAttribute* only = &*own;
    return JoinDataExtents(std::span(&only, 1), out, true);
  }
  std::stable_sort(extents.begin(), extents.end(), [](const OwnedAttribute& x, const OwnedAttribute& y) {
    return x.attribute.startVcn < y.attribute.startVcn;
  });
  std::vector<const NtfsAttribute*> parts;
  for (const OwnedAttribute& x : extents) parts.push_back(&x.attribute);
  return JoinDataExtents(parts, out, true);
}

bool JoinDataExtents(std::span<const NtfsAttribute* const> parts, NtfsDataStream& out, bool withValue) {
  const NtfsAttribute& first = *parts.front();
  if (first.startVcn != 0) return false;
  out.found = true;
  out.flags = first.flags;
  if (!first.nonResident) {
    out.resident = true;
    ByteSpan v = first.Value();
    if (withValue) out.value.assign(v.begin(), v.end());
    out.realSize = out.allocatedSize = out.initializedSize = v.size();
    out.extents = 1;
    return true;
  }
  out.realSize = first.realSize;
  out.allocatedSize = first.allocatedSize;
  out.initializedSize = std::min(first.initializedSize, first.realSize);
  out.compressionUnit = first.compressionUnit;
  // The extents follow one another without gaps; one that overlaps what is
  // already mapped is a duplicate, one that leaves a gap ends the map.
  std::uint64_t next = 0;
  for (const NtfsAttribute* part : parts) {
    const NtfsAttribute& a = *part;
    if (!a.nonResident || a.lastVcn == ~std::uint64_t{0}) continue;
    if (a.startVcn < next) continue;
    if (a.startVcn > next) break;
    const std::uint64_t end = a.lastVcn + 1;
    std::vector<NtfsRun> runs;
    DecodeRuns(a.Runs(), a.startVcn, runs);
    std::uint64_t covered = a.startVcn;
    for (NtfsRun r : runs) {
      if (r.vcn >= end) break;
      r.length = std::min(r.length, end - r.vcn);
      out.runs.push_back(r);
      covered = r.vcn + r.length;
    }
    ++out.extents;
    next = covered;
    if (covered < end) break;
  }
  out.mappedClusters = next;
  return true;
}

std::uint32_t FileStatus(CNTFSDriver& volume, CNTFSFile& file, bool deleted, const NtfsDataStream* known) {
  if (!deleted) return kStatusExisting;
  NtfsDataStream found;
  if (!known && !volume.FindDataAttribute(file.mftRecord, found)) return kStatusGood;
  const NtfsDataStream& s = known ? *known : found;
  if (s.resident) return kStatusGood;
  // The rating compares what the first cluster holds with the file's real
  // size, so the sizes come from the $DATA attribute first.
  file.RefreshSizes();
  NtfsVcnMapping m = MapVcn(s.runs, 0);
  if (!m.found || m.lcn == 0) return kStatusGood;
  return RateDeletedFile(volume, m.lcn, &file);
}

CNTFSDriver* CNTFSFile::Driver() const { return dynamic_cast<CNTFSDriver*>(volume); }

bool CNTFSFile::IsDeepScanFile() const { return volume && parent && parent == volume->GetLostFiles(); }

void CNTFSFile::RefreshSizes() {
  if (sizesLoaded || sizesTried_ || IsDeepScanFile()) return;
  sizesTried_ = true;
  CNTFSDriver* d = Driver();
  NtfsDataStream s;
  if (!d || !d->FindDataAttribute(mftRecord, s)) return;
  TakeDataStream(s, d->BytesPerCluster());
}

void CNTFSFile::TakeDataStream(const NtfsDataStream& s, std::uint64_t bytesPerCluster) {
  sizesTried_ = true;
  size = s.realSize;
  allocatedSize = std::max<std::uint64_t>(s.allocatedSize, bytesPerCluster);
  sizesLoaded = true;
  // With an attribute list the first cluster may need a list that lies
  // outside the MFT, which GetFirstCluster does not read.
  if (s.listed) return;
  firstClusterKnown_ = true;
  hasFirstCluster_ = !s.resident && !s.runs.empty() && !s.runs.front().sparse;
  if (hasFirstCluster_) firstCluster_ = s.runs.front().lcn;
}

std::uint64_t CNTFSFile::GetSize() {
  RefreshSizes();
  return size;
}

std::uint64_t CNTFSFile::GetSizeOnDisk() {
  RefreshSizes();
  return allocatedSize;
}

std::string CNTFSFile::GetSizeText(bool withBytes) {
  RefreshSizes();
  return CFSFile::GetSizeText(withBytes);
}

std::string CNTFSFile::GetSizeOnDiskText(bool withBytes) {
  RefreshSizes();
  return CFSFile::GetSizeOnDiskText(withBytes);
}

bool CNTFSFile::GetFirstCluster(std::uint64_t& cluster) const {
  if (IsDeepScanFile()) {
    cluster = mftRecord;
    return true;
  }
  CNTFSDriver* d = Driver();
  if (!d || !d->IsMftLoaded()) return false;
  if (firstClusterKnown_) {
    if (hasFirstCluster_) cluster = firstCluster_;
    return hasFirstCluster_;
  }
  NtfsDataStream s;
  if (!d->FindDataAttribute(mftRecord, s, true) || s.resident || s.runs.empty() || s.runs.front().sparse) return false;
  cluster = s.runs.front().lcn;
  return true;
}

namespace {

// Streams a file's bytes to the output through one bounded buffer, and
// gathers what went wrong on the way for one note at the end.
class StreamSaver {
 public:
  StreamSaver(CNTFSDriver& d, OutputFile& out, ProgressSink* progress, std::uint64_t total)
      : d_(d), out_(out), progress_(progress), total_(total), bpc_(d.BytesPerCluster()) {
    // Small files need no more than their own clusters.
    bufferClusters_ = std::max<std::uint64_t>(1, std::min(CNTFSDriver::kSaveBufferBytes / bpc_, ClustersFor(total, bpc_)));
    buffer_.resize(static_cast<std::size_t>(bufferClusters_ * bpc_));
    if (progress_ && progress_->HasBar(ProgressBar::File)) {
      progress_->SetRange(ProgressBar::File, 0, total_);
      progress_->SetPos(ProgressBar::File, 0);
    }
  }

  std::uint64_t Written() const { return written_; }
  std::uint64_t Left() const { return total_ - written_; }
  bool Failed() const { return stopped_ || writeFailed_; }

  // Reads clusters into `buffer`; sectors that cannot be read, and
  // clusters outside the volume, become zeros and are counted against the
  // file offset `at`.
  void ReadTolerant(std::uint64_t lcn, std::uint64_t count, std::uint8_t* buffer, std::uint64_t at) {
    const std::uint64_t clusters = d_.ClusterCount();
    std::uint64_t inside = lcn >= clusters ? 0 : std::min(count, clusters - lcn);
    if (inside < count) {
      std::memset(buffer + inside * bpc_, 0, static_cast<std::size_t>((count - inside) * bpc_));
      Unreadable(at + inside * bpc_, (count - inside) * bpc_);
    }
    if (inside == 0 || d_.ReadClusters(lcn, inside, buffer)) return;
    const std::uint32_t bps = d_.BytesPerSector();
    const std::uint64_t sectors = inside * d_.SectorsPerCluster();
    for (std::uint64_t s = 0; s < sectors; ++s) {
      std::uint8_t* p = buffer + s * bps;
      if (!d_.ReadSectors(lcn * d_.SectorsPerCluster() + s, p, bps, 1)) {
        std::memset(p, 0, bps);
        Unreadable(at + s * bps, bps);
      }
    }
  }

  // Writes the next `n` bytes of the file; false when a stop was requested
  // or the output failed.
  bool Emit(const std::uint8_t* data, std::uint64_t n) {
    if (Stop()) return false;
    n = std::min(n, Left());
    if (n > 0 && !out_.Write(data, static_cast<std::size_t>(n))) {
      writeFailed_ = true;
      out_.NoteProblem("the output could not be written after " + std::to_string(written_) + " bytes");
      return false;
    }
    written_ += n;
    if (progress_ && progress_->HasBar(ProgressBar::File)) progress_->SetPos(ProgressBar::File, written_);
    return true;
  }

  bool Stop() {
    if (IsStopRequested()) stopped_ = true;
    return stopped_;
  }

  void RunsEnded() { runsEnded_ = true; }
  void Damaged(std::uint64_t at) {
    if (damagedUnits_++ == 0) firstDamage_ = at;
  }

  // Streams the clusters of `runs` from VCN 0 until `total` bytes are
  // written; bytes from `zeroFrom` on are zeros (past the initialized size).
  bool CopyRuns(const std::vector<NtfsRun>& runs, std::uint64_t zeroFrom) {
    std::uint64_t vcn = 0;
    while (Left() > 0) {
      if (Stop()) return false;
      NtfsVcnMapping m = MapVcn(runs, vcn);
      if (!m.found) {
        RunsEnded();
        return true;
      }
      const std::uint64_t k = std::min({m.left, bufferClusters_, ClustersFor(Left(), bpc_)});
      const std::uint64_t at = written_;
      if (m.sparse) {
        std::memset(buffer_.data(), 0, static_cast<std::size_t>(k * bpc_));
      } else {
        ReadTolerant(m.lcn, k, buffer_.data(), at);
      }
      const std::uint64_t bytes = std::min(k * bpc_, Left());
      if (at + bytes > zeroFrom) {
        const std::uint64_t from = zeroFrom > at ? zeroFrom - at : 0;
        std::memset(buffer_.data() + from, 0, static_cast<std::size_t>(bytes - from));
      }
      if (!Emit(buffer_.data(), bytes)) return false;
      vcn += k;
    }
    return true;
  }

  // Streams a compressed attribute unit by unit: a unit with all its
  // clusters allocated holds its bytes as they are, one with fewer holds
  // them compressed, one without any is zeros.
  bool CopyCompressed(const std::vector<NtfsRun>& runs, std::uint64_t unitClusters) {
    std::vector<std::uint8_t> unit(static_cast<std::size_t>(unitClusters * bpc_));
    std::vector<std::uint8_t> packed(unit.size());
    for (std::uint64_t base = 0; Left() > 0; base += unitClusters) {
      if (Stop()) return false;
      struct Piece {
        std::uint64_t lcn, count;
      };
      std::vector<Piece> pieces;
      std::uint64_t allocated = 0, mapped = 0;
      for (std::uint64_t v = base; v < base + unitClusters;) {
        NtfsVcnMapping m = MapVcn(runs, v);
        if (!m.found) break;
        const std::uint64_t k = std::min(m.left, base + unitClusters - v);
        if (!m.sparse) {
          pieces.push_back({m.lcn, k});
          allocated += k;
        }
        mapped += k;
        v += k;
      }
      if (mapped == 0) {
        RunsEnded();
        return true;
      }
      const std::uint64_t at = written_;
      if (allocated == 0) {
        std::fill(unit.begin(), unit.end(), 0);
      } else {
        std::uint8_t* target = allocated >= unitClusters ? unit.data() : packed.data();
        std::uint64_t filled = 0;
        for (const Piece& p : pieces) {
          ReadTolerant(p.lcn, p.count, target + filled * bpc_, at + filled * bpc_);
          filled += p.count;
        }
        if (allocated < unitClusters) {
          ByteSpan in(packed.data(), static_cast<std::size_t>(allocated * bpc_));
          if (!DecompressLznt1(in, std::span<std::uint8_t>(unit))) Damaged(at);
        }
      }
      if (!Emit(unit.data(), unit.size())) return false;
    }
    return true;
  }

  // One note for each kind of trouble met on the way; the end of the runs
  // only where they are the file's runs.
  void NoteProblems(bool runsAreTheFiles = true) {
    if (unreadBytes_ > 0) {
      out_.NoteProblem(std::to_string(unreadBytes_) + " bytes could not be read and were saved as zeros (the first at "
                       "byte " + std::to_string(firstUnread_) + " of the file)");
    }
    if (damagedUnits_ > 0) {
      out_.NoteProblem("the compressed data are damaged in " + std::to_string(damagedUnits_) +
                       " compression unit(s), the first at byte " + std::to_string(firstDamage_) +
                       ": those parts may be wrong");
    }
    if (runsAreTheFiles && runsEnded_ && Left() > 0) {
      out_.NoteProblem("the file's data runs end after " + std::to_string(written_) + " of " +
                       std::to_string(total_) + " bytes: the rest could not be saved");
    }
  }

 private:
  void Unreadable(std::uint64_t at, std::uint64_t bytes) {
    if (unreadBytes_ == 0 || at < firstUnread_) firstUnread_ = at;
    unreadBytes_ += bytes;
  }

  CNTFSDriver& d_;
  OutputFile& out_;
  ProgressSink* progress_;
  std::uint64_t total_;
  std::uint64_t bpc_;
  std::uint64_t bufferClusters_ = 1;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t written_ = 0;
  bool stopped_ = false;
  bool writeFailed_ = false;
  bool runsEnded_ = false;
  std::uint64_t unreadBytes_ = 0;
  std::uint64_t firstUnread_ = 0;
  std::uint64_t damagedUnits_ = 0;
  std::uint64_t firstDamage_ = 0;
};

// Compression units larger than this are taken for damage: the file
// system makes them 16 clusters of at most 4096 bytes.
constexpr std::uint64_t kMaxCompressionUnitBytes = 4u << 20;

}  // namespace

bool CNTFSFile::SaveConsecutiveClusters(CNTFSDriver& d, OutputFile& out, ProgressSink* progress) {
  // A find of the deep scan has no record: its bytes are taken to follow
  // one another from its first cluster, up to the end of the volume.
  StreamSaver saver(d, out, progress, size);
  std::vector<NtfsRun> runs;
  if (mftRecord < d.ClusterCount()) runs.push_back({0, d.ClusterCount() - mftRecord, mftRecord, false});
  const bool ok = saver.CopyRuns(runs, std::numeric_limits<std::uint64_t>::max());
  if (!ok) return false;
  if (saver.Left() > 0) {
    out.NoteProblem("the file runs past the end of the volume: saved " + std::to_string(saver.Written()) + " of " +
                    std::to_string(size) + " bytes");
  }
  saver.NoteProblems(false);
  if (progress) progress->AdvanceFileCounter();
  return true;
}

bool CNTFSFile::SaveData(OutputFile& out, ProgressSink* progress) {
  CNTFSDriver* d = Driver();
  if (!d || d->BytesPerCluster() == 0) return false;
  if (IsStopRequested()) return false;
  if (IsDeepScanFile()) return SaveConsecutiveClusters(*d, out, progress);
  NtfsDataStream s;
  if (!d->FindDataAttribute(mftRecord, s) || !s.found) return false;

  if (s.resident) {
    StreamSaver saver(*d, out, progress, s.value.size());
    if (!saver.Emit(s.value.data(), s.value.size())) return false;
    if (progress) progress->AdvanceFileCounter();
    return true;
  }
  const std::uint64_t bpc = d->BytesPerCluster();
  // No file holds more than its volume: a larger size is damage (or a
  // sparse file whose holes would be nothing but zeros), and is saved only
  // as far as the volume could hold it, so that a record claiming an
  // absurd size cannot keep the saving writing zeros for days.
  const std::uint64_t volumeBytes = CheckedMul(d->ClusterCount(), bpc).value_or(~std::uint64_t{0});
  if (s.realSize > volumeBytes) {
    out.NoteProblem("the file claims " + std::to_string(s.realSize) + " bytes, more than the volume holds; " +
                    std::to_string(volumeBytes) + " bytes were saved at most");
    s.realSize = volumeBytes;
    s.initializedSize = std::min(s.initializedSize, volumeBytes);
  }
  bool ok;
  if (s.IsEncrypted()) {
    // Encrypted data cannot be read without the owner's key. They are
    // saved as they lie, whole 512-byte blocks of cipher text as far as
    // the file's clusters reach, so that they can be decrypted elsewhere.
    std::uint64_t raw = s.realSize / 512 * 512 + (s.realSize % 512 != 0 ? 512 : 0);
    raw = std::min(raw, CheckedMul(s.mappedClusters, bpc).value_or(raw));
    out.NoteProblem("the file is encrypted: its data are saved as they lie on the volume, not decrypted");
    StreamSaver saver(*d, out, progress, raw);
    ok = saver.CopyRuns(s.runs, std::numeric_limits<std::uint64_t>::max());
    if (ok) saver.NoteProblems();
  } else if (s.IsCompressed()) {
    StreamSaver saver(*d, out, progress, s.realSize);
    const std::uint16_t cu = s.compressionUnit;
    if (cu == 0 || cu > 16 || (bpc << cu) > kMaxCompressionUnitBytes) {
      out.NoteProblem("the file is marked compressed but its compression unit (" + std::to_string(cu) +
                      ") is not valid: its data are saved as they lie");
      ok = saver.CopyRuns(s.runs, s.initializedSize);
    } else {
      ok = saver.CopyCompressed(s.runs, std::uint64_t{1} << cu);
    }
    if (ok) saver.NoteProblems();
  } else {
    StreamSaver saver(*d, out, progress, s.realSize);
    ok = saver.CopyRuns(s.runs, s.initializedSize);
    if (ok) saver.NoteProblems();
  }
  if (!ok) return false;
  if (progress) progress->AdvanceFileCounter();
  return true;
}

bool CNTFSDriver::MarkKnownClusters(ClusterBitmap& bitmap, ProgressSink* progress) {
  // $Bitmap holds one bit per cluster, set for every cluster a file or
  // the file system itself uses: what is in use is no lost file. When it
  // cannot be read, every cluster is examined, as before.
  NtfsDataStream bits;
  if (bitmap.Last() < bitmap.First() || !FindDataAttribute(kNtfsBitmapRecord, bits) || !bits.found) return true;
  if (bits.IsCompressed() || bits.IsEncrypted()) return true;
  const std::uint64_t size = bits.resident ? bits.value.size() : std::min(bits.realSize, bits.initializedSize);
  const std::uint64_t firstByte = bitmap.First() / 8;
  const std::uint64_t endByte = std::min(size, bitmap.Last() / 8 + 1);
  auto markByte = [&](std::uint64_t index, std::uint8_t value) {
    for (unsigned b = 0; b < 8 && value != 0; ++b) {
      if (value & (1u << b)) bitmap.Set(index * 8 + b);
    }
  };
  if (bits.resident) {
    for (std::uint64_t i = firstByte; i < endByte; ++i) markByte(i, bits.value[static_cast<std::size_t>(i)]);
    return true;
  }
  if (bytesPerCluster_ == 0 || firstByte >= endByte) return true;
  // Read about a megabyte at a time: the bitmap of a large volume runs to
  // many megabytes.
  const std::uint64_t kChunkClusters = std::max<std::uint64_t>(1, (1u << 20) / bytesPerCluster_);
  std::vector<std::uint8_t> buffer;
  for (std::uint64_t vcn = firstByte / bytesPerCluster_; vcn * bytesPerCluster_ < endByte; vcn += kChunkClusters) {
    if (progress && IsStopRequested()) return false;
    const std::uint64_t count = std::min(kChunkClusters, (endByte - 1) / bytesPerCluster_ + 1 - vcn);
    buffer.assign(static_cast<std::size_t>(count * bytesPerCluster_), 0);
    // Clusters of a bitmap that cannot be read stay unmarked and are
    // examined: a copy too many beats a file missed.
    if (!ReadRuns(bits.runs, vcn, count, buffer.data())) break;
    const std::uint64_t base = vcn * bytesPerCluster_;
    const std::uint64_t from = std::max(base, firstByte), to = std::min(base + buffer.size(), endByte);
    for (std::uint64_t i = from; i < to; ++i) markByte(i, buffer[static_cast<std::size_t>(i - base)]);
  }
  return true;
}

bool CNTFSDriver::ScanCluster(std::uint64_t c, ClusterBitmap& bitmap, ProgressSink*) {
  if (!lostFiles_ || c >= clusterCount_) return false;
  LostFileGuess guess = ScanForLostFile(*this, c);
  if (!guess.found) return false;
  auto file = std::make_unique<CNTFSFile>();
  file->volume = this;
  file->parent = lostFiles_;
  file->name = "Cluster_" + std::to_string(c) + "." + guess.typeName;
  file->typeText = guess.typeName;
  const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  file->created = file->modified = file->accessed = now;
  file->attributes = 0;
  file->size = file->allocatedSize = guess.length;
  file->deleted = true;
  file->status = kStatusExcellent;
  file->mftRecord = c;
  lostFiles_->Append(std::move(file));
  // No cluster inside the find is examined as the start of another file.
  const std::uint64_t clusters = bytesPerCluster_ == 0 ? 0 : ClustersFor(guess.length, bytesPerCluster_);
  for (std::uint64_t i = 1; i < clusters && c + i <= lastCluster_; ++i) bitmap.Set(c + i);
  return true;
}

}  // namespace relictor
