#include "recovery/output_device.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace relictor {
namespace {

// A sysfs walk never needs more than a handful of devices; the limit only
// keeps a strange tree (links in a circle) from running on.
constexpr std::size_t kMaxDevices = 256;

bool ReadDeviceNumber(const std::string& file, std::uint64_t& out) {
  std::ifstream in(file);
  unsigned major = 0, minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return false;
  out = makedev(major, minor);
  return true;
}

std::vector<std::string> Subfolders(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::uint64_t> DevicesStoredOn(std::uint64_t device, const std::string& sysfs) {
  std::vector<std::uint64_t> found{device};
  // Folders of sysfs devices still to look at: their partitions and their
  // holders are stored on the device too.
  std::vector<std::string> pending;
  pending.push_back(sysfs + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)));
  std::vector<std::string> seen;
  while (!pending.empty() && seen.size() < kMaxDevices) {
    std::string folder = pending.back();
    pending.pop_back();
    char resolved[4096];
    if (!::realpath(folder.c_str(), resolved)) continue;
    std::string real = resolved;
    if (std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
    seen.push_back(real);
    std::uint64_t number = 0;
    if (ReadDeviceNumber(real + "/dev", number) && std::find(found.begin(), found.end(), number) == found.end()) {
      found.push_back(number);
    }
    for (const std::string& name : Subfolders(real)) {
      if (Exists(real + "/" + name + "/partition")) pending.push_back(real + "/" + name);
    }
    for (const std::string& name : Subfolders(real + "/holders")) pending.push_back(real + "/holders/" + name);
  }
  return found;
}

bool FolderLiesOnSource(const std::string& sourcePath, const std::string& folder, std::string& why,
                        const std::string& sysfs) {
  struct stat source {};
  if (::stat(sourcePath.c_str(), &source) != 0 || !S_ISBLK(source.st_mode)) return false;
  // The folder may not exist yet: the file system it will be made on is
  // that of its nearest existing parent.
  std::string probe = folder.empty() ? std::string(".") : folder;
  struct stat target {};
  for (int guard = 0; ::stat(probe.c_str(), &target) != 0; ++guard) {
    while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
    auto slash = probe.rfind('/');
    if (guard > 4096) return false;
    if (slash == std::string::npos) {
      probe = ".";
    } else {
      probe = slash == 0 ? std::string("/") : probe.substr(0, slash);
    }
  }
  for (std::uint64_t device : DevicesStoredOn(source.st_rdev, sysfs)) {
    if (device == static_cast<std::uint64_t>(target.st_dev)) {
      why = "the output folder " + folder + " lies on " + sourcePath +
            ", the disk being read: save the files to another drive, or they may overwrite the deleted data";
      return true;
    }
  }
  return false;
}

}  // namespace relictor
