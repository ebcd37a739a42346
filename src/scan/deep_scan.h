#pragma once
// The deep scan: every cluster of the scan range that no known entry
// accounts for (unless the volume is told to scan all clusters) is handed to the volume's ScanCluster, which adds what it
// finds to the volume's "LostFiles" folder. A find's clusters are marked so
// that none of them is examined again.

#include <cstdint>
#include <string>

namespace relictor {

class CDirectory;
class CVolumeDriver;
class ProgressSink;

// Scans [firstCluster, lastCluster] of the volume. True when the range was
// scanned to its end, false when stopped. `found` counts the files found.
bool DeepScan(CVolumeDriver& volume, ProgressSink* progress, std::uint32_t* found = nullptr);

// What the first read of a volume's "LostFiles" folder does: asks the
// host's range chooser for the range (the whole offered range without
// one), empties the folder, and runs the deep scan as long work through
// the host's job runner. The folder counts as populated only when the scan
// ran to its end. Returns false when the user cancelled the range.
bool ExpandLostFiles(CVolumeDriver& volume);

// The start of a reader's Populate: the volume's "LostFiles" folder is
// expanded as above (or, when `force`, taken as it stands), and any other
// folder is read once. True when the caller is to read the folder's
// entries now; the folder then counts as populated.
bool StartPopulate(CDirectory& folder, bool force);

// The range the range chooser offers for a volume.
std::uint64_t ScanRangeMinimum(const CVolumeDriver& volume);
std::uint64_t ScanRangeMaximum(const CVolumeDriver& volume);

// The rule of the range chooser: empty when the range may be scanned, else
// the message to show ("The end cluster can not less start cluster.").
std::string CheckClusterRange(std::uint64_t start, std::uint64_t end);
// The chooser's summary "%d-%d(%dMb)": start, end and the size of the
// range in whole megabytes, counted in whole units of 1024 clusters.
std::string ClusterRangeSummary(std::uint64_t start, std::uint64_t end, std::uint32_t bytesPerCluster);

}  // namespace relictor
