#include "cli/entries.h"

#include <cstring>

namespace relictor::cli {
namespace {

void AppendTerminalSafe(std::string& out, std::string_view text) {
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7F) ? '?' : c;
  }
}

// printf's "%-Ns" and "%Ns": the text, padded with spaces to N bytes.
void AppendLeft(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  if (text.size() < width) out.append(width - text.size(), ' ');
}
void AppendRight(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() < width) out.append(width - text.size(), ' ');
  out.append(text);
}

}  // namespace

std::string TerminalSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  AppendTerminalSafe(out, text);
  return out;
}

EntryListing::EntryListing(OutputBuffer& out, bool json, bool withPath) : out_(out), withPath_(withPath) {
  if (json) json_.emplace(out_);
}

const std::string& EntryListing::LocationOf(CDirEntry& e) {
  // The entries of a listing come folder by folder: the location is worked
  // out once for each folder rather than once for each entry.
  if (e.parent == nullptr || e.parent != locationOf_) {
    location_ = e.GetLocation();
    locationOf_ = e.parent;
  }
  return location_;
}

void EntryListing::Write(CDirEntry& e) {
  if (out_.Failed()) return;
  if (json_) {
    WriteJson(e);
  } else {
    WriteLine(e);
  }
}

void EntryListing::WriteJson(CDirEntry& e) {
  const bool folder = e.IsFolder();
  JsonArrayWriter& j = *json_;
  char date[kDateTextCapacity];
  j.BeginObject();
  j.Add("name", e.name)
      .Add("path", LocationOf(e))
      .Add("kind", folder ? "folder" : "file")
      .Add("deleted", e.deleted)
      .Add("status", e.GetStatusText())
      .Add("size", folder ? e.size : e.GetSize())
      .Add("size_on_disk", folder ? e.allocatedSize : e.GetSizeOnDisk());
  if (folder) {
    j.Add("type", e.GetTypeText());
  } else {
    j.Add("type", e.typeText);
  }
  j.Add("created", std::string_view(date, FormatDateTimeTo(e.created, date)));
  j.Add("modified", std::string_view(date, FormatDateTimeTo(e.modified, date)));
  j.Add("accessed", std::string_view(date, e.GetAccessedTextTo(date)));
  j.Add("attributes", static_cast<std::uint64_t>(e.attributes));
  std::uint64_t cluster = 0;
  if (e.GetFirstCluster(cluster)) j.Add("first_cluster", cluster);
  j.EndObject();
}

void EntryListing::WriteLine(CDirEntry& e) {
  // "%-4s %-3s %14s  %-6s %-19s  %-9s  %s\n" of kind, deletion, size,
  // type, modified time, status and name.
  const bool folder = e.IsFolder();
  std::string& t = line_;
  t.clear();
  AppendLeft(t, folder ? "DIR" : "FILE", 4);
  t += ' ';
  AppendLeft(t, e.deleted ? "del" : "", 3);
  t += ' ';
  AppendRight(t, e.GetSizeText(false), 14);
  t.append("  ");
  const std::size_t typeStart = t.size();
  AppendTerminalSafe(t, folder ? std::string_view(e.GetTypeText()) : std::string_view(e.typeText));
  const std::size_t typeLength = t.size() - typeStart;
  if (typeLength < 6) t.append(6 - typeLength, ' ');
  t += ' ';
  char date[kDateTextCapacity];
  AppendLeft(t, std::string_view(date, FormatDateTimeTo(e.modified, date)), 19);
  t.append("  ");
  AppendLeft(t, e.GetStatusText(), 9);
  t.append("  ");
  if (withPath_) AppendTerminalSafe(t, LocationOf(e));
  AppendTerminalSafe(t, e.name);
  if (folder) t += '\\';
  t += '\n';
  out_.Append(t);
  out_.Written();
}

bool EntryListing::Close() {
  if (json_) return json_->Close();
  return out_.Flush();
}

}  // namespace relictor::cli
