#include "scan/deep_scan.h"

#include <algorithm>
#include <cstdint>

#include "model/entry.h"
#include "volume/cluster_bitmap.h"
#include "volume/driver.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {
namespace {

// The scan as one step on the worker.
class DeepScanTask final : public WorkerTask {
 public:
  explicit DeepScanTask(CVolumeDriver& volume) : volume_(volume) {}
  bool Step() override {
    completed_ = DeepScan(volume_, Progress(), &found_);
    return true;
  }
  bool Completed() const { return completed_; }

 private:
  CVolumeDriver& volume_;
  std::uint32_t found_ = 0;
  bool completed_ = false;
};

// The last cluster of [first, last] that can lie on the volume's device.
// Every reader places cluster c at or behind (c - first data cluster)
// whole clusters from the start of its device, so no cluster from the
// first data cluster plus the device's size in clusters on can be read.
std::uint64_t LastClusterOnDevice(const CVolumeDriver& volume, std::uint64_t first, std::uint64_t last) {
  const auto& device = volume.GetDevice();
  const std::uint64_t bytesPerCluster = volume.BytesPerCluster();
  if (!device || bytesPerCluster == 0) return last;
  const std::uint64_t clusters = device->Size() / bytesPerCluster;
  const std::uint64_t base = std::max(first, volume.FirstDataCluster());
  if (base > UINT64_MAX - clusters) return last;
  return std::min(last, std::max(first, base + clusters));
}

}  // namespace

bool DeepScan(CVolumeDriver& volume, ProgressSink* progress, std::uint32_t* found) {
  std::uint32_t count = 0;
  if (found) *found = 0;
  const std::uint64_t first = volume.FirstCluster();
  const std::uint64_t last = volume.LastCluster();
  volume.BeginCountProgress(progress);
  if (first > last) return true;
  // Clusters that cannot lie on the device are not walked: a damaged boot
  // sector may claim far more clusters than the device holds, and neither
  // their bitmap nor a loop over them would ever end well.
  const std::uint64_t end = LastClusterOnDevice(volume, first, last);
  ClusterBitmap bitmap(first, end);
  // The reader tidies up what it kept for the scan however the scan ends.
  struct Finish {
    CVolumeDriver& volume;
    ~Finish() { volume.FinishScan(); }
  } finish{volume};
  if (!volume.ScansAllClusters() && !volume.MarkKnownClusters(bitmap, progress)) return false;
  volume.BeginScanProgress(progress);
  for (std::uint64_t c = first;; ++c) {
    if (IsStopRequested()) return false;
    if (!bitmap.Test(c)) {
      bitmap.Set(c);
      if (volume.ScanCluster(c, bitmap, progress)) {
        ++count;
        if (found) *found = count;
      }
    }
    if (IsStopRequested()) return false;
    if (c % 32 == 0 || c + 1 >= last) volume.ReportScanProgress(progress, c);
    if (c == end) break;
  }
  if (end != last) volume.ReportScanProgress(progress, last);
  return true;
}

std::uint64_t ScanRangeMinimum(const CVolumeDriver& volume) { return volume.FirstDataCluster(); }

std::uint64_t ScanRangeMaximum(const CVolumeDriver& volume) { return volume.LastDataCluster(); }

std::string CheckClusterRange(std::uint64_t start, std::uint64_t end) {
  if (end >= start) return {};
  return "The end cluster can not less start cluster.";
}

std::string ClusterRangeSummary(std::uint64_t start, std::uint64_t end, std::uint32_t bytesPerCluster) {
  std::uint64_t mb = end >= start ? (((end - start + 1) >> 10) * bytesPerCluster) >> 10 : 0;
  return std::to_string(start) + "-" + std::to_string(end) + "(" + std::to_string(mb) + "Mb)";
}

bool ExpandLostFiles(CVolumeDriver& volume) {
  CDirectory* lost = volume.GetLostFiles();
  if (!lost) return false;
  Host& host = volume.GetHost();
  std::uint64_t minimum = ScanRangeMinimum(volume), maximum = ScanRangeMaximum(volume);
  std::uint64_t start = minimum, end = maximum;
  bool allClusters = false;
  if (host.rangeChooser) {
    if (!host.rangeChooser->ChooseScan(minimum, maximum, volume.BytesPerCluster(), start, end, allClusters)) {
      return false;
    }
    if (!CheckClusterRange(start, end).empty()) return false;
  }
  volume.SetScanRange(start, end);
  volume.SetScanAllClusters(allClusters);
  lost->ClearChildren();
  lost->populated = false;
  DeepScanTask task(volume);
  JobInfo info{JobKind::DeepScan, "Find Lost Files...", volume.GetDisplayName(), volume.BytesPerCluster()};
  InlineJobRunner inlineRunner;
  JobRunner& runner = host.jobs ? *host.jobs : inlineRunner;
  bool finished = runner.Run(task, info);
  lost->populated = finished && task.Completed();
  return true;
}

bool StartPopulate(CDirectory& folder, bool force) {
  if (folder.volume && folder.volume->GetLostFiles() == &folder) {
    // The deep scan fills the lost-files folder; the search and the saving
    // only ask for what is there.
    if (force) {
      folder.populated = true;
    } else {
      ExpandLostFiles(*folder.volume);
    }
    return false;
  }
  if (folder.populated) return false;
  folder.populated = true;
  return true;
}

}  // namespace relictor
