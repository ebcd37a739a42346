#pragma once
// The command line's listings on standard output: one buffered writer, and
// on it the --json output, one array of objects written as each object is
// known. Strings from disks may hold any bytes: invalid UTF-8 becomes
// U+FFFD and control characters are escaped, so the output always parses.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace relictor::cli {

// Appends `text` as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
std::string JsonString(std::string_view text);

// Standard output through one buffer that is written out whenever it has
// grown past a block, so that a listing of any length takes a block of
// memory and the first lines appear at once. A write that fails is
// remembered: nothing more is written and Failed() tells the command.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* out = stdout);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // The text being built; append to it, then call Written().
  std::string& Text() { return text_; }
  void Append(std::string_view s) {
    text_.append(s);
    Written();
  }
  // Writes the buffer out once it holds a block.
  void Written() {
    if (text_.size() >= kBlock) Flush();
  }
  // Writes out what the buffer holds; false once any write failed.
  bool Flush();
  bool Failed() const { return error_ != 0; }
  // The error of the write that failed, as errno gave it.
  int Error() const { return error_; }

 private:
  static constexpr std::size_t kBlock = 64u << 10;
  std::FILE* out_;
  std::string text_;
  int error_ = 0;
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
  JsonArrayWriter& Add(std::string_view key, std::string_view value);
  JsonArrayWriter& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonArrayWriter& Add(std::string_view key, const std::string& value) { return Add(key, std::string_view(value)); }
  JsonArrayWriter& Add(std::string_view key, std::uint64_t value);
  JsonArrayWriter& Add(std::string_view key, std::int64_t value);
  JsonArrayWriter& Add(std::string_view key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
  JsonArrayWriter& Add(std::string_view key, unsigned value) { return Add(key, static_cast<std::uint64_t>(value)); }
  JsonArrayWriter& Add(std::string_view key, bool value);
  JsonArrayWriter& AddNull(std::string_view key);
  void EndObject();
  // Closes the array and writes everything out; false when a write failed.
  bool Close();

 private:
  void Key(std::string_view key);
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
