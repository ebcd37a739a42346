#pragma once
// Naming entries inside a volume on the command line: a path of folder and
// file names as the file list shows them (a deleted name with its
// replacement character, "_OCUMENT.TXT"), separated by "\" or "/".

#include <string>

#include "model/entry.h"
#include "volume/driver.h"

namespace relictor::cli {

// Finds the entry a path names, populating the folders on the way as the
// file list would (Populate(true, true, false); naming "LostFiles" on the
// way starts its deep scan). "", "/" and "\" name the root. The path may
// start with the volume's drive ("C:\Docs", "C:/Docs"), as listings print it. A name is
// matched exactly first, then without regard to ASCII case. When several
// entries of a folder carry the same name (deleted files often do),
// "NAME#K" picks the K-th of them in folder order; the bare name is then
// refused as ambiguous. On failure returns null with `error` set to one
// sentence.
CDirEntry* FindEntryByPath(CVolumeDriver& volume, const std::string& path, std::string& error);

// The path of a folder as GetLocation writes it for its children: the
// volume's root path for a root, else the location and the name with a
// trailing "\".
std::string FolderPathText(const CDirEntry& folder);

}  // namespace relictor::cli
