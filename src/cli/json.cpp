#include "cli/json.h"

#include <cstdio>

namespace relictor::cli {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is invalid.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) n = 2, cp = b & 0x1F;
  else if ((b & 0xF0) == 0xE0) n = 3, cp = b & 0x0F;
  else if ((b & 0xF8) == 0xF0) n = 4, cp = b & 0x07;
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
    } else {
      std::size_t n = Utf8Length(s, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
    }
  }
  return out + "\"";
}

void JsonObject::Key(std::string_view key) {
  if (!body_.empty()) body_ += ", ";
  body_ += JsonString(key) + ": ";
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::uint64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

void PrintJsonArray(const std::vector<JsonObject>& items) {
  std::fputs("[", stdout);
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::fputs(i ? ",\n " : "\n ", stdout);
    std::fputs(items[i].Text().c_str(), stdout);
  }
  std::fputs(items.empty() ? "]\n" : "\n]\n", stdout);
}

}  // namespace relictor::cli
