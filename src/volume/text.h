#pragma once
// Text from disks: UTF-16 names (FAT long names, NTFS names, GPT partition
// names) turned into UTF-8. A surrogate half without its partner becomes
// U+FFFD, so the result is always valid UTF-8.

#include <cstdint>
#include <string>
#include <string_view>

#include "volume/endian.h"

namespace relictor {

void AppendUtf8(std::string& out, std::uint32_t codePoint);

// UTF-16 code units to UTF-8; with `stopAtZero` the text ends at the first
// 0 unit.
std::string Utf16ToUtf8(std::u16string_view units, bool stopAtZero = true);
// The same over little-endian bytes as they lie on disk (an odd last byte
// is ignored).
std::string Utf16LeToUtf8(ByteSpan bytes, bool stopAtZero);

// `text` with a to z made upper case and every other byte kept, as file
// type names are compared.
std::string AsciiUpper(std::string text);

}  // namespace relictor
