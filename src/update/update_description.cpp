#include "update/update_description.h"

#include <charconv>
#include <cmath>

namespace relictor::update {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseSha256(std::string_view hex, std::array<std::uint8_t, 32>& out) {
  if (hex.size() != 64) return false;
  for (std::size_t i = 0; i < 32; ++i) {
    int hi = HexDigit(hex[2 * i]);
    int lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return true;
}

// A server path is requested from the update server as it stands, so it
// must be a plain absolute path: printable, without blanks, and not a
// whole address that would send the request to another host.
bool IsSafeServerPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  for (char c : path) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '\\' || c == '?' || c == '#') return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> IniValue(std::span<const std::uint8_t> text, std::string_view section,
                                    std::string_view key) {
  std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find_first_of(std::string_view("\r\n\0", 3), pos);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = Trim(all.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      inSection = close != std::string_view::npos && EqualNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualNoCase(Trim(line.substr(0, eq)), key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<float> VersionNumber(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  float value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || ptr == text.data() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool IsNewerVersion(std::string_view remote, std::string_view local) {
  std::optional<float> r = VersionNumber(remote);
  std::optional<float> l = VersionNumber(local);
  return r && l && *r > *l;
}

bool IsSafeReleaseFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') return false;
  }
  if (name.size() >= 4 && EqualNoCase(name.substr(name.size() - 4), ".upg")) return false;
  return true;
}

bool ParseUpdateDescription(std::span<const std::uint8_t> text, UpdateDescription& result, std::string& error) {
  // Filled in here and handed over only when the whole text is sound.
  result = UpdateDescription{};
  UpdateDescription out;
  if (text.size() > kMaxDescriptionSize) {
    error = "The update description is larger than " + std::to_string(kMaxDescriptionSize) + " bytes.";
    return false;
  }
  constexpr std::string_view kSection = "Relictor";
  std::optional<std::string> version = IniValue(text, kSection, "VERSION");
  out.version = version ? *version : std::string(kDefaultVersion);
  if (out.version.size() >= kVersionBufferSize) out.version.resize(kVersionBufferSize - 1);

  for (std::size_t n = 0;; ++n) {
    std::optional<std::string> path = IniValue(text, kSection, "FILE" + std::to_string(n));
    if (!path || path->empty()) break;
    const std::string label = "FILE" + std::to_string(n);
    if (n >= kMaxReleaseFiles) {
      error = "The update description lists more than " + std::to_string(kMaxReleaseFiles) + " files.";
      return false;
    }
    // A longer path would have been cut short by the original reader and
    // named another file; it is refused instead.
    if (path->size() >= kFileBufferSize || !IsSafeServerPath(*path)) {
      error = label + " is not a plain path on the update server.";
      return false;
    }
    ReleaseFile file;
    file.path = *path;
    file.name = file.path.substr(file.path.rfind('/') + 1);
    if (!IsSafeReleaseFileName(file.name)) {
      error = label + " names a file that cannot be written into the program's folder.";
      return false;
    }
    std::optional<std::string> sha = IniValue(text, kSection, "SHA256" + std::to_string(n));
    if (!sha || !ParseSha256(*sha, file.sha256)) {
      error = label + " has no valid SHA256" + std::to_string(n) + ".";
      return false;
    }
    for (const ReleaseFile& other : out.files) {
      if (other.name == file.name) {
        error = label + " names the same file as an earlier one.";
        return false;
      }
    }
    out.files.push_back(std::move(file));
  }
  result = std::move(out);
  return true;
}

}  // namespace relictor::update
