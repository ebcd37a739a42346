#include "recovery/output_device.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "model/entry.h"
#include "volume/driver.h"

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

namespace {

struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// What the source holds: the block devices its bytes are read through and
// the image files they come from.
struct SourceStore {
  std::vector<std::uint64_t> devices;
  std::vector<FileId> files;

  bool HasDevice(std::uint64_t d) const { return std::find(devices.begin(), devices.end(), d) != devices.end(); }
  bool HasFile(const FileId& f) const { return std::find(files.begin(), files.end(), f) != files.end(); }
  void AddDevices(const std::vector<std::uint64_t>& more) {
    for (std::uint64_t d : more) {
      if (!HasDevice(d)) devices.push_back(d);
    }
  }
  void AddFile(const FileId& f) {
    if (!HasFile(f)) files.push_back(f);
  }
};

bool ReadLine(const std::string& file, std::string& line) {
  std::ifstream in(file);
  if (!std::getline(in, line)) return false;
  // A loop device whose file was removed says so after its name.
  static const std::string kDeleted = " (deleted)";
  if (line.size() >= kDeleted.size() && line.compare(line.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    return false;
  }
  return !line.empty();
}

bool IdOfFile(const std::string& path, FileId& id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

// The file a loop device reads, when `device` is one or a partition of
// one (whose sysfs folder lies inside its disk's).
bool LoopBackingFile(std::uint64_t device, const std::string& sysfs, FileId& id) {
  std::string line;
  const std::string folder = sysfs + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  if (ReadLine(folder + "/loop/backing_file", line)) return IdOfFile(line, id);
  return Exists(folder + "/partition") && ReadLine(folder + "/../loop/backing_file", line) && IdOfFile(line, id);
}

SourceStore StoreOf(const struct stat& source, const std::string& sysfs) {
  SourceStore store;
  if (S_ISBLK(source.st_mode)) {
    store.AddDevices(DevicesStoredOn(source.st_rdev, sysfs));
    // A loop device shows the bytes of its file: a mount of that file is
    // a mount of the source too.
    for (std::uint64_t d : std::vector<std::uint64_t>(store.devices)) {
      FileId backing;
      if (LoopBackingFile(d, sysfs, backing)) store.AddFile(backing);
    }
    return store;
  }
  const FileId image{static_cast<std::uint64_t>(source.st_dev), static_cast<std::uint64_t>(source.st_ino)};
  store.AddFile(image);
  // Every loop device set up over the image, whatever its offset: it may
  // show the whole disk or one partition of it.
  for (const std::string& name : Subfolders(sysfs + "/block")) {
    std::string line;
    FileId backing;
    std::uint64_t number = 0;
    const std::string folder = sysfs + "/block/" + name;
    if (!ReadLine(folder + "/loop/backing_file", line) || !IdOfFile(line, backing) || !(backing == image)) continue;
    if (ReadDeviceNumber(folder + "/dev", number)) store.AddDevices(DevicesStoredOn(number, sysfs));
  }
  return store;
}

// Mount tables escape blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' && text[i + 2] >= '0' &&
        text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct MountLine {
  std::uint64_t device = 0;
  std::string mountPoint;
  std::string source;
};

// The mounts of the file system numbered `device`.
std::vector<MountLine> MountsOf(std::uint64_t device, const std::string& mountinfo) {
  std::vector<MountLine> found;
  std::ifstream in(mountinfo);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
      auto space = line.find(' ', pos);
      if (space == std::string::npos) space = line.size();
      if (space > pos) fields.push_back(line.substr(pos, space - pos));
      pos = space + 1;
    }
    // id parent major:minor root mount-point options [optional...] - type source super-options
    auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 3) continue;
    unsigned maj = 0, min = 0;
    char colon = 0;
    std::istringstream numbers(fields[2]);
    if (!(numbers >> maj >> colon >> min) || colon != ':') continue;
    if (makedev(maj, min) != device) continue;
    found.push_back({device, Unescape(fields[4]), Unescape(*(dash + 2))});
  }
  return found;
}

// Whether a mount's source names what the source holds: the image file
// itself or one of its devices.
bool SourceNamesStore(const std::string& mountSource, const SourceStore& store) {
  if (mountSource.empty() || mountSource[0] != '/') return false;
  struct stat st {};
  if (::stat(mountSource.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) return store.HasDevice(st.st_rdev);
  if (S_ISREG(st.st_mode)) {
    return store.HasFile({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
  }
  return false;
}

}  // namespace

bool FolderLiesOnSource(const std::string& sourcePath, const std::string& folder, std::string& why,
                        const std::string& sysfs, const std::string& mountinfo) {
  struct stat source {};
  if (sourcePath.empty() || ::stat(sourcePath.c_str(), &source) != 0) return false;
  if (!S_ISBLK(source.st_mode) && !S_ISREG(source.st_mode)) return false;
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
  const SourceStore store = StoreOf(source, sysfs);
  const std::uint64_t targetDevice = static_cast<std::uint64_t>(target.st_dev);
  const std::vector<MountLine> mounts = MountsOf(targetDevice, mountinfo);
  bool onSource = store.HasDevice(targetDevice);
  std::string mountPoint;
  for (const MountLine& m : mounts) {
    if (onSource || SourceNamesStore(m.source, store)) {
      onSource = true;
      mountPoint = m.mountPoint;
      break;
    }
  }
  if (!onSource) return false;
  why = "the output folder " + folder + " lies on " + sourcePath +
        (mountPoint.empty() ? std::string() : " (mounted at " + mountPoint + ")") +
        ", the volume being read, and saving there would overwrite the deleted data: choose a folder on another "
        "drive";
  return true;
}

bool FolderLiesOnSelectionSource(const std::vector<CDirEntry*>& selection, const std::string& folder,
                                 std::string& why) {
  std::vector<std::string> checked;
  for (const CDirEntry* entry : selection) {
    if (!entry || !entry->volume) continue;
    const std::string& path = entry->volume->GetSourcePath();
    if (path.empty() || std::find(checked.begin(), checked.end(), path) != checked.end()) continue;
    checked.push_back(path);
    if (FolderLiesOnSource(path, folder, why)) return true;
  }
  return false;
}

}  // namespace relictor
