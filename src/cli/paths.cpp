#include "cli/paths.h"

#include <vector>

#include "cli/cli.h"
#include "cli/entries.h"

namespace relictor::cli {
namespace {

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<CDirEntry*> Matches(CDirectory& folder, const std::string& name, bool exact) {
  std::vector<CDirEntry*> out;
  for (auto& child : folder.children) {
    if (!child) continue;
    if (exact ? child->name == name : EqualsIgnoringAsciiCase(child->name, name)) out.push_back(child.get());
  }
  return out;
}

// Looks a name up among the children of a folder: exact matches first,
// then ones that differ in ASCII case, then "NAME#K".
CDirEntry* FindChild(CDirectory& folder, const std::string& name, std::string& error) {
  const std::string where = TerminalSafe(FolderPathText(folder));
  for (bool exact : {true, false}) {
    auto found = Matches(folder, name, exact);
    if (found.size() == 1) return found.front();
    if (found.size() > 1) {
      error = std::to_string(found.size()) + " entries are named '" + TerminalSafe(name) + "' in " + where +
              ": name one of them as '" + TerminalSafe(name) + "#K' with K from 1 to " + std::to_string(found.size());
      return nullptr;
    }
  }
  auto hash = name.rfind('#');
  std::uint64_t k = 0;
  if (hash != std::string::npos && hash > 0 && ParseUnsigned(name.substr(hash + 1), k) && k > 0) {
    const std::string base = name.substr(0, hash);
    for (bool exact : {true, false}) {
      auto found = Matches(folder, base, exact);
      if (found.empty()) continue;
      if (k <= found.size()) return found[k - 1];
      error = "only " + std::to_string(found.size()) + " entr" + (found.size() == 1 ? "y is" : "ies are") +
              " named '" + TerminalSafe(base) + "' in " + where;
      return nullptr;
    }
  }
  error = "no entry named '" + TerminalSafe(name) + "' in " + where;
  return nullptr;
}

// Takes off a drive in front of the path ("C:", "C:\\", "C:/"), as the
// listings print paths. Names on these volumes cannot hold ':', so "X:"
// at the start is always a drive; it must be the volume's own.
// A volume without a letter (one `lost` found) prints its name in front
// instead, which is taken off too unless the root holds an entry of that
// name.
bool StripDrive(CVolumeDriver& volume, std::string& path, std::string& error) {
  const std::string root = volume.RootPath();
  const bool lettered = root.size() == 3 && root[1] == ':';
  if (!lettered && root.size() > 1) {
    const std::string name = root.substr(0, root.size() - 1);
    auto* top = volume.GetRoot();
    if (path.compare(0, name.size(), name) == 0 &&
        (path.size() == name.size() || path[name.size()] == '/' || path[name.size()] == '\\') && top) {
      if (!top->populated) top->Populate(true, true, false);
      if (Matches(*top, name, true).empty()) path.erase(0, name.size());
      return true;
    }
  }
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     (path.size() == 2 || path[2] == '/' || path[2] == '\\');
  if (!drive) return true;
  if (!lettered || !EqualsIgnoringAsciiCase(root.substr(0, 2), path.substr(0, 2))) {
    error = "the path starts with drive " + TerminalSafe(path.substr(0, 2)) + ", but the volume's paths start with " +
            TerminalSafe(root) + ": give the path as `ls` shows it";
    return false;
  }
  path.erase(0, 2);
  return true;
}

}  // namespace

std::string FolderPathText(const CDirEntry& folder) {
  if (folder.parent == nullptr) return folder.volume ? folder.volume->RootPath() : folder.name + "\\";
  return folder.GetLocation() + folder.name + "\\";
}

CDirEntry* FindEntryByPath(CVolumeDriver& volume, const std::string& path, std::string& error) {
  CDirEntry* current = volume.GetRoot();
  if (!current) {
    error = "the volume has no folder tree";
    return nullptr;
  }
  std::string inside = path;
  if (!StripDrive(volume, inside, error)) return nullptr;
  for (const std::string& part : SplitPath(inside)) {
    if (part == ".") continue;
    if (part == "..") {
      if (current->parent) current = current->parent;
      continue;
    }
    auto* folder = dynamic_cast<CDirectory*>(current);
    if (!folder) {
      error = "'" + TerminalSafe(current->GetLocation() + current->name) + "' is a file, not a folder";
      return nullptr;
    }
    if (!folder->populated) folder->Populate(true, true, false);
    current = FindChild(*folder, part, error);
    if (!current) return nullptr;
  }
  return current;
}

}  // namespace relictor::cli
