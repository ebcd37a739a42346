#include "cli/json.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cstring>

#include "cli/cli.h"

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

// Bytes that go into a JSON string as they are: printable ASCII but the
// quote and the backslash.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();
bool Plain(unsigned char c) { return kPlain[c]; }

// The most bytes a text of `n` bytes takes as a JSON string, quotes
// included: a control character takes six ("\u001f"), an invalid byte
// three (U+FFFD), anything else at most two.
std::size_t JsonStringBound(std::size_t n) { return 6 * n + 2; }

// Whether all eight bytes of a word are plain: none below 0x20, none
// above 0x7E, no quote and no backslash. Each test sets a byte's top bit
// where the byte fails it (the usual tricks for finding a zero byte and a
// byte below or above a bound in a word; exact for "any").
bool AllPlain(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kTops = 0x8080808080808080;
  auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kTops; };
  const std::uint64_t below = (w - kOnes * 0x20) & ~w & kTops;
  const std::uint64_t above = ((w + kOnes * (0x7F - 0x7E)) | w) & kTops;
  return (below | above | hasZero(w ^ (kOnes * '"')) | hasZero(w ^ (kOnes * '\\'))) == 0;
}

// Writes `s` as a JSON string at `p`, which has room for
// JsonStringBound(s.size()) bytes; returns the end of what it wrote.
char* PutJsonString(char* p, std::string_view s) {
  *p++ = '"';
  const std::size_t size = s.size();
  std::size_t i = 0;
  while (i < size) {
    // Runs of plain bytes, the whole of most names, are copied as they
    // are, eight at a time while eight remain.
    for (std::uint64_t w; size - i >= 8; i += 8, p += 8) {
      std::memcpy(&w, s.data() + i, 8);
      if (!AllPlain(w)) break;
      std::memcpy(p, &w, 8);
    }
    while (i < size && Plain(static_cast<unsigned char>(s[i]))) *p++ = s[i++];
    if (i == size) break;
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      *p++ = '\\';
      *p++ = static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      std::memcpy(p, escape, sizeof escape);
      p += sizeof escape;
      ++i;
    } else {
      std::size_t n = Utf8Length(s, i);
      if (n == 0) {
        std::memcpy(p, "\xEF\xBF\xBD", 3);
        p += 3;
        ++i;
      } else {
        std::memcpy(p, s.data() + i, n);
        p += n;
        i += n;
      }
    }
  }
  *p++ = '"';
  return p;
}

// The longest text of a 64-bit number, its sign included.
constexpr std::size_t kNumberBound = 21;

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  const std::size_t at = out.size();
  out.resize(at + JsonStringBound(s.size()));
  char* end = PutJsonString(out.data() + at, s);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string JsonString(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

OutputBuffer::OutputBuffer(std::FILE* out) : out_(out) {
  capacity_ = kBlock + (kBlock >> 2);
  data_ = std::make_unique<char[]>(capacity_);
}

OutputBuffer::~OutputBuffer() { Flush(); }

void OutputBuffer::Grow(std::size_t n) {
  // A text longer than the block (a name of any length) gets the room it
  // needs; the buffer is written out as soon as it holds a block anyway.
  const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
  auto data = std::make_unique<char[]>(capacity);
  std::memcpy(data.get(), data_.get(), size_);
  data_ = std::move(data);
  capacity_ = capacity;
}

bool OutputBuffer::Flush() {
  if (error_ != 0) {
    size_ = 0;
    return false;
  }
  // Whatever the C library still holds goes first, then the buffer, with
  // write(2) directly: a Ctrl-C that arrives while the write waits for a
  // slow reader interrupts it, and it must go on rather than fail, so that
  // the listing can still be closed.
  if (std::fflush(out_) != 0) error_ = errno != 0 ? errno : EIO;
  const int fd = fileno(out_);
  std::size_t done = 0;
  while (error_ == 0 && done < size_) {
    const ssize_t n = ::write(fd, data_.get() + done, size_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 && errno != 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  size_ = 0;
  return error_ == 0;
}

JsonArrayWriter::JsonArrayWriter(OutputBuffer& out) : out_(out) { out_.Append('['); }

JsonArrayWriter::~JsonArrayWriter() {
  if (!closed_) Close();
}

void JsonArrayWriter::BeginObject() {
  objectStart_ = out_.Size();
  inObject_ = true;
  out_.Append(objects_ == 0 ? std::string_view("\n {") : std::string_view(",\n {"));
  firstKey_ = true;
}

char* JsonArrayWriter::Key(JsonKey key, std::size_t valueBytes) {
  const std::string_view text = key.Text();
  char* p = out_.Room(2 + JsonStringBound(text.size()) + 2 + valueBytes);
  if (!firstKey_) {
    *p++ = ',';
    *p++ = ' ';
  }
  firstKey_ = false;
  if (key.Plain()) {
    *p++ = '"';
    std::memcpy(p, text.data(), text.size());
    p += text.size();
    *p++ = '"';
  } else {
    p = PutJsonString(p, text);
  }
  *p++ = ':';
  *p++ = ' ';
  return p;
}

JsonArrayWriter& JsonArrayWriter::Add(JsonKey key, std::string_view value) {
  char* p = Key(key, JsonStringBound(value.size()));
  out_.Commit(PutJsonString(p, value));
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(JsonKey key, std::uint64_t value) {
  char* p = Key(key, kNumberBound);
  out_.Commit(std::to_chars(p, p + kNumberBound, value).ptr);
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(JsonKey key, std::int64_t value) {
  char* p = Key(key, kNumberBound);
  out_.Commit(std::to_chars(p, p + kNumberBound, value).ptr);
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(JsonKey key, bool value) {
  const std::string_view text = value ? "true" : "false";
  char* p = Key(key, text.size());
  std::memcpy(p, text.data(), text.size());
  out_.Commit(p + text.size());
  return *this;
}

JsonArrayWriter& JsonArrayWriter::AddNull(JsonKey key) {
  char* p = Key(key, 4);
  std::memcpy(p, "null", 4);
  out_.Commit(p + 4);
  return *this;
}

void JsonArrayWriter::EndObject() {
  out_.Append('}');
  inObject_ = false;
  ++objects_;
  out_.Written();
}

bool JsonArrayWriter::Close() {
  if (closed_) return !out_.Failed();
  closed_ = true;
  if (inObject_) {
    out_.Truncate(objectStart_);
    inObject_ = false;
  }
  out_.Append(objects_ == 0 ? std::string_view("]\n") : std::string_view("\n]\n"));
  return out_.Flush();
}

int FinishOutput(OutputBuffer& out, int rc) {
  if (out.Flush()) return rc;
  PrintError(std::string("cannot write the output: ") + std::strerror(out.Error()));
  return kExitError;
}

}  // namespace relictor::cli
