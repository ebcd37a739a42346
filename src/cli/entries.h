#pragma once
// Printing entries the way the file list shows them: name, size text,
// type, modified time, status, and whether the entry is deleted.

#include <string>
#include <vector>

#include "cli/json.h"
#include "model/entry.h"

namespace relictor::cli {

// The keys every entry listing prints: name, path, kind, deleted, status,
// size, size_on_disk, type, created, modified, accessed, attributes and,
// where the reader has one, first_cluster.
JsonObject EntryJson(CDirEntry& entry);

// Replaces control characters so that a hostile name cannot move the
// cursor or change the colours of the user's terminal.
std::string TerminalSafe(const std::string& text);

// One line per entry; with `withPath` the name is preceded by the entry's
// location.
void PrintEntryTable(const std::vector<CDirEntry*>& entries, bool withPath);

}  // namespace relictor::cli
