#pragma once
// Printing entries the way the file list shows them: name, size text,
// type, modified time, status, and whether the entry is deleted; or, with
// --json, as objects of one JSON array. Entries are written one at a time
// as a command comes to them, through one output buffer.

#include <optional>
#include <string>
#include <string_view>

#include "cli/json.h"
#include "model/entry.h"

namespace relictor::cli {

// Replaces control characters so that a hostile name cannot move the
// cursor or change the colours of the user's terminal.
std::string TerminalSafe(const std::string& text);

class EntryListing {
 public:
  // Table lines, or with `json` the objects of a JSON array whose keys are
  // name, path, kind, deleted, status, size, size_on_disk, type, created,
  // modified, accessed, attributes and, where the reader has one,
  // first_cluster. With `withPath` a table line's name is preceded by the
  // entry's location.
  EntryListing(OutputBuffer& out, bool json, bool withPath);

  void Write(CDirEntry& entry);
  // Closes the JSON array and writes everything out; false when a write
  // failed.
  bool Close();
  bool Failed() const { return out_.Failed(); }
  // Entries' locations are remembered by their folder; a command that
  // destroys folders must call this before it lists further.
  void ForgetLocations() { locationOf_ = nullptr; }

 private:
  const std::string& LocationOf(CDirEntry& entry);
  void WriteJson(CDirEntry& entry);
  void WriteLine(CDirEntry& entry);

  OutputBuffer& out_;
  std::optional<JsonArrayWriter> json_;
  bool withPath_;
  const CDirectory* locationOf_ = nullptr;
  std::string location_;
  std::string line_;  // the table line being built
};

}  // namespace relictor::cli
