#pragma once
// What a volume reader needs from the program around it: the settings
// values, the job runner for long work, the cluster-range chooser, and the
// sinks through which it adds itself to a front end's lists.

#include <cstdint>
#include <string>

#include "worker/frontend.h"

namespace relictor {

class CDirectory;
class CDriver;

struct Settings {
  // Stands in for the lost first character of a deleted FAT short name.
  char replaceChar = '_';
  bool autoUpdate = false;
  std::uint16_t language = 0;
  // Recovered files and folders get the modification time (and the access
  // time, where the volume keeps one) of their entry, instead of the time
  // they were written.
  bool keepTimes = true;
};

// Asks for the cluster range of a deep scan (or the sector range of a
// lost-volume walk). Returns false when the user cancelled; otherwise
// `start` and `end` hold the chosen range, which satisfies end >= start.
class ClusterRangeChooser {
 public:
  virtual ~ClusterRangeChooser() = default;
  virtual bool Choose(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                      std::uint64_t& start, std::uint64_t& end) = 0;
  // The same for a deep scan, which may also be told to examine the
  // clusters that existing files use (`allClusters`); it skips them
  // otherwise. Choosers that do not offer that choice leave it false.
  virtual bool ChooseScan(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                          std::uint64_t& start, std::uint64_t& end, bool& allClusters) {
    allClusters = false;
    return Choose(minimum, maximum, bytesPerCluster, start, end);
  }
};

// The "Look in:" list of the search and the disk list of the lost-volume
// search.
class DriveListSink {
 public:
  virtual ~DriveListSink() = default;
  // `root` is the volume's root folder (null for a whole disk); `driver`
  // is the reader itself.
  virtual void AddDrive(const std::string& text, CDriver* driver, CDirectory* root) = 0;
};

// The navigation tree.
class FolderTreeSink {
 public:
  using Item = void*;
  virtual ~FolderTreeSink() = default;
  // Inserts `folder` under `parent`; images 2 (fixed drive) and 3
  // (removable drive) are the tree's drive icons.
  virtual Item InsertFolder(Item parent, CDirectory* folder, const std::string& text, int image,
                            int selectedImage, bool hasChildren) = 0;
};

struct Host {
  Settings settings;
  JobRunner* jobs = nullptr;                   // null: run long work here, with no display
  ClusterRangeChooser* rangeChooser = nullptr;  // null: the whole offered range
};

// The host of readers that were given none.
Host& DefaultHost();

}  // namespace relictor
