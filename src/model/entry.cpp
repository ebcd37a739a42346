#include "model/entry.h"

#include <cstdio>
#include <ctime>

#include "volume/driver.h"

namespace relictor {
namespace {
std::string& FolderTypeName() {
  static std::string name;
  return name;
}

bool ToLocal(EntryTime t, std::tm& out) {
  if (t == kNoTime) return false;
  std::time_t tt = static_cast<std::time_t>(t);
  if (static_cast<EntryTime>(tt) != t) return false;
  return localtime_r(&tt, &out) != nullptr;
}
}  // namespace

void SetFolderTypeName(std::string name) { FolderTypeName() = std::move(name); }

std::string FormatSizeText(std::uint64_t value, bool withBytes) {
  std::uint64_t kb = (value > 0 && value < 1024) ? 1 : value / 1024;
  std::string text = std::to_string(kb) + " KB";
  // The byte count is printed in full: a 32-bit field would show sizes of
  // 2 GiB and more as negative numbers.
  if (withBytes) text += " (" + std::to_string(value) + " Bytes)";
  return text;
}

std::string StatusText(std::uint32_t status) {
  switch (status) {
    case kStatusExcellent:
      return "Excellent";
    case kStatusGood:
      return "Good";
    case kStatusPoor:
      return "Poor";
    default:
      return "Existing";
  }
}

std::string FormatDateTime(EntryTime t) {
  std::tm tm{};
  if (!ToLocal(t, tm)) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string FormatDate(EntryTime t) {
  std::tm tm{};
  if (!ToLocal(t, tm)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

std::string TypeTextFromName(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string CDirEntry::GetLocation(const CDirectory* stop) const {
  std::string text;
  for (const CDirectory* f = parent; f != nullptr && f != stop; f = f->parent) {
    if (f->volume != nullptr && f->volume->GetRoot() == f) {
      text.insert(0, f->volume->RootPath());
    } else {
      text.insert(0, f->name + "\\");
    }
  }
  return text;
}

std::string CDirEntry::GetSizeText(bool withBytes) {
  if (IsFolder()) return {};
  return FormatSizeText(GetSize(), withBytes);
}

std::string CDirEntry::GetSizeOnDiskText(bool withBytes) {
  if (IsFolder()) return {};
  return FormatSizeText(GetSizeOnDisk(), withBytes);
}

std::string CDirEntry::GetStatusText() {
  if (!analysed) Analyse();
  return StatusText(status);
}

bool CDirEntry::IsFolder() const { return IsKindOf<CDirectory>(); }

std::string CDirEntry::GetTypeText() const { return IsFolder() ? FolderTypeName() : typeText; }

std::string CDirEntry::GetCreatedText() const { return FormatDateTime(created); }

std::string CDirEntry::GetModifiedText() const { return FormatDateTime(modified); }

std::string CDirEntry::GetAccessedText() const {
  if (volume != nullptr && volume->KeepsAccessTimeOfDay()) return FormatDateTime(accessed);
  return FormatDate(accessed);
}

CDirEntry* CDirectory::Append(std::unique_ptr<CDirEntry> child) {
  child->parent = this;
  children.push_back(std::move(child));
  return children.back().get();
}

void CDirectory::ClearChildren() {
  // Children go one at a time, each slot cleared as its entry goes.
  for (auto& child : children) child.reset();
  children.clear();
}


}  // namespace relictor
