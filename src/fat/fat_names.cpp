#include "fat/fat_names.h"

#include <ctime>

namespace relictor {
namespace {

// Code page 437, the characters of the bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

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

}  // namespace

std::string ShortNameBytes(ByteSpan entry) {
  std::string name, ext;
  for (std::size_t i = 0; i < 8; ++i) {
    std::uint8_t b = le8(entry, i);
    if (b != 0x20) name += static_cast<char>(b);
  }
  for (std::size_t i = 8; i < 11; ++i) {
    std::uint8_t b = le8(entry, i);
    if (b != 0x20) ext += static_cast<char>(b);
  }
  if (!ext.empty()) name += "." + ext;
  return name;
}

std::string RepairDeletedShortName(const std::string& raw, char replacement) {
  if (raw.empty()) return raw;
  if (raw.size() == 1) return std::string(1, replacement);
  std::size_t lost = static_cast<std::uint8_t>(raw[1]) >= 0x80 ? 2 : 1;
  return std::string(1, replacement) + raw.substr(lost);
}

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    auto b = static_cast<std::uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? b : kCp437High[b - 0x80]);
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF) {
      std::uint32_t next = i + 1 < units.size() ? units[i + 1] : 0;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
        ++i;
      } else {
        AppendUtf8(out, 0xFFFD);
      }
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

EntryTime DosDateTimeToTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0) return kNoTime;
  std::tm tm{};
  tm.tm_mday = date & 0x1F;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_year = 80 + (date >> 9);
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_hour = time >> 11;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return kNoTime;
  return static_cast<EntryTime>(t);
}

}  // namespace relictor
