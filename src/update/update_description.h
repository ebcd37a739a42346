#pragma once
// The update description file: a small INI text whose section "Relictor"
// names the newest version ("VERSION") and the release files ("FILE0",
// "FILE1", ...), each with the SHA-256 of its bytes ("SHA2560", ...).
//
// This part knows nothing of Qt or the network, so that the parser can be
// fed any bytes on its own (tests and the fuzz target do).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace relictor::update {

// The largest description accepted. A real one is a few hundred bytes; the
// bound keeps a hostile or broken server from filling memory or the disk.
inline constexpr std::size_t kMaxDescriptionSize = 64 * 1024;
// The longest list of release files accepted.
inline constexpr std::size_t kMaxReleaseFiles = 256;
// The value buffers of the original reader: "VERSION" is read into 64
// characters and "FILE%d" into 260, both including the terminating zero.
inline constexpr std::size_t kVersionBufferSize = 64;
inline constexpr std::size_t kFileBufferSize = 260;
// The version assumed when the description has no "VERSION".
inline constexpr std::string_view kDefaultVersion = "1.000";

// The value of `key` in `section` of an INI text, looked up the way the
// platform's profile functions do it: section and key names without regard
// to case, blanks around names and values dropped, one pair of enclosing
// quotes removed, the first occurrence winning. Lines end at CR, LF or NUL.
// Returns nothing when the key is absent (an empty value is present).
std::optional<std::string> IniValue(std::span<const std::uint8_t> text, std::string_view section,
                                    std::string_view key);

// A version text read as the leading decimal number of the text, as a
// 32-bit floating-point value (so "1.1" and "1.100" are equal). A text that
// does not begin with a finite number (after blanks) has no value.
std::optional<float> VersionNumber(std::string_view text);

// True when `remote` is a greater version than `local`. A version without
// a numeric value is never newer, and nothing is newer than a local version
// without one.
bool IsNewerVersion(std::string_view remote, std::string_view local);

// One file of a release.
struct ReleaseFile {
  std::string path;  // object path on the update server, begins with "/"
  std::string name;  // the part of `path` after its last "/"
  std::array<std::uint8_t, 32> sha256{};
};

// True when `name` may be written into the program's folder: not empty,
// not "." or "..", no separator ("/" or "\"), no control character, and
// not ending in the ".upg" that marks a file being downloaded.
bool IsSafeReleaseFileName(std::string_view name);

struct UpdateDescription {
  std::string version;  // "VERSION", or kDefaultVersion when missing
  std::vector<ReleaseFile> files;
};

// Parses a description. Fails, with a sentence in `error`, on a text that
// is too large, a FILE%d whose path or name is unsafe, a FILE%d without a
// well-formed SHA256%d, two files of the same name, or too many files. The
// file list ends at the first missing or empty FILE%d.
bool ParseUpdateDescription(std::span<const std::uint8_t> text, UpdateDescription& out, std::string& error);

}  // namespace relictor::update
