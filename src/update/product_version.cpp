#include "update/product_version.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "volume/endian.h"

namespace relictor::update {
namespace {

constexpr std::uint32_t kSectionNote = 7;  // SHT_NOTE
constexpr std::uint32_t kSegmentNote = 4;  // PT_NOTE
// Bounds on what a program's headers may claim, so that a damaged or
// hostile file cannot make the reader allocate or walk without end.
constexpr std::uint64_t kMaxTableEntries = 4096;
constexpr std::uint64_t kMaxNoteArea = 1024 * 1024;
// The version text is read into the same 64 characters as "VERSION".
constexpr std::size_t kMaxVersionText = 63;

// Reads `size` bytes at `offset` of the file, or fails.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint64_t size, std::vector<std::uint8_t>& out)>;

std::uint64_t Align4(std::uint64_t v) { return (v + 3) & ~std::uint64_t{3}; }

// Walks the notes of one note area and returns the version text, if any.
std::string VersionInNotes(ByteSpan notes) {
  std::size_t pos = 0;
  while (InBounds(notes, pos, 12)) {
    std::uint64_t nameSize = le32(notes, pos);
    std::uint64_t descSize = le32(notes, pos + 4);
    std::uint32_t type = le32(notes, pos + 8);
    std::uint64_t nameAt = pos + 12;
    std::uint64_t descAt = nameAt + Align4(nameSize);
    std::uint64_t next = descAt + Align4(descSize);
    if (next > notes.size()) break;
    const std::size_t ownerSize = sizeof(kVersionNoteOwner);  // with its zero
    if (type == kVersionNoteType && nameSize == ownerSize &&
        std::memcmp(notes.data() + nameAt, kVersionNoteOwner, ownerSize) == 0) {
      std::string text;
      for (std::uint64_t i = 0; i < descSize && text.size() <= kMaxVersionText; ++i) {
        char c = static_cast<char>(notes[static_cast<std::size_t>(descAt + i)]);
        if (c == '\0') break;
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return {};
        text.push_back(c);
      }
      if (text.size() > kMaxVersionText) return {};
      return text;
    }
    pos = static_cast<std::size_t>(next);
  }
  return {};
}

std::string ReadVersion(const ReadAt& read) {
  std::vector<std::uint8_t> header;
  if (!read(0, 64, header) && !read(0, 52, header)) return {};
  ByteSpan h(header);
  if (h.size() < 52 || h[0] != 0x7F || h[1] != 'E' || h[2] != 'L' || h[3] != 'F') return {};
  const bool is64 = h[4] == 2;
  if ((h[4] != 1 && !is64) || h[5] != 1) return {};  // 32 or 64 bits, little-endian only
  if (is64 && h.size() < 64) return {};

  // The section table first (it survives ordinary stripping), then the
  // program header table for files without one.
  struct Table {
    std::uint64_t offset, entrySize, count;
    std::uint32_t noteType;
    bool sections;
  };
  Table tables[2] = {
      {is64 ? le64(h, 0x28) : le32(h, 0x20), is64 ? le16(h, 0x3A) : le16(h, 0x2E), is64 ? le16(h, 0x3C) : le16(h, 0x30),
       kSectionNote, true},
      {is64 ? le64(h, 0x20) : le32(h, 0x1C), is64 ? le16(h, 0x36) : le16(h, 0x2A), is64 ? le16(h, 0x38) : le16(h, 0x2C),
       kSegmentNote, false},
  };
  for (const Table& t : tables) {
    const std::uint64_t minEntry = t.sections ? (is64 ? 64u : 40u) : (is64 ? 56u : 32u);
    if (t.offset == 0 || t.count == 0 || t.count > kMaxTableEntries || t.entrySize < minEntry) continue;
    std::vector<std::uint8_t> table;
    if (!read(t.offset, t.entrySize * t.count, table)) continue;
    ByteSpan entries(table);
    for (std::uint64_t i = 0; i < t.count; ++i) {
      ByteSpan e = entries.subspan(static_cast<std::size_t>(i * t.entrySize), static_cast<std::size_t>(t.entrySize));
      std::uint32_t type = le32(e, t.sections ? 4 : 0);
      if (type != t.noteType) continue;
      std::uint64_t offset, size;
      if (t.sections) {
        offset = is64 ? le64(e, 0x18) : le32(e, 0x10);
        size = is64 ? le64(e, 0x20) : le32(e, 0x14);
      } else {
        offset = is64 ? le64(e, 0x08) : le32(e, 0x04);
        size = is64 ? le64(e, 0x20) : le32(e, 0x10);
      }
      if (size == 0 || size > kMaxNoteArea) continue;
      std::vector<std::uint8_t> notes;
      if (!read(offset, size, notes)) continue;
      std::string version = VersionInNotes(notes);
      if (!version.empty()) return version;
    }
  }
  return {};
}

}  // namespace

std::string ProductVersionFromElf(std::span<const std::uint8_t> file) {
  return ReadVersion([file](std::uint64_t offset, std::uint64_t size, std::vector<std::uint8_t>& out) {
    if (offset > file.size() || size > file.size() - offset) return false;
    out.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
               file.begin() + static_cast<std::ptrdiff_t>(offset + size));
    return true;
  });
}

std::string ProductVersionOfFile(const std::string& path) {
  // Only a regular file is opened: a pipe or device of that name would
  // block the read or never end.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  if (end < 0) return {};
  const auto fileSize = static_cast<std::uint64_t>(end);
  return ReadVersion([&in, fileSize](std::uint64_t offset, std::uint64_t size, std::vector<std::uint8_t>& out) {
    if (offset > fileSize || size > fileSize - offset) return false;
    out.resize(static_cast<std::size_t>(size));
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size);
  });
}

}  // namespace relictor::update
