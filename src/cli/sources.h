#pragma once
// Naming volumes on the command line. A SOURCE is an image or device path;
// "SOURCE@N" names its N-th volume (1-based, in the order `drives` lists
// them); a source with a single volume needs no "@N".

#include <memory>
#include <string>
#include <vector>

#include "readers/reader_factory.h"
#include "volume/drive_list.h"

namespace relictor::cli {

struct OpenedSource {
  SourceReport report;
  DriveList drives;
};

struct VolumeSpec {
  std::string path;
  int index = 0;  // 0 when not given
  bool lost = false;  // "PATH@lost:S": the volume whose boot sector is at sector S
  std::uint64_t lostStart = 0;
};

// Splits "PATH@N" and "PATH@lost:S". A path that exists as given is taken
// whole, so file names that contain "@" still work.
bool ParseVolumeSpec(const std::string& text, VolumeSpec& out, std::string& error);

// Opens the volume such a name names. Problems of the source that do not stop
// the open (a damaged second partition) go to `warnings`.
struct OpenedVolume {
  std::unique_ptr<OpenedSource> source;
  std::shared_ptr<CDriver> disk;             // the disk a lost volume is read through
  std::unique_ptr<CVolumeDriver> lostVolume;  // a volume named by "@lost:S"
  CVolumeDriver* volume = nullptr;
  std::vector<std::string> warnings;
};
bool OpenVolumeSpec(const std::string& text, Host& host, OpenedVolume& out, std::string& error);
// The same for a command: prints why the volume cannot be opened, or the
// warnings about its source, on standard error.
bool OpenVolumeForCommand(const std::string& text, Host& host, OpenedVolume& out);

}  // namespace relictor::cli
