// The NTFS reader's volume side: opening, the boot sector, where the MFT
// lies, record reads (single ones and blocks for the record cache), the
// pass over the whole MFT that builds the index, and the cluster bitmap.

#include "ntfs/ntfs_driver.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

#include "ntfs/ntfs_attribute_list.h"
#include "volume/checked.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {

namespace {

std::uint64_t ClustersFor(std::uint64_t bytes, std::uint64_t clusterBytes) {
  return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

}  // namespace

CNTFSDriver::CNTFSDriver() = default;

// The tree goes first (CVolumeDriver does it), then the index and cache.
CNTFSDriver::~CNTFSDriver() = default;

bool CNTFSDriver::ReadBootSector() {
  if (!ReadFirstSector()) return false;
  std::string reason;
  NtfsGeometry g;
  if (!ParseNtfsBootSector(ByteSpan(bootSector_), g, reason)) return Fail(reason);
  return true;
}

bool CNTFSDriver::Open(unsigned char letter, std::uint32_t driveType, std::string_view displayName, bool borrowed) {
  if (!CVolumeDriver::Open(letter, driveType, displayName, borrowed)) return false;
  if (!borrowed && !ReadBootSector()) return false;
  if (!haveBootSector_) return Fail("no boot sector");
  std::string reason;
  if (!ParseNtfsBootSector(ByteSpan(bootSector_), geometry_, reason)) return Fail(reason);
  const NtfsGeometry& g = geometry_;
  bytesPerSector_ = g.bytesPerSector;
  sectorsPerCluster_ = g.sectorsPerCluster;
  bytesPerCluster_ = g.bytesPerCluster;
  clusterCount_ = g.clusterCount;
  // Cluster numbers of more than 48 bits have no byte offset on a device.
  if (clusterCount_ > (std::uint64_t{1} << 48)) return Fail("more clusters than a volume can hold");
  if (g.mftCluster >= clusterCount_) return Fail("the MFT lies past the end of the volume");
  firstCluster_ = 2;
  lastCluster_ = LastDataCluster();
  clusterBuffer_.assign(bytesPerCluster_, 0);
  bufferedCluster_ = kNoCluster;
  if (!SetupMft()) return false;
  CreateRootEntries();
  return true;
}

void CNTFSDriver::CreateRootEntries() {
  auto root = std::make_unique<CNTFSDirectory>();
  root->volume = this;
  root->name = displayName_;
  root->status = kStatusExisting;
  root->reference = kNtfsRootRecord;
  root_ = std::move(root);

  const EntryTime now = static_cast<EntryTime>(std::time(nullptr));
  auto special = [&](const char* name, std::uint64_t reference) {
    auto dir = std::make_unique<CNTFSDirectory>();
    dir->volume = this;
    dir->parent = root_.get();
    dir->name = name;
    dir->created = dir->modified = dir->accessed = now;
    dir->attributes = 0;
    dir->deleted = true;
    dir->status = kStatusExisting;
    dir->reference = reference;
    return root_->Append(std::move(dir));
  };
  lostFiles_ = special("LostFiles", kNtfsLostFilesReference);
  deletedFiles_ = special("DeletedFiles", kNtfsDeletedFilesReference);
}

std::uint64_t CNTFSDriver::ClusterToSector(std::uint64_t cluster) const {
  if (cluster >= clusterCount_) return ~std::uint64_t{0};
  return cluster * sectorsPerCluster_;
}

std::string CNTFSDriver::VolumeLabel() {
  std::vector<std::uint8_t> record;
  if (!ReadMftRecord(kNtfsVolumeRecord, record)) return {};
  auto a = FindAttribute(ByteSpan(record), kNtfsVolumeName);
  if (!a || a->nonResident) return {};
  std::string label = NtfsNameToUtf8(a->Value());
  for (char& c : label) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  return label;
}

bool CNTFSDriver::ReadClusters(std::uint64_t lcn, std::uint64_t count, std::uint8_t* buffer) {
  if (count == 0) return true;
  if (bytesPerCluster_ == 0 || lcn >= clusterCount_ || count > clusterCount_ - lcn) return false;
  // Reads are issued in pieces whose sector count fits the read call.
  constexpr std::uint64_t kPiece = 8192;
  while (count > 0) {
    const std::uint64_t k = std::min(count, kPiece);
    if (!ReadSectors(lcn * sectorsPerCluster_, buffer, bytesPerSector_,
                     static_cast<std::uint32_t>(k * sectorsPerCluster_))) {
      return false;
    }
    buffer += k * bytesPerCluster_;
    lcn += k;
    count -= k;
  }
  return true;
}

bool CNTFSDriver::ReadRuns(const std::vector<NtfsRun>& runs, std::uint64_t vcn, std::uint64_t count,
                           std::uint8_t* buffer) {
  while (count > 0) {
    NtfsVcnMapping m = MapVcn(runs, vcn);
    if (!m.found) return false;
    const std::uint64_t k = std::min(m.left, count);
    if (m.sparse) {
      std::memset(buffer, 0, static_cast<std::size_t>(k * bytesPerCluster_));
    } else if (!ReadClusters(m.lcn, k, buffer)) {
      return false;
    }
    buffer += k * bytesPerCluster_;
    vcn += k;
    count -= k;
  }
  return true;
}

bool CNTFSDriver::ReadAttributeData(const NtfsAttribute& a, std::vector<std::uint8_t>& out, std::uint64_t limit) {
  out.clear();
  if (!a.nonResident) {
    if (a.valueLength > limit) return false;
    ByteSpan v = a.Value();
    out.assign(v.begin(), v.end());
    return true;
  }
  if (a.realSize > limit || a.startVcn != 0 || bytesPerCluster_ == 0) return false;
  const std::uint64_t clusters = ClustersFor(a.realSize, bytesPerCluster_);
  std::vector<NtfsRun> runs;
  DecodeRuns(a.Runs(), a.startVcn, runs);
  out.assign(static_cast<std::size_t>(clusters * bytesPerCluster_), 0);
  if (!ReadRuns(runs, 0, clusters, out.data())) return false;
  out.resize(static_cast<std::size_t>(a.realSize));
  return true;
}

bool CNTFSDriver::ReadAttributeList(ByteSpan base, std::vector<std::uint8_t>& list, bool memoryOnly) {
  auto a = FindAttribute(base, kNtfsAttributeList);
  if (!a) return false;
  if (a->nonResident && memoryOnly) return false;
  return ReadAttributeData(*a, list);
}

bool CNTFSDriver::SetupMft() {
  const NtfsGeometry& g = geometry_;
  recordSize_ = g.recordSize;
  if (recordSize_ == 0 || bytesPerSector_ == 0) return Fail("MFT record size not supported");
  // Record 0 describes the MFT, so it is read from where the boot sector
  // says the MFT starts, in whole sectors.
  const std::uint32_t sectors = (recordSize_ + bytesPerSector_ - 1) / bytesPerSector_;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(sectors) * bytesPerSector_);
  if (!ReadSectors(g.mftCluster * sectorsPerCluster_, raw.data(), bytesPerSector_, sectors)) {
    return Fail("cannot read the first MFT record");
  }
  record0_.assign(raw.begin(), raw.begin() + recordSize_);
  NtfsFixupResult fix = ApplyFixups(std::span<std::uint8_t>(record0_));
  if (fix.status != NtfsParse::Ok) return Fail("the first MFT record is damaged");
  auto data = FindAttribute(ByteSpan(record0_), kNtfsData);
  if (!data || !data->nonResident || data->startVcn != 0) return Fail("the MFT has no data attribute");
  mftRuns_.clear();
  DecodeRuns(data->Runs(), 0, mftRuns_);
  if (mftRuns_.empty()) return Fail("the MFT's data runs are damaged");
  const std::uint64_t extentEnd = data->lastVcn == ~std::uint64_t{0} ? 0 : data->lastVcn + 1;
  // Runs past what the extent claims are not trusted.
  while (!mftRuns_.empty() && mftRuns_.back().vcn >= extentEnd) mftRuns_.pop_back();
  if (!mftRuns_.empty() && mftRuns_.back().vcn + mftRuns_.back().length > extentEnd) {
    mftRuns_.back().length = extentEnd - mftRuns_.back().vcn;
  }
  mftMappedClusters_ = mftRuns_.empty() ? 0 : mftRuns_.back().vcn + mftRuns_.back().length;
  const std::uint64_t realSize = data->realSize;
  GatherMftExtents();

