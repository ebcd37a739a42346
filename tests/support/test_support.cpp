#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace relictor::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "relictor-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

CommandResult Run(const std::string& commandLine, const std::string& input) {
  TempDir dir;
  std::string in = dir / "in", out = dir / "out", err = dir / "err";
  WriteFile(in, input);
  std::string full = "export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8; (" + commandLine + ") <" + Quote(in) + " >" +
                     Quote(out) + " 2>" + Quote(err);
  int status = std::system(full.c_str());
  CommandResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  auto o = ReadFile(out), e = ReadFile(err);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

std::string MustRun(const std::string& commandLine, const std::string& input) {
  CommandResult r = Run(commandLine, input);
  EXPECT_EQ(r.exitCode, 0) << "command failed: " << commandLine << "\nstdout: " << r.out << "\nstderr: " << r.err;
  return r.out;
}

namespace {
// The environment names the tools; without it (CTest hands tests only the
// first variable of their ENVIRONMENT when they are discovered before the
// test runs) the paths of this build stand in.
std::string FromEnv(const char* name, const char* built) {
  const char* v = std::getenv(name);
  if (v && *v) return v;
  if (built && *built) return built;
  throw std::runtime_error(std::string(name) + " is not set; run the tests through ctest");
}
}  // namespace

std::string CliPath() { return FromEnv("RELICTOR_CLI", RELICTOR_BUILT_CLI); }
std::string NtfsFixturePath() { return FromEnv("RELICTOR_NTFS_FIXTURE", RELICTOR_BUILT_NTFS_FIXTURE); }
std::string ExFatFixturePath() { return FromEnv("RELICTOR_EXFAT_FIXTURE", RELICTOR_BUILT_EXFAT_FIXTURE); }
std::string SourceDir() { return FromEnv("RELICTOR_SOURCE_DIR", RELICTOR_BUILT_SOURCE_DIR); }

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string Sha256(const std::string& path) {
  std::string out = MustRun("sha256sum " + Quote(path));
  return out.substr(0, 64);
}

void MakeSparseFile(const std::string& path, std::uint64_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.close();
  fs::resize_file(path, bytes);
}

}  // namespace relictor::test
