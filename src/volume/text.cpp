#include "volume/text.h"

namespace relictor {
namespace {

template <typename UnitAt>
std::string Decode(std::size_t count, UnitAt unitAt, bool stopAtZero) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t u = unitAt(i);
    if (u == 0 && stopAtZero) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      std::uint32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::u16string_view units, bool stopAtZero) {
  return Decode(units.size(), [&](std::size_t i) { return static_cast<std::uint32_t>(units[i]); }, stopAtZero);
}

std::string Utf16LeToUtf8(ByteSpan bytes, bool stopAtZero) {
  return Decode(bytes.size() / 2, [&](std::size_t i) { return static_cast<std::uint32_t>(le16(bytes, 2 * i)); },
                stopAtZero);
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace relictor