  // The MFT can be no larger than its runs reach, nor than the volume or
  // the device: a damaged size field must not make the pass read, or the
  // index claim memory for, records that cannot exist.
  // (A product that does not fit in 64 bits bounds nothing.)
  std::uint64_t imageBytes = realSize;
  imageBytes = std::min(imageBytes, CheckedMul(mftMappedClusters_, bytesPerCluster_).value_or(imageBytes));
  imageBytes = std::min(imageBytes, CheckedMul(clusterCount_, bytesPerCluster_).value_or(imageBytes));
  if (device_) imageBytes = std::min(imageBytes, device_->Size());
  recordCount_ = imageBytes / recordSize_;
  if (recordCount_ == 0) return Fail("the MFT holds no records");
  cache_.Configure(recordSize_, recordCount_, cacheBlockBytes_, cacheBlocks_,
                   [this](std::uint64_t first, std::uint64_t count, std::uint8_t* out) {
                     ReadRecordBlock(first, count, out);
                   },
                   true);
  return true;
}

bool CNTFSDriver::GatherMftExtents() {
  // A long MFT continues its run list in extension records that record 0's
  // attribute list names. Each is read through the runs known so far, in
  // the order of their first VCN.
  std::vector<std::uint8_t> list;
  if (!ReadAttributeList(ByteSpan(record0_), list, false)) return true;
  struct Extent {
    std::uint64_t startVcn, record;
    std::uint16_t id;
  };
  std::vector<Extent> extents;
  NtfsAttributeListWalk walk{ByteSpan(list)};
  NtfsAttributeListEntry e;
  while (walk.Next(e)) {
    if (e.type == kNtfsData && e.nameLength == 0 && e.startVcn != 0) extents.push_back({e.startVcn, e.record, e.id});
  }
  std::stable_sort(extents.begin(), extents.end(),
                   [](const Extent& a, const Extent& b) { return a.startVcn < b.startVcn; });
  std::vector<std::uint8_t> record;
  for (const Extent& x : extents) {
    if (x.startVcn < mftMappedClusters_) continue;
    if (x.startVcn > mftMappedClusters_) break;
    if (!ReadRecordThroughRuns(x.record, record)) break;
    NtfsRecordHeader h;
    if (ParseRecordHeader(ByteSpan(record), h) != NtfsParse::Ok || !h.IsExtension() || h.baseRecord != 0) break;
    auto a = FindAttributeById(ByteSpan(record), kNtfsData, x.id);
    if (!a || !a->nonResident || a->startVcn != x.startVcn || a->nameLength != 0) break;
    if (a->lastVcn == ~std::uint64_t{0}) break;
    std::vector<NtfsRun> runs;
    DecodeRuns(a->Runs(), a->startVcn, runs);
    const std::uint64_t end = a->lastVcn + 1;
    for (NtfsRun r : runs) {
      if (r.vcn >= end) break;
      r.length = std::min(r.length, end - r.vcn);
      mftRuns_.push_back(r);
    }
    mftMappedClusters_ = mftRuns_.back().vcn + mftRuns_.back().length;
    // An extent whose runs end before its last VCN leaves a gap that no
    // later extent can close.
    if (mftMappedClusters_ < end) break;
  }
  return true;
}

