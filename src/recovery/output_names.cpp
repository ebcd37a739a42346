#include "recovery/output_names.h"

namespace relictor {
namespace {

// An extension longer than this is taken for part of the name, so that a
// long name with a dot near its start is not cut down to almost nothing.
constexpr std::size_t kMaxKeptExtension = 32;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where the extension starts ("." included), or the size of the name when
// it has none worth keeping. A leading dot (".profile") is no extension.
std::size_t ExtensionStart(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxKeptExtension) return name.size();
  return dot;
}

// The first `limit` bytes of `text` or fewer, ending on a whole UTF-8
// sequence.
std::string CutAt(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && IsContinuationByte(text[cut])) --cut;
  return text.substr(0, cut);
}

// Puts `insert` between the stem and the extension and cuts the stem so
// that the whole stays within the limit.
std::string Compose(const std::string& name, const std::string& insert, bool keepExtension) {
  std::size_t split = keepExtension ? ExtensionStart(name) : name.size();
  std::string stem = name.substr(0, split), extension = name.substr(split);
  std::size_t room = kMaxOutputNameBytes - insert.size() - extension.size();
  std::string out = CutAt(stem, room) + insert + extension;
  if (out.empty() || out == "." || out == "..") out = "_" + out.substr(out.empty() ? 0 : 1);
  return out;
}

}  // namespace

std::string SafeOutputName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool bad = c == '/' || c == '\\' || c < 0x20 || c == 0x7F;
    out += bad ? '_' : ch;
  }
  if (out.empty()) return "_";
  if (out == ".") return "_";
  if (out == "..") return "__";
  if (out.size() > kMaxOutputNameBytes) out = Compose(out, std::string(), true);
  return out;
}

std::string NumberedOutputName(const std::string& safeName, std::uint32_t k, bool folder) {
  return Compose(safeName, " (" + std::to_string(k) + ")", !folder);
}

std::string OutputNameSet::Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::string OutputNameSet::Claim(const std::string& safeName, bool folder) {
  const std::string base = Key(safeName);
  if (used_.insert(base).second) return safeName;
  std::uint32_t& k = next_[base];
  if (k < 2) k = 2;
  for (;; ++k) {
    std::string candidate = NumberedOutputName(safeName, k, folder);
    if (used_.insert(Key(candidate)).second) {
      ++k;
      return candidate;
    }
  }
}

}  // namespace relictor
