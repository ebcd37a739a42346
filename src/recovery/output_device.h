#pragma once
// Whether an output folder lies on the disk being recovered from. Saving
// onto the volume that is being read would overwrite the very clusters
// that deleted files still occupy, so front ends refuse such a folder when
// they can tell.

#include <cstdint>
#include <string>
#include <vector>

namespace relictor {

class CDirEntry;

// The block devices whose file systems are stored on `device` (a device
// number as st_rdev gives it): the device itself, its partitions, and the
// devices stacked on any of them (device mapper, RAID), as the sysfs tree
// under `sysfs` lists them. Only `device` itself when sysfs knows nothing
// of it.
std::vector<std::uint64_t> DevicesStoredOn(std::uint64_t device, const std::string& sysfs = "/sys");

// True when `folder`, or its nearest existing parent when it does not
// exist yet, lies on a file system stored in `sourcePath`, however that is
// mounted:
//  - `sourcePath` is a block device, and the folder's file system is on
//    it, on one of its partitions or on a device stacked on them;
//  - `sourcePath` is an image file, and the folder's file system is on a
//    loop device backed by that file (or a partition of such a device);
//  - the file system's mount names the image file, or one of those
//    devices, as its source (a FUSE mount of the image, say).
// Files and devices are compared by their numbers, never by path text.
// `why` then says so, and where to save instead, in one sentence. False
// whenever the answer cannot be found out.
bool FolderLiesOnSource(const std::string& sourcePath, const std::string& folder, std::string& why,
                        const std::string& sysfs = "/sys", const std::string& mountinfo = "/proc/self/mountinfo");

// The same for a selection about to be saved: true when `folder` lies on
// the source of any selected entry's volume.
bool FolderLiesOnSelectionSource(const std::vector<CDirEntry*>& selection, const std::string& folder,
                                 std::string& why);

}  // namespace relictor