bool CNTFSDriver::ReadMftRecord(std::uint64_t n, std::vector<std::uint8_t>& target) {
  if (n >= recordCount_) return false;
  return ReadRecordThroughRuns(n, target);
}

bool CNTFSDriver::ReadRecordThroughRuns(std::uint64_t n, std::vector<std::uint8_t>& target) {
  if (recordSize_ == 0 || bytesPerCluster_ == 0) return false;
  if (n > std::numeric_limits<std::uint64_t>::max() / recordSize_) return false;
  target.assign(recordSize_, 0);
  std::uint64_t position = n * recordSize_;
  std::size_t done = 0;
  std::vector<std::uint8_t> buffer;
  while (done < recordSize_) {
    const std::uint64_t vcn = position / bytesPerCluster_;
    const std::uint64_t inCluster = position % bytesPerCluster_;
    NtfsVcnMapping m = MapVcn(mftRuns_, vcn);
    if (!m.found || m.sparse) return false;
    // As many whole clusters as cover the rest of the record, at least one.
    const std::uint64_t want = ClustersFor(inCluster + (recordSize_ - done), bytesPerCluster_);
    const std::uint64_t k = std::min(m.left, want);
    buffer.resize(static_cast<std::size_t>(k * bytesPerCluster_));
    if (!ReadClusters(m.lcn, k, buffer.data())) return false;
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(k * bytesPerCluster_ - inCluster, recordSize_ - done));
    std::memcpy(target.data() + done, buffer.data() + inCluster, take);
    done += take;
    position += take;
  }
  return ApplyFixups(std::span<std::uint8_t>(target)).status == NtfsParse::Ok;
}

