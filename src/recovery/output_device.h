#pragma once
// Whether an output folder lies on the disk being recovered from. Saving
// onto the volume that is being read would overwrite the very clusters
// that deleted files still occupy, so front ends refuse such a folder when
// they can tell.

#include <cstdint>
#include <string>
#include <vector>

namespace relictor {

// The block devices whose file systems are stored on `device` (a device
// number as st_rdev gives it): the device itself, its partitions, and the
// devices stacked on any of them (device mapper, RAID), as the sysfs tree
// under `sysfs` lists them. Only `device` itself when sysfs knows nothing
// of it.
std::vector<std::uint64_t> DevicesStoredOn(std::uint64_t device, const std::string& sysfs = "/sys");

// True when `sourcePath` is a block device and `folder`, or its nearest
// existing parent when it does not exist yet, lies on a file system of
// that device or of one of the devices stored on it. `why` then says so in
// one sentence. False for image files and whenever the answer cannot be
// found out.
bool FolderLiesOnSource(const std::string& sourcePath, const std::string& folder, std::string& why,
                        const std::string& sysfs = "/sys");

}  // namespace relictor
