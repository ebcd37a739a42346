#include "cli/json.h"

#include <unistd.h>

#include <array>
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

void AppendUnsigned(std::string& out, std::uint64_t v) {
  char buf[24];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  out.append(p, static_cast<std::size_t>(end - p));
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  std::size_t i = 0;
  while (i < s.size()) {
    // Runs of plain bytes, the whole of most names, are copied at once.
    std::size_t run = i;
    while (run < s.size() && Plain(static_cast<unsigned char>(s[run]))) ++run;
    if (run > i) {
      out.append(s.data() + i, run - i);
      i = run;
      if (i == s.size()) break;
    }
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.append(escape, sizeof escape);
      ++i;
    } else {
      std::size_t n = Utf8Length(s, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(s.data() + i, n);
        i += n;
      }
    }
  }
  out += '"';
}

std::string JsonString(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

OutputBuffer::OutputBuffer(std::FILE* out) : out_(out) { text_.reserve(kBlock + (kBlock >> 2)); }

OutputBuffer::~OutputBuffer() { Flush(); }

bool OutputBuffer::Flush() {
  if (error_ != 0) {
    text_.clear();
    return false;
  }
  // Whatever the C library still holds goes first, then the buffer, with
  // write(2) directly: a Ctrl-C that arrives while the write waits for a
  // slow reader interrupts it, and it must go on rather than fail, so that
  // the listing can still be closed.
  if (std::fflush(out_) != 0) error_ = errno != 0 ? errno : EIO;
  const int fd = fileno(out_);
  std::size_t done = 0;
  while (error_ == 0 && done < text_.size()) {
    const ssize_t n = ::write(fd, text_.data() + done, text_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 && errno != 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  text_.clear();
  return error_ == 0;
}

JsonArrayWriter::JsonArrayWriter(OutputBuffer& out) : out_(out) { out_.Text() += '['; }

JsonArrayWriter::~JsonArrayWriter() {
  if (!closed_) Close();
}

void JsonArrayWriter::BeginObject() {
  objectStart_ = out_.Text().size();
  inObject_ = true;
  out_.Text().append(objects_ == 0 ? "\n {" : ",\n {");
  firstKey_ = true;
}

void JsonArrayWriter::Key(std::string_view key) {
  std::string& t = out_.Text();
  if (!firstKey_) t.append(", ");
  firstKey_ = false;
  AppendJsonString(t, key);
  t.append(": ");
}

JsonArrayWriter& JsonArrayWriter::Add(std::string_view key, std::string_view value) {
  Key(key);
  AppendJsonString(out_.Text(), value);
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(std::string_view key, std::uint64_t value) {
  Key(key);
  AppendUnsigned(out_.Text(), value);
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(std::string_view key, std::int64_t value) {
  Key(key);
  std::string& t = out_.Text();
  if (value < 0) {
    t += '-';
    AppendUnsigned(t, static_cast<std::uint64_t>(-(value + 1)) + 1);
  } else {
    AppendUnsigned(t, static_cast<std::uint64_t>(value));
  }
  return *this;
}

JsonArrayWriter& JsonArrayWriter::Add(std::string_view key, bool value) {
  Key(key);
  out_.Text().append(value ? "true" : "false");
  return *this;
}

JsonArrayWriter& JsonArrayWriter::AddNull(std::string_view key) {
  Key(key);
  out_.Text().append("null");
  return *this;
}

void JsonArrayWriter::EndObject() {
  out_.Text() += '}';
  inObject_ = false;
  ++objects_;
  out_.Written();
}

bool JsonArrayWriter::Close() {
  if (closed_) return !out_.Failed();
  closed_ = true;
  if (inObject_) {
    out_.Text().resize(objectStart_);
    inObject_ = false;
  }
  out_.Text().append(objects_ == 0 ? "]\n" : "\n]\n");
  return out_.Flush();
}

int FinishOutput(OutputBuffer& out, int rc) {
  if (out.Flush()) return rc;
  PrintError(std::string("cannot write the output: ") + std::strerror(out.Error()));
  return kExitError;
}

}  // namespace relictor::cli