void CNTFSDriver::ReadRecordBlock(std::uint64_t first, std::uint64_t count, std::uint8_t* out) {
  if (recordSize_ == 0 || bytesPerCluster_ == 0 || first >= recordCount_) {
    std::memset(out, 0, static_cast<std::size_t>(count * recordSize_));
    return;
  }
  const std::uint64_t asked = count;
  count = std::min(count, recordCount_ - first);
  const std::uint64_t bpc = bytesPerCluster_;
  const std::uint64_t bytes = count * recordSize_;
  std::uint64_t position = first * recordSize_;
  std::uint64_t done = 0;
  std::vector<std::uint8_t> partial;
  while (done < bytes) {
    const std::uint64_t vcn = position / bpc;
    const std::uint64_t inCluster = position % bpc;
    NtfsVcnMapping m = MapVcn(mftRuns_, vcn);
    if (!m.found) break;  // the runs end here: the rest is zeros
    const std::uint64_t want = ClustersFor(inCluster + (bytes - done), bpc);
    const std::uint64_t k = std::min(m.left, want);
    const std::uint64_t take = std::min(k * bpc - inCluster, bytes - done);
    if (m.sparse) {
      std::memset(out + done, 0, static_cast<std::size_t>(take));
    } else {
      const bool direct = inCluster == 0 && take == k * bpc;
      if (!direct) partial.resize(static_cast<std::size_t>(k * bpc));
      std::uint8_t* target = direct ? out + done : partial.data();
      if (!ReadClusters(m.lcn, k, target)) {
        // One bad sector must not cost the records of the whole piece: the
        // clusters are read again one by one, and those that fail are
        // zeros.
        for (std::uint64_t c = 0; c < k; ++c) {
          std::uint8_t* one = target + c * bpc;
          if (!ReadClusters(m.lcn + c, 1, one)) std::memset(one, 0, static_cast<std::size_t>(bpc));
        }
      }
      if (!direct) std::memcpy(out + done, partial.data() + inCluster, static_cast<std::size_t>(take));
    }
    done += take;
    position += take;
  }
  std::memset(out + done, 0, static_cast<std::size_t>((asked - count) * recordSize_ + bytes - done));
  for (std::uint64_t i = 0; i < count; ++i) {
    std::span<std::uint8_t> r(out + i * recordSize_, recordSize_);
    if (HasFileSignature(ByteSpan(r.data(), r.size()))) ApplyFixups(r);
  }
}

ByteSpan CNTFSDriver::CachedRecord(std::uint64_t n, std::vector<std::uint8_t>& scratch) {
  if (!cache_.Copy(n, scratch)) return {};
  return ByteSpan(scratch);
}

ByteSpan CNTFSDriver::GetRecord(std::uint64_t n, std::vector<std::uint8_t>& scratch, bool memoryOnly) {
  ByteSpan r = CachedRecord(n, scratch);
  if (!r.empty() || memoryOnly) return r;
  if (!ReadMftRecord(n, scratch)) return {};
  return ByteSpan(scratch);
}

// The pass over the MFT as long work. Each step reads one block of
// records through the MFT's runs, testing for a stop before it, and takes
// every record of it into the index while its bytes are still in the
// processor's cache. What cannot be read of a block is zeros, which no
// record check accepts.
class MftLoadTask final : public WorkerTask {
 public:
  explicit MftLoadTask(CNTFSDriver& d) : d_(d) {}

  bool Step() override {
    ProgressSink* p = Progress();
    const std::uint64_t bpc = d_.bytesPerCluster_;
    const std::uint64_t size = d_.recordSize_;
    if (!started_) {
      started_ = true;
      total_ = ClustersFor(d_.recordCount_ * size, bpc);
      blockRecords_ = std::max<std::uint64_t>(1, kBlockBytes / size);
      block_.resize(static_cast<std::size_t>(blockRecords_ * size));
      if (p) {
        if (p->HasText(ProgressText::CurrentItem)) p->SetText(ProgressText::CurrentItem, d_.GetDisplayName());
        if (p->HasBar(ProgressBar::Overall)) {
          p->SetRange(ProgressBar::Overall, 0, total_);
          p->SetPos(ProgressBar::Overall, 0);
        }
        Report(p);
      }
    }
    if (next_ >= d_.recordCount_) {
      d_.FinishIndex();
      return true;
    }
    if (IsStopRequested()) return false;
    const std::uint64_t count = std::min(blockRecords_, d_.recordCount_ - next_);
    d_.ReadRecordBlock(next_, count, block_.data());
    for (std::uint64_t i = 0; i < count; ++i) {
      d_.IndexRecord(next_ + i, ByteSpan(block_.data() + i * size, static_cast<std::size_t>(size)));
    }
    next_ += count;
    counter_ = std::min(total_, ClustersFor(next_ * size, bpc));
    Report(p);
    return false;
  }

