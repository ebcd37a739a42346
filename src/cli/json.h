#pragma once
// The command line's listings on standard output: one buffered writer, and
// on it the --json output, one array of objects written as each object is
// known. Strings from disks may hold any bytes: invalid UTF-8 becomes
// U+FFFD and control characters are escaped, so the output always parses.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace relictor::cli {

// Appends `text` as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
std::string JsonString(std::string_view text);

// Standard output through one buffer that is written out whenever it has
// grown past a block, so that a listing of any length takes a block of
// memory and the first lines appear at once. Text is appended, or written
// through a pointer into room asked for beforehand (Room, then Commit),
// so that a listing builds its lines in place without temporaries. A
// write that fails is remembered: nothing more is written and Failed()
// tells the command.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* out = stdout);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  void Append(std::string_view s) {
    std::memcpy(Room(s.size()), s.data(), s.size());
    size_ += s.size();
  }
  void Append(char c) {
    *Room(1) = c;
    ++size_;
  }
  // Where the next `n` bytes go; write at most that many, then Commit the
  // end of what was written.
  char* Room(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
  // What the buffer holds so far, and dropping what follows `size` of it.
  std::size_t Size() const { return size_; }
  void Truncate(std::size_t size) { size_ = size < size_ ? size : size_; }
  // Writes the buffer out once it holds a block.
  void Written() {
    if (size_ >= kBlock) Flush();
  }
  // Writes out what the buffer holds; false once any write failed.
  bool Flush();
  bool Failed() const { return error_ != 0; }
  // The error of the write that failed, as errno gave it.
  int Error() const { return error_; }

 private:
  static constexpr std::size_t kBlock = 64u << 10;
  void Grow(std::size_t n);
  std::FILE* out_;
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  int error_ = 0;
};

// The key of a member. Keys the program spells are checked when it is
// compiled (printable ASCII without quotes or backslashes) and written as
// they are; a key made at run time is escaped like any other string.
class JsonKey {
 public:
  consteval JsonKey(const char* spelled) : text_(spelled), plain_(true) {
    for (char c : text_) {
      if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') throw "a key the program spells is plain ASCII";
    }
  }
  explicit JsonKey(std::string_view text) : text_(text), plain_(false) {}
  std::string_view Text() const { return text_; }
  bool Plain() const { return plain_; }

 private:
  std::string_view text_;
  bool plain_;
};

// A JSON array of objects, one object per line, written through an output
// buffer as each object ends. The array is opened when the writer is made
// and closed by Close() or, should the command end some other way (an
// exception), by the destructor, so that what was written stays one valid
// array.
class JsonArrayWriter {
 public:
  explicit JsonArrayWriter(OutputBuffer& out);
  ~JsonArrayWriter();
  JsonArrayWriter(const JsonArrayWriter&) = delete;
  JsonArrayWriter& operator=(const JsonArrayWriter&) = delete;

  void BeginObject();
  JsonArrayWriter& Add(JsonKey key, std::string_view value);
  JsonArrayWriter& Add(JsonKey key, const char* value) { return Add(key, std::string_view(value)); }
  JsonArrayWriter& Add(JsonKey key, const std::string& value) { return Add(key, std::string_view(value)); }
  JsonArrayWriter& Add(JsonKey key, std::uint64_t value);
  JsonArrayWriter& Add(JsonKey key, std::int64_t value);
  JsonArrayWriter& Add(JsonKey key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
  JsonArrayWriter& Add(JsonKey key, unsigned value) { return Add(key, static_cast<std::uint64_t>(value)); }
  JsonArrayWriter& Add(JsonKey key, bool value);
  JsonArrayWriter& AddNull(JsonKey key);
  void EndObject();
  // Closes the array and writes everything out; false when a write failed.
  bool Close();

 private:
  // Room for the next key, its separators and `valueBytes`; writes the
  // key and returns where the value goes.
  char* Key(JsonKey key, std::size_t valueBytes);
  OutputBuffer& out_;
  std::size_t objects_ = 0;
  // Where the object being written starts in the buffer (which is written
  // out only between objects), so that closing drops an unfinished one.
  std::size_t objectStart_ = 0;
  bool inObject_ = false;
  bool firstKey_ = true;
  bool closed_ = false;
};

// Prints the failure of writing standard output, when there was one, and
// turns it into the exit code: `rc` when all was written, else kExitError.
int FinishOutput(OutputBuffer& out, int rc);

}  // namespace relictor::cli
