#include "cli/entries.h"

#include <cstdio>

namespace relictor::cli {

JsonObject EntryJson(CDirEntry& e) {
  JsonObject o;
  o.Add("name", e.GetName())
      .Add("path", e.GetLocation())
      .Add("kind", e.IsFolder() ? "folder" : "file")
      .Add("deleted", e.deleted)
      .Add("status", e.GetStatusText())
      .Add("size", e.IsFolder() ? e.size : e.GetSize())
      .Add("size_on_disk", e.IsFolder() ? e.allocatedSize : e.GetSizeOnDisk())
      .Add("type", e.GetTypeText())
      .Add("created", e.GetCreatedText())
      .Add("modified", e.GetModifiedText())
      .Add("accessed", e.GetAccessedText())
      .Add("attributes", static_cast<std::uint64_t>(e.attributes));
  std::uint64_t cluster = 0;
  if (e.GetFirstCluster(cluster)) o.Add("first_cluster", cluster);
  return o;
}

std::string TerminalSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  return out;
}

void PrintEntryTable(const std::vector<CDirEntry*>& entries, bool withPath) {
  for (CDirEntry* e : entries) {
    std::string name = withPath ? e->GetLocation() + e->GetName() : e->GetName();
    if (e->IsFolder()) name += "\\";
    std::printf("%-4s %-3s %14s  %-6s %-19s  %-9s  %s\n", e->IsFolder() ? "DIR" : "FILE", e->deleted ? "del" : "",
                e->GetSizeText(false).c_str(), TerminalSafe(e->GetTypeText()).c_str(), e->GetModifiedText().c_str(),
                e->GetStatusText().c_str(), TerminalSafe(name).c_str());
  }
}

}  // namespace relictor::cli