 private:
  static constexpr std::uint64_t kBlockBytes = 1u << 20;

  void Report(ProgressSink* p) const {
    if (!p) return;
    if (p->HasText(ProgressText::Counter)) {
      p->SetText(ProgressText::Counter, std::to_string(counter_) + "/" + std::to_string(total_));
    }
    if (p->HasBar(ProgressBar::Overall)) p->SetPos(ProgressBar::Overall, counter_);
  }

  CNTFSDriver& d_;
  bool started_ = false;
  std::uint64_t next_ = 0;  // the next record to read
  std::uint64_t blockRecords_ = 1;
  std::uint64_t total_ = 0;
  std::uint64_t counter_ = 0;
  std::vector<std::uint8_t> block_;
};

bool CNTFSDriver::LoadMft() {
  if (mftLoaded_) return true;
  if (recordCount_ == 0) return false;
  // Every pass starts from an empty index, so that nothing of an earlier,
  // stopped pass is taken for records.
  ClearIndex();
  MftLoadTask task(*this);
  JobInfo info{JobKind::LoadMft, "Scanning...", displayName_, bytesPerCluster_};
  InlineJobRunner inlineRunner;
  JobRunner& runner = GetHost().jobs ? *GetHost().jobs : inlineRunner;
  const bool finished = runner.Run(task, info);
  if (!finished || !mftLoaded_) {
    mftLoaded_ = false;
    ClearIndex();
    return false;
  }
  return true;
}

bool CNTFSDriver::StreamClusterBitmap(
    const std::function<bool(std::uint64_t firstCluster, ByteSpan bits, std::uint64_t clusters)>& visit) {
  constexpr std::uint64_t kBitmapRecord = 6;
  NtfsDataStream s;
  if (clusterCount_ == 0 || bytesPerCluster_ == 0 || !FindDataAttribute(kBitmapRecord, s) || !s.found) return false;
  // Only as many bytes as the volume has clusters for are read, whatever
  // the bitmap's sizes claim.
  const std::uint64_t needed = clusterCount_ / 8 + (clusterCount_ % 8 != 0 ? 1 : 0);
  const std::uint64_t available = s.resident ? s.value.size() : std::min(s.realSize, s.initializedSize);
  const std::uint64_t bytes = std::min(needed, available);
  std::uint64_t cluster = 0;
  if (s.resident) {
    const ByteSpan all(s.value.data(), static_cast<std::size_t>(bytes));
    for (std::uint64_t at = 0; at < bytes; at += kBitmapPieceBytes) {
      const std::uint64_t n = std::min<std::uint64_t>(kBitmapPieceBytes, bytes - at);
      const std::uint64_t clusters = std::min(n * 8, clusterCount_ - cluster);
      if (!visit(cluster, all.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(n)), clusters)) {
        return false;
      }
      cluster += clusters;
    }
    return bytes == needed;
  }
  const std::uint64_t bpc = bytesPerCluster_;
  const std::uint64_t pieceClusters = std::max<std::uint64_t>(1, kBitmapPieceBytes / bpc);
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(pieceClusters * bpc));
  for (std::uint64_t vcn = 0, at = 0; at < bytes; vcn += pieceClusters, at += pieceClusters * bpc) {
    if (IsStopRequested()) return false;
    const std::uint64_t n = std::min(pieceClusters * bpc, bytes - at);
    if (!ReadRuns(s.runs, vcn, ClustersFor(n, bpc), piece.data())) return false;
    const std::uint64_t clusters = std::min(n * 8, clusterCount_ - cluster);
    if (!visit(cluster, ByteSpan(piece.data(), static_cast<std::size_t>(n)), clusters)) return false;
    cluster += clusters;
  }
  return bytes == needed;
}

}  // namespace relictor
