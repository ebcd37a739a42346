#pragma once
// Walking a reader's entry tree by name, as the reader tests of every file
// system do. Folders are read as the search reads them, so that
// "LostFiles" never starts a deep scan.

#include <string>
#include <vector>

#include "model/entry.h"

namespace relictor::test {

inline CDirectory* Populated(CDirectory* d) {
  if (d && !d->populated) d->Populate(true, true, true);
  return d;
}

inline std::vector<std::string> ChildNames(CDirectory* d) {
  std::vector<std::string> names;
  if (!Populated(d)) return names;
  for (auto& c : d->children) names.push_back(c->name);
  return names;
}

inline CDirEntry* Child(CDirectory* d, const std::string& name) {
  if (!Populated(d)) return nullptr;
  for (auto& c : d->children) {
    if (c->name == name) return c.get();
  }
  return nullptr;
}

inline CDirectory* SubFolder(CDirectory* d, const std::string& name) {
  return dynamic_cast<CDirectory*>(Child(d, name));
}

}  // namespace relictor::test
