#pragma once
// Finding the files that start at a cluster: the type its first bytes tell
// (scan/identify.h), and the length of the file, worked out by the type's
// length rule (scan/length_rules.h) by walking its structure or by
// searching for its end marker in the clusters that follow. Files are taken
// to be contiguous. The same detector rates deleted files.

#include <cstddef>
#include <cstdint>
#include <string>

#include "scan/identify.h"

namespace relictor {

class CDriver;
class CDirEntry;

struct LostFileGuess {
  bool found = false;    // a length rule succeeded
  // The table name of the recognised type, set even when its rule fails;
  // a compound document is named "DOC", "XLS", "PPT", "VSD" or "MSCOMP"
  // once its directory is reached. Empty when nothing was recognised.
  std::string typeName;
  std::uint64_t length = 0;  // bytes from the start of the cluster
};

// Runs the length rule of the type that starts at `cluster`, whose bytes
// are already in the volume's cluster buffer. A length is only taken when
// the file fits in the clusters from `cluster` to the end of the scan
// range: a larger one comes from a damaged header or a file that is not
// all there.
LostFileGuess DetectLostFile(CDriver& volume, std::uint64_t cluster);
// Reads `cluster` into the volume's cluster buffer, then DetectLostFile.
LostFileGuess ScanForLostFile(CDriver& volume, std::uint64_t cluster);

// How likely a deleted file that starts at `firstCluster` is to come back
// whole: 1 "Excellent", 2 "Good" or 3 "Poor"; 2 without a file.
std::uint32_t RateDeletedFile(CDriver& volume, std::uint64_t firstCluster, CDirEntry* file);

}  // namespace relictor
