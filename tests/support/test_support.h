#pragma once
// Shared helpers of the test suites: temporary folders, running the real
// tools that make fixtures (mkfs.fat, mtools, mkntfs, mkfs.exfat, sfdisk,
// the NTFS and exFAT fixture tools, the CLI), reading files and hashing them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/random_bytes.h"

namespace relictor::test {

// A folder under the system's temporary folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a shell command line (with MTOOLS_SKIP_CHECK=1 and LANG=C.UTF-8 set)
// and collects its output. `input` is fed to its standard input.
CommandResult Run(const std::string& commandLine, const std::string& input = {});
// Runs a command that must succeed; a failure fails the current test with
// the command's output.
std::string MustRun(const std::string& commandLine, const std::string& input = {});

// Quotes a string for the shell.
std::string Quote(const std::string& text);

// The built tools, from the environment CTest gives the tests.
std::string CliPath();
std::string NtfsFixturePath();
std::string ExFatFixturePath();
std::string SourceDir();

std::vector<std::uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
std::string Sha256(const std::string& path);

// Makes an empty image file of `bytes` bytes (sparse).
void MakeSparseFile(const std::string& path, std::uint64_t bytes);

}  // namespace relictor::test
