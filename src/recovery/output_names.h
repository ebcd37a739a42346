#pragma once
// Names of recovered files and folders. Entry names come from the disk and
// may hold anything: path separators, "..", control characters, names far
// longer than the output file system allows, and, on FAT, the same name
// twice (two deleted "_OCUMENT.TXT"). These helpers turn such a name into
// one plain component of the output folder and keep the entries of one
// folder from landing on the same output name within a saving run.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace relictor {

// The longest name, in bytes, that the output file systems accept.
inline constexpr std::size_t kMaxOutputNameBytes = 255;

// The entry name as one safe component of an output path: "/", "\", NUL
// and control characters (below 0x20, and 0x7F) become "_", so do the
// names "." and ".." as a whole; an empty name becomes "_"; a name longer
// than kMaxOutputNameBytes is shortened, keeping its extension and never
// cutting a UTF-8 sequence in two.
std::string SafeOutputName(const std::string& name);

// The name with " (k)" put before its extension (files) or at its end
// (folders), shortened as SafeOutputName would so that it still fits.
std::string NumberedOutputName(const std::string& safeName, std::uint32_t k, bool folder);

// The output names handed out in one output folder during one saving run.
// Names are compared without regard to ASCII case, because the output
// folder may lie on a file system that ignores case (a FAT stick): two
// entries that differ only in case would overwrite each other there.
class OutputNameSet {
 public:
  // The name under which an entry called `safeName` is saved: the name
  // itself the first time, then "name (2)", "name (3)", ...
  std::string Claim(const std::string& safeName, bool folder);
  bool Contains(const std::string& name) const { return used_.count(Key(name)) != 0; }

 private:
  static std::string Key(const std::string& name);
  std::set<std::string> used_;
  // The next number to try per base name, so that many equal names cost
  // one look-up each instead of one per earlier copy.
  std::map<std::string, std::uint32_t> next_;
};

}  // namespace relictor
