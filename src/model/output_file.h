#pragma once
// Where a file entry's SaveData writes: an output file on disk, standard
// output, or memory (the hex view).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace relictor {

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

}  // namespace relictor
