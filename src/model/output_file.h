#pragma once
// Where a file entry's SaveData writes: an output file on disk, standard
// output, or memory (the hex view).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace relictor {

class ProgressSink;

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Appends bytes; false when the write failed.
  virtual bool Write(const void* data, std::size_t length) = 0;
  // Cuts or extends the output to `length` bytes where the output allows it.
  virtual bool SetLength(std::uint64_t length) = 0;

  std::uint64_t BytesWritten() const { return written_; }

  // Readers note here what the user should hear about a file that was
  // saved, for example that part of it could not be read and the output is
  // short, or that it is encrypted and saved as it lies on disk.
  void NoteProblem(std::string text) { problems_.push_back(std::move(text)); }
  const std::vector<std::string>& Problems() const { return problems_; }

 protected:
  void Count(std::size_t n) { written_ += n; }

 private:
  std::uint64_t written_ = 0;
  std::vector<std::string> problems_;
};

// Writes to an open POSIX file descriptor (a regular file, or a pipe for
// standard output). The descriptor stays the caller's.
class FdOutputFile final : public OutputFile {
 public:
  explicit FdOutputFile(int fd) : fd_(fd) {}
  bool Write(const void* data, std::size_t length) override;
  bool SetLength(std::uint64_t length) override;

 private:
  int fd_;
};

// Collects the bytes in memory, up to a limit.
class MemoryOutputFile final : public OutputFile {
 public:
  explicit MemoryOutputFile(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  bool Write(const void* data, std::size_t length) override;
  bool SetLength(std::uint64_t length) override;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::size_t limit_;
  std::vector<std::uint8_t> bytes_;
};

// Why a reader delivered less of a file's data than the file's length.
enum class DataStop { None, ReadFailed, ChainEnded, PastVolumeEnd, NoStartCluster };

// Fills up to `capacity` bytes of `buffer` with the file's next bytes and
// sets `delivered`; false when nothing more can come.
using ReadFilePiece = std::function<bool(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered)>;

// The copying part of a reader's SaveData: pieces of up to `bufferSize`
// bytes go to `out` as `read` gives them, until `total` bytes or the end of
// what the reader can give, with the file bar of `progress` following.
// False when the output could not be written (noted on it) or the user
// stopped; `written` is what reached the output.
bool CopyFileData(OutputFile& out, ProgressSink* progress, std::uint64_t total, std::uint32_t bufferSize,
                  const ReadFilePiece& read, std::uint64_t& written);

// Notes on `out` why a file came out short: `written` of `total` bytes,
// ended for `stop` (at `failedSector` when a read failed; `firstCluster`
// is the file's, named when it is no data cluster).
void NoteShortData(OutputFile& out, std::uint64_t written, std::uint64_t total, DataStop stop,
                   std::uint64_t failedSector, std::uint64_t firstCluster);

}  // namespace relictor
