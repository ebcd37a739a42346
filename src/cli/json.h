#pragma once
// A small JSON writer for the command line's --json output. Strings from
// disks may hold any bytes: invalid UTF-8 becomes U+FFFD and control
// characters are escaped, so the output always parses.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace relictor::cli {

std::string JsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, const std::string& value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, std::uint64_t value);
  JsonObject& Add(std::string_view key, std::int64_t value);
  JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
  JsonObject& Add(std::string_view key, unsigned value) { return Add(key, static_cast<std::uint64_t>(value)); }
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& AddNull(std::string_view key);
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// Prints a JSON array of objects, one per line, to standard output.
void PrintJsonArray(const std::vector<JsonObject>& items);

}  // namespace relictor::cli
